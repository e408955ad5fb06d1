#include "referencemodel.h"

#include "base/errorreport.h"
#include "engine/analysisjob.h"
#include "engine/analysisrun.h"
#include "engine/textdecoder.h"
#include "engine/utf8.h"
#include "engine/wordrules.h"
#include "engine/wordtally.h"

#include <QBuffer>
#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QThread>
#include <QTemporaryDir>
#include <QTest>

#include <map>

Q_DECLARE_METATYPE(corvalen::WordRules)

using namespace corvalen;

namespace {

// Lone surrogates cannot be written as literals.
QString units(std::initializer_list<char16_t> u)
{
    return QString(reinterpret_cast<const QChar *>(u.begin()), qsizetype(u.size()));
}
const QString kHigh = units({0xD801});
const QString kLow = units({0xDC00});

std::vector<WordCount> countAll(const QString &text, bool ignoreCase, qsizetype chunk = 0)
{
    WordTally tally(ignoreCase);
    if (chunk <= 0) {
        tally.feed(text);
    } else {
        for (qsizetype i = 0; i < text.size(); i += chunk)
            tally.feed(QStringView(text).mid(i, chunk));
    }
    tally.finish();
    return tally.ordered();
}

QList<reference::Row> asReferenceRows(const std::vector<WordCount> &rows)
{
    QList<reference::Row> out;
    for (const WordCount &wc : rows)
        out.append({wc.word, QString::number(wc.count)});
    return out;
}

QString describe(const QList<reference::Row> &rows)
{
    QStringList parts;
    for (const auto &r : rows)
        parts << r.word + u'=' + r.count;
    return parts.join(u", ");
}

// Random text built from pieces that exercise every rule.
QString randomText(QRandomGenerator &rng, int pieces)
{
    static const QStringList vocabulary = {
        u"the"_qs, u"The"_qs, u"THE"_qs, u"apple"_qs, u"Zebra"_qs, u"007"_qs, u"0"_qs, u"1999"_qs,
        u"don't"_qs, u"don\u2019t"_qs, u"e-mail"_qs, u"(U.S.A.)"_qs, u"3.14"_qs, u"--"_qs, u"..."_qs,
        u"\u00c9t\u00e9"_qs, u"\u0130stanbul"_qs, u"\u03a3\u039f\u03a3"_qs, u"\u00df"_qs,
        u"\U00010400x"_qs, u"\U0001F600"_qs, u"\uff21"_qs, u"\ue000"_qs, u"a\u00a0b"_qs,
        kHigh + u'-' + kLow, kHigh, u"x_y"_qs, u"A+"_qs, u"\u01c4"_qs, u"\u2014"_qs};
    static const QStringList gaps = {u" "_qs, u" "_qs, u" "_qs, u"  "_qs, u"\t"_qs, u"\r"_qs,
                                     u"\r\n"_qs, u"\n"_qs, u"\r\r"_qs, u""_qs, u"\v"_qs};
    QString text;
    for (int i = 0; i < pieces; ++i) {
        text += vocabulary.at(rng.bounded(int(vocabulary.size())));
        text += gaps.at(rng.bounded(int(gaps.size())));
    }
    return text;
}

// Straightforward count for inputs too large for the literal bubble sort.
std::vector<WordCount> mapCount(const QString &text, bool ignoreCase)
{
    std::map<QString, qint64> m;
    for (const QString &w : reference::splitWords(text)) {
        const QString c = reference::cleanWord(w, ignoreCase);
        if (!c.isEmpty())
            ++m[c];
    }
    std::vector<WordCount> rows;
    for (const auto &[w, n] : m)
        rows.push_back({w, n});
    orderRows(rows);
    return rows;
}

class ListSource : public TextSource
{
public:
    QHash<QString, QString> texts;
    QStringList read;
    bool readText(const QString &path, const Sink &sink) override
    {
        read << path;
        const QString t = texts.value(path);
        for (qsizetype i = 0; i < t.size(); i += 3)
            sink(QStringView(t).mid(i, 3));
        return true;
    }
};

// Files that fail after handing on part of their text: "failing" ones report it, "throwing" ones
// throw, as a tally that runs out of memory while taking the text would.
class FailingSource : public TextSource
{
public:
    QHash<QString, QString> texts;
    QStringList failing, throwing;
    bool readText(const QString &path, const Sink &sink) override
    {
        const QString t = texts.value(path);
        const bool fails = failing.contains(path);
        sink(QStringView(t).first(fails ? t.size() / 2 : t.size()));
        if (throwing.contains(path))
            throw std::bad_alloc();
        return !fails;
    }
};

class ThrowingSource : public TextSource
{
public:
    bool readText(const QString &, const Sink &) override { throw std::bad_alloc(); }
};

// The clipboard layout: cells padded to their column's widest cell, tabs between, no trailing
// blanks, CR LF after each row.
QString clipboardText(const ResultTable &t)
{
    QList<qsizetype> widths(t.columnCount(), 0);
    for (qsizetype r = 0; r < t.rowCount(); ++r)
        for (int c = 0; c < t.columnCount(); ++c)
            widths[c] = std::max(widths[c], t.cellLength(r, c));
    QString out;
    for (qsizetype r = 0; r < t.rowCount(); ++r) {
        QString line;
        for (int c = 0; c < t.columnCount(); ++c)
            line += t.cell(r, c) + QString(widths[c] - t.cellLength(r, c), u' ') + u'\t';
        line.chop(1);
        while (line.endsWith(u' '))
            line.chop(1);
        out += line + u"\r\n";
    }
    return out;
}

} // namespace

class TestEngine : public QObject
{
    Q_OBJECT

private slots:
    void cleaning_data();
    void cleaning();
    void ordering();
    void referenceModelQuirks();
    void matchesReferenceModel();
    void plainWordFinderFindsWhatIsCounted();
    void chunkBoundaries();
    void concatenationIsOneText();
    void parallelSlicesMatchSingleThread();
    void enormousWord();
    void filesTakenBack_data();
    void filesTakenBack();
    void fileRange_data() { filesTakenBack_data(); }
    void fileRange();
    void fileRangeInRuns();
    void fileRangeUnderRules_data();
    void fileRangeUnderRules();
    void fileNameFromPath_data();
    void fileNameFromPath();
    void resultTableCells();
    void resultTableKeepsEveryWord();
    void runModes();
    void runReportsFailuresAndGoesOn();
    void incompleteFilesContributeNothing();
    void rowsReachTheSinkFileByFile();
    void matchesOracle_data();
    void matchesOracle();
    void jobRunsOffThreadAndReportsOnCaller();
    void progressIsRateLimitedAndCancels();
    void utf8FileLineEndsAcrossBlocks();
    void textDecoderMatchesQt();
    void textDecoderJoinsLines_data();
    void textDecoderJoinsLines();
    void utf8WriterMatchesQt();
};

