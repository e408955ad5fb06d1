#include "results/spreadsheetlayout.h"

#include "results/resultlayouts.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QIODevice>
#include <QSaveFile>
#include <QTemporaryFile>

#include <xlsxwriter.h>
#include <zip.h>

namespace corvalen {

namespace {

constexpr double kMaxColumnWidth = 255; // Excel's widest column

QString tr(const char *text)
{
    return QCoreApplication::translate("corvalen::Results", text);
}

// East Asian wide and full-width characters take two character cells.
qsizetype displayWidth(QStringView text)
{
    qsizetype width = 0;
    for (const QChar ch : text) {
        const char16_t c = ch.unicode();
        const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF)
                || (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF)
                || (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60)
                || (c >= 0xFFE0 && c <= 0xFFE6);
        width += wide ? 2 : 1; // a surrogate pair counts 2 by its two units
    }
    return width;
}

// The text of a non-count cell as the spreadsheet receives it.
QString sheetText(QStringView cell, int column)
{
    QString text = cell.toString();
    if (column > 0)
        text.remove(u'=');
    if (text.size() > kCellTextLimit) {
        qsizetype n = kCellTextLimit;
        if (text.at(n - 1).isHighSurrogate())
            --n;
        text.truncate(n);
    }
    return text;
}

// Fits a sheet's columns to its headers and cells as they are written.
class SheetWidths
{
public:
    SheetWidths(const QStringList &headers, int columns) : m_headers(headers), m_chars(columns, 0)
    {
        reset();
    }
    void reset()
    {
        for (int c = 0; c < m_chars.size(); ++c)
            m_chars[c] = displayWidth(m_headers.value(c));
    }
    void add(int column, qsizetype chars) { m_chars[column] = std::max(m_chars.at(column), chars); }
    double width(int column) const
    {
        return std::min(kMaxColumnWidth, double(m_chars.at(column)) + 1.0); // one character of margin
    }

private:
    QStringList m_headers;
    QList<qsizetype> m_chars;
};

// Excel's XML has no room for most control characters; it spells them _xHHHH_, and a literal
// "_x" that would read as such an escape gets its "_" escaped in turn.
QByteArray sheetUtf8(const QString &text)
{
    bool needs = false;
    for (const QChar c : text) {
        if ((c.unicode() < 0x20 && c != u'\t' && c != u'\n' && c != u'\r') || c == u'_'
            || c.unicode() == 0xFFFE || c.unicode() == 0xFFFF) {
            needs = true;
            break;
        }
    }
    if (!needs)
        return text.toUtf8();
    QString out;
    out.reserve(text.size() + 16);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        const bool control = (c.unicode() < 0x20 && c != u'\t' && c != u'\n' && c != u'\r')
                || c.unicode() == 0xFFFE || c.unicode() == 0xFFFF;
        bool escapeLike = false;
        if (c == u'_' && i + 6 < text.size() && (text.at(i + 1) == u'x' || text.at(i + 1) == u'X')
            && text.at(i + 6) == u'_') {
            escapeLike = true;
            for (int k = 2; k < 6; ++k)
                escapeLike = escapeLike && isxdigit(text.at(i + k).toLatin1());
        }
        if (control || escapeLike)
            out += u"_x" % QString::number(c.unicode(), 16).rightJustified(4, u'0').toUpper() % u'_';
        else
            out += c;
    }
    return out.toUtf8();
}

QString libraryError(lxw_error e)
{
    return QString::fromUtf8(lxw_strerror(e));
}

// libxlsxwriter does not notice a failed write to its temporary files or to the workbook (a full
// disk gives a truncated workbook and success), so the finished archive is read back: every
// entry must be intact and every sheet complete.
bool verifyWorkbook(const QString &path, int sheets, QString *reason)
{
    int err = 0;
    zip_t *z = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &err);
    if (!z) {
        *reason = tr("the workbook was not written completely");
        return false;
    }
    bool ok = true;
    QByteArray block(1 << 16, Qt::Uninitialized);
    for (int n = 1; n <= sheets && ok; ++n) {
        const QByteArray entry = "xl/worksheets/sheet" + QByteArray::number(n) + ".xml";
        zip_file_t *f = zip_fopen(z, entry.constData(), 0);
        ok = f != nullptr;
        QByteArray tail;
        while (ok) {
            const zip_int64_t got = zip_fread(f, block.data(), zip_uint64_t(block.size()));
            if (got < 0)
                ok = false; // a damaged entry or a wrong checksum
            if (got <= 0)
                break;
            tail = QByteArray(tail + QByteArrayView(block.constData(), qsizetype(got))).right(64);
        }
        if (f)
            zip_fclose(f);
        ok = ok && tail.trimmed().endsWith("</worksheet>");
    }
    zip_close(z);
    if (!ok)
        *reason = tr("the workbook was not written completely");
    return ok;
}

