#pragma once

#include "engine/progress.h"
#include "engine/wordrules.h"

#include <QString>
#include <QStringList>
#include <QStringView>

#include <algorithm>
#include <any>
#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <new>
#include <mutex>
#include <vector>

namespace corvalen {

/// The distinct counted words a scan met, numbered from 0 in the order they were first met, shared
/// by the scan's workers.
class CorpusVocabulary
{
public:
    CorpusVocabulary();
    ~CorpusVocabulary();
    CorpusVocabulary(const CorpusVocabulary &) = delete;
    CorpusVocabulary &operator=(const CorpusVocabulary &) = delete;

    /// The number of the n units at w, which have counting::kSlack readable units after them.
    quint32 idOf(const char16_t *w, size_t n);
    /// A word by its number; from any thread.
    QString word(quint32 id) const;
    /// Every word, in the order of their numbers: once the scan has ended.
    QStringList words() const;
    quint32 size() const;

private:
    QStringView at(quint32 id) const;
    void grow();

    mutable std::mutex m_mutex;
    // The words' text lies in blocks that never move (a long word has a block of its own), each
    // word's place (block << 32 | offset) and length by its number; the index keeps only a hash
    // and a number a word, the text is looked up where it lies.
    struct Slot
    {
        quint32 hash = 0;
        quint32 number = 0; ///< + 1; 0: free
    };
    std::vector<Slot> m_index;
    std::vector<std::unique_ptr<char16_t[]>> m_blocks;
    size_t m_blockUsed = 0;
    size_t m_blockSize = 0; // of the last block
    std::deque<quint64> m_places; // grown without moving what is there
    std::deque<quint32> m_lengths;
};

/// A counted word of a file: its number in the scan's vocabulary, the raw piece of text the rules
/// turned into it (in its slice's text), and whether a paragraph end or a word the rules leave out
/// (a stop word, a short word) lies between it and the word before. No phrase runs across such a
/// gap; neighbouring words are counted across it.
struct CorpusToken
{
    static constexpr quint32 kNoNumber = 0xFFFFFFFF;

    quint32 id = kNoNumber; ///< kNoNumber when the scan does not number words
    quint32 start = 0;
    quint32 end = 0;
    quint32 mark = 0;       ///< what the scan's marker made of the word (see TokenMarker)
    bool gapBefore = false;
    /// A 64-bit hash of the word as counted, when the scan is asked for it (hashWords): words told
    /// apart without a table of them.
    quint64 hash = 0;
};

/// The 64-bit hash of a word as CorpusToken::hash gives it.
quint64 wordHash(QStringView word);

/// Looks at every counted word as a worker finds it, while its text is at hand: a scan's work
/// that needs to know only some words (those a query matches) marks them here, and the words need
/// not be numbered at all. One per worker.
class TokenMarker
{
public:
    virtual ~TokenMarker() = default;
    /// The mark of a word as counted; id is its number, or CorpusToken::kNoNumber.
    virtual quint32 mark(QStringView word, quint32 id) = 0;
};

/// Text of a slice, UTF-16 units in memory that grows in place (the system moves it, it is not
/// copied), so that a paragraph of hundreds of megabytes is held once.
class SliceText
{
public:
    SliceText() = default;
    SliceText(SliceText &&other) noexcept { swap(other); }
    SliceText &operator=(SliceText &&other) noexcept
    {
        SliceText(std::move(other)).swap(*this);
        return *this;
    }
    SliceText(const SliceText &) = delete;
    SliceText &operator=(const SliceText &) = delete;
    ~SliceText();

    const char16_t *data() const { return m_data; }
    size_t size() const { return m_size; }
    size_t capacity() const { return m_capacity; }
    char16_t operator[](size_t i) const { return m_data[i]; }
    void clear() { m_size = 0; }
    void append(const char16_t *text, size_t units);
    void append(size_t units, char16_t unit);
    void assign(const char16_t *text, size_t units)
    {
        m_size = 0;
        append(text, units);
    }
    void truncate(size_t units) { m_size = std::min(m_size, units); }
    /// Drops the first units.
    void removeFront(size_t units);
    void swap(SliceText &other) noexcept
    {
        std::swap(m_data, other.m_data);
        std::swap(m_size, other.m_size);
        std::swap(m_capacity, other.m_capacity);
    }

private:
    void reserve(size_t units);
    char16_t *m_data = nullptr;
    size_t m_size = 0;
    size_t m_capacity = 0;
};

/// A piece of one file's text as the scan hands it to its workers: whole paragraphs (when the scan
/// allows it, a paragraph too long to hold is cut at a space), with up to the scan's margin of the
/// file's text before and after it for contexts. Its tokens are the counted words of [from, to).
struct CorpusSlice
{
    qint32 file = 0;
    qint64 number = 0;      ///< the slice's place among all slices of the scan
    qint64 fileOffset = 0;  ///< where text[0] lies in the file's text
    /// The text, followed by counting::kSlack units of NUL (readable past any word's end).
    SliceText text;
    qsizetype size = 0;     ///< of the text proper
    qsizetype from = 0;
    qsizetype to = 0;
    qsizetype textEnd = 0;  ///< the end of the file's text held (the engine's last paragraph end excluded)
    bool firstOfFile = false;
    bool lastOfFile = false;
    /// The file could not be read (the rest of it, when slices of it came before); failure says why.
    bool failed = false;
    QString failure;
    std::vector<CorpusToken> tokens;
    /// Whatever the scan's work made of the slice on its worker.
    std::any result;

