// Every occurrence of a word in its context: the concordance search against the run's own counts
// (plain text and .docx, with the word rules), the contexts at a file's ends, and the command line
// against "corvalen count". The workbench's concordance has its own tests (tests/workbench), the
// queries over a corpus theirs (tests/corpus).

#include "../documents/packagebuilder.h"

#include "corpus/concordance.h"
#include "documents/documentengine.h"
#include "engine/analysisrun.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace corvalen;

Q_DECLARE_METATYPE(corvalen::WordRules)

namespace {

QByteArray xmlEscaped(const QString &text)
{
    return text.toHtmlEscaped().toUtf8();
}

// The text as a file: plain UTF-8, or a .docx with one paragraph per line.
QString writeText(const QString &folder, const QString &name, const QString &text, bool docx)
{
    const QString path = folder + u'/' + name + (docx ? u".docx"_qs : u".txt"_qs);
    if (docx) {
        QByteArray body;
        for (const QString &line : text.split(u'\n'))
            body += "<w:p><w:r><w:t xml:space=\"preserve\">" + xmlEscaped(line) + "</w:t></w:r></w:p>";
        if (!writeDocx(path, body))
            return {};
    } else if (!writeFile(path, text.toUtf8())) {
        return {};
    }
    return path;
}

// The run's own rows, counted combined through the document engine.
ResultTable countOf(const QStringList &files, const WordRules &rules, bool ignoreCase)
{
    DocumentEngine engine;
    engine.setParagraphs(rules.paragraphs);
    return runAnalysis(files, CountOptions(CountMode::Combined, false, ignoreCase, rules), engine);
}

// One line of the search, its text copied out of its batch.
struct Occurrence
{
    qint32 file = 0;
    QString left;
    QString text; // the piece of text the rules counted as the word, or why the file was not read
    QString right;
    bool failed = false;
};

// The lines of a word as a count of these files with these rules shows it.
QList<Occurrence> occurrencesOf(const QStringList &files, const WordRules &rules, bool ignoreCase,
                                const QString &word, int width = ConcordanceRequest::kDefaultWidth)
{
    ConcordanceRequest request;
    request.files = files;
    request.finder = WordFinder::create(rules, ignoreCase);
    QString error;
    const std::optional<CorpusQuery> query = CorpusQuery::parse(word, QueryMode::Words, true, *request.finder, &error);
    if (!query)
        qFatal("%s", qPrintable(error));
    request.query = *query;
    request.width = width;
    QList<Occurrence> found;
    ConcordanceSearch(request).run([&found](ConcordanceBatch &&batch) {
        for (const ConcordanceLine &l : batch.lines) {
            found.append(l.failed ? Occurrence{l.file, {}, l.text.toString(), {}, true}
                                  : Occurrence{l.file, l.left().toString(), l.hit().toString(), l.right().toString(), false});
        }
    });
    return found;
}

QStringList textsOf(const QList<Occurrence> &found)
{
    QStringList texts;
    for (const Occurrence &o : found)
        texts << o.text;
    return texts;
}

WordRules withWords(WordRules::Words words, WordRules::Punctuation punctuation = WordRules::Punctuation::Ascii)
{
    WordRules r;
    r.words = words;
    r.punctuation = punctuation;
    return r;
}

struct Run
{
    int exitCode = -1;
    QByteArray out, err;
};

Run runProgram(const QStringList &arguments)
{
    QProcess p;
    p.start(QStringLiteral(CORVALEN_BIN_DIR "/corvalen"), arguments);
    p.closeWriteChannel();
    if (!p.waitForFinished(120000))
        return {};
    return {p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError()};
}

} // namespace

class TestContext : public QObject
{
    Q_OBJECT

private slots:
    void occurrencesEqualCounts_data();
    void occurrencesEqualCounts();
    void contexts_data();
    void contexts();
    void longParagraphs_data();
    void longParagraphs();
    void filesInOrderAndFailures();

    void commandLineEqualsCount_data();
    void commandLineEqualsCount();
    void commandLineLinesAndStatuses();
    void commandLineWritesLongListsInOrder();

private:
    QTemporaryDir m_dir;
};