void TestEngine::cleaning_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ignoreCase");
    QTest::addColumn<QString>("expected"); // word=count, ordered

    QTest::newRow("examples") << u"don't e-mail (U.S.A.) 3.14 1/5 A+ --"_qs << false
                              << u"15=1, 314=1, A=1, USA=1, dont=1, email=1"_qs;
    QTest::newRow("comma joins") << u"Hello,world"_qs << false << u"Helloworld=1"_qs;
    QTest::newRow("only CR and space split")
            << u"a\tb c\u00a0d e\nf g\vh i\fj"_qs << false
            << u"a\tb=1, c\u00a0d=1, e\nf=1, g\vh=1, i\fj=1"_qs;
    QTest::newRow("typographic apostrophe kept") << u"don't don\u2019t"_qs << false
                                                 << u"dont=1, don\u2019t=1"_qs;
    QTest::newRow("empty") << QString() << false << QString();
    QTest::newRow("separators only") << u"\r \r  \r"_qs << true << QString();
    QTest::newRow("case kept") << u"The the"_qs << false << u"The=1, the=1"_qs;
    QTest::newRow("case ignored") << u"The the"_qs << true << u"the=2"_qs;
    QTest::newRow("simple lower-case beyond ASCII")
            << u"\u0130STANBUL \u039f\u0394\u039f\u03a3 \u01c4 \U00010400"_qs << true
            << u"istanbul=1, \u01c6=1, \u03bf\u03b4\u03bf\u03c3=1, \U00010428=1"_qs;
    QTest::newRow("punctuation joins a surrogate pair before lower-casing")
            << kHigh + u'-' + kLow << true << u"\U00010428=1"_qs;
    QTest::newRow("lone surrogates kept") << kHigh + u' ' + kLow + u'x' << true
                                          << kHigh + u"=1, "_qs + kLow + u"x=1"_qs;
    QTest::newRow("underscore always removed") << u"My_Separatora12"_qs << false
                                               << u"MySeparatora12=1"_qs;
}

void TestEngine::cleaning()
{
    QFETCH(QString, text);
    QFETCH(bool, ignoreCase);
    QFETCH(QString, expected);
    QCOMPARE(describe(asReferenceRows(countAll(text, ignoreCase))), expected);
    QCOMPARE(describe(reference::countRows(text, ignoreCase)), expected);
}

void TestEngine::ordering()
{
    // Count ascending; ties by UTF-16 code units: digits, capitals, small letters, then beyond
    // ASCII, where U+E000..U+FFFF sorts after a surrogate pair.
    const auto rows = countAll(u"apple Zebra 1999 Apple 007 \uff41 \U0001F600 ab a"_qs, false);
    QStringList words;
    for (const auto &r : rows)
        words << r.word;
    QCOMPARE(words, (QStringList{u"007"_qs, u"1999"_qs, u"Apple"_qs, u"Zebra"_qs, u"a"_qs,
                                  u"ab"_qs, u"apple"_qs, u"\U0001F600"_qs, u"\uff41"_qs}));

    const QString nineTenHundred = QString(u"x "_qs).repeated(9) + QString(u"y "_qs).repeated(10)
            + QString(u"z "_qs).repeated(100);
    QCOMPARE(describe(asReferenceRows(countAll(nineTenHundred, true))), u"x=9, y=10, z=100"_qs);

    // Many rows are ordered in two halves at once and merged: the same order as one sort, with
    // words that share their first four units and words holding U+0000.
    QRandomGenerator rng(7);
    QString many;
    for (int i = 0; i < 150000; ++i) {
        many += u"word"_qs + QString::number(rng.bounded(90000)) + u' ';
        if (i % 1000 == 0)
            many += u"wor"_qs + QChar(0) + u" wor "_qs;
    }
    WordTally tally(false);
    tally.feed(many);
    tally.finish();
    std::vector<WordCount> expected = tally.counts();
    orderRows(expected);
    QVERIFY(expected.size() > 65536);
    QVERIFY(tally.ordered() == expected);
}

void TestEngine::referenceModelQuirks()
{
    // The literal model's own behaviour, so that a broken model cannot hide engine faults.
    QCOMPARE(reference::tallyWords({u"b"_qs, u"a"_qs, u"b"_qs, QString()}),
             (QStringList{u"bMy_Separatora12b"_qs, u"a"_qs}));
    QCOMPARE(reference::padCount(u"12 cat"_qs), u"00000000012 cat"_qs);
    QCOMPARE(reference::unpadCount(u"00000000001 007"_qs), u"1 007"_qs);
    int passes = 0;
    QCOMPARE(reference::bubbleSort({}, &passes), QStringList());
    QCOMPARE(passes, 1);
    reference::bubbleSort({u"a"_qs, u"b"_qs}, &passes);
    QCOMPARE(passes, 1);
}

void TestEngine::matchesReferenceModel()
{
    QRandomGenerator rng(20261207);
    for (int round = 0; round < 300; ++round) {
        const QString text = randomText(rng, int(rng.bounded(1, 120)));
        const bool ignoreCase = round % 2;
        const qsizetype chunk = rng.bounded(0, 9);
        const auto expected = reference::countRows(text, ignoreCase);
        const auto rows = countAll(text, ignoreCase, chunk);
        const QString got = describe(asReferenceRows(rows));
        if (got != describe(expected))
            QFAIL(qPrintable(u"round "_qs + QString::number(round) + u": "_qs + got + u" vs "_qs
                             + describe(expected)));
        qint64 sum = 0;
        for (const auto &r : expected)
            sum += r.count.toLongLong();
        WordTally t(ignoreCase);
        t.feed(text);
        t.finish();
        QCOMPARE(t.total(), sum);
    }
}

// The finder that views of the words use must find exactly the words the counter counts, each
// with the raw piece it was cleaned from.
void TestEngine::plainWordFinderFindsWhatIsCounted()
{
    QRandomGenerator rng(20261208);
    for (int round = 0; round < 200; ++round) {
        const QString text = randomText(rng, int(rng.bounded(1, 120)));
        const bool ignoreCase = round % 2;
        const auto finder = WordFinder::create(WordRules(), ignoreCase);
        QVERIFY(finder);
        QStringList found;
        finder->findWords(text, [&](const FoundWord &w) {
            found << w.word.toString();
            QCOMPARE(reference::cleanWord(text.mid(w.rawStart, w.rawEnd - w.rawStart), ignoreCase),
                     w.word.toString());
        });
        QStringList expected;
        for (const QString &raw : reference::splitWords(text)) {
            const QString word = reference::cleanWord(raw, ignoreCase);
            if (!word.isEmpty())
                expected << word;
        }
        QCOMPARE(found, expected);
    }
}

