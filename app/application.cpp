#include "app/application.h"

#include "app/programwindows.h"
#include "app/screenshots.h"
#include "app/windowsstart.h"
#include "base/plurals.h"
#include "windows/analysisrunner.h"
#include "windows/appearance.h"
#include "windows/commandbars.h"
#include "windows/mainwindow.h"
#include "windows/qtprompter.h"
#include "windows/resultsexports.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QIcon>

#include <cstdio>
#include <cstdlib>
#include <vector>

#if defined(Q_OS_UNIX)
#include <csignal>
#endif

namespace corvalen {

namespace {

void writeError(const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

QtMessageHandler qtHandler = nullptr;

// A platform plugin that cannot reach the display it was given (DISPLAY set, but no server
// answers) ends Qt with a fatal message and an abort: say what to do instead, and end as the
// other start-up problems end.
void endWithoutDisplay(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (qtHandler)
        qtHandler(type, context, text);
    if (type != QtFatalMsg)
        return;
    WindowsStart unusable;
    unusable.problem = WindowsStart::Problem::DisplayUnusable;
    writeError(unusable.message());
    std::_Exit(2);
}

} // namespace

QStringList absolutePaths(const QStringList &paths)
{
    QStringList absolute;
    for (const QString &path : paths) {
        if (path.isEmpty())
            continue;
        absolute << QDir::toNativeSeparators(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    }
    return absolute;
}

void showMainWindow(MainWindow &window, const QStringList &paths)
{
    window.show();
    // "Open With Corvalen" in a file manager gives the files here.
    window.addDroppedPaths(absolutePaths(paths));
}

int runApplication(int argc, char *argv[])
{
    QList<QByteArray> arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QByteArray(argv[i]);
    // Decided before Qt is started: without a display its platform plugin aborts the process.
    const WindowsStart start = readWindowsStart(arguments, DisplayEnvironment::current());
    if (start.problem != WindowsStart::Problem::None) {
        writeError(start.message());
        return 2;
    }
    // Qt sees only its own options, so that nothing after "--" is taken for one.
    QList<QByteArray> qtArguments = start.qtArguments;
    std::vector<char *> qtArgv;
    for (QByteArray &a : qtArguments)
        qtArgv.push_back(a.data());
    qtArgv.push_back(nullptr);
    int qtArgc = int(qtArguments.size());
    qtHandler = qInstallMessageHandler(endWithoutDisplay);
    QApplication app(qtArgc, qtArgv.data());
    qInstallMessageHandler(qtHandler);
#if defined(Q_OS_UNIX)
    // A save onto a pipe whose reader has gone must fail with a message ("Broken pipe"), not end
    // the program and lose the results.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    removeOldExportFolders(QDir::tempPath(), QDateTime::currentDateTimeUtc());
    installEnglishPlurals();
    initResources();
    app.setWindowIcon(QIcon(applicationIconPath()));

    QtPrompter prompter;
    ProgramWindows windows(prompter, programFolder());
    MainWindow &window = windows.mainWindow();
    prompter.setParentWidget(&window);
    QObject::connect(&window, &MainWindow::programEndRequested, &app, &QApplication::quit,
                     Qt::QueuedConnection);
    showMainWindow(window, start.paths);
    if (const QString folder = screenshotFolder(); !folder.isEmpty())
        scheduleScreenshots(windows, folder);
    const int status = app.exec();
    // Closing a window ends the program at once, also in the middle of a run: settings are
    // stored as they change, and nothing of a run is worth waiting for.
    if (windows.runner().isRunning())
        std::_Exit(status);
    return status;
}

} // namespace corvalen
