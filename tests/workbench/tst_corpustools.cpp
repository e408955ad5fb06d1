// The workbench's corpus tools over a small corpus written here: collocates (measures worked out by
// hand for one collocate, orders and ties), clusters (counts, files, places), keywords against a
// word list (log-likelihood by hand, negatives, Bonferroni, a damaged line), their exports and
// Stop; and the word list's dispersion columns and type/token ratios, also by hand.
#include "support/scriptedprompter.h"
#include "support/zipentries.h"

#include "base/plurals.h"
#include "corpus/corpusscan.h"
#include "filelist/folderscan.h"
#include "workbench/clusterstab.h"
#include "workbench/collocatestab.h"
#include "workbench/concordancemodel.h"
#include "workbench/concordancerunner.h"
#include "workbench/concordancetab.h"
#include "workbench/corpusjob.h"
#include "workbench/corpustablemodel.h"
#include "workbench/keywordstab.h"
#include "workbench/wordlistmodel.h"
#include "workbench/wordlistpanel.h"
#include "workbench/wordlisttab.h"
#include "workbench/workbench.h"
#include "workbench/workbenchwindow.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QDir>
#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <cmath>
#include <optional>
#include <stdexcept>
#include <system_error>

#include <pthread.h>

using namespace corvalen;

namespace {

bool writeText(const QString &path, const QByteArray &text)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(text) == text.size();
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A table's rows as shown, the plain text of each cell joined by "|".
QStringList rowsOf(const CorpusTableTab &tab)
{
    QStringList rows;
    const CorpusTableModel *model = tab.model();
    for (int r = 0; r < model->rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < model->columnCount(); ++c)
            cells << model->table()->plainText(model->rowAt(r), c);
        rows << cells.join(u'|');
    }
    return rows;
}

// The shown row whose first cell is text; -1 when none.
int rowOf(const CorpusTableTab &tab, const QString &text)
{
    for (int r = 0; r < tab.model()->rowCount(); ++r) {
        if (tab.model()->table()->text(tab.model()->rowAt(r), 0) == text)
            return r;
    }
    return -1;
}

void clickHeader(QTableView *view, int column)
{
    QHeaderView *header = view->horizontalHeader();
    const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
}

void doubleClickRow(QTableView *view, int row)
{
    const QRect rect = view->visualRect(view->model()->index(row, 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, rect.center());
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, rect.center());
}

// Runs a tab's Start and waits for its table (or its message).
bool runTab(CorpusTableTab &tab)
{
    QSignalSpy shown(&tab, &CorpusTableTab::tableShown);
    tab.start();
    return !shown.isEmpty() || shown.wait(20000); // a message may come at once
}

} // namespace

class TestCorpusTools : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void tableOrdersAndTexts();
    void figuresFitTheirColumns();
    void replacedWorkIsNeverShown();
    void workOutOfMemoryIsReported();
    void workThatCannotRunIsReported_data();
    void workThatCannotRunIsReported();
    void searchThatCannotStartIsReported();
    void collocatesMeasuresAndOrder();
    void collocateShowsItsLines();
    void clustersCountsAndPlaces();
    void queryFieldsKeepInStep();
    void keywordsAgainstAWordList();
    void keywordsAgainstFiles();
    void keywordsFolderTakesEveryDocument();
    void damagedWordListIsNamed_data();
    void damagedWordListIsNamed();
    void negativeKeywordsAbsentFromTheCorpus();
    void wordListNotesInTheStatus();
    void exportsThroughTheWriteRoutine_data();
    void exportsThroughTheWriteRoutine();
    void exportToAFailingTarget();
    void stopEndsARun();
    void wordListDispersion();
    void wordListMeasuresThatCannotRunAreSaid();
    void dispersionOfOneFileIsEmpty();
    void typeTokenRatiosShown_data();
    void typeTokenRatiosShown();

private:
    std::unique_ptr<WorkbenchWindow> openBench(CountOptions options = CountOptions(CountMode::Combined, false, true));
    bool search(WorkbenchWindow &w, const QString &text);

    QTemporaryDir m_settingsDir;
    QTemporaryDir m_dir;
    ScriptedPrompter m_prompter;
    QStringList m_paths;
};

void TestCorpusTools::initTestCase()
{
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settingsDir.path());
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    installEnglishPlurals();
    // one.txt: red cat sat on the red mat / the cat sat down (11 words, two paragraphs);
    // two.txt: big cat sat / red dog ran (6 words). 17 words in all.
    m_paths << m_dir.filePath(u"one.txt"_qs) << m_dir.filePath(u"two.txt"_qs);
    QVERIFY(writeText(m_paths.at(0), "Red cat sat on the red mat\r\nThe cat sat down\r\n"));
    QVERIFY(writeText(m_paths.at(1), "Big cat sat\r\nred dog ran\r\n"));
}

void TestCorpusTools::init()
{
    m_prompter.reset();
}

void TestCorpusTools::cleanup()
{
    QVERIFY2(m_prompter.isSatisfied(), qPrintable(m_prompter.problems()));
}

std::unique_ptr<WorkbenchWindow> TestCorpusTools::openBench(CountOptions options)
{
    auto w = std::make_unique<WorkbenchWindow>(m_paths, options, m_prompter);
    w->resize(1100, 700);
    w->show();
    return w;
}

bool TestCorpusTools::search(WorkbenchWindow &w, const QString &text)
{
    ConcordanceTab *tab = w.tab<ConcordanceTab>();
    w.showTab(tab);
    tab->searchEdit()->setText(text);
    QSignalSpy finished(&w.workbench(), &Workbench::searchFinished);
    QTest::keyClick(tab->searchEdit(), Qt::Key_Return);
    return finished.wait(20000) && !w.workbench().isSearching();
}

