// The workbench's word list (the former explorer): opened from the results list, ordered,
// searched, summed, summarised, plotted and exported; and the results window around it unchanged.
#include "support/scriptedprompter.h"
#include "support/zipentries.h"

#include "app/programwindows.h"
#include "workbench/wordlistpanel.h"
#include "workbench/wordlisttab.h"
#include "workbench/workbench.h"
#include "workbench/workbenchwindow.h"
#include "workbench/wordlistcharts.h"
#include "workbench/wordlistdispersion.h"
#include "workbench/wordlistmodel.h"
#include "results/resultlayouts.h"
#include "windows/mainwindow.h"
#include "windows/resultsmodel.h"
#include "windows/resultswindow.h"

#include <QAbstractAxis>
#include <QApplication>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLegendMarker>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollBar>
#include <QSettings>
#include <QSplitter>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QTreeView>
#include <QValueAxis>

#include <cmath>
#include <limits>

using namespace corvalen;

namespace {

using Rows = std::vector<WordCount>;

// Two files in the usual order (count, then UTF-16 code units), as a run hands them over.
ResultTable twoFiles(bool fileNameColumn = true)
{
    ResultTable t(fileNameColumn);
    t.appendRows({{u"Zebra"_qs, 1}, {u"apple"_qs, 1}, {u"\u00e4pfel"_qs, 2}, {u"banana"_qs, 3}}, u"b.txt"_qs);
    t.appendRows({{u"Apple"_qs, 1}, {u"apple"_qs, 2}, {u"zebra"_qs, 2}, {u"banana"_qs, 5}}, u"a.txt"_qs);
    return t;
}

std::shared_ptr<const WordListSnapshot> snapshotOf(const ResultTable &table, CountMode mode,
                                                   bool withFileName = true, bool fileRange = false)
{
    CountOptions options;
    options.mode = mode;
    options.withFileName = withFileName;
    options.ignoreCase = false;
    options.fileRange = fileRange;
    return std::make_shared<const WordListSnapshot>(
            makeSnapshot(table, options, {u"/data/b.txt"_qs, u"/data/a.txt"_qs}));
}

// The rows shown, as "file|word|count" (or "word|count").
QStringList shown(const WordListPanel &w)
{
    QStringList rows;
    const WordListModel *m = w.model();
    for (int r = 0; r < m->rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < m->columnCount(); ++c)
            cells << m->index(r, c).data().toString();
        rows << cells.join(u'|');
    }
    return rows;
}

QStringList shownWords(const WordListPanel &w)
{
    QStringList words;
    const WordListModel *m = w.model();
    const int column = m->columnOf(WordListKey::Word);
    for (int r = 0; r < m->rowCount(); ++r)
        words << m->index(r, column).data().toString();
    return words;
}

WordListPanel *panelOf(const WorkbenchWindow &window)
{
    return window.tab<WordListTab>()->panel();
}

void clickHeader(WordListPanel &w, int section)
{
    QHeaderView *h = w.tableView()->horizontalHeader();
    QTest::mouseClick(h->viewport(), Qt::LeftButton, {},
                      QPoint(h->sectionViewportPosition(section) + 4, h->height() / 2));
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestWordList : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void contextMenuCopiesAndOpensWorkbenches();
    void resultsWindowStaysAsItWas();
    void titleAndSummaryNameTheOptions();
    void headerClicksOrder_data();
    void headerClicksOrder();
    void allFilesTogether();
    void find_data();
    void find();
    void badExpressionLeavesTheTable();
    void statistics();
    void topWordsChart();
    void rankFrequencyChart();
    void countAxisTicksAreWholeNumbers_data();
    void countAxisTicksAreWholeNumbers();
    void saveImage_data();
    void saveImage();
    void viewExports_data();
    void viewExports();
    void copySelectedRowsInViewOrder();
    void filesColumn_data();
    void filesColumn();
    void figuresHaveNoNegativeZero();
    void exportsCarryTheShownColumns_data();
    void exportsCarryTheShownColumns();
    void columnsFitTheWindow_data();
    void columnsFitTheWindow();
    void figureColumnsFitTheirFigures_data();
    void figureColumnsFitTheirFigures();
    void topWordsLabelsDoNotOverlap_data();
    void topWordsLabelsDoNotOverlap();
    void findWithoutMatchShowsNoChart();
    void numbersFollowTheLocale_data();
    void numbersFollowTheLocale();
    void phraseCountsSayPhrases();
    void closesWithCtrlW();

private:
    std::unique_ptr<WorkbenchWindow> open(const ResultTable &table, CountMode mode, bool withFileName = true,
                                         bool fileRange = false);

    QTemporaryDir m_settingsDir;
    QTemporaryDir m_dir;
    ScriptedPrompter m_prompter;
};

void TestWordList::initTestCase()
{
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settingsDir.path());
    // Alphabetical orders follow the user's locale: fix one for the test.
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

void TestWordList::init()
{
    m_prompter.reset();
}

void TestWordList::cleanup()
{
    QVERIFY2(m_prompter.isSatisfied(), qPrintable(m_prompter.problems()));
}

std::unique_ptr<WorkbenchWindow> TestWordList::open(const ResultTable &table, CountMode mode, bool withFileName,
                                                     bool fileRange)
{
    const std::shared_ptr<const WordListSnapshot> snapshot = snapshotOf(table, mode, withFileName, fileRange);
    auto w = std::make_unique<WorkbenchWindow>(snapshot->files, snapshot->options, m_prompter);
    w->workbench().setWordList(snapshot);
    w->resize(1040, 660);
    w->show();
    WordListPanel *panel = panelOf(*w);
    if (!panel || !QTest::qWaitFor([&] { return panel->canOrderAlphabetically(); }, 20000))
        return nullptr;
    return w;
}

