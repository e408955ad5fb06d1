#include "results/spreadsheetlayout.h"

#include "results/resultlayouts.h"

#include "base/safefile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QIODevice>
#include <QLoggingCategory>

#include <cerrno>

#ifdef Q_OS_UNIX
#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <thread>
#include <unistd.h>
#include <utility>
#endif

#include <xlsxwriter.h>
#include <zip.h>

namespace corvalen {

namespace {

Q_LOGGING_CATEGORY(lcResults, "corvalen.results", QtInfoMsg)

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

// libxlsxwriter reports a failed write as its own error code, or not at all (its temporary
// files are written unchecked). It writes through stdio, so the system's reason for a failed
// write is still in errno afterwards; other errno values may be left over from calls that did
// not fail, and say nothing.
QString workbookFailure(int systemError, lxw_error e)
{
    switch (systemError) {
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
    case EFBIG:
    case EIO:
    case EROFS:
    case EACCES:
    case EPERM:
    case EMFILE:
    case ENFILE:
        return systemErrorText(systemError);
    default:
        break;
    }
    switch (e) {
    case LXW_ERROR_MEMORY_MALLOC_FAILED:
        return tr("there was not enough memory");
    case LXW_ERROR_CREATING_XLSX_FILE:
        return tr("the workbook could not be created");
    case LXW_ERROR_CREATING_TMPFILE:
        return tr("a temporary file could not be created");
    default:
        return tr("the workbook was not written completely");
    }
}

#ifdef Q_OS_UNIX
// libxlsxwriter prints "[ERROR]" lines of its own on standard error when a write fails; the user
// gets one sentence of ours instead. While the library works, descriptor 2 leads into a pipe;
// whatever else arrives there meanwhile (another thread's warning) is passed on afterwards, the
// library's lines go to the log.
class LibraryMessages
{
public:
    LibraryMessages() : m_lock(mutex())
    {
        std::fflush(stderr);
        m_saved = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
        if (m_saved < 0)
            return; // no standard error to keep clean
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) {
            ::close(std::exchange(m_saved, -1));
            return;
        }
        if (::dup2(fds[1], STDERR_FILENO) < 0) {
            ::close(std::exchange(m_saved, -1));
            ::close(fds[0]);
            ::close(fds[1]);
            return;
        }
        ::close(fds[1]);
        try {
            m_reader = std::thread([this, in = fds[0]] { collect(in); });
        } catch (...) {
            // No thread to empty the pipe (the system will not start one): standard error stays
            // as it is, the library's lines and all.
            ::dup2(m_saved, STDERR_FILENO);
            ::close(std::exchange(m_saved, -1));
            ::close(fds[0]);
        }
    }
    LibraryMessages(const LibraryMessages &) = delete;
    LibraryMessages &operator=(const LibraryMessages &) = delete;

    ~LibraryMessages()
    {
        if (m_saved < 0)
            return;
        const int savedErrno = errno;
        std::fflush(stderr);
        ::dup2(m_saved, STDERR_FILENO); // the pipe's last write end goes: the reader sees the end
        ::close(m_saved);
        m_stop = true;
        m_reader.join();
        QByteArray others;
        for (const QByteArray &line : m_text.split('\n')) {
            if (line.startsWith("[ERROR]") || line.startsWith("[WARNING]"))
                qCDebug(lcResults, "libxlsxwriter: %s", line.constData());
            else if (!line.isEmpty())
                others += line + '\n';
        }
        for (qsizetype done = 0; done < others.size();) {
            const ssize_t n = ::write(STDERR_FILENO, others.constData() + done, size_t(others.size() - done));
            if (n <= 0 && errno != EINTR)
                break;
            done += std::max<ssize_t>(n, 0);
        }
        errno = savedErrno;
    }

private:
    static std::mutex &mutex()
    {
        static std::mutex m; // descriptor 2 is one per process
        return m;
    }

