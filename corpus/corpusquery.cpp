#include "corpus/corpusquery.h"

#include "corpus/corpusscan.h"
#include "engine/hashtally.h"
#include "engine/wordscanner.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QSet>

#include <cstring>
#include <mutex>


namespace corvalen {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("corvalen::CorpusQuery", text);
}

// A piece of a wildcard word cleaned as the count cleans words: ASCII punctuation deleted (and
// every punctuation character under that rule; corpus words keep theirs), lower-cased when case
// is ignored.
QString cleanedPiece(QStringView piece, const WordFinder &finder)
{
    return finder.cleanedFragment(piece);
}

// A word of a query as a message shows it: a very long one cut short.
QString shown(const QString &word)
{
    constexpr qsizetype kMost = 40;
    return word.size() <= kMost ? word : word.first(kMost) + u'\u2026';
}

// The rules without what leaves words out or groups them: how a typed word is cut and cleaned.
std::unique_ptr<WordFinder> bareFinder(const WordFinder &finder)
{
    WordRules bare = finder.rules();
    bare.stopWordLists.clear();
    bare.minLength = 1;
    bare.stemLanguage.clear();
    bare.lemmaLists.clear();
    bare.phraseLength = 1;
    return WordFinder::create(bare, finder.ignoresCase());
}

} // namespace

struct CorpusQuery::GivenUp
{
    std::mutex mutex;
    QSet<QString> seen;
    QStringList words; // the first ones, in the order met
};

std::optional<CorpusQuery> CorpusQuery::parse(const QString &text, QueryMode mode, bool matchCase,
                                              const WordFinder &finder, QString *error)
{
    const auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return std::optional<CorpusQuery>();
    };
    CorpusQuery query;
    query.m_text = text;
    query.m_mode = mode;
    // Counted words are lower-case already when case is ignored: matching without regard to case
    // then changes nothing and lets "The" find "the".
    query.m_caseInsensitive = !matchCase || finder.ignoresCase();
    query.m_givenUp = std::make_shared<GivenUp>();
    const QStringList parts = text.split(u' ', Qt::SkipEmptyParts);
    if (parts.isEmpty())
        return fail(tr("The query has no word."));
    const std::unique_ptr<WordFinder> splitter = bareFinder(finder);
    std::unique_ptr<WordFinder> own = finder.clone();
    for (const QString &part : parts) {
        if (mode == QueryMode::RegularExpression) {
            Word w;
            QString why;
            qsizetype at = 0;
            w.pattern = WordPattern::compile(part, query.m_caseInsensitive, &why, &at);
            if (!w.pattern)
                return fail(tr("\"%1\" is not a valid regular expression: %2 at position %3.").arg(shown(part), why).arg(at));
            query.m_words.push_back(std::move(w));
            continue;
        }
        if (part.contains(u'*') || part.contains(u'?')) {
            QString pattern;
            QString piece;
            Word w;
            bool wildcardMet = false;
            const auto flush = [&] {
                const QString cleaned = cleanedPiece(piece, finder);
                pattern += QRegularExpression::escape(cleaned);
                if (!wildcardMet)
                    w.prefix = cleaned;
                w.suffix = cleaned;
                w.leastLength += cleaned.size();
                piece.clear();
            };
            for (const QChar c : part) {
                if (c == u'*' || c == u'?') {
                    flush();
                    wildcardMet = true;
                    pattern += c == u'*' ? u".*"_qs : u"."_qs;
                    w.leastLength += c == u'?';
                } else {
                    piece += c;
                }
            }
            flush();
            QString why;
            w.pattern = WordPattern::compile(pattern, query.m_caseInsensitive, &why);
            if (!w.pattern)
                return fail(tr("\"%1\" cannot be searched for: %2.").arg(shown(part), why));
            query.m_words.push_back(std::move(w));
            continue;
        }
        // A literal word is cut and cleaned by the rules, as the text's words are: it may give
        // several words (Unicode words), or none at all.
        QStringList pieces;
        if (splitter)
            splitter->findWords(part, [&pieces](const FoundWord &f) { pieces.append(f.word.toString()); });
        if (pieces.isEmpty()) {
            Word w;
            w.literal = part;
            w.never = true;
            query.m_words.push_back(std::move(w));
            continue;
        }
        for (const QString &piece : std::as_const(pieces)) {
            Word w;
            w.literal = piece;
            QString form;
            // A lemma need not be counted itself to have forms that are ("run" has "running"
            // under --min-length 4, "be" has "was" in a list's forms).
            w.never = !own->formOf(piece, form) && !finder.groupsByLemma();
            query.m_words.push_back(std::move(w));
        }
    }
    if (query.length() > kMaxWords)
        return fail(tr("The query has %1 words; it may have %2.").arg(query.length()).arg(kMaxWords));
    query.m_groups = finder.groupsWords();
    const int phraseLength = finder.rules().phraseLength;
    query.m_matchesNothing = (phraseLength > 1 && query.length() != phraseLength)
            || std::any_of(query.m_words.begin(), query.m_words.end(), [](const Word &w) { return w.never; });
    return query;
}

QStringList CorpusQuery::givenUpWords() const
{
    if (!m_givenUp)
        return {};
    const std::lock_guard lock(m_givenUp->mutex);
    return m_givenUp->words;
}

