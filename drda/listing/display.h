// SPDX-License-Identifier: Apache-2.0
// Display tables shared by every ASCII and EBCDIC column of the tool.
//
// Display rule: a byte is shown as itself from 0x20 to 0x7D, else as '.'
// (0x7E and 0x7F included). EBCDIC bytes are first mapped to the ASCII
// character they stand for (0 where none), then shown by the same rule.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
inline void put_hex_pair(char* dst, std::uint8_t b) { std::memcpy(dst, kHexPairs + 2 * unsigned{b}, 2); }

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

// Two bytes (as they lie in memory, read as one native 16-bit word) ->
// their two EBCDIC column characters (stored the same way).
extern const std::array<std::uint16_t, 65536> kEbcdicPairDisplay;

// The EBCDIC column of eight bytes, two bytes per table lookup.
inline void put_ebcdic_eight(char* dst, const std::uint8_t* p) {
    for (int j = 0; j < 8; j += 2) {
        std::uint16_t pair;
        std::memcpy(&pair, p + j, 2);
        std::memcpy(dst + j, &kEbcdicPairDisplay[pair], 2);
    }
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

// A full line's 16 bytes: their hex digits as two groups of 16 characters
// (at `first` and `second`) and their ASCII column (16 characters at
// `ascii`). With SSE2 (every x86-64) all 16 bytes are done at once: each
// nibble n becomes '0' + n, plus 7 from 10 up; the ASCII rule is two
// signed compares (bytes from 0x80 are negative). Elsewhere eight at a time.
inline void put_hex_ascii_sixteen(char* first, char* second, char* ascii, const std::uint8_t* p) {
#if defined(__SSE2__)
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i nibble = _mm_set1_epi8(0x0F);
    const auto digits = [](__m128i n) {
        const __m128i letter = _mm_cmpgt_epi8(n, _mm_set1_epi8(9));
        return _mm_add_epi8(_mm_add_epi8(n, _mm_set1_epi8('0')), _mm_and_si128(letter, _mm_set1_epi8(7)));
    };
    const __m128i hi = digits(_mm_and_si128(_mm_srli_epi16(x, 4), nibble));
    const __m128i lo = digits(_mm_and_si128(x, nibble));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(first), _mm_unpacklo_epi8(hi, lo));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(second), _mm_unpackhi_epi8(hi, lo));
    const __m128i shown = _mm_and_si128(_mm_cmpgt_epi8(x, _mm_set1_epi8(0x1F)), _mm_cmplt_epi8(x, _mm_set1_epi8(0x7E)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(ascii),
                     _mm_or_si128(_mm_and_si128(shown, x), _mm_andnot_si128(shown, _mm_set1_epi8('.'))));
#else
    put_hex_eight(first, p);
    put_hex_eight(second, p + 8);
    put_ascii_eight(ascii, p);
    put_ascii_eight(ascii + 8, p + 8);
#endif
}

}  // namespace drda
