#include "cli/wordruleoptions.h"

#include "base/filenames.h"
#include "engine/lemmas.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace corvalen {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("corvalen::WordRuleOptions", text);
}

// The longest minimum length: longer words exist only in damaged text.
constexpr int kMaxMinLength = 1000000;

// A whole number from lowest to highest, or nullopt.
std::optional<int> numberIn(const QString &text, int lowest, int highest)
{
    bool ok = false;
    const qlonglong n = text.trimmed().toLongLong(&ok);
    return ok && n >= lowest && n <= highest ? std::optional<int>(int(n)) : std::nullopt;
}

} // namespace

void addWordRuleOptions(QCommandLineParser &parser)
{
    parser.addOptions({
            QCommandLineOption(u"words"_qs,
                               tr("basic: words lie between spaces and paragraph ends (default); "
                                  "unicode: words as Unicode word boundaries give them, with "
                                  "dictionaries for Chinese, Japanese, Thai, Lao, Khmer and Burmese; "
                                  "corpus: Unicode words that keep apostrophes between letters "
                                  "(don't, l'homme), single hyphens between letters or digits "
                                  "(well-known) and the points and commas of numbers (3,141.5), "
                                  "every other punctuation separating words."),
                               u"basic|unicode|corpus"_qs, u"basic"_qs),
            QCommandLineOption(u"hyphens"_qs,
                               tr("With --words corpus: join: a single hyphen between letters or "
                                  "digits joins them into one word (default); split: it separates "
                                  "them, as other punctuation does."),
                               u"join|split"_qs, u"join"_qs),
            QCommandLineOption(u"paragraphs"_qs,
                               tr("Where a paragraph of a plain-text or PDF file ends: lines: at "
                                  "every line end (default); blank-lines: at an empty line (or one "
                                  "of spaces and tabs), a page break or the file's end, the lines "
                                  "between joined as by a space. Other formats mark their "
                                  "paragraphs themselves."),
                               u"lines|blank-lines"_qs, u"lines"_qs),
            QCommandLineOption(u"punctuation"_qs,
                               tr("ascii: delete the 32 ASCII punctuation characters (default); all: "
                                  "delete every Unicode punctuation character as well (quotes, "
                                  "dashes, ellipses, guillemets ...)."),
                               u"ascii|all"_qs, u"ascii"_qs),
            QCommandLineOption(u"stop-words"_qs,
                               tr("Leave out the words of LIST: a language (da, de, en, es, fi, fr, "
                                  "hu, id, it, nl, no, pt, ro, ru, sv; in any letter case) or a UTF-8 "
                                  "file with one word per line (# starts a comment). A file named like "
                                  "a language is given with its folder: ./en. May be given several "
                                  "times."),
                               u"LIST"_qs),
            QCommandLineOption(u"min-length"_qs,
                               tr("Leave out words of fewer than N characters, 1 to %1 (default 1).")
                                       .arg(kMaxMinLength),
                               u"N"_qs),
            QCommandLineOption(u"stem"_qs,
                               tr("Group the forms of a word by their stem in LANG (english or en, "
                                  "german or de, ...; in any letter case); each row shows the group's "
                                  "most frequent form."),
                               u"LANG"_qs),
            QCommandLineOption(u"lemmas"_qs,
                               tr("Count each form under its lemma, the headword (ran, runs and running "
                                  "as run), from LANG (here: %1; en is built in, the others come from "
                                  "Hunspell dictionaries) or from a UTF-8 FILE of lines \"lemma -> form, "
                                  "form ...\" or \"form<TAB>lemma\" (# starts a comment). A file's forms "
                                  "come before the languages'. May be given several times; not with --stem.")
                                       .arg(lemmaLanguages().join(u", ")),
                               u"LANG|FILE"_qs),
            QCommandLineOption(u"ngrams"_qs,
                               tr("Count phrases of N consecutive words of one paragraph, 1 to 5 "
                                  "(default 1); a phrase with a stop word or a short word is left out."),
                               u"N"_qs),
    });
}

