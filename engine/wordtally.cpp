#include "engine/wordtally.h"

#include <QChar>
#include <QDir>
#include <QThreadPool>

#include <algorithm>
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

// Open-addressing hash tally; words live in one arena so a million distinct words cost
// a few dozen bytes each.
class HashTally
{
public:
    HashTally() { reset(1024); }

    void reset(size_t capacity)
    {
        m_slots.assign(capacity, Slot{});
        m_mask = capacity - 1;
        m_used = 0;
        m_arena.clear();
        m_total = 0;
    }

    void add(const char16_t *w, size_t n, qint64 count = 1) { add(w, n, hashWord(w, n), count); }

    void add(const char16_t *w, size_t n, quint32 h, qint64 count)
    {
        m_total += count;
        size_t i = h & m_mask;
        for (;;) {
            Slot &s = m_slots[i];
            if (s.count == 0) {
                s.hash = h;
                s.length = quint32(n);
                s.offset = m_arena.size();
                s.count = count;
                m_arena.insert(m_arena.end(), w, w + n);
                if (++m_used * 2 > m_slots.size())
                    grow();
                return;
            }
            if (s.hash == h && s.length == n
                && std::memcmp(m_arena.data() + s.offset, w, n * sizeof(char16_t)) == 0) {
                s.count += count;
                return;
            }
            i = (i + 1) & m_mask;
        }
    }

    void mergeFrom(const HashTally &other)
    {
        for (const Slot &s : other.m_slots) {
            if (s.count)
                add(other.m_arena.data() + s.offset, s.length, s.hash, s.count);
        }
    }

    size_t distinct() const { return m_used; }
    qint64 total() const { return m_total; }

    template<typename F>
    void forEach(F &&f) const
    {
        for (const Slot &s : m_slots) {
            if (s.count)
                f(std::u16string_view(m_arena.data() + s.offset, s.length), s.count);
        }
    }

private:
    struct Slot
    {
        quint32 hash = 0;
        quint32 length = 0;
        quint64 offset = 0;
        qint64 count = 0; // 0 marks a free slot
    };

    void grow()
    {
        std::vector<Slot> old;
        old.swap(m_slots);
        m_slots.assign(old.size() * 2, Slot{});
        m_mask = m_slots.size() - 1;
        for (const Slot &s : old) {
            if (!s.count)
                continue;
            size_t i = s.hash & m_mask;
            while (m_slots[i].count)
                i = (i + 1) & m_mask;
            m_slots[i] = s;
        }
    }

    std::vector<Slot> m_slots;
    size_t m_mask = 0;
    size_t m_used = 0;
    std::vector<char16_t> m_arena;
    qint64 m_total = 0;
};

// Lower-cases a cleaned word that holds characters beyond ASCII, pairing surrogates first.
void lowerBeyondAscii(std::u16string &w)
{
    std::u16string out;
    out.reserve(w.size());
    for (size_t i = 0; i < w.size(); ++i) {
        char32_t c = w[i];
        if (QChar::isHighSurrogate(c) && i + 1 < w.size() && QChar::isLowSurrogate(w[i + 1])) {
            c = QChar::surrogateToUcs4(char16_t(c), w[i + 1]);
            ++i;
        }
        c = simpleLower(c);
        if (c > 0xFFFF) {
            out.push_back(QChar::highSurrogate(c));
            out.push_back(QChar::lowSurrogate(c));
        } else {
            out.push_back(char16_t(c));
        }
    }
    w.swap(out);
}

// Counts every word of a text that begins and ends at word boundaries.
void countText(HashTally &tally, const char16_t *p, const char16_t *end, bool ignoreCase,
               std::u16string &buffer)
{
    const quint8 *cls = ignoreCase ? kAscii.ignoreCase : kAscii.keepCase;
    const quint8 beyondAscii = ignoreCase ? Transform : Plain;
    while (p < end) {
        // Skip separators, then find the end of the raw word and whether it needs cleaning.
        while (p < end && (*p == 32 || *p == 13))
            ++p;
        const char16_t *start = p;
        quint8 flags = 0;
        for (; p < end; ++p) {
            const char16_t c = *p;
            const quint8 k = c < 128 ? cls[c] : beyondAscii;
            if (k == Separator)
                break;
            flags |= k;
        }
        if (p == start)
            break;
        if (flags == Plain) {
            tally.add(start, size_t(p - start));
            continue;
        }
        buffer.clear();
        bool beyond = false;
        for (const char16_t *q = start; q < p; ++q) {
            const char16_t c = *q;
            if (c < 128) {
                if (!kAscii.punctuation[c])
                    buffer.push_back(ignoreCase ? kAscii.lower[c] : c);
            } else {
                buffer.push_back(c);
                beyond = true;
            }
        }
        if (buffer.empty())
            continue;
        if (ignoreCase && beyond)
            lowerBeyondAscii(buffer);
        tally.add(buffer.data(), buffer.size());
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
    int inFlight = 0;
    bool merged = true;

    int maxInFlight() const { return std::max(1, QThreadPool::globalInstance()->maxThreadCount()); }

    // Counts text[0, n) which ends at a word boundary; on the pool when it has room.
    void countSlice(std::u16string &&text)
    {
        merged = false;
        Lane *lane = nullptr;
        {
            std::lock_guard lock(mutex);
            if (inFlight < maxInFlight()) {
                if (freeLanes.empty()) {
                    lanes.push_back(std::make_unique<Lane>());
                    freeLanes.push_back(lanes.back().get());
                }
                lane = freeLanes.back();
                freeLanes.pop_back();
                ++inFlight;
            }
        }
        if (!lane) {
            countText(own.tally, text.data(), text.data() + text.size(), ignoreCase, own.buffer);
            return;
        }
        auto job = [this, lane, slice = std::move(text)]() {
            countText(lane->tally, slice.data(), slice.data() + slice.size(), ignoreCase,
                      lane->buffer);
            std::lock_guard lock(mutex);
            freeLanes.push_back(lane);
            if (--inFlight == 0)
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
            lane->tally.reset(1024);
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
        lane->tally.reset(1024);
    d->own.tally.reset(1024);
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
