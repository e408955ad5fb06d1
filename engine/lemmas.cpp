#include "engine/lemmas.h"

#include "engine/hashtally.h"
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

// The pieces of text between the separators, empty ones left out.
std::vector<QByteArrayView> pieces(QByteArrayView text, char separator)
{
    std::vector<QByteArrayView> out;
    qsizetype from = 0;
    while (from < text.size()) {
        qsizetype to = text.indexOf(separator, from);
        if (to < 0)
            to = text.size();
        if (to > from)
            out.push_back(text.sliced(from, to - from));
        from = to + 1;
    }
    return out;
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
        const QByteArray text = file.readAll();
        m_words.reserve(size_t(text.count('\n')) + 1000, size_t(text.size()));
        // An entry of lower-case letters and digits is what any cleaning leaves as it is: most
        // are, and they are taken without a call to clean() (the file is ASCII).
        std::u16string lower, cleaned;
        const auto entry = [&](QByteArrayView raw) {
            const bool plain = std::all_of(raw.begin(), raw.end(), [](char c) {
                return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
            });
            cleaned.clear();
            if (plain) {
                lower.assign(raw.begin(), raw.end());
            } else {
                const QString c = clean(QString::fromUtf8(raw));
                const QString l = lowerCaseWord(c);
                lower = keyOf(l);
                if (c != l)
                    cleaned = keyOf(c);
            }
            return lower.empty() ? -1 : wordOf(lower);
        };
        bool inExceptions = false;
        for (const QByteArrayView line : pieces(text, '\n')) {
            if (line.startsWith('#'))
                continue;
            if (line == "[exceptions]") {
                inExceptions = true;
                continue;
            }
            const std::vector<QByteArrayView> fields = pieces(line, ' ');
            if (fields.size() < 2)
                continue;
            const int form = entry(fields[0]);
            if (form < 0)
                continue;
            const quint8 parts = partsOf(fields[1]);
            if (!inExceptions) {
                Word &w = m_info[size_t(form)];
                w.parts |= parts;
                if (!cleaned.empty()) {
                    // A name's capitals.
                    w.shown = qint32(m_shown.size());
                    m_shown.push_back(cleaned);
                }
                if (fields.size() > 2)
                    w.count = std::max(w.count, quint32(fields[2].toUInt()));
                continue;
            }
            for (size_t i = 2; i < fields.size(); ++i) {
                const int lemma = entry(fields[i]);
                if (lemma >= 0)
                    m_exceptions.push_back({form, lemma, parts});
            }
        }
        // Each form's exceptions side by side, asked in the order of the parts of speech, verbs
        // first.
        std::stable_sort(m_exceptions.begin(), m_exceptions.end(), [](const Exception &a, const Exception &b) {
            return a.form != b.form ? a.form < b.form : rank(a.part) < rank(b.part);
        });
        for (size_t i = 0; i < m_exceptions.size(); ++i) {
            Word &w = m_info[size_t(m_exceptions[i].form)];
            if (w.exceptions == 0)
                w.firstException = quint32(i);
            ++w.exceptions;
        }
        // WordNet describes nouns, verbs, adjectives and adverbs only: the pronouns, determiners
        // and prepositions of the stop-word list are none of them, and the noun rules would make
        // "his" the plural of "hi" and "its" of "it". Of those words only verb forms are taken
        // (was -> be, does -> do).
        const QString stopWords = builtInStopWordText(u"en"_qs);
        for (QStringView word : QStringView(stopWords).split(u'\n', Qt::SkipEmptyParts)) {
            if (word.startsWith(u'#'))
                continue;
            const QString cleanedWord = lowerCaseWord(clean(word.trimmed()));
            if (!cleanedWord.isEmpty())
                m_info[size_t(wordOf(viewOf(cleanedWord)))].function = true;
        }
    }

    // word in lower case.
    bool lemmaOf(std::u16string_view word, QString &lemma) const
    {
        const int self = m_words.find(word);
        const bool function = self >= 0 && m_info[size_t(self)].function;
        const quint8 allowed = function ? Verb : quint8(Noun | Verb | Adjective | Adverb);
        int best = -1;
        qint64 bestCount = -1;
        const auto consider = [&](int candidate) {
            const qint64 count = m_info[size_t(candidate)].count;
            if (count > bestCount) {
                best = candidate;
                bestCount = count;
            }
        };
        if (self >= 0) {
            const Word &w = m_info[size_t(self)];
            for (quint32 i = w.firstException; i < w.firstException + w.exceptions; ++i) {
                if (m_exceptions[i].part & allowed)
                    consider(m_exceptions[i].lemma);
            }
            if (w.parts & allowed)
                consider(self);
        }
        char16_t base[kMaxRuleWord];
        for (const Rule &rule : kRules) {
            if (!(rule.part & allowed) || word.size() <= rule.suffix.size() || !word.ends_with(rule.suffix))
                continue;
            // WordNet's morphology takes no ending off a noun of two letters or one in "ss".
            if (rule.part == Noun && (word.size() <= 2 || word.ends_with(u"ss")))
                continue;
            const size_t stem = word.size() - rule.suffix.size();
            if (stem + rule.ending.size() > kMaxRuleWord)
                continue; // longer than any word of the index
            std::copy_n(word.data(), stem, base);
            std::copy(rule.ending.begin(), rule.ending.end(), base + stem);
            const int found = m_words.find({base, stem + rule.ending.size()});
            if (found >= 0 && (m_info[size_t(found)].parts & rule.part))
                consider(found);
        }
        if (best < 0)
            return false;
        const Word &chosen = m_info[size_t(best)];
        lemma = stringOf(chosen.shown >= 0 ? std::u16string_view(m_shown[size_t(chosen.shown)]) : m_words.at(best));
        return true;
    }

