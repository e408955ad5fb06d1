#include "engine/lemmas.h"

#include "engine/wordrules.h"
#include "engine/wordtally.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QStringDecoder>

#include <hunspell/hunspell.hxx>
#include <unicode/ucnv.h>

#include <algorithm>
#include <array>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// The built-in English data is a resource of this static library: asked for by name, outside any
// namespace, so that the linker keeps it.
static void initLemmaResources()
{
    Q_INIT_RESOURCE(lemmas);
}

namespace corvalen {

namespace {

QString tr(const char *text, int n = -1)
{
    return QCoreApplication::translate("corvalen::Lemmas", text, nullptr, n);
}

// A lemma list larger than this is no list of words: refused rather than read whole, as stop-word
// lists are.
constexpr qint64 kMaxListBytes = qint64(16) << 20;
// Hunspell refuses longer words itself; a longer one is no word of its dictionaries.
constexpr qsizetype kMaxHunspellWord = 100;

// Where Debian's hunspell-* packages put their dictionaries (and older myspell ones theirs).
const QStringList &dictionaryFolders()
{
    static const QStringList folders = {u"/usr/share/hunspell"_qs, u"/usr/share/myspell"_qs,
                                        u"/usr/share/myspell/dicts"_qs};
    return folders;
}

// The installed dictionaries: their names ("de_DE", "fr") and where they are (the path without
// .dic and .aff), the first folder's first.
std::vector<std::pair<QString, QString>> installedDictionaries()
{
    std::vector<std::pair<QString, QString>> found;
    for (const QString &folder : dictionaryFolders()) {
        const QDir dir(folder);
        for (const QFileInfo &dic : dir.entryInfoList({u"*.dic"_qs}, QDir::Files, QDir::Name)) {
            const QString name = dic.completeBaseName();
            const QString base = dir.filePath(name);
            if (!QFileInfo::exists(base + u".aff"))
                continue;
            if (std::none_of(found.begin(), found.end(), [&](const auto &d) { return d.first == name; }))
                found.emplace_back(name, base);
        }
    }
    return found;
}

// The language code of a dictionary's name: "de" of "de_DE", nothing for names of another shape
// ("hyph_de_DE", "de-med").
QString codeOfDictionary(const QString &name)
{
    static const QRegularExpression shape(u"^([a-z]{2,3})(_[A-Za-z0-9]+)*$"_qs);
    const QRegularExpressionMatch m = shape.match(name);
    return m.hasMatch() ? m.captured(1) : QString();
}

// The dictionary a language name stands for: a region's own ("de_AT"), or for a bare code the
// one named like it ("fr"), then its main region's ("de_DE"), then the first of its others.
QString dictionaryOf(const QString &name)
{
    QString wanted = name;
    wanted.replace(u'-', u'_');
    const qsizetype cut = wanted.indexOf(u'_');
    const QString code = (cut < 0 ? wanted : wanted.first(cut)).toLower();
    const auto dictionaries = installedDictionaries();
    const auto named = [&](const QString &n) {
        for (const auto &[dictionary, base] : dictionaries) {
            if (dictionary.compare(n, Qt::CaseInsensitive) == 0)
                return base;
        }
        return QString();
    };
    if (cut >= 0)
        return named(code + wanted.mid(cut));
    for (const QString &n : {code, QString(code + u'_' + code.toUpper())}) {
        const QString base = named(n);
        if (!base.isEmpty())
            return base;
    }
    for (const auto &[dictionary, base] : dictionaries) {
        if (codeOfDictionary(dictionary) == code)
            return base;
    }
    return QString();
}

bool isBuiltInEnglish(const QString &name)
{
    return name.compare(u"en", Qt::CaseInsensitive) == 0;
}

} // namespace

QString lowerCaseWord(QStringView word)
{
    QString out(word.size(), Qt::Uninitialized);
    char16_t *o = reinterpret_cast<char16_t *>(out.data());
    const char16_t *w = reinterpret_cast<const char16_t *>(word.utf16());
    for (qsizetype i = 0; i < word.size(); ++i) {
        const char16_t u = w[i];
        if (QChar::isHighSurrogate(u) && i + 1 < word.size() && QChar::isLowSurrogate(w[i + 1])) {
            // The simple mapping keeps a character in its plane.
            const char32_t l = simpleLower(QChar::surrogateToUcs4(u, w[i + 1]));
            o[i] = QChar::highSurrogate(l);
            o[++i] = QChar::lowSurrogate(l);
        } else {
            o[i] = QChar::isSurrogate(u) ? u : char16_t(simpleLower(u));
        }
    }
    return out;
}

namespace {

QString lowerCase(QStringView word)
{
    return lowerCaseWord(word);
}

std::u16string_view viewOf(QStringView s)
{
    return {reinterpret_cast<const char16_t *>(s.utf16()), size_t(s.size())};
}

std::u16string keyOf(QStringView s)
{
    return std::u16string(viewOf(s));
}

QString stringOf(std::u16string_view s)
{
    return QString(reinterpret_cast<const QChar *>(s.data()), qsizetype(s.size()));
}

// Hash tables keyed by UTF-16 text, looked up by a view of it without a copy.
struct TextHash
{
    using is_transparent = void;
    size_t operator()(std::u16string_view s) const { return std::hash<std::u16string_view>()(s); }
};
struct TextEqual
{
    using is_transparent = void;
    bool operator()(std::u16string_view a, std::u16string_view b) const { return a == b; }
};
template<typename Value>
using TextMap = std::unordered_map<std::u16string, Value, TextHash, TextEqual>;

// English from WordNet 3.0 (engine/lemmas/en.txt, made by tools/make-lemmas.py), as WordNet's own
// morphology finds a word's lemmas: its exception lists (ran -> run), the form itself when the
// index lists it, and the regular detachment rules (studies -> study) checked against the index.
// A lemma is written as WordNet writes it: in lower case, a name with its capitals (Elizabeth).
// Of several lemmas, the one whose senses WordNet's sense-tagged corpus tags most often wins
// (saw -> see, not the tool; better -> good, not the verb "to better"); of equally often tagged
// ones, the first in that order, verbs before nouns, adjectives and adverbs.
class EnglishLemmas
{
public:
    static constexpr quint8 Noun = 1, Verb = 2, Adjective = 4, Adverb = 8;

