#pragma once

#include "engine/countedrows.h"
#include "results/resultlayouts.h"

#include <QString>

#include <memory>
#include <vector>

namespace corvalen {

/// Keeps a run's rows in a temporary file instead of in memory, with what the layouts must know
/// before their first row (each column's widest cell), and hands them back in order.
///
/// A per-file run over many files has tens of millions of rows; held as a table they take
/// gigabytes, while here memory stays at one block of rows and a write buffer. Words are kept as
/// one byte per character when every character is below U+0100, else as their UTF-16 code
/// units, so every text comes back exactly as it went in.
class RowSpill : public ResultRows
{
public:
    /// withForms keeps the forms of rows that stand for groups of word forms as well; withFiles
    /// the number of files of each row, written as a column of its own.
    explicit RowSpill(bool fileNameColumn, bool withForms = false, bool withFiles = false);
    ~RowSpill() override;

    /// Where the temporary file is made, once a block is appended (rows held in memory need
    /// none). When it cannot be made the rows are still counted and finishWriting() gives the
    /// reason.
    void setFolder(const QString &folder);
    /// Appends one block of rows, all of the file fileName (used with a file name column only).
    void append(const CountedRows &rows, const QString &fileName);
    /// As append(), but keeps the block in memory, read before the blocks appended after it: a
    /// run of one block (a combined count) holds its rows already, and writing millions of them
    /// out only to read them back costs more than the rest of the writing. Once per spill, before
    /// any append().
    void hold(CountedRows &&rows, const QString &fileName);
    /// Ends the writing. Returns false with reason set when any row could not be kept.
    bool finishWriting(QString *reason);

    bool hasFileNameColumn() const override { return m_fileNameColumn; }
    bool hasFilesColumn() const override { return m_withFiles; }
    bool forEachRow(const Visit &visit, QString *error) const override;
    /// Held rows alone can be read apart.
    qint64 rowsReadApart() const override;
    void forEachRowIn(qint64 from, qint64 to, const Visit &visit) const override;
    void forEachRowInUtf8(qint64 from, qint64 to, const Visit &visit) const override;

    const CellWidths &widths() const { return m_widths; }
    qint64 rowCount() const { return m_rows; }
    /// Sum of the counts of all rows appended, kept or not.
    qint64 total() const { return m_total; }

private:
    void putNumber(quint64 n);
    void putText(QStringView text);
    void flushBuffer();
    void fail(const QString &reason);
    bool open();

    void addWidths(const CountedRows &rows, const QString &fileName);

    bool m_fileNameColumn;
    bool m_withForms;
    bool m_withFiles;
    class SpillFile;
    std::unique_ptr<SpillFile> m_file;
    QByteArray m_buffer;
    QString m_failure;
    QString m_folder;
    CellWidths m_widths;
    CountedRows m_held;
    QString m_heldName;
    qint64 m_rows = 0;
    qint64 m_total = 0;
};

} // namespace corvalen
