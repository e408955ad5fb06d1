#pragma once

#include "engine/resulttable.h"
#include "results/resultlayouts.h"

#include <QList>
#include <QString>
#include <QStringList>

class QIODevice;

namespace corvalen {

/// Data rows a sheet holds below its header row (Excel's 1,048,576 rows less the header).
inline constexpr qsizetype kSheetDataRows = 1048575;
/// The longest text a spreadsheet cell holds; longer words are cut there.
inline constexpr qsizetype kCellTextLimit = 32767;

/// Writes the results as an .xlsx workbook: the headers in row 1, one sheet row per result row;
/// the count column as numbers and every other cell as text, with "=" removed from the second
/// and later columns; each sheet's columns as wide as its contents. Rows beyond rowsPerSheet
/// continue on further sheets ("Sheet2", ...), each with the header row again. No rows give a
/// sheet with the header row only. The rows are read once and streamed to disk.
///
/// Atomic: the workbook is built beside path and replaces it only when complete. On failure
/// error names the file and the reason.
bool saveResultsSpreadsheet(const ResultRows &rows, const QStringList &headers,
                            const QString &path, QString *error = nullptr,
                            qsizetype rowsPerSheet = kSheetDataRows);
bool saveResultsSpreadsheet(const ResultTable &table, const QStringList &headers,
                            const QString &path, QString *error = nullptr,
                            qsizetype rowsPerSheet = kSheetDataRows);
/// The same workbook written to a device (built in a temporary file first).
bool writeResultsSpreadsheet(const ResultTable &table, const QStringList &headers,
                             QIODevice &device, QString *error = nullptr,
                             qsizetype rowsPerSheet = kSheetDataRows);

} // namespace corvalen
