#include "base/figures.h"
#include "base/safefile.h"
#include "engine/analysisrun.h"
#include "engine/countedrows.h"
#include "engine/wordrules.h"
#include "results/resultlayouts.h"
#include "results/roworder.h"
#include "results/spreadsheetlayout.h"
#include "results/wordliststatistics.h"
#include "support/smallfilesystem.h"
#include "support/zipentries.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

#include <unicode/ucol.h>

#include <cmath>
#include <numeric>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>

using namespace corvalen;
using corvalen::testing::SmallFileSystem;
using corvalen::testing::sheetsOf;
using corvalen::testing::unzip;

namespace {

ResultTable table(std::vector<WordCount> rows)
{
    ResultTable t;
    t.appendRows(rows);
    return t;
}

const QStringList kTwoHeaders{QStringLiteral(" Word"), QStringLiteral("Count")};
const QStringList kThreeHeaders{QStringLiteral("Filename"), QStringLiteral(" Word"), QStringLiteral("Count")};

QByteArray textLayout(const ResultTable &t, const QStringList &headers)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QString error;
    if (!writeResultsText(t, headers, buffer, &error))
        qWarning() << error;
    return buffer.data();
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

struct SheetCell
{
    QString type; // "n" for numbers, "inlineStr" or "s" for text
    QString text;
};

struct Sheet
{
    QMap<QString, SheetCell> cells; // by reference ("A1")
    QList<double> widths;
};

Sheet parseSheet(const QByteArray &xml)
{
    Sheet sheet;
    QXmlStreamReader r(xml);
    QString ref;
    while (!r.atEnd()) {
        r.readNext();
        if (!r.isStartElement())
            continue;
        if (r.name() == u"col") {
            // libxlsxwriter adds the font's padding to the width asked for; keep the part asked for.
            sheet.widths << std::floor(r.attributes().value(QLatin1String("width")).toDouble());
        } else if (r.name() == u"c") {
            ref = r.attributes().value(QLatin1String("r")).toString();
            const QString t = r.attributes().value(QLatin1String("t")).toString();
            sheet.cells[ref].type = t.isEmpty() ? QStringLiteral("n") : t;
        } else if (r.name() == u"v" || r.name() == u"t") {
            sheet.cells[ref].text = r.readElementText();
        }
    }
    return sheet;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly), qPrintable(path));
    f.write(bytes);
}

QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
}

ResultTable manyRows(int n)
{
    std::vector<WordCount> rows;
    for (int i = 0; i < n; ++i)
        rows.push_back({u"word"_qs + QString::number(i), i + 1});
    return table(rows);
}

// The exports that write a file, by the names the tests give them.
enum class Export { Text, Clipboard, Workbook };

bool save(Export e, const ResultTable &t, const QString &path, QString *error)
{
    switch (e) {
    case Export::Text:
        return saveResultsText(t, kTwoHeaders, path, error);
    case Export::Clipboard:
        return saveClipboardText(t, path, error);
    case Export::Workbook:
        return saveResultsSpreadsheet(t, kTwoHeaders, path, error);
    }
    return false;
}

bool writeTo(Export e, const ResultTable &t, QIODevice &device, QString *reason)
{
    switch (e) {
    case Export::Text:
        return writeResultsText(t, kTwoHeaders, device, reason);
    case Export::Clipboard:
        return writeClipboardText(t, device, reason);
    case Export::Workbook:
        return writeResultsSpreadsheet(t, kTwoHeaders, device, reason);
    }
    return false;
}

void addExportRows()
{
    QTest::addColumn<Export>("kind");
    QTest::newRow("text") << Export::Text;
    QTest::newRow("clipboard") << Export::Clipboard;
    QTest::newRow("workbook") << Export::Workbook;
}

// Passes the first bytes on and then refuses, as a nearly full disk does: a short write, then a
// failure with the system's reason.
class RefusingDevice : public QIODevice
{
public:
    RefusingDevice(QIODevice &target, qint64 allowed) : m_target(target), m_allowed(allowed)
    {
        open(QIODevice::WriteOnly);
    }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override
    {
        const qint64 n = std::min(size, m_allowed);
        if (n <= 0) {
            setErrorString(u"No space left on device"_qs);
            return -1;
        }
        if (m_target.write(data, n) != n)
            return -1;
        m_allowed -= n;
        return n;
    }

private:
    QIODevice &m_target;
    qint64 m_allowed;
};

} // namespace

Q_DECLARE_METATYPE(Export)

class TestResults : public QObject
{
    Q_OBJECT

private slots:
    void textFileLayout_data();
    void textFileLayout();
    void clipboardLayout_data();
    void clipboardLayout();
    void clipboardStreamsTheSameText();
    void longListsWrittenOnBothCores();
    void clipboardMatchesReferenceCounter_data();
    void clipboardMatchesReferenceCounter();
    void saveTextFile();
    void failedSaveLeavesTheOldFile();
    void deviceFailureIsReported();
    void spreadsheetCells();
    void spreadsheetWithFileNames();
    void spreadsheetSheetSplit();
    void spreadsheetEmptyAndLongCells();
    void spreadsheetToDevice();
    void spreadsheetFailureNamesTheFile();
    void spreadsheetOpensInLibreOffice();
    void csvLayout_data();
    void csvLayout();
    void jsonParsesBack();
    void statistics();
    void figures_data();
    void figures();
    void alphabeticalOrders_data();
    void alphabeticalOrders();
    void phraseRowsOrderedAsHeldRows();
    void interruptedWriteKeepsTheOldFile_data();
    void interruptedWriteKeepsTheOldFile();
    void failedWriteIsNeverSuccess();
    void fullFileSystem_data();
    void fullFileSystem();
    void specialFilesAreWrittenDirectly_data();
    void specialFilesAreWrittenDirectly();
    void replacementKeepsPermissionsAndLinks();
};

