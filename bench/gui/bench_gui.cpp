// How responsive the windows stay: the longest time the event loop goes without handling events
// during a run over the given files, and the time to show a million rows.
//
//   bench_gui FILE...        (bench/gui.sh makes a 500 MB file and runs this offscreen)
#include "app/programwindows.h"
#include "base/prompter.h"
#include "windows/analysisrunner.h"
#include "windows/filelistmodel.h"
#include "windows/mainwindow.h"
#include "windows/resultsmodel.h"
#include "windows/resultswindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <QTreeView>

#include <ctime>

using namespace corvalen;

namespace {

// Answers every question with Yes and every message with OK.
class YesPrompter : public Prompter
{
public:
    void message(const QString &, const QString &, Icon) override { }
    bool askYesNo(const QString &, const QString &, bool) override { return true; }
    std::optional<QString> inputText(const QString &, const QString &, const QString &p) override
    {
        return p;
    }
    QStringList openFiles(const QString &, const QStringList &) override { return {}; }
    QString saveFile(const QString &, const QStringList &) override { return {}; }
    QString pickFolder(const QString &) override { return {}; }
    bool openUrl(const QUrl &) override { return true; }
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QTemporaryDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    const QStringList files = app.arguments().mid(1);
    QTextStream out(stdout);
    YesPrompter prompter;
    ProgramWindows windows(prompter, settings.path());
    MainWindow &main = windows.mainWindow();
    main.show();

    // Latency: a 5 ms timer records the longest gap between two of its ticks.
    QElapsedTimer sinceTick;
    qint64 worstGap = 0;
    qint64 worstAt = 0; // when the longest gap ended, from the start of the run
    qint64 worstCpu = 0, lastCpu = 0; // the window thread's own CPU time in that gap
    QElapsedTimer clock;
    qint64 ticks = 0;
    QTimer ticker;
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        timespec cpu;
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu);
        const qint64 cpuNow = qint64(cpu.tv_sec) * 1000 + cpu.tv_nsec / 1000000;
        if (sinceTick.isValid() && sinceTick.elapsed() > worstGap) {
            worstGap = sinceTick.elapsed();
            worstAt = clock.elapsed();
            worstCpu = cpuNow - lastCpu;
        }
        lastCpu = cpuNow;
        sinceTick.start();
        ++ticks;
    });
    if (!files.isEmpty()) {
        main.fileList()->append(files);
        QElapsedTimer run;
        QObject::connect(&windows.runner(), &AnalysisRunner::runFinished, &app, &QApplication::quit);
        ticker.start();
        run.start();
        clock.start();
        main.start();
        app.exec();
        ticker.stop();
        out << "run: " << run.elapsed() / 1000.0 << " s, "
            << main.resultsWindow()->model()->rowCount() << " rows, longest gap between events "
            << worstGap << " ms (ending " << worstAt << " ms into the run; " << worstCpu
            << " ms of it computing on the window's thread) over " << ticks
            << " ticks\n";
        main.resultsWindow()->back();
    }

    // A million distinct rows appended in one step and painted.
    std::vector<WordCount> rows;
    rows.reserve(1'000'000);
    for (int i = 0; i < 1'000'000; ++i)
        rows.push_back({u"word"_qs + QString::number(i), i % 7 + 1});
    ResultTable table(false);
    table.appendRows(rows);
    ResultsWindow *results = main.resultsWindow();
    results->setColumns(resultColumns({CountMode::Combined, false, true}));
    QElapsedTimer show;
    show.start();
    results->model()->appendTable(table);
    results->show();
    QCoreApplication::processEvents();
    results->listView()->scrollToBottom();
    QCoreApplication::processEvents();
    out << "a million rows shown in " << show.elapsed() << " ms\n";
    return 0;
}
