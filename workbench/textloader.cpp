#include "workbench/textloader.h"

#include "base/errorreport.h"
#include "documents/documentengine.h"

#include <QThread>

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#include <QTimer>

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>

namespace corvalen {

namespace {

constexpr qint64 kHandOverEveryMs = 50;
constexpr qint64 kHandOverMs = 20;
// A long paragraph is cut at a space within this many units of its limit, else at the limit.
constexpr qsizetype kSpaceSearch = 200;

bool isParagraphEnd(char16_t c)
{
    return c == u'\r' || c == u'\n' || c == 0x2029;
}

// Characters a line of text cannot show, as the file view shows them: spaces. Places stay.
inline bool shownAsSpace(char16_t c)
{
    return bool(int(c < 0x20) & int(c != u'\t') & int(c != u'\r') & int(c != u'\n'))
            | bool(char16_t(c - 0x7F) <= 0x9F - 0x7F) | bool(c == 0x2028);
}

// Where the first unit of [i, limit) at or below U+001F, or U+2029, is; limit when none is. Eight
// at a time where the processor can: most of a text is plain characters.
qsizetype plainUpTo(const char16_t *d, qsizetype i, qsizetype limit)
{
#ifdef __SSE2__
    const __m128i flip = _mm_set1_epi16(short(0x8000));
    const __m128i below = _mm_set1_epi16(short(0x20 ^ 0x8000));
    const __m128i separator = _mm_set1_epi16(short(0x2029));
    for (; i + 8 <= limit; i += 8) {
        const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i *>(d + i));
        const __m128i low = _mm_cmplt_epi16(_mm_xor_si128(units, flip), below);
        const __m128i found = _mm_or_si128(low, _mm_cmpeq_epi16(units, separator));
        if (_mm_movemask_epi8(found) != 0)
            break;
    }
#endif
    while (i < limit && d[i] >= 0x20 && d[i] != 0x2029)
        ++i;
    return i;
}

// Cuts a text, as it comes, into pages of whole blocks.
class PageCutter
{
public:
    explicit PageCutter(std::function<void(TextPage &&)> out) : m_out(std::move(out)) { }

    void feed(QStringView chunk)
    {
        // In pieces: a page hands its unfinished end to the next, which must stay short.
        constexpr qsizetype kPiece = qsizetype(1) << 16;
        for (qsizetype at = 0; at < chunk.size(); at += kPiece)
            feedPiece(chunk.sliced(at, std::min(kPiece, chunk.size() - at)));
    }

    void feedPiece(QStringView chunk)
    {
        QString &text = m_page.text;
        const qsizetype at = text.size();
        text.resize(at + chunk.size());
        // Copied as shown, in one pass without branches that the compiler can do many at a time.
        char16_t *units = reinterpret_cast<char16_t *>(text.data()) + at;
        const auto *from = reinterpret_cast<const char16_t *>(chunk.utf16());
        for (qsizetype i = 0; i < chunk.size(); ++i)
            units[i] = shownAsSpace(from[i]) ? u' ' : from[i];
        const auto *d = reinterpret_cast<const char16_t *>(text.utf16());
        qsizetype i = m_scanned;
        while (i < text.size()) {
            // Plain characters up to the block's limit, without looking at anything else.
            const qsizetype limit = std::min(text.size(), m_blockStart + TextLoader::kBlockUnits - 1);
            i = plainUpTo(d, i, limit);
            if (i >= text.size())
                break;
            const char16_t c = d[i];
            if (c == u'\n' && m_afterCarriageReturn && i == m_blockStart) {
                // The LF of a CR LF: one paragraph end.
                m_blockStart = i + 1;
                m_afterCarriageReturn = false;
                ++i;
                continue;
            }
            m_afterCarriageReturn = false;
            if (isParagraphEnd(c)) {
                addBlock(i);
                m_blockStart = i + 1;
                m_afterCarriageReturn = c == u'\r';
                maybeHandOver(i + 1);
            } else if (i + 1 - m_blockStart >= TextLoader::kBlockUnits) {
                qsizetype cut = i + 1;
                for (qsizetype j = i; j > std::max(m_blockStart, i - kSpaceSearch); --j) {
                    if (d[j] == u' ') {
                        cut = j + 1;
                        break;
                    }
                }
                if (cut == i + 1 && QChar::isHighSurrogate(d[i]))
                    cut = i; // never between the halves of a character
                addBlock(cut);
                m_blockStart = cut;
                maybeHandOver(i + 1);
            } else {
                ++i; // a tab
                continue;
            }
            d = reinterpret_cast<const char16_t *>(text.utf16());
            i = m_scanned;
        }
        m_scanned = text.size();
    }

    void finish()
    {
        if (m_blockStart < m_page.text.size())
            addBlock(m_page.text.size());
        if (!m_page.text.isEmpty() || !m_handedOver) {
            m_handedOver = true;
            m_out(std::move(m_page));
        }
        m_page = {};
    }

private:
    void addBlock(qsizetype end)
    {
        m_page.blocks.emplace_back(qint32(m_blockStart), qint32(end - m_blockStart));
    }