void TestResults::textFileLayout_data()
{
    QTest::addColumn<QList<WordCount>>("rows");
    QTest::addColumn<bool>("fileNames");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("two rows") << QList<WordCount>{{"apple", 12}, {"fig", 3}} << false
                              << QByteArray(" Word\tCount\t\r\napple\t12   \t\r\nfig  \t3    \t\r\n\r\n");
    QTest::newRow("empty list: header and an empty line")
            << QList<WordCount>{} << false << QByteArray(" Word\tCount\t\r\n\r\n");
    QTest::newRow("long cells widen past the header")
            << QList<WordCount>{{"ab", 1}, {"elephant", 123456}} << false
            << QByteArray(" Word   \tCount \t\r\nab      \t1     \t\r\nelephant\t123456\t\r\n\r\n");
    // Widths are UTF-16 code units: é is 1, the emoji 2; the bytes are UTF-8.
    QTest::newRow("non-ASCII") << QList<WordCount>{{u"\U0001F600"_qs, 1}, {u"caf\u00e9s"_qs, 2}} << false
                               << QByteArray(" Word\tCount\t\r\n\xf0\x9f\x98\x80   \t1    \t\r\n"
                                             "caf\xc3\xa9s\t2    \t\r\n\r\n");
    QTest::newRow("file name column") << QList<WordCount>{{"x", 1}, {"yy", 2}} << true
                                      << QByteArray("Filename\t Word\tCount\t\r\n"
                                                    "a.txt   \tx    \t1    \t\r\n"
                                                    "a.txt   \tyy   \t2    \t\r\n\r\n");
    // A word of damaged text, thousands of units long, must not pad every row to its length; one
    // of 100 units still sets the width.
    const QByteArray hundred(100, 'h'), longer(101, 'l');
    QTest::newRow("a word over 100 units stands unpadded")
            << QList<WordCount>{{"ab", 1}, {QString::fromLatin1(longer), 2}} << false
            << QByteArray(" Word\tCount\t\r\nab   \t1    \t\r\n" + longer + "\t2    \t\r\n\r\n");
    QTest::newRow("a word of 100 units sets the width")
            << QList<WordCount>{{"ab", 1}, {QString::fromLatin1(hundred), 2}} << false
            << QByteArray(" Word" + QByteArray(95, ' ') + "\tCount\t\r\nab" + QByteArray(98, ' ') + "\t1    \t\r\n"
                          + hundred + "\t2    \t\r\n\r\n");
}

void TestResults::textFileLayout()
{
    QFETCH(QList<WordCount>, rows);
    QFETCH(bool, fileNames);
    QFETCH(QByteArray, expected);
    ResultTable t(fileNames);
    t.appendRows(std::vector<WordCount>(rows.begin(), rows.end()), QStringLiteral("a.txt"));
    QCOMPARE(textLayout(t, fileNames ? kThreeHeaders : kTwoHeaders), expected);
}

void TestResults::clipboardLayout_data()
{
    QTest::addColumn<QList<WordCount>>("rows");
    QTest::addColumn<bool>("fileNames");
    QTest::addColumn<QString>("expected");
    QTest::newRow("two rows") << QList<WordCount>{{"apple", 12}, {"fig", 3}} << false
                              << u"apple\t12\r\nfig  \t3\r\n"_qs;
    QTest::newRow("empty list") << QList<WordCount>{} << false << QString();
    QTest::newRow("headers do not count") << QList<WordCount>{{"a", 1}, {"b", 1}} << false
                                          << u"a\t1\r\nb\t1\r\n"_qs;
    QTest::newRow("surrogate pair is two wide") << QList<WordCount>{{u"\U0001F600"_qs, 1}, {"ab", 1}} << false
                                                << u"\U0001F600\t1\r\nab\t1\r\n"_qs;
    QTest::newRow("count padded except in the last column")
            << QList<WordCount>{{"a", 9}, {"b", 10}} << true
            << u"f.txt\ta\t9\r\nf.txt\tb\t10\r\n"_qs;
    QTest::newRow("a word over 100 units stands unpadded")
            << QList<WordCount>{{"ab", 1}, {QString(101, u'l'), 2}, {"abc", 3}} << false
            << u"ab \t1\r\n"_qs + QString(101, u'l') + u"\t2\r\nabc\t3\r\n"_qs;
}

void TestResults::clipboardLayout()
{
    QFETCH(QList<WordCount>, rows);
    QFETCH(bool, fileNames);
    QFETCH(QString, expected);
    ResultTable t(fileNames);
    t.appendRows(std::vector<WordCount>(rows.begin(), rows.end()), QStringLiteral("f.txt"));
    QCOMPARE(clipboardText(t), expected);
}

void TestResults::clipboardStreamsTheSameText()
{
    std::vector<WordCount> rows;
    for (int i = 0; i < 100000; ++i)
        rows.push_back({QString::number(i * 7919 % 100003) + u"\u00e9", i % 37});
    const ResultTable t = table(rows);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QVERIFY(writeClipboardText(t, buffer));
    QCOMPARE(buffer.data(), clipboardText(t).toUtf8());
}

namespace {

// The rows of another list, read one after the other only.
class OneByOne : public ResultRows
{
public:
    explicit OneByOne(const ResultRows &rows) : m_rows(rows) { }
    bool hasFileNameColumn() const override { return m_rows.hasFileNameColumn(); }
    bool hasFilesColumn() const override { return m_rows.hasFilesColumn(); }
    bool forEachRow(const Visit &visit, QString *error) const override { return m_rows.forEachRow(visit, error); }

private:
    const ResultRows &m_rows;
};

} // namespace