void TestWordList::contextMenuCopiesAndOpensWorkbenches()
{
    ProgramWindows windows(m_prompter, m_dir.path());
    ResultsWindow *results = windows.mainWindow().resultsWindow();
    results->setColumns(resultColumns({CountMode::PerFile, true, true}));
    results->model()->appendTable(twoFiles());
    results->show();
    results->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(results));
    QTreeView *list = results->listView();

    // Right click, and the Menu key, open the menu with its two commands.
    for (const auto reason : {QContextMenuEvent::Mouse, QContextMenuEvent::Keyboard}) {
        QContextMenuEvent event(reason, QPoint(10, 10), list->viewport()->mapToGlobal(QPoint(10, 10)));
        QApplication::sendEvent(list->viewport(), &event);
        QMenu *menu = results->contextMenu();
        QTRY_VERIFY(menu->isVisible());
        QStringList texts;
        for (QAction *a : menu->actions())
            texts << a->text() + u'=' + a->shortcut().toString();
        QCOMPARE(texts, (QStringList{u"Copy=Ctrl+C"_qs, u"Explore Word List...=Ctrl+E"_qs}));
        menu->hide();
    }

    // Ctrl+C: the selected rows in list order, in the clipboard layout, without a message.
    QGuiApplication::clipboard()->setText(u"before"_qs);
    list->setFocus();
    list->selectionModel()->select(results->model()->index(5, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    list->selectionModel()->select(results->model()->index(1, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), u"b.txt\tapple\t1\r\na.txt\tapple\t2\r\n"_qs);

    // Ctrl+E opens a workbench at its Word List on a snapshot: Back and new rows leave it as it was.
    QTest::keyClick(list, Qt::Key_E, Qt::ControlModifier);
    QCOMPARE(windows.workbenches().size(), 1);
    WorkbenchWindow *firstWindow = windows.workbenches().constFirst();
    QVERIFY(firstWindow->isVisible());
    QCOMPARE(firstWindow->tabs()->currentWidget(), firstWindow->tab<WordListTab>());
    WordListPanel *first = panelOf(*firstWindow);
    QVERIFY(first->isVisible());
    QTRY_VERIFY(first->isReady());
    const QStringList before = shown(*first);
    QCOMPARE(before.size(), 8);
    results->back();
    results->model()->appendRows({{u"other"_qs, 9}}, u"c.txt"_qs);
    results->show();
    QCOMPARE(shown(*first), before);
    results->contextMenu()->actions().at(1)->trigger();
    QCOMPARE(windows.workbenches().size(), 2);
    WordListPanel *second = panelOf(*windows.workbenches().at(1));
    QTRY_VERIFY(second->isReady());
    QCOMPARE(shown(*second), QStringList{u"c.txt|other|9"_qs});

    // Closing the results window ends the program, and the workbenches close with it.
    QSignalSpy ended(&windows.mainWindow(), &MainWindow::programEndRequested);
    results->close();
    QCOMPARE(ended.size(), 1);
    QTRY_VERIFY(windows.workbenches().isEmpty());
}

void TestWordList::resultsWindowStaysAsItWas()
{
    ProgramWindows windows(m_prompter, m_dir.path());
    ResultsWindow *results = windows.mainWindow().resultsWindow();
    results->setColumns(resultColumns({CountMode::PerFile, true, true}));
    results->model()->appendTable(twoFiles());
    results->show();
    WordListPanel *explorer = panelOf(*windows.exploreResults());
    QTRY_VERIFY(explorer->canOrderAlphabetically());
    explorer->sortBy(WordListKey::Word, Qt::AscendingOrder);
    explorer->findField()->setText(u"a"_qs);
    QTRY_VERIFY(!explorer->isSearching());

    // The list keeps the run's order, offers no sorting, and the toolbar its four commands.
    QCOMPARE(clipboardText(results->model()->table()), clipboardText(twoFiles()));
    QVERIFY(!results->listView()->isSortingEnabled());
    QVERIFY(!results->listView()->header()->sectionsClickable());
    QStringList commands;
    for (QAction *a : results->toolBar()->actions())
        commands << a->text();
    QCOMPARE(commands, (QStringList{u"Back"_qs, u"Save Results"_qs, u"Save Results As Excel File"_qs,
                                    u"Save Results To Clipboard"_qs}));
    QVERIFY(results->findChildren<QMenuBar *>().isEmpty());
}

void TestWordList::titleAndSummaryNameTheOptions()
{
    auto wWindow = open(twoFiles(), CountMode::PerFile);
    QVERIFY(wWindow);
    WordListPanel *w = panelOf(*wWindow);
    const QString line = wWindow->corpusLine()->text();
    for (const QString &phrase : describeCountOptions({CountMode::PerFile, true, false})) {
        QVERIFY2(line.contains(phrase), qPrintable(line));
        QVERIFY(w->statisticsSummary()->text().contains(phrase));
    }
    QVERIFY(line.contains(u"letter case kept"_qs));
    QCOMPARE(wWindow->windowTitle(), u"b.txt and 1 more - Corpus Workbench - Corvalen"_qs);
}

void TestWordList::headerClicksOrder_data()
{
    QTest::addColumn<QString>("column"); // File, Word or Count
    QTest::addColumn<int>("clicks");
    QTest::addColumn<QStringList>("expected");
    // Counts: descending first, ties in the usual order (count, UTF-16 code units, then file).
    QTest::newRow("opens by count, most frequent first")
            << QString() << 0
            << QStringList{u"a.txt|banana|5"_qs, u"b.txt|banana|3"_qs, u"a.txt|apple|2"_qs,
                           u"a.txt|zebra|2"_qs, u"b.txt|\u00e4pfel|2"_qs, u"a.txt|Apple|1"_qs,
                           u"b.txt|Zebra|1"_qs, u"b.txt|apple|1"_qs};
    QTest::newRow("count clicked: reversed to ascending")
            << u"Count"_qs << 1
            << QStringList{u"a.txt|Apple|1"_qs, u"b.txt|Zebra|1"_qs, u"b.txt|apple|1"_qs,
                           u"a.txt|apple|2"_qs, u"a.txt|zebra|2"_qs, u"b.txt|\u00e4pfel|2"_qs,
                           u"b.txt|banana|3"_qs, u"a.txt|banana|5"_qs};
    // Words alphabetically, case and accents aware; a word in two files by count, then file.
    QTest::newRow("word")
            << u"Word"_qs << 1
            << QStringList{u"b.txt|\u00e4pfel|2"_qs, u"b.txt|apple|1"_qs, u"a.txt|apple|2"_qs,
                           u"a.txt|Apple|1"_qs, u"b.txt|banana|3"_qs, u"a.txt|banana|5"_qs,
                           u"a.txt|zebra|2"_qs, u"b.txt|Zebra|1"_qs};
    QTest::newRow("word reversed")
            << u"Word"_qs << 2
            << QStringList{u"b.txt|Zebra|1"_qs, u"a.txt|zebra|2"_qs, u"b.txt|banana|3"_qs,
                           u"a.txt|banana|5"_qs, u"a.txt|Apple|1"_qs, u"b.txt|apple|1"_qs,
                           u"a.txt|apple|2"_qs, u"b.txt|\u00e4pfel|2"_qs};
    QTest::newRow("file")
            << u"File"_qs << 1
            << QStringList{u"a.txt|Apple|1"_qs, u"a.txt|apple|2"_qs, u"a.txt|zebra|2"_qs,
                           u"a.txt|banana|5"_qs, u"b.txt|Zebra|1"_qs, u"b.txt|apple|1"_qs,
                           u"b.txt|\u00e4pfel|2"_qs, u"b.txt|banana|3"_qs};
}

void TestWordList::headerClicksOrder()
{
    QFETCH(QString, column);
    QFETCH(int, clicks);
    QFETCH(QStringList, expected);
    auto wWindow = open(twoFiles(), CountMode::PerFile);
    QVERIFY(wWindow);
    WordListPanel *w = panelOf(*wWindow);
    const WordListModel *m = w->model();
    const WordListKey key = column == u"File" ? WordListKey::File : column == u"Word" ? WordListKey::Word : WordListKey::Count;
    for (int i = 0; i < clicks; ++i)
        clickHeader(*w, m->columnOf(key));
    QCOMPARE(shown(*w), expected);
    QHeaderView *h = w->tableView()->horizontalHeader();
    QVERIFY(h->isSortIndicatorShown());
    QCOMPARE(h->sortIndicatorSection(), m->columnOf(clicks ? key : WordListKey::Count));
    // Opened descending by count; a first click on another column orders ascending.
    const bool descending = clicks % 2 == 0;
    QCOMPARE(h->sortIndicatorOrder(), descending ? Qt::DescendingOrder : Qt::AscendingOrder);
    if (clicks == 0) {
        clickHeader(*w, m->columnOf(WordListKey::Count));
        QCOMPARE(h->sortIndicatorOrder(), Qt::AscendingOrder);
        clickHeader(*w, m->columnOf(WordListKey::Word));
        QCOMPARE(h->sortIndicatorOrder(), Qt::AscendingOrder);
        clickHeader(*w, m->columnOf(WordListKey::Count));
        QCOMPARE(h->sortIndicatorOrder(), Qt::DescendingOrder); // counts: descending first
        QCOMPARE(shown(*w), expected);
    }
}

void TestWordList::allFilesTogether()
{
    auto wWindow = open(twoFiles(), CountMode::PerFile);
    QVERIFY(wWindow);
    WordListPanel *w = panelOf(*wWindow);
    QVERIFY(w->allFilesBox()->isVisible());
    w->allFilesBox()->click();
    QCOMPARE(w->model()->columnCount(), 2);
    QCOMPARE(shown(*w), (QStringList{u"banana|8"_qs, u"apple|3"_qs, u"zebra|2"_qs, u"\u00e4pfel|2"_qs,
                                     u"Apple|1"_qs, u"Zebra|1"_qs}));
    QCOMPARE(w->countLabel()->text(), u"6 of 6 words"_qs);
    clickHeader(*w, 0);
    QCOMPARE(shownWords(*w), (QStringList{u"\u00e4pfel"_qs, u"apple"_qs, u"Apple"_qs, u"banana"_qs,
                                          u"zebra"_qs, u"Zebra"_qs}));
    w->allFilesBox()->click();
    QCOMPARE(w->model()->columnCount(), 3);
    QCOMPARE(w->model()->rowCount(), 8);

    // A per-file run without file names is still per file; a combined run has no switch.
    auto unnamedWindow = open(twoFiles(false), CountMode::PerFile, false);
    QVERIFY(unnamedWindow);
    WordListPanel *unnamed = panelOf(*unnamedWindow);
    unnamed->setAllFilesTogether(true);
    QCOMPARE(unnamed->model()->rowCount(), 6);
    ResultTable combined(false);
    combined.appendRows({{u"x"_qs, 1}, {u"y"_qs, 4}});
    auto oneWindow = open(combined, CountMode::Combined);
    QVERIFY(oneWindow);
    WordListPanel *one = panelOf(*oneWindow);
    QVERIFY(!one->allFilesBox()->isVisible());
}

void TestWordList::find_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("matchCase");
    QTest::addColumn<bool>("wholeWord");
    QTest::addColumn<bool>("regex");
    QTest::addColumn<QStringList>("words"); // in the order shown: count, most frequent first
    QTest::newRow("part, any case") << u"PPL"_qs << false << false << false
                                    << QStringList{u"apple"_qs, u"Apple"_qs, u"apple"_qs};
    QTest::newRow("part, match case") << u"A"_qs << true << false << false << QStringList{u"Apple"_qs};
    QTest::newRow("whole word") << u"zebra"_qs << false << true << false
                                << QStringList{u"zebra"_qs, u"Zebra"_qs};
    QTest::newRow("whole word, match case") << u"zebra"_qs << true << true << false
                                            << QStringList{u"zebra"_qs};
    QTest::newRow("accent is a letter of its own") << u"\u00c4"_qs << false << false << false
                                                   << QStringList{u"\u00e4pfel"_qs};
    QTest::newRow("expression") << u"^[az]"_qs << false << false << true
                                << QStringList{u"apple"_qs, u"zebra"_qs, u"Apple"_qs, u"Zebra"_qs, u"apple"_qs};
    QTest::newRow("expression, whole word") << u"a.*e"_qs << false << true << true
                                            << QStringList{u"apple"_qs, u"Apple"_qs, u"apple"_qs};
    QTest::newRow("expression, match case") << u"^[a-z]+$"_qs << true << false << true
                                            << QStringList{u"banana"_qs, u"banana"_qs, u"apple"_qs,
                                                           u"zebra"_qs, u"apple"_qs};
    QTest::newRow("nothing found") << u"q"_qs << false << false << false << QStringList{};
}

