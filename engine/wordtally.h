#pragma once

#include <QString>
#include <QStringView>

#include <memory>
#include <utility>
#include <vector>

namespace corvalen {

class CountedRows;
class WordFinder;

/// One row of a count: a distinct cleaned word and how often it occurs; with the range, also in
/// how many files.
struct WordCount
{
    WordCount() = default;
    WordCount(QString w, qint64 n, std::shared_ptr<const std::vector<WordCount>> f = nullptr)
        : word(std::move(w)), count(n), forms(std::move(f))
    {
    }

    QString word;
    qint64 count = 0;
    /// With words grouped by their stems or lemmas: the forms the row stands for, each with its
    /// count, most frequent first (ties by UTF-16 code units); null otherwise.
    std::shared_ptr<const std::vector<WordCount>> forms;
    qint64 files = 0; ///< files the word occurs in: counted with the range only, else 0

    friend bool operator==(const WordCount &a, const WordCount &b)
    {
        return a.word == b.word && a.count == b.count && a.files == b.files
                && (a.forms == b.forms || (a.forms && b.forms && *a.forms == *b.forms));
    }
};

/// Counts the words of a text that arrives in chunks of any size.
///
/// A word is what lies between carriage returns (13) and spaces (32), with the 32 printable
/// ASCII punctuation characters deleted wherever they stand and, when case is ignored, every
/// character mapped to its simple lower-case form. Empty words are not counted. Words are
/// compared exactly (UTF-16 code units).
///
/// Feeding several texts one after the other counts their concatenation: a word cut by a chunk
/// boundary, or by the end of one file's text, is one word. Large inputs are counted on the
/// global thread pool in independent slices whose tallies are merged; the result is the same
/// as a single-threaded count.
///
/// The texts of several files can be marked with beginFile() and endFile(): a file that ends
/// badly is taken back whole, as if it had never been fed. A file's text is never split between
/// slices: small files are sliced whole, one that grows large is counted apart and merged in
/// once when it ends.
class WordTally
{
public:
    explicit WordTally(bool ignoreCase);
    /// Counts by the word rules of finder (which it copies; the plain rules count as the plain
    /// tally does). A file's last word ends with its text under any other rules.
    explicit WordTally(const WordFinder &rules);
    ~WordTally();
    WordTally(const WordTally &) = delete;
    WordTally &operator=(const WordTally &) = delete;

    bool ignoresCase() const;

    /// Also counts in how many files each word occurs (the rows' files), before the first text.
    /// A file is what lies between beginFile() and endFile(); text fed outside them is a file of
    /// its own until the next beginFile() or finish(). A word joined across the end of a file
    /// occurs in the file where it ends; a file that ends badly (endFile(false)) counts for
    /// nothing. Under word rules a row made of several counted words (forms grouped by stem,
    /// words that one form stands for) occurs in the files of any of them; a phrase in the files
    /// where it occurs. Costs a little speed, so a count asks for it.
    void setFileRange(bool on);

    /// Adds a piece of text.
    void feed(QStringView chunk);
    /// The text fed from now on is one file's, until endFile().
    void beginFile();
    /// Ends the file begun last. complete false takes back everything fed since beginFile().
    void endFile(bool complete);
    /// Ends the text (and a file still open, as complete): a word still open at the end is
    /// counted. Waits for background work.
    void finish();

    /// Distinct words and their counts, in no particular order. Call after finish().
    std::vector<WordCount> counts() const;
    /// Rows ordered by count ascending, ties by ordinal comparison of UTF-16 code units.
    std::vector<WordCount> ordered() const;
    /// The same, after which the tally holds nothing to order any more: under word rules the
    /// count gives its memory back before the rows are made (call clear() to count again).
    std::vector<WordCount> takeOrdered();
    /// As takeOrdered(); the rows of a count of phrases stay the numbers of their words, spelled
    /// out only as they are read (see CountedRows).
    CountedRows takeOrderedRows();
    /// The files, numbered from 0 in the order beginFile() began them, that a counting thread
    /// could not count for want of memory. A large file (counted apart) is left out of the
    /// count; when the words of a failed file cannot be taken out again, or text fed outside
    /// files failed, finish() throws instead. Call after finish(), also after it threw.
    std::vector<quint32> failedFiles() const;
    /// Sum of all counts. Call after finish().
    qint64 total() const;
    qsizetype distinctWords() const;
    /// Forgets everything counted; ready for a new text.
    void clear();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

/// Orders rows by count ascending, ties by ordinal comparison of UTF-16 code units.
void orderRows(std::vector<WordCount> &rows);

/// The simple one-to-one lower-case mapping of one code point (U+0130 becomes "i").
char32_t simpleLower(char32_t c);

/// The part of a path after its last native separator (the whole path when there is none).
QString fileNameFromPath(const QString &path);

} // namespace corvalen
