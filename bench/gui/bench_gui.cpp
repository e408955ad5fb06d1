// How responsive the windows stay: the longest time the event loop goes without handling events
// during a run over the given files, the time to show a million rows, and the workbench's word list
// on a per-file result of a million rows (open, order, find, statistics, charts).
//
//   bench_gui FILE...        (bench/gui.sh makes a 500 MB file and runs this offscreen)
#include "app/programwindows.h"
#include "base/prompter.h"
#include "workbench/wordlistpanel.h"
#include "workbench/wordlistcharts.h"
#include "workbench/wordlistmodel.h"
#include "windows/analysisrunner.h"
#include "windows/filelistmodel.h"
#include "windows/mainwindow.h"
#include "windows/resultsmodel.h"
#include "windows/resultswindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QCheckBox>
#include <QLineEdit>
#include <QRandomGenerator>
#include <QTableView>
#include <QTabWidget>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <QTreeView>

#include <cmath>
#include <ctime>
#include <set>

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

// Wall time and the process's CPU time (all threads) since start(): on a shared machine the CPU
// time shows the work when the wall time shows the load.
class Stopwatch
{
public:
    void start()
    {
        m_wall.start();
        m_cpu = cpuMs();
    }
    qint64 elapsed() const { return m_wall.elapsed(); }
    QString text() const
    {
        return u"%1 ms (CPU %2 ms)"_qs.arg(m_wall.elapsed()).arg(qint64(cpuMs() - m_cpu));
    }

private:
    static double cpuMs()
    {
        timespec t;
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
        return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
    }
    QElapsedTimer m_wall;
    double m_cpu = 0;
};

// The longest time the event loop goes without handling events, while it runs.
class GapMeter
{
public:
    GapMeter()
    {
        m_ticker.setInterval(5);
        QObject::connect(&m_ticker, &QTimer::timeout, [this] {
            if (m_since.isValid())
                m_worst = std::max(m_worst, m_since.elapsed());
            m_since.start();
        });
    }
    void start()
    {
        m_worst = 0;
        m_since.invalidate();
        m_ticker.start();
    }
    qint64 stop()
    {
        m_ticker.stop();
        return m_worst;
    }

private:
    QTimer m_ticker;
    QElapsedTimer m_since;
    qint64 m_worst = 0;
};

// A per-file result of about a million rows: 200 files of 5,000 distinct words each, drawn from
// 300,000 made-up words (some with accents) with a Zipf-like bias towards the frequent ones.
ResultTable perFileMillion()
{
    QRandomGenerator random(42);
    const int vocabulary = 300000;
    std::vector<QString> words;
    words.reserve(vocabulary);
    const QString letters = u"abcdefghijklmnopqrstuvwxyz\u00e9\u00e4\u00f6"_qs;
    std::set<QString> seen;
    while (int(words.size()) < vocabulary) {
        QString w;
        const int length = 2 + int(random.bounded(10));
        for (int i = 0; i < length; ++i)
            w += letters.at(random.bounded(i == 0 ? 26 : int(letters.size())));
        if (random.bounded(20) == 0)
            w[0] = w.at(0).toUpper();
        if (seen.insert(w).second)
            words.push_back(w);
    }
    ResultTable table(true);
    for (int f = 0; f < 200; ++f) {
        std::set<int> picked;
        while (picked.size() < 5000)
            picked.insert(int(std::pow(double(vocabulary), random.generateDouble())) - 1);
        std::vector<WordCount> rows;
        for (int id : picked)
            rows.push_back({words[size_t(id)], 1 + qint64(2000.0 / std::pow(id + 1.0, 0.9) * random.generateDouble())});
        orderRows(rows);
        table.appendRows(rows, u"file%1.txt"_qs.arg(f, 3, 10, QChar(u'0')));
    }
    return table;
}

void benchWordList(QTextStream &out, Prompter &prompter)
{
    const auto snapshot = std::make_shared<const WordListSnapshot>(
            makeSnapshot(perFileMillion(), CountOptions{}, {}));
    out << "word list on " << snapshot->table.rowCount() << " rows of "
        << snapshot->table.fileCount() << " files:\n";
    GapMeter gaps;
    Stopwatch clock;
    gaps.start();
    clock.start();
    WordListPanel window(snapshot, prompter);
    window.show();
    while (!window.isReady())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    QCoreApplication::processEvents();
    out << "  opens (rows shown, most frequent first): " << clock.text() << "\n";
    while (!window.hasStatistics())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    out << "  statistics and summed list shown (in the background): " << clock.text() << "\n";
    while (!window.canOrderAlphabetically())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    out << "  alphabetical ranks ready (in the background): " << clock.text() << "\n";
    out << "  longest event-loop gap while opening: " << gaps.stop() << " ms\n";

    const struct { const char *name; WordListKey key; Qt::SortOrder order; } orders[] = {
        {"word", WordListKey::Word, Qt::AscendingOrder},   {"word, reversed", WordListKey::Word, Qt::DescendingOrder},
        {"file", WordListKey::File, Qt::AscendingOrder},   {"count, ascending", WordListKey::Count, Qt::AscendingOrder},
        {"count", WordListKey::Count, Qt::DescendingOrder},
    };
    for (const auto &o : orders) {
        clock.start();
        window.sortBy(o.key, o.order);
        QCoreApplication::processEvents();
        out << "  orders by " << o.name << ": " << clock.text() << "\n";
    }

    // Keystrokes into the find field: the time until the filtered rows are shown, and the
    // longest gap of the event loop meanwhile.
    for (const auto &[text, regex] : {std::pair{u"ab"_qs, false}, std::pair{u"^[a-f].*e$"_qs, true}}) {
        window.findField()->clear();
        while (window.isSearching())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        window.regularExpressionBox()->setChecked(regex);
        qint64 worstKey = 0;
        QString worstText;
        gaps.start();
        for (const QChar c : text) {
            clock.start();
            window.findField()->insert(QString(c));
            while (window.isSearching())
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            QCoreApplication::processEvents();
            if (clock.elapsed() >= worstKey) {
                worstKey = clock.elapsed();
                worstText = clock.text();
            }
        }
        out << "  find \"" << text << "\"" << (regex ? " (expression)" : "") << ": rows shown within "
            << worstText << " of a keystroke, " << window.model()->rowCount()
            << " rows; longest event-loop gap " << gaps.stop() << " ms\n";
    }
    window.findField()->clear();
    while (window.isSearching())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);

    WordListIndex statistics(snapshot);
    statistics.build();
    statistics.buildSummaries();
    clock.start();
    statistics.computeStatistics();
    out << "  statistics (" << statistics.fileStatistics().size() << " files and all): " << clock.text() << "\n";

    WordListChart *chart = window.chart();
    window.panels()->setCurrentWidget(chart);
    QCoreApplication::processEvents();
    for (const auto kind : {WordListChart::Kind::TopWords, WordListChart::Kind::RankFrequency}) {
        clock.start();
        chart->setKind(kind);
        chart->refresh();
        QCoreApplication::processEvents();
        out << "  chart, " << (kind == WordListChart::Kind::TopWords ? "top 25 words" : "rank and frequency")
            << ", all files: " << clock.text() << "\n";
    }
}

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
    results->back();

    benchWordList(out, prompter);
    return 0;
}