    // Reads until every write end is closed; once told to stop, only what is already there (a
    // child process started meanwhile may hold a write end open).
    void collect(int in)
    {
        char block[4096];
        for (;;) {
            const bool stopping = m_stop;
            pollfd p{in, POLLIN, 0};
            const int ready = ::poll(&p, 1, stopping ? 0 : 100);
            if (ready > 0) {
                const ssize_t n = ::read(in, block, sizeof block);
                if (n > 0)
                    m_text.append(block, qsizetype(n));
                else if (n == 0 || errno != EINTR)
                    break;
            } else if ((ready == 0 && stopping) || (ready < 0 && errno != EINTR)) {
                break;
            }
        }
        ::close(in);
    }

    std::unique_lock<std::mutex> m_lock;
    int m_saved = -1;
    std::atomic<bool> m_stop = false;
    std::thread m_reader;
    QByteArray m_text;
};
#else
class LibraryMessages
{
public:
    LibraryMessages() { } // standard error stays as it is
};
#endif

// libxlsxwriter does not notice a failed write to its temporary files or to the workbook (a full
// disk gives a truncated workbook and success), so the finished archive is read back: every
// entry must be intact and every sheet complete.
bool verifyWorkbook(const QString &path, int sheets)
{
    int err = 0;
    zip_t *z = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &err);
    if (!z)
        return false;
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
    return ok;
}

// A workbook being written at path (libxlsxwriter creates the file itself), rows streamed into
// sheets of at most rowsPerSheet rows under the headers; the first failure of the library is kept.
class WorkbookWriter
{
public:
    WorkbookWriter(const QString &path, const QStringList &headers, int columns, qsizetype rowsPerSheet)
        : m_path(path), m_headers(headers), m_columns(columns), m_rowsPerSheet(std::max<qsizetype>(1, rowsPerSheet)),
          m_widths(headers, columns)
    {
        lxw_workbook_options options{};
        options.constant_memory = LXW_TRUE; // rows stream to disk: a million rows stay small
        const QByteArray file = QFile::encodeName(path);
        errno = 0;
        m_book = workbook_new_opt(file.constData(), &options);
        m_openError = errno;
    }
    WorkbookWriter(const WorkbookWriter &) = delete;
    WorkbookWriter &operator=(const WorkbookWriter &) = delete;
    ~WorkbookWriter()
    {
        if (m_book)
            workbook_close(m_book);
    }

    // False, with the reason, when the file could not be created.
    bool opened(QString *reason) const
    {
        if (!m_book)
            *reason = workbookFailure(m_openError, LXW_ERROR_CREATING_XLSX_FILE);
        return m_book != nullptr;
    }
    lxw_workbook *book() const { return m_book; }
    void check(lxw_error e)
    {
        if (e != LXW_NO_ERROR && m_failure == LXW_NO_ERROR)
            m_failure = e;
    }
    bool ok() const { return m_failure == LXW_NO_ERROR; }

    // The sheet row of the next row: in a new sheet when the current one is full (or there is
    // none yet); 0 when no sheet could be added.
    lxw_row_t nextRow()
    {
        if ((!m_sheet || m_rowsInSheet == m_rowsPerSheet) && !startSheet())
            return 0;
        return lxw_row_t(++m_rowsInSheet);
    }
    lxw_worksheet *sheet() const { return m_sheet; }
    SheetWidths &widths() { return m_widths; }

    // The first sheet, so that a workbook without rows still has its headers.
    bool startSheet()
    {
        if (m_sheet)
            endSheet();
        m_sheet = workbook_add_worksheet(m_book, nullptr);
        if (!m_sheet) {
            check(LXW_ERROR_MEMORY_MALLOC_FAILED);
            return false;
        }
        ++m_sheets;
        m_rowsInSheet = 0;
        m_widths.reset();
        for (int c = 0; c < m_columns; ++c)
            check(worksheet_write_string(m_sheet, 0, lxw_col_t(c), sheetUtf8(m_headers.value(c)).constData(), nullptr));
        return true;
    }

