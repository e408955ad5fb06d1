// The workbench window on a big file: the concordance of a frequent word (its first line, all of
// its lines, the longest time the event loop went without handling events meanwhile), the lines
// sorted again by three levels, the plot of every hit, and the file view of the whole text (its
// first screen, all of it, a jump to the last hit, scrolling). With --collocates: a table of that
// many collocates (made up, their measures as the tool works them out) shown in the Collocates tab,
// then ordered by each column, both ways, up to its repainted view.
//
//   bench_workbench FILE [QUERY]      (run offscreen: QT_QPA_PLATFORM=offscreen; bench/workbench.sh)
//   bench_workbench --collocates [ROWS]       (100,000 rows by default)
#include "base/prompter.h"
#include "workbench/collocatestab.h"
#include "workbench/corpustablemodel.h"
#include "workbench/concordancemodel.h"
#include "workbench/concordancetab.h"
#include "workbench/fileviewtab.h"
#include "workbench/plottab.h"
#include "workbench/textviewport.h"
#include "workbench/workbench.h"
#include "workbench/workbenchwindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QKeyEvent>
#include <QRandomGenerator>
#include <QLineEdit>
#include <QScrollBar>
#include <QSpinBox>
#include <QTableView>
#include <QTabWidget>
#include <QTextStream>
#include <QTimer>
#include <QUrl>

#include <cmath>
#include <ctime>
#include <functional>

using namespace corvalen;

