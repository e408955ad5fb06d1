// The corpus queries against an independent reading of the same text: the tokens cut by hand in
// the test (the plain rules: words between spaces and line ends, ASCII punctuation deleted,
// lower-cased), the order by ICU's root collation asked here, Juilland's D worked out by hand.

#include "corpus/clusters.h"
#include "corpus/collation.h"
#include "corpus/collocates.h"
#include "corpus/concordance.h"
#include "corpus/corpusquery.h"
#include "corpus/dispersion.h"
#include "corpus/keywords.h"
#include "corpus/lexicalvariety.h"
#include "corpus/worddispersion.h"
#include "corpus/tableoutput.h"
#include "engine/analysisrun.h"
#include "documents/documentengine.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <unicode/ucol.h>

#include <cmath>

using namespace corvalen;

namespace {

struct Token
{
    QString word;
    bool gapBefore = false; // a paragraph end lies before it
};

// The plain rules, by hand.
QList<Token> tokensOf(const QString &text)
{
    QList<Token> tokens;
    bool gap = true;
    for (const QString &line : text.split(u'\n')) {
        for (const QString &piece : line.split(u' ', Qt::SkipEmptyParts)) {
            QString w;
            for (const QChar c : piece) {
                if (!(c.unicode() < 128 && c.isPunct()) && !(c.unicode() < 128 && c.isSymbol()))
                    w += c;
            }
            if (w.isEmpty())
                continue;
            tokens.append({w.toLower(), gap});
            gap = false;
        }
        gap = true;
    }
    return tokens;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

std::shared_ptr<const WordFinder> plainFinder(const WordRules &rules = {})
{
    return WordFinder::create(rules, true);
}

// Every line of a search, in the order found.
ConcordanceLines search(const QStringList &files, const QString &text, QueryMode mode = QueryMode::Words,
                        std::shared_ptr<const WordFinder> finder = plainFinder(), std::vector<qint64> *fileWords = nullptr,
                        std::shared_ptr<const CorpusVocabulary> *vocabulary = nullptr)
{
    ConcordanceRequest request;
    request.files = files;
    request.finder = finder;
    QString error;
    const std::optional<CorpusQuery> query = CorpusQuery::parse(text, mode, true, *finder, &error);
    if (!query)
        qFatal("%s", qPrintable(error));
    request.query = *query;
    ConcordanceSearch s(request);
    ConcordanceLines lines;
    s.run([&](ConcordanceBatch &&batch) { lines.append(std::move(batch)); });
    if (fileWords)
        *fileWords = s.fileWords();
    if (vocabulary)
        *vocabulary = s.vocabulary();
    return lines;
}

// A generated corpus: words drawn from a small vocabulary with capitals, punctuation and
// paragraph ends, so that words meet in many neighbourhoods.
QStringList makeCorpus(const QString &folder, int files, int words, quint32 seed)
{
    static const QStringList vocabulary = {u"The"_qs, u"the"_qs, u"then"_qs, u"them"_qs, u"this"_qs, u"cat"_qs,
                                           u"cot"_qs, u"cut"_qs, u"colour"_qs, u"color"_qs, u"Don't"_qs, u"dont"_qs,
                                           u"sat"_qs, u"on"_qs, u"a"_qs, u"mat."_qs, u"\u00e9t\u00e9"_qs, u"ete"_qs,
                                           u"Zebra"_qs, u"apple"_qs, u"(the)"_qs, u"--"_qs};
    QRandomGenerator random(seed);
    QStringList paths;
    for (int f = 0; f < files; ++f) {
        QString text;
        for (int i = 0; i < words; ++i) {
            text += vocabulary.at(int(random.bounded(vocabulary.size())));
            text += random.bounded(9) == 0 ? u'\n' : u' ';
        }
        const QString path = QDir(folder).filePath(u"f%1.txt"_qs.arg(f));
        writeFile(path, text.toUtf8());
        paths << path;
    }
    return paths;
}

QString readText(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

struct Ran
{
    int code = -1;
    QByteArray out, err;
};

Ran runCorvalen(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral(CORVALEN_BIN_DIR "/corvalen"), args);
    p.waitForFinished(60000);
    return {p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError()};
}

int collate(const QString &a, const QString &b)
{
    UErrorCode status = U_ZERO_ERROR;
    UCollator *root = ucol_open("", &status);
    const UCollationResult r = ucol_strcoll(root, reinterpret_cast<const UChar *>(a.utf16()), int32_t(a.size()),
                                            reinterpret_cast<const UChar *>(b.utf16()), int32_t(b.size()));
    ucol_close(root);
    return r == UCOL_LESS ? -1 : r == UCOL_EQUAL ? 0 : 1;
}

} // namespace

class TestCorpus : public QObject
{
    Q_OBJECT

private slots:
    void queriesFindExactlyTheCountedWords_data();
    void queriesFindExactlyTheCountedWords();
    void queriesOfCorpusWords_data();
    void queriesOfCorpusWords();
    void queryFaults_data();
    void queryFaults();
    void queryFaultsOnTheCommandLine_data();
    void queryFaultsOnTheCommandLine();
    void patternEngineLimitIsNamed();
    void linesMatchTheCount();
    void neighboursAcrossSlicesAndParagraphs();
    void enormousWordsAndParagraphs();
    void ordersByNeighbours();
    void linesWithACompanion();
    void phrasesStopAtGaps();
    void wordFormsAndCase();
    void lemmasInQueriesCollocatesAndClusters();
    void unreadableFileGivesALine();
    void juillandD_data();
    void juillandD();
    void tables();
    void commandLine();
    void sortedCommandLineEqualsTheOrderedLines_data();
    void sortedCommandLineEqualsTheOrderedLines();
    void collocatesByBruteForce_data();
    void collocatesByBruteForce();
    void associationMeasuresByHand();
    void overlappingWindowsByHand_data();
    void overlappingWindowsByHand();
    void clustersByBruteForce_data();
    void clustersByBruteForce();
    void keynessByHand_data();
    void keynessByHand();
    void keywordFilters();
    void tinyProbabilitiesWrittenAsZero();
    void wordListsReadBack();
    void damagedWordListsAreNamed_data();
    void damagedWordListsAreNamed();
    void wordListsOfOtherPrograms_data();
    void wordListsOfOtherPrograms();
    void corpusCommands();
    void lexicalVarietyByHand_data();
    void lexicalVarietyByHand();
    void wordDispersionByHand();

private:
    QTemporaryDir m_tmp;
};

void TestCorpus::queriesFindExactlyTheCountedWords_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<bool>("regex");
    QTest::addColumn<QString>("pattern"); // what every matched word is, as a regular expression of the test
    QTest::newRow("literal") << u"the"_qs << false << u"the"_qs;
    QTest::newRow("typed as in the text") << u"Don't"_qs << false << u"dont"_qs;
    QTest::newRow("star") << u"th*"_qs << false << u"th.*"_qs;
    QTest::newRow("question mark") << u"c?t"_qs << false << u"c.t"_qs;
    QTest::newRow("star inside") << u"col*r"_qs << false << u"col.*r"_qs;
    QTest::newRow("only a star") << u"*"_qs << false << u".*"_qs;
    QTest::newRow("accented") << u"\u00c9t\u00e9"_qs << false << u"\u00e9t\u00e9"_qs;
    QTest::newRow("regular expression") << u"colou?r|cat"_qs << true << u"colou?r|cat"_qs;
    QTest::newRow("regular expression, whole word") << u"at"_qs << true << u"at"_qs;
    QTest::newRow("nothing") << u"dog*"_qs << false << u"dog.*"_qs;
}

// A query's lines are exactly the tokens (by hand) that its words match, in text order.
void TestCorpus::queriesFindExactlyTheCountedWords()
{
    QFETCH(QString, query);
    QFETCH(bool, regex);
    QFETCH(QString, pattern);
    const QStringList files = makeCorpus(m_tmp.filePath(u"q"_qs), 3, 4000, 11);
    const QRegularExpression re(QRegularExpression::anchoredPattern(pattern));
    QList<QPair<qint32, qint64>> expected;
    for (qint32 f = 0; f < files.size(); ++f) {
        const QList<Token> tokens = tokensOf(readText(files.at(f)));
        for (qint64 i = 0; i < tokens.size(); ++i) {
            if (re.match(tokens.at(i).word).hasMatch())
                expected.append({f, i});
        }
    }
    std::vector<qint64> words;
    const ConcordanceLines lines = search(files, query, regex ? QueryMode::RegularExpression : QueryMode::Words,
                                          plainFinder(), &words);
    QList<QPair<qint32, qint64>> found;
    for (qsizetype i = 0; i < lines.size(); ++i)
        found.append({lines[i].file, lines[i].position});
    QCOMPARE(found.size(), expected.size());
    QCOMPARE(found, expected);
    for (qint32 f = 0; f < files.size(); ++f)
        QCOMPARE(words[size_t(f)], tokensOf(readText(files.at(f))).size());
    // The hit, as it stands in the text, is one the rules clean into a matched word.
    for (qsizetype i = 0; i < lines.size(); i += 37) {
        QString cleaned;
        for (const QChar c : lines[i].hit())
            if (!(c.unicode() < 128 && (c.isPunct() || c.isSymbol())))
                cleaned += c;
        QVERIFY2(re.match(cleaned.toLower()).hasMatch(), qPrintable(lines[i].hit().toString()));
    }
}

void TestCorpus::queriesOfCorpusWords_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<bool>("regex");
    QTest::addColumn<QStringList>("hits"); // as they stand in the text
    QTest::newRow("an apostrophe, however written") << u"DON\u2019T"_qs << false
                                                    << QStringList{u"Don't"_qs, u"don\u2019t"_qs, u"don\u02bct"_qs};
    QTest::newRow("a wildcard after an apostrophe") << u"don'*"_qs << false
                                                    << QStringList{u"Don't"_qs, u"don\u2019t"_qs, u"don\u02bct"_qs};
    QTest::newRow("a wildcard before it") << u"d*"_qs << false
                                          << QStringList{u"Don't"_qs, u"dont"_qs, u"don\u2019t"_qs, u"done"_qs, u"don\u02bct"_qs, u"day"_qs};
    QTest::newRow("hyphens") << u"well-known"_qs << false << QStringList{u"well-known"_qs, u"Well\u2010Known"_qs};
    QTest::newRow("a wildcard after a hyphen") << u"well\u2011*"_qs << false
                                               << QStringList{u"well-known"_qs, u"Well\u2010Known"_qs, u"well-read"_qs};
    QTest::newRow("a dash is two words") << u"Willoughby--but"_qs << false << QStringList{u"Willoughby--but"_qs};
    QTest::newRow("numbers") << u"3,141.5"_qs << false << QStringList{u"3,141.5"_qs};
    QTest::newRow("a phrase across a line end") << u"very happy"_qs << false
                                                << QStringList{u"very happy"_qs, u"very happy"_qs};
    QTest::newRow("regular expression") << u"[a-z]+-[a-z]+"_qs << true
                                        << QStringList{u"well-known"_qs, u"Well\u2010Known"_qs, u"well-read"_qs};
}

void TestCorpus::queriesOfCorpusWords()
{
    // Corpus words with blank-line paragraphs: a query is cut and cleaned as the text is, and a
    // phrase is found across a line end.
    QFETCH(QString, query);
    QFETCH(bool, regex);
    QFETCH(QStringList, hits);
    const QString file = m_tmp.filePath(u"corpus-words.txt"_qs);
    writeFile(file, u"Don't dont don\u2019t, done; don\u02bct. well-known Well\u2010Known--well-read\n"
                    u"Willoughby--but 3,141.5 a very\nhappy day; very happy\n\nvery\n\nhappy\n"_qs.toUtf8());
    WordRules rules;
    rules.words = WordRules::Words::Corpus;
    rules.paragraphs = WordRules::Paragraphs::BlankLines;
    const ConcordanceLines lines = search({file}, query, regex ? QueryMode::RegularExpression : QueryMode::Words,
                                          plainFinder(rules));
    QStringList found;
    for (qsizetype i = 0; i < lines.size(); ++i)
        found << lines[i].hit().toString();
    QCOMPARE(found, hits);
}

