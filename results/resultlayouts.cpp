#include "results/resultlayouts.h"

#include <QCoreApplication>
#include <QDir>
#include <QIODevice>
#include <QSaveFile>

namespace corvalen {

namespace {

constexpr qsizetype kFlushUnits = 1 << 18; // encode and write in blocks of this many UTF-16 units

// A row's cells as text, the count rendered into a buffer of its own: tens of millions of rows
// must not cost an allocation each.
class RowCells
{
public:
    RowCells(const ResultRow &row, bool fileNameColumn)
    {
        if (fileNameColumn)
            m_cells[m_size++] = row.fileName;
        m_cells[m_size++] = row.word;
        m_cells[m_size++] = decimal(row.count);
    }
    RowCells(const RowCells &) = delete; // m_cells points into m_digits
    RowCells &operator=(const RowCells &) = delete;

    int size() const { return m_size; }
    QStringView at(int column) const { return m_cells[column]; }

private:
    QStringView decimal(qint64 n)
    {
        char16_t *end = m_digits + std::size(m_digits);
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
    QStringView m_cells[3];
    int m_size = 0;
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
            m_ok = m_device.write(bytes) == bytes.size();
            at += n;
        }
        m_buffer.clear();
        return m_ok;
    }
    bool ok() const { return m_ok; }

private:
    QIODevice &m_device;
    QString m_buffer;
    bool m_ok = true;
};

// Streams the rows through appendRow into the device; the first failure, of the rows or of the
// device, ends the writing and is reported.
template<typename AppendRow>
bool writeRows(const ResultRows &rows, Utf8Writer &writer, QString *error, AppendRow &&appendRow)
{
    const bool fileNameColumn = rows.hasFileNameColumn();
    QString readError;
    const bool read = rows.forEachRow(
            [&](const ResultRow &row) {
                appendRow(writer.buffer(), RowCells(row, fileNameColumn));
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

void appendClipboardRow(QString &out, const RowCells &cells, const QList<qsizetype> &widths)
{
    for (int c = 0; c < cells.size(); ++c) {
        appendPadded(out, cells.at(c), widths.at(c));
        out += u'\t';
    }
    out.chop(1); // the row's last tab
    while (out.endsWith(u' '))
        out.chop(1);
    out += u"\r\n";
}

} // namespace

bool TableRows::forEachRow(const Visit &visit, QString *) const
{
    for (qsizetype r = 0; r < m_table.rowCount(); ++r) {
        const QString fileName = m_table.fileName(r);
        if (!visit({fileName, m_table.wordView(r), m_table.count(r)}))
            break;
    }
    return true;
}

CellWidths::CellWidths(bool fileNameColumn)
    : m_fileNameColumn(fileNameColumn), m_widths(fileNameColumn ? 3 : 2, 0)
{
}

void CellWidths::add(const ResultRow &row)
{
    const RowCells cells(row, m_fileNameColumn);
    for (int c = 0; c < cells.size(); ++c)
        m_widths[c] = std::max(m_widths.at(c), cells.at(c).size());
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
    CellWidths widths(table.hasFileNameColumn());
    TableRows(table).forEachRow(
            [&widths](const ResultRow &row) {
                widths.add(row);
                return true;
            },
            nullptr);
    return widths.withHeaders(headers);
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
    const bool read = writeRows(rows, writer, error, [&widths](QString &line, const RowCells &cells) {
        for (int c = 0; c < cells.size(); ++c) {
            appendPadded(line, cells.at(c), widths.at(c));
            line += u'\t';
        }
        line += u"\r\n";
    });
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
    return saveAtomically(path, error, [&](QIODevice &device, QString *reason) {
        return writeResultsText(table, headers, device, reason);
    });
}

QString clipboardText(const ResultTable &table)
{
    const QList<qsizetype> widths = columnWidths(table);
    const bool fileNameColumn = table.hasFileNameColumn();
    QString out;
    TableRows(table).forEachRow(
            [&](const ResultRow &row) {
                appendClipboardRow(out, RowCells(row, fileNameColumn), widths);
                return true;
            },
            nullptr);
    return out;
}

bool writeClipboardText(const ResultRows &rows, const QList<qsizetype> &widths, QIODevice &device,
                        QString *error)
{
    Utf8Writer writer(device);
    const bool read = writeRows(rows, writer, error, [&widths](QString &line, const RowCells &cells) {
        appendClipboardRow(line, cells, widths);
    });
    return read && finish(writer, device, error);
}

bool writeClipboardText(const ResultTable &table, QIODevice &device, QString *error)
{
    return writeClipboardText(TableRows(table), columnWidths(table), device, error);
}

bool saveClipboardText(const ResultTable &table, const QString &path, QString *error)
{
    return saveAtomically(path, error, [&](QIODevice &device, QString *reason) {
        return writeClipboardText(table, device, reason);
    });
}

bool saveAtomically(const QString &path, QString *error,
                    const std::function<bool(QIODevice &device, QString *reason)> &write)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = writeErrorText(path, file.errorString());
        return false;
    }
    QString reason;
    if (!write(file, &reason)) {
        file.cancelWriting();
        if (error)
            *error = writeErrorText(path, reason);
        return false;
    }
    if (!file.commit()) {
        if (error)
            *error = writeErrorText(path, file.errorString());
        return false;
    }
    return true;
}

QString writeErrorText(const QString &path, const QString &reason)
{
    return QCoreApplication::translate("corvalen::Results", "Could not write \"%1\": %2.")
            .arg(QDir::toNativeSeparators(path), reason);
}

} // namespace corvalen
