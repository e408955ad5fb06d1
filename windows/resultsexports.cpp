#include "windows/resultsexports.h"

#include "base/prompter.h"
#include "engine/backgroundtask.h"
#include "results/resultlayouts.h"
#include "results/spreadsheetlayout.h"
#include "windows/resultsmodel.h"
#include "windows/resultswindow.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QEventLoop>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QRegularExpression>
#include <QUrl>

#include <optional>

#if defined(Q_OS_UNIX)
#include <unistd.h>
#endif

namespace corvalen {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("ResultsExports", text);
}

// Each spreadsheet export writes its workbook into a folder of its own in the temporary folder.
const QString exportFolderTemplate = u"corvalen-XXXXXX"_qs;
const QString workbookName = u"Corvalen Results.xlsx"_qs;

bool isOwnedByUser(const QFileInfo &info)
{
#if defined(Q_OS_UNIX)
    return info.ownerId() == ::getuid();
#else
    Q_UNUSED(info);
    return true;
#endif
}

// The folder holds only what an export writes: its workbook, or the workbook's temporary file
// of a write that never ended. Returns the newest time anything in it changed.
std::optional<QDateTime> exportFolderContent(const QString &folder)
{
    static const QRegularExpression unfinished(u"^\\.corvalen-[A-Za-z0-9]+\\.(xlsx|tmp)$"_qs);
    QDateTime newest = QFileInfo(folder).lastModified();
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        const QFileInfo entry = it.fileInfo();
        if (entry.isSymLink() || !entry.isFile() || !isOwnedByUser(entry)
            || (entry.fileName() != workbookName && !unfinished.match(entry.fileName()).hasMatch()))
            return std::nullopt;
        newest = std::max(newest, entry.lastModified());
    }
    return newest;
}

} // namespace

int removeOldExportFolders(const QString &tempFolder, const QDateTime &now, std::chrono::seconds maxAge)
{
    static const QRegularExpression name(
            u"^"_qs + QString(exportFolderTemplate).replace(u"XXXXXX"_qs, u"[A-Za-z0-9]{6}"_qs) + u'$');
    const QDateTime oldest = now.addSecs(-maxAge.count());
    int removed = 0;
    QDirIterator it(tempFolder, QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        const QFileInfo folder = it.fileInfo();
        if (!name.match(folder.fileName()).hasMatch() || folder.isSymLink() || !isOwnedByUser(folder))
            continue;
        const std::optional<QDateTime> changed = exportFolderContent(folder.filePath());
        if (changed && *changed < oldest && QDir(folder.filePath()).removeRecursively())
            ++removed;
    }
    return removed;
}

ResultsExports::ResultsExports(ResultsWindow &window, Prompter &prompter)
    : m_window(window), m_prompter(prompter)
{
}

QString askSaveName(Prompter &prompter, const QString &title, const QStringList &filters)
{
    const QString name = prompter.saveFile(title, filters);
    if (name.isEmpty())
        return {};
    if (QFileInfo::exists(name)
        && !prompter.askYesNo(tr("Are you sure you wish to overwrite ") + name + tr(" ?"),
                              Prompter::applicationTitle())) {
        return {};
    }
    return name;
}

bool runWhileBusy(QWidget &window, const std::function<bool()> &work)
{
    window.setCursor(Qt::WaitCursor);
    QFutureWatcher<bool> watcher;
    QEventLoop loop;
    QObject::connect(&watcher, &QFutureWatcher<bool>::finished, &loop, &QEventLoop::quit);
    watcher.setFuture(runInBackground([&work] { return work(); }));
    if (!watcher.isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    window.unsetCursor();
    return watcher.result();
}

bool ResultsExports::runBusy(const Writer &write, QString *error)
{
    m_busy = true;
    // A copy shares the rows; the window may go back and clear them while the export runs.
    const ResultTable table = m_window.model()->table();
    const QStringList headers = m_window.model()->headers();
    const bool done = runWhileBusy(m_window, [&] { return write(table, headers, error); });
    m_busy = false;
    return done;
}

void ResultsExports::saveResults()
{
    if (m_busy)
        return;
    const QString name = askSaveName(m_prompter, tr("Save"), {tr("Text Files (*.txt)"), tr("All Files (*)")});
    if (name.isEmpty())
        return;
    QString error;
    const bool saved = runBusy(
            [&name](const ResultTable &table, const QStringList &headers, QString *e) {
                return saveResultsText(table, headers, name, e);
            },
            &error);
    if (saved)
        m_prompter.message(tr("Done."), Prompter::applicationTitle());
    else
        m_prompter.message(error, Prompter::applicationTitle(), Prompter::Icon::Warning);
}

void ResultsExports::saveClipboard()
{
    const ResultTable &table = m_window.model()->table();
    // An empty list leaves whatever the clipboard holds.
    if (!table.isEmpty())
        QGuiApplication::clipboard()->setText(clipboardText(table));
    m_prompter.message(tr("Results have been copied to the clipboard.") + u"\r\r"
                               + tr("Click a text area where you normally type and press Ctrl+V "
                                    "to paste the clipboard."),
                       Prompter::applicationTitle());
}

void ResultsExports::saveExcel()
{
    if (m_busy || m_window.model()->table().isEmpty())
        return;
    // Each export is a new workbook of its own, left for the user to keep or discard; a later
    // start removes it once it is a day old.
    QTemporaryDir dir(QDir(QDir::tempPath()).filePath(exportFolderTemplate));
    if (!dir.isValid()) {
        m_prompter.message(tr("Could not make a folder for the workbook: ") + dir.errorString(),
                           Prompter::applicationTitle(), Prompter::Icon::Warning);
        return;
    }
    dir.setAutoRemove(false);
    const QString path = dir.filePath(workbookName);
    QString error;
    const bool saved = runBusy(
            [&path](const ResultTable &table, const QStringList &headers, QString *e) {
                return saveResultsSpreadsheet(table, headers, path, e);
            },
            &error);
    if (!saved) {
        m_prompter.message(error, Prompter::applicationTitle(), Prompter::Icon::Warning);
        return;
    }
    m_lastWorkbook = path;
    if (!m_prompter.openUrl(QUrl::fromLocalFile(path))) {
        m_prompter.message(tr("No spreadsheet program could open the results. The workbook was "
                              "saved as ")
                                   + QDir::toNativeSeparators(path) + u'.',
                           Prompter::applicationTitle(), Prompter::Icon::Information);
    }
}

} // namespace corvalen
