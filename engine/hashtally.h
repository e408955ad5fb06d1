#pragma once

// The tally table: an open-addressing hash of distinct words with their counts, and the short
// pipeline that feeds words to it. Inline, because the counter calls them once per word.

#include "engine/largememory.h"
#include "engine/wordtally.h"

#include <QtGlobal>

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace corvalen::counting {

inline quint64 mix(quint64 h)
{
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    h *= 0xc4ceb9fe1a85ec53ULL;
    h ^= h >> 33;
    return h;
}

// Words of up to kInline code units (nearly all words) are keys of three 64-bit parts, zero
// beyond the word, stored in the tally's entries; longer words live in an arena. Hashing and
// comparing read whole 8-byte blocks, so every text handed to the counter keeps kSlack
// readable units after its end: a short word is loaded in three blocks and masked, without a
// store and reload of its pieces.
inline constexpr size_t kInline = 12;
inline constexpr size_t kSlack = 16;

struct ShortKey
{
    quint64 part[3] = {0, 0, 0};

    bool operator==(const ShortKey &) const = default;
};

inline quint64 load64(const char16_t *p)
{
    quint64 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Masks that keep the first n units of each 4-unit part of a key.
struct KeyMasks
{
    quint64 part[3][kInline + 1];
};

constexpr KeyMasks makeKeyMasks()
{
    KeyMasks m{};
    for (size_t n = 0; n <= kInline; ++n) {
        for (size_t k = 0; k < 3; ++k) {
            const size_t units = n > 4 * k ? std::min<size_t>(n - 4 * k, 4) : 0;
            m.part[k][n] = units == 4 ? ~quint64(0) : (quint64(1) << (16 * units)) - 1;
        }
    }
    return m;
}

inline constexpr KeyMasks kKeyMasks = makeKeyMasks();

// n <= kInline; p has kSlack readable units after the word.
inline ShortKey shortKey(const char16_t *p, size_t n)
{
    return {{load64(p) & kKeyMasks.part[0][n], load64(p + 4) & kKeyMasks.part[1][n],
             load64(p + 8) & kKeyMasks.part[2][n]}};
}

inline quint32 hashShort(const ShortKey &k, size_t n)
{
    const quint64 h = (k.part[0] * 0x9E3779B97F4A7C15ULL) ^ (k.part[1] * 0xC2B2AE3D27D4EB4FULL)
            ^ (k.part[2] * 0x165667B19E3779F9ULL) ^ n;
    return quint32(mix(h));
}

// n > kInline: the last block overlaps the one before it, so nothing past the word is read.
inline quint32 hashLong(const char16_t *p, size_t n)
{
    quint64 h = 0x9E3779B97F4A7C15ULL ^ (quint64(n) * 0x100000001b3ULL);
    size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        h = (h ^ load64(p + i)) * 0xbf58476d1ce4e5b9ULL;
        h ^= h >> 29;
    }
    if (i < n)
        h = (h ^ load64(p + n - 4)) * 0x94d049bb133111ebULL;
    return quint32(mix(h));
}

inline bool equalLong(const char16_t *a, const char16_t *b, size_t n)
{
    size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        if (load64(a + i) != load64(b + i))
            return false;
    }
    return i == n || load64(a + n - 4) == load64(b + n - 4);
}

// A word on its way into the tally.
struct WordRef
{
    const char16_t *text; // long words only; stays valid until the word is added
    ShortKey key;         // short words only
    quint32 length;
    quint32 hash;
};

inline WordRef makeWordRef(const char16_t *p, size_t n)
{
    WordRef w{p, {}, quint32(n), 0};
    if (n <= kInline) {
        w.key = shortKey(p, n);
        w.hash = hashShort(w.key, n);
    } else {
        w.hash = hashLong(p, n);
    }
    return w;
}


/// Sorts (index << 32 | file) pairs and drops repeated ones; files[index] becomes the number of
/// files of each index (files is sized by the caller).
void countFilePairs(TableVector<quint64> &pairs, std::vector<quint32> &files);

