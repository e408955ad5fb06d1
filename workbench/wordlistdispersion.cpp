#include "workbench/wordlistdispersion.h"

#include "corpus/worddispersion.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace corvalen {

namespace {

// Dense ranks of values from the least up, NaN as rank 0.
qint32 rankValues(const std::vector<double> &values, std::vector<qint32> &ranks)
{
    std::vector<qint32> order(values.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](qint32 a, qint32 b) {
        const double x = values[size_t(a)], y = values[size_t(b)];
        if (std::isnan(x) || std::isnan(y))
            return std::isnan(x) && !std::isnan(y);
        return x < y;
    });
    ranks.assign(values.size(), 0);
    qint32 rank = 0;
    double last = std::numeric_limits<double>::quiet_NaN();
    for (const qint32 r : order) {
        const double v = values[size_t(r)];
        if (std::isnan(v))
            continue;
        if (rank == 0 || v != last)
            ++rank;
        last = v;
        ranks[size_t(r)] = rank;
    }
    return rank + 1;
}

} // namespace

WordListDispersion WordListDispersion::of(const ResultTable &table, const FileWordCounts &counts)
{
    WordListDispersion d;
    const auto rows = size_t(table.rowCount());
    const double none = std::numeric_limits<double>::quiet_NaN();
    d.perMillion.assign(rows, 0.0);
    d.juillandD.assign(rows, none);
    d.dp.assign(rows, none);
    d.parts = counts.parts();
    for (size_t r = 0; r < rows; ++r) {
        const WordDispersion w = counts.of(table.wordView(qsizetype(r)), table.count(qsizetype(r)), table.total());
        d.perMillion[r] = w.perMillion;
        if (w.juillandD)
            d.juillandD[r] = *w.juillandD;
        if (w.dp)
            d.dp[r] = *w.dp;
    }
    d.dRanks = rankValues(d.juillandD, d.dRank);
    d.dpRanks = rankValues(d.dp, d.dpRank);
    return d;
}

std::vector<std::optional<WordListStatistics>> fileStatistics(const ResultTable &table, const FileWordCounts &counts,
                                                              qsizetype files)
{
    std::vector<StatisticsCollector> collectors(static_cast<size_t>(files));
    for (qsizetype r = 0; r < table.rowCount(); ++r) {
        const QStringView word = table.wordView(r);
        counts.forEachFile(word, [&](qint32 file, qint64 count) {
            if (file < files)
                collectors[size_t(file)].add(word, count);
        });
    }
    std::vector<std::optional<WordListStatistics>> statistics(static_cast<size_t>(files));
    for (qsizetype f = 0; f < files; ++f) {
        if (counts.fileWords(qint32(f)) >= 0)
            statistics[size_t(f)] = collectors[size_t(f)].statistics();
    }
    return statistics;
}

} // namespace corvalen