std::optional<WordRules> wordRulesFromParser(const QCommandLineParser &parser, QString *error,
                                             QStringList *notes)
{
    const auto fail = [error](const QString &message) {
        if (error)
            *error = message;
        return std::optional<WordRules>();
    };
    for (const QString &once : {u"words"_qs, u"hyphens"_qs, u"paragraphs"_qs, u"punctuation"_qs, u"min-length"_qs,
                                u"stem"_qs, u"ngrams"_qs}) {
        if (parser.values(once).size() > 1)
            return fail(tr("--%1 may be given once.").arg(once));
    }
    WordRules rules;
    const QString words = parser.value(u"words"_qs);
    if (words == u"unicode")
        rules.words = WordRules::Words::Unicode;
    else if (words == u"corpus")
        rules.words = WordRules::Words::Corpus;
    else if (words != u"basic")
        return fail(tr("unknown word rule \"%1\" for --words (basic, unicode or corpus).").arg(words));
    const QString hyphens = parser.value(u"hyphens"_qs);
    if (hyphens == u"split")
        rules.hyphens = WordRules::Hyphens::Split;
    else if (hyphens != u"join")
        return fail(tr("unknown hyphen rule \"%1\" for --hyphens (join or split).").arg(hyphens));
    // The other rules have one way with hyphens each: the plain rules delete them, Unicode words
    // separate at them.
    if (parser.isSet(u"hyphens"_qs) && rules.words != WordRules::Words::Corpus)
        return fail(tr("--hyphens applies to corpus words only (--words corpus)."));
    const QString paragraphs = parser.value(u"paragraphs"_qs);
    if (paragraphs == u"blank-lines")
        rules.paragraphs = WordRules::Paragraphs::BlankLines;
    else if (paragraphs != u"lines")
        return fail(tr("unknown paragraph rule \"%1\" for --paragraphs (lines or blank-lines).").arg(paragraphs));
    const QString punctuation = parser.value(u"punctuation"_qs);
    if (punctuation == u"all")
        rules.punctuation = WordRules::Punctuation::All;
    else if (punctuation != u"ascii")
        return fail(tr("unknown punctuation \"%1\" for --punctuation (ascii or all).").arg(punctuation));
    rules.stopWordLists = parser.values(u"stop-words"_qs);
    const QStringList builtIn = builtInStopWordLists();
    for (const QString &list : std::as_const(rules.stopWordLists)) {
        if (list.isEmpty())
            return fail(tr("--stop-words needs a language or a file name."));
        // A language's name wins over a file of that name, which is then easily missed.
        if (notes && builtIn.contains(list.toLower()) && fileStatus(list).exists)
            notes->append(tr("--stop-words %1 is the built-in list; the file %1 in this folder is ./%1.").arg(list));
    }
    if (parser.isSet(u"min-length"_qs)) {
        const std::optional<int> n = numberIn(parser.value(u"min-length"_qs), 1, kMaxMinLength);
        if (!n)
            return fail(tr("--min-length needs a whole number from 1 to %1.").arg(kMaxMinLength));
        rules.minLength = *n;
    }
    const QString stem = parser.value(u"stem"_qs).toLower();
    if (!stem.isEmpty() && stem != u"none") {
        if (!isStemmingLanguage(stem))
            return fail(tr("unknown language \"%1\" for --stem (%2, or their ISO 639 codes such as en).")
                                .arg(stem, stemmingLanguages().join(u", ")));
        rules.stemLanguage = stem;
    }
    rules.lemmaLists = parser.values(u"lemmas"_qs);
    if (!rules.lemmaLists.isEmpty() && !rules.stemLanguage.isEmpty())
        return fail(tr("--stem and --lemmas cannot be used together: word forms are grouped by one or the other."));
    for (const QString &list : std::as_const(rules.lemmaLists)) {
        if (list.isEmpty())
            return fail(tr("--lemmas needs a language or a file name."));
        // A language's name wins over a file of that name, which is then easily missed.
        if (notes && isLemmaLanguage(list) && fileStatus(list).exists)
            notes->append(tr("--lemmas %1 is the language; the file %1 in this folder is ./%1.").arg(list));
    }
    if (parser.isSet(u"ngrams"_qs)) {
        const std::optional<int> n = numberIn(parser.value(u"ngrams"_qs), 1, WordRules::kMaxPhraseLength);
        if (!n)
            return fail(tr("--ngrams needs a whole number from 1 to %1.").arg(WordRules::kMaxPhraseLength));
        rules.phraseLength = *n;
    }
    return rules;
}

QString whyNeverCounted(const WordFinder &finder, const QString &word)
{
    // The word cut and cleaned as the rules do, before any of them leaves a word out.
    WordRules bare = finder.rules();
    bare.stopWordLists.clear();
    bare.minLength = 1;
    bare.stemLanguage.clear();
    bare.lemmaLists.clear();
    bare.phraseLength = 1;
    const std::unique_ptr<WordFinder> splitter = WordFinder::create(bare, finder.ignoresCase());
    QStringList words;
    if (splitter)
        splitter->findWords(word, [&words](const FoundWord &w) { words.append(w.word.toString()); });
    if (words.isEmpty()) {
        return word.trimmed().isEmpty() ? tr("the word is empty: nothing is counted.")
                                        : tr("\"%1\" holds no word: only punctuation and spaces, which are never counted.").arg(word);
    }
    for (const QString &w : std::as_const(words)) {
        QString form;
        if (finder.formOf(w, form))
            continue;
        if (w.toUcs4().size() < finder.rules().minLength)
            return tr("\"%1\" is shorter than --min-length %2: it is never counted.").arg(w).arg(finder.rules().minLength);
        return tr("\"%1\" is a stop word of the lists given (--stop-words): it is never counted.").arg(w);
    }
    return QString();
}

} // namespace corvalen
