#include "documents/occurrencefinder.h"

#include "base/errorreport.h"
#include "base/filenames.h"
#include "documents/documentengine.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QHash>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace corvalen {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("corvalen::OccurrenceFinder", text);
}

// A paragraph longer than this is searched in parts cut at a space, when no word can run across
// one (single words, not phrases), so that a file without line ends is not held whole.
constexpr qsizetype kLongestSegment = qsizetype(1) << 20;
// Text before the place being searched is dropped once it is this long and most of what is held.
constexpr qsizetype kTrimAt = qsizetype(1) << 16;
// Files this big (on disk) are read ahead, on a thread of their own, while they are searched.
constexpr qint64 kReadAheadFrom = qint64(4) << 20;
// Occurrences handed to the window's thread in one batch, at most, and how long it goes on taking
// batches before it handles its other events: each batch is inserted into a view.
constexpr qsizetype kBatchLines = 2048;
constexpr qint64 kHandOverMs = 20;
// Batches are taken at most ten times a second: each taking repaints the view, and more repaints
// only take the processor from the search (40 ms made the 100 MB corpus's fill a quarter slower).
constexpr qint64 kHandOverEveryMs = 100;
// Distinct words whose group is remembered; beyond it the memory starts again.
constexpr qsizetype kMaxRememberedWords = 1 << 20;

bool shownAsSpace(char16_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029;
}

QString shown(QStringView text)
{
    // Copied in one pass, eight units at a time where the processor can: three of these for each
    // of a million occurrences.
    QString s(text.size(), Qt::Uninitialized);
    const char16_t *from = text.utf16();
    auto *to = reinterpret_cast<char16_t *>(s.data());
    qsizetype i = 0;
#if defined(__SSE2__)
    // Compared as signed numbers with the top bit flipped, units compare as unsigned ones.
    const __m128i top = _mm_set1_epi16(short(0x8000));
    const __m128i control = _mm_set1_epi16(short(0x20 ^ 0x8000));
    const __m128i delStart = _mm_set1_epi16(0x7f);
    const __m128i delCount = _mm_set1_epi16(short(0x21 ^ 0x8000));
    const __m128i separatorBits = _mm_set1_epi16(short(0xfffe));
    const __m128i separators = _mm_set1_epi16(0x2028);
    const __m128i space = _mm_set1_epi16(0x20);
    for (; i + 8 <= text.size(); i += 8) {
        const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i *>(from + i));
        const __m128i below = _mm_cmpgt_epi16(control, _mm_xor_si128(units, top));
        const __m128i del = _mm_cmpgt_epi16(delCount, _mm_xor_si128(_mm_sub_epi16(units, delStart), top));
        const __m128i separator = _mm_cmpeq_epi16(_mm_and_si128(units, separatorBits), separators);
        const __m128i blank = _mm_or_si128(_mm_or_si128(below, del), separator);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(to + i),
                         _mm_or_si128(_mm_andnot_si128(blank, units), _mm_and_si128(blank, space)));
    }
#endif
    for (; i < text.size(); ++i)
        to[i] = shownAsSpace(from[i]) ? u' ' : from[i];
    return s;
}

