// The workbench window over real files: how it opens (Tools > Corpus Workbench..., Ctrl+B, and
// from a run), the concordance (search modes, sort levels and their colours, Copy, Save, Stop,
// width), the plot, the file view, and the query flowing between them. Expected hits and orders
// are worked out here from the text the document engine gives, not from the workbench's code.
#include "support/scriptedprompter.h"

#include "../documents/packagebuilder.h"

#include "app/programwindows.h"
#include "base/designernames.h"
#include "base/plurals.h"
#include "documents/documentengine.h"
#include "engine/analysisrun.h"
#include "windows/analysisrunner.h"
#include "windows/filelistmodel.h"
#include "windows/mainwindow.h"
#include "windows/qtprompter.h"
#include "windows/resultsmodel.h"
#include "windows/resultswindow.h"
#include "workbench/concordancemodel.h"
#include "workbench/concordancetab.h"
#include "workbench/fileviewtab.h"
#include "workbench/keywordstab.h"
#include "workbench/plottab.h"
#include "workbench/textloader.h"
#include "workbench/textviewport.h"
#include "workbench/wordlistmodel.h"
#include "workbench/wordlistpanel.h"
#include "workbench/wordlisttab.h"
#include "workbench/workbench.h"
#include "workbench/workbenchwindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRandomGenerator>
#include <QSettings>
#include <QSignalSpy>
#include <QScrollBar>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cmath>

using namespace corvalen;

Q_DECLARE_METATYPE(corvalen::QueryMode)

namespace {

// A counted word as the plain rules find it in the engine's text: at spaces and paragraph ends,
// ASCII punctuation deleted, lower-cased when case is ignored.
struct Token
{
    QString word;
    qint64 start = 0;
    qint64 end = 0;
    bool paragraphBefore = false;
};

struct FileText
{
    QString path;
    QString label;
    QString text; // as the document engine gives it
    std::vector<Token> tokens;
};

std::vector<Token> tokensOf(const QString &text, bool ignoreCase)
{
    std::vector<Token> tokens;
    bool paragraph = true;
    qsizetype i = 0;
    while (i < text.size()) {
        const QChar c = text.at(i);
        if (c == u' ' || c == u'\r' || c == u'\n') {
            paragraph = paragraph || c != u' ';
            ++i;
            continue;
        }
        qsizetype j = i;
        while (j < text.size() && text.at(j) != u' ' && text.at(j) != u'\r' && text.at(j) != u'\n')
            ++j;
        QString word;
        for (const QChar ch : QStringView(text).sliced(i, j - i)) {
            if (!(ch.unicode() < 128 && ch.isPunct()) && !(ch.unicode() < 128 && ch.isSymbol()))
                word += ch;
        }
        if (ignoreCase)
            word = word.toLower();
        if (!word.isEmpty()) {
            tokens.push_back({word, i, j, paragraph});
            paragraph = false;
        }
        i = j;
    }
    return tokens;
}

// One hit as a workbench line gives it, to compare with the hand's.
struct Hit
{
    qint32 file = 0;
    qint64 position = 0;
    qint64 start = 0;
    qint64 end = 0;
    friend bool operator==(const Hit &, const Hit &) = default;
};

// Hits as text, for messages that say which differ.
QStringList texts(const std::vector<Hit> &hits)
{
    QStringList out;
    for (const Hit &h : hits)
        out << u"%1:%2@%3-%4"_qs.arg(h.file).arg(h.position).arg(h.start).arg(h.end);
    return out;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The lines in the order the concordance shows them.
std::vector<Hit> shownHits(const WorkbenchWindow &w)
{
    std::vector<Hit> hits;
    const ConcordanceModel *model = w.tab<ConcordanceTab>()->model();
    for (int row = 0; row < model->rowCount(); ++row) {
        const ConcordanceLine &line = w.workbench().line(model->lineOf(row));
        hits.push_back({line.file, line.position, line.hitStart, line.hitEnd});
    }
    return hits;
}

} // namespace

class TestWorkbench : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void toolsMenuOpensWorkbenches();
    void workbenchWordRules();
    void dialogsBelongToTheirWindow_data();
    void dialogsBelongToTheirWindow();
    void realDialogGivesTheFocusBack();
    void exploreTakesTheRunsRows();
    void unreadableFileIsNamed();
    void phraseCountsStillTellTheirWords();
    void showInContextSearchesTheConcordance_data();
    void showInContextSearchesTheConcordance();
    void searchModes_data();
    void searchModes();
    void badQueryKeepsTheLines();
    void regularExpressionFaultsAndLimits();
    void sortLevelsAndColours_data();
    void sortLevelsAndColours();
    void sortColoursArePainted();
    void widthSearchesAgain();
    void widthFitsTheWindow();
    void copyAndSave();
    void stopEndsTheSearch();
    void plotFollowsTheQuery();
    void plotSavesImages_data();
    void plotSavesImages();
    void plotImageHoldsItsHeaders();
    void doubleClickShowsTheHitInItsFile();
    void fileViewStepsThroughHits();
    void fileViewNamesTheLineClicked();
    void fileViewHoldsLongTexts();
    void fileViewJoinsLinesAsTheRulesDo();
    void pagesKeepEveryPlace_data();
    void pagesKeepEveryPlace();
    void ctrlFGoesToASearchField();

private:
    // The corpus of most tests: a text file and a .docx, with the engine's texts and tokens.
    void makeCorpus();
    std::unique_ptr<WorkbenchWindow> openBench(bool ignoreCase = true);
    bool search(WorkbenchWindow &w, const QString &text, QueryMode mode = QueryMode::Words, bool matchCase = false);
    // Every hit of a predicate on tokens, in text order.
    template<typename Matches>
    std::vector<Hit> handHits(const Matches &matches, bool ignoreCase = true) const;

    QStringList paths() const;

    QTemporaryDir m_settingsDir;
    QTemporaryDir m_dir;
    ScriptedPrompter m_prompter;
    std::vector<FileText> m_files;
};

QStringList TestWorkbench::paths() const
{
    QStringList out;
    for (const FileText &f : m_files)
        out << f.path;
    return out;
}

void TestWorkbench::initTestCase()
{
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settingsDir.path());
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    installEnglishPlurals(); // as the program does
    makeCorpus();
}

void TestWorkbench::init()
{
    m_prompter.reset();
}

void TestWorkbench::cleanup()
{
    QVERIFY2(m_prompter.isSatisfied(), qPrintable(m_prompter.problems()));
}

void TestWorkbench::makeCorpus()
{
    const QString one = m_dir.filePath(u"one.txt"_qs);
    QVERIFY(writeFile(one, "The cat sat on the mat, then the cat slept.\r\n"
                           "A dog saw the cat and the bird; this dog barked at the bird.\r\n"
                           "The end of the first file\r\n"));
    const QString two = m_dir.filePath(u"two.docx"_qs);
    QVERIFY(writeDocx(two, "<w:p><w:r><w:t>That cat, the Cat of the mill, saw the rat.</w:t></w:r></w:p>"
                           "<w:p><w:r><w:t xml:space=\"preserve\">Then the colour and the color of the sky </w:t></w:r></w:p>"
                           "<w:p><w:r><w:t>the end</w:t></w:r></w:p>"));
    DocumentEngine engine;
    for (const QString &path : {one, two}) {
        FileText f;
        f.path = path;
        f.label = QFileInfo(path).fileName();
        f.text = engine.returnDocumentString(path);
        QVERIFY2(!f.text.isEmpty(), qPrintable(path));
        m_files.push_back(f);
    }
}

std::unique_ptr<WorkbenchWindow> TestWorkbench::openBench(bool ignoreCase)
{
    QStringList paths;
    for (const FileText &f : m_files)
        paths << f.path;
    auto w = std::make_unique<WorkbenchWindow>(paths, CountOptions(CountMode::Combined, false, ignoreCase), m_prompter);
    w->resize(1100, 700);
    w->show();
    return w;
}

bool TestWorkbench::search(WorkbenchWindow &w, const QString &text, QueryMode mode, bool matchCase)
{
    ConcordanceTab *tab = w.tab<ConcordanceTab>();
    w.showTab(tab);
    {
        const QSignalBlocker block(tab->modeBox());
        const QSignalBlocker blockCase(tab->matchCaseBox());
        tab->modeBox()->setCurrentIndex(tab->modeBox()->findData(int(mode)));
        tab->matchCaseBox()->setChecked(matchCase);
    }
    tab->searchEdit()->setText(text);
    QSignalSpy finished(&w.workbench(), &Workbench::searchFinished);
    QTest::keyClick(tab->searchEdit(), Qt::Key_Return);
    return finished.wait(20000) && !w.workbench().isSearching();
}

template<typename Matches>
std::vector<Hit> TestWorkbench::handHits(const Matches &matches, bool ignoreCase) const
{
    std::vector<Hit> hits;
    for (size_t f = 0; f < m_files.size(); ++f) {
        const std::vector<Token> tokens = tokensOf(m_files[f].text, ignoreCase);
        for (size_t i = 0; i < tokens.size(); ++i) {
            if (const qsizetype n = matches(tokens, i); n > 0)
                hits.push_back({qint32(f), qint64(i), tokens[i].start, tokens[i + size_t(n) - 1].end});
        }
    }
    return hits;
}

