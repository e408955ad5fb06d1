#include "results/resultlayouts.h"

#include "base/safefile.h"
#include "engine/twohalves.h"
#include "engine/utf8.h"

#include <QIODevice>

#include <algorithm>
#include <cstring>
#include <exception>
#include <thread>

namespace corvalen {

namespace {

constexpr qsizetype kFlushUnits = 1 << 18; // encode and write in blocks of this many UTF-16 units

// A row's cells as text, the count rendered into a buffer of its own: tens of millions of rows
// must not cost an allocation each.
class RowCells
{
public:
    RowCells(const ResultRow &row, bool fileNameColumn, bool filesColumn)
    {
        if (fileNameColumn)
            m_cells[m_size++] = row.fileName;
        if (row.wordUtf8.data()) {
            m_utf8Column = m_size;
            m_utf8 = row.wordUtf8;
            m_utf8Units = row.wordUnits;
        }
        m_cells[m_size++] = row.word;
        m_cells[m_size++] = decimal(row.count, m_digits);
        if (filesColumn)
            m_cells[m_size++] = decimal(row.files, m_fileDigits);
        m_forms = row.forms;
    }
    RowCells(const RowCells &) = delete; // m_cells points into m_digits
    RowCells &operator=(const RowCells &) = delete;

    int size() const { return m_size; }
    QStringView at(int column) const { return m_cells[column]; }
    // The column whose text is given in UTF-8 instead (utf8()), or -1.
    int utf8Column() const { return m_utf8Column; }
    QByteArrayView utf8() const { return m_utf8; }
    // The length of a cell in UTF-16 code units.
    qsizetype units(int column) const { return column == m_utf8Column ? m_utf8Units : m_cells[column].size(); }
    const std::vector<WordCount> *forms() const { return m_forms; }

private:
    static QStringView decimal(qint64 n, char16_t (&digits)[24])
    {
        char16_t *end = digits + std::size(digits);
        char16_t *p = end;
        // The magnitude without overflow, the smallest qint64 included.
        quint64 v = n < 0 ? quint64(-(n + 1)) + 1 : quint64(n);
        do {
            *--p = char16_t(u'0' + v % 10);
            v /= 10;
        } while (v != 0);
        if (n < 0)
            *--p = u'-';
        return QStringView(p, end - p);
    }

    char16_t m_digits[24];
    char16_t m_fileDigits[24];
    QStringView m_cells[4];
    int m_size = 0;
    int m_utf8Column = -1;
    QByteArrayView m_utf8;
    qsizetype m_utf8Units = 0;
    const std::vector<WordCount> *m_forms = nullptr;
};

void appendPadded(QString &out, QStringView text, qsizetype width)
{
    out += text;
    if (width > text.size()) {
        const qsizetype at = out.size();
        out.resize(at + width - text.size());
        std::fill(out.begin() + at, out.end(), u' ');
    }
}

// Collects text and hands it to the device as UTF-8 in blocks, remembering the first failure.
class Utf8Writer
{
public:
    explicit Utf8Writer(QIODevice &device) : m_device(device) { m_buffer.reserve(kFlushUnits + 4096); }

