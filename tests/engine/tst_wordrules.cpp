// The word rules: each against expectations worked out here by other means (ICU's word-break
// iterator called directly, the general categories of Qt, libstemmer called directly, phrases
// slid over the words by hand), and the count against the word finder for combinations of them.
#include "referencemodel.h"

#include "base/errorreport.h"
#include "engine/analysisrun.h"
#include "engine/countedrows.h"
#include "engine/wordrules.h"
#include "engine/wordtally.h"

#include <QFile>
#include <QHash>
#include <QMap>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <libstemmer.h>
#include <unicode/ubrk.h>

#include <map>

using namespace corvalen;

Q_DECLARE_METATYPE(corvalen::WordRules)

namespace {

struct Piece
{
    QString word; // cleaned
    qsizetype start = 0;
    qsizetype end = 0;

    bool operator==(const Piece &) const = default;
};

QString describe(const QList<Piece> &pieces)
{
    QStringList parts;
    for (const Piece &p : pieces)
        parts << u"%1@%2-%3"_qs.arg(p.word).arg(p.start).arg(p.end);
    return parts.join(u' ');
}

// The words ICU's word-break iterator finds in the whole text: pieces with a word status,
// cleaned by the plain rules.
QList<Piece> icuWords(const QString &text, bool ignoreCase)
{
    QList<Piece> pieces;
    UErrorCode status = U_ZERO_ERROR;
    UBreakIterator *breaks = ubrk_open(UBRK_WORD, "", reinterpret_cast<const UChar *>(text.utf16()),
                                       int32_t(text.size()), &status);
    if (U_FAILURE(status))
        return pieces;
    int32_t from = ubrk_first(breaks);
    for (int32_t to = ubrk_next(breaks); to != UBRK_DONE; from = to, to = ubrk_next(breaks)) {
        if (ubrk_getRuleStatus(breaks) < UBRK_WORD_NONE_LIMIT)
            continue;
        const QString word = reference::cleanWord(text.mid(from, to - from), ignoreCase);
        if (!word.isEmpty())
            pieces.append({word, from, to});
    }
    ubrk_close(breaks);
    return pieces;
}

QList<Piece> found(WordFinder &finder, const QString &text)
{
    QList<Piece> pieces;
    finder.findWords(text, [&](const FoundWord &w) { pieces.append({w.word.toString(), w.rawStart, w.rawEnd}); });
    return pieces;
}

QStringList words(const QList<Piece> &pieces)
{
    QStringList out;
    for (const Piece &p : pieces)
        out << p.word;
    return out;
}

std::unique_ptr<WordFinder> finderFor(const WordRules &rules, bool ignoreCase = true)
{
    QString error;
    auto finder = WordFinder::create(rules, ignoreCase, &error);
    if (!finder)
        qWarning("%s", qPrintable(error));
    return finder;
}

WordRules unicodeRules()
{
    WordRules r;
    r.words = WordRules::Words::Unicode;
    return r;
}

WordRules corpusRules(WordRules::Hyphens hyphens = WordRules::Hyphens::Join)
{
    WordRules r;
    r.words = WordRules::Words::Corpus;
    r.hyphens = hyphens;
    return r;
}

// Corpus words worked out the slow way, from the rule as the README states it: the word pieces
// of ICU's iterator over the whole text, cut at every punctuation character (Qt's categories)
// except an apostrophe between letters, a full stop or comma between digits and a hyphen between
// letters or digits; then the words on both sides of a single hyphen between letters or digits
// joined. Apostrophes are written U+0027, hyphens U+002D.
enum class Kind { Letter, Digit, Numeral, Apostrophe, NumberMark, Hyphen, Punctuation, Other, None };

Kind corpusKind(char32_t c)
{
    if (c == u'\'' || c == 0x2019 || c == 0x2BC)
        return Kind::Apostrophe;
    if (c == u'.' || c == u',' || c == 0x66B || c == 0x66C)
        return Kind::NumberMark;
    if (c == u'-' || c == 0x2010 || c == 0x2011)
        return Kind::Hyphen;
    if (QChar::isLetter(c) || QChar::isMark(c))
        return Kind::Letter;
    if (QChar::category(c) == QChar::Number_DecimalDigit)
        return Kind::Digit;
    if (QChar::isNumber(c))
        return Kind::Numeral;
    return QChar::isPunct(c) ? Kind::Punctuation : Kind::Other;
}

bool letterOrDigit(Kind k)
{
    return k == Kind::Letter || k == Kind::Digit || k == Kind::Numeral;
}

QList<Piece> corpusReference(const QString &text, bool ignoreCase, bool joinHyphens)
{
    QList<Piece> runs;
    UErrorCode status = U_ZERO_ERROR;
    UBreakIterator *breaks = ubrk_open(UBRK_WORD, "", reinterpret_cast<const UChar *>(text.utf16()),
                                       int32_t(text.size()), &status);
    if (U_FAILURE(status))
        return runs;
    int32_t from = ubrk_first(breaks);
    for (int32_t to = ubrk_next(breaks); to != UBRK_DONE; from = to, to = ubrk_next(breaks)) {
        if (ubrk_getRuleStatus(breaks) < UBRK_WORD_NONE_LIMIT)
            continue;
        struct Unit { qsizetype at; qsizetype size; Kind kind; };
        QList<Unit> units;
        for (qsizetype i = from; i < to;) {
            const bool pair = text.at(i).isHighSurrogate() && i + 1 < to && text.at(i + 1).isLowSurrogate();
            const char32_t c = pair ? QChar::surrogateToUcs4(text.at(i), text.at(i + 1)) : text.at(i).unicode();
            units.append({i, pair ? 2 : 1, corpusKind(c)});
            i += pair ? 2 : 1;
        }
        qsizetype start = -1;
        for (qsizetype k = 0; k < units.size(); ++k) {
            const Kind before = k > 0 ? units[k - 1].kind : Kind::None;
            const Kind after = k + 1 < units.size() ? units[k + 1].kind : Kind::None;
            bool keep = true;
            switch (units[k].kind) {
            case Kind::Apostrophe: keep = before == Kind::Letter && after == Kind::Letter; break;
            case Kind::NumberMark: keep = before == Kind::Digit && after == Kind::Digit; break;
            case Kind::Hyphen: keep = joinHyphens && letterOrDigit(before) && letterOrDigit(after); break;
            case Kind::Punctuation: keep = false; break;
            default: break;
            }
            if (keep && start < 0)
                start = units[k].at;
            if (!keep && start >= 0) {
                runs.append({QString(), start, units[k].at});
                start = -1;
            }
        }
        if (start >= 0)
            runs.append({QString(), start, to});
    }
    ubrk_close(breaks);
    const auto kindAt = [&](qsizetype i, bool last) {
        if (last && i > 0 && text.at(i).isLowSurrogate() && text.at(i - 1).isHighSurrogate())
            return corpusKind(QChar::surrogateToUcs4(text.at(i - 1), text.at(i)));
        if (!last && text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            return corpusKind(QChar::surrogateToUcs4(text.at(i), text.at(i + 1)));
        return corpusKind(text.at(i).unicode());
    };
    QList<Piece> words;
    for (const Piece &run : std::as_const(runs)) {
        if (joinHyphens && !words.isEmpty() && words.last().end + 1 == run.start
            && corpusKind(text.at(run.start - 1).unicode()) == Kind::Hyphen
            && letterOrDigit(kindAt(words.last().end - 1, true)) && letterOrDigit(kindAt(run.start, false)))
            words.last().end = run.end;
        else
            words.append(run);
    }
    for (Piece &w : words) {
        QString word = text.mid(w.start, w.end - w.start);
        for (QChar &c : word) {
            if (c == u'\u2019' || c == u'\u02bc')
                c = u'\'';
            else if (c == u'\u2010' || c == u'\u2011')
                c = u'-';
        }
        w.word = ignoreCase ? reference::lowerSimple(word) : word;
    }
    return words;
}

QString randomUnicodeText(QRandomGenerator &rng, int pieces);

// Random text of the cases corpus words treat apart, among those of Unicode words.
QString randomCorpusText(QRandomGenerator &rng, int pieces)
{
    static const QStringList vocabulary = {
        u"don't"_qs, u"Don\u2019t"_qs, u"don\u02bct"_qs, u"l'homme"_qs, u"o\u2019clock"_qs, u"\u02bctis"_qs,
        u"dogs'"_qs, u"'tis"_qs, u"'"_qs, u"x'"_qs, u"rock'n'roll"_qs, u"1990's"_qs, u"a''b"_qs, u"well-known"_qs,
        u"x\u2010y"_qs, u"a\u2011b"_qs, u"Willoughby--but"_qs, u"a-b-c"_qs, u"-lead"_qs, u"trail-"_qs, u"-"_qs,
        u"a-'b"_qs, u"3,141.5"_qs, u"1.5."_qs, u",5"_qs, u"1,,2"_qs, u"\u0663\u066b\u0661"_qs,
        u"\u0661\u066c\u0660\u0660\u0660"_qs, u"\u066b1"_qs, u"COVID-19"_qs, u"c'est-\u00e0-dire"_qs,
        u"\u043c'\u044f\u0441\u043e"_qs, u"a_b"_qs, u"e-\u0301m"_qs, u"cafe\u0301's"_qs,
        u"\U00010400-\U00010428"_qs, u"\U00010400'\U00010428"_qs, u"\u6771\u4eac-\u5927\u962a"_qs,
        u"\u2167-\u2168"_qs, u"\u05d0'\u05d1"_qs, u"\u05d0\"\u05d1"_qs, u"a\u00b7b"_qs, u"x:y"_qs,
        u"U.S.A."_qs, u"1\u20442"_qs, u"5\ufe506"_qs, u"a\u200d-b"_qs, u"-\u200db"_qs};
    QString text;
    for (int i = 0; i < pieces; ++i) {
        if (rng.bounded(3) == 0) {
            text += randomUnicodeText(rng, 1);
            continue;
        }
        text += vocabulary.at(rng.bounded(int(vocabulary.size())));
        static const QStringList gaps = {u" "_qs, u" "_qs, u""_qs, u"-"_qs, u"\r"_qs, u"'"_qs, u"."_qs, u"\u2014"_qs};
        text += gaps.at(rng.bounded(int(gaps.size())));
    }
    return text;
}

// Every character of the general categories P* deleted, as Qt classifies them.
QString withoutPunctuation(const QString &word)
{
    QString out;
    const QList<uint> codePoints = word.toUcs4();
    for (const uint c : codePoints) {
        const QChar::Category cat = QChar::category(char32_t(c));
        if (cat < QChar::Punctuation_Connector || cat > QChar::Punctuation_Other)
            out += QString::fromUcs4(reinterpret_cast<const char32_t *>(&c), 1);
    }
    return out;
}

QString stemOf(const QString &word, const char *language)
{
    sb_stemmer *stemmer = sb_stemmer_new(language, "UTF_8");
    const QByteArray utf8 = word.toLower().toUtf8();
    const sb_symbol *stem = sb_stemmer_stem(stemmer, reinterpret_cast<const sb_symbol *>(utf8.constData()),
                                            int(utf8.size()));
    const QString out = QString::fromUtf8(reinterpret_cast<const char *>(stem), sb_stemmer_length(stemmer));
    sb_stemmer_delete(stemmer);
    return out;
}

std::vector<WordCount> countText(const WordFinder &finder, const QStringList &files, qsizetype chunk)
{
    WordTally tally(finder);
    for (const QString &text : files) {
        tally.beginFile();
        for (qsizetype at = 0; at < text.size(); at += chunk)
            tally.feed(QStringView(text).mid(at, chunk));
        tally.endFile(true);
    }
    tally.finish();
    return tally.takeOrdered();
}

// The rows the finder's words make, file by file, grouped by their keys: what the count must give.
std::vector<WordCount> rowsFromFinder(WordFinder &finder, const QStringList &files)
{
    std::map<QString, qint64> forms;
    for (const QString &text : files)
        finder.findWords(text, [&](const FoundWord &w) { ++forms[w.word.toString()]; });
    std::map<QString, std::vector<WordCount>> groups;
    for (const auto &[form, n] : forms)
        groups[finder.groupKey(form)].push_back({form, n});
    std::vector<WordCount> rows;
    for (auto &[key, members] : groups) {
        std::stable_sort(members.begin(), members.end(),
                         [](const WordCount &a, const WordCount &b) { return a.count > b.count; });
        qint64 sum = 0;
        for (const WordCount &m : members)
            sum += m.count;
        auto shared = finder.groupsWords() ? std::make_shared<const std::vector<WordCount>>(members) : nullptr;
        rows.push_back({members.front().word, sum, shared});
    }
    orderRows(rows);
    return rows;
}

QString firstDifference(const std::vector<WordCount> &a, const std::vector<WordCount> &b)
{
    for (size_t i = 0; i < std::max(a.size(), b.size()); ++i) {
        if (i >= a.size() || i >= b.size())
            return u"row %1: one list ends (%2 against %3 rows)"_qs.arg(i).arg(a.size()).arg(b.size());
        if (!(a[i] == b[i])) {
            const auto forms = [](const WordCount &w) {
                QStringList f;
                if (w.forms) {
                    for (const WordCount &m : *w.forms)
                        f << m.word + u':' + QString::number(m.count);
                }
                return f.join(u' ');
            };
            return u"row %1: [%2]=%3 (%4) against [%5]=%6 (%7)"_qs.arg(i)
                    .arg(a[i].word).arg(a[i].count).arg(forms(a[i]))
                    .arg(b[i].word).arg(b[i].count).arg(forms(b[i]));
        }
    }
    return QString();
}

QString rowsText(const std::vector<WordCount> &rows, qsizetype limit = 40)
{
    QStringList parts;
    for (const WordCount &w : rows) {
        if (parts.size() == limit) {
            parts << u"..."_qs;
            break;
        }
        parts << w.word + u'=' + QString::number(w.count);
    }
    return parts.join(u", ");
}

// Random text from pieces that exercise the Unicode word boundaries: scripts with and without
// dictionaries, marks, joiners, emoji, the characters that join letters and digits, spaces of
// several kinds and paragraph ends.
QString randomUnicodeText(QRandomGenerator &rng, int pieces)
{
    static const QStringList vocabulary = {
        u"the"_qs, u"The"_qs, u"don't"_qs, u"don\u2019t"_qs, u"e-mail"_qs, u"U.S.A."_qs, u"3.14"_qs,
        u"1,000"_qs, u"12:30"_qs, u"a:b"_qs, u"x_y"_qs, u"_z"_qs, u"\u201cquoted\u201d"_qs,
        u"end\u2014start"_qs, u"wait\u2026"_qs, u"\u00abguillemets\u00bb"_qs, u"Stra\u00dfe"_qs,
        u"na\u00efve"_qs, u"cafe\u0301"_qs, u"\u0301x"_qs, u"\u00b7"_qs, u"l\u00b7l"_qs,
        u"\u0416\u0443\u043a"_qs, u"\u03a3\u039f\u03a3"_qs, u"\u05e9\u05dc\u05d5\u05dd"_qs,
        u"\u05d0\"\u05d1"_qs, u"\u0627\u0644\u0639\u0631\u0628\u064a\u0629"_qs,
        u"\u0939\u093f\u0928\u094d\u0926\u0940"_qs, u"\u6211\u4eec\u5728\u5317\u4eac"_qs,
        u"\u3072\u3089\u304c\u306a"_qs, u"\u30ab\u30bf\u30ab\u30ca"_qs, u"\u0e20\u0e32\u0e29\u0e32\u0e44\u0e17\u0e22"_qs,
        u"\ud55c\uad6d\uc5b4"_qs, u"\U0001F642"_qs, u"\U0001F44D\U0001F3FD"_qs, u"\U0001F1E9\U0001F1EA"_qs,
        u"a\u200db"_qs, u"\u200d\U0001F642"_qs, u"soft\u00adhyphen"_qs, u"\uff21\uff22"_qs,
        u"\u0663\u0664"_qs, u"1\u20242"_qs, u"3\uff0e4"_qs, u"5\ufe506"_qs, u"x.y"_qs, u"2.b"_qs,
        u"(paren)"_qs, u"\"dq\""_qs, u"'sq'"_qs, u"--"_qs, u"..."_qs, u"&"_qs, u"#tag"_qs,
        u"a@b.c"_qs, u"50%"_qs, u"\U00010400\U00010428"_qs, u"\u00a0"_qs, u"007"_qs, u"A1b2"_qs};
    static const QStringList gaps = {u" "_qs, u" "_qs, u" "_qs, u"  "_qs, u"\t"_qs, u"\r"_qs,
                                     u"\r\r"_qs, u""_qs, u"\u3000"_qs, u"\u00a0"_qs, u" \u0301"_qs,
                                     u"\n"_qs, u" \u200d"_qs};
    QString text;
    for (int i = 0; i < pieces; ++i) {
        text += vocabulary.at(rng.bounded(int(vocabulary.size())));
        text += gaps.at(rng.bounded(int(gaps.size())));
    }
    return text;
}

// Text of English words with punctuation, capitals and paragraph ends, for the combinations.
QString randomEnglish(QRandomGenerator &rng, int pieces)
{
    static const QStringList vocabulary = {
        u"the"_qs, u"The"_qs, u"of"_qs, u"and"_qs, u"running"_qs, u"Runs"_qs, u"run"_qs, u"ran"_qs,
        u"runner"_qs, u"connection"_qs, u"connected"_qs, u"connecting"_qs, u"Connect,"_qs,
        u"don't"_qs, u"won't"_qs, u"we'll"_qs, u"well"_qs, u"\u201cquoted\u201d"_qs, u"it's"_qs,
        u"end\u2014start"_qs, u"a"_qs, u"I"_qs, u"go"_qs, u"goes"_qs, u"3.14"_qs, u"--"_qs,
        u"house"_qs, u"houses"_qs, u"Housing"_qs, u"\u00abnon\u00bb"_qs, u"caf\u00e9s"_qs,
        u"\u6211\u4eec\u5728\u5317\u4eac"_qs, u"\U0001F642"_qs, u"x"_qs, u"ok."_qs};
    static const QStringList gaps = {u" "_qs, u" "_qs, u" "_qs, u" "_qs, u"  "_qs, u"\r"_qs};
    QString text;
    for (int i = 0; i < pieces; ++i) {
        text += vocabulary.at(rng.bounded(int(vocabulary.size())));
        text += gaps.at(rng.bounded(int(gaps.size())));
    }
    return text;
}

class ListSource : public TextSource
{
public:
    QHash<QString, QString> texts;
    QStringList failing;
    bool readText(const QString &path, const Sink &sink) override
    {
        const QString t = texts.value(path);
        for (qsizetype i = 0; i < t.size(); i += 4096)
            sink(QStringView(t).mid(i, 4096));
        return !failing.contains(path);
    }
};

class CollectingReporter : public ErrorReporter
{
public:
    QStringList messages;

protected:
    void show(const QString &, const QString &description, const QString &, int) override
    {
        messages << description;
    }
};

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(bytes), bytes.size());
}

} // namespace