    explicit EnglishLemmas(const Lemmatizer::Cleaner &clean)
    {
        initLemmaResources();
        QFile file(u":/lemmas/en.txt"_qs);
        if (!file.open(QIODevice::ReadOnly))
            throw std::runtime_error("The built-in English lemmas are missing.");
        const QString text = QString::fromUtf8(file.readAll());
        m_index.reserve(size_t(text.count(u'\n')));
        bool inExceptions = false;
        for (QStringView line : QStringView(text).split(u'\n', Qt::SkipEmptyParts)) {
            if (line.startsWith(u'#'))
                continue;
            if (line == u"[exceptions]") {
                inExceptions = true;
                continue;
            }
            const QList<QStringView> fields = line.split(u' ', Qt::SkipEmptyParts);
            if (fields.size() < 2)
                continue;
            const QString cleaned = clean(fields[0]);
            const QString form = lowerCase(cleaned);
            if (form.isEmpty())
                continue;
            const quint8 parts = partsOf(fields[1]);
            if (!inExceptions) {
                Lemma &l = m_index[keyOf(form)];
                l.parts |= parts;
                if (cleaned != form)
                    l.shown = keyOf(cleaned); // a name's capitals
                if (fields.size() > 2)
                    l.count = std::max(l.count, fields[2].toUInt());
                continue;
            }
            std::vector<Exception> &list = m_exceptions[keyOf(form)];
            for (qsizetype i = 2; i < fields.size(); ++i) {
                const QString lemma = lowerCase(clean(fields[i]));
                if (!lemma.isEmpty())
                    list.push_back({parts, keyOf(lemma)});
            }
            // Asked in the order of the parts of speech, verbs first.
            std::stable_sort(list.begin(), list.end(),
                             [](const Exception &a, const Exception &b) { return rank(a.part) < rank(b.part); });
        }
        // WordNet describes nouns, verbs, adjectives and adverbs only: the pronouns, determiners
        // and prepositions of the stop-word list are none of them, and the noun rules would make
        // "his" the plural of "hi" and "its" of "it". Of those words only verb forms are taken
        // (was -> be, does -> do).
        const QString stopWords = builtInStopWordText(u"en"_qs);
        for (QStringView word : QStringView(stopWords).split(u'\n', Qt::SkipEmptyParts)) {
            if (word.startsWith(u'#'))
                continue;
            const QString cleaned = lowerCase(clean(word.trimmed()));
            if (!cleaned.isEmpty())
                m_stopWords.insert(keyOf(cleaned));
        }
    }