// A list long enough to be written on both cores, straight to UTF-8, gives the bytes it gives
// written row by row through UTF-16: words of every kind (accents, CJK, pairs, surrogates without
// their pair at either end of a word or alone), with file names and the files column.
void TestResults::longListsWrittenOnBothCores()
{
    const QList<QString> kinds = {u"word"_qs, u"caf\u00e9"_qs, u"\u65e5\u672c\u8a9e"_qs,
                                  QString::fromUcs4(U"\U0001F600x"), QString(QChar(0xD800)) + u"a"_qs,
                                  u"b"_qs + QChar(0xDC00), u"c"_qs + QChar(0xD83D), QString(QChar(0xDFFF))};
    ResultTable t(true);
    for (int file = 0; file < 3; ++file) {
        std::vector<WordCount> rows;
        for (int i = 0; i < 50000; ++i) {
            rows.push_back({kinds.at((i + file) % kinds.size()) + QString::number(i * 7919 % 100003), i % 37 + 1});
            rows.back().files = i % 5 + 1;
        }
        t.appendRows(rows, u"f\u00e9%1.txt"_qs.arg(file));
    }
    for (const bool withFiles : {false, true}) {
        const TableRows rows(t, withFiles);
        QVERIFY(rows.rowsReadApart() > 131072);
        const CellWidths measured = CellWidths::of(rows);
        const QStringList headers{u"Filename"_qs, u" Word"_qs, u"Count"_qs, u"Files"_qs};
        const auto bytes = [&](const ResultRows &r, bool text) {
            QBuffer buffer;
            buffer.open(QIODevice::WriteOnly);
            const bool ok = text ? writeResultsText(r, headers, measured.withHeaders(headers), buffer)
                                 : writeClipboardText(r, measured.widths(), buffer);
            return ok ? buffer.data() : QByteArray();
        };
        for (const bool text : {false, true}) {
            const QByteArray apart = bytes(rows, text);
            QVERIFY(!apart.isEmpty());
            QCOMPARE(apart, bytes(OneByOne(rows), text));
        }
    }
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QVERIFY(writeClipboardText(t, buffer));
    QCOMPARE(buffer.data(), clipboardText(t).toUtf8());
}

void TestResults::clipboardMatchesReferenceCounter_data()
{
    QTest::addColumn<bool>("combined");
    QTest::addColumn<bool>("ignoreCase");
    QTest::addColumn<bool>("withFileName");
    QTest::newRow("combined, case kept") << true << false << false;
    QTest::newRow("combined, case ignored") << true << true << false;
    QTest::newRow("per file with names") << false << true << true;
    QTest::newRow("per file without names") << false << false << false;
}

// The layout of counted text against the reference counter's clipboard output.
void TestResults::clipboardMatchesReferenceCounter()
{
    QFETCH(bool, combined);
    QFETCH(bool, ignoreCase);
    QFETCH(bool, withFileName);
    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    if (python.isEmpty())
        QSKIP("python3 is not installed");
    const QString shared = QStringLiteral(CORVALEN_SHARED_DIR "/bench/");
    if (!QFileInfo::exists(shared + u"oracle.py"_qs))
        QSKIP("the reference counter is not beside the project");
    QTemporaryDir tmp;
    QProcess make;
    make.start(python, {shared + u"make_corpus.py", u"--size"_qs, u"0.03"_qs, u"--files"_qs, u"3"_qs,
                        u"--out"_qs, tmp.filePath(u"c"_qs)});
    QVERIFY(make.waitForFinished(120000));
    QCOMPARE(make.exitCode(), 0);
    QStringList files;
    QDirIterator it(tmp.filePath(u"c"_qs), {u"*.txt"_qs}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    files.sort();
    QCOMPARE(files.size(), 3);

    CountOptions options;
    options.mode = combined ? CountMode::Combined : CountMode::PerFile;
    options.ignoreCase = ignoreCase;
    options.withFileName = withFileName;
    Utf8FileSource source;
    const ResultTable t = runAnalysis(files, options, source);

    QStringList args{shared + u"oracle.py"};
    args << (combined ? u"--combined"_qs : u"--per-file"_qs);
    if (ignoreCase)
        args << u"--ignore-case"_qs;
    if (withFileName)
        args << u"--with-filename"_qs;
    QProcess oracle;
    oracle.start(python, args + files);
    QVERIFY(oracle.waitForFinished(300000));
    QCOMPARE(oracle.exitCode(), 0);
    const QByteArray expected = oracle.readAllStandardOutput();
    QVERIFY(expected.size() > 1000);
    const QByteArray actual = clipboardText(t).toUtf8();
    QCOMPARE(actual.size(), expected.size());
    QVERIFY(actual == expected);
    QCOMPARE(oracle.readAllStandardError().trimmed(), "total " + QByteArray::number(t.total()));
}

void TestResults::saveTextFile()
{
    QTemporaryDir tmp;
    const QString path = tmp.filePath(u"results"_qs); // a name without extension stays so
    QVERIFY(QFile(path).open(QIODevice::WriteOnly)); // an existing file is replaced
    const ResultTable t = table({{"apple", 12}, {"fig", 3}});
    QString error;
    QVERIFY2(saveResultsText(t, kTwoHeaders, path, &error), qPrintable(error));
    QCOMPARE(readFile(path), textLayout(t, kTwoHeaders));
    QVERIFY(saveClipboardText(t, path, &error));
    QCOMPARE(readFile(path), QByteArray("apple\t12\r\nfig  \t3\r\n"));
    QCOMPARE(QDir(tmp.path()).entryList(QDir::Files | QDir::Hidden), QStringList{u"results"_qs});

    const QString missing = tmp.filePath(u"no/such/folder/out.txt"_qs);
    QVERIFY(!saveResultsText(t, kTwoHeaders, missing, &error));
    QVERIFY2(error.contains(QDir::toNativeSeparators(missing)), qPrintable(error));
    QVERIFY(!saveResultsText(t, kTwoHeaders, tmp.path(), &error)); // a folder
    QVERIFY2(error.contains(QDir::toNativeSeparators(tmp.path())), qPrintable(error));
}

// A write that fails half-way (the file-size limit) must not touch the file already there.
void TestResults::failedSaveLeavesTheOldFile()
{
    QTemporaryDir tmp;
    const QString path = tmp.filePath(u"out.txt"_qs);
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("old contents");
    }
    std::vector<WordCount> rows;
    for (int i = 0; i < 200000; ++i)
        rows.push_back({u"word"_qs + QString::number(i), i + 1});
    const ResultTable t = table(rows);

    rlimit old{};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 100000;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    QString textError, sheetError;
    const bool textSaved = saveResultsText(t, kTwoHeaders, path, &textError);
    const bool sheetSaved = saveResultsSpreadsheet(t, kTwoHeaders, path, &sheetError);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    QVERIFY(!textSaved);
    QVERIFY2(textError.contains(path), qPrintable(textError));
    QVERIFY(!sheetSaved);
    QVERIFY2(sheetError.contains(path), qPrintable(sheetError));
    QCOMPARE(readFile(path), QByteArray("old contents"));
    QCOMPARE(QDir(tmp.path()).entryList(QDir::Files | QDir::Hidden), QStringList{u"out.txt"_qs});
}

