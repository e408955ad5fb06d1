#pragma once

#include "corpus/corpusquery.h"
#include "corpus/corpusscan.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace corvalen {

/// Words kept on each side of a hit, for ordering by them.
inline constexpr int kNeighbourWords = 5;

/// One occurrence of a query in its context, as a concordance lists it; or a file that could not
/// be read. Its text lies in the batch it came in (ConcordanceBatch), which must outlive it.
struct ConcordanceLine
{
    /// Left context, the hit as it stands in the text and right context, one after the other,
    /// control characters shown as spaces (a failed file: the reason).
    QStringView text;
    qint64 hitStart = 0; ///< the hit's raw piece of text in the file's text (UTF-16 units)
    qint64 hitEnd = 0;
    qint64 position = 0; ///< the hit's first word among the file's counted words, from 0
    qint32 file = 0;
    qint32 leftLength = 0;
    qint32 hitLength = 0;
    /// The hit's counted form (its words joined by spaces), as a word number of the search.
    quint32 hitWord = 0;
    /// The counted words around the hit, 5L .. 1L then 1R .. 5R, as word numbers + 1; 0 where the
    /// file begins or ends first.
    std::array<quint32, 2 * kNeighbourWords> neighbours{};
    bool failed = false;

    QStringView left() const { return QStringView(text).first(leftLength); }
    QStringView hit() const { return QStringView(text).sliced(leftLength, hitLength); }
    QStringView right() const { return QStringView(text).sliced(leftLength + hitLength); }
    /// The neighbour at a distance: -1 .. -5 to the left, 1 .. 5 to the right (0 when none).
    quint32 neighbour(int distance) const
    {
        return neighbours[size_t(distance < 0 ? kNeighbourWords + distance : kNeighbourWords - 1 + distance)];
    }
};

/// Lines as a search hands them over: their texts side by side in one string, so that a million
/// lines are not a million strings.
struct ConcordanceBatch
{
    QString text;
    std::vector<ConcordanceLine> lines;
    /// The lines as the command line writes them, when the request names the files for it
    /// (lineNames): file TAB left TAB hit TAB right LF each, in UTF-8, made on the worker.
    QByteArray utf8;
};

/// Lines as a search hands them over, batch by batch, kept without moving them again: a million
/// lines are held in their batches and read by their place.
class ConcordanceLines
{
public:
    void append(ConcordanceBatch &&batch);
    qsizetype size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    const ConcordanceLine &operator[](qsizetype i) const;
    ConcordanceLine &operator[](qsizetype i);
    void clear();

private:
    std::vector<ConcordanceBatch> m_batches;
    std::vector<qsizetype> m_starts; // of each batch
    qsizetype m_size = 0;
    mutable size_t m_last = 0; // the batch read last: reading in order finds the next at once
};

/// What a concordance search looks for.
struct ConcordanceRequest
{
    static constexpr int kMinWidth = 20;
    static constexpr int kMaxWidth = 200;
    static constexpr int kDefaultWidth = 40;

    QStringList files;
    std::shared_ptr<const WordFinder> finder; ///< the count's rules, made ready
    CorpusQuery query;
    int width = kDefaultWidth; ///< characters of context on each side (code points)
    /// Lines without their text and neighbours: where each hit is, for a plot of them.
    bool positionsOnly = false;
    /// Lines with the words around each hit and the hit's counted form (hitWord), to order them
    /// by: every word of the corpus is then numbered, which costs time.
    bool neighbours = true;
    /// The files' names as written lines show them; when given, batches carry their lines in
    /// UTF-8 (ConcordanceBatch::utf8).
    QStringList lineNames;
    /// Only the lines with a word companion matches within companionLeft words before the hit
    /// or companionRight after it (in the same file, across paragraph ends): the lines where a
    /// collocate keeps the node company. The query then has at most 31 words.
    std::optional<CorpusQuery> companion;
    int companionLeft = 0;
    int companionRight = 0;
};

/// Finds every occurrence of a query in the files of a corpus, in the order of the files and of
/// their text: exactly the occurrences the count gives the words the query matches (the number of
/// lines of a word is its count; of a pattern, the sum of the counts of the words it matches).
/// The files are read again through the document engine, on both cores.
class ConcordanceSearch
{
public:
    /// Takes lines in text order, a batch at a time, on the thread that runs the search.
    using Found = std::function<void(ConcordanceBatch &&batch)>;

