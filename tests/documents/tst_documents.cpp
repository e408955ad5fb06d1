#include "packagebuilder.h"

#include "base/errorreport.h"
#include "base/prompter.h"
#include "documents/availability.h"
#include "documents/documentengine.h"
#include "documents/docxreader.h"
#include "documents/formatreader.h"
#include "documents/odtreader.h"
#include "documents/xmlscanner.h"
#include "engine/wordtally.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>
#include <functional>
#include <map>
#include <stdexcept>

#include <sys/stat.h>
#include <unistd.h>

using namespace corvalen;

namespace {

struct Report
{
    QString message, description;
    int line;
};

class RecordingReporter : public ErrorReporter
{
public:
    QList<Report> reports;
    QList<int> lines() const
    {
        QList<int> l;
        for (const Report &r : reports)
            l.append(r.line);
        return l;
    }

protected:
    void show(const QString &message, const QString &description, const QString &, int line) override
    {
        reports.append({message, description, line});
    }
};

class FakeStatus : public DocumentEngineStatus
{
public:
    bool start = true, running = false, throws = false;
    bool canStart() const override
    {
        if (throws)
            throw std::runtime_error("broken");
        return start;
    }
    bool isRunning() const override
    {
        if (throws)
            throw std::runtime_error("broken");
        return running;
    }
};

// Records every message and question; answers questions with `answer`.
class FakePrompter : public Prompter
{
public:
    struct Call
    {
        QString kind, text, title;
        Icon icon = Icon::None;
        bool yesIsDefault = false;
    };
    QList<Call> calls;
    bool answer = true;

    void message(const QString &text, const QString &title, Icon icon) override
    {
        calls.append({QStringLiteral("message"), text, title, icon});
    }
    bool askYesNo(const QString &text, const QString &title, bool yesIsDefault) override
    {
        calls.append({QStringLiteral("question"), text, title, Icon::None, yesIsDefault});
        return answer;
    }
    std::optional<QString> inputText(const QString &, const QString &, const QString &) override
    {
        QTest::qFail("unexpected input box", __FILE__, __LINE__);
        return std::nullopt;
    }
    QStringList openFiles(const QString &, const QStringList &) override { return {}; }
    QString saveFile(const QString &, const QStringList &) override { return {}; }
    QString pickFolder(const QString &) override { return {}; }
    bool openUrl(const QUrl &) override { return false; }
};

QString visible(QString s)
{
    // Control characters named, so that a failing comparison is readable.
    for (const char16_t c : {13, 9, 11, 12, 14, 30, 31})
        s.replace(QChar(c), u"<" % QString::number(int(c)) % u">");
    return s;
}

std::map<QString, qint64> wordCounts(const QString &text)
{
    WordTally tally(false);
    tally.feed(text);
    tally.finish();
    std::map<QString, qint64> m;
    for (const WordCount &w : tally.counts())
        m[w.word] = w.count;
    return m;
}

const QString kNoDocument = QStringLiteral("No document is open.");

} // namespace

class TestDocuments : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }

    QString read(const QString &file, RecordingReporter *reporter = nullptr,
                 WordRules::Paragraphs paragraphs = WordRules::Paragraphs::Lines)
    {
        RecordingReporter local;
        DocumentEngine engine(reporter ? reporter : &local);
        engine.setParagraphs(paragraphs);
        const QString text = engine.returnDocumentString(file);
        if (!reporter && !local.reports.isEmpty())
            qWarning() << "unexpected report:" << local.reports.first().message;
        return text;
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void docxRules_data();
    void docxRules();
    void characterDataAcrossBlocks_data();
    void characterDataAcrossBlocks();
    void docxPackage();
    void odtRules_data();
    void odtRules();
    void htmlRules_data();
    void htmlRules();
    void htmlDeclaredCharset();
    void htmlCharsetThatDoesNotFit_data();
    void htmlCharsetThatDoesNotFit();
    void plainText_data();
    void plainText();
    void plainTextBlockBoundary();
    void blankLineParagraphs_data();
    void blankLineParagraphs();
    void recognisesByContent();
    void nameAndContentDisagree_data();
    void nameAndContentDisagree();
    void openFailures_data();
    void openFailures();
    void reportText();
    void engineCannotStart();
    void hostileInput_data();
    void hostileInput();
    void fieldsLeftOpen();
    void manyNamespaceDeclarations_data();
    void manyNamespaceDeclarations();
    void xmlInBlocks_data();
    void xmlInBlocks();
    void encodings_data();
    void encodings();
    void decompressionBomb();
    void enormousParagraph();
    void bigPartStreamed();
    void bigTextHandedOn();
    void memoryBounded_data();
    void memoryBounded();
    void damagedPartData_data();
    void damagedPartData();
    void availability();
    void corpus_data();
    void corpus();
};

void TestDocuments::docxRules_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("expected");

    const auto p = [](const QByteArray &runs) -> QByteArray { return "<w:p>" + runs + "</w:p>"; };
    const auto r = [](const QByteArray &text) -> QByteArray { return "<w:r><w:t xml:space=\"preserve\">" + text + "</w:t></w:r>"; };

    QTest::newRow("paragraphs") << p(r("Hello")) + p(r("World")) << u"Hello\rWorld\r"_qs;
    QTest::newRow("runs split inside a word") << p(r("Hel") + r("lo") + r(" you")) << u"Hello you\r"_qs;
    QTest::newRow("empty paragraph") << p("") + p(r("x")) << u"\rx\r"_qs;
    QTest::newRow("special characters")
            << p("<w:r><w:t>a</w:t><w:tab/><w:t>b</w:t><w:br/><w:t>c</w:t><w:br w:type=\"page\"/><w:t>d</w:t>"
                 "<w:br w:type=\"column\"/><w:t>e</w:t><w:noBreakHyphen/><w:t>f</w:t><w:softHyphen/><w:t>g</w:t>"
                 "<w:cr/><w:sym w:font=\"Wingdings\" w:char=\"F04A\"/></w:r>")
            << u"a\tb\vc\fd\x0E" "e\x1E" "f\x1Fg\v\uF04A\r"_qs;
    QTest::newRow("tab stops are not tabs")
            << "<w:p><w:pPr><w:tabs><w:tab w:val=\"left\" w:pos=\"720\"/></w:tabs></w:pPr>" + r("x") + "</w:p>" << u"x\r"_qs;
    QTest::newRow("table cells end their paragraphs")
            << "<w:tbl><w:tblPr/><w:tblGrid><w:gridCol/></w:tblGrid><w:tr><w:tc><w:tcPr/>" + p(r("A")) + "</w:tc><w:tc>"
                    + p(r("B")) + p(r("C")) + "</w:tc></w:tr></w:tbl>" + p(r("after"))
            << u"A\rB\rC\rafter\r"_qs;
    QTest::newRow("floating table is body text")
            << "<w:tbl><w:tblPr><w:tblpPr w:vertAnchor=\"text\"/></w:tblPr><w:tr><w:tc>" + p(r("float")) + "</w:tc></w:tr></w:tbl>"
            << u"float\r"_qs;
    QTest::newRow("field result kept, code left out")
            << p(r("Page ") + "<w:r><w:fldChar w:fldCharType=\"begin\"/></w:r><w:r><w:instrText> PAGE </w:instrText></w:r>"
                 "<w:r><w:fldChar w:fldCharType=\"separate\"/></w:r>" + r("3") + "<w:r><w:fldChar w:fldCharType=\"end\"/></w:r>")
            << u"Page 3\r"_qs;
    QTest::newRow("nested fields")
            << p("<w:r><w:fldChar w:fldCharType=\"begin\"/><w:instrText>IF </w:instrText></w:r>"
                 "<w:r><w:fldChar w:fldCharType=\"begin\"/><w:instrText>PAGE</w:instrText><w:fldChar w:fldCharType=\"separate\"/></w:r>"
                 + r("inner") + "<w:r><w:fldChar w:fldCharType=\"end\"/></w:r><w:r><w:instrText> = 1 x</w:instrText>"
                 "<w:fldChar w:fldCharType=\"separate\"/></w:r>" + r("outer") + "<w:r><w:fldChar w:fldCharType=\"end\"/></w:r>")
            << u"outer\r"_qs;
    QTest::newRow("field code without its end hides one paragraph at most")
            << p("<w:r><w:fldChar w:fldCharType=\"begin\"/><w:instrText>PAGE</w:instrText></w:r>" + r("code")) + p(r("next"))
            << u"\rnext\r"_qs;
    QTest::newRow("field spanning paragraphs")
            << p("<w:r><w:fldChar w:fldCharType=\"begin\"/><w:instrText>TOC</w:instrText></w:r>")
                    + p("<w:r><w:fldChar w:fldCharType=\"separate\"/></w:r>" + r("entry"))
                    + p("<w:r><w:fldChar w:fldCharType=\"begin\"/><w:instrText>PAGE</w:instrText>"
                        "<w:fldChar w:fldCharType=\"separate\"/></w:r>" + r("7") + "<w:r><w:fldChar w:fldCharType=\"end\"/></w:r>"
                        "<w:r><w:fldChar w:fldCharType=\"end\"/></w:r>" + r(" after"))
            << u"\rentry\r7 after\r"_qs;
    QTest::newRow("simple field") << p("<w:fldSimple w:instr=\"AUTHOR\">" + r("Ann") + "</w:fldSimple>") << u"Ann\r"_qs;
    QTest::newRow("tracked changes accepted")
            << p(r("keep ") + "<w:ins w:id=\"1\">" + r("new ") + "</w:ins><w:del w:id=\"2\"><w:r><w:delText>old </w:delText></w:r></w:del>"
                 "<w:moveFrom>" + r("gone ") + "</w:moveFrom><w:moveTo>" + r("moved") + "</w:moveTo>")
            << u"keep new moved\r"_qs;
    QTest::newRow("deleted paragraph mark joins paragraphs")
            << "<w:p><w:pPr><w:rPr><w:del w:id=\"3\"/></w:rPr></w:pPr>" + r("one") + "</w:p>" + p(r("two"))
            << u"onetwo\r"_qs;
    QTest::newRow("hidden text left out")
            << p(r("shown ") + "<w:r><w:rPr><w:b/><w:vanish/></w:rPr><w:t>hidden </w:t></w:r>"
                 "<w:r><w:rPr><w:vanish w:val=\"0\"/></w:rPr><w:t>unhidden</w:t></w:r>")
            << u"shown unhidden\r"_qs;
    QTest::newRow("old formatting of a change does not hide")
            << p("<w:r><w:rPr><w:rPrChange w:id=\"1\"><w:rPr><w:vanish/></w:rPr></w:rPrChange></w:rPr><w:t>seen</w:t></w:r>")
            << u"seen\r"_qs;
    QTest::newRow("text boxes left out")
            << p(r("before") + "<w:r><w:pict><v:shape><v:textbox><w:txbxContent>" + p(r("boxed")) +
                 "</w:txbxContent></v:textbox></v:shape></w:pict></w:r>" + r(" after"))
            << u"before after\r"_qs;
    QTest::newRow("alternate content taken once")
            << p(r("a ") + "<mc:AlternateContent><mc:Choice Requires=\"w14\">" + r("choice") + "</mc:Choice>"
                 "<mc:Fallback>" + r("fallback") + "</mc:Fallback></mc:AlternateContent>")
            << u"a choice\r"_qs;
    QTest::newRow("choice needing unknown vocabulary gives way to the fallback")
            << p("<w:r><mc:AlternateContent xmlns:w16se=\"http://schemas.microsoft.com/office/word/2015/wordml/symex\">"
                 "<mc:Choice Requires=\"w16se\"><w16se:symEx w16se:char=\"1F600\"/></mc:Choice>"
                 "<mc:Fallback><w:t>😀</w:t></mc:Fallback></mc:AlternateContent></w:r>")
            << u"😀\r"_qs;
    QTest::newRow("drawing text box in alternate content")
            << p(r("x") + "<w:r><mc:AlternateContent><mc:Choice Requires=\"wps\"><w:drawing><wps:txbx><w:txbxContent>"
                 + p(r("shape")) + "</w:txbxContent></wps:txbx></w:drawing></mc:Choice><mc:Fallback><w:pict><v:textbox><w:txbxContent>"
                 + p(r("shape")) + "</w:txbxContent></v:textbox></w:pict></mc:Fallback></mc:AlternateContent></w:r>")
            << u"x\r"_qs;
    QTest::newRow("note marks add nothing")
            << p(r("Ouch") + "<w:r><w:rPr><w:rStyle w:val=\"FootnoteReference\"/></w:rPr><w:footnoteReference w:id=\"1\"/></w:r>"
                 + r(".") + "<w:r><w:endnoteReference w:id=\"2\"/></w:r><w:r><w:commentReference w:id=\"0\"/></w:r>")
            << u"Ouch.\r"_qs;
    QTest::newRow("content control")
            << "<w:sdt><w:sdtPr><w:alias w:val=\"Title\"/><w:placeholder><w:docPart w:val=\"x\"/></w:placeholder></w:sdtPr>"
               "<w:sdtEndPr/><w:sdtContent>" + p(r("Inside")) + "</w:sdtContent></w:sdt>"
            << u"Inside\r"_qs;
    QTest::newRow("hyperlinks and smart tags")
            << p("<w:hyperlink r:id=\"rId5\">" + r("link") + "</w:hyperlink><w:smartTag w:element=\"place\">" + r(" tag")
                 + "</w:smartTag><w:customXml w:element=\"c\">" + r(" custom") + "</w:customXml>")
            << u"link tag custom\r"_qs;
    QTest::newRow("list numbers are not text")
            << "<w:p><w:pPr><w:numPr><w:ilvl w:val=\"0\"/><w:numId w:val=\"1\"/></w:numPr></w:pPr>" + r("item") + "</w:p>"
            << u"item\r"_qs;
    QTest::newRow("entities and references")
            << p(r("a&amp;b &lt;c&gt; &quot;&apos; &#233;&#x1F600; &unknown;")) << u"a&b <c> \"' é😀 &unknown;\r"_qs;
    QTest::newRow("prefix bound anew inside an element")
            << "<w:p xmlns:w=\"urn:other\"><w:r><w:t>foreign</w:t></w:r></w:p>" + p(r("seen"))
                    + "<x:p xmlns:x=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\"><x:r><x:t>aliased</x:t></x:r></x:p>"
            << u"seen\raliased\r"_qs;
    QTest::newRow("default namespace") << QByteArray("<p xmlns=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\">"
                                                     "<r><t>plain</t></r></p>")
                                       << u"plain\r"_qs;
    QTest::newRow("math text") << p(r("x ") + "<m:oMath><m:r><m:t>y=2</m:t></m:r></m:oMath>") << u"x y=2\r"_qs;
    QTest::newRow("ruby guide left out")
            << p("<w:r><w:ruby><w:rt><w:r><w:t>kan</w:t></w:r></w:rt><w:rubyBase><w:r><w:t>漢</w:t></w:r></w:rubyBase></w:ruby></w:r>")
            << u"漢\r"_qs;
    QTest::newRow("comment and CDATA") << p("<!-- note --><w:r><w:t><![CDATA[a&amp;b]]></w:t></w:r>") << u"a&amp;b\r"_qs;
    QTest::newRow("invalid UTF-8 replaced") << p(r("a\xff" "b\xc3")) << u"a\uFFFDb\uFFFD\r"_qs;
}