// How many files a word occurs in, counted beside its entry when a count asks for it: the last
// file that brought the word and the number of files so far. Files are numbered from 1.
struct FileMark
{
    quint32 lastFile = 0;
    quint32 files = 0;
};

// Open-addressing hash tally. Buckets hold only a hash and an index into a dense entry array;
// frequent words come first in a text, so their entries sit together at the start of that
// array and stay in the cache.
//
// With file marks on, each entry also counts the files of its word (touch()).
class HashTally
{
public:
    HashTally() { reset(); }

    void reset()
    {
        m_buckets.assign(1024, Bucket{});
        m_mask = m_buckets.size() - 1;
        m_entries.clear();
        m_arena.clear();
        m_sequences.clear();
        m_sequenceCount = 0;
        m_blockOpen = false;
        m_pairs.clear();
        m_total = 0;
    }

    // Forgets every word but keeps the table's size, for a text like the last one: it need not
    // grow again. An arena that held enormous words is given back.
    void clearKeepingSize()
    {
        std::fill(m_buckets.begin(), m_buckets.end(), Bucket{});
        m_entries.clear();
        if (m_arena.capacity() > (size_t(1) << 20))
            TableVector<char16_t>().swap(m_arena);
        else
            m_arena.clear();
        m_sequences.clear();
        m_sequenceCount = 0;
        m_blockOpen = false;
        m_pairs.clear();
        m_total = 0;
    }

    // Adds count to a word; returns the index of its entry.
    size_t add(const WordRef &w, qint64 count)
    {
        m_total += count;
        const bool inlined = w.length <= kInline;
        size_t i = w.hash & m_mask;
        for (;;) {
            Bucket &b = m_buckets[i];
            if (b.index == 0) {
                b.hash = w.hash;
                b.index = quint32(m_entries.size() + 1);
                Entry &e = m_entries.emplace_back();
                e.count = count;
                e.length = w.length;
                e.hash = w.hash;
                if (inlined) {
                    e.key = w.key;
                } else {
                    e.key.part[0] = m_arena.size();
                    m_arena.insert(m_arena.end(), w.text, w.text + w.length);
                }
                if (m_entries.size() * 2 > m_buckets.size())
                    rehash(m_buckets.size() * 2);
                return m_entries.size() - 1;
            }
            if (b.hash == w.hash) {
                Entry &e = m_entries[b.index - 1];
                if (e.length == w.length
                    && (inlined ? e.key == w.key
                                : equalLong(m_arena.data() + e.key.part[0], w.text, w.length))) {
                    e.count += count;
                    return b.index - 1;
                }
            }
            i = (i + 1) & m_mask;
        }
    }

    // The count of w, 0 when it is not in the tally (a stop-word list asks this of every word).
    qint64 countOf(const WordRef &w) const
    {
        const bool inlined = w.length <= kInline;
        for (size_t i = w.hash & m_mask;; i = (i + 1) & m_mask) {
            const Bucket &b = m_buckets[i];
            if (b.index == 0)
                return 0;
            if (b.hash != w.hash)
                continue;
            const Entry &e = m_entries[b.index - 1];
            if (e.length == w.length
                && (inlined ? e.key == w.key
                            : equalLong(m_arena.data() + e.key.part[0], w.text, w.length)))
                return e.count;
        }
    }
    bool contains(const WordRef &w) const { return countOf(w) != 0; }

    // Lookups touch their bucket, then their entry, a few words ahead of time: the tally is
    // far larger than the cache, and waiting for memory one word at a time costs more than
    // the counting.
    void prefetchBucket(quint32 h) const { __builtin_prefetch(&m_buckets[h & m_mask]); }
    void prefetchEntry(quint32 h) const
    {
        const Bucket &b = m_buckets[h & m_mask];
        if (b.index && b.hash == h)
            __builtin_prefetch(&m_entries[b.index - 1]);
    }