private:
    // The words of the data, numbered, in one block of text with an open-addressing index: read
    // in a few milliseconds and looked up with few cache misses.
    class Words
    {
    public:
        void reserve(size_t words, size_t units)
        {
            m_text.reserve(units);
            m_starts.reserve(words + 1);
            m_starts.assign(1, 0);
            size_t n = 1024;
            while (n < words * 2)
                n *= 2;
            m_slots.assign(n, 0);
        }
        int find(std::u16string_view word) const
        {
            for (size_t at = hashOf(word) & (m_slots.size() - 1);; at = (at + 1) & (m_slots.size() - 1)) {
                const quint32 slot = m_slots[at];
                if (slot == 0)
                    return -1;
                if (this->at(int(slot - 1)) == word)
                    return int(slot - 1);
            }
        }
        int add(std::u16string_view word)
        {
            if (size() * 2 >= m_slots.size())
                grow();
            size_t at = hashOf(word) & (m_slots.size() - 1);
            for (; m_slots[at] != 0; at = (at + 1) & (m_slots.size() - 1)) {
                if (this->at(int(m_slots[at] - 1)) == word)
                    return int(m_slots[at] - 1);
            }
            m_text.append(word);
            m_starts.push_back(m_text.size());
            m_slots[at] = quint32(size());
            return int(size() - 1);
        }
        std::u16string_view at(int i) const
        {
            return std::u16string_view(m_text).substr(m_starts[size_t(i)], m_starts[size_t(i) + 1] - m_starts[size_t(i)]);
        }
        size_t size() const { return m_starts.size() - 1; }

    private:
        static size_t hashOf(std::u16string_view word)
        {
            quint64 h = 0;
            for (const char16_t c : word)
                h = h * 0x100000001B3ULL ^ c;
            return size_t(counting::mix(h));
        }
        void grow()
        {
            std::vector<quint32> table(m_slots.size() * 2, 0);
            for (size_t i = 0; i < size(); ++i) {
                size_t pos = hashOf(at(int(i))) & (table.size() - 1);
                while (table[pos] != 0)
                    pos = (pos + 1) & (table.size() - 1);
                table[pos] = quint32(i + 1);
            }
            m_slots = std::move(table);
        }

        std::u16string m_text;
        std::vector<size_t> m_starts;
        std::vector<quint32> m_slots; // word number + 1, 0 for none
    };
    struct Word
    {
        quint8 parts = 0; // of speech it is a lemma of; 0 for a form of the exceptions only
        bool function = false; // a word of the stop-word list
        quint32 count = 0;
        qint32 shown = -1; // its spelling with capitals, when it has them
        quint32 firstException = 0;
        quint32 exceptions = 0;
    };
    struct Exception
    {
        int form;
        int lemma;
        quint8 part;
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
    // Longer than any word a rule could find in the index.
    static constexpr size_t kMaxRuleWord = 64;

    int wordOf(std::u16string_view word)
    {
        const int i = m_words.add(word);
        if (size_t(i) >= m_info.size())
            m_info.resize(size_t(i) + 1);
        return i;
    }
    static quint8 partsOf(QByteArrayView letters)
    {
        quint8 parts = 0;
        for (const char c : letters) {
            parts |= c == 'n' ? Noun : c == 'v' ? Verb : c == 'a' ? Adjective : c == 'r' ? Adverb : 0;
        }
        return parts;
    }
    static int rank(quint8 part) { return part == Verb ? 0 : part == Noun ? 1 : part == Adjective ? 2 : 3; }

    Words m_words;
    std::vector<Word> m_info; // by word number
    std::vector<Exception> m_exceptions;
    std::vector<std::u16string> m_shown;
};