// The number of lines of a word is its count; of a pattern, the sum of its words' counts.
void TestCorpus::queryFaults_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QueryMode>("mode");
    QTest::addColumn<QString>("error");
    const QString words33 = QStringList(33, u"w"_qs).join(u' ');
    QTest::newRow("33 words") << words33 << QueryMode::Words << u"The query has 33 words; it may have 32."_qs;
    QTest::newRow("33 expressions") << words33 << QueryMode::RegularExpression << u"The query has 33 words; it may have 32."_qs;
    // The engine's own message and place, not that of an anchor pasted around the pattern.
    QTest::newRow("class not closed") << u"happ["_qs << QueryMode::RegularExpression
                                      << u"\"happ[\" is not a valid regular expression: missing terminating ] for "
                                         "character class at position 5."_qs;
    // Pasted between anchors it would have been (?:a)|(b): every word beginning with "a".
    QTest::newRow("anchor escaped") << u"a)|(b"_qs << QueryMode::RegularExpression
                                    << u"unmatched closing parenthesis at position 1"_qs;
    QTest::newRow("wildcard too long") << QString(40000, u'a') + u'*' << QueryMode::Words
                                       << u"cannot be searched for: regular expression is too large."_qs;
    QTest::newRow("empty") << u"  "_qs << QueryMode::Words << u"The query has no word."_qs;
}

// A query that cannot be searched for says why, in the pattern engine's words where it is the one.
void TestCorpus::queryFaults()
{
    QFETCH(QString, text);
    QFETCH(QueryMode, mode);
    QFETCH(QString, error);
    QString why;
    QVERIFY(!CorpusQuery::parse(text, mode, true, *plainFinder(), &why));
    QVERIFY2(why.contains(error), qPrintable(why.left(300)));
    QVERIFY(why.size() < 300); // a long word is cut short
}

void TestCorpus::queryFaultsOnTheCommandLine_data()
{
    QTest::addColumn<QStringList>("args"); // before the file
    QTest::addColumn<QString>("error");
    const QString words33 = QStringList(33, u"w"_qs).join(u' ');
    for (const QString &command : {u"context"_qs, u"dispersion"_qs, u"collocates"_qs, u"clusters"_qs}) {
        QTest::addRow("%s, 33 words", qPrintable(command)) << QStringList{command, words33}
                                                           << u"The query has 33 words; it may have 32"_qs;
        QTest::addRow("%s, wildcard too long", qPrintable(command))
                << QStringList{command, QString(40000, u'a') + u'*'} << u"regular expression is too large"_qs;
    }
    QTest::newRow("context, class not closed") << QStringList{u"context"_qs, u"--regex"_qs, u"happ["_qs}
                                               << u"missing terminating ] for character class at position 5"_qs;
    QTest::newRow("context, anchor escaped") << QStringList{u"context"_qs, u"--regex"_qs, u"a)|(b"_qs}
                                             << u"unmatched closing parenthesis"_qs;
    // Text order leaves no ties: a key after it would be ignored.
    QTest::newRow("context, key after position") << QStringList{u"context"_qs, u"--sort"_qs, u"position,1R"_qs, u"the"_qs}
                                                 << u"position ends an order"_qs;
}

// Every corpus command refuses such a query as a usage error instead of finding nothing.
void TestCorpus::queryFaultsOnTheCommandLine()
{
    QFETCH(QStringList, args);
    QFETCH(QString, error);
    const QString file = m_tmp.filePath(u"faults.txt"_qs);
    writeFile(file, "w w a b ab the cat the dog\n");
    const Ran ran = runCorvalen(args + QStringList{file});
    QCOMPARE(ran.code, 2);
    QVERIFY(ran.out.isEmpty());
    QVERIFY2(QString::fromUtf8(ran.err).contains(error), ran.err.left(400).constData());
    QVERIFY(ran.err.size() < 400);
}

// A pattern that backtracks beyond the engine's limit on a word takes it as not matching, and the
// word is named (by the library, and by each command on standard error).
void TestCorpus::patternEngineLimitIsNamed()
{
    const QString file = m_tmp.filePath(u"limit.txt"_qs);
    const QString longWord(40, u'a');
    writeFile(file, (u"ab "_qs + longWord + u" aab\n"_qs + longWord + u" ac\n"_qs).toUtf8());
    const std::shared_ptr<const WordFinder> finder = plainFinder();
    const std::optional<CorpusQuery> query = CorpusQuery::parse(u"(a|a)*(b|c)"_qs, QueryMode::RegularExpression, true, *finder);
    QVERIFY(query);
    ConcordanceRequest request;
    request.files = {file};
    request.finder = finder;
    request.query = *query;
    ConcordanceSearch search(request);
    qsizetype found = 0;
    search.run([&](ConcordanceBatch &&batch) { found += qsizetype(batch.lines.size()); });
    QCOMPARE(found, 3); // ab, aab, ac
    QCOMPARE(query->givenUpWords(), QStringList{longWord}); // the copies searched share it
    QCOMPARE(query->givenUpCount(), qsizetype(1));
    for (const QString &command : {u"context"_qs, u"dispersion"_qs, u"collocates"_qs, u"clusters"_qs}) {
        const Ran ran = runCorvalen({command, u"--regex"_qs, u"(a|a)*(b|c)"_qs, file});
        QCOMPARE(ran.code, 0);
        QVERIFY2(ran.err.contains("match limit") && ran.err.contains(longWord.toUtf8()), ran.err.constData());
    }
    // A pattern that does not backtrack so says nothing.
    const Ran plain = runCorvalen({u"context"_qs, u"--regex"_qs, u"a+(b|c)"_qs, file});
    QCOMPARE(plain.err, QByteArray(" Occurrences: 3\n"));
}

void TestCorpus::linesMatchTheCount()
{
    const QStringList files = makeCorpus(m_tmp.filePath(u"c"_qs), 4, 3000, 5);
    Utf8FileSource source;
    const ResultTable table = runAnalysis(files, CountOptions(CountMode::Combined, false, true), source);
    qint64 the = 0, th = 0;
    for (qsizetype r = 0; r < table.rowCount(); ++r) {
        const QString w = table.word(r);
        if (w == u"the")
            the = table.count(r);
        if (w.startsWith(u"th"))
            th += table.count(r);
    }
    QVERIFY(the > 0 && th > the);
    QCOMPARE(search(files, u"the"_qs).size(), the);
    QCOMPARE(search(files, u"th*"_qs).size(), th);
    QCOMPARE(search(files, u"TH*"_qs).size(), th);
}

// The five words on each side of every hit, across paragraph ends, never beyond the file; a big
// file is cut into slices that are searched apart, and words near their edges still come right.
// A word of five million characters (no space, no line end), then a paragraph of five million
// more, are read as any text: the occurrences around them, their contexts and neighbours, the
// phrases of the long paragraph and the clusters that hold the enormous word.
void TestCorpus::enormousWordsAndParagraphs()
{
    QTemporaryDir tmp;
    const QString huge(5'000'000, u'x');
    QString text = u"a b the c "_qs + huge + u" the d\n"_qs;
    for (int i = 0; i < 700000; ++i)
        text += u"the cat "_qs;
    text += u"\nthe end"_qs;
    const QString path = tmp.filePath(u"huge.txt"_qs);
    writeFile(path, text.toUtf8());
    std::shared_ptr<const CorpusVocabulary> vocabulary;
    const ConcordanceLines lines = search({path}, u"the"_qs, QueryMode::Words, plainFinder(), nullptr, &vocabulary);
    QCOMPARE(lines.size(), 700003);
    QCOMPARE(lines[0].left().toString(), u"a b "_qs);
    QCOMPARE(lines[0].right().toString(), QString(u" c "_qs + huge.left(ConcordanceRequest::kDefaultWidth - 3)));
    QCOMPARE(vocabulary->word(lines[0].neighbour(2) - 1), huge);
    QCOMPARE(lines[1].left().toString(), QString(huge.right(ConcordanceRequest::kDefaultWidth - 1) + u' '));
    QCOMPARE(vocabulary->word(lines[1].neighbour(-1) - 1), huge);
    QCOMPARE(vocabulary->word(lines[1].neighbour(1) - 1), u"d"_qs);
    QCOMPARE(lines[700002].position, 7 + 2 * 700000);
    QCOMPARE(search({path}, u"the cat"_qs).size(), 700000);
    ClusterRequest request;
    request.files = {path};
    request.finder = plainFinder();
    request.query = *CorpusQuery::parse(u"the"_qs, QueryMode::Words, true, *request.finder);
    request.minSize = request.maxSize = 2;
    request.minCount = 1;
    QMap<QString, qint64> clusters;
    for (const ClusterRow &r : findClusters(request).rows)
        clusters.insert(r.cluster, r.count);
    QCOMPARE(clusters.value(u"the c"_qs), 1);
    QCOMPARE(clusters.value(QString(huge + u" the"_qs)), 1);
    QCOMPARE(clusters.value(u"the d"_qs), 1);
    QCOMPARE(clusters.value(u"the cat"_qs), 700000);
    QCOMPARE(clusters.value(u"cat the"_qs), 699999);
}

void TestCorpus::neighboursAcrossSlicesAndParagraphs()
{
    QTemporaryDir tmp;
    QString text;
    QRandomGenerator random(3);
    static const QStringList words = {u"alpha"_qs, u"beta"_qs, u"gamma"_qs, u"delta"_qs, u"key"_qs};
    for (int i = 0; i < 400000; ++i) // about 2.5 million units: three slices and more
        text += words.at(int(random.bounded(words.size()))) + (random.bounded(7) == 0 ? u"\n"_qs : u" "_qs);
    const QString path = tmp.filePath(u"big.txt"_qs);
    writeFile(path, text.toUtf8());
    const QList<Token> tokens = tokensOf(text);
    std::shared_ptr<const CorpusVocabulary> vocabulary;
    const ConcordanceLines lines = search({path}, u"key"_qs, QueryMode::Words, plainFinder(), nullptr, &vocabulary);
    qint64 expected = 0;
    for (const Token &t : tokens)
        expected += t.word == u"key";
    QCOMPARE(lines.size(), expected);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const ConcordanceLine &line = lines[i];
        QCOMPARE(tokens.at(line.position).word, u"key"_qs);
        for (int d = -kNeighbourWords; d <= kNeighbourWords; ++d) {
            if (d == 0)
                continue;
            const qint64 at = line.position + d;
            const quint32 n = line.neighbour(d);
            if (at < 0 || at >= tokens.size()) {
                QCOMPARE(n, 0u);
                continue;
            }
            QVERIFY(n > 0);
            QCOMPARE(vocabulary->word(n - 1), tokens.at(at).word);
        }
        // The context is the text around the hit, as it stands.
        QCOMPARE(line.hit(), u"key"_qs);
        const QStringView around = QStringView(text).sliced(line.hitStart - line.leftLength, line.text.size());
        QString shown = around.toString();
        shown.replace(u'\n', u' ');
        QCOMPARE(line.text, QStringView(shown));
    }
}

