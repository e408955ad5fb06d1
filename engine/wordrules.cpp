#include "engine/wordrules.h"

#include "engine/hashtally.h"
#include "engine/lemmas.h"
#include "engine/stopwordlists.h"
#include "engine/wordscanner.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <libstemmer.h>
#include <unicode/ubrk.h>
#include <unicode/uchar.h>
#include <unicode/uscript.h>
#include <unicode/utf16.h>

#include <array>
#include <atomic>
#include <limits>
#include <new>
#include <vector>

namespace corvalen {

namespace {

using counting::kSlack;

QString tr(const char *text)
{
    return QCoreApplication::translate("corvalen::WordRules", text);
}

// A stop-word list larger than this is no list of words: refused rather than read whole.
constexpr qint64 kMaxStopListBytes = qint64(16) << 20;
// Longest text handed to the word-break iterator at once (its positions are 32-bit).
constexpr qsizetype kMaxBreakText = qsizetype(1) << 30;

// Every character of the general categories P*, the basic multilingual plane looked up in a table
// (the counter asks once per character); the others are asked of ICU.
const std::array<quint64, 1024> &punctuationBits()
{
    static const std::array<quint64, 1024> bits = [] {
        std::array<quint64, 1024> b{};
        for (UChar32 c = 0; c < 0x10000; ++c) {
            if (u_ispunct(c))
                b[size_t(c) >> 6] |= quint64(1) << (c & 63);
        }
        return b;
    }();
    return bits;
}

// Deletes every punctuation character (P*) of the n units at w, in place; returns what is left.
size_t deleteAllPunctuation(char16_t *w, size_t n)
{
    const std::array<quint64, 1024> &bits = punctuationBits();
    size_t k = 0;
    for (size_t i = 0; i < n; ++i) {
        const char16_t c = w[i];
        if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(w[i + 1])) {
            if (!u_ispunct(UChar32(QChar::surrogateToUcs4(c, w[i + 1])))) {
                w[k++] = c;
                w[k++] = w[i + 1];
            }
            ++i;
            continue;
        }
        w[k] = c;
        k += !((bits[c >> 6] >> (c & 63)) & 1);
    }
    return k;
}

size_t codePoints(const char16_t *w, size_t n)
{
    size_t pairs = 0;
    for (size_t i = 1; i < n; ++i)
        pairs += QChar::isLowSurrogate(w[i]) && QChar::isHighSurrogate(w[i - 1]);
    return n - pairs;
}

// What corpus words make of a character inside a word piece of the boundaries. Apostrophes,
// number marks and hyphens are kept only between the characters their rule names; letters and
// marks, digits, other numerals and whatever is neither punctuation nor one of these (symbols,
// joiners, format characters) stay in the word; any other punctuation separates words.
enum CorpusKind : quint8 {
    kPart = 0,
    kAlpha = 1,       // a letter or a mark
    kNumeral = 2,     // a decimal digit
    kOtherNumber = 3, // Roman numerals, fractions, superscripts ...
    kApostrophe = 4,  // U+0027, U+2019, U+02BC: kept between letters, written U+0027
    kNumberMark = 5,  // full stop and comma (and the Arabic decimal and thousands separators)
    kHyphen = 6,      // U+002D, U+2010, U+2011: a single one between letters or digits joins them
    kBreak = 7,       // other punctuation
    kNoKind = 8,      // before a piece's start, after its end
};

quint8 corpusKindOf(char32_t c)
{
    switch (c) {
    case 0x27: case 0x2019: case 0x2BC:
        return kApostrophe;
    case u'.': case u',': case 0x66B: case 0x66C:
        return kNumberMark;
    case u'-': case 0x2010: case 0x2011:
        return kHyphen;
    default:
        break;
    }
    const uint32_t category = U_MASK(u_charType(UChar32(c)));
    if (category & (U_GC_L_MASK | U_GC_M_MASK))
        return kAlpha;
    if (category & U_GC_ND_MASK)
        return kNumeral;
    if (category & U_GC_N_MASK)
        return kOtherNumber;
    return category & U_GC_P_MASK ? kBreak : kPart;
}

bool isHyphen(char16_t c)
{
    return c == u'-' || c == 0x2010 || c == 0x2011;
}

// Writes the n units at in to out as corpus words clean them: the apostrophes and hyphens they
// keep written as U+0027 and U+002D, letters lower-cased when case is ignored. Corpus words hold
// no other ASCII punctuation, so nothing is deleted.
size_t corpusClean(char16_t *out, const char16_t *in, size_t n, bool ignoreCase)
{
    const char16_t *table = counting::ignoreCaseCleaning().data();
    bool rest = false;
    for (size_t i = 0; i < n; ++i) {
        char16_t c = in[i];
        if (c == 0x2019 || c == 0x2BC)
            c = u'\'';
        else if (c == 0x2010 || c == 0x2011)
            c = u'-';
        if (ignoreCase) {
            if (c < 128)
                c = counting::kAscii.lower[c];
            else if (c < 0x2500)
                c = table[c]; // deletes only ASCII punctuation
            else
                rest = true;
        }
        out[i] = c;
    }
    if (rest)
        counting::lowerRest(out, n);
    return n;
}

// What the word-break iterator does with each character of the basic multilingual plane, as far
// as a segment of text can be split without it: letters and digits join into words; some
// characters join two letters and two digits (MidNumLet, Single_Quote), some two digits only
// (MidNum), when they stand between them; other characters (most punctuation and symbols) stand
// alone. Each character is put in its class the first time it is met, by asking the iterator
// itself about it in a few short texts, so that the classes follow its rules (and their
// tailoring) exactly; characters of the dictionary scripts, marks, joiners, emoji and whatever
// fits no class are left to it.
enum WordClass : quint8 {
    kSlow = 0,
    kLetter = 1,
    kDigit = 2,
    kMidBoth = 3,
    kMidNum = 4,
    kOther = 5,
    kClassMask = 7,
    kJoinsSpace = 8, // joins a space before it (a mark, a format character, another space)
    kKnown = 16,
    kCorpusShift = 5, // the character's CorpusKind in the top three bits
};

// The pieces the iterator cuts text into: their ends and rule statuses.
struct Pieces
{
    int count = 0;
    int32_t firstStatus = 0;
};

Pieces piecesOf(UBreakIterator *breaks, const char16_t *text, int32_t size)
{
    Pieces p;
    UErrorCode status = U_ZERO_ERROR;
    ubrk_setText(breaks, reinterpret_cast<const UChar *>(text), size, &status);
    if (U_FAILURE(status))
        return p;
    ubrk_first(breaks);
    for (int32_t at = ubrk_next(breaks); at != UBRK_DONE; at = ubrk_next(breaks)) {
        if (p.count++ == 0)
            p.firstStatus = ubrk_getRuleStatus(breaks);
    }
    return p;
}

quint8 probeClass(char16_t c, UBreakIterator *breaks)
{
    const quint8 corpus = quint8(corpusKindOf(c) << kCorpusShift);
    if (QChar::isSurrogate(c))
        return kSlow | kJoinsSpace | kKnown | corpus;
    UErrorCode status = U_ZERO_ERROR;
    const UScriptCode script = uscript_getScript(UChar32(c), &status);
    const bool dictionary = script == USCRIPT_HAN || script == USCRIPT_HIRAGANA || script == USCRIPT_KATAKANA
            || (c >= 0xAC00 && c <= 0xD7A3)
            || u_getIntPropertyValue(UChar32(c), UCHAR_LINE_BREAK) == U_LB_COMPLEX_CONTEXT
            || u_hasBinaryProperty(UChar32(c), UCHAR_IDEOGRAPHIC)
            || u_hasBinaryProperty(UChar32(c), UCHAR_EXTENDED_PICTOGRAPHIC);
    // Short texts of c with a letter (a), a digit (1), itself and the joining characters.
    const auto count = [&](std::u16string_view pattern) {
        char16_t text[8];
        size_t n = 0;
        for (const char16_t u : pattern)
            text[n++] = u == u'C' ? c : u;
        return piecesOf(breaks, text, int32_t(n)).count;
    };
    const char16_t alone[1] = {c};
    const int32_t statusAlone = piecesOf(breaks, alone, 1).firstStatus;
    const quint8 joinsSpace = count(u" C") == 1 ? kJoinsSpace : 0;
    quint8 k = kSlow;
    if (dictionary) {
        k = kSlow;
    } else if (statusAlone >= UBRK_WORD_LETTER && statusAlone < UBRK_WORD_LETTER_LIMIT) {
        if (count(u"CC") == 1 && count(u"aCa") == 1 && count(u"1C1") == 1 && count(u"C.a") == 1
            && count(u"C,a") == 3 && count(u"C.1") == 3 && count(u"C'") == 2 && count(u"C\"C") == 3)
            k = kLetter;
    } else if (statusAlone >= UBRK_WORD_NUMBER && statusAlone < UBRK_WORD_NUMBER_LIMIT) {
        if (count(u"CC") == 1 && count(u"aCa") == 1 && count(u"1C1") == 1 && count(u"C.1") == 1
            && count(u"C,1") == 1 && count(u"C.a") == 3 && count(u"C,a") == 3)
            k = kDigit;
    } else if (statusAlone < UBRK_WORD_NONE_LIMIT && count(u"CC") == 2) {
        const int letters = count(u"aCa"), digits = count(u"1C1");
        if (letters == 3 && digits == 3)
            k = kOther;
        else if (letters == 1 && digits == 1 && count(u"aC1") == 3 && count(u"1Ca") == 3 && count(u"aCCa") == 4)
            k = kMidBoth;
        else if (letters == 3 && digits == 1 && count(u"1CC1") == 4)
            k = kMidNum;
    }
    return k | joinsSpace | kKnown | corpus;
}

// The classes found so far, shared by every finder; a class is found once, by whichever thread
// meets the character first (two that meet it at once find the same).
std::array<std::atomic<quint8>, 0x10000> &wordClasses()
{
    static std::array<std::atomic<quint8>, 0x10000> classes{};
    return classes;
}

// Room for n units and the slack the tally's block-wise loads read past a word.
char16_t *room(std::vector<char16_t> &buffer, size_t n)
{
    if (buffer.size() < n + kSlack)
        buffer.resize(std::max(n + kSlack, buffer.size() * 2));
    return buffer.data();
}

struct BreakIteratorCloser
{
    void operator()(UBreakIterator *b) const { ubrk_close(b); }
};
using BreakIterator = std::unique_ptr<UBreakIterator, BreakIteratorCloser>;

BreakIterator openWordBreaks(QString *error)
{
    UErrorCode status = U_ZERO_ERROR;
    BreakIterator breaks(ubrk_open(UBRK_WORD, "", nullptr, 0, &status));
    if (U_FAILURE(status)) {
        if (error)
            *error = tr("Unicode word boundaries are not available: %1.")
                             .arg(QString::fromLatin1(u_errorName(status)));
        return nullptr;
    }
    return breaks;
}

struct StemmerDeleter
{
    void operator()(sb_stemmer *s) const { sb_stemmer_delete(s); }
};
using Stemmer = std::unique_ptr<sb_stemmer, StemmerDeleter>;

Stemmer openStemmer(const QString &language)
{
    return Stemmer(sb_stemmer_new(language.toLatin1().constData(), "UTF_8"));
}

// The text of a stop-word list: a built-in language or a file.
bool stopListText(const QString &list, QString *text, QString *error)
{
    const QString builtIn = builtInStopWordText(list.toLower());
    if (!builtIn.isEmpty()) {
        *text = builtIn;
        return true;
    }
    const QString shown = QDir::toNativeSeparators(list);
    const QFileInfo info(list);
    QString reason;
    QFile file(list);
    if (list.isEmpty()) {
        reason = tr("no name given");
    } else if (info.isDir()) {
        reason = tr("it is a folder");
    } else if (info.exists() && info.size() > kMaxStopListBytes) {
        *error = tr("The stop-word list %1 is larger than 16 MB: it is not a list of words.").arg(shown);
        return false;
    } else if (!file.open(QIODevice::ReadOnly)) {
        reason = file.errorString();
    }
    if (!reason.isEmpty()) {
        *error = tr("The stop-word list %1 could not be read: %2.").arg(shown, reason);
        if (!list.contains(u'/') && !info.exists())
            *error += u' ' + tr("The built-in lists are %1.").arg(builtInStopWordLists().join(u", "));
        return false;
    }
    const QByteArray bytes = file.read(kMaxStopListBytes + 1);
    if (file.error() != QFileDevice::NoError) {
        *error = tr("The stop-word list %1 could not be read: %2.").arg(shown, file.errorString());
        return false;
    }
    if (bytes.size() > kMaxStopListBytes) {
        *error = tr("The stop-word list %1 is larger than 16 MB: it is not a list of words.").arg(shown);
        return false;
    }
    QStringDecoder utf8(QStringDecoder::Utf8);
    *text = utf8.decode(bytes);
    if (utf8.hasError()) {
        *error = tr("The stop-word list %1 is not UTF-8 text.").arg(shown);
        return false;
    }
    return true;
}

} // namespace