    // word in lower case.
    bool lemmaOf(std::u16string_view word, QString &lemma) const
    {
        const bool function = m_stopWords.find(word) != m_stopWords.end();
        const quint8 allowed = function ? Verb : quint8(Noun | Verb | Adjective | Adverb);
        std::u16string best;
        qint64 bestCount = -1;
        const auto consider = [&](std::u16string_view candidate) {
            const auto it = m_index.find(candidate);
            const qint64 count = it == m_index.end() ? 0 : qint64(it->second.count);
            if (count > bestCount) {
                best.assign(candidate);
                bestCount = count;
            }
        };
        if (const auto exceptions = m_exceptions.find(word); exceptions != m_exceptions.end()) {
            for (const Exception &e : exceptions->second) {
                if (e.part & allowed)
                    consider(e.lemma);
            }
        }
        if (const auto self = m_index.find(word); self != m_index.end() && (self->second.parts & allowed))
            consider(word);
        std::u16string base;
        for (const Rule &rule : kRules) {
            if (!(rule.part & allowed) || word.size() <= rule.suffix.size() || !word.ends_with(rule.suffix))
                continue;
            // WordNet's morphology takes no ending off a noun of two letters or one in "ss".
            if (rule.part == Noun && (word.size() <= 2 || word.ends_with(u"ss")))
                continue;
            base.assign(word.substr(0, word.size() - rule.suffix.size()));
            base += rule.ending;
            const auto it = m_index.find(base);
            if (it != m_index.end() && (it->second.parts & rule.part))
                consider(base);
        }
        if (bestCount < 0)
            return false;
        const auto shown = m_index.find(best);
        lemma = stringOf(shown != m_index.end() && !shown->second.shown.empty() ? shown->second.shown : best);
        return true;
    }

private:
    struct Lemma
    {
        quint8 parts = 0;
        quint32 count = 0;
        std::u16string shown; // when not its key in lower case
    };
    struct Exception
    {
        quint8 part;
        std::u16string lemma;
    };
    struct Rule
    {
        quint8 part;
        std::u16string_view suffix;
        std::u16string_view ending;
    };
    // WordNet's detachment rules (its morph.c), verbs first.
    static constexpr std::array<Rule, 20> kRules = {{
            {Verb, u"s", u""},      {Verb, u"ies", u"y"},   {Verb, u"es", u"e"},    {Verb, u"es", u""},
            {Verb, u"ed", u"e"},    {Verb, u"ed", u""},     {Verb, u"ing", u"e"},   {Verb, u"ing", u""},
            {Noun, u"s", u""},      {Noun, u"ses", u"s"},   {Noun, u"xes", u"x"},   {Noun, u"zes", u"z"},
            {Noun, u"ches", u"ch"}, {Noun, u"shes", u"sh"}, {Noun, u"men", u"man"}, {Noun, u"ies", u"y"},
            {Adjective, u"er", u""}, {Adjective, u"est", u""}, {Adjective, u"er", u"e"}, {Adjective, u"est", u"e"},
    }};

    static quint8 partsOf(QStringView letters)
    {
        quint8 parts = 0;
        for (const QChar c : letters) {
            parts |= c == u'n' ? Noun : c == u'v' ? Verb : c == u'a' ? Adjective : c == u'r' ? Adverb : 0;
        }
        return parts;
    }
    static int rank(quint8 part) { return part == Verb ? 0 : part == Noun ? 1 : part == Adjective ? 2 : 3; }