    QString &buffer() { return m_buffer; }
    void maybeFlush()
    {
        if (m_buffer.size() >= kFlushUnits)
            flush();
    }
    bool flush()
    {
        // In pieces, a surrogate pair never cut: an enormous cell must not need its UTF-8 form
        // whole beside it.
        const QStringView text(m_buffer);
        for (qsizetype at = 0; m_ok && at < text.size();) {
            qsizetype n = std::min(kFlushUnits, text.size() - at);
            if (at + n < text.size() && text.at(at + n - 1).isHighSurrogate())
                --n;
            const QByteArray bytes = text.sliced(at, n).toUtf8();
            m_ok = writeAll(m_device, bytes);
            at += n;
        }
        m_buffer.resize(0); // keeps its capacity: clear() would free it, to be grown again
        return m_ok;
    }
    bool ok() const { return m_ok; }
    // Writes bytes after what the buffer held.
    void write(const QByteArray &bytes)
    {
        if (flush() && !bytes.isEmpty())
            m_ok = writeAll(m_device, bytes);
    }

private:
    QIODevice &m_device;
    QString m_buffer;
    bool m_ok = true;
};

// Rows [from, to) through appendRow (which writes UTF-8 after the used bytes) into bytes, which
// keeps its room from one stretch to the next: fresh memory costs more than the writing into it.
template<typename AppendRow>
void formatRows(const ResultRows &rows, qint64 from, qint64 to, const AppendRow &appendRow, QByteArray &bytes)
{
    const bool fileNameColumn = rows.hasFileNameColumn();
    const bool filesColumn = rows.hasFilesColumn();
    qsizetype used = 0;
    rows.forEachRowInUtf8(from, to, [&](const ResultRow &row) {
        appendRow(bytes, used, RowCells(row, fileNameColumn, filesColumn));
        return true;
    });
    bytes.resize(used);
}

// Rows that can be read apart are made into text in stretches, two at a time on two threads,
// and written in order.
template<typename AppendRow>
void writeRowsApart(const ResultRows &rows, qint64 count, Utf8Writer &writer, const AppendRow &appendRow)
{
    constexpr qint64 kStretch = 1 << 15;
    QByteArray first, second;
    for (qint64 at = 0; at < count && writer.ok(); at += 2 * kStretch) {
        const qint64 middle = std::min(count, at + kStretch);
        const qint64 end = std::min(count, middle + kStretch);
        onTwoThreads([&] { formatRows(rows, middle, end, appendRow, second); },
                     [&] { formatRows(rows, at, middle, appendRow, first); });
        writer.write(first);
        writer.write(second);
    }
}

// Streams the rows through appendRow into the device; the first failure, of the rows or of the
// device, ends the writing and is reported.
template<typename AppendRow>
bool writeRows(const ResultRows &rows, Utf8Writer &writer, QString *error, AppendRow &&appendRow)
{
    const bool fileNameColumn = rows.hasFileNameColumn();
    const bool filesColumn = rows.hasFilesColumn();
    QString readError;
    const bool read = rows.forEachRow(
            [&](const ResultRow &row) {
                appendRow(writer.buffer(), RowCells(row, fileNameColumn, filesColumn));
                writer.maybeFlush();
                return writer.ok();
            },
            &readError);
    if (!read) {
        if (error)
            *error = readError;
        return false;
    }
    return true;
}

bool finish(Utf8Writer &writer, QIODevice &device, QString *error)
{
    if (writer.flush())
        return true;
    if (error)
        *error = device.errorString();
    return false;
}

// A cell's text at p: as it is, or in UTF-8.
char16_t *putCell(char16_t *p, QStringView text)
{
    return std::copy_n(text.utf16(), text.size(), p);
}

char *putCell(char *p, QStringView text)
{
    return putUtf8(p, text);
}

// The most units of Unit (UTF-16 or UTF-8) a padded row takes: up to three bytes a UTF-16 unit,
// the padding and a tab each cell, CR LF.
template<typename Unit>
qsizetype paddedRowRoom(const RowCells &cells, const QList<qsizetype> &widths)
{
    constexpr qsizetype kUnits = sizeof(Unit) == 1 ? 3 : 1;
    qsizetype room = 2;
    for (int c = 0; c < cells.size(); ++c) {
        const qsizetype text = c == cells.utf8Column() ? cells.utf8().size() : kUnits * cells.at(c).size();
        room += text + std::max<qsizetype>(widths.at(c) - cells.units(c), 0) + 1;
    }
    return room;
}

// One row of cells at begin, each padded with spaces to its column's width (in UTF-16 code units)
// and followed by a tab, then CR LF; with lastBare, the last cell is neither padded nor followed by
// a tab, and the row's trailing spaces are dropped. Returns its end. Written in place: rows are
// millions, and appending piece by piece costs more than the text.
template<typename Unit>
Unit *putPaddedRow(Unit *const begin, const RowCells &cells, const QList<qsizetype> &widths, bool lastBare)
{
    Unit *p = begin;
    const int last = cells.size() - 1;
    for (int c = 0; c <= last; ++c) {
        if constexpr (sizeof(Unit) == 1) {
            if (c == cells.utf8Column())
                p = std::copy_n(cells.utf8().data(), cells.utf8().size(), p);
            else
                p = putCell(p, cells.at(c));
        } else {
            p = putCell(p, cells.at(c));
        }
        if (lastBare && c == last)
            break;
        if (widths.at(c) > cells.units(c))
            p = std::fill_n(p, widths.at(c) - cells.units(c), Unit(' '));
        *p++ = Unit('\t');
    }
    if (lastBare) {
        while (p > begin && p[-1] == Unit(' '))
            --p;
    }
    *p++ = Unit('\r');
    *p++ = Unit('\n');
    return p;
}

void appendPaddedRow(QString &out, const RowCells &cells, const QList<qsizetype> &widths, bool lastBare)
{
    const qsizetype start = out.size();
    out.resize(start + paddedRowRoom<char16_t>(cells, widths));
    char16_t *const begin = reinterpret_cast<char16_t *>(out.data()) + start;
    out.truncate(start + (putPaddedRow(begin, cells, widths, lastBare) - begin));
}

// appendPaddedRow() in UTF-8 after out's first used bytes; out grows by doubling and is cut to
// used bytes by the caller.
void appendPaddedRowUtf8(QByteArray &out, qsizetype &used, const RowCells &cells, const QList<qsizetype> &widths,
                         bool lastBare)
{
    const qsizetype room = paddedRowRoom<char>(cells, widths);
    if (out.size() - used < room)
        out.resize(std::max(2 * out.size(), used + room));
    char *const begin = out.data() + used;
    used += putPaddedRow(begin, cells, widths, lastBare) - begin;
}

// Rows padded to widths (see appendPaddedRow()); a long list that can be read apart is written on
// both cores.
bool writePaddedRows(const ResultRows &rows, Utf8Writer &writer, QString *error, const QList<qsizetype> &widths,
                     bool lastBare)
{
    constexpr qint64 kLongList = 1 << 17;
    if (const qint64 count = rows.rowsReadApart(); count >= kLongList) {
        if (writer.flush())
            writeRowsApart(rows, count, writer, [&](QByteArray &out, qsizetype &used, const RowCells &cells) {
                appendPaddedRowUtf8(out, used, cells, widths, lastBare);
            });
        return true; // a failing device is reported by finish()
    }
    return writeRows(rows, writer, error, [&](QString &line, const RowCells &cells) {
        appendPaddedRow(line, cells, widths, lastBare);
    });
}

void appendClipboardRow(QString &out, const RowCells &cells, const QList<qsizetype> &widths)
{
    // The last cell is not padded: a row's trailing spaces are dropped, and rows are millions.
    appendPaddedRow(out, cells, widths, true);
}

} // namespace

void appendCsvField(QString &out, QStringView text)
{
    const bool quoted = std::any_of(text.begin(), text.end(), [](QChar c) {
        return c == u',' || c == u'"' || c == u'\r' || c == u'\n';
    });
    if (!quoted) {
        out += text;
        return;
    }
    out += u'"';
    for (QChar c : text) {
        if (c == u'"')
            out += u'"';
        out += c;
    }
    out += u'"';
}

void appendJsonString(QString &out, QStringView text)
{
    static constexpr char16_t hex[] = u"0123456789abcdef";
    const auto escape = [&out](char16_t u) {
        out += u"\\u";
        for (int shift = 12; shift >= 0; shift -= 4)
            out += QChar(hex[(u >> shift) & 0xf]);
    };
    out += u'"';
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        switch (u) {
        case u'"': out += u"\\\""; break;
        case u'\\': out += u"\\\\"; break;
        case u'\n': out += u"\\n"; break;
        case u'\r': out += u"\\r"; break;
        case u'\t': out += u"\\t"; break;
        case u'\b': out += u"\\b"; break;
        case u'\f': out += u"\\f"; break;
        default:
            if (u < 0x20) {
                escape(u);
            } else if (QChar::isHighSurrogate(u) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
                out += text[i];
                out += text[++i];
            } else if (QChar::isSurrogate(u)) {
                out += u'?'; // as in every other layout: parsers refuse an escaped lone surrogate
            } else {
                out += QChar(u);
            }
        }
    }
    out += u'"';
}