// A table orders its words in the root collation (not by code units), its numbers as numbers (not
// as texts), ties in the tool's order whichever way; what rounds to nothing has no sign.
void TestCorpusTools::tableOrdersAndTexts()
{
    using Kind = CorpusTableColumn::Kind;
    CorpusTable table({{u"Word"_qs, Kind::Text}, {u"Count"_qs, Kind::Count}, {u"Score"_qs, Kind::Decimal, 3},
                       {u"p"_qs, Kind::Probability, 2}});
    table.addRow({u"Zebra"_qs}, {10, -0.0004, 0.00012});
    table.addRow({u"\u00e4pfel"_qs}, {9, 2.5, 1});
    table.addRow({u"apple"_qs}, {10, -1.25, 0.5}, -1);
    table.addRow({u"banana"_qs}, {100, 2.5, 0.5});
    table.rankTexts();
    const auto words = [&](const std::vector<qint32> &rows) {
        QStringList out;
        for (const qint32 r : rows)
            out << table.text(r, 0);
        return out;
    };
    // The accent and the capital weigh less than the letters: äpfel (a p f) before apple (a p p).
    QCOMPARE(words(table.order(0, false)), (QStringList{u"\u00e4pfel"_qs, u"apple"_qs, u"banana"_qs, u"Zebra"_qs}));
    QCOMPARE(words(table.order(0, true)), (QStringList{u"Zebra"_qs, u"banana"_qs, u"apple"_qs, u"\u00e4pfel"_qs}));
    // 100 before 10 and 9 (as numbers); Zebra and apple tie at 10: the tool's order both ways.
    QCOMPARE(words(table.order(1, true)), (QStringList{u"banana"_qs, u"Zebra"_qs, u"apple"_qs, u"\u00e4pfel"_qs}));
    QCOMPARE(words(table.order(1, false)), (QStringList{u"\u00e4pfel"_qs, u"Zebra"_qs, u"apple"_qs, u"banana"_qs}));
    QCOMPARE(words(table.order(2, true)), (QStringList{u"\u00e4pfel"_qs, u"banana"_qs, u"Zebra"_qs, u"apple"_qs}));

    QCOMPARE(table.plainText(0, 2), u"0.000"_qs);
    QCOMPARE(table.shownText(0, 2), u"0.000"_qs);
    QCOMPARE(table.plainText(2, 2), u"-1.250"_qs);
    QCOMPARE(table.plainText(0, 3), u"1.20e-04"_qs);
    QCOMPARE(table.plainText(3, 1), u"100"_qs);
    QCOMPARE(table.shownText(3, 1), u"100"_qs);
    // The tone of a row after rows without one, and of those after it.
    QCOMPARE(table.tone(0), 0);
    QCOMPARE(table.tone(2), -1);
    QCOMPARE(table.tone(3), 0);
    QCOMPARE(tableText(table, {3, 2}), u"Word\tCount\tScore\tp\r\nbanana\t100\t2.500\t5.00e-01\r\napple\t10\t-1.250\t5.00e-01\r\n"_qs);

    // A p below 1e-300 (a denormal, or a tail that came out as 0): "< 1e-300" on screen, and 0 in
    // what Copy and every export write, a workbook's cell included.
    CorpusTable tiny({{u"Word"_qs, Kind::Text}, {u"p"_qs, Kind::Probability, 5}});
    tiny.addRow({u"red"_qs}, {2.51973e-322});
    tiny.addRow({u"sat"_qs}, {0.0});
    tiny.addRow({u"cat"_qs}, {1e-300});
    QCOMPARE(tiny.shownText(0, 1), u"< 1e-300"_qs);
    QCOMPARE(tiny.shownText(1, 1), u"< 1e-300"_qs);
    QCOMPARE(tiny.shownText(2, 1), QLocale().toString(1e-300, 'e', 5));
    QCOMPARE(tableText(tiny, {0, 1, 2}), u"Word\tp\r\nred\t0\r\nsat\t0\r\ncat\t1.00000e-300\r\n"_qs);
    QString error;
    const QString csv = m_dir.filePath(u"tiny.csv"_qs), xlsx = m_dir.filePath(u"tiny.xlsx"_qs);
    QVERIFY2(exportTable(tiny, {0, 1, 2}, csv, &error), qPrintable(error));
    QCOMPARE(readAll(csv), QByteArray("Word,p\r\nred,0\r\nsat,0\r\ncat,1.00000e-300\r\n"));
    QVERIFY2(exportTable(tiny, {0}, xlsx, &error), qPrintable(error));
    const QList<QByteArray> sheets = corvalen::testing::sheetsOf(xlsx);
    QCOMPARE(sheets.size(), 1);
    QVERIFY2(sheets.at(0).contains("<v>0</v>"), sheets.at(0).constData());
}

namespace {

// A tab that shows a table given to it, as the tools' tabs show theirs.
class GivenTableTab : public CorpusTableTab
{
public:
    GivenTableTab(Workbench &workbench, const QList<CorpusTableColumn> &columns) : CorpusTableTab(workbench)
    {
        auto *settings = new QHBoxLayout;
        settings->addWidget(startButton());
        settings->addWidget(stopButton());
        finishLayout(settings, columns);
    }
    QString title() const override { return u"Given"_qs; }
    void start() override { }
    void showGiven(std::shared_ptr<const CorpusTable> table) { showTable(std::move(table), 1); }

protected:
    void activateRow(qint32) override { }
};

} // namespace

// Large and negative figures, and p values with three-digit exponents, show whole: the number
// columns widen to them, the words give way.
void TestCorpusTools::figuresFitTheirColumns()
{
    using Kind = CorpusTableColumn::Kind;
    const QList<CorpusTableColumn> columns{{u"Keyword"_qs, Kind::Text}, {u"Frequency"_qs, Kind::Count},
                                           {u"Per million"_qs, Kind::Decimal, 3}, {u"p"_qs, Kind::Probability, 5}};
    auto table = std::make_shared<CorpusTable>(columns);
    table->addRow({u"dreadnought"_qs}, {1234567890, 987654321.123, 1.5e-299});
    table->addRow({u"ironclad"_qs}, {1, -98765432.5, 0.5});
    table->addRow({u"frigate"_qs}, {2, 1, 1e-320});
    Workbench workbench(m_paths, CountOptions(CountMode::Combined, false, true), m_prompter);
    GivenTableTab tab(workbench, columns);
    tab.resize(500, 300);
    tab.show();
    tab.showGiven(table);
    QTest::qWait(20);
    const QTableView *view = tab.view();
    for (int c = 1; c < columns.size(); ++c) {
        for (int r = 0; r < tab.model()->rowCount(); ++r) {
            const QString text = tab.model()->index(r, c).data().toString();
            QVERIFY2(view->columnWidth(c) > view->fontMetrics().horizontalAdvance(text) + 4, qPrintable(text));
        }
    }
}

// A work started while another runs replaces it: the first one's result is never taken, and only
// the second one's finished() comes.
void TestCorpusTools::replacedWorkIsNeverShown()
{
    CorpusJob job;
    QSignalSpy finished(&job, &CorpusJob::finished);
    std::atomic<bool> release{false};
    QStringList done;
    job.start(
            [&release](const std::atomic<bool> &stop, Progress &) {
                while (!release && !stop)
                    QThread::msleep(1);
            },
            [&done] { done << u"first"_qs; });
    job.start([](const std::atomic<bool> &, Progress &) { }, [&done] { done << u"second"_qs; });
    release = true;
    QVERIFY(finished.wait(20000));
    QTest::qWait(100);
    QCOMPARE(done, QStringList{u"second"_qs});
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished.at(0).at(0).toBool(), false);
    QVERIFY(!job.isRunning());
}

// A work that runs out of memory on its thread ends with failed() naming the file, its result
// never taken and no finished(): the window says so instead of the program aborting.
void TestCorpusTools::workOutOfMemoryIsReported()
{
    CorpusJob job;
    QSignalSpy failed(&job, &CorpusJob::failed);
    QSignalSpy finished(&job, &CorpusJob::finished);
    bool done = false;
    job.start([](const std::atomic<bool> &, Progress &) { throw CorpusOutOfMemory(u"/corpus/big.txt"_qs); },
              [&done] { done = true; });
    QVERIFY(failed.wait(20000));
    QCOMPARE(failed.at(0).at(0).toString(),
             u"Out of memory while reading "_qs + QDir::toNativeSeparators(u"/corpus/big.txt"_qs) + u'.');
    QTest::qWait(50);
    QVERIFY(!done);
    QCOMPARE(finished.size(), 0);
    QVERIFY(!job.isRunning());
}

// While one lives, no new thread of this process can start: each asks for a stack larger than the
// address space.
class ThreadsRefused
{
public:
    ThreadsRefused()
    {
        pthread_getattr_default_np(&m_old);
        pthread_attr_t huge;
        pthread_attr_init(&huge);
        pthread_attr_setstacksize(&huge, size_t(1) << 47);
        pthread_setattr_default_np(&huge);
        pthread_attr_destroy(&huge);
    }
    ~ThreadsRefused()
    {
        pthread_setattr_default_np(&m_old);
        pthread_attr_destroy(&m_old);
    }
    ThreadsRefused(const ThreadsRefused &) = delete;
    ThreadsRefused &operator=(const ThreadsRefused &) = delete;

private:
    pthread_attr_t m_old;
};

void TestCorpusTools::workThatCannotRunIsReported_data()
{
    QTest::addColumn<int>("how");
    QTest::addColumn<QString>("reason");
    QTest::newRow("no thread for the work") << 0 << u"Out of memory: the work could not be started."_qs;
    QTest::newRow("the system refuses") << 1 << u"Resource temporarily unavailable."_qs;
    QTest::newRow("any other failure") << 2 << u"Too many distinct words."_qs;
}