// A file's text read and decoded on a thread of its own while the calling thread searches what
// came before: a big file is searched in about the time it takes to read. At most kAheadUnits of
// text wait between the two. Returns what the engine returned; a failure of search ends the
// reading and is thrown again here.
template<typename Stopped>
bool readAhead(DocumentEngine &engine, const QString &path, const std::function<void(QStringView)> &search,
               const Stopped &stopped)
{
    constexpr qsizetype kAheadUnits = qsizetype(4) << 20;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<QString> chunks;
    qsizetype waiting = 0;
    bool done = false;
    bool abandoned = false;
    bool complete = false;
    std::thread reader;
    const auto read = [&] {
        complete = engine.readText(path, [&](QStringView chunk) {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return waiting < kAheadUnits || abandoned; });
            if (abandoned)
                return;
            chunks.push_back(chunk.toString());
            waiting += chunk.size();
            changed.notify_all();
        });
        std::lock_guard lock(mutex);
        done = true;
        changed.notify_all();
    };
    try {
        reader = std::thread(read);
    } catch (...) {
        // The system will not start a thread: the text is searched as it is read.
        return engine.readText(path, [&](QStringView chunk) {
            if (!stopped())
                search(chunk);
        });
    }
    const auto abandon = [&] {
        {
            std::lock_guard lock(mutex);
            abandoned = true;
            changed.notify_all();
        }
        reader.join();
    };
    try {
        for (;;) {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return !chunks.empty() || done; });
            if (chunks.empty())
                break;
            const QString chunk = std::move(chunks.front());
            chunks.pop_front();
            waiting -= chunk.size();
            changed.notify_all();
            lock.unlock();
            if (stopped()) {
                abandon();
                return complete;
            }
            search(chunk);
        }
    } catch (...) {
        abandon();
        throw;
    }
    reader.join();
    return complete;
}

} // namespace

// The search of one file's text as it streams in: words are looked for in whole paragraphs (or
// parts of a long one that no word crosses), and an occurrence waits until the text after it is
// there for its right-hand context.
struct OccurrenceFinder::FileSearch
{
    struct Waiting
    {
        QString left;
        QString text;
        qsizetype end; // in buffer
    };

    OccurrenceFinder &owner;
    const Found &found;
    qint32 file;
    int width;
    QString buffer;
    qsizetype searched = 0; // words are found up to here
    std::deque<Waiting> waiting;

    void feed(QStringView chunk)
    {
        buffer.append(chunk);
        search(false);
    }

    void finish() { search(true); }

    // Where the text can be cut with no word (or phrase) across the cut, or searched when none.
    qsizetype cutPoint() const
    {
        const qsizetype paragraphEnd = buffer.lastIndexOf(u'\r');
        if (paragraphEnd >= searched)
            return paragraphEnd + 1;
        if (buffer.size() - searched < kLongestSegment || owner.m_finder->rules().phraseLength > 1)
            return searched;
        const bool unicode = owner.m_finder->rules().atWordBoundaries();
        // Unicode words: a space before printable ASCII is a boundary that depends on nothing
        // before it.
        for (qsizetype i = buffer.size() - 1; i > searched; --i) {
            const char16_t c = buffer.at(i).unicode();
            if (buffer.at(i - 1) == u' ' && (!unicode || (c > 32 && c < 127)))
                return i;
        }
        return searched;
    }