// Tools > Corpus Workbench... (Ctrl+B) on an empty list says so and opens nothing; on files it
// opens a workbench that counts them itself. Several may be open; they close with the program.
void TestWorkbench::toolsMenuOpensWorkbenches()
{
    QTemporaryDir programFolder;
    ProgramWindows windows(m_prompter, programFolder.path());
    MainWindow &main = windows.mainWindow();
    main.show();
    main.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&main));

    // The menu bar: File, Options, Tools, Help; Tools holds the one item.
    QStringList menus;
    for (QAction *a : main.findChild<QMenuBar *>(QString(designer::MenuBar))->actions())
        menus << a->text();
    QCOMPARE(menus, (QStringList{u"&File"_qs, u"&Options"_qs, u"&Tools"_qs, u"&Help"_qs}));
    QMenu *tools = main.findChild<QMenu *>(QString(designer::m14));
    QCOMPARE(tools->actions().size(), 1);
    QAction *item = main.findChild<QAction *>(QString(designer::m15));
    QCOMPARE(tools->actions().constFirst(), item);
    QCOMPARE(item->text(), u"Corpus Workbench..."_qs);
    QCOMPARE(item->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_B));

    m_prompter.expectMessage(u"No files added."_qs);
    QTest::keyClick(&main, Qt::Key_B, Qt::ControlModifier);
    QVERIFY(m_prompter.isSatisfied());
    QVERIFY(windows.workbenches().isEmpty());

    QStringList paths;
    for (const FileText &f : m_files)
        paths << f.path;
    main.fileList()->append(paths);
    QTest::keyClick(&main, Qt::Key_B, Qt::ControlModifier);
    item->trigger();
    QCOMPARE(windows.workbenches().size(), 2);
    WorkbenchWindow *w = windows.workbenches().constFirst();
    QVERIFY(w->isVisible());
    // Each names its corpus, another window on the same files with a number; the second opens a
    // step down and to the right of the first, not over it.
    WorkbenchWindow *second = windows.workbenches().constLast();
    QCOMPARE(w->windowTitle(), u"one.txt and 1 more - Corpus Workbench - Corvalen"_qs);
    QCOMPARE(second->windowTitle(), u"one.txt and 1 more (2) - Corpus Workbench - Corvalen"_qs);
    QVERIFY2(second->pos().x() > w->pos().x() && second->pos().y() > w->pos().y(),
             qPrintable(u"%1,%2 after %3,%4"_qs.arg(second->pos().x()).arg(second->pos().y()).arg(w->pos().x()).arg(w->pos().y())));
    second->close();
    QTRY_COMPARE(windows.workbenches().size(), 1);
    main.fileList()->clear();
    main.fileList()->append({paths.at(1)});
    item->trigger();
    QCOMPARE(windows.workbenches().constLast()->windowTitle(), u"two.docx - Corpus Workbench - Corvalen"_qs);
    windows.workbenches().constLast()->close();
    QTRY_COMPARE(windows.workbenches().size(), 1);
    QStringList tabs;
    for (int i = 0; i < w->tabs()->count(); ++i)
        tabs << w->tabs()->tabText(i);
    QCOMPARE(tabs, (QStringList{u"Word List"_qs, u"Concordance"_qs, u"Plot"_qs, u"File View"_qs, u"Collocates"_qs,
                                u"Clusters"_qs, u"Keywords"_qs}));
    QCOMPARE(w->tabs()->currentIndex(), 0);

    // It counts as a run would, off the window's thread, with the main window's count mode and
    // its own word rules: corpus words, blank-line paragraphs, letter case ignored.
    CountOptions options = main.countOptions();
    options.rules.words = WordRules::Words::Corpus;
    options.rules.paragraphs = WordRules::Paragraphs::BlankLines;
    options.ignoreCase = true;
    QCOMPARE(w->workbench().options().rules, options.rules);
    QVERIFY(w->workbench().options().ignoreCase);
    options.finder = WordFinder::create(options.rules, options.ignoreCase);
    DocumentEngine engine;
    const ResultTable expected = runAnalysis(paths, options, engine);
    WordListTab *words = w->tab<WordListTab>();
    QTRY_VERIFY_WITH_TIMEOUT(words->panel() && words->panel()->isReady(), 20000);
    QCOMPARE(words->panel()->model()->table()->rowCount(), expected.rowCount());
    QCOMPARE(w->corpusLine()->text(), u"2 files, %1 words \u00B7 one count per file, with file names \u00B7 letter "
                                      "case ignored \u00B7 corpus words, paragraphs end at blank lines"_qs.arg(expected.total()));

    // The main window is as it was: the program ends with it, and the workbenches close.
    QSignalSpy ended(&main, &MainWindow::programEndRequested);
    main.close();
    QCOMPARE(ended.size(), 1);
    QTRY_VERIFY(windows.workbenches().isEmpty());
}

// The workbench's "Word Rules..." edits rules of its own (letter case among them), kept for the next
// workbench from Tools, the main window's untouched: the workbench counts again with them and asks
// its query again.
void TestWorkbench::workbenchWordRules()
{
    QSettings(u"Quillmark"_qs, u"Corvalen"_qs).clear();
    QTemporaryDir programFolder;
    ProgramWindows windows(m_prompter, programFolder.path());
    QStringList paths;
    for (const FileText &f : m_files)
        paths << f.path;
    windows.mainWindow().fileList()->append(paths);
    WorkbenchWindow *w = windows.openWorkbench();
    QVERIFY(w);
    QTRY_VERIFY_WITH_TIMEOUT(w->tab<WordListTab>()->panel() && w->tab<WordListTab>()->panel()->isReady(), 20000);
    WorkbenchQuery query;
    query.text = u"cat"_qs;
    QVERIFY(w->workbench().search(query));

    QSignalSpy changed(w, &WorkbenchWindow::optionsChanged);
    w->wordRulesButton()->click();
    auto *dialog = w->findChild<QDialog *>(u"workbenchWordRulesDialog"_qs);
    QVERIFY(dialog && dialog->isVisible());
    auto *words = dialog->findChild<QComboBox *>(QString(designer::Combo3));
    auto *paragraphs = dialog->findChild<QComboBox *>(QString(designer::Combo4));
    auto *ignoreCase = dialog->findChild<QCheckBox *>(QString(designer::Check7));
    QCOMPARE(words->currentText(), u"Corpus words"_qs);
    QCOMPARE(paragraphs->currentIndex(), 1);
    QVERIFY(ignoreCase->isVisible() && ignoreCase->isChecked());
    words->setCurrentIndex(0);
    paragraphs->setCurrentIndex(0);
    ignoreCase->setChecked(false);
    dialog->reject();
    QCOMPARE(changed.size(), 1);

    // A new workbench in the same window: plain rules, letter case kept, counted again.
    QCOMPARE(w->workbench().options().rules, WordRules());
    QVERIFY(!w->workbench().options().ignoreCase);
    QVERIFY(w->corpusLine()->text().contains(u"letter case kept"_qs));
    QVERIFY(!w->corpusLine()->text().contains(u"corpus words"_qs));
    QCOMPARE(w->workbench().query().text, u"cat"_qs);
    CountOptions plain = w->workbench().options();
    DocumentEngine engine;
    const ResultTable expected = runAnalysis(paths, plain, engine);
    QTRY_VERIFY_WITH_TIMEOUT(w->tab<WordListTab>()->panel() && w->tab<WordListTab>()->panel()->isReady(), 20000);
    QCOMPARE(w->tab<WordListTab>()->panel()->model()->table()->rowCount(), expected.rowCount());

    // Kept under keys of the workbench's own; the main window's rules are as they were.
    QSettings stored(u"Quillmark"_qs, u"Corvalen"_qs);
    QCOMPARE(stored.value(u"Workbench/Combo3"_qs).toString(), u"basic"_qs);
    QCOMPARE(stored.value(u"Workbench/Check7"_qs).toString(), u"0"_qs);
    QVERIFY(!stored.contains(QString(designer::Combo3)));
    QCOMPARE(windows.mainWindow().countOptions().rules, WordRules());
    WorkbenchWindow *next = windows.openWorkbench();
    QVERIFY(next);
    QCOMPARE(next->workbench().options().rules, WordRules());
    QVERIFY(!next->workbench().options().ignoreCase);

    // Nothing changed: nothing is counted again.
    next->wordRulesButton()->click();
    next->findChild<QDialog *>(u"workbenchWordRulesDialog"_qs)->reject();
    QSignalSpy unchanged(next, &WorkbenchWindow::optionsChanged);
    QTest::qWait(20);
    QCOMPARE(unchanged.size(), 0);
    QSettings(u"Quillmark"_qs, u"Corvalen"_qs).clear();
}

void TestWorkbench::dialogsBelongToTheirWindow_data()
{
    QTest::addColumn<QString>("tab");
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("kind"); // ScriptedPrompter::Kind
    QTest::addColumn<QString>("title");
    QTest::addColumn<QStringList>("filters");
    using K = ScriptedPrompter::Kind;
    const QStringList tables{u"CSV (*.csv)"_qs, u"Tab-separated text (*.txt *.tsv)"_qs, u"Excel Workbook (*.xlsx)"_qs};
    const QStringList images{u"PNG Image (*.png)"_qs, u"SVG Image (*.svg)"_qs};
    QTest::newRow("word list: Export...") << u"wordListTab"_qs << u"exportView"_qs << int(K::SaveFile) << u"Export"_qs << tables;
    QTest::newRow("word list: Save Image...") << u"wordListTab"_qs << u"saveImage"_qs << int(K::SaveFile) << u"Save Image"_qs << images;
    QTest::newRow("concordance: Save...") << u"concordanceTab"_qs << u"saveLines"_qs << int(K::SaveFile) << u"Save Lines"_qs
                                          << QStringList{u"Text files (*.txt)"_qs, u"All files (*)"_qs};
    QTest::newRow("plot: Save Image...") << u"plotTab"_qs << u"savePlotImage"_qs << int(K::SaveFile) << u"Save Image"_qs << images;
    QTest::newRow("collocates: Export...") << u"collocatesTab"_qs << u"exportTable"_qs << int(K::SaveFile) << u"Export"_qs << tables;
    QTest::newRow("keywords: Add Files...") << u"keywordsTab"_qs << u"addReferenceFiles"_qs << int(K::OpenFiles)
                                            << u"Add Files to the Reference"_qs << QStringList{u"All files (*)"_qs};
    QTest::newRow("keywords: Add Folder...") << u"keywordsTab"_qs << u"addReferenceFolder"_qs << int(K::PickFolder)
                                             << u"Add a Folder to the Reference"_qs << QStringList();
    QTest::newRow("keywords: Load Word List...") << u"keywordsTab"_qs << u"loadWordList"_qs << int(K::OpenFiles)
                                                 << u"Load a Word List as the Reference"_qs
                                                 << QStringList{u"Word lists (*.tsv *.txt *.csv *.json)"_qs, u"All files (*)"_qs};
}

