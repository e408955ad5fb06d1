#include "docbuilder.h"

#include "documents/docreader.h"
#include "documents/pdfreader.h"
#include "documents/rtfreader.h"
#include "engine/wordtally.h"

#include <QCryptographicHash>
#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

using namespace corvalen;
using namespace corvalen::test;

namespace {

struct Result
{
    ReadOutcome outcome;
    QString text;
};

Result readFile(const FormatReader &reader, const QString &path)
{
    Result r;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        r.outcome = ReadOutcome::fail(ReadError::OpenFailed, file.errorString());
        return r;
    }
    r.outcome = reader.read(file, [&](QStringView chunk) { r.text += chunk; });
    return r;
}

Result readBytes(const FormatReader &reader, const QByteArray &bytes)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("input"));
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size())
        qFatal("cannot write a temporary file");
    out.close();
    return readFile(reader, path);
}

QString cr(QString s)
{
    return s.replace(QLatin1Char('\n'), QChar(13));
}

std::vector<WordCount> words(const QString &text)
{
    WordTally tally(false);
    tally.feed(text);
    tally.finish();
    return tally.ordered();
}

/// The words that only one side has, "word xN" each, for a readable failure.
QStringList wordDifference(const QString &ours, const QString &reference)
{
    QHash<QString, qint64> balance;
    for (const WordCount &w : words(ours))
        balance[w.word] += w.count;
    for (const WordCount &w : words(reference))
        balance[w.word] -= w.count;
    QStringList out;
    for (auto it = balance.cbegin(); it != balance.cend(); ++it) {
        if (it.value() > 0)
            out << QStringLiteral("ours: %1 x%2").arg(it.key()).arg(it.value());
        else if (it.value() < 0)
            out << QStringLiteral("reference: %1 x%2").arg(it.key()).arg(-it.value());
    }
    out.sort();
    return out;
}

QByteArray patched32(QByteArray bytes, qsizetype at, uint32_t value)
{
    qToLittleEndian(value, bytes.data() + at);
    return bytes;
}

QString corpusDir()
{
    return QStringLiteral(CORVALEN_SHARED_DIR "/corpus");
}

} // namespace

class TestLegacy : public QObject
{
    Q_OBJECT

private slots:
    void recognition_data();
    void recognition();

    void docRules_data();
    void docRules();
    void docFailures_data();
    void docFailures();

    void rtfRules_data();
    void rtfRules();
    void rtfDeepNesting();
    void rtfHostile_data();
    void rtfHostile();

    void rtfAcrossBlocks_data();
    void rtfAcrossBlocks();

    void pdfText_data();
    void pdfText();
    void pdfBlankLineParagraphs_data();
    void pdfBlankLineParagraphs();

    void fileCutShortWhileRead_data();
    void fileCutShortWhileRead();

    void corpus_data();
    void corpus();

    void regressions_data();
    void regressions();
};

void TestLegacy::recognition_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<QString>("reader");
    QTest::newRow("compound file") << simpleDoc(QStringLiteral("x\r")).left(512) << QStringLiteral("doc");
    QTest::newRow("rtf") << QByteArray("{\\rtf1\\ansi hello}") << QStringLiteral("rtf");
    QTest::newRow("rtf after bom and blank") << QByteArray("\xEF\xBB\xBF \r\n{\\rtf1 x}") << QStringLiteral("rtf");
    QTest::newRow("pdf") << QByteArray("%PDF-1.4\n") << QStringLiteral("pdf");
    QTest::newRow("pdf after junk") << QByteArray("junk\r\n%PDF-1.7\n") << QStringLiteral("pdf");
    QTest::newRow("plain text") << QByteArray("{rtf is not this}") << QString();
    QTest::newRow("zip") << QByteArray("PK\x03\x04") << QString();
}

void TestLegacy::recognition()
{
    QFETCH(QByteArray, head);
    QFETCH(QString, reader);
    const DocReader doc;
    const RtfReader rtf;
    const PdfReader pdf;
    QStringList matched;
    for (const FormatReader *r : {static_cast<const FormatReader *>(&doc), static_cast<const FormatReader *>(&rtf),
                                  static_cast<const FormatReader *>(&pdf)}) {
        if (r->recognises(head))
            matched << r->name();
    }
    QCOMPARE(matched, reader.isEmpty() ? QStringList() : QStringList{reader});
}