void TestContext::occurrencesEqualCounts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("docx");
    QTest::addColumn<WordRules>("rules");
    QTest::addColumn<bool>("ignoreCase");
    QTest::addColumn<QString>("word");
    QTest::addColumn<QStringList>("expected"); // the raw pieces, in text order

    WordRules stop;
    stop.stopWordLists = {u"en"_qs};
    stop.minLength = 3;
    WordRules stems;
    stems.stemLanguage = u"english"_qs;
    WordRules pairs;
    pairs.phraseLength = 2;
    WordRules lemmas;
    lemmas.lemmaLists = {u"en"_qs};
    WordRules corpus = withWords(WordRules::Words::Corpus);
    WordRules joinedPairs = pairs;
    joinedPairs.words = WordRules::Words::Corpus;
    joinedPairs.paragraphs = WordRules::Paragraphs::BlankLines;

    for (const bool docx : {false, true}) {
        const auto row = [docx](const char *name) -> QTestData & {
            return QTest::newRow(qPrintable(QString::fromUtf8(name) + (docx ? u" (docx)"_qs : u""_qs)));
        };
        row("punctuation") << u"Don't dont DON'T\n(dont), don't. d-o-n-t"_qs << docx << WordRules() << true
                           << u"dont"_qs
                           << QStringList{u"Don't"_qs, u"dont"_qs, u"DON'T"_qs, u"(dont),"_qs, u"don't."_qs, u"d-o-n-t"_qs};
        row("mixed case kept") << u"The the THE tHe The."_qs << docx << WordRules() << false << u"The"_qs
                               << QStringList{u"The"_qs, u"The."_qs};
        row("letters beyond ASCII") << u"Stra\u00dfe stra\u00dfe STRASSE \u00c4pfel \u00e4pfel"_qs << docx
                                    << WordRules() << true << u"stra\u00dfe"_qs
                                    << QStringList{u"Stra\u00dfe"_qs, u"stra\u00dfe"_qs};
        row("beyond U+FFFF") << u"\U0001D49Cbc \U0001D49Cbc, x\U0001D49Cbc \U0001F600 \U0001F600!"_qs << docx
                             << WordRules() << true << u"\U0001D49Cbc"_qs
                             << QStringList{u"\U0001D49Cbc"_qs, u"\U0001D49Cbc,"_qs};
        row("start and end of a file") << u"alpha beta\ngamma alpha"_qs << docx << WordRules() << true
                                       << u"alpha"_qs << QStringList{u"alpha"_qs, u"alpha"_qs};
        row("unicode words") << u"e-mail, co-op: E-Mail! mail\u2019s"_qs << docx
                             << withWords(WordRules::Words::Unicode) << true << u"mail"_qs
                             << QStringList{u"mail"_qs, u"Mail"_qs};
        row("all punctuation") << u"\u00abword\u00bb \u201cword\u201d word\u2026 word"_qs << docx
                               << withWords(WordRules::Words::Basic, WordRules::Punctuation::All) << true
                               << u"word"_qs
                               << QStringList{u"\u00abword\u00bb"_qs, u"\u201cword\u201d"_qs, u"word\u2026"_qs, u"word"_qs};
        row("stop words and short words") << u"The cat and the hat sat on a cat."_qs << docx << stop << true
                                          << u"cat"_qs << QStringList{u"cat"_qs, u"cat."_qs};
        row("a stop word has none") << u"The cat and the hat"_qs << docx << stop << true << u"the"_qs
                                    << QStringList();
        row("forms of a stem") << u"Running runs, run; the runner ran. RUN"_qs << docx << stems << true
                               << u"run"_qs << QStringList{u"Running"_qs, u"runs,"_qs, u"run;"_qs, u"RUN"_qs};
        // A word's lemma finds every form of it, irregular ones too, whichever form is asked for.
        row("forms of a lemma") << u"He ran home; she runs. Running, they were.\nRAN! the runner"_qs << docx
                                << lemmas << true << u"run"_qs
                                << QStringList{u"ran"_qs, u"runs."_qs, u"Running,"_qs, u"RAN!"_qs};
        // Case kept; the plain rules make "mouse's" "mouses", a plural of mouse.
        row("a form asks for its lemma") << u"Mice, a mouse; the mouse's mice\nMOUSES"_qs << docx << lemmas
                                         << false << u"mice"_qs
                                         << QStringList{u"Mice,"_qs, u"mouse;"_qs, u"mouse's"_qs, u"mice"_qs, u"MOUSES"_qs};
        row("phrases") << u"of the people, of  the PEOPLE\nof\nthe end"_qs << docx << pairs << true
                       << u"of the"_qs << QStringList{u"of the"_qs, u"of  the"_qs};
        row("corpus words") << u"Don't dont don\u2019t, well-known 'don't' Willoughby--don't e-mail\u2014dont"_qs << docx
                            << corpus << true << u"don't"_qs
                            << QStringList{u"Don't"_qs, u"don\u2019t"_qs, u"don't"_qs, u"don't"_qs};
        row("corpus words joined by a hyphen") << u"well-known, well known; well\u2010known--well-Known"_qs << docx
                                               << corpus << true << u"well-known"_qs
                                               << QStringList{u"well-known"_qs, u"well\u2010known"_qs, u"well-Known"_qs};
        // Plain text is hard-wrapped: a phrase runs across a line end, not across an empty line.
        // A Word document's paragraphs stay its own.
        row("phrases across a line end") << u"a very\nhappy day, very happy\n\nvery\nhappy"_qs << docx << joinedPairs
                                         << true << u"very happy"_qs
                                         << (docx ? QStringList{u"very happy"_qs}
                                                  : QStringList{u"very happy"_qs, u"very happy"_qs, u"very happy"_qs});
    }
}