// What every finder of the same rules shares, read once: the stop words and the lemmas.
struct SharedRules
{
    counting::HashTally stopWords;
    bool hasStopWords = false;
    std::shared_ptr<const Lemmatizer> lemmas;
    QStringList notes;
};

struct WordFinder::Private
{
    std::shared_ptr<const SharedRules> shared;
    counting::WordScanner scanner;
    std::vector<char16_t> word;  // the word being cleaned
    mutable std::vector<char16_t> form; // the same for formOf()
    mutable std::vector<char16_t> lower; // its lower-case form, for the stop words
    BreakIterator breaks;        // opened when first needed
    mutable Stemmer stemmer;     // opened when first needed
    mutable std::vector<char16_t> stemWord;

    explicit Private(bool ignoreCase) : scanner(ignoreCase) { }
};

QStringList builtInStopWordLists()
{
    QStringList codes;
    for (const stopwords::List &list : stopwords::lists())
        codes << QString::fromLatin1(list.code);
    return codes;
}

QString builtInStopWordText(const QString &code)
{
    for (const stopwords::List &list : stopwords::lists()) {
        if (code == QLatin1StringView(list.code))
            return QString::fromUtf8(list.text, qsizetype(list.size));
    }
    return QString();
}

QStringList stemmingLanguages()
{
    QStringList names;
    for (const char **name = sb_stemmer_list(); *name; ++name)
        names << QString::fromLatin1(*name);
    return names;
}

