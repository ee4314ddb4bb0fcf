// SPDX-License-Identifier: Apache-2.0
// The printer of code point values (the lookup is beside its table).
#include "ddm/codepoints.h"

#include <cstddef>

namespace drda {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// "%4.04X" of the code point taken as a signed 16-bit number widened to 32
// bits: four digits below 0x8000, else FFFF followed by the four digits.
void put_code_point_hex(TextWriter& out, std::uint16_t cp) {
    char* p = out.reserve(8);
    std::size_t n = 0;
    if (cp >= 0x8000) {
        for (int i = 0; i < 4; ++i) p[n++] = 'F';
    }
    for (int shift = 12; shift >= 0; shift -= 4) p[n++] = kHexDigits[(cp >> shift) & 0xF];
    out.commit(n);
}

}  // namespace

// Each 2-byte element of the value gives a code point line and a name line.
// An odd length leaves the last element its high byte only; the view reads
// the missing low byte as 0x00.
void print_codepoint_value(TextWriter& out, int depth, ByteView value) {
    for (std::size_t off = 0; off < value.size(); off += 2) {
        const std::uint16_t cp = value.be16(off);
        out.spaces(depth);
        out.put("CODE POINT DATA: ");
        put_code_point_hex(out, cp);
        out.put('\n');
        out.spaces(depth);
        out.put("NAME: ");
        out.put(lookup_codepoint(cp).description);
        out.put('\n');
    }
}

}  // namespace drda