// With the main window open, every dialog asked from a workbench is put over the workbench (so
// that closing it gives the focus back there), and the main window's over the main window.
void TestWorkbench::dialogsBelongToTheirWindow()
{
    QFETCH(QString, tab);
    QFETCH(QString, button);
    QFETCH(int, kind);
    QFETCH(QString, title);
    QFETCH(QStringList, filters);
    QTemporaryDir programFolder;
    ProgramWindows windows(m_prompter, programFolder.path());
    MainWindow &main = windows.mainWindow();
    main.show();
    main.fileList()->append(paths());
    WorkbenchWindow *w = windows.openWorkbench();
    QVERIFY(w);
    QTRY_VERIFY_WITH_TIMEOUT(w->tab<WordListTab>()->panel() && w->tab<WordListTab>()->panel()->isReady(), 20000);
    QVERIFY(search(*w, u"the"_qs)); // the plot saves only with a query
    QWidget *page = w->findChild<QWidget *>(tab);
    QVERIFY(page);
    w->showTab(page);
    QPushButton *clicked = page->findChild<QPushButton *>(button);
    QVERIFY(clicked && clicked->isEnabled());
    switch (ScriptedPrompter::Kind(kind)) {
    case ScriptedPrompter::Kind::SaveFile:
        m_prompter.expectSaveFile(title, filters, QString());
        break;
    case ScriptedPrompter::Kind::OpenFiles:
        m_prompter.expectOpenFiles(title, filters, {});
        break;
    default:
        m_prompter.expectPickFolder(title, QString());
        break;
    }
    clicked->click();
    QVERIFY2(m_prompter.isSatisfied(), qPrintable(m_prompter.problems()));
    QCOMPARE(m_prompter.calls().constLast().window, w);

    // The main window's own questions stay over the main window.
    m_prompter.expectInput(QString(), u"doc"_qs, std::nullopt);
    main.findChild<QAction *>(QString(designer::m3))->trigger();
    QVERIFY2(m_prompter.isSatisfied(), qPrintable(m_prompter.problems()));
    QCOMPARE(m_prompter.calls().constLast().window, nullptr);
}

// The real dialogs: a workbench's is its child and transient for it, so that the window manager
// gives the focus back to the workbench when it closes, not to the main window.
void TestWorkbench::realDialogGivesTheFocusBack()
{
    QTemporaryDir programFolder;
    QtPrompter prompter;
    ProgramWindows windows(prompter, programFolder.path());
    MainWindow &main = windows.mainWindow();
    prompter.setParentWidget(&main); // as the program does
    main.show();
    main.fileList()->append(paths());
    WorkbenchWindow *w = windows.openWorkbench();
    QVERIFY(w);
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w));
    KeywordsTab *keywords = w->tab<KeywordsTab>();
    w->showTab(keywords);
    QPointer<QWidget> parent;
    QPointer<QWindow> transientParent;
    bool asked = false;
    QTimer closer;
    closer.setInterval(20);
    connect(&closer, &QTimer::timeout, this, [&] {
        QWidget *dialog = QApplication::activeModalWidget();
        if (!dialog || asked)
            return;
        asked = true;
        parent = dialog->parentWidget();
        transientParent = dialog->windowHandle() ? dialog->windowHandle()->transientParent() : nullptr;
        dialog->close();
    });
    closer.start();
    keywords->findChild<QPushButton *>(u"addReferenceFolder"_qs)->click();
    closer.stop();
    QVERIFY(asked);
    QCOMPARE(parent.data(), w);
    QCOMPARE(transientParent.data(), w->windowHandle());
}

// "Explore Word List..." after a run: that run's rows, no count of its own; the rules in force
// at the run, whatever they are now.
void TestWorkbench::exploreTakesTheRunsRows()
{
    QTemporaryDir programFolder;
    ProgramWindows windows(m_prompter, programFolder.path());
    MainWindow &main = windows.mainWindow();
    QStringList paths;
    for (const FileText &f : m_files)
        paths << f.path;
    main.fileList()->append(paths);
    QRadioButton *combined = main.findChild<QRadioButton *>(QString(designer::Option2));
    const bool wasCombined = combined->isChecked();
    combined->click();
    QCheckBox *ignoreCase = main.findChild<QCheckBox *>(QString(designer::Check3));
    const bool wasIgnoring = ignoreCase->isChecked();
    QSignalSpy finished(&windows.runner(), &AnalysisRunner::runFinished);
    main.start();
    QVERIFY(finished.wait(20000));
    ignoreCase->click(); // after the run: not its options
    WorkbenchWindow *w = windows.exploreResults();
    QVERIFY(!w->workbench().isCounting());
    QCOMPARE(w->tabs()->currentWidget(), w->tab<WordListTab>());
    QTRY_VERIFY(w->tab<WordListTab>()->panel() && w->tab<WordListTab>()->panel()->isReady());
    const ResultTable &shown = *w->tab<WordListTab>()->panel()->model()->table();
    QCOMPARE(shown.total(), windows.mainWindow().resultsWindow()->model()->table().total());
    QVERIFY2(w->corpusLine()->text().startsWith(u"2 files, %1 words \u00B7 one count for all files \u00B7 %2"_qs
                                                         .arg(shown.total())
                                                         .arg(wasIgnoring ? u"letter case ignored"_qs : u"letter case kept"_qs)),
             qPrintable(w->corpusLine()->text()));
    if (ignoreCase->isChecked() != wasIgnoring)
        ignoreCase->click();
    if (!wasCombined)
        main.findChild<QRadioButton *>(QString(designer::Option1))->click();
}

// A file that cannot be read: the count names it above the word list, the concordance gives it
// one line naming it, the plot says it was not read; the others are there as ever.
void TestWorkbench::unreadableFileIsNamed()
{
    const QString missing = m_dir.filePath(u"missing.docx"_qs);
    WorkbenchWindow w({m_files[0].path, missing, m_files[1].path}, CountOptions(CountMode::Combined, false, true), m_prompter);
    w.show();
    w.workbench().countWordList();
    WordListTab *words = w.tab<WordListTab>();
    QTRY_VERIFY_WITH_TIMEOUT(words->panel() && words->panel()->isReady(), 20000);
    QVERIFY(words->failuresLabel()->isVisible());
    QVERIFY2(words->failuresLabel()->text().contains(u"missing.docx"_qs), qPrintable(words->failuresLabel()->text()));
    QVERIFY(search(w, u"the"_qs));
    const qint64 theHits = qint64(handHits([](const std::vector<Token> &t, size_t i) { return t[i].word == u"the" ? 1 : 0; }).size());
    QCOMPARE(w.workbench().hitCount(), theHits);
    QCOMPARE(w.workbench().lineCount(), theHits + 1);
    const Workbench::Range failed = w.workbench().fileLines(1);
    QCOMPARE(failed.count, 1);
    const ConcordanceLine &line = w.workbench().line(failed.first);
    QVERIFY(line.failed);
    const ConcordanceModel *model = w.tab<ConcordanceTab>()->model();
    QVERIFY(model->index(int(failed.first), ConcordanceModel::RightColumn).data().toString().contains(u"missing.docx"_qs));
    QVERIFY2(w.tab<ConcordanceTab>()->statusLabel()->text().contains(u"1 file could not be read"_qs),
             qPrintable(w.tab<ConcordanceTab>()->statusLabel()->text()));
    PlotTab *plot = w.tab<PlotTab>();
    w.showTab(plot);
    QCOMPARE(plot->model()->index(1, DispersionModel::WordsColumn).data().toString(), u"unread"_qs);
    QCOMPARE(plot->model()->index(1, DispersionModel::HitsColumn).data().toString(), u"0"_qs);
    QCOMPARE(plot->model()->index(2, DispersionModel::FileColumn).data().toString(), u"two.docx"_qs);
    // Its line leads nowhere; the file view says why it shows nothing.
    w.workbench().showHit(failed.first);
    FileViewTab *view = w.tab<FileViewTab>();
    QSignalSpy loaded(view, &FileViewTab::fileLoaded);
    QVERIFY(loaded.wait(20000));
    QCOMPARE(view->textView()->length(), 0);
    QVERIFY2(view->statusLabel()->text().contains(u"missing.docx"_qs), qPrintable(view->statusLabel()->text()));
}