// Lines ordered by 1R, then 2L, as ICU's root collation orders the words; ties in text order.
void TestCorpus::ordersByNeighbours()
{
    const QStringList files = makeCorpus(m_tmp.filePath(u"o"_qs), 2, 2500, 21);
    std::shared_ptr<const CorpusVocabulary> vocabulary;
    const ConcordanceLines lines = search(files, u"c?t"_qs, QueryMode::Words, plainFinder(), nullptr, &vocabulary);
    QVERIFY(lines.size() > 100);
    const QList<SortKey> keys{SortKey::Right1, SortKey::Left2};
    const std::vector<qint32> order = concordanceOrder(lines, keys, WordRanks::of(lines, *vocabulary, keys),
                                                       WordRanks::ofNames(files));
    QCOMPARE(qsizetype(order.size()), lines.size());
    const auto word = [&](const ConcordanceLine &l, int d) {
        const quint32 n = l.neighbour(d);
        return n == 0 ? QString() : vocabulary->word(n - 1);
    };
    for (size_t k = 1; k < order.size(); ++k) {
        const ConcordanceLine &a = lines[order[k - 1]];
        const ConcordanceLine &b = lines[order[k]];
        int c = word(a, 1).isEmpty() || word(b, 1).isEmpty() ? int(word(b, 1).isEmpty()) - int(word(a, 1).isEmpty())
                                                             : collate(word(a, 1), word(b, 1));
        if (c == 0) {
            c = word(a, -2).isEmpty() || word(b, -2).isEmpty()
                    ? int(word(b, -2).isEmpty()) - int(word(a, -2).isEmpty())
                    : collate(word(a, -2), word(b, -2));
        }
        QVERIFY2(c < 0 || (c == 0 && (a.file < b.file || (a.file == b.file && a.hitStart < b.hitStart))),
                 qPrintable(u"%1 %2 / %3 %4"_qs.arg(word(a, 1), word(a, -2), word(b, 1), word(b, -2))));
    }
    // The keys by name, as the command line takes them.
    QCOMPARE(parseSortKeys(u"1R,2l,hit"_qs).value(), (QList<SortKey>{SortKey::Right1, SortKey::Left2, SortKey::Hit}));
    QString error;
    QVERIFY(!parseSortKeys(u"1R,2R,3R,4R"_qs, &error));
    // Text order ends an order: nothing may follow it, and whatever follows it is not looked at.
    QVERIFY(parseSortKeys(u"1R,position"_qs));
    QVERIFY(!parseSortKeys(u"position,1R"_qs, &error));
    QVERIFY(error.contains(u"position ends an order"));
    const QList<SortKey> afterPosition{SortKey::Position, SortKey::Right1};
    const std::vector<qint32> textOrder = concordanceOrder(lines, afterPosition, WordRanks::of(lines, *vocabulary, afterPosition),
                                                           WordRanks::ofNames(files));
    for (size_t k = 0; k < textOrder.size(); ++k)
        QCOMPARE(textOrder[k], qint32(k));
    QVERIFY(!parseSortKeys(u"6L"_qs, &error));
    QVERIFY(error.contains(u"6L"));
}

// A phrase is consecutive counted words of one paragraph, as phrases are counted: not across a
// paragraph end nor a stop word; with --ngrams only phrases of that length can match.
void TestCorpus::phrasesStopAtGaps()
{
    QTemporaryDir tmp;
    const QString path = tmp.filePath(u"p.txt"_qs);
    writeFile(path, "the cat sat\ncat sat on the cat. Sat the cat and sat\n");
    QCOMPARE(search({path}, u"cat sat"_qs).size(), 3);
    QCOMPARE(search({path}, u"cat sat"_qs)[0].hit(), u"cat sat"_qs);
    QCOMPARE(search({path}, u"sat cat"_qs).size(), 0); // across the paragraph end
    WordRules stop;
    stop.stopWordLists = {u"en"_qs};
    // "sat the cat": with the stop word left out, sat and cat are not one phrase.
    QCOMPARE(search({path}, u"sat cat"_qs, QueryMode::Words, plainFinder(stop)).size(), 0);
    QCOMPARE(search({path}, u"cat sat"_qs, QueryMode::Words, plainFinder(stop)).size(), 3);
    WordRules phrases;
    phrases.phraseLength = 2;
    const std::shared_ptr<const WordFinder> bigrams = plainFinder(phrases);
    QCOMPARE(search({path}, u"cat sat"_qs, QueryMode::Words, bigrams).size(), 3);
    const std::optional<CorpusQuery> one = CorpusQuery::parse(u"cat"_qs, QueryMode::Words, true, *bigrams);
    QVERIFY(one && one->matchesNothing());
    const std::optional<CorpusQuery> stopped = CorpusQuery::parse(u"the"_qs, QueryMode::Words, true, *plainFinder(stop));
    QVERIFY(stopped && stopped->matchesNothing());
    QVERIFY(!CorpusQuery::parse(u"("_qs, QueryMode::RegularExpression, true, *bigrams));
    QVERIFY(!CorpusQuery::parse(u"  "_qs, QueryMode::Words, true, *bigrams));
}

// Word forms grouped by stem: a word finds its group; letter case kept: Match case decides.
void TestCorpus::wordFormsAndCase()
{
    QTemporaryDir tmp;
    const QString path = tmp.filePath(u"w.txt"_qs);
    writeFile(path, "Run runs running ran RUNS run\n");
    WordRules stems;
    stems.stemLanguage = u"english"_qs;
    QCOMPARE(search({path}, u"runs"_qs, QueryMode::Words, plainFinder(stems)).size(), 5);
    const std::shared_ptr<const WordFinder> keep = WordFinder::create({}, false);
    QCOMPARE(search({path}, u"runs"_qs, QueryMode::Words, keep).size(), 1);
    QCOMPARE(search({path}, u"r*"_qs, QueryMode::Words, keep).size(), 4);
    ConcordanceRequest request;
    request.files = {path};
    request.finder = keep;
    request.query = *CorpusQuery::parse(u"runs"_qs, QueryMode::Words, false, *keep);
    qsizetype n = 0;
    ConcordanceSearch(request).run([&](ConcordanceBatch &&b) { n += qsizetype(b.lines.size()); });
    QCOMPARE(n, 2); // runs and RUNS: Match case off
}

// Word forms grouped by lemma: a query finds every form of its word's lemma, irregular ones too,
// alone or in a phrase; collocates and clusters are groups shown by their lemma.
void TestCorpus::lemmasInQueriesCollocatesAndClusters()
{
    QTemporaryDir tmp;
    const QString path = tmp.filePath(u"l.txt"_qs);
    writeFile(path, "He ran home. She runs home\nThey were running home. I run home\nHe was at home; we are home\n");
    WordRules rules;
    rules.lemmaLists = {u"en"_qs};
    const std::shared_ptr<const WordFinder> lemmas = plainFinder(rules);
    const auto hits = [&](const QString &query) {
        QStringList out;
        const ConcordanceLines lines = search({path}, query, QueryMode::Words, lemmas);
        for (qsizetype i = 0; i < lines.size(); ++i)
            out << lines[i].hit().toString();
        return out;
    };
    QCOMPARE(hits(u"run"_qs), (QStringList{u"ran"_qs, u"runs"_qs, u"running"_qs, u"run"_qs}));
    QCOMPARE(hits(u"running"_qs), hits(u"run"_qs));
    QCOMPARE(hits(u"be"_qs), (QStringList{u"were"_qs, u"was"_qs, u"are"_qs}));
    QCOMPARE(hits(u"runs home"_qs).size(), 4);
    QCOMPARE(hits(u"go"_qs).size(), 0);
    // A lemma too short to be counted itself still finds its forms.
    rules.minLength = 4;
    const std::shared_ptr<const WordFinder> longer = plainFinder(rules);
    const std::optional<CorpusQuery> run = CorpusQuery::parse(u"run"_qs, QueryMode::Words, true, *longer);
    QVERIFY(run && !run->matchesNothing());
    QCOMPARE(search({path}, u"run"_qs, QueryMode::Words, longer).size(), 2); // runs, running

    CollocateRequest collocates;
    collocates.files = {path};
    collocates.finder = lemmas;
    collocates.node = *CorpusQuery::parse(u"home"_qs, QueryMode::Words, true, *lemmas);
    collocates.left = 1;
    collocates.right = 0;
    const CollocateResult found = findCollocates(collocates);
    QMap<QString, qint64> before;
    for (const CollocateRow &row : found.rows)
        before[row.word] = row.cooccurrence;
    QCOMPARE(before, (QMap<QString, qint64>{{u"run"_qs, 4}, {u"at"_qs, 1}, {u"be"_qs, 1}}));

    ClusterRequest clusters;
    clusters.files = {path};
    clusters.finder = lemmas;
    clusters.query = collocates.node;
    clusters.minSize = 2;
    clusters.maxSize = 2;
    clusters.place = ClusterPlace::Right;
    const ClusterResult counted = findClusters(clusters);
    QCOMPARE(counted.rows.size(), size_t(1)); // "at home" and "be home" occur once
    QCOMPARE(counted.rows.front().cluster, u"run home"_qs);
    QCOMPARE(counted.rows.front().count, qint64(4));
}

// A file that cannot be read gives one failed line in its place, and the others their lines.
void TestCorpus::unreadableFileGivesALine()
{
    QTemporaryDir tmp;
    const QString a = tmp.filePath(u"a.txt"_qs), b = tmp.filePath(u"b.txt"_qs);
    writeFile(a, "one key\n");
    writeFile(b, "key two key\n");
    std::vector<qint64> words;
    const ConcordanceLines lines = search({a, tmp.filePath(u"missing.txt"_qs), b}, u"key"_qs, QueryMode::Words,
                                          plainFinder(), &words);
    QCOMPARE(lines.size(), 4);
    QVERIFY(!lines[0].failed && lines[1].failed && !lines[2].failed);
    QVERIFY(lines[1].text.contains(u"missing.txt"));
    QCOMPARE(lines[1].file, 1);
    QCOMPARE(words, (std::vector<qint64>{2, -1, 3}));
    QCOMPARE(lines[3].position, 2);
}

void TestCorpus::juillandD_data()
{
    QTest::addColumn<std::vector<qint64>>("positions");
    QTest::addColumn<qint64>("words");
    QTest::addColumn<double>("expected"); // NaN: none
    // Ten hits, one in each tenth: the most even spread.
    QTest::newRow("one a part") << std::vector<qint64>{0, 10, 20, 30, 40, 50, 60, 70, 80, 90} << qint64(100) << 1.0;
    // Every hit in one part: mean 0.4, deviation sqrt((3.6^2 + 9 * 0.4^2) / 10) = 1.2, so
    // D = 1 - (1.2 / 0.4) / 3 = 0.
    QTest::newRow("all in one part") << std::vector<qint64>{5, 6, 7, 8} << qint64(100) << 0.0;
    // Hits at 0, 4, 6 of 9 words: parts 0, 4 and 6; mean 0.3, deviation sqrt(0.21),
    // D = 1 - (0.458258 / 0.3) / 3 = 0.490826.
    QTest::newRow("three in nine words") << std::vector<qint64>{0, 4, 6} << qint64(9) << 0.4908254;
    // Two hits in each of five parts: mean 1, deviation 1, D = 1 - 1/3.
    QTest::newRow("every other part") << std::vector<qint64>{0, 1, 200, 201, 400, 401, 600, 601, 800, 801}
                                      << qint64(1000) << 2.0 / 3.0;
    QTest::newRow("no hit") << std::vector<qint64>{} << qint64(50) << std::nan("");
}

void TestCorpus::juillandD()
{
    QFETCH(std::vector<qint64>, positions);
    QFETCH(qint64, words);
    QFETCH(double, expected);
    const std::optional<double> d = corvalen::juillandD(positions, words);
    if (std::isnan(expected)) {
        QVERIFY(!d);
        return;
    }
    QVERIFY(d);
    QVERIFY2(std::abs(*d - expected) < 1e-6, qPrintable(QString::number(*d, 'f', 8)));
}

