#include "engine/textdecoder.h"
#include "engine/utf8.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <QIODevice>

#include <cstring>

namespace corvalen {

namespace {

constexpr qsizetype kRunSlack = 16; // the vector path stores 16 units at a time

} // namespace

TextDecoder::TextDecoder(QStringConverter::Encoding encoding)
{
    if (encoding != QStringConverter::Utf8)
        m_qt.emplace(encoding);
}

TextDecoder::TextDecoder(QStringDecoder decoder)
{
    m_qt.emplace(std::move(decoder));
}

// Decodes from p until end or until a character cut off by end; *stop tells where it stopped.
// Each byte of a malformed sequence becomes one U+FFFD, as with Qt's decoder. out has room for
// (end - p) + kRunSlack units.
qsizetype TextDecoder::decodeFast(const uchar *p, const uchar *end, char16_t *out,
                                  const uchar **stop)
{
    char16_t *o = out;
    bool lastWasCr = m_lastWasCr;
    for (;;) {
#if defined(__SSE2__)
        // Runs of ASCII without line feeds are widened sixteen bytes at a time.
        while (end - p >= 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
            const unsigned special = unsigned(_mm_movemask_epi8(v))
                    | unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('\n'))));
            const __m128i zero = _mm_setzero_si128();
            _mm_storeu_si128(reinterpret_cast<__m128i *>(o), _mm_unpacklo_epi8(v, zero));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(o + 8), _mm_unpackhi_epi8(v, zero));
            const int run = special ? __builtin_ctz(special) : 16;
            if (run) {
                o += run;
                p += run;
                lastWasCr = p[-1] == '\r';
            }
            if (special)
                break;
        }
#endif
        if (p == end)
            break;
        const uchar c = *p;
        if (c < 0x80) {
            if (c == '\n') {
                if (!lastWasCr)
                    *o++ = u'\r';
                lastWasCr = false;
            } else {
                *o++ = c;
                lastWasCr = c == '\r';
            }
            ++p;
            continue;
        }
        char32_t cp = 0;
        const int len = decodeUtf8(p, end - p, cp);
        if (len < 0)
            break; // cut off by the end of the block: the next block may complete it
        if (len > 0) {
            o = putUtf16(o, cp);
            p += len;
        } else {
            *o++ = 0xFFFD;
            ++p;
        }
        lastWasCr = false;
    }
    m_lastWasCr = lastWasCr;
    *stop = p;
    return o - out;
}

// Appends Qt's decoding of bytes to out from unit at on, with the line ends made CRs.
void TextDecoder::decodeWithQt(QByteArrayView bytes, QString &out, qsizetype at)
{
    const QString text = (*m_qt)(bytes);
    out.resize(at + text.size());
    QChar *o = out.data() + at;
    for (const QChar c : text) {
        if (c == u'\n') {
            if (m_lastWasCr) {
                m_lastWasCr = false;
                continue; // the LF of CR LF
            }
            *o++ = u'\r';
        } else {
            m_lastWasCr = c == u'\r';
            *o++ = c;
        }
    }
    out.truncate(o - out.constData());
}

void TextDecoder::decode(QByteArrayView block, QString &out)
{
    if (block.isEmpty()) {
        out.clear();
        return;
    }
    if (m_qt) {
        decodeWithQt(block, out, 0);
        return;
    }
    const auto *p = reinterpret_cast<const uchar *>(block.data());
    const uchar *end = p + block.size();
    out.resize(block.size() + m_carried + kRunSlack);
    auto *o = reinterpret_cast<char16_t *>(out.data());
    qsizetype written = 0;

    if (m_carried) {
        // The character the last block cut off, completed from this one.
        const qsizetype take = std::min<qsizetype>(4 - m_carried, end - p);
        uchar whole[4];
        std::memcpy(whole, m_carry, size_t(m_carried));
        std::memcpy(whole + m_carried, p, size_t(take));
        char32_t cp = 0;
        const int len = decodeUtf8(whole, m_carried + take, cp);
        if (len < 0) { // still cut off
            std::memcpy(m_carry + m_carried, p, size_t(take));
            m_carried += int(take);
            out.clear();
            return;
        }
        if (len > 0) {
            written = putUtf16(o, cp) - o;
            p += len - m_carried;
        } else { // malformed: each carried byte is one U+FFFD; this block starts afresh
            for (int i = 0; i < m_carried; ++i)
                o[written++] = 0xFFFD;
        }
        m_lastWasCr = false;
        m_carried = 0;
    }

    const uchar *stop = nullptr;
    written += decodeFast(p, end, o + written, &stop);
    m_carried = int(end - stop);
    std::memcpy(m_carry, stop, size_t(m_carried));

    // The first character of the file is dropped when it is a byte order mark.
    if (!m_started && written > 0) {
        if (o[0] == 0xFEFF) {
            std::memmove(o, o + 1, size_t(written - 1) * sizeof(char16_t));
            --written;
        }
        m_started = true;
    }
    out.truncate(written);
}

namespace {

// The place of the next CR or form feed in [p, end), or end.
char16_t *nextLineBreak(char16_t *p, char16_t *end)
{
#if defined(__SSE2__)
    const __m128i cr = _mm_set1_epi16(13), ff = _mm_set1_epi16(12);
    for (; end - p >= 8; p += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        const unsigned hits = unsigned(_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi16(v, cr), _mm_cmpeq_epi16(v, ff))));
        if (hits)
            return p + __builtin_ctz(hits) / 2;
    }
#endif
    while (p < end && *p != 13 && *p != 12)
        ++p;
    return p;
}

// Whether [from, to) holds more than spaces and tabs; most lines end in something else.
bool holdsText(const char16_t *from, const char16_t *to)
{
    while (to > from && (to[-1] == u' ' || to[-1] == u'\t'))
        --to;
    return to > from;
}

} // namespace

bool TextDecoder::joinLines(QString &text)
{
    auto *p = reinterpret_cast<char16_t *>(text.data());
    char16_t *const end = p + text.size();
    char16_t *lineStart = p;
    bool carried = m_lineHasText; // the text of the line begun in an earlier block
    bool joinedLast = false;
    for (char16_t *at = nextLineBreak(p, end); at < end; at = nextLineBreak(at + 1, end)) {
        joinedLast = false;
        if (*at == 13) {
            if (carried || holdsText(lineStart, at)) {
                *at = u' ';
                joinedLast = true;
            }
        } else {
            *at = 13; // a form feed ends the page, and the paragraph with it
        }
        carried = false;
        lineStart = at + 1;
    }
    m_lineHasText = carried || holdsText(lineStart, end);
    return joinedLast && lineStart == end;
}

bool TextDecoder::decodeAll(QIODevice &device, QByteArray &block, qint64 have,
                            const std::function<void(QStringView text)> &sink)
{
    bool any = false;
    QChar last;
    QString text;
    while (have > 0) {
        decode(QByteArrayView(block.constData(), have), text);
        if (m_joinLines && !text.isEmpty()) {
            if (m_heldSpace) {
                sink(u" ");
                m_heldSpace = false;
            }
            // A line end at the end of the block may be the file's last, which ends the last
            // paragraph rather than joining it to the next line: it waits for the next block.
            if (joinLines(text)) {
                text.chop(1);
                m_heldSpace = true;
                any = true;
                last = u' ';
            }
        }
        if (!text.isEmpty()) {
            any = true;
            last = text.back();
            sink(text);
        }
        have = device.read(block.data(), block.size());
    }
    if (!any || last != u'\r')
        sink(u"\r");
    return have == 0;
}

} // namespace corvalen
