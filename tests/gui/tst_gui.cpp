#include "base/designernames.h"
#include "base/errorreport.h"
#include "base/plurals.h"
#include "engine/lemmas.h"
#include "filelist/scanqueue.h"
#include "filelist/settingsstore.h"
#include "support/scriptedprompter.h"
#include "windows/filelistmodel.h"
#include "windows/mainwindow.h"
#include "windows/qtprompter.h"
#include "windows/resultsexports.h"
#include "windows/resultsmodel.h"
#include "windows/resultswindow.h"
#include "windows/wordrulesdialog.h"

#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QUrl>

#include <fcntl.h>
#include <sys/stat.h>

using namespace corvalen;

Q_DECLARE_METATYPE(corvalen::WordRules)

namespace {

const QString addFilesTitle = QStringLiteral("Add File(s) - Hold Ctrl to select multiple files");
const QStringList addFilesFilters = {QStringLiteral("Word Documents (*.do*)"),
                                     QStringLiteral("All Files (*)"),
                                     QStringLiteral("Text Files (*.txt)")};
const QString extensionPrompt =
        QStringLiteral("Enter file extension to load:\r\r(* for all files, txt for all txt files, "
                       "doc for all doc files, etc.)");
const QString folderTitle = QStringLiteral("Please select folder:");

using Settings = QList<QPair<QString, QString>>;

QSettings store()
{
    return QSettings(QStringLiteral("Quillmark"), QStringLiteral("Corvalen"));
}

void writeStore(const Settings &values)
{
    QSettings s = store();
    s.clear();
    for (const auto &[key, value] : values)
        s.setValue(key, value);
    s.sync();
}

QString stored(QLatin1StringView key)
{
    return store().value(key).toString();
}

// Every state of a settings file as written, one map a write.
QList<QSettings::SettingsMap> recordedWrites;

bool readRecorded(QIODevice &device, QSettings::SettingsMap &map)
{
    const QList<QByteArray> lines = device.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (const qsizetype eq = line.indexOf('='); eq > 0)
            map.insert(QString::fromUtf8(line.left(eq)), QString::fromUtf8(line.mid(eq + 1)));
    }
    return true;
}

bool writeRecorded(QIODevice &device, const QSettings::SettingsMap &map)
{
    recordedWrites.append(map);
    for (auto it = map.cbegin(); it != map.cend(); ++it)
        device.write(it.key().toUtf8() + '=' + it.value().toString().toUtf8() + '\n');
    return true;
}

template<typename T>
T *child(QWidget *window, QLatin1StringView name)
{
    return window->findChild<T *>(QString(name));
}

QStringList headers(QAbstractItemModel *model)
{
    QStringList list;
    for (int c = 0; c < model->columnCount(); ++c)
        list << model->headerData(c, Qt::Horizontal).toString();
    return list;
}

QList<int> columnWidths(QTreeView *view)
{
    QList<int> widths;
    for (int c = 0; c < view->model()->columnCount(); ++c)
        widths << view->columnWidth(c);
    return widths;
}

void touch(const QString &path)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
}

std::vector<WordCount> someRows()
{
    return {{QStringLiteral("b"), 1}, {QStringLiteral("a"), 2}};
}

} // namespace

class TestGui : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void designerNamesResolveOnce();
    void startUp_data();
    void startUp();
    void startUpRunsInstalledCheckLast();
    void settingsParsing_data();
    void settingsParsing();
    void countOptionsStorageAndColumns();
    void countModesAreWrittenTogether();
    void errorReportLinesStayWhole();
    void tabPersistence();
    void mainToolbarAndDispatch();
    void menusDispatch();
    void toolbarsNameEveryButton_data();
    void toolbarsNameEveryButton();
    void removals();
    void removalsOnEmptyList();
    void addFiles_data();
    void addFiles();
    void addFolder_data();
    void addFolder();
    void dropFilesAndFolders_data();
    void dropFilesAndFolders();
    void dragOfTextIsRefused();
    void resizeRules_data();
    void resizeRules();
    void resizeKeepsColumnRuleAfterManualWidening();
    void resultsWindowLayoutAndToolbar();
    void resultsBack();
    void resultsModelAppendsInBulk();
    void exitEndsProgram_data();
    void exitEndsProgram();
    void skin();
    void optionsFrameTakesTheWindowColour_data();
    void optionsFrameTakesTheWindowColour();
    void optionsFrameLineStaysWhole_data();
    void optionsFrameLineStaysWhole();
    void wordRulesDialogStoresAtOnce();
    void englishPlurals_data();
    void englishPlurals();
    void wordRulesUnitsAgreeWithTheNumber_data();
    void wordRulesUnitsAgreeWithTheNumber();
    void wordRulesFromTheStore_data();
    void wordRulesFromTheStore();
    void stopWordListFromAFile();
    void wordFormsByStemOrLemma();
    void lemmaListFromAFile();
    void lemmasFromTheStore();
    void groupTooltipNamesTheForms();
    void oldExportFoldersRemoved();

private:
    std::unique_ptr<MainWindow> makeWindow(MainWindow::Hooks hooks = {});

    QTemporaryDir m_settingsDir;
    QTemporaryDir m_noSkin;
    ScriptedPrompter m_prompter;
};

void TestGui::initTestCase()
{
    installEnglishPlurals(); // as the program does
    QVERIFY(m_settingsDir.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settingsDir.path());
}

void TestGui::init()
{
    writeStore({});
    m_prompter.reset();
}

void TestGui::cleanup()
{
    QVERIFY2(m_prompter.isSatisfied(), qPrintable(m_prompter.problems()));
}

std::unique_ptr<MainWindow> TestGui::makeWindow(MainWindow::Hooks hooks)
{
    return std::make_unique<MainWindow>(m_prompter, std::move(hooks), m_noSkin.path());
}

void TestGui::designerNamesResolveOnce()
{
    auto w = makeWindow();
    QCOMPARE(w->objectName(), QString(designer::Form1));
    const auto once = [](QWidget *window, QLatin1StringView name, const char *type) {
        const QList<QObject *> found = window->findChildren<QObject *>(QString(name));
        if (found.size() != 1)
            return QStringLiteral("%1: %2 objects").arg(name).arg(found.size());
        if (!found.constFirst()->inherits(type))
            return QStringLiteral("%1: a %2, not a %3")
                    .arg(name, QString::fromLatin1(found.constFirst()->metaObject()->className()),
                         QString::fromLatin1(type));
        return QString();
    };
    // The persisted ones first: their names are the settings keys.
    const QList<QPair<QLatin1StringView, const char *>> mainNames = {
        {designer::Option1, "QRadioButton"}, {designer::Option2, "QRadioButton"},
        {designer::Check1, "QCheckBox"},     {designer::Check3, "QCheckBox"},
        {designer::TabControl1, "QTabWidget"}, {designer::ListView1, "QTreeView"},
        {designer::Frame1, "QGroupBox"},     {designer::ProgressBar1, "QProgressBar"},
        {designer::CommandBars, "QWidget"},  {designer::Standard, "QToolBar"},
        {designer::MenuBar, "QMenuBar"},     {designer::m1, "QMenu"},
        {designer::m9, "QMenu"},             {designer::m16, "QMenu"},
        {designer::m2, "QAction"},           {designer::m3, "QAction"},
        {designer::m4, "QAction"},           {designer::m5, "QAction"},
        {designer::m6, "QAction"},           {designer::m7, "QAction"},
        {designer::m8, "QAction"},           {designer::m10, "QAction"},
        {designer::m11, "QAction"},          {designer::m12, "QAction"},
        {designer::m13, "QAction"},          {designer::m17, "QAction"},
        {designer::m18, "QAction"},          {designer::m19, "QAction"},
        {designer::m20, "QAction"},          {designer::m21, "QAction"},
        {designer::m22, "QAction"},
    };
    for (const auto &[name, type] : mainNames) {
        const QString problem = once(w.get(), name, type);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
    }
    ResultsWindow *results = w->resultsWindow();
    QVERIFY(results);
    QCOMPARE(results->objectName(), QString(designer::Form2));
    const QList<QPair<QLatin1StringView, const char *>> resultNames = {
        {designer::ListView1, "QTreeView"}, {designer::Label1, "QLabel"},
        {designer::CommandBars, "QWidget"}, {designer::Standard, "QToolBar"}};
    for (const auto &[name, type] : resultNames) {
        const QString problem = once(results, name, type);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
    }
    QVERIFY(!results->findChild<QMenuBar *>());
}

void TestGui::startUp_data()
{
    QTest::addColumn<Settings>("settings");
    QTest::addColumn<bool>("perFile");
    QTest::addColumn<bool>("check1");
    QTest::addColumn<bool>("check3");
    QTest::addColumn<int>("tab");
    QTest::addColumn<QStringList>("columns");

    const QStringList three = {QStringLiteral("Filename"), QStringLiteral(" Word"),
                               QStringLiteral("Count")};
    const QStringList two = {QStringLiteral(" Word"), QStringLiteral("Count")};
    const auto s = [](const char *k, const char *v) {
        return QPair<QString, QString>(QString::fromLatin1(k), QString::fromLatin1(v));
    };

    QTest::newRow("empty store") << Settings{} << true << true << true << 0 << three;
    QTest::newRow("check1 0, per-file")
            << Settings{s("Check1", "0"), s("Option1", "True"), s("Option2", "False")} << true
            << false << true << 0 << two;
    QTest::newRow("combined") << Settings{s("Option1", "False"), s("Option2", "True")} << false
                              << true << true << 0 << two;
    QTest::newRow("combined, any case, check3 0")
            << Settings{s("Option1", "fALSE"), s("Option2", "true"), s("Check3", "0")} << false
            << true << false << 0 << two;
    QTest::newRow("numeric truth values")
            << Settings{s("Option1", "0"), s("Option2", "-1")} << false << true << true << 0
            << two;
    QTest::newRow("both selected falls back")
            << Settings{s("Option1", "True"), s("Option2", "True"), s("Check1", "0")} << true
            << false << true << 0 << two;
    QTest::newRow("neither selected falls back")
            << Settings{s("Option1", "False"), s("Option2", "False")} << true << true << true << 0
            << three;
    QTest::newRow("unreadable values fall back")
            << Settings{s("Option1", "yes"), s("Option2", "maybe"), s("Check1", "x"),
                        s("Check3", "2"), s("TabControl1", "many")}
            << true << true << true << 0 << three;
    QTest::newRow("options tab") << Settings{s("TabControl1", "1")} << true << true << true << 1
                                 << three;
    QTest::newRow("tab out of range") << Settings{s("TabControl1", "7")} << true << true << true
                                      << 0 << three;
}

