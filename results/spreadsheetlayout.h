#pragma once

#include "engine/resulttable.h"
#include "results/resultlayouts.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

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

/// A column of a table of any shape for a workbook (the corpus tools' tables).
struct SheetColumn
{
    QString header;
    bool number = false; ///< numbers, written as numbers; otherwise text
    /// Excel's number format of a number column ("0.000", "0.000E+00"); empty: General.
    QString format;
};

/// The rows of such a table, read by place.
class SheetRows
{
public:
    virtual ~SheetRows() = default;
    virtual qsizetype rowCount() const = 0;
    /// A text cell, or a number cell as it shows (what its column's width is fitted to).
    virtual QString text(qsizetype row, int column) const = 0;
    /// A number cell's value; nullopt leaves the cell empty.
    virtual std::optional<double> number(qsizetype row, int column) const = 0;
};

/// Writes a table of any columns as an .xlsx workbook, as saveResultsSpreadsheet() writes the
/// results: the headers in row 1, one sheet row per row, columns as wide as their contents,
/// further sheets beyond rowsPerSheet, built beside path and put in place only when complete and
/// read back intact. Text cells are written as they are (longer than a cell holds: cut).
bool saveSheetSpreadsheet(const QList<SheetColumn> &columns, const SheetRows &rows, const QString &path,
                          QString *error = nullptr, qsizetype rowsPerSheet = kSheetDataRows);

} // namespace corvalen
