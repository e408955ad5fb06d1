#include "workbench/corpustable.h"

#include "base/figures.h"
#include "base/safefile.h"
#include "corpus/collation.h"
#include "corpus/tableoutput.h"
#include "results/spreadsheetlayout.h"

#include <QFileInfo>
#include <QIODevice>
#include <QLocale>

#include <algorithm>
#include <cmath>

namespace corvalen {

CorpusTable::CorpusTable(QList<CorpusTableColumn> columns)
    : m_columns(std::move(columns)), m_cells(size_t(m_columns.size()))
{
}

void CorpusTable::reserve(qsizetype rows)
{
    for (int c = 0; c < columnCount(); ++c) {
        if (m_columns.at(c).isNumber())
            m_cells[size_t(c)].numbers.reserve(size_t(rows));
        else
            m_cells[size_t(c)].texts.reserve(size_t(rows));
    }
}

void CorpusTable::addRow(const QStringList &texts, const std::vector<double> &numbers, int tone)
{
    qsizetype t = 0;
    size_t n = 0;
    for (int c = 0; c < columnCount(); ++c) {
        if (m_columns.at(c).isNumber())
            m_cells[size_t(c)].numbers.push_back(n < numbers.size() ? numbers[n++] : 0.0);
        else
            m_cells[size_t(c)].texts.push_back(texts.value(t++));
    }
    // The tones are kept from the first row that has one, the rows before it at 0.
    if (tone != 0 || !m_tones.empty()) {
        m_tones.resize(size_t(m_rows), 0);
        m_tones.push_back(qint8(tone));
    }
    ++m_rows;
}

void CorpusTable::rankTexts()
{
    for (int c = 0; c < columnCount(); ++c) {
        Column &column = m_cells[size_t(c)];
        if (m_columns.at(c).isNumber() || !column.ranks.empty())
            continue;
        QStringList texts;
        texts.reserve(qsizetype(column.texts.size()));
        for (const QString &text : column.texts)
            texts.append(text);
        column.ranks = collationRanks(texts);
    }
}

QString CorpusTable::text(qsizetype row, int column) const
{
    const Column &c = m_cells[size_t(column)];
    return c.texts.empty() ? QString() : c.texts[size_t(row)];
}

double CorpusTable::number(qsizetype row, int column) const
{
    const Column &c = m_cells[size_t(column)];
    return c.numbers.empty() ? 0.0 : c.numbers[size_t(row)];
}

QString CorpusTable::plainText(qsizetype row, int column) const
{
    const CorpusTableColumn &c = m_columns.at(column);
    switch (c.kind) {
    case CorpusTableColumn::Kind::Text:
        return text(row, column);
    case CorpusTableColumn::Kind::Count:
        return QString::number(qint64(number(row, column)));
    case CorpusTableColumn::Kind::Decimal:
        return fixedFigure(number(row, column), c.decimals);
    case CorpusTableColumn::Kind::Probability:
        return probabilityFigure(number(row, column), c.decimals);
    }
    return {};
}

QString CorpusTable::shownText(qsizetype row, int column) const
{
    const CorpusTableColumn &c = m_columns.at(column);
    const QLocale locale;
    switch (c.kind) {
    case CorpusTableColumn::Kind::Text:
        return text(row, column);
    case CorpusTableColumn::Kind::Count:
        return locale.toString(qint64(number(row, column)));
    case CorpusTableColumn::Kind::Decimal:
        return fixedFigure(locale, number(row, column), c.decimals);
    case CorpusTableColumn::Kind::Probability:
        return probabilityFigure(locale, number(row, column), c.decimals);
    }
    return {};
}

QString CorpusTable::widestShownText(int column) const
{
    const CorpusTableColumn &c = m_columns.at(column);
    const std::vector<double> &numbers = m_cells[size_t(column)].numbers;
    if (!c.isNumber() || numbers.empty())
        return {};
    const QLocale locale;
    // The least p a row shows as a number has the longest exponent.
    double most = -HUGE_VAL, least = HUGE_VAL, leastProbability = HUGE_VAL;
    for (const double v : numbers) {
        most = std::max(most, v);
        least = std::min(least, v);
        if (v >= kLeastProbability)
            leastProbability = std::min(leastProbability, v);
    }
    QStringList candidates;
    switch (c.kind) {
    case CorpusTableColumn::Kind::Text:
        break;
    case CorpusTableColumn::Kind::Count:
        candidates << locale.toString(qint64(most)) << locale.toString(qint64(least));
        break;
    case CorpusTableColumn::Kind::Decimal:
        candidates << fixedFigure(locale, most, c.decimals) << fixedFigure(locale, least, c.decimals);
        break;
    case CorpusTableColumn::Kind::Probability:
        candidates << probabilityFigure(locale, least, c.decimals) << probabilityFigure(locale, most, c.decimals);
        if (leastProbability < HUGE_VAL)
            candidates << probabilityFigure(locale, leastProbability, c.decimals);
        break;
    }
    QString widest;
    for (const QString &text : std::as_const(candidates)) {
        if (text.size() > widest.size())
            widest = text;
    }
    return widest;
}

std::vector<qint32> CorpusTable::order(int column, bool descending) const
{
    std::vector<qint32> rows(static_cast<size_t>(m_rows));
    for (qint32 r = 0; r < qint32(m_rows); ++r)
        rows[size_t(r)] = r;
    if (column < 0 || column >= columnCount())
        return rows;
    const Column &c = m_cells[size_t(column)];
    // Stable either way: rows that tie keep the tool's order.
    if (m_columns.at(column).isNumber()) {
        // NaN (never expected) sorts as the least.
        const auto key = [&](qint32 r) {
            const double v = c.numbers[size_t(r)];
            return std::isnan(v) ? -HUGE_VAL : v;
        };
        if (descending)
            std::stable_sort(rows.begin(), rows.end(), [&](qint32 a, qint32 b) { return key(a) > key(b); });
        else
            std::stable_sort(rows.begin(), rows.end(), [&](qint32 a, qint32 b) { return key(a) < key(b); });
    } else if (!c.ranks.empty()) {
        if (descending)
            std::stable_sort(rows.begin(), rows.end(), [&](qint32 a, qint32 b) { return c.ranks[size_t(a)] > c.ranks[size_t(b)]; });
        else
            std::stable_sort(rows.begin(), rows.end(), [&](qint32 a, qint32 b) { return c.ranks[size_t(a)] < c.ranks[size_t(b)]; });
    }
    return rows;
}

namespace {

// A tab or line end inside a cell would break its row: shown as a space.
QString oneLine(QString text)
{
    for (QChar &ch : text) {
        if (ch == u'\t' || ch == u'\n' || ch == u'\r')
            ch = u' ';
    }
    return text;
}

QString headerLine(const CorpusTable &table)
{
    QString out;
    for (int c = 0; c < table.columnCount(); ++c)
        out += (c ? u"\t" : u"") + oneLine(table.columns().at(c).header);
    return out + u"\r\n";
}

void appendRowLine(QString &out, const CorpusTable &table, qint32 row)
{
    for (int c = 0; c < table.columnCount(); ++c)
        out += (c ? u"\t" : u"") + oneLine(table.plainText(row, c));
    out += u"\r\n";
}

} // namespace

QString tableText(const CorpusTable &table, const std::vector<qint32> &rows)
{
    QString out = headerLine(table);
    for (const qint32 r : rows)
        appendRowLine(out, table, r);
    return out;
}

namespace {

// The rows of a table as a workbook reads them: numbers as their cells show them.
class TableSheetRows : public SheetRows
{
public:
    TableSheetRows(const CorpusTable &table, const std::vector<qint32> &rows) : m_table(table), m_rows(rows) { }
    qsizetype rowCount() const override { return qsizetype(m_rows.size()); }
    QString text(qsizetype row, int column) const override { return m_table.plainText(m_rows[size_t(row)], column); }
    std::optional<double> number(qsizetype row, int column) const override
    {
        // The value as shown: the workbook holds what the other exports write.
        return text(row, column).toDouble();
    }

private:
    const CorpusTable &m_table;
    const std::vector<qint32> &m_rows;
};

} // namespace

bool exportTable(const CorpusTable &table, const std::vector<qint32> &rows, const QString &path, QString *error)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == u"xlsx") {
        QList<SheetColumn> columns;
        for (const CorpusTableColumn &c : table.columns()) {
            QString format;
            if (c.kind == CorpusTableColumn::Kind::Decimal)
                format = u"0."_qs + QString(c.decimals, u'0');
            else if (c.kind == CorpusTableColumn::Kind::Probability)
                // A p written as 0 (below 1e-300) shows as 0, as the other exports write it.
                format = u"[=0]0;0."_qs + QString(c.decimals, u'0') + u"E+00"_qs;
            columns.append({c.header, c.isNumber(), format});
        }
        return saveSheetSpreadsheet(columns, TableSheetRows(table, rows), path, error);
    }
    const bool tabs = suffix == u"txt" || suffix == u"tsv";
    return writeFileSafely(
            path,
            [&](QIODevice &device, QString *) {
                if (tabs) {
                    // In blocks: a table of a hundred thousand rows is not one string.
                    QString text = headerLine(table);
                    for (const qint32 r : rows) {
                        appendRowLine(text, table, r);
                        if (text.size() >= (1 << 16)) {
                            if (!writeAll(device, text.toUtf8()))
                                return false;
                            text.clear();
                        }
                    }
                    return writeAll(device, text.toUtf8());
                }
                QStringList headers;
                for (const CorpusTableColumn &c : table.columns())
                    headers << c.header;
                TableWriter writer(device, TableFormat::Csv, headers);
                std::vector<TableCell> cells(size_t(table.columnCount()));
                for (const qint32 r : rows) {
                    for (int c = 0; c < table.columnCount(); ++c)
                        cells[size_t(c)] = table.columns().at(c).isNumber() ? TableCell::number(table.plainText(r, c))
                                                                            : TableCell::textCell(table.plainText(r, c));
                    if (!writer.row(cells))
                        return false;
                }
                return writer.finish();
            },
            error);
}

} // namespace corvalen