void TestContext::occurrencesEqualCounts()
{
    QFETCH(QString, text);
    QFETCH(bool, docx);
    QFETCH(WordRules, rules);
    QFETCH(bool, ignoreCase);
    QFETCH(QString, word);
    QFETCH(QStringList, expected);

    QTemporaryDir dir;
    const QString path = writeText(dir.path(), u"t"_qs, text, docx);
    QVERIFY(!path.isEmpty());
    const QList<Occurrence> found = occurrencesOf({path}, rules, ignoreCase, word);
    QCOMPARE(textsOf(found), expected);

    // Every row of the run's own count has as many occurrences as its count, and no more.
    const ResultTable table = countOf({path}, rules, ignoreCase);
    qint64 sum = 0;
    for (qsizetype r = 0; r < table.rowCount(); ++r) {
        const qsizetype n = occurrencesOf({path}, rules, ignoreCase, table.word(r)).size();
        QVERIFY2(n == table.count(r), qPrintable(table.word(r) + u": "_qs + QString::number(n)));
        sum += n;
    }
    QCOMPARE(sum, table.total());
}

void TestContext::contexts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("word");
    QTest::addColumn<int>("width");
    QTest::addColumn<QStringList>("expected"); // left|occurrence|right, each

    const QString twenty = u"abcdefghijklmnopqrst"_qs;
    QTest::newRow("cut at both ends of a file")
            << u"alpha beta\ngamma alpha"_qs << u"alpha"_qs << 40
            << QStringList{u"|alpha| beta gamma alpha"_qs, u"alpha beta gamma |alpha|"_qs};
    QTest::newRow("width in characters")
            << twenty + u"xy target " + twenty + u"zz"_qs << u"target"_qs << 20
            << QStringList{u"defghijklmnopqrstxy |target| abcdefghijklmnopqrs"_qs};
    QTest::newRow("control characters as spaces")
            << u"one\ttwo word\r\nnext\vpage"_qs << u"word"_qs << 20
            << QStringList{u"one two |word| next page"_qs};
    // DEL, the C1 controls and the line and paragraph separators show as spaces too; the
    // characters beside those ranges stay (long contexts are copied eight units at a time).
    QTest::newRow("other control characters as spaces")
            << u"x hit a\u007f\u0080\u009f\u00a0~\u2027\u2028\u2029\u202ab\tc\u0085d"_qs << u"hit"_qs << 20
            << QStringList{u"x |hit| a   \u00a0~\u2027  \u202ab c d"_qs};
    QTest::newRow("characters beyond U+FFFF stay whole")
            << QString(u"\U0001F600"_qs).repeated(25) + u" hit "_qs + QString(u"\U0001D49C"_qs).repeated(25)
            << u"hit"_qs << 20
            << QStringList{QString(u"\U0001F600"_qs).repeated(19) + u" |hit| "_qs + QString(u"\U0001D49C"_qs).repeated(19)};
    QTest::newRow("across paragraphs")
            << u"one\ntwo\n\nthree\nfour"_qs << u"three"_qs << 20 << QStringList{u"one two  |three| four"_qs};
}

void TestContext::contexts()
{
    QFETCH(QString, text);
    QFETCH(QString, word);
    QFETCH(int, width);
    QFETCH(QStringList, expected);
    for (const bool docx : {false, true}) {
        if (docx && text.contains(u'\v'))
            continue; // not a character XML can hold
        QTemporaryDir dir;
        const QString path = writeText(dir.path(), u"c"_qs, text, docx);
        QStringList lines;
        for (const Occurrence &o : occurrencesOf({path}, WordRules(), true, word, width))
            lines << o.left + u'|' + o.text + u'|' + o.right;
        if (docx) // a .docx holds no form feed or control character: its lines are paragraphs
            QCOMPARE(lines.size(), expected.size());
        else
            QCOMPARE(lines, expected);
    }
}