void TestDocuments::docxRules()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, expected);
    const QString file = path(QStringLiteral("rule.docx"));
    QVERIFY(writeDocx(file, body));
    RecordingReporter reporter;
    QCOMPARE(visible(read(file, &reporter)), visible(expected));
    QVERIFY(reporter.reports.isEmpty());
}

void TestDocuments::characterDataAcrossBlocks_data()
{
    // Plain runs are copied in blocks of 16 bytes: put what ends a run at every place in and around
    // a block, with plain text after it.
    QTest::addColumn<QByteArray>("runs");
    QTest::addColumn<QString>("expected");
    struct Special
    {
        const char *name;
        QByteArray raw;
        QString decoded;
    };
    const Special specials[] = {
        {"two-byte", "\xC3\xA9\xD0\xB6", u"éж"_qs},
        {"three-byte", "\xE4\xB8\xAD", u"中"_qs},
        {"four-byte", "\xF0\x9F\x98\x80", u"😀"_qs},
        {"entity", "&amp;&#xE9;", u"&é"_qs},
        {"bare ampersand", "& ", u"& "_qs},
        {"invalid bytes", "\xFF\xC3", u"\uFFFD\uFFFD"_qs},
        {"overlong", "\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"_qs},
    };
    for (const Special &special : specials) {
        for (const int before : {0, 1, 15, 16, 17, 31, 32, 33}) {
            const QByteArray plain = QByteArray("abcdefghijklmnopqrstuvwxyz0123456789").left(before);
            QTest::addRow("%s after %d", special.name, before)
                    << "<w:r><w:t>" + plain + special.raw + "tail of seventeen</w:t></w:r>"
                    << QString::fromLatin1(plain) + special.decoded + u"tail of seventeen\r"_qs;
        }
    }
    // In CDATA '&' is plain and nothing is decoded, but bytes beyond ASCII still are.
    QTest::newRow("CDATA") << QByteArray("<w:r><w:t><![CDATA[0123456789abcdef&amp;0123456789\xC3\xA9&lt;]]></w:t></w:r>")
                           << u"0123456789abcdef&amp;0123456789é&lt;\r"_qs;
}

void TestDocuments::characterDataAcrossBlocks()
{
    QFETCH(QByteArray, runs);
    QFETCH(QString, expected);
    QString text;
    const ReadOutcome outcome =
            readWordprocessingBody(docxDocument("<w:p>" + runs + "</w:p>"), [&text](QStringView chunk) { text += chunk; });
    QVERIFY(outcome.ok());
    QCOMPARE(visible(text), visible(expected));
}

void TestDocuments::docxPackage()
{
    // Main part reached through the relationships, under an unusual name and folder.
    const QString unusual = path(QStringLiteral("unusual.docx"));
    QVERIFY(writeDocx(unusual, "<w:p><w:r><w:t>real</w:t></w:r></w:p>", "content/main%20part.xml"));
    QVERIFY(QFile::rename(unusual, path(QStringLiteral("unusual-renamed.docx"))));
    // The relationship target is percent-encoded; the entry name is not.
    const QString encoded = path(QStringLiteral("encoded.docx"));
    QVERIFY(writeDocx(encoded, "<w:p><w:r><w:t>spaced</w:t></w:r></w:p>", "content/main part.xml"));
    QCOMPARE(visible(read(encoded)), u"spaced<13>"_qs);

    // Strict namespace and a default namespace instead of the w prefix.
    const QString strict = path(QStringLiteral("strict.docx"));
    QVERIFY(writeZip(strict, {{"_rels/.rels", "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                                              "<Relationship Id=\"r\" Type=\"http://purl.oclc.org/ooxml/officeDocument/relationships/officeDocument\" Target=\"/word/doc.xml\"/></Relationships>"},
                              {"word/doc.xml", "<document xmlns=\"http://purl.oclc.org/ooxml/wordprocessingml/main\"><body><p><r><t>strict</t></r></p></body></document>"}}));
    QCOMPARE(visible(read(strict)), u"strict<13>"_qs);

    // No relationships: the content types name the main part.
    const QString typesOnly = path(QStringLiteral("types.docx"));
    QVERIFY(writeZip(typesOnly, {{"[Content_Types].xml", "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
                                                         "<Override PartName=\"/w/d.xml\" ContentType=\"application/vnd.ms-word.document.macroEnabled.main+xml\"/></Types>"},
                                 {"w/d.xml", docxDocument("<w:p><w:r><w:t>typed</w:t></w:r></w:p>")}}));
    QCOMPARE(visible(read(typesOnly)), u"typed<13>"_qs);
}