void TestEngine::chunkBoundaries()
{
    // A word cut anywhere, a CR LF pair split, a surrogate pair split: same count.
    const QString text = u"alpha be\u00df\r\nGamma \U00010400X  delta,epsilon\r"_qs;
    const auto whole = countAll(text, true);
    for (int chunk = 1; chunk <= 7; ++chunk)
        QCOMPARE(countAll(text, true, chunk), whole);
}

void TestEngine::concatenationIsOneText()
{
    WordTally tally(false);
    tally.feed(u"one two"_qs);
    tally.feed(u"three\r"_qs); // "twothree": texts are joined with nothing between them
    tally.feed(u"four"_qs);
    tally.finish();
    QCOMPARE(asReferenceRows(tally.ordered()).size(), 3);
    QCOMPARE(describe(asReferenceRows(tally.ordered())), u"four=1, one=1, twothree=1"_qs);
    tally.clear();
    tally.feed(u"again"_qs);
    tally.finish();
    QCOMPARE(tally.total(), 1);
}

void TestEngine::parallelSlicesMatchSingleThread()
{
    // Several megabytes go through the pool in slices; the result must not depend on it.
    QRandomGenerator rng(99);
    QString text;
    while (text.size() < 5'000'000)
        text += randomText(rng, 1000);
    for (bool ignoreCase : {false, true}) {
        const auto expected = mapCount(text, ignoreCase);
        QCOMPARE(countAll(text, ignoreCase, 65536), expected);
        QCOMPARE(countAll(text, ignoreCase, 3'000'001), expected);
    }
}

void TestEngine::enormousWord()
{
    // One paragraph with no separator, fed in small chunks, stays one word and stays linear.
    WordTally tally(false);
    const QString piece(4096, u'x');
    for (int i = 0; i < 2048; ++i)
        tally.feed(piece);
    tally.feed(u" y"_qs);
    tally.finish();
    const auto rows = tally.ordered();
    QCOMPARE(rows.size(), size_t(2));
    QCOMPARE(rows.at(0).word.size(), qsizetype(4096) * 2048); // x... sorts before y
}

void TestEngine::filesTakenBack_data()
{
    // One word per file: s a small text, l one beyond what is counted in the run's own slices;
    // g ends inside a word (joined to the next text); + complete, - taken back part-way,
    // ! taken back after all of it.
    QTest::addColumn<QString>("files");
    QTest::newRow("small file taken back part-way") << u"s+ s- s+"_qs;
    QTest::newRow("small file taken back whole") << u"s+ s! s+"_qs;
    QTest::newRow("large file kept") << u"s+ l+ s+"_qs;
    QTest::newRow("large file first and alone") << u"l+"_qs;
    QTest::newRow("large file taken back part-way") << u"s+ l- s+"_qs;
    QTest::newRow("large file taken back whole") << u"s+ l! s+"_qs;
    QTest::newRow("two large files") << u"l+ s+ l+"_qs;
    QTest::newRow("words joined across file ends") << u"sg+ lg+ sg+ sg- lg! sg+ s+"_qs;
    QTest::newRow("only failures") << u"s- l- sg!"_qs;
    QTest::newRow("many files, sliced between them")
            << QString(u"s+ s- sg+ s+ s! s+ "_qs).repeated(12);
}

// The texts of the files a recipe of filesTakenBack_data() makes, and which of them end well; fed
// to tally in chunks of random sizes.
QStringList feedFiles(WordTally &tally, const QString &files, QList<bool> *complete = nullptr)
{
    static const QString pool = [] {
        QRandomGenerator rng(5);
        QString text;
        while (text.size() < 4'700'000)
            text += randomText(rng, 1000);
        return text;
    }();
    QRandomGenerator rng(uint(qHash(files)));
    QStringList texts;
    for (const QString &recipe : files.split(u' ', Qt::SkipEmptyParts)) {
        QString text = pool;
        if (recipe.startsWith(u's')) {
            const qsizetype n = rng.bounded(1000, 400000);
            text = pool.mid(rng.bounded(int(pool.size() - n)), n);
        }
        // Some files begin with a separator, some inside a word.
        while (!text.isEmpty() && (text.front() == u' ' || text.front() == u'\r'))
            text.remove(0, 1);
        if (rng.bounded(2))
            text.prepend(u' ');
        while (!text.isEmpty() && (text.back() == u' ' || text.back() == u'\r'))
            text.chop(1);
        if (!recipe.contains(u'g'))
            text += u'\r'; // else it ends inside a word, one that also occurs before it
        const QChar end = recipe.back();
        const qsizetype fed = end == u'-' ? text.size() * 3 / 5 : text.size();
        tally.beginFile();
        for (qsizetype at = 0; at < fed;) {
            const qsizetype n = std::min<qsizetype>(rng.bounded(1, 1 << 20), fed - at);
            tally.feed(QStringView(text).sliced(at, n));
            at += n;
        }
        tally.endFile(end == u'+');
        texts << text;
        if (complete)
            complete->append(end == u'+');
    }
    return texts;
}

// Whatever is taken back, the count is that of the complete files' texts fed one after the other.
void TestEngine::filesTakenBack()
{
    QFETCH(QString, files);
    for (bool ignoreCase : {false, true}) {
        WordTally tally(ignoreCase);
        WordTally expected(ignoreCase);
        QList<bool> complete;
        const QStringList texts = feedFiles(tally, files, &complete);
        for (qsizetype i = 0; i < texts.size(); ++i) {
            if (complete.at(i))
                expected.feed(texts.at(i));
        }
        tally.finish();
        expected.finish();
        QCOMPARE(tally.total(), expected.total());
        QVERIFY(tally.ordered() == expected.ordered());
    }
}

// In how many files each word occurs, computed apart: the complete files' texts joined, cut at
// separators, each word given to the file its last unit came from.
QHash<QString, qint64> referenceRange(const QStringList &texts, bool ignoreCase)
{
    QHash<QString, QPair<qsizetype, qint64>> seen; // word -> (last file, files)
    QString raw;
    qsizetype rawFile = -1;
    const auto flush = [&] {
        const QString word = reference::cleanWord(raw, ignoreCase);
        raw.clear();
        if (word.isEmpty())
            return;
        auto &s = seen[word];
        if (s.second == 0 || s.first != rawFile) {
            s.first = rawFile;
            ++s.second;
        }
    };
    for (qsizetype f = 0; f < texts.size(); ++f) {
        for (QChar c : texts.at(f)) {
            if (c == u' ' || c == u'\r') {
                if (!raw.isEmpty())
                    flush();
            } else {
                raw += c;
                rawFile = f;
            }
        }
    }
    if (!raw.isEmpty())
        flush();
    QHash<QString, qint64> files;
    for (auto it = seen.cbegin(); it != seen.cend(); ++it)
        files.insert(it.key(), it.value().second);
    return files;
}