// A work whose thread cannot start, or that fails in any way, ends with failed() and its reason:
// the window says so and goes on, its job ready for the next work.
void TestCorpusTools::workThatCannotRunIsReported()
{
    QFETCH(int, how);
    QFETCH(QString, reason);
    CorpusJob job;
    QSignalSpy failed(&job, &CorpusJob::failed);
    QSignalSpy finished(&job, &CorpusJob::finished);
    bool done = false;
    {
        std::optional<ThreadsRefused> refused;
        if (how == 0)
            refused.emplace();
        job.start(
                [how](const std::atomic<bool> &, Progress &) {
                    if (how == 1)
                        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
                    throw std::length_error("Too many distinct words.");
                },
                [&done] { done = true; });
        QVERIFY(failed.wait(20000));
    }
    QCOMPARE(failed.at(0).at(0).toString(), reason);
    QTest::qWait(50);
    QVERIFY(!done);
    QCOMPARE(finished.size(), 0);
    QVERIFY(!job.isRunning());
    // The next work runs as ever.
    job.start([](const std::atomic<bool> &, Progress &) {}, [&done] { done = true; });
    QVERIFY(finished.wait(20000));
    QVERIFY(done);
}

// A concordance whose thread cannot start ends, its first file named with the reason, instead of
// waiting for lines that never come.
void TestCorpusTools::searchThatCannotStartIsReported()
{
    QTemporaryDir tmp;
    const QString path = tmp.filePath(u"a.txt"_qs);
    QVERIFY(writeText(path, "the cat sat\n"));
    ConcordanceRequest request;
    request.files = {path};
    request.finder = WordFinder::create(WordRules(), true);
    request.query = *CorpusQuery::parse(u"cat"_qs, QueryMode::Words, true, *request.finder);
    ConcordanceRunner runner;
    QSignalSpy finished(&runner, &ConcordanceRunner::finished);
    QSignalSpy found(&runner, &ConcordanceRunner::found);
    {
        ThreadsRefused refused;
        runner.start(request);
    }
    QVERIFY(finished.wait(20000));
    QCOMPARE(found.size(), 0);
    QVERIFY(runner.isKnown(0));
    QCOMPARE(runner.failure(0), u"Out of memory: the search could not be started."_qs);
    QVERIFY(!runner.isRunning());
    // The next search runs as ever.
    runner.start(request);
    QVERIFY(finished.wait(20000));
    QCOMPARE(found.size(), 1);
    QVERIFY(runner.failure(0).isEmpty());
}

// Node "cat", span 1 left and 1 right (K = 2): its three occurrences have sat to the right each
// time, and red, the and big once to the left. N = 17, f(cat) = 3, f(sat) = 3, f(red) = 3,
// f(the) = 2, f(big) = 1.
void TestCorpusTools::collocatesMeasuresAndOrder()
{
    auto w = openBench();
    QVERIFY(search(*w, u"cat"_qs));
    CollocatesTab *tab = w->tab<CollocatesTab>();
    QCOMPARE(tab->leftSpan()->value(), 5);
    QCOMPARE(tab->rightSpan()->value(), 5);
    QCOMPARE(tab->minCooccurrenceBox()->value(), 2);
    QCOMPARE(tab->minFrequencyBox()->value(), 1);
    QCOMPARE(tab->measureBox()->currentText(), u"Log-likelihood"_qs);
    tab->leftSpan()->setValue(1);
    tab->rightSpan()->setValue(1);
    QVERIFY(runTab(*tab));
    QCOMPARE(tab->model()->rowCount(), 1); // at least 2 co-occurrences: sat alone

    // sat: O = 3 (0 left, 3 right), f_c = 3; E = f_n * f_c * K / N = 18 / 17.
    const double o = 3, e = 3.0 * 3 * 2 / 17;
    const double mi = std::log2(o / e), mi3 = std::log2(o * o * o / e), t = (o - e) / std::sqrt(o);
    const double logDice = 14 + std::log2(2 * o / (3 + 3));
    // The 2x2 table: O11 = 3, O12 = 3 * 2 - 3 = 3, O21 = 3 - 3 = 0, O22 = 17 - 6 - 3 + 3 = 11;
    // rows 6 and 11, columns 3 and 14 of 17.
    const double ll = 2 * (3 * std::log(3 / (6.0 * 3 / 17)) + 3 * std::log(3 / (6.0 * 14 / 17))
                           + 11 * std::log(11 / (11.0 * 14 / 17)));
    const auto fixed = [](double v) { return QString::number(v, 'f', 3); };
    QCOMPARE(rowsOf(*tab), QStringList{u"sat|3|0|3|3|%1|%2|%3|%4|%5"_qs.arg(fixed(mi), fixed(mi3), fixed(t), fixed(ll),
                                                                            fixed(logDice))});
    QCOMPARE(fixed(logDice), u"14.000"_qs);
    QCOMPARE(tab->model()->headerData(CollocatesTab::LogLikelihoodColumn, Qt::Horizontal).toString(), u"Log-likelihood"_qs);
    // Shown as the user's language writes numbers.
    QCOMPARE(tab->model()->index(0, CollocatesTab::MiColumn).data().toString(), QLocale().toString(mi, 'f', 3));

    // Down to one co-occurrence (no new reading): the others. Ordered by co-occurrences, the ties
    // go by the word.
    tab->minCooccurrenceBox()->setValue(1);
    QSignalSpy shown(tab, &CorpusTableTab::tableShown);
    tab->measureBox()->setCurrentIndex(tab->measureBox()->findData(int(CollocateMeasure::Frequency)));
    QTRY_VERIFY(!tab->isRunning() && tab->model()->rowCount() == 4);
    QStringList words;
    for (const QString &row : rowsOf(*tab))
        words << row.section(u'|', 0, 0);
    QCOMPARE(words, (QStringList{u"sat"_qs, u"big"_qs, u"red"_qs, u"the"_qs}));
    // By log-likelihood: the more frequent a collocate met once, the weaker it is.
    tab->measureBox()->setCurrentIndex(tab->measureBox()->findData(int(CollocateMeasure::LogLikelihood)));
    QTRY_VERIFY(!tab->isRunning() && tab->view()->horizontalHeader()->sortIndicatorSection() == CollocatesTab::LogLikelihoodColumn);
    words.clear();
    for (const QString &row : rowsOf(*tab))
        words << row.section(u'|', 0, 0);
    QCOMPARE(words, (QStringList{u"sat"_qs, u"big"_qs, u"the"_qs, u"red"_qs}));

    // Every column orders by its header: Frequency, largest first, ties in the tool's order; a
    // second click turns it round, the ties still in the tool's order; the words from A.
    clickHeader(tab->view(), CollocatesTab::FrequencyColumn);
    QCOMPARE(tab->view()->horizontalHeader()->sortIndicatorOrder(), Qt::DescendingOrder);
    words.clear();
    for (const QString &row : rowsOf(*tab))
        words << row.section(u'|', 0, 0) + row.section(u'|', 4, 4);
    QCOMPARE(words, (QStringList{u"sat3"_qs, u"red3"_qs, u"the2"_qs, u"big1"_qs}));
    clickHeader(tab->view(), CollocatesTab::FrequencyColumn);
    words.clear();
    for (const QString &row : rowsOf(*tab))
        words << row.section(u'|', 0, 0);
    QCOMPARE(words, (QStringList{u"big"_qs, u"the"_qs, u"sat"_qs, u"red"_qs}));
    clickHeader(tab->view(), CollocatesTab::WordColumn);
    QCOMPARE(tab->view()->horizontalHeader()->sortIndicatorOrder(), Qt::AscendingOrder);
    words.clear();
    for (const QString &row : rowsOf(*tab))
        words << row.section(u'|', 0, 0);
    QCOMPARE(words, (QStringList{u"big"_qs, u"red"_qs, u"sat"_qs, u"the"_qs}));

    // A phrase is no node: said, and no table.
    QVERIFY(search(*w, u"cat sat"_qs));
    QVERIFY(runTab(*tab));
    QCOMPARE(tab->model()->rowCount(), 0);
    QCOMPARE(tab->statusLabel()->text(), u"The node is one word, not a phrase of 2."_qs);
}

