#pragma once

#include "engine/largememory.h"
#include "engine/wordrules.h"
#include "engine/wordtally.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <algorithm>
#include <array>
#include <memory>
#include <string_view>
#include <vector>

namespace corvalen {

__extension__ typedef unsigned __int128 PhraseKey128;

/// Phrases counted (a phrase length above 1): each distinct phrase as the ranks of its words
/// packed into a number, with its count. Millions of phrases take a few bytes each this way, not
/// a string each; a phrase's text is spelled out when it is read.
struct PhraseList
{
    PhraseList() = default;
    PhraseList(const PhraseList &) = delete; // the words' views point into text
    PhraseList &operator=(const PhraseList &) = delete;

    static constexpr int kMaxLength = WordRules::kMaxPhraseLength;
    int length = 0; // words in a phrase
    int bits = 0;   // of each word's rank in a key
    bool wide = false; // the keys are wideKeys (128 bits), not keys
    TableVector<char16_t> text; // the words side by side
    // By rank: the words in the order of their text (a phrase's last word), and in the order of
    // their text followed by a space (the others).
    // Looked up at random for every phrase read: in large pages, as the tally's tables are.
    TableVector<std::u16string_view> byText;
    TableVector<std::u16string_view> bySpace;
    // Their lengths (kLongWord: see the view), small enough to stay in the cache.
    TableVector<quint16> byTextLength;
    TableVector<quint16> bySpaceLength;
    static constexpr quint16 kLongWord = 0xffff;
    // The text has this many units after its last word: words are copied in blocks.
    static constexpr size_t kSlack = 16;
    // The words again in UTF-8, for the text files, which then need not spell a phrase in UTF-16
    // and encode it: by rank, each word's UTF-8 in its record when it is short (as nearly all
    // are: one fetch from memory a word), else where it begins in text8 (kSlack bytes follow the
    // last); its bytes and UTF-16 units beside. Empty when a word is too long for them (the
    // words are then spelled in UTF-16 only). The words followed by a space take the same
    // records when they order alike (spaceOrdersAlike), as they nearly always do.
    struct Utf8Word
    {
        static constexpr quint16 kInline = 12;
        char text[kInline]; // the bytes, or (bytes > kInline) a quint32: where they are in text8
        quint16 bytes;
        quint16 units;
    };
    static_assert(sizeof(Utf8Word) == 16);
    TableVector<char> text8;
    TableVector<Utf8Word> byText8;
    TableVector<Utf8Word> bySpace8;
    bool spaceOrdersAlike = false;
    TableVector<quint64> keys;
    TableVector<PhraseKey128> wideKeys;
    TableVector<quint64> counts; // (the keys' type: the table of one can become the other's)
    // What the layouts' widths need, measured as the phrases were counted: how many phrases'
    // texts are of each length in UTF-16 units (kLongestMeasured and more together), and the
    // largest count and number of files. Measuring millions of phrases again costs a pass over
    // them all.
    static constexpr size_t kLongestMeasured = 255;
    struct Measures
    {
        std::array<qint64, kLongestMeasured + 1> lengths{};
        quint64 largestCount = 0;
        quint32 largestFiles = 0;

        void add(const Measures &other)
        {
            for (size_t k = 0; k <= kLongestMeasured; ++k)
                lengths[k] += other.lengths[k];
            largestCount = std::max(largestCount, other.largestCount);
            largestFiles = std::max(largestFiles, other.largestFiles);
        }
    };
    Measures measures;
    bool measured = false;
    TableVector<quint32> files;       // with the range: the number of files each occurs in
    TableVector<quint64> filePairs;   // (phrase << 32 | file), when asked for
    qint64 total = 0;

    size_t size() const { return counts.size(); }
    /// The ranks of phrase i's words, in order: length of them.
    void ranks(size_t i, size_t *out) const
    {
        const PhraseKey128 packed = wide ? wideKeys[i] : keys[i];
        const PhraseKey128 mask = (PhraseKey128(1) << bits) - 1;
        for (int w = 0; w < length; ++w)
            out[w] = size_t((packed >> (bits * (length - 1 - w))) & mask);
    }
    /// The words of phrase i, in order: length of them.
    void words(size_t i, std::u16string_view *out) const
    {
        size_t r[kMaxLength] = {};
        ranks(i, r);
        for (int w = 0; w < length; ++w)
            out[w] = w + 1 < length ? bySpace[r[w]] : byText[r[w]];
    }
    /// Fetches into the cache what reading phrase i needs: a reader going through the phrases in
    /// order asks a few phrases ahead, for where its words are (further) and the words (nearer).
    /// Always inlined: a function of nothing but prefetches is taken for one without effects, and
    /// its calls are dropped.
    Q_ALWAYS_INLINE void prefetchWords(size_t i) const
    {
        size_t r[kMaxLength] = {};
        ranks(i, r);
        __builtin_prefetch(&byText[r[length - 1]]);
        for (int w = 0; w + 1 < length; ++w)
            __builtin_prefetch(&bySpace[r[w]]);
    }
    Q_ALWAYS_INLINE void prefetchText(size_t i) const
    {
        std::u16string_view w[kMaxLength];
        words(i, w);
        for (int k = 0; k < length; ++k)
            __builtin_prefetch(w[k].data());
    }
    const Utf8Word &utf8Word(size_t rank, bool beforeSpace) const
    {
        return beforeSpace && !spaceOrdersAlike ? bySpace8[rank] : byText8[rank];
    }
    /// Fetches into the cache what spelling phrase i in UTF-8 needs (as prefetchWords() does for
    /// UTF-16): the words' records, which hold all but long words.
    Q_ALWAYS_INLINE void prefetchUtf8Words(size_t i) const
    {
        size_t r[kMaxLength] = {};
        ranks(i, r);
        for (int w = 0; w < length; ++w)
            __builtin_prefetch(&utf8Word(r[w], w + 1 < length));
    }
    bool hasUtf8() const { return !byText8.empty(); }
    /// The length of phrase i's text in UTF-16 code units: its words joined by single spaces.
    qsizetype textLength(size_t i) const;
    /// Phrase i's text in UTF-8, written over out (which keeps its room); its length in UTF-16
    /// units in units. Only with hasUtf8().
    QByteArrayView spellUtf8(size_t i, QByteArray &out, qsizetype &units) const;
    /// Phrase i's text, written over out (which keeps its capacity).
    void spell(size_t i, QString &out) const;
};

/// One block of counted rows in their order, as a run hands it over: rows held one by one, or
/// the rows of a phrase count kept as a PhraseList and spelled out one at a time as they are
/// read.
class CountedRows
{
public:
    CountedRows() = default;
    explicit CountedRows(std::vector<WordCount> rows) : m_rows(std::move(rows)) { }
    /// The phrases of list in the order given (their indices in it).
    CountedRows(std::shared_ptr<const PhraseList> list, std::vector<quint32> order)
        : m_phrases(std::move(list)), m_order(std::move(order)), m_size(m_order.size())
    {
    }
    /// The phrases of list in its own order.
    explicit CountedRows(std::shared_ptr<const PhraseList> list)
        : m_phrases(std::move(list)), m_inListOrder(true), m_size(m_phrases->size())
    {
    }

