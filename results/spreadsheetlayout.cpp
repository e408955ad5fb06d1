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
int displayWidth(QStringView text)
{
    int width = 0;
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
QString sheetText(const ResultTable &table, qsizetype row, int column)
{
    QString text = column == 0 && table.hasFileNameColumn() ? table.fileName(row) : table.word(row);
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
bool buildWorkbook(const QString &path, const ResultTable &table, const QStringList &headers,
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
    const int columns = table.columnCount();
    const int countColumn = columns - 1;
    rowsPerSheet = std::max<qsizetype>(1, rowsPerSheet);
    lxw_error failure = LXW_NO_ERROR;
    const auto check = [&failure](lxw_error e) {
        if (e != LXW_NO_ERROR && failure == LXW_NO_ERROR)
            failure = e;
    };
    qsizetype first = 0;
    do {
        lxw_worksheet *sheet = workbook_add_worksheet(book, nullptr);
        if (!sheet) {
            check(LXW_ERROR_MEMORY_MALLOC_FAILED);
            break;
        }
        const qsizetype count = std::min(rowsPerSheet, table.rowCount() - first);
        const QList<double> widths = spreadsheetColumnWidths(table, headers, first, count);
        for (int c = 0; c < columns; ++c)
            check(worksheet_set_column(sheet, lxw_col_t(c), lxw_col_t(c), widths.at(c), nullptr));
        for (int c = 0; c < columns; ++c)
            check(worksheet_write_string(sheet, 0, lxw_col_t(c), sheetUtf8(headers.value(c)).constData(), nullptr));
        for (qsizetype i = 0; i < count && failure == LXW_NO_ERROR; ++i) {
            const qsizetype r = first + i;
            const lxw_row_t sheetRow = lxw_row_t(i + 1);
            for (int c = 0; c < columns; ++c) {
                if (c == countColumn)
                    check(worksheet_write_number(sheet, sheetRow, lxw_col_t(c), double(table.count(r)), nullptr));
                else
                    check(worksheet_write_string(sheet, sheetRow, lxw_col_t(c),
                                                 sheetUtf8(sheetText(table, r, c)).constData(), nullptr));
            }
        }
        first += count;
    } while (first < table.rowCount() && failure == LXW_NO_ERROR);
    const lxw_error closed = workbook_close(book); // frees the workbook in every case
    check(closed);
    if (failure != LXW_NO_ERROR) {
        *reason = libraryError(failure);
        return false;
    }
    const int sheets = int(std::max<qsizetype>(1, (table.rowCount() + rowsPerSheet - 1) / rowsPerSheet));
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

QList<double> spreadsheetColumnWidths(const ResultTable &table, const QStringList &headers,
                                      qsizetype first, qsizetype count)
{
    const int columns = table.columnCount();
    QList<int> chars(columns, 0);
    for (int c = 0; c < columns; ++c)
        chars[c] = displayWidth(headers.value(c));
    for (qsizetype r = first; r < first + count; ++r) {
        for (int c = 0; c < columns; ++c) {
            const int w = c == columns - 1 ? int(table.cellLength(r, c))
                                           : displayWidth(sheetText(table, r, c));
            chars[c] = std::max(chars.at(c), w);
        }
    }
    QList<double> widths;
    for (int c = 0; c < columns; ++c)
        widths << std::min(kMaxColumnWidth, chars.at(c) + 1.0); // one character of margin
    return widths;
}

bool saveResultsSpreadsheet(const ResultTable &table, const QStringList &headers,
                            const QString &path, QString *error, qsizetype rowsPerSheet)
{
    QString reason;
    QTemporaryFile temp;
    bool ok = reserveTemporary(temp, QFileInfo(path).absolutePath(), &reason)
            && buildWorkbook(temp.fileName(), table, headers, rowsPerSheet, &reason);
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

bool writeResultsSpreadsheet(const ResultTable &table, const QStringList &headers,
                             QIODevice &device, QString *error, qsizetype rowsPerSheet)
{
    QString reason;
    QTemporaryFile temp;
    const bool ok = reserveTemporary(temp, QDir::tempPath(), &reason)
            && buildWorkbook(temp.fileName(), table, headers, rowsPerSheet, &reason)
            && copyInto(temp.fileName(), device, &reason);
    if (!ok && error)
        *error = reason;
    return ok;
}

} // namespace corvalen
