#include "base/errorreport.h"
#include "base/safefile.h"
#include "cli/prefetchingsource.h"
#include "cli/rowspill.h"
#include "engine/analysisrun.h"
#include "engine/lemmas.h"
#include "engine/wordtally.h"
#include "results/resultlayouts.h"
#include "results/spreadsheetlayout.h"
#include "support/smallfilesystem.h"
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
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QtTest>

#include <unicode/ucol.h>

#include <csignal>
#include <mutex>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#include <spawn.h>
#include <sys/stat.h>
#include <thread>
#include <sys/wait.h>

using namespace corvalen;

Q_DECLARE_METATYPE(corvalen::WordRules)
using corvalen::testing::SmallFileSystem;
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

// Words of letters only, some beyond ASCII and some in upper case, so that the program's
// cleaning leaves them as they are (with --keep-case) and the test can count them itself.
void writeFile(const QString &path, const QByteArray &bytes);

struct Corpus
{
    QStringList files; // paths, in list order
    QList<QMap<QString, qint64>> counts; // per file
};

Corpus writeCorpus(const QString &folder, int files, int wordsPerFile)
{
    const QStringList vocabulary = {u"apple"_qs, u"Apple"_qs, u"\u00e4pfel"_qs, u"banana"_qs, u"zebra"_qs,
                                    u"Zebra"_qs, u"\u00e9clair"_qs, u"eclair"_qs, u"stra\u00dfe"_qs,
                                    u"strasse"_qs, u"\u00c5ngstr\u00f6m"_qs, u"angst"_qs, u"cote"_qs,
                                    u"c\u00f4te"_qs, u"cot\u00e9"_qs, u"c\u00f4t\u00e9"_qs, u"x"_qs,
                                    u"\u0436\u0443\u043a"_qs, u"\U0001F600"_qs};
    QRandomGenerator random(7);
    Corpus corpus;
    for (int f = 0; f < files; ++f) {
        QMap<QString, qint64> counts;
        QString text;
        for (int i = 0; i < wordsPerFile; ++i) {
            // Skewed, so that counts differ and some words are met once.
            const int pick = int(random.bounded(vocabulary.size()) * random.generateDouble());
            const QString &w = vocabulary.at(pick);
            ++counts[w];
            text += w + (i % 7 == 6 ? u'\n' : u' ');
        }
        const QString path = QDir(folder).filePath(u"f%1.txt"_qs.arg(f));
        writeFile(path, text.toUtf8());
        corpus.files << path;
        corpus.counts << counts;
    }
    return corpus;
}

// The rows the test expects, ordered as --sort asks, by its own means (ICU's strcoll on the
// root locale for the alphabetical orders).
std::vector<WordCount> expectedOrder(const QMap<QString, qint64> &counts, const QString &order)
{
    std::vector<WordCount> rows;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        rows.push_back({it.key(), it.value()});
    UErrorCode status = U_ZERO_ERROR;
    UCollator *root = ucol_open("", &status);
    const auto collate = [root](const QString &a, const QString &b) {
        return ucol_strcoll(root, reinterpret_cast<const UChar *>(a.utf16()), int32_t(a.size()),
                            reinterpret_cast<const UChar *>(b.utf16()), int32_t(b.size()));
    };
    std::sort(rows.begin(), rows.end(), [&](const WordCount &a, const WordCount &b) {
        if (order == u"count" || order == u"count-desc") {
            if (a.count != b.count)
                return order == u"count" ? a.count < b.count : a.count > b.count;
            return a.word < b.word;
        }
        const UCollationResult c = collate(a.word, b.word);
        if (c != UCOL_EQUAL)
            return order == u"word" ? c == UCOL_LESS : c == UCOL_GREATER;
        return a.word < b.word;
    });
    ucol_close(root);
    return rows;
}

QString rowsText(const std::vector<WordCount> &rows)
{
    QStringList lines;
    for (const WordCount &w : rows)
        lines << w.word + u'=' + QString::number(w.count);
    return lines.join(u' ');
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
    void documentThatIsNotItsFormatFailsTheRun();
    void usageErrors_data();
    void usageErrors();
    void helpAndVersion_data();
    void helpAndVersion();
    void spillGivesTheTableLayouts_data();
    void spillGivesTheTableLayouts();
    void heldRowsReadAsKept_data();
    void heldRowsReadAsKept();
    void heldPhrasesWrittenAsSpelled_data();
    void heldPhrasesWrittenAsSpelled();
    void spillThatCannotBeWritten();
    void perFileOutputMatchesTheTableLayouts_data();
    void perFileOutputMatchesTheTableLayouts();
    void outputIsReplacedOnlyWhenComplete();
    void outputFolderMissing();
    void outputOntoSpecialFiles_data();
    void outputOntoSpecialFiles();
    void outputOnAFullDisk_data();
    void outputOnAFullDisk();
    void pathsFromStandardInput();
    void folderScanRules();
    void ordersMinimumAndTop_data();
    void ordersMinimumAndTop();
    void csvQuoting();
    void jsonParsesBack();
    void statistics_data();
    void statistics();
    void foldersThatGiveNoFilesAreNamed();
    void enormousWordTakesAboutTwiceItsSize_data();
    void enormousWordTakesAboutTwiceItsSize();
    void readAheadKeepsTheOutcomeOfEachFile();
    void readAheadNeverHoldsAHugeText();
    void wordRules_data();
    void wordRules();
    void hardWrappedCorpusWords_data();
    void hardWrappedCorpusWords();
    void stopWordListsThatCannotBeRead_data();
    void stopWordListsThatCannotBeRead();
    void jsonGivesTheFormsOfAGroup();
    void lemmasOnTheCommandLine();
    void rangeMatchesTheReferenceCounter_data();
    void rangeMatchesTheReferenceCounter();
    void rangeInEveryFormat_data();
    void rangeInEveryFormat();
    void outOfMemoryNamesTheFileAndKeepsTheOthers_data();
    void outOfMemoryNamesTheFileAndKeepsTheOthers();
    void corpusCommandsOutOfMemoryNameTheFile_data();
    void corpusCommandsOutOfMemoryNameTheFile();
    void outputKeptWhenNothingWasCounted();
    void outputFolderCheckedBeforeCounting();
    void temporaryFilesGoWithTheProcess();
    void namesThatAreNotUtf8AreCounted();
    void stopWordListsAreReadOnce_data();
    void stopWordListsAreReadOnce();
    void argumentsAreTakenByteForByte();
    void wordsThatCanNeverBeCountedAreExplained_data();
    void wordsThatCanNeverBeCountedAreExplained();
    void languageNamesInAnyCase();
    void enormousWordPadsNoOtherRow();
    void outputKeptWhenNothingWasRead_data();
    void outputKeptWhenNothingWasRead();
    void commandsRunWhenNoThreadCanStart_data();
    void commandsRunWhenNoThreadCanStart();
    void clustersOfMoreWordsThan24BitsHold();

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
    // A text of 8 million distinct words (60 MB), made once: counting it takes more memory than
    // the tests' limit gives.
    QString manyDistinctWords();

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

void TestCli::documentThatIsNotItsFormatFailsTheRun()
{
    // A broken package must not be counted as the text of its bytes, nor the run called a success.
    QTemporaryDir tmp;
    const QString broken = tmp.filePath(u"broken.docx"_qs);
    writeFile(broken, "not a zip");
    writeFile(tmp.filePath(u"s.txt"_qs), "a");
    const Run r = run({u"--combined"_qs, broken, tmp.filePath(u"s.txt"_qs)});
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.out, QByteArray("a\t1\r\n"));
    QVERIFY2(r.err.contains(QByteArray(QFile::encodeName(broken) + " is not a valid Word document")), r.err.constData());
    QVERIFY(r.err.endsWith("\n Word Count: 1\n"));
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
    QTest::newRow("range per file") << QStringList{u"count"_qs, u"--range"_qs, u"x"_qs}
                                    << QByteArray("--range needs --combined");
    QTest::newRow("range with --per-file")
            << QStringList{u"count"_qs, u"--per-file"_qs, u"--range"_qs, u"x"_qs} << QByteArray("--range needs --combined");
    QTest::newRow("both cases") << QStringList{u"count"_qs, u"--ignore-case"_qs, u"--keep-case"_qs, u"x"_qs}
                                << QByteArray("--ignore-case and --keep-case");
    QTest::newRow("unknown format") << QStringList{u"count"_qs, u"--format"_qs, u"yaml"_qs, u"x"_qs}
                                    << QByteArray("yaml");
    QTest::newRow("unknown order") << QStringList{u"count"_qs, u"--sort"_qs, u"length"_qs, u"x"_qs}
                                   << QByteArray("length");
    QTest::newRow("negative minimum") << QStringList{u"count"_qs, u"--min-count"_qs, u"-1"_qs, u"x"_qs}
                                      << QByteArray("--min-count");
    QTest::newRow("top not a number") << QStringList{u"count"_qs, u"--top"_qs, u"ten"_qs, u"x"_qs}
                                      << QByteArray("--top");
    QTest::newRow("order twice") << QStringList{u"count"_qs, u"--sort"_qs, u"word"_qs, u"--sort"_qs,
                                                u"count"_qs, u"x"_qs}
                                 << QByteArray("once");
    QTest::newRow("xlsx without -o") << QStringList{u"count"_qs, u"--format"_qs, u"xlsx"_qs, u"x"_qs}
                                     << QByteArray("-o");
    QTest::newRow("-o without file") << QStringList{u"count"_qs, u"x"_qs, u"-o"_qs} << QByteArray("-o");
    QTest::newRow("unknown word rule") << QStringList{u"count"_qs, u"--words"_qs, u"icu"_qs, u"x"_qs}
                                       << QByteArray("\"icu\" for --words (basic, unicode or corpus)");
    QTest::newRow("unknown hyphen rule") << QStringList{u"count"_qs, u"--words"_qs, u"corpus"_qs, u"--hyphens"_qs,
                                                        u"keep"_qs, u"x"_qs}
                                         << QByteArray("\"keep\" for --hyphens (join or split)");
    QTest::newRow("hyphens without corpus words")
            << QStringList{u"collocates"_qs, u"--words"_qs, u"unicode"_qs, u"--hyphens"_qs, u"split"_qs, u"a"_qs, u"x"_qs}
            << QByteArray("--hyphens applies to corpus words only (--words corpus)");
    QTest::newRow("unknown paragraph rule") << QStringList{u"context"_qs, u"--paragraphs"_qs, u"pages"_qs, u"a"_qs, u"x"_qs}
                                            << QByteArray("\"pages\" for --paragraphs (lines or blank-lines)");
    QTest::newRow("paragraphs twice") << QStringList{u"keywords"_qs, u"--paragraphs"_qs, u"lines"_qs, u"--paragraphs"_qs,
                                                     u"blank-lines"_qs, u"--reference"_qs, u"y"_qs, u"x"_qs}
                                      << QByteArray("--paragraphs may be given once");
    QTest::newRow("unknown punctuation") << QStringList{u"count"_qs, u"--punctuation"_qs, u"some"_qs, u"x"_qs}
                                         << QByteArray("\"some\" for --punctuation (ascii or all)");
    QTest::newRow("minimum length 0") << QStringList{u"count"_qs, u"--min-length"_qs, u"0"_qs, u"x"_qs}
                                      << QByteArray("--min-length needs a whole number from 1 to 1000000");
    QTest::newRow("minimum length too large") << QStringList{u"count"_qs, u"--min-length"_qs, u"2000000"_qs, u"x"_qs}
                                              << QByteArray("--min-length needs a whole number from 1 to 1000000");
    QTest::newRow("minimum length not a number") << QStringList{u"count"_qs, u"--min-length"_qs, u"3x"_qs, u"x"_qs}
                                                 << QByteArray("--min-length");
    QTest::newRow("unknown stemming language") << QStringList{u"count"_qs, u"--stem"_qs, u"klingon"_qs, u"x"_qs}
                                               << QByteArray("\"klingon\" for --stem (arabic, armenian, basque");
    QTest::newRow("phrases of 6") << QStringList{u"count"_qs, u"--ngrams"_qs, u"6"_qs, u"x"_qs}
                                  << QByteArray("--ngrams needs a whole number from 1 to 5");
    QTest::newRow("phrases of 0") << QStringList{u"count"_qs, u"--ngrams"_qs, u"0"_qs, u"x"_qs}
                                  << QByteArray("--ngrams");
    QTest::newRow("word rule twice") << QStringList{u"count"_qs, u"--words"_qs, u"basic"_qs, u"--words"_qs,
                                                    u"unicode"_qs, u"x"_qs}
                                     << QByteArray("--words may be given once");
    QTest::newRow("empty stop-word list") << QStringList{u"count"_qs, u"--stop-words="_qs, u"x"_qs}
                                          << QByteArray("--stop-words needs a language or a file name");
    QTest::newRow("stems and lemmas") << QStringList{u"count"_qs, u"--lemmas"_qs, u"en"_qs, u"--stem"_qs, u"en"_qs, u"x"_qs}
                                      << QByteArray("--stem and --lemmas cannot be used together");
    QTest::newRow("stems and lemmas, context")
            << QStringList{u"context"_qs, u"--stem"_qs, u"en"_qs, u"--lemmas"_qs, u"en"_qs, u"run"_qs, u"x"_qs}
            << QByteArray("--stem and --lemmas cannot be used together");
    QTest::newRow("empty lemma list") << QStringList{u"count"_qs, u"--lemmas="_qs, u"x"_qs}
                                      << QByteArray("--lemmas needs a language or a file name");
    QTest::newRow("lemmas without a dictionary") << QStringList{u"keywords"_qs, u"--lemmas"_qs, u"zz"_qs, u"--reference"_qs, u"y"_qs, u"x"_qs}
                                                 << QByteArray("install the Debian package hunspell-zz");
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
    spill.setFolder(tmp.path());
    // A combined count's one block is held in memory: the first block here, the rest in the file.
    RowSpill held(fileNameColumn);
    held.setFolder(tmp.path());
    for (const QStringList &b : std::as_const(blocks)) {
        table.appendRows(rowsOf(b), b.at(0));
        spill.append(CountedRows(rowsOf(b)), b.at(0));
        if (held.rowCount() == 0)
            held.hold(CountedRows(rowsOf(b)), b.at(0));
        else
            held.append(CountedRows(rowsOf(b)), b.at(0));
    }
    QString error;
    QVERIFY2(spill.finishWriting(&error), qPrintable(error));
    QVERIFY2(held.finishWriting(&error), qPrintable(error));
    QCOMPARE(held.rowCount(), table.rowCount());
    QCOMPARE(held.total(), table.total());
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
    QVERIFY(text == textLayout(held, headers, held.widths().withHeaders(headers)));
    QVERIFY(tsv == clipboardLayout(held, held.widths().widths()));
    QVERIFY(tsv == clipboardLayout(held, held.widths().widths()));

    const QString fromTable = tmp.filePath(u"table.xlsx"_qs), fromSpill = tmp.filePath(u"spill.xlsx"_qs);
    QVERIFY2(saveResultsSpreadsheet(table, headers, fromTable, &error, 2), qPrintable(error));
    QVERIFY2(saveResultsSpreadsheet(spill, headers, fromSpill, &error, 2), qPrintable(error));
    const QString fromHeld = tmp.filePath(u"held.xlsx"_qs);
    QVERIFY2(saveResultsSpreadsheet(held, headers, fromHeld, &error, 2), qPrintable(error));
    const QList<QByteArray> sheets = sheetsOf(fromTable);
    QCOMPARE(sheets.size(), std::max<qsizetype>(1, (table.rowCount() + 1) / 2));
    QVERIFY(sheets == sheetsOf(fromSpill));
    QVERIFY(sheets == sheetsOf(fromHeld));
}

