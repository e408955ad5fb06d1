// The windows started as "corvalen PATH...", the way a file manager's "Open With" starts them:
// the program is given its own command line, Qt's options among the paths.
#include "support/scriptedprompter.h"

#include "app/application.h"
#include "app/programwindows.h"
#include "cli/commandline.h"
#include "filelist/scanqueue.h"
#include "windows/filelistmodel.h"
#include "windows/mainwindow.h"

#include <QApplication>
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace corvalen;

namespace {

QTemporaryDir *tree = nullptr;

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
    showMainWindow(window, QCoreApplication::arguments());
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

int main(int argc, char *argv[])
{
    // The paths are relative to the current folder, as typed in a terminal; Qt's options stand
    // among them and must not become paths.
    QTemporaryDir dir;
    tree = &dir;
    QDir::setCurrent(dir.path());
    QByteArrayList words{argv[0], "b.txt", "-platform", "offscreen", "F/", "./count", "gone.doc"};
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