void TestDocuments::odtRules_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("expected");

    QTest::newRow("paragraphs and headings") << QByteArray("<text:h text:outline-level=\"1\">Title</text:h><text:p>Body</text:p><text:p/>")
                                             << u"Title\rBody\r\r"_qs;
    QTest::newRow("spaces, tabs, line breaks")
            << QByteArray("<text:p>a<text:s text:c=\"3\"/>b<text:s/>c<text:tab/>d<text:line-break/>e</text:p>")
            << u"a   b c\td\ve\r"_qs;
    QTest::newRow("white space collapses")
            << QByteArray("<text:p>\n  one \n\t two  <text:span> three</text:span></text:p>") << u"one two three\r"_qs;
    QTest::newRow("notes left out")
            << QByteArray("<text:p>Un paragraphe<text:note text:note-class=\"footnote\"><text:note-citation>1</text:note-citation>"
                          "<text:note-body><text:p>note</text:p></text:note-body></text:note> banal.</text:p>")
            << u"Un paragraphe banal.\r"_qs;
    QTest::newRow("frames and text boxes left out")
            << QByteArray("<text:p>before<draw:frame><draw:text-box><text:p>boxed</text:p></draw:text-box></draw:frame> after</text:p>")
            << u"before after\r"_qs;
    QTest::newRow("tracked deletions left out")
            << QByteArray("<text:tracked-changes><text:changed-region text:id=\"c1\"><text:deletion><text:p>les</text:p></text:deletion>"
                          "</text:changed-region></text:tracked-changes><text:p>Bonjour <text:change text:change-id=\"c1\"/>"
                          "<text:change-start text:change-id=\"c2\"/>los<text:change-end text:change-id=\"c2\"/> amigos</text:p>")
            << u"Bonjour los amigos\r"_qs;
    QTest::newRow("lists without labels")
            << QByteArray("<text:list><text:list-item><text:number>1.</text:number><text:p>first</text:p></text:list-item>"
                          "<text:list-item><text:p>second</text:p></text:list-item></text:list>")
            << u"first\rsecond\r"_qs;
    QTest::newRow("table cells as paragraphs")
            << QByteArray("<table:table><table:table-column/><table:table-row><table:table-cell><text:p>A</text:p></table:table-cell>"
                          "<table:table-cell><text:p>B</text:p></table:table-cell></table:table-row></table:table>")
            << u"A\rB\r"_qs;
    QTest::newRow("comments left out")
            << QByteArray("<text:p>x<office:annotation><text:p>remark</text:p></office:annotation>y</text:p>") << u"xy\r"_qs;
    QTest::newRow("huge space count is bounded")
            << QByteArray("<text:p>a<text:s text:c=\"999999999999\"/>b</text:p>") << u"a" + QString(65536, u' ') + u"b\r";
}

void TestDocuments::odtRules()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, expected);
    const QString file = path(QStringLiteral("rule.odt"));
    QVERIFY(writeOdt(file, body));
    RecordingReporter reporter;
    QCOMPARE(visible(read(file, &reporter)), visible(expected));
    QVERIFY(reporter.reports.isEmpty());

    const QString flat = path(QStringLiteral("rule.fodt"));
    QVERIFY(writeFile(flat, odtContent(body, "office:document")));
    QCOMPARE(visible(read(flat, &reporter)), visible(expected));
    QVERIFY(reporter.reports.isEmpty());
}

void TestDocuments::htmlRules_data()
{
    QTest::addColumn<QByteArray>("html");
    QTest::addColumn<QString>("expected");

    QTest::newRow("head, script and style left out")
            << QByteArray("<!DOCTYPE html><html><head><title>T</title><style>p{}</style></head><body>"
                          "<p>One <b>two</b></p><script>var x = '<p>no</p>';</script><p>three</p></body></html>")
            << u"One two\rthree\r"_qs;
    QTest::newRow("blocks and line breaks")
            << QByteArray("<html><body><div>a<br>b<br/>\n c</div><ul><li>x</li><li>y</li></ul><table><tr><td>1</td><td>2</td></tr></table></body></html>")
            << u"a\vb\vc\rx\ry\r1\r2\r"_qs;
    QTest::newRow("entities") << QByteArray("<html><body><p>&amp;&lt;&eacute;&nbsp;&#233;&#x20AC;&#150;&hellip;&bogus; &amp</p></body></html>")
                              << u"&<é\u00A0é€–…&bogus; &\r"_qs;
    QTest::newRow("white space collapses")
            << QByteArray("<html><body>\n<p>\n  spread   over\n lines </p>\n</body></html>") << u"spread over lines\r"_qs;
    QTest::newRow("preformatted lines")
            << QByteArray("<html><body><pre>a  b\nc</pre></body></html>") << u"a  b\rc\r"_qs;
    QTest::newRow("Word list labels and notes")
            << QByteArray("<html xmlns:o=\"urn:schemas-microsoft-com:office:office\"><body><p class=MsoListParagraph><![if !supportLists]>"
                          "<span>1.<span>&nbsp;&nbsp; </span></span><![endif]>Item<a style='mso-footnote-id:ftn1' href=\"#_ftn1\">"
                          "<span>[1]</span></a></p><div style='mso-element:footnote-list'><div><p>note text</p></div></div></body></html>")
            << u"Item\r"_qs;
    QTest::newRow("comments") << QByteArray("<html><body><!-- <p>hidden</p> --><p>seen</p></body></html>") << u"seen\r"_qs;
}

void TestDocuments::htmlRules()
{
    QFETCH(QByteArray, html);
    QFETCH(QString, expected);
    const QString file = path(QStringLiteral("page.htm"));
    QVERIFY(writeFile(file, html));
    QCOMPARE(visible(read(file)), visible(expected));
}

void TestDocuments::htmlDeclaredCharset()
{
    QStringEncoder cp1251("windows-1251");
    QVERIFY(cp1251.isValid());
    const QByteArray page = "<html><head><meta charset=\"windows-1251\"></head><body><p>" + QByteArray(cp1251(u"Москва")) + "</p></body></html>";
    const QString file = path(QStringLiteral("cyrillic.html"));
    QVERIFY(writeFile(file, page));
    QCOMPARE(read(file), u"Москва\r"_qs);

    // Undeclared and not UTF-8: Windows-1252.
    QVERIFY(writeFile(file, "<html><body>caf\xe9 \x93q\x94</body></html>"));
    QCOMPARE(read(file), u"café “q”\r"_qs);
}

void TestDocuments::htmlCharsetThatDoesNotFit_data()
{
    QTest::addColumn<QByteArray>("page");
    QTest::addColumn<QString>("expected");

    // A declaration read as ASCII cannot be true of an encoding in which ASCII reads otherwise.
    const auto ascii = [](const char *charset) -> QByteArray {
        return "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=" + QByteArray(charset)
                + "\"></head><body><p>plain words caf\xc3\xa9</p></body></html>";
    };
    for (const char *charset : {"utf-32", "UTF-32LE", "utf-32be", "utf-16", "utf-16le", "UTF-16BE", "ucs-2", "unicode"})
        QTest::addRow("ASCII declared %s", charset) << ascii(charset) << u"plain words café\r"_qs;
    QTest::newRow("ASCII declared IBM037") << ascii("ibm037") << u"plain words café\r"_qs;

    // UTF-16 pages without a byte order mark, declaring UTF-16 or, wrongly, something else.
    const auto utf16 = [](const QString &page, QStringConverter::Encoding encoding) -> QByteArray {
        return QByteArray(QStringEncoder(encoding)(page));
    };
    const QString declaring = u"<html><head><meta charset=\"%1\"></head><body><p>Grüße, мир</p></body></html>"_qs;
    QTest::newRow("UTF-16LE declared utf-16")
            << utf16(declaring.arg(u"utf-16"), QStringConverter::Utf16LE) << u"Grüße, мир\r"_qs;
    QTest::newRow("UTF-16BE declared utf-16")
            << utf16(declaring.arg(u"utf-16"), QStringConverter::Utf16BE) << u"Grüße, мир\r"_qs;
    QTest::newRow("UTF-16LE declared utf-8")
            << utf16(declaring.arg(u"utf-8"), QStringConverter::Utf16LE) << u"Grüße, мир\r"_qs;
    // A declaration that fits stays honoured.
    QTest::newRow("UTF-8 declared windows-1252")
            << QByteArray("<html><head><meta charset=windows-1252></head><body>caf\xc3\xa9</body></html>")
            << u"cafÃ©\r"_qs;
}

void TestDocuments::htmlCharsetThatDoesNotFit()
{
    QFETCH(QByteArray, page);
    QFETCH(QString, expected);
    const QString file = path(QStringLiteral("declared.html"));
    QVERIFY(writeFile(file, page));
    QCOMPARE(read(file), expected);
}

void TestDocuments::plainText_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("expected");

    QTest::newRow("UTF-8 with BOM") << QByteArray("\xEF\xBB\xBFh\xC3\xA9llo\n") << u"héllo\r"_qs;
    QTest::newRow("UTF-8 without BOM") << QByteArray("\xE2\x80\x9Cq\xE2\x80\x9D") << u"“q”\r"_qs;
    QTest::newRow("UTF-16 LE with BOM") << QByteArray("\xFF\xFE" "a\0\r\0\n\0\xE9\0", 10) << u"a\ré\r"_qs;
    QTest::newRow("UTF-16 BE with BOM") << QByteArray("\xFE\xFF\0a\0\n\xAC\0", 8) << u"a\r가\r"_qs;
    QTest::newRow("UTF-16 LE without BOM") << QByteArray("D\0a\0t\0e\0,\0B\0\r\0\n\0", 16) << u"Date,B\r"_qs;
    QTest::newRow("UTF-16 BE without BOM") << QByteArray("\0D\0a\0t\0e\0\n", 10) << u"Date\r"_qs;
    QTest::newRow("Windows-1252") << QByteArray("l\x92\x9Cuvre co\xFBte") << u"l’œuvre coûte\r"_qs;
    QTest::newRow("line ends") << QByteArray("a\r\nb\nc\rd\n\ne") << u"a\rb\rc\rd\r\re\r"_qs;
    QTest::newRow("empty file") << QByteArray() << u"\r"_qs;
    QTest::newRow("lone CR at the end") << QByteArray("x\r") << u"x\r"_qs;
}

void TestDocuments::plainText()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);
    const QString file = path(QStringLiteral("plain.dat")); // an extension that promises no format
    QVERIFY(writeFile(file, bytes));
    QCOMPARE(visible(read(file)), visible(expected));
}