// Held rows come back as the file gives them back: forms and files only when the spill keeps
// them, no forms for a row whose list is empty.
void TestCli::heldRowsReadAsKept_data()
{
    QTest::addColumn<bool>("withForms");
    QTest::addColumn<bool>("withFiles");
    QTest::newRow("words alone") << false << false;
    QTest::newRow("forms") << true << false;
    QTest::newRow("files") << false << true;
    QTest::newRow("forms and files") << true << true;
}

void TestCli::heldRowsReadAsKept()
{
    QFETCH(bool, withForms);
    QFETCH(bool, withFiles);
    using Forms = std::vector<WordCount>;
    std::vector<WordCount> rows = {{u"run"_qs, 5, std::make_shared<Forms>(Forms{{u"running"_qs, 3}, {u"runs"_qs, 2}})},
                                   {u"a"_qs, 7, std::make_shared<Forms>()},
                                   {u"\u4e2d"_qs, 9}};
    rows[0].files = 2;
    rows[2].files = 4;
    const auto visited = [](const RowSpill &spill) {
        QStringList out;
        QString error;
        const bool read = spill.forEachRow(
                [&](const ResultRow &r) {
                    QString line = r.fileName + u'|' + r.word + u'|' + QString::number(r.count) + u'|'
                            + QString::number(r.files) + u'|' + (r.forms ? u"forms"_qs : u"none"_qs);
                    for (const WordCount &f : r.forms ? *r.forms : Forms())
                        line += u'|' + f.word + u'=' + QString::number(f.count);
                    out << line;
                    return true;
                },
                &error);
        return read ? out : QStringList{error};
    };
    QTemporaryDir tmp;
    RowSpill kept(false, withForms, withFiles), held(false, withForms, withFiles);
    kept.setFolder(tmp.path());
    held.setFolder(tmp.path());
    kept.append(CountedRows(rows), u"f"_qs);
    held.hold(CountedRows(rows), u"f"_qs);
    QString error;
    QVERIFY2(kept.finishWriting(&error), qPrintable(error));
    QVERIFY2(held.finishWriting(&error), qPrintable(error));
    const QStringList expected = visited(kept);
    QCOMPARE(expected.size(), 3);
    QCOMPARE(visited(held), expected);
    QCOMPARE(held.total(), kept.total());
    QVERIFY(held.widths().widths() == kept.widths().widths());
}

// A combined count of phrases is held as numbers and written on both cores, each phrase's UTF-8
// put together from its words' encoded once; the widths come from what was measured as they were
// counted. The bytes must be those of the same rows spelled out and written one by one: words of
// every kind (accents, CJK, pairs, surrogates without their pair, tabs), a phrase longer than
// the padded width, a word too long to be encoded apart, rows dropped or cut.
void TestCli::heldPhrasesWrittenAsSpelled_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<QString>("extra"); // a word put in now and then
    QTest::addColumn<int>("leastCount");
    QTest::addColumn<int>("top");
    QTest::newRow("pairs") << 2 << u"x"_qs << 0 << -1;
    QTest::newRow("threes, a phrase past the padded width") << 3 << QString(95, u'w') << 0 << -1;
    QTest::newRow("pairs, a word too long to encode apart") << 2 << QString(30000, u'v') << 0 << -1;
    QTest::newRow("pairs counted twice or more") << 2 << u"x"_qs << 2 << -1;
    QTest::newRow("threes, the first rows") << 3 << u"x"_qs << 0 << 1000;
}

void TestCli::heldPhrasesWrittenAsSpelled()
{
    QFETCH(int, length);
    QFETCH(QString, extra);
    QFETCH(int, leastCount);
    QFETCH(int, top);
    const QStringList kinds = {u"word"_qs, u"caf\u00e9"_qs, u"\u65e5\u672c"_qs, QString::fromUcs4(U"\U0001F600x"),
                               QString(QChar(0xD800)) + u"a"_qs, u"b"_qs + QChar(0xDC00), u"t\tab"_qs, u"t"_qs};
    QRandomGenerator rng(11);
    QString text;
    for (int i = 0; i < 240000; ++i) {
        text += i % 5000 == 0 ? extra : kinds.at(int(rng.bounded(qint64(kinds.size())))) + QString::number(rng.bounded(300));
        text += i % 40 == 39 ? u'\r' : u' ';
    }
    WordRules rules;
    rules.phraseLength = length;
    const std::unique_ptr<WordFinder> finder = WordFinder::create(rules, true);
    QVERIFY(finder);
    const auto counted = [&] {
        WordTally tally(*finder);
        tally.feed(text);
        tally.finish();
        CountedRows rows = tally.takeOrderedRows();
        if (leastCount > 0)
            rows.keepCountsFrom(leastCount);
        if (top >= 0)
            rows.truncate(size_t(top));
        return rows;
    };
    CountedRows phrases = counted();
    QVERIFY(!phrases.holdsWords());
    if (leastCount == 0 && top < 0)
        QVERIFY(phrases.size() > 131072); // written on both cores
    std::vector<WordCount> spelled = counted().takeRows();
    ResultTable table(false);
    table.appendRows(spelled, u"f"_qs);
    RowSpill held(false), kept(false);
    QTemporaryDir tmp;
    kept.setFolder(tmp.path());
    held.hold(std::move(phrases), u"f"_qs);
    kept.append(CountedRows(std::move(spelled)), u"f"_qs);
    QString error;
    QVERIFY2(held.finishWriting(&error) && kept.finishWriting(&error), qPrintable(error));
    QCOMPARE(held.total(), table.total());
    const QStringList headers = resultHeaders({CountMode::Combined, false, true});
    QCOMPARE(held.widths().widths(), columnWidths(table));
    QCOMPARE(held.widths().widths(), kept.widths().widths());
    QVERIFY(clipboardLayout(held, held.widths().widths()) == clipboardText(table).toUtf8());
    QVERIFY(textLayout(held, headers, held.widths().withHeaders(headers))
            == textLayout(TableRows(table), headers, columnWidths(table, headers)));
}

