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

// The tally's tables are looked up at random: they take large memory (see allocateLarge()).
template<typename T>
struct TableAllocator
{
    using value_type = T;

    TableAllocator() = default;
    template<typename U>
    TableAllocator(const TableAllocator<U> &) { }

    T *allocate(size_t n)
    {
        if (n > std::numeric_limits<size_t>::max() / sizeof(T))
            throw std::bad_alloc();
        return static_cast<T *>(allocateLarge(n * sizeof(T)));
    }
    void deallocate(T *p, size_t) { freeLarge(p); }

    template<typename U>
    bool operator==(const TableAllocator<U> &) const { return true; }
};

template<typename T>
using TableVector = std::vector<T, TableAllocator<T>>;

// Open-addressing hash tally. Buckets hold only a hash and an index into a dense entry array;
// frequent words come first in a text, so their entries sit together at the start of that
// array and stay in the cache.
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
        m_total = 0;
    }

    void add(const WordRef &w, qint64 count)
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
                return;
            }
            if (b.hash == w.hash) {
                Entry &e = m_entries[b.index - 1];
                if (e.length == w.length
                    && (inlined ? e.key == w.key
                                : equalLong(m_arena.data() + e.key.part[0], w.text, w.length))) {
                    e.count += count;
                    return;
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

    // Phrases are not looked up one by one: each is kept as the numbers of its words, and they
    // are sorted and counted once the text has been read (see TallyRules). They follow the
    // tally's words wherever those go: merged, swapped, cleared.
    void addSequence(const quint32 *ids, int length)
    {
        if (m_sequences.empty() || m_sequences.back().size() + size_t(length) > kSequenceBlock) {
            m_sequences.emplace_back();
            m_sequences.back().reserve(kSequenceBlock);
        }
        m_sequences.back().insert(m_sequences.back().end(), ids, ids + length);
        ++m_sequenceCount;
        ++m_total;
    }
    // The blocks of word numbers, each a whole number of sequences.
    const std::vector<TableVector<quint32>> &sequences() const { return m_sequences; }

    // Merging a tally that is dropped afterwards takes its sequences rather than a copy of them.
    void mergeFrom(HashTally &other)
    {
        for (TableVector<quint32> &block : other.m_sequences)
            m_sequences.push_back(std::move(block));
        other.m_sequences.clear();
        mergeFrom(std::as_const(other));
    }

    void mergeFrom(const HashTally &other)
    {
        for (const TableVector<quint32> &block : other.m_sequences)
            m_sequences.push_back(block);
        m_sequenceCount += other.m_sequenceCount;
        m_total += other.m_sequenceCount;
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
            add(w, e.count);
        }
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

private:
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
    qint64 m_total = 0;
    static constexpr size_t kSequenceBlock = size_t(1) << 20;
    std::vector<TableVector<quint32>> m_sequences;
    qint64 m_sequenceCount = 0;
};


// Memory for cleaned words, with kSlack units after any word for the block-wise loads.
struct WordBuffer
{
    std::unique_ptr<char16_t[]> data;
    size_t capacity = 0;
};

// Feeds words to a tally through a short pipeline, so that the memory accesses of several words
// overlap. Plain words point into the text, cleaned ones into the
// buffer; both must stay put until the pipeline is drained.
class Counter
{
public:
    Counter(HashTally &tally, WordBuffer &buffer) : m_tally(tally), m_buffer(buffer)
    {
        if (!m_buffer.data)
            allocate(size_t(1) << 16);
    }
    ~Counter() { drain(); }

    void arrive(const char16_t *w, size_t n)
    {
        if (m_in - m_out == kDepth)
            addOldest();
        WordRef &r = m_ring[m_in & (kDepth - 1)];
        r = makeWordRef(w, n);
        m_tally.prefetchBucket(r.hash);
        const quint64 inFlight = m_in - m_out;
        if (inFlight >= kEntryStage)
            m_tally.prefetchEntry(m_ring[(m_in - kEntryStage) & (kDepth - 1)].hash);
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

    void addOldest() { m_tally.add(m_ring[m_out++ & (kDepth - 1)], 1); }

    void allocate(size_t units)
    {
        m_buffer.data = std::make_unique<char16_t[]>(units); // zeroed: the slack is read
        m_buffer.capacity = units;
    }

    HashTally &m_tally;
    WordBuffer &m_buffer;
    size_t m_used = 0;
    WordRef m_ring[kDepth];
    quint64 m_in = 0;
    quint64 m_out = 0;
};

/// The tally's rows ordered by count ascending, ties by UTF-16 code units.
std::vector<WordCount> orderedRows(const HashTally &tally);
/// Any rows in the same order.
void orderByItems(std::vector<WordCount> &rows);

} // namespace corvalen::counting