    void search(bool atEnd)
    {
        const qsizetype cut = atEnd ? buffer.size() : cutPoint();
        if (cut > searched) {
            const qsizetype from = searched;
            const auto found = [&](qsizetype rawStart, qsizetype rawEnd) {
                const qsizetype start = from + rawStart;
                const qsizetype end = from + rawEnd;
                waiting.push_back({leftOf(start), shown(QStringView(buffer).sliced(start, end - start)), end});
            };
            const QStringView text = QStringView(buffer).sliced(from, cut - from);
            if (owner.m_finder->rules().phraseLength > 1 || owner.m_finder->groupsWords()) {
                owner.m_finder->findWords(text, [&](const FoundWord &w) {
                    if (owner.matches(w.word))
                        found(w.rawStart, w.rawEnd);
                });
            } else {
                // Single words compared as they are: every word of the text comes here, and a
                // function object and a call to match each cost more than the comparison.
                struct SameWord : WordSink
                {
                    QStringView target;
                    const decltype(found) &take;
                    SameWord(QStringView t, const decltype(found) &f) : target(t), take(f) { }
                    void word(QStringView w, qsizetype rawStart, qsizetype rawEnd) override
                    {
                        if (w.size() == target.size()
                            && std::equal(w.utf16(), w.utf16() + w.size(), target.utf16()))
                            take(rawStart, rawEnd);
                    }
                } sink(owner.m_target, found);
                owner.m_finder->findSingleWords(text, sink);
            }
            searched = cut;
        }
        // The engine ends the last paragraph with a paragraph end of its own: not the file's text.
        const qsizetype textEnd = atEnd && buffer.endsWith(u'\r') ? buffer.size() - 1 : buffer.size();
        while (!waiting.empty()) {
            Waiting &w = waiting.front();
            // 2 units a character at most: enough is there when that many units are.
            if (!atEnd && buffer.size() - w.end < 2 * qsizetype(width))
                break;
            Occurrence o;
            o.file = file;
            o.left = std::move(w.left);
            o.text = std::move(w.text);
            o.right = rightOf(w.end, std::max(w.end, textEnd));
            waiting.pop_front();
            found(std::move(o));
        }
        if (atEnd)
            return;
        qsizetype keep = searched - 2 * qsizetype(width);
        if (!waiting.empty())
            keep = std::min(keep, waiting.front().end);
        if (keep >= kTrimAt && keep > buffer.size() / 2) {
            buffer.remove(0, keep);
            searched -= keep;
            for (Waiting &w : waiting)
                w.end -= keep;
        }
    }

    // Whether [from, to) of the buffer holds no surrogate: each unit is then a character.
    bool noSurrogates(qsizetype from, qsizetype to) const
    {
        const char16_t *u = reinterpret_cast<const char16_t *>(buffer.utf16());
        bool none = true;
        for (qsizetype i = from; i < to; ++i) // no early exit: the compiler does it eight at a time
            none &= (u[i] & 0xf800) != 0xd800;
        return none;
    }

    QString leftOf(qsizetype start) const
    {
        // Mostly the width's units before it are as many characters.
        if (start >= width + 1 && noSurrogates(start - width - 1, start))
            return shown(QStringView(buffer).sliced(start - width, width));
        qsizetype i = start;
        for (int n = 0; i > 0 && n < width; ++n) {
            if (i >= 2 && buffer.at(i - 1).isLowSurrogate() && buffer.at(i - 2).isHighSurrogate())
                i -= 2;
            else
                --i;
        }
        return shown(QStringView(buffer).sliced(i, start - i));
    }

    QString rightOf(qsizetype end, qsizetype limit) const
    {
        if (limit - end >= width + 1 && noSurrogates(end, end + width + 1))
            return shown(QStringView(buffer).sliced(end, width));
        qsizetype i = end;
        for (int n = 0; i < limit && n < width; ++n) {
            if (i + 1 < limit && buffer.at(i).isHighSurrogate() && buffer.at(i + 1).isLowSurrogate())
                i += 2;
            else
                ++i;
        }
        return shown(QStringView(buffer).sliced(end, i - end));
    }
};

ContextLine ContextLine::from(const Occurrence &o)
{
    return {o.left + o.text + o.right, o.file, qint32(o.left.size()), qint32(o.text.size()), o.failed};
}

OccurrenceFinder::OccurrenceFinder(const OccurrenceQuery &query, std::unique_ptr<WordFinder> finder)
    : m_query(query), m_finder(std::move(finder))
{
    m_query.width = std::clamp(m_query.width, OccurrenceQuery::kMinWidth, OccurrenceQuery::kMaxWidth);
    m_target = m_finder->groupsWords() ? m_finder->groupKey(m_query.word) : m_query.word;
}

OccurrenceFinder::~OccurrenceFinder() = default;

std::unique_ptr<OccurrenceFinder> OccurrenceFinder::create(const OccurrenceQuery &query, QString *error)
{
    std::unique_ptr<WordFinder> finder =
            query.finder ? query.finder->clone() : WordFinder::create(query.rules, query.ignoreCase, error);
    if (!finder)
        return nullptr;
    return std::unique_ptr<OccurrenceFinder>(new OccurrenceFinder(query, std::move(finder)));
}

