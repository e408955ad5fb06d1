#include "base/errorreport.h"
#include "cli/prefetchingsource.h"
#include "cli/rowspill.h"
#include "engine/analysisrun.h"
#include "results/resultlayouts.h"
#include "results/spreadsheetlayout.h"
#include "support/permissions.h"
#include "support/zipentries.h"

#include <QDir>
#include <QBuffer>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

using namespace corvalen;
using corvalen::testing::sheetsOf;
using corvalen::testing::unzip;

namespace {

struct Run
{
    int exitCode = -1;
    QByteArray out, err;
};

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Lone surrogates cannot be written as literals.
QString units(std::initializer_list<char16_t> u)
{
    return QString(reinterpret_cast<const QChar *>(u.begin()), qsizetype(u.size()));
}

// A block of rows as a test table holds it: the file name, then word and count by turns.
QStringList block(const QString &fileName, const std::vector<WordCount> &rows)
{
    QStringList b{fileName};
    for (const WordCount &wc : rows)
        b << wc.word << QString::number(wc.count);
    return b;
}

std::vector<WordCount> rowsOf(const QStringList &block)
{
    std::vector<WordCount> rows;
    for (qsizetype i = 1; i + 1 < block.size(); i += 2)
        rows.push_back({block.at(i), block.at(i + 1).toLongLong()});
    return rows;
}

QByteArray textLayout(const ResultRows &rows, const QStringList &headers, const QList<qsizetype> &widths)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QString error;
    if (!writeResultsText(rows, headers, widths, buffer, &error))
        qWarning() << error;
    return buffer.data();
}

QByteArray clipboardLayout(const ResultRows &rows, const QList<qsizetype> &widths)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QString error;
    if (!writeClipboardText(rows, widths, buffer, &error))
        qWarning() << error;
    return buffer.data();
}

// The largest resident memory of one run of the program, output thrown away, in bytes; -1 when it
// did not run to a successful end.
qint64 peakMemory(const QString &program, const QStringList &args)
{
    QList<QByteArray> words{QFile::encodeName(program)};
    for (const QString &a : args)
        words << QFile::encodeName(a);
    std::vector<char *> argv;
    for (QByteArray &w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return -1;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return qint64(usage.ru_maxrss) * 1024;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly), qPrintable(path));
    f.write(bytes);
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void matchesReferenceCounter_data();
    void matchesReferenceCounter();
    void sharedCorpusTextFiles();
    void layouts_data();
    void layouts();
    void spreadsheetOutput();
    void unreadableFileIsReportedAndTheRunGoesOn();
    void usageErrors_data();
    void usageErrors();
    void helpAndVersion_data();
    void helpAndVersion();
    void spillGivesTheTableLayouts_data();
    void spillGivesTheTableLayouts();
    void spillThatCannotBeWritten();
    void perFileOutputMatchesTheTableLayouts_data();
    void perFileOutputMatchesTheTableLayouts();
    void outputIsReplacedOnlyWhenComplete();
    void outputFolderMissing();
    void pathsFromStandardInput();
    void folderScanRules();
    void foldersThatGiveNoFilesAreNamed();
    void enormousWordTakesAboutTwiceItsSize_data();
    void enormousWordTakesAboutTwiceItsSize();
    void readAheadKeepsTheOutcomeOfEachFile();

private:
    // corvalen count ARGS...
    Run run(const QStringList &args, const QByteArray &input = {},
            const std::function<void()> &childSetup = {},
            const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment()) const;
    // corvalen ARGS...
    Run execute(const QStringList &args, const QByteArray &input = {},
                const std::function<void()> &childSetup = {},
                const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment()) const;
    Run oracle(const QStringList &args) const;

    QString m_bin;
    QString m_python;
    QTemporaryDir m_tmp;
    QStringList m_corpusFiles; // in scan order
};

Run TestCli::run(const QStringList &args, const QByteArray &input,
                 const std::function<void()> &childSetup, const QProcessEnvironment &environment) const
{
    return execute(QStringList{u"count"_qs} + args, input, childSetup, environment);
}

Run TestCli::execute(const QStringList &args, const QByteArray &input,
                     const std::function<void()> &childSetup, const QProcessEnvironment &environment) const
{
    QProcess p;
    p.setProcessEnvironment(environment);
    if (childSetup)
        p.setChildProcessModifier(childSetup);
    p.start(m_bin, args);
    if (!p.waitForStarted())
        return {};
    p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(300000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
            p.readAllStandardError()};
}