void TestGui::startUp()
{
    QFETCH(Settings, settings);
    QFETCH(bool, perFile);
    QFETCH(bool, check1);
    QFETCH(bool, check3);
    QFETCH(int, tab);
    QFETCH(QStringList, columns);
    writeStore(settings);

    auto w = makeWindow();
    QCOMPARE(w->windowTitle(), QStringLiteral("Corvalen"));
    QCOMPARE(child<QRadioButton>(w.get(), designer::Option1)->isChecked(), perFile);
    QCOMPARE(child<QRadioButton>(w.get(), designer::Option2)->isChecked(), !perFile);
    QCOMPARE(child<QCheckBox>(w.get(), designer::Check1)->isChecked(), check1);
    QCOMPARE(child<QCheckBox>(w.get(), designer::Check1)->isEnabled(), perFile);
    QCOMPARE(child<QCheckBox>(w.get(), designer::Check3)->isChecked(), check3);
    QCOMPARE(child<QTabWidget>(w.get(), designer::TabControl1)->currentIndex(), tab);
    QCOMPARE(headers(w->resultsWindow()->model()), columns);
    QVERIFY(w->resultsWindow()->isHidden());

    // The file list's one column.
    QCOMPARE(headers(w->fileList()), QStringList{QStringLiteral(" Word Files")});
    QCOMPARE(w->listView()->columnWidth(0), 398);
    QCOMPARE(w->fileList()->rowCount(), 0);

    // Applying the mode writes the pair; the check boxes are not written back at start-up.
    QCOMPARE(stored(designer::Option1), perFile ? QStringLiteral("True") : QStringLiteral("False"));
    QCOMPARE(stored(designer::Option2), perFile ? QStringLiteral("False") : QStringLiteral("True"));
    const CountOptions o = w->countOptions();
    QCOMPARE(o.mode == CountMode::PerFile, perFile);
    QCOMPARE(o.withFileName, check1);
    QCOMPARE(o.ignoreCase, check3);
}

void TestGui::startUpRunsInstalledCheckLast()
{
    writeStore({{QStringLiteral("TabControl1"), QStringLiteral("1")}});
    int calls = 0;
    MainWindow *window = nullptr;
    bool toolbarBuilt = false;
    int tabAtCheck = -1;
    MainWindow::Hooks hooks;
    hooks.checkWordInstalled = [&] {
        ++calls;
        // Called from the constructor: look the controls up through the widget tree.
        const QWidgetList tops = QApplication::allWidgets();
        for (QWidget *wd : tops) {
            if (wd->objectName() == QString(designer::Standard)
                && wd->window()->objectName() == QString(designer::Form1))
                toolbarBuilt = true;
            if (wd->objectName() == QString(designer::TabControl1))
                tabAtCheck = static_cast<QTabWidget *>(wd)->currentIndex();
        }
        m_prompter.message(QStringLiteral("checked"), Prompter::applicationTitle(),
                           Prompter::Icon::None);
    };
    m_prompter.expectMessage(QStringLiteral("checked"));
    auto w = makeWindow(hooks);
    window = w.get();
    QVERIFY(window);
    QCOMPARE(calls, 1);
    QVERIFY(toolbarBuilt);
    QCOMPARE(tabAtCheck, 1);
}

void TestGui::settingsParsing_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("truth"); // -1 unreadable
    QTest::addColumn<int>("check"); // -1 unreadable

    QTest::newRow("True") << "True" << 1 << -1;
    QTest::newRow("false lower") << "false" << 0 << -1;
    QTest::newRow("TRUE upper") << "TRUE" << 1 << -1;
    QTest::newRow("zero") << "0" << 0 << 0;
    QTest::newRow("one") << "1" << 1 << 1;
    QTest::newRow("minus one") << "-1" << 1 << -1;
    QTest::newRow("two") << "2" << 1 << -1;
    QTest::newRow("empty") << "" << -1 << -1;
    QTest::newRow("word") << "yes" << -1 << -1;
}

void TestGui::settingsParsing()
{
    QFETCH(QString, text);
    QFETCH(int, truth);
    QFETCH(int, check);
    const std::optional<bool> t = SettingsStore::parseTruth(text);
    QCOMPARE(t.has_value() ? int(*t) : -1, truth);
    QCOMPARE(SettingsStore::parseCheckState(text).value_or(-1), check);
}

// A reader of the settings file (or a crash between two writes) never finds a pair that selects
// neither mode or both.
void TestGui::countModesAreWrittenTogether()
{
    static const QSettings::Format recorded = QSettings::registerFormat(u"recorded"_qs, readRecorded, writeRecorded);
    QTemporaryDir folder;
    const QString path = folder.filePath(u"Corvalen.recorded"_qs);
    recordedWrites.clear();
    {
        SettingsStore settings(std::make_unique<QSettings>(path, recorded));
        settings.writeModes(true, false);
        settings.writeModes(false, true);
        settings.writeModes(true, false);
    }
    QCOMPARE(recordedWrites.size(), 3);
    for (const QSettings::SettingsMap &state : std::as_const(recordedWrites))
        QVERIFY(state.value(designer::Option1).toString() != state.value(designer::Option2).toString());
    const StoredCountOptions back = SettingsStore(std::make_unique<QSettings>(path, recorded)).readCountOptions();
    QVERIFY(back.option1 && !back.option2);
}

// The "Application Error" box shows each line of its message on one line: the support address
// is not broken off its sentence.
void TestGui::errorReportLinesStayWhole()
{
    QtPrompter prompter;
    const QString description = u"Cannot open /home/someone/Documents/Reports/Quarterly/2026/Minutes of the May meeting.docx"_qs;
    QVERIFY(description.size() > 80 && description.size() <= 100);
    QStringList seen;
    bool checked = false;
    QTimer::singleShot(0, this, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        QVERIFY(box);
        auto *label = box->findChild<QLabel *>(u"qt_msgbox_label"_qs);
        QVERIFY(label);
        seen = box->text().split(u'\n');
        for (const QString &line : std::as_const(seen))
            QVERIFY2(label->contentsRect().width() >= label->fontMetrics().horizontalAdvance(line), qPrintable(line));
        checked = true;
        box->accept();
    });
    prompter.message(errorReportText(description, QString::fromUtf16(kStartTag), 106), u"Application Error"_qs,
                     Prompter::Icon::Warning);
    QVERIFY(checked);
    QCOMPARE(seen.size(), 4);
    QVERIFY(seen.last().endsWith(QString::fromUtf16(kSupportAddress)));
}

void TestGui::countOptionsStorageAndColumns()
{
    auto w = makeWindow();
    w->show();
    auto *option1 = child<QRadioButton>(w.get(), designer::Option1);
    auto *option2 = child<QRadioButton>(w.get(), designer::Option2);
    auto *check1 = child<QCheckBox>(w.get(), designer::Check1);
    auto *check3 = child<QCheckBox>(w.get(), designer::Check3);
    ResultsModel *results = w->resultsWindow()->model();
    QTreeView *resultsView = w->resultsWindow()->listView();
    QCOMPARE(columnWidths(resultsView), (QList<int>{333, 133, 67}));

    results->appendRows(someRows(), QStringLiteral("a.txt"));
    option2->click();
    QCOMPARE(stored(designer::Option1), QStringLiteral("False"));
    QCOMPARE(stored(designer::Option2), QStringLiteral("True"));
    QVERIFY(!check1->isEnabled());
    QVERIFY(check1->isChecked());
    QCOMPARE(headers(results), (QStringList{QStringLiteral(" Word"), QStringLiteral("Count")}));
    QCOMPARE(columnWidths(resultsView), (QList<int>{400, 67}));
    QCOMPARE(results->rowCount(), 0); // a mode change empties the results

    // Check3 is stored but leaves the results alone.
    results->appendRows(someRows());
    check3->click();
    QCOMPARE(stored(designer::Check3), QStringLiteral("0"));
    QCOMPARE(results->rowCount(), 2);
    check3->click();
    QCOMPARE(stored(designer::Check3), QStringLiteral("1"));

    option1->click();
    QCOMPARE(stored(designer::Option1), QStringLiteral("True"));
    QCOMPARE(stored(designer::Option2), QStringLiteral("False"));
    QVERIFY(check1->isEnabled());
    QCOMPARE(headers(results), (QStringList{QStringLiteral("Filename"), QStringLiteral(" Word"),
                                            QStringLiteral("Count")}));

    results->appendRows(someRows(), QStringLiteral("a.txt"));
    check1->click();
    QCOMPARE(stored(designer::Check1), QStringLiteral("0"));
    QCOMPARE(headers(results), (QStringList{QStringLiteral(" Word"), QStringLiteral("Count")}));
    QCOMPARE(columnWidths(resultsView), (QList<int>{400, 67}));
    QCOMPARE(results->rowCount(), 0);
    check1->click();
    QCOMPARE(stored(designer::Check1), QStringLiteral("1"));
    QCOMPARE(columnWidths(resultsView), (QList<int>{333, 133, 67}));

    // What is stored is what the next start restores.
    option2->click();
    check3->click();
    w.reset();
    auto again = makeWindow();
    QVERIFY(child<QRadioButton>(again.get(), designer::Option2)->isChecked());
    QVERIFY(!child<QCheckBox>(again.get(), designer::Check3)->isChecked());
    QVERIFY(child<QCheckBox>(again.get(), designer::Check1)->isChecked());
}

