#include "app/application.h"

#include "app/programwindows.h"
#include "app/screenshots.h"
#include "windows/analysisrunner.h"
#include "windows/appearance.h"
#include "windows/commandbars.h"
#include "windows/mainwindow.h"
#include "windows/qtprompter.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QIcon>

#include <cstdlib>

#if defined(Q_OS_UNIX)
#include <csignal>
#endif

namespace corvalen {

QStringList pathsFromArguments(const QStringList &arguments)
{
    QStringList paths;
    for (const QString &argument : arguments.mid(1)) {
        if (argument.isEmpty())
            continue;
        const QString absolute = QFileInfo(argument).absoluteFilePath();
        paths << QDir::toNativeSeparators(QDir::cleanPath(absolute));
    }
    return paths;
}

void showMainWindow(MainWindow &window, const QStringList &arguments)
{
    window.show();
    // "Open With Corvalen" in a file manager gives the files here.
    window.addDroppedPaths(pathsFromArguments(arguments));
}

int runApplication(int argc, char *argv[])
{
    QApplication app(argc, argv);
#if defined(Q_OS_UNIX)
    // A save onto a pipe whose reader has gone must fail with a message ("Broken pipe"), not end
    // the program and lose the results.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    initResources();
    app.setWindowIcon(QIcon(applicationIconPath()));

    QtPrompter prompter;
    ProgramWindows windows(prompter, programFolder());
    MainWindow &window = windows.mainWindow();
    prompter.setParentWidget(&window);
    QObject::connect(&window, &MainWindow::programEndRequested, &app, &QApplication::quit,
                     Qt::QueuedConnection);
    showMainWindow(window, QCoreApplication::arguments());
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
