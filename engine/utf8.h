#pragma once

#include <QChar>
#include <QStringView>
#include <QtGlobal>

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace corvalen {

/// Decodes the UTF-8 sequence at p, of which n >= 1 bytes are there. Returns its length with
/// cp set when it is complete and well-formed (no overlong form, surrogate or code point beyond
/// U+10FFFF); -1 when the n bytes are a well-formed start that their end cuts off; 0 when it is
/// malformed (its first byte is then one bad byte).
inline int decodeUtf8(const uchar *p, qsizetype n, char32_t &cp)
{
    const uchar c = p[0];
    int len;
    if (c >= 0xC2 && c <= 0xDF)
        len = 2;
    else if (c >= 0xE0 && c <= 0xEF)
        len = 3;
    else if (c >= 0xF0 && c <= 0xF4)
        len = 4;
    else
        return 0;
    if (n < 2)
        return -1;
    // The second byte's range is narrower after E0, ED, F0 and F4: that rules out overlong
    // forms, surrogates and code points beyond U+10FFFF.
    const uchar second = p[1];
    bool fits;
    switch (c) {
    case 0xE0: fits = second >= 0xA0 && second <= 0xBF; break;
    case 0xED: fits = second >= 0x80 && second <= 0x9F; break;
    case 0xF0: fits = second >= 0x90 && second <= 0xBF; break;
    case 0xF4: fits = second >= 0x80 && second <= 0x8F; break;
    default: fits = (second & 0xC0) == 0x80;
    }
    if (!fits)
        return 0;
    cp = char32_t(c & (0x7F >> len)) << 6 | (second & 0x3F);
    for (int k = 2; k < len; ++k) {
        if (k >= n)
            return -1;
        if ((p[k] & 0xC0) != 0x80)
            return 0;
        cp = cp << 6 | (p[k] & 0x3F);
    }
    return len;
}

/// Writes code point cp as one or two UTF-16 units at o; returns the end of what it wrote.
inline char16_t *putUtf16(char16_t *o, char32_t cp)
{
    if (cp < 0x10000) {
        *o++ = char16_t(cp);
    } else {
        cp -= 0x10000;
        *o++ = char16_t(0xD800 + (cp >> 10));
        *o++ = char16_t(0xDC00 + (cp & 0x3FF));
    }
    return o;
}

/// Writes the UTF-8 of text at p (room for three bytes a unit), as QString::toUtf8() makes it: a
/// surrogate without its pair becomes '?', the same whether the text ends there or goes on.
/// Returns the end of what it wrote. For millions of short texts, where a QByteArray each costs
/// more than the encoding.
inline char *putUtf8(char *p, QStringView text)
{
    const char16_t *u = text.utf16();
    const qsizetype n = text.size();
    qsizetype i = 0;
#if defined(__SSE2__)
    const __m128i high = _mm_set1_epi16(short(0xff80));
#endif
    while (i < n) {
#if defined(__SSE2__)
        // Eight ASCII units at a time, while they are: most text is, around a few other letters.
        for (; i + 8 <= n; i += 8, p += 8) {
            const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i *>(u + i));
            if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(units, high), _mm_setzero_si128())) != 0xffff)
                break;
            _mm_storel_epi64(reinterpret_cast<__m128i *>(p), _mm_packus_epi16(units, units));
        }
        if (i == n)
            break;
#endif
        // The block that held another character, one unit at a time.
        for (const qsizetype stop = std::min(n, i + 8); i < stop;) {
            const char32_t c = u[i++];
            if (c < 0x80) {
                *p++ = char(c);
            } else if (c < 0x800) {
                *p++ = char(0xc0 | (c >> 6));
                *p++ = char(0x80 | (c & 0x3f));
            } else if (!QChar::isSurrogate(c)) {
                *p++ = char(0xe0 | (c >> 12));
                *p++ = char(0x80 | ((c >> 6) & 0x3f));
                *p++ = char(0x80 | (c & 0x3f));
            } else if (QChar::isHighSurrogate(c) && i < n && QChar::isLowSurrogate(u[i])) {
                const char32_t full = QChar::surrogateToUcs4(char16_t(c), u[i++]);
                *p++ = char(0xf0 | (full >> 18));
                *p++ = char(0x80 | ((full >> 12) & 0x3f));
                *p++ = char(0x80 | ((full >> 6) & 0x3f));
                *p++ = char(0x80 | (full & 0x3f));
            } else {
                *p++ = '?';
            }
        }
    }
    return p;
}

} // namespace corvalen