    void prefetchText(const WordRef &w) const
    {
        if (w.length <= kInline)
            return;
        const Bucket &b = m_buckets[w.hash & m_mask];
        if (b.index && b.hash == w.hash)
            __builtin_prefetch(m_arena.data() + m_entries[b.index - 1].key.part[0]);
    }

    // Phrases are not looked up one by one: the numbers of the text's words are kept in order,
    // four bytes a word however long the phrases, with a mark where no phrase runs across; the
    // phrases are made of them, sorted and counted once the text has been read (see TallyRules).
    // They follow the tally's words wherever those go: merged, swapped, cleared. Each block can
    // be read apart from the others: it begins with its file (with file marks on) and the words
    // before its first, as far as a phrase reaches back.
    static constexpr quint32 kPhraseGap = 0xffffffff;
    static constexpr quint32 kPhraseFile = 0xfffffffe; // the next entry is the number of a file
    static constexpr quint32 kMaxWordNumber = kPhraseFile - 1;

    // The word words[filled - 1] follows words[0, filled - 1) (at most length of them since the
    // last gap) in file; with filled == length they are a phrase.
    void addPhraseWord(const quint32 *words, int filled, int length, quint32 file = 0)
    {
        // Room for a file mark, the word and a gap after it.
        if (!m_blockOpen || m_sequences.back().size() + 4 > kSequenceBlock) {
            m_sequences.emplace_back();
            TableVector<quint32> &block = m_sequences.back();
            block.reserve(kSequenceBlock);
            if (m_fileMarks)
                block.insert(block.end(), {kPhraseFile, file});
            block.insert(block.end(), words, words + filled - 1);
            m_blockFile = file;
            m_blockOpen = true;
        } else if (m_fileMarks && file != m_blockFile) {
            m_sequences.back().insert(m_sequences.back().end(), {kPhraseFile, file});
            m_blockFile = file;
        }
        m_sequences.back().push_back(words[filled - 1]);
        if (filled == length) {
            ++m_sequenceCount;
            ++m_total;
        }
    }
    // No phrase runs across this place. (A block begins with none running into it.)
    void addPhraseGap()
    {
        if (m_blockOpen && !m_sequences.back().empty() && m_sequences.back().back() != kPhraseGap)
            m_sequences.back().push_back(kPhraseGap);
    }
    // The blocks of word numbers.
    const std::vector<TableVector<quint32>> &sequences() const { return m_sequences; }
    bool hasSequences() const { return m_sequenceCount != 0; }
    qint64 sequenceCount() const { return m_sequenceCount; }

    // File marks: on for every tally of a count that wants them. With lists, the tally also
    // keeps each word's files themselves (fileLists()), for rules that join several words into
    // one row after counting: a row's files are then those of any of its words.
    void setFileMarks(bool on, bool lists = false)
    {
        m_fileMarks = on;
        m_fileLists = on && lists;
        for (Entry &e : m_entries)
            e.mark = FileMark();
        m_pairs.clear();
    }
    bool hasFileMarks() const { return m_fileMarks; }
    bool hasFileLists() const { return m_fileLists; }

    // The entry's word occurs in file.
    void touch(size_t entry, quint32 file)
    {
        FileMark &m = m_entries[entry].mark;
        if (m.lastFile != file) {
            m.lastFile = file;
            ++m.files;
            if (m_fileLists)
                m_pairs.push_back(filePair(entry, file));
        }
    }
    FileMark mark(size_t entry) const { return m_entries[entry].mark; }
    // Every word counted so far occurs in file, and only there (a tally that counted one file).
    void markAll(quint32 file, bool lists)
    {
        setFileMarks(true, lists);
        for (Entry &e : m_entries)
            e.mark = FileMark{file, 1};
        if (m_fileLists) {
            m_pairs.reserve(m_entries.size());
            for (size_t k = 0; k < m_entries.size(); ++k)
                m_pairs.push_back(filePair(k, file));
        }
    }
    // Corrects the number of files of an entry.
    void addFiles(size_t entry, qint64 files)
    {
        FileMark &m = m_entries[entry].mark;
        m.files = quint32(qint64(m.files) + files);
    }
    // With lists: each (entry, file) as entry << 32 | file, in no particular order; once each
    // after settleFileLists().
    TableVector<quint64> &fileLists() { return m_pairs; }
    // Drops repeated pairs and takes each entry's number of files from them.
    void settleFileLists()
    {
        std::vector<quint32> files(m_entries.size());
        countFilePairs(m_pairs, files);
        for (size_t k = 0; k < files.size(); ++k)
            m_entries[k].mark.files = files[k];
    }
    static quint64 filePair(size_t entry, quint32 file) { return quint64(entry) << 32 | file; }