void TestResults::deviceFailureIsReported()
{
    QBuffer readOnly;
    readOnly.open(QIODevice::ReadOnly);
    QString error;
    QTest::ignoreMessage(QtWarningMsg, "QIODevice::write (QBuffer): ReadOnly device");
    QVERIFY(!writeResultsText(table({{"a", 1}}), kTwoHeaders, readOnly, &error));
    QVERIFY(!error.isEmpty());
}

void TestResults::spreadsheetCells()
{
    QTemporaryDir tmp;
    const QString path = tmp.filePath(u"r.xlsx"_qs);
    const ResultTable t = table({{"007", 1}, {"a=b", 2}, {u"\u4e2d\u6587"_qs, 3}, {"x_x0041_y", 4},
                                 {u"v\u000bt"_qs, 5}, {"elephants", 1234567}});
    QString error;
    QVERIFY2(saveResultsSpreadsheet(t, kTwoHeaders, path, &error), qPrintable(error));
    const Sheet s = parseSheet(unzip(path, "xl/worksheets/sheet1.xml"));
    QCOMPARE(s.cells.value(u"A1"_qs).text, u" Word"_qs); // leading blank kept
    QCOMPARE(s.cells.value(u"B1"_qs).text, u"Count"_qs);
    QVERIFY(s.cells.value(u"A1"_qs).type != u"n");
    QCOMPARE(s.cells.value(u"A2"_qs).text, u"007"_qs); // text: zeros kept
    QVERIFY(s.cells.value(u"A2"_qs).type != u"n");
    QCOMPARE(s.cells.value(u"B2"_qs).type, u"n"_qs);
    QCOMPARE(s.cells.value(u"B2"_qs).text, u"1"_qs);
    QCOMPARE(s.cells.value(u"A3"_qs).text, u"a=b"_qs); // the first column keeps its "="
    QCOMPARE(s.cells.value(u"A4"_qs).text, u"\u4e2d\u6587"_qs);
    QCOMPARE(s.cells.value(u"A5"_qs).text, u"x_x005F_x0041_y"_qs); // read by Excel as x_x0041_y
    QCOMPARE(s.cells.value(u"A6"_qs).text, u"v_x000B_t"_qs);
    QCOMPARE(s.cells.value(u"B7"_qs).text, u"1234567"_qs);
    QCOMPARE(s.cells.size(), 14);
    // Fitted: the widest cell (9 characters; the CJK word counts 4) plus a margin.
    QCOMPARE(s.widths, QList<double>({10, 8}));
}

void TestResults::spreadsheetWithFileNames()
{
    QTemporaryDir tmp;
    const QString path = tmp.filePath(u"r.xlsx"_qs);
    ResultTable t(true);
    t.appendRows({{"=a=b=", 1}, {"c", 2}}, u"f=1.txt"_qs);
    QVERIFY(saveResultsSpreadsheet(t, kThreeHeaders, path));
    const Sheet s = parseSheet(unzip(path, "xl/worksheets/sheet1.xml"));
    QCOMPARE(s.cells.value(u"A1"_qs).text, u"Filename"_qs);
    QCOMPARE(s.cells.value(u"B1"_qs).text, u" Word"_qs);
    QCOMPARE(s.cells.value(u"A2"_qs).text, u"f=1.txt"_qs);
    QCOMPARE(s.cells.value(u"B2"_qs).text, u"ab"_qs); // "=" removed from the later columns
    QCOMPARE(s.cells.value(u"C3"_qs).text, u"2"_qs);
    QCOMPARE(s.cells.value(u"C3"_qs).type, u"n"_qs);
    QCOMPARE(s.widths, QList<double>({9, 6, 6}));
}

void TestResults::spreadsheetSheetSplit()
{
    QTemporaryDir tmp;
    const QString path = tmp.filePath(u"r.xlsx"_qs);
    std::vector<WordCount> rows;
    for (int i = 1; i <= 7; ++i)
        rows.push_back({u"w"_qs + QString(i * 2, u'x'), i});
    QVERIFY(saveResultsSpreadsheet(table(rows), kTwoHeaders, path, nullptr, 3));
    const QByteArray book = unzip(path, "xl/workbook.xml");
    QVERIFY(book.contains("name=\"Sheet1\"") && book.contains("name=\"Sheet3\""));
    QVERIFY(!book.contains("name=\"Sheet4\""));
    int expectedCount = 1;
    for (int n = 1; n <= 3; ++n) {
        const Sheet s = parseSheet(unzip(path, QStringLiteral("xl/worksheets/sheet%1.xml").arg(n).toUtf8().constData()));
        QCOMPARE(s.cells.value(u"A1"_qs).text, u" Word"_qs); // header repeated on every sheet
        QCOMPARE(s.cells.value(u"B1"_qs).text, u"Count"_qs);
        const int dataRows = n < 3 ? 3 : 1;
        QCOMPARE(s.cells.size(), 2 + 2 * dataRows);
        for (int r = 2; r < 2 + dataRows; ++r, ++expectedCount)
            QCOMPARE(s.cells.value(u"B"_qs + QString::number(r)).text, QString::number(expectedCount));
        // Each sheet fitted to its own rows.
        QCOMPARE(s.widths.at(0), double(1 + 2 * (n * 3 < 7 ? n * 3 : 7)) + 1);
    }
}

