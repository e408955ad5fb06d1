#include "engine/textdecoder.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <cstring>

namespace corvalen {

namespace {

constexpr qsizetype kRunSlack = 16; // the vector path stores 16 units at a time

// Length of the sequence a lead byte starts; 0 for bytes that start none.
inline int sequenceLength(uchar c)
{
    if (c >= 0xC2 && c <= 0xDF)
        return 2;
    if (c >= 0xE0 && c <= 0xEF)
        return 3;
    if (c >= 0xF0 && c <= 0xF4)
        return 4;
    return 0;
}

// The range the second byte of a sequence must lie in: narrower after E0, ED, F0 and F4, which
// rules out overlong forms, surrogates and code points beyond U+10FFFF.
inline bool secondByteFits(uchar lead, uchar second)
{
    switch (lead) {
    case 0xE0: return second >= 0xA0 && second <= 0xBF;
    case 0xED: return second >= 0x80 && second <= 0x9F;
    case 0xF0: return second >= 0x90 && second <= 0xBF;
    case 0xF4: return second >= 0x80 && second <= 0x8F;
    default: return (second & 0xC0) == 0x80;
    }
}

// How many of the n bytes at p (n >= 1) are a well-formed start of the sequence their first
// byte starts (at least 1): the sequence's length when it is complete and well-formed.
inline int wellFormedPrefix(const uchar *p, qsizetype n)
{
    const int len = sequenceLength(p[0]);
    if (len == 0 || n < 2 || !secondByteFits(p[0], p[1]))
        return 1;
    int k = 2;
    while (k < len && k < n && (p[k] & 0xC0) == 0x80)
        ++k;
    return k;
}

// Decodes the well-formed sequence of len bytes at p into out; returns the units written.
inline int writeSequence(const uchar *p, int len, char16_t *out)
{
    char32_t c;
    if (len == 2)
        c = char32_t(p[0] & 0x1F) << 6 | (p[1] & 0x3F);
    else if (len == 3)
        c = char32_t(p[0] & 0x0F) << 12 | char32_t(p[1] & 0x3F) << 6 | (p[2] & 0x3F);
    else
        c = char32_t(p[0] & 0x07) << 18 | char32_t(p[1] & 0x3F) << 12 | char32_t(p[2] & 0x3F) << 6
                | (p[3] & 0x3F);
    if (c < 0x10000) {
        out[0] = char16_t(c);
        return 1;
    }
    out[0] = QChar::highSurrogate(c);
    out[1] = QChar::lowSurrogate(c);
    return 2;
}

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
        // Two-byte characters (Latin, Greek, Cyrillic, Hebrew, Arabic ...) are the most common.
        if (c >= 0xC2 && c <= 0xDF && end - p >= 2 && (p[1] & 0xC0) == 0x80) {
            *o++ = char16_t((c & 0x1F) << 6 | (p[1] & 0x3F));
            p += 2;
            lastWasCr = false;
            continue;
        }
        const int len = sequenceLength(c);
        const int k = wellFormedPrefix(p, end - p);
        if (k == len) {
            o += writeSequence(p, len, o);
            p += len;
        } else if (k == end - p && len > 0) {
            break; // cut off by the end of the block: the next block may complete it
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
        const int len = sequenceLength(m_carry[0]);
        const qsizetype take = std::min<qsizetype>(len - m_carried, end - p);
        uchar whole[4];
        std::memcpy(whole, m_carry, size_t(m_carried));
        std::memcpy(whole + m_carried, p, size_t(take));
        const int k = wellFormedPrefix(whole, m_carried + take);
        if (k == m_carried + take && k < len) { // still cut off
            std::memcpy(m_carry + m_carried, p, size_t(take));
            m_carried += int(take);
            out.clear();
            return;
        }
        if (k == len) {
            written += writeSequence(whole, len, o);
            p += take;
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

} // namespace corvalen