void TestWordList::find()
{
    QFETCH(QString, text);
    QFETCH(bool, matchCase);
    QFETCH(bool, wholeWord);
    QFETCH(bool, regex);
    QFETCH(QStringList, words);
    auto wWindow = open(twoFiles(), CountMode::PerFile);
    QVERIFY(wWindow);
    WordListPanel *w = panelOf(*wWindow);
    // Ctrl+F puts the focus in the find field.
    wWindow->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(wWindow.get()));
    QTest::keyClick(w->tableView(), Qt::Key_F, Qt::ControlModifier);
    QTRY_VERIFY(w->findField()->hasFocus());
    QCOMPARE(w->findField()->accessibleName(), u"Find words"_qs);
    w->matchCaseBox()->setChecked(matchCase);
    w->wholeWordBox()->setChecked(wholeWord);
    w->regularExpressionBox()->setChecked(regex);
    QTest::keyClicks(w->findField(), text);
    QTRY_VERIFY(!w->isSearching());
    QCOMPARE(shownWords(*w), words);
    QCOMPARE(w->countLabel()->text(), u"%1 of 8 words"_qs.arg(words.size()));
    // Ordering keeps the filter.
    clickHeader(*w, w->model()->columnOf(WordListKey::Count));
    QCOMPARE(w->model()->rowCount(), words.size());
    w->findField()->clear();
    QTRY_COMPARE(w->model()->rowCount(), 8);
}

void TestWordList::badExpressionLeavesTheTable()
{
    auto wWindow = open(twoFiles(), CountMode::PerFile);
    QVERIFY(wWindow);
    WordListPanel *w = panelOf(*wWindow);
    w->regularExpressionBox()->setChecked(true);
    QTest::keyClicks(w->findField(), u"ban"_qs);
    QTRY_VERIFY(!w->isSearching());
    QCOMPARE(w->model()->rowCount(), 2);
    QTest::keyClicks(w->findField(), u"(["_qs);
    QVERIFY(w->findField()->property("invalid").toBool());
    QVERIFY(!w->findField()->toolTip().isEmpty());
    QTest::qWait(50);
    QCOMPARE(shownWords(*w), (QStringList{u"banana"_qs, u"banana"_qs}));
    QTest::keyClick(w->findField(), Qt::Key_Backspace);
    QTest::keyClick(w->findField(), Qt::Key_Backspace);
    QVERIFY(!w->findField()->property("invalid").toBool());
    QTRY_VERIFY(!w->isSearching());
    QCOMPARE(w->model()->rowCount(), 2);

    // A whole-word expression cannot close the anchors around it and match the start of a word.
    w->wholeWordBox()->setChecked(true);
    w->findField()->clear();
    QTest::keyClicks(w->findField(), u"a)|(b"_qs);
    QVERIFY(w->findField()->property("invalid").toBool());
    QVERIFY2(w->findField()->toolTip().contains(u"at position 1"), qPrintable(w->findField()->toolTip()));
    w->findField()->clear();
    QTest::keyClicks(w->findField(), u"a|zebra"_qs);
    QTRY_VERIFY(!w->isSearching());
    QCOMPARE(shownWords(*w), (QStringList{u"zebra"_qs, u"Zebra"_qs}));
}