void TestGui::tabPersistence()
{
    {
        auto w = makeWindow();
        w->show();
        auto *tabs = child<QTabWidget>(w.get(), designer::TabControl1);
        QCOMPARE(tabs->currentIndex(), 0);
        QTest::mouseClick(tabs->tabBar(), Qt::LeftButton, {},
                          tabs->tabBar()->tabRect(1).center());
        QCOMPARE(tabs->currentIndex(), 1);
        QCOMPARE(stored(designer::TabControl1), QStringLiteral("1"));
        child<QAction>(w.get(), designer::m10)->trigger();
        QCOMPARE(tabs->currentIndex(), 0);
        QCOMPARE(stored(designer::TabControl1), QStringLiteral("0"));
        child<QAction>(w.get(), designer::m11)->trigger();
        QCOMPARE(stored(designer::TabControl1), QStringLiteral("1"));
        QCOMPARE(tabs->tabText(0), QStringLiteral("Files"));
        QCOMPARE(tabs->tabText(1), QStringLiteral("Options"));
    }
    auto w = makeWindow();
    QCOMPARE(child<QTabWidget>(w.get(), designer::TabControl1)->currentIndex(), 1);
}

void TestGui::mainToolbarAndDispatch()
{
    int starts = 0;
    MainWindow::Hooks hooks;
    hooks.start = [&] { ++starts; };
    auto w = makeWindow(hooks);
    w->show();
    QToolBar *bar = w->toolBar();
    QVERIFY(bar);
    QCOMPARE(bar->objectName(), QStringLiteral("Standard"));
    QCOMPARE(bar->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
    QCOMPARE(bar->iconSize(), QSize(48, 48));
    QCOMPARE(child<QWidget>(w.get(), designer::CommandBars)->font().family(),
             QStringLiteral("Calibri"));
    QCOMPARE(child<QWidget>(w.get(), designer::CommandBars)->font().pointSize(), 11);
    QCOMPARE(bar->width(), w->width());

    const QList<QAction *> actions = bar->actions();
    QStringList captions;
    QList<int> ids;
    for (QAction *a : actions) {
        captions << a->text();
        ids << a->property("commandId").toInt();
        QCOMPARE(bar->widgetForAction(a)->width(), 100);
        QVERIFY(!a->icon().pixmap(48, 48).isNull());
    }
    QCOMPARE(captions, (QStringList{QStringLiteral("Add Files"), QStringLiteral("Add Folder"),
                                    QStringLiteral("Clear List"),
                                    QStringLiteral("Start Analyzing")}));
    QCOMPARE(ids, (QList<int>{1000, 1001, 1003, 1002}));

    // "Start Analyzing" (1002) starts; it does not clear though it stands after "Clear List".
    w->fileList()->append(QStringLiteral("/a.doc"));
    QTest::mouseClick(bar->widgetForAction(actions.at(3)), Qt::LeftButton);
    QCOMPARE(starts, 1);
    QCOMPARE(w->fileList()->rowCount(), 1);
    w->commandBarsExecute(4711);
    w->commandBarsExecute(1004);
    QCOMPARE(starts, 1);
    QCOMPARE(w->fileList()->rowCount(), 1);
    QTest::mouseClick(bar->widgetForAction(actions.at(2)), Qt::LeftButton);
    QCOMPARE(w->fileList()->rowCount(), 0);

    m_prompter.expectOpenFiles(addFilesTitle, addFilesFilters, {});
    w->commandBarsExecute(1000);
    m_prompter.expectInput(extensionPrompt, QStringLiteral("doc"), std::nullopt);
    w->commandBarsExecute(1001);
}

void TestGui::menusDispatch()
{
    QStringList called;
    MainWindow::Hooks hooks;
    hooks.help = [&] { called << QStringLiteral("help"); };
    hooks.loadSamples = [&] { called << QStringLiteral("samples"); };
    hooks.watchDemoVideo = [&] { called << QStringLiteral("video"); };
    hooks.openFaq = [&] { called << QStringLiteral("faq"); };
    hooks.openMainPage = [&] { called << QStringLiteral("main page"); };
    auto w = makeWindow(hooks);

    const auto menuTexts = [&](QLatin1StringView menu) {
        QStringList texts;
        for (QAction *a : child<QMenu>(w.get(), menu)->actions())
            texts << (a->isSeparator() ? QStringLiteral("-") : a->text());
        return texts;
    };
    QCOMPARE(child<QMenu>(w.get(), designer::m1)->title(), QStringLiteral("&File"));
    QCOMPARE(menuTexts(designer::m1),
             (QStringList{QStringLiteral("A&dd Files"), QStringLiteral("Add &Folder"),
                          QStringLiteral("-"), QStringLiteral("Clear Selected Files"),
                          QStringLiteral("Clear All Files"), QStringLiteral("-"),
                          QStringLiteral("&Exit")}));
    QCOMPARE(child<QMenu>(w.get(), designer::m9)->title(), QStringLiteral("&Options"));
    QCOMPARE(menuTexts(designer::m9),
             (QStringList{QStringLiteral("Show Files Tab"), QStringLiteral("Show Options Tab"),
                          QStringLiteral("-"), QStringLiteral("Word &Rules...")}));
    QCOMPARE(child<QMenu>(w.get(), designer::m16)->title(), QStringLiteral("&Help"));
    QCOMPARE(menuTexts(designer::m16),
             (QStringList{QStringLiteral("Help"), QStringLiteral("Load Sample/Example File"),
                          QStringLiteral("Watch Old Demo Video"), QStringLiteral("-"),
                          QStringLiteral("FAQ"), QStringLiteral("Visit Quillmark Main Page")}));

    // Separators are plain lines: a caption would be drawn beside the line.
    for (QLatin1StringView separator : {designer::m4, designer::m7, designer::m12, designer::m20}) {
        QAction *line = child<QAction>(w.get(), separator);
        QVERIFY(line->isSeparator());
        QVERIFY2(line->text().isEmpty(), qPrintable(line->text()));
    }

    for (QLatin1StringView item : {designer::m17, designer::m18, designer::m19, designer::m21,
                                   designer::m22})
        child<QAction>(w.get(), item)->trigger();
    QCOMPARE(called, (QStringList{QStringLiteral("help"), QStringLiteral("samples"),
                                  QStringLiteral("video"), QStringLiteral("faq"),
                                  QStringLiteral("main page")}));

    m_prompter.expectOpenFiles(addFilesTitle, addFilesFilters, {QStringLiteral("/x/y.doc")});
    child<QAction>(w.get(), designer::m2)->trigger();
    QCOMPARE(w->fileList()->paths(), QStringList{QStringLiteral("/x/y.doc")});
    m_prompter.expectInput(extensionPrompt, QStringLiteral("doc"), QString());
    child<QAction>(w.get(), designer::m3)->trigger();
    child<QAction>(w.get(), designer::m6)->trigger();
    QCOMPARE(w->fileList()->rowCount(), 0);
}

void TestGui::toolbarsNameEveryButton_data()
{
    QTest::addColumn<bool>("results"); // the results window's toolbar, else the main window's
    QTest::addColumn<int>("width"); // of the window; 0: as it opens
    QTest::newRow("main window") << false << 0;
    QTest::newRow("main window, too narrow for its buttons") << false << 250;
    QTest::newRow("results window") << true << 0;
}

// What a screen reader finds on the toolbars: every button has a name, the overflow button too.
void TestGui::toolbarsNameEveryButton()
{
    QFETCH(bool, results);
    QFETCH(int, width);
    auto w = makeWindow();
    QWidget *window = results ? static_cast<QWidget *>(w->resultsWindow()) : w.get();
    QToolBar *bar = results ? w->resultsWindow()->toolBar() : w->toolBar();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    if (width > 0)
        window->resize(width, window->height());
    QTest::qWait(50);
    QAccessibleInterface *toolbar = QAccessible::queryAccessibleInterface(bar);
    QVERIFY(toolbar);
    int buttons = 0;
    for (int i = 0; i < toolbar->childCount(); ++i) {
        QAccessibleInterface *button = toolbar->child(i);
        if (!button || (button->role() != QAccessible::PushButton && button->role() != QAccessible::ButtonMenu
                        && button->role() != QAccessible::ButtonDropDown))
            continue;
        ++buttons;
        QVERIFY2(!button->text(QAccessible::Name).isEmpty(),
                 qPrintable(u"an unnamed button: "_qs + button->object()->objectName()));
    }
    QCOMPARE(buttons, 5); // four commands and the overflow button
}

void TestGui::removals()
{
    auto w = makeWindow();
    w->show();
    QTreeView *view = w->listView();
    // What the tooltip says is there for screen readers too.
    QAccessibleInterface *list = QAccessible::queryAccessibleInterface(view);
    QVERIFY(list);
    QCOMPARE(list->text(QAccessible::Name), u"Word Files"_qs);
    QCOMPARE(list->text(QAccessible::Description), view->toolTip());
    QVERIFY(view->toolTip().startsWith(u"Drag and drop files here."));
    const QStringList five = {QStringLiteral("/f/1"), QStringLiteral("/f/2"),
                              QStringLiteral("/f/3"), QStringLiteral("/f/2"),
                              QStringLiteral("/f/5")};
    const auto select = [&](QList<int> rows, int current) {
        view->selectionModel()->clear();
        for (int r : rows)
            view->selectionModel()->select(w->fileList()->index(r, 0),
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
        view->selectionModel()->setCurrentIndex(w->fileList()->index(current, 0),
                                                QItemSelectionModel::NoUpdate);
    };

    // "Clear Selected Files" with entries 2 and 4 of five selected.
    w->fileList()->append(five);
    select({1, 3}, 3);
    child<QAction>(w.get(), designer::m5)->trigger();
    QCOMPARE(w->fileList()->paths(), (QStringList{QStringLiteral("/f/1"), QStringLiteral("/f/3"),
                                                  QStringLiteral("/f/5")}));

    // Delete removes only the current item, whatever the modifiers.
    const QList<Qt::KeyboardModifiers> modifiers = {Qt::NoModifier, Qt::ShiftModifier,
                                                    Qt::ControlModifier, Qt::AltModifier};
    for (Qt::KeyboardModifiers m : modifiers) {
        w->fileList()->clear();
        w->fileList()->append(five);
        select({1, 3}, 3);
        view->setFocus();
        QTest::keyClick(view, Qt::Key_Delete, m);
        QCOMPARE(w->fileList()->paths(), (QStringList{QStringLiteral("/f/1"),
                                                      QStringLiteral("/f/2"),
                                                      QStringLiteral("/f/3"),
                                                      QStringLiteral("/f/5")}));
    }

    // The entry that takes the removed one's place is current and selected: Delete goes on
    // without a click, up the list once the last entry is gone.
    w->fileList()->clear();
    w->fileList()->append(five);
    select({3}, 3);
    view->setFocus();
    QTest::keyClick(view, Qt::Key_Delete);
    QCOMPARE(view->currentIndex().row(), 3);
    QVERIFY(view->selectionModel()->isRowSelected(3));
    QTest::keyClick(view, Qt::Key_Delete);
    QCOMPARE(w->fileList()->paths(), (QStringList{QStringLiteral("/f/1"), QStringLiteral("/f/2"),
                                                  QStringLiteral("/f/3")}));
    QTest::keyClick(view, Qt::Key_Delete);
    QTest::keyClick(view, Qt::Key_Delete);
    QTest::keyClick(view, Qt::Key_Delete);
    QCOMPARE(w->fileList()->rowCount(), 0);
    QTest::keyClick(view, Qt::Key_Delete); // nothing left: nothing happens

    // A duplicate removed leaves its twin.
    w->fileList()->append(five);
    select({1}, 1);
    QTest::keyClick(view, Qt::Key_Delete);
    QCOMPARE(w->fileList()->paths(), (QStringList{QStringLiteral("/f/1"), QStringLiteral("/f/3"),
                                                  QStringLiteral("/f/2"), QStringLiteral("/f/5")}));
    select({2}, 2);
    QTest::keyClick(view, Qt::Key_Delete);
    QCOMPARE(w->fileList()->paths(), (QStringList{QStringLiteral("/f/1"), QStringLiteral("/f/3"),
                                                  QStringLiteral("/f/5")}));

    // A double-click removes the item it lands on (the press makes it current).
    const QRect second = view->visualRect(w->fileList()->index(1, 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, second.center());
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, second.center());
    QCOMPARE(w->fileList()->paths(), (QStringList{QStringLiteral("/f/1"), QStringLiteral("/f/5")}));

    // Several selected: a double-click takes the current one only.
    select({0, 1}, 0);
    view->setFocus();
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {},
                       view->visualRect(w->fileList()->index(0, 0)).center());
    QCOMPARE(w->fileList()->rowCount(), 1);

    // "Clear All Files" and the toolbar's "Clear List".
    w->fileList()->append(five);
    child<QAction>(w.get(), designer::m6)->trigger();
    QCOMPARE(w->fileList()->rowCount(), 0);
    w->fileList()->append(five);
    w->commandBarsExecute(1003);
    QCOMPARE(w->fileList()->rowCount(), 0);
}

void TestGui::removalsOnEmptyList()
{
    auto w = makeWindow();
    w->show();
    QTreeView *view = w->listView();
    view->setFocus();
    QTest::keyClick(view, Qt::Key_Delete);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, QPoint(10, 10));
    child<QAction>(w.get(), designer::m5)->trigger();
    child<QAction>(w.get(), designer::m6)->trigger();
    QCOMPARE(w->fileList()->rowCount(), 0);

    // Nothing selected: Delete does nothing even with a current item.
    w->fileList()->append(QStringList{QStringLiteral("/a"), QStringLiteral("/b")});
    view->selectionModel()->setCurrentIndex(w->fileList()->index(0, 0),
                                            QItemSelectionModel::Clear);
    QTest::keyClick(view, Qt::Key_Delete);
    QCOMPARE(w->fileList()->rowCount(), 2);
}