void TestDocuments::plainTextBlockBoundary()
{
    // CR LF split by the reader's 1 MiB blocks is one paragraph end; so is a character split.
    QByteArray bytes(1 << 20, 'a');
    bytes[(1 << 20) - 1] = '\r';
    bytes += "\nb";
    bytes.replace((1 << 20) - 3, 2, "\xC3\xA9");
    const QString file = path(QStringLiteral("blocks.txt"));
    QVERIFY(writeFile(file, bytes));
    const QString text = read(file);
    QCOMPARE(text.size(), (1 << 20) - 1 + 2);
    QCOMPARE(text.mid((1 << 20) - 4, 5), u"aé\rb\r"_qs);
}

void TestDocuments::blankLineParagraphs_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("expected"); // with blank-line paragraphs; empty: as with a paragraph a line

    // Plain text, in any encoding, is joined; formats that mark their paragraphs are not.
    QTest::newRow("plain text") << u"wrapped.txt"_qs << QByteArray("It was a very\r\nhappy day.\r\n \t\r\nNext\fpage")
                                << u"It was a very happy day.  \t\rNext\rpage\r"_qs;
    QTest::newRow("plain text, UTF-16") << u"wide.txt"_qs << QByteArray("\xFF\xFE" "a\0\n\0b\0\n\0\n\0c\0", 14)
                                        << u"a b \rc\r"_qs;
    QTest::newRow("plain text, Windows-1252") << u"old.txt"_qs << QByteArray("caf\xE9\nbar\n\nfin") << u"caf\u00e9 bar \rfin\r"_qs;
    QTest::newRow("a .doc that is text") << u"notes.doc"_qs << QByteArray("one\ntwo\n") << u"one two\r"_qs;
    QTest::newRow("HTML") << u"page.html"_qs
                          << QByteArray("<html><body><p>very\nhappy</p>\n\n<p>day<br>night</p><pre>a\nb\n\nc</pre></body></html>")
                          << QString();
    QTest::newRow("RTF") << u"letter.rtf"_qs << QByteArray("{\\rtf1\\ansi very happy\\line day\\par\n\\par night\\par}")
                         << QString();
}

void TestDocuments::blankLineParagraphs()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);
    const QString file = path(name);
    QVERIFY(writeFile(file, bytes));
    const QString lines = read(file);
    QVERIFY(!lines.isEmpty());
    const QString joined = read(file, nullptr, WordRules::Paragraphs::BlankLines);
    QCOMPARE(visible(joined), visible(expected.isEmpty() ? lines : expected));
    // Word and OpenDocument paragraphs and line breaks stay as they are too.
    const QByteArray body = "<w:p><w:r><w:t>very</w:t><w:br/><w:t>happy</w:t></w:r></w:p><w:p/><w:p><w:r><w:t>day</w:t></w:r></w:p>";
    const QString docx = path(u"doc.docx"_qs);
    QVERIFY(writeDocx(docx, body));
    QCOMPARE(read(docx, nullptr, WordRules::Paragraphs::BlankLines), read(docx));
    const QString odt = path(u"doc.odt"_qs);
    QVERIFY(writeOdt(odt, "<text:p>very<text:line-break/>happy</text:p><text:p/><text:p>day</text:p>"));
    QCOMPARE(read(odt, nullptr, WordRules::Paragraphs::BlankLines), read(odt));
}

void TestDocuments::recognisesByContent()
{
    const QString docxAsDoc = path(QStringLiteral("really-docx.doc"));
    QVERIFY(writeDocx(docxAsDoc, "<w:p><w:r><w:t>docx inside</w:t></w:r></w:p>"));
    QCOMPARE(read(docxAsDoc), u"docx inside\r"_qs);
    const QString htmlAsDoc = path(QStringLiteral("web-page.doc"));
    QVERIFY(writeFile(htmlAsDoc, "\xEF\xBB\xBF  <HTML><body><p>web</p></body></HTML>"));
    QCOMPARE(read(htmlAsDoc), u"web\r"_qs);
    const QString odtAsZip = path(QStringLiteral("odt.zip"));
    QVERIFY(writeOdt(odtAsZip, "<text:p>odt</text:p>"));
    QCOMPARE(read(odtAsZip), u"odt\r"_qs);

    QStringList names;
    for (const auto &reader : formatReaders())
        names << reader->name();
    QCOMPARE(names.constLast(), u"text"_qs); // the fallback
}

void TestDocuments::nameAndContentDisagree_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("failure"); // completes "<file> is ..."; empty: the text is read
    QTest::addColumn<QString>("expected");

    const QByteArray text = "not a zip";
    const QByteArray rtf = "{\\rtf1\\ansi rtf inside\\par}";
    const QByteArray html = "<html><body><p>web inside</p></body></html>";
    const QString wordPackage = u"not a valid Word document: it is not a document package"_qs;
    const QString odfPackage = u"not a valid OpenDocument text: it is not a document package"_qs;
    const std::pair<const char *, QString> packages[] = {
        {"docx", wordPackage}, {"docm", wordPackage}, {"dotx", wordPackage}, {"dotm", wordPackage},
        {"DocX", wordPackage}, {"odt", odfPackage}, {"ott", odfPackage}, {"odm", odfPackage},
        {"otm", odfPackage}, {"oth", odfPackage}, {"ODT", odfPackage},
    };
    for (const auto &[extension, failure] : packages) {
        const QString name = u"file."_qs + QLatin1StringView(extension);
        QTest::addRow("%s with text", extension) << name << text << failure << QString();
        QTest::addRow("%s empty", extension) << name << QByteArray() << failure << QString();
        QTest::addRow("%s with RTF", extension) << name << rtf << QString() << u"rtf inside\r"_qs;
        QTest::addRow("%s with HTML", extension) << name << html << QString() << u"web inside\r"_qs;
    }
    const QString pdf = u"not a valid PDF document: it has no PDF header"_qs;
    QTest::newRow("pdf with text") << u"file.pdf"_qs << text << pdf << QString();
    QTest::newRow("PDF empty") << u"file.PDF"_qs << QByteArray() << pdf << QString();
    QTest::newRow("pdf with RTF") << u"file.pdf"_qs << rtf << QString() << u"rtf inside\r"_qs;
    // Word processors open a .doc or .dot that holds text as text; only damaged Word 97-2003
    // data (it starts with the compound-file signature) fails.
    QTest::newRow("doc with text") << u"notes.doc"_qs << QByteArray("plain words") << QString()
                                   << u"plain words\r"_qs;
    QTest::newRow("dot with text") << u"file.Dot"_qs << text << QString() << u"not a zip\r"_qs;
    QTest::newRow("doc with UTF-16 text") << u"file.doc"_qs << QByteArray("\xFF\xFEw\0o\0r\0d\0", 10)
                                          << QString() << u"word\r"_qs;
    QTest::newRow("doc empty") << u"file.doc"_qs << QByteArray() << QString() << u"\r"_qs; // as any empty file
    QTest::newRow("doc with binary data") << u"file.doc"_qs << QByteArray("\x89PNG\r\n\x1a\n\0\0\0", 11)
                                         << u"not a document that Corvalen can read"_qs << QString();
    QTest::newRow("doc with damaged Word data")
            << u"file.doc"_qs << QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1plain words", 19)
            << u"damaged: it is not a complete Word 97-2003 file"_qs << QString();
    QTest::newRow("doc with RTF") << u"file.doc"_qs << rtf << QString() << u"rtf inside\r"_qs;
    QTest::newRow("doc with HTML") << u"file.doc"_qs << html << QString() << u"web inside\r"_qs;

    // Text stays text where the name promises nothing else.
    QTest::newRow("txt") << u"file.TXT"_qs << text << QString() << u"not a zip\r"_qs;
    QTest::newRow("unknown extension") << u"file.notes"_qs << text << QString() << u"not a zip\r"_qs;
    QTest::newRow("no extension") << u"docx"_qs << text << QString() << u"not a zip\r"_qs;
    QTest::newRow("rtf with text") << u"file.rtf"_qs << text << QString() << u"not a zip\r"_qs;
    QTest::newRow("package name before another extension") << u"file.docx.txt"_qs << text << QString()
                                                          << u"not a zip\r"_qs;
}

void TestDocuments::nameAndContentDisagree()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, failure);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    const QString file = dir.filePath(name);
    QVERIFY(writeFile(file, bytes));
    RecordingReporter reporter;
    const QString text = read(file, &reporter);
    if (failure.isEmpty()) {
        QVERIFY(reporter.reports.isEmpty());
        QCOMPARE(visible(text), visible(expected));
        return;
    }
    QVERIFY(text.isEmpty());
    QCOMPARE(reporter.lines(), (QList<int>{106, 110, 114, 118}));
    QCOMPARE(reporter.reports.at(0).description, QDir::toNativeSeparators(file) + u" is "_qs + failure + u'.');
}