    // The entry of a word, or -1.
    qsizetype find(std::u16string_view text) const
    {
        // Hashing reads whole blocks past a short word: look it up from a padded copy.
        char16_t padded[kInline + kSlack] = {};
        const char16_t *p = text.data();
        if (text.size() <= kInline) {
            std::copy(text.begin(), text.end(), padded);
            p = padded;
        }
        const WordRef w = makeWordRef(p, text.size());
        for (size_t i = w.hash & m_mask;; i = (i + 1) & m_mask) {
            const Bucket &b = m_buckets[i];
            if (b.index == 0)
                return -1;
            const Entry &e = m_entries[b.index - 1];
            if (b.hash == w.hash && e.length == w.length && word(e) == text)
                return qsizetype(b.index - 1);
        }
    }

    // Merging a tally that is dropped afterwards takes its sequences rather than a copy of them.
    void mergeFrom(HashTally &other)
    {
        for (TableVector<quint32> &block : other.m_sequences)
            m_sequences.push_back(std::move(block));
        other.m_sequences.clear();
        other.m_blockOpen = false;
        mergeFrom(std::as_const(other));
    }

    // Adds other's words and counts. With file marks on both, the files add up: the two tallies
    // counted different files.
    void mergeFrom(const HashTally &other)
    {
        for (const TableVector<quint32> &block : other.m_sequences)
            m_sequences.push_back(block);
        if (!other.m_sequences.empty())
            m_blockOpen = false; // the last block is another's: words go on in one of this tally's
        m_sequenceCount += other.m_sequenceCount;
        m_total += other.m_sequenceCount;
        if (m_fileMarks && other.m_fileMarks) {
            std::vector<quint32> moved(m_fileLists ? other.m_entries.size() : 0);
            mergeEntries(other, [this, &other, &moved](size_t to, size_t from) {
                addFiles(to, other.mark(from).files);
                if (m_fileLists)
                    moved[from] = quint32(to);
            });
            if (m_fileLists) {
                m_pairs.reserve(m_pairs.size() + other.m_pairs.size());
                for (const quint64 pair : other.m_pairs)
                    m_pairs.push_back(filePair(moved[size_t(pair >> 32)], quint32(pair)));
            }
            return;
        }
        mergeEntries(other, [](size_t, size_t) { });
    }

    // Adds other's words and counts, all of them from one file (a tally that counted that file
    // apart): each word gains the file unless it had it already.
    void mergeFromFile(const HashTally &other, quint32 file)
    {
        for (const TableVector<quint32> &block : other.m_sequences) {
            TableVector<quint32> &marked = m_sequences.emplace_back();
            marked.reserve(block.size() + 2);
            marked.insert(marked.end(), {kPhraseFile, file});
            marked.insert(marked.end(), block.begin(), block.end());
            m_blockOpen = false;
        }
        m_sequenceCount += other.m_sequenceCount;
        m_total += other.m_sequenceCount;
        mergeEntries(other, [this, file](size_t to, size_t) { touch(to, file); });
    }

    // Distinct words, and the sequences kept (so that a tally of phrases is not taken for empty).
    size_t distinct() const { return m_entries.size() + m_sequences.size(); }
    qint64 total() const { return m_total; }

