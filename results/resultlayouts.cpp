#include "results/resultlayouts.h"

#include <QCoreApplication>
#include <QDir>
#include <QIODevice>
#include <QSaveFile>

namespace corvalen {

namespace {

constexpr qsizetype kFlushUnits = 1 << 18; // encode and write in blocks of this many UTF-16 units

void appendCell(QString &out, const ResultTable &table, qsizetype row, int column)
{
    const int countColumn = table.columnCount() - 1;
    if (column == countColumn)
        out += QString::number(table.count(row));
    else if (column == 0 && table.hasFileNameColumn())
        out += table.fileName(row);
    else
        out += table.word(row);
}

void pad(QString &out, qsizetype spaces)
{
    if (spaces > 0)
        out.append(QString(spaces, u' '));
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
        if (m_ok && !m_buffer.isEmpty()) {
            const QByteArray bytes = m_buffer.toUtf8();
            m_ok = m_device.write(bytes) == bytes.size();
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

bool finish(Utf8Writer &writer, QIODevice &device, QString *error)
{
    if (writer.flush())
        return true;
    if (error)
        *error = device.errorString();
    return false;
}

void appendClipboardRow(QString &out, const ResultTable &table, qsizetype row,
                        const QList<qsizetype> &widths)
{
    const int columns = table.columnCount();
    for (int c = 0; c < columns; ++c) {
        appendCell(out, table, row, c);
        pad(out, widths.at(c) - table.cellLength(row, c));
        out += u'\t';
    }
    out.chop(1); // the row's last tab
    while (out.endsWith(u' '))
        out.chop(1);
    out += u"\r\n";
}

template<typename Write>
bool saveAtomically(const QString &path, QString *error, Write &&write)
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

} // namespace

QList<qsizetype> columnWidths(const ResultTable &table, const QStringList &headers)
{
    QList<qsizetype> widths(table.columnCount(), 0);
    for (int c = 0; c < table.columnCount() && c < headers.size(); ++c)
        widths[c] = headers.at(c).size();
    for (qsizetype r = 0; r < table.rowCount(); ++r) {
        for (int c = 0; c < table.columnCount(); ++c)
            widths[c] = std::max(widths.at(c), table.cellLength(r, c));
    }
    return widths;
}

bool writeResultsText(const ResultTable &table, const QStringList &headers, QIODevice &device,
                      QString *error)
{
    const QList<qsizetype> widths = columnWidths(table, headers);
    const int columns = table.columnCount();
    Utf8Writer writer(device);
    QString &out = writer.buffer();
    for (int c = 0; c < columns; ++c) {
        const QString header = headers.value(c);
        out += header;
        pad(out, widths.at(c) - header.size());
        out += u'\t';
    }
    out += u"\r\n";
    for (qsizetype r = 0; r < table.rowCount() && writer.ok(); ++r) {
        for (int c = 0; c < columns; ++c) {
            appendCell(out, table, r, c);
            pad(out, widths.at(c) - table.cellLength(r, c));
            out += u'\t';
        }
        out += u"\r\n";
        writer.maybeFlush();
    }
    out += u"\r\n";
    return finish(writer, device, error);
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
    QString out;
    for (qsizetype r = 0; r < table.rowCount(); ++r)
        appendClipboardRow(out, table, r, widths);
    return out;
}

bool writeClipboardText(const ResultTable &table, QIODevice &device, QString *error)
{
    const QList<qsizetype> widths = columnWidths(table);
    Utf8Writer writer(device);
    for (qsizetype r = 0; r < table.rowCount() && writer.ok(); ++r) {
        appendClipboardRow(writer.buffer(), table, r, widths);
        writer.maybeFlush();
    }
    return finish(writer, device, error);
}

bool saveClipboardText(const ResultTable &table, const QString &path, QString *error)
{
    return saveAtomically(path, error, [&](QIODevice &device, QString *reason) {
        return writeClipboardText(table, device, reason);
    });
}

QString writeErrorText(const QString &path, const QString &reason)
{
    return QCoreApplication::translate("corvalen::Results", "Could not write \"%1\": %2.")
            .arg(QDir::toNativeSeparators(path), reason);
}

} // namespace corvalen