    // Closes the workbook and reads it back; false with the reason when any step failed.
    bool finish(QString *reason)
    {
        if (m_sheet)
            endSheet();
        const lxw_error closed = workbook_close(m_book); // frees the workbook in every case
        m_book = nullptr;
        const int systemError = errno;
        check(closed);
        if (m_failure != LXW_NO_ERROR || !verifyWorkbook(m_path, m_sheets)) {
            *reason = workbookFailure(systemError, m_failure);
            return false;
        }
        return true;
    }

private:
    // Column widths go into the sheet when the workbook is closed, so a sheet is fitted once its
    // last row is written: the rows are read only once.
    void endSheet()
    {
        for (int c = 0; c < m_columns; ++c)
            check(worksheet_set_column(m_sheet, lxw_col_t(c), lxw_col_t(c), m_widths.width(c), nullptr));
    }

    QString m_path;
    QStringList m_headers;
    int m_columns;
    qsizetype m_rowsPerSheet;
    SheetWidths m_widths;
    lxw_workbook *m_book = nullptr;
    int m_openError = 0;
    lxw_error m_failure = LXW_NO_ERROR;
    lxw_worksheet *m_sheet = nullptr;
    int m_sheets = 0;
    qsizetype m_rowsInSheet = 0;
};

// Builds the workbook of the results at path.
bool buildWorkbook(const QString &path, const ResultRows &rows, const QStringList &headers,
                   qsizetype rowsPerSheet, QString *reason)
{
    const LibraryMessages messages;
    WorkbookWriter out(path, headers, rows.columnCount(), rowsPerSheet);
    if (!out.opened(reason))
        return false;
    const bool fileNameColumn = rows.hasFileNameColumn();
    const int countColumn = fileNameColumn ? 2 : 1;
    const bool filesColumn = rows.hasFilesColumn();
    SheetWidths &widths = out.widths();
    QString readError;
    const bool read = out.startSheet() && rows.forEachRow(
            [&](const ResultRow &row) {
                const lxw_row_t sheetRow = out.nextRow();
                if (sheetRow == 0)
                    return false;
                lxw_worksheet *sheet = out.sheet();
                for (int c = 0; c < countColumn; ++c) {
                    const QString text = sheetText(c == 0 && fileNameColumn ? row.fileName : row.word, c);
                    widths.add(c, displayWidth(text));
                    out.check(worksheet_write_string(sheet, sheetRow, lxw_col_t(c), sheetUtf8(text).constData(), nullptr));
                }
                widths.add(countColumn, decimalLength(row.count));
                out.check(worksheet_write_number(sheet, sheetRow, lxw_col_t(countColumn), double(row.count), nullptr));
                if (filesColumn) {
                    widths.add(countColumn + 1, decimalLength(row.files));
                    out.check(worksheet_write_number(sheet, sheetRow, lxw_col_t(countColumn + 1), double(row.files), nullptr));
                }
                return out.ok();
            },
            &readError);
    const bool finished = out.finish(reason);
    if (!read && !readError.isEmpty()) {
        *reason = readError; // the rows could not be read: the library is not to blame
        return false;
    }
    return read && finished;
}