    template<typename F>
    void forEach(F &&f) const
    {
        for (const Entry &e : m_entries)
            f(word(e), e.count);
    }

    // forEach() with the number of files of each word (0 without file marks).
    template<typename F>
    void forEachWithFiles(F &&f) const
    {
        for (size_t k = 0; k < m_entries.size(); ++k)
            f(word(m_entries[k]), m_entries[k].count, qint64(mark(k).files));
    }

private:
    template<typename Merged>
    void mergeEntries(const HashTally &other, Merged &&merged)
    {
        reserve(m_entries.size() + other.m_entries.size());
        const size_t n = other.m_entries.size();
        constexpr size_t kAhead = 16;
        for (size_t k = 0; k < n; ++k) {
            if (k + kAhead < n)
                prefetchBucket(other.m_entries[k + kAhead].hash);
            if (k + kAhead / 2 < n)
                prefetchEntry(other.m_entries[k + kAhead / 2].hash);
            const Entry &e = other.m_entries[k];
            const char16_t *text = e.length <= kInline ? nullptr : other.m_arena.data() + e.key.part[0];
            const WordRef w{text, e.key, e.length, e.hash};
            merged(add(w, e.count), k);
        }
    }

    struct Bucket
    {
        quint32 hash = 0;
        quint32 index = 0; // 1-based into m_entries; 0 marks a free bucket
    };

    struct Entry
    {
        ShortKey key; // the word itself when short, else its offset in the arena (first part)
        qint64 count = 0;
        quint32 length = 0;
        quint32 hash = 0;
        // Beside the count, so that counting a word's file costs no memory access of its own.
        FileMark mark;
    };

    std::u16string_view word(const Entry &e) const
    {
        if (e.length <= kInline)
            return {reinterpret_cast<const char16_t *>(&e.key), e.length};
        return {m_arena.data() + e.key.part[0], e.length};
    }

    void reserve(size_t entries)
    {
        size_t size = m_buckets.size();
        while (entries * 2 > size)
            size *= 2;
        if (size != m_buckets.size())
            rehash(size);
    }

    void rehash(size_t size)
    {
        m_buckets.assign(size, Bucket{});
        m_mask = size - 1;
        for (size_t k = 0; k < m_entries.size(); ++k) {
            const quint32 h = m_entries[k].hash;
            size_t i = h & m_mask;
            while (m_buckets[i].index)
                i = (i + 1) & m_mask;
            m_buckets[i] = {h, quint32(k + 1)};
        }
    }

    TableVector<Bucket> m_buckets;
    size_t m_mask = 0;
    TableVector<Entry> m_entries;
    TableVector<char16_t> m_arena;
    TableVector<quint64> m_pairs; // with file lists
    bool m_fileMarks = false;
    bool m_fileLists = false;
    qint64 m_total = 0;
    static constexpr size_t kSequenceBlock = size_t(1) << 20;
    std::vector<TableVector<quint32>> m_sequences;
    qint64 m_sequenceCount = 0;
    bool m_blockOpen = false; // the last block is this tally's own, with room: words go on in it
    quint32 m_blockFile = 0;  // the file its words are of, so far
};


// Memory for cleaned words, with kSlack units after any word for the block-wise loads.
struct WordBuffer
{
    std::unique_ptr<char16_t[]> data;
    size_t capacity = 0;
};

// Where each file's text begins in a text to be counted, and the file it begins with.
struct Boundary
{
    size_t at;
    quint32 file;
};

struct SliceFiles
{
    quint32 first = 0;
    std::vector<Boundary> boundaries; // in order; at from 0 within the slice
};

// The file each word of a text occurs in: the one its last unit belongs to.
class FileCursor
{
public:
    FileCursor(const SliceFiles &files, const char16_t *base)
        : m_next(files.boundaries.data()),
          m_end(m_next + files.boundaries.size()),
          m_base(base),
          m_file(files.first)
    {
    }

