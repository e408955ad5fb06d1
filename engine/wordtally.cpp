#include "engine/wordtally.h"
#include "engine/largememory.h"

#include <QChar>
#include <QDir>
#include <QThreadPool>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <mutex>
#include <string_view>
#include <thread>

namespace corvalen {

namespace {

// Character classes of the ASCII range. Everything above 127 is kept as it is, or lower-cased.
enum : quint8 { Plain = 0, Separator = 1, Transform = 2 };

struct AsciiTables
{
    quint8 keepCase[128];   // punctuation needs deleting
    quint8 ignoreCase[128]; // punctuation needs deleting, capitals need lower-casing
    char16_t lower[128];
    bool punctuation[128];
};

constexpr AsciiTables makeTables()
{
    AsciiTables t{};
    for (int c = 0; c < 128; ++c) {
        const bool punct = (c >= 33 && c <= 47) || (c >= 58 && c <= 64) || (c >= 91 && c <= 96)
                || (c >= 123 && c <= 126);
        const bool upper = c >= 'A' && c <= 'Z';
        const bool sep = c == 13 || c == 32;
        t.punctuation[c] = punct;
        t.keepCase[c] = sep ? Separator : punct ? Transform : Plain;
        t.ignoreCase[c] = sep ? Separator : (punct || upper) ? Transform : Plain;
        t.lower[c] = char16_t(upper ? c + 32 : c);
    }
    return t;
}

constexpr AsciiTables kAscii = makeTables();

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
constexpr size_t kInline = 12;
constexpr size_t kSlack = 16;

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

constexpr KeyMasks kKeyMasks = makeKeyMasks();

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

    void mergeFrom(const HashTally &other)
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
            add(w, e.count);
        }
    }

    size_t distinct() const { return m_entries.size(); }
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
};

// Lower-cases what the cleaning table left: units from U+2500 on, pairing surrogates first. The
// simple mapping keeps a character in its plane, so the word keeps its length; applied to a
// character already lower-cased it changes nothing.
void lowerRest(char16_t *w, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        const char16_t u = w[i];
        if (u < 0x2500)
            continue;
        if (QChar::isHighSurrogate(u) && i + 1 < n && QChar::isLowSurrogate(w[i + 1])) {
            const char32_t c = simpleLower(QChar::surrogateToUcs4(u, w[i + 1]));
            Q_ASSERT(c > 0xFFFF);
            w[i] = QChar::highSurrogate(c);
            w[i + 1] = QChar::lowSurrogate(c);
            ++i;
        } else {
            const char32_t c = simpleLower(u);
            Q_ASSERT(c <= 0xFFFF);
            w[i] = char16_t(c);
        }
    }
}

// What cleaning does to each unit below U+2500 (Latin, Greek, Cyrillic, Armenian ... the
// alphabets most texts use) when case is ignored, looked up instead of asked of Qt for every
// character: its simple lower-case form, or kDeleted for punctuation (no such unit lower-cases
// to U+FFFF).
constexpr char16_t kDeleted = 0xFFFF;

const std::array<char16_t, 0x2500> &ignoreCaseCleaning()
{
    static const std::array<char16_t, 0x2500> table = [] {
        std::array<char16_t, 0x2500> t{};
        for (char32_t c = 0; c < t.size(); ++c) {
            const char32_t l = QChar::isSurrogate(c) ? c : simpleLower(c);
            t[c] = c < 128 && kAscii.punctuation[c] ? kDeleted : char16_t(l <= 0xFFFF ? l : c);
        }
        return t;
    }();
    return table;
}

// Writes the cleaned form of the n units at in to out (room for n units); returns its length.
size_t cleanWord(char16_t *out, const char16_t *in, size_t n, bool ignoreCase)
{
    size_t k = 0;
    if (!ignoreCase) {
        for (size_t i = 0; i < n; ++i) {
            const char16_t c = in[i];
            out[k] = c;
            k += !(c < 128 && kAscii.punctuation[c]);
        }
        return k;
    }
    const char16_t *table = ignoreCaseCleaning().data();
    bool rest = false;
    for (size_t i = 0; i < n; ++i) {
        const char16_t c = in[i];
        if (c < 0x2500) {
            const char16_t u = table[c];
            out[k] = u;
            k += u != kDeleted;
        } else {
            out[k++] = c;
            rest = true;
        }
    }
    if (rest)
        lowerRest(out, k);
    return k;
}

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

