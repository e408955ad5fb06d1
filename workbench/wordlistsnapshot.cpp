#include "workbench/wordlistsnapshot.h"

#include <QCoreApplication>

namespace corvalen {

QStringList WordListSnapshot::fileLabels() const
{
    QStringList labels;
    const qsizetype n = table.fileCount();
    // A per-file run hands over one block per listed file, in list order.
    const bool listMatches = files.size() == n;
    for (qsizetype i = 0; i < n; ++i) {
        QString label = table.fileNameAt(i);
        if (label.isEmpty() && listMatches)
            label = fileNameFromPath(files.at(i));
        if (label.isEmpty())
            label = QCoreApplication::translate("corvalen::WordList", "File %1").arg(i + 1);
        labels << label;
    }
    return labels;
}

WordListSnapshot makeSnapshot(const ResultTable &table, const CountOptions &options,
                              const QStringList &files)
{
    return {table, options, files, describeCountOptions(options)};
}

} // namespace corvalen