Run TestCli::oracle(const QStringList &args) const
{
    QProcess p;
    p.start(m_python, QStringList{QStringLiteral(CORVALEN_SHARED_DIR "/bench/oracle.py")} + args);
    p.waitForFinished(300000);
    return {p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError()};
}

void TestCli::initTestCase()
{
    m_bin = QStringLiteral(CORVALEN_BIN_DIR "/corvalen");
    QVERIFY2(QFileInfo::exists(m_bin), "build the corvalen target first");
    m_python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    // The reference counter and the corpus generator live beside the project, not in it.
    if (!QFileInfo::exists(QStringLiteral(CORVALEN_SHARED_DIR "/bench/oracle.py")))
        m_python.clear();
    if (m_python.isEmpty())
        return;
    QProcess make;
    make.start(m_python, {QStringLiteral(CORVALEN_SHARED_DIR "/bench/make_corpus.py"), u"--size"_qs, u"0.3"_qs,
                          u"--files"_qs, u"5"_qs, u"--out"_qs, m_tmp.filePath(u"corpus"_qs)});
    QVERIFY(make.waitForFinished(300000));
    QCOMPARE(make.exitCode(), 0);
    QDirIterator it(m_tmp.filePath(u"corpus"_qs), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        m_corpusFiles << it.next();
    m_corpusFiles.sort(); // the generator's folder and file names sort the same either way
    QCOMPARE(m_corpusFiles.size(), 5);
}

void TestCli::matchesReferenceCounter_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QStringList>("oracleOptions");
    QTest::newRow("defaults: per file, case ignored, names")
            << QStringList() << QStringList{u"--per-file"_qs, u"--ignore-case"_qs, u"--with-filename"_qs};
    QTest::newRow("per file without names, case kept")
            << QStringList{u"--no-filename"_qs, u"--keep-case"_qs} << QStringList{u"--per-file"_qs};
    QTest::newRow("combined, case kept") << QStringList{u"--combined"_qs, u"--keep-case"_qs} << QStringList();
    QTest::newRow("combined, case ignored, names ignored")
            << QStringList{u"--combined"_qs, u"--filename"_qs} << QStringList{u"--ignore-case"_qs};
}

void TestCli::matchesReferenceCounter()
{
    QFETCH(QStringList, options);
    QFETCH(QStringList, oracleOptions);
    if (m_python.isEmpty())
        QSKIP("python3 or the reference counter is missing");
    const Run r = run(options + QStringList{m_tmp.filePath(u"corpus"_qs)});
    const Run o = oracle(oracleOptions + m_corpusFiles);
    QCOMPARE(r.exitCode, 0);
    QVERIFY(o.out.size() > 10000);
    QCOMPARE(r.out.size(), o.out.size());
    QVERIFY(r.out == o.out);
    QCOMPARE(r.err, " Word Count: " + o.err.trimmed().mid(6) + '\n'); // oracle: "total N"
}

void TestCli::sharedCorpusTextFiles()
{
    if (m_python.isEmpty())
        QSKIP("python3 or the reference counter is missing");
    QStringList files;
    QDirIterator it(QStringLiteral(CORVALEN_SHARED_DIR "/corpus"), {u"*.txt"_qs}, QDir::Files);
    while (it.hasNext()) {
        const QString path = it.next();
        if (path.endsWith(u".expected.txt") || path.endsWith(u".main.txt"))
            continue;
        // The reference counter reads UTF-8 only.
        QStringDecoder utf8(QStringDecoder::Utf8);
        const QString text = utf8(readFile(path));
        if (!utf8.hasError() && !text.contains(QChar(0)))
            files << path;
    }
    files.sort();
    if (files.isEmpty())
        QSKIP("no UTF-8 text files in the shared corpus");
    for (const QString &f : std::as_const(files)) {
        const Run r = run({u"--keep-case"_qs, f});
        const Run o = oracle({u"--per-file"_qs, u"--with-filename"_qs, f});
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.out == o.out, qPrintable(f));
    }
    const Run r = run(QStringList{u"--combined"_qs} + files);
    const Run o = oracle(QStringList{u"--ignore-case"_qs} + files);
    QVERIFY(r.out == o.out);
}