void TestResults::spreadsheetEmptyAndLongCells()
{
    QTemporaryDir tmp;
    const QString path = tmp.filePath(u"r.xlsx"_qs);
    QVERIFY(saveResultsSpreadsheet(ResultTable(), kTwoHeaders, path));
    Sheet s = parseSheet(unzip(path, "xl/worksheets/sheet1.xml"));
    QCOMPARE(s.cells.size(), 2);
    QCOMPARE(s.widths, QList<double>({6, 6}));

    // A word longer than a cell holds is cut at the limit, not split inside a surrogate pair.
    const QString longWord = QString(kCellTextLimit - 1, u'a') + u"\U0001F600";
    QString error;
    QVERIFY2(saveResultsSpreadsheet(table({{longWord, 1}}), kTwoHeaders, path, &error), qPrintable(error));
    s = parseSheet(unzip(path, "xl/worksheets/sheet1.xml"));
    QCOMPARE(s.cells.value(u"A2"_qs).text, QString(kCellTextLimit - 1, u'a'));
    QCOMPARE(s.widths.at(0), 255.0);
}

void TestResults::spreadsheetToDevice()
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QVERIFY(writeResultsSpreadsheet(table({{"a", 1}}), kTwoHeaders, buffer));
    QVERIFY(buffer.data().startsWith("PK\x03\x04"));
}

void TestResults::spreadsheetFailureNamesTheFile()
{
    QTemporaryDir tmp;
    const QString path = tmp.filePath(u"missing/r.xlsx"_qs);
    QString error;
    QVERIFY(!saveResultsSpreadsheet(table({{"a", 1}}), kTwoHeaders, path, &error));
    QVERIFY2(error.contains(path), qPrintable(error));
}

void TestResults::spreadsheetOpensInLibreOffice()
{
    const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    if (soffice.isEmpty())
        QSKIP("LibreOffice is not installed");
    // Writer alone cannot load a workbook: Calc's import filters must be there.
    if (!QFileInfo::exists(QFileInfo(QFileInfo(soffice).canonicalFilePath()).dir().filePath(u"libscfiltlo.so"_qs)))
        QSKIP("LibreOffice Calc is not installed");
    QTemporaryDir tmp;
    const QString path = tmp.filePath(u"r.xlsx"_qs);
    ResultTable t(true);
    t.appendRows({{"007", 1}, {"a=b", 2}, {u"\u00e9t\u00e9"_qs, 3}, {u"v\u000bt"_qs, 4}, {"x_x0041_y", 5}},
                 u"doc 1.txt"_qs);
    QVERIFY(saveResultsSpreadsheet(t, kThreeHeaders, path));
    QProcess p;
    p.start(soffice, {u"-env:UserInstallation=file://"_qs + tmp.filePath(u"profile"_qs), u"--headless"_qs,
                      u"--convert-to"_qs, u"csv:Text - txt - csv (StarCalc):44,34,76"_qs, u"--outdir"_qs,
                      tmp.path(), path});
    QVERIFY(p.waitForFinished(180000));
    const QByteArray csv = readFile(tmp.filePath(u"r.csv"_qs));
    QVERIFY2(!csv.isEmpty(), p.readAllStandardError().constData());
    const QList<QByteArray> lines = csv.trimmed().split('\n');
    QCOMPARE(lines.size(), 6);
    QCOMPARE(lines.at(0).trimmed(), QByteArray("Filename, Word,Count"));
    QCOMPARE(lines.at(1).trimmed(), QByteArray("doc 1.txt,007,1"));
    QCOMPARE(lines.at(2).trimmed(), QByteArray("doc 1.txt,ab,2"));
    QCOMPARE(lines.at(3).trimmed(), QByteArray("doc 1.txt,\xc3\xa9t\xc3\xa9,3"));
    QCOMPARE(lines.at(5).trimmed(), QByteArray("doc 1.txt,x_x0041_y,5"));
}

// Phrases kept as the numbers of their words are ordered, dropped and cut as rows held one by one.
void TestResults::phraseRowsOrderedAsHeldRows()
{
    WordRules rules;
    rules.phraseLength = 2;
    const std::unique_ptr<WordFinder> finder = WordFinder::create(rules, true);
    QVERIFY(finder);
    QString text;
    QRandomGenerator rng(5);
    const QStringList words = {u"\u00e9t\u00e9"_qs, u"Ete"_qs, u"apple"_qs, u"zebra"_qs, u"\u00c5ngstr\u00f6m"_qs, u"b"_qs};
    for (int i = 0; i < 3000; ++i)
        text += words.at(int(rng.bounded(qint64(words.size())))) + (i % 50 == 49 ? u'\r' : u' ');
    for (const RowOrder order : {RowOrder::Count, RowOrder::CountDescending, RowOrder::Word, RowOrder::WordDescending}) {
        WordTally tally(*finder);
        tally.feed(text);
        tally.finish();
        std::vector<WordCount> held = tally.ordered();
        CountedRows phrases = tally.takeOrderedRows();
        QVERIFY(!phrases.holdsWords());
        orderBlock(held, order);
        orderBlock(phrases, order);
        std::erase_if(held, [](const WordCount &w) { return w.count < 3; });
        phrases.keepCountsFrom(3);
        held.resize(std::min<size_t>(held.size(), 20));
        phrases.truncate(20);
        QCOMPARE(phrases.total(), std::accumulate(held.begin(), held.end(), qint64(0),
                                                  [](qint64 n, const WordCount &w) { return n + w.count; }));
        QCOMPARE(phrases.takeRows(), held);
    }
}