bool isStemmingLanguage(const QString &name)
{
    // The library's names are lower-case ASCII; anything else would only be refused by it.
    for (const QChar c : name) {
        if (c < u'a' || c > u'z')
            return false;
    }
    return !name.isEmpty() && openStemmer(name) != nullptr;
}

WordFinder::WordFinder(const WordRules &rules, bool ignoreCase)
    : d(std::make_unique<Private>(ignoreCase)), m_rules(rules), m_ignoreCase(ignoreCase)
{
}

WordFinder::~WordFinder() = default;

std::unique_ptr<WordFinder> WordFinder::create(const WordRules &rules, bool ignoreCase, QString *error)
{
    QString problem;
    const auto refuse = [&](const QString &why) {
        if (error)
            *error = why;
        return std::unique_ptr<WordFinder>();
    };
    if (rules.phraseLength < 1 || rules.phraseLength > WordRules::kMaxPhraseLength)
        return refuse(tr("Phrases are 1 to %1 words long, not %2.")
                              .arg(WordRules::kMaxPhraseLength)
                              .arg(rules.phraseLength));
    if (rules.minLength < 1)
        return refuse(tr("The minimum word length is 1 or more, not %1.").arg(rules.minLength));
    if (!rules.stemLanguage.isEmpty() && !isStemmingLanguage(rules.stemLanguage))
        return refuse(tr("There are no word forms for the language \"%1\"; the languages are %2.")
                              .arg(rules.stemLanguage, stemmingLanguages().join(u", ")));
    if (!rules.stemLanguage.isEmpty() && !rules.lemmaLists.isEmpty())
        return refuse(tr("Word forms are grouped by their stems or by their lemmas, not by both."));
    std::unique_ptr<WordFinder> finder(new WordFinder(rules, ignoreCase));
    if (rules.atWordBoundaries()) {
        finder->d->breaks = openWordBreaks(&problem);
        if (!finder->d->breaks)
            return refuse(problem);
    }
    auto shared = std::make_shared<SharedRules>();
    std::vector<char16_t> entry;
    const auto addStopWord = [&shared](const char16_t *w, size_t k) {
        const counting::WordRef ref = counting::makeWordRef(w, k);
        if (!shared->stopWords.contains(ref))
            shared->stopWords.add(ref, 1);
    };
    // Corpus words cut a list's entries as they cut text (its "don't" takes out "don't", its
    // "Willoughby--but" two words), with the finder's own rules less the lists.
    std::unique_ptr<WordFinder> entryCutter;
    if (rules.words == WordRules::Words::Corpus && !rules.stopWordLists.isEmpty()) {
        WordRules bare = rules;
        bare.stopWordLists.clear();
        bare.minLength = 1;
        bare.stemLanguage.clear();
        bare.lemmaLists.clear();
        bare.phraseLength = 1;
        entryCutter = create(bare, true, error);
        if (!entryCutter)
            return nullptr;
    }
    for (const QString &list : rules.stopWordLists) {
        QString text;
        if (!stopListText(list, &text, &problem))
            return refuse(problem);
        // Entries are cleaned and lower-cased as words are, so that they meet the words in the
        // form the count gives them: the list's "don't" takes out "dont".
        for (QStringView line : QStringView(text).split(u'\n')) {
            const qsizetype comment = line.indexOf(u'#');
            if (comment >= 0)
                line = line.first(comment);
            if (entryCutter) {
                entryCutter->findWords(line, [&](const FoundWord &f) {
                    // Copied where the lookups may read past its end.
                    const size_t n = size_t(f.word.size());
                    char16_t *w = room(entry, n);
                    std::copy_n(reinterpret_cast<const char16_t *>(f.word.utf16()), n, w);
                    addStopWord(w, n);
                });
                continue;
            }
            for (QStringView raw : line.split(u' ', Qt::SkipEmptyParts)) {
                raw = raw.trimmed();
                if (raw.isEmpty())
                    continue;
                const size_t n = size_t(raw.size());
                char16_t *w = room(entry, n);
                size_t k = counting::cleanWord(w, reinterpret_cast<const char16_t *>(raw.utf16()), n, true);
                if (rules.punctuation == WordRules::Punctuation::All)
                    k = deleteAllPunctuation(w, k);
                if (k == 0)
                    continue;
                addStopWord(w, k);
            }
        }
    }
    shared->hasStopWords = shared->stopWords.distinct() > 0;
    if (!rules.lemmaLists.isEmpty()) {
        // A list's forms and headwords meet the words as the rules clean them.
        // With corpus words a form keeps its apostrophe and hyphen ("o'clock", "well-known"),
        // written as the words are.
        const bool allPunctuation = rules.punctuation == WordRules::Punctuation::All;
        const bool corpus = rules.words == WordRules::Words::Corpus;
        const Lemmatizer::Cleaner clean = [allPunctuation, corpus](QStringView raw) {
            std::vector<char16_t> buffer;
            const size_t n = size_t(raw.size());
            char16_t *w = room(buffer, n);
            const auto *in = reinterpret_cast<const char16_t *>(raw.utf16());
            size_t k = corpus ? corpusClean(w, in, n, false) : counting::cleanWord(w, in, n, false);
            if (allPunctuation)
                k = deleteAllPunctuation(w, k);
            return QString(reinterpret_cast<const QChar *>(w), qsizetype(k));
        };
        QString cleaning = corpus ? u"corpus"_qs : u"ascii"_qs;
        if (allPunctuation)
            cleaning += u", all punctuation"_qs;
        shared->lemmas = Lemmatizer::load(rules.lemmaLists, clean, cleaning, &problem, &shared->notes);
        if (!shared->lemmas)
            return refuse(problem);
    }
    finder->d->shared = std::move(shared);
    return finder;
}