    TextMap<Lemma> m_index;
    TextMap<std::vector<Exception>> m_exceptions;
    std::unordered_set<std::u16string, TextHash, TextEqual> m_stopWords;
};

// The English data as one cleaning makes it, read once: every count of the program's life with
// that cleaning shares it.
std::shared_ptr<const EnglishLemmas> englishLemmas(const Lemmatizer::Cleaner &clean, const QString &cleaning)
{
    static std::mutex mutex;
    static std::map<QString, std::shared_ptr<const EnglishLemmas>> loaded;
    const std::lock_guard lock(mutex);
    std::shared_ptr<const EnglishLemmas> &english = loaded[cleaning];
    if (!english)
        english = std::make_shared<const EnglishLemmas>(clean);
    return english;
}

// A Hunspell dictionary's stems. A Hunspell object is not safe to share between threads: a few
// are kept, each lent to one lookup at a time, and another made when all are lent.
class HunspellLemmas
{
public:
    HunspellLemmas(const QString &base, const Lemmatizer::Cleaner &clean, QString *error)
        : m_aff(QFile::encodeName(base + u".aff")), m_dic(QFile::encodeName(base + u".dic")), m_clean(clean)
    {
        std::unique_ptr<Hunspell> first = std::make_unique<Hunspell>(m_aff.constData(), m_dic.constData());
        const std::string encoding = first->get_dict_encoding();
        m_utf8 = QByteArray::fromStdString(encoding).compare("UTF-8", Qt::CaseInsensitive) == 0;
        if (!m_utf8) {
            // ICU compares names without regard to case and punctuation; Hunspell's Windows code
            // pages are ICU's "cp" ones.
            m_encoding = QByteArray::fromStdString(encoding).replace("microsoft-", "");
            UErrorCode status = U_ZERO_ERROR;
            UConverter *converter = ucnv_open(m_encoding.constData(), &status);
            if (U_FAILURE(status)) {
                *error = tr("The Hunspell dictionary %1 is in the encoding %2, which cannot be read.")
                                 .arg(QDir::toNativeSeparators(base + u".dic"), QString::fromLatin1(m_encoding));
                return;
            }
            ucnv_close(converter);
        }
        m_pool.push_back(std::move(first));
    }

    bool lemmaOf(QStringView word, QString &lemma) const
    {
        if (word.isEmpty() || word.size() > kMaxHunspellWord)
            return false;
        std::vector<std::string> stems;
        {
            Lent hunspell(*this);
            // Only a stem the dictionary takes as a word of its own: the parts of compounds it
            // also lists ("haus" of "Hochhaus") are no headwords.
            const auto stemsOf = [&](QStringView form) {
                std::string encoded;
                if (!encode(form, encoded))
                    return;
                for (std::string &s : hunspell->stem(encoded)) {
                    if (std::find(stems.begin(), stems.end(), s) == stems.end() && hunspell->spell(s))
                        stems.push_back(std::move(s));
                }
            };
            stemsOf(word);
            // Counted words are lower case when case is ignored, and a German noun is a
            // dictionary's word only with its capital: the capitalised form is asked for when the
            // word itself has no stem.
            const char32_t first = word.toUcs4().value(0);
            if (stems.empty() && QChar::isLower(first)) {
                const char32_t title = QChar::toTitleCase(first);
                QString capitalised = QString::fromUcs4(&title, 1);
                capitalised += word.sliced(QChar::requiresSurrogates(first) ? 2 : 1);
                stemsOf(capitalised);
            }
        }
        // The form itself when it is one of its stems (a headword stays one: "est" is "east" as
        // well as a form of "être"); else the shortest stem, which takes a noun's plural to the
        // noun rather than to a verb spelled like it ("casas" -> "casa", not "casar"); of equal
        // ones, the first Hunspell gives.
        QString chosen;
        qsizetype chosenLength = 0;
        for (const std::string &s : stems) {
            const QString stem = m_clean(decode(s));
            if (stem.isEmpty())
                continue;
            if (stem == word) {
                chosen = stem;
                break;
            }
            const qsizetype length = stem.toUcs4().size();
            if (chosen.isNull() || length < chosenLength) {
                chosen = stem;
                chosenLength = length;
            }
        }
        if (chosen.isNull())
            return false;
        lemma = chosen;
        return true;
    }

