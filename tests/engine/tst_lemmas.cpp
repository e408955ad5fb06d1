// Lemmas: English forms against lemmas written here (what a dictionary of English gives, and
// where a form has several, the documented choice), the Hunspell dictionaries of German, French
// and Spanish against forms written here, lemma lists in both formats with their clashes and
// damage, and the count's rows grouped by lemma.
#include "base/plurals.h"
#include "engine/lemmas.h"
#include "engine/resulttable.h"
#include "engine/wordrules.h"
#include "engine/wordtally.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace corvalen;

namespace {

std::unique_ptr<WordFinder> lemmaFinder(const QStringList &lists, bool ignoreCase = true, QString *error = nullptr)
{
    WordRules rules;
    rules.lemmaLists = lists;
    return WordFinder::create(rules, ignoreCase, error);
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(bytes), bytes.size());
}

std::vector<WordCount> countText(const WordFinder &finder, const QString &text)
{
    WordTally tally(finder);
    tally.feed(text);
    tally.finish();
    return tally.takeOrdered();
}

const WordCount *rowOf(const std::vector<WordCount> &rows, const QString &word)
{
    const auto it = std::find_if(rows.begin(), rows.end(), [&](const WordCount &w) { return w.word == word; });
    return it == rows.end() ? nullptr : &*it;
}

// "form:count ..." of a row's forms, in their order.
QString formsOf(const WordCount &row)
{
    QStringList parts;
    if (row.forms) {
        for (const WordCount &f : *row.forms)
            parts << f.word + u':' + QString::number(f.count);
    }
    return parts.join(u' ');
}

} // namespace

class TestLemmas : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void englishForms_data();
    void englishForms();
    void englishWithCaseKept();
    void rowsShowTheLemma();
    void phrasesOfLemmas();
    void lemmasOfCorpusWords();
    void lemmaLists_data();
    void lemmaLists();
    void clashesKeepTheFirst();
    void damagedLists_data();
    void damagedLists();
    void hugeListRefused();
    void listsComeBeforeLanguages();
    void fileNamedLikeALanguage();
    void hunspellLemmas_data();
    void hunspellLemmas();
    void languagesOfTheMachine();
    void languageWithoutDictionary();
    void stemsOrLemmasNotBoth();
};

void TestLemmas::initTestCase()
{
    installEnglishPlurals();
}

void TestLemmas::englishForms_data()
{
    QTest::addColumn<QString>("form");
    QTest::addColumn<QString>("lemma");
    const auto rows = [](std::initializer_list<std::pair<const char *, const char *>> pairs) {
        for (const auto &[form, lemma] : pairs)
            QTest::newRow(form) << QString::fromUtf8(form) << QString::fromUtf8(lemma);
    };
    // Irregular verbs.
    rows({{"ran", "run"}, {"runs", "run"}, {"running", "run"}, {"went", "go"}, {"gone", "go"}, {"goes", "go"},
          {"was", "be"}, {"were", "be"}, {"is", "be"}, {"are", "be"}, {"been", "be"}, {"am", "be"},
          {"being", "be"}, {"has", "have"}, {"had", "have"}, {"having", "have"}, {"does", "do"}, {"did", "do"},
          {"done", "do"}, {"seen", "see"}, {"thought", "think"}, {"brought", "bring"}, {"caught", "catch"},
          {"taught", "teach"}, {"made", "make"}, {"said", "say"}, {"told", "tell"}, {"found", "find"},
          {"felt", "feel"}, {"wrote", "write"}, {"written", "write"}, {"broke", "break"}, {"chosen", "choose"},
          {"flew", "fly"}, {"began", "begin"}, {"swum", "swim"}, {"ate", "eat"}, {"drove", "drive"},
          {"spoke", "speak"}, {"lying", "lie"}, {"dying", "die"}});
    // Regular verbs: endings taken off, doubled consonants, a final e.
    rows({{"studies", "study"}, {"studied", "study"}, {"asked", "ask"}, {"wanted", "want"},
          {"stopped", "stop"}, {"stopping", "stop"}, {"planned", "plan"}, {"hoped", "hope"}, {"hopping", "hop"},
          {"agreed", "agree"}, {"tied", "tie"}});
    // Nouns: irregular plurals and the regular ones.
    rows({{"children", "child"}, {"mice", "mouse"}, {"feet", "foot"}, {"teeth", "tooth"}, {"geese", "goose"},
          {"women", "woman"}, {"men", "man"}, {"wives", "wife"}, {"knives", "knife"}, {"crises", "crisis"},
          {"criteria", "criterion"}, {"phenomena", "phenomenon"}, {"boxes", "box"}, {"watches", "watch"},
          {"wishes", "wish"}, {"buses", "bus"}, {"kisses", "kiss"}, {"heroes", "hero"}, {"potatoes", "potato"},
          {"cities", "city"}, {"cats", "cat"}, {"houses", "house"}, {"years", "year"}});
    // Adjectives: comparison, irregular and regular.
    rows({{"better", "good"}, {"best", "good"}, {"worse", "bad"}, {"worst", "bad"}, {"bigger", "big"},
          {"happiest", "happy"}, {"larger", "large"}, {"nicer", "nice"}, {"hotter", "hot"}});
    // Several lemmas: the one most often tagged in WordNet's sense-tagged corpus: "saw" the verb
    // see, not the tool; "glasses" the plural of glass rather than spectacles.
    rows({{"saw", "see"}, {"glasses", "glass"}});
    // Words that are their own lemma, words WordNet does not describe (pronouns, articles,
    // prepositions: "his" is no plural of "hi", nor "us" of "u"), words it does not know.
    rows({{"glass", "glass"}, {"news", "news"}, {"species", "species"}, {"physics", "physics"},
          {"series", "series"}, {"always", "always"}, {"his", "his"}, {"its", "its"}, {"us", "us"},
          {"as", "as"}, {"this", "this"}, {"the", "the"}, {"of", "of"}, {"xyzzy", "xyzzy"},
          {"corvalen", "corvalen"}, {"brexiteers", "brexiteers"}});
}

