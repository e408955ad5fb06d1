#include "filelist/folderscan.h"
#include "support/permissions.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace corvalen;

class TestFolderScan : public QObject
{
    Q_OBJECT

private slots:
    void joinPath_data();
    void joinPath();
    void exampleTree();
    void patterns_data();
    void patterns();
    void levelsAreBreadthFirstAndCaseInsensitive();
    void symlinkLoopVisitsEachFolderOnce();
    void cancelStopsTheScan();
    void missingFolderGivesNoFiles();
    void manyFiles();
    void foldersThatGiveNoFiles_data();
    void foldersThatGiveNoFiles();

private:
    static void touch(const QString &path)
    {
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        QVERIFY2(f.open(QIODevice::WriteOnly), qPrintable(path));
    }
    // Paths relative to root, with "/" separators, for readable comparisons.
    static QStringList relative(const QString &root, const QStringList &paths)
    {
        QStringList out;
        for (const QString &p : paths)
            out << QDir(root).relativeFilePath(QDir::fromNativeSeparators(p));
        return out;
    }
};

void TestFolderScan::joinPath_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected");
    QTest::newRow("plain") << "/r/s" << "a.doc" << "/r/s/a.doc";
    QTest::newRow("trailing separator not doubled") << "/r/s/" << "a.doc" << "/r/s/a.doc";
    QTest::newRow("root") << "/" << "a.doc" << "/a.doc";
    QTest::newRow("relative") << "r" << "a.doc" << "r/a.doc";
    QTest::newRow("no folder") << "" << "a.doc" << "a.doc";
}

void TestFolderScan::joinPath()
{
    QFETCH(QString, folder);
    QFETCH(QString, name);
    QFETCH(QString, expected);
    QCOMPARE(corvalen::joinPath(folder, name), QDir::toNativeSeparators(expected));
}

// The tree R with a.doc, A (a1.doc, A1 with x.doc) and B (b1.doc), plus what a scan leaves out.
void TestFolderScan::exampleTree()
{
    QTemporaryDir tmp;
    const QString r = tmp.path() + u"/R";
    for (const char *f : {"a.doc", "A/a1.doc", "A/A1/x.doc", "B/b1.doc", "B/~$b1.doc", "~temp.doc",
                          ".hidden.doc", ".hid/y.doc", "A/.git/z.doc", "B/.~lock.b1.doc#", "B/notes.txt"})
        touch(r + u'/' + QString::fromUtf8(f));

    QCOMPARE(relative(r, scanFolderTree(r, QStringLiteral("*.doc"))),
             QStringList({".hidden.doc", "a.doc", "A/a1.doc", "B/b1.doc", "A/A1/x.doc"}));
    QCOMPARE(relative(r, scanFolderTree(r + u'/', QStringLiteral("*.*"))),
             QStringList({".hidden.doc", "a.doc", "A/a1.doc", "B/b1.doc", "B/notes.txt", "A/A1/x.doc"}));
    QCOMPARE(relative(r, collectSubFolders(r)), QStringList({".", "A", "B", "A/A1"}));
    QCOMPARE(collectSubFolders(r + u'/').constFirst(), QDir::toNativeSeparators(r));
    // The listing itself keeps "~" files: leaving them out is the scan's rule.
    QCOMPARE(listFolderFiles(r, QStringLiteral("*.doc")),
             QStringList({".hidden.doc", "a.doc", "~temp.doc"}));
    // A hidden folder named as the root is scanned: only folders found inside are skipped.
    QCOMPARE(relative(r, scanFolderTree(r + u"/.hid", QStringLiteral("*.*"))), QStringList({".hid/y.doc"}));
}

