#include "engine/tallyrules.h"

#include "engine/twohalves.h"

#include <QHash>

#include <algorithm>
#include <exception>
#include <limits>
#include <optional>
#include <stdexcept>
#include <thread>

namespace corvalen::counting {

namespace {

// Words found by the finder go to the counter through its buffer, where they stay put until it
// has added them. With kFiles, each with the file it ends in.
template<bool kFiles>
class CountingSink : public WordSink
{
public:
    CountingSink(BasicCounter<kFiles> &counter, QStringView text, const SliceFiles *files)
        : m_counter(counter), m_text(text)
    {
        if constexpr (kFiles)
            m_cursor.emplace(*files, reinterpret_cast<const char16_t *>(text.utf16()));
    }
    void word(QStringView w, qsizetype, qsizetype rawEnd) override
    {
        quint32 file = 0;
        if constexpr (kFiles)
            file = m_cursor->fileAt(size_t(rawEnd));
        const size_t n = size_t(w.size());
        // A word that stands in the text as it is counted stays there; the text has room after
        // its end for the block-wise loads.
        const auto *at = reinterpret_cast<const char16_t *>(w.utf16());
        const auto *text = reinterpret_cast<const char16_t *>(m_text.utf16());
        if (at >= text && at + n <= text + m_text.size()) {
            m_counter.arrive(at, n, file);
            return;
        }
        char16_t *out = m_counter.reserve(n);
        std::copy_n(reinterpret_cast<const char16_t *>(w.utf16()), n, out);
        m_counter.commit(n);
        m_counter.arrive(out, n, file);
    }

private:
    BasicCounter<kFiles> &m_counter;
    QStringView m_text;
    [[maybe_unused]] std::optional<FileCursor> m_cursor;
};

// Phrases as the numbers of their words, kept in the tally to be sorted and counted at the end.
// A word's number is looked up a few words after it arrives, its place in the lane's table fetched
// meanwhile: most words are rare, and their entries far from the cache.
class PhraseSink : public WordSink
{
public:
    PhraseSink(HashTally &tally, TallyRules::Lane &lane, WordIds &ids, int length, QStringView text,
               const SliceFiles *files)
        : m_tally(tally), m_lane(lane), m_ids(ids), m_length(length), m_text(text)
    {
        if (files)
            m_cursor.emplace(*files, reinterpret_cast<const char16_t *>(text.utf16()));
        m_tally.addPhraseGap(); // the text before this one was another's
    }

    void word(QStringView w, qsizetype, qsizetype rawEnd) override
    {
        const auto *at = reinterpret_cast<const char16_t *>(w.utf16());
        const size_t n = size_t(w.size());
        const auto *text = reinterpret_cast<const char16_t *>(m_text.utf16());
        const bool stays = at >= text && at + n <= text + m_text.size(); // with room after it
        const quint32 file = m_cursor ? m_cursor->fileAt(size_t(rawEnd)) : 0;
        if (!stays && n > kCopied) {
            drain();
            number(at, n, makeWordRef(at, n), file); // the finder's buffer has room after the word
            return;
        }
        if (m_in - m_out == kDepth)
            resolveOldest();
        Slot &slot = m_ring[m_in % kDepth];
        if (!stays) {
            std::copy_n(at, n, slot.copy);
            at = slot.copy;
        }
        slot.gap = false;
        slot.file = file;
        slot.text = at;
        slot.ref = makeWordRef(at, n);
        m_lane.ids.prefetchBucket(slot.ref.hash);
        if (m_in - m_out >= kDepth / 2)
            m_lane.ids.prefetchEntry(m_ring[(m_in - kDepth / 2) % kDepth].ref.hash);
        ++m_in;
    }
    void gap() override
    {
        if (m_in == m_out) {
            endPhrases();
            return;
        }
        if (m_in - m_out == kDepth)
            resolveOldest();
        m_ring[m_in++ % kDepth].gap = true;
    }

    // Called at the end: numbering can fail (out of memory), which a destructor could not pass on.
    void drain()
    {
        while (m_out != m_in)
            resolveOldest();
    }

private:
    // As deep as the plain counter's pipeline: an entry fetched only half as far ahead is still
    // on its way when the word is numbered.
    static constexpr quint64 kDepth = 32;
    static constexpr size_t kCopied = 48;
    struct Slot
    {
        WordRef ref;
        const char16_t *text;
        quint32 file;
        bool gap;
        char16_t copy[kCopied + kSlack];
    };

