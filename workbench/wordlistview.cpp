#include "workbench/wordlistview.h"

#include "engine/twohalves.h"
#include "workbench/wordlistdispersion.h"

#include <QCoreApplication>

#include <algorithm>

namespace corvalen {

namespace {

// Places the rows, taken in the usual order, into buckets 0 .. buckets-1 by bucketOf (a
// counting sort: stable, so each bucket keeps the usual order); descending reverses the buckets.
template<typename BucketOf>
std::vector<qint32> bucketed(const std::vector<qint32> &usual, qint32 buckets, bool descending,
                             BucketOf bucketOf)
{
    std::vector<qint32> start(size_t(buckets) + 1, 0);
    for (qint32 r : usual) {
        const qint32 b = bucketOf(r);
        ++start[size_t(descending ? buckets - 1 - b : b) + 1];
    }
    for (size_t b = 1; b < start.size(); ++b)
        start[b] += start[b - 1];
    std::vector<qint32> out(usual.size());
    for (qint32 r : usual) {
        const qint32 b = bucketOf(r);
        out[size_t(start[size_t(descending ? buckets - 1 - b : b)]++)] = r;
    }
    return out;
}

} // namespace

std::vector<qint32> orderedRows(const WordListIndex &index, const WordListRows &list, WordListKey key,
                                Qt::SortOrder order, const WordListDispersion *dispersion)
{
    const bool descending = order == Qt::DescendingOrder;
    switch (key) {
    case WordListKey::JuillandD:
    case WordListKey::DP: {
        if (!dispersion)
            return list.usual;
        const bool d = key == WordListKey::JuillandD;
        const std::vector<qint32> &ranks = d ? dispersion->dRank : dispersion->dpRank;
        return bucketed(list.usual, d ? dispersion->dRanks : dispersion->dpRanks, descending,
                        [&](qint32 r) { return ranks[size_t(r)]; });
    }
    case WordListKey::PerMillion: // the counts over one total
    case WordListKey::Count: {
        std::vector<qint32> rows = list.usual;
        if (!descending)
            return rows;
        // Runs of equal counts reversed as a whole: each keeps the usual order inside.
        const ResultTable &t = *list.table;
        std::reverse(rows.begin(), rows.end());
        for (auto run = rows.begin(); run != rows.end();) {
            const qint64 count = t.count(*run);
            const auto end = std::find_if(run, rows.end(), [&](qint32 r) { return t.count(r) != count; });
            std::reverse(run, end);
            run = end;
        }
        return rows;
    }
    case WordListKey::Files: {
        // The number of files is at most the run's: few enough buckets.
        const ResultTable &t = *list.table;
        qint64 most = 0;
        for (qint32 r : list.usual)
            most = std::max(most, t.files(r));
        return bucketed(list.usual, qint32(most + 1), descending,
                        [&](qint32 r) { return qint32(t.files(r)); });
    }
    case WordListKey::Word:
        return bucketed(list.usual, std::max(index.collationRankCount(), 1), descending,
                        [&](qint32 r) { return index.wordCollation(list.word[size_t(r)]); });
    case WordListKey::File: {
        const ResultTable &t = *list.table;
        return bucketed(list.usual, qint32(std::max<qsizetype>(t.fileCount(), 1)), descending,
                        [&](qint32 r) { return index.fileCollation(t.fileIndex(r)); });
    }
    }
    return list.usual;
}

std::optional<WordMatcher> WordMatcher::make(const FindQuery &findQuery, QString *error)
{
    WordMatcher m;
    m.m_findQuery = findQuery;
    if (findQuery.regularExpression) {
        // Compiled on its own and anchored by the engine for a whole word: nothing in the text can
        // step outside the anchors.
        QString why;
        qsizetype at = 0;
        m.m_expression = findQuery.wholeWord
                ? WordPattern::compile(findQuery.text, !findQuery.matchCase, &why, &at)
                : WordPattern::compileUnanchored(findQuery.text, !findQuery.matchCase, &why, &at);
        if (!m.m_expression) {
            if (error)
                *error = QCoreApplication::translate("corvalen::WordListPanel", "%1 at position %2").arg(why).arg(at);
            return std::nullopt;
        }
        m.m_matcher = std::make_shared<PatternMatcher>();
    }
    return m;
}

bool WordMatcher::matches(QStringView word) const
{
    if (m_findQuery.text.isEmpty())
        return true;
    if (m_findQuery.regularExpression)
        return m_matcher->match(*m_expression, word) == PatternMatcher::Outcome::Match;
    const Qt::CaseSensitivity cs = m_findQuery.matchCase ? Qt::CaseSensitive : Qt::CaseInsensitive;
    if (m_findQuery.wholeWord)
        return word.compare(m_findQuery.text, cs) == 0;
    return word.contains(m_findQuery.text, cs);
}

std::optional<std::vector<char>> matchWords(const WordListIndex &index, const FindQuery &findQuery,
                                            const std::function<bool()> &cancelled)
{
    if (!WordMatcher::make(findQuery))
        return std::nullopt;
    const qint32 words = index.wordCount();
    std::vector<char> flags(size_t(words), 0);
    std::atomic<bool> stopped{false};
    const auto work = [&](qint32 from, qint32 to) {
        // A matcher of its own: the expression is compiled for this thread.
        const std::optional<WordMatcher> matcher = WordMatcher::make(findQuery);
        for (qint32 w = from; w < to; ++w) {
            if ((w & 0x3fff) == 0 && (stopped.load(std::memory_order_relaxed) || (cancelled && cancelled()))) {
                stopped = true;
                return;
            }
            flags[size_t(w)] = matcher->matches(index.wordText(w));
        }
    };
    if (words < 20000 || findQuery.isEmpty())
        work(0, words);
    else
        onTwoThreads([&] { work(words / 2, words); }, [&] { work(0, words / 2); });
    if (stopped)
        return std::nullopt;
    return flags;
}

std::vector<qint32> filterRows(const std::vector<qint32> &order, const WordListRows &list,
                               const std::vector<char> &matches)
{
    std::vector<qint32> rows;
    for (qint32 r : order) {
        if (matches[size_t(list.word[size_t(r)])])
            rows.push_back(r);
    }
    return rows;
}

} // namespace corvalen
