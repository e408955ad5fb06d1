#include "corpus/corpusscan.h"

#include "base/errorreport.h"
#include "base/filenames.h"
#include "documents/documentengine.h"
#include "engine/hashtally.h"

#include <QCoreApplication>
#include <QDir>
#include <QThread>

#include <cstring>

#include <condition_variable>
#include <deque>
#include <map>
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
    // high half: the marker looks at each distinct word once.
    void resolve(CorpusToken &token, const char16_t *text, size_t n, const counting::WordRef &ref)
    {
        quint64 value = quint64(m_known.countOf(ref));
        if (value == 0) {
            const quint32 id = m_vocabulary->idOf(text, n);
            const quint32 mark = m_marker ? m_marker->mark(QStringView(text, qsizetype(n)), id) : 0;
            value = (quint64(mark) << 32) | (quint64(id) + 1);
            m_known.add(ref, qint64(value));
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

CorpusVocabulary::CorpusVocabulary() : m_index(std::make_unique<HashTally>())
{
    m_starts.push_back(0);
}

CorpusVocabulary::~CorpusVocabulary() = default;

quint32 CorpusVocabulary::idOf(const char16_t *w, size_t n)
{
    std::lock_guard lock(m_mutex);
    const counting::WordRef ref = makeWordRef(w, n);
    if (const qint64 known = m_index->countOf(ref))
        return quint32(known - 1);
    const size_t id = m_starts.size() - 1;
    if (id >= std::numeric_limits<quint32>::max() - 1)
        throw std::length_error("Too many distinct words.");
    m_text.insert(m_text.end(), w, w + n);
    m_starts.push_back(m_text.size());
    m_index->add(ref, qint64(id) + 1);
    return quint32(id);
}

QString CorpusVocabulary::word(quint32 id) const
{
    std::lock_guard lock(m_mutex);
    if (size_t(id) + 1 >= m_starts.size())
        return QString();
    return QString(reinterpret_cast<const QChar *>(m_text.data() + m_starts[id]),
                   qsizetype(m_starts[id + 1] - m_starts[id]));
}

QStringList CorpusVocabulary::words() const
{
    std::lock_guard lock(m_mutex);
    QStringList all;
    all.reserve(qsizetype(m_starts.size() - 1));
    for (size_t id = 0; id + 1 < m_starts.size(); ++id)
        all.append(QString(reinterpret_cast<const QChar *>(m_text.data() + m_starts[id]),
                           qsizetype(m_starts[id + 1] - m_starts[id])));
    return all;
}

quint32 CorpusVocabulary::size() const
{
    std::lock_guard lock(m_mutex);
    return quint32(m_starts.size() - 1);
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
    std::vector<std::vector<char16_t>> spareTexts;
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
        QString pending;        // the file's text from pendingBase on
        qint64 pendingBase = 0;
        qint64 sliceStart = 0;  // where the next slice's words begin
        qsizetype searchedTo = 0; // no cut point from the slice's start to this in pending
        bool first = true;

        void feed(QStringView chunk)
        {
            pending.append(chunk);
            const qsizetype margin = pipeline.options.margin;
            // The scan's first slices are small, so that its first findings come at once (a window
            // shows lines as they are found); then they grow to their full size.
            while (pending.size() - (sliceStart - pendingBase) >= pipeline.sliceUnits() + margin) {
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
            if (pending.at(i - 1) == u'\r')
                return true;
            if (!pipeline.options.cutAtSpaces || pending.at(i - 1) != u' ' || i >= pending.size())
                return false;
            const char16_t c = pending.at(i).unicode();
            return !unicode || (c > 32 && c < 127);
        }

        bool cut()
        {
            const qsizetype margin = pipeline.options.margin;
            const qsizetype from = qsizetype(sliceStart - pendingBase);
            const qsizetype end = pending.size() - margin;
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
            handOver(from, at, std::min(pending.size(), at + margin), false);
            pipeline.sliceMade();
            sliceStart = pendingBase + at;
            searchedTo = 0;
            const qsizetype drop = std::max<qsizetype>(0, at - margin);
            pending.remove(0, drop);
            pendingBase += drop;
            return true;
        }

        void handOver(qsizetype from, qsizetype to, qsizetype end, bool last)
        {
            const qsizetype margin = pipeline.options.margin;
            const qsizetype begin = std::max<qsizetype>(0, from - margin);
            CorpusSlice slice;
            pipeline.takeBuffers(slice);
            slice.file = file;
            slice.fileOffset = pendingBase + begin;
            slice.size = end - begin;
            // Copied in, not zeroed first and then copied: a buffer used again has its room.
            const auto *from16 = reinterpret_cast<const char16_t *>(pending.utf16()) + begin;
            slice.text.assign(from16, from16 + slice.size);
            slice.text.insert(slice.text.end(), kSlack, u'\0');
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
            handOver(qsizetype(sliceStart - pendingBase), pending.size(), pending.size(), true);
            pending = QString();
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

    void workOn()
    {
        std::unique_ptr<WordFinder> finder = options.finder->clone();
        HashTally known;
        std::unique_ptr<TokenMarker> marker;
        try {
            if (options.makeMarker)
                marker = options.makeMarker();
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
                if (!slice.failed && slice.to > slice.from) {
                    // A word takes five units or more with its space: the tokens' room made once.
                    slice.tokens.reserve(size_t(slice.to - slice.from) / 5 + 16);
                    // A slice cut at a paragraph end begins after a gap; one cut at a space does not.
                    const bool gapFirst = slice.from == 0 || slice.text[size_t(slice.from - 1)] == u'\r';
                    TokenCollector collector(options.numberWords ? &vocabulary : nullptr, known, marker.get(),
                                             options.hashWords, slice.tokens, slice.view(), slice.from, gapFirst);
                    finder->findSingleWords(slice.view().sliced(slice.from, slice.to - slice.from), collector);
                    collector.drain();
                }
                if (!slice.failed)
                    work(slice);
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
        // A thread that cannot be started (no memory for its stack) ends the scan like any failure.
        reader = std::thread([&p] { p.read(); });
        const int workerCount = std::max(2, QThread::idealThreadCount());
        workers.reserve(size_t(workerCount));
        for (int i = 0; i < workerCount; ++i)
            workers.emplace_back([&p] { p.workOn(); });
    } catch (...) {
        abandon();
        throw;
    }
    qint64 next = 0;
    qint32 handing = -1; // the file of the slice handed back in order
    // Running out of memory names the file it happened on, where one is known.
    const auto throwNamingFile = [this](qint32 file) {
        if (file >= 0 && file < m_options.files.size())
            throw CorpusOutOfMemory(m_options.files.at(file));
        throw;
    };
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
                    if (stop && stop->load(std::memory_order_relaxed))
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
            if (stop && stop->load(std::memory_order_relaxed))
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
    if (p.failure) {
        try {
            std::rethrow_exception(p.failure);
        } catch (const CorpusOutOfMemory &) {
            throw;
        } catch (const std::bad_alloc &) {
            throwNamingFile(p.failedFile);
        }
    }
    return !(stop && stop->load(std::memory_order_relaxed));
}

} // namespace corvalen