void TestGui::addFiles_data()
{
    QTest::addColumn<QStringList>("chosen");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("cancel") << QStringList{} << QStringList{};
    QTest::newRow("one file, unchanged")
            << QStringList{QStringLiteral("/docs/~draft.doc")}
            << QStringList{QStringLiteral("/docs/~draft.doc")};
    QTest::newRow("one name that does not exist")
            << QStringList{QStringLiteral("/nowhere/typed name.doc")}
            << QStringList{QStringLiteral("/nowhere/typed name.doc")};
    QTest::newRow("several files")
            << QStringList{QStringLiteral("/docs/b.doc"), QStringLiteral("/docs/a.doc"),
                           QStringLiteral("/docs/b.doc")}
            << QStringList{QStringLiteral("/docs/b.doc"), QStringLiteral("/docs/a.doc"),
                           QStringLiteral("/docs/b.doc")};
    QTest::newRow("several files at the root")
            << QStringList{QStringLiteral("/a.doc"), QStringLiteral("/b.txt")}
            << QStringList{QStringLiteral("/a.doc"), QStringLiteral("/b.txt")};
}

void TestGui::addFiles()
{
    QFETCH(QStringList, chosen);
    QFETCH(QStringList, expected);
    auto w = makeWindow();
    w->fileList()->append(QStringLiteral("/already/there.doc"));
    m_prompter.expectOpenFiles(addFilesTitle, addFilesFilters, chosen);
    w->addFiles();
    QCOMPARE(w->fileList()->paths(), QStringList{QStringLiteral("/already/there.doc")} + expected);
}

namespace {

/// R holding a.doc, ~a.doc, .hidden.doc, c.txt, a lock file, a hidden folder, A (a1.doc, A1
/// with x.doc, a link back to R) and B (b1.doc).
void buildTree(const QString &r)
{
    touch(r + u"/a.doc");
    touch(r + u"/~a.doc");
    touch(r + u"/.hidden.doc");
    touch(r + u"/c.txt");
    touch(r + u"/.~lock.a.doc#");
    touch(r + u"/.secret/s.doc");
    touch(r + u"/A/a1.doc");
    touch(r + u"/A/A1/x.doc");
    touch(r + u"/B/b1.doc");
    touch(r + u"/D/~only.doc");
    QVERIFY(QFile::link(r, r + u"/A/loop"));
}

} // namespace

void TestGui::addFolder_data()
{
    QTest::addColumn<std::optional<QString>>("extension");
    QTest::addColumn<bool>("pick"); // whether the folder picker is asked and answered
    QTest::addColumn<QStringList>("expected"); // relative to the tree

    QTest::newRow("doc") << std::optional<QString>(QStringLiteral("doc")) << true
                         << QStringList{QStringLiteral(".hidden.doc"), QStringLiteral("a.doc"),
                                        QStringLiteral("A/a1.doc"), QStringLiteral("B/b1.doc"),
                                        QStringLiteral("A/A1/x.doc")};
    QTest::newRow("star") << std::optional<QString>(QStringLiteral("*")) << true
                          << QStringList{QStringLiteral(".hidden.doc"), QStringLiteral("a.doc"),
                                         QStringLiteral("c.txt"), QStringLiteral("A/a1.doc"),
                                         QStringLiteral("B/b1.doc"), QStringLiteral("A/A1/x.doc")};
    QTest::newRow("leading dot") << std::optional<QString>(QStringLiteral(".doc")) << true
                                 << QStringList{};
    QTest::newRow("txt") << std::optional<QString>(QStringLiteral("txt")) << true
                         << QStringList{QStringLiteral("c.txt")};
    QTest::newRow("cancel at the extension") << std::optional<QString>() << false
                                             << QStringList{};
    QTest::newRow("empty extension") << std::optional<QString>(QString()) << false
                                     << QStringList{};
    QTest::newRow("cancel at the folder") << std::optional<QString>(QStringLiteral("doc"))
                                          << false << QStringList{QStringLiteral("-")};
}

void TestGui::addFolder()
{
    QFETCH(std::optional<QString>, extension);
    QFETCH(bool, pick);
    QFETCH(QStringList, expected);
    QTemporaryDir dir;
    const QString root = dir.path() + u"/R";
    buildTree(root);

    auto w = makeWindow();
    QSignalSpy busy(w->scanQueue(), &ScanQueue::busyChanged);
    m_prompter.expectInput(extensionPrompt, QStringLiteral("doc"), extension);
    const bool cancelAtFolder = expected == QStringList{QStringLiteral("-")};
    if (pick)
        m_prompter.expectPickFolder(folderTitle, root);
    else if (cancelAtFolder)
        m_prompter.expectPickFolder(folderTitle, QString());
    w->addFolder();
    QTRY_VERIFY(w->scanQueue()->isIdle());

    QStringList paths;
    if (!cancelAtFolder) {
        for (const QString &e : std::as_const(expected))
            paths << QDir::toNativeSeparators(root + u'/' + e);
    }
    QCOMPARE(w->fileList()->paths(), paths);
    if (pick) {
        QCOMPARE(busy.size(), 2); // the busy pointer on, then off
        QCOMPARE(busy.at(0).at(0).toBool(), true);
        QCOMPARE(busy.at(1).at(0).toBool(), false);
        QCOMPARE(w->cursor().shape(), Qt::ArrowCursor);
    } else {
        QCOMPARE(busy.size(), 0);
    }
}

void TestGui::dropFilesAndFolders_data()
{
    QTest::addColumn<QStringList>("dropped"); // relative to the tree
    QTest::addColumn<QStringList>("expected");

    const QStringList rTree = {QStringLiteral("R/.hidden.doc"), QStringLiteral("R/a.doc"),
                               QStringLiteral("R/c.txt"), QStringLiteral("R/A/a1.doc"),
                               QStringLiteral("R/B/b1.doc"), QStringLiteral("R/A/A1/x.doc")};
    QTest::newRow("one file, even with ~")
            << QStringList{QStringLiteral("R/~a.doc")} << QStringList{QStringLiteral("R/~a.doc")};
    QTest::newRow("file then folder")
            << QStringList{QStringLiteral("R/c.txt"), QStringLiteral("R/B")}
            << QStringList{QStringLiteral("R/c.txt"), QStringLiteral("R/B/b1.doc")};
    QTest::newRow("folder then file")
            << QStringList{QStringLiteral("R/B"), QStringLiteral("R/c.txt")}
            << QStringList{QStringLiteral("R/B/b1.doc"), QStringLiteral("R/c.txt")};
    QTest::newRow("two folders")
            << QStringList{QStringLiteral("R/A/A1"), QStringLiteral("R/B")}
            << QStringList{QStringLiteral("R/A/A1/x.doc"), QStringLiteral("R/B/b1.doc")};
    QTest::newRow("whole tree with a link loop") << QStringList{QStringLiteral("R")} << rTree;
    QTest::newRow("hidden folder is scanned")
            << QStringList{QStringLiteral("R/.secret")}
            << QStringList{QStringLiteral("R/.secret/s.doc")};
    QTest::newRow("folder of ~ files only") << QStringList{QStringLiteral("R/D")} << QStringList{};
    QTest::newRow("missing path as it is")
            << QStringList{QStringLiteral("R/gone.doc")}
            << QStringList{QStringLiteral("R/gone.doc")};
}