void TestWordList::statistics()
{
    // A word with a character outside the Basic Multilingual Plane counts it once.
    ResultTable t(true);
    t.appendRows({{u"b"_qs, 1}, {u"\U0001F600x"_qs, 1}, {u"ccc"_qs, 2}}, u"one.txt"_qs);
    t.appendRows({}, u"empty.txt"_qs);
    t.appendRows({{u"b"_qs, 1}, {u"dd"_qs, 4}}, u"two.txt"_qs);
    auto wWindow = open(t, CountMode::PerFile);
    QVERIFY(wWindow);
    WordListPanel *w = panelOf(*wWindow);
    // On screen a row per measure and a column per file, all files first.
    const QTableWidget *table = w->statisticsTable();
    QCOMPARE(table->rowCount(), 7);
    QStringList columns;
    for (int c = 0; c < table->columnCount(); ++c)
        columns << table->horizontalHeaderItem(c)->text();
    QCOMPARE(columns, (QStringList{u"All files"_qs, u"one.txt"_qs, u"empty.txt"_qs, u"two.txt"_qs}));
    QCOMPARE(table->verticalHeaderItem(6)->text(), u"Longest word"_qs);
    QCOMPARE(table->item(0, 0)->text(), u"9"_qs);
    QCOMPARE(table->item(6, 1)->text(), u"ccc"_qs);
    // Copy: a line per file, a column per measure.
    // Computed by hand: one.txt has 4 tokens (1 + 1 + 2), 3 types, 2 hapax, 1 + 2 + 2*3 = 9
    // characters; two.txt 5 tokens, 2 types, 1 hapax, 1 + 4*2 = 9 characters; together "b"
    // occurs twice, so 9 tokens, 4 types, 1 hapax, 18 characters.
    const QString expected =
            u"File\tTokens\tTypes\tType/token ratio\tHapax legomena\tHapax share\tMean word length\tLongest word\r\n"
            "one.txt\t4\t3\t0.7500\t2\t66.7%\t2.25\tccc\r\n"
            "empty.txt\t0\t0\t0.0000\t0\t0.0%\t0.00\t\r\n"
            "two.txt\t5\t2\t0.4000\t1\t50.0%\t1.80\tdd\r\n"
            "All files\t9\t4\t0.4444\t1\t25.0%\t2.00\tccc\r\n"_qs;
    QCOMPARE(w->statisticsText(), expected);
    w->findChild<QPushButton *>(u"copyStatistics"_qs)->click();
    QCOMPARE(QGuiApplication::clipboard()->text(), expected);
}

void TestWordList::topWordsChart()
{
    ResultTable t(true);
    Rows a, b;
    for (int i = 1; i <= 120; ++i)
        a.push_back({u"w%1"_qs.arg(i, 3, 10, QChar(u'0')), i});
    b.push_back({u"w001"_qs, 500});
    t.appendRows(a, u"a.txt"_qs);
    t.appendRows(b, u"b.txt"_qs);
    auto wWindow = open(t, CountMode::PerFile);
    QVERIFY(wWindow);
    WordListPanel *w = panelOf(*wWindow);
    WordListChart *chart = w->chart();
    w->panels()->setCurrentWidget(chart);
    QCOMPARE(chart->kind(), WordListChart::Kind::TopWords);
    const auto bars = [chart] {
        auto *series = qobject_cast<QBarSeries *>(chart->chart()->series().value(0));
        QList<qreal> values;
        for (int i = 0; series && i < series->barSets().at(0)->count(); ++i)
            values << series->barSets().at(0)->at(i);
        return values;
    };
    QCOMPARE(bars().size(), 25);
    QCOMPARE(bars().at(0), 501.0); // all files: w001 summed
    QCOMPARE(bars().at(1), 120.0);
    chart->setTopCount(100);
    QCOMPARE(bars().size(), 100);
    chart->setTopCount(5);
    QCOMPARE(bars().size(), 10); // at least ten
    chart->setFile(1);
    QCOMPARE(bars(), QList<qreal>{500});
    chart->setFile(0);
    QCOMPARE(bars().at(0), 120.0);
    // The find filter decides which words take part.
    QTest::keyClicks(w->findField(), u"w00"_qs);
    QTRY_VERIFY(!w->isSearching());
    QCOMPARE(bars(), (QList<qreal>{9, 8, 7, 6, 5, 4, 3, 2, 1}));

    const std::vector<WordBar> top = topWords(*w->index(), -1, 3, nullptr);
    QCOMPARE(top.size(), size_t(3));
    QCOMPARE(top[0].word, u"w001"_qs);
    QCOMPARE(top[2].word, u"w119"_qs);
}

void TestWordList::rankFrequencyChart()
{
    // 10,000 words counted 10,000 / r times at rank r (Zipf's law, slope -1), then 10,000 counted
    // once: the long tail of rare words of a real list, half the ranks.
    ResultTable t(false);
    Rows rows;
    for (int r = 1; r <= 20000; ++r)
        rows.push_back({u"w"_qs + QString::number(r), std::max(1, 10000 / r)});
    orderRows(rows);
    t.appendRows(rows);
    auto wWindow = open(t, CountMode::Combined);
    QVERIFY(wWindow);
    WordListPanel *w = panelOf(*wWindow);
    const RankFrequency plot = rankFrequency(*w->index(), -1);
    QCOMPARE(plot.ranks, qint64(rows.size()));
    QCOMPARE(plot.points.front(), QPointF(1, 10000));
    // The fit by hand: least squares over ten ranks a decade, the ranks nearest to 10^(k/10).
    const std::vector<qint64> ranks{1, 2, 3, 4, 5, 6, 8, 10, 13, 16, 20, 25, 32, 40, 50, 63, 79, 100, 126, 158, 200,
                                    251, 316, 398, 501, 631, 794, 1000, 1259, 1585, 1995, 2512, 3162, 3981, 5012,
                                    6310, 7943, 10000, 12589, 15849, 19953};
    QCOMPARE(zipfFitRanks(20000), ranks);
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    const double n = double(ranks.size());
    for (const qint64 r : ranks) {
        const double x = std::log10(double(r)), y = std::log10(double(std::max<qint64>(1, 10000 / r)));
        sx += x, sy += y, sxx += x * x, sxy += x * y;
    }
    const double slope = (n * sxy - sx * sy) / (n * sxx - sx * sx);
    QVERIFY2(std::abs(plot.slope - slope) < 1e-9, qPrintable(QString::number(plot.slope, 'f', 12)));
    QVERIFY(std::abs(plot.intercept - (sy - slope * sx) / n) < 1e-9);
    // The line lies on the curve over the first thousand ranks (least squares over every rank
    // gave a slope of -0.81 and missed rank 1 by a factor of five).
    QVERIFY2(std::abs(plot.slope + 1) < 0.01, qPrintable(QString::number(plot.slope)));
    for (const qint64 r : {1, 10, 100, 1000}) {
        const double fitted = plot.intercept + plot.slope * std::log10(double(r));
        QVERIFY2(std::abs(fitted - std::log10(10000.0 / double(r))) < 0.02, qPrintable(QString::number(r)));
    }
    // Fewer ranks than a decade: those of the first decade there are; one rank: a flat line.
    QCOMPARE(zipfFitRanks(7), (std::vector<qint64>{1, 2, 3, 4, 5, 6}));
    QCOMPARE(zipfFitRanks(1), std::vector<qint64>{1});

    WordListChart *chart = w->chart();
    w->panels()->setCurrentWidget(chart);
    chart->setKind(WordListChart::Kind::RankFrequency);
    QCOMPARE(chart->chart()->series().size(), 2);
    QStringList legend;
    for (QLegendMarker *marker : chart->chart()->legend()->markers())
        legend << marker->label();
    QCOMPARE(legend.at(1), u"Zipf fit, slope %1"_qs.arg(plot.slope, 0, 'f', 3));
    for (QAbstractAxis *axis : chart->chart()->axes())
        QCOMPARE(axis->type(), QAbstractAxis::AxisTypeLogValue);

    // A run of equal frequencies is drawn by its two ends only.
    ResultTable flat(false);
    Rows many;
    for (int i = 0; i < 1000; ++i)
        many.push_back({u"h"_qs + QString::number(i), 1});
    many.push_back({u"top"_qs, 7});
    orderRows(many);
    flat.appendRows(many);
    auto fWindow = open(flat, CountMode::Combined);
    QVERIFY(fWindow);
    WordListPanel *f = panelOf(*fWindow);
    const RankFrequency flatPlot = rankFrequency(*f->index(), -1);
    QCOMPARE(flatPlot.points.size(), size_t(3));
    QCOMPARE(flatPlot.points.back(), QPointF(1001, 1));
}