    /// Absolute place in the file's text of a position of text.
    qint64 inFile(qsizetype at) const { return fileOffset + at; }
    QStringView view() const { return QStringView(text.data(), size); }
};

/// What a scan reads and how it cuts the text.
struct CorpusScanOptions
{
    QStringList files;
    /// The word rules made ready (stop-word lists read); cloned for every worker.
    std::shared_ptr<const WordFinder> finder;
    /// Text kept before and after a slice for contexts, in UTF-16 units.
    qsizetype margin = 512;
    /// Whether a paragraph too long to hold may be cut at a space (the work needs no phrases).
    bool cutAtSpaces = false;
    /// Whether every word is numbered in the vocabulary (a hash lookup a word: the work must need it).
    bool numberWords = true;
    /// Whether every token carries wordHash() of its word.
    bool hashWords = false;
    /// Makes each worker's marker; none: marks stay 0.
    std::function<std::unique_ptr<TokenMarker>()> makeMarker;
};

/// Numbers the words of a scan that does not number them all (numberWords off, hashWords on), as
/// its work needs them: a token's word is taken again out of its slice's raw text by the rules, so
/// that only the words asked for are kept. One per thread.
class WordNumbers
{
public:
    WordNumbers(const WordFinder &finder, CorpusVocabulary &vocabulary);
    ~WordNumbers();
    /// The number of a token's word, which lies in slice's text.
    quint32 of(const CorpusSlice &slice, const CorpusToken &token);
    /// A token's word as counted.
    QString wordOf(const CorpusSlice &slice, const CorpusToken &token) const;

private:
    std::unique_ptr<WordFinder> m_cleaner; // the rules that cut and clean, to take a word again
    CorpusVocabulary &m_vocabulary;
    std::vector<std::pair<quint64, quint32>> m_known; // hash -> number, a cache: open addressing
    size_t m_used = 0;
};

/// Memory ran out while a file of a corpus was read or searched: the file is named.
class CorpusOutOfMemory : public std::bad_alloc
{
public:
    explicit CorpusOutOfMemory(QString file) : m_file(std::move(file)) { }
    /// The file's path as given.
    const QString &file() const { return m_file; }
    /// "Out of memory while reading FILE." (the file as the system writes paths).
    QString message() const;
    const char *what() const noexcept override { return "out of memory while reading a corpus file"; }

private:
    QString m_file;
};

/// Reads the files of a corpus and finds their counted words (WordFinder::findSingleWords), on
/// both cores: the files are read and decoded in order on a thread of their own, cut into slices,
/// and the slices' words are found and worked on by workers, each slice by one worker; what they
/// made of the slices comes back to the calling thread in the order of the text.
///
/// Memory stays at a few slices of text however large the files are.
class CorpusScan
{
public:
    /// Called on a worker for every slice, after its tokens are found; keeps its findings in
    /// slice.result. Must not throw.
    using Work = std::function<void(CorpusSlice &slice)>;
    /// Called on the calling thread for every slice, in order (a failed file gives a slice with
    /// failed set, after those of its text that came before). The slice's buffers are used again
    /// afterwards: what is to be kept of them is copied.
    using InOrder = std::function<void(CorpusSlice &slice)>;

    explicit CorpusScan(CorpusScanOptions options);
    ~CorpusScan();

    /// Runs the scan. Stops early, with false, when stop is set (polled between slices).
    /// progress, when given, hears Phase::Reading with the bytes of the files read.
    bool run(const Work &work, const InOrder &inOrder, const std::atomic<bool> *stop = nullptr,
             Progress *progress = nullptr);

    const CorpusVocabulary &vocabulary() const { return *m_vocabulary; }
    std::shared_ptr<CorpusVocabulary> sharedVocabulary() const { return m_vocabulary; }
    const CorpusScanOptions &options() const { return m_options; }

private:
    struct Pipeline;
    CorpusScanOptions m_options;
    std::shared_ptr<CorpusVocabulary> m_vocabulary;
};

} // namespace corvalen