// A count of phrases does not add up to the corpus's words: they are counted for the line, and a
// query of one word matches none of its phrases.
void TestWorkbench::phraseCountsStillTellTheirWords()
{
    QStringList paths;
    for (const FileText &f : m_files)
        paths << f.path;
    CountOptions options(CountMode::Combined, false, true);
    options.rules.phraseLength = 2;
    WorkbenchWindow w(paths, options, m_prompter);
    w.show();
    w.workbench().countWordList();
    qint64 words = 0;
    for (const FileText &f : m_files)
        words += qint64(tokensOf(f.text, true).size());
    QTRY_VERIFY_WITH_TIMEOUT(w.corpusLine()->text().startsWith(u"2 files, %1 words"_qs.arg(words)), 20000);
    QVERIFY(w.corpusLine()->text().endsWith(u"phrases of 2 words"_qs));
    QVERIFY(search(w, u"the"_qs));
    QCOMPARE(w.workbench().hitCount(), 0);
    QVERIFY(search(w, u"the cat"_qs));
    const auto phrase = [](const std::vector<Token> &t, size_t i) -> qsizetype {
        return i + 1 < t.size() && t[i].word == u"the" && t[i + 1].word == u"cat" && !t[i + 1].paragraphBefore ? 2 : 0;
    };
    QCOMPARE(texts(shownHits(w)), texts(handHits(phrase)));
    QCOMPARE(w.workbench().hitCount(), 4);
}

void TestWorkbench::showInContextSearchesTheConcordance_data()
{
    QTest::addColumn<bool>("ignoreCase");
    QTest::addColumn<QString>("word");
    QTest::addColumn<bool>("byDoubleClick");
    QTest::newRow("case ignored, Enter") << true << u"cat"_qs << false;
    QTest::newRow("case kept, double click") << false << u"Cat"_qs << true;
    QTest::newRow("case kept, lower case") << false << u"the"_qs << false;
}

// Enter or a double click on a word list row: the Concordance tab, its word as the query, as many
// lines as its count (in its letter case where the count keeps it).
void TestWorkbench::showInContextSearchesTheConcordance()
{
    QFETCH(bool, ignoreCase);
    QFETCH(QString, word);
    QFETCH(bool, byDoubleClick);
    auto w = openBench(ignoreCase);
    QStringList paths;
    for (const FileText &f : m_files)
        paths << f.path;
    const CountOptions options(CountMode::Combined, false, ignoreCase);
    DocumentEngine engine;
    w->workbench().setWordList(std::make_shared<const WordListSnapshot>(makeSnapshot(runAnalysis(paths, options, engine), options, paths)));
    WordListPanel *panel = w->tab<WordListTab>()->panel();
    QTRY_VERIFY(panel->isReady());
    const WordListModel *model = panel->model();
    const int wordColumn = model->columnOf(WordListKey::Word);
    int row = -1;
    for (int r = 0; r < model->rowCount(); ++r) {
        if (model->index(r, wordColumn).data().toString() == word)
            row = r;
    }
    QVERIFY(row >= 0);
    const qint64 count = model->index(row, model->columnOf(WordListKey::Count)).data().toLongLong();
    QTableView *view = panel->tableView();
    const QModelIndex index = model->index(row, wordColumn);
    view->setCurrentIndex(index);
    QSignalSpy finished(&w->workbench(), &Workbench::searchFinished);
    if (byDoubleClick) {
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(index).center());
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(index).center());
    } else {
        QTest::keyClick(view, Qt::Key_Return);
    }
    ConcordanceTab *tab = w->tab<ConcordanceTab>();
    QCOMPARE(w->tabs()->currentWidget(), tab);
    QCOMPARE(tab->searchEdit()->text(), word);
    QCOMPARE(tab->matchCaseBox()->isChecked(), !ignoreCase);
    QVERIFY(finished.wait(20000));
    QCOMPARE(w->workbench().hitCount(), count);
    QCOMPARE(tab->model()->rowCount(), int(count));
    for (int r = 0; r < tab->model()->rowCount(); ++r) {
        const QString hit = tab->model()->index(r, ConcordanceModel::HitColumn).data().toString();
        QVERIFY2(ignoreCase ? hit.compare(word, Qt::CaseInsensitive) == 0 || hit.startsWith(word, Qt::CaseInsensitive)
                            : hit.startsWith(word),
                 qPrintable(hit));
    }
}

void TestWorkbench::searchModes_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<QueryMode>("mode");
    QTest::addColumn<bool>("ignoreCase");
    QTest::addColumn<bool>("matchCase");
    QTest::addColumn<QString>("pattern"); // the counted words the hits are, as a whole-word expression
    QTest::addColumn<int>("words");      // words of a phrase
    using M = QueryMode;
    QTest::newRow("word") << u"the"_qs << M::Words << true << false << u"the"_qs << 1;
    QTest::newRow("word typed as in the text") << u"The,"_qs << M::Words << true << false << u"the"_qs << 1;
    QTest::newRow("star") << u"th*"_qs << M::Words << true << false << u"th.*"_qs << 1;
    QTest::newRow("question mark") << u"colo?r"_qs << M::Words << true << false << u"colo.r"_qs << 1;
    QTest::newRow("phrase") << u"the cat"_qs << M::Words << true << false << u"the cat"_qs << 2;
    QTest::newRow("phrase with a star") << u"the c*"_qs << M::Words << true << false << u"the c.*"_qs << 2;
    QTest::newRow("regular expression") << u"c.t|d.g"_qs << M::RegularExpression << true << false << u"c.t|d.g"_qs << 1;
    QTest::newRow("regular expression, whole words only") << u"ca"_qs << M::RegularExpression << true << false << u"ca"_qs << 1;
    QTest::newRow("case kept, any case") << u"the"_qs << M::Words << false << false << u"(?i)the"_qs << 1;
    QTest::newRow("case kept, matched") << u"The"_qs << M::Words << false << true << u"The"_qs << 1;
    QTest::newRow("case kept, regex matched") << u"[A-Z].*"_qs << M::RegularExpression << false << true << u"[A-Z].*"_qs << 1;
    QTest::newRow("case ignored: match case has no say") << u"THE"_qs << M::Words << true << true << u"the"_qs << 1;
}

// Each mode finds exactly the counted words (or phrases) it stands for, where they stand.
void TestWorkbench::searchModes()
{
    QFETCH(QString, query);
    QFETCH(QueryMode, mode);
    QFETCH(bool, ignoreCase);
    QFETCH(bool, matchCase);
    QFETCH(QString, pattern);
    QFETCH(int, words);
    auto w = openBench(ignoreCase);
    ConcordanceTab *tab = w->tab<ConcordanceTab>();
    QCOMPARE(tab->matchCaseBox()->isEnabled(), !ignoreCase);
    QVERIFY(search(*w, query, mode, matchCase));
    const QStringList parts = pattern.split(u' ');
    const auto matches = [&](const std::vector<Token> &tokens, size_t i) -> qsizetype {
        for (qsizetype k = 0; k < parts.size(); ++k) {
            const size_t at = i + size_t(k);
            if (at >= tokens.size() || (k > 0 && tokens[at].paragraphBefore)
                || !QRegularExpression(QRegularExpression::anchoredPattern(parts.at(k))).match(tokens[at].word).hasMatch())
                return 0;
        }
        return words;
    };
    const std::vector<Hit> expected = handHits(matches, ignoreCase);
    QVERIFY(!expected.empty() || query == u"ca");
    QCOMPARE(texts(shownHits(*w)), texts(expected));
    QCOMPARE(w->workbench().hitCount(), qint64(expected.size()));
    // The hit column shows the hit as it stands in the text.
    for (int row = 0; row < tab->model()->rowCount(); ++row) {
        const Hit &h = expected[size_t(row)];
        QCOMPARE(tab->model()->index(row, ConcordanceModel::HitColumn).data().toString(),
                 m_files[size_t(h.file)].text.mid(h.start, h.end - h.start));
    }
    QCOMPARE(tab->statusLabel()->text(), expected.size() == 1 ? u"1 hit"_qs : u"%1 hits"_qs.arg(expected.size()));
}

// An invalid expression or an empty query is said, and the lines found before stay.
void TestWorkbench::badQueryKeepsTheLines()
{
    auto w = openBench();
    QVERIFY(search(*w, u"cat"_qs));
    const int lines = w->tab<ConcordanceTab>()->model()->rowCount();
    QVERIFY(lines > 0);
    ConcordanceTab *tab = w->tab<ConcordanceTab>();
    for (const auto &[text, mode] : {std::pair{u"(cat"_qs, QueryMode::RegularExpression}, std::pair{u"  "_qs, QueryMode::Words}}) {
        // The mode searches again at once, with the text in the field.
        tab->searchEdit()->setText(text);
        tab->modeBox()->setCurrentIndex(tab->modeBox()->findData(int(mode)));
        QTest::keyClick(tab->searchEdit(), Qt::Key_Return);
        QVERIFY(!w->workbench().isSearching());
        QCOMPARE(tab->model()->rowCount(), lines);
        QVERIFY(!tab->statusLabel()->text().isEmpty());
        QVERIFY(tab->searchEdit()->styleSheet().contains(u"background"_qs));
    }
    // A word the rules never count finds nothing, and says why.
    QVERIFY(search(*w, u"--"_qs));
    QCOMPARE(tab->model()->rowCount(), 0);
    QVERIFY2(tab->statusLabel()->text().contains(u"never"_qs), qPrintable(tab->statusLabel()->text()));
}