// Builds the workbook of a table of any columns at path, as buildWorkbook() builds the results'.
bool buildSheetWorkbook(const QString &path, const QList<SheetColumn> &columns, const SheetRows &rows,
                        qsizetype rowsPerSheet, QString *reason)
{
    const LibraryMessages messages;
    QStringList headers;
    for (const SheetColumn &column : columns)
        headers << column.header;
    WorkbookWriter out(path, headers, int(columns.size()), rowsPerSheet);
    if (!out.opened(reason))
        return false;
    const int count = int(columns.size());
    std::vector<lxw_format *> formats(size_t(count), nullptr);
    for (int c = 0; c < count; ++c) {
        if (columns.at(c).number && !columns.at(c).format.isEmpty()) {
            formats[size_t(c)] = workbook_add_format(out.book());
            if (formats[size_t(c)])
                format_set_num_format(formats[size_t(c)], columns.at(c).format.toUtf8().constData());
        }
    }
    SheetWidths &widths = out.widths();
    bool written = out.startSheet();
    for (qsizetype r = 0; written && r < rows.rowCount() && out.ok(); ++r) {
        const lxw_row_t sheetRow = out.nextRow();
        if (sheetRow == 0) {
            written = false;
            break;
        }
        for (int c = 0; c < count; ++c) {
            const QString text = sheetText(rows.text(r, c), 0);
            widths.add(c, displayWidth(text));
            if (!columns.at(c).number) {
                out.check(worksheet_write_string(out.sheet(), sheetRow, lxw_col_t(c), sheetUtf8(text).constData(), nullptr));
            } else if (const std::optional<double> value = rows.number(r, c)) {
                out.check(worksheet_write_number(out.sheet(), sheetRow, lxw_col_t(c), *value, formats[size_t(c)]));
            }
        }
    }
    return out.finish(reason) && written;
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
        if (!writeAll(to, QByteArrayView(block.constData(), n))) {
            *reason = to.errorString();
            return false;
        }
    }
}

// A file for libxlsxwriter to write to by name: it goes with the process, even one ended by a
// signal while a large workbook is written.
bool reserveTemporary(const ScratchFile &temp, QString *reason)
{
    if (temp.isOpen())
        return true;
    *reason = temp.errorString();
    return false;
}

} // namespace

bool saveResultsSpreadsheet(const ResultRows &rows, const QStringList &headers,
                            const QString &path, QString *error, qsizetype rowsPerSheet)
{
    // libxlsxwriter writes its files unchecked and by name: the workbook is built and checked
    // first, then copied into place by the routine that replaces a file only when complete.
    QString reason;
    const ScratchFile temp(scratchFolderFor(path), u".xlsx"_qs);
    if (!reserveTemporary(temp, &reason) || !buildWorkbook(temp.path(), rows, headers, rowsPerSheet, &reason)) {
        if (error)
            *error = writeErrorText(path, reason);
        return false;
    }
    return writeFileSafely(
            path, [&temp](QIODevice &device, QString *why) { return copyInto(temp.path(), device, why); },
            error);
}

bool saveResultsSpreadsheet(const ResultTable &table, const QStringList &headers,
                            const QString &path, QString *error, qsizetype rowsPerSheet)
{
    return saveResultsSpreadsheet(TableRows(table), headers, path, error, rowsPerSheet);
}

bool saveSheetSpreadsheet(const QList<SheetColumn> &columns, const SheetRows &rows, const QString &path,
                          QString *error, qsizetype rowsPerSheet)
{
    QString reason;
    const ScratchFile temp(scratchFolderFor(path), u".xlsx"_qs);
    if (!reserveTemporary(temp, &reason) || !buildSheetWorkbook(temp.path(), columns, rows, rowsPerSheet, &reason)) {
        if (error)
            *error = writeErrorText(path, reason);
        return false;
    }
    return writeFileSafely(
            path, [&temp](QIODevice &device, QString *why) { return copyInto(temp.path(), device, why); },
            error);
}

bool writeResultsSpreadsheet(const ResultTable &table, const QStringList &headers,
                             QIODevice &device, QString *error, qsizetype rowsPerSheet)
{
    QString reason;
    const ScratchFile temp(QDir::tempPath(), u".xlsx"_qs);
    const bool ok = reserveTemporary(temp, &reason)
            && buildWorkbook(temp.path(), TableRows(table), headers, rowsPerSheet, &reason)
            && copyInto(temp.path(), device, &reason);
    if (!ok && error)
        *error = reason;
    return ok;
}

} // namespace corvalen