// Sliced between files, counted apart when large, joined across file ends, taken back: the range
// is the files each word occurs in, and the counts are those of the count without it.
void TestEngine::fileRange()
{
    QFETCH(QString, files);
    WordTally ranged(true);
    ranged.setFileRange(true);
    QList<bool> complete;
    const QStringList texts = feedFiles(ranged, files, &complete);
    ranged.finish();
    WordTally plain(true);
    QStringList kept;
    for (qsizetype i = 0; i < texts.size(); ++i) {
        if (complete.at(i)) {
            plain.feed(texts.at(i));
            kept << texts.at(i);
        }
    }
    plain.finish();
    const std::vector<WordCount> rows = ranged.ordered();
    const std::vector<WordCount> counts = plain.ordered();
    QCOMPARE(rows.size(), counts.size());
    const QHash<QString, qint64> expected = referenceRange(kept, true);
    QCOMPARE(qsizetype(rows.size()), expected.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        QCOMPARE(rows[i].word, counts[i].word);
        QCOMPARE(rows[i].count, counts[i].count);
        if (rows[i].files != expected.value(rows[i].word))
            QFAIL(qPrintable(u"%1 occurs in %2 files, not %3"_qs.arg(rows[i].word).arg(expected.value(rows[i].word)).arg(rows[i].files)));
    }
    QVERIFY(std::all_of(counts.begin(), counts.end(), [](const WordCount &w) { return w.files == 0; }));
}

// A combined run counts the range when asked; the table carries it beside the rows, not as a
// column; a per-file run has none.
void TestEngine::fileRangeInRuns()
{
    ListSource src;
    src.texts[u"/d/a"_qs] = u"one two two\r"_qs;
    src.texts[u"/d/b"_qs] = u"Two three\r"_qs;
    src.texts[u"/d/c"_qs] = u"two one\r"_qs;
    const QStringList paths{u"/d/a"_qs, u"/d/b"_qs, u"/d/c"_qs};
    CountOptions options{CountMode::Combined, false, true};
    options.fileRange = true;
    const ResultTable t = runAnalysis(paths, options, src);
    QVERIFY(t.hasFiles());
    QCOMPARE(t.columnCount(), 2);
    QStringList rows;
    for (qsizetype r = 0; r < t.rowCount(); ++r)
        rows << u"%1 %2 %3"_qs.arg(t.word(r)).arg(t.count(r)).arg(t.files(r));
    QCOMPARE(rows, (QStringList{u"three 1 1"_qs, u"one 2 2"_qs, u"two 4 3"_qs}));
    ResultTable copy;
    copy.appendTable(t);
    QCOMPARE(copy.files(2), 3);

    QVERIFY(!runAnalysis(paths, {CountMode::Combined, false, true}, src).hasFiles());
    options.mode = CountMode::PerFile;
    QVERIFY(!runAnalysis(paths, options, src).hasFiles());
}

// Forms that stems group, case and punctuation to fold, letters beyond ASCII and above U+FFFF,
// words that stop lists and a minimum length leave out.
QString ruleText(QRandomGenerator &rng, qsizetype units)
{
    static const QStringList vocabulary{
            u"walk"_qs, u"walks"_qs, u"Walked"_qs, u"walking,"_qs, u"talk"_qs, u"talked"_qs,
            u"the"_qs, u"The"_qs, u"a"_qs, u"of"_qs, u"run"_qs, u"running"_qs, u"runs."_qs,
            u"caf\u00e9"_qs, u"Caf\u00e9s"_qs, u"na\u00efve"_qs, u"\U0001D4B3yz"_qs, u"don't"_qs,
            u"DON'T"_qs, u"\u00abquoted\u00bb"_qs, u"x"_qs, u"to"_qs, u"be"_qs};
    QString text;
    while (text.size() < units) {
        // Rare words make files differ: a word of the vocabulary with a number of few values.
        const QString &w = vocabulary.at(int(rng.bounded(vocabulary.size())));
        text += rng.bounded(8) == 0 ? w + QString::number(rng.bounded(40)) : w;
        text += rng.bounded(9) == 0 ? u'\r' : u' ';
    }
    return text;
}

void TestEngine::fileRangeUnderRules_data()
{
    QTest::addColumn<WordRules>("rules");
    QTest::addColumn<bool>("ignoreCase");
    QTest::addColumn<QString>("sizes"); // of the files in thousands of units; - taken back
    WordRules stems;
    stems.stemLanguage = u"english"_qs;
    WordRules phrases;
    phrases.phraseLength = 2;
    WordRules groupedPhrases = phrases;
    groupedPhrases.stemLanguage = u"english"_qs;
    WordRules cleaned;
    cleaned.punctuation = WordRules::Punctuation::All;
    cleaned.minLength = 2;
    cleaned.stopWordLists = {u"en"_qs};
    WordRules unicode;
    unicode.words = WordRules::Words::Unicode;
    WordRules unicodeStems = unicode;
    unicodeStems.stemLanguage = u"english"_qs;
    // Many small files fill several slices counted on the pool; a file beyond 4M units is
    // counted apart and merged.
    const QString many = QStringList(60, u"40"_qs).join(u' ') + u" 30- 40"_qs;
    QTest::newRow("stems, many files") << stems << true << many;
    QTest::newRow("stems, case kept, a large file") << stems << false << u"40 5000 40- 30 6000- 20"_qs;
    QTest::newRow("phrases, many files") << phrases << true << many;
    QTest::newRow("phrases, a large file") << phrases << true << u"30 5000 30-"_qs;
    // Over a million words in a tally: its numbers fill more than one block, each read apart.
    QTest::newRow("phrases, blocks of word numbers filled")
            << phrases << true << QStringList(20, u"900"_qs).join(u' ') + u" 5000"_qs;
    QTest::newRow("phrases grouped by stems") << groupedPhrases << true << many;
    QTest::newRow("punctuation, minimum length, stop words") << cleaned << false << many;
    QTest::newRow("cleaned, a large file") << cleaned << true << u"20 5000 20"_qs;
    QTest::newRow("Unicode words") << unicode << true << many;
    QTest::newRow("Unicode words and stems, a large file") << unicodeStems << true << u"30 5000- 30 5000"_qs;
}