void TestCli::spillThatCannotBeWritten()
{
    QTemporaryDir tmp;
    const QString folder = tmp.filePath(u"no-such-folder"_qs);
    RowSpill spill(true);
    spill.setFolder(folder);
    spill.append(CountedRows({{u"a"_qs, 2}, {u"b"_qs, 3}}), u"f"_qs);
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

void TestCli::outputOntoSpecialFiles_data()
{
    perFileOutputMatchesTheTableLayouts_data(); // every format
}

// A device or a descriptor is written into, never replaced; a failure gives the system's
// reason in one sentence (no library lines).
void TestCli::outputOntoSpecialFiles()
{
    QFETCH(QString, format);
    QTemporaryDir tmp;
    const QString in = tmp.filePath(u"in.txt"_qs);
    writeFile(in, "word");
    Run r = run({u"--format"_qs, format, u"-o"_qs, u"/dev/full"_qs, in});
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.err, QByteArray("Could not write \"/dev/full\": No space left on device.\n Word Count: 1\n"));

    // /dev/stdout is the descriptor the shell set up: ">>" appends.
    const QString log = tmp.filePath(u"log"_qs);
    writeFile(log, "before\n");
    const QByteArray logName = QFile::encodeName(log);
    r = run({u"--format"_qs, format, u"-o"_qs, u"/dev/stdout"_qs, in}, {}, [&logName] {
        const int fd = ::open(logName.constData(), O_WRONLY | O_APPEND);
        ::dup2(fd, STDOUT_FILENO);
    });
    QCOMPARE(r.exitCode, 0);
    const QByteArray appended = readFile(log);
    QVERIFY(QFileInfo(log).isFile() && !QFileInfo(log).isSymLink());
    QVERIFY2(appended.startsWith("before\n") && appended.size() > 7, appended.constData());
    QVERIFY(format == u"xlsx" ? appended.mid(7).startsWith("PK\x03\x04") : appended.mid(7).contains("word"));

    if (format == u"xlsx")
        return;
    // Standard output itself on a full device.
    r = run({u"--format"_qs, format, in}, {}, [] {
        const int fd = ::open("/dev/full", O_WRONLY);
        ::dup2(fd, STDOUT_FILENO);
    });
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.err, QByteArray("Could not write the results to standard output: No space left on device.\n"
                               " Word Count: 1\n"));
}

void TestCli::outputOnAFullDisk_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("free"); // bytes left free on the disk of -o FILE
    QTest::addColumn<QByteArray>("reason");
    // The rows kept while counting (about 550 KB) fit or do not; the output never does.
    for (const char *format : {"tsv", "text", "xlsx"}) {
        QTest::addRow("%s, full", format) << QString::fromLatin1(format) << 0
                                          << QByteArray("the rows could not be kept in a temporary file in");
        QTest::addRow("%s, nearly full", format) << QString::fromLatin1(format) << 700 * 1024 << QByteArray();
    }
}