void TestDocuments::openFailures_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("description");

    const QString missing = path(QStringLiteral("missing.docx"));
    QTest::newRow("missing") << missing << u"The file %1 does not exist."_qs.arg(QDir::toNativeSeparators(missing));
    QTest::newRow("folder") << m_dir.path() << u"%1 is a folder, not a document."_qs.arg(QDir::toNativeSeparators(m_dir.path()));

    const QString binary = path(QStringLiteral("picture.png"));
    writeFile(binary, QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\x10", 21));
    QTest::newRow("unsupported") << binary << u"%1 is not a document that Corvalen can read."_qs.arg(binary);

    const QString sheet = path(QStringLiteral("sheet.docx"));
    writeZip(sheet, {{"_rels/.rels", "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                                     "<Relationship Id=\"r\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>"},
                     {"xl/workbook.xml", "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"/>"}});
    QTest::newRow("spreadsheet package") << sheet << u"%1 is not a document that Corvalen can read."_qs.arg(sheet);

    const QString plainZip = path(QStringLiteral("photos.zip"));
    writeZip(plainZip, {{"a.jpg", "jpeg"}});
    QTest::newRow("other zip") << plainZip << u"%1 is not a document that Corvalen can read."_qs.arg(plainZip);

    const QString truncated = path(QStringLiteral("truncated.docx"));
    writeDocx(truncated, "<w:p><w:r><w:t>" + QByteArray(5000, 'x') + "</w:t></w:r></w:p>");
    {
        QFile f(truncated);
        f.open(QIODevice::ReadWrite);
        f.resize(f.size() / 2);
    }
    QTest::newRow("truncated zip") << truncated << u"%1 is damaged: it is not a complete zip archive."_qs.arg(truncated);

    const QString noMain = path(QStringLiteral("nomain.docx"));
    writeZip(noMain, {{"_rels/.rels", "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                                      "<Relationship Id=\"r\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" Target=\"word/document.xml\"/></Relationships>"}});
    QTest::newRow("main part missing") << noMain << u"%1 is damaged: its part word/document.xml is missing."_qs.arg(noMain);

    const QString encrypted = path(QStringLiteral("secret.odt"));
    writeZip(encrypted, {{"mimetype", "application/vnd.oasis.opendocument.text", true},
                         {"META-INF/manifest.xml", "<manifest:manifest><manifest:file-entry manifest:full-path=\"content.xml\">"
                                                   "<manifest:encryption-data/></manifest:file-entry></manifest:manifest>"},
                         {"content.xml", "\x01\x02 encrypted bytes"}});
    QTest::newRow("password") << encrypted << u"%1 is protected by a password."_qs.arg(encrypted);

    // Every entry encrypted, the relationships too: nothing says which part is the document.
    const QString allEncrypted = path(QStringLiteral("locked.docx"));
    {
        std::vector<RawZipEntry> entries{rawZipEntry("_rels/.rels", mainPartRelationships()),
                                         rawZipEntry("d.xml", docxDocument("<w:p><w:r><w:t>x</w:t></w:r></w:p>"))};
        for (RawZipEntry &e : entries) {
            e.flags |= 1;
            e.payload.prepend(QByteArray(12, '\x5A')); // the encryption header
        }
        writeFile(allEncrypted, zipArchive(entries));
    }
    QTest::newRow("every entry encrypted") << allEncrypted << u"%1 is protected by a password."_qs.arg(allEncrypted);

    // Method 14 (LZMA): not one that libzip unpacks here.
    const auto lzma = [](const QByteArray &name, const QByteArray &data) {
        RawZipEntry e = rawZipEntry(name, data);
        e.method = 14;
        return e;
    };
    const QString allLzma = path(QStringLiteral("lzma.docx"));
    writeFile(allLzma, zipArchive({lzma("_rels/.rels", mainPartRelationships()), lzma("d.xml", docxDocument(""))}));
    QTest::newRow("every entry packed with LZMA")
            << allLzma << u"%1 is packed with a method Corvalen cannot unpack."_qs.arg(allLzma);
    const QString mainLzma = path(QStringLiteral("lzma-main.docx"));
    writeFile(mainLzma, zipArchive({rawZipEntry("_rels/.rels", mainPartRelationships()), lzma("d.xml", docxDocument(""))}));
    QTest::newRow("main part packed with LZMA")
            << mainLzma << u"%1 is packed with a method Corvalen cannot unpack."_qs.arg(mainLzma);

    const QString fifo = path(QStringLiteral("pipe.txt"));
    ::mkfifo(QFile::encodeName(fifo).constData(), 0600);
    QTest::newRow("named pipe never blocks") << fifo << u"%1 is not a document that Corvalen can read."_qs.arg(fifo);

    if (::geteuid() != 0) {
        const QString locked = path(QStringLiteral("locked.txt"));
        writeFile(locked, "secret");
        QFile::setPermissions(locked, QFileDevice::WriteOwner);
        QTest::newRow("permission denied") << locked << u"%1 could not be opened: Permission denied."_qs.arg(locked);
    }
}

void TestDocuments::openFailures()
{
    QFETCH(QString, file);
    QFETCH(QString, description);
    RecordingReporter reporter;
    DocumentEngine engine(&reporter);
    QString text = u"untouched"_qs;
    text = engine.returnDocumentString(file);
    QVERIFY(text.isEmpty());
    QCOMPARE(reporter.lines(), (QList<int>{106, 110, 114, 118}));
    QCOMPARE(reporter.reports.at(0).description, description);
    for (int i = 1; i < 4; ++i)
        QCOMPARE(reporter.reports.at(i).description, kNoDocument);
    // A run is told that the text is not to be counted.
    QVERIFY(!engine.readText(file, [](QStringView) {}));

    // The same engine reads the next file normally.
    reporter.reports.clear();
    const QString good = path(QStringLiteral("next.txt"));
    QVERIFY(writeFile(good, "fine"));
    QCOMPARE(engine.returnDocumentString(good), u"fine\r"_qs);
    QVERIFY(engine.readText(good, [](QStringView) {}));
    QVERIFY(reporter.reports.isEmpty());
}

void TestDocuments::reportText()
{
    RecordingReporter reporter;
    DocumentEngine engine(&reporter);
    const QString missing = path(QStringLiteral("gone.txt"));
    engine.returnDocumentString(missing);
    QCOMPARE(reporter.reports.size(), 4);
    QCOMPARE(reporter.reports.at(0).message,
             u"The file "_qs + QDir::toNativeSeparators(missing)
                     + u" does not exist.\r\nin Pellago5/20/2014.Word1.ReturnDocumentString at line 106\r\r"
                       "Please email screenshot of this message to support@quillmark.example"_qs);
    QVERIFY(reporter.reports.at(3).message.startsWith(
            u"No document is open.\r\nin Pellago5/20/2014.Word1.ReturnDocumentString at line 118\r\r"_qs));
}

void TestDocuments::engineCannotStart()
{
    RecordingReporter reporter;
    FakeStatus status;
    status.start = false;
    DocumentEngine engine(&reporter, &status);
    const QString file = path(QStringLiteral("ok.txt"));
    QVERIFY(writeFile(file, "words"));
    QVERIFY(engine.returnDocumentString(file).isEmpty());
    QCOMPARE(reporter.lines(), (QList<int>{102, 106, 110, 114, 118, 122}));
    for (const Report &r : std::as_const(reporter.reports))
        QVERIFY2(!r.description.isEmpty() && r.description.endsWith(u'.'), qPrintable(r.description));
}

void TestDocuments::hostileInput_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("expected"); // empty: the file must be reported damaged

    QTest::newRow("mismatched tags") << QByteArray("<w:p><w:r><w:t>x</w:r></w:t></w:p>") << QString();
    QTest::newRow("unclosed element") << QByteArray("<w:p><w:r><w:t>x") << QString();
    QByteArray deep;
    for (int i = 0; i < 100000; ++i)
        deep += "<w:sdt>";
    QTest::newRow("very deep nesting") << deep << QString();
    QByteArray deepOk;
    for (int i = 0; i < 1000; ++i)
        deepOk += "<w:customXml>";
    deepOk += "<w:p><w:r><w:t>deep</w:t></w:r></w:p>";
    for (int i = 0; i < 1000; ++i)
        deepOk += "</w:customXml>";
    QTest::newRow("reasonable nesting") << deepOk << u"deep\r"_qs;
    QTest::newRow("attribute without quotes") << QByteArray("<w:p w:x=1/>") << QString();
    // Names of open elements and a tag's attributes are held: neither may grow without end.
    QTest::newRow("name too long") << "<w:" + QByteArray(5000, 'n') + "/>" << QString();
    QTest::newRow("tag too long") << "<w:p w:x=\"" + QByteArray(17 << 20, 'x') + "\"/>" << QString();
    QByteArray declarations;
    for (int i = 0; i < 600000; ++i)
        declarations += " xmlns:n" + QByteArray::number(i) + "=\"u\"";
    QTest::newRow("namespaces without end")
            << "<w:sdt" + declarations + "><w:sdtContent" + declarations + "/></w:sdt>" << QString();
    QTest::newRow("long tag within bounds")
            << "<w:p w:x=\"" + QByteArray(5 << 20, 'x') + "\"><w:r><w:t>fine</w:t></w:r></w:p>" << u"fine\r"_qs;
}

void TestDocuments::hostileInput()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, expected);
    const QString file = path(QStringLiteral("hostile.docx"));
    QVERIFY(writeDocx(file, body));
    RecordingReporter reporter;
    const QString text = read(file, &reporter);
    QCOMPARE(visible(text), visible(expected));
    if (expected.isEmpty()) {
        QCOMPARE(reporter.lines(), (QList<int>{106, 110, 114, 118}));
        QVERIFY2(reporter.reports.at(0).description.contains(u"is damaged: its XML"_qs),
                 qPrintable(reporter.reports.at(0).description));
    } else {
        QVERIFY(reporter.reports.isEmpty());
    }
}

void TestDocuments::fieldsLeftOpen()
{
    // A million fields begun and never ended: a paragraph end must not walk all that are open
    // (that took many minutes). The text after them is still read.
    const QByteArray body = QByteArray("<w:p><w:r><w:fldChar w:fldCharType=\"begin\"/></w:r></w:p>").repeated(1000000)
            + "<w:p><w:r><w:t>after</w:t></w:r><w:r><w:fldChar w:fldCharType=\"end\"/></w:r><w:r><w:t> end</w:t></w:r></w:p>";
    QString text;
    QVERIFY(readWordprocessingBody(docxDocument(body), [&text](QStringView chunk) { text += chunk; }).ok());
    QCOMPARE(text.size(), 1000000 + 10);
    QCOMPARE(visible(text.right(10)), u"after end<13>"_qs);
}

void TestDocuments::manyNamespaceDeclarations_data()
{
    // A root element declaring 200,000 prefixes before 300,000 paragraphs: a name lookup must not
    // walk every declaration in scope (that took minutes).
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<bool>("odt");
    QByteArray declarations;
    for (int i = 0; i < 200000; ++i)
        declarations += " xmlns:p" + QByteArray::number(i) + "=\"urn:x" + QByteArray::number(i) + '"';
    QByteArray docx = docxDocument(QByteArray("<w:p><w:r><w:t>word</w:t></w:r></w:p>").repeated(300000));
    docx.insert(docx.indexOf("<w:document") + 11, declarations);
    QTest::newRow("docx") << docx << false;
    QByteArray odt = odtContent(QByteArray("<text:p>word</text:p>").repeated(300000));
    odt.insert(odt.indexOf("<office:document-content") + 24, declarations);
    QTest::newRow("odt") << odt << true;
}

void TestDocuments::manyNamespaceDeclarations()
{
    QFETCH(QByteArray, xml);
    QFETCH(bool, odt);
    QString text;
    const auto sink = [&text](QStringView chunk) { text += chunk; };
    QVERIFY((odt ? readOpenDocumentBody(xml, sink) : readWordprocessingBody(xml, sink)).ok());
    QCOMPARE(text.size(), 5 * 300000);
    QCOMPARE(wordCounts(text).at(u"word"_qs), 300000);
}

