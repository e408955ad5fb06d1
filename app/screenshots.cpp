#include "app/screenshots.h"

#include "app/programwindows.h"
#include "windows/filelistmodel.h"
#include "windows/mainwindow.h"
#include "windows/resultsmodel.h"
#include "windows/resultswindow.h"
#include "workbench/concordancemodel.h"
#include "workbench/concordancetab.h"
#include "workbench/fileviewtab.h"
#include "workbench/plottab.h"
#include "workbench/wordlistpanel.h"
#include "workbench/wordlisttab.h"
#include "workbench/workbench.h"
#include "workbench/workbenchwindow.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTableView>
#include <QTabWidget>
#include <QTemporaryDir>
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

// Three chapters of a harbour town's year, for the workbench's pictures: enough text for a
// concordance and a plot worth looking at.
QStringList writeExampleCorpus(const QString &folder)
{
    const QStringList chapters = {
        u"Spring on the Quay"_qs,
        u"The Summer Fair"_qs,
        u"Winter Lights"_qs,
    };
    const QStringList sentences = {
        u"The harbour wakes before the town does, and the gulls know it first."_qs,
        u"Boats come in on the morning tide with the light still grey over the water."_qs,
        u"The keeper of the old lantern climbs the stairs at dusk, as his father did."_qs,
        u"In the garden behind the museum the roses are cut back for the winter."_qs,
        u"The committee meets on Thursdays in the back room of the harbour caf\u00e9."_qs,
        u"Visitors ask about the lantern, and the keeper tells them the story of the storm."_qs,
        u"Ropes are coiled on the quay, and the oars of the rowing club dry in the sun."_qs,
        u"The river brings the rain down from the hills, brown and fast after the thaw."_qs,
        u"A letter from the mayor asks the committee to think again about the budget."_qs,
        u"The exhibition of old photographs draws more visitors than the museum expected."_qs,
        u"At the end of the evening the harbour lights come on one by one."_qs,
        u"Children count the boats from the bench by the path to the lighthouse."_qs,
    };
    QStringList paths;
    for (int c = 0; c < chapters.size(); ++c) {
        QString text = chapters.at(c) + u"\n\n"_qs;
        for (int p = 0; p < 9 + 3 * c; ++p) {
            for (int s = 0; s < 5; ++s)
                text += sentences.at((p * 5 + s * (c + 2) + c) % sentences.size()) + u' ';
            text += u"\n\n"_qs;
        }
        const QString path = QDir(folder).filePath(u"%1. %2.txt"_qs.arg(c + 1).arg(chapters.at(c)));
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write(text.toUtf8());
        paths << path;
    }
    return paths;
}

void saveGrab(QWidget *window, const QString &folder, const QString &name)
{
    window->grab().save(QDir(folder).filePath(name));
}

// The workbench's tabs one after another: the word list, "the" ordered by the words after it,
// its plot, and one of its hits in its file.
void grabWorkbench(WorkbenchWindow *window, const QString &folder)
{
    window->resize(1100, 640);
    WordListTab *words = window->tab<WordListTab>();
    const auto afterWords = [window, folder] {
        QTimer::singleShot(1000, window, [window, folder] {
            saveGrab(window, folder, u"workbench-wordlist.png"_qs);
            ConcordanceTab *concordance = window->tab<ConcordanceTab>();
            QObject::connect(concordance, &ConcordanceTab::linesShown, window, [window, folder, concordance] {
                concordance->view()->selectRow(2);
                QTimer::singleShot(800, window, [window, folder] {
                    saveGrab(window, folder, u"workbench-concordance.png"_qs);
                    window->showTab(window->tab<PlotTab>());
                    QTimer::singleShot(800, window, [window, folder] {
                        saveGrab(window, folder, u"workbench-plot.png"_qs);
                        FileViewTab *fileView = window->tab<FileViewTab>();
                        QObject::connect(fileView, &FileViewTab::fileLoaded, window, [window, folder] {
                            QTimer::singleShot(800, window, [window, folder] {
                                saveGrab(window, folder, u"workbench-fileview.png"_qs);
                                QCoreApplication::quit();
                            });
                        });
                        window->workbench().showHit(window->workbench().fileLines(1).first + 3);
                    });
                });
            }, Qt::SingleShotConnection);
            concordance->setSortKeys({SortKey::Right1, SortKey::Right2, SortKey::Left1});
            concordance->searchFor({u"the"_qs, QueryMode::Words, false, 50});
        });
    };
    if (words->panel())
        afterWords();
    else
        QObject::connect(words, &WordListTab::ready, window, afterWords);
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
        saveGrab(&window, folder, u"main.png"_qs);
        ResultsWindow *results = window.resultsWindow();
        results->model()->appendRows({{QStringLiteral("ideas"), 1},
                                      {QStringLiteral("report"), 3},
                                      {QStringLiteral("the"), 12}},
                                     QStringLiteral("May.docx"));
        results->setWordCount(16);
        results->show();
        window.hide();
        QTimer::singleShot(1000, results, [&windows, &window, results, folder] {
            saveGrab(results, folder, u"results.png"_qs);
            results->model()->clearRows();
            fillExampleResults(*results->model());
            // The workbench as Tools > Corpus Workbench... opens it, on a corpus of its own.
            static QTemporaryDir corpus;
            window.fileList()->clear();
            window.fileList()->append(writeExampleCorpus(corpus.path()));
            if (WorkbenchWindow *workbench = windows.openWorkbench())
                grabWorkbench(workbench, folder);
        });
    });
}

} // namespace corvalen