// A double click on a collocate: the concordance of the node where it keeps company within the
// span, the collocate marked; All Lines brings every line back.
void TestCorpusTools::collocateShowsItsLines()
{
    auto w = openBench();
    QVERIFY(search(*w, u"cat"_qs));
    CollocatesTab *tab = w->tab<CollocatesTab>();
    tab->leftSpan()->setValue(1);
    tab->rightSpan()->setValue(1);
    tab->minCooccurrenceBox()->setValue(1);
    QVERIFY(runTab(*tab));
    const int red = rowOf(*tab, u"red"_qs);
    QVERIFY(red >= 0);
    ConcordanceTab *concordance = w->tab<ConcordanceTab>();
    QSignalSpy finished(&w->workbench(), &Workbench::searchFinished);
    doubleClickRow(tab->view(), red);
    QVERIFY(finished.wait(20000));
    QCOMPARE(w->tabs()->currentWidget(), concordance);
    // red is within one word of cat once: "Red cat" at the start of one.txt (not "the red mat").
    QCOMPARE(w->workbench().hitCount(), qint64(1));
    const ConcordanceLine &line = w->workbench().line(concordance->model()->lineOf(0));
    QCOMPARE(line.file, 0);
    QCOMPARE(line.position, qint64(1));
    QVERIFY(concordance->companionLabel()->isVisible());
    QVERIFY2(concordance->companionLabel()->text().contains(u"\u201cred\u201d"_qs), qPrintable(concordance->companionLabel()->text()));
    bool marked = false;
    for (const ColouredSpan &span : concordance->model()->spans(0, ConcordanceModel::LeftColumn)) {
        if (span.level == ConcordanceModel::kCompanionLevel)
            marked = line.left().sliced(span.start, span.length) == u"Red";
    }
    QVERIFY(marked);
    // The query is the node still: the tab keeps its table on coming back.
    w->showTab(tab);
    QVERIFY(!tab->isRunning());
    QCOMPARE(tab->model()->rowCount(), 4);

    w->showTab(concordance);
    QTest::mouseClick(concordance->allLinesButton(), Qt::LeftButton);
    QVERIFY(finished.wait(20000));
    QCOMPARE(w->workbench().hitCount(), qint64(3));
    QVERIFY(concordance->companionLabel()->isHidden());
}

// cat's clusters: "cat sat" three times in two files; every other run once. The places keep those
// that start or end with it; a double click shows the cluster's lines.
void TestCorpusTools::clustersCountsAndPlaces()
{
    auto w = openBench();
    QVERIFY(search(*w, u"cat"_qs));
    ClustersTab *tab = w->tab<ClustersTab>();
    QCOMPARE(tab->minSizeBox()->value(), 2);
    QCOMPARE(tab->maxSizeBox()->value(), 4);
    QCOMPARE(tab->minCountBox()->value(), 2);
    QCOMPARE(tab->placeBox()->currentText(), u"Anywhere"_qs);
    QStringList places;
    for (int i = 0; i < tab->placeBox()->count(); ++i)
        places << tab->placeBox()->itemText(i);
    QCOMPARE(places, (QStringList{u"Left"_qs, u"Right"_qs, u"Anywhere"_qs}));
    QVERIFY(runTab(*tab));
    QCOMPARE(rowsOf(*tab), QStringList{u"cat sat|3|2"_qs});

    // Fewer than counted before: read again.
    QSignalSpy shown(tab, &CorpusTableTab::tableShown);
    tab->minCountBox()->setValue(1);
    QVERIFY(shown.wait(20000));
    QCOMPARE(rowsOf(*tab), (QStringList{u"cat sat|3|2"_qs, u"big cat|1|1"_qs, u"big cat sat|1|1"_qs, u"cat sat down|1|1"_qs,
                                        u"cat sat on|1|1"_qs, u"cat sat on the|1|1"_qs, u"red cat|1|1"_qs,
                                        u"red cat sat|1|1"_qs, u"red cat sat on|1|1"_qs, u"the cat|1|1"_qs,
                                        u"the cat sat|1|1"_qs, u"the cat sat down|1|1"_qs}));
    tab->placeBox()->setCurrentIndex(tab->placeBox()->findData(int(ClusterPlace::Left)));
    QVERIFY(shown.wait(20000));
    QCOMPARE(rowsOf(*tab), (QStringList{u"cat sat|3|2"_qs, u"cat sat down|1|1"_qs, u"cat sat on|1|1"_qs,
                                        u"cat sat on the|1|1"_qs}));
    tab->placeBox()->setCurrentIndex(tab->placeBox()->findData(int(ClusterPlace::Right)));
    QVERIFY(shown.wait(20000));
    QCOMPARE(rowsOf(*tab), (QStringList{u"big cat|1|1"_qs, u"red cat|1|1"_qs, u"the cat|1|1"_qs}));
    // Sizes from 3: none ends with cat.
    tab->minSizeBox()->setValue(3);
    QVERIFY(shown.wait(20000));
    QCOMPARE(tab->model()->rowCount(), 0);
    QCOMPARE(tab->maxSizeBox()->value(), 4);
    tab->maxSizeBox()->setValue(2); // the shortest follows
    QTRY_COMPARE(tab->minSizeBox()->value(), 2);
    QTRY_VERIFY(!tab->isRunning() && tab->model()->rowCount() == 3);

    tab->placeBox()->setCurrentIndex(tab->placeBox()->findData(int(ClusterPlace::Anywhere)));
    QVERIFY(shown.wait(20000));
    const int catSat = rowOf(*tab, u"cat sat"_qs);
    QVERIFY(catSat >= 0);
    QSignalSpy finished(&w->workbench(), &Workbench::searchFinished);
    doubleClickRow(tab->view(), catSat);
    QVERIFY(finished.wait(20000));
    QCOMPARE(w->tabs()->currentWidget(), w->tab<ConcordanceTab>());
    QCOMPARE(w->workbench().query().text, u"cat sat"_qs);
    QCOMPARE(w->workbench().hitCount(), qint64(3));
}

// Collocates and Clusters have a query field of their own, in step with the workbench's query: a
// query searched for in any tool shows in them, and one typed in them (Enter) becomes every tool's
// query and runs theirs. A phrase is no node, and says so once; a query that cannot be searched
// for is said, the table kept.
void TestCorpusTools::queryFieldsKeepInStep()
{
    auto w = openBench();
    CollocatesTab *collocates = w->tab<CollocatesTab>();
    ClustersTab *clusters = w->tab<ClustersTab>();
    ConcordanceTab *concordance = w->tab<ConcordanceTab>();
    QVERIFY(collocates->queryField() && clusters->queryField());
    QCOMPARE(collocates->queryField()->text(), QString());
    QVERIFY(search(*w, u"cat"_qs));
    QCOMPARE(collocates->queryField()->text(), u"cat"_qs);
    QCOMPARE(clusters->queryField()->text(), u"cat"_qs);

    // Typed in Collocates: its node, and the query of the concordance.
    QSignalSpy collocatesShown(collocates, &CorpusTableTab::tableShown);
    w->showTab(collocates); // a new query: it starts
    QVERIFY(collocatesShown.wait(20000));
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w.get()));
    QTest::keyClick(collocates->view(), Qt::Key_F, Qt::ControlModifier);
    QTRY_VERIFY(collocates->queryField()->hasFocus());
    collocates->queryField()->clear();
    QTest::keyClicks(collocates->queryField(), u"sat"_qs);
    QTest::keyClick(collocates->queryField(), Qt::Key_Return);
    QVERIFY(collocatesShown.wait(20000));
    QTRY_VERIFY(!w->workbench().isSearching());
    QCOMPARE(w->workbench().query().text, u"sat"_qs);
    QCOMPARE(w->workbench().hitCount(), qint64(3));
    QCOMPARE(concordance->searchEdit()->text(), u"sat"_qs);
    QCOMPARE(clusters->queryField()->text(), u"sat"_qs);
    QVERIFY2(collocates->statusLabel()->text().contains(u"\u201csat\u201d"_qs), qPrintable(collocates->statusLabel()->text()));

    // Typed in Clusters.
    QSignalSpy clustersShown(clusters, &CorpusTableTab::tableShown);
    w->showTab(clusters);
    QVERIFY(clustersShown.wait(20000)); // sat's, on coming to the front
    clusters->queryField()->setText(u"cat"_qs);
    QTest::keyClick(clusters->queryField(), Qt::Key_Return);
    QVERIFY(clustersShown.wait(20000));
    QCOMPARE(rowsOf(*clusters), QStringList{u"cat sat|3|2"_qs});
    QCOMPARE(concordance->searchEdit()->text(), u"cat"_qs);
    QCOMPARE(collocates->queryField()->text(), u"cat"_qs);

    // Nothing to search for: said in the field, the query and the table kept.
    clusters->queryField()->setText(u"  "_qs);
    QTest::keyClick(clusters->queryField(), Qt::Key_Return);
    QVERIFY(clusters->queryField()->styleSheet().contains(u"background"_qs));
    QVERIFY(!clusters->statusLabel()->text().isEmpty());
    QCOMPARE(w->workbench().query().text, u"cat"_qs);
    QCOMPARE(rowsOf(*clusters), QStringList{u"cat sat|3|2"_qs});

    // A phrase: said once.
    w->showTab(collocates);
    collocates->queryField()->setText(u"cat sat on"_qs);
    QTest::keyClick(collocates->queryField(), Qt::Key_Return);
    QTRY_COMPARE(collocates->statusLabel()->text(), u"The node is one word, not a phrase of 3."_qs);
    QCOMPARE(collocates->model()->rowCount(), 0);
    QCOMPARE(w->workbench().query().text, u"cat sat on"_qs);
    QCOMPARE(clusters->queryField()->text(), u"cat sat on"_qs);
    QVERIFY(clusters->queryField()->styleSheet().isEmpty());
}

