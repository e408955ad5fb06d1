#pragma once

#include <QString>
#include <QStringList>

#include <vector>

class QIODevice;

namespace corvalen {

/// How the corpus commands write their tables.
enum class TableFormat { Tsv, Csv, Json };

/// One cell of a table: text, a number (its decimal text, written as a JSON number), nothing (an
/// empty field, JSON null) or a list of numbers (separated by spaces, a JSON array).
struct TableCell
{
    enum class Kind { Text, Number, None, Numbers };
    Kind kind = Kind::None;
    QString text;

    static TableCell textCell(QString t) { return {Kind::Text, std::move(t)}; }
    static TableCell number(QString decimal) { return {Kind::Number, std::move(decimal)}; }
    static TableCell number(qint64 n) { return {Kind::Number, QString::number(n)}; }
    /// A number with a fixed number of decimals; no sign when it rounds to zero.
    static TableCell fixed(double value, int decimals);
    /// A number in scientific notation with that many decimals ("1.23457e-05", as printf's %e).
    static TableCell scientific(double value, int decimals);
    /// A p value: scientific notation, and 0 below kLeastProbability (base/figures.h).
    static TableCell probability(double p, int decimals);
    static TableCell none() { return {Kind::None, {}}; }
    static TableCell numbers(const std::vector<qint64> &list);
};

/// Writes a table row by row as UTF-8: tab-separated without a header (tsv), comma-separated with
/// a header line and CR LF (csv, RFC 4180), or one JSON array of objects keyed by the column names.
/// Rows go to the device in blocks; finish() writes the rest (and ends the JSON array): a table is
/// complete only once it returned true.
class TableWriter
{
public:
    TableWriter(QIODevice &device, TableFormat format, QStringList columns);

    bool row(const std::vector<TableCell> &cells);
    bool finish();

private:
    bool flushIfFull();
    void start();

    QIODevice &m_device;
    TableFormat m_format;
    QStringList m_columns;
    QString m_line;     // the rows since the last block was encoded
    QByteArray m_buffer; // encoded, not yet written
    bool m_started = false;
    bool m_any = false;
};

/// The format a command's --format value names; false for an unknown one.
bool tableFormatFromName(const QString &name, TableFormat *format);

} // namespace corvalen
