// The windows started as "corvalen PATH...", the way a file manager's "Open With" starts them:
// the program is given its own command line, Qt's options among the paths; and what the windows
// form refuses (an option of its own, no display) before Qt is started.
#include "support/scriptedprompter.h"

#include "app/application.h"
#include "app/programwindows.h"
#include "app/windowsstart.h"
#include "cli/commandline.h"
#include "filelist/scanqueue.h"
#include "windows/filelistmodel.h"
#include "windows/mainwindow.h"

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>

using namespace corvalen;

namespace {

QTemporaryDir *tree = nullptr;
QByteArrayList commandLine; // as main() was given it

QString inTree(const QString &relative)
{
    return QDir::toNativeSeparators(tree->path() + u'/' + relative);
}

void touch(const QString &relative)
{
    QDir().mkpath(QFileInfo(tree->filePath(relative)).path());
    QFile f(tree->filePath(relative));
    QVERIFY(f.open(QIODevice::WriteOnly));
}

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void pathsJoinTheListAsDropped();
    void commandWordsStayReserved_data();
    void commandWordsStayReserved();
    void windowsArguments_data();
    void windowsArguments();
    void display_data();
    void display();
    void refusedWithoutAnAbort_data();
    void refusedWithoutAnAbort();
    void startRemovesOldExportFolders();
};

void TestStartup::pathsJoinTheListAsDropped()
{
    QTemporaryDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
    touch(u"b.txt"_qs);
    touch(u"count"_qs);
    touch(u"F/y.txt"_qs);
    touch(u"F/x.txt"_qs);
    touch(u"F/sub/z.txt"_qs);

    ScriptedPrompter prompter;
    ProgramWindows windows(prompter, tree->path());
    MainWindow &window = windows.mainWindow();
    QVERIFY(window.fileList()->paths().isEmpty()); // the start-up is done before
    const WindowsStart start = readWindowsStart(commandLine, {"offscreen", {}, {}});
    QCOMPARE(start.problem, WindowsStart::Problem::None);
    showMainWindow(window, start.paths);
    QVERIFY(window.isVisible());
    QTRY_VERIFY(window.scanQueue()->isIdle());
    QCOMPARE(window.fileList()->paths(),
             (QStringList{inTree(u"b.txt"_qs), inTree(u"F/x.txt"_qs), inTree(u"F/y.txt"_qs),
                          inTree(u"F/sub/z.txt"_qs), inTree(u"count"_qs), inTree(u"gone.doc"_qs)}));
    QVERIFY2(prompter.isSatisfied(), qPrintable(prompter.problems()));
}

void TestStartup::commandWordsStayReserved_data()
{
    QTest::addColumn<QByteArrayList>("arguments");
    QTest::addColumn<bool>("commandLine");
    QTest::newRow("count") << QByteArrayList{"count", "a.txt"} << true;
    QTest::newRow("help") << QByteArrayList{"--help"} << true;
    QTest::newRow("a file named count") << QByteArrayList{"./count"} << false;
    QTest::newRow("paths") << QByteArrayList{"a.txt", "count"} << false;
    QTest::newRow("nothing") << QByteArrayList{} << false;
}

void TestStartup::commandWordsStayReserved()
{
    QFETCH(QByteArrayList, arguments);
    QFETCH(bool, commandLine);
    arguments.prepend("corvalen");
    std::vector<char *> argv;
    for (QByteArray &a : arguments)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    QCOMPARE(isCommandLine(int(arguments.size()), argv.data()), commandLine);
}

void TestStartup::windowsArguments_data()
{
    QTest::addColumn<QByteArrayList>("arguments");
    QTest::addColumn<QByteArrayList>("qt"); // what QApplication is given after the program's name
    QTest::addColumn<QStringList>("paths");
    QTest::addColumn<QString>("unknown"); // the option refused; empty: none

    QTest::newRow("paths") << QByteArrayList{"a.txt", "F/"} << QByteArrayList{}
                           << QStringList{u"a.txt"_qs, u"F/"_qs} << QString();
    QTest::newRow("Qt's options among the paths")
            << QByteArrayList{"a.txt", "-platform", "offscreen", "--style", "fusion", "-reverse",
                              "-stylesheet=x.qss", "-session", "s1", "b.txt"}
            << QByteArrayList{"-platform", "offscreen", "--style", "fusion", "-reverse", "-stylesheet=x.qss",
                              "-session", "s1"}
            << QStringList{u"a.txt"_qs, u"b.txt"_qs} << QString();
    QTest::newRow("count forgotten") << QByteArrayList{"--combined", "a.txt"} << QByteArrayList{}
                                     << QStringList{u"a.txt"_qs} << u"--combined"_qs;
    QTest::newRow("standard input") << QByteArrayList{"a.txt", "-"} << QByteArrayList{}
                                    << QStringList{u"a.txt"_qs} << u"-"_qs;
    QTest::newRow("short option") << QByteArrayList{"-o", "out.tsv"} << QByteArrayList{}
                                  << QStringList{u"out.tsv"_qs} << u"-o"_qs;
    QTest::newRow("-- ends the options")
            << QByteArrayList{"-platform", "offscreen", "--", "--combined", "-", "-platform", "--", "a.txt"}
            << QByteArrayList{"-platform", "offscreen"}
            << QStringList{u"--combined"_qs, u"-"_qs, u"-platform"_qs, u"--"_qs, u"a.txt"_qs} << QString();
    QTest::newRow("Qt's option without its value") << QByteArrayList{"a.txt", "-style"} << QByteArrayList{}
                                                   << QStringList{u"a.txt"_qs} << u"-style"_qs;
}