void TestLemmas::englishForms()
{
    QFETCH(QString, form);
    QFETCH(QString, lemma);
    const auto finder = lemmaFinder({u"en"_qs});
    QVERIFY(finder);
    QVERIFY(finder->groupsWords() && finder->groupsByLemma());
    QCOMPARE(finder->groupKey(form), lemma);
}

void TestLemmas::englishWithCaseKept()
{
    // The headword as the data writes it, a name with its capitals; a word no data knows keeps
    // its own.
    const auto finder = lemmaFinder({u"en"_qs}, false);
    QVERIFY(finder);
    QCOMPARE(finder->groupKey(u"Ran"_qs), u"run"_qs);
    QCOMPARE(finder->groupKey(u"MICE"_qs), u"mouse"_qs);
    QCOMPARE(finder->groupKey(u"Table"_qs), u"table"_qs);
    QCOMPARE(finder->groupKey(u"Elizabeth"_qs), u"Elizabeth"_qs);
    QCOMPARE(finder->groupKey(u"elizabeth"_qs), u"Elizabeth"_qs);
    QCOMPARE(finder->groupKey(u"Darcy"_qs), u"Darcy"_qs);
    QCOMPARE(lemmaFinder({u"en"_qs})->groupKey(u"Elizabeth"_qs), u"elizabeth"_qs);
    QCOMPARE(finder->groupKey(u"The"_qs), u"The"_qs);
    QCOMPARE(finder->groupKey(u"the"_qs), u"the"_qs);
}

void TestLemmas::rowsShowTheLemma()
{
    // The row shows the lemma, whichever form is the most frequent, with every form and its count.
    const auto finder = lemmaFinder({u"en"_qs});
    const std::vector<WordCount> rows =
            countText(*finder, u"Runs ran RUNS running, went. Gone; go goes went xyzzy runs\rchildren"_qs);
    const WordCount *run = rowOf(rows, u"run"_qs);
    QVERIFY(run);
    QCOMPARE(run->count, qint64(5));
    QCOMPARE(formsOf(*run), u"runs:3 ran:1 running:1"_qs);
    const WordCount *go = rowOf(rows, u"go"_qs);
    QVERIFY(go);
    QCOMPARE(formsOf(*go), u"went:2 go:1 goes:1 gone:1"_qs);
    QVERIFY(rowOf(rows, u"child"_qs) && rowOf(rows, u"xyzzy"_qs));
    QVERIFY(!rowOf(rows, u"runs"_qs) && !rowOf(rows, u"children"_qs));
    QCOMPARE(rows.size(), size_t(4));
    // Case kept: "Runs" and "runs" are two forms of one lemma.
    const std::vector<WordCount> kept = countText(*lemmaFinder({u"en"_qs}, false), u"Runs runs Ran"_qs);
    QCOMPARE(kept.size(), size_t(1));
    QCOMPARE(kept.front().word, u"run"_qs);
    QCOMPARE(formsOf(kept.front()), u"Ran:1 Runs:1 runs:1"_qs);
}