class TestWordRules : public QObject
{
    Q_OBJECT

private slots:
    void defaultsAreThePlainRules();
    void unicodeWords_data();
    void unicodeWords();
    void unicodeWordsKnownCases_data();
    void unicodeWordsKnownCases();
    void unicodeSplitMatchesTheIterator();
    void unicodeCountMatchesTheIterator();
    void corpusWords_data();
    void corpusWords();
    void corpusWordsAsUnicodeWords_data();
    void corpusWordsAsUnicodeWords();
    void corpusWordsMatchTheRule();
    void corpusWordsWithTheOtherRules();
    void allPunctuation_data();
    void allPunctuation();
    void stopWords_data();
    void stopWords();
    void builtInLists();
    void badStopWordLists_data();
    void badStopWordLists();
    void badValues_data();
    void badValues();
    void minimumLength();
    void wordForms();
    void phrases_data();
    void phrases();
    void wordsAndPhrasesEndWithTheFile();
    void countMatchesTheFinder_data();
    void countMatchesTheFinder();
    void failedFilesContributeNothing();
    void describesTheRules();
    void tableKeepsTheForms();
    void manyPhrasesCountedAndRead_data();
    void manyPhrasesCountedAndRead();
};

void TestWordRules::defaultsAreThePlainRules()
{
    QVERIFY(WordRules().isDefault());
    const WordRules rules;
    QCOMPARE(rules.words, WordRules::Words::Basic);
    QCOMPARE(rules.hyphens, WordRules::Hyphens::Join);
    QCOMPARE(rules.paragraphs, WordRules::Paragraphs::Lines);
    QCOMPARE(rules.punctuation, WordRules::Punctuation::Ascii);
    QVERIFY(rules.stopWordLists.isEmpty());
    QCOMPARE(rules.minLength, 1);
    QVERIFY(rules.stemLanguage.isEmpty());
    QCOMPARE(rules.phraseLength, 1);
    // A count by the default rules is the plain count, file ends included: a word that runs
    // from one file into the next is still one word.
    QRandomGenerator rng(11);
    for (const bool ignoreCase : {true, false}) {
        const auto finder = finderFor(rules, ignoreCase);
        QVERIFY(finder);
        const QStringList files = {randomUnicodeText(rng, 3000), u"tail"_qs, randomEnglish(rng, 500)};
        WordTally plain(ignoreCase);
        for (const QString &f : files) {
            plain.beginFile();
            plain.feed(f);
            plain.endFile(true);
        }
        plain.finish();
        QCOMPARE(countText(*finder, files, 1000), plain.ordered());
    }
    QCOMPARE(describeCountOptions(CountOptions()),
             (QStringList{u"one count per file, with file names"_qs, u"letter case ignored"_qs}));
}