void TestResults::interruptedWriteKeepsTheOldFile_data()
{
    QTest::addColumn<Export>("kind");
    QTest::addColumn<qint64>("allowed"); // bytes that reach the file before the device refuses
    for (const qint64 allowed : {0, 1, 5000}) {
        QTest::addRow("text after %lld", allowed) << Export::Text << allowed;
        QTest::addRow("clipboard after %lld", allowed) << Export::Clipboard << allowed;
        QTest::addRow("workbook after %lld", allowed) << Export::Workbook << allowed;
    }
}

// Every export, stopped part-way by its device: the old file stays, nothing is left beside it
// and the message names the file and the device's reason.
void TestResults::interruptedWriteKeepsTheOldFile()
{
    QFETCH(Export, kind);
    QFETCH(qint64, allowed);
    QTemporaryDir tmp;
    const QString path = tmp.filePath(u"out"_qs);
    writeFile(path, "old contents");
    const ResultTable t = manyRows(2000);
    QString error;
    const bool saved = writeFileSafely(
            path,
            [&](QIODevice &device, QString *reason) {
                RefusingDevice refusing(device, allowed);
                return writeTo(kind, t, refusing, reason);
            },
            &error);
    QVERIFY(!saved);
    QCOMPARE(error, u"Could not write \""_qs + QDir::toNativeSeparators(path) + u"\": No space left on device."_qs);
    QCOMPARE(readFile(path), QByteArray("old contents"));
    QCOMPARE(filesIn(tmp.path()), QStringList{u"out"_qs});
}

// A writer that goes on after a failed write and claims success still fails: the routine saw
// the write fail (here at the file-size limit, a short write followed by EFBIG).
void TestResults::failedWriteIsNeverSuccess()
{
    QTemporaryDir tmp;
    const QString path = tmp.filePath(u"out"_qs);
    writeFile(path, "old contents");
    rlimit old{};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 10000;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    QString error;
    const bool saved = writeFileSafely(
            path,
            [](QIODevice &device, QString *) {
                const QByteArray block(4096, 'x');
                for (int i = 0; i < 10; ++i)
                    device.write(block);
                return true;
            },
            &error);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    QVERIFY(!saved);
    QVERIFY2(error.endsWith(u": File too large."_qs), qPrintable(error));
    QCOMPARE(readFile(path), QByteArray("old contents"));
    QCOMPARE(filesIn(tmp.path()), QStringList{u"out"_qs});
}

void TestResults::fullFileSystem_data()
{
    QTest::addColumn<Export>("kind");
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("free"); // bytes left free
    // A result that fits in a write buffer on a full disk, and a large one that fills the space
    // left part-way through a write.
    for (const auto &[name, kind] : {std::pair("text", Export::Text), std::pair("clipboard", Export::Clipboard),
                                      std::pair("workbook", Export::Workbook)}) {
        QTest::addRow("%s, small, full disk", name) << kind << 1 << 0;
        QTest::addRow("%s, large, nearly full disk", name) << kind << 20000 << 16 * 1024;
    }
}

// A real full disk (a small tmpfs, where mounting is permitted) and a read-only one.
void TestResults::fullFileSystem()
{
    QFETCH(Export, kind);
    QFETCH(int, rows);
    QFETCH(int, free);
    SmallFileSystem fs(256 * 1024);
    if (!fs.isMounted())
        QSKIP(qPrintable(fs.error()));
    const QString path = fs.filePath(u"target.txt"_qs);
    writeFile(path, "old contents");
    const ResultTable t = manyRows(rows); // 20000 rows: about 400 KB as text, 150 KB as a workbook
    QVERIFY(fs.fill(free));
    QString error;
    QVERIFY(!save(kind, t, path, &error));
    QCOMPARE(error, u"Could not write \""_qs + path + u"\": No space left on device."_qs);
    QCOMPARE(readFile(path), QByteArray("old contents"));
    QCOMPARE(filesIn(QFileInfo(path).path()), QStringList({u"filler"_qs, u"target.txt"_qs}));
    // A new file is not left behind half-written either.
    QVERIFY(!save(kind, t, fs.filePath(u"new.txt"_qs), &error));
    QVERIFY(!QFile::exists(fs.filePath(u"new.txt"_qs)));

    QVERIFY(fs.makeReadOnly());
    QVERIFY(!save(kind, table({{"a", 1}}), path, &error));
    QCOMPARE(error, u"Could not write \""_qs + path + u"\": Read-only file system."_qs);
    QCOMPARE(readFile(path), QByteArray("old contents"));
}

void TestResults::specialFilesAreWrittenDirectly_data()
{
    addExportRows();
}

// Devices and FIFOs are written into, not replaced by a regular file; /dev/full reports the
// system's reason.
void TestResults::specialFilesAreWrittenDirectly()
{
    QFETCH(Export, kind);
    const ResultTable t = table({{"apple", 12}, {"fig", 3}});
    QString error;
    QVERIFY(!save(kind, t, u"/dev/full"_qs, &error));
    QCOMPARE(error, u"Could not write \"/dev/full\": No space left on device."_qs);
    QVERIFY2(save(kind, t, u"/dev/null"_qs, &error), qPrintable(error));
    struct stat status = {};
    QVERIFY(::stat("/dev/null", &status) == 0 && S_ISCHR(status.st_mode));
    QVERIFY(::stat("/dev/full", &status) == 0 && S_ISCHR(status.st_mode));

    QTemporaryDir tmp;
    const QString fifo = tmp.filePath(u"fifo"_qs);
    if (::mkfifo(QFile::encodeName(fifo).constData(), 0600) != 0)
        QSKIP("FIFOs cannot be made here");
    QByteArray received;
    std::thread reader([&] {
        QFile in(fifo);
        if (in.open(QIODevice::ReadOnly))
            received = in.readAll();
    });
    const bool saved = save(kind, t, fifo, &error);
    if (!saved)
        QFile(fifo).open(QIODevice::WriteOnly); // lets the reader go
    reader.join();
    QVERIFY2(saved, qPrintable(error));
    QVERIFY(::stat(QFile::encodeName(fifo).constData(), &status) == 0 && S_ISFIFO(status.st_mode));
    QCOMPARE(filesIn(tmp.path()), QStringList{u"fifo"_qs});
    const QString expected = tmp.filePath(u"expected"_qs);
    QVERIFY(save(kind, t, expected, &error));
    if (kind == Export::Workbook) { // the same sheets; the workbook's own dates may differ
        const QString got = tmp.filePath(u"received"_qs);
        writeFile(got, received);
        QVERIFY(!sheetsOf(got).isEmpty() && sheetsOf(got) == sheetsOf(expected));
    } else {
        QCOMPARE(received, readFile(expected));
    }
}