// Corpus words keep apostrophes and hyphens: a possessive's lemma is its word's ("children's" ->
// child, a name unknown to the data -> itself without "'s"), the forms WordNet writes with an
// apostrophe or a hyphen are found, and typographic apostrophes meet the ASCII one.
void TestLemmas::lemmasOfCorpusWords()
{
    WordRules rules;
    rules.words = WordRules::Words::Corpus;
    rules.lemmaLists = {u"en"_qs};
    const auto finder = WordFinder::create(rules, true);
    QVERIFY(finder);
    const std::vector<WordCount> rows = countText(
            *finder, u"The children's mice ran; Willoughby's dogs\u2019 o'clock well-known mouse\u2019s children"_qs);
    const auto countOf = [&](const QString &word) {
        const WordCount *row = rowOf(rows, word);
        return row ? row->count : qint64(0);
    };
    QCOMPARE(countOf(u"child"_qs), qint64(2));
    QCOMPARE(countOf(u"mouse"_qs), qint64(2));
    QCOMPARE(countOf(u"run"_qs), qint64(1));
    QCOMPARE(countOf(u"willoughby"_qs), qint64(1));
    QCOMPARE(countOf(u"dog"_qs), qint64(1));
    QCOMPARE(countOf(u"o'clock"_qs), qint64(1));
    QCOMPARE(countOf(u"well-known"_qs), qint64(1));
    QCOMPARE(countOf(u"the"_qs), qint64(1));
    QCOMPARE(rows.size(), size_t(8));
}

void TestLemmas::phrasesOfLemmas()
{
    WordRules rules;
    rules.lemmaLists = {u"en"_qs};
    rules.phraseLength = 2;
    const auto finder = WordFinder::create(rules, true);
    QVERIFY(finder);
    const std::vector<WordCount> rows = countText(*finder, u"was running\ris running\rwere ran"_qs);
    QCOMPARE(rows.size(), size_t(1));
    QCOMPARE(rows.front().word, u"be run"_qs);
    QCOMPARE(rows.front().count, qint64(3));
}

void TestLemmas::lemmaLists_data()
{
    QTest::addColumn<QByteArray>("list");
    QTest::addColumn<QStringList>("forms");
    QTest::addColumn<QStringList>("lemmas"); // what each form is counted under, case ignored
    QTest::newRow("lemma -> forms") << QByteArray("# verbs\nrun -> ran, runs,running   # and more\n\ngo->went , gone\n")
                                    << QStringList{u"ran"_qs, u"runs"_qs, u"running"_qs, u"run"_qs, u"went"_qs, u"gone"_qs, u"walk"_qs}
                                    << QStringList{u"run"_qs, u"run"_qs, u"run"_qs, u"run"_qs, u"go"_qs, u"go"_qs, u"walk"_qs};
    QTest::newRow("form<TAB>lemma") << QByteArray("ran\trun\nRuns\tRun\n  went \t go\r\n")
                                    << QStringList{u"ran"_qs, u"runs"_qs, u"run"_qs, u"went"_qs, u"go"_qs}
                                    << QStringList{u"run"_qs, u"run"_qs, u"run"_qs, u"go"_qs, u"go"_qs};
    QTest::newRow("both, with a byte order mark and CR LF")
            << QByteArray("\xEF\xBB\xBFmouse -> mice\r\ngeese\tgoose\r\n")
            << QStringList{u"mice"_qs, u"mouse"_qs, u"geese"_qs, u"goose"_qs}
            << QStringList{u"mouse"_qs, u"mouse"_qs, u"goose"_qs, u"goose"_qs};
    QTest::newRow("lines ending in CR")
            << QByteArray("mouse -> mice\rgeese\tgoose\r")
            << QStringList{u"mice"_qs, u"mouse"_qs, u"geese"_qs, u"goose"_qs}
            << QStringList{u"mouse"_qs, u"mouse"_qs, u"goose"_qs, u"goose"_qs};
    // Entries are cleaned as words are: the list's "don't" is the counted "dont".
    QTest::newRow("cleaned as words") << QByteArray("do -> don't, does\n")
                                      << QStringList{u"dont"_qs, u"does"_qs, u"do"_qs}
                                      << QStringList{u"do"_qs, u"do"_qs, u"do"_qs};
    QTest::newRow("beyond ASCII") << QByteArray("\xC3\xAAtre -> suis, \xC3\xA9t\xC3\xA9\nStra\xC3\x9F" "e\tSTRASSEN\n")
                                  << QStringList{u"suis"_qs, u"\u00e9t\u00e9"_qs, u"stra\u00dfe"_qs}
                                  << QStringList{u"\u00eatre"_qs, u"\u00eatre"_qs, u"strassen"_qs};
}