void TestWordRules::unicodeWords_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("Chinese") << u"\u6211\u4eec\u5728\u5317\u4eac\u5b66\u4e60\u4e2d\u6587\u3002\u201c\u4f60\u597d\u201d\uff0c\u4ed6\u8bf4\u3002"_qs;
    QTest::newRow("Japanese") << u"\u6771\u4eac\u306f\u65e5\u672c\u306e\u9996\u90fd\u3067\u3059\u3002\u30ab\u30bf\u30ab\u30ca\u3068\u3072\u3089\u304c\u306a\u3001\u6f22\u5b57\u3092\u4f7f\u3044\u307e\u3059\u3002"_qs;
    QTest::newRow("Thai") << u"\u0e20\u0e32\u0e29\u0e32\u0e44\u0e17\u0e22\u0e40\u0e1b\u0e47\u0e19\u0e20\u0e32\u0e29\u0e32\u0e17\u0e35\u0e48\u0e2a\u0e27\u0e22\u0e07\u0e32\u0e21 \u0e09\u0e31\u0e19\u0e0a\u0e2d\u0e1a\u0e40\u0e23\u0e35\u0e22\u0e19"_qs;
    QTest::newRow("Arabic") << u"\u0627\u0644\u0644\u063a\u0629 \u0627\u0644\u0639\u0631\u0628\u064a\u0629 \u062c\u0645\u064a\u0644\u0629\u060c \u0623\u0644\u064a\u0633 \u0643\u0630\u0644\u0643\u061f \u00ab\u0646\u0639\u0645\u00bb \u0661\u0662\u0663"_qs;
    QTest::newRow("Hindi") << u"\u0939\u093f\u0928\u094d\u0926\u0940 \u092d\u093e\u0937\u093e \u092c\u0939\u0941\u0924 \u0938\u0941\u0902\u0926\u0930 \u0939\u0948\u0964 \u0915\u094d\u092f\u093e \u0906\u092a?"_qs;
    QTest::newRow("German") << u"\u201eStra\u00dfe\u201c und \u00d6l \u2014 1.000,50 \u20ac f\u00fcr\u2019s Haus; E-Mail: don't-stop"_qs;
    QTest::newRow("English") << u"\u201cQuoted\u201d words\u2014dashes\u2026 don't stop; 3.14 and 1,000,000 people \U0001F642 \U0001F44D\U0001F3FD e.g. U.S.A. end\u2014start_now"_qs;
    QTest::newRow("paragraphs and spaces") << u"first line\rsecond\u00a0line\r\n third\u3000line  \u0301x"_qs;
}

void TestWordRules::unicodeWords()
{
    QFETCH(QString, text);
    for (const bool ignoreCase : {true, false}) {
        const auto finder = finderFor(unicodeRules(), ignoreCase);
        QVERIFY(finder);
        const QList<Piece> expected = icuWords(text, ignoreCase);
        const QList<Piece> actual = found(*finder, text);
        QVERIFY2(actual == expected, qPrintable(describe(actual) + u"\n  expected: "_qs + describe(expected)));
        // A word's raw piece is what the rules cleaned into it.
        for (const Piece &p : actual)
            QCOMPARE(reference::cleanWord(text.mid(p.start, p.end - p.start), ignoreCase), p.word);
    }
}

void TestWordRules::unicodeWordsKnownCases_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("words");
    QTest::newRow("apostrophe") << u"Don't stop"_qs << QStringList{u"dont"_qs, u"stop"_qs};
    QTest::newRow("typographic quotes") << u"\u201cQuoted\u201d text"_qs << QStringList{u"quoted"_qs, u"text"_qs};
    QTest::newRow("em dash") << u"end\u2014start"_qs << QStringList{u"end"_qs, u"start"_qs};
    QTest::newRow("hyphen") << u"e-mail"_qs << QStringList{u"e"_qs, u"mail"_qs};
    QTest::newRow("numbers with separators") << u"3.14 1,000"_qs << QStringList{u"314"_qs, u"1000"_qs};
    QTest::newRow("sentence punctuation") << u"Hello, world! (Yes.)"_qs
                                          << QStringList{u"hello"_qs, u"world"_qs, u"yes"_qs};
    QTest::newRow("emoji is no word") << u"\U0001F642 smile \U0001F44D\U0001F3FD"_qs << QStringList{u"smile"_qs};
    QTest::newRow("paragraph ends") << u"a\rb\r\rc"_qs << QStringList{u"a"_qs, u"b"_qs, u"c"_qs};
}

void TestWordRules::unicodeWordsKnownCases()
{
    QFETCH(QString, text);
    QFETCH(QStringList, words);
    const auto finder = finderFor(unicodeRules());
    QVERIFY(finder);
    QCOMPARE(::words(found(*finder, text)), words);
}

void TestWordRules::unicodeSplitMatchesTheIterator()
{
    // Most text is split without the iterator where its rules are plain: random text of every
    // kind the rules treat apart must give exactly its words.
    QRandomGenerator rng(29);
    for (int round = 0; round < 400; ++round) {
        const QString text = randomUnicodeText(rng, int(rng.bounded(1, 60)));
        const bool ignoreCase = round % 3 != 0;
        const auto finder = finderFor(unicodeRules(), ignoreCase);
        QVERIFY(finder);
        const QList<Piece> expected = icuWords(text, ignoreCase);
        const QList<Piece> actual = found(*finder, text);
        if (actual != expected) {
            QString units;
            for (const QChar c : text)
                units += u"%1 "_qs.arg(uint(c.unicode()), 4, 16, QChar(u'0'));
            QFAIL(qPrintable(u"round %1: %2\n  expected: %3\n  text: %4"_qs.arg(round).arg(describe(actual),
                                                                                   describe(expected), units)));
        }
    }
}