QString OccurrenceFinder::countedForm(const WordFinder &finder, const QString &word)
{
    std::unique_ptr<WordFinder> own = finder.clone();
    QStringList words;
    own->findWords(word, [&words](const FoundWord &w) { words.append(w.word.toString()); });
    return words.size() == 1 ? words.constFirst() : word;
}

bool OccurrenceFinder::matches(QStringView word)
{
    if (!m_finder->groupsWords())
        return word == m_target;
    const auto known = m_inGroup.constFind(word.toString());
    if (known != m_inGroup.cend())
        return *known;
    if (m_inGroup.size() >= kMaxRememberedWords)
        m_inGroup.clear();
    const bool in = m_finder->groupKey(word) == m_target;
    m_inGroup.insert(word.toString(), in);
    return in;
}

bool OccurrenceFinder::run(const Found &found, const std::atomic<bool> *stop)
{
    const auto stopped = [stop] { return stop && stop->load(std::memory_order_relaxed); };
    const Found guarded = [&](Occurrence &&o) {
        if (!stopped())
            found(std::move(o));
    };
    for (qsizetype i = 0; i < m_query.files.size(); ++i) {
        if (stopped())
            return false;
        const QString &path = m_query.files.at(i);
        FirstFailure failure;
        DocumentEngine engine(&failure);
        engine.setParagraphs(m_finder->rules().paragraphs);
        FileSearch search{*this, guarded, qint32(i), m_query.width, {}, 0, {}};
        bool complete = false;
        // A failure of the search itself (out of memory, no word boundaries) ends this file as a
        // failure to read it does.
        bool searched = true;
        try {
            complete = fileStatus(path).size < kReadAheadFrom
                    ? engine.readText(path, [&](QStringView chunk) {
                          if (!stopped())
                              search.feed(chunk);
                      })
                    : readAhead(engine, path, [&](QStringView chunk) { search.feed(chunk); }, stopped);
            if (stopped())
                return false;
            search.finish();
        } catch (const std::exception &e) {
            searched = false;
            if (failure.description.isEmpty())
                failure.description = tr("%1 could not be searched: %2.")
                                              .arg(QDir::toNativeSeparators(path), QString::fromLocal8Bit(e.what()));
        }
        if (!complete || !searched) {
            Occurrence o;
            o.file = qint32(i);
            o.failed = true;
            o.text = failure.description.isEmpty()
                    ? tr("%1 could not be read.").arg(QDir::toNativeSeparators(path))
                    : failure.description;
            found(std::move(o));
        }
    }
    return !stopped();
}

// What the search's thread and the object that hands its batches over share.
struct OccurrenceSearch::Shared
{
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::deque<QList<ContextLine>> batches; // found, not yet handed over
    bool handOverAsked = false;
    bool done = false;
    bool complete = false;
    std::unique_ptr<QThread> thread;
};

OccurrenceSearch::OccurrenceSearch(QObject *parent) : QObject(parent) { }

OccurrenceSearch::~OccurrenceSearch()
{
    // The threads call on this object: none may outlive it.
    retire();
    m_stopped.waitAll();
}

void OccurrenceSearch::retire()
{
    if (!m_shared)
        return;
    m_shared->stop = true;
    // A stopped search may still read the rest of a file's text: it ends on its own, and is
    // forgotten then, without keeping the window's thread waiting.
    m_stopped.keep(m_shared, m_shared->thread.get());
    m_shared.reset();
}