void TestWordList::countAxisTicksAreWholeNumbers_data()
{
    QTest::addColumn<int>("largest"); // the count of the most frequent word; the others once
    QTest::addColumn<QStringList>("labels");
    QTest::newRow("every count 1") << 1 << QStringList{u"0"_qs, u"1"_qs};
    QTest::newRow("3") << 3 << QStringList{u"0"_qs, u"1"_qs, u"2"_qs, u"3"_qs};
    QTest::newRow("7") << 7 << QStringList{u"0"_qs, u"2"_qs, u"4"_qs, u"6"_qs, u"8"_qs};
    QTest::newRow("12") << 12 << QStringList{u"0"_qs, u"5"_qs, u"10"_qs, u"15"_qs};
    QTest::newRow("98,765") << 98765
                            << QStringList{u"0"_qs, u"20000"_qs, u"40000"_qs, u"60000"_qs, u"80000"_qs, u"100000"_qs};
}

// The top words chart's count axis has ticks at whole numbers only, each label once.
void TestWordList::countAxisTicksAreWholeNumbers()
{
    QFETCH(int, largest);
    QFETCH(QStringList, labels);
    Rows rows{{u"top"_qs, largest}};
    for (int i = 0; i < 12; ++i)
        rows.push_back({u"once%1"_qs.arg(i), 1});
    orderRows(rows);
    ResultTable t(false);
    t.appendRows(rows);
    auto wWindow = open(t, CountMode::Combined);
    QVERIFY(wWindow);
    WordListPanel *w = panelOf(*wWindow);
    w->panels()->setCurrentWidget(w->chart());
    auto *y = qobject_cast<QValueAxis *>(w->chart()->chart()->axes(Qt::Vertical).value(0));
    QVERIFY(y);
    // The values the axis writes, as its label format (%.0f) writes them.
    QList<double> ticks;
    if (y->tickType() == QValueAxis::TicksDynamic) {
        for (double v = y->tickAnchor(); v <= y->max() + 1e-9; v += y->tickInterval())
            ticks << v;
    } else {
        for (int i = 0; i < y->tickCount(); ++i)
            ticks << y->min() + (y->max() - y->min()) * i / (y->tickCount() - 1);
    }
    QStringList shown;
    for (const double v : std::as_const(ticks)) {
        QCOMPARE(v, std::round(v));
        shown << QString::asprintf("%.0f", v);
    }
    QCOMPARE(shown, labels);
}

void TestWordList::saveImage_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("start");
    QTest::newRow("png") << u"chart.png"_qs << QByteArray("\x89PNG");
    QTest::newRow("svg") << u"chart.SVG"_qs << QByteArray("<?xml");
}

void TestWordList::saveImage()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, start);
    auto wWindow = open(twoFiles(), CountMode::PerFile);
    QVERIFY(wWindow);
    WordListPanel *w = panelOf(*wWindow);
    w->panels()->setCurrentWidget(w->chart());
    const QString path = m_dir.filePath(name);
    QFile::remove(path);
    const QStringList filters{u"PNG Image (*.png)"_qs, u"SVG Image (*.svg)"_qs};
    m_prompter.expectSaveFile(u"Save Image"_qs, filters, path);
    w->findChild<QPushButton *>(u"saveImage"_qs)->click();
    QVERIFY(readAll(path).startsWith(start));

    // Replacing asks first; a No leaves the file.
    const QByteArray first = readAll(path);
    m_prompter.expectSaveFile(u"Save Image"_qs, filters, path);
    m_prompter.expectYesNo(u"Are you sure you wish to overwrite "_qs + path + u" ?"_qs, false);
    w->chart()->saveImage();
    QCOMPARE(readAll(path), first);

    // A file that cannot be written is reported by name; nothing is left behind.
    const QString bad = m_dir.filePath(u"missing-folder/"_qs + name);
    m_prompter.expectSaveFile(u"Save Image"_qs, filters, bad);
    m_prompter.expectMessage(QString(), Prompter::Icon::Warning);
    w->chart()->saveImage();
    QVERIFY(m_prompter.calls().constLast().text.contains(QDir::toNativeSeparators(bad)));
    QVERIFY(!QFile::exists(bad));
}

void TestWordList::viewExports_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("expected"); // empty: a workbook
    QTest::newRow("csv") << u"view.csv"_qs
                         << QByteArray("file,word,count\r\na.txt,banana,5\r\nb.txt,banana,3\r\n");
    QTest::newRow("tab-separated") << u"view.tsv"_qs
                                   << QByteArray("a.txt\tbanana\t5\r\nb.txt\tbanana\t3\r\n");
    QTest::newRow("workbook") << u"view.xlsx"_qs << QByteArray();
}

void TestWordList::viewExports()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, expected);
    auto wWindow = open(twoFiles(), CountMode::PerFile);
    QVERIFY(wWindow);
    WordListPanel *w = panelOf(*wWindow);
    QTest::keyClicks(w->findField(), u"an"_qs);
    QTRY_VERIFY(!w->isSearching());
    const QString path = m_dir.filePath(name);
    QFile::remove(path);
    m_prompter.expectSaveFile(u"Export"_qs,
                              {u"CSV (*.csv)"_qs, u"Tab-separated text (*.txt *.tsv)"_qs,
                               u"Excel Workbook (*.xlsx)"_qs},
                              path);
    w->findChild<QPushButton *>(u"exportView"_qs)->click();
    const QByteArray written = readAll(path);
    if (expected.isEmpty())
        QVERIFY(written.startsWith("PK"));
    else
        QCOMPARE(written, expected);
}