void TestWordRules::unicodeCountMatchesTheIterator()
{
    // Large texts are counted in slices on several threads, and a large file apart: the count
    // is the iterator's over each file's text.
    QRandomGenerator rng(31);
    const QStringList files = {randomUnicodeText(rng, 400000), randomUnicodeText(rng, 20),
                               randomUnicodeText(rng, 30000)};
    std::map<QString, qint64> expected;
    for (const QString &f : files) {
        for (const Piece &p : icuWords(f, true))
            ++expected[p.word];
    }
    std::vector<WordCount> expectedRows;
    for (const auto &[w, n] : expected)
        expectedRows.push_back({w, n});
    orderRows(expectedRows);
    const auto finder = finderFor(unicodeRules());
    QVERIFY(finder);
    for (const qsizetype chunk : {qsizetype(777), qsizetype(1) << 20}) {
        const std::vector<WordCount> rows = countText(*finder, files, chunk);
        QVERIFY2(rows == expectedRows, qPrintable(firstDifference(rows, expectedRows)));
    }
}

void TestWordRules::corpusWords_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("words");
    QTest::addColumn<QStringList>("splitAtHyphens"); // the words with --hyphens split, when they differ
    // English
    QTest::newRow("en: apostrophes between letters")
            << u"He'll say don't, I'll go; it's o'clock. Elizabeth's"_qs
            << QStringList{u"he'll"_qs, u"say"_qs, u"don't"_qs, u"i'll"_qs, u"go"_qs, u"it's"_qs, u"o'clock"_qs,
                           u"elizabeth's"_qs}
            << QStringList();
    QTest::newRow("en: three apostrophes, one word") << u"don't don\u2019t Don\u02bct"_qs
                                                     << QStringList{u"don't"_qs, u"don't"_qs, u"don't"_qs} << QStringList();
    QTest::newRow("en: apostrophes at the edges") << u"'tis dogs' \u2019twas \u02bctis 'quoted' rock 'n' roll"_qs
                                                  << QStringList{u"tis"_qs, u"dogs"_qs, u"twas"_qs, u"tis"_qs,
                                                                 u"quoted"_qs, u"rock"_qs, u"n"_qs, u"roll"_qs}
                                                  << QStringList();
    QTest::newRow("en: single hyphens")
            << u"well-known twenty-one e-mail COVID-19 3-D a-b-c x\u2010y non\u2011stop"_qs
            << QStringList{u"well-known"_qs, u"twenty-one"_qs, u"e-mail"_qs, u"covid-19"_qs, u"3-d"_qs, u"a-b-c"_qs,
                           u"x-y"_qs, u"non-stop"_qs}
            << QStringList{u"well"_qs, u"known"_qs, u"twenty"_qs, u"one"_qs, u"e"_qs, u"mail"_qs, u"covid"_qs,
                           u"19"_qs, u"3"_qs, u"d"_qs, u"a"_qs, u"b"_qs, u"c"_qs, u"x"_qs, u"y"_qs, u"non"_qs, u"stop"_qs};
    QTest::newRow("en: dashes separate")
            << u"Willoughby--but woman\u2014the 1914\u20131918 a - b -lead trail- a---b"_qs
            << QStringList{u"willoughby"_qs, u"but"_qs, u"woman"_qs, u"the"_qs, u"1914"_qs, u"1918"_qs, u"a"_qs,
                           u"b"_qs, u"lead"_qs, u"trail"_qs, u"a"_qs, u"b"_qs}
            << QStringList();
    QTest::newRow("en: numbers")
            << u"3,141.5 km, 1.5 or 3.14. 1,000,000 people 12:30 v2.0"_qs
            << QStringList{u"3,141.5"_qs, u"km"_qs, u"1.5"_qs, u"or"_qs, u"3.14"_qs, u"1,000,000"_qs, u"people"_qs,
                           u"12"_qs, u"30"_qs, u"v2.0"_qs}
            << QStringList();
    QTest::newRow("en: other punctuation separates")
            << u"U.S.A. e.g. x_y a/b (paren) \"dq\" 50% a&b \u201cquoted\u201d wait\u2026"_qs
            << QStringList{u"u"_qs, u"s"_qs, u"a"_qs, u"e"_qs, u"g"_qs, u"x"_qs, u"y"_qs, u"a"_qs, u"b"_qs,
                           u"paren"_qs, u"dq"_qs, u"50"_qs, u"a"_qs, u"b"_qs, u"quoted"_qs, u"wait"_qs}
            << QStringList();
    // French
    QTest::newRow("fr: elision and compounds")
            << u"L'homme aujourd'hui qu\u2019il s'est \u00ab arr\u00eat\u00e9 \u00bb, c'est-\u00e0-dire l\u2019\u00e9t\u00e9"_qs
            << QStringList{u"l'homme"_qs, u"aujourd'hui"_qs, u"qu'il"_qs, u"s'est"_qs, u"arr\u00eat\u00e9"_qs,
                           u"c'est-\u00e0-dire"_qs, u"l'\u00e9t\u00e9"_qs}
            << QStringList{u"l'homme"_qs, u"aujourd'hui"_qs, u"qu'il"_qs, u"s'est"_qs, u"arr\u00eat\u00e9"_qs,
                           u"c'est"_qs, u"\u00e0"_qs, u"dire"_qs, u"l'\u00e9t\u00e9"_qs};
    // The narrow no-break space of French thousands joins digits at the word boundaries already.
    QTest::newRow("fr: numbers and dashes") << u"3,14 \u2013 12\u202f000 \u00e9t\u00e9-hiver"_qs
                                            << QStringList{u"3,14"_qs, u"12\u202f000"_qs, u"\u00e9t\u00e9-hiver"_qs}
                                            << QStringList{u"3,14"_qs, u"12\u202f000"_qs, u"\u00e9t\u00e9"_qs, u"hiver"_qs};
    // German
    QTest::newRow("de: compounds, numbers, quotes")
            << u"Die Stra\u00dfen-Bahn kostet 1.000,50 \u20ac \u201eHaus\u201c, E-Mail-Adresse; gibt\u2019s bis 3-4 Uhr\u2014sofort"_qs
            << QStringList{u"die"_qs, u"stra\u00dfen-bahn"_qs, u"kostet"_qs, u"1.000,50"_qs, u"haus"_qs,
                           u"e-mail-adresse"_qs, u"gibt's"_qs, u"bis"_qs, u"3-4"_qs, u"uhr"_qs, u"sofort"_qs}
            << QStringList{u"die"_qs, u"stra\u00dfen"_qs, u"bahn"_qs, u"kostet"_qs, u"1.000,50"_qs, u"haus"_qs,
                           u"e"_qs, u"mail"_qs, u"adresse"_qs, u"gibt's"_qs, u"bis"_qs, u"3"_qs, u"4"_qs, u"uhr"_qs,
                           u"sofort"_qs};
    // Non-Latin scripts: Cyrillic (Russian hyphens, Ukrainian apostrophes), Arabic numbers.
    QTest::newRow("ru/uk: hyphens, apostrophes, dashes")
            << u"\u041c\u043e\u0441\u043a\u0432\u0430-\u0440\u0435\u043a\u0430 \u2014 \u043f\u043e-\u0440\u0443\u0441\u0441\u043a\u0438, "
               u"\u00ab\u043c'\u044f\u0441\u043e\u00bb \u043f\u2019\u044f\u0442\u044c 1,5"_qs
            << QStringList{u"\u043c\u043e\u0441\u043a\u0432\u0430-\u0440\u0435\u043a\u0430"_qs,
                           u"\u043f\u043e-\u0440\u0443\u0441\u0441\u043a\u0438"_qs, u"\u043c'\u044f\u0441\u043e"_qs,
                           u"\u043f'\u044f\u0442\u044c"_qs, u"1,5"_qs}
            << QStringList{u"\u043c\u043e\u0441\u043a\u0432\u0430"_qs, u"\u0440\u0435\u043a\u0430"_qs,
                           u"\u043f\u043e"_qs, u"\u0440\u0443\u0441\u0441\u043a\u0438"_qs,
                           u"\u043c'\u044f\u0441\u043e"_qs, u"\u043f'\u044f\u0442\u044c"_qs, u"1,5"_qs};
    QTest::newRow("ar: decimal and thousands separators")
            << u"\u0663\u066b\u0661\u0664 \u0661\u066c\u0660\u0660\u0660 \u0627\u0644\u0639\u0631\u0628\u064a\u0629\u060c \u0663\u066b"_qs
            << QStringList{u"\u0663\u066b\u0661\u0664"_qs, u"\u0661\u066c\u0660\u0660\u0660"_qs,
                           u"\u0627\u0644\u0639\u0631\u0628\u064a\u0629"_qs, u"\u0663"_qs}
            << QStringList();
}

