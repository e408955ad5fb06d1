#include "workbench/wordlistexport.h"

#include "base/figures.h"
#include "base/safefile.h"
#include "results/resultlayouts.h"
#include "results/spreadsheetlayout.h"
#include "workbench/wordlistdispersion.h"
#include "workbench/wordlistmodel.h"

#include <QFileInfo>
#include <QIODevice>

#include <cmath>
#include <functional>
#include <optional>

namespace corvalen {

namespace {

constexpr qsizetype kBlock = 1 << 16; // characters gathered before they are written

// A tab or line end inside a cell would break its row.
QString oneLine(QString text)
{
    for (QChar &ch : text) {
        if (ch == u'\t' || ch == u'\n' || ch == u'\r')
            ch = u' ';
    }
    return text;
}

QString figure(double value, int decimals)
{
    return std::isnan(value) ? QString() : fixedFigure(value, decimals);
}

} // namespace

WordListExport::WordListExport(const WordListModel &model, std::vector<qint32> rows)
    : m_index(model.sharedIndex()),
      m_table(model.table()),
      m_dispersion(model.hasDispersionColumns() ? model.sharedDispersion() : nullptr),
      m_rows(std::move(rows)),
      m_fileName(model.hasFileNameColumn()),
      m_files(model.hasFilesColumn())
{
    for (int c = 0; c < model.columnCount(); ++c)
        m_headers << model.headerData(c, Qt::Horizontal).toString();
}

int WordListExport::columnCount() const
{
    return (m_fileName ? 3 : 2) + (m_files ? 1 : 0) + (m_dispersion ? 3 : 0);
}

bool WordListExport::isNumber(int column) const
{
    return column >= (m_fileName ? 2 : 1);
}

void WordListExport::cells(qint32 row, QStringList &out) const
{
    out.clear();
    if (m_fileName)
        out << oneLine(m_table->fileName(row));
    out << oneLine(m_table->word(row)) << QString::number(m_table->count(row));
    if (m_files)
        out << QString::number(m_table->files(row));
    if (m_dispersion) {
        const auto r = size_t(row);
        out << figure(m_dispersion->perMillion[r], 3) << figure(m_dispersion->juillandD[r], 4)
            << figure(m_dispersion->dp[r], 4);
    }
}

QString WordListExport::text() const
{
    QString out;
    QStringList row;
    for (const qint32 r : m_rows) {
        cells(r, row);
        out += row.join(u'\t');
        out += u"\r\n";
    }
    return out;
}

bool WordListExport::writeRows(QIODevice &device, QString out,
                               const std::function<void(QString &, const QStringList &)> &appendRow) const
{
    QStringList row;
    for (const qint32 r : m_rows) {
        cells(r, row);
        appendRow(out, row);
        out += u"\r\n";
        if (out.size() >= kBlock) {
            if (!writeAll(device, out.toUtf8()))
                return false;
            out.clear();
        }
    }
    return writeAll(device, out.toUtf8());
}

bool WordListExport::writeText(QIODevice &device) const
{
    return writeRows(device, QString(), [](QString &out, const QStringList &row) { out += row.join(u'\t'); });
}

bool WordListExport::writeCsv(QIODevice &device) const
{
    QString header = m_fileName ? u"file,word,count"_qs : u"word,count"_qs;
    if (m_files)
        header += u",files";
    if (m_dispersion)
        header += u",per_million,juilland_d,dp";
    header += u"\r\n";
    return writeRows(device, header, [](QString &out, const QStringList &row) {
        for (qsizetype c = 0; c < row.size(); ++c) {
            if (c > 0)
                out += u',';
            appendCsvField(out, row.at(c));
        }
    });
}

namespace {

// The rows as a workbook reads them: numbers as the other exports write them.
class ExportSheetRows : public SheetRows
{
public:
    using CellsOf = std::function<void(qint32 row, QStringList &out)>;
    ExportSheetRows(const std::vector<qint32> &rows, CellsOf cellsOf) : m_rows(rows), m_cellsOf(std::move(cellsOf)) { }
    qsizetype rowCount() const override { return qsizetype(m_rows.size()); }
    QString text(qsizetype row, int column) const override
    {
        // A workbook asks for the cells of a row one after another: the row is spelled out once.
        if (row != m_cached) {
            m_cellsOf(m_rows[size_t(row)], m_cells);
            m_cached = row;
        }
        return m_cells.value(column);
    }
    std::optional<double> number(qsizetype row, int column) const override
    {
        const QString cell = text(row, column);
        if (cell.isEmpty())
            return std::nullopt;
        return cell.toDouble();
    }

private:
    const std::vector<qint32> &m_rows;
    CellsOf m_cellsOf;
    mutable QStringList m_cells;
    mutable qsizetype m_cached = -1;
};

} // namespace

bool WordListExport::exportTo(const QString &path, QString *error) const
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == u"xlsx") {
        QList<SheetColumn> columns;
        for (int c = 0; c < columnCount(); ++c) {
            QString format;
            if (m_dispersion && c >= columnCount() - 3)
                format = c == columnCount() - 3 ? u"0.000"_qs : u"0.0000"_qs;
            columns.append({m_headers.value(c), isNumber(c), format});
        }
        const ExportSheetRows rows(m_rows, [this](qint32 row, QStringList &out) { cells(row, out); });
        return saveSheetSpreadsheet(columns, rows, path, error);
    }
    const bool tabs = suffix == u"txt" || suffix == u"tsv";
    return writeFileSafely(
            path, [&](QIODevice &device, QString *) { return tabs ? writeText(device) : writeCsv(device); }, error);
}

} // namespace corvalen
