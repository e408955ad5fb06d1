#pragma once

#include "engine/resulttable.h"

#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <functional>
#include <vector>

class QIODevice;

namespace corvalen {

/// One result row as the layouts render it; fileName counts only with a file name column.
struct ResultRow
{
    QStringView fileName;
    QStringView word;
    qint64 count = 0;
    /// The forms the row stands for (words grouped by their stems), or null.
    const std::vector<WordCount> *forms = nullptr;
    /// The number of files the word occurs in; written only by rows with a files column.
    qint64 files = 0;
    /// Given by forEachRowInUtf8() instead of word, when the rows spell their words as they are
    /// read: the word in UTF-8, and its length in UTF-16 code units.
    QByteArrayView wordUtf8;
    qsizetype wordUnits = 0;
};

/// Rows in list order as the layouts read them: a results table, or rows kept elsewhere (the
/// command line keeps a long per-file run's rows on disk, not in memory).
class ResultRows
{
public:
    /// Takes one row; returns false to stop.
    using Visit = std::function<bool(const ResultRow &row)>;

    virtual ~ResultRows() = default;
    virtual bool hasFileNameColumn() const = 0;
    /// Whether a "Files" column follows the counts (the range of a combined count).
    virtual bool hasFilesColumn() const { return false; }
    int columnCount() const { return (hasFileNameColumn() ? 3 : 2) + (hasFilesColumn() ? 1 : 0); }
    /// Hands every row to visit, in order, until visit returns false. Returns false with error
    /// set only when the rows could not be read.
    virtual bool forEachRow(const Visit &visit, QString *error) const = 0;
    /// The number of rows, when any stretch of them can be read apart (forEachRowIn()), several
    /// at once; else -1. Long lists are then written on both cores.
    virtual qint64 rowsReadApart() const { return -1; }
    /// Hands rows [from, to) to visit, in order, until it returns false; from any thread. Only
    /// for rows that rowsReadApart() counts.
    virtual void forEachRowIn(qint64 from, qint64 to, const Visit &visit) const;
    /// As forEachRowIn(), for the UTF-8 text files: rows that spell their words as they are read
    /// may give them in UTF-8 (ResultRow::wordUtf8) rather than spell them in UTF-16 to be
    /// encoded.
    virtual void forEachRowInUtf8(qint64 from, qint64 to, const Visit &visit) const
    {
        forEachRowIn(from, to, visit);
    }
};

/// The rows of a table.
class TableRows : public ResultRows
{
public:
    /// With files, the rows' range is a column of its own (the table must carry it).
    explicit TableRows(const ResultTable &table, bool withFiles = false)
        : m_table(table), m_withFiles(withFiles)
    {
    }
    bool hasFileNameColumn() const override { return m_table.hasFileNameColumn(); }
    bool hasFilesColumn() const override { return m_withFiles; }
    bool forEachRow(const Visit &visit, QString *error) const override;
    qint64 rowsReadApart() const override { return m_table.rowCount(); }
    void forEachRowIn(qint64 from, qint64 to, const Visit &visit) const override;

private:
    const ResultTable &m_table;
    bool m_withFiles;
};

/// Chosen rows of a table, in the order given (a selection, or a view's order and filter).
class TableRowSelection : public ResultRows
{
public:
    TableRowSelection(const ResultTable &table, std::vector<qint32> rows, bool withFiles = false)
        : m_table(table), m_rows(std::move(rows)), m_withFiles(withFiles)
    {
    }
    bool hasFileNameColumn() const override { return m_table.hasFileNameColumn(); }
    bool hasFilesColumn() const override { return m_withFiles; }
    bool forEachRow(const Visit &visit, QString *error) const override;

private:
    const ResultTable &m_table;
    std::vector<qint32> m_rows;
    bool m_withFiles;
};

/// Each column's longest cell in UTF-16 code units, gathered one row at a time. A word longer than
/// kMaxPaddedWordWidth does not set its column's width (it stands unpadded): one enormous word in
/// damaged text would otherwise pad every row of millions to its length.
class CellWidths
{
public:
    static constexpr qsizetype kMaxPaddedWordWidth = 100;

