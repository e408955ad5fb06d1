// The corpus queries against an independent reading of the same text: the tokens cut by hand in
// the test (the plain rules: words between spaces and line ends, ASCII punctuation deleted,
// lower-cased), the order by ICU's root collation asked here, Juilland's D worked out by hand.

#include "corpus/collation.h"
#include "corpus/concordance.h"
#include "corpus/corpusquery.h"
#include "corpus/dispersion.h"
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
    void linesMatchTheCount();
    void neighboursAcrossSlicesAndParagraphs();
    void ordersByNeighbours();
    void phrasesStopAtGaps();
    void wordFormsAndCase();
    void unreadableFileGivesALine();
    void juillandD_data();
    void juillandD();
    void tables();
    void commandLine();

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

// The number of lines of a word is its count; of a pattern, the sum of its words' counts.
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
        table.finish();
        return out.data();
    };
    QCOMPARE(write(TableFormat::Tsv), QByteArray("a, \"b\".txt\t3\t0.0000\t1 2\ntab here\t0\t\t\n"));
    QCOMPARE(write(TableFormat::Csv),
             QByteArray("file,n,d,at\r\n\"a, \"\"b\"\".txt\",3,0.0000,1 2\r\ntab\there,0,,\r\n"));
    const QJsonArray rows = QJsonDocument::fromJson(write(TableFormat::Json)).array();
    QCOMPARE(rows.size(), 2);
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
    std::tie(code, out, err) = run({u"dispersion"_qs, u"the"_qs, tmp.filePath(u"missing.txt"_qs), a});
    QCOMPARE(code, 1);
    QVERIFY(err.contains("missing.txt"));
}

QTEST_GUILESS_MAIN(TestCorpus)
#include "tst_corpus.moc"