void TestResults::replacementKeepsPermissionsAndLinks()
{
    QTemporaryDir tmp;
    const QString path = tmp.filePath(u"real.txt"_qs);
    writeFile(path, "old");
    const QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup;
    QVERIFY(QFile::setPermissions(path, permissions));
    const QString link = tmp.filePath(u"link.txt"_qs);
    QVERIFY(QFile::link(path, link));
    QString error;
    QVERIFY2(saveClipboardText(table({{"a", 1}}), link, &error), qPrintable(error));
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(readFile(path), QByteArray("a\t1\r\n"));
    struct stat status = {};
    QVERIFY(::stat(QFile::encodeName(path).constData(), &status) == 0);
    QCOMPARE(status.st_mode & 0777, 0640u);
    QCOMPARE(filesIn(tmp.path()), QStringList({u"link.txt"_qs, u"real.txt"_qs}));
}

QTEST_GUILESS_MAIN(TestResults)

void TestResults::csvLayout_data()
{
    QTest::addColumn<QList<WordCount>>("rows");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("plain, no padding") << QList<WordCount>{{"fig", 3}, {"apple", 12}} << QString()
                                       << QByteArray("word,count\r\nfig,3\r\napple,12\r\n");
    QTest::newRow("empty list: the header") << QList<WordCount>{} << QString() << QByteArray("word,count\r\n");
    // Quoted exactly when a field holds a comma, a double quote, CR or LF; other characters as are.
    QTest::newRow("quoting") << QList<WordCount>{{"a,b", 1}, {u"say\"hi\""_qs, 2}, {u"cr\rlf\n"_qs, 3},
                                                 {u"tab\tand 'single' ;"_qs, 4}}
                             << QString()
                             << QByteArray("word,count\r\n\"a,b\",1\r\n\"say\"\"hi\"\"\",2\r\n\"cr\rlf\n\",3\r\n"
                                           "tab\tand 'single' ;,4\r\n");
    QTest::newRow("file column, UTF-8 without byte order mark")
            << QList<WordCount>{{u"caf\u00e9"_qs, 1}} << u"r\u00e9sum\u00e9, final.txt"_qs
            << QByteArray("file,word,count\r\n\"r\xc3\xa9sum\xc3\xa9, final.txt\",caf\xc3\xa9,1\r\n");
}

void TestResults::csvLayout()
{
    QFETCH(QList<WordCount>, rows);
    QFETCH(QString, fileName);
    QFETCH(QByteArray, expected);
    ResultTable t(!fileName.isEmpty());
    t.appendRows(std::vector<WordCount>(rows.begin(), rows.end()), fileName);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QVERIFY(writeResultsCsv(TableRows(t), buffer));
    QCOMPARE(buffer.data(), expected);
}

void TestResults::jsonParsesBack()
{
    // Quotes, backslashes, control characters, a pair and a lone surrogate, a count beyond 32 bits.
    const std::vector<WordCount> rows = {{u"q\"b\\s"_qs, 1}, {u"c\u0001\t\n"_qs, 2},
                                         {u"\U0001F600"_qs, 3}, {QString(QChar(0xd800)) + u"x"_qs, 4},
                                         {u"big"_qs, 5000000000LL}};
    for (const bool named : {false, true}) {
        ResultTable t(named);
        t.appendRows(rows, u"a \"b\".txt"_qs);
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        QVERIFY(writeResultsJson(TableRows(t), buffer));
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(buffer.data(), &error);
        QCOMPARE(error.error, QJsonParseError::NoError);
        const QJsonArray array = doc.array();
        QCOMPARE(array.size(), qsizetype(rows.size()));
        for (qsizetype i = 0; i < array.size(); ++i) {
            const QJsonObject o = array.at(i).toObject();
            QCOMPARE(o.keys(), named ? (QStringList{u"count"_qs, u"file"_qs, u"word"_qs})
                                     : (QStringList{u"count"_qs, u"word"_qs}));
            QVERIFY(o.value(u"count").isDouble());
            QCOMPARE(qint64(o.value(u"count").toDouble()), rows[size_t(i)].count);
            if (named)
                QCOMPARE(o.value(u"file").toString(), u"a \"b\".txt"_qs);
            // A lone surrogate becomes "?" as in the other layouts: an escape of it is refused.
            QCOMPARE(o.value(u"word").toString(), i == 3 ? u"?x"_qs : rows[size_t(i)].word);
        }
        QVERIFY(!buffer.data().contains("\\ud800"));
    }
    QBuffer empty;
    empty.open(QIODevice::WriteOnly);
    QVERIFY(writeResultsJson(TableRows(ResultTable(false)), empty));
    QCOMPARE(empty.data(), QByteArray("[]\n"));
}

