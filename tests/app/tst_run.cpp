// The whole cycle in the real windows: add files, start, see the results, export, go back.
#include "support/scriptedprompter.h"
#include "support/smallfilesystem.h"

#include "app/programwindows.h"
#include "base/designernames.h"
#include "engine/analysisjob.h"
#include "workbench/wordlistmodel.h"
#include "workbench/wordlistpanel.h"
#include "workbench/wordlisttab.h"
#include "workbench/workbenchwindow.h"
#include "results/resultlayouts.h"
#include "windows/analysisrunner.h"
#include "windows/filelistmodel.h"
#include "windows/helpcommands.h"
#include "windows/mainwindow.h"
#include "windows/resultsexports.h"
#include "windows/resultsmodel.h"
#include "windows/resultswindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QDirIterator>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QRadioButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

using namespace corvalen;
using corvalen::testing::SmallFileSystem;
using Icon = Prompter::Icon;

namespace {

const QString kShared = QStringLiteral(CORVALEN_SHARED_DIR);

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The reference counter's clipboard text for the files, or a null string when it is absent.
QString oracle(const QStringList &args, const QStringList &files)
{
    const QString script = kShared + u"/bench/oracle.py"_qs;
    if (!QFile::exists(script))
        return QString();
    QProcess p;
    p.start(u"python3"_qs, QStringList{script} + args + files);
    if (!p.waitForFinished(120000) || p.exitCode() != 0)
        return u"oracle failed: "_qs + QString::fromUtf8(p.readAllStandardError());
    return QString::fromUtf8(p.readAllStandardOutput());
}

} // namespace

class TestRun : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void emptyListChangesNothing();
    void runsMatchTheReferenceCounter_data();
    void runsMatchTheReferenceCounter();
    void unreadableFileIsReportedAndTheRunGoesOn();
    void combinedRunGivesTheWordListTheRange();
    void optionsAreTakenWhenTheRunStarts();
    void backAndRunAgainShowsOnlyTheNewRows();
    void saveResultsWritesTheFileLayout();
    void saveResultsFailureLeavesTheFileAlone();
    void saveResultsOntoAFullDisk_data();
    void saveResultsOntoAFullDisk();
    void clipboardExport();
    void spreadsheetExport();
    void helpAndSamples();
    void wordRulesAreTakenWhenTheRunStarts();

private:
    // Starts a run and waits until the results window shows it.
    bool runToEnd();
    void addFiles(const QStringList &paths);
    // The four reports of a listed file that does not exist.
    void expectMissingFileReports(const QString &missing);
    QString write(const QString &name, const QByteArray &bytes);

    QTemporaryDir m_settingsDir;
    QTemporaryDir m_dir;
    ScriptedPrompter m_prompter;
    std::unique_ptr<ProgramWindows> m_windows;
};

void TestRun::initTestCase()
{
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settingsDir.path());
}

void TestRun::init()
{
    QSettings(u"Quillmark"_qs, u"Corvalen"_qs).clear();
    m_prompter.reset();
    m_windows = std::make_unique<ProgramWindows>(m_prompter, m_dir.path());
    m_windows->mainWindow().show();
}

void TestRun::cleanup()
{
    const QString problems = m_prompter.problems();
    m_windows.reset();
    QVERIFY2(problems.isEmpty(), qPrintable(problems));
}

void TestRun::expectMissingFileReports(const QString &missing)
{
    const QString tag = u"\r\nin Pellago5/20/2014.Word1.ReturnDocumentString at line "_qs;
    const QString tail = u"\r\rPlease email screenshot of this message to support@quillmark.example"_qs;
    m_prompter.expectMessage(u"The file "_qs + missing + u" does not exist."_qs + tag + u"106"_qs + tail,
                             Icon::Warning, u"Application Error"_qs);
    for (const char *line : {"110", "114", "118"})
        m_prompter.expectMessage(u"No document is open."_qs + tag + QLatin1String(line) + tail,
                                 Icon::Warning, u"Application Error"_qs);
}

bool TestRun::runToEnd()
{
    QSignalSpy done(&m_windows->runner(), &AnalysisRunner::runFinished);
    m_windows->mainWindow().commandBarsExecute(1002);
    return done.wait(60000);
}

void TestRun::addFiles(const QStringList &paths)
{
    m_windows->mainWindow().fileList()->append(paths);
}

QString TestRun::write(const QString &name, const QByteArray &bytes)
{
    const QString path = m_dir.filePath(name);
    writeFile(path, bytes);
    return path;
}