// Finds the end of the raw word that starts at p: the next separator, or end. Sets needsCleaning
// when the word holds punctuation (or, ignoring case, a capital or anything beyond ASCII).
class WordScanner
{
public:
    explicit WordScanner(bool ignoreCase)
        : m_cls(ignoreCase ? kAscii.ignoreCase : kAscii.keepCase),
          m_beyondAscii(ignoreCase ? Transform : Plain),
          m_ignoreCase(ignoreCase)
    {
    }

    const char16_t *wordEnd(const char16_t *p, const char16_t *end, bool &needsCleaning) const
    {
        unsigned flags = 0;
#if defined(__SSE2__)
        // Eight code units at a time: most words end within the first block.
        while (end - p >= 8) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
            const unsigned sep = unsigned(_mm_movemask_epi8(separators(v)));
            const unsigned dirty = unsigned(_mm_movemask_epi8(needsCleaning128(v)));
            if (sep) {
                const int bit = __builtin_ctz(sep);
                flags |= dirty & ((1u << bit) - 1);
                needsCleaning = flags != 0;
                return p + bit / 2;
            }
            flags |= dirty;
            p += 8;
        }
#endif
        for (; p < end; ++p) {
            const char16_t c = *p;
            const quint8 k = c < 128 ? m_cls[c] : m_beyondAscii;
            if (k == Separator)
                break;
            flags |= k;
        }
        needsCleaning = flags != 0;
        return p;
    }

private:
#if defined(__SSE2__)
    static __m128i inRange(__m128i v, short lo, short hi)
    {
        const __m128i shifted = _mm_sub_epi16(v, _mm_set1_epi16(lo));
        return _mm_cmpeq_epi16(_mm_subs_epu16(shifted, _mm_set1_epi16(short(hi - lo))),
                               _mm_setzero_si128());
    }
    static __m128i separators(__m128i v)
    {
        return _mm_or_si128(_mm_cmpeq_epi16(v, _mm_set1_epi16(32)),
                            _mm_cmpeq_epi16(v, _mm_set1_epi16(13)));
    }
    __m128i needsCleaning128(__m128i v) const
    {
        __m128i m = _mm_or_si128(inRange(v, 33, 47), inRange(v, 123, 126));
        if (m_ignoreCase) {
            // 58..96 holds punctuation and the capitals; 128 and above may have a lower case.
            m = _mm_or_si128(m, inRange(v, 58, 96));
            m = _mm_or_si128(m, _mm_andnot_si128(inRange(v, 0, 127), _mm_set1_epi16(-1)));
        } else {
            m = _mm_or_si128(m, _mm_or_si128(inRange(v, 58, 64), inRange(v, 91, 96)));
        }
        return m;
    }
#endif
    const quint8 *m_cls;
    quint8 m_beyondAscii;
    bool m_ignoreCase;
};

// Counts every word of a text that begins and ends at word boundaries; kSlack readable units
// follow end.
void countText(HashTally &tally, const char16_t *p, const char16_t *end, bool ignoreCase,
               WordBuffer &buffer)
{
    const WordScanner scanner(ignoreCase);
    Counter counter(tally, buffer);
    while (p < end) {
        if (*p == 32 || *p == 13) {
            ++p;
            continue;
        }
        const char16_t *start = p;
        bool dirty = false;
        p = scanner.wordEnd(p, end, dirty);
        const size_t n = size_t(p - start);
        if (!dirty) {
            counter.arrive(start, n);
            continue;
        }
        char16_t *out = counter.reserve(n);
        const size_t k = cleanWord(out, start, n, ignoreCase);
        if (k == 0)
            continue; // only punctuation
        counter.commit(k);
        counter.arrive(out, k);
    }
}

// Appends the slack countText() reads past the end; returns the end of the text proper.
const char16_t *withSlack(std::u16string &text)
{
    const size_t size = text.size();
    text.append(kSlack, u'\0');
    return text.data() + size;
}

constexpr qsizetype kSliceUnits = qsizetype(1) << 20; // 2 MB of text per background slice
constexpr size_t kSmallText = size_t(1) << 16;

} // namespace

struct WordTally::Private
{
    explicit Private(bool ic) : ignoreCase(ic) { }

    struct Lane
    {
        HashTally tally;
        WordBuffer buffer;
    };

