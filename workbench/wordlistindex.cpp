#include "workbench/wordlistindex.h"

#include "engine/twohalves.h"

#include <QCollator>
#include <QCollatorSortKey>

#include <algorithm>
#include <cstring>
#include <numeric>

namespace corvalen {

namespace {

// Sorts items by less on two threads (two halves sorted apart, then merged).
template<typename T, typename Less>
void sortInTwo(std::vector<T> &items, Less less)
{
    inTwoHalves(items.size(), [&](size_t from, size_t to) {
        std::sort(items.begin() + qsizetype(from), items.begin() + qsizetype(to), less);
    });
    if (items.size() >= 65536) // as inTwoHalves splits
        std::inplace_merge(items.begin(), items.begin() + qsizetype(items.size() / 2), items.end(), less);
}

quint64 load(const char16_t *p, size_t units)
{
    quint64 v = 0;
    std::memcpy(&v, p, units * sizeof(char16_t));
    return v;
}

quint32 hashWord(QStringView w)
{
    const auto *p = reinterpret_cast<const char16_t *>(w.utf16());
    const size_t n = size_t(w.size());
    quint64 h = 0x9E3779B97F4A7C15ULL ^ n;
    size_t i = 0;
    for (; i + 4 <= n; i += 4)
        h = (h ^ load(p + i, 4)) * 0xbf58476d1ce4e5b9ULL;
    if (i < n)
        h = (h ^ load(p + i, n - i)) * 0x94d049bb133111ebULL;
    h ^= h >> 31;
    h *= 0xff51afd7ed558ccdULL;
    return quint32(h ^ (h >> 32));
}

// Numbers the distinct words of a table's rows in the order they first occur: an open-addressing
// table of (hash, number) buckets. The buckets are looked up a few rows ahead of use and the words'
// texts kept by number, so that a million rows do not wait on memory one after the other.
std::vector<qint32> numberWords(const ResultTable &table, std::vector<qint32> &firstRow)
{
    const qsizetype n = table.rowCount();
    std::vector<quint32> hashes(static_cast<size_t>(n));
    std::vector<QStringView> words(static_cast<size_t>(n));
    for (qsizetype r = 0; r < n; ++r) {
        words[size_t(r)] = table.wordView(r);
        hashes[size_t(r)] = hashWord(words[size_t(r)]);
    }
    struct Slot
    {
        quint32 hash = 0;
        qint32 number = -1;
    };
    // At most half full, whatever the number of distinct words.
    size_t capacity = 1024;
    while (capacity < size_t(n) * 2)
        capacity *= 2;
    const size_t mask = capacity - 1;
    std::vector<Slot> buckets(capacity);
    std::vector<QStringView> texts; // by number
    std::vector<qint32> numbers(static_cast<size_t>(n));
    constexpr qsizetype kAhead = 8;
    for (qsizetype r = 0; r < n; ++r) {
        if (r + kAhead < n)
            __builtin_prefetch(&buckets[hashes[size_t(r + kAhead)] & mask]);
        const quint32 h = hashes[size_t(r)];
        const QStringView w = words[size_t(r)];
        for (size_t i = h & mask;; i = (i + 1) & mask) {
            Slot &s = buckets[i];
            if (s.number < 0) {
                s = {h, qint32(texts.size())};
                texts.push_back(w);
                firstRow.push_back(qint32(r));
                numbers[size_t(r)] = s.number;
                break;
            }
            if (s.hash == h && texts[size_t(s.number)] == w) {
                numbers[size_t(r)] = s.number;
                break;
            }
        }
    }
    return numbers;
}

// A word while the words are ordered by UTF-16 code units: the first four units, packed so that
// comparing them as a number orders them as text, settle most comparisons without the text.
struct TextKey
{
    quint64 prefix;
    qint32 word;
};

quint64 prefixOf(QStringView w)
{
    quint64 prefix = 0;
    for (qsizetype i = 0; i < 4; ++i)
        prefix = prefix << 16 | (i < w.size() ? w[i].unicode() : 0);
    return prefix;
}

struct UsualKey
{
    qint64 count;
    qint32 rank; // of the word by UTF-16 code units
    qint32 row;