    // A page goes once it holds enough blocks; the rest of its text begins the next. scanned is
    // where the caller's scan goes on.
    void maybeHandOver(qsizetype scanned)
    {
        m_scanned = scanned;
        if (m_blockStart < TextLoader::kPageUnits)
            return;
        TextPage next;
        next.start = m_page.start + m_blockStart;
        next.text = m_page.text.mid(m_blockStart);
        m_page.text.truncate(m_blockStart);
        m_scanned -= m_blockStart;
        m_blockStart = 0;
        m_handedOver = true;
        m_out(std::move(m_page));
        m_page = std::move(next);
    }

    std::function<void(TextPage &&)> m_out;
    TextPage m_page;
    qsizetype m_blockStart = 0;
    qsizetype m_scanned = 0;
    bool m_afterCarriageReturn = false;
    bool m_handedOver = false;
};

} // namespace

struct TextLoader::Shared
{
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::deque<TextPage> pages;
    bool handOverAsked = false;
    bool done = false;
    bool complete = false;
    QString failure;
    std::unique_ptr<QThread> thread;
};

std::vector<TextPage> TextLoader::pagesOf(const QString &text)
{
    std::vector<TextPage> pages;
    PageCutter cutter([&pages](TextPage &&page) { pages.push_back(std::move(page)); });
    cutter.feed(text);
    cutter.finish();
    return pages;
}

TextLoader::TextLoader(QObject *parent) : QObject(parent) { }

TextLoader::~TextLoader()
{
    // The threads call on this object: none may outlive it.
    retire();
    m_stopped.waitAll();
}

void TextLoader::retire()
{
    if (!m_shared)
        return;
    m_shared->stop = true;
    // The engine reads a file to its end: the thread is forgotten once it is done.
    m_stopped.keep(m_shared, m_shared->thread.get());
    m_shared.reset();
    m_loading = false;
}

void TextLoader::stop()
{
    retire();
}

void TextLoader::load(const QString &path, WordRules::Paragraphs paragraphs)
{
    retire();
    auto shared = std::make_shared<Shared>();
    m_shared = shared;
    m_loading = true;
    m_lastHandOver.invalidate();
    Shared *own = shared.get();
    const std::weak_ptr<Shared> weak = shared;
    const auto ask = [this, own, weak] {
        // Under the mutex.
        if (own->handOverAsked)
            return;
        own->handOverAsked = true;
        QMetaObject::invokeMethod(
                this,
                [this, weak] {
                    if (const std::shared_ptr<Shared> s = weak.lock())
                        handOver(s);
                },
                Qt::QueuedConnection);
    };
    shared->thread.reset(QThread::create([shared = own, path, paragraphs, ask] {
        FirstFailure reports;
        DocumentEngine engine(&reports);
        engine.setParagraphs(paragraphs);
        PageCutter cutter([&](TextPage &&page) {
            std::lock_guard lock(shared->mutex);
            shared->pages.push_back(std::move(page));
            ask();
        });
        const bool complete = engine.readText(path, [&](QStringView chunk) {
            if (!shared->stop)
                cutter.feed(chunk);
        });
        if (!shared->stop)
            cutter.finish();
        std::lock_guard lock(shared->mutex);
        shared->complete = complete;
        shared->failure = reports.description;
        shared->done = true;
        ask();
    }));
    if (!startThread(shared->thread.get())) {
        std::lock_guard lock(shared->mutex);
        shared->failure = tr("Out of memory: the file could not be read.");
        shared->done = true;
        ask();
    }
}

void TextLoader::handOver(const std::shared_ptr<Shared> &shared)
{
    const auto again = [this, weak = std::weak_ptr<Shared>(shared)] {
        if (const std::shared_ptr<Shared> s = weak.lock())
            handOver(s);
    };
    if (shared != m_shared)
        return;
    if (m_lastHandOver.isValid() && m_lastHandOver.elapsed() < kHandOverEveryMs) {
        QTimer::singleShot(kHandOverEveryMs - m_lastHandOver.elapsed(), this, again);
        return;
    }
    m_lastHandOver.start();
    QElapsedTimer spent;
    spent.start();
    for (;;) {
        std::unique_lock lock(shared->mutex);
        std::optional<TextPage> page;
        if (!shared->pages.empty()) {
            page = std::move(shared->pages.front());
            shared->pages.pop_front();
        }
        const bool more = !shared->pages.empty();
        if (!more)
            shared->handOverAsked = false;
        const bool done = shared->done && !more;
        const bool complete = shared->complete;
        const QString failure = shared->failure;
        lock.unlock();
        if (page)
            emit pageLoaded(*page);
        if (shared != m_shared)
            return; // another load began meanwhile
        if (done) {
            m_loading = false;
            emit finished(complete, failure);
            return;
        }
        if (!more)
            return;
        if (spent.elapsed() >= kHandOverMs) {
            QTimer::singleShot(0, this, again);
            return;
        }
    }
}

} // namespace corvalen