void TestGui::dropFilesAndFolders()
{
    QFETCH(QStringList, dropped);
    QFETCH(QStringList, expected);
    QTemporaryDir dir;
    buildTree(dir.path() + u"/R");

    auto w = makeWindow();
    w->show();
    QList<QUrl> urls;
    for (const QString &d : std::as_const(dropped))
        urls << QUrl::fromLocalFile(dir.path() + u'/' + d);
    QMimeData data;
    data.setUrls(urls);
    QWidget *viewport = w->listView()->viewport();
    QSignalSpy busy(w->scanQueue(), &ScanQueue::busyChanged);

    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &drop);
    QVERIFY(drop.isAccepted());
    QTRY_VERIFY(w->scanQueue()->isIdle());

    QStringList paths;
    for (const QString &e : std::as_const(expected))
        paths << QDir::toNativeSeparators(dir.path() + u'/' + e);
    QCOMPARE(w->fileList()->paths(), paths);
    QCOMPARE(busy.size(), 0); // a drop shows no busy pointer
}

void TestGui::dragOfTextIsRefused()
{
    auto w = makeWindow();
    w->show();
    QWidget *viewport = w->listView()->viewport();
    QMimeData text;
    text.setText(QStringLiteral("/tmp/some.doc"));
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &enter);
    QVERIFY(!enter.isAccepted());
    QCOMPARE(enter.dropAction(), Qt::IgnoreAction);

    QMimeData web;
    web.setUrls({QUrl(QStringLiteral("https://example.org/a.doc"))});
    QDragMoveEvent move(QPoint(5, 5), Qt::CopyAction, &web, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &move);
    QVERIFY(!move.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &web, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &drop);
    QCOMPARE(w->fileList()->rowCount(), 0);
}

void TestGui::resizeRules_data()
{
    QTest::addColumn<QSize>("client");
    QTest::addColumn<QRect>("tab");
    QTest::addColumn<QSize>("list");
    QTest::addColumn<int>("frameWidth");
    QTest::addColumn<QRect>("progress");
    QTest::addColumn<int>("column");

    // Client 547 x 521 pixels is 8205 x 7815 twips: tab 7965 x 5555, list 7485 x 4920, frame
    // 7485, progress top 7300 and width 7965, column 6985 (in pixels, rounded).
    QTest::newRow("design size") << QSize(547, 521) << QRect(8, 108, 531, 370) << QSize(499, 328)
                                 << 499 << QRect(8, 487, 531, 27) << 466;
    QTest::newRow("60 wider and higher")
            << QSize(607, 581) << QRect(8, 108, 591, 430) << QSize(559, 388) << 559
            << QRect(8, 547, 591, 27) << 526;
    // Too small: the rules with negative results are skipped, the others still apply.
    QTest::newRow("tiny") << QSize(12, 100) << QRect(8, 108, 531, 370) << QSize(499, 328) << 499
                          << QRect(8, 487, 531, 27) << 466;
    QTest::newRow("narrow and high") << QSize(12, 700) << QRect(8, 108, 531, 549)
                                     << QSize(499, 507) << 499 << QRect(8, 666, 531, 27) << 466;
}

void TestGui::resizeRules()
{
    QFETCH(QSize, client);
    QFETCH(QRect, tab);
    QFETCH(QSize, list);
    QFETCH(int, frameWidth);
    QFETCH(QRect, progress);
    QFETCH(int, column);

    auto w = makeWindow();
    w->layoutControls(QSize(547, 521));
    w->layoutControls(client);
    QCOMPARE(child<QTabWidget>(w.get(), designer::TabControl1)->geometry(), tab);
    QCOMPARE(w->listView()->size(), list);
    QCOMPARE(child<QGroupBox>(w.get(), designer::Frame1)->width(), frameWidth);
    QCOMPARE(child<QGroupBox>(w.get(), designer::Frame1)->height(), 120);
    QCOMPARE(w->progressBar()->geometry(), progress);
    QCOMPARE(w->listView()->columnWidth(0), column);
}

void TestGui::resizeKeepsColumnRuleAfterManualWidening()
{
    auto w = makeWindow();
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    w->listView()->setColumnWidth(0, 2000);
    w->resize(607, 581);
    QTRY_COMPARE(w->size(), QSize(607, 581));
    QCOMPARE(w->listView()->columnWidth(0), 526);
    QCOMPARE(w->toolBar()->width(), 607);

    // Minimised: nothing is laid out.
    w->showMinimized();
    w->layoutControls(w->size()); // the rules themselves still work when asked
    QCOMPARE(w->listView()->columnWidth(0), 526);
}

void TestGui::resultsWindowLayoutAndToolbar()
{
    QStringList called;
    auto w = makeWindow();
    ResultsWindow *r = w->resultsWindow();
    r->setExports({[&] { called << QStringLiteral("text"); },
                   [&] { called << QStringLiteral("excel"); },
                   [&] { called << QStringLiteral("clipboard"); }});
    QCOMPARE(r->windowTitle(), QStringLiteral("Corvalen"));
    QCOMPARE(r->size(), QSize(680, 372));
    QCOMPARE(r->minimumSize(), r->maximumSize());
    QVERIFY(!(r->windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(r->windowFlags() & Qt::WindowMinimizeButtonHint);
    QCOMPARE(r->label()->text(), QStringLiteral(" Word Count: "));
    QCOMPARE(r->label()->geometry(), QRect(8, 84, 664, 22));
    QCOMPARE(r->listView()->geometry(), QRect(8, 112, 664, 257));
    QCOMPARE(r->label()->palette().color(QPalette::Window), QColor(Qt::white));
    QVERIFY(r->label()->autoFillBackground());
    QCOMPARE(r->palette().color(QPalette::Window),
             QGuiApplication::palette().color(QPalette::Button));
    QCOMPARE(r->listView()->font().family(), QStringLiteral("Calibri"));
    QVERIFY(r->listView()->font().bold());
    QCOMPARE(r->listView()->font().pointSizeF(), 11.25);

    QToolBar *bar = r->toolBar();
    QStringList captions;
    QList<int> ids;
    QList<int> widths;
    for (QAction *a : bar->actions()) {
        captions << a->text();
        ids << a->property("commandId").toInt();
        widths << bar->widgetForAction(a)->width();
        QVERIFY(!a->icon().pixmap(48, 48).isNull());
    }
    QCOMPARE(captions, (QStringList{QStringLiteral("Back"), QStringLiteral("Save Results"),
                                    QStringLiteral("Save Results As Excel File"),
                                    QStringLiteral("Save Results To Clipboard")}));
    QCOMPARE(ids, (QList<int>{1004, 1000, 1001, 1002}));
    QCOMPARE(widths, (QList<int>{100, 100, 180, 180}));
    QCOMPARE(bar->iconSize(), QSize(48, 48));
    QCOMPARE(bar->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);

    for (int id : {1000, 1001, 1002, 1003, 4711})
        r->commandBarsExecute(id);
    QCOMPARE(called, (QStringList{QStringLiteral("text"), QStringLiteral("excel"),
                                  QStringLiteral("clipboard")}));
    r->setWordCount(0);
    QCOMPARE(r->label()->text(), QStringLiteral(" Word Count: 0"));
}

void TestGui::resultsBack()
{
    auto w = makeWindow();
    ResultsWindow *r = w->resultsWindow();
    w->fileList()->append(QStringList{QStringLiteral("/b"), QStringLiteral("/a")});
    r->model()->appendRows(someRows(), QStringLiteral("x.txt"));
    r->setWordCount(3);
    r->show();
    w->hide();

    QToolBar *bar = r->toolBar();
    QTest::mouseClick(bar->widgetForAction(bar->actions().at(0)), Qt::LeftButton);
    QCOMPARE(r->model()->rowCount(), 0);
    QCOMPARE(headers(r->model()), (QStringList{QStringLiteral("Filename"), QStringLiteral(" Word"),
                                               QStringLiteral("Count")}));
    QCOMPARE(columnWidths(r->listView()), (QList<int>{333, 133, 67}));
    QVERIFY(r->isHidden());
    QVERIFY(w->isVisible());
    QCOMPARE(r->label()->text(), QStringLiteral(" Word Count: 3"));
    QCOMPARE(w->fileList()->paths(), (QStringList{QStringLiteral("/b"), QStringLiteral("/a")}));
}

void TestGui::resultsModelAppendsInBulk()
{
    ResultsModel model;
    model.setColumns(resultColumns(CountOptions{CountMode::Combined, false, true}));
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    ResultTable table(false);
    std::vector<WordCount> rows;
    for (int i = 0; i < 100000; ++i)
        rows.push_back({QString::number(i), i + 1});
    table.appendRows(rows);
    QVERIFY(model.appendTable(table));
    QCOMPARE(inserted.size(), 1);
    QCOMPARE(model.rowCount(), 100000);
    QCOMPARE(model.data(model.index(99999, 0)).toString(), QStringLiteral("99999"));
    QCOMPARE(model.data(model.index(99999, 1)).toString(), QStringLiteral("100000"));
    // A table laid out for other columns is refused, not shown under the wrong headers.
    QVERIFY(!model.appendTable(ResultTable(true)));
    model.clearRows();
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.columnCount(), 2);
}

void TestGui::exitEndsProgram_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("close main window") << QStringLiteral("close main");
    QTest::newRow("Exit menu item") << QStringLiteral("exit");
    QTest::newRow("close results window") << QStringLiteral("close results");
}