// An invalid expression is named with the pattern engine's own message and place, not that of an
// anchor around it; a word on which the engine reaches its match limit is named in the status.
void TestWorkbench::regularExpressionFaultsAndLimits()
{
    const QString path = m_dir.filePath(u"limit.txt"_qs);
    const QString longWord(40, u'a');
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write((u"ab "_qs + longWord + u" ac\n"_qs).toUtf8());
    }
    WorkbenchWindow w({path}, CountOptions(CountMode::Combined, false, true), m_prompter);
    w.show();
    ConcordanceTab *tab = w.tab<ConcordanceTab>();
    QVERIFY(search(w, u"a.*"_qs, QueryMode::RegularExpression));
    QCOMPARE(w.workbench().hitCount(), qint64(3));
    for (const auto &[text, why] : {std::pair{u"happ["_qs, u"missing terminating ] for character class at position 5"_qs},
                                    std::pair{u"a)|(b"_qs, u"unmatched closing parenthesis at position 1"_qs}}) {
        tab->searchEdit()->setText(text);
        QTest::keyClick(tab->searchEdit(), Qt::Key_Return);
        QVERIFY(!w.workbench().isSearching());
        QVERIFY2(tab->statusLabel()->text().contains(why), qPrintable(tab->statusLabel()->text()));
        QCOMPARE(tab->model()->rowCount(), 3); // the lines found before stay
    }
    QVERIFY(search(w, u"(a|a)*(b|c)"_qs, QueryMode::RegularExpression));
    QCOMPARE(w.workbench().hitCount(), qint64(2));
    QVERIFY2(tab->statusLabel()->text().contains(u"match limit"_qs) && tab->statusLabel()->text().contains(longWord),
             qPrintable(tab->statusLabel()->text()));
}

void TestWorkbench::sortLevelsAndColours_data()
{
    QTest::addColumn<QList<SortKey>>("keys");
    QTest::addColumn<QString>("query");
    using K = SortKey;
    QTest::newRow("position") << QList<K>{K::Position, K::Position, K::Position} << u"the"_qs;
    for (const K key : {K::Left5, K::Left4, K::Left3, K::Left2, K::Left1, K::Right1, K::Right2, K::Right3, K::Right4, K::Right5})
        QTest::newRow(qPrintable(sortKeyNames().at(int(key)))) << QList<K>{key, K::Position, K::Position} << u"the"_qs;
    QTest::newRow("hit") << QList<K>{K::Hit, K::Position, K::Position} << u"th*"_qs;
    QTest::newRow("file") << QList<K>{K::File, K::Position, K::Position} << u"the"_qs;
    QTest::newRow("1R, 2R, 1L") << QList<K>{K::Right1, K::Right2, K::Left1} << u"the"_qs;
    QTest::newRow("file, hit, 2L") << QList<K>{K::File, K::Hit, K::Left2} << u"th*"_qs;
    QTest::newRow("position ends the order") << QList<K>{K::Position, K::Right1, K::Hit} << u"the"_qs;
}

// Each level orders by the counted word at its place (none first), ties by the next level, then
// text order; the words at the sort positions are coloured red, green and blue by level.
void TestWorkbench::sortLevelsAndColours()
{
    QFETCH(QList<SortKey>, keys);
    QFETCH(QString, query);
    auto w = openBench();
    ConcordanceTab *tab = w->tab<ConcordanceTab>();
    tab->widthBox()->setValue(200); // every neighbour in view: the files are shorter
    QVERIFY(search(*w, query));
    QList<SortKey> effective;
    for (const SortKey key : keys) {
        if (key == SortKey::Position)
            break;
        effective << key;
    }
    const auto shownEffective = [&] {
        QList<SortKey> shown = tab->model()->shownKeys();
        const qsizetype end = shown.indexOf(SortKey::Position);
        return end < 0 ? shown : shown.first(end);
    };
    for (int level = 0; level < 3; ++level)
        tab->sortBox(level)->setCurrentIndex(tab->sortBox(level)->findData(int(keys.at(level))));
    QTRY_VERIFY(!tab->model()->isOrdering() && shownEffective() == effective);

    // By hand: each hit's words at the levels' places (lower-case ASCII: any collation agrees).
    std::vector<std::vector<Token>> tokens;
    for (const FileText &f : m_files)
        tokens.push_back(tokensOf(f.text, true));
    std::vector<Hit> expected = shownHits(*w);
    std::sort(expected.begin(), expected.end(), [](const Hit &a, const Hit &b) {
        return std::pair(a.file, a.position) < std::pair(b.file, b.position);
    });
    const auto keyOf = [&](const Hit &h, SortKey key) -> QString {
        const std::vector<Token> &t = tokens[size_t(h.file)];
        switch (key) {
        case SortKey::Hit:
            return t[size_t(h.position)].word;
        case SortKey::File:
            return m_files[size_t(h.file)].label;
        case SortKey::Position:
            return {};
        default: {
            const qint64 at = h.position + int(key) - int(SortKey::Hit);
            return at >= 0 && at < qint64(t.size()) ? t[size_t(at)].word : QString();
        }
        }
    };
    std::stable_sort(expected.begin(), expected.end(), [&](const Hit &a, const Hit &b) {
        for (const SortKey key : effective) {
            const int c = keyOf(a, key).compare(keyOf(b, key));
            if (c != 0)
                return c < 0;
        }
        return false;
    });
    QCOMPARE(texts(shownHits(*w)), texts(expected));

    // The coloured pieces are the sorted words, one colour per level.
    const ConcordanceModel *model = tab->model();
    for (int row = 0; row < model->rowCount(); ++row) {
        QList<ColouredSpan> all;
        QStringList colouredWords;
        for (int column : {ConcordanceModel::FileColumn, ConcordanceModel::LeftColumn, ConcordanceModel::HitColumn,
                           ConcordanceModel::RightColumn}) {
            const QString text = model->index(row, column).data().toString();
            for (const ColouredSpan &s : model->spans(row, column)) {
                all << s;
                QString word = text.mid(s.start, s.length);
                if (column != ConcordanceModel::FileColumn)
                    word = tokensOf(word, true).empty() ? QString() : tokensOf(word, true).front().word;
                colouredWords << u"%1:%2"_qs.arg(s.level).arg(word);
            }
        }
        QStringList expectedWords;
        for (int level = 0; level < effective.size(); ++level) {
            const QString word = keyOf(expected[size_t(row)], effective.at(level));
            if (!word.isEmpty())
                expectedWords << u"%1:%2"_qs.arg(level).arg(word);
        }
        colouredWords.sort();
        expectedWords.sort();
        QCOMPARE(colouredWords, expectedWords);
    }
    QCOMPARE(ConcordanceModel::levelColour(0), QColor(0xd0, 0x10, 0x10));
}

// What the delegate paints: the sort level's colour stands in the right context.
void TestWorkbench::sortColoursArePainted()
{
    auto w = openBench();
    ConcordanceTab *tab = w->tab<ConcordanceTab>();
    QVERIFY(search(*w, u"the"_qs));
    tab->setSortKeys({SortKey::Right1});
    QTRY_VERIFY(tab->model()->shownKeys().value(0) == SortKey::Right1);
    const auto colourIn = [&](int column, const QColor &colour) {
        const QImage image = tab->view()->viewport()->grab().toImage();
        const int left = tab->view()->columnViewportPosition(column);
        const int right = left + tab->view()->columnWidth(column);
        for (int y = 0; y < image.height(); ++y) {
            for (int x = std::max(0, left); x < std::min(right, image.width()); ++x) {
                const QColor c = image.pixelColor(x, y);
                if (std::abs(c.red() - colour.red()) < 40 && std::abs(c.green() - colour.green()) < 40
                    && std::abs(c.blue() - colour.blue()) < 40)
                    return true;
            }
        }
        return false;
    };
    QTRY_VERIFY(colourIn(ConcordanceModel::RightColumn, ConcordanceModel::levelColour(0)));
    QVERIFY(!colourIn(ConcordanceModel::LeftColumn, ConcordanceModel::levelColour(0)));
    tab->setSortKeys({SortKey::Position});
    QTRY_VERIFY(!colourIn(ConcordanceModel::RightColumn, ConcordanceModel::levelColour(0)));
}

// The width searches again: no side holds more characters than it allows.
void TestWorkbench::widthSearchesAgain()
{
    auto w = openBench();
    ConcordanceTab *tab = w->tab<ConcordanceTab>();
    QVERIFY(search(*w, u"the"_qs));
    QSignalSpy finished(&w->workbench(), &Workbench::searchFinished);
    tab->widthBox()->setValue(20);
    QVERIFY(finished.wait(20000));
    QCOMPARE(w->workbench().query().width, 20);
    bool cut = false;
    for (int row = 0; row < tab->model()->rowCount(); ++row) {
        const QString left = tab->model()->index(row, ConcordanceModel::LeftColumn).data().toString();
        const QString right = tab->model()->index(row, ConcordanceModel::RightColumn).data().toString();
        QVERIFY(left.size() <= 20 && right.size() <= 20);
        cut = cut || right.size() == 20;
    }
    QVERIFY(cut);
}