// The English data as one cleaning makes it, read once: every count of the program's life with
// that cleaning shares it.
std::shared_ptr<const EnglishLemmas> englishLemmas(const Lemmatizer::Cleaner &clean, const QString &cleaning)
{
    static std::mutex mutex;
    // Kept to the end, and not taken apart at the exit, which would only cost time.
    static auto &loaded = *new std::map<QString, std::shared_ptr<const EnglishLemmas>>();
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
                   std::vector<QString> &headwords, QString *error, QStringList *notes)
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
        const auto [it, added] = listed.try_emplace(keyOf(lowerCaseWord(form)), lemma);
        if (!added && it->second != lemma)
            clashes.insert(it->first);
    };
    // Lines end in LF, CR LF or CR.
    QByteArray text = bytes;
    text.replace("\r\n", "\n").replace('\r', '\n');
    for (const QByteArray &rawLine : text.split('\n')) {
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
            headwords.push_back(lemma);
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
        headwords.push_back(lemma);
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
    std::vector<QString> headwords;
    for (const QString &source : sources) {
        if (source.isEmpty())
            return fail(tr("A lemma list needs a language or a file name."));
        if (isBuiltInEnglish(source)) {
            if (!d.english)
                d.english = englishLemmas(clean, cleaning);
            d.languages.push_back(0);
            continue;
        }
        // A language's name wins over a file of that name (the command line says so); a name
        // like a language's without its dictionary is a list only where such a file exists.
        if (const QString base = looksLikeLanguageCode(source) ? dictionaryOf(source) : QString();
            !base.isEmpty() || (looksLikeLanguageCode(source) && !QFileInfo::exists(source))) {
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
    for (const QString &lemma : headwords)
        d.listed.try_emplace(keyOf(lowerCaseWord(lemma)), lemma);
    return lemmatizer;
}

bool Lemmatizer::lemmaOf(QStringView word, QString &lemma) const
{
    const QString lower = lowerCaseWord(word);
    if (const auto it = d->listed.find(viewOf(lower)); it != d->listed.end()) {
        lemma = it->second;
        return true;
    }
    for (const int language : d->languages) {
        if (language == 0 ? englishLemmaOf(lower, lemma) : d->hunspell[size_t(language - 1)]->lemmaOf(word, lemma))
            return true;
    }
    return false;
}

bool Lemmatizer::englishLemmaOf(const QString &lower, QString &lemma) const
{
    if (d->english->lemmaOf(viewOf(lower), lemma))
        return true;
    // Corpus words keep the possessive ("elizabeth's", "children's"): its lemma is the word's
    // without it, or the word itself where no data knows it.
    if (lower.size() > 2 && lower.endsWith(u"'s")) {
        const QString base = lower.first(lower.size() - 2);
        if (!d->english->lemmaOf(viewOf(base), lemma))
            lemma = base;
        return true;
    }
    return false;
}

} // namespace corvalen
