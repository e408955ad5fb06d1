#include "engine/wordtally.h"

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
#include <mutex>
#include <string_view>

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

inline quint32 hashWord(const char16_t *p, size_t n)
{
    quint64 h = 0x9E3779B97F4A7C15ULL ^ (quint64(n) * 0x100000001b3ULL);
    while (n >= 4) {
        quint64 v;
        std::memcpy(&v, p, 8);
        h = (h ^ v) * 0xbf58476d1ce4e5b9ULL;
        h ^= h >> 29;
        p += 4;
        n -= 4;
    }
    if (n) {
        quint64 v = 0;
        std::memcpy(&v, p, n * 2);
        h = (h ^ v) * 0x94d049bb133111ebULL;
    }
    return quint32(mix(h) >> 32);
}

// Open-addressing hash tally. Buckets hold only a hash and an index into a dense entry array;
// frequent words come first in a text, so their entries sit together at the start of that
// array and stay in the cache. Words of up to 8 code units are stored in the entry itself.
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

    void add(const char16_t *w, size_t n, qint64 count = 1) { add(w, n, hashWord(w, n), count); }

    void add(const char16_t *w, size_t n, quint32 h, qint64 count)
    {
        m_total += count;
        quint64 key[2] = {0, 0};
        const bool inlined = n <= kInline;
        if (inlined)
            std::memcpy(key, w, n * sizeof(char16_t));
        size_t i = h & m_mask;
        for (;;) {
            Bucket &b = m_buckets[i];
            if (b.index == 0) {
                b.hash = h;
                b.index = quint32(m_entries.size() + 1);
                Entry &e = m_entries.emplace_back();
                e.count = count;
                e.length = quint32(n);
                if (inlined) {
                    e.key[0] = key[0];
                    e.key[1] = key[1];
                } else {
                    e.key[0] = m_arena.size();
                    m_arena.insert(m_arena.end(), w, w + n);
                }
                if (m_entries.size() * 2 > m_buckets.size())
                    grow();
                return;
            }
            if (b.hash == h) {
                Entry &e = m_entries[b.index - 1];
                if (e.length == n
                    && (inlined ? (e.key[0] == key[0] && e.key[1] == key[1])
                                : std::memcmp(m_arena.data() + e.key[0], w,
                                              n * sizeof(char16_t)) == 0)) {
                    e.count += count;
                    return;
                }
            }
            i = (i + 1) & m_mask;
        }
    }

    // Batched lookups touch their buckets and entries ahead of time: the tally is far larger
    // than the cache, and waiting for memory one word at a time costs more than the counting.
    void prefetchBucket(quint32 h) const { __builtin_prefetch(&m_buckets[h & m_mask]); }
    void prefetchEntry(quint32 h) const
    {
        const Bucket &b = m_buckets[h & m_mask];
        if (b.index && b.hash == h)
            __builtin_prefetch(&m_entries[b.index - 1]);
    }

    void mergeFrom(const HashTally &other)
    {
        other.forEach([this](std::u16string_view w, qint64 n) { add(w.data(), w.size(), n); });
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
    static constexpr size_t kInline = 8;

    struct Bucket
    {
        quint32 hash = 0;
        quint32 index = 0; // 1-based into m_entries; 0 marks a free bucket
    };

    struct Entry
    {
        qint64 count = 0;
        quint32 length = 0;
        quint64 key[2] = {0, 0}; // the word itself when short, else its offset in the arena
    };

    std::u16string_view word(const Entry &e) const
    {
        if (e.length <= kInline)
            return {reinterpret_cast<const char16_t *>(e.key), e.length};
        return {m_arena.data() + e.key[0], e.length};
    }

    void grow()
    {
        m_buckets.assign(m_buckets.size() * 2, Bucket{});
        m_mask = m_buckets.size() - 1;
        for (size_t k = 0; k < m_entries.size(); ++k) {
            const std::u16string_view w = word(m_entries[k]);
            const quint32 h = hashWord(w.data(), w.size());
            size_t i = h & m_mask;
            while (m_buckets[i].index)
                i = (i + 1) & m_mask;
            m_buckets[i] = {h, quint32(k + 1)};
        }
    }

    std::vector<Bucket> m_buckets;
    size_t m_mask = 0;
    std::vector<Entry> m_entries;
    std::vector<char16_t> m_arena;
    qint64 m_total = 0;
};

// The simple lower-case forms of the alphabets most texts use (Latin, Greek, Cyrillic, Armenian
// ... up to U+24FF), looked up instead of asked of Qt for every character.
const std::array<char16_t, 0x2500> &commonLower()
{
    static const std::array<char16_t, 0x2500> table = [] {
        std::array<char16_t, 0x2500> t{};
        for (char32_t c = 0; c < t.size(); ++c) {
            const char32_t l = QChar::isSurrogate(c) ? c : simpleLower(c);
            t[c] = char16_t(l <= 0xFFFF ? l : c);
        }
        return t;
    }();
    return table;
}