// Copy takes the selected lines as shown, Save every line, tab-separated; a file that cannot be
// written is named in a warning.
void TestWorkbench::copyAndSave()
{
    auto w = openBench();
    ConcordanceTab *tab = w->tab<ConcordanceTab>();
    QVERIFY(search(*w, u"cat"_qs));
    tab->setSortKeys({SortKey::Right1});
    QTRY_VERIFY(tab->model()->shownKeys().value(0) == SortKey::Right1);
    const ConcordanceModel *model = tab->model();
    const auto rowText = [&](int row) -> QString {
        QStringList cells{QString::number(row + 1)};
        for (int c = ConcordanceModel::FileColumn; c < ConcordanceModel::ColumnCount; ++c)
            cells << model->index(row, c).data().toString();
        return cells.join(u'\t') + u'\n';
    };
    // "cat and" comes first: the words after "cat" are "and", "of", "sat", "slept" and "the".
    QVERIFY2(rowText(0).section(u'\t', 4, 4).startsWith(u" and the bird"_qs), qPrintable(rowText(0)));
    tab->view()->selectionModel()->select(model->index(2, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    tab->view()->selectionModel()->select(model->index(0, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QGuiApplication::clipboard()->clear();
    tab->view()->setFocus();
    QTest::keyClick(tab->view(), Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), rowText(0) + rowText(2));

    const QString path = m_dir.filePath(u"lines.txt"_qs);
    m_prompter.expectSaveFile(u"Save Lines"_qs, {u"Text files (*.txt)"_qs, u"All files (*)"_qs}, path);
    tab->findChild<QPushButton *>(u"saveLines"_qs)->click();
    QString all;
    for (int row = 0; row < model->rowCount(); ++row)
        all += rowText(row);
    QCOMPARE(QString::fromUtf8(readAll(path)), all);

    m_prompter.expectSaveFile(u"Save Lines"_qs, {u"Text files (*.txt)"_qs, u"All files (*)"_qs}, m_dir.filePath(u"no/such/folder/lines.txt"_qs));
    m_prompter.expectMessage(QString(), Prompter::Icon::Warning);
    tab->save();
    QVERIFY(m_prompter.isSatisfied());
    QVERIFY(m_prompter.calls().constLast().text.contains(u"no/such/folder/lines.txt"_qs));
}

// Stop ends a long search and keeps its lines; an order chosen meanwhile applies then.
void TestWorkbench::stopEndsTheSearch()
{
    QTemporaryDir dir;
    QStringList paths;
    const QByteArray paragraph = "the quick fox and the slow dog met the other fox by the river\r\n";
    for (int i = 0; i < 12; ++i) {
        paths << dir.filePath(u"big%1.txt"_qs.arg(i));
        QVERIFY(writeFile(paths.constLast(), paragraph.repeated(60000)));
    }
    WorkbenchWindow w(paths, CountOptions(CountMode::Combined, false, true), m_prompter);
    w.show();
    ConcordanceTab *tab = w.tab<ConcordanceTab>();
    tab->searchEdit()->setText(u"the"_qs);
    QSignalSpy added(&w.workbench(), &Workbench::linesAdded);
    QSignalSpy finished(&w.workbench(), &Workbench::searchFinished);
    QTest::keyClick(tab->searchEdit(), Qt::Key_Return);
    QVERIFY(tab->stopButton()->isEnabled());
    QVERIFY(added.wait(20000));
    tab->setSortKeys({SortKey::Right1, SortKey::Right2});
    QVERIFY(tab->model()->shownKeys().isEmpty()); // text order while the lines come
    QVERIFY2(tab->statusLabel()->text().contains(u"sorted when the search ends"_qs), qPrintable(tab->statusLabel()->text()));
    // Enough lines for the copy below to go off the window's thread, however slow the machine.
    QTRY_VERIFY_WITH_TIMEOUT(w.workbench().hitCount() > 20000, 20000);
    QTest::mouseClick(tab->stopButton(), Qt::LeftButton);
    QVERIFY(finished.wait(20000));
    QCOMPARE(finished.constLast().at(0).toBool(), true);
    QVERIFY(!w.workbench().isSearching());
    QVERIFY(!tab->stopButton()->isEnabled());
    const qint64 kept = w.workbench().hitCount();
    QVERIFY(kept > 0 && kept < 12 * 60000 * 4);
    QVERIFY(tab->progressBar()->value() < 100);
    QVERIFY2(tab->statusLabel()->text().startsWith(u"Stopped"_qs), qPrintable(tab->statusLabel()->text()));
    QTRY_COMPARE(tab->model()->shownKeys(), (QList<SortKey>{SortKey::Right1, SortKey::Right2, SortKey::Position}));
    QTest::qWait(300); // nothing comes after Stop
    QCOMPARE(w.workbench().hitCount(), kept);
    QCOMPARE(tab->model()->rowCount(), int(kept));

    // Copying that many lines is written out off the window's thread, in the order shown.
    QVERIFY(kept > 20000);
    tab->view()->selectAll();
    tab->copySelectedLines();
    const QString copied = QGuiApplication::clipboard()->text();
    QCOMPARE(copied.count(u'\n'), kept);
    const QString last = copied.section(u'\n', -2, -2);
    QCOMPARE(last.section(u'\t', 0, 0), QString::number(kept));
    QCOMPARE(last.section(u'\t', 3, 3), tab->model()->index(int(kept) - 1, ConcordanceModel::HitColumn).data().toString());
}

// "Fit to window", the default, gives each side as many characters as the window has room for: the
// lines fill its width. A wider window finds them again, wider; a narrower one cuts them.
void TestWorkbench::widthFitsTheWindow()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"long.txt"_qs);
    QByteArray text;
    for (int i = 0; i < 300; ++i)
        text += "word" + QByteArray::number(i) + ' ';
    text += "needle";
    for (int i = 0; i < 300; ++i)
        text += " word" + QByteArray::number(i);
    QVERIFY(writeFile(path, text));
    WorkbenchWindow w({path}, CountOptions(CountMode::Combined, false, true), m_prompter);
    w.resize(1600, 700);
    w.show();
    ConcordanceTab *tab = w.tab<ConcordanceTab>();
    QCOMPARE(tab->widthBox()->text(), u"Fit to window"_qs);
    QVERIFY(search(w, u"needle"_qs));
    QCOMPARE(w.workbench().query().width, WorkbenchQuery::kFitToWindow);
    QTableView *view = tab->view();
    const int character = QFontMetrics(view->font()).horizontalAdvance(u'x');
    const auto rightText = [&] { return tab->model()->index(0, ConcordanceModel::RightColumn).data().toString(); };
    // The number, the file, the left context's column, the hit and the right context's text take
    // the lines' width, less what the hit's column keeps for a longer hit.
    const auto used = [&] {
        int width = QFontMetrics(view->font()).horizontalAdvance(rightText());
        for (const int c : {ConcordanceModel::NumberColumn, ConcordanceModel::FileColumn, ConcordanceModel::LeftColumn,
                            ConcordanceModel::HitColumn})
            width += view->columnWidth(c);
        return width;
    };
    const auto fills = [&] {
        const int lines = view->viewport()->width();
        return used() >= lines - 14 * character && used() <= lines + 4 * character;
    };
    QTRY_VERIFY2(fills(), qPrintable(u"%1 of %2"_qs.arg(used()).arg(view->viewport()->width())));
    const int fitted = w.workbench().lineWidth();
    QVERIFY2(fitted > 60, qPrintable(QString::number(fitted)));
    QCOMPARE(rightText().size(), fitted);
    QCOMPARE(tab->model()->index(0, ConcordanceModel::LeftColumn).data().toString().size(), fitted);

    // Wider: found again once the window has its size.
    QSignalSpy started(&w.workbench(), &Workbench::searchStarted);
    w.resize(2200, 700);
    QTRY_VERIFY_WITH_TIMEOUT(started.size() == 1 && !w.workbench().isSearching() && tab->model()->rowCount() == 1, 20000);
    QVERIFY(w.workbench().lineWidth() > fitted);
    QTRY_VERIFY2(fills(), qPrintable(u"%1 of %2"_qs.arg(used()).arg(view->viewport()->width())));
    // Narrower: the lines held are cut to it, not found again.
    const int wide = w.workbench().lineWidth();
    w.resize(1600, 700);
    QTRY_COMPARE(view->columnWidth(ConcordanceModel::LeftColumn), QFontMetrics(view->font()).horizontalAdvance(QString(fitted + 1, u'x')));
    QCOMPARE(w.workbench().lineWidth(), wide);
    QCOMPARE(started.size(), 1);
}

// The plot: each file's words, hits, rate and Juilland's D worked out by hand; a click on a mark
// shows its hit in the file view.
void TestWorkbench::plotFollowsTheQuery()
{
    auto w = openBench();
    PlotTab *plot = w->tab<PlotTab>();
    QCOMPARE(plot->model()->rowCount(), 0);
    QVERIFY(search(*w, u"the"_qs));
    w->showTab(plot);
    QTRY_COMPARE(plot->model()->rowCount(), 2);
    // Every header whole ("Per 1,000 words" was cut), each figure too.
    const QHeaderView *header = plot->view()->horizontalHeader();
    for (int c = DispersionModel::WordsColumn; c <= DispersionModel::JuillandColumn; ++c) {
        QVERIFY2(header->sectionSize(c) >= header->sectionSizeHint(c), qPrintable(plot->model()->headerData(c, Qt::Horizontal).toString()));
        for (int r = 0; r < plot->model()->rowCount(); ++r) {
            const QString text = plot->model()->index(r, c).data().toString();
            QVERIFY2(header->sectionSize(c) > plot->view()->fontMetrics().horizontalAdvance(text) + 4, qPrintable(text));
        }
    }
    const QLocale locale;
    for (qint32 f = 0; f < 2; ++f) {
        const std::vector<Token> tokens = tokensOf(m_files[size_t(f)].text, true);
        std::vector<qint64> positions;
        for (size_t i = 0; i < tokens.size(); ++i) {
            if (tokens[i].word == u"the")
                positions.push_back(qint64(i));
        }
        const auto W = qint64(tokens.size());
        std::array<double, 10> parts{};
        for (const qint64 p : positions)
            parts[size_t(10 * p / W)] += 1;
        const double mean = double(positions.size()) / 10;
        double variance = 0;
        for (const double v : parts)
            variance += (v - mean) * (v - mean) / 10;
        const double d = 1 - (std::sqrt(variance) / mean) / 3;
        const auto cell = [&](int column) { return plot->model()->index(f, column).data().toString(); };
        QCOMPARE(cell(DispersionModel::FileColumn), m_files[size_t(f)].label);
        QCOMPARE(cell(DispersionModel::WordsColumn), locale.toString(W));
        QCOMPARE(cell(DispersionModel::HitsColumn), locale.toString(qint64(positions.size())));
        QCOMPARE(cell(DispersionModel::PerThousandColumn), locale.toString(1000.0 * double(positions.size()) / double(W), 'f', 3));
        QCOMPARE(cell(DispersionModel::JuillandColumn), locale.toString(d, 'f', 4));
        QCOMPARE(plot->model()->positions(f), positions);
    }
    QVERIFY(plot->titleLabel()->text().contains(u"\u201Cthe\u201D"_qs));

    // A query without a hit in a file: 0 hits, no D.
    QVERIFY(search(*w, u"rat"_qs));
    w->showTab(plot);
    QTRY_COMPARE(plot->model()->index(0, DispersionModel::HitsColumn).data().toString(), u"0"_qs);
    QCOMPARE(plot->model()->index(0, DispersionModel::JuillandColumn).data().toString(), QString());
    QCOMPARE(plot->model()->index(1, DispersionModel::HitsColumn).data().toString(), u"1"_qs);

    // A click on the mark of the second file's hit.
    QVERIFY(search(*w, u"the"_qs));
    w->showTab(plot);
    QTRY_COMPARE(plot->model()->positions(1).size(), size_t(w->workbench().fileLines(1).count));
    const QModelIndex strip = plot->model()->index(1, DispersionModel::PlotColumn);
    const QRect area = StripDelegate::stripRect(plot->view()->visualRect(strip));
    const qint64 position = plot->model()->positions(1).at(2);
    const int x = area.left() + DispersionModel::markX(position, plot->model()->words(1), area.width());
    QTest::mouseClick(plot->view()->viewport(), Qt::LeftButton, {}, QPoint(x, area.center().y()));
    FileViewTab *view = w->tab<FileViewTab>();
    QCOMPARE(w->tabs()->currentWidget(), view);
    const ConcordanceLine &line = w->workbench().line(view->currentLine());
    QCOMPARE(line.file, 1);
    QCOMPARE(line.position, position);
    // Elsewhere than on a mark: nothing happens.
    w->showTab(plot);
    QTest::mouseClick(plot->view()->viewport(), Qt::LeftButton, {},
                      plot->view()->visualRect(plot->model()->index(1, DispersionModel::FileColumn)).center());
    QCOMPARE(w->tabs()->currentWidget(), plot);
}

void TestWorkbench::plotSavesImages_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("PNG") << u"plot.png"_qs;
    QTest::newRow("SVG") << u"plot.svg"_qs;
}