std::unique_ptr<WordFinder> WordFinder::clone() const
{
    std::unique_ptr<WordFinder> copy(new WordFinder(m_rules, m_ignoreCase));
    copy->d->shared = d->shared;
    return copy;
}

bool WordFinder::countsPlainWords() const
{
    return m_rules.words == WordRules::Words::Basic && m_rules.phraseLength == 1;
}

bool WordFinder::changesPlainWords() const
{
    return m_rules.punctuation == WordRules::Punctuation::All || m_rules.minLength > 1
            || d->shared->hasStopWords;
}

bool WordFinder::groupsWords() const
{
    return !m_rules.stemLanguage.isEmpty() || !m_rules.lemmaLists.isEmpty();
}

bool WordFinder::groupsByLemma() const
{
    return !m_rules.lemmaLists.isEmpty();
}

QStringList WordFinder::notes() const
{
    return d->shared->notes;
}

namespace {

// Whether a cleaned word stays counted: long enough and no stop word. w has kSlack units of room
// after its n units.
bool passes(const char16_t *w, size_t n, const WordRules &rules, const SharedRules &shared,
            bool lowerCase, std::vector<char16_t> &lower)
{
    if (rules.minLength > 1 && codePoints(w, n) < size_t(rules.minLength))
        return false;
    if (!shared.hasStopWords)
        return true;
    if (lowerCase)
        return !shared.stopWords.contains(counting::makeWordRef(w, n));
    char16_t *l = room(lower, n);
    const size_t k = rules.words == WordRules::Words::Corpus ? corpusClean(l, w, n, true)
                                                             : counting::cleanWord(l, w, n, true);
    return !shared.stopWords.contains(counting::makeWordRef(l, k));
}

} // namespace