void TestContext::longParagraphs_data()
{
    QTest::addColumn<WordRules>("rules");
    QTest::newRow("basic words") << WordRules();
    QTest::newRow("unicode words") << withWords(WordRules::Words::Unicode);
    WordRules pairs;
    pairs.phraseLength = 2;
    QTest::newRow("phrases") << pairs;
}

// A file of several megabytes without a single line end (read ahead, as big files are) is searched
// in parts; no occurrence is lost or counted twice at the cuts.
void TestContext::longParagraphs()
{
    QFETCH(WordRules, rules);
    QString text;
    for (int i = 0; i < 700000; ++i)
        text += (i % 7 == 0 ? u"Needle hay "_qs : i % 5 == 0 ? u"needle, "_qs : u"straw "_qs);
    const QString path = writeText(m_dir.path(), u"long"_qs, text, false);
    const ResultTable table = countOf({path}, rules, true);
    for (qsizetype r = 0; r < table.rowCount(); ++r) {
        const QList<Occurrence> found = occurrencesOf({path}, rules, true, table.word(r));
        QCOMPARE(found.size(), table.count(r));
    }
}

void TestContext::filesInOrderAndFailures()
{
    QTemporaryDir dir;
    const QString a = writeText(dir.path(), u"a"_qs, u"x one x"_qs, false);
    const QString b = writeText(dir.path(), u"b"_qs, u"two x"_qs, true);
    const QString gone = dir.filePath(u"gone.txt"_qs);
    const QList<Occurrence> found = occurrencesOf({b, gone, a}, WordRules(), true, u"x"_qs);
    QCOMPARE(found.size(), 4);
    QCOMPARE(found[0].file, 0);
    QCOMPARE(found[0].left, u"two "_qs);
    QVERIFY(found[1].failed);
    QCOMPARE(found[1].file, 1);
    QVERIFY2(found[1].text.contains(u"gone.txt"_qs), qPrintable(found[1].text));
    QCOMPARE(found[2].file, 2);
    QCOMPARE(found[2].right, u" one x"_qs);
    QCOMPARE(found[3].left, u"x one "_qs);
}

void TestContext::commandLineEqualsCount_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<bool>("docx");
    for (const bool docx : {false, true}) {
        const QString suffix = docx ? u" (docx)"_qs : QString();
        QTest::newRow(qPrintable(u"plain"_qs + suffix)) << QStringList() << docx;
        QTest::newRow(qPrintable(u"keep case"_qs + suffix)) << QStringList{u"--keep-case"_qs} << docx;
        QTest::newRow(qPrintable(u"unicode, all punctuation"_qs + suffix))
                << QStringList{u"--words"_qs, u"unicode"_qs, u"--punctuation"_qs, u"all"_qs} << docx;
        QTest::newRow(qPrintable(u"stop words, min length"_qs + suffix))
                << QStringList{u"--stop-words"_qs, u"en"_qs, u"--min-length"_qs, u"3"_qs} << docx;
        QTest::newRow(qPrintable(u"stems"_qs + suffix)) << QStringList{u"--stem"_qs, u"en"_qs} << docx;
        QTest::newRow(qPrintable(u"phrases"_qs + suffix)) << QStringList{u"--ngrams"_qs, u"2"_qs} << docx;
        QTest::newRow(qPrintable(u"corpus words"_qs + suffix)) << QStringList{u"--words"_qs, u"corpus"_qs} << docx;
        QTest::newRow(qPrintable(u"corpus words split at hyphens, keep case"_qs + suffix))
                << QStringList{u"--words"_qs, u"corpus"_qs, u"--hyphens"_qs, u"split"_qs, u"--keep-case"_qs} << docx;
        QTest::newRow(qPrintable(u"phrases of corpus words, blank-line paragraphs"_qs + suffix))
                << QStringList{u"--words"_qs, u"corpus"_qs, u"--paragraphs"_qs, u"blank-lines"_qs, u"--ngrams"_qs, u"2"_qs}
                << docx;
    }
}

