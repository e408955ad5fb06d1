#pragma once

#include "workbench/wordlistsnapshot.h"
#include "results/wordliststatistics.h"

#include <QList>
#include <QLocale>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

namespace corvalen {

/// One list the word list can show: the run's rows, or one row per distinct word with its count
/// summed over the files ("All files together").
struct WordListRows
{
    const ResultTable *table = nullptr;
    std::vector<qint32> word; // row -> distinct word
    std::vector<qint32> usual; // the rows in the usual order: count, UTF-16 code units, row

    qsizetype size() const { return qsizetype(word.size()); }
};

/// What ordering, finding and summing a snapshot needs, worked out once per distinct word, so
/// that a million rows are ordered by whole-number ranks instead of by comparing texts. Built
/// off the window's thread; read-only afterwards, and shared with the workers that read it.
class WordListIndex
{
public:
    explicit WordListIndex(std::shared_ptr<const WordListSnapshot> snapshot);
    WordListIndex(const WordListIndex &) = delete;
    WordListIndex &operator=(const WordListIndex &) = delete;

    /// The distinct words and the usual order of the rows: what showing them needs.
    void build();
    /// The summed list ("All files together") and the statistics; after build().
    void buildSummaries();
    bool hasSummaries() const { return m_hasSummaries.load(std::memory_order_acquire); }
    /// The alphabetical ranks of the words and files for locale, with QCollator (case- and
    /// accent-aware). Slower than build(), so done after it: the window shows its rows first.
    void buildCollation(const QLocale &locale);

    const WordListSnapshot &snapshot() const { return *m_snapshot; }
    bool perFile() const { return m_snapshot->options.mode == CountMode::PerFile; }

    /// The run's rows; in per-file mode also the summed list (in combined mode the same rows).
    const WordListRows &rows(bool allFilesTogether) const
    {
        return allFilesTogether && perFile() ? m_combined : m_rows;
    }

    qint32 wordCount() const { return qint32(m_wordRow.size()); }
    QStringView wordText(qint32 word) const { return m_snapshot->table.wordView(m_wordRow[size_t(word)]); }
    qint64 wordTotal(qint32 word) const { return m_wordTotal[size_t(word)]; }
    /// The number of files a word occurs in: combined mode only, with the range (else 0).
    qint64 wordFiles(qint32 word) const
    {
        return perFile() ? 0 : m_snapshot->table.files(m_wordRow[size_t(word)]);
    }
    qint32 codeUnitRank(qint32 word) const { return m_codeUnitRank[size_t(word)]; }

    const QStringList &fileLabels() const { return m_fileLabels; }

    /// Statistics of each file (per-file mode) and of all files together.
    const QList<WordListStatistics> &fileStatistics() const { return m_fileStatistics; }
    const WordListStatistics &allStatistics() const { return m_allStatistics; }

    bool hasCollation() const { return m_hasCollation.load(std::memory_order_acquire); }
    /// Alphabetical rank of a word; words that collate equal share one.
    qint32 wordCollation(qint32 word) const { return m_wordCollation[size_t(word)]; }
    qint32 collationRankCount() const { return m_collationRanks; }
    qint32 fileCollation(qint32 file) const { return m_fileCollation[size_t(file)]; }

    /// Computes the statistics again (buildSummaries() does it once; the benchmark times it).
    void computeStatistics();

private:
    std::vector<qint32> usualOrder(const std::vector<qint32> &word,
                                   const std::function<qint64(qint32)> &countOf) const;

    std::shared_ptr<const WordListSnapshot> m_snapshot;
    QStringList m_fileLabels;
    WordListRows m_rows;
    ResultTable m_combinedTable;
    WordListRows m_combined;
    std::vector<qint32> m_wordRow; // word -> a row holding it
    std::vector<qint64> m_wordTotal; // word -> count over all files
    std::vector<qint32> m_codeUnitRank;
    QList<WordListStatistics> m_fileStatistics;
    WordListStatistics m_allStatistics;
    std::vector<qint32> m_wordCollation;
    std::vector<qint32> m_fileCollation;
    qint32 m_collationRanks = 0;
    std::atomic<bool> m_hasSummaries{false};
    std::atomic<bool> m_hasCollation{false};
};

} // namespace corvalen
