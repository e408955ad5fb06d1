#include "corpus/corpusscan.h"

#include "base/errorreport.h"
#include "base/filenames.h"
#include "documents/documentengine.h"
#include "engine/hashtally.h"

#include <QCoreApplication>
#include <QDir>
#include <QThread>

#include <cstdlib>
#include <cstring>

#include <condition_variable>
#include <deque>
#include <limits>
#include <map>
#include <stdexcept>
#include <thread>

namespace corvalen {

using counting::HashTally;
using counting::kSlack;
using counting::makeWordRef;

namespace {

// Text of a slice, before its margins: big enough that handing it over costs nothing, small
// enough that both workers have one while the next is read.
constexpr qsizetype kSliceUnits = qsizetype(1) << 20;
// Slices read but not yet handed back in order, at most: the reader waits beyond it.
constexpr int kSlicesInFlight = 8;

// Collects the tokens of a slice, marked, and numbered when the scan asks for it: each word
// through the lane's own table first, the shared vocabulary only for a word the lane has not met.
// Numbers are looked up a few words after the word arrives, its place in the table fetched
// meanwhile: most distinct words are rare, and their entries far from the cache.
class TokenCollector : public WordSink
{
public:
    TokenCollector(CorpusVocabulary *vocabulary, HashTally &known, TokenMarker *marker, bool hash,
                   std::vector<CorpusToken> &tokens, QStringView text, qsizetype offset, bool gapFirst)
        : m_vocabulary(vocabulary), m_known(known), m_marker(marker), m_hash(hash), m_tokens(tokens),
          m_text(reinterpret_cast<const char16_t *>(text.utf16())), m_textEnd(m_text + text.size()),
          m_offset(offset), m_gap(gapFirst)
    {
    }

    void word(QStringView w, qsizetype rawStart, qsizetype rawEnd) override
    {
        const auto *at = reinterpret_cast<const char16_t *>(w.utf16());
        const size_t n = size_t(w.size());
        CorpusToken token{CorpusToken::kNoNumber, quint32(m_offset + rawStart), quint32(m_offset + rawEnd), 0, m_gap};
        m_gap = false;
        if (m_hash)
            token.hash = wordHash(w);
        if (!m_vocabulary) {
            if (m_marker)
                token.mark = m_marker->mark(w, CorpusToken::kNoNumber);
            m_tokens.push_back(token);
            return;
        }
        // A word of the text has slack after it there; one the finder cleaned lives in its buffer
        // only until the next word, and is copied (a long one is numbered at once).
        const bool stays = at >= m_text && at + n <= m_textEnd;
        if (!stays && n > kCopied) {
            drain();
            m_tokens.push_back(token);
            resolve(m_tokens.back(), at, n, makeWordRef(at, n));
            return;
        }
        if (m_in - m_out == kDepth)
            resolveOldest();
        Slot &slot = m_ring[m_in % kDepth];
        if (!stays) {
            std::copy_n(at, n, slot.copy);
            std::fill_n(slot.copy + n, kSlack, u'\0');
            at = slot.copy;
        }
        slot.text = at;
        slot.ref = makeWordRef(at, n);
        slot.token = token;
        m_known.prefetchBucket(slot.ref.hash);
        if (m_in - m_out >= kDepth / 2)
            m_known.prefetchEntry(m_ring[(m_in - kDepth / 2) % kDepth].ref.hash);
        ++m_in;
    }
    void gap() override { m_gap = true; }

    void drain()
    {
        while (m_out != m_in)
            resolveOldest();
    }

private:
    static constexpr quint64 kDepth = 32;
    static constexpr size_t kCopied = 48;
    static constexpr size_t kKeptLength = 256;
    static constexpr size_t kKeptWords = size_t(1) << 20;
    struct Slot
    {
        counting::WordRef ref;
        const char16_t *text;
        CorpusToken token;
        char16_t copy[kCopied + kSlack];
    };

    void resolveOldest()
    {
        Slot &slot = m_ring[m_out++ % kDepth];
        m_tokens.push_back(slot.token);
        resolve(m_tokens.back(), slot.text, slot.ref.length, slot.ref);
    }