void TestGui::exitEndsProgram()
{
    QFETCH(QString, how);
    auto w = makeWindow();
    QSignalSpy ended(w.get(), &MainWindow::programEndRequested);
    w->show();
    w->resultsWindow()->show();
    if (how == u"close main")
        w->close();
    else if (how == u"exit")
        child<QAction>(w.get(), designer::m8)->trigger();
    else
        w->resultsWindow()->close();
    QCOMPARE(ended.size(), 1);
    QVERIFY(w->isHidden());
    QVERIFY(w->resultsWindow()->isHidden());
    // Nothing is written at exit.
    QCOMPARE(store().allKeys().size(), 2); // Option1 and Option2 from the start-up
}

void TestGui::skin()
{
    {
        auto plain = makeWindow();
        QVERIFY(!plain->isSkinned());
        QCOMPARE(plain->palette().color(QPalette::Window), QColor(Qt::white));
        for (QLatin1StringView name : {designer::Frame1, designer::Option1, designer::Option2,
                                       designer::Check1, designer::Check3}) {
            QWidget *control = child<QWidget>(plain.get(), name);
            QCOMPARE(control->palette().color(control->backgroundRole()), QColor(Qt::white));
            QVERIFY(control->autoFillBackground());
        }
    }
    QTemporaryDir folder;
    touch(folder.path() + u"/x/o.cjs");
    {
        QFile skin(folder.path() + u"/x/o.cjs");
        QVERIFY(skin.open(QIODevice::WriteOnly));
        skin.write("QTabWidget { background: #d4d0c8; }");
    }
    MainWindow skinned(m_prompter, {}, folder.path());
    QVERIFY(skinned.isSkinned());
    const QColor face = QGuiApplication::palette().color(QPalette::Button);
    QCOMPARE(skinned.palette().color(QPalette::Window), face);
    QCOMPARE(child<QCheckBox>(&skinned, designer::Check3)->palette().color(QPalette::Window), face);
    QVERIFY(skinned.styleSheet().contains(u"QTabWidget"));
}

void TestGui::optionsFrameTakesTheWindowColour_data()
{
    QTest::addColumn<QByteArray>("skin"); // empty: no skin file
    QTest::newRow("no skin") << QByteArray();
    QTest::newRow("skin") << QByteArray("QTabWidget { background: #d4d0c8; }");
}

// The inside of the "Count Options" frame, and the captions in it, have the window's colour.
void TestGui::optionsFrameTakesTheWindowColour()
{
    QFETCH(QByteArray, skin);
    QTemporaryDir folder;
    if (!skin.isEmpty()) {
        touch(folder.path() + u"/x/o.cjs");
        QFile file(folder.path() + u"/x/o.cjs");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(skin);
    }
    MainWindow w(m_prompter, {}, folder.path());
    QCOMPARE(w.isSkinned(), !skin.isEmpty());
    w.selectTab(1);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto *frame = child<QGroupBox>(&w, designer::Frame1);
    const QImage image = frame->grab().toImage();
    const QColor window = w.palette().color(QPalette::Window);
    // The frame's inside right of the captions, and below the last one, away from its lines.
    QWidget *widest = child<QWidget>(&w, designer::Option1);
    QWidget *lowest = child<QWidget>(&w, designer::Check3);
    const QRect inside = frame->contentsRect().adjusted(4, 2, -4, -2);
    const QList<QRect> areas = {
        QRect(QPoint(widest->geometry().right() + 4, inside.top()), inside.bottomRight()),
        QRect(QPoint(inside.left(), lowest->geometry().bottom() + 2), inside.bottomRight())};
    for (const QRect &area : areas) {
        QVERIFY(area.width() > 10 && area.height() >= 2);
        for (int y = area.top(); y <= area.bottom(); ++y) {
            for (int x = area.left(); x <= area.right(); ++x) {
                const QColor seen(image.pixel(x * image.width() / frame->width(),
                                              y * image.height() / frame->height()));
                if (seen != window)
                    QFAIL(qPrintable(u"%1 at %2,%3 where the window has %4"_qs.arg(seen.name())
                                             .arg(x)
                                             .arg(y)
                                             .arg(window.name())));
            }
        }
    }
    // The captions' boxes have that colour too.
    for (QLatin1StringView name :
         {designer::Option1, designer::Option2, designer::Check1, designer::Check3}) {
        QWidget *caption = child<QWidget>(&w, name);
        QCOMPARE(caption->palette().color(caption->backgroundRole()), window);
    }
}

void TestGui::optionsFrameLineStaysWhole_data()
{
    QTest::addColumn<QByteArray>("skin"); // empty: no skin file
    QTest::newRow("no skin") << QByteArray();
    QTest::newRow("skin") << QByteArray("QTabWidget { background: #d4d0c8; }");
    QTest::newRow("skin with a frame of its own")
            << QByteArray("QGroupBox { border: 1px solid #808080; margin-top: 14px; padding-top: 2px; }"
                          "QGroupBox::title { subcontrol-origin: margin; left: 8px; }");
}

// The option buttons and check boxes keep their design places below the "Count Options" frame's
// top line, which runs whole above them.
void TestGui::optionsFrameLineStaysWhole()
{
    QFETCH(QByteArray, skin);
    QTemporaryDir folder;
    if (!skin.isEmpty()) {
        touch(folder.path() + u"/x/o.cjs");
        QFile file(folder.path() + u"/x/o.cjs");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(skin);
    }
    MainWindow w(m_prompter, {}, folder.path());
    w.selectTab(1);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto *frame = child<QGroupBox>(&w, designer::Frame1);
    const QRect inside = frame->contentsRect();
    int previousBottom = -1;
    const int designTops[] = {20, 43, 67, 90}; // 300, 650, 1000 and 1350 twips from the frame's top
    int k = 0;
    for (QLatin1StringView name : {designer::Option2, designer::Option1, designer::Check1, designer::Check3}) {
        const QRect control = child<QWidget>(&w, name)->geometry();
        QCOMPARE(control.top(), designTops[k++]);
        QVERIFY2(inside.contains(control), qPrintable(u"%1 at %2,%3 %4x%5 outside %6,%7 %8x%9"_qs.arg(name)
                                                              .arg(control.x()).arg(control.y())
                                                              .arg(control.width()).arg(control.height())
                                                              .arg(inside.x()).arg(inside.y())
                                                              .arg(inside.width()).arg(inside.height())));
        QVERIFY(control.top() > previousBottom);
        previousBottom = control.bottom();
    }

    // The line, found right of the captions, has its colour all along above the first one (past
    // the frame's title, which a skin may lay across it).
    const QImage image = frame->grab().toImage().scaled(frame->size());
    const QRgb background = image.pixel(frame->width() - 20, inside.center().y());
    const int probe = frame->width() - 20;
    int line = -1;
    for (int y = 0; y < inside.top() && line < 0; ++y) {
        if (image.pixel(probe, y) != background)
            line = y;
    }
    QVERIFY(line >= 0);
    const QRect first = child<QWidget>(&w, designer::Option2)->geometry();
    const int pastTitle = frame->fontMetrics().horizontalAdvance(frame->title()) + 24;
    QVERIFY(pastTitle < first.right() - 100);
    for (int x = std::max(first.left(), pastTitle); x <= first.right(); ++x) {
        if (image.pixel(x, line) != image.pixel(probe, line))
            QFAIL(qPrintable(u"the frame's line is broken at %1,%2"_qs.arg(x).arg(line)));
    }
}

void TestGui::englishPlurals_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<int>("n");
    QTest::addColumn<QString>("shown");
    QTest::newRow("one") << u"%n row(s) written to %1."_qs << 1 << u"1 row written to %1."_qs;
    QTest::newRow("two") << u"%n row(s) written to %1."_qs << 2 << u"2 rows written to %1."_qs;
    QTest::newRow("none") << u"%n word(s)"_qs << 0 << u"0 words"_qs;
    QTest::newRow("-es") << u"%n match(es)"_qs << 1 << u"1 match"_qs;
    QTest::newRow("-es, plural") << u"%n match(es)"_qs << 12 << u"12 matches"_qs;
    QTest::newRow("no count given") << u"Add File(s)"_qs << -1 << u"Add File(s)"_qs;
    QTest::newRow("no plural in the text") << u"The %n most frequent"_qs << 1 << u"The 1 most frequent"_qs;
}

void TestGui::englishPlurals()
{
    QFETCH(QString, source);
    QFETCH(int, n);
    QFETCH(QString, shown);
    const QByteArray text = source.toUtf8();
    QCOMPARE(QCoreApplication::translate("Test", text.constData(), nullptr, n), shown);
}

void TestGui::wordRulesUnitsAgreeWithTheNumber_data()
{
    QTest::addColumn<int>("stored"); // the minimum length and the phrase length kept
    QTest::addColumn<int>("typed"); // then set in both boxes
    QTest::addColumn<QString>("characters");
    QTest::addColumn<QString>("words");
    QTest::newRow("one, as it opens") << 1 << 0 << u"1 character"_qs << u"1 word"_qs;
    QTest::newRow("two, as it opens") << 2 << 0 << u"2 characters"_qs << u"2 words"_qs;
    QTest::newRow("one, then three") << 1 << 3 << u"3 characters"_qs << u"3 words"_qs;
    QTest::newRow("three, then one") << 3 << 1 << u"1 character"_qs << u"1 word"_qs;
}

void TestGui::wordRulesUnitsAgreeWithTheNumber()
{
    QFETCH(int, stored);
    QFETCH(int, typed);
    QFETCH(QString, characters);
    QFETCH(QString, words);
    writeStore({{QString(designer::UpDown1), QString::number(stored)},
                {QString(designer::UpDown2), QString::number(stored)}});
    SettingsStore settings;
    WordRulesDialog dialog(settings, m_prompter);
    auto *minLength = child<QSpinBox>(&dialog, designer::UpDown1);
    auto *phrases = child<QSpinBox>(&dialog, designer::UpDown2);
    QCOMPARE(minLength->value(), stored);
    if (typed > 0) {
        minLength->setValue(typed);
        phrases->setValue(typed);
    }
    QCOMPARE(minLength->text(), characters);
    QCOMPARE(phrases->text(), words);
}