void TestWordRules::corpusWords()
{
    QFETCH(QString, text);
    QFETCH(QStringList, words);
    QFETCH(QStringList, splitAtHyphens);
    const auto finder = finderFor(corpusRules());
    QVERIFY(finder);
    QCOMPARE(::words(found(*finder, text)), words);
    const auto split = finderFor(corpusRules(WordRules::Hyphens::Split));
    QCOMPARE(::words(found(*split, text)), splitAtHyphens.isEmpty() ? words : splitAtHyphens);
    // The same words whatever the case; with case kept the text's own letters.
    const auto keepCase = finderFor(corpusRules(), false);
    QStringList lower;
    for (const Piece &p : found(*keepCase, text))
        lower << reference::lowerSimple(p.word);
    QCOMPARE(lower, words);
}

void TestWordRules::corpusWordsAsUnicodeWords_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("Chinese") << u"\u6211\u4eec\u5728\u5317\u4eac\u5b66\u4e60\u4e2d\u6587\u3002\u201c\u4f60\u597d\u201d\uff0c\u4ed6\u8bf4\u3002"_qs;
    QTest::newRow("Japanese") << u"\u6771\u4eac\u30bf\u30ef\u30fc\u306b\u884c\u304d\u307e\u3057\u305f\u3002\u30ab\u30bf\u30ab\u30ca\u3068\u3072\u3089\u304c\u306a"_qs;
    QTest::newRow("Thai") << u"\u0e20\u0e32\u0e29\u0e32\u0e44\u0e17\u0e22\u0e40\u0e1b\u0e47\u0e19\u0e20\u0e32\u0e29\u0e32\u0e17\u0e35\u0e48\u0e2a\u0e27\u0e22\u0e07\u0e32\u0e21"_qs;
    QTest::newRow("combining marks") << u"cafe\u0301 na\u0308ive \u0939\u093f\u0928\u094d\u0926\u0940 \u1e9b\u0323"_qs;
    QTest::newRow("beyond the basic plane") << u"\U00010400\U00010428 \U0001D400\U0001D401 \U00020000\U00020001 \U0001F642 smile"_qs;
    QTest::newRow("right to left") << u"\u05e9\u05dc\u05d5\u05dd \u05e2\u05d5\u05dc\u05dd \u0627\u0644\u0644\u063a\u0629 \u0627\u0644\u0639\u0631\u0628\u064a\u0629 \u061f \u0661\u0662\u0663"_qs;
    QTest::newRow("quotes, spaces and paragraph ends") << u"\u201cQuoted\u201d \u00abnon\u00bb\rnext\u00a0line\u3000end"_qs;
}

void TestWordRules::corpusWordsAsUnicodeWords()
{
    // Where no apostrophe, hyphen, number or punctuation inside a word is met, corpus words are
    // the Unicode words.
    QFETCH(QString, text);
    for (const bool ignoreCase : {true, false}) {
        const QList<Piece> unicode = found(*finderFor(unicodeRules(), ignoreCase), text);
        QVERIFY(!unicode.isEmpty());
        QCOMPARE(found(*finderFor(corpusRules(), ignoreCase), text), unicode);
    }
}

void TestWordRules::corpusWordsMatchTheRule()
{
    // Random text of every kind, split by the finder (most of it without the iterator) and by
    // the rule worked out here from the iterator's pieces: the same words, from the same places.
    QRandomGenerator rng(43);
    for (int round = 0; round < 600; ++round) {
        const QString text = randomCorpusText(rng, int(rng.bounded(1, 50)));
        const bool ignoreCase = round % 3 != 0;
        const bool join = round % 4 != 0;
        const auto finder = finderFor(corpusRules(join ? WordRules::Hyphens::Join : WordRules::Hyphens::Split), ignoreCase);
        QVERIFY(finder);
        const QList<Piece> expected = corpusReference(text, ignoreCase, join);
        const QList<Piece> actual = found(*finder, text);
        if (actual != expected) {
            QString units;
            for (const QChar c : text)
                units += u"%1 "_qs.arg(uint(c.unicode()), 4, 16, QChar(u'0'));
            QFAIL(qPrintable(u"round %1: %2\n  expected: %3\n  text: %4"_qs.arg(round).arg(describe(actual),
                                                                                   describe(expected), units)));
        }
    }
}

void TestWordRules::corpusWordsWithTheOtherRules()
{
    const QString text = u"Don't stop: it\u2019s well-known, 3,141.5 e-mail Elizabeth Elizabeth's Willoughby--but"_qs;
    // All punctuation deletes the apostrophes, hyphens and number marks corpus words keep.
    WordRules all = corpusRules();
    all.punctuation = WordRules::Punctuation::All;
    QCOMPARE(words(found(*finderFor(all), text)),
             (QStringList{u"dont"_qs, u"stop"_qs, u"its"_qs, u"wellknown"_qs, u"31415"_qs, u"email"_qs,
                          u"elizabeth"_qs, u"elizabeths"_qs, u"willoughby"_qs, u"but"_qs}));
    // A stop-word list's entries are cut and cleaned as the text is: its "don't" takes out
    // "Don't" (case kept too), its "Well-Known Willoughby--but" three words.
    QTemporaryDir dir;
    const QString list = dir.filePath(u"stop.txt"_qs);
    writeFile(list, "don\xe2\x80\x99t # a comment\r\nWell-Known Willoughby--but\n");
    WordRules stop = corpusRules();
    stop.stopWordLists = {list};
    for (const bool ignoreCase : {true, false}) {
        QStringList kept;
        for (const Piece &p : found(*finderFor(stop, ignoreCase), text))
            kept << reference::lowerSimple(p.word);
        QCOMPARE(kept, (QStringList{u"stop"_qs, u"it's"_qs, u"3,141.5"_qs, u"e-mail"_qs, u"elizabeth"_qs,
                                    u"elizabeth's"_qs}));
    }
    // The built-in English list holds "don't" and "it's": corpus words leave them out.
    WordRules english = corpusRules();
    english.stopWordLists = {u"en"_qs};
    QCOMPARE(words(found(*finderFor(english), u"don't it\u2019s dont its"_qs)), (QStringList{u"dont"_qs}));
    // Stems see the apostrophe: the possessive goes with its noun.
    WordRules stems = corpusRules();
    stems.stemLanguage = u"english"_qs;
    const auto stemmer = finderFor(stems);
    QCOMPARE(stemmer->groupKey(u"elizabeth's"_qs), stemmer->groupKey(u"elizabeth"_qs));
    QCOMPARE(stemmer->groupKey(u"elizabeth's"_qs), stemOf(u"elizabeth's"_qs, "english"));
    const std::vector<WordCount> rows = countText(*stemmer, {text}, 7);
    const auto row = std::find_if(rows.begin(), rows.end(), [](const WordCount &w) { return w.word == u"elizabeth"; });
    QVERIFY(row != rows.end());
    QCOMPARE(row->count, qint64(2));
    // Minimum length counts the apostrophe and the hyphen as characters.
    WordRules longer = corpusRules();
    longer.minLength = 5;
    QCOMPARE(words(found(*finderFor(longer), u"don't dont e-mail email"_qs)),
             (QStringList{u"don't"_qs, u"e-mail"_qs, u"email"_qs}));
    // A wildcard's literal pieces are cleaned as corpus words are.
    QCOMPARE(finderFor(corpusRules())->cleanedFragment(u"Don\u2019t\u2010"_qs), u"don't-"_qs);
    QCOMPARE(finderFor(unicodeRules())->cleanedFragment(u"Don't-"_qs), u"dont"_qs);
}

void TestWordRules::allPunctuation_data()
{
    QTest::addColumn<bool>("unicode");
    QTest::addColumn<QString>("text");
    const QString text = u"\u201cquoted\u201d \u2018single\u2019 end\u2014start wait\u2026 \u00abguillemets\u00bb "
                         u"\u00bfQu\u00e9? \u3010\u4e2d\u6587\u3011\u3002 don't e-mail \u00a7 \u00b6 \u2020 "
                         u"\u20ac5 \u00a9 \u00b0C x\u2010y \u300c\u300d \u2014 \U0001F642 \U00010100"_qs;
    QTest::newRow("basic") << false << text;
    QTest::newRow("unicode") << true << text;
}

void TestWordRules::allPunctuation()
{
    QFETCH(bool, unicode);
    QFETCH(QString, text);
    WordRules rules = unicode ? unicodeRules() : WordRules();
    rules.punctuation = WordRules::Punctuation::All;
    const auto finder = finderFor(rules);
    QVERIFY(finder);
    QStringList expected;
    if (unicode) {
        for (const Piece &p : icuWords(text, true)) {
            if (const QString w = withoutPunctuation(p.word); !w.isEmpty())
                expected << w;
        }
    } else {
        for (const QString &raw : reference::splitWords(text)) {
            if (const QString w = withoutPunctuation(reference::cleanWord(raw, true)); !w.isEmpty())
                expected << w;
        }
    }
    QCOMPARE(words(found(*finder, text)), expected);
    // Symbols are no punctuation: they stay.
    if (!unicode)
        QVERIFY(expected.contains(u"\u00a9"_qs) && expected.contains(u"\u20ac5"_qs) && expected.contains(u"\u00b0c"_qs));
}