    // The lane's table keeps a word's number + 1 in the low half of its value and its mark in the
    // high half: the marker looks at each distinct word once while the word stays in the table.
    // The table is a cache of what the lane meets: it is emptied when it has grown large (a
    // corpus of millions of distinct words), and long words, which seldom come again, are not
    // kept in it.
    void resolve(CorpusToken &token, const char16_t *text, size_t n, const counting::WordRef &ref)
    {
        quint64 value = quint64(m_known.countOf(ref));
        if (value == 0) {
            const quint32 id = m_vocabulary->idOf(text, n);
            const quint32 mark = m_marker ? m_marker->mark(QStringView(text, qsizetype(n)), id) : 0;
            value = (quint64(mark) << 32) | (quint64(id) + 1);
            if (n <= kKeptLength) {
                if (m_known.distinct() >= kKeptWords)
                    m_known.clearKeepingSize();
                m_known.add(ref, qint64(value));
            }
        }
        token.id = quint32(value & 0xFFFFFFFF) - 1;
        token.mark = quint32(value >> 32);
    }

    CorpusVocabulary *m_vocabulary;
    HashTally &m_known;
    TokenMarker *m_marker;
    bool m_hash;
    std::vector<CorpusToken> &m_tokens;
    const char16_t *m_text;
    const char16_t *m_textEnd;
    qsizetype m_offset;
    bool m_gap;
    Slot m_ring[kDepth];
    quint64 m_in = 0;
    quint64 m_out = 0;
};

} // namespace

quint64 wordHash(QStringView word)
{
    // Four units at a time, each block mixed in: words are short, and two words of a text must
    // practically never share a hash.
    const auto *p = reinterpret_cast<const char16_t *>(word.utf16());
    const size_t n = size_t(word.size());
    quint64 h = 0x9E3779B97F4A7C15ULL ^ (quint64(n) * 0xC2B2AE3D27D4EB4FULL);
    size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        quint64 block;
        std::memcpy(&block, p + i, sizeof block);
        h = counting::mix(h ^ block) * 0xFF51AFD7ED558CCDULL;
    }
    quint64 tail = 0;
    for (size_t k = 0; i < n; ++i, ++k)
        tail |= quint64(p[i]) << (16 * k);
    return counting::mix(h ^ tail ^ 0x5851F42D4C957F2DULL);
}

SliceText::~SliceText()
{
    std::free(m_data);
}

void SliceText::reserve(size_t units)
{
    if (units <= m_capacity)
        return;
    const size_t capacity = std::max(units, m_capacity * 2);
    if (capacity > std::numeric_limits<size_t>::max() / sizeof(char16_t))
        throw std::bad_alloc();
    // realloc: a large block grows where it is, or is moved by the system without a copy.
    void *memory = std::realloc(m_data, capacity * sizeof(char16_t));
    if (!memory)
        throw std::bad_alloc();
    m_data = static_cast<char16_t *>(memory);
    m_capacity = capacity;
}

void SliceText::append(const char16_t *text, size_t units)
{
    if (units == 0)
        return;
    reserve(m_size + units);
    std::memcpy(m_data + m_size, text, units * sizeof(char16_t));
    m_size += units;
}

void SliceText::append(size_t units, char16_t unit)
{
    reserve(m_size + units);
    std::fill_n(m_data + m_size, units, unit);
    m_size += units;
}

void SliceText::removeFront(size_t units)
{
    units = std::min(units, m_size);
    if (units == 0)
        return;
    std::memmove(m_data, m_data + units, (m_size - units) * sizeof(char16_t));
    m_size -= units;
}

namespace {

// Words are kept in blocks of this many units; a word longer than a quarter of it has a block of
// its own, so that no word is ever moved, however long.
constexpr size_t kVocabularyBlock = size_t(1) << 20;

} // namespace

CorpusVocabulary::CorpusVocabulary() : m_index(1024) { }

CorpusVocabulary::~CorpusVocabulary() = default;

QStringView CorpusVocabulary::at(quint32 id) const
{
    const quint64 place = m_places[id];
    return QStringView(m_blocks[size_t(place >> 32)].get() + (place & 0xFFFFFFFF), qsizetype(m_lengths[id]));
}