void TestResults::figures_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<QString>("fixed");
    QTest::addColumn<QString>("scientific");
    QTest::addColumn<QString>("probability"); // of the value's magnitude, as files write it
    QTest::addColumn<QString>("shownProbability"); // in German, as the window shows it
    QTest::newRow("what rounds to nothing has no sign")
            << -1e-17 << 4 << u"0.0000"_qs << u"-1.0000e-17"_qs << u"1.0000e-17"_qs << u"1,0000E-17"_qs;
    QTest::newRow("negative zero") << -0.0 << 4 << u"0.0000"_qs << u"0.0000e+00"_qs << u"0"_qs << u"< 1e-300"_qs;
    QTest::newRow("just below the last decimal's half")
            << -0.000049 << 4 << u"0.0000"_qs << u"-4.9000e-05"_qs << u"4.9000e-05"_qs << u"4,9000E-05"_qs;
    QTest::newRow("a negative figure keeps its sign")
            << -0.00006 << 4 << u"-0.0001"_qs << u"-6.0000e-05"_qs << u"6.0000e-05"_qs << u"6,0000E-05"_qs;
    QTest::newRow("a denormal p") << 2.51973e-322 << 5 << u"0.00000"_qs << u"2.51973e-322"_qs << u"0"_qs << u"< 1e-300"_qs;
    QTest::newRow("a p just at the edge")
            << 1e-300 << 5 << u"0.00000"_qs << u"1.00000e-300"_qs << u"1.00000e-300"_qs << u"1,00000E-300"_qs;
    QTest::newRow("an ordinary p")
            << 7.09274e-08 << 5 << u"0.00000"_qs << u"7.09274e-08"_qs << u"7.09274e-08"_qs << u"7,09274E-08"_qs;
}

// Every figure the program writes: no sign on what rounds to zero, in files and in the window;
// p values below 1e-300 as 0 in files and "< 1e-300" in the window.
void TestResults::figures()
{
    QFETCH(double, value);
    QFETCH(int, decimals);
    QFETCH(QString, fixed);
    QFETCH(QString, scientific);
    QFETCH(QString, probability);
    QFETCH(QString, shownProbability);
    QCOMPARE(fixedFigure(value, decimals), fixed);
    QCOMPARE(scientificFigure(value, decimals), scientific);
    QCOMPARE(probabilityFigure(std::abs(value), decimals), probability);
    const QLocale german(QLocale::German, QLocale::Germany);
    QCOMPARE(fixedFigure(german, value, decimals), QString(fixed).replace(u'.', u','));
    QCOMPARE(probabilityFigure(german, std::abs(value), decimals), shownProbability);
    QCOMPARE(fixedFigure(QLocale::c(), value, decimals), fixed);
}

void TestResults::statistics()
{
    StatisticsCollector c;
    c.add(u"ab"_qs, 3);
    c.add(u"\U0001F600"_qs, 1); // one character in two code units
    c.add(u"abc"_qs, 1);
    c.add(u"abd"_qs, 2);
    const WordListStatistics &s = c.statistics();
    QCOMPARE(s.tokens, 7);
    QCOMPARE(s.types, 4);
    QCOMPARE(s.hapaxLegomena, 2);
    QCOMPARE(s.characters, 2 * 3 + 1 + 3 + 3 * 2);
    QCOMPARE(s.longestWord, u"abc"_qs); // of the longest, the first by code units
    QCOMPARE(s.typeTokenRatio(), 4.0 / 7.0);
    QCOMPARE(s.hapaxShare(), 0.5);
    QCOMPARE(WordListStatistics().meanWordLength(), 0.0);
    QCOMPARE(characterCount(QString(QString(QChar(0xdc00)) + QChar(0xd800))), 2); // lone ones count each
}

void TestResults::alphabeticalOrders_data()
{
    QTest::addColumn<int>("order");
    QTest::addColumn<QStringList>("expected");
    // The input, in the usual order: B(1) b(1) a(2) é(2) e(3) z(3) Z(5).
    QTest::newRow("count") << int(RowOrder::Count)
                           << QStringList{u"B"_qs, u"b"_qs, u"a"_qs, u"\u00e9"_qs, u"e"_qs, u"z"_qs, u"Z"_qs};
    QTest::newRow("count descending") << int(RowOrder::CountDescending)
                                      << QStringList{u"Z"_qs, u"e"_qs, u"z"_qs, u"a"_qs, u"\u00e9"_qs, u"B"_qs, u"b"_qs};
    // Root collation: accents and case after the letter, lower case first.
    QTest::newRow("word") << int(RowOrder::Word)
                          << QStringList{u"a"_qs, u"b"_qs, u"B"_qs, u"e"_qs, u"\u00e9"_qs, u"z"_qs, u"Z"_qs};
    QTest::newRow("word descending") << int(RowOrder::WordDescending)
                                     << QStringList{u"Z"_qs, u"z"_qs, u"\u00e9"_qs, u"e"_qs, u"B"_qs, u"b"_qs, u"a"_qs};
}

void TestResults::alphabeticalOrders()
{
    QFETCH(int, order);
    QFETCH(QStringList, expected);
    std::vector<WordCount> rows = {{u"B"_qs, 1}, {u"b"_qs, 1}, {u"a"_qs, 2}, {u"\u00e9"_qs, 2},
                                   {u"e"_qs, 3}, {u"z"_qs, 3}, {u"Z"_qs, 5}};
    orderBlock(rows, RowOrder(order));
    QStringList words;
    for (const WordCount &w : rows)
        words << w.word;
    QCOMPARE(words, expected);

    // Large blocks take the two-thread path: the same order as one thread gives.
    std::vector<WordCount> many;
    for (int i = 0; i < 30000; ++i)
        many.push_back({(i % 2 ? u"W"_qs : u"w"_qs) + QString::number(i * 7919 % 30011), i % 5 + 1});
    orderRows(many);
    std::vector<WordCount> sorted = many;
    orderBlock(sorted, RowOrder(order));
    QCOMPARE(sorted.size(), many.size());
    if (RowOrder(order) == RowOrder::Word) {
        UErrorCode status = U_ZERO_ERROR;
        UCollator *root = ucol_open("", &status);
        QVERIFY(U_SUCCESS(status));
        const auto units = [](const QString &s) { return reinterpret_cast<const UChar *>(s.utf16()); };
        for (size_t i = 1; i < sorted.size(); ++i) {
            const QString &a = sorted[i - 1].word, &b = sorted[i].word;
            QVERIFY(ucol_strcoll(root, units(a), int32_t(a.size()), units(b), int32_t(b.size())) != UCOL_GREATER);
        }
        ucol_close(root);
    }
}

#include "tst_results.moc"