void TestWordList::copySelectedRowsInViewOrder()
{
    auto wWindow = open(twoFiles(), CountMode::PerFile);
    QVERIFY(wWindow);
    WordListPanel *w = panelOf(*wWindow);
    clickHeader(*w, w->model()->columnOf(WordListKey::Word));
    QTableView *view = w->tableView();
    view->setFocus();
    view->selectionModel()->select(w->model()->index(3, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    view->selectionModel()->select(w->model()->index(0, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), u"b.txt\t\u00e4pfel\t2\r\na.txt\tApple\t1\r\n"_qs);
}


// A combined count with its range, in the usual order.
ResultTable rangedTable()
{
    std::vector<WordCount> rows{{u"zebra"_qs, 1}, {u"apple"_qs, 2}, {u"cherry"_qs, 2}, {u"banana"_qs, 4}};
    const qint64 files[] = {1, 2, 1, 3};
    for (size_t i = 0; i < rows.size(); ++i)
        rows[i].files = files[i];
    ResultTable t(false);
    t.appendRows(rows, QString());
    return t;
}

// How rangedTable()'s rows (zebra, apple, cherry, banana) spread over three files, as the files
// read again would give it: a word in one file has D 0 but for the last bit of a double.
std::shared_ptr<const WordListDispersion> handDispersion()
{
    auto d = std::make_shared<WordListDispersion>();
    const double none = std::numeric_limits<double>::quiet_NaN();
    d->perMillion = {1e6 / 9, 2e6 / 9, 2e6 / 9, 4e6 / 9};
    d->juillandD = {-1e-17, 0.5, -0.0, 0.75};
    d->dp = {0.5, -0.0, none, 0.125};
    d->dRank = {1, 3, 2, 4};
    d->dRanks = 5;
    d->dpRank = {3, 1, 0, 2};
    d->dpRanks = 4;
    d->parts = 3;
    return d;
}

void TestWordList::filesColumn_data()
{
    QTest::addColumn<int>("clicks"); // on the Files header
    QTest::addColumn<QString>("exportName");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QByteArray>("exported"); // empty: a workbook
    // Numbers: most first at the first click, ties in the usual order (count, code units).
    QTest::newRow("most files first, csv")
            << 1 << u"range.csv"_qs
            << QStringList{u"banana|4|3"_qs, u"apple|2|2"_qs, u"zebra|1|1"_qs, u"cherry|2|1"_qs}
            << QByteArray("word,count,files\r\nbanana,4,3\r\napple,2,2\r\nzebra,1,1\r\ncherry,2,1\r\n");
    QTest::newRow("fewest files first, tab-separated")
            << 2 << u"range.tsv"_qs
            << QStringList{u"zebra|1|1"_qs, u"cherry|2|1"_qs, u"apple|2|2"_qs, u"banana|4|3"_qs}
            << QByteArray("zebra\t1\t1\r\ncherry\t2\t1\r\napple\t2\t2\r\nbanana\t4\t3\r\n");
    QTest::newRow("workbook") << 1 << u"range.xlsx"_qs
                              << QStringList{u"banana|4|3"_qs, u"apple|2|2"_qs, u"zebra|1|1"_qs, u"cherry|2|1"_qs}
                              << QByteArray();
}

void TestWordList::filesColumn()
{
    QFETCH(int, clicks);
    QFETCH(QString, exportName);
    QFETCH(QStringList, expected);
    QFETCH(QByteArray, exported);
    auto wWindow = open(rangedTable(), CountMode::Combined, false, true);
    QVERIFY(wWindow);
    WordListPanel *w = panelOf(*wWindow);
    const WordListModel *m = w->model();
    QCOMPARE(m->headers(), (QStringList{u" Word"_qs, u"Count"_qs, u"Files"_qs}));
    QCOMPARE(m->columnOf(WordListKey::Files), 2);
    QCOMPARE(m->index(0, 2).data(Qt::TextAlignmentRole).toInt(), int(Qt::AlignRight | Qt::AlignVCenter));
    for (int i = 0; i < clicks; ++i)
        clickHeader(*w, 2);
    QCOMPARE(shown(*w), expected);

    const QString path = m_dir.filePath(exportName);
    QFile::remove(path);
    m_prompter.expectSaveFile(u"Export"_qs,
                              {u"CSV (*.csv)"_qs, u"Tab-separated text (*.txt *.tsv)"_qs,
                               u"Excel Workbook (*.xlsx)"_qs},
                              path);
    w->findChild<QPushButton *>(u"exportView"_qs)->click();
    if (exported.isEmpty()) {
        const QList<QByteArray> sheets = corvalen::testing::sheetsOf(path);
        QCOMPARE(sheets.size(), 1);
        QVERIFY2(sheets.at(0).contains("<v>3</v>"), sheets.at(0).constData()); // banana's files, a number
        QVERIFY(sheets.at(0).contains("Files"));
    } else {
        QCOMPARE(readAll(path), exported);
    }

    // The chart's tooltip names the files of a bar's word.
    const std::vector<WordBar> bars = topWords(*w->index(), -1, 2, nullptr);
    QCOMPARE(bars.size(), size_t(2));
    QCOMPARE(bars.at(0).files, 3);
    QVERIFY2(barToolTip(bars.at(0)).contains(u"Files: 3"), qPrintable(barToolTip(bars.at(0))));

    // Per file, and in a combined count without its range, there is no such column.
    auto perFileWindow = open(twoFiles(), CountMode::PerFile, true, true);
    QVERIFY(perFileWindow);
    WordListPanel *perFile = panelOf(*perFileWindow);
    QCOMPARE(perFile->model()->columnCount(), 3);
    QCOMPARE(perFile->model()->columnOf(WordListKey::Files), -1);
    QVERIFY(!barToolTip(topWords(*perFile->index(), -1, 1, nullptr).at(0)).contains(u"Files"));
}

// Three files with real-looking names, 300 words each, some long, counts in the millions.
ResultTable bigCounts()
{
    ResultTable t(true);
    const QStringList files = {u"Harbour Letter.docx"_qs, u"Garden Newsletter.html"_qs, u"Museum Report.pdf"_qs};
    for (int f = 0; f < files.size(); ++f) {
        Rows rows;
        for (int i = 1; i <= 300; ++i)
            rows.push_back({(i % 7 == 0 ? u"exhibitionary"_qs : u"word"_qs) + QString::number(i), qint64(1000000 / i) + f});
        orderRows(rows);
        t.appendRows(rows, files.at(f));
    }
    return t;
}

// What rounds to nothing has no sign, as the command line writes it.
void TestWordList::figuresHaveNoNegativeZero()
{
    auto wWindow = open(rangedTable(), CountMode::Combined, false, true);
    QVERIFY(wWindow);
    WordListPanel *w = panelOf(*wWindow);
    w->model()->setDispersion(handDispersion());
    w->sortBy(WordListKey::Count, Qt::DescendingOrder);
    QCOMPARE(shown(*w), (QStringList{u"banana|4|3|444,444.444|0.7500|0.1250"_qs, u"apple|2|2|222,222.222|0.5000|0.0000"_qs,
                                     u"cherry|2|1|222,222.222|0.0000|"_qs, u"zebra|1|1|111,111.111|0.0000|0.5000"_qs}));
}

void TestWordList::exportsCarryTheShownColumns_data()
{
    QTest::addColumn<QString>("name"); // empty: Copy
    QTest::addColumn<QByteArray>("expected"); // empty: a workbook
    // Plain digits, as the command line writes them; no padding (zebra and cherry are not as long as
    // banana); an empty figure stays empty.
    QTest::newRow("copy") << QString()
                          << QByteArray("banana\t4\t3\t444444.444\t0.7500\t0.1250\r\n"
                                        "zebra\t1\t1\t111111.111\t0.0000\t0.5000\r\n");
    QTest::newRow("tab-separated") << u"spread.tsv"_qs
                                   << QByteArray("banana\t4\t3\t444444.444\t0.7500\t0.1250\r\n"
                                                 "apple\t2\t2\t222222.222\t0.5000\t0.0000\r\n"
                                                 "cherry\t2\t1\t222222.222\t0.0000\t\r\n"
                                                 "zebra\t1\t1\t111111.111\t0.0000\t0.5000\r\n");
    // As corvalen count --dispersion --format csv writes it.
    QTest::newRow("csv") << u"spread.csv"_qs
                         << QByteArray("word,count,files,per_million,juilland_d,dp\r\n"
                                       "banana,4,3,444444.444,0.7500,0.1250\r\n"
                                       "apple,2,2,222222.222,0.5000,0.0000\r\n"
                                       "cherry,2,1,222222.222,0.0000,\r\n"
                                       "zebra,1,1,111111.111,0.0000,0.5000\r\n");
    QTest::newRow("workbook") << u"spread.xlsx"_qs << QByteArray();
}

// Copy and Export... carry every column the table shows, the dispersion's included.
void TestWordList::exportsCarryTheShownColumns()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, expected);
    auto wWindow = open(rangedTable(), CountMode::Combined, false, true);
    QVERIFY(wWindow);
    WordListPanel *w = panelOf(*wWindow);
    w->model()->setDispersion(handDispersion());
    w->sortBy(WordListKey::Count, Qt::DescendingOrder);
    QCOMPARE(w->model()->columnCount(), 6);
    if (name.isEmpty()) {
        QTableView *view = w->tableView();
        view->selectionModel()->select(w->model()->index(3, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        view->selectionModel()->select(w->model()->index(0, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        w->findChild<QPushButton *>(u"copyRows"_qs)->click();
        QCOMPARE(QGuiApplication::clipboard()->text().toUtf8(), expected);
        return;
    }
    const QString path = m_dir.filePath(name);
    QFile::remove(path);
    m_prompter.expectSaveFile(u"Export"_qs,
                              {u"CSV (*.csv)"_qs, u"Tab-separated text (*.txt *.tsv)"_qs,
                               u"Excel Workbook (*.xlsx)"_qs},
                              path);
    w->findChild<QPushButton *>(u"exportView"_qs)->click();
    if (!expected.isEmpty()) {
        QCOMPARE(readAll(path), expected);
        return;
    }
    const QList<QByteArray> sheets = corvalen::testing::sheetsOf(path);
    QCOMPARE(sheets.size(), 1);
    const QByteArray &sheet = sheets.at(0);
    for (const char *text : {"Per million", "DP", "<v>444444.444</v>", "<v>0.125</v>", "<v>0.75</v>"})
        QVERIFY2(sheet.contains(text), text);
}

void TestWordList::columnsFitTheWindow_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("as it opens") << QSize(1100, 700);
    QTest::newRow("narrower") << QSize(860, 560);
    QTest::newRow("wider") << QSize(1400, 700);
}

// The word table has no empty space beside its columns; the statistics show every measure at
// once and never cut a cell.
// Copy still writes each header on one line.
void TestWordList::columnsFitTheWindow()
{
    QFETCH(QSize, size);
    auto wWindow = open(bigCounts(), CountMode::PerFile);
    QVERIFY(wWindow);
    WordListPanel *w = panelOf(*wWindow);
    wWindow->resize(size);
    QTRY_VERIFY(w->hasStatistics());
    w->panels()->setCurrentIndex(1);
    QTest::qWait(50);
    const QTableView *words = w->tableView();
    QCOMPARE(words->horizontalHeader()->length(), words->viewport()->width());
    const QTableWidget *stats = w->statisticsTable();
    QVERIFY(stats->isVisible());
    QCOMPARE(stats->columnCount(), 4);
    QVERIFY(!stats->verticalScrollBar()->isVisible());
    QVERIFY(stats->viewport()->rect().contains(stats->visualItemRect(stats->item(stats->rowCount() - 1, 0))));
    for (int c = 0; c < stats->columnCount(); ++c) {
        QVERIFY2(stats->columnWidth(c) >= stats->horizontalHeader()->sectionSizeHint(c),
                 qPrintable(stats->horizontalHeaderItem(c)->text()));
        for (int r = 0; r < stats->rowCount(); ++r) {
            const QString text = stats->item(r, c)->text();
            QVERIFY2(stats->columnWidth(c) > stats->fontMetrics().horizontalAdvance(text), qPrintable(text));
        }
    }
    // At the size the window opens with, the whole corpus's column and the first file's are in
    // sight; more files scroll sideways beside the measures' names.
    if (size == QSize(1100, 700)) {
        for (int c : {0, 1})
            QVERIFY(stats->viewport()->rect().contains(stats->visualItemRect(stats->item(0, c))));
    }
    QVERIFY(w->statisticsText().startsWith(u"File\tTokens\tTypes\tType/token ratio\tHapax legomena\t"_qs));
}

void TestWordList::figureColumnsFitTheirFigures_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("tableWidth"); // the splitter's side of the word table; 0: as it opens
    QTest::newRow("as it opens") << QSize(1040, 660) << 0;
    QTest::newRow("maximised") << QSize(1600, 900) << 0;
    QTest::newRow("splitter dragged to the right") << QSize(1600, 900) << 1200;
    QTest::newRow("splitter dragged to the left") << QSize(1040, 660) << 300;
}

// Every figure of the word list shows whole at any size, its header too: the word column gives way.
void TestWordList::figureColumnsFitTheirFigures()
{
    QFETCH(QSize, size);
    QFETCH(int, tableWidth);
    std::vector<WordCount> rows;
    for (int i = 1; i <= 40; ++i) {
        rows.push_back({u"interdenominational%1"_qs.arg(i), 98765432 / i});
        rows.back().files = 1 + i % 7;
    }
    orderRows(rows);
    ResultTable t(false);
    t.appendRows(rows, QString());
    auto d = std::make_shared<WordListDispersion>();
    for (qsizetype r = 0; r < t.rowCount(); ++r) {
        d->perMillion.push_back(double(t.count(r)) / double(t.total()) * 1e6);
        d->juillandD.push_back(0.123456);
        d->dp.push_back(1.0);
    }
    d->dRank.assign(rows.size(), 1);
    d->dpRank.assign(rows.size(), 1);
    d->dRanks = d->dpRanks = 2;
    auto wWindow = open(t, CountMode::Combined, false, true);
    QVERIFY(wWindow);
    WordListPanel *w = panelOf(*wWindow);
    w->model()->setDispersion(d);
    w->sortBy(WordListKey::Count, Qt::DescendingOrder);
    wWindow->resize(size);
    if (tableWidth > 0) {
        auto *splitter = w->findChild<QSplitter *>();
        splitter->setSizes({tableWidth, splitter->width() - tableWidth});
    }
    QTest::qWait(50);
    const QTableView *view = w->tableView();
    const QHeaderView *header = view->horizontalHeader();
    QCOMPARE(w->model()->columnCount(), 6);
    for (int c = 1; c < 6; ++c) {
        QVERIFY2(header->sectionSize(c) >= header->sectionSizeHint(c),
                 qPrintable(w->model()->headerData(c, Qt::Horizontal).toString()));
        for (int r = 0; r < w->model()->rowCount(); ++r) {
            const QString text = w->model()->index(r, c).data().toString();
            QVERIFY2(header->sectionSize(c) > view->fontMetrics().horizontalAdvance(text) + 4, qPrintable(text));
        }
    }
    // The words have what is left, the whole width when there is room.
    if (header->length() > view->viewport()->width())
        QVERIFY(view->horizontalScrollBar()->isVisible());
    else
        QCOMPARE(header->length(), view->viewport()->width());
}

void TestWordList::topWordsLabelsDoNotOverlap_data()
{
    QTest::addColumn<int>("bars");
    QTest::addColumn<bool>("all"); // every bar labelled at the window's first size
    QTest::newRow("25 bars") << 25 << true;
    QTest::newRow("100 bars") << 100 << false;
}

// Labels stand upright under their bars, never closer than a line's height: as many as fit, the
// first bar's always; a wider chart has room for more.
void TestWordList::topWordsLabelsDoNotOverlap()
{
    QFETCH(int, bars);
    QFETCH(bool, all);
    auto wWindow = open(bigCounts(), CountMode::PerFile);
    QVERIFY(wWindow);
    WordListPanel *w = panelOf(*wWindow);
    WordListChart *chart = w->chart();
    w->panels()->setCurrentWidget(chart);
    chart->setTopCount(bars);
    auto *series = qobject_cast<QBarSeries *>(chart->chart()->series().value(0));
    QVERIFY(series);
    QCOMPARE(series->barSets().at(0)->count(), bars); // every bar is drawn
    const int line = QFontMetrics(chart->chart()->axes(Qt::Horizontal).value(0)->labelsFont()).height();
    const auto checkLabels = [&] {
        const QList<int> labelled = chart->labelledBars();
        QVERIFY(labelled.size() >= 2);
        QCOMPARE(labelled.first(), 0);
        for (int i = 1; i < labelled.size(); ++i) {
            const double from = chart->chart()->mapToPosition(QPointF(labelled.at(i - 1), 0), series).x();
            const double to = chart->chart()->mapToPosition(QPointF(labelled.at(i), 0), series).x();
            QVERIFY2(to - from >= line, qPrintable(u"bars %1 and %2: %3 px apart"_qs.arg(labelled.at(i - 1))
                                                           .arg(labelled.at(i))
                                                           .arg(to - from)));
        }
    };
    QTest::qWait(50);
    checkLabels();
    const qsizetype first = chart->labelledBars().size();
    QCOMPARE(first == bars, all);
    if (all)
        return;
    // The chart's side of the window widened: more labels, still apart.
    const double plot = chart->chart()->plotArea().width();
    auto *splitter = w->findChild<QSplitter *>();
    QVERIFY(splitter);
    splitter->setSizes({120, splitter->width() - 120});
    QTRY_VERIFY(chart->chart()->plotArea().width() > plot + 200);
    QTRY_VERIFY(chart->labelledBars().size() > first);
    checkLabels();
}

// A find without a match says so instead of drawing an empty chart.
void TestWordList::findWithoutMatchShowsNoChart()
{
    auto wWindow = open(twoFiles(), CountMode::PerFile);
    QVERIFY(wWindow);
    WordListPanel *w = panelOf(*wWindow);
    WordListChart *chart = w->chart();
    w->panels()->setCurrentWidget(chart);
    QVERIFY(chart->chartView()->isVisible());
    QVERIFY(!chart->emptyLabel()->isVisible());
    QTest::keyClicks(w->findField(), u"qqq"_qs);
    QTRY_VERIFY(!w->isSearching());
    QVERIFY(chart->emptyLabel()->isVisible());
    QCOMPARE(chart->emptyLabel()->text(), u"No word matches the find."_qs);
    QVERIFY(!chart->chartView()->isVisible());
    QVERIFY(!w->findChild<QPushButton *>(u"saveImage"_qs)->isEnabled());
    // Rank and frequency do not follow the find.
    chart->setKind(WordListChart::Kind::RankFrequency);
    QVERIFY(chart->chartView()->isVisible());
    chart->setKind(WordListChart::Kind::TopWords);
    QVERIFY(chart->emptyLabel()->isVisible());
    w->findField()->clear();
    QTRY_VERIFY(chart->chartView()->isVisible());
    QVERIFY(!chart->emptyLabel()->isVisible());
    QVERIFY(w->findChild<QPushButton *>(u"saveImage"_qs)->isEnabled());
}

void TestWordList::numbersFollowTheLocale_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("million"); // 1000002 as the locale writes it
    QTest::addColumn<QString>("words"); // the count of words
    QTest::newRow("English") << QLocale(QLocale::English, QLocale::UnitedStates) << u"1,000,002"_qs
                             << u"900 of 900 words"_qs;
    QTest::newRow("German") << QLocale(QLocale::German, QLocale::Germany) << u"1.000.002"_qs
                            << u"900 of 900 words"_qs;
}

// Counts, statistics and axes write their numbers one way: as the user's locale does.
void TestWordList::numbersFollowTheLocale()
{
    QFETCH(QLocale, locale);
    QFETCH(QString, million);
    QFETCH(QString, words);
    QLocale::setDefault(locale);
    const auto restore = qScopeGuard([] { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); });
    auto wWindow = open(bigCounts(), CountMode::PerFile);
    QVERIFY(wWindow);
    WordListPanel *w = panelOf(*wWindow);
    QTRY_VERIFY(w->hasStatistics());
    QCOMPARE(w->model()->index(0, w->model()->columnOf(WordListKey::Count)).data().toString(), million);
    QCOMPARE(w->countLabel()->text(), words);
    const QTableWidget *stats = w->statisticsTable();
    QCOMPARE(stats->item(0, 0)->text(), locale.toString(qint64(18848505))); // all files' tokens
    QCOMPARE(stats->item(2, 0)->text(), locale.toString(300.0 / 18848505, 'f', 4));
    // Copy keeps plain numbers, as the other copies and exports do.
    QVERIFY(w->statisticsText().contains(u"\t18848505\t300\t"_qs));
    w->panels()->setCurrentWidget(w->chart());
    QVERIFY(w->chart()->chart()->localizeNumbers());
    QCOMPARE(w->chart()->chart()->locale(), locale);
}