void CorpusVocabulary::grow()
{
    std::vector<Slot> old(m_index.size() * 2);
    old.swap(m_index);
    const size_t mask = m_index.size() - 1;
    for (const Slot &slot : old) {
        if (slot.number == 0)
            continue;
        size_t i = slot.hash & mask;
        while (m_index[i].number != 0)
            i = (i + 1) & mask;
        m_index[i] = slot;
    }
}

quint32 CorpusVocabulary::idOf(const char16_t *w, size_t n)
{
    const quint32 hash = makeWordRef(w, n).hash;
    const QStringView word(w, qsizetype(n));
    std::lock_guard lock(m_mutex);
    const size_t mask = m_index.size() - 1;
    size_t i = hash & mask;
    for (; m_index[i].number != 0; i = (i + 1) & mask) {
        if (m_index[i].hash == hash && at(m_index[i].number - 1) == word)
            return m_index[i].number - 1;
    }
    const size_t id = m_places.size();
    if (id >= std::numeric_limits<quint32>::max() - 1)
        throw std::length_error("Too many distinct words.");
    if (n > kVocabularyBlock / 4 || m_blocks.empty() || m_blockUsed + n > m_blockSize) {
        // A long word in a block of its own; others in the next block. The last block may be
        // one of a long word: a new block follows it.
        m_blockSize = std::max(n, kVocabularyBlock);
        m_blocks.push_back(std::make_unique<char16_t[]>(m_blockSize));
        m_blockUsed = 0;
    }
    std::copy_n(w, n, m_blocks.back().get() + m_blockUsed);
    m_places.push_back((quint64(m_blocks.size() - 1) << 32) | m_blockUsed);
    m_lengths.push_back(quint32(n));
    m_blockUsed += n;
    m_index[i] = {hash, quint32(id + 1)};
    if ((id + 1) * 4 > m_index.size() * 3) // three quarters full at most
        grow();
    return quint32(id);
}

QString CorpusVocabulary::word(quint32 id) const
{
    std::lock_guard lock(m_mutex);
    if (id >= m_places.size())
        return QString();
    return at(id).toString();
}

QStringList CorpusVocabulary::words() const
{
    std::lock_guard lock(m_mutex);
    QStringList all;
    all.reserve(qsizetype(m_places.size()));
    for (quint32 id = 0; id < m_places.size(); ++id)
        all.append(at(id).toString());
    return all;
}

quint32 CorpusVocabulary::size() const
{
    std::lock_guard lock(m_mutex);
    return quint32(m_places.size());
}

WordNumbers::WordNumbers(const WordFinder &finder, CorpusVocabulary &vocabulary)
    : m_vocabulary(vocabulary), m_known(size_t(1) << 12)
{
    WordRules bare = finder.rules();
    bare.stopWordLists.clear();
    bare.minLength = 1;
    bare.stemLanguage.clear();
    bare.phraseLength = 1;
    m_cleaner = WordFinder::create(bare, finder.ignoresCase());
}

WordNumbers::~WordNumbers() = default;

QString WordNumbers::wordOf(const CorpusSlice &slice, const CorpusToken &token) const
{
    QString word;
    m_cleaner->findWords(slice.view().sliced(token.start, token.end - token.start),
                         [&word](const FoundWord &f) { word += f.word; });
    return word;
}