void TestCli::layouts_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("expected");
    // a.txt: "Apple apple fig" and a line "apple=12 Fig."; b.txt: "b".
    QTest::newRow("tsv, per file with names")
            << QStringList() << QByteArray("a.txt\tapple12\t1\r\na.txt\tapple  \t2\r\n"
                                           "a.txt\tfig    \t2\r\nb.txt\tb      \t1\r\n");
    QTest::newRow("text, per file with names")
            << QStringList{u"--format"_qs, u"text"_qs}
            << QByteArray("Filename\t Word  \tCount\t\r\n"
                          "a.txt   \tapple12\t1    \t\r\n"
                          "a.txt   \tapple  \t2    \t\r\n"
                          "a.txt   \tfig    \t2    \t\r\n"
                          "b.txt   \tb      \t1    \t\r\n\r\n");
    QTest::newRow("text, combined, case kept")
            << QStringList{u"--format"_qs, u"text"_qs, u"--combined"_qs, u"--keep-case"_qs}
            << QByteArray(" Word  \tCount\t\r\n"
                          "Apple  \t1    \t\r\n"
                          "Fig    \t1    \t\r\n"
                          "apple  \t1    \t\r\n"
                          "apple12\t1    \t\r\n"
                          "b      \t1    \t\r\n"
                          "fig    \t1    \t\r\n\r\n");
    QTest::newRow("tsv, per file without names")
            << QStringList{u"--no-filename"_qs} << QByteArray("apple12\t1\r\napple  \t2\r\nfig    \t2\r\nb      \t1\r\n");
}

void TestCli::layouts()
{
    QFETCH(QStringList, options);
    QFETCH(QByteArray, expected);
    QTemporaryDir tmp;
    writeFile(tmp.filePath(u"a.txt"_qs), "Apple apple fig\napple=12 Fig.");
    writeFile(tmp.filePath(u"b.txt"_qs), "b");
    const QStringList files{tmp.filePath(u"a.txt"_qs), tmp.filePath(u"b.txt"_qs)};
    Run r = run(options + files);
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, expected);
    QCOMPARE(r.err, QByteArray(" Word Count: 6\n"));
    // The same bytes into a file.
    const QString out = tmp.filePath(u"out"_qs);
    r = run(options + QStringList{u"-o"_qs, out} + files);
    QCOMPARE(r.exitCode, 0);
    QVERIFY(r.out.isEmpty());
    QCOMPARE(readFile(out), expected);
}

void TestCli::spreadsheetOutput()
{
    QTemporaryDir tmp;
    writeFile(tmp.filePath(u"a.txt"_qs), "x=y 007 007");
    const QString out = tmp.filePath(u"r.xlsx"_qs);
    const Run r = run({u"--format"_qs, u"xlsx"_qs, u"-o"_qs, out, tmp.filePath(u"a.txt"_qs)});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.err, QByteArray(" Word Count: 3\n"));
    const QByteArray xml = unzip(out, "xl/worksheets/sheet1.xml");
    QVERIFY(!xml.isEmpty());
    // Per file with names: "=" goes from the word column; counts are numbers, 007 stays text.
    QVERIFY(xml.contains("<t>Filename</t>"));
    QVERIFY(xml.contains("<t>xy</t>"));
    QVERIFY(xml.contains("<t>007</t>"));
    QVERIFY(xml.contains("<c r=\"C3\"><v>2</v></c>"));
}

void TestCli::unreadableFileIsReportedAndTheRunGoesOn()
{
    QTemporaryDir tmp;
    writeFile(tmp.filePath(u"a.txt"_qs), "one two two");
    const QString missing = tmp.filePath(u"missing.txt"_qs);
    const Run r = run({u"--no-filename"_qs, missing, tmp.filePath(u"a.txt"_qs)});
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.out, QByteArray("one\t1\r\ntwo\t2\r\n"));
    // The message box's text, one line per line, for the first failing step of the reader.
    QString first = errorReportText(u"The file "_qs + missing + u" does not exist."_qs,
                                    QString::fromUtf16(kReaderTag), 106);
    first.replace(u"\r\n"_qs, u"\n"_qs).replace(u'\r', u'\n');
    QVERIFY2(r.err.startsWith(QByteArray(first.toUtf8() + '\n')), r.err.constData());
    QVERIFY(r.err.endsWith("\n Word Count: 3\n"));

    // Files are read ahead on another thread; their reports still come in list order.
    QStringList args{u"--combined"_qs};
    for (int i = 0; i < 6; ++i)
        args << tmp.filePath(u"gone"_qs + QString::number(i)) << tmp.filePath(u"a.txt"_qs);
    const Run many = run(args);
    QCOMPARE(many.exitCode, 1);
    QCOMPARE(many.out, QByteArray("one\t6\r\ntwo\t12\r\n"));
    qsizetype at = 0;
    for (int i = 0; i < 6; ++i) {
        const qsizetype found = many.err.indexOf(QFile::encodeName(tmp.filePath(u"gone"_qs + QString::number(i))), at);
        QVERIFY2(found >= at, many.err.constData());
        at = found;
    }
}