// The corpus (17 words) against a word list of 100: the 50, dog 30, sat 10, cat 10. Worked out by
// hand: red (3 against 0) is the strongest keyword; the (2 against 50) and dog (1 against 30) are
// negative ones.
void TestCorpusTools::keywordsAgainstAWordList()
{
    const QString list = m_dir.filePath(u"reference.tsv"_qs);
    QVERIFY(writeText(list, "the\t50\ndog\t30\nsat\t10\ncat\t10\n"));
    auto w = openBench();
    KeywordsTab *tab = w->tab<KeywordsTab>();
    QCOMPARE(tab->cutoffBox()->currentText(), u"0.05"_qs);
    QVERIFY(!tab->bonferroniBox()->isChecked());
    QVERIFY(!tab->negativeBox()->isChecked());
    QCOMPARE(tab->minFrequencyBox()->value(), 1);
    QStringList headers;
    for (int c = 0; c < tab->model()->columnCount(); ++c)
        headers << tab->model()->headerData(c, Qt::Horizontal).toString();
    QCOMPARE(headers, (QStringList{u"Keyword"_qs, u"Frequency"_qs, u"Reference frequency"_qs, u"Per million"_qs,
                                   u"Reference per million"_qs, u"Log-likelihood"_qs, u"Log ratio"_qs, u"BIC"_qs, u"p"_qs}));

    QSignalSpy shown(tab, &CorpusTableTab::tableShown);
    tab->loadWordList(list);
    QVERIFY(shown.wait(20000));
    QVERIFY2(tab->referenceLabel()->text().contains(u"reference.tsv, 100 words"_qs), qPrintable(tab->referenceLabel()->text()));
    // LL = 2 * (a ln(a / E1) + b ln(b / E2)), E1 = c (a + b) / (c + d), E2 = d (a + b) / (c + d).
    const auto ll = [](double a, double b) {
        const double c = 17, d = 100, e1 = c * (a + b) / (c + d), e2 = d * (a + b) / (c + d);
        return 2 * ((a > 0 ? a * std::log(a / e1) : 0) + (b > 0 ? b * std::log(b / e2) : 0));
    };
    const double red = ll(3, 0), once = ll(1, 0), the = ll(2, 50), dog = ll(1, 30);
    QVERIFY(red > 3.841 && once > 3.841 && the > 3.841 && dog > 3.841); // all below p = 0.05
    // The positive ones: red, then the five words met once (big, down, mat, on, ran), in order.
    QStringList words;
    for (const QString &row : rowsOf(*tab))
        words << row.section(u'|', 0, 0);
    QCOMPARE(words, (QStringList{u"red"_qs, u"big"_qs, u"down"_qs, u"mat"_qs, u"on"_qs, u"ran"_qs}));
    const int r = rowOf(*tab, u"red"_qs);
    const CorpusTable &table = *tab->model()->table();
    const qint32 redRow = tab->model()->rowAt(r);
    QCOMPARE(table.plainText(redRow, KeywordsTab::FrequencyColumn), u"3"_qs);
    QCOMPARE(table.plainText(redRow, KeywordsTab::ReferenceFrequencyColumn), u"0"_qs);
    QCOMPARE(table.plainText(redRow, KeywordsTab::PerMillionColumn), QString::number(3.0 / 17 * 1e6, 'f', 3));
    QCOMPARE(table.plainText(redRow, KeywordsTab::LogLikelihoodColumn), QString::number(red, 'f', 3));
    // Log ratio with the missing frequency taken as 0.5; BIC = LL - ln(c + d).
    QCOMPARE(table.plainText(redRow, KeywordsTab::LogRatioColumn), QString::number(std::log2((3.0 / 17) / (0.5 / 100)), 'f', 3));
    QCOMPARE(table.plainText(redRow, KeywordsTab::BicColumn), QString::number(red - std::log(117.0), 'f', 3));
    QCOMPARE(table.plainText(redRow, KeywordsTab::PColumn), QString::number(std::erfc(std::sqrt(red / 2)), 'e', 5));
    QCOMPARE(table.tone(redRow), 1);

    // Negatives: after the positive ones, the most negative last, a sign and a colour of their own.
    tab->negativeBox()->setChecked(true);
    QVERIFY(shown.wait(20000));
    words.clear();
    for (const QString &row : rowsOf(*tab))
        words << row.section(u'|', 0, 0);
    QCOMPARE(words.mid(words.size() - 2), (QStringList{u"dog"_qs, u"the"_qs}));
    const int theRow = rowOf(*tab, u"the"_qs);
    QCOMPARE(tab->model()->table()->plainText(tab->model()->rowAt(theRow), KeywordsTab::LogLikelihoodColumn),
             QString::number(-the, 'f', 3));
    QCOMPARE(tab->model()->table()->plainText(tab->model()->rowAt(rowOf(*tab, u"dog"_qs)), KeywordsTab::LogLikelihoodColumn),
             QString::number(-dog, 'f', 3));
    const QModelIndex negative = tab->model()->index(theRow, KeywordsTab::WordColumn);
    const QModelIndex positive = tab->model()->index(rowOf(*tab, u"red"_qs), KeywordsTab::WordColumn);
    QCOMPARE(negative.data(Qt::ForegroundRole).value<QColor>(), CorpusTableModel::toneColour(-1));
    QVERIFY(negative.data(Qt::ForegroundRole).value<QColor>() != positive.data(Qt::ForegroundRole).value<QColor>());

    // Bonferroni: 10 distinct words compared, the cut-off 0.005 keeps red alone (p of the words
    // met once is about 0.0495).
    tab->negativeBox()->setChecked(false);
    QVERIFY(shown.wait(20000));
    tab->bonferroniBox()->setChecked(true);
    QVERIFY(shown.wait(20000));
    QCOMPARE(tab->comparedWords(), qint64(10));
    QCOMPARE(tab->model()->rowCount(), 1);
    QCOMPARE(rowOf(*tab, u"red"_qs), 0);
    // No cut-off: every word of either list, least frequency 2 in the corpus: red, cat, sat, the.
    tab->bonferroniBox()->setChecked(false);
    QVERIFY(shown.wait(20000));
    tab->cutoffBox()->setCurrentIndex(tab->cutoffBox()->findText(u"none"_qs));
    QVERIFY(shown.wait(20000));
    tab->minFrequencyBox()->setValue(2);
    QVERIFY(shown.wait(20000));
    words.clear();
    for (const QString &row : rowsOf(*tab))
        words << row.section(u'|', 0, 0);
    QCOMPARE(words, (QStringList{u"red"_qs, u"cat"_qs, u"sat"_qs})); // cat and sat tie: by the word

    // A keyword's concordance.
    QSignalSpy finished(&w->workbench(), &Workbench::searchFinished);
    doubleClickRow(tab->view(), 0);
    QVERIFY(finished.wait(20000));
    QCOMPARE(w->workbench().query().text, u"red"_qs);
    QCOMPARE(w->workbench().hitCount(), qint64(3));
}

