#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <vector>

class QIODevice;

namespace corvalen {

/// A column of a corpus tool's table.
struct CorpusTableColumn
{
    enum class Kind {
        Text,       ///< a word, a cluster
        Count,      ///< a whole number
        Decimal,    ///< a measure, with a fixed number of decimals
        Probability, ///< a p value, in scientific notation with that many decimals; see probabilityFigure()
    };
    QString header;
    Kind kind = Kind::Text;
    int decimals = 3;

    bool isNumber() const { return kind != Kind::Text; }
};

/// The rows of a corpus tool (collocates, clusters, keywords) as the tab shows them: one column of
/// texts or numbers each, in the order the tool gives them. Made off the window's thread, texts
/// ranked in the Unicode root collation there too, so that the window orders any column by
/// numbers alone; read-only once shown.
class CorpusTable
{
public:
    explicit CorpusTable(QList<CorpusTableColumn> columns = {});

    const QList<CorpusTableColumn> &columns() const { return m_columns; }
    int columnCount() const { return int(m_columns.size()); }
    qsizetype rowCount() const { return m_rows; }

    /// Adds a row: one text for each text column and one number for each number column, each in
    /// the order of their columns. tone marks the row (a negative keyword: -1).
    void addRow(const QStringList &texts, const std::vector<double> &numbers, int tone = 0);
    void reserve(qsizetype rows);
    /// Ranks the texts of every text column; before ordering by them.
    void rankTexts();

    QString text(qsizetype row, int column) const;
    double number(qsizetype row, int column) const;
    int tone(qsizetype row) const { return m_tones.empty() ? 0 : m_tones[size_t(row)]; }
    /// A cell as Copy and Export write it: the text, or the number with its column's decimals
    /// (C locale, no sign on a zero; a p below 1e-300 as 0).
    QString plainText(qsizetype row, int column) const;
    /// A cell as the table shows it: numbers as the user's language writes them (a p below 1e-300
    /// as "< 1e-300").
    QString shownText(qsizetype row, int column) const;

    /// The widest text a number column shows (of its largest and its least figure, which have
    /// the most digits and a sign), so that a view fits it without formatting every row.
    QString widestShownText(int column) const;

    /// The rows ordered by a column, ties in the tool's order (whichever way the column goes).
    std::vector<qint32> order(int column, bool descending) const;

private:
    struct Column
    {
        std::vector<QString> texts;
        std::vector<double> numbers;
        std::vector<quint32> ranks; // of the texts, once ranked
    };
    QList<CorpusTableColumn> m_columns;
    std::vector<Column> m_cells;
    std::vector<qint8> m_tones; // empty while every row is 0
    qsizetype m_rows = 0;
};

/// The headers and rows (in the order given) as tab-separated text: a header line, then one line
/// per row, CR LF after each: what Copy puts on the clipboard and a .txt or .tsv export holds.
QString tableText(const CorpusTable &table, const std::vector<qint32> &rows);
/// Writes rows of a table to path, through the checked write routine: a workbook for .xlsx,
/// tab-separated text (tableText()) for .txt or .tsv, CSV (RFC 4180, a header line) otherwise.
/// False with error naming the file and the reason.
bool exportTable(const CorpusTable &table, const std::vector<qint32> &rows, const QString &path, QString *error);

} // namespace corvalen