// Builds the workbook at path (which libxlsxwriter creates itself).
bool buildWorkbook(const QString &path, const ResultRows &rows, const QStringList &headers,
                   qsizetype rowsPerSheet, QString *reason)
{
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE; // rows stream to disk: a million rows stay small
    const QByteArray file = QFile::encodeName(path);
    lxw_workbook *book = workbook_new_opt(file.constData(), &options);
    if (!book) {
        *reason = tr("the workbook could not be created");
        return false;
    }
    const int columns = rows.columnCount();
    const int countColumn = columns - 1;
    const bool fileNameColumn = rows.hasFileNameColumn();
    rowsPerSheet = std::max<qsizetype>(1, rowsPerSheet);
    lxw_error failure = LXW_NO_ERROR;
    const auto check = [&failure](lxw_error e) {
        if (e != LXW_NO_ERROR && failure == LXW_NO_ERROR)
            failure = e;
    };
    lxw_worksheet *sheet = nullptr;
    int sheets = 0;
    qsizetype rowsInSheet = 0;
    SheetWidths widths(headers, columns);
    // Column widths go into the sheet when the workbook is closed, so a sheet is fitted once its
    // last row is written: the rows are read only once.
    const auto endSheet = [&] {
        for (int c = 0; c < columns; ++c)
            check(worksheet_set_column(sheet, lxw_col_t(c), lxw_col_t(c), widths.width(c), nullptr));
    };
    const auto startSheet = [&] {
        if (sheet)
            endSheet();
        sheet = workbook_add_worksheet(book, nullptr);
        if (!sheet) {
            check(LXW_ERROR_MEMORY_MALLOC_FAILED);
            return false;
        }
        ++sheets;
        rowsInSheet = 0;
        widths.reset();
        for (int c = 0; c < columns; ++c)
            check(worksheet_write_string(sheet, 0, lxw_col_t(c), sheetUtf8(headers.value(c)).constData(), nullptr));
        return true;
    };
    QString readError;
    const bool read = startSheet() && rows.forEachRow(
            [&](const ResultRow &row) {
                if (rowsInSheet == rowsPerSheet && !startSheet())
                    return false;
                const lxw_row_t sheetRow = lxw_row_t(++rowsInSheet);
                for (int c = 0; c < countColumn; ++c) {
                    const QString text = sheetText(c == 0 && fileNameColumn ? row.fileName : row.word, c);
                    widths.add(c, displayWidth(text));
                    check(worksheet_write_string(sheet, sheetRow, lxw_col_t(c), sheetUtf8(text).constData(), nullptr));
                }
                widths.add(countColumn, decimalLength(row.count));
                check(worksheet_write_number(sheet, sheetRow, lxw_col_t(countColumn), double(row.count), nullptr));
                return failure == LXW_NO_ERROR;
            },
            &readError);
    if (sheet)
        endSheet();
    const lxw_error closed = workbook_close(book); // frees the workbook in every case
    check(closed);
    if (failure != LXW_NO_ERROR) {
        *reason = libraryError(failure);
        return false;
    }
    if (!read) {
        *reason = readError;
        return false;
    }
    return verifyWorkbook(path, sheets, reason);
}

bool copyInto(const QString &from, QIODevice &to, QString *reason)
{
    QFile in(from);
    if (!in.open(QIODevice::ReadOnly)) {
        *reason = in.errorString();
        return false;
    }
    QByteArray block(1 << 20, Qt::Uninitialized);
    for (;;) {
        const qint64 n = in.read(block.data(), block.size());
        if (n < 0) {
            *reason = in.errorString();
            return false;
        }
        if (n == 0)
            return true;
        if (to.write(block.constData(), n) != n) {
            *reason = to.errorString();
            return false;
        }
    }
}

// A name for libxlsxwriter to write to, reserved in folder.
bool reserveTemporary(QTemporaryFile &temp, const QString &folder, QString *reason)
{
    temp.setFileTemplate(QDir(folder).filePath(QStringLiteral(".corvalen-XXXXXX.xlsx")));
    if (!temp.open()) {
        *reason = temp.errorString();
        return false;
    }
    temp.close(); // the name stays reserved until temp is destroyed
    return true;
}

} // namespace

bool saveResultsSpreadsheet(const ResultRows &rows, const QStringList &headers,
                            const QString &path, QString *error, qsizetype rowsPerSheet)
{
    QString reason;
    QTemporaryFile temp;
    bool ok = reserveTemporary(temp, QFileInfo(path).absolutePath(), &reason)
            && buildWorkbook(temp.fileName(), rows, headers, rowsPerSheet, &reason);
    if (ok) {
        QSaveFile out(path);
        ok = out.open(QIODevice::WriteOnly);
        if (!ok)
            reason = out.errorString();
        if (ok && !copyInto(temp.fileName(), out, &reason)) {
            out.cancelWriting();
            ok = false;
        }
        if (ok && !out.commit()) {
            reason = out.errorString();
            ok = false;
        }
    }
    if (!ok && error)
        *error = writeErrorText(path, reason);
    return ok;
}

bool saveResultsSpreadsheet(const ResultTable &table, const QStringList &headers,
                            const QString &path, QString *error, qsizetype rowsPerSheet)
{
    return saveResultsSpreadsheet(TableRows(table), headers, path, error, rowsPerSheet);
}

bool writeResultsSpreadsheet(const ResultTable &table, const QStringList &headers,
                             QIODevice &device, QString *error, qsizetype rowsPerSheet)
{
    QString reason;
    QTemporaryFile temp;
    const bool ok = reserveTemporary(temp, QDir::tempPath(), &reason)
            && buildWorkbook(temp.fileName(), TableRows(table), headers, rowsPerSheet, &reason)
            && copyInto(temp.fileName(), device, &reason);
    if (!ok && error)
        *error = reason;
    return ok;
}

} // namespace corvalen