// The tables the corpus commands write: tsv without a header, csv quoted, JSON that parses.
void TestCorpus::tables()
{
    const auto write = [](TableFormat format) {
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        TableWriter table(out, format, {u"file"_qs, u"n"_qs, u"d"_qs, u"at"_qs});
        table.row({TableCell::textCell(u"a, \"b\".txt"_qs), TableCell::number(3), TableCell::fixed(-0.00001, 4),
                   TableCell::numbers({1, 2})});
        table.row({TableCell::textCell(u"tab\there"_qs), TableCell::number(0), TableCell::none(), TableCell::numbers({})});
        // A denormal p is written as 0, a number every parser reads; a scientific zero has no sign.
        table.row({TableCell::probability(2.51973e-322, 5), TableCell::scientific(-0.0, 2), TableCell::probability(0.5, 2),
                   TableCell::fixed(-0.0, 1)});
        table.finish();
        return out.data();
    };
    QCOMPARE(write(TableFormat::Tsv), QByteArray("a, \"b\".txt\t3\t0.0000\t1 2\ntab here\t0\t\t\n0\t0.00e+00\t5.00e-01\t0.0\n"));
    QCOMPARE(write(TableFormat::Csv),
             QByteArray("file,n,d,at\r\n\"a, \"\"b\"\".txt\",3,0.0000,1 2\r\ntab\there,0,,\r\n0,0.00e+00,5.00e-01,0.0\r\n"));
    const QJsonArray rows = QJsonDocument::fromJson(write(TableFormat::Json)).array();
    QCOMPARE(rows.size(), 3);
    QCOMPARE(rows.at(2).toObject().value(u"file").toDouble(-1), 0.0);
    QCOMPARE(rows.at(0).toObject().value(u"at").toArray(), (QJsonArray{1, 2}));
    QVERIFY(rows.at(1).toObject().value(u"d").isNull());
    QCOMPARE(rows.at(0).toObject().value(u"n").toInt(), 3);
    QBuffer empty;
    empty.open(QIODevice::WriteOnly);
    TableWriter(empty, TableFormat::Csv, {u"x"_qs}).finish();
    QCOMPARE(empty.data(), QByteArray("x\r\n"));
}

// corvalen context with the query language and --sort, corvalen dispersion in its three formats.
void TestCorpus::commandLine()
{
    const QString bin = QStringLiteral(CORVALEN_BIN_DIR "/corvalen");
    QTemporaryDir tmp;
    const QString a = tmp.filePath(u"a.txt"_qs), b = tmp.filePath(u"b.txt"_qs);
    writeFile(a, "The cat sat on the mat.\nThe Cat's hat, the cot\n");
    writeFile(b, "no such words here\n");
    const auto run = [&](const QStringList &args) {
        QProcess p;
        p.start(bin, args);
        p.waitForFinished(60000);
        return std::make_tuple(p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError());
    };
    auto [code, out, err] = run({u"context"_qs, u"c?t"_qs, a});
    QCOMPARE(code, 0);
    QCOMPARE(out.count('\n'), 2);
    QCOMPARE(err, QByteArray(" Occurrences: 2\n"));
    std::tie(code, out, err) = run({u"context"_qs, u"--sort"_qs, u"1R,1L"_qs, u"the"_qs, a});
    QCOMPARE(code, 0);
    QStringList hits;
    for (const QByteArray &line : out.split('\n'))
        if (!line.isEmpty())
            hits << QString::fromUtf8(line.split('\t').at(3)).trimmed().section(u' ', 0, 0);
    // The word after each "the": cat, Cat's (cats), cot, mat.
    QCOMPARE(hits, (QStringList{u"cat"_qs, u"Cat's"_qs, u"cot"_qs, u"mat."_qs}));
    std::tie(code, out, err) = run({u"context"_qs, u"--regex"_qs, u"c.ts?"_qs, a}); // cat, cats, cot
    QCOMPARE(err, QByteArray(" Occurrences: 3\n"));
    std::tie(code, out, err) = run({u"context"_qs, u"--regex"_qs, u"c(at"_qs, a});
    QCOMPARE(code, 2);
    std::tie(code, out, err) = run({u"context"_qs, u"--sort"_qs, u"up"_qs, u"the"_qs, a});
    QCOMPARE(code, 2);

    std::tie(code, out, err) = run({u"dispersion"_qs, u"the"_qs, a, b});
    QCOMPARE(code, 0);
    QList<QByteArray> rows = out.split('\n');
    QCOMPARE(rows.takeLast(), QByteArray());
    QCOMPARE(rows.size(), 2);
    // a: 11 words, the at 0, 4, 6, 9 -> parts 0, 3, 5, 8, one hit in four of the ten parts:
    // mean 0.4, deviation sqrt(0.24), D = 1 - (sqrt(0.24) / 0.4) / 3 = 0.5918.
    const double d = 1.0 - (std::sqrt(0.24) / 0.4) / 3.0;
    QCOMPARE(rows.at(0), (QDir::toNativeSeparators(a) + u"\t11\t4\t363.636\t"_qs + QString::number(d, 'f', 4)
                          + u"\t0 4 6 9"_qs).toUtf8());
    QCOMPARE(rows.at(1), (QDir::toNativeSeparators(b) + u"\t4\t0\t0.000\t\t"_qs).toUtf8());
    std::tie(code, out, err) = run({u"dispersion"_qs, u"--format"_qs, u"csv"_qs, u"th*"_qs, a});
    QVERIFY(out.startsWith("file,words,hits,per_1000,juilland_d,positions\r\n"));
    std::tie(code, out, err) = run({u"dispersion"_qs, u"--format"_qs, u"json"_qs, u"hat"_qs, a, b});
    const QJsonArray json = QJsonDocument::fromJson(out).array();
    QCOMPARE(json.size(), 2);
    QCOMPARE(json.at(0).toObject().value(u"positions").toArray(), QJsonArray{8}); // the, cat, sat, on, the, mat, the, cats, hat
    QVERIFY(json.at(1).toObject().value(u"juilland_d").isNull());
    QCOMPARE(json.at(1).toObject().value(u"hits").toInt(), 0);
    // A file that cannot be read is no empty file: its row says so, in every format.
    const QString missing = tmp.filePath(u"missing.txt"_qs);
    std::tie(code, out, err) = run({u"dispersion"_qs, u"the"_qs, missing, a});
    QCOMPARE(code, 1);
    QVERIFY(err.contains("missing.txt"));
    QVERIFY2(out.startsWith((QDir::toNativeSeparators(missing) + u"\tunread\t\t\t\t\n"_qs).toUtf8()), out.constData());
    std::tie(code, out, err) = run({u"dispersion"_qs, u"--format"_qs, u"csv"_qs, u"the"_qs, missing});
    QCOMPARE(out.split('\n').at(1), (QDir::toNativeSeparators(missing) + u",unread,,,,\r"_qs).toUtf8());
    std::tie(code, out, err) = run({u"dispersion"_qs, u"--format"_qs, u"json"_qs, u"the"_qs, missing, a});
    const QJsonObject unread = QJsonDocument::fromJson(out).array().at(0).toObject();
    QCOMPARE(unread.value(u"words").toString(), u"unread"_qs);
    for (const QString &key : {u"hits"_qs, u"per_1000"_qs, u"juilland_d"_qs, u"positions"_qs})
        QVERIFY2(unread.value(key).isNull(), qPrintable(key));
}

// A corpus with a planted collocation: "strong" is followed by "tea" far more often than chance,
// the node sits at the very start and end of files, and stop words fall inside windows.
QStringList plantedCorpus(const QString &folder)
{
    static const QStringList filler = {u"tea"_qs, u"coffee"_qs, u"the"_qs, u"and"_qs, u"cup"_qs, u"hot"_qs,
                                       u"water"_qs, u"milk"_qs, u"sugar"_qs, u"Strong"_qs};
    QRandomGenerator random(42);
    QStringList paths;
    for (int f = 0; f < 4; ++f) {
        QString text = u"strong "_qs; // a node at the start of the file
        for (int i = 0; i < 1500; ++i) {
            if (random.bounded(12) == 0)
                text += u"strong tea "_qs;
            text += filler.at(int(random.bounded(filler.size())));
            text += random.bounded(10) == 0 ? u'\n' : u' ';
        }
        text += u"strong"_qs; // and at its end
        const QString path = QDir(folder).filePath(u"t%1.txt"_qs.arg(f));
        writeFile(path, text.toUtf8());
        paths << path;
    }
    return paths;
}

// Files of one paragraph of a hundred thousand words or more (one of them two such paragraphs), so
// that the scan cuts them at spaces into many slices, and a file of a few words; with the planted
// phrase "strong tea" and a file that ends with the node.
QStringList longParagraphCorpus(const QString &folder)
{
    static const QStringList filler = {u"tea"_qs, u"coffee"_qs, u"the"_qs, u"and"_qs, u"cup"_qs, u"hot"_qs,
                                       u"water"_qs, u"milk"_qs, u"sugar"_qs, u"Strong"_qs};
    QRandomGenerator random(17);
    QStringList paths;
    for (int f = 0; f < 3; ++f) {
        QString text;
        const int words = f == 2 ? 4 : 110000;
        for (int i = 0; i < words; ++i) {
            if (random.bounded(12) == 0)
                text += u"strong tea "_qs;
            text += filler.at(int(random.bounded(filler.size())));
            text += f == 1 && i == words / 2 ? u'\n' : u' ';
        }
        text += u"strong"_qs;
        const QString path = QDir(folder).filePath(u"p%1.txt"_qs.arg(f));
        writeFile(path, text.toUtf8());
        paths << path;
    }
    return paths;
}

void TestCorpus::sortedCommandLineEqualsTheOrderedLines_data()
{
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("query");
    QTest::newRow("1R,2L") << u"1R,2L"_qs << u"the"_qs;
    QTest::newRow("hit,file") << u"hit,file"_qs << u"c*"_qs;
    QTest::newRow("file,5R,hit") << u"file,5R,hit"_qs << u"*"_qs;
    QTest::newRow("3L, a phrase") << u"3L"_qs << u"the cat"_qs;
}

// corvalen context --sort writes exactly the lines of the search in the order of the library's
// concordanceOrder(), over files read in many slices and one that cannot be read.
void TestCorpus::sortedCommandLineEqualsTheOrderedLines()
{
    QFETCH(QString, keys);
    QFETCH(QString, query);
    QStringList files = makeCorpus(m_tmp.filePath(u"sorted"_qs), 3, 3000, 23);
    files.insert(1, m_tmp.filePath(u"sorted/missing.txt"_qs));
    QString text;
    QRandomGenerator random(29);
    static const QStringList words = {u"the"_qs, u"cat"_qs, u"cot"_qs, u"sat"_qs, u"on"_qs, u"The"_qs, u"mat"_qs};
    for (int i = 0; i < 300000; ++i)
        text += words.at(int(random.bounded(words.size()))) + (random.bounded(500) == 0 ? u"\n"_qs : u" "_qs);
    files << m_tmp.filePath(u"sorted/long.txt"_qs);
    writeFile(files.last(), text.toUtf8());
    std::shared_ptr<const CorpusVocabulary> vocabulary;
    ConcordanceLines lines = search(files, query, QueryMode::Words, plainFinder(), nullptr, &vocabulary);
    ConcordanceLines found;
    ConcordanceBatch kept;
    // The failed file's line is not one of the lines written.
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (!lines[i].failed)
            kept.lines.push_back(lines[i]);
    }
    found.append(std::move(kept));
    const QList<SortKey> sortKeys = *parseSortKeys(keys);
    QStringList names;
    for (const QString &f : files)
        names << QDir::toNativeSeparators(f);
    const std::vector<qint32> order = concordanceOrder(found, sortKeys, WordRanks::of(found, *vocabulary, sortKeys),
                                                       WordRanks::ofNames(names));
    QByteArray expected;
    for (const qint32 i : order) {
        const ConcordanceLine &l = found[i];
        expected += (names.at(l.file) + u'\t' + l.left() + u'\t' + l.hit() + u'\t' + l.right() + u'\n').toUtf8();
    }
    QProcess p;
    p.start(QStringLiteral(CORVALEN_BIN_DIR "/corvalen"), QStringList{u"context"_qs, u"--sort"_qs, keys, query} + files);
    QVERIFY(p.waitForFinished(120000));
    QCOMPARE(p.exitCode(), 1); // the missing file
    const QByteArray out = p.readAllStandardOutput();
    QVERIFY(found.size() > 1000);
    QCOMPARE(out.count('\n'), qsizetype(found.size()));
    QVERIFY(out == expected);
}

void TestCorpus::collocatesByBruteForce_data()
{
    QTest::addColumn<int>("left");
    QTest::addColumn<int>("right");
    QTest::addColumn<bool>("stopWords");
    QTest::addColumn<bool>("longParagraphs"); // paragraphs of a hundred thousand words, read in many slices
    QTest::newRow("5,5") << 5 << 5 << false << false;
    QTest::newRow("2,3 with stop words") << 2 << 3 << true << false;
    QTest::newRow("0,4") << 0 << 4 << false << false;
    QTest::newRow("3,0 with stop words") << 3 << 0 << true << false;
    QTest::newRow("10,10") << 10 << 10 << false << false;
    QTest::newRow("long paragraphs, 5,5") << 5 << 5 << false << true;
    QTest::newRow("long paragraphs, 10,3 with stop words") << 10 << 3 << true << true;
}