void TestCli::outputOnAFullDisk()
{
    QFETCH(QString, format);
    QFETCH(int, free);
    QFETCH(QByteArray, reason);
    SmallFileSystem fs(1024 * 1024);
    if (!fs.isMounted())
        QSKIP(qPrintable(fs.error()));
    QTemporaryDir tmp;
    QByteArray text;
    for (int i = 0; i < 50000; ++i)
        text += "word" + QByteArray::number(i) + ' ';
    writeFile(tmp.filePath(u"in.txt"_qs), text);
    const QString out = fs.filePath(u"out.txt"_qs);
    writeFile(out, "old results");
    QVERIFY(fs.fill(free));
    const Run r = run({u"--format"_qs, format, u"-o"_qs, out, tmp.filePath(u"in.txt"_qs)});
    QCOMPARE(r.exitCode, 1);
    const QByteArray start = "Could not write \"" + QFile::encodeName(out) + "\": " + reason;
    QVERIFY2(r.err.startsWith(start), r.err.constData());
    QVERIFY2(r.err.endsWith(": No space left on device.\n Word Count: 50000\n"), r.err.constData());
    QCOMPARE(r.err.count('\n'), 2); // one sentence and the total: no lines of a library
    QCOMPARE(readFile(out), QByteArray("old results"));
    QCOMPARE(QDir(QFileInfo(out).path()).entryList(QDir::Files | QDir::Hidden),
             QStringList({u"filler"_qs, u"out.txt"_qs}));
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

void TestCli::ordersMinimumAndTop_data()
{
    QTest::addColumn<bool>("combined");
    QTest::addColumn<QString>("order");
    QTest::addColumn<qint64>("minCount"); // 0: not given
    QTest::addColumn<qint64>("top"); // -1: not given
    for (const bool combined : {false, true}) {
        const char *mode = combined ? "combined" : "per file";
        for (const char *order : {"count", "count-desc", "word", "word-desc"})
            QTest::addRow("%s, %s", mode, order) << combined << QString::fromLatin1(order) << qint64(0) << qint64(-1);
        QTest::addRow("%s, min-count 3", mode) << combined << u"count"_qs << qint64(3) << qint64(-1);
        QTest::addRow("%s, top 4 of word-desc", mode) << combined << u"word-desc"_qs << qint64(0) << qint64(4);
        QTest::addRow("%s, top 5 after min-count 2, count-desc", mode)
                << combined << u"count-desc"_qs << qint64(2) << qint64(5);
        QTest::addRow("%s, top 0", mode) << combined << u"count"_qs << qint64(0) << qint64(0);
        QTest::addRow("%s, min-count above all", mode) << combined << u"count"_qs << qint64(100000) << qint64(-1);
    }
}

void TestCli::ordersMinimumAndTop()
{
    QFETCH(bool, combined);
    QFETCH(QString, order);
    QFETCH(qint64, minCount);
    QFETCH(qint64, top);
    QTemporaryDir tmp;
    const Corpus corpus = writeCorpus(tmp.path(), 3, 400);
    QList<QMap<QString, qint64>> blocks = corpus.counts;
    qint64 total = 0;
    for (const auto &counts : corpus.counts) {
        for (qint64 n : counts)
            total += n;
    }
    if (combined) {
        QMap<QString, qint64> all;
        for (const auto &counts : corpus.counts) {
            for (auto it = counts.cbegin(); it != counts.cend(); ++it)
                all[it.key()] += it.value();
        }
        blocks = {all};
    }
    QStringList args{combined ? u"--combined"_qs : u"--per-file"_qs, u"--keep-case"_qs,
                     u"--format"_qs, u"json"_qs, u"--sort"_qs, order};
    if (minCount > 0)
        args << u"--min-count"_qs << QString::number(minCount);
    if (top >= 0)
        args << u"--top"_qs << QString::number(top);
    const Run r = run(args + corpus.files);
    QCOMPARE(r.exitCode, 0);
    // The total is the words counted, whatever rows are left out.
    QCOMPARE(r.err, " Word Count: " + QByteArray::number(total) + "\n");
    const QJsonArray rows = QJsonDocument::fromJson(r.out).array();
    qsizetype at = 0;
    for (qsizetype b = 0; b < blocks.size(); ++b) {
        std::vector<WordCount> expected = expectedOrder(blocks.at(b), order);
        std::erase_if(expected, [&](const WordCount &w) { return w.count < minCount; });
        if (top >= 0 && qint64(expected.size()) > top)
            expected.resize(size_t(top));
        std::vector<WordCount> got;
        for (size_t i = 0; i < expected.size() && at < rows.size(); ++i, ++at) {
            const QJsonObject o = rows.at(at).toObject();
            QCOMPARE(o.contains(u"file"), !combined);
            if (!combined)
                QCOMPARE(o.value(u"file").toString(), QFileInfo(corpus.files.at(b)).fileName());
            got.push_back({o.value(u"word").toString(), qint64(o.value(u"count").toDouble())});
        }
        QCOMPARE(rowsText(got), rowsText(expected));
    }
    QCOMPARE(at, rows.size());
}

void TestCli::csvQuoting()
{
    QTemporaryDir tmp;
    // Words lose their ASCII punctuation, so the special characters come in with file names.
    const QStringList names = {u"plain.txt"_qs, u"a,b.txt"_qs, u"say \"hi\".txt"_qs, u"line\nbreak.txt"_qs,
                               u"cr\rname.txt"_qs, u"tab\there 'single'.txt"_qs};
    QStringList files;
    for (const QString &name : names) {
        files << tmp.filePath(name);
        writeFile(files.constLast(), "w\xe2\x80\x9cq\xe2\x80\x9d w");
    }
    const Run r = run(QStringList{u"--format"_qs, u"csv"_qs} + files);
    QCOMPARE(r.exitCode, 0);
    QByteArray expected = "file,word,count\r\n";
    for (const QByteArray &name : {QByteArray("plain.txt"), QByteArray("\"a,b.txt\""),
                                   QByteArray("\"say \"\"hi\"\".txt\""), QByteArray("\"line\nbreak.txt\""),
                                   QByteArray("\"cr\rname.txt\""), QByteArray("tab\there 'single'.txt")}) {
        expected += name + ",w,1\r\n";
        expected += name + ",w\xe2\x80\x9cq\xe2\x80\x9d,1\r\n";
    }
    QCOMPARE(r.out, expected);
    // Without the file column: the header and the rows only; no byte order mark.
    const Run bare = run({u"--format"_qs, u"csv"_qs, u"--combined"_qs, files.at(0)});
    QCOMPARE(bare.out, QByteArray("word,count\r\nw,1\r\nw\xe2\x80\x9cq\xe2\x80\x9d,1\r\n"));
}

void TestCli::jsonParsesBack()
{
    QTemporaryDir tmp;
    const Corpus corpus = writeCorpus(tmp.path(), 2, 300);
    for (const bool withNames : {true, false}) {
        const QStringList args{u"--keep-case"_qs, u"--format"_qs, u"json"_qs,
                               withNames ? u"--filename"_qs : u"--no-filename"_qs};
        const QString out = tmp.filePath(u"out.json"_qs);
        const Run r = run(args + QStringList{u"-o"_qs, out} + corpus.files);
        QCOMPARE(r.exitCode, 0);
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(readFile(out), &error);
        QCOMPARE(error.error, QJsonParseError::NoError);
        QVERIFY(doc.isArray());
        QList<QMap<QString, qint64>> got(corpus.files.size());
        qsizetype file = 0;
        QString lastWord;
        qint64 lastCount = 0;
        for (const QJsonValue v : doc.array()) {
            const QJsonObject o = v.toObject();
            QVERIFY(o.value(u"count").isDouble());
            const QString word = o.value(u"word").toString();
            const qint64 count = qint64(o.value(u"count").toDouble());
            if (withNames) {
                QCOMPARE(o.keys(), (QStringList{u"count"_qs, u"file"_qs, u"word"_qs}));
                file = corpus.files.indexOf(tmp.filePath(o.value(u"file").toString()));
            } else {
                QCOMPARE(o.keys(), (QStringList{u"count"_qs, u"word"_qs}));
                // Without names a file's block ends where the usual order starts again.
                if (count < lastCount || (count == lastCount && word < lastWord))
                    ++file;
            }
            QVERIFY(file >= 0 && file < got.size());
            got[file][word] = count;
            lastWord = word;
            lastCount = count;
        }
        QCOMPARE(got, corpus.counts);
    }
}

void TestCli::statistics_data()
{
    QTest::addColumn<bool>("combined");
    QTest::newRow("per file") << false;
    QTest::newRow("combined") << true;
}

void TestCli::statistics()
{
    QFETCH(bool, combined);
    QTemporaryDir tmp;
    const Corpus corpus = writeCorpus(tmp.path(), 3, 250);
    const auto lines = [](const QMap<QString, qint64> &counts) {
        qint64 tokens = 0, hapax = 0;
        for (qint64 n : counts) {
            tokens += n;
            hapax += n == 1;
        }
        const qint64 types = counts.size();
        return u"Tokens: %1\nTypes: %2\nType/token ratio: %3\nHapax legomena: %4\n"_qs
                .arg(tokens)
                .arg(types)
                .arg(tokens ? double(types) / double(tokens) : 0.0, 0, 'f', 4)
                .arg(hapax);
    };
    // Files of 250 words, shorter than a part and a window: each gives its plain ratio, and all
    // files the mean of theirs.
    const auto variety = [](double ratio) {
        return u"Standardised type/token ratio (1,000 words): %1\nMoving-average type/token ratio (500 words): %1\n"_qs
                .arg(ratio, 0, 'f', 4);
    };
    QMap<QString, qint64> all;
    qint64 total = 0;
    double ratios = 0;
    QString expected;
    for (qsizetype f = 0; f < corpus.files.size(); ++f) {
        qint64 tokens = 0;
        for (auto it = corpus.counts.at(f).cbegin(); it != corpus.counts.at(f).cend(); ++it) {
            all[it.key()] += it.value();
            total += it.value();
            tokens += it.value();
        }
        const double ratio = double(corpus.counts.at(f).size()) / double(tokens);
        ratios += ratio;
        if (!combined)
            expected += QDir::toNativeSeparators(corpus.files.at(f)) + u'\n' + lines(corpus.counts.at(f)) + variety(ratio);
    }
    expected = u" Word Count: "_qs + QString::number(total) + u'\n' + expected + lines(all)
            + variety(ratios / double(corpus.files.size()));
    // Leaving rows out changes neither the total nor the figures.
    const Run r = run({combined ? u"--combined"_qs : u"--per-file"_qs, u"--keep-case"_qs, u"--stats"_qs,
                       u"--top"_qs, u"2"_qs, u"--min-count"_qs, u"3"_qs, corpus.files.at(0),
                       corpus.files.at(1), corpus.files.at(2)});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(QString::fromUtf8(r.err), expected);
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

// A small file may unpack to a huge text: the read-ahead drops it past its budget and the run
// reads it in place, with its reports given once.
void TestCli::readAheadNeverHoldsAHugeText()
{
    struct Shared
    {
        std::mutex mutex;
        qsizetype longestChunkRun = 0;
        QStringList reads;
    } shared;
    class Source : public TextSource
    {
    public:
        Source(ErrorReporter *r, Shared &s) : m_reporter(r), m_shared(s) { }
        bool readText(const QString &path, const Sink &sink) override
        {
            {
                std::lock_guard lock(m_shared.mutex);
                m_shared.reads << path;
            }
            const int chunks = path == u"huge" ? 1000 : 1;
            for (int i = 0; i < chunks; ++i)
                sink(u"0123456789"_qs);
            m_reporter->reportError(u"note: "_qs + path, u"tag"_qs, 1);
            return true;
        }

    private:
        ErrorReporter *m_reporter;
        Shared &m_shared;
    };
    QStringList messages;
    FunctionErrorReporter reporter([&](const QString &m) { messages << m.section(u'\r', 0, 0); });
    const QStringList paths{u"small1"_qs, u"huge"_qs, u"small2"_qs};
    PrefetchingSource source(
            paths, [&shared](ErrorReporter *r) { return std::make_unique<Source>(r, shared); },
            &reporter, qint64(1) << 20, 100);
    for (const QString &path : paths) {
        qsizetype units = 0;
        QVERIFY(source.readText(path, [&units](QStringView chunk) { units += chunk.size(); }));
        QCOMPARE(units, path == u"huge" ? 10000 : 10);
    }
    QCOMPARE(messages, (QStringList{u"note: small1"_qs, u"note: huge"_qs, u"note: small2"_qs}));
    QCOMPARE(shared.reads.count(u"huge"_qs), 2); // once ahead (dropped), once in place
}

void TestCli::wordRules_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<WordRules>("rules");
    QTest::addColumn<bool>("ignoreCase");
    const auto with = [](auto &&change) {
        WordRules r;
        change(r);
        return r;
    };
    QTest::newRow("plain") << QStringList{u"--words"_qs, u"basic"_qs, u"--punctuation"_qs, u"ascii"_qs}
                           << WordRules() << true;
    QTest::newRow("Unicode words") << QStringList{u"--words"_qs, u"unicode"_qs}
                                   << with([](WordRules &r) { r.words = WordRules::Words::Unicode; }) << true;
    QTest::newRow("all punctuation, case kept")
            << QStringList{u"--punctuation"_qs, u"all"_qs, u"--keep-case"_qs}
            << with([](WordRules &r) { r.punctuation = WordRules::Punctuation::All; }) << false;
    QTest::newRow("two stop-word lists, minimum length")
            << QStringList{u"--stop-words"_qs, u"en"_qs, u"--stop-words"_qs, u"@list"_qs, u"--min-length"_qs, u"3"_qs}
            << with([](WordRules &r) { r.stopWordLists = {u"en"_qs, u"@list"_qs}; r.minLength = 3; }) << true;
    QTest::newRow("word forms") << QStringList{u"--stem"_qs, u"en"_qs}
                                << with([](WordRules &r) { r.stemLanguage = u"en"_qs; }) << true;
    QTest::newRow("no word forms") << QStringList{u"--stem"_qs, u"none"_qs} << WordRules() << true;
    QTest::newRow("phrases") << QStringList{u"--ngrams"_qs, u"2"_qs, u"--words"_qs, u"unicode"_qs}
                             << with([](WordRules &r) { r.phraseLength = 2; r.words = WordRules::Words::Unicode; })
                             << true;
    QTest::newRow("corpus words") << QStringList{u"--words"_qs, u"corpus"_qs}
                                  << with([](WordRules &r) { r.words = WordRules::Words::Corpus; }) << true;
    QTest::newRow("corpus words split at hyphens, stop words, case kept")
            << QStringList{u"--words"_qs, u"corpus"_qs, u"--hyphens"_qs, u"split"_qs, u"--stop-words"_qs, u"@list"_qs,
                           u"--keep-case"_qs}
            << with([](WordRules &r) {
                   r.words = WordRules::Words::Corpus;
                   r.hyphens = WordRules::Hyphens::Split;
                   r.stopWordLists = {u"@list"_qs};
               })
            << false;
}

void TestCli::wordRules()
{
    // The options give the rules: the command's rows are the engine's under those rules.
    QFETCH(QStringList, args);
    QFETCH(WordRules, rules);
    QFETCH(bool, ignoreCase);
    QTemporaryDir tmp;
    const QString list = tmp.filePath(u"list.txt"_qs);
    writeFile(list, "# mine\nrunning\nman\u2019s\n");
    for (QString &a : args)
        a.replace(u"@list"_qs, list);
    for (QString &l : rules.stopWordLists)
        l.replace(u"@list"_qs, list);
    const QString a = tmp.filePath(u"a.txt"_qs), b = tmp.filePath(u"b.txt"_qs);
    writeFile(a, u"The \u201crunning\u201d man runs; don't stop\u2014the man\u2019s runs end.\n"
                 u"\u6211\u4eec\u5728\u5317\u4eac \u0e20\u0e32\u0e29\u0e32\u0e44\u0e17\u0e22 3.14 1,000\n"_qs.toUtf8());
    writeFile(b, "runner Runs RAN ran the the\n");
    const Run r = run(args + QStringList{u"--combined"_qs, u"--format"_qs, u"csv"_qs, a, b});
    QCOMPARE(r.exitCode, 0);
    Utf8FileSource source;
    const ResultTable table = runAnalysis({a, b}, CountOptions(CountMode::Combined, false, ignoreCase, rules), source);
    QByteArray expected = "word,count\r\n";
    for (qsizetype row = 0; row < table.rowCount(); ++row) {
        QByteArray word = table.word(row).toUtf8();
        if (word.contains(',')) // corpus words keep the commas of numbers
            word = '"' + word + '"';
        expected += word + ',' + QByteArray::number(table.count(row)) + "\r\n";
    }
    QCOMPARE(r.out, expected);
    QVERIFY(r.err.contains(QByteArray(QByteArray(" Word Count: ") + QByteArray::number(table.total()))));
}

void TestCli::hardWrappedCorpusWords_data()
{
    // What every counting command makes of a hard-wrapped text, by the rows of count: a phrase
    // across a line end is there only with blank-line paragraphs.
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("pairs"); // count --combined --ngrams 2, rows joined by |
    QTest::addColumn<int>("veryHappy");    // occurrences of "very happy"
    QTest::addColumn<QByteArray>("words"); // the words counted
    const QStringList corpus{u"--words"_qs, u"corpus"_qs};
    QTest::newRow("corpus words")
            << corpus
            << QByteArray("a very 1|day the 1|happy day 1|happy young 1|it was 1|man no 1|man's well-known 1|"
                          "the young 1|very happy 1|was a 1|young man 1|")
            << 1 << QByteArray("15");
    QTest::newRow("corpus words, blank-line paragraphs")
            << corpus + QStringList{u"--paragraphs"_qs, u"blank-lines"_qs}
            << QByteArray("a very 1|day the 1|happy day 1|happy young 1|it was 1|man no 1|man's well-known 1|"
                          "the young 1|was a 1|young man 1|young man's 1|very happy 2|")
            << 2 << QByteArray("15");
    QTest::newRow("plain rules, blank-line paragraphs")
            << QStringList{u"--paragraphs"_qs, u"blank-lines"_qs}
            << QByteArray("a very 1|day the 1|happy day 1|happy young 1|it was 1|mans wellknown 1|the young 1|"
                          "was a 1|young manno 1|young mans 1|very happy 2|")
            << 2 << QByteArray("14");
}

void TestCli::hardWrappedCorpusWords()
{
    QFETCH(QStringList, options);
    QFETCH(QByteArray, pairs);
    QFETCH(int, veryHappy);
    QFETCH(QByteArray, words);
    QTemporaryDir tmp;
    const QString text = tmp.filePath(u"wrapped.txt"_qs), reference = tmp.filePath(u"reference.txt"_qs);
    writeFile(text, "It was a very\nhappy day. The young\r\nman's well-known\n  \nvery happy young man--no\n");
    writeFile(reference, "other text here\n");
    Run r = run(options + QStringList{u"--combined"_qs, u"--ngrams"_qs, u"2"_qs, text});
    QCOMPARE(r.exitCode, 0);
    QByteArray rows = r.out;
    rows.replace("\r\n", "|");
    while (rows.contains("  "))
        rows.replace("  ", " ");
    rows.replace(" \t", " ").replace('\t', ' ');
    QCOMPARE(rows, pairs);
    // Single words: the total every other command finds.
    r = run(options + QStringList{u"--combined"_qs, text});
    QCOMPARE(r.exitCode, 0);
    const QByteArray total = r.err.mid(r.err.indexOf("Word Count: ") + 12).trimmed();
    QCOMPARE(total, words);

    r = execute(QStringList{u"context"_qs} + options + QStringList{u"very happy"_qs, text});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out.count('\n'), veryHappy);
    r = execute(QStringList{u"dispersion"_qs} + options + QStringList{u"very happy"_qs, text});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out.split('\t').value(1), total);
    QCOMPARE(r.out.split('\t').value(2), QByteArray::number(veryHappy));
    r = execute(QStringList{u"clusters"_qs} + options + QStringList{u"--size"_qs, u"2,2"_qs, u"--min-count"_qs, u"1"_qs, u"very"_qs, text});
    QCOMPARE(r.exitCode, 0);
    QVERIFY2(r.out.split('\n').contains(QByteArray("very happy\t" + QByteArray::number(veryHappy) + "\t1")), r.out.constData());
    r = execute(QStringList{u"collocates"_qs} + options + QStringList{u"very"_qs, text});
    QCOMPARE(r.exitCode, 0);
    QVERIFY2(r.err.contains(QByteArray(" Corpus words: " + total + '\n')), r.err.constData());
    r = execute(QStringList{u"keywords"_qs} + options + QStringList{u"--reference"_qs, reference, text});
    QCOMPARE(r.exitCode, 0);
    QVERIFY2(r.err.contains(QByteArray(" Target words: " + total + '\n')), r.err.constData());
}

