// SPDX-License-Identifier: Apache-2.0
// Display tables shared by every ASCII and EBCDIC column of the tool.
//
// Display rule: a byte is shown as itself from 0x20 to 0x7D, else as '.'
// (0x7E and 0x7F included). EBCDIC bytes are first mapped to the ASCII
// character they stand for (0 where none), then shown by the same rule.
#pragma once

#include <cstdint>

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

}  // namespace drda