qsizetype CorpusQuery::givenUpCount() const
{
    if (!m_givenUp)
        return 0;
    const std::lock_guard lock(m_givenUp->mutex);
    return m_givenUp->seen.size();
}

QString CorpusQuery::givenUpNote() const
{
    const qsizetype count = givenUpCount();
    if (count == 0)
        return QString();
    QStringList named;
    for (const QString &word : givenUpWords())
        named << u'"' + shown(word) + u'"';
    QString list = named.join(u", "_qs);
    if (count > named.size())
        list = tr("%1 and %2 more").arg(list).arg(count - named.size());
    return tr("the pattern engine reached its match limit on these words, which are taken as not matching: %1").arg(list);
}

QueryMatcher::QueryMatcher(const CorpusQuery &query, const WordFinder &finder)
    : m_query(query), m_finder(finder.clone())
{
    m_decided = std::make_unique<counting::HashTally>();
    m_exact = !query.matchesNothing() && !m_finder->groupsWords()
            && !(query.m_caseInsensitive && !m_finder->ignoresCase());
    // A wildcard's literal pieces are compared as they are only where case counts exactly.
    m_refuses = query.m_mode == QueryMode::Words && !(query.m_caseInsensitive && !m_finder->ignoresCase());
    for (qsizetype k = 0; k < query.length(); ++k) {
        const CorpusQuery::Word &w = query.word(k);
        QString key = w.literal;
        if (!w.literal.isEmpty() && m_finder->groupsWords())
            key = m_finder->groupKey(w.literal);
        m_literalKeys.push_back(key);
        m_exact = m_exact && !w.literal.isEmpty() && !w.never;
        m_refuses = m_refuses && w.literal.isEmpty() && !(w.prefix.isEmpty() && w.suffix.isEmpty());
    }
}

QueryMatcher::~QueryMatcher() = default;

bool QueryMatcher::matches(qsizetype k, QStringView word)
{
    const CorpusQuery::Word &w = m_query.word(k);
    if (w.never || m_query.matchesNothing())
        return false;
    if (w.literal.isEmpty()) {
        switch (m_patterns.match(*w.pattern, word)) {
        case PatternMatcher::Outcome::Match:
            return true;
        case PatternMatcher::Outcome::NoMatch:
            return false;
        case PatternMatcher::Outcome::GaveUp:
            break;
        }
        // Taken as no match, and said: the word is kept for the note after the search (each try
        // costs the engine's whole limit, so there are never many).
        if (m_query.m_givenUp) {
            CorpusQuery::GivenUp &log = *m_query.m_givenUp;
            const std::lock_guard lock(log.mutex);
            const QString text = word.toString();
            if (!log.seen.contains(text)) {
                log.seen.insert(text);
                if (log.words.size() < CorpusQuery::kMaxGivenUpShown)
                    log.words.append(text);
            }
        }
        return false;
    }
    if (m_finder->groupsWords())
        return m_finder->groupKey(word) == m_literalKeys[size_t(k)];
    if (m_query.m_caseInsensitive && !m_finder->ignoresCase())
        return word.compare(w.literal, Qt::CaseInsensitive) == 0;
    return word == w.literal;
}

quint32 QueryMatcher::mark(QStringView word, quint32)
{
    quint32 bits = 0;
    if (m_exact) {
        // Literal words compared as they are: asked of every word of a corpus not numbered.
        for (size_t k = 0; k < m_literalKeys.size(); ++k) {
            const QString &literal = m_literalKeys[k];
            if (literal.size() == word.size()
                && std::memcmp(literal.utf16(), word.utf16(), size_t(word.size()) * sizeof(char16_t)) == 0)
                bits |= quint32(1) << k;
        }
        return bits;
    }
    if (m_refuses) {
        // Most words lack what every wildcard asks for: they are refused at once.
        bool may = false;
        for (qsizetype k = 0; k < m_query.length() && !may; ++k) {
            const CorpusQuery::Word &w = m_query.word(k);
            may = word.size() >= w.leastLength && word.startsWith(w.prefix) && word.endsWith(w.suffix);
        }
        if (!may)
            return 0;
    }
    // The word's text has the slack a lookup reads past it (the scan's text, or the finder's room).
    const counting::WordRef ref = counting::makeWordRef(reinterpret_cast<const char16_t *>(word.utf16()), size_t(word.size()));
    if (const qint64 known = m_decided->countOf(ref))
        return quint32(known - 1);
    for (qsizetype k = 0; k < m_query.length(); ++k) {
        if (matches(k, word))
            bits |= quint32(1) << k;
    }
    m_decided->add(ref, qint64(bits) + 1);
    return bits;
}

void findQueryHits(const std::vector<CorpusToken> &tokens, qsizetype length, std::vector<qsizetype> &hits)
{
    const qsizetype n = qsizetype(tokens.size());
    for (qsizetype i = 0; i + length <= n; ++i) {
        if (!(tokens[size_t(i)].mark & 1))
            continue;
        bool all = true;
        for (qsizetype k = 1; k < length && all; ++k) {
            const CorpusToken &t = tokens[size_t(i + k)];
            all = !t.gapBefore && (t.mark >> k) & 1;
        }
        if (all)
            hits.push_back(i);
    }
}

} // namespace corvalen