void TestLegacy::docRules_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("expected");

    QTest::newRow("paragraphs") << simpleDoc(cr(QStringLiteral("One\nTwo\n"))) << cr(QStringLiteral("One\nTwo\n"));
    QTest::newRow("last paragraph closed") << simpleDoc(QStringLiteral("One")) << cr(QStringLiteral("One\n"));
    QTest::newRow("empty body") << simpleDoc(QString()) << cr(QStringLiteral("\n"));
    QTest::newRow("cell and row marks")
        << simpleDoc(QStringLiteral("a\x07" "b\x07\x07" "c\x07" "d\x07\x07")) << cr(QStringLiteral("a\nb\n\nc\nd\n\n"));
    QTest::newRow("field result kept, code left out")
        << simpleDoc(QStringLiteral("x \x13 HYPERLINK \"http://a.example\" \x14shown\x15 y\r"))
        << cr(QStringLiteral("x shown y\n"));
    QTest::newRow("nested fields")
        << simpleDoc(QStringLiteral("\x13 IF \x13 PAGE \x14" "1\x15 = 1 \x14yes \x13 DATE \x14today\x15\x15!\r"))
        << cr(QStringLiteral("yes today!\n"));
    QTest::newRow("field without result") << simpleDoc(QStringLiteral("a\x13 PAGE \x15" "b\r")) << cr(QStringLiteral("ab\n"));
    QTest::newRow("unbalanced field marks")
        << simpleDoc(QStringLiteral("a\x15\x14" "b\x13 code")) << cr(QStringLiteral("ab\n"));
    QTest::newRow("anchors and note marks add nothing")
        << simpleDoc(QStringLiteral("a\x01" "b\x02" "c\x05" "d\x08" "e\r")) << cr(QStringLiteral("abcde\n"));
    QTest::newRow("kept control characters")
        << simpleDoc(QStringLiteral("a\x0b" "b\x0c" "c\x0e" "d\x1e" "e\x1f" "f\tg\r"))
        << QStringLiteral("a\x0b" "b\x0c" "c\x0e" "d\x1e" "e\x1f" "f\tg\r");
    QTest::newRow("windows-1252 bytes")
        << simpleDoc(QString::fromLatin1("\x93quoted\x94 \x80 caf\xe9\r"))
        << QStringLiteral(u"\u201Cquoted\u201D \u20AC caf\u00E9\r");

    DocSpec wide;
    wide.pieces = {{QStringLiteral(u"Ünïcödé ✻ 漢字 "), false}, {QStringLiteral("and 8-bit\r"), true}};
    QTest::newRow("16-bit and 8-bit pieces in piece order") << buildDoc(wide).file.bytes
                                                           << QStringLiteral(u"Ünïcödé ✻ 漢字 and 8-bit\r");
    DocSpec surrogates;
    surrogates.pieces = {{QStringLiteral(u"smile 😀\r"), false}};
    QTest::newRow("surrogate pair") << buildDoc(surrogates).file.bytes << QStringLiteral(u"smile 😀\r");

    DocSpec stories;
    stories.pieces = {{cr(QStringLiteral("Body\n")), true}, {cr(QStringLiteral("Footnote text\nHeader\n")), true}};
    stories.ccpText = 5;
    QTest::newRow("main text only") << buildDoc(stories).file.bytes << cr(QStringLiteral("Body\n"));
    DocSpec split = stories;
    split.ccpText = 3;
    QTest::newRow("main text ends inside a piece") << buildDoc(split).file.bytes << cr(QStringLiteral("Bod\n"));

    DocSpec sections;
    sections.pieces = {{QStringLiteral("one\x0ctwo\x0cthree\r"), true}};
    sections.sectionEnds = {4, 14};
    QTest::newRow("section break ends a paragraph, page break stays")
        << buildDoc(sections).file.bytes << QStringLiteral("one\rtwo\x0cthree\r");

    DocSpec hidden;
    hidden.pieces = {{cr(QStringLiteral("Shown hidden shown\n")), true}};
    hidden.hiddenChars = {{6, 13}};
    QTest::newRow("hidden run left out") << buildDoc(hidden).file.bytes << cr(QStringLiteral("Shown shown\n"));
    DocSpec hiddenWide;
    hiddenWide.pieces = {{QStringLiteral("a "), true}, {cr(QStringLiteral(u"visible secret ☃ end\n")), false}};
    hiddenWide.hiddenChars = {{10, 19}};
    QTest::newRow("hidden run in 16-bit piece") << buildDoc(hiddenWide).file.bytes
                                                << cr(QStringLiteral(u"a visible end\n"));
    DocSpec hiddenField;
    hiddenField.pieces = {{QStringLiteral("x \x13 REF a \x14result\x15 y\r"), true}};
    hiddenField.hiddenChars = {{2, 4}};
    QTest::newRow("field begin in hidden text still opens the field")
        << buildDoc(hiddenField).file.bytes << cr(QStringLiteral("x result y\n"));
}

void TestLegacy::docRules()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, expected);
    const Result r = readBytes(DocReader(), file);
    QVERIFY2(r.outcome.ok(), qPrintable(r.outcome.detail));
    QCOMPARE(r.text, expected);
}

