#include "app/screenshots.h"

#include "windows/filelistmodel.h"
#include "windows/mainwindow.h"
#include "windows/resultsmodel.h"
#include "windows/resultswindow.h"

#include <QCoreApplication>
#include <QDir>
#include <QTimer>

namespace corvalen {

QString screenshotFolder()
{
    return qEnvironmentVariable("CORVALEN_SCREENSHOTS");
}

void scheduleScreenshots(MainWindow &window, const QString &folder)
{
    QDir().mkpath(folder);
    window.fileList()->append(QStringList{QStringLiteral("/home/user/Reports/May.docx"),
                                          QStringLiteral("/home/user/Reports/June.odt"),
                                          QStringLiteral("/home/user/Notes/ideas.txt")});
    // Let the windows settle (fonts, icons, first layout) before grabbing them.
    QTimer::singleShot(1000, &window, [&window, folder] {
        window.grab().save(QDir(folder).filePath(QStringLiteral("main.png")));
        ResultsWindow *results = window.resultsWindow();
        results->model()->appendRows({{QStringLiteral("ideas"), 1},
                                      {QStringLiteral("report"), 3},
                                      {QStringLiteral("the"), 12}},
                                     QStringLiteral("May.docx"));
        results->setWordCount(16);
        results->show();
        window.hide();
        QTimer::singleShot(1000, results, [results, folder] {
            results->grab().save(QDir(folder).filePath(QStringLiteral("results.png")));
            QCoreApplication::quit();
        });
    });
}

} // namespace corvalen