void TestWorkbench::plotSavesImages()
{
    QFETCH(QString, name);
    auto w = openBench();
    QVERIFY(search(*w, u"the"_qs));
    PlotTab *plot = w->tab<PlotTab>();
    w->showTab(plot);
    const QString path = m_dir.filePath(name);
    QFile::remove(path);
    m_prompter.expectSaveFile(u"Save Image"_qs, {u"PNG Image (*.png)"_qs, u"SVG Image (*.svg)"_qs}, path);
    plot->findChild<QPushButton *>(u"savePlotImage"_qs)->click();
    const QByteArray data = readAll(path);
    if (name.endsWith(u".svg")) {
        QVERIFY(data.contains("<svg"));
        QVERIFY(data.contains("two.docx"));
    } else {
        QImage image;
        QVERIFY(image.loadFromData(data, "PNG"));
        QCOMPARE(image.size(), plot->imageSize());
        // Marks are drawn: some dark pixels in the strip of the first row.
        bool dark = false;
        for (int x = image.width() - 300; x < image.width() - 10 && !dark; ++x) {
            for (int y = 0; y < image.height() && !dark; ++y)
                dark = qGray(image.pixel(x, y)) < 60;
        }
        QVERIFY(dark);
    }
}

// The saved plot holds every header whole ("Per 1,000 words" came out cut at its start) and every
// figure; so do the window's headers.
void TestWorkbench::plotImageHoldsItsHeaders()
{
    auto w = openBench();
    QVERIFY(search(*w, u"the"_qs));
    PlotTab *plot = w->tab<PlotTab>();
    w->showTab(plot);
    QTRY_COMPARE(plot->model()->rowCount(), 2);
    QFont bold = plot->font();
    bold.setBold(true);
    const QFontMetrics headerMetrics(bold);
    const QFontMetrics metrics(plot->font());
    const std::vector<int> widths = plot->imageColumnWidths();
    QCOMPARE(widths.size(), size_t(DispersionModel::PlotColumn));
    const QHeaderView *header = plot->view()->horizontalHeader();
    int sum = 0;
    for (int c = 0; c < DispersionModel::PlotColumn; ++c) {
        const QString name = plot->model()->headerData(c, Qt::Horizontal).toString();
        // With the cell's margins, 6 pixels each side.
        QVERIFY2(headerMetrics.horizontalAdvance(name) + 12 <= widths[size_t(c)], qPrintable(name));
        QVERIFY2(header->sectionSize(c) >= header->sectionSizeHint(c), qPrintable(name));
        for (int row = 0; row < plot->model()->rowCount() && c != DispersionModel::FileColumn; ++row) {
            const QString cell = plot->model()->index(row, c).data().toString();
            QVERIFY2(metrics.horizontalAdvance(cell) + 12 <= widths[size_t(c)], qPrintable(cell));
        }
        sum += widths[size_t(c)];
    }
    QVERIFY(plot->imageSize().width() >= sum + 400);
}

// A double click (or Enter) on a line: the File View shows its file, the hit selected and in view;
// a .docx shows its body text, exactly as the count reads it.
void TestWorkbench::doubleClickShowsTheHitInItsFile()
{
    auto w = openBench();
    ConcordanceTab *tab = w->tab<ConcordanceTab>();
    QVERIFY(search(*w, u"colo*r"_qs));
    QCOMPARE(tab->model()->rowCount(), 2);
    const QModelIndex index = tab->model()->index(1, ConcordanceModel::HitColumn);
    QTest::mouseClick(tab->view()->viewport(), Qt::LeftButton, {}, tab->view()->visualRect(index).center());
    QTest::mouseDClick(tab->view()->viewport(), Qt::LeftButton, {}, tab->view()->visualRect(index).center());
    FileViewTab *view = w->tab<FileViewTab>();
    QCOMPARE(w->tabs()->currentWidget(), view);
    QCOMPARE(view->file(), 1);
    QCOMPARE(view->fileBox()->currentText(), u"two.docx"_qs);
    QTRY_VERIFY(!view->isLoading());
    TextViewport *text = view->textView();
    QCOMPARE(text->text(0, text->length()), m_files[1].text);
    QCOMPARE(text->selectedText(), u"color"_qs);
    QVERIFY(text->isOnScreen(text->selection().first));
    QCOMPARE(text->hits().size(), size_t(2));
    QCOMPARE(view->statusLabel()->text(), u"Concordance line 2 of 2; hit 2 of 2 in this file"_qs);
}

// Previous and Next go from hit to hit across the files in corpus order; the file selector shows
// a file from its start, and Next goes on from there.
void TestWorkbench::fileViewStepsThroughHits()
{
    auto w = openBench();
    QVERIFY(search(*w, u"the"_qs));
    const std::vector<Hit> hits = shownHits(*w);
    FileViewTab *view = w->tab<FileViewTab>();
    w->workbench().showHit(0);
    QCOMPARE(view->currentLine(), 0);
    QVERIFY(!view->previousButton()->isEnabled());
    for (size_t i = 1; i < hits.size(); ++i) {
        QTest::mouseClick(view->nextButton(), Qt::LeftButton);
        QCOMPARE(view->currentLine(), qsizetype(i));
        QCOMPARE(view->file(), hits[i].file);
        QTRY_VERIFY(!view->isLoading());
        QCOMPARE(view->textView()->selection(), std::pair(hits[i].start, hits[i].end));
    }
    QVERIFY(!view->nextButton()->isEnabled());
    QTest::mouseClick(view->previousButton(), Qt::LeftButton);
    QCOMPARE(view->currentLine(), qsizetype(hits.size() - 2));

    view->fileBox()->setCurrentIndex(0);
    emit view->fileBox()->activated(0);
    QCOMPARE(view->file(), 0);
    QCOMPARE(view->currentLine(), -1);
    QTRY_VERIFY(!view->isLoading());
    QCOMPARE(view->textView()->topOffset(), 0);
    QTest::mouseClick(view->nextButton(), Qt::LeftButton);
    QCOMPARE(view->currentLine(), 0);
}