    size_t size() const { return m_phrases ? m_size : m_rows.size(); }
    bool empty() const { return size() == 0; }
    qint64 count(size_t row) const { return m_phrases ? qint64(m_phrases->counts[phrase(row)]) : m_rows[row].count; }
    /// The number of files of a row's word; 0 without the range.
    qint64 files(size_t row) const
    {
        if (!m_phrases)
            return m_rows[row].files;
        return m_phrases->files.empty() ? 0 : m_phrases->files[phrase(row)];
    }
    /// The forms a row stands for (words grouped by their stems), or null.
    const std::shared_ptr<const std::vector<WordCount>> &forms(size_t row) const;
    /// A row's word: held, or spelled into scratch. Rows are read fastest in order.
    QStringView word(size_t row, QString &scratch) const
    {
        if (!m_phrases)
            return m_rows[row].word;
        prefetch(row);
        m_phrases->spell(phrase(row), scratch);
        return scratch;
    }
    /// Whether word() has a UTF-8 twin, wordUtf8(), which the text files take rather than encode.
    bool spellsUtf8() const { return m_phrases && m_phrases->hasUtf8(); }
    /// A row's word in UTF-8, spelled into scratch, and its length in UTF-16 code units; only
    /// with spellsUtf8(). Rows are read fastest in order.
    QByteArrayView wordUtf8(size_t row, QByteArray &scratch, qsizetype &units) const
    {
        constexpr size_t kAhead = 12;
        if (row + kAhead < m_size)
            m_phrases->prefetchUtf8Words(phrase(row + kAhead));
        return m_phrases->spellUtf8(phrase(row), scratch, units);
    }
    /// What the layouts' widths need of all the rows, when they are a phrase list's measured
    /// phrases, all of them (any order); else null.
    const PhraseList::Measures *measures() const
    {
        // Rows are never repeated: as many as the list's are all of them.
        const bool all = m_phrases && m_phrases->measured && m_size == m_phrases->size();
        return all ? &m_phrases->measures : nullptr;
    }
    /// The length of a row's word in UTF-16 code units, without spelling it.
    qsizetype wordLength(size_t row) const
    {
        if (!m_phrases)
            return m_rows[row].word.size();
        return m_phrases->textLength(phrase(row));
    }
    /// Whether the rows are held one by one (heldRows()), not spelled when read.
    bool holdsWords() const { return !m_phrases; }
    const std::vector<WordCount> &heldRows() const { return m_rows; }
    /// The sum of the rows' counts.
    qint64 total() const;

    /// Keeps the rows counted at least least times, in their order.
    void keepCountsFrom(qint64 least);
    void truncate(size_t rows);
    /// Row i becomes the row that was at order[i]; order holds each row at most once.
    void reorder(const std::vector<size_t> &order);
    /// The rows one by one (phrases spelled out); leaves this empty.
    std::vector<WordCount> takeRows();

private:
    // The words of a phrase lie anywhere in the word table: what a row needs is fetched a few
    // rows ahead, in two steps.
    Q_ALWAYS_INLINE void prefetch(size_t row) const
    {
        constexpr size_t kNear = 8, kFar = 16;
        if (row + kFar < m_size)
            m_phrases->prefetchWords(phrase(row + kFar));
        if (row + kNear < m_size)
            m_phrases->prefetchText(phrase(row + kNear));
    }
    size_t phrase(size_t row) const { return m_inListOrder ? row : m_order[row]; }
    // Rows in the list's own order as the numbers of their phrases, to be changed.
    void spellOutOrder();

    std::vector<WordCount> m_rows;
    std::shared_ptr<const PhraseList> m_phrases;
    std::vector<quint32> m_order; // row -> phrase, unless in the list's own order
    bool m_inListOrder = false;
    size_t m_size = 0; // of the phrase rows
};

} // namespace corvalen
