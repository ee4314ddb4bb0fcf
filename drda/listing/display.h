// SPDX-License-Identifier: Apache-2.0
// Display tables shared by every ASCII and EBCDIC column of the tool.
//
// Display rule: a byte is shown as itself from 0x20 to 0x7D, else as '.'
// (0x7E and 0x7F included). EBCDIC bytes are first mapped to the ASCII
// character they stand for (0 where none), then shown by the same rule.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace drda {

// EBCDIC code point -> ASCII value of its character, or 0 (ebcdic_table.cpp).
extern const std::uint8_t kEbcdicToAscii[256];

// Byte -> character shown for it in an ASCII column.
extern const char kAsciiDisplay[256];
// Byte -> character shown for it in an EBCDIC column.
extern const char kEbcdicDisplay[256];
// Byte -> its two upper-case hex digits (kHexPairs[2*b], kHexPairs[2*b+1]).
extern const char kHexPairs[512];

inline char ascii_display(std::uint8_t b) { return kAsciiDisplay[b]; }
inline char ebcdic_display(std::uint8_t b) { return kEbcdicDisplay[b]; }
inline void put_hex_pair(char* dst, std::uint8_t b) {
    dst[0] = kHexPairs[2 * b];
    dst[1] = kHexPairs[2 * b + 1];
}

// Whole groups of eight bytes for the dumps: the characters of a group are
// gathered in one word and stored at once (the first character at the
// lowest address).
inline constexpr bool kLittleEndian = std::endian::native == std::endian::little;

// Eight characters from a 256-entry table.
inline void put_eight(char* dst, const char* table, const std::uint8_t* p) {
    std::uint64_t w = 0;
    for (int j = 0; j < 8; ++j) {
        const std::uint64_t c = static_cast<std::uint8_t>(table[p[j]]);
        w |= kLittleEndian ? c << (8 * j) : c << (56 - 8 * j);
    }
    std::memcpy(dst, &w, 8);
}

// The ASCII column of eight bytes, computed on the word as a whole: in
// each byte, the top bit of `ok` is set when the byte is 0x20 to 0x7D;
// those bytes stay, the others become '.'. Same text as kAsciiDisplay.
inline void put_ascii_eight(char* dst, const std::uint8_t* p) {
    constexpr std::uint64_t kOnes = 0x0101010101010101u;
    constexpr std::uint64_t kHigh = 0x8080808080808080u;
    constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Fu;
    std::uint64_t x;
    std::memcpy(&x, p, 8);
    const std::uint64_t low = x & kLow7;
    const std::uint64_t ok = ~x & (low + kOnes * 0x60) & ~(low + kOnes * 0x02) & kHigh;
    const std::uint64_t keep = (ok >> 7) * 0xFF;
    const std::uint64_t w = (x & keep) | (kOnes * '.' & ~keep);
    std::memcpy(dst, &w, 8);
}

// The two hex digits of each of eight bytes, as two words.
inline void put_hex_eight(char* dst, const std::uint8_t* p) {
    std::uint64_t w[2] = {0, 0};
    for (int j = 0; j < 8; ++j) {
        std::uint16_t pair;
        std::memcpy(&pair, kHexPairs + 2 * p[j], 2);
        const int k = j & 3;
        w[j >> 2] |= std::uint64_t{pair} << (kLittleEndian ? 16 * k : 48 - 16 * k);
    }
    std::memcpy(dst, w, 16);
}

}  // namespace drda
