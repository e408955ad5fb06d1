#pragma once

#include <QtGlobal>

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

} // namespace corvalen