void TestCli::usageErrors_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("message");
    QTest::newRow("no path") << QStringList{u"count"_qs} << QByteArray("no PATH given");
    QTest::newRow("unknown option") << QStringList{u"count"_qs, u"--frobnicate"_qs, u"x"_qs}
                                    << QByteArray("frobnicate");
    QTest::newRow("both modes") << QStringList{u"count"_qs, u"--combined"_qs, u"--per-file"_qs, u"x"_qs}
                                << QByteArray("--combined and --per-file");
    QTest::newRow("both cases") << QStringList{u"count"_qs, u"--ignore-case"_qs, u"--keep-case"_qs, u"x"_qs}
                                << QByteArray("--ignore-case and --keep-case");
    QTest::newRow("unknown format") << QStringList{u"count"_qs, u"--format"_qs, u"csv"_qs, u"x"_qs}
                                    << QByteArray("csv");
    QTest::newRow("xlsx without -o") << QStringList{u"count"_qs, u"--format"_qs, u"xlsx"_qs, u"x"_qs}
                                     << QByteArray("-o");
    QTest::newRow("-o without file") << QStringList{u"count"_qs, u"x"_qs, u"-o"_qs} << QByteArray("-o");
}

void TestCli::usageErrors()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, message);
    const Run r = execute(args);
    QCOMPARE(r.exitCode, 2);
    QVERIFY(r.out.isEmpty());
    QVERIFY2(r.err.contains(message), r.err.constData());
    QVERIFY(!r.err.contains("Word Count"));
}

void TestCli::helpAndVersion_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("--help") << QStringList{u"--help"_qs} << QByteArray("corvalen count [OPTIONS] PATH...");
    QTest::newRow("count --help") << QStringList{u"count"_qs, u"--help"_qs} << QByteArray("--no-filename");
    QTest::newRow("--version") << QStringList{u"--version"_qs} << QByteArray("Corvalen ");
    QTest::newRow("-v") << QStringList{u"-v"_qs} << QByteArray("Corvalen ");
    QTest::newRow("count --version") << QStringList{u"count"_qs, u"--version"_qs} << QByteArray("Corvalen ");
}

void TestCli::helpAndVersion()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, expected);
    const Run r = execute(args);
    QCOMPARE(r.exitCode, 0);
    QVERIFY(r.out.contains(expected));
}

void TestCli::spillGivesTheTableLayouts_data()
{
    QTest::addColumn<bool>("fileNameColumn");
    QTest::addColumn<QList<QStringList>>("blocks");
    const QString longName = u"a-file-name-wider-than-every-word.txt"_qs;
    QTest::newRow("file name wider than every word")
            << true << QList<QStringList>{block(longName, {{u"x"_qs, 1}, {u"yy"_qs, 22}}),
                                          block(u"b"_qs, {{u"zzz"_qs, 3}})};
    // One byte per character up to U+00FF, UTF-16 from U+0100: both, and their mixture, and
    // halves of surrogate pairs, must come back unchanged.
    QTest::newRow("non-ASCII words and names")
            << true << QList<QStringList>{block(u"\u00fcber.txt"_qs, {{u"caf\u00e9"_qs, 1}, {u"\u00ff"_qs, 1},
                                                                     {u"\u0100"_qs, 2}, {u"\u4e2d\u6587"_qs, 2},
                                                                     {u"a\u00e9\u4e2d"_qs, 3}}),
                                          block(u"\u4e2d.txt"_qs, {{u"\U0001F600"_qs, 1},
                                                                  {units({u'x', 0xD801}), 1},
                                                                  {units({0xDC00, u'y'}), 4}})};
    // An empty or unreadable file hands over no rows: its long name must not widen the column.
    QTest::newRow("empty and failed files between")
            << true << QList<QStringList>{block(u"a.txt"_qs, {{u"one"_qs, 1}}), block(longName, {}),
                                          block(u"b.txt"_qs, {{u"two"_qs, 2}}), block(longName + longName, {}),
                                          block(u"c.txt"_qs, {{u"three"_qs, 3}})};
    // Records longer than the buffer the rows are read back through.
    QTest::newRow("words longer than the read buffer")
            << true << QList<QStringList>{block(u"big"_qs, {{QString(1500000, u'a'), 1},
                                                           {QString(700000, u'\u0416'), 2}, {u"b"_qs, 3}})};
    QTest::newRow("without file names")
            << false << QList<QStringList>{block(QString(), {{u"apple"_qs, 12}, {u"fig"_qs, 3}}),
                                           block(QString(), {{u"x"_qs, 1234567890123LL}})};
    QTest::newRow("no rows") << true << QList<QStringList>{block(longName, {})};
}