void TestCli::stopWordListsThatCannotBeRead_data()
{
    QTest::addColumn<QString>("list");
    QTest::addColumn<QByteArray>("message");
    QTest::newRow("missing file") << u"@dir/missing.txt"_qs << QByteArray("could not be read");
    QTest::newRow("folder") << u"@dir"_qs << QByteArray("it is a folder");
    QTest::newRow("unknown language") << u"zz"_qs << QByteArray("The built-in lists are da, de, en");
}

void TestCli::stopWordListsThatCannotBeRead()
{
    // Named before anything is counted: no rows, no total, a usage error.
    QFETCH(QString, list);
    QFETCH(QByteArray, message);
    QTemporaryDir tmp;
    list.replace(u"@dir"_qs, tmp.path());
    const QString text = tmp.filePath(u"t.txt"_qs);
    writeFile(text, "some words\n");
    const QString out = tmp.filePath(u"out.tsv"_qs);
    const Run r = run({u"--stop-words"_qs, u"en"_qs, u"--stop-words"_qs, list, u"-o"_qs, out, text});
    QCOMPARE(r.exitCode, 2);
    QVERIFY2(r.err.contains(QFile::encodeName(list)), r.err.constData());
    QVERIFY2(r.err.contains(message), r.err.constData());
    QVERIFY(!r.err.contains("Word Count"));
    QVERIFY(!QFileInfo::exists(out));
}

void TestCli::lemmasOnTheCommandLine()
{
    QTemporaryDir tmp;
    const QString text = tmp.filePath(u"t.txt"_qs);
    writeFile(text, "The mice ran; a mouse runs.\nRunning children, saws and a saw.\n");
    // The row shows the lemma, the forms follow, most frequent first.
    Run r = run({u"--combined"_qs, u"--lemmas"_qs, u"en"_qs, u"--format"_qs, u"json"_qs, text});
    QCOMPARE(r.exitCode, 0);
    QVERIFY2(r.out.contains("{\"word\": \"run\", \"count\": 3, \"forms\": {\"ran\": 1, \"running\": 1, \"runs\": 1}}"),
             r.out.constData());
    QVERIFY2(r.out.contains("{\"word\": \"mouse\", \"count\": 2, \"forms\": {\"mice\": 1, \"mouse\": 1}}"),
             r.out.constData());
    QVERIFY2(r.out.contains("{\"word\": \"child\", \"count\": 1, \"forms\": {\"children\": 1}}"), r.out.constData());
    QVERIFY2(r.out.contains("{\"word\": \"see\", \"count\": 1, \"forms\": {\"saw\": 1}}"), r.out.constData());
    QVERIFY(r.err.endsWith(" Word Count: 12\n"));

    // A list of the user's comes first: "saw" is the tool here, not a form of see.
    const QString list = tmp.filePath(u"mine.txt"_qs);
    writeFile(list, "saw -> saws\nmouse -> mice\nmice\tmice\n");
    r = run({u"--combined"_qs, u"--lemmas"_qs, u"en"_qs, u"--lemmas"_qs, list, text});
    QCOMPARE(r.exitCode, 0);
    QVERIFY2(r.out.contains("\nsaw  \t2\r\n") && !r.out.contains("see"), r.out.constData());
    QVERIFY2(r.err.startsWith(QByteArray("corvalen count: the lemma list " + QFile::encodeName(list)
                                         + " gives 1 form a second lemma; each keeps its first.\n")),
             r.err.constData());

    // A damaged line stops the command before anything is counted, and is named.
    writeFile(list, "saw -> saws\n# fine so far\nsee saw\n");
    const QString out = tmp.filePath(u"out.tsv"_qs);
    r = run({u"--lemmas"_qs, list, u"-o"_qs, out, text});
    QCOMPARE(r.exitCode, 2);
    QVERIFY2(r.err.contains(QByteArray(QFile::encodeName(list) + " cannot be read at line 3")), r.err.constData());
    QVERIFY(!r.err.contains("Word Count"));
    QVERIFY(!QFileInfo::exists(out));

    // The help names the languages of this machine.
    r = run({u"--help"_qs});
    QVERIFY2(r.out.simplified().contains(QByteArray("(here: " + lemmaLanguages().join(u", ").toUtf8())), r.out.constData());

    // Every command that finds words takes it, and a query finds every form of its lemma.
    r = execute({u"context"_qs, u"--lemmas"_qs, u"en"_qs, u"mouse"_qs, text});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out.count('\n'), 2);
    QVERIFY2(r.err.contains("Occurrences: 2"), r.err.constData());
    r = execute({u"dispersion"_qs, u"--lemmas"_qs, u"en"_qs, u"run"_qs, text});
    QCOMPARE(r.exitCode, 0);
    r = execute({u"clusters"_qs, u"--lemmas"_qs, u"fr"_qs, u"run"_qs, text});
    QCOMPARE(r.exitCode, 0);
}

void TestCli::jsonGivesTheFormsOfAGroup()
{
    QTemporaryDir tmp;
    const QString text = tmp.filePath(u"t.txt"_qs);
    writeFile(text, "connect connected connection connects connects runs run running cat\n");
    for (const QStringList &mode : {QStringList{u"--combined"_qs}, QStringList{u"--per-file"_qs}}) {
        const Run r = run(mode + QStringList{u"--stem"_qs, u"english"_qs, u"--format"_qs, u"json"_qs, text});
        QCOMPARE(r.exitCode, 0);
        QJsonParseError error;
        const QJsonArray rows = QJsonDocument::fromJson(r.out, &error).array();
        QCOMPARE(error.error, QJsonParseError::NoError);
        QCOMPARE(rows.size(), 3);
        qint64 total = 0;
        for (const QJsonValue v : rows) {
            const QJsonObject o = v.toObject();
            const QJsonObject forms = o.value(u"forms").toObject();
            qint64 sum = 0;
            qint64 most = 0;
            for (auto it = forms.begin(); it != forms.end(); ++it) {
                sum += qint64(it.value().toDouble());
                most = std::max(most, qint64(it.value().toDouble()));
            }
            QCOMPARE(qint64(o.value(u"count").toDouble()), sum);
            QCOMPARE(qint64(forms.value(o.value(u"word").toString()).toDouble()), most);
            total += sum;
        }
        QCOMPARE(total, 9);
        // The most frequent form comes first, ties by code units, as written.
        QVERIFY2(r.out.contains("\"word\": \"connects\", \"count\": 5, \"forms\": {\"connects\": 2, \"connect\": 1, "
                                "\"connected\": 1, \"connection\": 1}}"),
                 r.out.constData());
        QVERIFY(r.out.contains("\"word\": \"cat\", \"count\": 1, \"forms\": {\"cat\": 1}}"));
    }
}

void TestCli::rangeMatchesTheReferenceCounter_data()
{
    QTest::addColumn<bool>("docx");
    QTest::addColumn<bool>("ignoreCase");
    QTest::newRow("text files, case ignored") << false << true;
    QTest::newRow("text files, case kept") << false << false;
    QTest::newRow("docx files, case ignored") << true << true;
}