void TestRun::emptyListChangesNothing()
{
    m_prompter.expectMessage(u"No files added."_qs);
    m_windows->mainWindow().commandBarsExecute(1002);
    QVERIFY(m_windows->mainWindow().isVisible());
    QVERIFY(!m_windows->mainWindow().resultsWindow()->isVisible());
    QVERIFY(!m_windows->runner().isRunning());
}

void TestRun::runsMatchTheReferenceCounter_data()
{
    QTest::addColumn<bool>("combined");
    QTest::addColumn<bool>("withFileName");
    QTest::addColumn<bool>("ignoreCase");
    QTest::newRow("combined") << true << true << true;
    QTest::newRow("per file with names") << false << true << true;
    QTest::newRow("per file, case kept") << false << false << false;
}

void TestRun::runsMatchTheReferenceCounter()
{
    QFETCH(bool, combined);
    QFETCH(bool, withFileName);
    QFETCH(bool, ignoreCase);
    const QString gen = kShared + u"/bench/make_corpus.py"_qs;
    if (!QFile::exists(gen))
        QSKIP("the corpus generator is not beside the project");
    const QString texts = m_dir.filePath(u"texts"_qs);
    const QString docx = m_dir.filePath(u"docx"_qs);
    if (!QDir(texts).exists()) {
        QCOMPARE(QProcess::execute(u"python3"_qs, {gen, u"--size"_qs, u"0.2"_qs, u"--files"_qs,
                                                   u"3"_qs, u"--out"_qs, texts}), 0);
        QCOMPARE(QProcess::execute(u"python3"_qs, {gen, u"--docx"_qs, u"--size"_qs, u"0.1"_qs,
                                                   u"--files"_qs, u"2"_qs, u"--out"_qs, docx}), 0);
    }
    QStringList files;
    for (const QString &root : {texts, docx}) {
        QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
        QStringList found;
        while (it.hasNext())
            found << it.next();
        found.sort();
        files += found;
    }
    QCOMPARE(files.size(), 5);

    MainWindow &main = m_windows->mainWindow();
    main.findChild<QRadioButton *>(combined ? u"Option2"_qs : u"Option1"_qs)->click();
    main.findChild<QCheckBox *>(u"Check1"_qs)->setChecked(withFileName);
    main.findChild<QCheckBox *>(u"Check3"_qs)->setChecked(ignoreCase);
    addFiles(files);
    QVERIFY(runToEnd());

    QStringList args{combined ? u"--combined"_qs : u"--per-file"_qs};
    if (ignoreCase)
        args << u"--ignore-case"_qs;
    if (withFileName && !combined)
        args << u"--with-filename"_qs;
    const QString expected = oracle(args, files);
    ResultsWindow *results = main.resultsWindow();
    QVERIFY(clipboardText(results->model()->table()) == expected);
    QVERIFY(results->isVisible());
    QVERIFY(!main.isVisible());
    QCOMPARE(main.progressBar()->value(), 0);
    QVERIFY(results->listView()->isEnabled());
    QCOMPARE(results->label()->text(),
             u" Word Count: "_qs + QString::number(results->model()->table().total()));
}

void TestRun::unreadableFileIsReportedAndTheRunGoesOn()
{
    const QString a = write(u"a.txt"_qs, "alpha beta\r\n");
    const QString missing = m_dir.filePath(u"missing.docx"_qs);
    const QString c = write(u"c.txt"_qs, "beta gamma\r\n");
    addFiles({a, missing, c});
    expectMissingFileReports(missing);
    QVERIFY(runToEnd());
    const ResultTable &t = m_windows->mainWindow().resultsWindow()->model()->table();
    QCOMPARE(t.rowCount(), 4); // two blocks of two rows: the missing file adds none
    QCOMPARE(t.total(), 4);
}

// A combined run counts in how many files each word occurs; the word list shows it, the results
// list does not; a file that cannot be read adds none.
void TestRun::combinedRunGivesTheWordListTheRange()
{
    const QString a = write(u"a.txt"_qs, "alpha Beta beta\r\n");
    const QString missing = m_dir.filePath(u"missing.docx"_qs);
    const QString c = write(u"c.txt"_qs, "beta gamma\r\n");
    addFiles({a, missing, c});
    MainWindow &main = m_windows->mainWindow();
    main.findChild<QRadioButton *>(u"Option2"_qs)->click();
    expectMissingFileReports(missing);
    QVERIFY(runToEnd());
    ResultsModel *results = main.resultsWindow()->model();
    QCOMPARE(results->columnCount(), 2);
    QCOMPARE(clipboardText(results->table()), u"alpha\t1\r\ngamma\t1\r\nbeta \t3\r\n"_qs);

    WorkbenchWindow *workbench = m_windows->exploreResults();
    const WordListModel *m = workbench->tab<WordListTab>()->panel()->model();
    QTRY_COMPARE(m->rowCount(), 3);
    QCOMPARE(m->headers(), (QStringList{u" Word"_qs, u"Count"_qs, u"Files"_qs}));
    QStringList rows;
    for (int r = 0; r < m->rowCount(); ++r)
        rows << m->index(r, 0).data().toString() + u'|' + m->index(r, 2).data().toString();
    QCOMPARE(rows, (QStringList{u"beta|2"_qs, u"alpha|1"_qs, u"gamma|1"_qs}));
    main.findChild<QRadioButton *>(u"Option1"_qs)->click();
}