void TestWordRules::stopWords_data()
{
    QTest::addColumn<bool>("ignoreCase");
    QTest::addColumn<QStringList>("lists");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("words");
    const QString text = u"The cat and THE dog: don't we'll well \u00c4ber \u00fcber ok"_qs;
    QTest::newRow("English, case ignored") << true << QStringList{u"en"_qs} << text
                                           << QStringList{u"cat"_qs, u"dog"_qs, u"\u00e4ber"_qs, u"\u00fcber"_qs, u"ok"_qs};
    QTest::newRow("English, case kept") << false << QStringList{u"EN"_qs} << text
                                        << QStringList{u"cat"_qs, u"dog"_qs, u"\u00c4ber"_qs, u"\u00fcber"_qs, u"ok"_qs};
    QTest::newRow("German too") << true << QStringList{u"en"_qs, u"de"_qs} << text
                                << QStringList{u"cat"_qs, u"dog"_qs, u"\u00e4ber"_qs, u"ok"_qs};
    QTest::newRow("own list") << true << QStringList{u"@list"_qs} << text
                              << QStringList{u"the"_qs, u"and"_qs, u"the"_qs, u"dont"_qs, u"well"_qs, u"well"_qs,
                                             u"\u00fcber"_qs};
}

void TestWordRules::stopWords()
{
    QFETCH(bool, ignoreCase);
    QFETCH(QStringList, lists);
    QFETCH(QString, text);
    QFETCH(QStringList, words);
    QTemporaryDir dir;
    const QString listPath = dir.filePath(u"my list.txt"_qs);
    // Comments, blank lines, spaces around, a byte order mark, capitals and punctuation in entries.
    writeFile(listPath, u"\ufeff# my words\n\n  CAT  \n\u00c4BER # umlaut\ndog:\nOK\r\n#the\n"_qs.toUtf8());
    for (QString &l : lists) {
        if (l == u"@list")
            l = listPath;
    }
    WordRules rules;
    rules.stopWordLists = lists;
    const auto finder = finderFor(rules, ignoreCase);
    QVERIFY(finder);
    QCOMPARE(::words(found(*finder, text)), words);
}

void TestWordRules::builtInLists()
{
    const QStringList codes = builtInStopWordLists();
    QCOMPARE(codes, (QStringList{u"da"_qs, u"de"_qs, u"en"_qs, u"es"_qs, u"fi"_qs, u"fr"_qs, u"hu"_qs,
                                 u"id"_qs, u"it"_qs, u"nl"_qs, u"no"_qs, u"pt"_qs, u"ro"_qs, u"ru"_qs, u"sv"_qs}));
    for (const QString &code : codes) {
        const QString text = builtInStopWordText(code);
        QVERIFY2(text.contains(u"Licence:"), qPrintable(code)); // each names its source and licence
        QStringList entries;
        for (const QString &line : text.split(u'\n')) {
            if (!line.startsWith(u'#') && !line.trimmed().isEmpty())
                entries << line.trimmed();
        }
        QVERIFY2(entries.size() > 50, qPrintable(code));
        // Every entry of a list is a stop word of it.
        WordRules rules;
        rules.stopWordLists = {code};
        const auto finder = finderFor(rules);
        QVERIFY(finder);
        QVERIFY2(found(*finder, entries.join(u' ')).isEmpty(), qPrintable(code));
    }
    QVERIFY(builtInStopWordText(u"xx"_qs).isEmpty());
}

void TestWordRules::badStopWordLists_data()
{
    QTest::addColumn<QString>("list");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("message");
    QTest::newRow("missing") << u"@dir/none.txt"_qs << QByteArray() << u"could not be read"_qs;
    QTest::newRow("unknown language") << u"xx"_qs << QByteArray() << u"The built-in lists are da, de"_qs;
    QTest::newRow("folder") << u"@dir"_qs << QByteArray() << u"it is a folder"_qs;
    QTest::newRow("not UTF-8") << u"@dir/latin1.txt"_qs << QByteArray("caf\xe9\n") << u"is not UTF-8 text"_qs;
    QTest::newRow("too large") << u"@dir/huge.txt"_qs << QByteArray((16 << 20) + 1, 'a')
                               << u"larger than 16 MB"_qs;
}

void TestWordRules::badStopWordLists()
{
    QFETCH(QString, list);
    QFETCH(QByteArray, content);
    QFETCH(QString, message);
    QTemporaryDir dir;
    list.replace(u"@dir"_qs, dir.path());
    if (!content.isEmpty())
        writeFile(list, content);
    WordRules rules;
    rules.stopWordLists = {u"en"_qs, list};
    QString error;
    QVERIFY(!WordFinder::create(rules, true, &error));
    QVERIFY2(error.contains(message), qPrintable(error));
    QVERIFY2(error.contains(QDir::toNativeSeparators(list)), qPrintable(error)); // names the list

    // A run with such a list counts nothing and says why.
    ListSource source;
    source.texts.insert(u"a"_qs, u"words to count"_qs);
    CollectingReporter reporter;
    CountOptions options(CountMode::Combined, false, true, rules);
    const ResultTable table = runAnalysis({u"a"_qs}, options, source, nullptr, &reporter);
    QCOMPARE(table.rowCount(), 0);
    QCOMPARE(reporter.messages.size(), 1);
    QVERIFY(reporter.messages.first().contains(QDir::toNativeSeparators(list)));
}

void TestWordRules::badValues_data()
{
    QTest::addColumn<int>("minLength");
    QTest::addColumn<QString>("stem");
    QTest::addColumn<int>("phraseLength");
    QTest::addColumn<QString>("message");
    QTest::newRow("phrases of none") << 1 << QString() << 0 << u"1 to 5 words long, not 0"_qs;
    QTest::newRow("phrases of six") << 1 << QString() << 6 << u"1 to 5 words long, not 6"_qs;
    QTest::newRow("minimum length 0") << 0 << QString() << 1 << u"1 or more, not 0"_qs;
    QTest::newRow("unknown language") << 1 << u"klingon"_qs << 1 << u"\"klingon\""_qs;
    QTest::newRow("language in capitals") << 1 << u"English"_qs << 1 << u"english, finnish"_qs;
}

void TestWordRules::badValues()
{
    QFETCH(int, minLength);
    QFETCH(QString, stem);
    QFETCH(int, phraseLength);
    QFETCH(QString, message);
    WordRules rules;
    rules.minLength = minLength;
    rules.stemLanguage = stem;
    rules.phraseLength = phraseLength;
    QString error;
    QVERIFY(!WordFinder::create(rules, true, &error));
    QVERIFY2(error.contains(message), qPrintable(error));
    for (const QString &name : {u"english"_qs, u"en"_qs, u"german"_qs, u"deu"_qs, u"russian"_qs})
        QVERIFY2(isStemmingLanguage(name), qPrintable(name));
    QVERIFY(!isStemmingLanguage(QString()));
}

void TestWordRules::minimumLength()
{
    // Characters are code points: a letter beyond U+FFFF is one, punctuation deleted is none.
    WordRules rules;
    rules.minLength = 3;
    const auto finder = finderFor(rules);
    QVERIFY(finder);
    const QString text = u"ab a.b.c abc \U00010400\U00010428 \U00010400\U00010428\U00010429 \u00e9t\u00e9 \u201cab\u201d"_qs;
    QCOMPARE(words(found(*finder, text)),
             (QStringList{u"abc"_qs, u"abc"_qs, u"\U00010428\U00010428\U00010429"_qs, u"\u00e9t\u00e9"_qs,
                          u"\u201cab\u201d"_qs}));
    rules.punctuation = WordRules::Punctuation::All;
    QCOMPARE(words(found(*finderFor(rules), text)),
             (QStringList{u"abc"_qs, u"abc"_qs, u"\U00010428\U00010428\U00010429"_qs, u"\u00e9t\u00e9"_qs}));
}

void TestWordRules::wordForms()
{
    const QString text = u"running runs Runs run ran connection connected connecting Connect houses house cat"_qs;
    for (const bool ignoreCase : {true, false}) {
        WordRules rules;
        rules.stemLanguage = u"english"_qs;
        const auto finder = finderFor(rules, ignoreCase);
        QVERIFY(finder);
        // Groups worked out with libstemmer directly.
        std::map<QString, std::map<QString, qint64>> groups;
        for (const QString &raw : reference::splitWords(text)) {
            const QString w = reference::cleanWord(raw, ignoreCase);
            ++groups[stemOf(w, "english")][w];
            QCOMPARE(finder->groupKey(w), stemOf(w, "english"));
        }
        std::vector<WordCount> expected;
        for (const auto &[stem, forms] : groups) {
            std::vector<WordCount> members;
            qint64 sum = 0;
            for (const auto &[form, n] : forms) {
                members.push_back({form, n});
                sum += n;
            }
            // The most frequent first, ties by UTF-16 code units (the map's order).
            std::stable_sort(members.begin(), members.end(),
                             [](const WordCount &a, const WordCount &b) { return a.count > b.count; });
            expected.push_back({members.front().word, sum, std::make_shared<const std::vector<WordCount>>(members)});
        }
        orderRows(expected);
        const std::vector<WordCount> rows = countText(*finder, {text}, 5);
        QVERIFY2(rows == expected, qPrintable(rowsText(rows) + u"\n  expected: "_qs + rowsText(expected)));
        WordTally tally(*finder);
        tally.feed(text);
        tally.finish();
        QCOMPARE(tally.total(), qint64(12));
        QCOMPARE(tally.distinctWords(), qsizetype(expected.size()));
    }
    // Case ignored: "runs" (2) is shown for run, runs and running; connect's four forms tie, and
    // the first by code units shows.
    WordRules rules;
    rules.stemLanguage = u"en"_qs;
    const std::vector<WordCount> rows = countText(*finderFor(rules), {text}, 1000);
    const auto row = [&](const QString &word) {
        return *std::find_if(rows.begin(), rows.end(), [&](const WordCount &w) { return w.word == word; });
    };
    QCOMPARE(row(u"runs"_qs).count, qint64(4));
    QCOMPARE(row(u"connect"_qs).count, qint64(4));
    QCOMPARE(row(u"connect"_qs).forms->size(), size_t(4));
    QCOMPARE(row(u"house"_qs).forms->front(), (WordCount{u"house"_qs, 1}));
}