    explicit CellWidths(bool fileNameColumn, bool filesColumn = false);
    /// The widths of all the rows (read once).
    static CellWidths of(const ResultRows &rows);
    void add(const ResultRow &row);
    /// As add(), from the lengths of the texts (a word need not be spelled out to be measured).
    void add(qsizetype fileNameLength, qsizetype wordLength, qint64 count, qint64 files);
    /// Widens to the widths of other (the same columns).
    void add(const CellWidths &other);
    /// The widths of the cells alone: the clipboard layout's.
    QList<qsizetype> widths() const { return m_widths; }
    /// The widths widened to the header texts: the "Save Results" file's.
    QList<qsizetype> withHeaders(const QStringList &headers) const;

private:
    bool m_fileNameColumn;
    bool m_filesColumn;
    QList<qsizetype> m_widths;
};

/// Each column's width in UTF-16 code units: its longest cell and, when headers are given, its
/// header text.
QList<qsizetype> columnWidths(const ResultTable &table, const QStringList &headers = {});

/// The "Save Results" text file: a header line, then one line per row; every cell padded with
/// spaces to its column's width and followed by a tab; CR LF after each line and one more at the
/// end. UTF-8 without byte order mark. widths must be CellWidths::withHeaders() of the rows.
/// Returns false with error set when the device fails or the rows cannot be read.
bool writeResultsText(const ResultRows &rows, const QStringList &headers,
                      const QList<qsizetype> &widths, QIODevice &device, QString *error = nullptr);
bool writeResultsText(const ResultTable &table, const QStringList &headers, QIODevice &device,
                      QString *error = nullptr);
/// writeResultsText() into a file through writeFileSafely(): on failure an existing file is left
/// untouched and error names the file and the reason.
bool saveResultsText(const ResultTable &table, const QStringList &headers, const QString &path,
                     QString *error = nullptr);

/// The clipboard text: no header; widths from the cells only; cells joined by tabs, trailing
/// spaces dropped, CR LF after every row. Empty for an empty table.
QString clipboardText(const ResultTable &table);
/// The clipboard text of any rows, widths from their own cells.
QString clipboardText(const ResultRows &rows);
/// The clipboard text as UTF-8 into a device, without holding the whole text. widths must be
/// CellWidths::widths() of the rows.
bool writeClipboardText(const ResultRows &rows, const QList<qsizetype> &widths, QIODevice &device,
                        QString *error = nullptr);
bool writeClipboardText(const ResultTable &table, QIODevice &device, QString *error = nullptr);
/// writeClipboardText() into a file through writeFileSafely() (see saveResultsText()).
bool saveClipboardText(const ResultTable &table, const QString &path, QString *error = nullptr);

/// CSV (RFC 4180): UTF-8 without byte order mark, the header "file,word,count" (or
/// "word,count" without a file name column; ",files" after it with a files column), CR LF after every record, no padding; a field is
/// put in double quotes, its own doubled, exactly when it holds a comma, a double quote, CR or LF.
bool writeResultsCsv(const ResultRows &rows, QIODevice &device, QString *error = nullptr);
/// JSON: one array of objects in row order, {"file": ..., "word": ..., "count": N}, "file" only
/// with a file name column; counts are numbers; "files": N after the count with a files column. A row that stands for a group of forms adds
/// "forms": {"form": N, ...}, most frequent first. A lone surrogate in a word becomes "?", as in
/// the other layouts.
bool writeResultsJson(const ResultRows &rows, QIODevice &device, QString *error = nullptr);

/// A CSV field (RFC 4180): in double quotes, its own doubled, exactly when it holds a comma, a
/// double quote, CR or LF.
void appendCsvField(QString &out, QStringView text);
/// A JSON string in double quotes; a lone surrogate becomes "?", as in the other layouts.
void appendJsonString(QString &out, QStringView text);

} // namespace corvalen