// Under every rule a row occurs in the files whose own count has it (its group, under stems), and
// the counts are those of the count without the range; files taken back give nothing.
void TestEngine::fileRangeUnderRules()
{
    QFETCH(WordRules, rules);
    QFETCH(bool, ignoreCase);
    QFETCH(QString, sizes);
    QString error;
    const std::unique_ptr<WordFinder> finder = WordFinder::create(rules, ignoreCase, &error);
    QVERIFY2(finder, qPrintable(error));
    WordTally ranged(*finder);
    ranged.setFileRange(true);
    WordTally plain(*finder);
    QHash<QString, qint64> expected; // row key -> files
    QRandomGenerator rng(uint(qHash(sizes)));
    for (const QString &size : sizes.split(u' ')) {
        const bool complete = !size.endsWith(u'-');
        const QString text = ruleText(rng, qsizetype(QString(size).remove(u'-').toInt()) * 1000);
        ranged.beginFile();
        for (qsizetype at = 0; at < text.size();) {
            const qsizetype n = std::min<qsizetype>(rng.bounded(1, 1 << 18), text.size() - at);
            ranged.feed(QStringView(text).sliced(at, n));
            at += n;
        }
        ranged.endFile(complete);
        if (!complete)
            continue;
        plain.beginFile();
        plain.feed(text);
        plain.endFile(true);
        WordTally alone(*finder);
        alone.feed(text);
        alone.finish();
        QSet<QString> keys;
        for (const WordCount &row : alone.counts())
            keys.insert(finder->groupKey(row.word));
        for (const QString &key : std::as_const(keys))
            ++expected[key];
    }
    ranged.finish();
    plain.finish();
    const std::vector<WordCount> rows = ranged.ordered();
    const std::vector<WordCount> counts = plain.ordered();
    QCOMPARE(rows.size(), counts.size());
    QCOMPARE(qsizetype(rows.size()), expected.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        QCOMPARE(rows[i].word, counts[i].word);
        QCOMPARE(rows[i].count, counts[i].count);
        const qint64 files = expected.value(finder->groupKey(rows[i].word));
        if (rows[i].files != files)
            QFAIL(qPrintable(u"%1 occurs in %2 files, not %3"_qs.arg(rows[i].word).arg(files).arg(rows[i].files)));
    }
}

void TestEngine::fileNameFromPath_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("name");
    QTest::newRow("plain") << u"/home/ann/May.doc"_qs << u"May.doc"_qs;
    QTest::newRow("no separator") << u"May.doc"_qs << u"May.doc"_qs;
    QTest::newRow("trailing separator") << u"/tmp/"_qs << QString();
#ifdef Q_OS_WIN
    QTest::newRow("backslash") << u"C:\\Reports\\May.doc"_qs << u"May.doc"_qs;
#else
    QTest::newRow("backslash is a name character") << u"/tmp/dir\\b.txt"_qs << u"dir\\b.txt"_qs;
#endif
}

void TestEngine::fileNameFromPath()
{
    QFETCH(QString, path);
    QFETCH(QString, name);
    QCOMPARE(corvalen::fileNameFromPath(path), name);
}

void TestEngine::resultTableCells()
{
    QCOMPARE(resultHeaders({CountMode::PerFile, true, true}),
             (QStringList{u"Filename"_qs, u" Word"_qs, u"Count"_qs}));
    QCOMPARE(resultHeaders({CountMode::PerFile, false, true}), (QStringList{u" Word"_qs, u"Count"_qs}));
    QCOMPARE(resultHeaders({CountMode::Combined, true, true}), (QStringList{u" Word"_qs, u"Count"_qs}));
    QCOMPARE(resultColumns({CountMode::PerFile, true, true}).at(0).widthTwips, 5000);
    QCOMPARE(resultColumns({CountMode::Combined, true, true}).at(0).widthTwips, 6000);

    ResultTable t(true);
    t.appendRows({{u"007"_qs, 7}, {u"\U0001F600"_qs, 1234567890123LL}}, u"a.txt"_qs);
    QCOMPARE(t.cell(0, 0), u"a.txt"_qs);
    QCOMPARE(t.cell(0, 2), u"7"_qs);
    QCOMPARE(t.cell(1, 2), u"1234567890123"_qs);
    for (int c = 0; c < 3; ++c)
        QCOMPARE(t.cellLength(1, c), t.cell(1, c).size());
    QCOMPARE(t.total(), 1234567890130LL); // beyond 32 bits

    // Every appendRows() is a file of its own: empty ones, ones without the file name column,
    // and two files of the same name one after the other.
    ResultTable unnamed(false);
    unnamed.appendRows({{u"a"_qs, 1}}, u"x.txt"_qs);
    unnamed.appendRows({}, u"y.txt"_qs);
    unnamed.appendRows({{u"a"_qs, 2}, {u"b"_qs, 2}});
    QCOMPARE(unnamed.fileCount(), 3);
    QCOMPARE(unnamed.fileIndex(0), 0);
    QCOMPARE(unnamed.fileIndex(2), 2);
    QCOMPARE(unnamed.fileNameAt(0), QString()); // no column, no name
    QCOMPARE(unnamed.cell(0, 0), u"a"_qs);
    ResultTable same(true);
    same.appendRows({{u"a"_qs, 1}}, u"x.txt"_qs);
    same.appendRows({{u"a"_qs, 1}}, u"x.txt"_qs);
    same.appendTable(unnamed.hasFileNameColumn() ? unnamed : same);
    QCOMPARE(same.fileCount(), 4);
    QCOMPARE(same.fileIndex(1), 1);
    QCOMPARE(same.fileIndex(3), 3);
    QCOMPARE(same.cell(3, 0), u"x.txt"_qs);
}

// The words lie side by side in shared blocks: many blocks, a word larger than any block, copies
// that change apart, and a table appended to itself must all keep every word as it was.
void TestEngine::resultTableKeepsEveryWord()
{
    std::vector<WordCount> rows;
    for (int i = 0; i < 20000; ++i)
        rows.push_back({u"w"_qs + QString::number(i) + (i % 3 ? kHigh : u"\u00e9"_qs), i});
    rows.push_back({QString((1 << 20) + 5, u'x'), 1});
    rows.push_back({QString(), 2});
    rows.push_back({u"after"_qs, 3});
    ResultTable t(true);
    t.appendRows(rows, u"a"_qs);
    const ResultTable before = t;
    t.appendRows({{u"more"_qs, 4}}, u"b"_qs);
    t.appendTable(before);
    QCOMPARE(before.rowCount(), qsizetype(rows.size()));
    QCOMPARE(t.rowCount(), 2 * before.rowCount() + 1);
    for (qsizetype i = 0; i < before.rowCount(); ++i) {
        QVERIFY(before.word(i) == rows[size_t(i)].word);
        QVERIFY(t.wordView(i) == rows[size_t(i)].word);
        QVERIFY(t.wordView(before.rowCount() + 1 + i) == rows[size_t(i)].word);
        QCOMPARE(t.cellLength(i, 1), rows[size_t(i)].word.size());
    }
    QCOMPARE(t.cell(before.rowCount(), 1), u"more"_qs);
    QCOMPARE(t.fileName(t.rowCount() - 1), u"a"_qs);
    // The word larger than any block is never copied: the rows, both tables and the copy made
    // by appending share it.
    const qsizetype big = qsizetype(rows.size()) - 3;
    QCOMPARE(before.wordView(big).data(), rows[size_t(big)].word.constData());
    QCOMPARE(t.wordView(before.rowCount() + 1 + big).data(), rows[size_t(big)].word.constData());

    ResultTable self(false);
    self.appendRows({{u"one"_qs, 1}, {u"two"_qs, 2}});
    self.appendTable(self);
    QCOMPARE(self.rowCount(), 4);
    QCOMPARE(self.word(3), u"two"_qs);
    QCOMPARE(self.total(), 6);
}

