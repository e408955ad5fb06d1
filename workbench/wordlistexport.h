#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

class QIODevice;

namespace corvalen {

class ResultTable;
class WordListIndex;
class WordListModel;
struct WordListDispersion;

/// Rows of the word list with every column the table shows (file, word, count, files, per
/// million, Juilland's D, DP), in the order given: what Copy and Export... write. Cells are plain
/// (digits as the command line writes them) and never padded; a tab or line end inside a word
/// becomes a space, as in the other tables of the workbench. Holds what it reads, so that it can
/// be written off the window's thread while the list changes.
class WordListExport
{
public:
    /// rows are rows of the model's table.
    WordListExport(const WordListModel &model, std::vector<qint32> rows);

    qsizetype rowCount() const { return qsizetype(m_rows.size()); }
    /// The column headers as the table names them: a workbook's header row.
    const QStringList &headers() const { return m_headers; }

    /// Tab-separated, no header, CR LF after every row: the clipboard's text.
    QString text() const;
    /// The same as UTF-8 into a device (a .txt or .tsv export).
    bool writeText(QIODevice &device) const;
    /// CSV (RFC 4180) with the header line `corvalen count --format csv` writes (and with the
    /// dispersion, `corvalen count --dispersion`'s keys).
    bool writeCsv(QIODevice &device) const;
    /// Writes to path through the checked write routine: a workbook for .xlsx (numbers as
    /// numbers), tab-separated text for .txt or .tsv, CSV otherwise. False with error naming the
    /// file and the reason.
    bool exportTo(const QString &path, QString *error) const;

private:
    // Each row's cells appended to out by appendRow, a line each, written in blocks after start.
    bool writeRows(QIODevice &device, QString start,
                   const std::function<void(QString &, const QStringList &)> &appendRow) const;
    int columnCount() const;
    /// A row's cells, plain.
    void cells(qint32 row, QStringList &out) const;
    bool isNumber(int column) const;

    std::shared_ptr<const WordListIndex> m_index; // keeps the table alive
    const ResultTable *m_table = nullptr;
    std::shared_ptr<const WordListDispersion> m_dispersion; // null: no such columns
    std::vector<qint32> m_rows;
    bool m_fileName = false;
    bool m_files = false;
    QStringList m_headers;
};

} // namespace corvalen
