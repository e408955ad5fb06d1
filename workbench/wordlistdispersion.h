#pragma once

#include "engine/resulttable.h"
#include "results/wordliststatistics.h"

#include <optional>
#include <vector>

namespace corvalen {

class FileWordCounts;

/// How each row of a combined word list spreads over the corpus's files as parts: Juilland's D
/// and Gries' DP (see FileWordCounts), worked out off the window's thread once the files have
/// been read again, with the ranks that order the rows by them in linear time.
struct WordListDispersion
{
    /// By row of the table: per million words of the count's total; Juilland's D and DP, NaN
    /// where a figure is empty (one file, or a word no file gave).
    std::vector<double> perMillion;
    std::vector<double> juillandD;
    std::vector<double> dp;
    /// By row: 0 for an empty figure, then 1, 2, ... from the least value up (equal values share
    /// a rank); and the number of ranks.
    std::vector<qint32> dRank;
    std::vector<qint32> dpRank;
    qint32 dRanks = 1;
    qint32 dpRanks = 1;
    qint64 parts = 0; ///< the files with words

    static WordListDispersion of(const ResultTable &table, const FileWordCounts &counts);
};

/// The statistics of each file of a combined count, from its rows and each file's counts of them:
/// one for each of files files, none for a file that could not be read.
std::vector<std::optional<WordListStatistics>> fileStatistics(const ResultTable &table, const FileWordCounts &counts,
                                                              qsizetype files);

} // namespace corvalen