void TestEngine::runModes()
{
    ListSource src;
    src.texts[u"/d/a.txt"_qs] = u"b a b"_qs; // no final CR: glues to the next text when combined
    src.texts[u"/d/empty.txt"_qs] = QString();
    src.texts[u"/d/c.txt"_qs] = u"a\rc\r"_qs;
    const QStringList paths{u"/d/a.txt"_qs, u"/d/empty.txt"_qs, u"/d/c.txt"_qs};

    ResultTable combined = runAnalysis(paths, {CountMode::Combined, true, false}, src);
    QCOMPARE(clipboardText(combined), u"a \t1\r\nb \t1\r\nba\t1\r\nc \t1\r\n"_qs);
    QCOMPARE(combined.total(), 4);
    QCOMPARE(src.read, paths);

    ResultTable perFile = runAnalysis(paths, {CountMode::PerFile, true, false}, src);
    QCOMPARE(clipboardText(perFile),
             u"a.txt\ta\t1\r\na.txt\tb\t2\r\nc.txt\ta\t1\r\nc.txt\tc\t1\r\n"_qs);
    QCOMPARE(perFile.total(), 5);

    ResultTable noName = runAnalysis(paths, {CountMode::PerFile, false, false}, src);
    QCOMPARE(clipboardText(noName), u"a\t1\r\nb\t2\r\na\t1\r\nc\t1\r\n"_qs);
    QVERIFY(runAnalysis({u"/d/empty.txt"_qs}, {}, src).isEmpty());
}

void TestEngine::runReportsFailuresAndGoesOn()
{
    ThrowingSource src;
    QStringList messages;
    FunctionErrorReporter reporter([&](const QString &m) { messages << m; });
    const ResultTable t = runAnalysis({u"x"_qs, u"y"_qs}, {CountMode::PerFile, true, true}, src,
                                      nullptr, &reporter);
    QVERIFY(t.isEmpty());
    QCOMPARE(messages.size(), 2);
    QCOMPARE(messages.at(0), u"Out of memory while counting x.\r\nin Pellago5/20/2014.Form1.Start at line 274\r\r"
                             "Please email screenshot of this message to support@quillmark.example"_qs);
    messages.clear();
    runAnalysis({u"x"_qs}, {CountMode::Combined, true, true}, src, nullptr, &reporter);
    QCOMPARE(messages.size(), 1);
    QVERIFY(messages.at(0).contains(u"at line 122"_qs));
}

// A file whose reading fails after part of its text was handed on adds no words, in either mode;
// the files around it count as they would alone.
void TestEngine::incompleteFilesContributeNothing()
{
    FailingSource src;
    src.texts[u"/d/a"_qs] = u"one two two\r"_qs;
    src.texts[u"/d/b"_qs] = u"two three three\rfour four four four\r"_qs;
    src.texts[u"/d/c"_qs] = u"one\r"_qs;
    src.texts[u"/d/d"_qs] = u"five five\r"_qs;
    src.failing = {u"/d/b"_qs};
    src.throwing = {u"/d/d"_qs};
    const QStringList paths{u"/d/a"_qs, u"/d/b"_qs, u"/d/c"_qs, u"/d/d"_qs};
    QStringList messages;
    FunctionErrorReporter reporter([&](const QString &m) { messages << m; });

    QStringList names;
    const ResultTable perFile =
            runAnalysis(paths, {CountMode::PerFile, true, true}, src, nullptr, &reporter);
    runAnalysisRows(paths, {CountMode::PerFile, true, true}, src,
                    [&](CountedRows &&rows, const QString &name) {
                        names << name + u'=' + QString::number(rows.size());
                    });
    QCOMPARE(clipboardText(perFile), u"a\tone\t1\r\na\ttwo\t2\r\nc\tone\t1\r\n"_qs);
    QCOMPARE(names, (QStringList{u"a=2"_qs, u"b=0"_qs, u"c=1"_qs, u"d=0"_qs}));
    QCOMPARE(messages.size(), 1); // the throw
    QVERIFY(messages.at(0).contains(u"at line 274"_qs));

    messages.clear();
    const ResultTable combined =
            runAnalysis(paths, {CountMode::Combined, true, true}, src, nullptr, &reporter);
    QCOMPARE(clipboardText(combined), u"one\t2\r\ntwo\t2\r\n"_qs);
    QCOMPARE(combined.total(), 4);
    QCOMPARE(messages.size(), 1);
    QVERIFY(messages.at(0).contains(u"at line 122"_qs));
}

// More files than the run keeps in flight: blocks still come one per file, in list order, and a
// sink that fails on one file is reported while the later files still arrive.
void TestEngine::rowsReachTheSinkFileByFile()
{
    ListSource src;
    QStringList paths;
    for (int i = 0; i < 9; ++i) {
        paths << u"/d/f"_qs + QString::number(i);
        src.texts[paths.constLast()] = i == 4 ? QString() : QString(u"w "_qs).repeated(i + 1) + u"v"_qs;
    }
    QStringList names;
    QList<qint64> counts;
    QStringList messages;
    FunctionErrorReporter reporter([&](const QString &m) { messages << m; });
    runAnalysisRows(
            paths, {CountMode::PerFile, true, true}, src,
            [&](CountedRows &&rows, const QString &name) {
                names << name;
                counts << (rows.empty() ? 0 : rows.count(rows.size() - 1));
                if (name == u"f6")
                    throw std::bad_alloc();
            },
            nullptr, &reporter);
    QCOMPARE(names, (QStringList{u"f0"_qs, u"f1"_qs, u"f2"_qs, u"f3"_qs, u"f4"_qs, u"f5"_qs,
                                 u"f6"_qs, u"f7"_qs, u"f8"_qs}));
    QCOMPARE(counts, (QList<qint64>{1, 2, 3, 4, 0, 6, 7, 8, 9})); // "w" last: the most frequent
    QCOMPARE(messages.size(), 1);
    QVERIFY(messages.at(0).contains(u"at line 396"_qs));

    // Without the file name column the name is not handed on; combined is one block.
    names.clear();
    runAnalysisRows(paths, {CountMode::PerFile, false, true}, src,
                    [&](CountedRows &&, const QString &name) { names << name; });
    QCOMPARE(names, QStringList(9, QString()));
    int blocks = 0;
    runAnalysisRows(paths, {CountMode::Combined, true, true}, src,
                    [&](CountedRows &&rows, const QString &name) {
                        ++blocks;
                        QVERIFY(name.isEmpty());
                        QVERIFY(!rows.empty());
                    });
    QCOMPARE(blocks, 1);
}

