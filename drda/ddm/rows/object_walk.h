// SPDX-License-Identifier: Apache-2.0
// The DDM objects of a DSS payload or of a collection's value, read one by
// one: LL (2 bytes; with bit 0x8000 the low bits give a header of 4 to 12
// bytes whose extra bytes hold the length, 4 meaning "to the end of the
// area"), code point (2 bytes), value.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/byte_view.h"

namespace drda::rows {

struct Obj {
    ByteView whole;
    ByteView value;
    std::uint16_t cp = 0;
};

// The object at `off` of `area`; false when no whole object can be read.
inline bool object_at(ByteView area, std::size_t off, Obj& o) {
    if (!area.has(off, 4)) return false;
    const std::size_t rest = area.size() - off;
    const std::uint16_t ll = area.be16(off);
    std::size_t hs = 4;
    std::size_t len;
    if (ll & 0x8000u) {
        hs = ll & 0x7FFFu;
        if (hs == 4) {
            len = rest;  // streamed to the end of the enclosing area
        } else if (hs > 4 && hs <= 12 && rest >= hs) {
            std::uint64_t ext = 0;
            for (std::size_t i = 4; i < hs; ++i) ext = (ext << 8) | area.u8(off + i);
            if (ext > rest - hs) return false;
            len = hs + static_cast<std::size_t>(ext);
        } else {
            return false;
        }
    } else {
        if (ll < 4) return false;
        len = ll;
    }
    if (len > rest) return false;
    o.whole = area.sub(off, len);
    o.value = area.sub(off + hs, len - hs);
    o.cp = area.be16(off + 2);
    return true;
}

template <class F>
void for_each_member(ByteView v, F f) {
    Obj m;
    for (std::size_t off = 0; object_at(v, off, m); off += m.whole.size()) f(m);
}

// The text of an SQLSTT value: two nullable character LOBs with 4-byte
// lengths, mixed then single-byte; the first present one is the text.
// `single_byte` tells which it was. With neither readable, the whole value.
inline ByteView sqlstt_text(ByteView v, bool& single_byte) {
    std::size_t off = 0;
    single_byte = false;
    for (int i = 0; i < 2 && off < v.size(); ++i) {
        const std::uint8_t ind = v.u8(off++);
        if (ind >= 0x80) continue;
        if (!v.has(off, 4)) break;
        const std::uint32_t len = v.be32(off);
        off += 4;
        if (!v.has(off, len)) break;
        single_byte = i == 1;
        return v.sub(off, len);
    }
    return v;
}

}  // namespace drda::rows