QString WordFinder::cleanedFragment(QStringView fragment) const
{
    const size_t n = size_t(fragment.size());
    QString out(fragment.size(), Qt::Uninitialized);
    auto *o = reinterpret_cast<char16_t *>(out.data());
    const auto *in = reinterpret_cast<const char16_t *>(fragment.utf16());
    size_t k = m_rules.words == WordRules::Words::Corpus ? corpusClean(o, in, n, m_ignoreCase)
                                                         : counting::cleanWord(o, in, n, m_ignoreCase);
    if (m_rules.punctuation == WordRules::Punctuation::All)
        k = deleteAllPunctuation(o, k);
    out.truncate(qsizetype(k));
    return out;
}

bool WordFinder::formOf(QStringView plainWord, QString &form) const
{
    const size_t n = size_t(plainWord.size());
    char16_t *w = room(d->form, n);
    std::copy_n(reinterpret_cast<const char16_t *>(plainWord.utf16()), n, w);
    size_t k = n;
    if (m_rules.punctuation == WordRules::Punctuation::All)
        k = deleteAllPunctuation(w, k);
    if (k == 0)
        return false;
    if (!passes(w, k, m_rules, *d->shared, m_ignoreCase, d->lower))
        return false;
    form = QString(reinterpret_cast<const QChar *>(w), qsizetype(k));
    return true;
}