// The command line writes its rows from the spill; the windows from a table. Every layout must
// give the same bytes from both, the workbook split over sheets included.
void TestCli::spillGivesTheTableLayouts()
{
    QFETCH(bool, fileNameColumn);
    QFETCH(QList<QStringList>, blocks);
    QTemporaryDir tmp;
    ResultTable table(fileNameColumn);
    RowSpill spill(fileNameColumn);
    spill.open(tmp.path());
    for (const QStringList &b : std::as_const(blocks)) {
        table.appendRows(rowsOf(b), b.at(0));
        spill.append(rowsOf(b), b.at(0));
    }
    QString error;
    QVERIFY2(spill.finishWriting(&error), qPrintable(error));
    QCOMPARE(spill.rowCount(), table.rowCount());
    QCOMPARE(spill.total(), table.total());
    const QStringList headers = resultHeaders({CountMode::PerFile, fileNameColumn, true});

    QCOMPARE(spill.widths().withHeaders(headers), columnWidths(table, headers));
    QCOMPARE(spill.widths().widths(), columnWidths(table));
    const QByteArray text = textLayout(TableRows(table), headers, columnWidths(table, headers));
    QVERIFY(text == textLayout(spill, headers, spill.widths().withHeaders(headers)));
    const QByteArray tsv = clipboardLayout(TableRows(table), columnWidths(table));
    QVERIFY(tsv == clipboardLayout(spill, spill.widths().widths()));
    QVERIFY(tsv == clipboardText(table).toUtf8());
    // Read twice: the output may be written again after a failed attempt.
    QVERIFY(tsv == clipboardLayout(spill, spill.widths().widths()));

    const QString fromTable = tmp.filePath(u"table.xlsx"_qs), fromSpill = tmp.filePath(u"spill.xlsx"_qs);
    QVERIFY2(saveResultsSpreadsheet(table, headers, fromTable, &error, 2), qPrintable(error));
    QVERIFY2(saveResultsSpreadsheet(spill, headers, fromSpill, &error, 2), qPrintable(error));
    const QList<QByteArray> sheets = sheetsOf(fromTable);
    QCOMPARE(sheets.size(), std::max<qsizetype>(1, (table.rowCount() + 1) / 2));
    QVERIFY(sheets == sheetsOf(fromSpill));
}

void TestCli::spillThatCannotBeWritten()
{
    QTemporaryDir tmp;
    const QString folder = tmp.filePath(u"no-such-folder"_qs);
    RowSpill spill(true);
    spill.open(folder);
    spill.append({{u"a"_qs, 2}, {u"b"_qs, 3}}, u"f"_qs);
    QString reason;
    QVERIFY(!spill.finishWriting(&reason));
    QVERIFY2(reason.contains(QDir::toNativeSeparators(folder)), qPrintable(reason));
    QCOMPARE(spill.total(), 5); // the total is still known
    QString error;
    int visited = 0;
    QVERIFY(!spill.forEachRow([&](const ResultRow &) { return ++visited, true; }, &error));
    QCOMPARE(visited, 0);
    QVERIFY(!error.isEmpty());

    // A full disk (here the child's file-size limit) while the rows are kept: nothing at all
    // reaches standard output, the failure is named and the run ends with status 1.
    QByteArray text;
    for (int i = 0; i < 50000; ++i)
        text += "word" + QByteArray::number(i) + ' ';
    writeFile(tmp.filePath(u"in.txt"_qs), text);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"TMPDIR"_qs, tmp.path());
    const auto limit = [] {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit r{};
        getrlimit(RLIMIT_FSIZE, &r);
        r.rlim_cur = 100000;
        setrlimit(RLIMIT_FSIZE, &r);
    };
    for (const char *format : {"tsv", "text"}) {
        const Run r = run({u"--format"_qs, QString::fromLatin1(format), tmp.filePath(u"in.txt"_qs)}, {}, limit,
                          environment);
        QCOMPARE(r.exitCode, 1);
        QVERIFY(r.out.isEmpty());
        QVERIFY2(r.err.startsWith("Could not write the results to standard output"), r.err.constData());
        QVERIFY2(r.err.contains(tmp.path().toUtf8()), r.err.constData());
        QVERIFY(r.err.endsWith(" Word Count: 50000\n"));
    }
    QCOMPARE(QDir(tmp.path()).entryList(QDir::Files | QDir::Hidden), QStringList{u"in.txt"_qs});
}

