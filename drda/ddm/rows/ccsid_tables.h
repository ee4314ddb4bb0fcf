// SPDX-License-Identifier: Apache-2.0
// Character sets that row values can be decoded from, by CCSID, with no
// run-time dependency: UTF-8 (1208), UTF-16 big-endian (1200, 13488) and
// little-endian (1202), and the single-byte code pages 367, 819, 1252, 37,
// 500 and 1047 as 256-entry tables to Unicode (ccsid_tables.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

namespace drda::rows {

enum class Encoding : std::uint8_t { kSingleByte, kUtf8, kUtf16Be, kUtf16Le };

struct Charset {
    std::uint32_t ccsid;
    Encoding encoding;
    const std::uint16_t* table;  // kSingleByte: byte -> code point, 0xFFFF = none
};

// The charset of `ccsid`, or nullptr when it is not supported.
const Charset* find_charset(std::uint32_t ccsid);

// Decodes the character at the start of `p` (n bytes available). Returns
// the number of bytes it takes (1 to 4) and sets `cp`; 0 when its bytes run
// past n (cut off); -1 when the bytes are not a character of the charset.
int decode_char(const Charset& cs, const std::uint8_t* p, std::size_t n, std::uint32_t& cp);

}  // namespace drda::rows