void TestFolderScan::patterns_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QStringList>("expected");
    const QStringList all{"Readme", "report.DOC", "report.doc.bak", "x.doc", "y.docx", "z..doc"};
    QTest::newRow("* (extension *)") << "*.*" << all;
    QTest::newRow("bare *") << "*" << all;
    QTest::newRow("doc, any case") << "*.doc" << QStringList({"report.DOC", "x.doc", "z..doc"});
    QTest::newRow(".doc typed with its dot") << "*..doc" << QStringList({"z..doc"});
    QTest::newRow("docx") << "*.docx" << QStringList({"y.docx"});
    QTest::newRow("question mark") << "?.doc*" << QStringList({"x.doc", "y.docx"});
    QTest::newRow("no match") << "*.pdf" << QStringList();
}

void TestFolderScan::patterns()
{
    QFETCH(QString, pattern);
    QFETCH(QStringList, expected);
    QTemporaryDir tmp;
    for (const char *f : {"x.doc", "report.DOC", "y.docx", "report.doc.bak", "Readme", "z..doc"})
        touch(tmp.filePath(QString::fromUtf8(f)));
    QDir().mkdir(tmp.filePath(QStringLiteral("folder.doc")));
    QCOMPARE(listFolderFiles(tmp.path(), pattern), expected);
}

void TestFolderScan::levelsAreBreadthFirstAndCaseInsensitive()
{
    QTemporaryDir tmp;
    const QString r = tmp.path();
    for (const char *f : {"b/deep/1.txt", "B2/2.txt", "a/3.txt", "C/4.txt", "a/aa/aaa/5.txt", "c0.txt", "A0.txt"})
        touch(r + u'/' + QString::fromUtf8(f));
    QCOMPARE(relative(r, scanFolderTree(r, QStringLiteral("*.*"))),
             QStringList({"A0.txt", "c0.txt", "a/3.txt", "B2/2.txt", "C/4.txt", "b/deep/1.txt",
                          "a/aa/aaa/5.txt"}));
}

void TestFolderScan::symlinkLoopVisitsEachFolderOnce()
{
    QTemporaryDir tmp;
    const QString r = tmp.path() + u"/R";
    touch(r + u"/A/A1/x.doc");
    touch(r + u"/B/b.doc");
    if (!QFile::link(r, r + u"/A/A1/up") || !QFile::link(r + u"/B", r + u"/Z"))
        QSKIP("symbolic links are not available here");
    QCOMPARE(relative(r, collectSubFolders(r)), QStringList({".", "A", "B", "A/A1"}));
    QCOMPARE(relative(r, scanFolderTree(r, QStringLiteral("*.*"))), QStringList({"B/b.doc", "A/A1/x.doc"}));
    // Reached first through the link, the folder is listed under the link's name.
    const QString other = tmp.path() + u"/S";
    QVERIFY(QDir().mkpath(other + u"/zz"));
    QVERIFY(QFile::link(r + u"/B", other + u"/aa"));
    QVERIFY(QFile::link(r + u"/B", other + u"/zz/bb"));
    QCOMPARE(relative(other, scanFolderTree(other, QStringLiteral("*"))), QStringList({"aa/b.doc"}));
}

void TestFolderScan::cancelStopsTheScan()
{
    QTemporaryDir tmp;
    for (int i = 0; i < 5; ++i)
        touch(tmp.path() + u"/d" + QString::number(i) + u"/f.txt");
    int calls = 0;
    const QStringList paths = scanFolderTree(tmp.path(), QStringLiteral("*.*"), [&] { return ++calls > 2; });
    QVERIFY(paths.size() < 5);
}

void TestFolderScan::missingFolderGivesNoFiles()
{
    QTemporaryDir tmp;
    QCOMPARE(scanFolderTree(tmp.filePath(QStringLiteral("nothing")), QStringLiteral("*.*")), QStringList());
    QCOMPARE(listFolderFiles(tmp.filePath(QStringLiteral("nothing")), QStringLiteral("*.*")), QStringList());
}