void TestGui::wordRulesDialogStoresAtOnce()
{
    auto w = makeWindow();
    QAction *item = child<QAction>(w.get(), designer::m13);
    QVERIFY(item);
    item->trigger();
    auto *dialog = w->findChild<QDialog *>(QString(designer::Form3));
    QVERIFY(dialog);
    QVERIFY(dialog->isVisible());
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Word Rules"));
    auto *words = child<QComboBox>(dialog, designer::Combo3);
    auto *hyphens = child<QCheckBox>(dialog, designer::Check6);
    auto *paragraphs = child<QComboBox>(dialog, designer::Combo4);
    auto *punctuation = child<QCheckBox>(dialog, designer::Check5);
    auto *lists = child<QListWidget>(dialog, designer::List1);
    auto *minLength = child<QSpinBox>(dialog, designer::UpDown1);
    auto *forms = child<QComboBox>(dialog, designer::Combo1);
    auto *phrases = child<QSpinBox>(dialog, designer::UpDown2);
    auto *restore = child<QPushButton>(dialog, designer::Command2);
    QVERIFY(words && hyphens && paragraphs && punctuation && lists && minLength && forms && phrases && restore);
    QVERIFY(child<QPushButton>(dialog, designer::Command1));
    QCOMPARE(words->count(), 3);
    QCOMPARE(words->itemText(2), QStringLiteral("Corpus words"));
    // The defaults: the plain rules, a paragraph per line.
    QCOMPARE(words->currentText(), QStringLiteral("Plain rules"));
    QCOMPARE(paragraphs->currentIndex(), 0);
    QVERIFY(!hyphens->isChecked() && !hyphens->isEnabled() && !punctuation->isChecked());
    QCOMPARE(lists->count(), builtInStopWordLists().size());
    QCOMPARE(minLength->value(), 1);
    QCOMPARE(forms->currentText(), QStringLiteral("none"));
    QCOMPARE(phrases->value(), 1);
    QVERIFY(w->countOptions().rules.isDefault());

    // Every change is stored at once, under its control's name, and the next run takes it.
    words->setCurrentIndex(2);
    QCOMPARE(stored(designer::Combo3), QStringLiteral("corpus"));
    QVERIFY(hyphens->isEnabled());
    hyphens->setChecked(true);
    QCOMPARE(stored(designer::Check6), QStringLiteral("1"));
    QCOMPARE(w->countOptions().rules.hyphens, WordRules::Hyphens::Split);
    words->setCurrentIndex(1);
    QCOMPARE(stored(designer::Combo3), QStringLiteral("unicode"));
    QVERIFY(!hyphens->isEnabled());
    paragraphs->setCurrentIndex(1);
    QCOMPARE(stored(designer::Combo4), QStringLiteral("blank-lines"));
    punctuation->setChecked(true);
    QCOMPARE(stored(designer::Check5), QStringLiteral("1"));
    lists->item(builtInStopWordLists().indexOf(u"de"_qs))->setCheckState(Qt::Checked);
    lists->item(builtInStopWordLists().indexOf(u"en"_qs))->setCheckState(Qt::Checked);
    QCOMPARE(store().value(designer::List1).toStringList(), (QStringList{u"de"_qs, u"en"_qs}));
    QCOMPARE(lists->item(builtInStopWordLists().indexOf(u"en"_qs))->text(), QStringLiteral("English (en)"));
    minLength->setValue(3);
    QCOMPARE(stored(designer::UpDown1), QStringLiteral("3"));
    forms->setCurrentIndex(forms->findText(u"english"_qs));
    QCOMPARE(stored(designer::Combo1), QStringLiteral("english"));
    phrases->setValue(2);
    QCOMPARE(stored(designer::UpDown2), QStringLiteral("2"));
    // Hyphens split only corpus words: with Unicode words the ticked box is no rule.
    WordRules expected;
    expected.words = WordRules::Words::Unicode;
    expected.paragraphs = WordRules::Paragraphs::BlankLines;
    expected.punctuation = WordRules::Punctuation::All;
    expected.stopWordLists = {u"de"_qs, u"en"_qs};
    expected.minLength = 3;
    expected.stemLanguage = u"english"_qs;
    expected.phraseLength = 2;
    QCOMPARE(w->countOptions().rules, expected);
    // Shown again as stored.
    dialog->close();
    QTRY_VERIFY(!w->findChild<QDialog *>(QString(designer::Form3)));
    QCOMPARE(w->wordRules()->rules(), expected);

    dialog = w->findChild<QDialog *>(QString(designer::Form3));
    child<QPushButton>(dialog, designer::Command2)->click();
    QVERIFY(w->countOptions().rules.isDefault());
    for (QLatin1StringView key : {designer::Check6, designer::Check5})
        QCOMPARE(stored(key), QStringLiteral("0"));
    QCOMPARE(stored(designer::Combo3), QStringLiteral("basic"));
    QCOMPARE(stored(designer::Combo4), QStringLiteral("lines"));
    QCOMPARE(stored(designer::UpDown1), QStringLiteral("1"));
    QCOMPARE(stored(designer::UpDown2), QStringLiteral("1"));
    QVERIFY(stored(designer::Combo1).isEmpty());
    QVERIFY(store().value(designer::List1).toStringList().isEmpty());
    QCOMPARE(child<QComboBox>(dialog, designer::Combo3)->currentIndex(), 0);
    QVERIFY(!child<QCheckBox>(dialog, designer::Check6)->isChecked());
    QCOMPARE(child<QComboBox>(dialog, designer::Combo4)->currentIndex(), 0);
    dialog->close();
}

void TestGui::wordRulesFromTheStore_data()
{
    QTest::addColumn<Settings>("settings");
    QTest::addColumn<QStringList>("lists");
    QTest::addColumn<WordRules>("rules");
    const auto s = [](const char *key, const char *value) {
        return QPair<QString, QString>(QString::fromLatin1(key), QString::fromLatin1(value));
    };
    WordRules all;
    all.words = WordRules::Words::Unicode;
    all.punctuation = WordRules::Punctuation::All;
    all.stopWordLists = {u"en"_qs, u"/some/list.txt"_qs};
    all.minLength = 100;
    all.stemLanguage = u"de"_qs;
    all.phraseLength = 5;
    WordRules corpus;
    corpus.words = WordRules::Words::Corpus;
    corpus.hyphens = WordRules::Hyphens::Split;
    corpus.paragraphs = WordRules::Paragraphs::BlankLines;
    WordRules unicode;
    unicode.words = WordRules::Words::Unicode;
    QTest::newRow("empty store") << Settings{} << QStringList() << WordRules();
    QTest::newRow("corpus words") << Settings{s("Combo3", "corpus"), s("Check6", "1"), s("Combo4", "blank-lines")}
                                  << QStringList() << corpus;
    // The choice of words wins over the check box it replaced; hyphens split corpus words only.
    QTest::newRow("choice over the old box") << Settings{s("Combo3", "unicode"), s("Check4", "0"), s("Check6", "1")}
                                             << QStringList() << unicode;
    QTest::newRow("choice out of range") << Settings{s("Combo3", "klingon"), s("Check4", "1"), s("Combo4", "pages")}
                                         << QStringList() << WordRules();
    QTest::newRow("every rule") << Settings{s("Check4", "1"), s("Check5", "1"), s("UpDown1", "100"),
                                           s("Combo1", "de"), s("UpDown2", "5")}
                                << QStringList{u"en"_qs, u"/some/list.txt"_qs, u"en"_qs} << all;
    QTest::newRow("values out of range") << Settings{s("Check4", "2"), s("Check5", "yes"), s("UpDown1", "0"),
                                                     s("Combo1", "klingon"), s("UpDown2", "6")}
                                         << QStringList() << WordRules();
    QTest::newRow("not numbers") << Settings{s("UpDown1", "three"), s("UpDown2", "")} << QStringList{u""_qs}
                                 << WordRules();
}

void TestGui::wordRulesFromTheStore()
{
    QFETCH(Settings, settings);
    QFETCH(QStringList, lists);
    QFETCH(WordRules, rules);
    writeStore(settings);
    if (!lists.isEmpty()) {
        QSettings s = store();
        s.setValue(designer::List1, lists);
        s.sync();
    }
    auto w = makeWindow();
    QCOMPARE(w->countOptions().rules, rules);
}

void TestGui::stopWordListFromAFile()
{
    QTemporaryDir dir;
    const QString good = dir.filePath(u"words.txt"_qs);
    QFile f(good);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("alpha\nbeta\n");
    f.close();
    const QString missing = dir.filePath(u"missing.txt"_qs);
    auto w = makeWindow();
    WordRulesDialog *dialog = w->wordRules();
    m_prompter.expectOpenFiles(QStringLiteral("Add Stop Words"),
                               {QStringLiteral("Word Lists (*.txt)"), QStringLiteral("All Files (*)")},
                               {missing, good});
    m_prompter.expectMessage({}, Prompter::Icon::Warning);
    child<QPushButton>(dialog, designer::Command1)->click();
    QVERIFY(m_prompter.calls().last().text.contains(QDir::toNativeSeparators(missing)));
    QCOMPARE(store().value(designer::List1).toStringList(), QStringList{good});
    auto *lists = child<QListWidget>(dialog, designer::List1);
    QCOMPARE(lists->item(lists->count() - 1)->text(), QDir::toNativeSeparators(good));
    QCOMPARE(w->countOptions().rules.stopWordLists, QStringList{good});
    dialog->close();
}