void TestEngine::matchesOracle_data()
{
    QTest::addColumn<QStringList>("oracleArgs");
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("withFileName");
    QTest::addColumn<bool>("ignoreCase");
    QTest::newRow("combined, ignore case") << QStringList{u"--combined"_qs, u"--ignore-case"_qs}
                                           << int(CountMode::Combined) << false << true;
    QTest::newRow("combined, keep case") << QStringList{u"--combined"_qs} << int(CountMode::Combined)
                                         << false << false;
    QTest::newRow("per file with names")
            << QStringList{u"--per-file"_qs, u"--with-filename"_qs, u"--ignore-case"_qs}
            << int(CountMode::PerFile) << true << true;
}

void TestEngine::matchesOracle()
{
    QFETCH(QStringList, oracleArgs);
    QFETCH(int, mode);
    QFETCH(bool, withFileName);
    QFETCH(bool, ignoreCase);
    const QString bench = QStringLiteral(CORVALEN_SHARED_DIR "/bench");
    if (!QFile::exists(bench + u"/oracle.py"_qs))
        QSKIP("the reference counter is not beside the project");

    static QTemporaryDir dir;
    static QStringList files;
    if (files.isEmpty()) {
        for (const QString &eol : {u"mixed"_qs, u"cr"_qs}) {
            const QString out = dir.filePath(u"c-"_qs + eol + u".txt"_qs);
            QCOMPARE(QProcess::execute(u"python3"_qs, {bench + u"/make_corpus.py"_qs, u"--size"_qs,
                                                       u"0.5"_qs, u"--eol"_qs, eol, u"--seed"_qs,
                                                       QString::number(files.size() + 3),
                                                       u"--out"_qs, out}),
                     0);
            files << out;
        }
    }
    QProcess oracle;
    oracle.start(u"python3"_qs, QStringList{bench + u"/oracle.py"_qs} + oracleArgs + files);
    QVERIFY(oracle.waitForFinished(120000));
    QCOMPARE(oracle.exitCode(), 0);
    const QString expected = QString::fromUtf8(oracle.readAllStandardOutput());
    const QString expectedTotal = QString::fromUtf8(oracle.readAllStandardError()).trimmed();

    Utf8FileSource source;
    const ResultTable t = runAnalysis(files, {CountMode(mode), withFileName, ignoreCase}, source);
    QCOMPARE(u"total "_qs + QString::number(t.total()), expectedTotal);
    QVERIFY(clipboardText(t) == expected); // QCOMPARE would print megabytes
}

void TestEngine::jobRunsOffThreadAndReportsOnCaller()
{
    // A source that fails once, from the worker thread, then gives text.
    struct Source : TextSource
    {
        QThread *readThread = nullptr;
        bool readText(const QString &path, const Sink &sink) override
        {
            readThread = QThread::currentThread();
            if (path == u"bad"_qs)
                throw std::bad_alloc();
            sink(u"b a b\r"_qs);
            return true;
        }
    } source;
    QThread *reportThread = nullptr;
    QStringList messages;
    FunctionErrorReporter reporter([&](const QString &m) {
        reportThread = QThread::currentThread();
        messages << m;
    });

    AnalysisJob job;
    QSignalSpy finished(&job, &AnalysisJob::finished);
    QSignalSpy progress(&job, &AnalysisJob::progressChanged);
    QVERIFY(job.start({u"bad"_qs, u"good"_qs}, {CountMode::PerFile, false, true}, &source, &reporter));
    QVERIFY(job.isRunning());
    QVERIFY(!job.start({u"good"_qs}, {}, &source, &reporter)); // a second start is ignored
    QVERIFY(finished.wait(10000));
    QVERIFY(!job.isRunning());
    QVERIFY(source.readThread != QThread::currentThread());
    QCOMPARE(reportThread, QThread::currentThread());
    QCOMPARE(messages.size(), 1);
    QVERIFY(messages.at(0).contains(u"at line 274"_qs));
    const auto table = finished.at(0).at(0).value<ResultTable>();
    QCOMPARE(clipboardText(table), u"a\t1\r\nb\t2\r\n"_qs);
    QVERIFY(!progress.isEmpty());
}

void TestEngine::progressIsRateLimitedAndCancels()
{
    QList<std::tuple<Phase, qint64, qint64>> seen;
    Progress progress([&](Phase p, qint64 d, qint64 t) { seen.append({p, d, t}); }, 3'600'000);
    for (qint64 i = 1; i <= 1000; ++i)
        progress.report(Phase::Reading, i, 1000);
    progress.report(Phase::Ordering, 0, 1);
    // The first report, the end of the phase and the phase change pass; the rest wait.
    QCOMPARE(seen.size(), 3);
    QCOMPARE(std::get<1>(seen.at(1)), 1000);
    QCOMPARE(std::get<0>(seen.at(2)), Phase::Ordering);

    // Cancelling stops the run between chunks: the second file is never read.
    ListSource src;
    src.texts[u"a"_qs] = u"one two three"_qs;
    src.texts[u"b"_qs] = u"four"_qs;
    Progress cancelling([&](Phase, qint64, qint64) {});
    cancelling.cancel();
    runAnalysis({u"a"_qs, u"b"_qs}, {CountMode::Combined, false, true}, src, &cancelling);
    QVERIFY(src.read.isEmpty());
}

void TestEngine::utf8FileLineEndsAcrossBlocks()
{
    // The file is read in blocks of 1 MiB: a CR LF pair or an LF LF pair cut by a block boundary
    // must still end paragraphs, never leave a line feed inside a word.
    QTemporaryDir dir;
    const qsizetype block = qsizetype(1) << 20;
    const QList<QByteArray> cases = {
        QByteArray(block - 2, 'a') + " x\r\ny\r\n",
        QByteArray(block - 2, 'a') + " x\n\ny\n",
        QByteArray(block - 1, 'a') + "\r\ny",
        "\xEF\xBB\xBFx\ry\nz\r\n",
    };
    for (const QByteArray &bytes : cases) {
        const QString path = dir.filePath(u"t.txt"_qs);
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
        f.close();
        Utf8FileSource source;
        QString text;
        QVERIFY(source.readText(path, [&](QStringView chunk) { text += chunk; }));
        QVERIFY(!text.contains(u'\n'));
        QVERIFY(text.endsWith(u'\r'));
        QVERIFY(!text.startsWith(QChar(0xFEFF)));
        QVERIFY(!Utf8FileSource().readText(dir.filePath(u"missing.txt"_qs), [](QStringView) {}));
        QString expected = QString::fromUtf8(bytes);
        expected.remove(QChar(0xFEFF));
        expected.replace(u"\r\n"_qs, u"\r"_qs).replace(u'\n', u'\r');
        if (!expected.endsWith(u'\r'))
            expected += u'\r';
        QCOMPARE(text.size(), expected.size());
        QVERIFY(text == expected);
    }
}