void TestLemmas::lemmaLists()
{
    QFETCH(QByteArray, list);
    QFETCH(QStringList, forms);
    QFETCH(QStringList, lemmas);
    QTemporaryDir dir;
    const QString path = dir.filePath(u"lemmas.txt"_qs);
    writeFile(path, list);
    QString error;
    const auto finder = lemmaFinder({path}, true, &error);
    QVERIFY2(finder, qPrintable(error));
    QVERIFY(finder->notes().isEmpty());
    for (qsizetype i = 0; i < forms.size(); ++i)
        QCOMPARE(finder->groupKey(forms.at(i)), lemmas.at(i));
}

void TestLemmas::clashesKeepTheFirst()
{
    QTemporaryDir dir;
    const QString first = dir.filePath(u"first.txt"_qs), second = dir.filePath(u"second.txt"_qs);
    // "lay" is given lie, then lay (twice: one form, counted once); "found" find, then found.
    // Listed twice under the same lemma is no clash.
    writeFile(first, "lie -> lay, lain\nlay -> lay, laid\nfind -> found\nfound\tfound\nlie -> lain\nlay\tlaid\n");
    writeFile(second, "see -> saw\nfind -> found\nsaw -> saw\n");
    const auto finder = lemmaFinder({first, second});
    QVERIFY(finder);
    QCOMPARE(finder->groupKey(u"lay"_qs), u"lie"_qs);
    QCOMPARE(finder->groupKey(u"laid"_qs), u"lay"_qs);
    QCOMPARE(finder->groupKey(u"found"_qs), u"find"_qs);
    QCOMPARE(finder->groupKey(u"saw"_qs), u"see"_qs);
    QCOMPARE(finder->notes(),
             (QStringList{u"the lemma list %1 gives 2 forms a second lemma; each keeps its first."_qs.arg(first),
                          u"the lemma list %1 gives 1 form a second lemma; each keeps its first."_qs.arg(second)}));
}

void TestLemmas::damagedLists_data()
{
    QTest::addColumn<QByteArray>("list");
    QTest::addColumn<QString>("message"); // after "cannot be read at line N: "
    QTest::addColumn<int>("line");
    QTest::newRow("neither format") << QByteArray("run -> ran\nwalk walked\n") << u"it is neither"_qs << 2;
    QTest::newRow("three columns") << QByteArray("# forms\n\nran\trun\tverb\n") << u"3 tab-separated columns"_qs << 3;
    QTest::newRow("no lemma") << QByteArray(" -> ran\n") << u"a form or lemma is missing"_qs << 1;
    QTest::newRow("no forms") << QByteArray("run ->   # none yet\n") << u"no forms follow"_qs << 1;
    QTest::newRow("an empty form") << QByteArray("run -> ran,,runs\n") << u"a form or lemma is missing"_qs << 1;
    QTest::newRow("two arrows") << QByteArray("a -> b -> c\n") << u"more than once"_qs << 1;
    QTest::newRow("two words") << QByteArray("ok\tfine\nice cream -> ice creams\n") << u"\"ice cream\" is more than one word"_qs << 2;
    QTest::newRow("only punctuation") << QByteArray("dash -> --, -\n") << u"\"--\" holds no word"_qs << 1;
    QTest::newRow("not UTF-8") << QByteArray("ran\trun\nwent\tgo\ncaf\xE9\tcafe\n") << u"not UTF-8 text"_qs << 3;
    QTest::newRow("empty tab column") << QByteArray("ran\t\n") << u"a form or lemma is missing"_qs << 1;
}

