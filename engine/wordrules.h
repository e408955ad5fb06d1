#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

#include <functional>
#include <memory>

namespace corvalen {

/// How a count turns text into the words it counts, beyond letter case. The defaults are the plain
/// rules: words lie between spaces and paragraph ends, the 32 ASCII punctuation characters are
/// deleted wherever they stand, every word counts alone, every line of a text file is a paragraph.
///
/// The rules apply in this order: split (at spaces, or at Unicode word boundaries), clean
/// (punctuation deleted, case), minimum length and stop words, stems or lemmas, phrases.
struct WordRules
{
    /// Basic: between spaces and paragraph ends. Unicode: at Unicode word boundaries. Corpus: at
    /// Unicode word boundaries, then apostrophes between letters, single hyphens between letters
    /// or digits and the points and commas of numbers kept, every other punctuation separating.
    enum class Words { Basic, Unicode, Corpus };
    enum class Punctuation { Ascii, All };
    /// Corpus words only: whether a single hyphen between letters or digits joins them.
    enum class Hyphens { Join, Split };
    /// Where a paragraph of a plain-text or PDF file ends: at every line end, or at an empty line
    /// (lines joined as by a space). The readers apply it; formats that mark paragraphs ignore it.
    enum class Paragraphs { Lines, BlankLines };

    static constexpr int kMaxPhraseLength = 5;

    Words words = Words::Basic;
    Punctuation punctuation = Punctuation::Ascii;
    QStringList stopWordLists; ///< language codes or paths of UTF-8 lists, as the user gave them
    int minLength = 1;         ///< in code points
    QString stemLanguage;      ///< groups words by their stem in this language; empty: no grouping
    QStringList lemmaLists;    ///< groups words by lemma: language codes or paths of lemma lists, as given
    int phraseLength = 1;      ///< counts sequences of this many words (1 to 5)
    Hyphens hyphens = Hyphens::Join; ///< only read with Words::Corpus
    Paragraphs paragraphs = Paragraphs::Lines;

    bool isDefault() const { return *this == WordRules(); }
    /// Whether words are cut at Unicode word boundaries (Unicode and corpus words).
    bool atWordBoundaries() const { return words != Words::Basic; }
    bool operator==(const WordRules &) const = default;
};

/// The language codes of the stop-word lists built into the program, in alphabetical order.
QStringList builtInStopWordLists();
/// The words of a built-in list as its file holds them (comments included); empty for an unknown
/// code.
QString builtInStopWordText(const QString &code);
/// The stemming languages under their canonical names ("danish", "dutch", "english" ...).
QStringList stemmingLanguages();
/// Whether name is a stemming language: a canonical name or its ISO 639 code ("en", "deu").
bool isStemmingLanguage(const QString &name);

/// One word (or phrase) the rules count, and where in the text it came from: the raw piece
/// [rawStart, rawEnd) that the rules turned into it (for a phrase, from its first word's start to
/// its last word's end). Positions count UTF-16 units from the start of the text given.
struct FoundWord
{
    QStringView word; ///< valid during the call that reports it
    qsizetype rawStart = 0;
    qsizetype rawEnd = 0;
};

/// Receives the single words of a text before they are joined into phrases.
class WordSink
{
public:
    virtual ~WordSink() = default;
    /// A word the rules count; word is valid during the call.
    virtual void word(QStringView word, qsizetype rawStart, qsizetype rawEnd) = 0;
    /// A place no phrase runs across: a paragraph end, a stop word, a word below the minimum
    /// length.
    virtual void gap() { }
};

/// The one place that decides what a count counts: the run counts what it finds, and a view of the
/// words in their context looks for exactly the occurrences that were counted. Holds what the
/// rules need (stop lists, a stemmer, a word-break iterator); one per thread (clone() gives
/// another cheaply).
class WordFinder
{
public:
    using Found = std::function<void(const FoundWord &found)>;

    /// Loads what the rules need; null, with error set to a sentence naming the culprit, when a
    /// stop-word list cannot be read or a value is out of range or unknown.
    static std::unique_ptr<WordFinder> create(const WordRules &rules, bool ignoreCase,
                                              QString *error = nullptr);
    virtual ~WordFinder();

    /// Another finder of the same rules for another thread; shares the lists already loaded.
    std::unique_ptr<WordFinder> clone() const;

    /// Reports every counted word (or phrase) of text, in text order. text ends at a paragraph end
    /// (or at the end of a file's text): nothing carries over from one call to the next.
    virtual void findWords(QStringView text, const Found &found);

    /// The row a counted word (or phrase) belongs to: the word itself, or the key of its group of
    /// forms (the stems of its words, lower-cased, or their lemmas, joined by spaces).
    virtual QString groupKey(QStringView word) const;

    /// The single words of text as findWords() would join them into phrases, with the gaps no
    /// phrase crosses.
    void findSingleWords(QStringView text, WordSink &sink);

    /// Whether a count can split and clean words as the plain rules do and pass each distinct word
    /// through formOf() afterwards: words split at spaces, counted one at a time.
    bool countsPlainWords() const;
    /// Whether formOf() can change or drop a plain word (else it is the identity).
    bool changesPlainWords() const;
    /// What these rules make of a word as the plain rules count it (ASCII punctuation deleted,
    /// case as chosen): false when it is not counted (nothing left, too short, a stop word).
    bool formOf(QStringView plainWord, QString &form) const;
    /// Whether counted words are grouped (by their stems or lemmas).
    bool groupsWords() const;
    /// Whether counted words are grouped by lemma: a group then shows its key, the lemma, where
    /// a group of stems shows its most frequent form.
    bool groupsByLemma() const;
    /// What the user should know of the rules loaded (forms a lemma list gives two lemmas), as
    /// sentences to be shown after the program's name.
    QStringList notes() const;
    /// A part of a word (a wildcard's literal piece) cleaned as these rules clean the words they
    /// find, without cutting it: letter case, punctuation deleted (or, with corpus words,
    /// apostrophes and hyphens written as U+0027 and U+002D).
    QString cleanedFragment(QStringView fragment) const;

    const WordRules &rules() const { return m_rules; }
    bool ignoresCase() const { return m_ignoreCase; }

protected:
    WordFinder(const WordRules &rules, bool ignoreCase);

private:
    struct Private;
    std::unique_ptr<Private> d;
    WordRules m_rules;
    bool m_ignoreCase;
};

} // namespace corvalen