// A reference of files, counted as the corpus is: its size says files and words.
void TestCorpusTools::keywordsAgainstFiles()
{
    auto w = openBench();
    KeywordsTab *tab = w->tab<KeywordsTab>();
    QSignalSpy shown(tab, &CorpusTableTab::tableShown);
    m_prompter.expectOpenFiles(u"Add Files to the Reference"_qs, {u"All files (*)"_qs}, {m_paths.at(1)});
    tab->findChild<QPushButton *>(u"addReferenceFiles"_qs)->click();
    QVERIFY(shown.wait(20000));
    QCOMPARE(tab->referenceLabel()->text(), u"Reference: 1 file, 6 words"_qs);
    tab->cutoffBox()->setCurrentIndex(tab->cutoffBox()->findText(u"none"_qs));
    QVERIFY(shown.wait(20000));
    // The corpus holds the reference: 10 distinct words; cat 3 against 1 in 17 and 6 words.
    QCOMPARE(tab->comparedWords(), qint64(10));
    const int cat = rowOf(*tab, u"cat"_qs);
    QVERIFY(cat >= 0);
    const double e1 = 17.0 * 4 / 23, e2 = 6.0 * 4 / 23;
    const double ll = 2 * (3 * std::log(3 / e1) + 1 * std::log(1 / e2)); // 3/17 < 1/6: negative
    QCOMPARE(tab->model()->table()->plainText(tab->model()->rowAt(cat), KeywordsTab::LogLikelihoodColumn),
             QString::number(3.0 / 17 > 1.0 / 6 ? ll : -ll, 'f', 3));
}

// Add Folder... asks for a folder and nothing else (no file type), over the workbench; the
// reference is every file of its tree that a drop on the file list adds, whatever its ending.
void TestCorpusTools::keywordsFolderTakesEveryDocument()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath(u"sub/deeper"_qs));
    for (const QString &name : {u"a.txt"_qs, u"b.md"_qs, u"c"_qs, u"D.DOC"_qs, u"sub/deeper/f.TXT"_qs, u"~g.txt"_qs})
        QVERIFY(writeText(dir.filePath(name), "alpha beta\r\n"));
    QVERIFY(writeText(dir.filePath(u"sub/e.html"_qs), "<html><body><p>alpha beta</p></body></html>"));
    QCOMPARE(pathsAsDropped({dir.path()}).size(), 6); // a word processor's temporary file is none
    auto w = openBench();
    KeywordsTab *tab = w->tab<KeywordsTab>();
    w->showTab(tab);
    QSignalSpy shown(tab, &CorpusTableTab::tableShown);
    m_prompter.expectPickFolder(u"Add a Folder to the Reference"_qs, dir.path());
    tab->findChild<QPushButton *>(u"addReferenceFolder"_qs)->click();
    QVERIFY(shown.wait(20000));
    QCOMPARE(tab->referenceLabel()->text(), u"Reference: 6 files, 12 words"_qs);
    QCOMPARE(m_prompter.calls().size(), 1);
    QCOMPARE(m_prompter.calls().constFirst().window, w.get());
}

void TestCorpusTools::damagedWordListIsNamed_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("why");
    QTest::newRow("not a count") << QByteArray("the\t50\ncat\tmany\n") << u"\"many\" is no count"_qs;
    QTest::newRow("decimal") << QByteArray("the\t50\ncat\t12.5\n") << u"\"12.5\" is not a whole number"_qs;
    QTest::newRow("count beyond 2^63") << QByteArray("the\t50\ncat\t9223372036854775799\n") << u"more than 9007199254740992"_qs;
    QTest::newRow("total beyond 2^53") << QByteArray("the\t4503599627370496\ncat\t4503599627370497\n")
                                       << u"the counts add up to more than 9007199254740992"_qs;
}

// A word list with a line that cannot be read: the message names the file, the line and why, and
// nothing is compared.
void TestCorpusTools::damagedWordListIsNamed()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, why);
    const QString list = m_dir.filePath(u"damaged.tsv"_qs);
    QVERIFY(writeText(list, bytes));
    auto w = openBench();
    KeywordsTab *tab = w->tab<KeywordsTab>();
    QSignalSpy shown(tab, &CorpusTableTab::tableShown);
    m_prompter.expectOpenFiles(u"Load a Word List as the Reference"_qs,
                               {u"Word lists (*.tsv *.txt *.csv *.json)"_qs, u"All files (*)"_qs}, {list});
    m_prompter.expectMessage(QString(), Prompter::Icon::Warning);
    tab->findChild<QPushButton *>(u"loadWordList"_qs)->click();
    QVERIFY(shown.wait(20000));
    QCOMPARE(m_prompter.calls().size(), 2);
    const QString message = m_prompter.calls().at(1).text;
    QVERIFY2(message.contains(u"damaged.tsv"_qs) && message.contains(u"line 2"_qs) && message.contains(why), qPrintable(message));
    QCOMPARE(tab->model()->rowCount(), 0);
    QVERIFY(!tab->reference());
    QVERIFY2(tab->statusLabel()->text().startsWith(u"Nothing compared"_qs), qPrintable(tab->statusLabel()->text()));
}

// With negative keywords the least frequency asks for the larger of the two frequencies: a word
// the corpus never has, the strongest negative keyword, is there; the label says so.
void TestCorpusTools::negativeKeywordsAbsentFromTheCorpus()
{
    const QString list = m_dir.filePath(u"absent.tsv"_qs);
    QVERIFY(writeText(list, "zebra\t60\nthe\t20\ncat\t20\n"));
    auto w = openBench();
    KeywordsTab *tab = w->tab<KeywordsTab>();
    QLabel *unit = tab->findChild<QLabel *>(u"keywordMinFrequencyUnit"_qs);
    QVERIFY(unit);
    QCOMPARE(unit->text(), u"times in the corpus"_qs);
    QSignalSpy shown(tab, &CorpusTableTab::tableShown);
    tab->loadWordList(list);
    QVERIFY(shown.wait(20000));
    QCOMPARE(rowOf(*tab, u"zebra"_qs), -1);
    tab->negativeBox()->setChecked(true);
    QVERIFY(shown.wait(20000));
    QCOMPARE(unit->text(), u"times in the corpus or the reference"_qs);
    // 0 of 17 against 60 of 100: the most negative, last.
    const int zebra = rowOf(*tab, u"zebra"_qs);
    QCOMPARE(zebra, tab->model()->rowCount() - 1);
    QCOMPARE(tab->model()->table()->plainText(tab->model()->rowAt(zebra), KeywordsTab::FrequencyColumn), u"0"_qs);
    // At least 30: only zebra's larger frequency reaches it.
    tab->minFrequencyBox()->setValue(30);
    QVERIFY(shown.wait(20000));
    QCOMPARE(rowsOf(*tab).size(), 1);
    QCOMPARE(rowOf(*tab, u"zebra"_qs), 0);
}