// Each word's number of files is that of the files whose own count, by the reference counter,
// has it; a file that cannot be read adds nothing and fails the run.
void TestCli::rangeMatchesTheReferenceCounter()
{
    QFETCH(bool, docx);
    QFETCH(bool, ignoreCase);
    if (m_python.isEmpty())
        QSKIP("python3 or the reference counter is missing");
    QStringList files = m_corpusFiles;
    if (docx) {
        const QString folder = m_tmp.filePath(u"docx-range"_qs);
        if (!QDir(folder).exists()) {
            QProcess make;
            make.start(m_python, {QStringLiteral(CORVALEN_SHARED_DIR "/bench/make_corpus.py"), u"--docx"_qs,
                                  u"--size"_qs, u"0.2"_qs, u"--files"_qs, u"4"_qs, u"--out"_qs, folder});
            QVERIFY(make.waitForFinished(300000));
            QCOMPARE(make.exitCode(), 0);
        }
        files.clear();
        QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            files << it.next();
        files.sort();
        QCOMPARE(files.size(), 4);
    }
    const QStringList caseOption{ignoreCase ? u"--ignore-case"_qs : u"--keep-case"_qs};
    QStringList oracleCase;
    if (ignoreCase)
        oracleCase << u"--ignore-case"_qs;
    const Run o = oracle(QStringList{u"--per-file"_qs, u"--with-filename"_qs} + oracleCase + files);
    QCOMPARE(o.exitCode, 0);
    QHash<QString, qint64> expected;
    for (const QString &line : QString::fromUtf8(o.out).split(u"\r\n"_qs, Qt::SkipEmptyParts)) {
        // file, word, count: a word may hold tabs, a file name does not.
        const qsizetype first = line.indexOf(u'\t'), last = line.lastIndexOf(u'\t');
        QString word = line.mid(first + 1, last - first - 1);
        while (word.endsWith(u' ')) // padding; words hold no plain spaces
            word.chop(1);
        ++expected[word]; // one row per file and word
    }
    QVERIFY(expected.size() > 1000);

    QStringList listed = files;
    listed.insert(1, m_tmp.filePath(u"missing.txt"_qs));
    const Run r = run(QStringList{u"--combined"_qs, u"--range"_qs, u"--format"_qs, u"json"_qs} + caseOption + listed);
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.err.contains("missing.txt"), r.err.constData());
    const QJsonArray rows = QJsonDocument::fromJson(r.out).array();
    QCOMPARE(rows.size(), expected.size());
    qint64 several = 0;
    for (const QJsonValue &row : rows) {
        const QString word = row[u"word"_qs].toString();
        const qint64 files = row[u"files"_qs].toInteger();
        several += files > 1;
        if (files != expected.value(word))
            QFAIL(qPrintable(u"%1 occurs in %2 files, not %3"_qs.arg(word).arg(expected.value(word)).arg(files)));
    }
    QVERIFY(several > 0 && several < rows.size());
}

void TestCli::rangeInEveryFormat_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("tsv") << u"tsv"_qs << QByteArray("three\t1\t1\r\none  \t2\t2\r\ntwo  \t4\t3\r\n");
    QTest::newRow("text") << u"text"_qs
                          << QByteArray(" Word\tCount\tFiles\t\r\nthree\t1    \t1    \t\r\none  \t2    \t2    \t\r\n"
                                        "two  \t4    \t3    \t\r\n\r\n");
    QTest::newRow("csv") << u"csv"_qs << QByteArray("word,count,files\r\nthree,1,1\r\none,2,2\r\ntwo,4,3\r\n");
    QTest::newRow("json") << u"json"_qs
                          << QByteArray("[\n  {\"word\": \"three\", \"count\": 1, \"files\": 1},\n"
                                        "  {\"word\": \"one\", \"count\": 2, \"files\": 2},\n"
                                        "  {\"word\": \"two\", \"count\": 4, \"files\": 3}\n]\n");
    QTest::newRow("xlsx") << u"xlsx"_qs << QByteArray();
}

void TestCli::rangeInEveryFormat()
{
    QFETCH(QString, format);
    QFETCH(QByteArray, expected);
    QTemporaryDir tmp;
    writeFile(tmp.filePath(u"a.txt"_qs), "one two two\n");
    writeFile(tmp.filePath(u"b.txt"_qs), "Two three\n");
    writeFile(tmp.filePath(u"c.txt"_qs), "two one\n");
    const QString out = tmp.filePath(u"out."_qs + format);
    const Run r = run({u"--combined"_qs, u"--range"_qs, u"--format"_qs, format, u"-o"_qs, out,
                       tmp.filePath(u"a.txt"_qs), tmp.filePath(u"b.txt"_qs), tmp.filePath(u"c.txt"_qs)});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.err, QByteArray(" Word Count: 7\n"));
    if (!expected.isEmpty()) {
        QCOMPARE(readFile(out), expected);
        return;
    }
    const QByteArray xml = unzip(out, "xl/worksheets/sheet1.xml");
    QVERIFY(xml.contains("<t>Files</t>"));
    QVERIFY2(xml.contains("<c r=\"C4\"><v>3</v></c>"), xml.constData()); // two: in 3 files, a number
    QVERIFY(xml.contains("<c r=\"B4\"><v>4</v></c>"));
}

QString TestCli::manyDistinctWords()
{
    const QString path = m_tmp.filePath(u"distinct.txt"_qs);
    if (QFileInfo::exists(path))
        return path;
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return {};
    QByteArray block;
    for (int i = 0; i < 8000000; ++i) {
        block += 'w' + QByteArray::number(i, 16) + ' ';
        if (block.size() > (1 << 20)) {
            f.write(block);
            block.clear();
        }
    }
    f.write(block + '\n');
    return path;
}

// The limit of the child's address space: counting 8 million distinct words needs more.
void limitMemory()
{
    rlimit r{};
    r.rlim_cur = r.rlim_max = 600000000;
    setrlimit(RLIMIT_AS, &r);
}

void TestCli::outOfMemoryNamesTheFileAndKeepsTheOthers_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<bool>("withSmallFile");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("combined, that file alone") << QStringList{u"--combined"_qs} << false << QByteArray("old\n");
    QTest::newRow("combined, with a small file")
            << QStringList{u"--combined"_qs} << true << QByteArray("hello\t1\r\nworld\t1\r\n");
    QTest::newRow("per file, with a small file")
            << QStringList{u"--no-filename"_qs} << true << QByteArray("hello\t1\r\nworld\t1\r\n");
}

// Memory running out on a counting thread must not end the program: the file is named, the
// others are counted, the output holds their rows (or stays as it was when there are none).
void TestCli::outOfMemoryNamesTheFileAndKeepsTheOthers()
{
    QFETCH(QStringList, options);
    QFETCH(bool, withSmallFile);
    QFETCH(QByteArray, expected);
    const QString big = manyDistinctWords();
    QVERIFY(!big.isEmpty());
    QTemporaryDir tmp;
    const QString small = tmp.filePath(u"small.txt"_qs);
    const QString out = tmp.filePath(u"out.tsv"_qs);
    writeFile(small, "hello world\n");
    writeFile(out, "old\n");
    QStringList args = options + QStringList{u"-o"_qs, out};
    if (withSmallFile)
        args << small;
    args << big;
    const Run r = run(args, {}, limitMemory);
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.err.contains(QByteArray("Out of memory while counting " + QDir::toNativeSeparators(big).toUtf8() + '.')),
             r.err.constData());
    QCOMPARE(readFile(out), expected);
    QVERIFY(r.err.endsWith(withSmallFile ? " Word Count: 2\n" : " Word Count: 0\n"));
}

// The commands that read a corpus again (its words numbered or hashed on worker threads) end with
// the file named when memory runs out there, exit status 1, and leave -o as it was: no abort.
void TestCli::corpusCommandsOutOfMemoryNameTheFile_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("output"); // whether the command takes -o
    QTest::newRow("collocates") << QStringList{u"collocates"_qs, u"w1"_qs} << true;
    // Every word a hit: clusters and a sorted context keep what every word gives.
    QTest::newRow("clusters") << QStringList{u"clusters"_qs, u"*"_qs} << true;
    QTest::newRow("context sorted") << QStringList{u"context"_qs, u"--sort"_qs, u"1R"_qs, u"*"_qs} << false;
    QTest::newRow("count --dispersion") << QStringList{u"count"_qs, u"--combined"_qs, u"--dispersion"_qs} << true;
}

void TestCli::corpusCommandsOutOfMemoryNameTheFile()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, output);
    const QString big = manyDistinctWords();
    QVERIFY(!big.isEmpty());
    QTemporaryDir tmp;
    const QString out = tmp.filePath(u"out.txt"_qs);
    writeFile(out, "old\n");
    if (output)
        arguments << u"-o"_qs << out;
    const Run r = execute(arguments + QStringList{big}, {}, limitMemory);
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.err.contains(QByteArray("Out of memory while reading " + QDir::toNativeSeparators(big).toUtf8() + '.')),
             r.err.constData());
    QCOMPARE(readFile(out), QByteArray("old\n"));
}

// A run that counted no file leaves an existing output as it was; --stats marks a file that was
// not read instead of showing it as empty.
void TestCli::outputKeptWhenNothingWasCounted()
{
    QTemporaryDir tmp;
    const QString out = tmp.filePath(u"o.tsv"_qs);
    const QString missing = tmp.filePath(u"missing.txt"_qs);
    const QString a = tmp.filePath(u"a.txt"_qs);
    writeFile(out, "old\n");
    writeFile(a, "one two two\n");
    for (const QString &format : {u"tsv"_qs, u"text"_qs, u"csv"_qs, u"json"_qs, u"xlsx"_qs}) {
        Run r = run({u"--format"_qs, format, u"-o"_qs, out, missing});
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(readFile(out), QByteArray("old\n"));
    }
    const Run r = run({u"--stats"_qs, u"-o"_qs, out, a, missing});
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(readFile(out), QByteArray("a.txt\tone\t1\r\na.txt\ttwo\t2\r\n"));
    const QByteArray notRead = QDir::toNativeSeparators(missing).toUtf8() + "\nNot read: the file could not be counted.\n";
    QVERIFY2(r.err.contains(notRead), r.err.constData());
    QVERIFY(r.err.contains(QByteArray(QDir::toNativeSeparators(a).toUtf8() + "\nTokens: 3\n")));
}