void TestCli::perFileOutputMatchesTheTableLayouts_data()
{
    QTest::addColumn<QString>("format");
    QTest::newRow("tsv") << u"tsv"_qs;
    QTest::newRow("text") << u"text"_qs;
    QTest::newRow("xlsx") << u"xlsx"_qs;
}

// The executable's per-file output, through the spill, against the windows' layouts of the same
// files counted into a table: a name wider than its words, non-ASCII words, an empty file and a
// failed file in the middle.
void TestCli::perFileOutputMatchesTheTableLayouts()
{
    QFETCH(QString, format);
    QTemporaryDir tmp;
    const QString wide = tmp.filePath(u"a file name wider than every word in it.txt"_qs);
    writeFile(tmp.filePath(u"b.txt"_qs), "Stra\xc3\x9f" "e caf\xc3\xa9 \xe4\xb8\xad\xe6\x96\x87 CAF\xc3\x89 x=y\n");
    writeFile(tmp.filePath(u"empty file with a long long long name.txt"_qs), "");
    writeFile(wide, "a b a\r\nc\n");
    const QStringList files{tmp.filePath(u"b.txt"_qs), tmp.filePath(u"missing file with the longest name of all.txt"_qs),
                            tmp.filePath(u"empty file with a long long long name.txt"_qs), wide};
    const CountOptions options;
    Utf8FileSource source;
    const ResultTable table = runAnalysis(files, options, source);
    QCOMPARE(table.rowCount(), 7); // "CAF\u00c9" is "caf\u00e9" with case ignored
    const QStringList headers = resultHeaders(options);

    const QString out = tmp.filePath(u"out."_qs + format);
    const Run r = run(QStringList{u"--format"_qs, format, u"-o"_qs, out} + files);
    QCOMPARE(r.exitCode, 1); // the missing file
    QVERIFY(r.err.endsWith(QByteArray(" Word Count: " + QByteArray::number(table.total()) + '\n')));
    if (format == u"xlsx") {
        const QString expected = tmp.filePath(u"expected.xlsx"_qs);
        QVERIFY(saveResultsSpreadsheet(table, headers, expected));
        QVERIFY(sheetsOf(out) == sheetsOf(expected));
        QCOMPARE(sheetsOf(out).size(), 1);
    } else {
        QBuffer expected;
        expected.open(QIODevice::WriteOnly);
        QVERIFY(format == u"text" ? writeResultsText(table, headers, expected) : writeClipboardText(table, expected));
        QCOMPARE(readFile(out), expected.data());
        // Standard output gets the same bytes.
        QCOMPARE(run(QStringList{u"--format"_qs, format} + files).out, expected.data());
    }
}