quint32 WordNumbers::of(const CorpusSlice &slice, const CorpusToken &token)
{
    // The words met are remembered by their hashes (the table emptied when it has grown large).
    const quint64 key = token.hash ? token.hash : 1; // 0 marks a free slot
    const size_t mask = m_known.size() - 1;
    size_t i = key & mask;
    for (; m_known[i].first != 0; i = (i + 1) & mask) {
        if (m_known[i].first == key)
            return m_known[i].second;
    }
    QString word = wordOf(slice, token);
    const qsizetype units = word.size();
    word.append(QString(qsizetype(kSlack), QChar()));
    const quint32 id = m_vocabulary.idOf(reinterpret_cast<const char16_t *>(word.utf16()), size_t(units));
    if ((m_used + 1) * 2 > m_known.size()) {
        if (m_known.size() >= (size_t(1) << 21)) {
            std::fill(m_known.begin(), m_known.end(), std::pair<quint64, quint32>());
            m_used = 0;
            i = key & mask;
        } else {
            std::vector<std::pair<quint64, quint32>> old(m_known.size() * 2);
            old.swap(m_known);
            m_used = 0;
            for (const auto &entry : old) {
                if (entry.first == 0)
                    continue;
                size_t k = entry.first & (m_known.size() - 1);
                while (m_known[k].first != 0)
                    k = (k + 1) & (m_known.size() - 1);
                m_known[k] = entry;
                ++m_used;
            }
            i = key & (m_known.size() - 1);
            while (m_known[i].first != 0)
                i = (i + 1) & (m_known.size() - 1);
        }
    }
    m_known[i] = {key, id};
    ++m_used;
    return id;
}

// The reader, the workers and the hand-back in order, sharing one lock.
struct CorpusScan::Pipeline
{
    Pipeline(const CorpusScanOptions &o, CorpusVocabulary &v, const CorpusScan::Work &w,
             const std::atomic<bool> *s, Progress *p)
        : options(o), vocabulary(v), work(w), stop(s), progress(p)
    {
    }

    const CorpusScanOptions &options;
    CorpusVocabulary &vocabulary;
    const CorpusScan::Work &work;
    const std::atomic<bool> *stop;
    Progress *progress;

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<CorpusSlice> toWork;     // read, not yet taken by a worker
    std::map<qint64, CorpusSlice> done; // worked on, waiting for their turn
    int inFlight = 0;                   // read and not yet handed back
    bool readingDone = false;
    std::atomic<bool> abandoned = false;
    std::exception_ptr failure;
    qint32 failedFile = -1; // the file being read or searched when the failure came
    qint64 slices = 0;

    // The first failure of any thread ends the scan; it is passed on by run().
    void fail(qint32 file)
    {
        std::lock_guard lock(mutex);
        if (!failure) {
            failure = std::current_exception();
            failedFile = file;
        }
        abandoned = true;
        changed.notify_all();
    }

    bool stopped() const { return (stop && stop->load(std::memory_order_relaxed)) || abandoned; }

    // 64K units for the first slice cut from a file's text, four times more for each next one, up
    // to kSliceUnits. The reader's alone.
    int cutSoFar = 0;
    qsizetype sliceUnits() const { return std::min(kSliceUnits, qsizetype(1) << std::min(16 + 2 * cutSoFar, 30)); }
    void sliceMade() { ++cutSoFar; }

    // Buffers of slices handed back, used again: fresh memory of this size costs a page fault a
    // page, more than the scan of it.
    std::vector<SliceText> spareTexts;
    std::vector<std::vector<CorpusToken>> spareTokens;

    void takeBuffers(CorpusSlice &slice)
    {
        std::lock_guard lock(mutex);
        if (!spareTexts.empty()) {
            slice.text = std::move(spareTexts.back());
            spareTexts.pop_back();
        }
        if (!spareTokens.empty()) {
            slice.tokens = std::move(spareTokens.back());
            spareTokens.pop_back();
        }
    }

    void giveBack(CorpusSlice &slice)
    {
        slice.text.clear();
        slice.tokens.clear();
        std::lock_guard lock(mutex);
        if (spareTexts.size() < size_t(kSlicesInFlight) && slice.text.capacity() <= size_t(4 * kSliceUnits))
            spareTexts.push_back(std::move(slice.text));
        if (spareTokens.size() < size_t(kSlicesInFlight))
            spareTokens.push_back(std::move(slice.tokens));
    }