void TestLegacy::docFailures_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("error");

    const QByteArray good = simpleDoc(QStringLiteral("Some text\r"));
    QTest::newRow("intact (control)") << good << int(ReadError::None);
    QTest::newRow("header only") << good.left(512) << int(ReadError::Damaged);
    QTest::newRow("truncated header") << good.left(300) << int(ReadError::Damaged);
    QTest::newRow("truncated streams") << good.left(good.size() / 2) << int(ReadError::Damaged);
    QTest::newRow("empty") << QByteArray() << int(ReadError::Damaged);

    const CompoundLayout plain = buildCompoundFile({{QStringLiteral("Workbook"), QByteArray(100, 'x')}});
    QTest::newRow("compound file without a document") << plain.bytes << int(ReadError::Unsupported);
    const CompoundLayout encryptedPackage = buildCompoundFile(
        {{QStringLiteral("EncryptionInfo"), QByteArray(100, 'x')}, {QStringLiteral("EncryptedPackage"), QByteArray(100, 'y')}});
    QTest::newRow("password-protected Office 2007 file") << encryptedPackage.bytes << int(ReadError::Password);
    {
        DocSpec s;
        s.pieces = {{QStringLiteral("x\r"), true}};
        DocLayout l = buildDoc(s);
        // Rename the table stream: the document refers to a stream that is not there.
        QByteArray b = l.file.bytes;
        const qsizetype at = l.file.directoryOffset + 2 * 128;
        b[at] = 'X';
        QTest::newRow("table stream missing") << b << int(ReadError::Damaged);
    }

    DocSpec encrypted;
    encrypted.pieces = {{QStringLiteral("x\r"), true}};
    encrypted.encrypted = true;
    QTest::newRow("encrypted") << buildDoc(encrypted).file.bytes << int(ReadError::Password);
    DocSpec word95 = encrypted;
    word95.encrypted = false;
    word95.nFib = 0x68;
    QTest::newRow("Word 95") << buildDoc(word95).file.bytes << int(ReadError::TooOld);

    DocSpec doc;
    doc.pieces = {{QStringLiteral("Some text\r"), true}};
    const DocLayout layout = buildDoc(doc);
    const CompoundLayout &f = layout.file;
    const qsizetype wordEntry = f.directoryOffset + 128;
    const qsizetype wordStart = 512 + qsizetype(f.streamStart[0]) * 512;
    const qsizetype tableStart = 512 + qsizetype(f.streamStart[1]) * 512;
    QTest::newRow("cyclic FAT chain") << patched32(f.bytes, f.fatOffset + 4 * f.streamStart[0], f.streamStart[0])
                                      << int(ReadError::Damaged);
    QTest::newRow("FAT chain ends early") << patched32(f.bytes, f.fatOffset + 4 * f.streamStart[0], 0xFFFFFFFE)
                                          << int(ReadError::Damaged);
    QTest::newRow("cyclic directory chain")
        << patched32(f.bytes, f.fatOffset + 4 * ((f.directoryOffset - 512) / 512), uint32_t((f.directoryOffset - 512) / 512))
        << int(ReadError::Damaged);
    QTest::newRow("stream sector out of range") << patched32(f.bytes, wordEntry + 0x74, 0x7FFFFFF0) << int(ReadError::Damaged);
    QTest::newRow("FAT sector out of range") << patched32(f.bytes, 0x4C, 0x00FFFFFF) << int(ReadError::Damaged);
    QTest::newRow("directory sector out of range") << patched32(f.bytes, 0x30, 0x00FFFFFF) << int(ReadError::Damaged);
    QTest::newRow("huge stream size") << patched32(f.bytes, wordEntry + 0x78, 0xFFFFFFF0) << int(ReadError::Damaged);
    QTest::newRow("huge FAT count") << patched32(f.bytes, 0x2C, 0xFFFFFFFF) << int(ReadError::None);
    QTest::newRow("huge DIFAT count") << patched32(f.bytes, 0x48, 0xFFFFFFFF) << int(ReadError::None);
    QTest::newRow("bad sector size") << patched32(f.bytes, 0x1C, 0x0020FFFE) << int(ReadError::Damaged);
    // Piece table: lcb of the PlcPcd sits just before it.
    QTest::newRow("huge piece table size")
        << patched32(f.bytes, tableStart + layout.pieceTableOffset - 4, 0xFFFFFFF0) << int(ReadError::Damaged);
    QTest::newRow("piece pointing past the end")
        << patched32(f.bytes, tableStart + layout.pieceTableOffset + 8 + 2, 0x40000000 | 0x3FFFFFF0) << int(ReadError::Damaged);
    QTest::newRow("huge character positions")
        << patched32(f.bytes, tableStart + layout.pieceTableOffset + 4, 0xFFFFFFF0) << int(ReadError::None);
    QTest::newRow("negative text length") << patched32(f.bytes, wordStart + 64 + 12, 0x80000000) << int(ReadError::Damaged);
    QTest::newRow("text length beyond the pieces") << patched32(f.bytes, wordStart + 64 + 12, 0x7FFFFFFF) << int(ReadError::None);
    QTest::newRow("clx beyond table stream") << patched32(f.bytes, wordStart + 154 + 8 * 33, 0x7FFFFFF0) << int(ReadError::Damaged);
    QTest::newRow("huge fc/lcb count") << patched32(f.bytes, wordStart + 152, 0x0000FFFF) << int(ReadError::None);
    QTest::newRow("huge csw") << patched32(f.bytes, wordStart + 32, 0x0000FFFF) << int(ReadError::Damaged);
    // The piece table: pieces in character order, each on bytes of its own inside the stream.
    DocSpec repeated;
    repeated.pieces = {{QString(1000, u'w') + u' ', true}};
    repeated.repeat = 20000; // 20 million characters from 1 KB of text
    QTest::newRow("pieces naming the same text again and again") << buildDoc(repeated).file.bytes
                                                                 << int(ReadError::Damaged);
    DocSpec three;
    three.pieces = {{QStringLiteral("abc"), true}, {QStringLiteral("def"), true}, {QStringLiteral("ghi\r"), true}};
    const DocLayout threeLayout = buildDoc(three);
    const qsizetype threeTable = 512 + qsizetype(threeLayout.file.streamStart[1]) * 512 + threeLayout.pieceTableOffset;
    QTest::newRow("three pieces (control)") << threeLayout.file.bytes << int(ReadError::None);
    // Stored last first: "ghi\r" at 1536, "def" at 1540, "abc" at 1543; "def" moved one byte on
    // shares its last byte with "abc".
    QTest::newRow("pieces sharing a byte")
        << patched32(threeLayout.file.bytes, threeTable + 16 + 8 * 1 + 2, 0x40000000 | (1541 * 2)) << int(ReadError::Damaged);
    QTest::newRow("character positions going back")
        << patched32(threeLayout.file.bytes, threeTable + 8, 1) << int(ReadError::Damaged);

    QTest::newRow("garbage property pages") << patched32(patched32(f.bytes, wordStart + 154 + 8 * 12, 0), wordStart + 154 + 8 * 12 + 4, 4000)
                                            << int(ReadError::None);
}

void TestLegacy::docFailures()
{
    QFETCH(QByteArray, file);
    QFETCH(int, error);
    const Result r = readBytes(DocReader(), file);
    QCOMPARE(int(r.outcome.error), error);
    if (r.outcome.error == ReadError::Damaged)
        QVERIFY(!r.outcome.detail.isEmpty());
    if (!r.outcome.ok())
        QVERIFY2(r.text.isEmpty(), "a failed read gives no text");
}