// A write that fails half-way (the child's file-size limit) leaves the old file as it was.
void TestCli::outputIsReplacedOnlyWhenComplete()
{
    QTemporaryDir tmp;
    QByteArray text;
    for (int i = 0; i < 50000; ++i)
        text += "word" + QByteArray::number(i) + ' ';
    writeFile(tmp.filePath(u"in.txt"_qs), text);
    const QString out = tmp.filePath(u"out.txt"_qs);
    writeFile(out, "old results");
    const auto limit = [] {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit r{};
        getrlimit(RLIMIT_FSIZE, &r);
        r.rlim_cur = 300000; // the input above is 439 KB, read only; the results are larger
        setrlimit(RLIMIT_FSIZE, &r);
    };
    for (const char *format : {"tsv", "text", "xlsx"}) {
        const Run r = run({u"--format"_qs, QString::fromLatin1(format), u"-o"_qs, out, tmp.filePath(u"in.txt"_qs)},
                          {}, limit);
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains(out.toUtf8()), r.err.constData());
        QVERIFY(r.err.endsWith(" Word Count: 50000\n"));
        QCOMPARE(readFile(out), QByteArray("old results"));
    }
    QCOMPARE(QDir(tmp.path()).entryList(QDir::Files | QDir::Hidden),
             QStringList({u"in.txt"_qs, u"out.txt"_qs}));
    // Without the limit it is replaced.
    const Run r = run({u"-o"_qs, out, tmp.filePath(u"in.txt"_qs)});
    QCOMPARE(r.exitCode, 0);
    QVERIFY(readFile(out).startsWith("in.txt\tword0"));
}

void TestCli::outputFolderMissing()
{
    QTemporaryDir tmp;
    writeFile(tmp.filePath(u"a.txt"_qs), "a");
    const QString out = tmp.filePath(u"no/such/out.txt"_qs);
    const Run r = run({u"-o"_qs, out, tmp.filePath(u"a.txt"_qs)});
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.err.contains(out.toUtf8()), r.err.constData());
}

void TestCli::pathsFromStandardInput()
{
    QTemporaryDir tmp;
    writeFile(tmp.filePath(u"a.txt"_qs), "a b");
    writeFile(tmp.filePath(u"dir/c.txt"_qs), "c");
    writeFile(tmp.filePath(u"d.txt"_qs), "d");
    const QByteArray input = QFile::encodeName(tmp.filePath(u"a.txt"_qs)) + "\r\n\n"
            + QFile::encodeName(tmp.filePath(u"dir"_qs)) + "\n";
    const Run r = run({tmp.filePath(u"d.txt"_qs), u"-"_qs}, input);
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, QByteArray("d.txt\td\t1\r\na.txt\ta\t1\r\na.txt\tb\t1\r\nc.txt\tc\t1\r\n"));
}

// Folders: breadth-first, case-insensitive order, "~" and lock files skipped, hidden files
// counted, hidden folders not entered, a link loop followed once.
void TestCli::folderScanRules()
{
    QTemporaryDir tmp;
    const QString r = tmp.filePath(u"R"_qs);
    writeFile(r + u"/b.txt", "b");
    writeFile(r + u"/A.txt", "a");
    writeFile(r + u"/~$A.txt", "tilde");
    writeFile(r + u"/.~lock.A.txt#", "lock");
    writeFile(r + u"/.hidden.txt", "hidden");
    writeFile(r + u"/.git/config", "git");
    writeFile(r + u"/sub/deep.txt", "deep");
    writeFile(r + u"/Sub2/deeper/z.txt", "z");
    if (!QFile::link(r, r + u"/sub/loop"))
        QSKIP("symbolic links are not available here");
    const Run run1 = run({r, tmp.filePath(u"R/~$A.txt"_qs)}); // a "~" file named itself is counted
    QCOMPARE(run1.exitCode, 0);
    QCOMPARE(run1.out, QByteArray(".hidden.txt\thidden\t1\r\n"
                                  "A.txt      \ta     \t1\r\n"
                                  "b.txt      \tb     \t1\r\n"
                                  "deep.txt   \tdeep  \t1\r\n"
                                  "z.txt      \tz     \t1\r\n"
                                  "~$A.txt    \ttilde \t1\r\n"));
}

