// SPDX-License-Identifier: Apache-2.0
#include "ddm/rows/typdef.h"

#include <cstring>

#include "listing/display.h"

namespace drda::rows {
namespace {

struct NameRule {
    const char* name;
    bool little;
    bool ieee;
};

// Byte order and float format by TYPDEFNAM. Any other name: little-endian
// integers, floats shown raw.
constexpr NameRule kNames[] = {
    {"QTDSQLASC", false, true},
    {"QTDSQLJVM", false, true},
    {"QTDSQL400", false, true},
    {"QTDSQL370", false, false},  // IBM hexadecimal floating point
    {"QTDSQLX86", true, true},
    {"QTDSQLVAX", true, false},   // VAX floating point
};

constexpr std::uint16_t kCcsidSbc = 0x119C;
constexpr std::uint16_t kCcsidDbc = 0x119D;
constexpr std::uint16_t kCcsidMbc = 0x119E;

}  // namespace

void ddm_text(ByteView value, char* dst, std::size_t n) {
    if (n == 0) return;
    bool ascii = true;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const std::uint8_t b = value.u8(i);
        if (b < 0x20 || b > 0x7E) ascii = false;
    }
    std::size_t k = 0;
    for (std::size_t i = 0; i < value.size() && k + 1 < n; ++i) {
        std::uint8_t c = value.u8(i);
        if (!ascii) c = kEbcdicToAscii[c];
        dst[k++] = (c >= 0x20 && c <= 0x7E) ? static_cast<char>(c) : '?';
    }
    while (k > 0 && dst[k - 1] == ' ') --k;
    dst[k] = '\0';
}

void Typdef::set_name(ByteView value) {
    ddm_text(value, name, sizeof name);
    little = true;
    ieee = false;
    for (const NameRule& r : kNames) {
        if (std::strcmp(r.name, name) == 0) {
            little = r.little;
            ieee = r.ieee;
        }
    }
}

void Typdef::set_ccsids(ByteView members) {
    std::size_t off = 0;
    while (off + 4 <= members.size()) {
        const std::uint16_t ll = members.be16(off);
        const std::uint16_t cp = members.be16(off + 2);
        if (ll < 4 || ll > members.size() - off) break;
        const ByteView v = members.sub(off + 4, ll - 4u);
        std::uint32_t ccsid = 0;
        if (v.size() == 2) ccsid = v.be16(0);
        if (v.size() == 4) ccsid = v.be32(0);
        if (v.size() == 2 || v.size() == 4) {
            if (cp == kCcsidSbc) sbc = ccsid;
            if (cp == kCcsidDbc) dbc = ccsid;
            if (cp == kCcsidMbc) mbc = ccsid;
        }
        off += ll;
    }
}

std::uint32_t Typdef::ccsid(CharClass cls) const {
    switch (cls) {
        case CharClass::kSbc: return sbc;
        case CharClass::kDbc: return dbc;
        case CharClass::kMbc: return mbc;
        case CharClass::kNone: break;
    }
    return 0;
}

}  // namespace drda::rows