void TestLegacy::rtfRules_data()
{
    QTest::addColumn<QByteArray>("rtf");
    QTest::addColumn<QString>("expected");

    QTest::newRow("paragraphs") << QByteArray("{\\rtf1\\ansi One\\par Two\\par}") << cr(QStringLiteral("One\nTwo\n"));
    QTest::newRow("last paragraph closed") << QByteArray("{\\rtf1 One\\par Two}") << cr(QStringLiteral("One\nTwo\n"));
    QTest::newRow("empty") << QByteArray("{\\rtf1}") << cr(QStringLiteral("\n"));
    QTest::newRow("line ends in the source are not text")
        << QByteArray("{\\rtf1 Hello\r\nworld\\par\n}") << cr(QStringLiteral("Helloworld\n"));
    QTest::newRow("line, tab, page, column")
        << QByteArray("{\\rtf1 a\\line b\\tab c\\page d\\column e\tf}") << QStringLiteral("a\x0b" "b\tc\x0c" "d\x0e" "e\tf\r");
    QTest::newRow("cells and rows")
        << QByteArray("{\\rtf1\\trowd\\cellx100\\cellx200 a\\cell b\\cell\\row}") << cr(QStringLiteral("a\nb\n\n"));
    QTest::newRow("backslash-newline is a paragraph") << QByteArray("{\\rtf1 a\\\nb}") << cr(QStringLiteral("a\nb\n"));
    QTest::newRow("escaped symbols") << QByteArray("{\\rtf1 \\{x\\}\\\\}") << cr(QStringLiteral("{x}\\\n"));
    QTest::newRow("special characters")
        << QByteArray("{\\rtf1 \\emdash\\endash\\lquote\\rquote\\ldblquote\\rdblquote\\bullet a\\~b\\-c\\_d}")
        << QStringLiteral(u"\u2014\u2013\u2018\u2019\u201C\u201D\u2022a\u00A0b\x1f" "c\x1e" "d\r");
    QTest::newRow("hex in windows-1252") << QByteArray("{\\rtf1\\ansi\\ansicpg1252 caf\\'e9 \\'93q\\'94}")
                                         << QStringLiteral(u"café “q”\r");
    QTest::newRow("hex in the declared code page") << QByteArray("{\\rtf1\\ansi\\ansicpg1251 \\'cf\\'f0\\'e8}")
                                                   << QStringLiteral(u"При\r");
    QTest::newRow("font charset beats the document code page")
        << QByteArray("{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fswiss\\fcharset238 Arial;}{\\f1\\fcharset0 Times;}}"
                      "\\f0 \\'c8l\\'e1nek {\\f1 caf\\'e9}}")
        << QStringLiteral(u"Článek café\r");
    QTest::newRow("double-byte code page")
        << QByteArray("{\\rtf1\\ansi{\\fonttbl{\\f0\\fcharset128 MS Mincho;}}\\f0 \\'93\\'fa\\'96\\'7b}")
        << QStringLiteral(u"日本\r");
    QTest::newRow("symbol font") << QByteArray("{\\rtf1{\\fonttbl{\\f3\\fcharset2 Symbol;}}{\\f3 \\'b7}x}")
                                 << QStringLiteral(u"\uF0B7x\r");
    QTest::newRow("unicode with fallback skipped")
        << QByteArray("{\\rtf1\\uc1 \\u26085?\\u26412? {\\uc2\\u9731\\'e2\\'98 x}\\u-10179?\\u-9047?}")
        << QStringLiteral(u"日本 ☃ x💩\r");
    QTest::newRow("fallback skip counts control words and ends with the group")
        << QByteArray("{\\rtf1\\uc2\\u8364\\par x{\\u8364}y}") << QStringLiteral(u"€€y\r");
    QTest::newRow("uc0 skips nothing") << QByteArray("{\\rtf1\\uc0\\u8364 EUR}") << QStringLiteral(u"€EUR\r");
    QTest::newRow("destinations skipped")
        << QByteArray("{\\rtf1{\\fonttbl{\\f0 Arial;}}{\\colortbl;\\red0\\green0\\blue0;}{\\stylesheet{\\s0 Normal;}}"
                      "{\\info{\\title Title}{\\author Me}}{\\header Head\\par}{\\footer Foot\\par}"
                      "{\\*\\generator Writer;}{\\*\\bkmkstart mark}"
                      "Body{\\footnote {\\chftn} Note text}{\\annotation Comment} end"
                      "{\\pict\\wmetafile8 0102ABCD}{\\object{\\objdata 0102}{\\result{\\pict 01}}}"
                      "{\\shp{\\*\\shpinst{\\sp{\\sn x}{\\sv y}}{\\shptxt Box text}}}\\par}")
        << cr(QStringLiteral("Body end\n"));
    QTest::newRow("field result kept, instruction left out")
        << QByteArray("{\\rtf1 See {\\field{\\*\\fldinst HYPERLINK \"http://a.example\"}{\\fldrslt {\\ul this}}} link.}")
        << cr(QStringLiteral("See this link.\n"));
    QTest::newRow("field instruction without star")
        << QByteArray("{\\rtf1 Page {\\field{\\fldinst PAGE}{\\fldrslt 3}}}") << cr(QStringLiteral("Page 3\n"));
    QTest::newRow("hidden text left out")
        << QByteArray("{\\rtf1 Shown {\\v hidden }shown \\v gone\\v0  back {\\v x\\plain y}}")
        << cr(QStringLiteral("Shown shown  back y\n"));
    QTest::newRow("tracked deletion left out, insertion kept")
        << QByteArray("{\\rtf1 Keep {\\deleted old }{\\revised new }text}") << cr(QStringLiteral("Keep new text\n"));
    QTest::newRow("list labels are not text")
        << QByteArray("{\\rtf1{\\listtext\\'b7\\tab}Item{\\pntext 1.\\tab}Two\\par}") << cr(QStringLiteral("ItemTwo\n"));
    QTest::newRow("binary data skipped") << QByteArray("{\\rtf1 a{\\bin5 }}}}}b}") << cr(QStringLiteral("ab\n"));
    QTest::newRow("text after the document") << QByteArray("{\\rtf1 a} b") << cr(QStringLiteral("a\n"));
    QTest::newRow("unknown words ignored") << QByteArray("{\\rtf1\\foo\\bar-12 a\\b b\\b0 c}") << cr(QStringLiteral("abc\n"));
    QTest::newRow("section break ends a paragraph") << QByteArray("{\\rtf1 a\\sect b}") << cr(QStringLiteral("a\nb\n"));
}