// Co-occurrences counted by brute force over the tokens (windows overlap, a word in two windows
// counts twice, the node itself never, another node inside a window always), and every measure
// against the formulas evaluated here.
void TestCorpus::collocatesByBruteForce()
{
    QFETCH(int, left);
    QFETCH(int, right);
    QFETCH(bool, stopWords);
    QFETCH(bool, longParagraphs);
    const QStringList files = longParagraphs ? longParagraphCorpus(m_tmp.filePath(u"long"_qs))
                                             : plantedCorpus(m_tmp.filePath(u"planted"_qs));
    WordRules rules;
    if (stopWords)
        rules.stopWordLists = {u"en"_qs};
    const std::shared_ptr<const WordFinder> finder = plainFinder(rules);
    QMap<QString, qint64> frequency, coLeft, coRight;
    qint64 nodes = 0, corpus = 0;
    for (const QString &path : files) {
        QList<Token> tokens = tokensOf(readText(path));
        if (stopWords)
            tokens.removeIf([](const Token &t) { return t.word == u"the" || t.word == u"and"; });
        corpus += tokens.size();
        for (qsizetype i = 0; i < tokens.size(); ++i) {
            ++frequency[tokens.at(i).word];
            if (tokens.at(i).word != u"strong")
                continue;
            ++nodes;
            for (int d = 1; d <= left && i - d >= 0; ++d)
                ++coLeft[tokens.at(i - d).word];
            for (int d = 1; d <= right && i + d < tokens.size(); ++d)
                ++coRight[tokens.at(i + d).word];
        }
    }
    CollocateRequest request;
    request.files = files;
    request.finder = finder;
    request.node = *CorpusQuery::parse(u"strong"_qs, QueryMode::Words, true, *finder);
    request.left = left;
    request.right = right;
    const CollocateResult result = findCollocates(request);
    QCOMPARE(result.nodeOccurrences, nodes);
    QCOMPARE(result.corpusWords, corpus);
    QMap<QString, CollocateRow> found;
    for (const CollocateRow &r : result.rows)
        found.insert(r.word, r);
    QSet<QString> expectedWords;
    for (auto it = coLeft.cbegin(); it != coLeft.cend(); ++it)
        expectedWords.insert(it.key());
    for (auto it = coRight.cbegin(); it != coRight.cend(); ++it)
        expectedWords.insert(it.key());
    QCOMPARE(qsizetype(found.size()), expectedWords.size());
    for (const QString &w : expectedWords) {
        QVERIFY2(found.contains(w), qPrintable(w));
        const CollocateRow &r = found.value(w);
        QCOMPARE(r.left, coLeft.value(w));
        QCOMPARE(r.right, coRight.value(w));
        QCOMPARE(r.cooccurrence, coLeft.value(w) + coRight.value(w));
        QCOMPARE(r.frequency, frequency.value(w));
        const double O = double(r.cooccurrence), fc = double(r.frequency), fn = double(nodes), N = double(corpus);
        const double K = left + right;
        const double E = fn * fc * K / N;
        QVERIFY(qFuzzyCompare(r.measures.mi, std::log2(O / E)));
        QVERIFY(qFuzzyCompare(r.measures.mi3, std::log2(O * O * O / E)));
        QVERIFY(std::abs(r.measures.tScore - (O - E) / std::sqrt(O)) < 1e-9);
        QVERIFY(qFuzzyCompare(r.measures.logDice, 14 + std::log2(2 * O / (fn + fc))));
    }
    // Asked with minimums, the search makes rows of exactly the collocates that pass them.
    // The minimums: the median co-occurrences and frequency, so that some collocates pass and some not.
    std::vector<qint64> cooccurrences, frequencies;
    for (const QString &w : expectedWords) {
        cooccurrences.push_back(coLeft.value(w) + coRight.value(w));
        frequencies.push_back(frequency.value(w));
    }
    std::sort(cooccurrences.begin(), cooccurrences.end());
    std::sort(frequencies.begin(), frequencies.end());
    const qint64 leastCooccurrence = cooccurrences[cooccurrences.size() / 2];
    const qint64 leastFrequency = frequencies[frequencies.size() / 2];
    request.minCooccurrence = leastCooccurrence;
    request.minFrequency = leastFrequency;
    const CollocateResult least = findCollocates(request);
    QStringList passing, made;
    for (const QString &w : expectedWords) {
        if (coLeft.value(w) + coRight.value(w) >= leastCooccurrence && frequency.value(w) >= leastFrequency)
            passing << w;
    }
    for (const CollocateRow &r : least.rows) {
        made << r.word;
        QCOMPARE(r.cooccurrence, found.value(r.word).cooccurrence);
        QCOMPARE(r.measures.logLikelihood, found.value(r.word).measures.logLikelihood);
    }
    passing.sort();
    made.sort();
    QVERIFY(!passing.isEmpty() && passing.size() < expectedWords.size());
    QCOMPARE(made, passing);
    // The planted pair comes first by log-likelihood when the span reaches it.
    const std::vector<CollocateRow> ordered = selectCollocates(result.rows, CollocateMeasure::LogLikelihood);
    if (right > 0)
        QCOMPARE(ordered.front().word, u"tea"_qs);
    for (size_t i = 1; i < ordered.size(); ++i) {
        QVERIFY(ordered[i - 1].measures.logLikelihood >= ordered[i].measures.logLikelihood);
        QVERIFY(ordered[i].cooccurrence >= 2);
    }
}

// Log-likelihood of the 2x2 table by hand, with a cell clamped at 0, and its sign below
// expectation.
void TestCorpus::associationMeasuresByHand()
{
    // O = 10, f_n = 20, f_c = 30, N = 1000, K = 4: E = 2.4.
    // Cells 10, 70, 20, 900; rows 80, 920; columns 30, 970; total 1000.
    // E cells 2.4, 77.6, 27.6, 892.4.
    const Association a = associationOf(10, 30, 20, 1000, 4);
    const double ll = 2 * (10 * std::log(10 / 2.4) + 70 * std::log(70 / 77.6) + 20 * std::log(20 / 27.6)
                           + 900 * std::log(900 / 892.4));
    QVERIFY(std::abs(a.logLikelihood - ll) < 1e-9);
    QVERIFY(std::abs(a.logLikelihood - 16.493423) < 1e-5); // worked out with a calculator
    QVERIFY(std::abs(a.mi - std::log2(10 / 2.4)) < 1e-12);
    QVERIFY(std::abs(a.logDice - (14 + std::log2(20.0 / 50.0))) < 1e-12);
    // Fewer co-occurrences than expected: negative.
    QVERIFY(associationOf(1, 300, 50, 1000, 10).logLikelihood < 0);
    // f_n * K above N: O12 = 5 * 10 - 3 = 47 and O22 = 40 - 50 - 8 + 3 < 0 taken as 0.
    // Cells 3, 47, 5, 0; rows 50, 5; columns 8, 47; total 55.
    const Association c = associationOf(3, 8, 5, 40, 10);
    const double e11 = 50.0 * 8 / 55, e12 = 50.0 * 47 / 55, e21 = 5.0 * 8 / 55;
    const double expected = 2 * (3 * std::log(3 / e11) + 47 * std::log(47 / e12) + 5 * std::log(5 / e21));
    QVERIFY(std::abs(std::abs(c.logLikelihood) - expected) < 1e-9);
}

void TestCorpus::overlappingWindowsByHand_data()
{
    QTest::addColumn<int>("left");
    QTest::addColumn<int>("right");
    QTest::addColumn<QString>("expected"); // collocate: O, left, right, f_c
    // "a b a b", node a at words 0 and 2. 5,5: the window of the first takes b (1), a (2), b (3);
    // that of the second a (0), b (1) to its left and b (3) to its right. b at word 1 and at word 3
    // lies in both windows and counts for each (once per node occurrence): O = 4 against f_c = 2.
    QTest::newRow("5,5") << 5 << 5 << u"a:2,1,1,2 b:4,1,3,2"_qs;
    QTest::newRow("1,1") << 1 << 1 << u"b:3,1,2,2"_qs;
    QTest::newRow("0,2") << 0 << 2 << u"a:1,0,1,2 b:2,0,2,2"_qs;
}

// Overlapping windows worked out by hand: a word is counted at most once per node occurrence, so
// O may exceed its frequency, and logDice its maximum of 14.
void TestCorpus::overlappingWindowsByHand()
{
    QFETCH(int, left);
    QFETCH(int, right);
    QFETCH(QString, expected);
    const QString file = m_tmp.filePath(u"abab.txt"_qs);
    writeFile(file, "a b a b\n");
    CollocateRequest request;
    request.files = {file};
    request.finder = plainFinder();
    request.node = *CorpusQuery::parse(u"a"_qs, QueryMode::Words, true, *request.finder);
    request.left = left;
    request.right = right;
    const CollocateResult result = findCollocates(request);
    QCOMPARE(result.nodeOccurrences, qint64(2));
    QCOMPARE(result.corpusWords, qint64(4));
    QStringList rows;
    for (const CollocateRow &r : selectCollocates(result.rows, CollocateMeasure::Frequency, 1))
        rows << u"%1:%2,%3,%4,%5"_qs.arg(r.word).arg(r.cooccurrence).arg(r.left).arg(r.right).arg(r.frequency);
    rows.sort();
    QCOMPARE(rows.join(u' '), expected);
    if (left == 5) {
        // logDice = 14 + log2(2 * 4 / (2 + 2)) = 15, shown as it is.
        const auto b = std::find_if(result.rows.begin(), result.rows.end(), [](const CollocateRow &r) { return r.word == u"b"; });
        QCOMPARE(b->measures.logDice, 15.0);
    }
}

void TestCorpus::clustersByBruteForce_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<int>("minSize");
    QTest::addColumn<int>("maxSize");
    QTest::addColumn<int>("place");
    QTest::addColumn<qint64>("minCount");
    QTest::addColumn<bool>("longParagraphs"); // paragraphs of a hundred thousand words, read in many slices
    QTest::newRow("any 2-4") << u"strong"_qs << 2 << 4 << int(ClusterPlace::Anywhere) << qint64(2) << false;
    QTest::newRow("left 2-5") << u"strong"_qs << 2 << 5 << int(ClusterPlace::Left) << qint64(2) << false;
    QTest::newRow("right 3-3") << u"tea"_qs << 3 << 3 << int(ClusterPlace::Right) << qint64(1) << false;
    QTest::newRow("phrase, any") << u"strong tea"_qs << 2 << 4 << int(ClusterPlace::Anywhere) << qint64(3) << false;
    QTest::newRow("pattern, any 2-5") << u"*ee"_qs << 2 << 5 << int(ClusterPlace::Anywhere) << qint64(4) << false;
    QTest::newRow("long paragraphs, any 2-4") << u"strong"_qs << 2 << 4 << int(ClusterPlace::Anywhere) << qint64(2) << true;
    QTest::newRow("long paragraphs, left 2-5, once") << u"strong"_qs << 2 << 5 << int(ClusterPlace::Left) << qint64(1) << true;
    QTest::newRow("long paragraphs, right 5-5") << u"tea"_qs << 5 << 5 << int(ClusterPlace::Right) << qint64(1) << true;
    QTest::newRow("long paragraphs, every word") << u"*"_qs << 2 << 3 << int(ClusterPlace::Anywhere) << qint64(2) << true;
    QTest::newRow("long paragraphs, phrase") << u"strong tea"_qs << 2 << 4 << int(ClusterPlace::Anywhere) << qint64(2) << true;
}