// A folder that cannot be read is named and fails the run; a named folder without files is named
// and does not.
void TestCli::foldersThatGiveNoFilesAreNamed()
{
    if (!canBindPermissionsInChild())
        QSKIP("permission bits cannot be made to bind the program here");
    QTemporaryDir tmp;
    const QString r = tmp.filePath(u"R"_qs);
    writeFile(r + u"/a.txt", "one two");
    writeFile(r + u"/locked/x.txt", "unseen words");
    QVERIFY(QDir().mkpath(r + u"/empty"));
    QVERIFY(QFile::setPermissions(r + u"/locked", {}));
    const auto unlock = qScopeGuard([&] {
        QFile::setPermissions(r + u"/locked", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    });
    const QByteArray locked = QDir::toNativeSeparators(r + u"/locked").toUtf8();
    const QByteArray empty = QDir::toNativeSeparators(r + u"/empty").toUtf8();

    Run run1 = run({u"--no-filename"_qs, r, r + u"/empty"}, {}, bindPermissionsInChild);
    QCOMPARE(run1.exitCode, 1);
    QCOMPARE(run1.out, QByteArray("one\t1\r\ntwo\t1\r\n"));
    QCOMPARE(run1.err, "The folder " + locked + " could not be read: Permission denied.\n"
                       "The folder " + empty + " holds no files to count.\n Word Count: 2\n");

    run1 = run({r + u"/locked"}, {}, bindPermissionsInChild);
    QCOMPARE(run1.exitCode, 1);
    QCOMPARE(run1.err,
             "The folder " + locked + " could not be read: Permission denied.\n Word Count: 0\n");

    run1 = run({r + u"/empty"}, {}, bindPermissionsInChild);
    QCOMPARE(run1.exitCode, 0);
    QCOMPARE(run1.err, "The folder " + empty + " holds no files to count.\n Word Count: 0\n");
}

void TestCli::enormousWordTakesAboutTwiceItsSize_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::newRow("combined, capitals cleaned") << QStringList{u"--combined"_qs};
    QTest::newRow("per file, case kept, punctuation cleaned") << QStringList{u"--keep-case"_qs};
}

// One word of 40 million characters (no space, no line end) must not need much more than twice
// its UTF-16 size, whatever the steps it goes through: reading, counting, ordering, the rows kept
// in the temporary file and written out.
void TestCli::enormousWordTakesAboutTwiceItsSize()
{
    QFETCH(QStringList, options);
    QTemporaryDir tmp;
    constexpr qint64 kUnits = 40'000'000;
    {
        QFile f(tmp.filePath(u"word.txt"_qs));
        QVERIFY(f.open(QIODevice::WriteOnly));
        const QByteArray block = QByteArray("Ab.cd").repeated(200'000);
        for (qint64 written = 0; written < kUnits; written += block.size())
            QCOMPARE(f.write(block), block.size());
    }
    writeFile(tmp.filePath(u"small.txt"_qs), "Ab.cd");
    // What any run takes (the program, its libraries and threads) is not the word's.
    const QStringList command = QStringList{u"count"_qs} + options;
    const qint64 base = peakMemory(m_bin, command + QStringList{tmp.filePath(u"small.txt"_qs)});
    const qint64 peak = peakMemory(m_bin, command + QStringList{tmp.filePath(u"word.txt"_qs)});
    QVERIFY(base > 0 && peak > 0);
    const double ratio = double(peak - base) / double(kUnits * 2);
    QVERIFY2(ratio < 2.25, qPrintable(u"%1 times the word's UTF-16 size"_qs.arg(ratio, 0, 'f', 2)));
}

// Files read ahead on the other thread: a text whose reading failed part-way is not handed on,
// its reports are, and the run is told which files are complete.
void TestCli::readAheadKeepsTheOutcomeOfEachFile()
{
    class Source : public TextSource
    {
    public:
        explicit Source(ErrorReporter *r) : m_reporter(r) { }
        bool readText(const QString &path, const Sink &sink) override
        {
            sink(path);
            if (!path.startsWith(u"bad"))
                return true;
            m_reporter->reportError(u"failed: "_qs + path, u"tag"_qs, 1);
            return false;
        }

    private:
        ErrorReporter *m_reporter;
    };
    QStringList messages;
    FunctionErrorReporter reporter([&](const QString &m) { messages << m.section(u'\r', 0, 0); });
    const QStringList paths{u"good1"_qs, u"bad1"_qs, u"good2"_qs, u"bad2"_qs};
    PrefetchingSource source(
            paths, [](ErrorReporter *r) { return std::make_unique<Source>(r); }, &reporter);
    QStringList outcomes;
    for (const QString &path : paths) {
        QString text;
        const bool complete = source.readText(path, [&text](QStringView chunk) { text += chunk; });
        outcomes << path + (complete ? u" complete: "_qs : u" incomplete: "_qs) + text;
    }
    QCOMPARE(outcomes, (QStringList{u"good1 complete: good1"_qs, u"bad1 incomplete: "_qs,
                                    u"good2 complete: good2"_qs, u"bad2 incomplete: "_qs}));
    QCOMPARE(messages, (QStringList{u"failed: bad1"_qs, u"failed: bad2"_qs}));
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
