#include "corpus/tableoutput.h"

#include "base/safefile.h"
#include "results/resultlayouts.h"

#include <QIODevice>

namespace corvalen {

TableCell TableCell::fixed(double value, int decimals)
{
    QString text = QString::number(value, 'f', decimals);
    if (text.startsWith(u'-') && text.count(u'0') == text.size() - 2) // "-0.000": no sign for nothing
        text.remove(0, 1);
    return {Kind::Number, text};
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
bool TableWriter::write(const QString &text)
{
    m_buffer += text.toUtf8();
    if (m_buffer.size() < (1 << 16))
        return true;
    const bool ok = writeAll(m_device, m_buffer);
    m_buffer.clear();
    return ok;
}

QString TableWriter::start()
{
    QString line;
    if (m_started)
        return line;
    m_started = true;
    if (m_format == TableFormat::Csv) {
        for (qsizetype c = 0; c < m_columns.size(); ++c) {
            if (c > 0)
                line += u',';
            appendCsvField(line, m_columns.at(c));
        }
        line += u"\r\n";
    } else if (m_format == TableFormat::Json) {
        line += u'[';
    }
    return line;
}

bool TableWriter::row(const std::vector<TableCell> &cells)
{
    QString line = start();
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
                QString text = cells[c].text;
                for (QChar &ch : text) {
                    if (ch == u'\t' || ch == u'\n' || ch == u'\r')
                        ch = u' ';
                }
                line += text;
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
    return write(line);
}

bool TableWriter::finish()
{
    QString rest = start(); // a table without rows: its header (csv), an empty array (json)
    if (m_format == TableFormat::Json)
        rest += m_any ? u"\n]\n"_qs : u"]\n"_qs;
    m_buffer += rest.toUtf8();
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