void TestLemmas::damagedLists()
{
    QFETCH(QByteArray, list);
    QFETCH(QString, message);
    QFETCH(int, line);
    QTemporaryDir dir;
    const QString path = dir.filePath(u"damaged.txt"_qs);
    writeFile(path, list);
    QString error;
    QVERIFY(!lemmaFinder({u"en"_qs, path}, true, &error));
    const QString at = u"The lemma list %1 cannot be read at line %2: "_qs.arg(path).arg(line);
    QVERIFY2(error.startsWith(at), qPrintable(error));
    QVERIFY2(error.contains(message), qPrintable(error));
}

void TestLemmas::hugeListRefused()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"huge.txt"_qs);
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    const QByteArray line = "form\tlemma\n";
    for (qint64 written = 0; written <= (qint64(16) << 20); written += line.size())
        f.write(line);
    f.close();
    QString error;
    QVERIFY(!lemmaFinder({path}, true, &error));
    QVERIFY2(error.contains(u"larger than 16 MB"), qPrintable(error));
    QVERIFY(!lemmaFinder({dir.path()}, true, &error));
    QVERIFY2(error.contains(u"it is a folder"), qPrintable(error));
    QVERIFY(!lemmaFinder({dir.filePath(u"missing.txt"_qs)}, true, &error));
    QVERIFY2(error.contains(u"missing.txt could not be read"), qPrintable(error));
}

void TestLemmas::listsComeBeforeLanguages()
{
    // The user's list corrects the built-in data for its forms, whichever is given first; the
    // built-in data still lemmatises the rest.
    QTemporaryDir dir;
    const QString path = dir.filePath(u"mine.txt"_qs);
    writeFile(path, "saw -> saws, sawed\nleaf -> leaves\n");
    for (const QStringList &lists : {QStringList{u"en"_qs, path}, QStringList{path, u"en"_qs}}) {
        const auto finder = lemmaFinder(lists);
        QVERIFY(finder);
        QCOMPARE(finder->groupKey(u"saw"_qs), u"saw"_qs);
        QCOMPARE(finder->groupKey(u"saws"_qs), u"saw"_qs);
        QCOMPARE(finder->groupKey(u"leaves"_qs), u"leaf"_qs);
        QCOMPARE(finder->groupKey(u"ran"_qs), u"run"_qs);
        QCOMPARE(finder->groupKey(u"seen"_qs), u"see"_qs);
    }
}

void TestLemmas::fileNamedLikeALanguage()
{
    // The language's name wins over a file of that name; a name without a dictionary is a list
    // where such a file exists.
    QTemporaryDir dir;
    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    writeFile(dir.filePath(u"fr"_qs), "chevaux\tchevals\n");
    writeFile(dir.filePath(u"zz"_qs), "chevaux\tchevals\n");
    const auto french = lemmaFinder({u"fr"_qs});
    const auto list = lemmaFinder({u"zz"_qs});
    QDir::setCurrent(before);
    QVERIFY(french && list);
    QCOMPARE(french->groupKey(u"chevaux"_qs), u"cheval"_qs);
    QCOMPARE(list->groupKey(u"chevaux"_qs), u"chevals"_qs);
}