    quint32 fileOf(const char16_t *wordEnd) { return fileAt(size_t(wordEnd - m_base)); }
    // The file of a word that ends before the unit at end (end > 0).
    quint32 fileAt(size_t end)
    {
        const size_t last = end - 1;
        while (m_next != m_end && m_next->at <= last) {
            m_file = m_next->file;
            ++m_next;
        }
        return m_file;
    }

private:
    const Boundary *m_next;
    const Boundary *m_end;
    const char16_t *m_base;
    quint32 m_file;
};

// Feeds words to a tally through a short pipeline, so that the memory accesses of several words
// overlap. Plain words point into the text, cleaned ones into the
// buffer; both must stay put until the pipeline is drained. The caller drains it at the end: adding
// can fail (out of memory), which a destructor could not pass on. With kFiles, each word comes with the
// file it occurs in, and its file mark is fetched and kept too.
template<bool kFiles>
class BasicCounter
{
public:
    BasicCounter(HashTally &tally, WordBuffer &buffer) : m_tally(tally), m_buffer(buffer)
    {
        if (!m_buffer.data)
            allocate(size_t(1) << 16);
    }

    void arrive(const char16_t *w, size_t n, quint32 file = 0)
    {
        if (m_in - m_out == kDepth)
            addOldest();
        const quint64 slot = m_in & (kDepth - 1);
        WordRef &r = m_ring[slot];
        r = makeWordRef(w, n);
        if constexpr (kFiles)
            m_files[slot] = file;
        m_tally.prefetchBucket(r.hash);
        const quint64 inFlight = m_in - m_out;
        if (inFlight >= kEntryStage) {
            const quint32 h = m_ring[(m_in - kEntryStage) & (kDepth - 1)].hash;
            m_tally.prefetchEntry(h);
        }
        if (inFlight >= kTextStage)
            m_tally.prefetchText(m_ring[(m_in - kTextStage) & (kDepth - 1)]);
        ++m_in;
    }

    // Room for a cleaned word of up to n units; commit() keeps what was written.
    char16_t *reserve(size_t n)
    {
        if (m_used + n + kSlack > m_buffer.capacity) {
            drain();
            m_used = 0;
            if (n + kSlack > m_buffer.capacity)
                allocate(std::max(m_buffer.capacity * 2, n + kSlack));
        }
        return m_buffer.data.get() + m_used;
    }
    void commit(size_t n) { m_used += n; }

    void drain()
    {
        while (m_out != m_in)
            addOldest();
    }

private:
    // A word's bucket is fetched when it arrives, its entry kEntryStage words later, a long
    // word's stored text kTextStage words later, and it is added kDepth words later.
    static constexpr quint64 kDepth = 32;
    static constexpr quint64 kEntryStage = 16;
    static constexpr quint64 kTextStage = 26;

    void addOldest()
    {
        const quint64 slot = m_out++ & (kDepth - 1);
        const size_t entry = m_tally.add(m_ring[slot], 1);
        if constexpr (kFiles)
            m_tally.touch(entry, m_files[slot]);
    }

    void allocate(size_t units)
    {
        m_buffer.data = std::make_unique<char16_t[]>(units); // zeroed: the slack is read
        m_buffer.capacity = units;
    }

    struct NoFiles
    {
    };

    HashTally &m_tally;
    WordBuffer &m_buffer;
    size_t m_used = 0;
    WordRef m_ring[kDepth];
    [[no_unique_address]] std::conditional_t<kFiles, quint32[kDepth], NoFiles> m_files{};
    quint64 m_in = 0;
    quint64 m_out = 0;
};

using Counter = BasicCounter<false>;

/// The tally's rows ordered by count ascending, ties by UTF-16 code units.
std::vector<WordCount> orderedRows(const HashTally &tally);
/// Any rows in the same order.
void orderByItems(std::vector<WordCount> &rows);

} // namespace corvalen::counting