// A line of a sorted concordance: the File View names it by the number the concordance shows it
// with (the one clicked), and the hit by its place among its file's hits; another order
// renumbers it.
void TestWorkbench::fileViewNamesTheLineClicked()
{
    auto w = openBench();
    QVERIFY(search(*w, u"the"_qs));
    ConcordanceTab *tab = w->tab<ConcordanceTab>();
    tab->setSortKeys({SortKey::Right1, SortKey::Position, SortKey::Position});
    QTRY_VERIFY(!tab->model()->isOrdering() && tab->model()->shownKeys().constFirst() == SortKey::Right1);
    int row = -1; // a line not at its place in text order
    for (int r = 0; r < tab->model()->rowCount() && row < 0; ++r) {
        if (tab->model()->lineOf(r) != r && w->workbench().line(tab->model()->lineOf(r)).file == 1)
            row = r;
    }
    QVERIFY(row >= 0);
    const qsizetype line = tab->model()->lineOf(row);
    const Workbench::Range inFile = w->workbench().fileLines(1);
    const QModelIndex index = tab->model()->index(row, ConcordanceModel::HitColumn);
    tab->view()->scrollTo(index);
    QTest::mouseClick(tab->view()->viewport(), Qt::LeftButton, {}, tab->view()->visualRect(index).center());
    QTest::mouseDClick(tab->view()->viewport(), Qt::LeftButton, {}, tab->view()->visualRect(index).center());
    FileViewTab *view = w->tab<FileViewTab>();
    QCOMPARE(w->tabs()->currentWidget(), view);
    QCOMPARE(view->currentLine(), line);
    QTRY_VERIFY(!view->isLoading());
    const auto status = [&](qsizetype number) {
        return u"Concordance line %1 of %2; hit %3 of %4 in this file"_qs.arg(number)
                .arg(w->workbench().lineCount())
                .arg(line - inFile.first + 1)
                .arg(inFile.count);
    };
    QCOMPARE(view->statusLabel()->text(), status(row + 1));
    // In text order the same hit is another line.
    tab->setSortKeys({SortKey::Position, SortKey::Position, SortKey::Position});
    QTRY_COMPARE(view->statusLabel()->text(), status(line + 1));
}

// A long text is shown in blocks, read in pages; every place keeps its place, the end can be
// reached, and a hit far into it is brought into view once its page is there.
void TestWorkbench::fileViewHoldsLongTexts()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"long.txt"_qs);
    QByteArray data;
    QRandomGenerator random(7);
    const QList<QByteArray> words = {"alpha", "beta", "gamma", "delta", "needle\tx", "caf\xc3\xa9", "\xf0\x9f\x99\x82"};
    for (int line = 0; line < 120000; ++line) {
        const int n = line % 997 == 0 ? 900 : 3 + int(random.bounded(12)); // now and then a long paragraph
        for (int k = 0; k < n; ++k)
            data += words.at(random.bounded(int(words.size()))) + (k + 1 < n ? " " : "");
        data += line % 3 == 0 ? "\r\n" : "\n";
    }
    data += "zeta";
    QVERIFY(writeFile(path, data));
    const QString expected = DocumentEngine().returnDocumentString(path);
    WorkbenchWindow w({path}, CountOptions(CountMode::Combined, false, true), m_prompter);
    w.resize(900, 600);
    w.show();
    QVERIFY(search(w, u"zeta"_qs));
    QCOMPARE(w.workbench().hitCount(), 1);
    FileViewTab *view = w.tab<FileViewTab>();
    QSignalSpy loaded(view, &FileViewTab::fileLoaded);
    w.workbench().showHit(0);
    QVERIFY(loaded.wait(30000));
    TextViewport *text = view->textView();
    QCOMPARE(text->length(), expected.size());
    QCOMPARE(text->selectedText(), u"zeta"_qs);
    QVERIFY(text->isOnScreen(expected.size() - 2));
    QVERIFY(text->blockCount() > 120000);
    QRandomGenerator pick(11);
    for (int i = 0; i < 50; ++i) {
        const qint64 start = pick.bounded(expected.size() - 100);
        QString shown = expected.mid(start, 100);
        for (QChar &c : shown) {
            if (c.unicode() < 0x20 && c != u'\t' && c != u'\r' && c != u'\n')
                c = u' ';
        }
        QCOMPARE(text->text(start, start + 100), shown);
    }
    // Home, End and the scroll bar's end.
    text->setFocus();
    QTest::keyClick(text, Qt::Key_Home);
    QCOMPARE(text->topOffset(), 0);
    QVERIFY(text->isOnScreen(0));
    QTest::keyClick(text, Qt::Key_End);
    QVERIFY(text->isOnScreen(expected.size() - 1));
    text->verticalScrollBar()->setValue(text->verticalScrollBar()->maximum() / 2);
    const qint64 middle = text->topOffset();
    QVERIFY(middle > expected.size() / 4 && middle < 3 * expected.size() / 4);
    QVERIFY(text->isOnScreen(middle));
}

// With blank-line paragraphs the File View shows the text the hits were found in: a hard-wrapped
// file's lines joined, the phrase across a line end selected where it stands.
void TestWorkbench::fileViewJoinsLinesAsTheRulesDo()
{
    const QString path = m_dir.filePath(u"wrapped.txt"_qs);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("It was a very\r\nhappy day, a very\nhappy one.\n\nvery\n\nhappy\n");
    file.close();
    WordRules rules;
    rules.words = WordRules::Words::Corpus;
    rules.paragraphs = WordRules::Paragraphs::BlankLines;
    WorkbenchWindow w({path}, CountOptions(CountMode::Combined, false, true, rules), m_prompter);
    w.show();
    QVERIFY(search(w, u"very happy"_qs));
    QCOMPARE(w.workbench().hitCount(), qint64(2));
    w.workbench().showHit(1);
    FileViewTab *view = w.tab<FileViewTab>();
    QTRY_VERIFY(!view->isLoading());
    TextViewport *text = view->textView();
    QCOMPARE(text->text(0, text->length()), u"It was a very happy day, a very happy one. \rvery \rhappy\r"_qs);
    QCOMPARE(text->selectedText(), u"very happy"_qs);
    QCOMPARE(text->selection(), std::pair(qsizetype(27), qsizetype(37)));
}

void TestWorkbench::pagesKeepEveryPlace_data()
{
    QTest::addColumn<QString>("text");
    const QString longWords = QString(u"word "_qs).repeated(1000);
    const QString noSpace = QString(u'x').repeated(4500);
    QString surrogates = QString(u'y').repeated(1999) + u"\U0001F642"_qs + QString(u'z').repeated(10);
    QTest::newRow("empty") << QString();
    QTest::newRow("CR LF, CR and LF") << u"one\r\ntwo\rthree\nfour\r\n\r\nsix"_qs;
    QTest::newRow("a long paragraph of words") << longWords;
    QTest::newRow("a long paragraph without a space") << noSpace;
    QTest::newRow("a character beyond U+FFFF at the cut") << surrogates;
    QTest::newRow("control characters") << u"a\u0001b\tc\u0085d\r"_qs;
    QTest::newRow("paragraph separators and tabs, everywhere in eight") << QString(u"one\u2029two\tthree\u2029\u2029four\rfive\n\t"_qs).repeated(300);
    QString many;
    for (int i = 0; i < 150000; ++i)
        many += u"line %1\r"_qs.arg(i);
    QTest::newRow("pages") << many;
}

// Pages put together are the text (control characters other than tabs as spaces); blocks cover
// it but for the paragraph ends, never longer than a line of the view, never splitting a character.
void TestWorkbench::pagesKeepEveryPlace()
{
    QFETCH(QString, text);
    const std::vector<TextPage> pages = TextLoader::pagesOf(text);
    QVERIFY(!pages.empty());
    QString joined;
    QString covered;
    qint64 expectedStart = 0;
    for (const TextPage &page : pages) {
        QCOMPARE(page.start, expectedStart);
        qint32 last = 0;
        for (const auto &[from, length] : page.blocks) {
            QVERIFY(from >= last);
            QVERIFY(length <= TextLoader::kBlockUnits);
            QVERIFY(from + length <= page.text.size());
            const QStringView between = QStringView(page.text).sliced(last, from - last);
            for (const QChar c : between)
                QVERIFY2(c == u'\r' || c == u'\n' || c == u'\u2029', qPrintable(u"%1 at %2"_qs.arg(c.unicode()).arg(page.start + last)));
            QVERIFY(length == 0 || !page.text.at(from).isLowSurrogate());
            covered += QStringView(page.text).sliced(from, length);
            last = from + length;
        }
        joined += page.text;
        expectedStart += page.text.size();
    }
    QString shown = text;
    for (QChar &c : shown) {
        if ((c.unicode() < 0x20 && c != u'\t' && c != u'\r' && c != u'\n') || (c.unicode() >= 0x7F && c.unicode() <= 0x9F))
            c = u' ';
    }
    QCOMPARE(joined, shown);
    QString withoutEnds = shown;
    withoutEnds.remove(u'\r').remove(u'\n').remove(u'\u2029');
    QCOMPARE(covered, withoutEnds);
    if (text.size() > 1000000)
        QVERIFY(pages.size() > 1);
}

// Ctrl+F: the word list's find field on its tab, the concordance's search field everywhere else.
void TestWorkbench::ctrlFGoesToASearchField()
{
    auto w = openBench();
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w.get()));
    w->showTab(w->tab<PlotTab>());
    QTest::keyClick(w->tab<PlotTab>()->view(), Qt::Key_F, Qt::ControlModifier);
    ConcordanceTab *tab = w->tab<ConcordanceTab>();
    QCOMPARE(w->tabs()->currentWidget(), tab);
    QTRY_VERIFY(tab->searchEdit()->hasFocus());
    QCOMPARE(tab->searchEdit()->accessibleName(), u"Search"_qs);
    // Enter searches.
    QTest::keyClicks(tab->searchEdit(), u"mat"_qs);
    QSignalSpy finished(&w->workbench(), &Workbench::searchFinished);
    QTest::keyClick(tab->searchEdit(), Qt::Key_Return);
    QVERIFY(finished.wait(20000));
    QCOMPARE(w->workbench().hitCount(), 1);
}

QTEST_MAIN(TestWorkbench)
#include "tst_workbench.moc"