// A file that may be written in a folder that takes no new file cannot be replaced: that is said,
// with the system's reason, before anything is counted; also for a combined count, whose rows
// need no temporary file.
void TestCli::outputFolderCheckedBeforeCounting()
{
    if (!canBindPermissionsInChild())
        QSKIP("permission bits cannot be made to bind the program here");
    QTemporaryDir tmp;
    const QString folder = tmp.filePath(u"ro"_qs);
    const QString out = folder + u"/o.tsv";
    writeFile(out, "old\n");
    writeFile(tmp.filePath(u"a.txt"_qs), "one\n");
    QVERIFY(QFile::setPermissions(out, QFile::ReadOwner | QFile::WriteOwner));
    QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
    const auto unlock = qScopeGuard([&] {
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    });
    for (const QString &mode : {u"--combined"_qs, u"--per-file"_qs}) {
        const Run r = run({mode, u"-o"_qs, out, tmp.filePath(u"a.txt"_qs)}, {}, bindPermissionsInChild);
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(QString::fromUtf8(r.err),
                 u"Could not write \"%1\": no new file can be made in its folder \"%2\" to take its place: "
                 "Permission denied.\n"_qs.arg(QDir::toNativeSeparators(out), QDir::toNativeSeparators(folder)));
        QCOMPARE(readFile(out), QByteArray("old\n"));
    }
}

// A process ended by a signal while it writes leaves nothing beside the target: the temporary
// files have no name, or lose it on the signal.
void TestCli::temporaryFilesGoWithTheProcess()
{
    QTemporaryDir tmp;
    const QString big = manyDistinctWords();
    QVERIFY(!big.isEmpty());
    for (const QString &format : {u"xlsx"_qs, u"text"_qs}) {
        for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
            QProcess p;
            p.start(m_bin, {u"count"_qs, u"--format"_qs, format, u"-o"_qs, tmp.filePath(u"out."_qs + format), big});
            QVERIFY(p.waitForStarted());
            // Counting takes about a second; the rows then take several to write.
            QTest::qWait(2500);
            ::kill(pid_t(p.processId()), signal);
            QVERIFY(p.waitForFinished(60000));
            const QStringList left = QDir(tmp.path()).entryList(QDir::Files | QDir::Hidden);
            QVERIFY2(left.isEmpty() || left == QStringList{u"out."_qs + format}, qPrintable(left.join(u' ')));
        }
    }

    // Where the system has no unnamed files, the name is removed on the signal.
    const QByteArray named = QFile::encodeName(tmp.filePath(u".corvalen-test.tmp"_qs));
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        writeFile(QFile::decodeName(named), "partial");
        const pid_t child = ::fork();
        if (child == 0) {
            std::signal(signal, SIG_DFL); // as in a program of its own, not under the test's handlers
            const RemovedOnSignal removed(named);
            ::raise(signal);
            ::_exit(0); // not reached
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFSIGNALED(status));
        QCOMPARE(WTERMSIG(status), signal);
        QVERIFY(!QFile::exists(QFile::decodeName(named)));
    }
    // Gone with its owner too, and the signal then ends the process without touching the file.
    writeFile(QFile::decodeName(named), "kept");
    {
        const RemovedOnSignal removed(named);
    }
    QVERIFY(QFile::exists(QFile::decodeName(named)));
}

// A name that is not valid UTF-8 is counted like any other, in a folder and given itself; a file
// that may not be read is named with the system's reason.
void TestCli::namesThatAreNotUtf8AreCounted()
{
    QTemporaryDir tmp;
    const QByteArray root = QFile::encodeName(tmp.path());
    QVERIFY(::mkdir(QByteArray(root + "/t").constData(), 0755) == 0);
    QVERIFY(::mkdir(QByteArray(root + "/t/sub\xe9").constData(), 0755) == 0);
    const auto put = [](const QByteArray &path, const QByteArray &text) {
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        QVERIFY(fd >= 0);
        QCOMPARE(::write(fd, text.constData(), size_t(text.size())), ssize_t(text.size()));
        ::close(fd);
    };
    put(root + "/t/caf\xe9.txt", "hello\n");
    put(root + "/t/sub\xe9/x.txt", "there\n");
    Run r = run({u"--no-filename"_qs, tmp.filePath(u"t"_qs)});
    QCOMPARE(r.err, QByteArray(" Word Count: 2\n"));
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, QByteArray("hello\t1\r\nthere\t1\r\n"));

    // Given on the command line, by its bytes.
    QProcess p;
    p.setProgram(m_bin);
    p.setArguments({u"count"_qs});
    p.setChildProcessModifier([path = QByteArray(root + "/t/caf\xe9.txt"), bin = QFile::encodeName(m_bin)] {
        const char *argv[] = {bin.constData(), "count", "--combined", path.constData(), nullptr};
        ::execv(bin.constData(), const_cast<char **>(argv));
        ::_exit(127);
    });
    p.start();
    QVERIFY(p.waitForFinished(60000));
    QCOMPARE(p.readAllStandardOutput(), QByteArray("hello\t1\r\n"));
    QCOMPARE(p.exitCode(), 0);

    if (!canBindPermissionsInChild())
        QSKIP("permission bits cannot be made to bind the program here");
    const QString locked = tmp.filePath(u"locked"_qs);
    writeFile(locked + u"/f.txt", "secret\n");
    QVERIFY(QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner));
    const auto unlock = qScopeGuard([&] {
        QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    });
    r = run({locked + u"/f.txt"}, {}, bindPermissionsInChild);
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.err.startsWith(QByteArray(QDir::toNativeSeparators(locked + u"/f.txt").toUtf8()
                                         + " could not be opened: Permission denied.\n")),
             r.err.constData());
}

void TestCli::stopWordListsAreReadOnce_data()
{
    QTest::addColumn<QString>("command");
    QTest::newRow("count") << u"count"_qs;
    QTest::newRow("context") << u"context"_qs;
}

// A list from a pipe can be read once only: a second reading would find it empty (or, for a
// named pipe, wait for ever).
void TestCli::stopWordListsAreReadOnce()
{
    QFETCH(QString, command);
    QTemporaryDir tmp;
    const QString text = tmp.filePath(u"t.txt"_qs);
    writeFile(text, "the cat and the hat\n");
    const QStringList word = command == u"context" ? QStringList{u"the"_qs} : QStringList{u"--combined"_qs};
    // Standard input.
    Run r = execute(QStringList{command, u"--stop-words"_qs, u"/dev/stdin"_qs} + word + QStringList{text}, "the\n");
    QCOMPARE(r.exitCode, 0);
    if (command == u"count")
        QCOMPARE(r.out, QByteArray("and\t1\r\ncat\t1\r\nhat\t1\r\n"));
    else
        QVERIFY2(r.err.endsWith(" Occurrences: 0\n") && r.err.contains("stop word"), r.err.constData());

    // A named pipe, written once.
    const QByteArray fifo = QFile::encodeName(tmp.filePath(u"list"_qs));
    QVERIFY(::mkfifo(fifo.constData(), 0600) == 0);
    std::thread writer([fifo] {
        const int fd = ::open(fifo.constData(), O_WRONLY);
        if (fd >= 0) {
            [[maybe_unused]] const ssize_t n = ::write(fd, "the\n", 4);
            ::close(fd);
        }
    });
    QProcess p;
    p.start(m_bin, QStringList{command, u"--stop-words"_qs, QFile::decodeName(fifo)} + word + QStringList{text});
    const bool finished = p.waitForFinished(30000);
    if (!finished) {
        p.kill();
        p.waitForFinished();
        // Free the writer, should the program never have opened the pipe.
        const int fd = ::open(fifo.constData(), O_RDONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
    }
    writer.join();
    QVERIFY2(finished, "the program waits for a named pipe read already");
    QCOMPARE(p.exitCode(), 0);
    if (command == u"count")
        QCOMPARE(p.readAllStandardOutput(), QByteArray("and\t1\r\ncat\t1\r\nhat\t1\r\n"));
}

// What the shell hands over is what counts: a leading U+FEFF (which Qt's own decoding drops)
// stays in a word and in a path.
void TestCli::argumentsAreTakenByteForByte()
{
    QTemporaryDir tmp;
    const QString text = tmp.filePath(u"\ufeffa.txt"_qs);
    writeFile(text, "x \xef\xbb\xbfword y word\n");
    Run r = run({u"--combined"_qs, text});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, QByteArray("word \t1\r\nx    \t1\r\ny    \t1\r\n\xef\xbb\xbfword\t1\r\n"));
    r = execute({u"context"_qs, u"\ufeffword"_qs, text});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.err, QByteArray(" Occurrences: 1\n"));
    QVERIFY(r.out.contains("\t\xef\xbb\xbfword\t"));
}

void TestCli::wordsThatCanNeverBeCountedAreExplained_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("word");
    QTest::addColumn<QByteArray>("why");
    QTest::newRow("empty") << QStringList{} << QString() << QByteArray("the word is empty");
    QTest::newRow("punctuation") << QStringList{} << u"...!"_qs << QByteArray("only punctuation");
    QTest::newRow("phrase shorter than --ngrams") << QStringList{u"--ngrams"_qs, u"3"_qs} << u"the cat"_qs
                                                  << QByteArray("\"the cat\" is 2 words: with --ngrams 3");
    QTest::newRow("one word with --ngrams") << QStringList{u"--ngrams"_qs, u"3"_qs} << u"cat"_qs
                                            << QByteArray("\"cat\" is one word: with --ngrams 3");
    QTest::newRow("stop word") << QStringList{u"--stop-words"_qs, u"en"_qs} << u"The"_qs
                               << QByteArray("\"the\" is a stop word");
    QTest::newRow("stop word in a phrase") << QStringList{u"--stop-words"_qs, u"en"_qs, u"--ngrams"_qs, u"2"_qs}
                                           << u"cat and"_qs << QByteArray("\"and\" is a stop word");
    QTest::newRow("too short") << QStringList{u"--min-length"_qs, u"4"_qs} << u"cat"_qs
                               << QByteArray("\"cat\" is shorter than --min-length 4");
    QTest::newRow("countable, absent") << QStringList{} << u"zebra"_qs << QByteArray();
}

void TestCli::wordsThatCanNeverBeCountedAreExplained()
{
    QFETCH(QStringList, options);
    QFETCH(QString, word);
    QFETCH(QByteArray, why);
    QTemporaryDir tmp;
    writeFile(tmp.filePath(u"t.txt"_qs), "the cat and the hat\n");
    const Run r = execute(QStringList{u"context"_qs} + options + QStringList{word, tmp.filePath(u"t.txt"_qs)});
    QCOMPARE(r.exitCode, 0);
    QVERIFY(r.out.isEmpty());
    QVERIFY(r.err.endsWith(" Occurrences: 0\n"));
    if (why.isEmpty())
        QCOMPARE(r.err, QByteArray(" Occurrences: 0\n"));
    else
        QVERIFY2(r.err.startsWith("corvalen context: ") && r.err.contains(why), r.err.constData());
}