    bool ignoreCase;
    std::u16string pending;  // text not yet counted; holds at most one unfinished word
    size_t pendingWithoutSeparator = 0; // how much of pending is known to hold no separator
    Lane own;                // counted on the caller's thread
    std::vector<std::unique_ptr<Lane>> lanes; // counted on the pool
    std::vector<Lane *> freeLanes;
    std::vector<std::u16string> spare; // slice buffers to use again
    std::mutex mutex;
    std::condition_variable idle;
    std::condition_variable laneFreed;
    int inFlight = 0;
    bool merged = true;

    int maxInFlight() const { return std::max(1, QThreadPool::globalInstance()->maxThreadCount()); }

    // Counts a slice that ends at a word boundary on the pool. One lane per pool thread: more
    // tallies than cores would only compete for the cache.
    void countSlice(std::u16string &&text)
    {
        merged = false;
        Lane *lane = nullptr;
        {
            std::unique_lock lock(mutex);
            laneFreed.wait(lock, [this] { return inFlight < maxInFlight(); });
            if (freeLanes.empty()) {
                lanes.push_back(std::make_unique<Lane>());
                freeLanes.push_back(lanes.back().get());
            }
            lane = freeLanes.back();
            freeLanes.pop_back();
            ++inFlight;
        }
        auto job = [this, lane, slice = std::move(text)]() mutable {
            const char16_t *end = withSlack(slice);
            countText(lane->tally, slice.data(), end, ignoreCase, lane->buffer);
            slice.clear();
            std::lock_guard lock(mutex);
            if (spare.size() < 4)
                spare.push_back(std::move(slice));
            freeLanes.push_back(lane);
            --inFlight;
            laneFreed.notify_all();
            if (inFlight == 0)
                idle.notify_all();
        };
        QThreadPool::globalInstance()->start(std::move(job));
    }

    // Slice buffers are used again: fresh memory of this size costs a page fault per page.
    std::u16string takeBuffer()
    {
        std::u16string buffer;
        {
            std::lock_guard lock(mutex);
            if (!spare.empty()) {
                buffer = std::move(spare.back());
                spare.pop_back();
            }
        }
        buffer.reserve(size_t(2 * kSliceUnits) + kSlack);
        return buffer;
    }

    void waitIdle()
    {
        std::unique_lock lock(mutex);
        idle.wait(lock, [this] { return inFlight == 0; });
    }

    void mergeLanes()
    {
        waitIdle();
        if (merged)
            return;
        // Merge into the largest tally: every word it already holds is one lookup saved.
        for (auto &lane : lanes) {
            if (lane->tally.distinct() > own.tally.distinct())
                std::swap(lane->tally, own.tally);
        }
        for (auto &lane : lanes) {
            own.tally.mergeFrom(lane->tally);
            lane->tally.reset();
        }
        merged = true;
    }
};

WordTally::WordTally(bool ignoreCase) : d(std::make_unique<Private>(ignoreCase)) { }

WordTally::~WordTally()
{
    d->waitIdle();
}

bool WordTally::ignoresCase() const
{
    return d->ignoreCase;
}

void WordTally::feed(QStringView chunk)
{
    if (chunk.isEmpty())
        return;
    d->merged = false;
    // Large texts move into a slice-sized buffer once; small files never need one.
    const size_t needed = d->pending.size() + size_t(chunk.size());
    if (needed > d->pending.capacity() && needed > kSmallText
        && d->pending.capacity() < size_t(kSliceUnits)) {
        std::u16string buffer = d->takeBuffer();
        buffer.assign(d->pending);
        d->pending.swap(buffer);
    }
    d->pending.append(reinterpret_cast<const char16_t *>(chunk.utf16()), size_t(chunk.size()));
    if (qsizetype(d->pending.size()) < kSliceUnits)
        return;
    // Cut after the last separator so that no word straddles two slices.
    size_t cut = d->pending.size();
    while (cut > d->pendingWithoutSeparator && d->pending[cut - 1] != 32 && d->pending[cut - 1] != 13)
        --cut;
    if (cut == d->pendingWithoutSeparator) {
        d->pendingWithoutSeparator = d->pending.size(); // one enormous word so far: keep collecting
        return;
    }
    std::u16string slice = d->takeBuffer();
    slice.assign(d->pending, cut);
    d->pending.resize(cut);
    slice.swap(d->pending); // the rest stays pending
    d->pendingWithoutSeparator = d->pending.size();
    d->countSlice(std::move(slice));
}