// Clusters counted by brute force: every run of n consecutive words of one paragraph that holds
// the query at the place asked, once however many times it holds it.
void TestCorpus::clustersByBruteForce()
{
    QFETCH(QString, query);
    QFETCH(int, minSize);
    QFETCH(int, maxSize);
    QFETCH(int, place);
    QFETCH(qint64, minCount);
    QFETCH(bool, longParagraphs);
    const QStringList files = longParagraphs ? longParagraphCorpus(m_tmp.filePath(u"long"_qs))
                                             : plantedCorpus(m_tmp.filePath(u"planted"_qs));
    const QStringList queryWords = query.split(u' ');
    const QRegularExpression first(QRegularExpression::anchoredPattern(QString(queryWords.first()).replace(u"*"_qs, u".*"_qs)));
    const auto holdsAt = [&](const QList<Token> &t, qsizetype at) {
        if (at + queryWords.size() > t.size())
            return false;
        for (qsizetype k = 0; k < queryWords.size(); ++k) {
            if (k > 0 && t.at(at + k).gapBefore)
                return false;
            const bool match = k == 0 ? first.match(t.at(at).word).hasMatch() : t.at(at + k).word == queryWords.at(k);
            if (!match)
                return false;
        }
        return true;
    };
    QMap<QString, qint64> counts;
    QMap<QString, QSet<int>> filesOf;
    const qsizetype k = queryWords.size();
    for (int f = 0; f < files.size(); ++f) {
        const QList<Token> t = tokensOf(readText(files.at(f)));
        for (int n = minSize; n <= maxSize; ++n) {
            for (qsizetype s = 0; s + n <= t.size(); ++s) {
                bool gap = false;
                for (qsizetype j = s + 1; j < s + n; ++j)
                    gap = gap || t.at(j).gapBefore;
                if (gap)
                    continue;
                bool holds = false;
                if (place == int(ClusterPlace::Left))
                    holds = holdsAt(t, s);
                else if (place == int(ClusterPlace::Right))
                    holds = n >= k && holdsAt(t, s + n - k);
                else
                    for (qsizetype h = s; h + k <= s + n && !holds; ++h)
                        holds = holdsAt(t, h);
                if (!holds)
                    continue;
                QStringList words;
                for (qsizetype j = s; j < s + n; ++j)
                    words << t.at(j).word;
                ++counts[words.join(u' ')];
                filesOf[words.join(u' ')].insert(f);
            }
        }
    }
    ClusterRequest request;
    request.files = files;
    request.finder = plainFinder();
    request.query = *CorpusQuery::parse(query, QueryMode::Words, true, *request.finder);
    request.minSize = minSize;
    request.maxSize = maxSize;
    request.place = ClusterPlace(place);
    request.minCount = minCount;
    const std::vector<ClusterRow> rows = selectClusters(findClusters(request).rows, minCount);
    QMap<QString, ClusterRow> found;
    for (const ClusterRow &r : rows)
        found.insert(r.cluster, r);
    qsizetype expected = 0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        if (it.value() < minCount)
            continue;
        ++expected;
        QVERIFY2(found.contains(it.key()), qPrintable(it.key()));
        QCOMPARE(found.value(it.key()).count, it.value());
        QCOMPARE(found.value(it.key()).files, filesOf.value(it.key()).size());
    }
    QCOMPARE(qsizetype(rows.size()), expected);
    for (size_t i = 1; i < rows.size(); ++i) {
        QVERIFY(rows[i - 1].count > rows[i].count
                || (rows[i - 1].count == rows[i].count && collate(rows[i - 1].cluster, rows[i].cluster) <= 0));
    }
}

void TestCorpus::keynessByHand_data()
{
    QTest::addColumn<qint64>("a");
    QTest::addColumn<qint64>("b");
    QTest::addColumn<qint64>("c");
    QTest::addColumn<qint64>("d");
    QTest::newRow("key in the target") << qint64(30) << qint64(10) << qint64(1000) << qint64(2000);
    QTest::newRow("key in the reference") << qint64(5) << qint64(40) << qint64(1000) << qint64(1000);
    QTest::newRow("absent from the reference") << qint64(12) << qint64(0) << qint64(5000) << qint64(9000);
    QTest::newRow("absent from the target") << qint64(0) << qint64(7) << qint64(5000) << qint64(9000);
    QTest::newRow("even") << qint64(10) << qint64(20) << qint64(1000) << qint64(2000);
}

// LL, log ratio, BIC and p evaluated here from their formulas.
void TestCorpus::keynessByHand()
{
    QFETCH(qint64, a);
    QFETCH(qint64, b);
    QFETCH(qint64, c);
    QFETCH(qint64, d);
    const double A = a, B = b, C = c, D = d;
    const double e1 = C * (A + B) / (C + D), e2 = D * (A + B) / (C + D);
    double ll = 2 * ((A > 0 ? A * std::log(A / e1) : 0) + (B > 0 ? B * std::log(B / e2) : 0));
    if (!(A / C > B / D))
        ll = -ll;
    const double ratio = std::log2(((A > 0 ? A : 0.5) / C) / ((B > 0 ? B : 0.5) / D));
    const Keyness k = keynessOf(a, b, c, d);
    QVERIFY2(std::abs(k.logLikelihood - ll) < 1e-9, qPrintable(QString::number(k.logLikelihood)));
    QVERIFY(std::abs(k.logRatio - ratio) < 1e-12);
    QVERIFY(std::abs(k.bic - (ll - std::log(C + D))) < 1e-9);
    // The upper tail of chi-square with one degree of freedom: 2 * (1 - Phi(sqrt(|LL|))).
    const double p = std::erfc(std::sqrt(std::abs(ll) / 2));
    QVERIFY(std::abs(k.p - p) < 1e-15);
    // Known values of the distribution: 3.841459 is the 0.05 point, 6.634897 the 0.01 point.
    QVERIFY(std::abs(chiSquareUpperTail(3.841459) - 0.05) < 1e-6);
    QVERIFY(std::abs(chiSquareUpperTail(6.634897) - 0.01) < 1e-6);
}

// The cut-offs, Bonferroni, negatives and the least frequency, against lists made by hand.
void TestCorpus::keywordFilters()
{
    FrequencyList target, reference;
    // c = 1000, d = 1000.
    const QList<std::tuple<QString, qint64, qint64>> words = {
            {u"alpha"_qs, 60, 20}, {u"beta"_qs, 25, 15}, {u"gamma"_qs, 10, 40}, {u"delta"_qs, 5, 5},
            {u"only"_qs, 4, 0}, {u"missing"_qs, 0, 9}, {u"rest"_qs, 896, 911}};
    for (const auto &[w, a, b] : words) {
        if (a > 0)
            target.add(w, a);
        if (b > 0)
            reference.add(w, b);
    }
    QCOMPARE(target.total, 1000);
    QCOMPARE(reference.total, 1000);
    const auto kept = [&](const KeywordFilter &f) {
        QStringList names;
        qint64 compared = 0;
        for (const KeywordRow &r : compareFrequencies(target, reference, f, &compared))
            names << r.word;
        return names;
    };
    KeywordFilter f;
    // alpha LL 20.9, beta 2.5 (p 0.11), only 5.5 (p 0.019): kept at 0.05 in LL order.
    QCOMPARE(kept(f), (QStringList{u"alpha"_qs, u"only"_qs}));
    f.cutoff = 0.01;
    QCOMPARE(kept(f), QStringList{u"alpha"_qs});
    f.cutoff = 1;
    QCOMPARE(kept(f), (QStringList{u"alpha"_qs, u"only"_qs, u"beta"_qs}));
    f.negative = true;
    // Negative ones after, the most negative last. The least frequency (1) asks for the larger of
    // the two frequencies: "missing", absent from the target (LL -12.5), is there.
    QCOMPARE(kept(f), (QStringList{u"alpha"_qs, u"only"_qs, u"beta"_qs, u"delta"_qs, u"rest"_qs, u"missing"_qs,
                                   u"gamma"_qs}));
    f.minFrequency = 9; // only (4, 0) and delta (5, 5) fall short
    QCOMPARE(kept(f), (QStringList{u"alpha"_qs, u"beta"_qs, u"rest"_qs, u"missing"_qs, u"gamma"_qs}));
    f.minFrequency = 0;
    QVERIFY(kept(f).contains(u"missing"));
    f.negative = false;
    f.minFrequency = 1;
    QVERIFY(!kept(f).contains(u"missing"));
    f = KeywordFilter();
    f.bonferroni = true; // 7 words compared: 0.05 / 7 = 0.0071
    QCOMPARE(kept(f), QStringList{u"alpha"_qs});
    f.minFrequency = 61;
    QVERIFY(kept(f).isEmpty());
}

// A word list that corvalen count writes reads back to the same counts, in each format; padding
// and thousands separators are read.
void TestCorpus::wordListsReadBack()
{
    const QString bin = QStringLiteral(CORVALEN_BIN_DIR "/corvalen");
    const QStringList files = makeCorpus(m_tmp.filePath(u"lists"_qs), 2, 3000, 9);
    Utf8FileSource source;
    const ResultTable table = runAnalysis(files, CountOptions(CountMode::Combined, false, true), source);
    QMap<QString, qint64> expected;
    for (qsizetype r = 0; r < table.rowCount(); ++r)
        expected.insert(table.word(r), table.count(r));
    QTemporaryDir tmp;
    for (const QString &format : {u"tsv"_qs, u"csv"_qs, u"json"_qs, u"text"_qs}) {
        const QString out = tmp.filePath(u"list."_qs + format);
        QProcess p;
        p.start(bin, QStringList{u"count"_qs, u"--combined"_qs, u"--format"_qs, format, u"-o"_qs, out} + files);
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 0);
        if (format == u"text")
            continue; // not a word list: the header line is no row
        QString error;
        const std::optional<FrequencyList> list = readFrequencyList(out, &error);
        QVERIFY2(list, qPrintable(error));
        QMap<QString, qint64> read;
        for (size_t i = 0; i < list->size(); ++i)
            read.insert(list->word(i).toString(), list->count(i));
        QCOMPARE(read, expected);
        QCOMPARE(list->total, table.total());
    }
    QString error;
    const auto parsed = parseFrequencyList("the   \t1,234\r\nof\t 1 000\r\n\r\nhöhe\t7\n", u"x"_qs, &error);
    QVERIFY2(parsed, qPrintable(error));
    QCOMPARE(parsed->size(), size_t(3));
    QCOMPARE(parsed->word(0), u"the");
    QCOMPARE(parsed->word(2), u"h\u00f6he");
    QCOMPARE(parsed->count(0), 1234);
    QCOMPARE(parsed->count(1), 1000);
    const auto csv = parseFrequencyList("word,count\r\n\"a,b\",\"12,345\"\r\nc,3\r\n", u"x"_qs, &error);
    QVERIFY2(csv, qPrintable(error));
    QCOMPARE(csv->word(0), u"a,b");
    QCOMPARE(csv->word(1), u"c");
    QCOMPARE(csv->total, 12348);
}