namespace {

// Gives XML to a scanner in blocks of the given sizes in turn, as unpacking a part does: each in a
// buffer with the room in front that the scanner may write, the last three kept.
class BlockFeeder
{
public:
    BlockFeeder(const QByteArray &xml, QList<int> sizes) : m_xml(xml), m_sizes(std::move(sizes)) {}

    std::span<char> operator()()
    {
        if (m_at >= m_xml.size())
            return {};
        const qsizetype size = std::min<qsizetype>(m_sizes.at(m_turn % m_sizes.size()), m_xml.size() - m_at);
        std::vector<char> &buffer = m_buffers[m_turn % 3];
        ++m_turn;
        buffer.assign(size_t(XmlScanner::kCarryRoom + size), '\0');
        char *block = buffer.data() + XmlScanner::kCarryRoom;
        std::memcpy(block, m_xml.constData() + m_at, size_t(size));
        m_at += size;
        return {block, size_t(size)};
    }

private:
    QByteArray m_xml;
    QList<int> m_sizes;
    qsizetype m_at = 0;
    int m_turn = 0;
    std::vector<char> m_buffers[3];
};

} // namespace

void TestDocuments::xmlInBlocks_data()
{
    // Markup of every kind cut at every place: the text must be the same as when the XML is whole.
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<bool>("odt");
    QTest::addColumn<QList<int>>("sizes");

    const QByteArray runs =
            "<w:p><w:r><w:t xml:space=\"preserve\">a&amp;b &lt;c&gt; &#233;&#x1F600; caf\xC3\xA9 \xE4\xB8\xAD\xF0\x9F\x98\x80 &unknown;</w:t>"
            "<w:tab/><w:t>x</w:t></w:r></w:p><?pi some > stuff?><!-- a <comment> -- with - dashes -->"
            "<w:p><w:r><w:rPr><w:vanish/></w:rPr><w:t>hidden</w:t></w:r><w:r><w:t><![CDATA[raw <&amp;> ]] ]>\xC3\xA9]]></w:t></w:r></w:p>"
            "<w:p w:rsidR=\"00A1\" w:rsidRDefault='00B2'><w:r><w:fldChar w:fldCharType=\"begin\"/><w:instrText>PAGE</w:instrText>"
            "<w:fldChar w:fldCharType=\"separate\"/><w:t>3</w:t><w:fldChar w:fldCharType=\"end\"/></w:r></w:p>"
            "<w:p  ><w:r  ><w:t\n>spaced</w:t\n></w:r></w:p   >";
    QByteArray docx = docxDocument(runs);
    docx.insert(docx.indexOf("<w:document"), "<!DOCTYPE w:document [<!ENTITY e \"]>\"> <!-- ] -->]>\n");
    const QList<QList<int>> sizeSets{{1}, {2}, {3}, {5, 1, 7}, {16}, {61}, {4096}};
    for (const QList<int> &sizes : sizeSets)
        QTest::addRow("docx, blocks of %d", sizes.first()) << docx << false << sizes;

    // Long runs of character data, CDATA and comments come in pieces; a long tag outgrows the
    // room in front of a block.
    QByteArray longText;
    for (int i = 0; i < 3000; ++i)
        longText += "w\xC3\xA9rd" + QByteArray::number(i) + " &amp; ";
    const QByteArray longDocx = docxDocument("<w:p><w:r><w:t>" + longText + "</w:t><w:t><![CDATA[" + longText
                                             + "]]></w:t></w:r></w:p><!--" + QByteArray("<a> ").repeated(40000) + "-->"
                                             "<w:p w:x=\"" + QByteArray(200000, 'v') + "\"><w:r><w:t>end</w:t></w:r></w:p>");
    for (const QList<int> &sizes : QList<QList<int>>{{7}, {4093}, {100000}})
        QTest::addRow("long markup, blocks of %d", sizes.first()) << longDocx << false << sizes;

    const QByteArray odt = odtContent("<text:p>  one \n two<text:s text:c=\"3\"/>th&#x72;ee<text:tab/>\xC3\xA9</text:p><text:h>"
                                      + longText + "</text:h>");
    for (const QList<int> &sizes : QList<QList<int>>{{1}, {3}, {4096}})
        QTest::addRow("odt, blocks of %d", sizes.first()) << odt << true << sizes;
}

void TestDocuments::xmlInBlocks()
{
    QFETCH(QByteArray, xml);
    QFETCH(bool, odt);
    QFETCH(QList<int>, sizes);
    QString whole, inBlocks;
    const ReadOutcome expected = odt ? readOpenDocumentBody(xml, [&whole](QStringView c) { whole += c; })
                                     : readWordprocessingBody(xml, [&whole](QStringView c) { whole += c; });
    QVERIFY(expected.ok());
    QVERIFY(whole.size() > 10);
    BlockFeeder feeder(xml, sizes);
    const ReadOutcome outcome = odt ? readOpenDocumentBody(feeder, [&inBlocks](QStringView c) { inBlocks += c; })
                                    : readWordprocessingBody(feeder, [&inBlocks](QStringView c) { inBlocks += c; });
    QVERIFY2(outcome.ok(), qPrintable(outcome.detail));
    QCOMPARE(visible(inBlocks), visible(whole));
}

void TestDocuments::encodings_data()
{
    // The main part in each encoding XML allows: told by a byte order mark, by the zero bytes of
    // a wide encoding, or by the declaration.
    QTest::addColumn<QByteArray>("part");
    QTest::addColumn<QString>("expected"); // the text, or what the report says after the file name

    const QString xml = u"<?xml version=\"1.0\" encoding=\"%1\"?><w:document "
                        "xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\"><w:body>"
                        "<w:p><w:r><w:t>caf\u00E9 \U0001F600</w:t></w:r></w:p></w:body></w:document>"_qs;
    const auto encoded = [&xml](const char *declared, QStringConverter::Encoding encoding, bool bom) {
        QStringEncoder encoder(encoding, bom ? QStringConverter::Flag::WriteBom : QStringConverter::Flag::Default);
        return QByteArray(encoder(xml.arg(QString::fromLatin1(declared))));
    };
    const QString text = u"caf\u00E9 \U0001F600\r"_qs;
    QTest::newRow("UTF-16 LE without BOM") << encoded("UTF-16", QStringConverter::Utf16LE, false) << text;
    QTest::newRow("UTF-16 BE without BOM") << encoded("UTF-16", QStringConverter::Utf16BE, false) << text;
    QTest::newRow("UTF-32 LE without BOM") << encoded("UTF-32", QStringConverter::Utf32LE, false) << text;
    QTest::newRow("UTF-32 BE without BOM") << encoded("UTF-32", QStringConverter::Utf32BE, false) << text;
    QTest::newRow("UTF-16 LE with BOM") << encoded("UTF-16", QStringConverter::Utf16LE, true) << text;
    QTest::newRow("UTF-32 LE with BOM") << encoded("UTF-32", QStringConverter::Utf32LE, true) << text;
    QTest::newRow("UTF-8 with BOM") << encoded("UTF-8", QStringConverter::Utf8, true) << text;
    QTest::newRow("declared ISO-8859-1")
            << QByteArray(QStringEncoder(QStringConverter::Latin1)(
                       QString(xml.arg(u"ISO-8859-1"_qs)).replace(u" \U0001F600"_qs, QString())))
            << u"caf\u00E9\r"_qs;
    QTest::newRow("declared UTF-16, written in UTF-8")
            << encoded("UTF-16", QStringConverter::Utf8, false)
            << u"is damaged: its XML declares the encoding UTF-16 but is not written in it."_qs;
    QTest::newRow("declared encoding unknown")
            << encoded("x-no-such-encoding", QStringConverter::Utf8, false)
            << u"is in an encoding Corvalen cannot read (x-no-such-encoding)."_qs;

    // Big enough to be unpacked on a worker thread and converted block by block.
    QString big = xml.arg(u"UTF-16"_qs);
    big.replace(u"<w:p>"_qs, QString(u"<w:p><w:r><w:t>wide words</w:t></w:r></w:p>"_qs).repeated(100000) + u"<w:p>");
    QTest::newRow("big UTF-16 without BOM")
            << QByteArray(QStringEncoder(QStringConverter::Utf16LE)(big))
            << QString(u"wide words\r"_qs).repeated(100000) + text;
}

void TestDocuments::encodings()
{
    QFETCH(QByteArray, part);
    QFETCH(QString, expected);
    const QString file = path(QStringLiteral("encoded.docx"));
    QVERIFY(writeZip(file, {{"_rels/.rels", mainPartRelationships()}, {"d.xml", part}}));
    RecordingReporter reporter;
    const QString text = read(file, &reporter);
    if (expected.endsWith(u'\r')) {
        QVERIFY(reporter.reports.isEmpty());
        QCOMPARE(visible(text), visible(expected));
    } else {
        QVERIFY(text.isEmpty());
        QCOMPARE(reporter.lines(), (QList<int>{106, 110, 114, 118}));
        QCOMPARE(reporter.reports.at(0).description, file + u' ' + expected);
    }
}