void TestWordRules::phrases_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("unicode");
    QTest::addColumn<QStringList>("stopLists");
    QTest::addColumn<int>("minLength");
    QTest::newRow("pairs") << 2 << false << QStringList() << 1;
    QTest::newRow("threes, stop words") << 3 << false << QStringList{u"en"_qs} << 1;
    QTest::newRow("pairs, short words") << 2 << false << QStringList() << 3;
    QTest::newRow("fives, Unicode words") << 5 << true << QStringList() << 1;
    QTest::newRow("pairs, Unicode words, stop words") << 2 << true << QStringList{u"en"_qs} << 2;
}

void TestWordRules::phrases()
{
    QFETCH(int, length);
    QFETCH(bool, unicode);
    QFETCH(QStringList, stopLists);
    QFETCH(int, minLength);
    QRandomGenerator rng(quint32(length * 7 + minLength));
    const QString text = randomEnglish(rng, 3000);
    WordRules single = unicode ? unicodeRules() : WordRules();
    single.stopWordLists = stopLists;
    WordRules rules = single;
    rules.minLength = minLength;
    rules.phraseLength = length;
    const auto finder = finderFor(rules);
    QVERIFY(finder);
    // Every window of `length` words of a paragraph that holds no word left out (a stop word,
    // a short word) is a phrase. The single-word finder leaves stop words out without a trace:
    // they are the words a finder without stop words finds beside it.
    const auto words = finderFor(single);
    WordRules noStop = unicode ? unicodeRules() : WordRules();
    const auto all = finderFor(noStop);
    QList<Piece> expected;
    qsizetype offset = 0;
    for (const QString &paragraph : text.split(u'\r')) {
        QList<Piece> kept = found(*words, paragraph);
        QList<Piece> everyWord = found(*all, paragraph);
        QList<Piece> window;
        for (const Piece &w : everyWord) {
            const bool stop = std::none_of(kept.begin(), kept.end(), [&](const Piece &k) { return k.start == w.start; });
            if (stop || w.word.toUcs4().size() < minLength) {
                window.clear();
                continue;
            }
            window.append(w);
            if (window.size() > length)
                window.removeFirst();
            if (window.size() == length) {
                QStringList joined;
                for (const Piece &p : window)
                    joined << p.word;
                expected.append({joined.join(u' '), window.first().start + offset, window.last().end + offset});
            }
        }
        offset += paragraph.size() + 1;
    }
    QVERIFY(expected.size() > 100);
    const QList<Piece> actual = found(*finder, text);
    QVERIFY2(actual == expected, qPrintable(describe(actual.mid(0, 20)) + u"\n  expected: "_qs + describe(expected.mid(0, 20))));
    // Counted, the total is the number of phrases.
    WordTally tally(*finder);
    for (qsizetype at = 0; at < text.size(); at += 100)
        tally.feed(QStringView(text).mid(at, 100));
    tally.finish();
    QCOMPARE(tally.total(), qint64(expected.size()));
}

void TestWordRules::wordsAndPhrasesEndWithTheFile()
{
    // Files counted together: under word rules neither a word nor a phrase runs from one file
    // into the next (under the plain rules the texts are joined, as they always were).
    ListSource source;
    source.texts.insert(u"one"_qs, u"alpha beta"_qs);
    source.texts.insert(u"two"_qs, u"gamma delta"_qs);
    const auto rowsOf = [&](const WordRules &rules) {
        const ResultTable table = runAnalysis({u"one"_qs, u"two"_qs}, CountOptions(CountMode::Combined, false, true, rules), source);
        QStringList out;
        for (qsizetype r = 0; r < table.rowCount(); ++r)
            out << table.word(r);
        return out;
    };
    QCOMPARE(rowsOf(WordRules()), (QStringList{u"alpha"_qs, u"betagamma"_qs, u"delta"_qs}));
    WordRules minimum;
    minimum.minLength = 2;
    QCOMPARE(rowsOf(minimum), (QStringList{u"alpha"_qs, u"beta"_qs, u"delta"_qs, u"gamma"_qs}));
    WordRules pairs;
    pairs.phraseLength = 2;
    QCOMPARE(rowsOf(pairs), (QStringList{u"alpha beta"_qs, u"gamma delta"_qs}));
    pairs.words = WordRules::Words::Unicode;
    QCOMPARE(rowsOf(pairs), (QStringList{u"alpha beta"_qs, u"gamma delta"_qs}));
}

void TestWordRules::countMatchesTheFinder_data()
{
    QTest::addColumn<WordRules>("rules");
    QTest::addColumn<bool>("ignoreCase");
    QTest::addColumn<bool>("large");
    QTemporaryDir dir; // the list's path only needs to exist while the row is run
    const auto with = [](auto &&change) {
        WordRules r;
        change(r);
        return r;
    };
    QTest::newRow("all punctuation") << with([](WordRules &r) { r.punctuation = WordRules::Punctuation::All; })
                                     << true << false;
    QTest::newRow("stop words, minimum length, case kept")
            << with([](WordRules &r) { r.stopWordLists = {u"en"_qs}; r.minLength = 3; }) << false << false;
    QTest::newRow("word forms") << with([](WordRules &r) { r.stemLanguage = u"english"_qs; }) << true << false;
    QTest::newRow("word forms, case kept, all punctuation")
            << with([](WordRules &r) { r.stemLanguage = u"english"_qs; r.punctuation = WordRules::Punctuation::All; })
            << false << false;
    QTest::newRow("Unicode words, large") << with([](WordRules &r) { r.words = WordRules::Words::Unicode; }) << true << true;
    QTest::newRow("Unicode words, all punctuation, stop words")
            << with([](WordRules &r) {
                   r.words = WordRules::Words::Unicode;
                   r.punctuation = WordRules::Punctuation::All;
                   r.stopWordLists = {u"en"_qs};
               })
            << true << false;
    QTest::newRow("pairs, stop words, large") << with([](WordRules &r) { r.phraseLength = 2; r.stopWordLists = {u"en"_qs}; })
                                              << true << true;
    QTest::newRow("threes, Unicode words, minimum length")
            << with([](WordRules &r) { r.phraseLength = 3; r.words = WordRules::Words::Unicode; r.minLength = 2; })
            << false << false;
    QTest::newRow("pairs of word forms") << with([](WordRules &r) { r.phraseLength = 2; r.stemLanguage = u"en"_qs; })
                                         << true << false;
    QTest::newRow("corpus words, large") << with([](WordRules &r) { r.words = WordRules::Words::Corpus; }) << true << true;
    QTest::newRow("corpus words split at hyphens, case kept, stop words")
            << with([](WordRules &r) {
                   r.words = WordRules::Words::Corpus;
                   r.hyphens = WordRules::Hyphens::Split;
                   r.stopWordLists = {u"en"_qs};
               })
            << false << false;
    QTest::newRow("threes of corpus words, word forms")
            << with([](WordRules &r) { r.words = WordRules::Words::Corpus; r.phraseLength = 3; r.stemLanguage = u"en"_qs; })
            << true << false;
    QTest::newRow("everything") << with([](WordRules &r) {
        r.words = WordRules::Words::Unicode;
        r.punctuation = WordRules::Punctuation::All;
        r.stopWordLists = {u"en"_qs, u"de"_qs};
        r.minLength = 2;
        r.stemLanguage = u"english"_qs;
        r.phraseLength = 2;
    }) << true << false;
}