void TestCorpus::damagedWordListsAreNamed_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("line");
    QTest::newRow("no tab") << QByteArray("the\t3\nof 2\n") << u"line 2"_qs;
    QTest::newRow("not a count") << QByteArray("the\t3\nof\tmany\n") << u"line 2"_qs;
    QTest::newRow("csv without a count") << QByteArray("word,count\nthe,3\nof\n") << u"line 3"_qs;
    QTest::newRow("csv quote not closed") << QByteArray("word,count\n\"the,3\n") << u"line 2"_qs;
    QTest::newRow("json cut short") << QByteArray("[\n {\"word\": \"a\", \"count\": 1},\n {\"word\": \"b\", ") << u"line 3"_qs;
    QTest::newRow("json without counts") << QByteArray("[{\"word\": \"a\"}]") << u"line"_qs;
    QTest::newRow("not UTF-8") << QByteArray("caf\xe9\t3\n") << u"UTF-8"_qs;
    // Decimals are no counts (read digit by digit they were 125 and 15), nor is a separator that
    // groups no thousands.
    QTest::newRow("decimal point") << QByteArray("the\t3\nof\t12.5\n") << u"line 2: \"12.5\" is not a whole number"_qs;
    QTest::newRow("decimal comma") << QByteArray("the\t1,5\n") << u"line 1: \"1,5\" is not a whole number"_qs;
    QTest::newRow("decimal after a zero") << QByteArray("the\t0.500\n") << u"line 1: \"0.500\" is not"_qs;
    QTest::newRow("separators mixed") << QByteArray("the\t1,234.5\n") << u"line 1: \"1,234.5\" is not"_qs;
    QTest::newRow("csv decimal") << QByteArray("word,count\nthe,\"2,5\"\n") << u"line 2: \"2,5\" is not"_qs;
    QTest::newRow("json decimal") << QByteArray("[\n{\"word\": \"a\", \"count\": 2.5}\n]") << u"line 2: entry 1: 2.5"_qs;
    // Counts and totals beyond 2^53 are not worked out exactly (beyond 2^63 they wrapped round).
    QTest::newRow("count beyond 2^53") << QByteArray("the\t9007199254740993\n")
                                       << u"line 1: 9007199254740993 is more than 9007199254740992"_qs;
    QTest::newRow("count beyond 2^63") << QByteArray("the\t9223372036854775799\ncat\t9223372036854775799\n")
                                       << u"line 1: 9223372036854775799 is more than"_qs;
    QTest::newRow("total beyond 2^53") << QByteArray("the\t4503599627370496\ncat\t4503599627370497\n")
                                       << u"line 2: the counts add up to more than 9007199254740992"_qs;
    QTest::newRow("json count beyond 2^53") << QByteArray("[\n{\"word\": \"a\", \"count\": 1e30}\n]")
                                            << u"line 2: entry 1: its count is more than 9007199254740992"_qs;
    // A header is a first line; a bad line after one is named.
    QTest::newRow("header, then a bad line") << QByteArray("word\tfreq\nthe\t3\nof\tmany\n") << u"line 3"_qs;
    QTest::newRow("header alone") << QByteArray("word\tfreq\n") << u"line 1: \"freq\" is no count"_qs;
}

void TestCorpus::damagedWordListsAreNamed()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, line);
    QString error;
    QVERIFY(!parseFrequencyList(bytes, u"/lists/ref.tsv"_qs, &error));
    QVERIFY2(error.contains(QDir::toNativeSeparators(u"/lists/ref.tsv"_qs)) && error.contains(line), qPrintable(error));
}

void TestCorpus::wordListsOfOtherPrograms_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("words"); // word=count, in the list's order
    QTest::addColumn<QString>("notes");
    QTest::newRow("tsv header") << QByteArray("word\tfreq\r\nthe\t10\r\nof\t5\r\n") << u"the=10 of=5"_qs << QString();
    QTest::newRow("tsv quoted") << QByteArray("\"the\"\t\"1,000\"\n\"say \"\"hi\"\"\"  \t2\n\"a\tb\"\t3\n")
                                << u"the=1000 say \"hi\"=2 a\tb=3"_qs << QString();
    // As count --combined writes a word that holds a tab: padded, the count in the last column.
    QTest::newRow("word with a tab") << QByteArray("a\tb  \t1\r\nx\ta\tb\t1\r\nc    \t2\r\n")
                                     << u"a\tb=1 x\ta\tb=1 c=2"_qs << QString();
    // With --range, and with --dispersion (D and DP empty for one file): the count stays second
    // from the start of the columns that end every line.
    QTest::newRow("range, word with a tab") << QByteArray("a\tb   \t1\t1\r\nthe   \t6\t2\r\n")
                                            << u"a\tb=1 the=6"_qs << QString();
    QTest::newRow("dispersion") << QByteArray("a\tb\t3\t1\t52631.579 \t\t\r\nthe\t2\t1\t10.000\t\t\r\n")
                                << u"a\tb=3 the=2"_qs << QString();
    QTest::newRow("thousands") << QByteArray("a\t1.234.567\nb\t1 000\nc\t1'000\nd\t007\n") << u"a=1234567 b=1000 c=1000 d=7"_qs
                               << QString();
    QTest::newRow("csv header quoted") << QByteArray("\"word\",\"count\"\r\nthe,3\r\n\"a,b\",\"1,234\"\r\n")
                                       << u"the=3 a,b=1234"_qs << QString();
    QTest::newRow("csv with freq column") << QByteArray("rank,word,freq\n") + QByteArray("1,the,9\n") << u"the=9"_qs << QString();
    QTest::newRow("csv without header") << QByteArray("the,3\nof,2\n") << u"the=3 of=2"_qs << QString();
    // Lines without a word are left out, and said.
    QTest::newRow("tsv without a word") << QByteArray("\t5\nthe\t3\n  \t7\n") << u"the=3"_qs
                                        << u"2 lines of the word list list have no word (the first is line 1)"_qs;
    QTest::newRow("csv without a word") << QByteArray("word,count\nthe,3\n,4\n") << u"the=3"_qs
                                        << u"Line 3 of the word list list has no word"_qs;
    QTest::newRow("json without a word") << QByteArray("[\n{\"word\": \"\", \"count\": 3},\n{\"word\": \"of\", \"count\": 2}\n]")
                                         << u"of=2"_qs << u"Line 2 of the word list list has no word"_qs;
    // Nothing can be key against a list that counts nothing: said, not silently compared.
    QTest::newRow("empty") << QByteArray("\n\n") << QString() << u"The word list list holds no words"_qs;
    QTest::newRow("every count 0") << QByteArray("the\t0\nof\t0\n") << u"the=0 of=0"_qs << u"Every count of the word list list is 0"_qs;
}

// Lists as other programs and spreadsheets write them read as meant.
void TestCorpus::wordListsOfOtherPrograms()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, words);
    QFETCH(QString, notes);
    QString error;
    QStringList said;
    const std::optional<FrequencyList> list = parseFrequencyList(bytes, u"list"_qs, &error, &said);
    QVERIFY2(list, qPrintable(error));
    QStringList read;
    qint64 total = 0;
    for (size_t i = 0; i < list->size(); ++i) {
        read << list->word(i).toString() + u'=' + QString::number(list->count(i));
        total += list->count(i);
    }
    QCOMPARE(read.join(u' '), words);
    QCOMPARE(list->total, total);
    QCOMPARE(said.join(u' ').contains(notes) && said.isEmpty() == notes.isEmpty(), true);
}

// The three commands: their output against the library's rows, their usage errors.
void TestCorpus::corpusCommands()
{
    const QString bin = QStringLiteral(CORVALEN_BIN_DIR "/corvalen");
    const QStringList files = plantedCorpus(m_tmp.filePath(u"planted"_qs));
    const auto run = [&](const QStringList &args) {
        QProcess p;
        p.start(bin, args);
        p.waitForFinished(60000);
        return std::make_tuple(p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError());
    };
    auto [code, out, err] = run(QStringList{u"collocates"_qs, u"--format"_qs, u"csv"_qs, u"--top"_qs, u"3"_qs, u"strong"_qs} + files);
    QCOMPARE(code, 0);
    QList<QByteArray> lines = out.split('\n');
    QCOMPARE(lines.first(), QByteArray("word,cooccurrence,left,right,frequency,mi,mi3,t,ll,logdice\r"));
    QVERIFY(lines.at(1).startsWith("tea,"));
    qint64 corpusWords = 0;
    for (const QString &f : files)
        corpusWords += tokensOf(readText(f)).size();
    QVERIFY(err.contains(" Node occurrences: "));
    QVERIFY(err.endsWith(QByteArray(" Corpus words: " + QByteArray::number(corpusWords) + "\n")));
    std::tie(code, out, err) = run(QStringList{u"collocates"_qs, u"--format"_qs, u"json"_qs, u"--measure"_qs, u"freq"_qs, u"strong"_qs} + files);
    const QJsonArray rows = QJsonDocument::fromJson(out).array();
    QVERIFY(rows.size() > 3);
    for (qsizetype i = 1; i < rows.size(); ++i)
        QVERIFY(rows.at(i - 1).toObject().value(u"cooccurrence").toInt() >= rows.at(i).toObject().value(u"cooccurrence").toInt());
    for (const QStringList &bad : {QStringList{u"collocates"_qs, u"--ngrams"_qs, u"2"_qs, u"x"_qs, files.first()},
                                   QStringList{u"collocates"_qs, u"--span"_qs, u"0,0"_qs, u"x"_qs, files.first()},
                                   QStringList{u"collocates"_qs, u"--span"_qs, u"11,2"_qs, u"x"_qs, files.first()},
                                   QStringList{u"collocates"_qs, u"strong tea"_qs, files.first()},
                                   QStringList{u"clusters"_qs, u"--ngrams"_qs, u"2"_qs, u"x"_qs, files.first()},
                                   QStringList{u"clusters"_qs, u"--size"_qs, u"1,3"_qs, u"x"_qs, files.first()},
                                   QStringList{u"clusters"_qs, u"--size"_qs, u"4,3"_qs, u"x"_qs, files.first()},
                                   QStringList{u"keywords"_qs, files.first()},
                                   QStringList{u"keywords"_qs, u"--p"_qs, u"0.2"_qs, u"--reference"_qs, files.first(), files.first()}}) {
        std::tie(code, out, err) = run(bad);
        QVERIFY2(code == 2, qPrintable(bad.join(u' ') + u": "_qs + QString::fromUtf8(err)));
    }
    std::tie(code, out, err) = run(QStringList{u"clusters"_qs, u"--size"_qs, u"2,3"_qs, u"--position"_qs, u"left"_qs, u"strong"_qs} + files);
    QCOMPARE(code, 0);
    QVERIFY(out.startsWith("strong tea\t"));
    // Keywords of two files against the other two, and against a list written by count.
    const QString list = m_tmp.filePath(u"reference.tsv"_qs);
    std::tie(code, out, err) = run(QStringList{u"count"_qs, u"--combined"_qs, u"-o"_qs, list, files.at(2), files.at(3)});
    QCOMPARE(code, 0);
    QByteArray fromFiles, fromList;
    std::tie(code, fromFiles, err) = run({u"keywords"_qs, u"--p"_qs, u"1"_qs, u"--negative"_qs, u"--reference"_qs, files.at(2),
                                          u"--reference"_qs, files.at(3), files.at(0), files.at(1)});
    QCOMPARE(code, 0);
    QVERIFY(err.contains(" Target words: ") && err.contains(" Keywords: "));
    std::tie(code, fromList, err) = run({u"keywords"_qs, u"--p"_qs, u"1"_qs, u"--negative"_qs, u"--reference-list"_qs, list,
                                         files.at(0), files.at(1)});
    QCOMPARE(code, 0);
    QCOMPARE(fromList, fromFiles);
    QVERIFY(!fromList.isEmpty());
    const QList<QByteArray> cells = fromList.split('\n').first().split('\t');
    QCOMPARE(cells.size(), 9);
    QVERIFY2(QRegularExpression(u"^\\d\\.\\d{5}e[-+]\\d\\d$"_qs).match(QString::fromUtf8(cells.at(8))).hasMatch(), cells.at(8).constData());
    // What a list leaves out is said on standard error.
    writeFile(list, "the\t3\n\t4\n");
    std::tie(code, out, err) = run({u"keywords"_qs, u"--reference-list"_qs, list, files.at(0)});
    QCOMPARE(code, 0);
    QVERIFY2(err.startsWith("corvalen keywords: Line 2 of the word list "), err.constData());
    writeFile(list, "the\t3\nbroken line\n");
    std::tie(code, out, err) = run({u"keywords"_qs, u"--reference-list"_qs, list, files.at(0)});
    QCOMPARE(code, 1);
    QVERIFY(out.isEmpty());
    QVERIFY(err.contains("line 2"));
}