void TestDocuments::decompressionBomb()
{
    // Entity declarations are skipped, never expanded ("billion laughs").
    const QString laughs = path(QStringLiteral("laughs.docx"));
    QByteArray doc = docxDocument("<w:p><w:r><w:t>&lol9;</w:t></w:r></w:p>");
    QByteArray dtd = "<!DOCTYPE w:document [<!ENTITY lol \"lol\">";
    for (int i = 1; i <= 9; ++i)
        dtd += "<!ENTITY lol" + QByteArray::number(i) + " \"" + QByteArray("&lol" + QByteArray::number(i - 1) + ";").repeated(10) + "\">";
    dtd += "]>";
    doc.insert(doc.indexOf("<w:document"), dtd);
    QVERIFY(writeZip(laughs, {{"_rels/.rels", "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                                              "<Relationship Id=\"r\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" Target=\"d.xml\"/></Relationships>"},
                              {"d.xml", doc}}));
    QCOMPARE(read(laughs), u"&lol9;\r"_qs);

    // A part that inflates beyond the absolute cap (a few hundred KB of zip).
    const QString bomb = path(QStringLiteral("bomb.docx"));
    QByteArray huge = docxDocument("<w:p><w:r><w:t>x</w:t></w:r></w:p>");
    huge.append(QByteArray(300 << 20, ' '));
    QVERIFY(writeZip(bomb, {{"_rels/.rels", "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                                            "<Relationship Id=\"r\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" Target=\"d.xml\"/></Relationships>"},
                            {"d.xml", huge}}));
    huge.clear();
    huge.squeeze();
    QVERIFY(QFileInfo(bomb).size() < 2 << 20);
    RecordingReporter reporter;
    QVERIFY(read(bomb, &reporter).isEmpty());
    QCOMPARE(reporter.lines(), (QList<int>{106, 110, 114, 118}));
    QVERIFY2(reporter.reports.at(0).description.contains(u"inflates to far more data"_qs),
             qPrintable(reporter.reports.at(0).description));

    // The same, with the sizes in the zip headers rewritten to lie: the cap holds for what
    // really comes out.
    QFile f(bomb);
    QVERIFY(f.open(QIODevice::ReadWrite));
    QByteArray bytes = f.readAll();
    const auto patchSizes = [&bytes](const QByteArray &signature, int offset) {
        for (qsizetype at = bytes.indexOf(signature); at >= 0; at = bytes.indexOf(signature, at + 4)) {
            const qsizetype nameLength = uchar(bytes[at + offset + 8]) | uchar(bytes[at + offset + 9]) << 8;
            const QByteArray name = bytes.mid(at + offset + (signature == "PK\x01\x02" ? 18 : 14), nameLength);
            if (name == "d.xml")
                bytes.replace(at + offset + 4, 4, QByteArray("\x00\x10\x00\x00", 4)); // 4 KiB
        }
    };
    patchSizes("PK\x03\x04", 18); // local header: compressed size at 18, size at 22, name length at 26
    patchSizes("PK\x01\x02", 20); // central directory: sizes at 20 and 24, name length at 28
    f.seek(0);
    f.write(bytes);
    f.close();
    reporter.reports.clear();
    QVERIFY(read(bomb, &reporter).isEmpty());
    QCOMPARE(reporter.lines(), (QList<int>{106, 110, 114, 118}));
    QVERIFY2(reporter.reports.at(0).description.contains(u"is damaged"_qs), qPrintable(reporter.reports.at(0).description));
}

void TestDocuments::enormousParagraph()
{
    const QString file = path(QStringLiteral("long.docx"));
    QVERIFY(writeDocx(file, "<w:p><w:r><w:t>" + QByteArray("word ").repeated(2 << 20) + "</w:t></w:r></w:p>"));
    const QString text = read(file);
    QCOMPARE(text.size(), 5 * (2 << 20) + 1);
    QCOMPARE(wordCounts(text).at(u"word"_qs), 2 << 20);
}

void TestDocuments::bigPartStreamed()
{
    // A main part big enough to be scanned while it is unpacked: whole, with a byte order mark,
    // and with its compressed data damaged halfway.
    QByteArray body;
    for (int i = 0; i < 120000; ++i)
        body += "<w:p><w:r><w:t>word" + QByteArray::number(i * 7919 % 100003) + " &amp; more</w:t></w:r></w:p>";
    const QByteArray xml = "\xEF\xBB\xBF" + docxDocument(body);
    QVERIFY(xml.size() > 5 << 20);
    const QString file = path(QStringLiteral("big.docx"));
    QVERIFY(writeZip(file, {{"_rels/.rels", "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                                            "<Relationship Id=\"r\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" Target=\"d.xml\"/></Relationships>"},
                            {"d.xml", xml}}));
    const QString text = read(file);
    QCOMPARE(text.count(u'\r'), 120000);
    QCOMPARE(wordCounts(text).at(u"more"_qs), 120000);
    QVERIFY(text.startsWith(u"word0 & more\rword7919 & more\r"_qs));

    // A huge comment full of '<' arrives in many pieces; it is read once it is whole.
    const QString commented = path(QStringLiteral("commented.docx"));
    QVERIFY(writeDocx(commented, "<!--" + QByteArray("a<b ").repeated(2 << 20) + "--><w:p><w:r><w:t>after</w:t></w:r></w:p>"));
    QCOMPARE(read(commented), u"after\r"_qs);

    QFile f(file);
    QVERIFY(f.open(QIODevice::ReadWrite));
    QByteArray bytes = f.readAll();
    for (qsizetype i = bytes.size() / 2; i < bytes.size() / 2 + 64; ++i)
        bytes[i] = char(bytes[i] ^ 0x5A);
    f.seek(0);
    f.write(bytes);
    f.close();
    RecordingReporter reporter;
    QVERIFY(read(file, &reporter).isEmpty());
    QCOMPARE(reporter.lines(), (QList<int>{106, 110, 114, 118}));
    QVERIFY2(reporter.reports.at(0).description.contains(u"is damaged"_qs), qPrintable(reporter.reports.at(0).description));
}

void TestDocuments::bigTextHandedOn()
{
    // A structured document's text is held back while the file is checked, but not without end:
    // 20 MB of text go on to the sink as they are read.
    const QByteArray head = "<w:p><w:r><w:t>";
    const QByteArray tail = "</w:t></w:r></w:p>";
    const QByteArray part = docxDocument(head + "@" + tail);
    const qsizetype at = part.indexOf('@');
    const auto package = [&](const QString &name, const QByteArray &end) {
        const QString file = path(name);
        return writeFile(file, zipArchive({rawZipEntry("_rels/.rels", mainPartRelationships()),
                                           repeatedZipEntry("d.xml", part.left(at), "word ", 4 << 20, end)}))
                ? file
                : QString();
    };
    const QString whole = package(u"bigtext.docx"_qs, part.mid(at + 1));
    RecordingReporter reporter;
    DocumentEngine engine(&reporter);
    qsizetype received = 0;
    QChar last;
    QVERIFY(engine.readText(whole, [&](QStringView chunk) {
        received += chunk.size();
        last = chunk.back();
    }));
    QVERIFY(reporter.reports.isEmpty());
    QCOMPARE(received, 5 * (4 << 20) + 1);
    QCOMPARE(last, u'\r');

    // Damaged after the text has gone on: reported as any damage, and the caller is told.
    const QString cut = package(u"bigtext-cut.docx"_qs, QByteArray());
    received = 0;
    QVERIFY(!engine.readText(cut, [&](QStringView chunk) { received += chunk.size(); }));
    QVERIFY2(received > 16 << 20, qPrintable(QString::number(received)));
    QCOMPARE(reporter.lines(), (QList<int>{106, 110, 114, 118}));
    QVERIFY2(reporter.reports.at(0).description.contains(u"is damaged: its XML ends"_qs),
             qPrintable(reporter.reports.at(0).description));
    QVERIFY(engine.returnDocumentString(cut).isEmpty());
}

void TestDocuments::memoryBounded_data()
{
    // Parts that inflate to hundreds of megabytes from a few hundred kilobytes: the program must
    // stay far below the size of the part (it held it whole, and its text twice, before).
    QTest::addColumn<QString>("file");
    QTest::addColumn<qint64>("words"); // -1: the file is reported damaged

    const auto docxPart = [](const QByteArray &runs) {
        const QByteArray part = docxDocument("<w:p><w:r>" + runs + "</w:r></w:p>");
        return std::pair(part.left(part.indexOf('@')), part.mid(part.indexOf('@') + 1));
    };
    const qint64 words = 30 << 20; // 60 MB of "a "
    {
        const auto [head, tail] = docxPart("<w:t>@</w:t>");
        const QString file = path(u"paragraph.docx"_qs);
        writeFile(file, zipArchive({rawZipEntry("_rels/.rels", mainPartRelationships()),
                                    repeatedZipEntry("d.xml", head, "a ", words, tail)}));
        QTest::newRow("docx, one paragraph of 60 MB") << file << words;
    }
    {
        const auto [head, tail] = docxPart("<w:t><![CDATA[@]]></w:t>");
        const QString file = path(u"cdata.docx"_qs);
        writeFile(file, zipArchive({rawZipEntry("_rels/.rels", mainPartRelationships()),
                                    repeatedZipEntry("d.xml", head, "a ", 20 << 20, tail)}));
        QTest::newRow("docx, CDATA of 40 MB") << file << qint64(20 << 20);
    }
    {
        const QByteArray content = odtContent("<text:p>@</text:p>");
        const qsizetype at = content.indexOf('@');
        const QString file = path(u"paragraph.odt"_qs);
        writeFile(file, zipArchive({rawZipEntry("mimetype", "application/vnd.oasis.opendocument.text", true),
                                    repeatedZipEntry("content.xml", content.left(at), "a ", words, content.mid(at + 1))}));
        QTest::newRow("odt, one paragraph of 60 MB") << file << words;
    }
    {
        // Its headers claim 4 KB: unpacking goes on to the absolute limit before it fails.
        const auto [head, tail] = docxPart("<w:t>@</w:t>");
        RawZipEntry part = repeatedZipEntry("d.xml", head, "a ", 150 << 20, tail);
        part.size = 4096;
        const QString file = path(u"liar.docx"_qs);
        writeFile(file, zipArchive({rawZipEntry("_rels/.rels", mainPartRelationships()), part}));
        QTest::newRow("docx whose headers lie, 300 MB") << file << qint64(-1);
    }
}

void TestDocuments::memoryBounded()
{
    QFETCH(QString, file);
    QFETCH(qint64, words);
    const QString program = QStringLiteral(CORVALEN_BIN_DIR "/corvalen");
    if (!QFileInfo::exists(program))
        QSKIP("the program is not built");
    // Started from a small process: a child's peak counts what it shared with its parent before
    // it started the program, and this test holds a lot.
    const QString measure = u"import resource, subprocess, sys\n"
                            "run = subprocess.run(sys.argv[1:], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)\n"
                            "sys.stdout.buffer.write(run.stdout)\n"
                            "print('\\npeak', resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss, run.returncode)\n"_qs;
    QProcess run;
    run.start(u"python3"_qs, {u"-c"_qs, measure, program, u"count"_qs, u"--combined"_qs, file});
    QVERIFY(run.waitForFinished(-1));
    const QString output = QString::fromUtf8(run.readAllStandardOutput());
    const QStringList last = output.section(u'\n', -2).simplified().split(u' ');
    QCOMPARE(last.size(), 3);
    QCOMPARE(last.at(0), u"peak"_qs);
    const long peakMiB = last.at(1).toLong() / 1024;
    QVERIFY2(peakMiB < 160, qPrintable(u"peak %1 MiB"_qs.arg(peakMiB)));
    if (words >= 0) {
        QCOMPARE(last.at(2), u"0"_qs);
        QVERIFY2(output.contains(u" Word Count: %1"_qs.arg(words)), qPrintable(output.right(200)));
    } else {
        QVERIFY2(output.contains(u"is damaged"_qs), qPrintable(output.left(200)));
    }
}