    bool usable() const { return !m_pool.empty(); }

private:
    // A Hunspell object of the pool, lent for one lookup.
    class Lent
    {
    public:
        explicit Lent(const HunspellLemmas &owner) : m_owner(owner)
        {
            {
                const std::lock_guard lock(owner.m_mutex);
                if (!owner.m_pool.empty()) {
                    m_hunspell = std::move(owner.m_pool.back());
                    owner.m_pool.pop_back();
                }
            }
            if (!m_hunspell)
                m_hunspell = std::make_unique<Hunspell>(owner.m_aff.constData(), owner.m_dic.constData());
        }
        ~Lent()
        {
            const std::lock_guard lock(m_owner.m_mutex);
            m_owner.m_pool.push_back(std::move(m_hunspell));
        }
        Hunspell *operator->() const { return m_hunspell.get(); }

    private:
        const HunspellLemmas &m_owner;
        std::unique_ptr<Hunspell> m_hunspell;
    };

    bool encode(QStringView word, std::string &out) const
    {
        if (m_utf8) {
            out = word.toUtf8().toStdString();
            return true;
        }
        UErrorCode status = U_ZERO_ERROR;
        UConverter *converter = ucnv_open(m_encoding.constData(), &status);
        if (U_FAILURE(status))
            return false;
        // A character the dictionary's encoding lacks makes a word it cannot know.
        ucnv_setFromUCallBack(converter, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
        out.assign(size_t(word.size()) * 4 + 4, '\0');
        const int32_t n = ucnv_fromUChars(converter, out.data(), int32_t(out.size()),
                                          reinterpret_cast<const UChar *>(word.utf16()), int32_t(word.size()), &status);
        ucnv_close(converter);
        if (U_FAILURE(status))
            return false;
        out.resize(size_t(n));
        return true;
    }

    QString decode(const std::string &text) const
    {
        if (m_utf8)
            return QString::fromUtf8(text.data(), qsizetype(text.size()));
        UErrorCode status = U_ZERO_ERROR;
        UConverter *converter = ucnv_open(m_encoding.constData(), &status);
        if (U_FAILURE(status))
            return QString();
        std::u16string out(text.size() * 2 + 2, u'\0');
        const int32_t n = ucnv_toUChars(converter, reinterpret_cast<UChar *>(out.data()), int32_t(out.size()),
                                        text.data(), int32_t(text.size()), &status);
        ucnv_close(converter);
        if (U_FAILURE(status))
            return QString();
        out.resize(size_t(n));
        return stringOf(out);
    }

    QByteArray m_aff;
    QByteArray m_dic;
    Lemmatizer::Cleaner m_clean;
    bool m_utf8 = true;
    QByteArray m_encoding;
    mutable std::mutex m_mutex;
    mutable std::vector<std::unique_ptr<Hunspell>> m_pool;
};

} // namespace

QStringList lemmaLanguages()
{
    QStringList codes{u"en"_qs};
    for (const auto &[name, base] : installedDictionaries()) {
        const QString code = codeOfDictionary(name);
        if (!code.isEmpty() && !codes.contains(code))
            codes << code;
    }
    std::sort(codes.begin(), codes.end());
    return codes;
}

bool looksLikeLanguageCode(const QString &name)
{
    static const QRegularExpression shape(u"^[A-Za-z]{2,3}([-_][A-Za-z0-9]{2,8})?$"_qs);
    return shape.match(name).hasMatch();
}

bool isLemmaLanguage(const QString &name)
{
    return looksLikeLanguageCode(name) && (isBuiltInEnglish(name) || !dictionaryOf(name).isEmpty());
}

QString lemmaLanguageSource(const QString &name)
{
    if (isBuiltInEnglish(name))
        return tr("WordNet 3.0, built in");
    const QString base = dictionaryOf(name);
    return base.isEmpty() ? QString() : tr("the Hunspell dictionary %1").arg(QDir::toNativeSeparators(base + u".dic"));
}

QString hunspellPackageOf(const QString &code)
{
    QString name = code.toLower();
    name.replace(u'_', u'-');
    // Debian names most packages after the language alone, these after their main region.
    static const QHash<QString, QString> regions = {
            {u"de"_qs, u"de-de"_qs}, {u"en"_qs, u"en-us"_qs}, {u"pt"_qs, u"pt-pt"_qs}};
    return u"hunspell-"_qs + regions.value(name, name);
}

struct Lemmatizer::Private
{
    // The user's lists, every form in lower case, with its headword.
    TextMap<QString> listed;
    std::shared_ptr<const EnglishLemmas> english;
    std::vector<std::unique_ptr<HunspellLemmas>> hunspell;
    // The languages in the order given: English (0) or a dictionary (1 + its index).
    std::vector<int> languages;
};

Lemmatizer::Lemmatizer() : d(std::make_unique<Private>()) { }

Lemmatizer::~Lemmatizer() = default;

namespace {

// Reads a lemma list into listed; its headwords go to headwords. Returns false with error set.
bool readLemmaList(const QString &path, const Lemmatizer::Cleaner &clean, TextMap<QString> &listed,
                   std::vector<std::pair<QString, QString>> &headwords, QString *error, QStringList *notes)
{
    const QString shown = QDir::toNativeSeparators(path);
    const auto fail = [&](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    const QFileInfo info(path);
    QFile file(path);
    if (info.isDir())
        return fail(tr("The lemma list %1 could not be read: it is a folder.").arg(shown));
    if (info.exists() && info.size() > kMaxListBytes)
        return fail(tr("The lemma list %1 is larger than 16 MB: it is not a list of words.").arg(shown));
    if (!file.open(QIODevice::ReadOnly)) {
        QString message = tr("The lemma list %1 could not be read: %2.").arg(shown, file.errorString());
        if (!path.contains(u'/') && !info.exists())
            message += u' ' + tr("The languages on this machine are %1.").arg(lemmaLanguages().join(u", "));
        return fail(message);
    }
    const QByteArray bytes = file.read(kMaxListBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return fail(tr("The lemma list %1 could not be read: %2.").arg(shown, file.errorString()));
    if (bytes.size() > kMaxListBytes)
        return fail(tr("The lemma list %1 is larger than 16 MB: it is not a list of words.").arg(shown));

    // The forms this list gives another lemma than an earlier listing did.
    std::unordered_set<std::u16string, TextHash, TextEqual> clashes;
    qsizetype lineNumber = 0;
    const auto damaged = [&](const QString &why) {
        return fail(tr("The lemma list %1 cannot be read at line %2: %3.").arg(shown).arg(lineNumber).arg(why));
    };
    // An entry: one word, cleaned as the words of the text are.
    const auto entry = [&](QStringView raw, QString &out) {
        raw = raw.trimmed();
        if (raw.isEmpty())
            return damaged(tr("a form or lemma is missing"));
        for (const QChar c : raw) {
            if (c.isSpace())
                return damaged(tr("\"%1\" is more than one word").arg(raw.toString()));
        }
        out = clean(raw);
        if (out.isEmpty())
            return damaged(tr("\"%1\" holds no word").arg(raw.toString()));
        return true;
    };
    const auto add = [&](const QString &form, const QString &lemma) {
        const auto [it, added] = listed.try_emplace(keyOf(lowerCase(form)), lemma);
        if (!added && it->second != lemma)
            clashes.insert(it->first);
    };
    for (const QByteArray &rawLine : bytes.split('\n')) {
        ++lineNumber;
        QStringDecoder utf8(QStringDecoder::Utf8);
        QString line = utf8.decode(rawLine);
        if (utf8.hasError())
            return damaged(tr("it is not UTF-8 text"));
        if (lineNumber == 1 && line.startsWith(QChar(0xFEFF)))
            line.remove(0, 1);
        const qsizetype comment = line.indexOf(u'#');
        if (comment >= 0)
            line.truncate(comment);
        if (line.trimmed().isEmpty())
            continue;
        QString lemma, form;
        const qsizetype arrow = line.indexOf(u"->");
        if (arrow >= 0) {
            if (line.indexOf(u"->", arrow + 2) >= 0)
                return damaged(tr("\"->\" stands more than once"));
            if (!entry(QStringView(line).first(arrow), lemma))
                return false;
            headwords.emplace_back(lemma, lemma);
            const QStringView forms = QStringView(line).sliced(arrow + 2);
            if (forms.trimmed().isEmpty())
                return damaged(tr("no forms follow \"->\""));
            for (QStringView f : forms.split(u',')) {
                if (!entry(f, form))
                    return false;
                add(form, lemma);
            }
            continue;
        }
        const QList<QStringView> columns = QStringView(line).split(u'\t');
        if (columns.size() != 2) {
            return damaged(columns.size() > 2 ? tr("it has %1 tab-separated columns, not 2").arg(columns.size())
                                              : tr("it is neither \"lemma -> form, form ...\" nor \"form<TAB>lemma\""));
        }
        if (!entry(columns[0], form) || !entry(columns[1], lemma))
            return false;
        headwords.emplace_back(lemma, lemma);
        add(form, lemma);
    }
    if (!clashes.empty() && notes) {
        notes->append(tr("the lemma list %1 gives %n form(s) a second lemma; each keeps its first.", int(clashes.size()))
                              .arg(shown));
    }
    return true;
}

} // namespace

std::shared_ptr<const Lemmatizer> Lemmatizer::load(const QStringList &sources, const Cleaner &clean,
                                                    const QString &cleaning, QString *error, QStringList *notes)
{
    const auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return std::shared_ptr<const Lemmatizer>();
    };
    std::shared_ptr<Lemmatizer> lemmatizer(new Lemmatizer());
    Private &d = *lemmatizer->d;
    std::vector<std::pair<QString, QString>> headwords;
    for (const QString &source : sources) {
        if (source.isEmpty())
            return fail(tr("A lemma list needs a language or a file name."));
        if (isBuiltInEnglish(source)) {
            if (!d.english)
                d.english = englishLemmas(clean, cleaning);
            d.languages.push_back(0);
            continue;
        }
        if (looksLikeLanguageCode(source) && !QFileInfo::exists(source)) {
            const QString base = dictionaryOf(source);
            if (base.isEmpty()) {
                return fail(tr("There are no lemmas for \"%1\" on this machine: they come from its Hunspell "
                               "dictionary; install the Debian package %2. The languages on this machine are %3.")
                                    .arg(source, hunspellPackageOf(source), lemmaLanguages().join(u", ")));
            }
            QString problem;
            auto dictionary = std::make_unique<HunspellLemmas>(base, clean, &problem);
            if (!dictionary->usable())
                return fail(problem);
            d.languages.push_back(int(d.hunspell.size()) + 1);
            d.hunspell.push_back(std::move(dictionary));
            continue;
        }
        if (!readLemmaList(source, clean, d.listed, headwords, error, notes))
            return nullptr;
    }
    // A list's headword is its own lemma, unless a list gives it as a form of another.
    for (const auto &[lemma, same] : headwords)
        d.listed.try_emplace(keyOf(lowerCase(lemma)), same);
    return lemmatizer;
}

bool Lemmatizer::lemmaOf(QStringView word, QString &lemma) const
{
    const QString lower = lowerCase(word);
    if (const auto it = d->listed.find(viewOf(lower)); it != d->listed.end()) {
        lemma = it->second;
        return true;
    }
    for (const int language : d->languages) {
        if (language == 0 ? d->english->lemmaOf(viewOf(lower), lemma)
                          : d->hunspell[size_t(language - 1)]->lemmaOf(word, lemma))
            return true;
    }
    return false;
}

} // namespace corvalen