void TestRun::optionsAreTakenWhenTheRunStarts()
{
    QStringList files;
    for (int i = 0; i < 20; ++i)
        files << write(u"f"_qs + QString::number(i) + u".txt"_qs,
                       QByteArray("The the THE\r\n").repeated(20000));
    addFiles(files);
    MainWindow &main = m_windows->mainWindow();
    QSignalSpy done(&m_windows->runner(), &AnalysisRunner::runFinished);
    main.commandBarsExecute(1002);
    QVERIFY(m_windows->runner().isRunning());
    main.commandBarsExecute(1002); // ignored while running: no second set of rows
    main.findChild<QCheckBox *>(u"Check3"_qs)->setChecked(false);
    main.findChild<QCheckBox *>(u"Check1"_qs)->setChecked(false);
    QVERIFY(done.wait(60000));
    QCOMPARE(done.size(), 1);
    const ResultsModel *model = main.resultsWindow()->model();
    // Counted lower-cased with file names, as the options stood at the start.
    QCOMPARE(model->headers(), (QStringList{u"Filename"_qs, u" Word"_qs, u"Count"_qs}));
    QCOMPARE(model->table().rowCount(), 20);
    QCOMPARE(model->table().cell(0, 1), u"the"_qs);
    QCOMPARE(model->table().cell(0, 2), u"60000"_qs);
}

void TestRun::backAndRunAgainShowsOnlyTheNewRows()
{
    addFiles({write(u"a.txt"_qs, "one two two\r\n")});
    QVERIFY(runToEnd());
    ResultsWindow *results = m_windows->mainWindow().resultsWindow();
    QCOMPARE(results->model()->table().rowCount(), 2);
    results->commandBarsExecute(1004);
    QVERIFY(m_windows->mainWindow().isVisible());
    QCOMPARE(results->model()->rowCount(), 0);
    QCOMPARE(m_windows->mainWindow().fileList()->paths().size(), 1);
    QVERIFY(runToEnd());
    QCOMPARE(results->model()->table().rowCount(), 2);
    QCOMPARE(results->label()->text(), u" Word Count: 3"_qs);
}

void TestRun::saveResultsWritesTheFileLayout()
{
    MainWindow &main = m_windows->mainWindow();
    main.findChild<QRadioButton *>(u"Option2"_qs)->click();
    addFiles({write(u"a.txt"_qs, "apple apple fig apple apple apple apple apple apple apple "
                                 "apple apple apple\r\n")});
    QVERIFY(runToEnd());
    ResultsWindow *results = main.resultsWindow();
    const QString out = m_dir.filePath(u"results"_qs); // no extension: kept as chosen
    const QStringList filters{u"Text Files (*.txt)"_qs, u"All Files (*)"_qs};
    m_prompter.expectSaveFile(u"Save"_qs, filters, out);
    m_prompter.expectMessage(u"Done."_qs);
    results->commandBarsExecute(1000);
    const QByteArray expected = " Word\tCount\t\r\nfig  \t1    \t\r\napple\t12   \t\r\n\r\n";
    QCOMPARE(readFile(out), expected);

    // An existing file: No leaves it, Yes replaces it.
    writeFile(out, "keep");
    m_prompter.expectSaveFile(u"Save"_qs, filters, out);
    m_prompter.expectYesNo(u"Are you sure you wish to overwrite "_qs + out + u" ?"_qs, false);
    results->commandBarsExecute(1000);
    QCOMPARE(readFile(out), QByteArray("keep"));
    m_prompter.expectSaveFile(u"Save"_qs, filters, out);
    m_prompter.expectYesNo(u"Are you sure you wish to overwrite "_qs + out + u" ?"_qs, true);
    m_prompter.expectMessage(u"Done."_qs);
    results->commandBarsExecute(1000);
    QCOMPARE(readFile(out), expected);

    // Cancelling the dialog does nothing.
    m_prompter.expectSaveFile(u"Save"_qs, filters, QString());
    results->commandBarsExecute(1000);
}