namespace {

// The workbench asks nothing while it searches and shows.
class SilentPrompter : public Prompter
{
public:
    void message(const QString &, const QString &, Icon) override { }
    bool askYesNo(const QString &, const QString &, bool) override { return false; }
    std::optional<QString> inputText(const QString &, const QString &, const QString &) override { return {}; }
    QStringList openFiles(const QString &, const QStringList &) override { return {}; }
    QString saveFile(const QString &, const QStringList &) override { return {}; }
    QString pickFolder(const QString &) override { return {}; }
    bool openUrl(const QUrl &) override { return false; }
};

double cpuMs()
{
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

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

// Runs the event loop until done() or the time is up; false when it is up. It sleeps between
// events: a loop that spins would take one of the two cores from the work it waits for.
bool waitFor(const std::function<bool()> &done, int ms = 120000)
{
    QElapsedTimer clock;
    clock.start();
    QTimer wake;
    wake.start(5);
    while (!done()) {
        if (clock.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// A made-up word of 3 to 12 letters, distinct by its number.
QString madeUpWord(QRandomGenerator &random, int number)
{
    QString word;
    const int letters = 3 + int(random.bounded(10));
    for (int i = 0; i < letters; ++i)
        word += QChar(u'a' + char16_t(random.bounded(26)));
    return word + QString::number(number, 36);
}

// Collocates of a node met 20,000 times in 10 million words, span 5,5; each column ordered both
// ways (the view repainted), the slowest and the sum printed.
int benchCollocatesTable(qsizetype rows, QTextStream &out)
{
    SilentPrompter prompter;
    WorkbenchWindow window({u"/nonexistent/corpus.txt"_qs}, CountOptions(CountMode::Combined, false, true), prompter);
    window.resize(1200, 800);
    window.show();
    CollocatesTab *tab = window.tab<CollocatesTab>();
    window.showTab(tab);
    waitFor([] { return false; }, 300);

    QRandomGenerator random(20240607);
    auto result = std::make_shared<CollocateResult>();
    result->nodeOccurrences = 20000;
    result->corpusWords = 10000000;
    result->rows.reserve(size_t(rows));
    for (qsizetype i = 0; i < rows; ++i) {
        CollocateRow row;
        row.word = madeUpWord(random, int(i));
        // Mostly rare words, as a corpus has them: many ties in every count.
        row.frequency = 2 + qint64(std::pow(random.generateDouble(), 4) * 50000);
        row.left = qint64(random.bounded(int(std::min<qint64>(row.frequency, 40)))) + 1;
        row.right = qint64(random.bounded(int(std::min<qint64>(row.frequency, 40))));
        row.cooccurrence = row.left + row.right;
        row.measures = associationOf(row.cooccurrence, row.frequency, result->nodeOccurrences, result->corpusWords, 10);
        result->rows.push_back(std::move(row));
    }
    tab->minCooccurrenceBox()->setValue(0); // every row
    WorkbenchQuery node;
    node.text = u"node"_qs;
    bool shown = false;
    QObject::connect(tab, &CorpusTableTab::tableShown, tab, [&] { shown = true; });
    QElapsedTimer clock;
    clock.start();
    tab->showResult(result, node, 5, 5);
    if (!waitFor([&] { return shown; }))
        return 1;
    tab->view()->viewport()->repaint();
    out << "collocates table of " << tab->model()->rowCount() << " rows: selected, ranked and shown after "
        << clock.elapsed() << " ms\n";
    qint64 slowest = 0;
    qint64 sum = 0;
    QStringList each;
    for (int c = 0; c < tab->model()->columnCount(); ++c) {
        qint64 worst = 0;
        for (const Qt::SortOrder order : {Qt::DescendingOrder, Qt::AscendingOrder}) {
            QElapsedTimer step;
            step.start();
            tab->sortBy(c, order);
            tab->view()->viewport()->repaint();
            worst = std::max(worst, step.elapsed());
            sum += step.elapsed();
        }
        slowest = std::max(slowest, worst);
        each << tab->model()->headerData(c, Qt::Horizontal).toString() + u' ' + QString::number(worst);
    }
    out << "ordered by each column both ways, shown: slowest " << slowest << " ms, all " << sum
        << " ms (slowest of the two ways, ms: " << each.join(u", ") << ")\n";
    out.flush();
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc >= 2 && qstrcmp(argv[1], "--collocates") == 0) {
        QTextStream out(stdout);
        return benchCollocatesTable(argc > 2 ? QString::fromLocal8Bit(argv[2]).toLongLong() : 100000, out);
    }
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_workbench FILE [QUERY] | --collocates [ROWS]\n");
        return 2;
    }
    const QString file = QString::fromLocal8Bit(argv[1]);
    const QString query = argc > 2 ? QString::fromLocal8Bit(argv[2]) : u"the"_qs;
    QTextStream out(stdout);
    SilentPrompter prompter;
    WorkbenchWindow window({file}, CountOptions(CountMode::Combined, false, true), prompter);
    window.resize(1200, 800);
    window.show();
    waitFor([] { return false; }, 300); // the window settles (fonts, first layout)
    Workbench &workbench = window.workbench();
    ConcordanceTab *concordance = window.tab<ConcordanceTab>();
    GapMeter gaps;

    // The search: first line, all lines, and the event loop from the first line on.
    QElapsedTimer clock;
    qint64 firstLine = -1;
    QObject::connect(&workbench, &Workbench::linesAdded, &app, [&] {
        if (firstLine < 0) {
            firstLine = clock.elapsed();
            gaps.start();
        }
    });
    concordance->searchEdit()->setText(query);
    double cpu = cpuMs();
    clock.start();
    concordance->search();
    if (!waitFor([&] { return !workbench.isSearching(); }))
        return 1;
    const qint64 allLines = clock.elapsed();
    const qint64 searchGap = gaps.stop();
    out << "concordance of \"" << query << "\": " << workbench.hitCount() << " lines; first after " << firstLine
        << " ms, all after " << allLines << " ms (CPU " << qint64(cpuMs() - cpu) << " ms); longest event-loop gap after the first line "
        << searchGap << " ms\n";
    out.flush();
    waitFor([] { return false; }, 300);

    // Sorted again, by three levels, twice.
    for (const QList<SortKey> &keys : {QList<SortKey>{SortKey::Right1, SortKey::Right2, SortKey::Right3},
                                       QList<SortKey>{SortKey::Left1, SortKey::Hit, SortKey::Right1}}) {
        bool shown = false;
        const QMetaObject::Connection c = QObject::connect(concordance->model(), &ConcordanceModel::orderShown, &app, [&] { shown = true; });
        gaps.start();
        cpu = cpuMs();
        clock.start();
        concordance->setSortKeys(keys);
        if (!waitFor([&] { return shown; }))
            return 1;
        concordance->view()->viewport()->repaint();
        const qint64 sorted = clock.elapsed();
        QObject::disconnect(c);
        QStringList names;
        for (const SortKey key : keys)
            names << sortKeyNames().at(int(key));
        out << "sorted by " << names.join(u',') << ": shown after " << sorted << " ms (CPU " << qint64(cpuMs() - cpu)
            << " ms); longest event-loop gap " << gaps.stop() << " ms\n";
        out.flush();
    }

    // The plot of every hit: made and painted.
    PlotTab *plot = window.tab<PlotTab>();
    gaps.start();
    cpu = cpuMs();
    clock.start();
    window.showTab(plot);
    plot->view()->viewport()->repaint();
    const qint64 plotted = clock.elapsed();
    waitFor([] { return false; }, 50);
    out << "plot of " << plot->model()->markCount() << " marks: made and drawn in " << plotted << " ms (CPU "
        << qint64(cpuMs() - cpu) << " ms); longest event-loop gap " << gaps.stop() << " ms\n";
    out.flush();

    // The file view of the whole text: its first screen, all of it, the last hit, scrolling.
    FileViewTab *view = window.tab<FileViewTab>();
    TextViewport *text = view->textView();
    qint64 firstScreen = -1;
    bool loaded = false;
    QObject::connect(view, &FileViewTab::fileLoaded, &app, [&] { loaded = true; });
    gaps.start();
    cpu = cpuMs();
    clock.start();
    view->showFile(0);
    if (!waitFor([&] { return text->blockCount() > 0; }))
        return 1;
    text->viewport()->repaint();
    firstScreen = clock.elapsed();
    if (!waitFor([&] { return loaded; }))
        return 1;
    const qint64 whole = clock.elapsed();
    const qint64 loadGap = gaps.stop();
    out << "file view of " << text->length() << " characters (" << text->blockCount() << " blocks): first screen after "
        << firstScreen << " ms, the whole text after " << whole << " ms (CPU " << qint64(cpuMs() - cpu)
        << " ms); longest event-loop gap " << loadGap << " ms\n";
    out.flush();

    clock.start();
    workbench.showHit(workbench.lineCount() - 1);
    text->viewport()->repaint();
    const qint64 jumped = clock.elapsed();
    const bool onScreen = text->isOnScreen(text->selection().first);
    qint64 slowestPage = 0;
    qint64 slowestDrag = 0;
    for (int i = 0; i < 50; ++i) {
        QElapsedTimer step;
        step.start();
        QKeyEvent key(QEvent::KeyPress, i < 25 ? Qt::Key_PageUp : Qt::Key_PageDown, Qt::NoModifier);
        QCoreApplication::sendEvent(text, &key);
        text->viewport()->repaint();
        slowestPage = std::max(slowestPage, step.elapsed());
        step.start();
        QScrollBar *bar = text->verticalScrollBar();
        bar->setValue(int(qint64(bar->maximum()) * ((i * 37) % 50) / 50));
        text->viewport()->repaint();
        slowestDrag = std::max(slowestDrag, step.elapsed());
    }
    out << "jump to the last hit: shown after " << jumped << " ms (" << (onScreen ? "in view" : "NOT in view")
        << "); slowest Page Up/Down " << slowestPage << " ms, slowest jump of the scroll bar " << slowestDrag << " ms\n";
    out.flush();
    return 0;
}