void WordFinder::findSingleWords(QStringView text, WordSink &sink)
{
    const auto *begin = reinterpret_cast<const char16_t *>(text.utf16());
    const char16_t *end = begin + text.size();
    const bool allPunctuation = m_rules.punctuation == WordRules::Punctuation::All;
    const bool corpus = m_rules.words == WordRules::Words::Corpus;
    const SharedRules &shared = *d->shared;
    // Cleans the raw piece [start, stop) and hands it on, or marks a gap where a word is left out.
    // A word that needs no change is handed on where it stands (the counter then takes it
    // without a copy); the stop words look words up with block-wise loads, which need room
    // after the word that only the buffer is sure to have.
    const bool copyAlways = allPunctuation || shared.hasStopWords;
    const auto offer = [&](const char16_t *start, const char16_t *stop, bool dirty) {
        const size_t n = size_t(stop - start);
        if (!dirty && !copyAlways) {
            if (m_rules.minLength > 1 && codePoints(start, n) < size_t(m_rules.minLength))
                sink.gap();
            else
                sink.word(QStringView(start, qsizetype(n)), start - begin, stop - begin);
            return;
        }
        char16_t *w = room(d->word, n);
        size_t k = n;
        if (dirty && corpus)
            k = corpusClean(w, start, n, m_ignoreCase);
        else if (dirty)
            k = counting::cleanWord(w, start, n, m_ignoreCase);
        else
            std::copy_n(start, n, w);
        if (allPunctuation)
            k = deleteAllPunctuation(w, k);
        if (k == 0)
            return; // only punctuation: no word at all
        if (!passes(w, k, m_rules, shared, m_ignoreCase, d->lower)) {
            sink.gap();
            return;
        }
        sink.word(QStringView(w, qsizetype(k)), start - begin, stop - begin);
    };

    if (m_rules.words == WordRules::Words::Basic) {
        const char16_t *p = begin;
        while (p < end) {
            if (*p == 32) {
                ++p;
                continue;
            }
            if (*p == 13) {
                sink.gap();
                ++p;
                continue;
            }
            const char16_t *start = p;
            bool dirty = false;
            p = d->scanner.wordEnd(p, end, dirty);
            offer(start, p, dirty);
        }
        return;
    }

    if (!d->breaks)
        d->breaks = openWordBreaks(nullptr);
    if (!d->breaks)
        throw std::runtime_error("Unicode word boundaries are not available.");
    UBreakIterator *breaks = d->breaks.get();

    // Corpus words cut each word piece of the boundaries again (apostrophes, number marks and
    // hyphens kept only between the characters their rule names, other punctuation separating),
    // and join a word to the next across a single hyphen: a word that ends before a hyphen is
    // held back until the piece after it is known.
    const bool hyphensJoin = m_rules.hyphens == WordRules::Hyphens::Join;
    const char16_t *heldStart = nullptr;
    const char16_t *heldEnd = nullptr;
    quint8 heldLast = kNoKind;
    bool heldDirty = false;
    const quint8 *cleaning = m_ignoreCase ? counting::kAscii.ignoreCase : counting::kAscii.keepCase;
    const auto corpusNeedsCleaning = [&](const char16_t *p, const char16_t *q) {
        for (; p < q; ++p) {
            const char16_t c = *p;
            if (c < 128 ? m_ignoreCase && char16_t(c - u'A') < 26
                        : m_ignoreCase || c == 0x2019 || c == 0x2BC || c == 0x2010 || c == 0x2011)
                return true;
        }
        return false;
    };
    const auto release = [&] {
        if (!heldStart)
            return;
        const char16_t *start = heldStart;
        heldStart = nullptr;
        offer(start, heldEnd, heldDirty && corpusNeedsCleaning(start, heldEnd));
    };
    const auto gap = [&] {
        release();
        sink.gap();
    };
    const auto isAlnum = [](quint8 k) { return k == kAlpha || k == kNumeral || k == kOtherNumber; };
    // A run of a piece that stays whole; first and last are the kinds of its end characters, and
    // dirty false when it surely needs no cleaning. Only a run before a hyphen waits.
    const auto corpusRun = [&](const char16_t *start, const char16_t *stop, quint8 first, quint8 last, bool dirty) {
        if (heldStart) {
            if (heldEnd + 1 == start && isAlnum(heldLast) && isAlnum(first)) {
                start = heldStart;
                dirty = true; // the hyphen may be one to write as U+002D
                heldStart = nullptr;
            } else {
                release();
            }
        }
        if (hyphensJoin && stop < end && isHyphen(*stop) && isAlnum(last)) {
            heldStart = start;
            heldEnd = stop;
            heldLast = last;
            heldDirty = dirty;
            return;
        }
        offer(start, stop, dirty && corpusNeedsCleaning(start, stop));
    };
    // Cuts the word piece [a, b); kindAt(p, b, &next) gives the kind of the character at p and
    // where the next one starts.
    const auto corpusPiece = [&](const char16_t *a, const char16_t *b, const auto &kindAt) {
        const char16_t *runStart = nullptr;
        quint8 runFirst = kNoKind, runLast = kNoKind, before = kNoKind;
        const char16_t *p = a;
        const char16_t *q = a;
        quint8 kind = kindAt(p, b, &q);
        while (p < b) {
            const char16_t *r = q;
            const quint8 after = q < b ? kindAt(q, b, &r) : quint8(kNoKind);
            bool keep = true;
            switch (kind) {
            case kApostrophe:
                keep = before == kAlpha && after == kAlpha;
                break;
            case kNumberMark:
                keep = before == kNumeral && after == kNumeral;
                break;
            case kHyphen:
                keep = hyphensJoin && isAlnum(before) && isAlnum(after);
                break;
            case kBreak:
                keep = false;
                break;
            default:
                break;
            }
            if (keep) {
                if (!runStart) {
                    runStart = p;
                    runFirst = kind;
                }
                runLast = kind;
            } else if (runStart) {
                corpusRun(runStart, p, runFirst, runLast, true);
                runStart = nullptr;
            }
            before = kind;
            p = q;
            q = r;
            kind = after;
        }
        if (runStart)
            corpusRun(runStart, b, runFirst, runLast, true);
    };
    const auto kindOfCodePoint = [](const char16_t *p, const char16_t *b, const char16_t **next) {
        char32_t c = *p;
        *next = p + 1;
        if (QChar::isHighSurrogate(c) && p + 1 < b && QChar::isLowSurrogate(p[1])) {
            c = QChar::surrogateToUcs4(p[0], p[1]);
            *next = p + 2;
        }
        return corpusKindOf(c);
    };
    // A word piece of the boundaries, cleaned and counted, or cut again into corpus words.
    const auto piece = [&](const char16_t *start, const char16_t *stop, bool dirty) {
        if (corpus)
            corpusPiece(start, stop, kindOfCodePoint);
        else
            offer(start, stop, dirty);
    };

    // The words of [from, to) as the word-break iterator finds them; it takes at most 2^31
    // units, so a longer text is taken in parts cut after a paragraph end or a space.
    const auto breakWords = [&](const char16_t *from, const char16_t *to) {
        for (const char16_t *part = from; part < to;) {
            const char16_t *partEnd = to;
            if (to - part > kMaxBreakText) {
                partEnd = part + kMaxBreakText;
                const char16_t *cut = partEnd;
                while (cut > part && cut[-1] != 13 && cut[-1] != 32)
                    --cut;
                if (cut > part)
                    partEnd = cut;
            }
            UErrorCode status = U_ZERO_ERROR;
            ubrk_setText(breaks, reinterpret_cast<const UChar *>(part), int32_t(partEnd - part), &status);
            if (U_FAILURE(status))
                throw std::runtime_error(u_errorName(status));
            int32_t a = ubrk_first(breaks);
            for (int32_t b = ubrk_next(breaks); b != UBRK_DONE; a = b, b = ubrk_next(breaks)) {
                if (ubrk_getRuleStatus(breaks) >= UBRK_WORD_NONE_LIMIT) {
                    piece(part + a, part + b, true);
                    continue;
                }
                for (int32_t i = a; i < b; ++i) {
                    if (part[i] == 13) {
                        gap();
                        break;
                    }
                }
            }
            part = partEnd;
        }
    };
    const auto separators = [&](const char16_t *p, bool gaps) {
        for (; p < end && (*p == 32 || *p == 13); ++p) {
            if (gaps && *p == 13)
                gap();
        }
        return p;
    };
    // A boundary of the iterator at p that depends on nothing before p: after a paragraph end,
    // or after a space before anything but a mark, a format character or another space. Segments
    // between such points are split independently.
    std::array<std::atomic<quint8>, 0x10000> &known = wordClasses();
    const auto classOf = [&](char16_t c) {
        quint8 k = known[c].load(std::memory_order_relaxed);
        if (!k) {
            k = probeClass(c, breaks);
            known[c].store(k, std::memory_order_relaxed);
        }
        return k;
    };
    const auto cutsAt = [&](const char16_t *p) {
        return p == end || p[-1] == 13 || (p[-1] == 32 && !(classOf(*p) & kJoinsSpace));
    };
    // Most segments are one token of letters, digits and punctuation of the classes above: its
    // words are found here, as the iterator would find them.
    const auto quick = [&](const char16_t *p, const char16_t *q) {
        for (; p < q; ++p) {
            if ((classOf(*p) & kClassMask) == kSlow)
                return false;
        }
        return true;
    };
    const auto isWordClass = [](quint8 k) { return k == kLetter || k == kDigit; };
    // A word of a token that needs cleaning often needs none itself ("word," gives "word"): it
    // is then counted where it stands, without a copy.
    const auto needsCleaning = [&](const char16_t *p, const char16_t *q) {
        for (; p < q; ++p) {
            if (*p < 128 ? cleaning[*p] != counting::Plain : m_ignoreCase)
                return true;
        }
        return false;
    };
    // The characters of a quick token are all of the basic multilingual plane, their corpus
    // kinds known with their classes.
    const auto kindOfKnown = [&](const char16_t *p, const char16_t *, const char16_t **next) {
        *next = p + 1;
        return quint8(known[*p].load(std::memory_order_relaxed) >> kCorpusShift);
    };
    // The top bit of a class is set for the corpus kinds that may cut a piece (apostrophes,
    // number marks, hyphens, other punctuation): a piece without one is one corpus word.
    constexpr quint8 kCutsCorpusWords = 0x80;
    static_assert(kApostrophe << kCorpusShift >= kCutsCorpusWords && kNumberMark << kCorpusShift >= kCutsCorpusWords
                  && kAlpha << kCorpusShift < kCutsCorpusWords && kOtherNumber << kCorpusShift < kCutsCorpusWords);
    const auto quickWords = [&](const char16_t *p, const char16_t *q, bool dirty) {
        while (p < q) {
            if (!isWordClass(classOf(*p) & kClassMask)) {
                ++p;
                continue;
            }
            const char16_t *start = p;
            quint8 seen = 0;
            for (;;) {
                for (; p < q; ++p) {
                    const quint8 k = classOf(*p);
                    if (!isWordClass(k & kClassMask))
                        break;
                    seen |= k;
                }
                if (q - p < 2)
                    break;
                const quint8 before = classOf(p[-1]) & kClassMask;
                const quint8 mid = classOf(p[0]);
                const quint8 after = classOf(p[1]) & kClassMask;
                const bool joins = (before == kLetter && after == kLetter && (mid & kClassMask) == kMidBoth)
                        || (before == kDigit && after == kDigit
                            && ((mid & kClassMask) == kMidBoth || (mid & kClassMask) == kMidNum));
                if (!joins)
                    break;
                seen |= mid;
                ++p;
            }
            if (!corpus)
                offer(start, p, dirty && needsCleaning(start, p));
            else if (seen & kCutsCorpusWords)
                corpusPiece(start, p, kindOfKnown);
            else
                corpusRun(start, p, quint8(classOf(*start) >> kCorpusShift), quint8(classOf(p[-1]) >> kCorpusShift),
                          dirty);
        }
    };
    for (const char16_t *segment = begin; segment < end;) {
        const char16_t *token = separators(segment, false);
        bool dirty = false;
        const char16_t *tokenEnd = d->scanner.wordEnd(token, end, dirty);
        const char16_t *next = separators(tokenEnd, false);
        if (cutsAt(next) && quick(token, tokenEnd)) {
            separators(segment, true);
            quickWords(token, tokenEnd, dirty);
            separators(tokenEnd, true);
            segment = next;
            continue;
        }
        while (!cutsAt(next))
            next = separators(d->scanner.wordEnd(next, end, dirty), false);
        breakWords(segment, next);
        segment = next;
    }
    release();
}