void TestDocuments::damagedPartData_data()
{
    // Each case for a part read whole and for one big enough to be scanned while it is unpacked,
    // stored and deflated: the content must be checked however the entry is unpacked.
    QTest::addColumn<QByteArray>("archive");
    QTest::addColumn<QString>("expected"); // the text, or the damage described after "is damaged: "
    QTest::addColumn<QString>("alternative"); // another description that is as true

    const QByteArray checksum = "its part d.xml fails its checksum";
    const QByteArray unpack = "its part d.xml cannot be unpacked";
    const QByteArray bomb = "its part d.xml inflates to far more data than a document holds";
    for (const bool big : {false, true}) {
        QByteArray body;
        for (int i = 0; i < (big ? 120000 : 20); ++i)
            body += "<w:p><w:r><w:t>w" + QByteArray::number(i) + " ünï</w:t></w:r></w:p>";
        const QByteArray xml = docxDocument(body);
        QVERIFY(big == (xml.size() > 4 << 20));
        const QString text = u"w0 ünï\rw1 ünï\r"_qs;
        const auto archive = [&xml](const std::function<void(RawZipEntry &)> &change, bool store = false) {
            RawZipEntry part = rawZipEntry("d.xml", xml, store);
            change(part);
            return zipArchive({rawZipEntry("_rels/.rels", mainPartRelationships()), part});
        };
        const auto row = [big](const char *name) -> QTestData & { return QTest::addRow("%s, %s", big ? "big" : "small", name); };

        row("stored") << archive([](RawZipEntry &) {}, true) << text << QString();
        row("deflated") << archive([](RawZipEntry &) {}) << text << QString();
        row("stored, wrong checksum") << archive([](RawZipEntry &e) { e.crc ^= 1; }, true) << QString::fromUtf8(checksum) << QString();
        row("deflated, wrong checksum") << archive([](RawZipEntry &e) { e.crc ^= 0x80000000; }) << QString::fromUtf8(checksum) << QString();
        row("deflated, invalid block halfway") << archive([&xml](RawZipEntry &e) {
            qsizetype at = 0;
            e.payload = deflateRaw(xml, xml.size() / 2, &at);
            e.payload[at] = 0x06; // a block of the reserved type 3
        }) << QString::fromUtf8(unpack) << QString();
        // Unpacked by libzip (a build without ISA-L) this shows as a failed checksum.
        row("deflated, cut short") << archive([](RawZipEntry &e) { e.payload.truncate(e.payload.size() / 2); })
                                   << QString::fromUtf8(unpack) << QString::fromUtf8(checksum);
        // The checksum vouches for the content; a part never gets more room than its header gave.
        row("deflated, shorter than its header says") << archive([](RawZipEntry &e) { e.size += 64; }) << text << QString();
        row("deflated, longer than its header says") << archive([](RawZipEntry &e) { e.size -= 64; })
                                                     << (big ? QString::fromUtf8(bomb) : text) << QString();
        row("claims more than deflate can give") << archive([](RawZipEntry &e) {
            e.size = quint32(e.payload.size()) * 1100 + (1 << 20) + 1;
        }) << QString::fromUtf8(bomb) << QString();
    }
}

void TestDocuments::damagedPartData()
{
    QFETCH(QByteArray, archive);
    QFETCH(QString, expected);
    QFETCH(QString, alternative);
    const QString file = path(QStringLiteral("part.docx"));
    QVERIFY(writeFile(file, archive));
    RecordingReporter reporter;
    const QString text = read(file, &reporter);
    if (expected.startsWith(u"its part"_qs)) {
        QVERIFY(text.isEmpty());
        QCOMPARE(reporter.lines(), (QList<int>{106, 110, 114, 118}));
        const QString description = reporter.reports.at(0).description;
        if (alternative.isEmpty() || description != u"%1 is damaged: %2."_qs.arg(file, alternative))
            QCOMPARE(description, u"%1 is damaged: %2."_qs.arg(file, expected));
    } else {
        QVERIFY(reporter.reports.isEmpty());
        QVERIFY2(text.startsWith(expected), qPrintable(text.left(40)));
        QVERIFY(text.endsWith(u" ünï\r"_qs));
    }
}

void TestDocuments::availability()
{
    FakeStatus engine;
    const QString notInstalled = u"Word is not installed on this computer. You need to have it installed to use this software without error."_qs;
    const QString question = u"Word may be open. It is recommended that you close Word first. Use Ctrl+Alt+Del > Task Manager > "
                             "WINWORD.EXE if necessary.\r\n\r\nWould you like to proceed anyway?"_qs;
    {
        FakePrompter prompter;
        checkWordInstalled(engine, prompter);
        QVERIFY(prompter.calls.isEmpty());
        QVERIFY(!warnWordOpen(engine, prompter));
        QVERIFY(prompter.calls.isEmpty());
    }
    {
        FakePrompter prompter;
        engine.start = false;
        checkWordInstalled(engine, prompter);
        QCOMPARE(prompter.calls.size(), 1);
        QCOMPARE(prompter.calls.at(0).kind, u"message"_qs);
        QCOMPARE(prompter.calls.at(0).text, notInstalled);
        QCOMPARE(prompter.calls.at(0).title, u"Corvalen"_qs);
        QCOMPARE(prompter.calls.at(0).icon, Prompter::Icon::None);
    }
    for (const bool proceed : {true, false}) {
        FakePrompter prompter;
        prompter.answer = proceed;
        engine.running = true;
        QVERIFY(isWordRunning(engine));
        QCOMPARE(warnWordOpen(engine, prompter), !proceed);
        QCOMPARE(prompter.calls.size(), 1);
        QCOMPARE(prompter.calls.at(0).kind, u"question"_qs);
        QCOMPARE(prompter.calls.at(0).text, question);
        QCOMPARE(prompter.calls.at(0).title, u"Corvalen"_qs);
        QVERIFY(prompter.calls.at(0).yesIsDefault);
    }
    {
        // A failing check counts as "not running" and as "cannot start".
        FakePrompter prompter;
        engine.throws = true;
        QVERIFY(!isWordRunning(engine));
        QVERIFY(!warnWordOpen(engine, prompter));
        checkWordInstalled(engine, prompter);
        QCOMPARE(prompter.calls.size(), 1);
    }
    {
        // The built-in engine starts and is never held elsewhere: neither message appears.
        FakePrompter prompter;
        BuiltInEngineStatus builtIn;
        checkWordInstalled(builtIn, prompter);
        QVERIFY(!warnWordOpen(builtIn, prompter));
        QVERIFY(prompter.calls.isEmpty());
    }
}

namespace {

QString corpusDir()
{
    return QStringLiteral(CORVALEN_SHARED_DIR "/corpus");
}

// The documented differences between a reference text and the main-body text, per file.
QString applyDocumentedDifferences(const QString &file, QString reference)
{
    if (file == u"odfdo-note.odt") {
        reference.replace(u"paragraphe1"_qs, u"paragraphe"_qs).replace(u"d'apparencei"_qs, u"d'apparence"_qs);
    } else if (file == u"odfdo-tracked_changes.odt") {
        reference.replace(u"Bonjour les los bonitos amigos amis, ça va ?"_qs, u"Bonjour los bonitos amigos ça va ?"_qs);
    }
    return reference;
}

} // namespace

void TestDocuments::corpus_data()
{
    QTest::addColumn<QString>("file");
    const QDir dir(corpusDir());
    if (!dir.exists())
        QSKIP("the shared corpus is not beside the repository");
    const QStringList ours{u"docx"_qs, u"docm"_qs, u"odt"_qs, u"fodt"_qs, u"txt"_qs, u"le"_qs, u"html"_qs, u"htm"_qs};
    for (const QString &name : dir.entryList(QDir::Files, QDir::Name)) {
        if (name.endsWith(u".txt") && (name.endsWith(u".expected.txt") || name.endsWith(u".main.txt")))
            continue;
        if (ours.contains(QFileInfo(name).suffix()) && dir.exists(name + u".expected.txt"))
            QTest::newRow(qPrintable(name)) << name;
    }
}

void TestDocuments::corpus()
{
    QFETCH(QString, file);
    const QDir dir(corpusDir());
    QFile ref(dir.filePath(dir.exists(file + u".main.txt") ? QString(file + u".main.txt") : QString(file + u".expected.txt")));
    QVERIFY(ref.open(QIODevice::ReadOnly));
    QString reference = QString::fromUtf8(ref.readAll());
    if (reference.startsWith(QChar(0xFEFF)))
        reference.remove(0, 1);
    reference.replace(u'\n', u'\r');
    reference = applyDocumentedDifferences(file, reference);

    RecordingReporter reporter;
    QString text = read(dir.filePath(file), &reporter);
    QVERIFY(reporter.reports.isEmpty());
    QVERIFY(text.endsWith(u'\r'));
    // The reference writes manual line breaks as line ends.
    text.replace(QChar(11), u'\r');

    const auto ourWords = wordCounts(text);
    const auto refWords = wordCounts(reference);
    if (ourWords != refWords) {
        QStringList diff;
        for (const auto &[w, n] : ourWords)
            if (!refWords.contains(w) || refWords.at(w) != n)
                diff << u"ours %1 x%2"_qs.arg(visible(w)).arg(n);
        for (const auto &[w, n] : refWords)
            if (!ourWords.contains(w) || ourWords.at(w) != n)
                diff << u"reference %1 x%2"_qs.arg(visible(w)).arg(n);
        QFAIL(qPrintable(diff.mid(0, 20).join(u"; ")));
    }
}

QTEST_GUILESS_MAIN(TestDocuments)
#include "tst_documents.moc"