    friend bool operator<(const UsualKey &a, const UsualKey &b)
    {
        if (a.count != b.count)
            return a.count < b.count;
        if (a.rank != b.rank)
            return a.rank < b.rank;
        return a.row < b.row;
    }
};

} // namespace

std::vector<qint32> WordListIndex::usualOrder(const std::vector<qint32> &word,
                                              const std::function<qint64(qint32)> &countOf) const
{
    std::vector<UsualKey> keys(word.size());
    for (size_t r = 0; r < word.size(); ++r)
        keys[r] = {countOf(qint32(r)), m_codeUnitRank[size_t(word[r])], qint32(r)};
    // A run's own rows usually come in this order already.
    if (!std::is_sorted(keys.begin(), keys.end()))
        sortInTwo(keys, std::less<UsualKey>());
    std::vector<qint32> usual(keys.size());
    for (size_t i = 0; i < keys.size(); ++i)
        usual[i] = keys[i].row;
    return usual;
}

WordListIndex::WordListIndex(std::shared_ptr<const WordListSnapshot> snapshot)
    : m_snapshot(std::move(snapshot)), m_fileLabels(m_snapshot->fileLabels())
{
}

void WordListIndex::build()
{
    const ResultTable &table = m_snapshot->table;
    const qsizetype n = table.rowCount();
    m_rows.table = &table;
    m_rows.word.resize(size_t(n));

    // Distinct words: a combined run's rows are distinct already; per file, a word recurs in
    // every file that holds it.
    if (perFile()) {
        m_rows.word = numberWords(table, m_wordRow);
        m_wordTotal.assign(m_wordRow.size(), 0);
        for (qsizetype r = 0; r < n; ++r)
            m_wordTotal[size_t(m_rows.word[size_t(r)])] += table.count(r);
    } else {
        m_wordRow.resize(size_t(n));
        m_wordTotal.resize(size_t(n));
        for (qsizetype r = 0; r < n; ++r) {
            m_rows.word[size_t(r)] = qint32(r);
            m_wordRow[size_t(r)] = qint32(r);
            m_wordTotal[size_t(r)] = table.count(r);
        }
    }

    const qint32 words = wordCount();
    std::vector<TextKey> byText(static_cast<size_t>(words));
    for (qint32 w = 0; w < words; ++w)
        byText[size_t(w)] = {prefixOf(wordText(w)), w};
    sortInTwo(byText, [this](const TextKey &a, const TextKey &b) {
        return a.prefix != b.prefix ? a.prefix < b.prefix : wordText(a.word) < wordText(b.word);
    });
    m_codeUnitRank.resize(size_t(words));
    for (qint32 i = 0; i < words; ++i)
        m_codeUnitRank[size_t(byText[size_t(i)].word)] = i;

    m_rows.usual = usualOrder(m_rows.word, [&table](qint32 r) { return table.count(r); });
}

void WordListIndex::buildSummaries()
{
    const qint32 words = wordCount();
    if (perFile()) {
        std::vector<WordCount> summed;
        summed.reserve(size_t(words));
        for (qint32 w = 0; w < words; ++w)
            summed.push_back({wordText(w).toString(), m_wordTotal[size_t(w)]});
        m_combinedTable = ResultTable(false);
        m_combinedTable.appendRows(summed);
        m_combined.table = &m_combinedTable;
        m_combined.word.resize(size_t(words));
        std::iota(m_combined.word.begin(), m_combined.word.end(), 0);
        m_combined.usual = usualOrder(m_combined.word, [this](qint32 w) { return m_wordTotal[size_t(w)]; });
    }
    computeStatistics();
    m_hasSummaries.store(true, std::memory_order_release);
}

void WordListIndex::computeStatistics()
{
    const ResultTable &table = m_snapshot->table;
    QList<StatisticsCollector> files(perFile() ? table.fileCount() : 0);
    if (perFile()) {
        for (qsizetype r = 0; r < table.rowCount(); ++r)
            files[table.fileIndex(r)].add(table.wordView(r), table.count(r));
    }
    m_fileStatistics.clear();
    for (const StatisticsCollector &c : files)
        m_fileStatistics.append(c.statistics());
    StatisticsCollector all;
    for (qint32 w = 0; w < wordCount(); ++w)
        all.add(wordText(w), m_wordTotal[size_t(w)]);
    m_allStatistics = all.statistics();
}

void WordListIndex::buildCollation(const QLocale &locale)
{
    const qint32 words = wordCount();
    std::vector<QCollatorSortKey> keys;
    keys.reserve(size_t(words));
    {
        // Each thread its own collator; the keys compare as bytes afterwards.
        std::vector<std::optional<QCollatorSortKey>> made(static_cast<size_t>(words));
        inTwoHalves(size_t(words), [&](size_t from, size_t to) {
            QCollator collator(locale);
            for (size_t w = from; w < to; ++w)
                made[w].emplace(collator.sortKey(wordText(qint32(w)).toString()));
        });
        for (auto &k : made)
            keys.push_back(std::move(*k));
    }
    std::vector<qint32> order(static_cast<size_t>(words));
    std::iota(order.begin(), order.end(), 0);
    sortInTwo(order, [&keys](qint32 a, qint32 b) {
        const int c = keys[size_t(a)].compare(keys[size_t(b)]);
        return c != 0 ? c < 0 : a < b;
    });
    m_wordCollation.assign(size_t(words), 0);
    qint32 rank = -1;
    for (size_t i = 0; i < order.size(); ++i) {
        if (i == 0 || keys[size_t(order[i - 1])].compare(keys[size_t(order[i])]) != 0)
            ++rank;
        m_wordCollation[size_t(order[i])] = rank;
    }
    m_collationRanks = rank + 1;

    QCollator collator(locale);
    std::vector<qint32> files(size_t(m_fileLabels.size()));
    std::iota(files.begin(), files.end(), 0);
    std::stable_sort(files.begin(), files.end(), [&](qint32 a, qint32 b) {
        return collator.compare(m_fileLabels.at(a), m_fileLabels.at(b)) < 0;
    });
    m_fileCollation.assign(files.size(), 0);
    for (size_t i = 0; i < files.size(); ++i) {
        const bool same = i > 0 && collator.compare(m_fileLabels.at(files[i - 1]), m_fileLabels.at(files[i])) == 0;
        m_fileCollation[size_t(files[i])] = same ? m_fileCollation[size_t(files[i - 1])] : qint32(i);
    }
    m_hasCollation.store(true, std::memory_order_release);
}

} // namespace corvalen
