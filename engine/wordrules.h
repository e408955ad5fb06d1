#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

#include <functional>
#include <memory>

namespace corvalen {

/// How a count turns text into the words it counts, beyond letter case. The defaults are the plain
/// rules: words lie between spaces and paragraph ends, the 32 ASCII punctuation characters are
/// deleted wherever they stand, every word counts alone.
struct WordRules
{
    enum class Words { Basic, Unicode };
    enum class Punctuation { Ascii, All };

    Words words = Words::Basic;
    Punctuation punctuation = Punctuation::Ascii;
    QStringList stopWordLists; ///< language codes or paths of UTF-8 lists, as the user gave them
    int minLength = 1;         ///< in code points
    QString stemLanguage;      ///< groups words by their stem in this language; empty: no grouping
    int phraseLength = 1;      ///< counts sequences of this many words (1 to 5)

    bool isDefault() const { return *this == WordRules(); }
    bool operator==(const WordRules &) const = default;
};

/// One word (or phrase) the rules count, and where in the text it came from: the raw piece
/// [rawStart, rawEnd) that the rules turned into it (for a phrase, from its first word's start to
/// its last word's end). Positions count UTF-16 units from the start of the text given.
struct FoundWord
{
    QStringView word; ///< valid during the call that reports it
    qsizetype rawStart = 0;
    qsizetype rawEnd = 0;
};

/// The one place that decides what a count counts: the run counts what it finds, and a view of the
/// words in their context looks for exactly the occurrences that were counted. Holds what the
/// rules need (stop lists, a stemmer); one per thread.
class WordFinder
{
public:
    using Found = std::function<void(const FoundWord &found)>;

    /// Loads what the rules need; null, with error set to a sentence naming the culprit, when a
    /// stop-word list cannot be read or a language is unknown.
    static std::unique_ptr<WordFinder> create(const WordRules &rules, bool ignoreCase,
                                              QString *error = nullptr);
    virtual ~WordFinder() = default;

    /// Reports every counted word of text, in text order. text ends at a paragraph end (or at the
    /// end of a file's text): nothing carries over from one call to the next.
    virtual void findWords(QStringView text, const Found &found) = 0;

    /// The row a counted word belongs to: the word itself, or the key of its group of forms.
    virtual QString groupKey(QStringView word) const = 0;

    const WordRules &rules() const { return m_rules; }
    bool ignoresCase() const { return m_ignoreCase; }

protected:
    WordFinder(const WordRules &rules, bool ignoreCase) : m_rules(rules), m_ignoreCase(ignoreCase) { }

private:
    WordRules m_rules;
    bool m_ignoreCase;
};

} // namespace corvalen