// A keyword whose p is below what a double tells apart from 0 (here 3,000 times against none in
// a reference of 100,000 words): written as 0 in every format, never 0.00000e+00 or a denormal.
void TestCorpus::tinyProbabilitiesWrittenAsZero()
{
    QTemporaryDir tmp;
    const QString target = tmp.filePath(u"target.txt"_qs), list = tmp.filePath(u"reference.tsv"_qs);
    writeFile(target, QByteArray("x ").repeated(3000) + "y\n");
    writeFile(list, "y\t100000\n");
    QVERIFY(chiSquareUpperTail(keynessOf(3000, 0, 3001, 100000).logLikelihood) < 1e-300);
    const auto run = [&](const QString &format) {
        QProcess p;
        p.start(QStringLiteral(CORVALEN_BIN_DIR "/corvalen"),
                {u"keywords"_qs, u"--format"_qs, format, u"--reference-list"_qs, list, target});
        p.waitForFinished(60000);
        return p.exitCode() == 0 ? p.readAllStandardOutput() : QByteArray();
    };
    QCOMPARE(run(u"tsv"_qs).split('\t').constLast(), QByteArray("0\n"));
    const QList<QByteArray> csv = run(u"csv"_qs).split('\n');
    QVERIFY2(csv.value(1).endsWith(",0\r"), csv.value(1).constData());
    const QJsonArray rows = QJsonDocument::fromJson(run(u"json"_qs)).array();
    QCOMPARE(rows.size(), 1);
    const QJsonValue p = rows.at(0).toObject().value(u"p");
    QVERIFY(p.isDouble());
    QCOMPARE(p.toDouble(-1), 0.0);
}

void TestCorpus::lexicalVarietyByHand_data()
{
    QTest::addColumn<QList<int>>("lengths"); // words of each file
    QTest::newRow("around 500") << QList<int>{499, 500, 501};
    QTest::newRow("around 1,000") << QList<int>{999, 1000, 1001};
    QTest::newRow("long and short") << QList<int>{2500, 7, 1999};
    QTest::newRow("empty file among others") << QList<int>{0, 1200};
}

// The standardised and moving-average ratios worked out here over the same words, file by file
// and over all files, around the 500- and 1,000-word edges.
void TestCorpus::lexicalVarietyByHand()
{
    QFETCH(QList<int>, lengths);
    QTemporaryDir tmp;
    QRandomGenerator random(17);
    QStringList files;
    QList<QStringList> words;
    for (int f = 0; f < lengths.size(); ++f) {
        QStringList w;
        QString text;
        for (int i = 0; i < lengths.at(f); ++i) {
            // Zipf-like: some words come back often, others rarely.
            const int pick = int(std::pow(random.generateDouble(), 3) * 1500);
            w << u"w%1"_qs.arg(pick);
            text += w.constLast() + (i % 13 == 12 ? u"\n"_qs : u" "_qs);
        }
        words << w;
        files << tmp.filePath(u"v%1.txt"_qs.arg(f));
        writeFile(files.constLast(), text.toUtf8());
    }
    const auto ratio = [](const QStringList &w, qsizetype from, qsizetype n) {
        return double(QSet<QString>(w.begin() + from, w.begin() + from + n).size()) / double(n);
    };
    const LexicalVarietyResult result = measureLexicalVariety(files, plainFinder());
    double partsSum = 0, windowsSum = 0;
    qint64 parts = 0, windows = 0;
    for (int f = 0; f < files.size(); ++f) {
        const QStringList &w = words.at(f);
        const qsizetype n = w.size();
        const LexicalVariety &v = result.files[size_t(f)];
        QCOMPARE(v.tokens, n);
        if (n == 0)
            continue;
        double sttr = 0, mattr = 0;
        qint64 p = 0, k = 0;
        for (qsizetype at = 0; at + 1000 <= n; at += 1000, ++p)
            sttr += ratio(w, at, 1000);
        for (qsizetype at = 0; at + 500 <= n; ++at, ++k)
            mattr += ratio(w, at, 500);
        if (p == 0) {
            sttr = ratio(w, 0, n);
            p = 1;
        } else {
            sttr /= double(p);
        }
        if (k == 0) {
            mattr = ratio(w, 0, n);
            k = 1;
        } else {
            mattr /= double(k);
        }
        QVERIFY2(std::abs(v.standardised - sttr) < 1e-9, qPrintable(u"file %1: %2 against %3"_qs.arg(f).arg(v.standardised).arg(sttr)));
        QVERIFY2(std::abs(v.movingAverage - mattr) < 1e-9, qPrintable(u"file %1: %2 against %3"_qs.arg(f).arg(v.movingAverage).arg(mattr)));
        QCOMPARE(v.parts, p);
        QCOMPARE(v.windows, k);
        partsSum += sttr * double(p);
        windowsSum += mattr * double(k);
        parts += p;
        windows += k;
    }
    QVERIFY(std::abs(result.all.standardised - partsSum / double(parts)) < 1e-9);
    QVERIFY(std::abs(result.all.movingAverage - windowsSum / double(windows)) < 1e-9);
}

// DP and Juilland's D of the words of a combined count over hand-made files: a word in one file
// only, one spread evenly, and one in between; with one file both are empty.
void TestCorpus::wordDispersionByHand()
{
    QTemporaryDir tmp;
    // Files of 10, 20 and 10 words: shares 0.25, 0.5, 0.25.
    const QStringList files = {tmp.filePath(u"a.txt"_qs), tmp.filePath(u"b.txt"_qs), tmp.filePath(u"c.txt"_qs)};
    writeFile(files.at(0), "only only even x x x x x x x\n");
    writeFile(files.at(1), "even even some some some x x x x x x x x x x x x x x x\n");
    writeFile(files.at(2), "even some x x x x x x x x\n");
    const FileWordCounts counts = FileWordCounts::measure(files, plainFinder());
    QCOMPARE(counts.parts(), 3);
    // only: f = (2, 0, 0), F = 2. DP = (|1 - .25| + .5 + .25) / 2 = 0.75.
    // x = (0.2, 0, 0): mean 1/15, deviation sqrt(0.04/3 - 1/225) = 0.0942809;
    // D = 1 - (0.0942809 / 0.0666667) / sqrt(2) = 0.
    WordDispersion d = counts.of(u"only", 2, 40);
    QCOMPARE(d.perMillion, 50000.0);
    QVERIFY(std::abs(*d.dp - 0.75) < 1e-12);
    QVERIFY(std::abs(*d.juillandD - 0.0) < 1e-9);
    // even: f = (1, 2, 1), F = 4: exactly the files' shares, DP 0; x = (0.1, 0.1, 0.1): D 1.
    d = counts.of(u"even", 4, 40);
    QVERIFY(std::abs(*d.dp) < 1e-12);
    QVERIFY(std::abs(*d.juillandD - 1.0) < 1e-12);
    // some: f = (0, 3, 1), F = 4: DP = (.25 + |.75 - .5| + 0) / 2 = 0.25.
    // x = (0, 0.15, 0.1): mean 0.0833333, squares (0.0225 + 0.01) / 3 = 0.0108333,
    // deviation sqrt(0.0108333 - 0.0069444) = 0.0623610, D = 1 - (0.748331 / 1.414214) = 0.470849.
    d = counts.of(u"some", 4, 40);
    QVERIFY(std::abs(*d.dp - 0.25) < 1e-12);
    QVERIFY2(std::abs(*d.juillandD - 0.4708497) < 1e-6, qPrintable(QString::number(*d.juillandD, 'f', 8)));
    // A word of one file is exactly 0 whatever the files' sizes (rounding gave -1e-17, shown as
    // -0.0000 and ordered apart from 0).
    QStringList many;
    for (int k = 0; k < 7; ++k) {
        many << tmp.filePath(u"m%1.txt"_qs.arg(k));
        writeFile(many.last(), QByteArray("filler ").repeated(3 + 5 * k) + (k == 3 ? "alone alone alone\n" : "\n"));
    }
    const FileWordCounts seven = FileWordCounts::measure(many, plainFinder());
    d = seven.of(u"alone", 3, 3 + 3 * 7 + 5 * 21);
    QCOMPARE(*d.juillandD, 0.0);
    QVERIFY(!std::signbit(*d.juillandD));
    const FileWordCounts one = FileWordCounts::measure({files.at(0)}, plainFinder());
    d = one.of(u"only", 2, 10);
    QVERIFY(!d.dp && !d.juillandD);
    QCOMPARE(d.perMillion, 200000.0);

    // The command: the count's rows with the three columns more, each format.
    const QString bin = QStringLiteral(CORVALEN_BIN_DIR "/corvalen");
    QProcess p;
    p.start(bin, QStringList{u"count"_qs, u"--combined"_qs, u"--dispersion"_qs, u"--format"_qs, u"json"_qs} + files);
    QVERIFY(p.waitForFinished(60000));
    QCOMPARE(p.exitCode(), 0);
    const QJsonArray rows = QJsonDocument::fromJson(p.readAllStandardOutput()).array();
    QCOMPARE(rows.size(), 4);
    for (const QJsonValue &v : rows) {
        const QJsonObject o = v.toObject();
        QCOMPARE(o.keys(), (QStringList{u"count"_qs, u"dp"_qs, u"files"_qs, u"juilland_d"_qs, u"per_million"_qs, u"word"_qs}));
        if (o.value(u"word").toString() == u"only") {
            QCOMPARE(o.value(u"files").toInt(), 1);
            QCOMPARE(o.value(u"dp").toDouble(), 0.75);
            QCOMPARE(o.value(u"per_million").toDouble(), 50000.0);
        }
    }
    p.start(bin, {u"count"_qs, u"--combined"_qs, u"--dispersion"_qs, u"--format"_qs, u"csv"_qs, files.at(0)});
    QVERIFY(p.waitForFinished(60000));
    QCOMPARE(p.readAllStandardOutput(),
             QByteArray("word,count,files,per_million,juilland_d,dp\r\neven,1,1,100000.000,,\r\nonly,2,1,200000.000,,\r\n"
                        "x,7,1,700000.000,,\r\n"));
    p.start(bin, {u"count"_qs, u"--dispersion"_qs, files.at(0)});
    QVERIFY(p.waitForFinished(60000));
    QCOMPARE(p.exitCode(), 2);
}

// The lines of a node that a collocate keeps company with: any word within the window, across
// paragraph ends and the edges of the slices a big file is cut into, never beyond the file.
void TestCorpus::linesWithACompanion()
{
    QTemporaryDir tmp;
    QRandomGenerator random(5);
    static const QStringList words = {u"alpha"_qs, u"beta"_qs, u"gamma"_qs, u"delta"_qs, u"epsilon"_qs, u"key"_qs};
    QStringList files;
    QList<QList<Token>> tokens;
    for (int f = 0; f < 2; ++f) {
        QString text;
        for (int i = 0; i < (f == 0 ? 400000 : 3000); ++i)
            text += words.at(int(random.bounded(words.size()))) + (random.bounded(7) == 0 ? u"\n"_qs : u" "_qs);
        files << tmp.filePath(u"c%1.txt"_qs.arg(f));
        writeFile(files.constLast(), text.toUtf8());
        tokens << tokensOf(text);
    }
    const std::shared_ptr<const WordFinder> finder = plainFinder();
    for (const auto &[left, right] : {std::pair{3, 2}, std::pair{0, 1}, std::pair{10, 0}}) {
        QList<QPair<qint32, qint64>> expected;
        for (qint32 f = 0; f < files.size(); ++f) {
            const QList<Token> &t = tokens.at(f);
            for (qint64 i = 0; i < t.size(); ++i) {
                if (t.at(i).word != u"key")
                    continue;
                bool with = false;
                for (int d = 1; d <= left && i - d >= 0; ++d)
                    with = with || t.at(i - d).word == u"alpha";
                for (int d = 1; d <= right && i + d < t.size(); ++d)
                    with = with || t.at(i + d).word == u"alpha";
                if (with)
                    expected.append({f, i});
            }
        }
        ConcordanceRequest request;
        request.files = files;
        request.finder = finder;
        request.query = *CorpusQuery::parse(u"key"_qs, QueryMode::Words, true, *finder);
        request.companion = CorpusQuery::parse(u"alpha"_qs, QueryMode::Words, true, *finder);
        request.companionLeft = left;
        request.companionRight = right;
        QList<QPair<qint32, qint64>> found;
        ConcordanceSearch(request).run([&](ConcordanceBatch &&b) {
            for (const ConcordanceLine &l : b.lines)
                found.append({l.file, l.position});
        });
        QCOMPARE(found.size(), expected.size());
        QCOMPARE(found, expected);
    }
}

QTEST_GUILESS_MAIN(TestCorpus)
#include "tst_corpus.moc"