void WordFinder::findWords(QStringView text, const Found &found)
{
    const int n = m_rules.phraseLength;
    if (n <= 1) {
        struct Single : WordSink
        {
            const Found &found;
            explicit Single(const Found &f) : found(f) { }
            void word(QStringView w, qsizetype s, qsizetype e) override { found({w, s, e}); }
        } single(found);
        findSingleWords(text, single);
        return;
    }
    // The last n words since the last gap, in a ring; each new one completes a phrase.
    struct Phrases : WordSink
    {
        const Found &found;
        int n;
        std::vector<QString> words;
        std::vector<qsizetype> starts;
        qsizetype filled = 0;
        QString phrase;

        Phrases(const Found &f, int length)
            : found(f), n(length), words(size_t(length)), starts(size_t(length))
        {
        }
        void word(QStringView w, qsizetype s, qsizetype e) override
        {
            const size_t at = size_t(filled % n);
            words[at] = w.toString();
            starts[at] = s;
            ++filled;
            if (filled < n)
                return;
            phrase.clear();
            for (qsizetype i = filled - n; i < filled; ++i) {
                if (i > filled - n)
                    phrase += u' ';
                phrase += words[size_t(i % n)];
            }
            found({phrase, starts[size_t((filled - n) % n)], e});
        }
        void gap() override { filled = 0; }
    } phrases(found, n);
    findSingleWords(text, phrases);
}