// For every word that "corvalen count" shows, "corvalen context" gives as many lines.
void TestContext::commandLineEqualsCount()
{
    QFETCH(QStringList, options);
    QFETCH(bool, docx);
    QTemporaryDir dir;
    const QString text = u"The cat's hat, THE CAT'S \u00e9t\u00e9 \u00c9t\u00e9!\n"
                         u"running runs \u201cran\u201d \U0001D49Cb \U0001D49Cb. the end\nof the cat\n\n"
                         u"well-known Well\u2010Known 3,141.5 the--end\nof the cat"_qs;
    const QStringList files = {writeText(dir.path(), u"one"_qs, text, docx),
                               writeText(dir.path(), u"two"_qs, text.toUpper() + u" runner"_qs, docx)};
    const Run count = runProgram(QStringList{u"count"_qs, u"--combined"_qs} + options + files);
    QCOMPARE(count.exitCode, 0);
    const QList<QByteArray> rows = count.out.split('\n');
    int checked = 0;
    for (const QByteArray &row : rows) {
        if (row.isEmpty())
            continue;
        const QList<QByteArray> cells = row.split('\t');
        QCOMPARE(cells.size(), 2);
        const QString word = QString::fromUtf8(cells[0]);
        const Run context = runProgram(QStringList{u"context"_qs} + options + QStringList{word} + files);
        QCOMPARE(context.exitCode, 0);
        const qsizetype lines = context.out.count('\n');
        QVERIFY2(QByteArray::number(lines) == cells[1].trimmed(), qPrintable(word + u' ' + QString::number(lines)));
        QVERIFY(context.err.contains(QByteArray(QByteArray(" Occurrences: ") + cells[1].trimmed())));
        ++checked;
    }
    QVERIFY(checked > 3);
}

void TestContext::commandLineLinesAndStatuses()
{
    QTemporaryDir dir;
    const QString a = writeText(dir.path(), u"a"_qs, u"Don't stop.\nNow dont"_qs, false);
    Run run = runProgram({u"context"_qs, u"--width"_qs, u"20"_qs, u"DONT"_qs, a});
    QCOMPARE(run.exitCode, 0);
    const QByteArray name = a.toUtf8();
    QCOMPARE(run.out, name + "\t\tDon't\t stop. Now dont\n" + name + "\tDon't stop. Now \tdont\t\n");
    QVERIFY(run.err.contains(" Occurrences: 2\n"));

    run = runProgram({u"context"_qs, u"dont"_qs, a, dir.filePath(u"gone.txt"_qs)});
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.out.count('\n'), 2);
    QVERIFY(run.err.contains("gone.txt"));

    for (const QStringList &bad : {QStringList{u"--width"_qs, u"19"_qs, u"x"_qs, a},
                                   QStringList{u"--width"_qs, u"201"_qs, u"x"_qs, a},
                                   QStringList{u"x"_qs}, QStringList{u"--stem"_qs, u"klingon"_qs, u"x"_qs, a},
                                   QStringList{u"--combined"_qs, u"--per-file"_qs, u"x"_qs, a}}) {
        run = runProgram(QStringList{u"context"_qs} + bad);
        QVERIFY2(run.exitCode == 2, qPrintable(bad.join(u' ')));
        QVERIFY(run.out.isEmpty());
    }
}

// Tens of thousands of lines go from the search to the thread that writes them in batches: they
// come out in the order found, each the UTF-8 of the search's own occurrence (accents, CJK, pairs
// beyond U+FFFF, in both files); a full device ends the run with status 1, never a hang.
void TestContext::commandLineWritesLongListsInOrder()
{
    QTemporaryDir dir;
    QString text;
    const QStringList others = {u"caf\u00e9"_qs, u"\u65e5\u672c"_qs, u"\U0001F600x"_qs, u"plain"_qs};
    for (int i = 0; i < 60000; ++i)
        text += others.at(i % others.size()) + QString::number(i % 97) + (i % 3 ? u" the "_qs : u" The\n"_qs);
    const QStringList files = {writeText(dir.path(), u"f\u00e9"_qs, text, false),
                               writeText(dir.path(), u"g"_qs, text.right(5000), false)};
    QByteArray expected;
    const QList<Occurrence> found = occurrencesOf(files, WordRules(), true, u"the"_qs);
    QVERIFY(found.size() > 8 * 4096);
    for (const Occurrence &o : found)
        expected += (files.at(o.file) + u'\t' + o.left + u'\t' + o.text + u'\t' + o.right + u'\n').toUtf8();
    const Run run = runProgram(QStringList{u"context"_qs, u"the"_qs} + files);
    QCOMPARE(run.exitCode, 0);
    QVERIFY(run.out == expected);
    QVERIFY(run.err.endsWith(QByteArray(" Occurrences: " + QByteArray::number(found.size()) + '\n')));

    QProcess full;
    full.setStandardOutputFile(u"/dev/full"_qs);
    full.start(QStringLiteral(CORVALEN_BIN_DIR "/corvalen"), QStringList{u"context"_qs, u"the"_qs} + files);
    QVERIFY(full.waitForFinished(120000));
    QCOMPARE(full.exitCode(), 1);
    QVERIFY(full.readAllStandardError().contains("Could not write the occurrences"));
}

QTEST_MAIN(TestContext)
#include "tst_context.moc"