// In a phrase count the labels name phrases; exports keep the results' headers.
void TestWordList::phraseCountsSayPhrases()
{
    ResultTable t(false);
    t.appendRows({{u"sat on"_qs, 1}, {u"the cat"_qs, 2}});
    CountOptions options(CountMode::Combined, false, true);
    options.rules.phraseLength = 2;
    auto w = std::make_unique<WordListPanel>(std::make_shared<const WordListSnapshot>(makeSnapshot(t, options, {})),
                                              m_prompter);
    w->show();
    QTRY_VERIFY(w->canOrderAlphabetically()); // the statistics are shown before
    QCOMPARE(w->findField()->placeholderText(), u"Find phrases"_qs);
    QCOMPARE(w->findField()->accessibleName(), u"Find phrases"_qs);
    QCOMPARE(w->countLabel()->text(), u"2 of 2 phrases"_qs);
    QCOMPARE(w->model()->headerData(0, Qt::Horizontal).toString(), u" Phrase"_qs);
    QCOMPARE(w->model()->headers(), (QStringList{u" Word"_qs, u"Count"_qs}));
    QVERIFY2(w->statisticsText().contains(u"\tMean phrase length\tLongest phrase\r\n"_qs), qPrintable(w->statisticsText()));
    w->panels()->setCurrentWidget(w->chart());
    QCOMPARE(w->chart()->chart()->title(), u"The 2 most frequent phrases"_qs);
    QCOMPARE(w->chart()->findChild<QComboBox *>(u"chartKind"_qs)->itemText(0), u"Top phrases"_qs);
    w->chart()->setKind(WordListChart::Kind::RankFrequency);
    QCOMPARE(w->chart()->chart()->legend()->markers().value(0)->label(), u"Phrases"_qs);
    w->chart()->setKind(WordListChart::Kind::TopWords);
    QTest::keyClicks(w->findField(), u"dog"_qs);
    QTRY_VERIFY(!w->isSearching());
    QCOMPARE(w->chart()->emptyLabel()->text(), u"No phrase matches the find."_qs);

    // A word count keeps its words.
    auto wordsWindow = open(twoFiles(), CountMode::PerFile);
    QVERIFY(wordsWindow);
    WordListPanel *words = panelOf(*wordsWindow);
    QCOMPARE(words->countLabel()->text(), u"8 of 8 words"_qs);
    QCOMPARE(words->model()->headerData(1, Qt::Horizontal).toString(), u" Word"_qs);
}

// Ctrl+W closes the workbench, as it closes a document; Esc does not.
void TestWordList::closesWithCtrlW()
{
    auto wWindow = open(twoFiles(), CountMode::PerFile);
    QVERIFY(wWindow);
    WordListPanel *w = panelOf(*wWindow);
    wWindow->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(wWindow.get()));
    QTest::keyClick(w->tableView(), Qt::Key_Escape);
    QTest::qWait(50);
    QVERIFY(wWindow->isVisible());
    QTest::keyClick(w->tableView(), Qt::Key_W, Qt::ControlModifier);
    QTRY_VERIFY(!wWindow->isVisible());
}

QTEST_MAIN(TestWordList)
#include "tst_wordlist.moc"