void WordTally::finish()
{
    if (!d->pending.empty()) {
        const char16_t *end = withSlack(d->pending);
        countText(d->own.tally, d->pending.data(), end, d->ignoreCase, d->own.buffer);
        d->pending.clear();
        d->pendingWithoutSeparator = 0;
    }
    d->mergeLanes();
}

std::vector<WordCount> WordTally::counts() const
{
    std::vector<WordCount> rows;
    rows.reserve(d->own.tally.distinct());
    d->own.tally.forEach([&rows](std::u16string_view w, qint64 n) {
        rows.push_back({QString(reinterpret_cast<const QChar *>(w.data()), qsizetype(w.size())), n});
    });
    return rows;
}

namespace {

// A row while it is being ordered: the first four code units, packed so that comparing them as
// a number orders them as text, settle most ties of the count without reading the word.
struct SortItem
{
    qint64 count;
    quint64 prefix;
    const char16_t *text;
    size_t length;

    friend bool operator<(const SortItem &a, const SortItem &b)
    {
        if (a.count != b.count)
            return a.count < b.count;
        if (a.prefix != b.prefix)
            return a.prefix < b.prefix;
        return std::u16string_view(a.text, a.length) < std::u16string_view(b.text, b.length);
    }
};

SortItem sortItem(std::u16string_view w, qint64 count)
{
    quint64 prefix = 0;
    for (size_t i = 0; i < 4; ++i)
        prefix = prefix << 16 | (i < w.size() ? w[i] : 0);
    return {count, prefix, w.data(), w.size()};
}

// Runs first(begin, middle) on a second thread and second(middle, end) here, for large inputs.
template<typename F>
void inTwoHalves(size_t size, F &&work)
{
    if (size < 65536) {
        work(size_t(0), size);
        return;
    }
    std::thread other([&] { work(size_t(0), size / 2); });
    work(size / 2, size);
    other.join();
}

} // namespace

std::vector<WordCount> WordTally::ordered() const
{
    std::vector<SortItem> items;
    items.reserve(d->own.tally.distinct());
    d->own.tally.forEach(
            [&items](std::u16string_view w, qint64 n) { items.push_back(sortItem(w, n)); });
    inTwoHalves(items.size(), [&items](size_t from, size_t to) {
        std::sort(items.begin() + qsizetype(from), items.begin() + qsizetype(to));
    });
    std::inplace_merge(items.begin(), items.begin() + qsizetype(items.size() / 2), items.end());
    std::vector<WordCount> rows(items.size());
    inTwoHalves(items.size(), [&](size_t from, size_t to) {
        constexpr size_t kAhead = 16; // the words lie all over the tally: fetch them early
        for (size_t i = from; i < to; ++i) {
            if (i + kAhead < to)
                __builtin_prefetch(items[i + kAhead].text);
            const SortItem &item = items[i];
            rows[i] = {QString(reinterpret_cast<const QChar *>(item.text), qsizetype(item.length)),
                       item.count};
        }
    });
    return rows;
}

qint64 WordTally::total() const
{
    return d->own.tally.total();
}

qsizetype WordTally::distinctWords() const
{
    return qsizetype(d->own.tally.distinct());
}

void WordTally::clear()
{
    d->waitIdle();
    for (auto &lane : d->lanes)
        lane->tally.reset();
    d->own.tally.reset();
    d->pending.clear();
    d->pendingWithoutSeparator = 0;
    d->merged = true;
}

void orderRows(std::vector<WordCount> &rows)
{
    std::sort(rows.begin(), rows.end(), [](const WordCount &a, const WordCount &b) {
        if (a.count != b.count)
            return a.count < b.count;
        // QString's operator< is ordinal on UTF-16 code units.
        return a.word < b.word;
    });
}

char32_t simpleLower(char32_t c)
{
    if (c < 128)
        return kAscii.lower[c];
    if (c == 0x130) // QChar leaves it alone; its simple lower-case form is "i"
        return U'i';
    return QChar::toLower(c);
}

QString fileNameFromPath(const QString &path)
{
    const QChar sep = QDir::separator();
    return path.mid(path.lastIndexOf(sep) + 1);
}

} // namespace corvalen
