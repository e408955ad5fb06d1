#pragma once

#include "corpus/corpusscan.h"
#include "corpus/wordpattern.h"
#include "engine/wordrules.h"

#include <QString>
#include <QStringList>
#include <QStringView>

#include <memory>
#include <optional>
#include <vector>

namespace corvalen {

namespace counting {
class HashTally;
}

/// How the words of a query are read.
enum class QueryMode {
    /// A word as the count shows it; "*" stands for any run of characters and "?" for one (the
    /// ASCII punctuation is never part of a counted word, so neither is ever meant literally).
    Words,
    /// Each word of the query is a regular expression that must match the whole counted word.
    RegularExpression,
};

/// A query over a corpus: one word, or a phrase of words separated by spaces that matches that
/// many consecutive counted words of one paragraph (as phrases are counted, never across a
/// paragraph end or a word the rules leave out). Each word of it is matched against counted
/// words as the count gives them (cleaned, lower-cased when case is ignored).
///
/// A literal word is turned into counted words by the rules themselves, so a word typed as it
/// stands in the text ("Don't") finds the word it is counted as ("dont"); with word forms grouped
/// by stem it finds every form of its group. With phrases counted (--ngrams N) only a query of N
/// words can match, as only such phrases are counted.
class CorpusQuery
{
public:
    struct Word
    {
        QString literal;                    ///< a literal word, as counted; empty for a pattern
        std::optional<WordPattern> pattern; ///< a wildcard or a regular expression: the whole word
        bool never = false;                 ///< the rules never count it (a stop word, punctuation ...)
        /// What every word a wildcard matches begins and ends with, and its least length: a word
        /// without them is refused before the expression is asked.
        QString prefix;
        QString suffix;
        qsizetype leastLength = 0;
    };

    /// The query that text gives under finder's rules. matchCase counts only where the rules keep
    /// letter case. nullopt, with error set, for an empty query, one of more than kMaxWords words,
    /// an invalid expression (the pattern engine's message and place) or a wildcard word the
    /// engine cannot take (too long).
    static std::optional<CorpusQuery> parse(const QString &text, QueryMode mode, bool matchCase,
                                            const WordFinder &finder, QString *error = nullptr);

    const QString &text() const { return m_text; }
    QueryMode mode() const { return m_mode; }
    qsizetype length() const { return qsizetype(m_words.size()); }
    const Word &word(qsizetype k) const { return m_words[size_t(k)]; }
    /// Whether no counted word (or phrase) can ever match: a word the rules never count, or a
    /// phrase of another length than the counted phrases.
    bool matchesNothing() const { return m_matchesNothing; }
    /// The most words a query may have.
    static constexpr qsizetype kMaxWords = 32;

    /// The counted words on which the pattern engine gave up (it backtracked beyond its limits)
    /// while this query, or a copy of it, was searched for: they were taken as not matching. At
    /// most the first kMaxGivenUpShown of them; givenUpCount() tells how many there were.
    QStringList givenUpWords() const;
    qsizetype givenUpCount() const;
    static constexpr qsizetype kMaxGivenUpShown = 10;
    /// Those words as a note for the user, without a full stop; empty when there were none.
    QString givenUpNote() const;

private:
    struct GivenUp;
    QString m_text;
    QueryMode m_mode = QueryMode::Words;
    bool m_caseInsensitive = false;
    bool m_groups = false;
    std::vector<Word> m_words;
    bool m_matchesNothing = false;
    std::shared_ptr<GivenUp> m_givenUp; // shared by the copies: every search's matchers write to it
    friend class QueryMatcher;
};

/// Marks the counted words that match each word of a query (bit k for word k), as the scan finds
/// them (a numbering scan asks once for each distinct word). Patterns and word forms are decided
/// once a distinct word and remembered by its text; a word that lacks a wildcard's literal
/// beginning or end is refused at once. One per worker.
class QueryMatcher : public TokenMarker
{
public:
    QueryMatcher(const CorpusQuery &query, const WordFinder &finder);
    ~QueryMatcher() override;

    quint32 mark(QStringView word, quint32 id) override;
    /// Whether a counted word matches word k of the query.
    bool matches(qsizetype k, QStringView word);

private:
    const CorpusQuery &m_query;
    std::unique_ptr<WordFinder> m_finder; // for the group keys of word forms
    std::vector<QString> m_literalKeys;   // per query word: the key a literal matches by
    bool m_exact = false;                 // every word a literal, compared exactly
    bool m_refuses = false;               // every word a wildcard with a literal beginning or end
    std::unique_ptr<counting::HashTally> m_decided; // word -> its mark + 1
    PatternMatcher m_patterns;
};

/// Finds the occurrences of a query in a slice's tokens marked by its QueryMatcher: each is the
/// index of its first token; a phrase's words follow each other without a gap between them.
void findQueryHits(const std::vector<CorpusToken> &tokens, qsizetype length, std::vector<qsizetype> &hits);

} // namespace corvalen