void ResultRows::forEachRowIn(qint64, qint64, const Visit &) const
{
}

bool TableRowSelection::forEachRow(const Visit &visit, QString *) const
{
    for (const qint32 r : m_rows) {
        const QString fileName = m_table.fileName(r);
        const auto forms = m_table.forms(r);
        if (!visit({fileName, m_table.wordView(r), m_table.count(r), forms.get(), m_table.files(r), {}, 0}))
            break;
    }
    return true;
}

bool TableRows::forEachRow(const Visit &visit, QString *) const
{
    forEachRowIn(0, m_table.rowCount(), visit);
    return true;
}

void TableRows::forEachRowIn(qint64 from, qint64 to, const Visit &visit) const
{
    for (qsizetype r = from; r < to; ++r) {
        const QString fileName = m_table.fileName(r);
        const auto forms = m_table.forms(r);
        if (!visit({fileName, m_table.wordView(r), m_table.count(r), forms.get(), m_table.files(r), {}, 0}))
            break;
    }
}

CellWidths::CellWidths(bool fileNameColumn, bool filesColumn)
    : m_fileNameColumn(fileNameColumn),
      m_filesColumn(filesColumn),
      m_widths((fileNameColumn ? 3 : 2) + (filesColumn ? 1 : 0), 0)
{
}