void TestStartup::windowsArguments()
{
    QFETCH(QByteArrayList, arguments);
    QFETCH(QByteArrayList, qt);
    QFETCH(QStringList, paths);
    QFETCH(QString, unknown);
    arguments.prepend("corvalen");
    const WindowsStart start = readWindowsStart(arguments, {"offscreen", {}, {}});
    QCOMPARE(start.problem, unknown.isEmpty() ? WindowsStart::Problem::None : WindowsStart::Problem::UnknownOption);
    QCOMPARE(start.option, unknown);
    QCOMPARE(start.qtArguments, QByteArrayList{"corvalen"} + qt);
    QCOMPARE(start.paths, paths);
    if (!unknown.isEmpty()) {
        QVERIFY2(start.message().contains(u"corvalen count"_qs), qPrintable(start.message()));
        QVERIFY2(start.message().contains(u'\'' + unknown + u'\''), qPrintable(start.message()));
    }
}

void TestStartup::display_data()
{
    QTest::addColumn<QByteArrayList>("arguments");
    QTest::addColumn<QByteArray>("platform"); // QT_QPA_PLATFORM
    QTest::addColumn<QByteArray>("x11");
    QTest::addColumn<QByteArray>("wayland");
    QTest::addColumn<bool>("shown");

    QTest::newRow("nothing set") << QByteArrayList{} << QByteArray() << QByteArray() << QByteArray() << false;
    QTest::newRow("X11") << QByteArrayList{} << QByteArray() << QByteArray(":0") << QByteArray() << true;
    QTest::newRow("Wayland") << QByteArrayList{} << QByteArray() << QByteArray() << QByteArray("wayland-0") << true;
    QTest::newRow("offscreen") << QByteArrayList{} << QByteArray("offscreen") << QByteArray() << QByteArray() << true;
    QTest::newRow("minimal with options") << QByteArrayList{} << QByteArray("minimal:enable_fonts")
                                          << QByteArray() << QByteArray() << true;
    QTest::newRow("xcb without DISPLAY") << QByteArrayList{} << QByteArray("xcb") << QByteArray()
                                         << QByteArray("wayland-0") << false;
    QTest::newRow("wayland, then xcb") << QByteArrayList{} << QByteArray("wayland;xcb") << QByteArray(":1")
                                       << QByteArray() << true;
    QTest::newRow("-platform offscreen") << QByteArrayList{"-platform", "offscreen"} << QByteArray()
                                         << QByteArray() << QByteArray() << true;
    QTest::newRow("-platform xcb over offscreen") << QByteArrayList{"--platform", "xcb"} << QByteArray("offscreen")
                                                  << QByteArray() << QByteArray() << false;
    QTest::newRow("-display") << QByteArrayList{"-display", ":3"} << QByteArray() << QByteArray() << QByteArray()
                              << true;
}

void TestStartup::display()
{
    QFETCH(QByteArrayList, arguments);
    QFETCH(QByteArray, platform);
    QFETCH(QByteArray, x11);
    QFETCH(QByteArray, wayland);
    QFETCH(bool, shown);
    arguments.prepend("corvalen");
    arguments << "a.txt";
    const WindowsStart start = readWindowsStart(arguments, {platform, x11, wayland});
    QCOMPARE(start.problem, shown ? WindowsStart::Problem::None : WindowsStart::Problem::NoDisplay);
    QCOMPARE(start.paths, QStringList{u"a.txt"_qs});
    if (!shown)
        QVERIFY2(start.message().contains(u"corvalen count"_qs), qPrintable(start.message()));
}