QString WordFinder::groupKey(QStringView word) const
{
    if (d->shared->lemmas) {
        // A phrase's key is the lemmas of its words; a word no source knows stays itself.
        QString key;
        key.reserve(word.size());
        QString lemma;
        for (QStringView part : word.split(u' ')) {
            if (!key.isEmpty())
                key += u' ';
            if (!d->shared->lemmas->lemmaOf(part, lemma))
                key += part;
            else if (m_ignoreCase)
                key += lowerCaseWord(lemma);
            else
                key += lemma;
        }
        return key;
    }
    if (m_rules.stemLanguage.isEmpty())
        return word.toString();
    if (!d->stemmer)
        d->stemmer = openStemmer(m_rules.stemLanguage);
    if (!d->stemmer)
        throw std::bad_alloc();
    // A phrase's key is the stems of its words: words never hold a space.
    QString key;
    key.reserve(word.size());
    for (QStringView part : word.split(u' ')) {
        if (!key.isEmpty())
            key += u' ';
        const size_t n = size_t(part.size());
        char16_t *l = room(d->stemWord, n);
        const auto *in = reinterpret_cast<const char16_t *>(part.utf16());
        // Corpus words keep their apostrophes for the stemmer ("elizabeth's" stems as "elizabeth").
        const size_t k = m_rules.words == WordRules::Words::Corpus ? corpusClean(l, in, n, true)
                                                                   : counting::cleanWord(l, in, n, true);
        const QByteArray utf8 = QStringView(l, qsizetype(k)).toUtf8();
        if (utf8.size() > std::numeric_limits<int>::max())
            throw std::length_error("A word is too long to be stemmed.");
        const sb_symbol *stem = sb_stemmer_stem(d->stemmer.get(),
                                                reinterpret_cast<const sb_symbol *>(utf8.constData()),
                                                int(utf8.size()));
        if (!stem)
            throw std::bad_alloc();
        key += QString::fromUtf8(reinterpret_cast<const char *>(stem), sb_stemmer_length(d->stemmer.get()));
    }
    return key;
}

} // namespace corvalen