    void resolveOldest()
    {
        const Slot &slot = m_ring[m_out++ % kDepth];
        if (slot.gap)
            endPhrases();
        else
            number(slot.text, slot.ref.length, slot.ref, slot.file);
    }

    void endPhrases()
    {
        m_filled = 0;
        m_tally.addPhraseGap();
    }

    // The word's number joins the last m_length words, oldest first; a full window is a phrase,
    // of the file of its last word (no phrase runs across the end of a file).
    void number(const char16_t *text, size_t n, const WordRef &ref, quint32 file)
    {
        qint64 id = m_lane.ids.countOf(ref);
        if (id == 0) {
            id = qint64(m_ids.idOf(text, n)) + 1;
            m_lane.ids.add(ref, id);
        }
        if (m_filled == m_length)
            std::copy(m_words + 1, m_words + m_length, m_words);
        else
            ++m_filled;
        m_words[m_filled - 1] = quint32(id - 1);
        m_tally.addPhraseWord(m_words, m_filled, m_length, file);
    }

    HashTally &m_tally;
    TallyRules::Lane &m_lane;
    WordIds &m_ids;
    int m_length;
    QStringView m_text;
    Slot m_ring[kDepth];
    quint64 m_in = 0;
    quint64 m_out = 0;
    quint32 m_words[WordRules::kMaxPhraseLength] = {};
    int m_filled = 0;
    std::optional<FileCursor> m_cursor;
};

} // namespace

WordIds::WordIds()
{
    clear();
}

quint32 WordIds::idOf(const char16_t *w, size_t n)
{
    std::lock_guard lock(m_mutex);
    const WordRef ref = makeWordRef(w, n);
    if (const qint64 known = m_index.countOf(ref))
        return quint32(known - 1);
    const size_t id = size();
    if (id > HashTally::kMaxWordNumber) // the numbers above mark gaps and files
        throw std::length_error("Too many distinct words for phrases.");
    m_text.insert(m_text.end(), w, w + n);
    m_starts.push_back(m_text.size());
    m_index.add(ref, qint64(id) + 1);
    return quint32(id);
}

void WordIds::clear()
{
    std::lock_guard lock(m_mutex);
    m_index.reset();
    m_text.clear();
    m_starts.assign(1, 0);
}

TallyRules::TallyRules(const WordFinder &finder) : m_prototype(finder.clone())
{
    if (finder.rules().phraseLength > 1)
        m_kind = Kind::Phrases;
    else if (finder.countsPlainWords())
        m_kind = Kind::Plain;
    else
        m_kind = Kind::Words;
}

void TallyRules::count(Lane &lane, HashTally &tally, WordBuffer &buffer, QStringView text,
                       const SliceFiles *files)
{
    if (!lane.finder)
        lane.finder = m_prototype->clone();
    if (m_kind == Kind::Phrases) {
        PhraseSink sink(tally, lane, m_ids, phraseLength(), text, files);
        lane.finder->findSingleWords(text, sink);
        sink.drain();
        return;
    }
    if (files) {
        BasicCounter<true> counter(tally, buffer);
        CountingSink<true> sink(counter, text, files);
        lane.finder->findSingleWords(text, sink);
        counter.drain();
        return;
    }
    Counter counter(tally, buffer);
    CountingSink<false> sink(counter, text, nullptr);
    lane.finder->findSingleWords(text, sink);
    counter.drain();
}

void TallyRules::applyForms(HashTally &tally) const
{
    HashTally formed;
    formed.setFileMarks(tally.hasFileMarks(), tally.hasFileLists());
    constexpr quint32 kDropped = std::numeric_limits<quint32>::max();
    std::vector<quint32> formOfEntry;
    if (tally.hasFileLists())
        formOfEntry.reserve(tally.distinct());
    QString form;
    std::vector<char16_t> key;
    tally.forEach([&](std::u16string_view w, qint64 n) {
        if (!m_prototype->formOf(QStringView(w.data(), qsizetype(w.size())), form)) {
            if (tally.hasFileLists())
                formOfEntry.push_back(kDropped);
            return;
        }
        const size_t k = size_t(form.size());
        if (key.size() < k + kSlack)
            key.resize(k + kSlack);
        std::copy_n(reinterpret_cast<const char16_t *>(form.utf16()), k, key.data());
        const size_t entry = formed.add(makeWordRef(key.data(), k), n);
        if (tally.hasFileLists())
            formOfEntry.push_back(quint32(entry));
    });
    if (tally.hasFileLists()) {
        // Words that became one form occur in the files of any of them.
        TableVector<quint64> &pairs = formed.fileLists();
        pairs.reserve(tally.fileLists().size());
        for (const quint64 pair : tally.fileLists()) {
            const quint32 to = formOfEntry[size_t(pair >> 32)];
            if (to != kDropped)
                pairs.push_back(HashTally::filePair(to, quint32(pair)));
        }
        formed.settleFileLists();
    }
    std::swap(tally, formed);
}

std::vector<WordCount> TallyRules::rows(const HashTally &tally) const
{
    std::vector<WordCount> rows;
    rows.reserve(tally.distinct());
    tally.forEachWithFiles([&](std::u16string_view w, qint64 n, qint64 files) {
        rows.emplace_back(QString(reinterpret_cast<const QChar *>(w.data()), qsizetype(w.size())), n);
        rows.back().files = files;
    });
    return rows;
}

std::shared_ptr<PhraseList> TallyRules::countPhrases(HashTally &tally, quint32 lastFile,
                                                     bool filePairs) const
{
    return counting::countPhrases(tally, m_ids, phraseLength(), lastFile, filePairs);
}

std::vector<WordCount> TallyRules::groups(std::vector<WordCount> &&forms,
                                          TableVector<quint64> *filePairs) const
{
    // Keys are worked out on both cores when there are many: a stemmer per thread.
    std::vector<QString> keys(forms.size());
    const auto stem = [&](size_t from, size_t to) {
        std::unique_ptr<WordFinder> finder = m_prototype->clone();
        for (size_t i = from; i < to; ++i)
            keys[i] = finder->groupKey(forms[i].word);
    };
    if (forms.size() < 20000)
        stem(0, forms.size());
    else
        onTwoThreads([&] { stem(0, forms.size() / 2); }, [&] { stem(forms.size() / 2, forms.size()); });
    // Each form's group, numbered as first met; then a group's forms side by side, the most
    // frequent first, ties by UTF-16 code units.
    std::vector<quint32> groupOf(forms.size());
    quint32 groupCount = 0;
    // A group of lemmas shows its key, the lemma itself.
    const bool showKeys = m_prototype->groupsByLemma();
    std::vector<QString> shownKeys;
    {
        QHash<QString, quint32> numbers;
        numbers.reserve(qsizetype(forms.size()));
        for (size_t i = 0; i < forms.size(); ++i) {
            auto it = numbers.constFind(keys[i]);
            if (it == numbers.constEnd()) {
                it = numbers.insert(keys[i], groupCount++);
                if (showKeys)
                    shownKeys.push_back(keys[i]);
            }
            groupOf[i] = *it;
        }
    }
    keys = {};
    std::vector<quint32> groupFiles;
    if (filePairs) {
        for (quint64 &pair : *filePairs)
            pair = quint64(groupOf[size_t(pair >> 32)]) << 32 | quint32(pair);
        groupFiles.resize(groupCount);
        countFilePairs(*filePairs, groupFiles);
        *filePairs = {};
    }
    std::vector<size_t> start(size_t(groupCount) + 1);
    for (const quint32 g : groupOf)
        ++start[g + 1];
    for (size_t g = 1; g < start.size(); ++g)
        start[g] += start[g - 1];
    std::vector<quint32> order(forms.size());
    {
        std::vector<size_t> at(start.begin(), start.end() - 1);
        for (size_t i = 0; i < forms.size(); ++i)
            order[at[groupOf[i]]++] = quint32(i);
    }
    std::vector<WordCount> groups;
    groups.reserve(groupCount);
    auto all = std::make_shared<std::vector<std::vector<WordCount>>>(groupCount);
    for (quint32 g = 0; g < groupCount; ++g) {
        const auto first = order.begin() + qsizetype(start[g]);
        const auto last = order.begin() + qsizetype(start[g + 1]);
        std::sort(first, last, [&](quint32 a, quint32 b) {
            if (forms[a].count != forms[b].count)
                return forms[a].count > forms[b].count;
            return forms[a].word < forms[b].word;
        });
        qint64 sum = 0;
        std::vector<WordCount> &members = (*all)[g];
        members.reserve(size_t(last - first));
        for (auto it = first; it != last; ++it) {
            sum += forms[*it].count;
            members.emplace_back(forms[*it].word, forms[*it].count);
            members.back().files = forms[*it].files;
        }
        // Every group's forms share one block of memory, and one count of its users.
        groups.emplace_back(showKeys ? shownKeys[g] : members.front().word, sum,
                            std::shared_ptr<const std::vector<WordCount>>(all, &members));
        if (filePairs)
            groups.back().files = groupFiles[g];
    }
    return groups;
}

} // namespace corvalen::counting