void TestLegacy::rtfRules()
{
    QFETCH(QByteArray, rtf);
    QFETCH(QString, expected);
    const Result r = readBytes(RtfReader(), rtf);
    QVERIFY(r.outcome.ok());
    QCOMPARE(r.text, expected);
}

void TestLegacy::rtfDeepNesting()
{
    // Far deeper than any call stack would survive if groups were followed by recursion.
    constexpr int depth = 100000;
    const QByteArray open(depth, '{'), close(depth, '}');
    Result r = readBytes(RtfReader(), "{\\rtf1 a" + open + "deep" + close + " b}");
    QVERIFY(r.outcome.ok());
    QCOMPARE(r.text, cr(QStringLiteral("adeep b\n")));

    // Unclosed, and with a hidden destination opened deep inside.
    r = readBytes(RtfReader(), "{\\rtf1 a" + QByteArray(depth * 5, '{') + "x{\\*\\foo y}z");
    QVERIFY(r.outcome.ok());
    QCOMPARE(r.text, cr(QStringLiteral("axz\n")));
}

void TestLegacy::rtfHostile_data()
{
    QTest::addColumn<QByteArray>("rtf");
    QTest::addColumn<QString>("expected");
    QTest::newRow("huge bin count") << QByteArray("{\\rtf1 a\\bin99999999999 xyz") << cr(QStringLiteral("a\n"));
    QTest::newRow("negative bin count") << QByteArray("{\\rtf1 a\\bin-5 b}") << cr(QStringLiteral("ab\n"));
    QTest::newRow("huge uc") << QByteArray("{\\rtf1\\uc2147483647\\u65 bcd} x") << cr(QStringLiteral("A\n"));
    QTest::newRow("huge parameter") << QByteArray("{\\rtf1\\u99999999999999999999 b}") << QStringLiteral("\uFFFF\r");
    QTest::newRow("ends inside a word") << QByteArray("{\\rtf1 a\\pa") << cr(QStringLiteral("a\n"));
    QTest::newRow("ends after backslash") << QByteArray("{\\rtf1 a\\") << cr(QStringLiteral("a\n"));
    QTest::newRow("ends inside hex") << QByteArray("{\\rtf1 a\\'e") << QStringLiteral(u"a\u000e\r");
    QTest::newRow("bad hex") << QByteArray("{\\rtf1 a\\'zz}") << cr(QStringLiteral("azz\n"));
    QTest::newRow("long control word") << QByteArray("{\\rtf1 \\" + QByteArray(100000, 'x') + " a}") << cr(QStringLiteral("a\n"));
    QTest::newRow("unknown code page") << QByteArray("{\\rtf1\\ansicpg99999 \\'e9}") << QStringLiteral(u"é\r");
    QTest::newRow("surplus closing braces") << QByteArray("}}}{\\rtf1 a}}}") << cr(QStringLiteral("a\n"));
    QTest::newRow("nul and control bytes") << QByteArray("{\\rtf1 a\0\x01\x7f b}", 14) << QStringLiteral("a\x7f b\r");
}

void TestLegacy::rtfHostile()
{
    QFETCH(QByteArray, rtf);
    QFETCH(QString, expected);
    const Result r = readBytes(RtfReader(), rtf);
    QVERIFY(r.outcome.ok());
    QCOMPARE(r.text, expected);
}

void TestLegacy::rtfAcrossBlocks_data()
{
    QTest::addColumn<QByteArray>("token");
    QTest::addColumn<int>("split"); // bytes of the token before the end of the reader's first block
    const QByteArray tokens[] = {
        "\\par ", "\\u-3913 ?", "\\'e9", "\\bin5 {}{}\\", "\\\\", "\\{", "\\tab",
        "\\fs-24 b", "\\" + QByteArray(40, 'x') + "123 c", "{\\*\\shp {x}}",
    };
    for (const QByteArray &token : tokens)
        for (int split = 0; split <= token.size(); ++split)
            QTest::addRow("%s at %d", token.constData(), split) << token << split;
}

void TestLegacy::rtfAcrossBlocks()
{
    // The reader takes the file in blocks of 1 MiB: a token cut by a block's end reads as a whole.
    QFETCH(QByteArray, token);
    QFETCH(int, split);
    const QByteArray head = "{\\rtf1\\ansi ";
    const QByteArray tail = "z}";
    const Result alone = readBytes(RtfReader(), head + token + tail);
    QVERIFY(alone.outcome.ok());
    const QByteArray filler = QByteArray((1 << 20) - head.size() - split - 1, 'a') + ' ';
    const Result cut = readBytes(RtfReader(), head + filler + token + tail);
    QVERIFY(cut.outcome.ok());
    QCOMPARE(cut.text, QString::fromLatin1(filler) + alone.text);
}