// "Word forms grouped by" their stem or their lemma: one or the other, stored at once.
void TestGui::wordFormsByStemOrLemma()
{
    auto w = makeWindow();
    WordRulesDialog *dialog = w->wordRules();
    auto *stems = child<QComboBox>(dialog, designer::Combo1);
    auto *lemmas = child<QListWidget>(dialog, designer::LemmaLists);
    QVERIFY(stems && lemmas && child<QPushButton>(dialog, designer::AddLemmaList));
    QCOMPARE(dialog->findChild<QGroupBox *>(u"wordFormsBox"_qs)->title().remove(u'&'), u"Word forms grouped by"_qs);
    // The languages of this machine, none ticked.
    QCOMPARE(lemmas->count(), lemmaLanguages().size());
    const int english = int(lemmaLanguages().indexOf(u"en"_qs));
    QCOMPARE(lemmas->item(english)->text(), u"English (en)"_qs);
    QCOMPARE(lemmas->item(english)->toolTip(), u"WordNet 3.0, built in"_qs);
    QCOMPARE(lemmas->item(int(lemmaLanguages().indexOf(u"de"_qs)))->text(), u"German (de)"_qs);
    for (int i = 0; i < lemmas->count(); ++i)
        QCOMPARE(lemmas->item(i)->checkState(), Qt::Unchecked);

    stems->setCurrentIndex(stems->findText(u"english"_qs));
    QCOMPARE(stored(designer::Combo1), u"english"_qs);
    // A lemma ticked: the stem goes back to none.
    lemmas->item(english)->setCheckState(Qt::Checked);
    QCOMPARE(store().value(designer::LemmaLists).toStringList(), QStringList{u"en"_qs});
    QCOMPARE(stems->currentText(), u"none"_qs);
    QVERIFY(stored(designer::Combo1).isEmpty());
    WordRules expected;
    expected.lemmaLists = {u"en"_qs};
    QCOMPARE(w->countOptions().rules, expected);
    QCOMPARE(dialog->rules(), expected);
    // A stem chosen: the lemmas are unticked.
    stems->setCurrentIndex(stems->findText(u"german"_qs));
    QCOMPARE(lemmas->item(english)->checkState(), Qt::Unchecked);
    QVERIFY(store().value(designer::LemmaLists).toStringList().isEmpty());
    QCOMPARE(w->countOptions().rules.stemLanguage, u"german"_qs);
    QVERIFY(w->countOptions().rules.lemmaLists.isEmpty());
    // Restore Defaults unticks them too.
    stems->setCurrentIndex(0);
    lemmas->item(english)->setCheckState(Qt::Checked);
    child<QPushButton>(dialog, designer::Command2)->click();
    QCOMPARE(lemmas->item(english)->checkState(), Qt::Unchecked);
    QVERIFY(store().value(designer::LemmaLists).toStringList().isEmpty());
    QVERIFY(w->countOptions().rules.isDefault());
    dialog->close();
}

// A lemma list of the user's: one that cannot be read is named, with its line, and not added;
// forms it gives two lemmas are counted in a message; the list is added ticked.
void TestGui::lemmaListFromAFile()
{
    QTemporaryDir dir;
    const QString damaged = dir.filePath(u"damaged.txt"_qs), clashing = dir.filePath(u"clashing.txt"_qs);
    QFile d(damaged), c(clashing);
    QVERIFY(d.open(QIODevice::WriteOnly) && c.open(QIODevice::WriteOnly));
    d.write("run -> ran\nwalk walked\n");
    c.write("lie -> lay\nlay -> lay, laid\n");
    d.close();
    c.close();
    auto w = makeWindow();
    WordRulesDialog *dialog = w->wordRules();
    child<QComboBox>(dialog, designer::Combo1)->setCurrentIndex(1);
    m_prompter.expectOpenFiles(u"Add Lemma List"_qs, {u"Lemma Lists (*.txt *.tsv)"_qs, u"All Files (*)"_qs},
                               {damaged, clashing});
    m_prompter.expectMessage({}, Prompter::Icon::Warning);
    m_prompter.expectMessage(u"The lemma list %1 gives 1 form a second lemma; each keeps its first."_qs.arg(
                                     QDir::toNativeSeparators(clashing)),
                             Prompter::Icon::Information);
    child<QPushButton>(dialog, designer::AddLemmaList)->click();
    const QString warning = m_prompter.calls().at(1).text;
    QVERIFY2(warning.contains(QDir::toNativeSeparators(damaged)) && warning.contains(u"line 2"), qPrintable(warning));
    auto *lemmas = child<QListWidget>(dialog, designer::LemmaLists);
    QCOMPARE(lemmas->count(), lemmaLanguages().size() + 1);
    QCOMPARE(lemmas->item(lemmas->count() - 1)->text(), QDir::toNativeSeparators(clashing));
    QCOMPARE(store().value(designer::LemmaLists).toStringList(), QStringList{clashing});
    QCOMPARE(w->countOptions().rules.lemmaLists, QStringList{clashing});
    QVERIFY(w->countOptions().rules.stemLanguage.isEmpty());
    dialog->close();
}

void TestGui::lemmasFromTheStore()
{
    // A language whose dictionary is gone counts as none; a list stays (a run names it if it
    // cannot be read); a stem stored beside lemmas wins.
    writeStore({});
    {
        QSettings s = store();
        s.setValue(designer::LemmaLists, QStringList{u"en"_qs, u"/some/lemmas.txt"_qs, u"zz"_qs, u"en"_qs, QString()});
        s.sync();
    }
    auto w = makeWindow();
    QCOMPARE(w->countOptions().rules.lemmaLists, (QStringList{u"en"_qs, u"/some/lemmas.txt"_qs}));
    auto *lemmas = child<QListWidget>(w->wordRules(), designer::LemmaLists);
    QCOMPARE(lemmas->item(int(lemmaLanguages().indexOf(u"en"_qs)))->checkState(), Qt::Checked);
    w->wordRules()->close();
    w.reset();
    writeStore({{QString(designer::Combo1), u"english"_qs}});
    {
        QSettings s = store();
        s.setValue(designer::LemmaLists, QStringList{u"en"_qs});
        s.sync();
    }
    w = makeWindow();
    QCOMPARE(w->countOptions().rules.stemLanguage, u"english"_qs);
    QVERIFY(w->countOptions().rules.lemmaLists.isEmpty());
}

void TestGui::groupTooltipNamesTheForms()
{
    ResultsModel model;
    model.setColumns(resultColumns(CountOptions{CountMode::Combined, false, true}));
    auto forms = std::make_shared<const std::vector<WordCount>>(
            std::vector<WordCount>{{u"runs"_qs, 2}, {u"run"_qs, 1}, {u"running"_qs, 1}});
    model.appendRows({{u"cat"_qs, 1}, {u"runs"_qs, 4, forms}});
    QVERIFY(!model.data(model.index(0, 0), Qt::ToolTipRole).isValid());
    QCOMPARE(model.data(model.index(1, 0), Qt::ToolTipRole).toString(),
             QStringLiteral("runs: 2\nrun: 1\nrunning: 1"));
    QCOMPARE(model.data(model.index(1, 1), Qt::ToolTipRole).toString(),
             model.data(model.index(1, 0), Qt::ToolTipRole).toString());
}

// The folders that spreadsheet exports leave in the temporary folder go at a later start once a
// day old; nothing else is touched.
void TestGui::oldExportFoldersRemoved()
{
    QTemporaryDir temp;
    const QByteArray tmpdir = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(temp.path()));
    auto w = makeWindow();
    ResultsWindow *results = w->resultsWindow();
    results->model()->appendRows(someRows(), QStringLiteral("a.txt"));
    ResultsExports exports(*results, m_prompter);
    m_prompter.expectOpenUrl(QUrl(), true);
    exports.saveExcel();
    qputenv("TMPDIR", tmpdir);
    const QString exported = QFileInfo(exports.lastWorkbook()).path();
    QCOMPARE(QFileInfo(exported).path(), temp.path());

    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QDateTime twoDaysAgo = now.addDays(-2);
    const auto touchAt = [](const QString &path, const QDateTime &time) {
        const timespec at{time_t(time.toSecsSinceEpoch()), 0};
        const timespec both[2] = {at, at};
        return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), both, 0) == 0;
    };
    const auto make = [&](const QString &folder, const QStringList &files, const QDateTime &time) {
        QDir().mkpath(temp.filePath(folder));
        for (const QString &name : files) {
            QFile f(temp.filePath(folder + u'/' + name));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.close();
            QVERIFY(touchAt(f.fileName(), time));
        }
        QVERIFY(touchAt(temp.filePath(folder), time));
    };
    make(u"corvalen-Ab12cD"_qs, {u"Corvalen Results.xlsx"_qs}, twoDaysAgo);
    make(u"corvalen-unfini"_qs, {u".corvalen-Q1w2E3.xlsx"_qs, u".corvalen-1k3z9qa.tmp"_qs}, twoDaysAgo);
    make(u"corvalen-empty1"_qs, {}, twoDaysAgo);
    make(u"corvalen-recent"_qs, {u"Corvalen Results.xlsx"_qs}, now.addSecs(-3600));
    make(u"corvalen-mine12"_qs, {u"Corvalen Results.xlsx"_qs, u"my notes.txt"_qs}, twoDaysAgo);
    make(u"corvalen-longer-name"_qs, {u"Corvalen Results.xlsx"_qs}, twoDaysAgo);
    make(u"other-Ab12cD"_qs, {u"Corvalen Results.xlsx"_qs}, twoDaysAgo);
    QVERIFY(QFile::link(temp.filePath(u"corvalen-Ab12cD"_qs), temp.filePath(u"corvalen-link12"_qs)));
    // A workbook saved over a day ago, but changed since, is still in use.
    make(u"corvalen-edited"_qs, {u"Corvalen Results.xlsx"_qs}, now);
    QVERIFY(touchAt(temp.filePath(u"corvalen-edited"_qs), twoDaysAgo));

    QCOMPARE(removeOldExportFolders(temp.path(), now), 3);
    QStringList left = QDir(temp.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System);
    left.sort();
    QStringList expected{u"corvalen-edited"_qs, u"corvalen-link12"_qs, u"corvalen-longer-name"_qs,
                         u"corvalen-mine12"_qs, u"corvalen-recent"_qs, u"other-Ab12cD"_qs,
                         QFileInfo(exported).fileName()};
    expected.sort();
    QCOMPARE(left, expected);
    QVERIFY(QFile::exists(exports.lastWorkbook()));

    // The export's own folder goes as well once it is a day old, with "recent" and "edited".
    QCOMPARE(removeOldExportFolders(temp.path(), now.addSecs(25 * 3600)), 3);
    QVERIFY(!QFile::exists(exported));
}

QTEST_MAIN(TestGui)
#include "tst_gui.moc"
