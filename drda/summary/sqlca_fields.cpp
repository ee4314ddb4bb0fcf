// SPDX-License-Identifier: Apache-2.0
// SQLCA layout read here (offsets in the value):
//    0     SQLCAGRP null indicator (0x00 present, 0xFF null)
//    1- 4  SQLCODE (TYPDEF byte order)
//    5- 9  SQLSTATE
//   10-17  SQLERRPROC
//   18     SQLCAXGRP null indicator; when present:
//          [SQLAM 6 and below: SQLRDBNME, 18 bytes]
//          SQLERRD1-6 (6 x 4 bytes, TYPDEF order), SQLWARN0-A (11 bytes),
//          [SQLAM 7 and above: SQLRDBNAME, 2-byte length + bytes]
//          SQLERRMSG_m, SQLERRMSG_s (each 2-byte length + bytes)
#include "summary/sqlca_fields.h"

namespace drda::summary {
namespace {

// EBCDIC digits and capitals as ASCII, for an SQLSTATE sent in EBCDIC.
char sqlstate_char(std::uint8_t b) {
    if (b >= 0x20 && b <= 0x7E) return static_cast<char>(b);
    if (b >= 0xF0 && b <= 0xF9) return static_cast<char>('0' + (b - 0xF0));
    if (b >= 0xC1 && b <= 0xC9) return static_cast<char>('A' + (b - 0xC1));
    if (b >= 0xD1 && b <= 0xD9) return static_cast<char>('J' + (b - 0xD1));
    if (b >= 0xE2 && b <= 0xE9) return static_cast<char>('S' + (b - 0xE2));
    if (b == 0x40) return ' ';
    return '?';
}

std::int32_t int32(ByteView v, std::size_t off, bool little) {
    if (!little) return v.sbe32(off);
    const std::uint32_t u = std::uint32_t{v.u8(off)} | std::uint32_t{v.u8(off + 1)} << 8 |
                            std::uint32_t{v.u8(off + 2)} << 16 | std::uint32_t{v.u8(off + 3)} << 24;
    return static_cast<std::int32_t>(u);
}

void split_tokens(ByteView msg, std::vector<std::string>& tokens) {
    const ByteView kept = msg.first(kTokenBytes);
    std::size_t start = 0;
    for (std::size_t i = 0; i <= kept.size() && tokens.size() < kMaxTokens; ++i) {
        if (i < kept.size() && kept.u8(i) != 0xFF && kept.u8(i) != 0x14) continue;
        tokens.emplace_back(reinterpret_cast<const char*>(kept.data()) + start, i - start);
        start = i + 1;
    }
}

}  // namespace

bool read_sqlcard(ByteView v, bool little, int sqlam, SqlcaFields& out) {
    out = SqlcaFields();
    if (v.empty()) return false;
    if (v.u8(0) == 0xFF) {
        out.null_ca = true;
        return true;
    }
    if (v.u8(0) != 0x00 || !v.has(0, 19)) return false;
    out.sqlcode = int32(v, 1, little);
    for (std::size_t i = 0; i < 5; ++i) out.sqlstate[i] = sqlstate_char(v.u8(5 + i));
    out.sqlstate[5] = '\0';
    if (v.u8(18) != 0x00) return true;
    std::size_t off = 19;
    if (sqlam < 7) off += 18;
    if (!v.has(off, 24)) return true;
    out.has_errd = true;
    out.sqlerrd3 = int32(v, off + 8, little);
    off += 24 + 11;
    if (sqlam >= 7) {
        if (!v.has(off, 2)) return true;
        off += 2u + v.be16(off);
    }
    ByteView fields[2];
    for (ByteView& f : fields) {
        if (!v.has(off, 2)) break;
        const std::size_t n = v.be16(off);
        f = v.sub(off + 2, n);
        off += 2 + n;
    }
    const bool mixed = !fields[0].empty() || fields[1].empty();
    out.tokens_from_mixed = mixed;
    const ByteView msg = mixed ? fields[0] : fields[1];
    if (!msg.empty()) split_tokens(msg, out.tokens);
    return true;
}

}  // namespace drda::summary
