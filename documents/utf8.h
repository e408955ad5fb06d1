#pragma once

namespace corvalen {

/// The length of the UTF-8 sequence that lead byte c starts, with its payload bits in bits;
/// 0 for a byte that cannot start a sequence (continuation bytes, overlong leads, beyond U+10FFFF).
inline int utf8SequenceLength(unsigned char c, char32_t &bits)
{
    if (c >= 0xC2 && c <= 0xDF) {
        bits = c & 0x1F;
        return 2;
    }
    if (c >= 0xE0 && c <= 0xEF) {
        bits = c & 0x0F;
        return 3;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        bits = c & 0x07;
        return 4;
    }
    return 0;
}

} // namespace corvalen
