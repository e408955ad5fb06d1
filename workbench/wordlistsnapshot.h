#pragma once

#include "engine/resulttable.h"

#include <QString>
#include <QStringList>

namespace corvalen {

/// What a word list shows: a copy of one run's results, taken when it opens, so that going back
/// or a new run leaves it as it was.
struct WordListSnapshot
{
    ResultTable table;
    CountOptions options; // the options the run counted with
    QStringList files; // the run's file list, in order
    QStringList rules; // describeCountOptions() of the run: what titles and summaries name

    /// The files of the table, one label each: its name in the results, else its name in the
    /// run's list, else a number.
    QStringList fileLabels() const;
    /// Whether the rows are phrases of several words rather than words.
    bool countsPhrases() const { return options.rules.phraseLength > 1; }
};

WordListSnapshot makeSnapshot(const ResultTable &table, const CountOptions &options,
                              const QStringList &files);

} // namespace corvalen