// What a word list leaves out, or that it counts nothing, is said beside the comparison.
void TestCorpusTools::wordListNotesInTheStatus()
{
    const QString list = m_dir.filePath(u"gaps.tsv"_qs);
    QVERIFY(writeText(list, "word\tfreq\nthe\t50\n\t3\n"));
    auto w = openBench();
    KeywordsTab *tab = w->tab<KeywordsTab>();
    QSignalSpy shown(tab, &CorpusTableTab::tableShown);
    tab->loadWordList(list);
    QVERIFY(shown.wait(20000));
    QVERIFY2(tab->referenceLabel()->text().contains(u"gaps.tsv, 50 words"_qs), qPrintable(tab->referenceLabel()->text()));
    QVERIFY2(tab->statusLabel()->text().endsWith(u"Line 3 of the word list "_qs + QDir::toNativeSeparators(list)
                                                 + u" has no word: it is left out."_qs),
             qPrintable(tab->statusLabel()->text()));
}

void TestCorpusTools::exportsThroughTheWriteRoutine_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("separator"); // none: a workbook
    QTest::newRow("csv") << u"clusters.csv"_qs << u","_qs;
    QTest::newRow("tsv") << u"clusters.tsv"_qs << u"\t"_qs;
    QTest::newRow("txt") << u"clusters.txt"_qs << u"\t"_qs;
    QTest::newRow("xlsx") << u"clusters.xlsx"_qs << QString();
}

// Export writes the rows as shown (here ordered by Count, smallest first, the ties in the tool's
// order), each format through the checked write routine; Copy the selected ones.
void TestCorpusTools::exportsThroughTheWriteRoutine()
{
    QFETCH(QString, name);
    QFETCH(QString, separator);
    auto w = openBench();
    QVERIFY(search(*w, u"cat"_qs));
    ClustersTab *tab = w->tab<ClustersTab>();
    tab->maxSizeBox()->setValue(2);
    tab->minCountBox()->setValue(1);
    QVERIFY(runTab(*tab));
    const QStringList shownRows{u"big cat|1|1"_qs, u"red cat|1|1"_qs, u"the cat|1|1"_qs, u"cat sat|3|2"_qs};
    tab->sortBy(ClustersTab::CountColumn, Qt::AscendingOrder);
    QCOMPARE(rowsOf(*tab), shownRows);

    const QString path = m_dir.filePath(name);
    QFile::remove(path);
    m_prompter.expectSaveFile(u"Export"_qs,
                              {u"CSV (*.csv)"_qs, u"Tab-separated text (*.txt *.tsv)"_qs, u"Excel Workbook (*.xlsx)"_qs}, path);
    tab->findChild<QPushButton *>(u"exportTable"_qs)->click();
    QVERIFY(m_prompter.isSatisfied());
    QVERIFY2(tab->statusLabel()->text().contains(u"4 rows written to "_qs + name), qPrintable(tab->statusLabel()->text()));
    if (separator.isEmpty()) {
        const QList<QByteArray> sheets = corvalen::testing::sheetsOf(path);
        QCOMPARE(sheets.size(), 1);
        const QByteArray &sheet = sheets.at(0);
        QVERIFY2(sheet.contains("Cluster") && sheet.contains("<v>3</v>"), sheet.constData());
        QVERIFY(sheet.indexOf("big cat") < sheet.indexOf("red cat") && sheet.indexOf("the cat") < sheet.indexOf("cat sat"));
        return;
    }
    QString expected = u"Cluster|Count|Files\r\n"_qs + shownRows.join(u"\r\n") + u"\r\n"_qs;
    expected.replace(u'|', separator);
    QCOMPARE(QString::fromUtf8(readAll(path)), expected);

    // Copy: the selected rows in the order shown, with the header line.
    tab->view()->selectRow(3);
    tab->copySelectedRows();
    QCOMPARE(QGuiApplication::clipboard()->text(), u"Cluster\tCount\tFiles\r\ncat sat\t3\t2\r\n"_qs);
}

// A target that cannot be written: the message names it, and nothing is left there.
void TestCorpusTools::exportToAFailingTarget()
{
    auto w = openBench();
    QVERIFY(search(*w, u"cat"_qs));
    ClustersTab *tab = w->tab<ClustersTab>();
    QVERIFY(runTab(*tab));
    const QString path = m_dir.filePath(u"no such folder/clusters.csv"_qs);
    m_prompter.expectSaveFile(u"Export"_qs,
                              {u"CSV (*.csv)"_qs, u"Tab-separated text (*.txt *.tsv)"_qs, u"Excel Workbook (*.xlsx)"_qs}, path);
    m_prompter.expectMessage(QString(), Prompter::Icon::Warning);
    tab->findChild<QPushButton *>(u"exportTable"_qs)->click();
    QVERIFY(m_prompter.isSatisfied());
    const QString message = m_prompter.calls().constLast().text;
    QVERIFY2(message.contains(u"clusters.csv"_qs), qPrintable(message));
    QVERIFY(!QFile::exists(path));
    QString error;
    QVERIFY(!tab->exportTo(m_dir.filePath(u"no such folder/clusters.xlsx"_qs), &error));
    QVERIFY2(error.contains(u"clusters.xlsx"_qs), qPrintable(error));
}

// Stop ends a run at once: no table comes of it, and Start runs again.
void TestCorpusTools::stopEndsARun()
{
    QTemporaryDir dir;
    QStringList paths;
    const QByteArray paragraph = "the quick fox and the slow dog met the other fox by the river\r\n";
    for (int i = 0; i < 4; ++i) {
        paths << dir.filePath(u"big%1.txt"_qs.arg(i));
        QVERIFY(writeText(paths.constLast(), paragraph.repeated(20000)));
    }
    WorkbenchWindow w(paths, CountOptions(CountMode::Combined, false, true), m_prompter);
    w.show();
    QVERIFY(search(w, u"fox"_qs));
    for (CorpusTableTab *tab : std::initializer_list<CorpusTableTab *>{w.tab<CollocatesTab>(), w.tab<ClustersTab>()}) {
        QSignalSpy shown(tab, &CorpusTableTab::tableShown);
        tab->start();
        QVERIFY(tab->isRunning());
        QVERIFY(tab->stopButton()->isEnabled());
        QTest::mouseClick(tab->stopButton(), Qt::LeftButton);
        QVERIFY(!tab->isRunning());
        QVERIFY(shown.wait(20000));
        QCOMPARE(tab->statusLabel()->text(), u"Stopped."_qs);
        QVERIFY(!tab->stopButton()->isEnabled());
        QTest::qWait(300); // nothing comes after Stop
        QCOMPARE(shown.size(), 1);
        QCOMPARE(tab->model()->rowCount(), 0);
        QVERIFY(runTab(*tab));
        QVERIFY(tab->model()->rowCount() > 0);
    }
}

// The word list's readings of the files (ratios, dispersion) whose threads cannot start say so, and
// the panel still counts as measured instead of waiting for them for ever.
void TestCorpusTools::wordListMeasuresThatCannotRunAreSaid()
{
    CountOptions options(CountMode::Combined, false, true);
    options.fileRange = true;
    // Not shown: Qt's painting waits for threads of its own.
    auto w = std::make_unique<WorkbenchWindow>(m_paths, options, m_prompter);
    WordListTab *words = w->tab<WordListTab>();
    {
        ThreadsRefused refused;
        w->workbench().countWordList();
        QTRY_VERIFY_WITH_TIMEOUT(words->panel() && words->panel()->hasMeasured(), 20000);
    }
    const QString status = words->panel()->findChild<QLabel *>(u"wordListStatus"_qs)->text();
    QVERIFY2(status.contains(u"could not be measured: Out of memory"_qs), qPrintable(status));
    QCOMPARE(words->panel()->model()->columnCount(), 3); // no dispersion columns without the figures
}