// Lower-cases a cleaned word in place, pairing surrogates first. The simple mapping keeps a
// character in its plane, so the word keeps its length.
void lowerBeyondAscii(char16_t *w, size_t n)
{
    const std::array<char16_t, 0x2500> &common = commonLower();
    for (size_t i = 0; i < n; ++i) {
        const char16_t u = w[i];
        if (u < common.size()) {
            w[i] = common[u];
        } else if (QChar::isHighSurrogate(u) && i + 1 < n && QChar::isLowSurrogate(w[i + 1])) {
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

// Words found but not yet added: plain words point into the text, cleaned ones into a buffer.
class WordBatch
{
public:
    explicit WordBatch(HashTally &tally, std::u16string &buffer) : m_tally(tally), m_buffer(buffer)
    {
        m_buffer.clear();
    }
    ~WordBatch() { flush(); }

    void addPlain(const char16_t *w, size_t n)
    {
        m_words[m_size++] = {w, 0, quint32(n), hashWord(w, n)};
        if (m_size == kSize)
            flush();
    }

    // The word is the tail of the buffer from offset on.
    void addCleaned(size_t offset)
    {
        const size_t n = m_buffer.size() - offset;
        m_words[m_size++] = {nullptr, offset, quint32(n), hashWord(m_buffer.data() + offset, n)};
        if (m_size == kSize)
            flush();
    }

    std::u16string &buffer() { return m_buffer; }

    void flush()
    {
        for (int i = 0; i < m_size; ++i)
            m_tally.prefetchBucket(m_words[i].hash);
        for (int i = 0; i < m_size; ++i)
            m_tally.prefetchEntry(m_words[i].hash);
        for (int i = 0; i < m_size; ++i) {
            const Word &w = m_words[i];
            m_tally.add(w.text ? w.text : m_buffer.data() + w.offset, w.length, w.hash, 1);
        }
        m_size = 0;
        m_buffer.clear();
    }

private:
    static constexpr int kSize = 32;
    struct Word
    {
        const char16_t *text;
        size_t offset;
        quint32 length;
        quint32 hash;
    };
    HashTally &m_tally;
    std::u16string &m_buffer;
    Word m_words[kSize];
    int m_size = 0;
};

// Cleans text[start, end) of punctuation (and case) onto the end of out; returns whether a
// character beyond ASCII was kept.
bool cleanInto(std::u16string &out, const char16_t *start, const char16_t *end, bool ignoreCase)
{
    bool beyond = false;
    for (const char16_t *q = start; q < end; ++q) {
        const char16_t c = *q;
        if (c < 128) {
            if (!kAscii.punctuation[c])
                out.push_back(ignoreCase ? kAscii.lower[c] : c);
        } else {
            out.push_back(c);
            beyond = true;
        }
    }
    return beyond;
}

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

// Counts every word of a text that begins and ends at word boundaries.
void countText(HashTally &tally, const char16_t *p, const char16_t *end, bool ignoreCase,
               std::u16string &buffer)
{
    const WordScanner scanner(ignoreCase);
    WordBatch batch(tally, buffer);
    while (p < end) {
        while (p < end && (*p == 32 || *p == 13))
            ++p;
        if (p == end)
            break;
        const char16_t *start = p;
        bool dirty = false;
        p = scanner.wordEnd(p, end, dirty);
        if (!dirty) {
            batch.addPlain(start, size_t(p - start));
            continue;
        }
        std::u16string &out = batch.buffer();
        const size_t offset = out.size();
        const bool beyond = cleanInto(out, start, p, ignoreCase);
        if (out.size() == offset)
            continue; // only punctuation
        if (ignoreCase && beyond)
            lowerBeyondAscii(out.data() + offset, out.size() - offset);
        batch.addCleaned(offset);
    }
}

constexpr qsizetype kSliceUnits = qsizetype(1) << 20; // 2 MB of text per background slice

} // namespace

struct WordTally::Private
{
    explicit Private(bool ic) : ignoreCase(ic) { }

    struct Lane
    {
        HashTally tally;
        std::u16string buffer;
    };

    bool ignoreCase;
    std::u16string pending;  // text not yet counted; holds at most one unfinished word
    size_t pendingWithoutSeparator = 0; // how much of pending is known to hold no separator
    Lane own;                // counted on the caller's thread
    std::vector<std::unique_ptr<Lane>> lanes; // counted on the pool
    std::vector<Lane *> freeLanes;
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
        auto job = [this, lane, slice = std::move(text)]() {
            countText(lane->tally, slice.data(), slice.data() + slice.size(), ignoreCase,
                      lane->buffer);
            std::lock_guard lock(mutex);
            freeLanes.push_back(lane);
            --inFlight;
            laneFreed.notify_all();
            if (inFlight == 0)
                idle.notify_all();
        };
        QThreadPool::globalInstance()->start(std::move(job));
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
    std::u16string rest(d->pending, cut);
    d->pendingWithoutSeparator = rest.size();
    d->pending.resize(cut);
    std::u16string slice;
    slice.swap(d->pending);
    d->pending = std::move(rest);
    d->countSlice(std::move(slice));
}

void WordTally::finish()
{
    if (!d->pending.empty()) {
        countText(d->own.tally, d->pending.data(), d->pending.data() + d->pending.size(),
                  d->ignoreCase, d->own.buffer);
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

std::vector<WordCount> WordTally::ordered() const
{
    // Sort views into the arena first: cheaper than sorting QStrings.
    std::vector<std::pair<std::u16string_view, qint64>> views;
    views.reserve(d->own.tally.distinct());
    d->own.tally.forEach([&views](std::u16string_view w, qint64 n) { views.emplace_back(w, n); });
    std::sort(views.begin(), views.end(), [](const auto &a, const auto &b) {
        return a.second != b.second ? a.second < b.second : a.first < b.first;
    });
    std::vector<WordCount> rows;
    rows.reserve(views.size());
    for (const auto &[w, n] : views)
        rows.push_back({QString(reinterpret_cast<const QChar *>(w.data()), qsizetype(w.size())), n});
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