void TestEngine::textDecoderMatchesQt()
{
    // The UTF-8 decoder must give what Qt's decoder gives for the whole file, wherever the blocks
    // are cut: well-formed text, malformed and cut-off sequences, byte order marks, and line
    // ends of every kind.
    static const QList<QByteArray> pieces = {
        "word", "The quick brown fox jumps over", " ", "\r", "\n", "\r\n", "\n\r", "\t",
        "\xC3\xA9t\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xEF\xBF\xBF", "\xEF\xBB\xBF",
        "\xD0\x9F\xD1\x80\xD0\xB8", "\xE4\xBD\xA0\xE5\xA5\xBD", "\xF4\x8F\xBF\xBF",
        "\x80", "\xBF", "\xC0\xAF", "\xC2", "\xE0\x80\x80", "\xE0\xA0", "\xED\xA0\x80",
        "\xF4\x90\x80\x80", "\xF5\x80", "\xFF", "\xF0\x9F", "\xE2\x28\xA1"};
    const auto normalised = [](const QString &text) {
        QString out;
        for (qsizetype i = 0; i < text.size(); ++i) {
            if (text[i] == u'\n' && i > 0 && text[i - 1] == u'\r')
                continue;
            out += text[i] == u'\n' ? QChar(u'\r') : text[i];
        }
        return out;
    };
    QRandomGenerator rng(20261207);
    for (int round = 0; round < 3000; ++round) {
        QByteArray bytes;
        const bool clean = round % 3 == 0; // a third without malformed bytes: the fast path throughout
        const int count = rng.bounded(1, 60);
        if (rng.bounded(4) == 0)
            bytes += "\xEF\xBB\xBF";
        for (int i = 0; i < count; ++i) {
            const QByteArray &piece = pieces.at(rng.bounded(clean ? 16 : int(pieces.size())));
            bytes += piece;
        }
        TextDecoder ours;
        QString got, block;
        for (qsizetype at = 0; at < bytes.size();) {
            const int longest = round % 2 ? 48 : 400; // short blocks cut more characters
            const qsizetype n = std::min<qsizetype>(bytes.size() - at, rng.bounded(1, longest));
            ours.decode(QByteArrayView(bytes.constData() + at, n), block);
            got += block;
            at += n;
        }
        const QString expected = normalised(QStringDecoder(QStringDecoder::Utf8)(bytes));
        if (got != expected) {
            qWarning() << "bytes" << bytes.toHex(' ');
            QCOMPARE(got, expected);
        }
    }

    // Other encodings go through Qt, with the same line ends.
    TextDecoder latin(QStringDecoder("windows-1252"));
    QString a, b;
    latin.decode("caf\xE9\r", a);
    latin.decode("\nna\xEFve\n", b);
    QCOMPARE(a + b, u"caf\u00e9\rna\u00efve\r"_qs);
}

void TestEngine::textDecoderJoinsLines_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("expected"); // the text joined, paragraph ends as CR
    QTest::newRow("hard-wrapped lines") << QByteArray("It was a very\nhappy day.\n") << u"It was a very happy day.\r"_qs;
    QTest::newRow("an empty line ends the paragraph")
            << QByteArray("one\ntwo\n\nthree\nfour") << u"one two \rthree four\r"_qs;
    QTest::newRow("CR LF and lone CR") << QByteArray("one\r\ntwo\r\n\r\nthree\rfour\r\rfive")
                                       << u"one two \rthree four \rfive\r"_qs;
    QTest::newRow("a line of spaces and tabs is empty")
            << QByteArray("one\n  \t \ntwo\n\t\nthree") << u"one   \t \rtwo \t\rthree\r"_qs;
    QTest::newRow("spaces before a line end") << QByteArray("one  \ntwo \n") << u"one   two \r"_qs;
    QTest::newRow("a form feed ends the paragraph") << QByteArray("end of page\n\fnext page\ngoes on\f")
                                                    << u"end of page \rnext page goes on\r"_qs;
    QTest::newRow("several empty lines") << QByteArray("a\n\n\n\nb\n\n") << u"a \r\r\rb \r"_qs;
    QTest::newRow("empty lines first") << QByteArray("\n\r\n  \nword") << u"\r\r  \rword\r"_qs;
    QTest::newRow("the file's last line end") << QByteArray("last line\r\n") << u"last line\r"_qs;
    QTest::newRow("a hyphen at a line end stays") << QByteArray("a hyphen-\nated word") << u"a hyphen- ated word\r"_qs;
    QTest::newRow("empty file") << QByteArray() << u"\r"_qs;
    QTest::newRow("only line ends") << QByteArray("\n\n") << u"\r\r"_qs;
}

void TestEngine::textDecoderJoinsLines()
{
    // The same text however the file is cut into blocks: a line end, a CR LF, an empty line or
    // the file's last line end may fall at a block's end.
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);
    for (int blockSize = 1; blockSize <= std::max<int>(1, int(bytes.size())); ++blockSize) {
        QBuffer device(&bytes);
        QVERIFY(device.open(QIODevice::ReadOnly));
        QByteArray block(blockSize, Qt::Uninitialized);
        const qint64 have = device.read(block.data(), block.size());
        TextDecoder decoder;
        decoder.setJoinLines(true);
        QString text;
        QVERIFY(decoder.decodeAll(device, block, have, [&](QStringView chunk) { text += chunk; }));
        QCOMPARE(text, expected);
    }
}

QTEST_GUILESS_MAIN(TestEngine)
// The UTF-8 written in place, eight ASCII units at a time and the rest one by one, is Qt's: every
// kind of character at every place around a block of eight, pairs across a block's end, and
// surrogates without their pair ('?') at either end, whatever follows.
void TestEngine::utf8WriterMatchesQt()
{
    const QList<QString> kinds = {u"\u00e9"_qs, u"\u65e5"_qs, u"\U0001F600"_qs, QString(QChar(0xD800)),
                                  QString(QChar(0xDC00)), u"\u007f"_qs, u"\u0080"_qs, u"\u07ff"_qs, u"\u0800"_qs};
    QList<QString> texts = {QString(), u"a"_qs, u"abcdefgh"_qs, u"abcdefghijklmnopq"_qs};
    for (const QString &kind : kinds) {
        for (int at = 0; at <= 18; ++at) {
            const QString ascii = u"abcdefghijklmnopqrstu"_qs;
            texts << ascii.left(at) + kind + ascii.mid(at) << ascii.left(at) + kind << kind + kind + ascii.left(at);
        }
    }
    for (const QString &text : std::as_const(texts)) {
        QByteArray out(3 * text.size(), '\0');
        out.truncate(putUtf8(out.data(), text) - out.constData());
        QCOMPARE(out, text.toUtf8());
    }
}

#include "tst_engine.moc"