namespace {

QByteArray rc4(const QByteArray &key, const QByteArray &data)
{
    uchar box[256];
    for (int i = 0; i < 256; ++i)
        box[i] = uchar(i);
    for (int i = 0, j = 0; i < 256; ++i) {
        j = (j + box[i] + uchar(key[i % key.size()])) & 255;
        std::swap(box[i], box[j]);
    }
    QByteArray out = data;
    for (qsizetype k = 0, i = 0, j = 0; k < out.size(); ++k) {
        i = (i + 1) & 255;
        j = (j + box[i]) & 255;
        std::swap(box[i], box[j]);
        out[k] = char(uchar(out[k]) ^ box[(box[i] + box[j]) & 255]);
    }
    return out;
}

QByteArray md5(const QByteArray &data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Md5);
}

/// A one-font PDF whose pages hold the given content streams (offsets computed, so no repair).
/// With passwords given, it is encrypted by the standard 40-bit RC4 handler.
QByteArray makePdf(const QList<QByteArray> &pageContents, const QByteArray &userPassword = {},
                   const QByteArray &ownerPassword = {})
{
    const bool encrypted = !userPassword.isEmpty() || !ownerPassword.isEmpty();
    const QByteArray pad = QByteArray::fromHex("28BF4E5E4E758A4164004E56FFFA01082E2E00B6D0683E802F0CA9FE6453697A");
    const QByteArray id = "0123456789abcdef";
    QByteArray key, o, u;
    if (encrypted) {
        const auto padded = [&](const QByteArray &password) { return QByteArray(password + pad).left(32); };
        o = rc4(md5(padded(ownerPassword)).left(5), padded(userPassword));
        key = md5(padded(userPassword) + o + QByteArray("\xFC\xFF\xFF\xFF", 4) + id).left(5);
        u = rc4(key, pad);
    }
    QList<QByteArray> objects;
    const int pages = int(pageContents.size());
    // 1 catalog, 2 pages, 3 font, then per page: page object, content stream.
    QByteArray kids;
    for (int i = 0; i < pages; ++i)
        kids += QByteArray::number(4 + 2 * i) + " 0 R ";
    objects << "<< /Type /Catalog /Pages 2 0 R >>";
    objects << "<< /Type /Pages /Kids [" + kids + "] /Count " + QByteArray::number(pages) + " >>";
    objects << "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>";
    for (int i = 0; i < pages; ++i) {
        objects << "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 3 0 R >> >> /Contents "
                + QByteArray::number(5 + 2 * i) + " 0 R >>";
        QByteArray content = pageContents[i];
        if (encrypted) {
            const int number = 5 + 2 * i;
            const QByteArray objectKey = md5(key + QByteArray(1, char(number)) + QByteArray(4, '\0')).left(10);
            content = rc4(objectKey, content);
        }
        objects << "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "\nendstream";
    }
    if (encrypted)
        objects << "<< /Filter /Standard /V 1 /R 2 /O <" + o.toHex() + "> /U <" + u.toHex() + "> /P -4 >>";
    QByteArray out = "%PDF-1.4\n";
    QList<qsizetype> offsets;
    for (int i = 0; i < objects.size(); ++i) {
        offsets << out.size();
        out += QByteArray::number(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const qsizetype xref = out.size();
    out += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (qsizetype o : offsets)
        out += QByteArray::number(o).rightJustified(10, '0') + " 00000 n \n";
    out += "trailer\n<< /Size " + QByteArray::number(objects.size() + 1) + " /Root 1 0 R";
    if (encrypted)
        out += " /Encrypt " + QByteArray::number(objects.size()) + " 0 R /ID [<" + id.toHex() + "> <" + id.toHex() + ">]";
    out += " >>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
    return out;
}

} // namespace

void TestLegacy::pdfText_data()
{
    QTest::addColumn<QByteArray>("pdf");
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("expected");

    const QByteArray twoLines = "BT /F1 12 Tf 72 720 Td (Hello world) Tj 0 -20 Td (Second line) Tj ET";
    QTest::newRow("lines as paragraphs") << makePdf({twoLines}) << int(ReadError::None)
                                         << cr(QStringLiteral("Hello world\nSecond line\n"));
    QTest::newRow("pages in order")
        << makePdf({"BT /F1 12 Tf 72 720 Td (Page one) Tj ET", "BT /F1 12 Tf 72 720 Td (Page two) Tj ET"})
        << int(ReadError::None) << cr(QStringLiteral("Page one\nPage two\n"));
    QTest::newRow("reading order, not drawing order")
        << makePdf({"BT /F1 12 Tf 72 700 Td (Lower) Tj ET BT /F1 12 Tf 72 720 Td (Upper) Tj ET"})
        << int(ReadError::None) << cr(QStringLiteral("Upper\nLower\n"));
    QTest::newRow("no text layer") << makePdf({"0 0 1 rg 100 100 200 200 re f"}) << int(ReadError::None)
                                   << cr(QStringLiteral("\n"));
    QTest::newRow("needs a password") << makePdf({twoLines}, "secret", "owner") << int(ReadError::Password) << QString();
    QTest::newRow("encrypted, no password needed to read")
        << makePdf({twoLines}, QByteArray(), "owner") << int(ReadError::None) << cr(QStringLiteral("Hello world\nSecond line\n"));
    QByteArray broken = makePdf({twoLines});
    broken.replace("startxref", "startxrof");
    QTest::newRow("damaged cross-reference, repaired") << broken << int(ReadError::None)
                                                        << cr(QStringLiteral("Hello world\nSecond line\n"));
    QTest::newRow("truncated") << makePdf({twoLines}).left(60) << int(ReadError::Damaged) << QString();
    QTest::newRow("garbage after header") << QByteArray("%PDF-1.4\n" + QByteArray(5000, '\xff')) << int(ReadError::Damaged)
                                          << QString();
}

void TestLegacy::pdfText()
{
    if (!PdfReader::available())
        QSKIP("built without poppler-cpp");
    QFETCH(QByteArray, pdf);
    QFETCH(int, error);
    QFETCH(QString, expected);
    const Result r = readBytes(PdfReader(), pdf);
    QCOMPARE(int(r.outcome.error), error);
    QCOMPARE(r.text, expected);
}

void TestLegacy::pdfBlankLineParagraphs_data()
{
    QTest::addColumn<QList<QByteArray>>("pages");
    QTest::addColumn<QString>("expected");
    // Lines 14 points apart are one block of the layout analysis: one paragraph. A block set far
    // apart (or beside) is another, and so is every page.
    QTest::newRow("lines of a block joined")
            << QList<QByteArray>{"BT /F1 12 Tf 72 720 Td (It was a very) Tj 0 -14 Td (happy day.) Tj 0 -14 Td (The end) Tj ET"}
            << u"It was a very happy day. The end\r"_qs;
    QTest::newRow("blocks set apart")
            << QList<QByteArray>{"BT /F1 12 Tf 72 720 Td (Alpha one) Tj 0 -14 Td (alpha two) Tj 0 -150 Td (Beta far below) Tj "
                                 "0 -14 Td (beta again) Tj ET BT /F1 12 Tf 350 720 Td (Gamma column) Tj 0 -14 Td (gamma two) Tj ET"}
            << u"Alpha one alpha two\rBeta far below beta again\rGamma column gamma two\r"_qs;
    QTest::newRow("a page break ends the paragraph")
            << QList<QByteArray>{"BT /F1 12 Tf 72 100 Td (last line of a) Tj 0 -14 Td (page) Tj ET",
                                 "BT /F1 12 Tf 72 720 Td (goes on here) Tj 0 -14 Td (and ends) Tj ET"}
            << u"last line of a page\rgoes on here and ends\r"_qs;
    // The layout analysis joins a word it finds hyphenated at a line end itself (as pdftotext
    // does), with either kind of paragraph.
    QTest::newRow("hyphenated by the layout")
            << QList<QByteArray>{"BT /F1 12 Tf 72 720 Td (a para-) Tj 0 -14 Td (graph here) Tj ET"}
            << u"a paragraph here\r"_qs;
    QTest::newRow("no text layer") << QList<QByteArray>{"0 0 1 rg 100 100 200 200 re f"} << u"\r"_qs;
}

void TestLegacy::pdfBlankLineParagraphs()
{
    if (!PdfReader::available())
        QSKIP("built without poppler-cpp");
    QFETCH(QList<QByteArray>, pages);
    QFETCH(QString, expected);
    const QByteArray pdf = makePdf(pages);
    const Result r = readBytes(PdfReader(WordRules::Paragraphs::BlankLines), pdf);
    QVERIFY(r.outcome.ok());
    QCOMPARE(r.text, expected);
    // With a paragraph a line, the same words.
    QCOMPARE(words(r.text), words(readBytes(PdfReader(), pdf).text));
}

void TestLegacy::fileCutShortWhileRead_data()
{
    QTest::addColumn<QString>("reader");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("reported"); // the reader has given part of the text: it must say it failed

    // Each big enough to be handed over in several chunks, and far beyond one block of reading.
    QByteArray rtf = "{\\rtf1\\ansi ";
    for (int i = 0; i < 100000; ++i)
        rtf += "word" + QByteArray::number(i) + " and more\\par\n";
    QTest::newRow("rtf") << u"rtf"_qs << QByteArray(rtf + '}') << true;

    QList<QByteArray> pages;
    for (int page = 0; page < 60; ++page) {
        QByteArray content = "BT /F1 8 Tf 36 780 Td";
        for (int line = 0; line < 80; ++line)
            content += " (page " + QByteArray::number(page) + " line " + QByteArray::number(line) + " of the text) Tj 0 -9 Td";
        pages << content + " ET";
    }
    QTest::newRow("pdf") << u"pdf"_qs << makePdf(pages) << false;

    QString text;
    for (int i = 0; i < 30000; ++i)
        text += u"word"_qs + QString::number(i) + u" and more\r"_qs;
    QTest::newRow("doc") << u"doc"_qs << simpleDoc(text) << false;
}

void TestLegacy::fileCutShortWhileRead()
{
    // A file emptied by someone else while it is read: a read failure or the text read so far,
    // never a fault.
    QFETCH(QString, reader);
    QFETCH(QByteArray, file);
    QFETCH(bool, reported);
    if (reader == u"pdf" && !PdfReader::available())
        QSKIP("built without poppler-cpp");
    const FormatReader *chosen = nullptr;
    for (const auto &r : formatReaders())
        if (r->name() == reader)
            chosen = r.get();
    QVERIFY(chosen);
    QTemporaryDir dir;
    const QString path = dir.filePath(u"input"_qs);
    QFile out(path);
    QVERIFY(out.open(QIODevice::WriteOnly) && out.write(file) == file.size());
    out.close();
    const Result whole = readFile(*chosen, path);
    QVERIFY(whole.outcome.ok());

    QFile in(path);
    QVERIFY(in.open(QIODevice::ReadOnly));
    QString text;
    const ReadOutcome outcome = chosen->read(in, [&](QStringView chunk) {
        if (text.isEmpty())
            QVERIFY(QFile::resize(path, 0));
        text += chunk;
    });
    QVERIFY(!text.isEmpty());
    QVERIFY(!reported || !outcome.ok());
    if (outcome.ok())
        QVERIFY(whole.text.startsWith(text));
    else
        QCOMPARE(int(outcome.error), int(ReadError::ReadFailed));
}

void TestLegacy::corpus_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("replacements"); // pairs: reference text -> what the main body has
    QTest::addColumn<bool>("referenceKeepsDeletions");

    const QStringList labels; // list labels are removed for every file
    QTest::newRow("nwe-test04.doc") << QStringLiteral("nwe-test04.doc") << QStringList() << false;
    QTest::newRow("nwe-test06.doc") << QStringLiteral("nwe-test06.doc")
                                    << QStringList{QStringLiteral("nwe-test06.doc"), QStringLiteral("Document1")} << false;
    QTest::newRow("nwe-test11.doc") << QStringLiteral("nwe-test11.doc") << QStringList() << false;
    QTest::newRow("nwe-test12.doc") << QStringLiteral("nwe-test12.doc") << QStringList() << false;
    QTest::newRow("nwe-test13.doc") << QStringLiteral("nwe-test13.doc") << QStringList() << false;
    QTest::newRow("nwe-bigfile-01.doc") << QStringLiteral("nwe-bigfile-01.doc") << QStringList() << true;
    QTest::newRow("rtfjs-sample-source.rtf")
        << QStringLiteral("rtfjs-sample-source.rtf")
        << QStringList{QStringLiteral("of hidden text"), QStringLiteral("of text"), QStringLiteral(" 1footnote"), QStringLiteral(" footnote")} << false;
    QTest::newRow("rtfjs-pile-of-poo-source.rtf") << QStringLiteral("rtfjs-pile-of-poo-source.rtf") << QStringList() << false;
    QTest::newRow("tika-testRTFWordPadCzechCharacters.rtf") << QStringLiteral("tika-testRTFWordPadCzechCharacters.rtf")
                                                            << QStringList() << false;
}