void TestRun::saveResultsFailureLeavesTheFileAlone()
{
    addFiles({write(u"a.txt"_qs, "word\r\n")});
    QVERIFY(runToEnd());
    const QString out = m_dir.filePath(u"no such folder/results.txt"_qs);
    m_prompter.expectSaveFile(u"Save"_qs, {u"Text Files (*.txt)"_qs, u"All Files (*)"_qs}, out);
    m_prompter.expectMessage(QString(), Icon::Warning); // the text names the file; checked below
    m_windows->mainWindow().resultsWindow()->commandBarsExecute(1000);
    const auto &calls = m_prompter.calls();
    QVERIFY(calls.last().text.contains(QDir::toNativeSeparators(out))
            || calls.last().text.contains(out));
    QVERIFY(!QFile::exists(out));
}

void TestRun::saveResultsOntoAFullDisk_data()
{
    QTest::addColumn<bool>("device"); // /dev/full, else a full small file system
    QTest::newRow("/dev/full") << true;
    QTest::newRow("full file system") << false;
}

// No "Done." unless the file is complete: the warning names the file and the system's reason,
// and the file already there keeps its bytes.
void TestRun::saveResultsOntoAFullDisk()
{
    QFETCH(bool, device);
    std::unique_ptr<SmallFileSystem> fs;
    QString out = u"/dev/full"_qs;
    if (!device) {
        fs = std::make_unique<SmallFileSystem>(64 * 1024);
        if (!fs->isMounted())
            QSKIP(qPrintable(fs->error()));
        out = fs->filePath(u"target.txt"_qs);
        writeFile(out, "the user's data");
        QVERIFY(fs->fill());
    }
    addFiles({write(u"a.txt"_qs, "apple fig apple\r\n")});
    QVERIFY(runToEnd());
    m_prompter.expectSaveFile(u"Save"_qs, {u"Text Files (*.txt)"_qs, u"All Files (*)"_qs}, out);
    m_prompter.expectYesNo(u"Are you sure you wish to overwrite "_qs + out + u" ?"_qs, true);
    m_prompter.expectMessage(u"Could not write \""_qs + out + u"\": No space left on device."_qs, Icon::Warning);
    m_windows->mainWindow().resultsWindow()->commandBarsExecute(1000);
    if (!device) {
        QCOMPARE(readFile(out), QByteArray("the user's data"));
        QCOMPARE(QDir(QFileInfo(out).path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList({u"filler"_qs, u"target.txt"_qs}));
    }
}

void TestRun::clipboardExport()
{
    const QString message = u"Results have been copied to the clipboard.\r\rClick a text area where "
                            "you normally type and press Ctrl+V to paste the clipboard."_qs;
    QGuiApplication::clipboard()->setText(u"before"_qs);
    m_windows->mainWindow().findChild<QRadioButton *>(u"Option2"_qs)->click();
    ResultsWindow *results = m_windows->mainWindow().resultsWindow();
    // An empty list leaves the clipboard alone but still says so.
    m_prompter.expectMessage(message);
    results->commandBarsExecute(1002);
    QCOMPARE(QGuiApplication::clipboard()->text(), u"before"_qs);

    addFiles({write(u"a.txt"_qs, "apple fig apple\r\n")});
    QVERIFY(runToEnd());
    m_prompter.expectMessage(message);
    results->commandBarsExecute(1002);
    QCOMPARE(QGuiApplication::clipboard()->text(), u"fig  \t1\r\napple\t2\r\n"_qs);
    // The results window's messages and dialogs stand over it (the main window is hidden).
    QCOMPARE(m_prompter.calls().last().window, results);
}

void TestRun::spreadsheetExport()
{
    ResultsWindow *results = m_windows->mainWindow().resultsWindow();
    results->commandBarsExecute(1001); // empty list: nothing at all
    addFiles({write(u"a.txt"_qs, "007 a=b 007\r\n")});
    QVERIFY(runToEnd());
    // No spreadsheet program here: the message says where the workbook is.
    m_prompter.expectOpenUrl(QUrl(), false);
    m_prompter.expectMessage(QString(), Icon::Information);
    results->commandBarsExecute(1001);
    const QString book = m_windows->exports().lastWorkbook();
    QVERIFY(book.endsWith(u"/Corvalen Results.xlsx"_qs));
    QVERIFY(QFile::exists(book));
    QVERIFY(m_prompter.calls().last().text.contains(QDir::toNativeSeparators(book)));
    QCOMPARE(m_prompter.calls().at(m_prompter.calls().size() - 2).text,
             QUrl::fromLocalFile(book).toString());
    // Each export is a workbook of its own.
    m_prompter.expectOpenUrl(QUrl(), true);
    results->commandBarsExecute(1001);
    QVERIFY(m_windows->exports().lastWorkbook() != book);
    QDir(QFileInfo(book).path()).removeRecursively();
    QDir(QFileInfo(m_windows->exports().lastWorkbook()).path()).removeRecursively();
}

void TestRun::helpAndSamples()
{
    HelpCommands &help = m_windows->helpCommands();
    m_prompter.expectMessage(u"Please support@quillmark.example if you have any questions."_qs);
    help.help();

    const QString samples = m_dir.filePath(u"Samples"_qs);
    QDir().mkpath(samples + u"/sub"_qs);
    writeFile(samples + u"/b.txt"_qs, "b");
    writeFile(samples + u"/A.docx"_qs, "a");
    writeFile(samples + u"/.hidden"_qs, "h");
    const QString question = u"Would you like this software to open the folder where these sample "
                             "files are stored (so that you can view them before working with "
                             "them)?"_qs;
    m_prompter.expectYesNo(question, false);
    help.loadSamples();
    m_prompter.expectYesNo(question, true);
    m_prompter.expectOpenUrl(QUrl::fromLocalFile(samples + u'/'), true);
    help.loadSamples();
    const QStringList once{samples + u"/.hidden"_qs, samples + u"/A.docx"_qs, samples + u"/b.txt"_qs};
    QCOMPARE(m_windows->mainWindow().fileList()->paths(), once + once);

    m_prompter.expectOpenUrl(QUrl::fromLocalFile(m_dir.filePath(u"Video/"_qs)), true);
    help.watchDemoVideo();
    QDir().mkpath(m_dir.filePath(u"Video"_qs));
    writeFile(m_dir.filePath(u"Video/demo.webm"_qs), "v");
    m_prompter.expectOpenUrl(QUrl::fromLocalFile(m_dir.filePath(u"Video/demo.webm"_qs)), true);
    help.watchDemoVideo();
    m_prompter.expectOpenUrl(QUrl::fromLocalFile(m_dir.filePath(u"FAQ.html"_qs)), true);
    help.openFaq();
    m_prompter.expectOpenUrl(QUrl(u"https://www.quillmark.example/"_qs), true);
    help.openMainPage();

    // The samples that ship with the program are read without a report.
    const QString shipped = QStringLiteral(CORVALEN_BIN_DIR "/Samples");
    if (QDir(shipped).exists()) {
        m_windows->mainWindow().fileList()->clear();
        for (const QString &name : QDir(shipped).entryList(QDir::Files))
            addFiles({shipped + u'/' + name});
        QVERIFY(runToEnd());
        QVERIFY(m_windows->mainWindow().resultsWindow()->model()->table().total() > 100);
    }
}

void TestRun::wordRulesAreTakenWhenTheRunStarts()
{
    // The rules stored by the dialog count; a list that cannot be read stops the run before it
    // starts, naming the list.
    addFiles({write(u"a.txt"_qs, "The \xe2\x80\x9crunning\xe2\x80\x9d man runs and runs\r\n")});
    QSettings settings(u"Quillmark"_qs, u"Corvalen"_qs);
    const QString missing = m_dir.filePath(u"no list.txt"_qs);
    settings.setValue(u"List1"_qs, QStringList{u"en"_qs, missing});
    settings.setValue(u"Combo1"_qs, u"english"_qs);
    settings.setValue(u"Check5"_qs, u"1"_qs);
    settings.sync();
    m_prompter.expectMessage(QString(), Icon::Warning);
    m_windows->mainWindow().commandBarsExecute(1002);
    QVERIFY(!m_windows->runner().isRunning());
    QVERIFY(m_prompter.calls().last().text.contains(QDir::toNativeSeparators(missing)));
    QVERIFY(!m_windows->mainWindow().resultsWindow()->isVisible());

    settings.setValue(u"List1"_qs, QStringList{u"en"_qs});
    settings.sync();
    QVERIFY(runToEnd());
    const ResultTable &table = m_windows->mainWindow().resultsWindow()->model()->table();
    QCOMPARE(table.rowCount(), 2);
    QCOMPARE(table.word(1), u"runs"_qs);
    QCOMPARE(table.count(1), 3);
    QCOMPARE(table.forms(1)->size(), size_t(2));
    QVERIFY(m_windows->runner().lastOptions().rules.stemLanguage == u"english");
}

QTEST_MAIN(TestRun)
#include "tst_run.moc"