void TestLemmas::hunspellLemmas_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<bool>("ignoreCase");
    QTest::addColumn<QString>("form");
    QTest::addColumn<QString>("lemma");
    QTest::newRow("fr chevaux") << u"fr"_qs << true << u"chevaux"_qs << u"cheval"_qs;
    QTest::newRow("fr allaient") << u"fr"_qs << true << u"allaient"_qs << u"aller"_qs;
    QTest::newRow("fr travaux") << u"fr"_qs << true << u"travaux"_qs << u"travail"_qs;
    QTest::newRow("fr mangé") << u"fr"_qs << true << u"mang\u00e9"_qs << u"manger"_qs;
    // Several stems: the shortest (être rather than suivre); the form itself when it is one
    // ("est", the east, stays).
    QTest::newRow("fr suis") << u"fr"_qs << true << u"suis"_qs << u"\u00eatre"_qs;
    QTest::newRow("fr est") << u"fr"_qs << true << u"est"_qs << u"est"_qs;
    QTest::newRow("de Häuser, case kept") << u"de"_qs << false << u"H\u00e4user"_qs << u"Haus"_qs;
    QTest::newRow("de häuser, case ignored") << u"de"_qs << true << u"h\u00e4user"_qs << u"haus"_qs;
    QTest::newRow("de Kinder") << u"de"_qs << false << u"Kinder"_qs << u"Kind"_qs;
    QTest::newRow("de Frauen") << u"de_DE"_qs << true << u"frauen"_qs << u"frau"_qs;
    QTest::newRow("es niños") << u"es"_qs << true << u"ni\u00f1os"_qs << u"ni\u00f1o"_qs;
    QTest::newRow("es hablaban") << u"es"_qs << true << u"hablaban"_qs << u"hablar"_qs;
    QTest::newRow("es tengo") << u"es"_qs << true << u"tengo"_qs << u"tener"_qs;
    // casa and casar: the shorter, the noun.
    QTest::newRow("es casas") << u"ES"_qs << true << u"casas"_qs << u"casa"_qs;
    QTest::newRow("es unknown") << u"es"_qs << true << u"xyzzy"_qs << u"xyzzy"_qs;
}

void TestLemmas::hunspellLemmas()
{
    QFETCH(QString, language);
    QFETCH(bool, ignoreCase);
    QFETCH(QString, form);
    QFETCH(QString, lemma);
    QString error;
    const auto finder = lemmaFinder({language}, ignoreCase, &error);
    // The tests install the dictionaries (tools/install-deps.sh --tests).
    QVERIFY2(finder, qPrintable(error));
    QCOMPARE(finder->groupKey(form), lemma);
}

void TestLemmas::languagesOfTheMachine()
{
    const QStringList languages = lemmaLanguages();
    for (const QString &code : {u"de"_qs, u"en"_qs, u"es"_qs, u"fr"_qs})
        QVERIFY2(languages.contains(code), qPrintable(languages.join(u' ')));
    QVERIFY(std::is_sorted(languages.begin(), languages.end()));
    for (const QString &name : {u"en"_qs, u"EN"_qs, u"de"_qs, u"de_DE"_qs, u"de-de"_qs, u"fr"_qs})
        QVERIFY2(isLemmaLanguage(name), qPrintable(name));
    for (const QString &name : {u"zz"_qs, u"de_ZZ"_qs, u"english"_qs, u"./en"_qs, QString()})
        QVERIFY2(!isLemmaLanguage(name), qPrintable(name));
    QCOMPARE(lemmaLanguageSource(u"en"_qs), u"WordNet 3.0, built in"_qs);
    QVERIFY(lemmaLanguageSource(u"de"_qs).contains(u"de_DE.dic"));
}

void TestLemmas::languageWithoutDictionary()
{
    QString error;
    QVERIFY(!lemmaFinder({u"zz"_qs}, true, &error));
    QVERIFY2(error.contains(u"\"zz\"") && error.contains(u"hunspell-zz"), qPrintable(error));
    QVERIFY2(error.contains(lemmaLanguages().join(u", ")), qPrintable(error));
    QCOMPARE(hunspellPackageOf(u"it"_qs), u"hunspell-it"_qs);
    QCOMPARE(hunspellPackageOf(u"de"_qs), u"hunspell-de-de"_qs);
    QCOMPARE(hunspellPackageOf(u"pt_BR"_qs), u"hunspell-pt-br"_qs);
}

void TestLemmas::stemsOrLemmasNotBoth()
{
    // The rules' description names the sources, files by their names.
    CountOptions options(CountMode::Combined, false, true);
    options.rules.lemmaLists = {u"en"_qs, u"/some/where/mine.txt"_qs};
    QVERIFY(describeCountOptions(options).contains(u"lemmas: en, mine.txt"_qs));

    WordRules rules;
    rules.lemmaLists = {u"en"_qs};
    rules.stemLanguage = u"english"_qs;
    QString error;
    QVERIFY(!WordFinder::create(rules, true, &error));
    QVERIFY2(error.contains(u"not by both"), qPrintable(error));
    // Without lemmas nothing is grouped by them.
    const auto plain = WordFinder::create(WordRules(), true);
    QVERIFY(!plain->groupsByLemma() && plain->notes().isEmpty());
}

QTEST_GUILESS_MAIN(TestLemmas)
#include "tst_lemmas.moc"