void TestLegacy::corpus()
{
    QFETCH(QString, file);
    QFETCH(QStringList, replacements);
    QFETCH(bool, referenceKeepsDeletions);
    const QString path = corpusDir() + QLatin1Char('/') + file;
    if (!QFileInfo::exists(path))
        QSKIP("the shared corpus is not beside the repository");

    QFile head(path);
    QVERIFY(head.open(QIODevice::ReadOnly));
    const QByteArray start = head.read(8192);
    head.close();
    // Where the reference keeps tracked deletions, compare with them kept, and check apart
    // that leaving them out removes words.
    const DocReader doc(referenceKeepsDeletions);
    const RtfReader rtf;
    const FormatReader &reader = rtf.recognises(start) ? static_cast<const FormatReader &>(rtf) : doc;
    QVERIFY(reader.recognises(start));
    const Result r = readFile(reader, path);
    if (referenceKeepsDeletions) {
        const Result accepted = readFile(DocReader(), path);
        QVERIFY(accepted.outcome.ok());
        const auto total = [](const QString &text) {
            qint64 n = 0;
            for (const WordCount &w : words(text))
                n += w.count;
            return n;
        };
        QVERIFY(total(accepted.text) < total(r.text));
    }
    QVERIFY2(r.outcome.ok(), qPrintable(describeReadError(r.outcome, file)));
    QVERIFY(r.text.endsWith(QChar(13)));

    QString refPath = path + QStringLiteral(".main.txt");
    if (!QFileInfo::exists(refPath))
        refPath = path + QStringLiteral(".expected.txt");
    QFile refFile(refPath);
    QVERIFY(refFile.open(QIODevice::ReadOnly));
    QString reference = QString::fromUtf8(refFile.readAll());
    if (reference.startsWith(QChar(0xFEFF)))
        reference.remove(0, 1);
    // The export adds list labels; they are not document text.
    static const QRegularExpression label(QStringLiteral("^ +(?:\u2022|[0-9a-z]+[.)]) "),
                                          QRegularExpression::MultilineOption);
    reference.remove(label);
    for (qsizetype i = 0; i + 1 < replacements.size(); i += 2)
        reference.replace(replacements[i], replacements[i + 1]);
    reference = cr(reference);
    // The export writes manual line breaks and page breaks as line ends.
    QString ours = r.text;
    ours.replace(QChar(11), QChar(13)).replace(QChar(12), QChar(13));

    const QStringList difference = wordDifference(ours, reference);
    QVERIFY2(difference.isEmpty(), qPrintable(difference.join(QStringLiteral(", "))));
}

void TestLegacy::regressions_data()
{
    QTest::addColumn<QString>("path");
    const QDir dir(QStringLiteral(CORVALEN_SOURCE_DIR "/tests/data/fuzz"));
    const QStringList files = dir.entryList(QDir::Files, QDir::Name);
    for (const QString &f : files)
        QTest::newRow(qPrintable(f)) << dir.filePath(f);
    if (files.isEmpty())
        QTest::newRow("none") << QString();
}

void TestLegacy::regressions()
{
    // Inputs a fuzzer once crashed or hung on: every reader must now read them or fail cleanly.
    QFETCH(QString, path);
    if (path.isEmpty())
        QSKIP("no regression inputs");
    for (const auto &reader : formatReaders()) {
        const Result result = readFile(*reader, path);
        if (result.outcome.ok() && !result.text.isEmpty())
            QVERIFY2(result.text.endsWith(QChar(13)), qPrintable(reader->name()));
    }
}

QTEST_GUILESS_MAIN(TestLegacy)
#include "tst_legacy.moc"