void TestWordRules::countMatchesTheFinder()
{
    QFETCH(WordRules, rules);
    QFETCH(bool, ignoreCase);
    QFETCH(bool, large);
    const auto finder = finderFor(rules, ignoreCase);
    QVERIFY(finder);
    QRandomGenerator rng(41);
    // A large file is counted apart from the others, in slices on several threads.
    const QStringList files = {randomEnglish(rng, large ? 1200000 : 5000), randomEnglish(rng, 3),
                               randomUnicodeText(rng, 2000), randomEnglish(rng, 4000)};
    const std::vector<WordCount> expected = rowsFromFinder(*finder, files);
    for (const CountMode mode : {CountMode::Combined, CountMode::PerFile}) {
        ListSource source;
        QStringList paths;
        for (qsizetype i = 0; i < files.size(); ++i) {
            paths << u"f%1"_qs.arg(i);
            source.texts.insert(paths.last(), files.at(i));
        }
        const ResultTable table = runAnalysis(paths, CountOptions(mode, false, ignoreCase, rules), source);
        if (mode == CountMode::Combined) {
            std::vector<WordCount> rows;
            for (qsizetype r = 0; r < table.rowCount(); ++r)
                rows.push_back({table.word(r), table.count(r), table.forms(r)});
            QVERIFY2(rows == expected, qPrintable(firstDifference(rows, expected)));
        } else {
            // Per file, each file's rows are the finder's for that file alone.
            qsizetype r = 0;
            for (qsizetype f = 0; f < files.size(); ++f) {
                const std::vector<WordCount> fileRows = rowsFromFinder(*finder, {files.at(f)});
                for (const WordCount &w : fileRows) {
                    QCOMPARE(table.fileIndex(r), qint32(f));
                    QCOMPARE(table.word(r), w.word);
                    QCOMPARE(table.count(r), w.count);
                    ++r;
                }
            }
            QCOMPARE(r, table.rowCount());
        }
    }
}

void TestWordRules::failedFilesContributeNothing()
{
    // Under word rules, as under the plain ones, a file whose text is cut short is left out.
    for (const int length : {1, 2}) {
        WordRules rules;
        rules.words = WordRules::Words::Unicode;
        rules.phraseLength = length;
        ListSource source;
        source.texts.insert(u"good"_qs, u"one two three"_qs);
        source.texts.insert(u"bad"_qs, u"one two four five \u6211\u4eec"_qs + QString(5 << 20, u'x'));
        source.failing << u"bad"_qs;
        source.texts.insert(u"last"_qs, u"two three"_qs);
        const ResultTable table =
                runAnalysis({u"good"_qs, u"bad"_qs, u"last"_qs}, CountOptions(CountMode::Combined, false, true, rules), source);
        QStringList rows;
        for (qsizetype r = 0; r < table.rowCount(); ++r)
            rows << table.word(r) + u'=' + QString::number(table.count(r));
        if (length == 1)
            QCOMPARE(rows, (QStringList{u"one=1"_qs, u"three=2"_qs, u"two=2"_qs}));
        else
            QCOMPARE(rows, (QStringList{u"one two=1"_qs, u"two three=2"_qs}));
    }
}

void TestWordRules::describesTheRules()
{
    WordRules rules;
    rules.words = WordRules::Words::Unicode;
    rules.punctuation = WordRules::Punctuation::All;
    rules.stopWordLists = {u"en"_qs, u"/home/x/my words.txt"_qs};
    rules.minLength = 3;
    rules.stemLanguage = u"english"_qs;
    rules.phraseLength = 2;
    QCOMPARE(describeCountOptions(CountOptions(CountMode::Combined, false, false, rules)),
             (QStringList{u"one count for all files"_qs, u"letter case kept"_qs, u"Unicode words"_qs,
                          u"all punctuation deleted"_qs, u"stop words: en, my words.txt"_qs,
                          u"words of 3 or more characters"_qs, u"word forms grouped (english)"_qs,
                          u"phrases of 2 words"_qs}));
    WordRules corpus = corpusRules(WordRules::Hyphens::Split);
    corpus.paragraphs = WordRules::Paragraphs::BlankLines;
    QCOMPARE(describeCountOptions(CountOptions(CountMode::Combined, false, true, corpus)),
             (QStringList{u"one count for all files"_qs, u"letter case ignored"_qs, u"corpus words, split at hyphens"_qs,
                          u"paragraphs end at blank lines"_qs}));
    QCOMPARE(describeCountOptions(CountOptions(CountMode::Combined, false, true, corpusRules())).at(2), u"corpus words"_qs);
}

void TestWordRules::tableKeepsTheForms()
{
    auto forms = std::make_shared<const std::vector<WordCount>>(std::vector<WordCount>{{u"runs"_qs, 2}, {u"run"_qs, 1}});
    ResultTable table(true);
    table.appendRows({{u"cat"_qs, 1}}, u"a"_qs);
    QVERIFY(!table.hasForms());
    table.appendRows({{u"dog"_qs, 1}, {u"runs"_qs, 3, forms}}, u"b"_qs);
    QVERIFY(table.hasForms());
    QVERIFY(!table.forms(0) && !table.forms(1));
    QCOMPARE(*table.forms(2), *forms);
    ResultTable copy(true);
    copy.appendRows({{u"x"_qs, 1}}, u"c"_qs);
    copy.appendTable(table);
    QVERIFY(!copy.forms(0) && !copy.forms(2));
    QCOMPARE(*copy.forms(3), *forms);
    copy.appendTable(copy); // a table appended to itself
    QCOMPARE(copy.rowCount(), 8);
    QCOMPARE(*copy.forms(7), *forms);
    copy.clear();
    QVERIFY(!copy.hasForms());
}

QTEST_GUILESS_MAIN(TestWordRules)
// Tens of thousands of distinct words make keys too wide to sort in one go, and one pair counted
// over 65536 times takes the way of the large counts: the rows still come in the usual order, with
// the counts the phrases slid over the words by hand give, however they are read.
void TestWordRules::manyPhrasesCountedAndRead_data()
{
    QTest::addColumn<bool>("controls");
    QTest::newRow("letters") << false;
    // A word that goes on past another's end with a tab or a control character orders before it
    // when followed by a space ("ab\tc " before "ab "), after it alone: the words before a
    // phrase's last then have an order of their own.
    QTest::newRow("words with tabs and controls") << true;
}

void TestWordRules::manyPhrasesCountedAndRead()
{
    QFETCH(bool, controls);
    QRandomGenerator rng(7);
    QStringList vocabulary;
    for (int i = 0; i < 20000; ++i) {
        QString w;
        for (int k = 3 + int(rng.bounded(6)); k > 0; --k)
            w += QChar(u'a' + rng.bounded(26));
        vocabulary << (i % 97 == 0 ? w + u"\u00e9"_qs : w); // some words not ASCII
        if (controls && i % 7 == 0)
            vocabulary << w + (i % 2 ? u'\t' : QChar(1)) + u"z"_qs;
    }
    QString text;
    for (int p = 0; p < 400; ++p) {
        for (int i = 0; i < 400; ++i)
            text += vocabulary.at(int(rng.bounded(2) ? rng.bounded(40) : rng.bounded(qint64(vocabulary.size())))) + u' ';
        text += u'\r';
    }
    text += QString(u"often seen "_qs).repeated(70000);
    for (const int length : {2, 3, 4}) { // buckets sorted in two, four and five passes
        QHash<QString, qint64> counted;
        qint64 phrases = 0;
        for (const QString &paragraph : text.split(u'\r')) {
            const QStringList words = paragraph.split(u' ', Qt::SkipEmptyParts);
            for (qsizetype i = 0; i + length <= words.size(); ++i, ++phrases)
                ++counted[words.mid(i, length).join(u' ')];
        }
        std::vector<WordCount> expected;
        for (auto it = counted.cbegin(); it != counted.cend(); ++it)
            expected.emplace_back(it.key(), it.value());
        std::sort(expected.begin(), expected.end(), [](const WordCount &a, const WordCount &b) {
            return a.count != b.count ? a.count < b.count : a.word < b.word;
        });
        QVERIFY(expected.back().count > 65536);

        WordRules rules;
        rules.phraseLength = length;
        const auto finder = finderFor(rules);
        WordTally tally(*finder);
        tally.feed(text);
        tally.finish();
        QCOMPARE(tally.total(), phrases);
        const std::vector<WordCount> ordered = tally.ordered();
        QVERIFY2(ordered == expected, qPrintable(firstDifference(ordered, expected)));
        CountedRows rows = tally.takeOrderedRows();
        QVERIFY(!rows.holdsWords());
        QCOMPARE(rows.size(), expected.size());
        QCOMPARE(rows.total(), phrases);
        QString scratch;
        for (size_t i = 0; i < rows.size(); i += 997) {
            QCOMPARE(rows.word(i, scratch), expected[i].word);
            QCOMPARE(rows.wordLength(i), expected[i].word.size());
            QCOMPARE(rows.count(i), expected[i].count);
        }
        // Dropping and reordering rows works on the numbers; the rows spelled out agree.
        rows.keepCountsFrom(2);
        rows.reorder({2, 0, 1});
        std::vector<WordCount> kept;
        std::copy_if(expected.begin(), expected.end(), std::back_inserter(kept),
                     [](const WordCount &w) { return w.count >= 2; });
        QVERIFY(kept.size() >= 3);
        QCOMPARE(rows.takeRows(), (std::vector<WordCount>{kept[2], kept[0], kept[1]}));
        // A results table takes the phrases as they are spelled.
        ListSource source;
        source.texts.insert(u"f"_qs, text);
        const ResultTable table = runAnalysis({u"f"_qs}, CountOptions(CountMode::Combined, false, true, rules), source);
        QCOMPARE(table.rowCount(), qsizetype(expected.size()));
        for (qsizetype r = 0; r < table.rowCount(); r += 991) {
            QCOMPARE(table.word(r), expected[size_t(r)].word);
            QCOMPARE(table.count(r), expected[size_t(r)].count);
        }
        QCOMPARE(table.total(), phrases);
    }
}

#include "tst_wordrules.moc"