// A combined count with its range: per million, Juilland's D and DP after Files, by hand. The
// parts are one.txt (11 words) and two.txt (6): s = 11/17 and 6/17.
void TestCorpusTools::wordListDispersion()
{
    CountOptions options(CountMode::Combined, false, true);
    options.fileRange = true;
    auto w = openBench(options);
    w->workbench().countWordList();
    WordListTab *words = w->tab<WordListTab>();
    QTRY_VERIFY_WITH_TIMEOUT(words->panel() && words->panel()->isReady(), 20000);
    WordListPanel *panel = words->panel();
    QTRY_VERIFY_WITH_TIMEOUT(panel->hasMeasured(), 20000);
    const WordListModel *model = panel->model();
    QCOMPARE(model->columnCount(), 6);
    QStringList headers;
    for (int c = 0; c < model->columnCount(); ++c)
        headers << model->headerData(c, Qt::Horizontal).toString();
    QCOMPARE(headers, (QStringList{u" Word"_qs, u"Count"_qs, u"Files"_qs, u"Per million"_qs, u"Juilland's D"_qs, u"DP"_qs}));

    const auto cellsOf = [&](const QString &word) {
        for (int r = 0; r < model->rowCount(); ++r) {
            if (model->index(r, 0).data().toString() == word) {
                QStringList cells;
                for (int c = 1; c < model->columnCount(); ++c)
                    cells << model->index(r, c).data().toString();
                return cells;
            }
        }
        return QStringList();
    };
    // sat: 2 in one.txt, 1 in two.txt. DP = (|2/3 - 11/17| + |1/3 - 6/17|) / 2; D from the rates
    // 2/11 and 1/6: 1 - (sigma / mu) / sqrt(1).
    const double dp = (std::abs(2.0 / 3 - 11.0 / 17) + std::abs(1.0 / 3 - 6.0 / 17)) / 2;
    const double x1 = 2.0 / 11, x2 = 1.0 / 6, mu = (x1 + x2) / 2, sigma = std::abs(x1 - x2) / 2;
    const QLocale locale;
    QCOMPARE(cellsOf(u"sat"_qs), (QStringList{u"3"_qs, u"2"_qs, locale.toString(3.0 / 17 * 1e6, 'f', 3),
                                              locale.toString(1 - sigma / mu, 'f', 4), locale.toString(dp, 'f', 4)}));
    // dog, in two.txt alone: DP = (11/17 + 11/17) / 2; D = 0 (sigma = mu).
    QCOMPARE(cellsOf(u"dog"_qs), (QStringList{u"1"_qs, u"1"_qs, locale.toString(1.0 / 17 * 1e6, 'f', 3),
                                              u"0.0000"_qs, locale.toString(11.0 / 17, 'f', 4)}));

    // The new columns order as the others do: DP from the most even.
    clickHeader(panel->tableView(), 5);
    QCOMPARE(panel->sortKey(), WordListKey::DP);
    const Qt::SortOrder order = panel->sortOrder();
    double last = order == Qt::AscendingOrder ? -1 : 2;
    for (int r = 0; r < model->rowCount(); ++r) {
        const double value = locale.toDouble(model->index(r, 5).data().toString());
        QVERIFY2(order == Qt::AscendingOrder ? value >= last : value <= last, qPrintable(QString::number(r)));
        last = value;
    }
    clickHeader(panel->tableView(), 4);
    QCOMPARE(panel->sortKey(), WordListKey::JuillandD);
    QCOMPARE(panel->sortOrder(), Qt::DescendingOrder);
    // cat, red and sat are in both files, as sat: the most even.
    QCOMPARE(model->index(0, 4).data().toString(), locale.toString(1 - sigma / mu, 'f', 4));
}

// One file is one part: D and DP are empty.
void TestCorpusTools::dispersionOfOneFileIsEmpty()
{
    CountOptions options(CountMode::Combined, false, true);
    options.fileRange = true;
    WorkbenchWindow w({m_paths.at(1)}, options, m_prompter);
    w.show();
    w.workbench().countWordList();
    WordListTab *words = w.tab<WordListTab>();
    QTRY_VERIFY_WITH_TIMEOUT(words->panel() && words->panel()->isReady(), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(words->panel()->hasMeasured(), 20000);
    const WordListModel *model = words->panel()->model();
    QCOMPARE(model->columnCount(), 6);
    QCOMPARE(model->index(0, 3).data().toString(), QLocale().toString(1.0 / 6 * 1e6, 'f', 3));
    QCOMPARE(model->index(0, 4).data().toString(), QString());
    QCOMPARE(model->index(0, 5).data().toString(), QString());
}

void TestCorpusTools::typeTokenRatiosShown_data()
{
    QTest::addColumn<bool>("perFile");
    QTest::newRow("combined") << false;
    QTest::newRow("per file") << true;
}

// Texts shorter than a part and a window: each file's ratio is its plain one (one.txt 7 types of 11
// words, two.txt 6 of 6), and all files' the mean over their parts. A combined count has each
// file's statistics as well, from the files read again. At the size the window opens with, every
// measure and every file is in sight, no cell cut.
void TestCorpusTools::typeTokenRatiosShown()
{
    QFETCH(bool, perFile);
    auto w = openBench(CountOptions(perFile ? CountMode::PerFile : CountMode::Combined, perFile, true));
    w->workbench().countWordList();
    WordListTab *words = w->tab<WordListTab>();
    QTRY_VERIFY_WITH_TIMEOUT(words->panel() && words->panel()->isReady(), 20000);
    WordListPanel *panel = words->panel();
    QTRY_VERIFY_WITH_TIMEOUT(panel->hasMeasured(), 20000);
    QTRY_VERIFY(panel->hasStatistics());
    const QString text = panel->statisticsText();
    const QStringList lines = text.split(u"\r\n"_qs, Qt::SkipEmptyParts);
    QVERIFY2(lines.at(0).endsWith(u"\tStandardised type/token ratio (1,000 words)\tMoving-average type/token ratio (500 words)"_qs),
             qPrintable(lines.at(0)));
    const QString all = QString::number((7.0 / 11 + 1.0) / 2, 'f', 4);
    QVERIFY2(lines.constLast().endsWith(u"\t"_qs + all + u'\t' + all), qPrintable(lines.constLast()));
    // By hand: one.txt has red, cat, sat and the twice, on, mat and down once, 33 letters; two.txt
    // six words once each, 18 letters, the longest of equal length the first by code units.
    QCOMPARE(lines.size(), 4);
    const QString one = QString::number(7.0 / 11, 'f', 4);
    QCOMPARE(lines.at(1), u"one.txt\t11\t7\t"_qs + one + u"\t3\t42.9%\t3.00\tdown\t"_qs + one + u'\t' + one);
    QCOMPARE(lines.at(2), u"two.txt\t6\t6\t1.0000\t6\t100.0%\t3.00\tbig\t1.0000\t1.0000"_qs);
    if (!perFile)
        QCOMPARE(panel->model()->columnCount(), 2); // without the range there are no dispersion columns

    w->showTab(words);
    panel->panels()->setCurrentIndex(1);
    QTest::qWait(50);
    const QTableWidget *table = panel->statisticsTable();
    QCOMPARE(table->rowCount(), 9);
    QCOMPARE(table->columnCount(), 3);
    QCOMPARE(table->verticalHeaderItem(8)->toolTip(), u"Moving-average type/token ratio (500 words)"_qs);
    QCOMPARE(table->item(8, 0)->text(), all);
    QVERIFY(!table->horizontalScrollBar()->isVisible());
    QVERIFY(!table->verticalScrollBar()->isVisible());
    for (int c = 0; c < table->columnCount(); ++c) {
        QVERIFY(table->columnWidth(c) >= table->horizontalHeader()->sectionSizeHint(c));
        for (int r = 0; r < table->rowCount(); ++r) {
            const QString cell = table->item(r, c)->text();
            QVERIFY2(table->columnWidth(c) > table->fontMetrics().horizontalAdvance(cell), qPrintable(cell));
            QVERIFY(table->viewport()->rect().contains(table->visualItemRect(table->item(r, c))));
        }
    }
}

QTEST_MAIN(TestCorpusTools)
#include "tst_corpustools.moc"