    explicit ConcordanceSearch(ConcordanceRequest request);
    ~ConcordanceSearch();

    /// Runs the search; false when stop ended it early (the lines handed on are kept).
    bool run(const Found &found, const std::atomic<bool> *stop = nullptr, Progress *progress = nullptr);

    /// Takes the places of hits (their first words among the file's counted words), in order.
    using FoundPlaces = std::function<void(qint32 file, const std::vector<qint64> &positions)>;
    /// Runs a search made with positionsOnly without making lines: the places alone. A file that
    /// could not be read has fileWords() -1 and its reason in failure().
    bool runPlaces(const FoundPlaces &found, const std::atomic<bool> *stop = nullptr, Progress *progress = nullptr);
    /// Why a file could not be read, after a run; empty when it could.
    QString failure(qint32 file) const;

    const ConcordanceRequest &request() const { return m_request; }
    /// The words that the lines' numbers stand for.
    std::shared_ptr<const CorpusVocabulary> vocabulary() const;
    /// After run(): each file's counted words (its tokens); -1 for a file that could not be read.
    const std::vector<qint64> &fileWords() const { return m_fileWords; }

private:
    ConcordanceRequest m_request;
    std::unique_ptr<CorpusScan> m_scan;
    bool runSearch(const Found *found, const FoundPlaces *places, const std::atomic<bool> *stop, Progress *progress);

    std::vector<qint64> m_fileWords;
    std::vector<QString> m_failures;
    bool m_numbered = false;
};

/// One level of a concordance's order.
enum class SortKey {
    Left5, Left4, Left3, Left2, Left1, Hit, Right1, Right2, Right3, Right4, Right5, File, Position,
};

/// The names of the sort keys as the command line takes them ("5L" ... "1L", "hit", "1R" ...
/// "5R", "file", "position"), in the order of SortKey.
QStringList sortKeyNames();
/// The keys of a comma-separated list of up to three names; nullopt, with error set, for an
/// unknown name, more than three, or a key after "position" (text order ends an order).
std::optional<QList<SortKey>> parseSortKeys(const QString &text, QString *error = nullptr);

/// The ranks of words in the Unicode root collation (ICU's root locale), ties by UTF-16 code units:
/// what a concordance is ordered by. rank(0) is 0 (no word: sorts first).
class WordRanks
{
public:
    /// The ranks of the words that lines name at the places keys look at (their hits and
    /// neighbours; all of them without keys), looked up in vocabulary.
    static WordRanks of(const ConcordanceLines &lines, const CorpusVocabulary &vocabulary,
                        const QList<SortKey> &keys = {});
    /// The ranks of the words whose numbers are marked in named (named[number] != 0).
    static WordRanks ofNamed(const std::vector<quint8> &named, const CorpusVocabulary &vocabulary);
    /// The ranks of names (file names), numbered from 0.
    static std::vector<quint32> ofNames(const QStringList &names);
    quint32 rank(quint32 wordPlusOne) const
    {
        return wordPlusOne == 0 || wordPlusOne > m_ranks.size() ? 0 : m_ranks[wordPlusOne - 1];
    }

private:
    std::vector<quint32> m_ranks; // by word number; 1 and up for the words named
};

/// The order of lines by up to three keys, ties by the next key and then text order (Position
/// ends the order: keys after it are not looked at): indexes into lines. ranks from WordRanks::of() of the same lines; fileRanks from WordRanks::ofNames() of the
/// files' names.
std::vector<qint32> concordanceOrder(const ConcordanceLines &lines, const QList<SortKey> &keys,
                                     const WordRanks &ranks, const std::vector<quint32> &fileRanks);
/// The order of lines by the values of up to three keys each (ranks; 0 sorts first), ties by the
/// next key and then the lines' order: indexes into values.
std::vector<qint32> orderByValues(std::vector<std::array<quint32, 3>> values);

/// Where in a line's text the counted word at a neighbour distance (-5 .. -1, 1 .. 5) stands, as
/// the rules find it again in the line's left or right context; {-1, 0} when it is not shown.
struct TextSpan
{
    qsizetype start = -1;
    qsizetype length = 0;
};
TextSpan neighbourSpan(const ConcordanceLine &line, int distance, WordFinder &finder);

} // namespace corvalen
