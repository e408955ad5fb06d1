#pragma once

// The word rules as the tally applies them. Words split at spaces and counted one at a time go
// through the plain counter, and the rest of the rules (punctuation, minimum length, stop words)
// is applied once per distinct word afterwards; Unicode words are found by the rules' finder in
// each slice; phrases are counted as the numbers of their words, a key short enough to live in a
// tally entry. Stems and lemmas group the distinct words (or phrases) after counting.

#include "engine/countedrows.h"
#include "engine/hashtally.h"
#include "engine/wordrules.h"

#include <mutex>
#include <string_view>

namespace corvalen::counting {

// The numbers of the words that phrases are made of, shared by every lane of a count.
class WordIds
{
public:
    WordIds();
    // The number of the n units at w (kSlack readable units after them); from any thread.
    quint32 idOf(const char16_t *w, size_t n);
    // After counting.
    std::u16string_view word(quint32 id) const
    {
        return {m_text.data() + m_starts[id], m_starts[id + 1] - m_starts[id]};
    }
    size_t size() const { return m_starts.size() - 1; }
    const std::vector<char16_t> &text() const { return m_text; }
    const std::vector<size_t> &starts() const { return m_starts; }
    void clear();

private:
    std::mutex m_mutex;
    HashTally m_index; // word -> number + 1
    std::vector<char16_t> m_text;
    std::vector<size_t> m_starts;
};

class TallyRules
{
public:
    enum class Kind { Plain, Words, Phrases };

    explicit TallyRules(const WordFinder &finder);

    Kind kind() const { return m_kind; }
    const WordFinder &finder() const { return *m_prototype; }
    int phraseLength() const { return m_prototype->rules().phraseLength; }

    // Whether a slice may end before text[at] (0 < at <= size) with no word or phrase across
    // the cut; at == size means the unit after is not known yet. Not asked for Kind::Plain.
    bool canCut(const char16_t *text, size_t at, size_t size) const
    {
        const char16_t before = text[at - 1];
        if (before == 13)
            return true;
        // Before printable ASCII, a space always ends a Unicode word boundary's piece: nothing
        // joins a space to what follows but another space or a combining mark.
        return m_kind == Kind::Words && before == 32 && at < size && text[at] > 32 && text[at] < 127;
    }

    // What one lane needs of its own: a finder, and the numbers of the words it met.
    struct Lane
    {
        std::unique_ptr<WordFinder> finder;
        HashTally ids; // word -> number + 1: asks the shared numbers once per word
    };
    // Counts the words (or phrases) of text, which begins and ends where a slice may be cut;
    // with files, each also in the file it ends in (the tally has file marks on).
    void count(Lane &lane, HashTally &tally, WordBuffer &buffer, QStringView text,
               const SliceFiles *files = nullptr);
    // Whether a tally with the range must keep each word's files themselves: rows made of
    // several counted words occur in the files of any of them.
    bool needsFileLists() const
    {
        return m_kind != Kind::Phrases
                && (finder().groupsWords() || (m_kind == Kind::Plain && finder().changesPlainWords()));
    }

    // After counting, the plain words as the rules make them (Kind::Plain, when they change them).
    void applyForms(HashTally &tally) const;
    // The distinct words of a merged tally (Kind::Plain and Kind::Words), in the order of its
    // entries.
    std::vector<WordCount> rows(const HashTally &tally) const;
    // The phrases of a merged tally (Kind::Phrases), sorted and counted; empties the tally. With
    // the range, lastFile is the highest file number, and filePairs keeps the files of each.
    std::shared_ptr<PhraseList> countPhrases(HashTally &tally, quint32 lastFile = 0,
                                             bool filePairs = false) const;
    // The rows grouped by stem or lemma: one per group, its count the sum of its forms', showing
    // the lemma, or the most frequent form of a stem (ties by UTF-16 code units). With filePairs (form << 32 | file), a group
    // occurs in the files of any of its forms.
    std::vector<WordCount> groups(std::vector<WordCount> &&forms,
                                  TableVector<quint64> *filePairs = nullptr) const;

    void clear() { m_ids.clear(); }

private:
    Kind m_kind;
    std::unique_ptr<WordFinder> m_prototype; // only cloned once shared: safe from any thread
    WordIds m_ids;
};

// Sorts and counts the phrases kept in tally (emptying it).
std::shared_ptr<PhraseList> countPhrases(HashTally &tally, const WordIds &ids, int length,
                                         quint32 lastFile = 0, bool filePairs = false);
// The phrases of list ordered by count, ties in the order of their text (their order in it).
std::vector<quint32> phraseOrder(const PhraseList &list);
// Puts the phrases of list in the order of phraseOrder() (the file pairs are left as they are).
void orderByCount(PhraseList &list);

} // namespace corvalen::counting