void TestStartup::refusedWithoutAnAbort_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("platform"); // QT_QPA_PLATFORM
    QTest::addColumn<QString>("display"); // DISPLAY
    QTest::addColumn<QString>("says");

    QTest::newRow("count forgotten, no display") << QStringList{u"--combined"_qs, u"a.txt"_qs} << QString()
                                                 << QString() << u"unknown option '--combined'"_qs;
    QTest::newRow("count forgotten, offscreen") << QStringList{u"--combined"_qs, u"a.txt"_qs}
                                                << u"offscreen"_qs << QString()
                                                << u"unknown option '--combined'"_qs;
    QTest::newRow("no display") << QStringList{u"a.txt"_qs} << QString() << QString()
                                << u"the windows need a display"_qs;
    QTest::newRow("a display nobody answers on") << QStringList{u"a.txt"_qs} << u"xcb"_qs
                                                 << u":4711"_qs << u"the windows could not be shown"_qs;
    QTest::newRow("no such platform") << QStringList{u"a.txt"_qs} << u"nonesuch"_qs << QString()
                                      << u"the windows could not be shown"_qs;
}

void TestStartup::refusedWithoutAnAbort()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, platform);
    QFETCH(QString, display);
    QFETCH(QString, says);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString &name : {u"QT_QPA_PLATFORM"_qs, u"DISPLAY"_qs, u"WAYLAND_DISPLAY"_qs})
        environment.remove(name);
    if (!platform.isEmpty())
        environment.insert(u"QT_QPA_PLATFORM"_qs, platform);
    if (!display.isEmpty())
        environment.insert(u"DISPLAY"_qs, display);
    QProcess corvalen;
    corvalen.setProcessEnvironment(environment);
    corvalen.start(QStringLiteral(CORVALEN_BIN_DIR "/corvalen"), arguments);
    QVERIFY(corvalen.waitForFinished(60000));
    const QString err = QString::fromLocal8Bit(corvalen.readAllStandardError());
    QCOMPARE(corvalen.exitStatus(), QProcess::NormalExit); // no abort
    QCOMPARE(corvalen.exitCode(), 2);
    QVERIFY2(err.contains(says), qPrintable(err));
    QVERIFY2(err.contains(u"corvalen count"_qs), qPrintable(err));
}

// The program run to its end (it takes its pictures and quits): the export folder a day old is
// gone, today's stays.
void TestStartup::startRemovesOldExportFolders()
{
    QTemporaryDir temp;
    for (const char *name : {"corvalen-old123", "corvalen-new123"}) {
        QDir().mkpath(temp.filePath(QString::fromLatin1(name)));
        QFile book(temp.filePath(QString::fromLatin1(name) + u"/Corvalen Results.xlsx"_qs));
        QVERIFY(book.open(QIODevice::WriteOnly));
    }
    const QString old = temp.filePath(u"corvalen-old123"_qs);
    const timespec twoDaysAgo{time_t(QDateTime::currentSecsSinceEpoch() - 2 * 86400), 0};
    const timespec times[2] = {twoDaysAgo, twoDaysAgo};
    for (const QString &path : {QString(old + u"/Corvalen Results.xlsx"_qs), old})
        QVERIFY(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"TMPDIR"_qs, temp.path());
    environment.insert(u"QT_QPA_PLATFORM"_qs, u"offscreen"_qs);
    environment.insert(u"XDG_CONFIG_HOME"_qs, temp.filePath(u"config"_qs));
    environment.insert(u"CORVALEN_SCREENSHOTS"_qs, temp.filePath(u"pictures"_qs));
    QProcess corvalen;
    corvalen.setProcessEnvironment(environment);
    corvalen.start(QStringLiteral(CORVALEN_BIN_DIR "/corvalen"), QStringList());
    QVERIFY(corvalen.waitForFinished(120000));
    QCOMPARE(corvalen.exitCode(), 0);
    QVERIFY(!QFileInfo::exists(old));
    QVERIFY(QFileInfo::exists(temp.filePath(u"corvalen-new123/Corvalen Results.xlsx"_qs)));
}

int main(int argc, char *argv[])
{
    // The paths are relative to the current folder, as typed in a terminal; Qt's options stand
    // among them and must not become paths.
    QTemporaryDir dir;
    tree = &dir;
    QDir::setCurrent(dir.path());
    QByteArrayList words{argv[0], "b.txt", "-platform", "offscreen", "F/", "./count", "gone.doc"};
    commandLine = words;
    std::vector<char *> args;
    for (QByteArray &w : words)
        args.push_back(w.data());
    args.push_back(nullptr);
    int count = int(words.size());
    QApplication app(count, args.data());
    TestStartup test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_startup.moc"
