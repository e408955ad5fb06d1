#include "corpus/tableoutput.h"

#include "base/figures.h"
#include "base/safefile.h"
#include "results/resultlayouts.h"

#include <QIODevice>

#include <algorithm>

namespace corvalen {

TableCell TableCell::fixed(double value, int decimals)
{
    return {Kind::Number, fixedFigure(value, decimals)};
}

TableCell TableCell::scientific(double value, int decimals)
{
    return {Kind::Number, scientificFigure(value, decimals)};
}

TableCell TableCell::probability(double p, int decimals)
{
    return {Kind::Number, probabilityFigure(p, decimals)};
}

TableCell TableCell::numbers(const std::vector<qint64> &list)
{
    QString text;
    for (size_t i = 0; i < list.size(); ++i) {
        if (i > 0)
            text += u' ';
        text += QString::number(list[i]);
    }
    return {Kind::Numbers, text};
}

TableWriter::TableWriter(QIODevice &device, TableFormat format, QStringList columns)
    : m_device(device), m_format(format), m_columns(std::move(columns))
{
}

// Rows are gathered into blocks: the device may write through to the system row by row.
bool TableWriter::flushIfFull()
{
    if (m_line.size() < (1 << 15))
        return true;
    m_buffer += m_line.toUtf8();
    m_line.resize(0); // keeps its room for the next rows
    if (m_buffer.size() < (1 << 16))
        return true;
    const bool ok = writeAll(m_device, m_buffer);
    m_buffer.clear();
    return ok;
}

void TableWriter::start()
{
    if (m_started)
        return;
    m_started = true;
    if (m_format == TableFormat::Csv) {
        for (qsizetype c = 0; c < m_columns.size(); ++c) {
            if (c > 0)
                m_line += u',';
            appendCsvField(m_line, m_columns.at(c));
        }
        m_line += u"\r\n";
    } else if (m_format == TableFormat::Json) {
        m_line += u'[';
    }
}

bool TableWriter::row(const std::vector<TableCell> &cells)
{
    start();
    QString &line = m_line;
    switch (m_format) {
    case TableFormat::Tsv:
    case TableFormat::Csv:
        for (size_t c = 0; c < cells.size(); ++c) {
            if (c > 0)
                line += m_format == TableFormat::Tsv ? u'\t' : u',';
            if (m_format == TableFormat::Csv) {
                appendCsvField(line, cells[c].text);
            } else {
                // A tab or a line end inside a cell would break the row: shown as a space.
                const qsizetype from = line.size();
                line += cells[c].text;
                for (QChar *ch = line.data() + from, *end = line.data() + line.size(); ch != end; ++ch) {
                    if (*ch == u'\t' || *ch == u'\n' || *ch == u'\r')
                        *ch = u' ';
                }
            }
        }
        line += m_format == TableFormat::Tsv ? u"\n"_qs : u"\r\n"_qs;
        break;
    case TableFormat::Json:
        line += m_any ? u",\n  {"_qs : u"\n  {"_qs;
        for (size_t c = 0; c < cells.size() && qsizetype(c) < m_columns.size(); ++c) {
            if (c > 0)
                line += u", ";
            appendJsonString(line, m_columns.at(qsizetype(c)));
            line += u": ";
            switch (cells[c].kind) {
            case TableCell::Kind::Text:
                appendJsonString(line, cells[c].text);
                break;
            case TableCell::Kind::Number:
                line += cells[c].text;
                break;
            case TableCell::Kind::None:
                line += u"null";
                break;
            case TableCell::Kind::Numbers:
                line += u'[' + QString(cells[c].text).replace(u' ', u", "_qs) + u']';
                break;
            }
        }
        line += u'}';
        break;
    }
    m_any = true;
    return flushIfFull();
}

bool TableWriter::finish()
{
    start(); // a table without rows: its header (csv), an empty array (json)
    if (m_format == TableFormat::Json)
        m_line += m_any ? u"\n]\n"_qs : u"]\n"_qs;
    m_buffer += m_line.toUtf8();
    m_line.clear();
    const bool ok = writeAll(m_device, m_buffer);
    m_buffer.clear();
    return ok;
}

bool tableFormatFromName(const QString &name, TableFormat *format)
{
    if (name == u"tsv")
        *format = TableFormat::Tsv;
    else if (name == u"csv")
        *format = TableFormat::Csv;
    else if (name == u"json")
        *format = TableFormat::Json;
    else
        return false;
    return true;
}

} // namespace corvalen
