#include "app/screenshots.h"

#include "app/programwindows.h"
#include "windows/filelistmodel.h"
#include "windows/mainwindow.h"
#include "windows/resultsmodel.h"
#include "windows/resultswindow.h"
#include "workbench/concordancemodel.h"
#include "workbench/clusterstab.h"
#include "workbench/collocatestab.h"
#include "workbench/concordancetab.h"
#include "workbench/fileviewtab.h"
#include "workbench/keywordstab.h"
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

// Three chapters of a harbour town's year, for the workbench's pictures: sentences put together
// from a few parts, the same every time, enough for a concordance and a plot worth looking at.
QStringList writeExampleCorpus(const QString &folder)
{
    const QStringList chapters = {u"Spring on the Quay"_qs, u"The Summer Fair"_qs, u"Winter Lights"_qs};
    const QStringList who = {u"The keeper"_qs, u"A fisherman"_qs, u"The committee"_qs, u"Two children"_qs,
                             u"The harbour master"_qs, u"Our neighbour"_qs, u"The mayor"_qs, u"A visitor"_qs,
                             u"The gardener"_qs, u"Everyone in town"_qs};
    const QStringList did = {u"walked along"_qs, u"looked out at"_qs, u"wrote a letter about"_qs, u"painted"_qs,
                             u"talked for hours about"_qs, u"repaired"_qs, u"counted the boats by"_qs,
                             u"waited beside"_qs, u"remembered"_qs, u"sang about"_qs};
    const QStringList what = {u"the lantern"_qs, u"the old quay"_qs, u"the roses in the garden"_qs,
                              u"the river after the rain"_qs, u"the museum"_qs, u"the harbour lights"_qs,
                              u"the ropes and the oars"_qs, u"the caf\u00e9 on the corner"_qs,
                              u"the tide"_qs, u"the budget"_qs};
    const QStringList when = {u"at dusk"_qs, u"before the storm"_qs, u"in the morning"_qs, u"all through the winter"_qs,
                              u"after the fair"_qs, u"on Thursday"_qs, u"when the gulls came back"_qs,
                              u"while the boats were out"_qs};
    quint32 seed = 20140520;
    const auto next = [&seed](qsizetype n) {
        seed = seed * 1664525u + 1013904223u; // the same pictures every time
        return int((seed >> 8) % quint32(n));
    };
    QStringList paths;
    for (int c = 0; c < chapters.size(); ++c) {
        QString text = chapters.at(c) + u"\n\n"_qs;
        for (int p = 0; p < 12 + 4 * c; ++p) {
            for (int s = 0; s < 4 + next(3); ++s)
                text += who.at(next(who.size())) + u' ' + did.at(next(did.size())) + u' ' + what.at(next(what.size()))
                        + u' ' + when.at(next(when.size())) + u". "_qs;
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

// A reference for the keywords picture: plain office prose, none of the harbour's words.
QString writeExampleReference(const QString &folder)
{
    const QStringList sentences = {
        u"The meeting began at nine and the agenda was agreed."_qs,
        u"The accounts for the year were presented by the treasurer."_qs,
        u"Members asked about the cost of the new printer."_qs,
        u"The office will be closed on the first Monday of the month."_qs,
        u"A report on the training days will follow in the spring."_qs,
        u"The chair thanked everyone for their work and closed the meeting."_qs};
    QString text;
    for (int p = 0; p < 40; ++p) {
        for (int s = 0; s < 5; ++s)
            text += sentences.at((p * 5 + s * 7) % sentences.size()) + u' ';
        text += u"\n\n"_qs;
    }
    const QString path = QDir(folder).filePath(u"Office Minutes.txt"_qs);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(text.toUtf8());
    return path;
}

void saveGrab(QWidget *window, const QString &folder, const QString &name)
{
    window->grab().save(QDir(folder).filePath(name));
}

// The corpus tools after the file view: the collocates and clusters of the query, then the
// keywords against a reference of other prose.
void grabCorpusTools(WorkbenchWindow *window, const QString &folder)
{
    CollocatesTab *collocates = window->tab<CollocatesTab>();
    ConcordanceTab *concordance = window->tab<ConcordanceTab>();
    QObject::connect(collocates, &CorpusTableTab::tableShown, window, [window, folder] {
        QTimer::singleShot(800, window, [window, folder] {
            saveGrab(window, folder, u"workbench-collocates.png"_qs);
            ClustersTab *clusters = window->tab<ClustersTab>();
            QObject::connect(clusters, &CorpusTableTab::tableShown, window, [window, folder] {
                QTimer::singleShot(800, window, [window, folder] {
                    saveGrab(window, folder, u"workbench-clusters.png"_qs);
                    KeywordsTab *keywords = window->tab<KeywordsTab>();
                    QObject::connect(keywords, &CorpusTableTab::tableShown, window, [window, folder] {
                        QTimer::singleShot(800, window, [window, folder] {
                            saveGrab(window, folder, u"workbench-keywords.png"_qs);
                            QCoreApplication::quit();
                        });
                    }, Qt::SingleShotConnection);
                    window->showTab(keywords);
                    static QTemporaryDir reference;
                    keywords->addReferencePaths({writeExampleReference(reference.path())});
                });
            }, Qt::SingleShotConnection);
            window->showTab(clusters); // brought to the front with a new query, it starts
        });
    }, Qt::SingleShotConnection);
    // A word of the harbour rather than "the": a node that fills most windows of so small a
    // corpus makes every log-likelihood 0.
    QObject::connect(concordance, &ConcordanceTab::linesShown, window, [window, collocates] {
        window->showTab(collocates);
    }, Qt::SingleShotConnection);
    WorkbenchQuery query;
    query.text = u"harbour"_qs;
    concordance->searchFor(query);
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
                                grabCorpusTools(window, folder);
                            });
                        });
                        window->workbench().showHit(window->workbench().fileLines(1).first + 3);
                    });
                });
            }, Qt::SingleShotConnection);
            concordance->setSortKeys({SortKey::Right1, SortKey::Right2, SortKey::Left1});
            WorkbenchQuery query;
            query.text = u"the"_qs;
                    concordance->searchFor(query);
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
