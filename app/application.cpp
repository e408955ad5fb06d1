#include "app/application.h"

#include "app/appearance.h"
#include "app/commandbars.h"
#include "app/mainwindow.h"
#include "app/qtprompter.h"
#include "app/screenshots.h"

#include <QApplication>
#include <QIcon>

namespace corvalen {

int runApplication(int argc, char *argv[])
{
    QApplication app(argc, argv);
    initResources();
    app.setWindowIcon(QIcon(applicationIconPath()));

    QtPrompter prompter;
    // The installed check and the run are provided by the document engine and the analysis run.
    MainWindow window(prompter, MainWindow::Hooks{}, programFolder());
    prompter.setParentWidget(&window);
    QObject::connect(&window, &MainWindow::programEndRequested, &app, &QApplication::quit,
                     Qt::QueuedConnection);
    window.show();
    if (const QString folder = screenshotFolder(); !folder.isEmpty())
        scheduleScreenshots(window, folder);
    return app.exec();
}

} // namespace corvalen