bool OccurrenceSearch::start(const OccurrenceQuery &query, QString *error)
{
    std::shared_ptr<OccurrenceFinder> finder = OccurrenceFinder::create(query, error);
    if (!finder)
        return false;
    retire();
    auto shared = std::make_shared<Shared>();
    m_shared = shared;
    m_running = true;
    m_lastHandOver.invalidate(); // the first line goes over at once
    // Batches go over through one queued call at a time: the window's thread takes what has
    // gathered when it gets to it (for a bounded time), so a fast search never floods its event
    // queue nor holds its event loop for long.
    // The thread holds no reference of its own to what it shares (which holds the thread): this
    // object keeps it until the thread is done.
    Shared *own = shared.get();
    const std::weak_ptr<Shared> weak = shared;
    const auto ask = [this, own, weak] {
        // Under the mutex.
        if (!own->handOverAsked) {
            own->handOverAsked = true;
            QMetaObject::invokeMethod(
                    this,
                    [this, weak] {
                        if (const std::shared_ptr<Shared> s = weak.lock())
                            handOver(s);
                    },
                    Qt::QueuedConnection);
        }
    };
    shared->thread.reset(QThread::create([shared = own, finder, ask] {
        QElapsedTimer sinceHandOver;
        sinceHandOver.start();
        QList<ContextLine> local;
        bool first = true;
        const auto pass = [&] {
            std::lock_guard lock(shared->mutex);
            shared->batches.push_back(std::move(local));
            local = {};
            ask();
            sinceHandOver.restart();
        };
        const bool complete = finder->run(
                [&](Occurrence &&o) {
                    local.append(ContextLine::from(o));
                    if (first || local.size() >= kBatchLines || sinceHandOver.elapsed() >= 50) {
                        first = false;
                        pass();
                    }
                },
                &shared->stop);
        std::lock_guard lock(shared->mutex);
        if (!local.isEmpty())
            shared->batches.push_back(std::move(local));
        shared->complete = complete;
        shared->done = true;
        ask();
    }));
    shared->thread->start();
    return true;
}

void OccurrenceSearch::handOver(const std::shared_ptr<Shared> &shared)
{
    const auto again = [this, weak = std::weak_ptr<Shared>(shared)] {
        if (const std::shared_ptr<Shared> s = weak.lock())
            handOver(s);
    };
    if (shared == m_shared && m_lastHandOver.isValid() && m_lastHandOver.elapsed() < kHandOverEveryMs) {
        QTimer::singleShot(kHandOverEveryMs - m_lastHandOver.elapsed(), this, again);
        return;
    }
    m_lastHandOver.start();
    QElapsedTimer spent;
    spent.start();
    for (;;) {
        std::unique_lock lock(shared->mutex);
        QList<ContextLine> batch;
        if (!shared->batches.empty()) {
            batch = std::move(shared->batches.front());
            shared->batches.pop_front();
        }
        const bool more = !shared->batches.empty();
        if (!more)
            shared->handOverAsked = false; // what the thread finds next asks again
        const bool done = shared->done && !more;
        lock.unlock();
        const auto current = [&] { return shared == m_shared && !shared->stop; };
        if (!current())
            return;
        if (!batch.isEmpty())
            emit found(batch);
        if (!current())
            return; // stopped or replaced by whoever took the batch
        if (done) {
            m_running = false;
            emit finished(!shared->complete);
            return;
        }
        if (!more)
            return;
        if (spent.elapsed() >= kHandOverMs) {
            // The rest after the events that came meanwhile (input, painting, timers).
            QMetaObject::invokeMethod(this, again, Qt::QueuedConnection);
            return;
        }
    }
}

void OccurrenceSearch::stop()
{
    if (!m_shared || !m_running)
        return;
    m_shared->stop = true;
    m_running = false;
    // The thread may still read the rest of a file's text; nothing of it is shown. A search
    // started meanwhile is not the one that ended.
    QMetaObject::invokeMethod(
            this,
            [this, stopped = std::weak_ptr<Shared>(m_shared)] {
                if (stopped.lock() == m_shared)
                    emit finished(true);
            },
            Qt::QueuedConnection);
}

} // namespace corvalen