// Language names are taken in any letter case; a file named like a language is ./NAME, and one in
// the working folder is pointed out.
void TestCli::languageNamesInAnyCase()
{
    QTemporaryDir tmp;
    const QString text = tmp.filePath(u"t.txt"_qs);
    writeFile(text, "run runs The running\n");
    writeFile(tmp.filePath(u"en"_qs), "run\nruns\n");
    Run r = run({u"--combined"_qs, u"--stem"_qs, u"English"_qs, u"--stop-words"_qs, u"EN"_qs, text});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, QByteArray("run\t3\r\n"));
    const auto inFolder = [folder = QFile::encodeName(tmp.path())] { [[maybe_unused]] int e = ::chdir(folder.constData()); };
    r = run({u"--combined"_qs, u"--stop-words"_qs, u"en"_qs, text}, {}, inFolder);
    QCOMPARE(r.out, QByteArray("run    \t1\r\nrunning\t1\r\nruns   \t1\r\n"));
    QVERIFY2(r.err.startsWith("corvalen count: --stop-words en is the built-in list; the file en in this folder is ./en.\n"),
             r.err.constData());
    r = run({u"--combined"_qs, u"--stop-words"_qs, u"./en"_qs, text}, {}, inFolder);
    QCOMPARE(r.out, QByteArray("running\t1\r\nthe    \t1\r\n"));
    QCOMPARE(r.err, QByteArray(" Word Count: 2\n"));
}

// The padded layouts: one word of 100,000 characters among a thousand short ones gives a file
// about the size of its words, not a thousand times its length.
void TestCli::enormousWordPadsNoOtherRow()
{
    QTemporaryDir tmp;
    QByteArray text;
    for (int i = 0; i < 1000; ++i)
        text += "w" + QByteArray::number(i) + ' ';
    text += QByteArray(100000, 'x') + '\n';
    writeFile(tmp.filePath(u"in.txt"_qs), text);
    for (const char *format : {"tsv", "text"}) {
        for (const QString &mode : {u"--combined"_qs, u"--per-file"_qs}) {
            const Run r = run({mode, u"--format"_qs, QString::fromLatin1(format), tmp.filePath(u"in.txt"_qs)});
            QCOMPARE(r.exitCode, 0);
            QVERIFY2(r.out.size() < 150000, QByteArray::number(r.out.size()).constData());
            QVERIFY(r.out.contains(QByteArray(QByteArray(100000, 'x') + '\t')));
        }
    }
}

void TestCli::outputKeptWhenNothingWasRead_data()
{
    QTest::addColumn<QStringList>("arguments"); // MISSING, SMALL, BIG and OUT stand for files of the test
    QTest::addColumn<bool>("capped");            // run under the memory limit
    const QString missing = u"MISSING"_qs, small = u"SMALL"_qs, out = u"OUT"_qs;
    QTest::newRow("collocates") << QStringList{u"collocates"_qs, u"-o"_qs, out, u"the"_qs, missing} << false;
    QTest::newRow("clusters") << QStringList{u"clusters"_qs, u"-o"_qs, out, u"the"_qs, missing} << false;
    QTest::newRow("dispersion") << QStringList{u"dispersion"_qs, u"-o"_qs, out, u"the"_qs, missing} << false;
    QTest::newRow("dispersion, no file given") << QStringList{u"dispersion"_qs, u"-o"_qs, out, u"the"_qs, u"-"_qs} << false;
    QTest::newRow("keywords, no target read")
            << QStringList{u"keywords"_qs, u"--reference"_qs, small, u"-o"_qs, out, missing} << false;
    QTest::newRow("keywords, no reference read")
            << QStringList{u"keywords"_qs, u"--reference"_qs, missing, u"-o"_qs, out, small} << false;
    QTest::newRow("keywords, the target out of memory")
            << QStringList{u"keywords"_qs, u"--reference"_qs, small, u"-o"_qs, out, u"BIG"_qs} << true;
}

// A corpus command that could read no file found nothing: as with count, -o keeps what it holds
// (and the exit status says that something failed, where something did).
void TestCli::outputKeptWhenNothingWasRead()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, capped);
    QTemporaryDir tmp;
    const QString out = tmp.filePath(u"r.tsv"_qs);
    writeFile(out, "KEEP\n");
    writeFile(tmp.filePath(u"small.txt"_qs), "the cat sat on the mat\n");
    for (QString &a : arguments) {
        if (a == u"MISSING")
            a = tmp.filePath(u"missing.txt"_qs);
        else if (a == u"SMALL")
            a = tmp.filePath(u"small.txt"_qs);
        else if (a == u"OUT")
            a = out;
        else if (a == u"BIG")
            a = manyDistinctWords();
    }
    const bool noFiles = arguments.last() == u"-";
    const Run r = execute(arguments, {}, capped ? std::function<void()>(limitMemory) : std::function<void()>());
    QCOMPARE(r.exitCode, noFiles ? 0 : 1);
    QCOMPARE(readFile(out), QByteArray("KEEP\n"));
}

// In the child: every thread asks for a stack of 16 TB (a thread's stack is the stack limit's
// size), which the address-space limit refuses, so no thread can start; the main thread's stack
// grows as it needs.
void refuseThreads()
{
    rlimit stack{};
    stack.rlim_cur = stack.rlim_max = rlim_t(1) << 44;
    setrlimit(RLIMIT_STACK, &stack);
    rlimit space{};
    space.rlim_cur = space.rlim_max = rlim_t(4) << 30;
    setrlimit(RLIMIT_AS, &space);
}

void TestCli::commandsRunWhenNoThreadCanStart_data()
{
    QTest::addColumn<QStringList>("arguments"); // BIG, SMALL, LIST and OUT stand for files of the test
    const QString big = u"BIG"_qs, small = u"SMALL"_qs;
    QTest::newRow("count --combined") << QStringList{u"count"_qs, u"--combined"_qs, big, small};
    QTest::newRow("count per file") << QStringList{u"count"_qs, big, small, big};
    QTest::newRow("count --dispersion --stats")
            << QStringList{u"count"_qs, u"--combined"_qs, u"--dispersion"_qs, u"--stats"_qs, big, small};
    QTest::newRow("count xlsx") << QStringList{u"count"_qs, u"--format"_qs, u"xlsx"_qs, u"-o"_qs, u"OUT"_qs, small};
    QTest::newRow("context") << QStringList{u"context"_qs, u"the"_qs, big, small};
    QTest::newRow("context sorted") << QStringList{u"context"_qs, u"--sort"_qs, u"1R,hit"_qs, u"th*"_qs, big, small};
    QTest::newRow("dispersion") << QStringList{u"dispersion"_qs, u"the"_qs, big, small};
    QTest::newRow("collocates") << QStringList{u"collocates"_qs, u"the"_qs, big, small};
    QTest::newRow("clusters") << QStringList{u"clusters"_qs, u"the"_qs, big, small};
    QTest::newRow("keywords --reference") << QStringList{u"keywords"_qs, u"--p"_qs, u"1"_qs, u"--reference"_qs, small, big};
    QTest::newRow("keywords --reference-list")
            << QStringList{u"keywords"_qs, u"--p"_qs, u"1"_qs, u"--reference-list"_qs, u"LIST"_qs, big};
}

// When the system will start no thread, no command aborts or waits for ever: each does its work
// on the threads it has and gives what it gives with threads.
void TestCli::commandsRunWhenNoThreadCanStart()
{
    QFETCH(QStringList, arguments);
    QTemporaryDir tmp;
    // A text big enough to be counted in slices and, as one large file, apart from the others.
    const QString big = tmp.filePath(u"big.txt"_qs);
    {
        QFile f(big);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QRandomGenerator random(3);
        QByteArray text;
        const QList<QByteArray> common{"the", "cat", "sat", "on", "a", "mat", "and", "then", "there"};
        while (text.size() < 12'000'000) {
            text += random.bounded(3) == 0 ? 'w' + QByteArray::number(random.bounded(200000)) : common.at(random.bounded(9));
            text += random.bounded(12) == 0 ? '\n' : ' ';
        }
        QCOMPARE(f.write(text), text.size());
    }
    writeFile(tmp.filePath(u"small.txt"_qs), "The cat sat on the mat.\nThen the dog.\n");
    writeFile(tmp.filePath(u"list.tsv"_qs), "the\t40\ncat\t3\ndog\t7\n");
    for (QString &a : arguments) {
        if (a == u"BIG")
            a = big;
        else if (a == u"SMALL")
            a = tmp.filePath(u"small.txt"_qs);
        else if (a == u"LIST")
            a = tmp.filePath(u"list.tsv"_qs);
        else if (a == u"OUT")
            a = tmp.filePath(u"out.xlsx"_qs);
    }
    const Run expected = execute(arguments);
    QCOMPARE(expected.exitCode, 0);
    const Run r = execute(arguments, {}, refuseThreads);
    QVERIFY2(r.exitCode == 0, r.err.constData());
    QCOMPARE(r.err, expected.err);
    QVERIFY(r.out == expected.out);
}

// Clusters of a corpus of more distinct words than 24 bits can number (2^24 words met once, then
// two words met twice each): every word is a hit, so every word is in a cluster.
void TestCli::clustersOfMoreWordsThan24BitsHold()
{
    QTemporaryDir tmp;
    const QString path = tmp.filePath(u"distinct.txt"_qs);
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QByteArray block;
        const char *digits = "abcdefghijklmnopqrstuvwxyz0123456789";
        for (qint64 i = 0; i < (qint64(1) << 24); ++i) {
            char word[6];
            qint64 n = i;
            for (int k = 0; k < 5; ++k, n /= 36)
                word[k] = digits[n % 36];
            word[5] = ' ';
            block.append(word, 6);
            if (block.size() >= (1 << 20)) {
                QCOMPARE(f.write(block), block.size());
                block.clear();
            }
        }
        block += "\nlast words last words\n";
        QCOMPARE(f.write(block), block.size());
    }
    const Run r = execute({u"clusters"_qs, u"--size"_qs, u"2,2"_qs, u"--position"_qs, u"left"_qs, u"*"_qs, path});
    QVERIFY2(r.exitCode == 0, r.err.constData());
    QCOMPARE(r.out, QByteArray("last words\t2\t1\n"));
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