    // Hands a slice to the workers, waiting while enough are in flight.
    void put(CorpusSlice &&slice)
    {
        if (here) {
            slice.number = slices++;
            process(*hereLane, slice);
            (*here)(slice);
            giveBack(slice);
            return;
        }
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return inFlight < kSlicesInFlight || abandoned; });
        if (abandoned)
            return;
        slice.number = slices++;
        ++inFlight;
        toWork.push_back(std::move(slice));
        changed.notify_all();
    }

    // The current file's text as it is read, cut into slices at paragraph ends (or spaces).
    struct FileCutter
    {
        Pipeline &pipeline;
        qint32 file;
        SliceText pending;      // the file's text from pendingBase on
        qint64 pendingBase = 0;
        qint64 sliceStart = 0;  // where the next slice's words begin
        qsizetype searchedTo = 0; // no cut point from the slice's start to this in pending
        bool first = true;

        qsizetype size() const { return qsizetype(pending.size()); }

        void feed(QStringView chunk)
        {
            pending.append(reinterpret_cast<const char16_t *>(chunk.utf16()), size_t(chunk.size()));
            const qsizetype margin = pipeline.options.margin;
            // The scan's first slices are small, so that its first findings come at once (a window
            // shows lines as they are found); then they grow to their full size.
            while (size() - (sliceStart - pendingBase) >= pipeline.sliceUnits() + margin) {
                if (!cut())
                    break;
            }
        }

        // Cuts a slice before the last margin of pending; false when no cut point was found.
        // Whether a slice may end before pending[i] (from < i): after a paragraph end, or, when
        // the scan allows it, after a space before printable ASCII (a word boundary under either
        // splitting).
        bool cutsBefore(qsizetype i, bool unicode) const
        {
            if (pending[size_t(i - 1)] == u'\r')
                return true;
            if (!pipeline.options.cutAtSpaces || pending[size_t(i - 1)] != u' ' || i >= size())
                return false;
            const char16_t c = pending[size_t(i)];
            return !unicode || (c > 32 && c < 127);
        }

        bool cut()
        {
            const qsizetype margin = pipeline.options.margin;
            const qsizetype from = qsizetype(sliceStart - pendingBase);
            const qsizetype end = size() - margin;
            const qsizetype target = std::min(end, from + pipeline.sliceUnits());
            const bool unicode = pipeline.options.finder->rules().atWordBoundaries();
            // The last cut point before the slice's size; else, in one long paragraph, the first
            // one after it (the slice is longer), searched once however the text comes.
            qsizetype at = -1;
            for (qsizetype i = target; searchedTo == 0 && i > from && at < 0; --i) {
                if (cutsBefore(i, unicode))
                    at = i;
            }
            for (qsizetype i = std::max(target, searchedTo) + 1; i <= end && at < 0; ++i) {
                if (cutsBefore(i, unicode))
                    at = i;
            }
            if (at < 0) {
                searchedTo = end; // one long paragraph so far: it waits for its end
                return false;
            }
            const qsizetype drop = std::max<qsizetype>(0, at - margin);
            handOver(from, at, std::min(size(), at + margin), false, drop);
            pipeline.sliceMade();
            sliceStart = pendingBase + at;
            searchedTo = 0;
            pendingBase += drop;
            return true;
        }

        // Hands [from, to) over with the margins around it up to end, and drops the first `drop`
        // units of pending. A long slice (a long paragraph) takes pending's memory itself, not a
        // copy: what pending keeps after it is copied out instead.
        void handOver(qsizetype from, qsizetype to, qsizetype end, bool last, qsizetype drop)
        {
            const qsizetype margin = pipeline.options.margin;
            const qsizetype begin = std::max<qsizetype>(0, from - margin);
            CorpusSlice slice;
            slice.file = file;
            slice.fileOffset = pendingBase + begin;
            slice.size = end - begin;
            if (slice.size > 4 * kSliceUnits) {
                SliceText rest;
                rest.assign(pending.data() + drop, pending.size() - size_t(drop));
                pending.truncate(size_t(end));
                pending.removeFront(size_t(begin));
                slice.text = std::move(pending);
                pending = std::move(rest);
            } else {
                pipeline.takeBuffers(slice);
                // Copied in, not zeroed first and then copied: a buffer used again has its room.
                slice.text.assign(pending.data() + begin, size_t(slice.size));
                pending.removeFront(size_t(drop));
            }
            slice.text.append(kSlack, u'\0');
            slice.from = from - begin;
            slice.to = to - begin;
            slice.textEnd = slice.size;
            // The engine ends the last paragraph with a paragraph end of its own: no context.
            if (last && slice.size > 0 && slice.text[size_t(slice.size - 1)] == u'\r')
                slice.textEnd = slice.size - 1;
            slice.firstOfFile = first;
            slice.lastOfFile = last;
            first = false;
            pipeline.put(std::move(slice));
        }

        void finish()
        {
            handOver(qsizetype(sliceStart - pendingBase), size(), size(), true, size());
            pending = SliceText();
        }
    };

    void read()
    {
        qint32 reading = -1;
        try {
            const QStringList &files = options.files;
            qint64 totalBytes = 0;
            QList<qint64> sizes;
            for (const QString &path : files) {
                sizes.append(std::max<qint64>(1, fileStatus(path).size));
                totalBytes += sizes.constLast();
            }
            qint64 doneBytes = 0;
            for (qint32 i = 0; i < files.size() && !stopped(); ++i) {
                reading = i;
                FirstFailure reports;
                DocumentEngine engine(&reports);
                engine.setParagraphs(options.finder->rules().paragraphs);
                FileCutter cutter{*this, i, {}};
                qint64 fed = 0;
                const bool complete = engine.readText(files.at(i), [&](QStringView chunk) {
                    if (stopped())
                        return;
                    cutter.feed(chunk);
                    fed += chunk.size() * 2;
                    if (progress)
                        progress->report(Phase::Reading, doneBytes + std::min(fed, sizes.at(i)), totalBytes);
                });
                doneBytes += sizes.at(i);
                if (stopped())
                    break;
                if (complete) {
                    cutter.finish();
                } else {
                    CorpusSlice slice;
                    slice.file = i;
                    slice.firstOfFile = cutter.first;
                    slice.lastOfFile = true;
                    slice.failed = true;
                    slice.failure = reports.description;
                    put(std::move(slice));
                }
                if (progress)
                    progress->report(Phase::Reading, doneBytes, totalBytes);
            }
        } catch (...) {
            fail(reading);
        }
        std::lock_guard lock(mutex);
        readingDone = true;
        changed.notify_all();
    }

    // What a worker keeps for itself: the rules, its table of the words it has met, its marker.
    struct Lane
    {
        std::unique_ptr<WordFinder> finder;
        HashTally known;
        std::unique_ptr<TokenMarker> marker;
    };

    std::unique_ptr<Lane> makeLane() const
    {
        auto lane = std::make_unique<Lane>();
        lane->finder = options.finder->clone();
        if (options.makeMarker)
            lane->marker = options.makeMarker();
        return lane;
    }

    // Finds a slice's tokens and works on it.
    void process(Lane &lane, CorpusSlice &slice)
    {
        if (slice.failed)
            return;
        if (slice.to > slice.from) {
            // A word takes five units or more with its space: the tokens' room made once (up to
            // a full slice's; a long paragraph may be one enormous word).
            slice.tokens.reserve(size_t(std::min<qsizetype>(slice.to - slice.from, 4 * kSliceUnits)) / 5 + 16);
            // A slice cut at a paragraph end begins after a gap; one cut at a space does not.
            const bool gapFirst = slice.from == 0 || slice.text[size_t(slice.from - 1)] == u'\r';
            TokenCollector collector(options.numberWords ? &vocabulary : nullptr, lane.known, lane.marker.get(),
                                     options.hashWords, slice.tokens, slice.view(), slice.from, gapFirst);
            lane.finder->findSingleWords(slice.view().sliced(slice.from, slice.to - slice.from), collector);
            collector.drain();
        }
        work(slice);
    }

    void workOn()
    {
        std::unique_ptr<Lane> lane;
        try {
            lane = makeLane();
        } catch (...) {
            fail(-1);
            return;
        }
        for (;;) {
            CorpusSlice slice;
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return !toWork.empty() || readingDone || abandoned; });
                if (abandoned || toWork.empty())
                    return;
                slice = std::move(toWork.front());
                toWork.pop_front();
            }
            try {
                process(*lane, slice);
            } catch (...) {
                fail(slice.file);
                return;
            }
            std::lock_guard lock(mutex);
            const qint64 number = slice.number;
            done.emplace(number, std::move(slice));
            changed.notify_all();
        }
    }

    // Without threads of its own the scan runs here: each slice is worked on and handed back as
    // soon as it is read. Set before read().
    const CorpusScan::InOrder *here = nullptr;
    std::unique_ptr<Lane> hereLane;
};