void TestFolderScan::manyFiles()
{
    QTemporaryDir tmp;
    QStringList expected;
    for (int d = 0; d < 20; ++d) {
        const QString dir = QStringLiteral("d%1").arg(d, 2, 10, QLatin1Char('0'));
        QVERIFY(QDir(tmp.path()).mkdir(dir));
        for (int i = 0; i < 250; ++i) {
            const QString name = QStringLiteral("f%1.txt").arg(i, 4, 10, QLatin1Char('0'));
            QFile f(tmp.path() + u'/' + dir + u'/' + name);
            QVERIFY(f.open(QIODevice::WriteOnly));
            expected << dir + u'/' + name;
        }
    }
    QCOMPARE(relative(tmp.path(), scanFolderTree(tmp.path(), QStringLiteral("*.txt"))), expected);
}

void TestFolderScan::foldersThatGiveNoFiles_data()
{
    // Paths relative to the tree: "locked" and "inner" can be entered by nobody.
    QTest::addColumn<QStringList>("named");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("unreadable");
    QTest::addColumn<QStringList>("withoutFiles");
    QTest::newRow("tree with a locked folder")
            << QStringList{"R"} << QStringList{"R/a.txt", "R/open/y.txt"}
            << QStringList{"R/locked", "R/outer/inner"}
            << QStringList();
    QTest::newRow("locked folder named") << QStringList{"R/locked"} << QStringList()
                                         << QStringList{"R/locked"} << QStringList();
    QTest::newRow("locked folder deep in a tree without files")
            << QStringList{"R/outer"} << QStringList() << QStringList{"R/outer/inner"} << QStringList();
    QTest::newRow("empty folder named") << QStringList{"R/empty"} << QStringList() << QStringList()
                                        << QStringList{"R/empty"};
    QTest::newRow("folder of files a scan leaves out")
            << QStringList{"R/tilde"} << QStringList() << QStringList() << QStringList{"R/tilde"};
    QTest::newRow("files and folders in order")
            << QStringList{"R/a.txt", "R/empty", "R/open", "R/gone.txt"}
            << QStringList{"R/a.txt", "R/open/y.txt", "R/gone.txt"} << QStringList()
            << QStringList{"R/empty"};
}

// A folder that cannot be listed gives no files, as an empty one does: the scan tells them apart.
void TestFolderScan::foldersThatGiveNoFiles()
{
    QFETCH(QStringList, named);
    QFETCH(QStringList, files);
    QFETCH(QStringList, unreadable);
    QFETCH(QStringList, withoutFiles);
    QTemporaryDir tmp;
    const QString t = tmp.path();
    touch(t + u"/R/a.txt");
    touch(t + u"/R/open/y.txt");
    touch(t + u"/R/locked/x.txt");
    touch(t + u"/R/outer/inner/z.txt");
    touch(t + u"/R/tilde/~$x.txt");
    QVERIFY(QDir().mkpath(t + u"/R/empty"));
    const QStringList locked{t + u"/R/locked", t + u"/R/outer/inner"};
    for (const QString &folder : locked)
        QVERIFY(QFile::setPermissions(folder, {}));
    const auto unlock = qScopeGuard([&] {
        for (const QString &folder : locked)
            QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    });
    const auto absolute = [&t](const QStringList &relative) {
        QStringList out;
        for (const QString &r : relative)
            out << QDir::toNativeSeparators(t + u'/' + r);
        return out;
    };

    PermissionsBindThisThread binding;
    if (!binding.ok())
        QSKIP("permission bits do not bind this process");
    DropScanNotes notes;
    const QStringList found = pathsAsDropped(absolute(named), {}, &notes);
    QCOMPARE(found, absolute(files));
    QStringList unreadablePaths;
    for (const UnreadableFolder &u : std::as_const(notes.unreadable)) {
        unreadablePaths << u.path;
        QVERIFY(!u.reason.isEmpty());
    }
    QCOMPARE(unreadablePaths, absolute(unreadable));
    QCOMPARE(notes.withoutFiles, absolute(withoutFiles));
    // Without notes the scan gives the same files (the windows' scans).
    QCOMPARE(pathsAsDropped(absolute(named)), found);
}

QTEST_GUILESS_MAIN(TestFolderScan)
#include "tst_folderscan.moc"