CellWidths CellWidths::of(const ResultRows &rows)
{
    CellWidths widths(rows.hasFileNameColumn(), rows.hasFilesColumn());
    rows.forEachRow(
            [&widths](const ResultRow &row) {
                widths.add(row);
                return true;
            },
            nullptr);
    return widths;
}

void CellWidths::add(const ResultRow &row)
{
    const RowCells cells(row, m_fileNameColumn, m_filesColumn);
    const int wordColumn = m_fileNameColumn ? 1 : 0;
    for (int c = 0; c < cells.size(); ++c) {
        if (c != wordColumn || cells.at(c).size() <= kMaxPaddedWordWidth)
            m_widths[c] = std::max(m_widths.at(c), cells.at(c).size());
    }
}

void CellWidths::add(qsizetype fileNameLength, qsizetype wordLength, qint64 count, qint64 files)
{
    int c = 0;
    const auto widen = [&](qsizetype n) {
        m_widths[c] = std::max(m_widths.at(c), n);
        ++c;
    };
    if (m_fileNameColumn)
        widen(fileNameLength);
    widen(wordLength <= kMaxPaddedWordWidth ? wordLength : 0);
    widen(decimalLength(count));
    if (m_filesColumn)
        widen(decimalLength(files));
}

void CellWidths::add(const CellWidths &other)
{
    for (qsizetype c = 0; c < m_widths.size() && c < other.m_widths.size(); ++c)
        m_widths[c] = std::max(m_widths.at(c), other.m_widths.at(c));
}

QList<qsizetype> CellWidths::withHeaders(const QStringList &headers) const
{
    QList<qsizetype> widths = m_widths;
    for (int c = 0; c < widths.size() && c < headers.size(); ++c)
        widths[c] = std::max(widths.at(c), headers.at(c).size());
    return widths;
}

QList<qsizetype> columnWidths(const ResultTable &table, const QStringList &headers)
{
    return CellWidths::of(TableRows(table)).withHeaders(headers);
}

bool writeResultsText(const ResultRows &rows, const QStringList &headers,
                      const QList<qsizetype> &widths, QIODevice &device, QString *error)
{
    Utf8Writer writer(device);
    QString &out = writer.buffer();
    for (int c = 0; c < rows.columnCount(); ++c) {
        appendPadded(out, headers.value(c), widths.at(c));
        out += u'\t';
    }
    out += u"\r\n";
    const bool read = writePaddedRows(rows, writer, error, widths, false);
    if (!read)
        return false;
    out += u"\r\n";
    return finish(writer, device, error);
}