QString CorpusOutOfMemory::message() const
{
    return QCoreApplication::translate("CorpusScan", "Out of memory while reading %1.").arg(QDir::toNativeSeparators(m_file));
}

CorpusScan::CorpusScan(CorpusScanOptions options)
    : m_options(std::move(options)), m_vocabulary(std::make_shared<CorpusVocabulary>())
{
    m_options.margin = std::max<qsizetype>(1, m_options.margin); // the unit before a slice tells a gap
}

CorpusScan::~CorpusScan() = default;

bool CorpusScan::run(const Work &work, const InOrder &inOrder, const std::atomic<bool> *stop,
                     Progress *progress)
{
    // Running out of memory names the file it happened on, where one is known.
    const auto throwNamingFile = [this](qint32 file) {
        if (file >= 0 && file < m_options.files.size())
            throw CorpusOutOfMemory(m_options.files.at(file));
        throw;
    };
    const auto passOn = [&](const std::exception_ptr &failure, qint32 file) {
        try {
            std::rethrow_exception(failure);
        } catch (const CorpusOutOfMemory &) {
            throw;
        } catch (const std::bad_alloc &) {
            throwNamingFile(file);
        }
    };
    const auto stopped = [stop] { return stop && stop->load(std::memory_order_relaxed); };

    {
        Pipeline p{m_options, *m_vocabulary, work, stop, progress};
        std::thread reader;
        std::vector<std::thread> workers;
        const auto abandon = [&] {
            {
                std::lock_guard lock(p.mutex);
                p.abandoned = true;
                p.changed.notify_all();
            }
            if (reader.joinable())
                reader.join();
            for (std::thread &w : workers)
                w.join();
        };
        try {
            reader = std::thread([&p] { p.read(); });
            const int workerCount = std::max(2, QThread::idealThreadCount());
            workers.reserve(size_t(workerCount));
            for (int i = 0; i < workerCount; ++i)
                workers.emplace_back([&p] { p.workOn(); });
        } catch (...) {
            // The system will not start every thread (no memory for their stacks, too many
            // threads): the reader and one worker will do; with fewer the scan runs here.
        }
        if (!reader.joinable() || workers.empty()) {
            abandon(); // no slice was worked on: nothing of it is kept
        } else {
            qint64 next = 0;
            qint32 handing = -1; // the file of the slice handed back in order
            try {
                for (;;) {
                    CorpusSlice slice;
                    {
                        std::unique_lock lock(p.mutex);
                        p.changed.wait_for(lock, std::chrono::milliseconds(50), [&] {
                            return p.done.count(next) || p.abandoned || (p.readingDone && next == p.slices);
                        });
                        if (p.abandoned)
                            break;
                        if (p.readingDone && next == p.slices)
                            break;
                        const auto it = p.done.find(next);
                        if (it == p.done.end()) {
                            if (stopped())
                                break;
                            continue;
                        }
                        slice = std::move(it->second);
                        p.done.erase(it);
                    }
                    ++next;
                    handing = slice.file;
                    inOrder(slice);
                    // Its buffers go back before its place does: the reader, woken by the place, takes them.
                    p.giveBack(slice);
                    {
                        std::lock_guard lock(p.mutex);
                        --p.inFlight;
                        p.changed.notify_all();
                    }
                    if (stopped())
                        break;
                }
            } catch (const CorpusOutOfMemory &) {
                abandon();
                throw;
            } catch (const std::bad_alloc &) {
                abandon();
                throwNamingFile(handing);
            } catch (...) {
                abandon();
                throw;
            }
            abandon();
            if (p.failure)
                passOn(p.failure, p.failedFile);
            return !stopped();
        }
    }

    Pipeline p{m_options, *m_vocabulary, work, stop, progress};
    p.hereLane = p.makeLane();
    p.here = &inOrder;
    p.read();
    if (p.failure)
        passOn(p.failure, p.failedFile);
    return !stopped();
}

} // namespace corvalen
