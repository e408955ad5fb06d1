#include "app/screenshots.h"

#include "app/programwindows.h"
#include "context/contextwindow.h"
#include "explorer/explorerwindow.h"
#include "windows/filelistmodel.h"
#include "windows/mainwindow.h"
#include "windows/resultsmodel.h"
#include "windows/resultswindow.h"

#include <QCoreApplication>
#include <QDir>
#include <QHeaderView>
#include <QTableView>
#include <QTabWidget>
#include <QTimer>

#include <cmath>

namespace corvalen {

QString screenshotFolder()
{
    return qEnvironmentVariable("CORVALEN_SCREENSHOTS");
}

namespace {

// A small per-file result that looks like real writing: frequent function words, a long tail.
void fillExampleResults(ResultsModel &model)
{
    const QStringList words = {
        u"the"_qs, u"of"_qs, u"and"_qs, u"to"_qs, u"a"_qs, u"in"_qs, u"harbour"_qs, u"was"_qs,
        u"that"_qs, u"it"_qs, u"for"_qs, u"lantern"_qs, u"on"_qs, u"with"_qs, u"as"_qs, u"garden"_qs,
        u"by"_qs, u"at"_qs, u"from"_qs, u"committee"_qs, u"museum"_qs, u"this"_qs, u"be"_qs,
        u"an"_qs, u"which"_qs, u"their"_qs, u"old"_qs, u"town"_qs, u"letter"_qs, u"report"_qs,
        u"minutes"_qs, u"story"_qs, u"river"_qs, u"boats"_qs, u"evening"_qs, u"caf\u00e9"_qs,
        u"members"_qs, u"roses"_qs, u"winter"_qs, u"light"_qs, u"keeper"_qs, u"quay"_qs,
        u"exhibition"_qs, u"visitors"_qs, u"tide"_qs, u"ropes"_qs, u"gulls"_qs, u"meeting"_qs,
        u"budget"_qs, u"na\u00efve"_qs, u"seeds"_qs, u"path"_qs, u"bench"_qs, u"oars"_qs};
    const QStringList files = {u"Harbour Letter.docx"_qs, u"Garden Newsletter.html"_qs,
                               u"Museum Report.pdf"_qs};
    for (int f = 0; f < files.size(); ++f) {
        std::vector<WordCount> rows;
        for (int r = 0; r < words.size(); ++r) {
            const qint64 n = qint64(std::lround(640.0 / std::pow(r + 1.0, 1.05) * (1.0 + 0.3 * ((r + f) % 3))));
            if ((r + 2 * f) % 5 != 4)
                rows.push_back({words.at(r), std::max<qint64>(1, n / (f + 1))});
        }
        orderRows(rows);
        model.appendRows(rows, files.at(f));
    }
}

} // namespace

void scheduleScreenshots(ProgramWindows &windows, const QString &folder)
{
    MainWindow &window = windows.mainWindow();
    QDir().mkpath(folder);
    window.fileList()->append(QStringList{QStringLiteral("/home/user/Reports/May.docx"),
                                          QStringLiteral("/home/user/Reports/June.odt"),
                                          QStringLiteral("/home/user/Notes/ideas.txt")});
    // Let the windows settle (fonts, icons, first layout) before grabbing them.
    QTimer::singleShot(1000, &window, [&windows, &window, folder] {
        window.grab().save(QDir(folder).filePath(QStringLiteral("main.png")));
        ResultsWindow *results = window.resultsWindow();
        results->model()->appendRows({{QStringLiteral("ideas"), 1},
                                      {QStringLiteral("report"), 3},
                                      {QStringLiteral("the"), 12}},
                                     QStringLiteral("May.docx"));
        results->setWordCount(16);
        results->show();
        window.hide();
        QTimer::singleShot(1000, results, [&windows, results, folder] {
            results->grab().save(QDir(folder).filePath(QStringLiteral("results.png")));
            results->model()->clearRows();
            fillExampleResults(*results->model());
            ExplorerWindow *explorer = windows.openExplorer();
            explorer->resize(1100, 640);
            QTimer::singleShot(1500, explorer, [&windows, explorer, folder] {
                explorer->grab().save(QDir(folder).filePath(QStringLiteral("explorer.png")));
                explorer->hide();
                // The context view of "the" in the sample documents beside the program.
                const QDir samples(QCoreApplication::applicationDirPath() + QStringLiteral("/Samples"));
                OccurrenceQuery query;
                for (const QString &name : samples.entryList(QDir::Files, QDir::Name))
                    query.files << samples.filePath(name);
                query.word = QStringLiteral("the");
                auto *context = new ContextWindow(query, windows.prompter());
                context->resize(1100, 560);
                context->show();
                QObject::connect(context, &ContextWindow::searchFinished, context, [context, folder] {
                    context->view()->resizeColumnsToContents();
                    context->view()->selectRow(3);
                    QTimer::singleShot(1000, context, [context, folder] {
                        context->grab().save(QDir(folder).filePath(QStringLiteral("context.png")));
                        QCoreApplication::quit();
                    });
                });
            });
        });
    });
}

} // namespace corvalen
