#pragma once

// Scanning and cleaning: where a raw word ends, and what cleaning makes of it. Inline, because the
// counter calls them once per word.

#include <QtGlobal>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <array>
#include <cstddef>

namespace corvalen::counting {

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

inline constexpr AsciiTables kAscii = makeTables();

// Lower-cases what the cleaning table left: units from U+2500 on, pairing surrogates first. The
// simple mapping keeps a character in its plane, so the word keeps its length; applied to a
// character already lower-cased it changes nothing.
void lowerRest(char16_t *w, size_t n);

// What cleaning does to each unit below U+2500 (Latin, Greek, Cyrillic, Armenian ... the
// alphabets most texts use) when case is ignored, looked up instead of asked of Qt for every
// character: its simple lower-case form, or kDeleted for punctuation (no such unit lower-cases
// to U+FFFF).
inline constexpr char16_t kDeleted = 0xFFFF;

const std::array<char16_t, 0x2500> &ignoreCaseCleaning();

// Writes the cleaned form of the n units at in to out (room for n units); returns its length.
inline size_t cleanWord(char16_t *out, const char16_t *in, size_t n, bool ignoreCase)
{
    size_t k = 0;
    if (!ignoreCase) {
        for (size_t i = 0; i < n; ++i) {
            const char16_t c = in[i];
            out[k] = c;
            k += !(c < 128 && kAscii.punctuation[c]);
        }
        return k;
    }
    const char16_t *table = ignoreCaseCleaning().data();
    bool rest = false;
    for (size_t i = 0; i < n; ++i) {
        const char16_t c = in[i];
        if (c < 0x2500) {
            const char16_t u = table[c];
            out[k] = u;
            k += u != kDeleted;
        } else {
            out[k++] = c;
            rest = true;
        }
    }
    if (rest)
        lowerRest(out, k);
    return k;
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

} // namespace corvalen::counting