bool writeResultsText(const ResultTable &table, const QStringList &headers, QIODevice &device,
                      QString *error)
{
    return writeResultsText(TableRows(table), headers, columnWidths(table, headers), device, error);
}

bool saveResultsText(const ResultTable &table, const QStringList &headers, const QString &path,
                     QString *error)
{
    return writeFileSafely(
            path, [&](QIODevice &device, QString *reason) { return writeResultsText(table, headers, device, reason); },
            error);
}

QString clipboardText(const ResultTable &table)
{
    const QList<qsizetype> widths = columnWidths(table);
    const bool fileNameColumn = table.hasFileNameColumn();
    QString out;
    TableRows(table).forEachRow(
            [&](const ResultRow &row) {
                appendClipboardRow(out, RowCells(row, fileNameColumn, false), widths);
                return true;
            },
            nullptr);
    return out;
}

QString clipboardText(const ResultRows &rows)
{
    const QList<qsizetype> widths = CellWidths::of(rows).widths();
    const bool fileNameColumn = rows.hasFileNameColumn();
    const bool filesColumn = rows.hasFilesColumn();
    QString out;
    rows.forEachRow(
            [&](const ResultRow &row) {
                appendClipboardRow(out, RowCells(row, fileNameColumn, filesColumn), widths);
                return true;
            },
            nullptr);
    return out;
}

bool writeClipboardText(const ResultRows &rows, const QList<qsizetype> &widths, QIODevice &device,
                        QString *error)
{
    Utf8Writer writer(device);
    const bool read = writePaddedRows(rows, writer, error, widths, true);
    return read && finish(writer, device, error);
}

bool writeClipboardText(const ResultTable &table, QIODevice &device, QString *error)
{
    return writeClipboardText(TableRows(table), columnWidths(table), device, error);
}

bool saveClipboardText(const ResultTable &table, const QString &path, QString *error)
{
    return writeFileSafely(
            path, [&](QIODevice &device, QString *reason) { return writeClipboardText(table, device, reason); },
            error);
}

bool writeResultsCsv(const ResultRows &rows, QIODevice &device, QString *error)
{
    Utf8Writer writer(device);
    writer.buffer() += rows.hasFileNameColumn() ? u"file,word,count" : u"word,count";
    writer.buffer() += rows.hasFilesColumn() ? u",files\r\n" : u"\r\n";
    const bool read = writeRows(rows, writer, error, [](QString &line, const RowCells &cells) {
        for (int c = 0; c < cells.size(); ++c) {
            if (c > 0)
                line += u',';
            appendCsvField(line, cells.at(c));
        }
        line += u"\r\n";
    });
    return read && finish(writer, device, error);
}

bool writeResultsJson(const ResultRows &rows, QIODevice &device, QString *error)
{
    Utf8Writer writer(device);
    writer.buffer() += u'[';
    bool first = true;
    const bool fileNameColumn = rows.hasFileNameColumn();
    const bool read = writeRows(rows, writer, error, [&](QString &line, const RowCells &cells) {
        line += first ? u"\n" : u",\n";
        first = false;
        int c = 0;
        line += u"  {";
        if (fileNameColumn) {
            line += u"\"file\": ";
            appendJsonString(line, cells.at(c++));
            line += u", ";
        }
        line += u"\"word\": ";
        appendJsonString(line, cells.at(c++));
        line += u", \"count\": ";
        line += cells.at(c++);
        if (c < cells.size()) {
            line += u", \"files\": ";
            line += cells.at(c);
        }
        if (const std::vector<WordCount> *forms = cells.forms()) {
            line += u", \"forms\": {";
            for (size_t f = 0; f < forms->size(); ++f) {
                if (f > 0)
                    line += u", ";
                appendJsonString(line, (*forms)[f].word);
                line += u": ";
                line += QString::number((*forms)[f].count);
            }
            line += u'}';
        }
        line += u'}';
    });
    if (!read)
        return false;
    writer.buffer() += first ? u"]\n" : u"\n]\n";
    return finish(writer, device, error);
}

} // namespace corvalen
