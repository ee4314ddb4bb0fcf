// SPDX-License-Identifier: Apache-2.0
// SQLCARD: the SQL communications area reply data.
//
// Layout walked (offsets in the value):
//    0     SQLCAGRP null indicator: 0x00 present, 0xFF null, other: not an SQLCA
//    1- 4  SQLCODE, shown in both byte orders
//    5- 9  SQLSTATE, shown in hex
//   10-17  SQLERRPROC, shown as ASCII and EBCDIC
//   18     SQLCAXGRP null indicator: only 0x00 counts as present
//   19     SQLDIAGGRP null indicator (read only when the extended group is
//          null and the value goes on): only 0xFF counts as null
// A present extended or diagnostic group is dumped raw with everything that
// follows it.
#include "ddm/sqlcard.h"

#include "listing/display.h"

namespace drda {
namespace {

constexpr std::size_t kFixedPart = 19;  // SQLCAGRP indicator .. SQLCAXGRP indicator
constexpr const char* kNull = "Null (ff)";
constexpr const char* kNotNull = "Not Null (00)";

void label(TextWriter& out, int depth, const char* name, const char* state) {
    out.spaces(depth);
    out.put("* ");
    out.put(name);
    out.put(": ");
    out.put(state);
    out.put('\n');
}

}  // namespace

void print_sqlcard(TextWriter& out, int depth, ByteView value) {
    // An empty value, a value that is not an SQLCA, and an SQLCA too short
    // for its fixed fields are all shown as raw data.
    if (value.empty()) {
        print_data_dump(out, depth, value);
        return;
    }
    const std::uint8_t sqlcagrp = value.u8(0);
    if (sqlcagrp == 0xFF) {
        label(out, depth, "SQLCAGRP", kNull);
        return;
    }
    if (sqlcagrp != 0x00 || !value.has(0, kFixedPart)) {
        print_data_dump(out, depth, value);
        return;
    }
    label(out, depth, "SQLCAGRP", kNotNull);

    out.spaces(depth);
    out.put("* SQLCODE:\n");
    print_byte_reversed_int(out, depth + 2, value.sub(1, 4));

    out.spaces(depth);
    out.put("* SQLSTATE: ");
    char* p = out.reserve(2 * 5 + 1);
    for (std::size_t i = 0; i < 5; ++i) put_hex_pair(p + 2 * i, value.u8(5 + i));
    p[2 * 5] = '\n';
    out.commit(2 * 5 + 1);

    out.spaces(depth);
    out.put("* SQLERRPROC:\n");
    print_char_string(out, depth + 2, value.sub(10, 8));

    if (value.u8(18) == 0x00) {
        label(out, depth, "SQLCAXGRP", kNotNull);
        print_data_dump(out, depth + 2, value.sub(kFixedPart));
        return;
    }
    label(out, depth, "SQLCAXGRP", kNull);

    if (value.size() <= kFixedPart) return;
    if (value.u8(19) == 0xFF) {
        label(out, depth, "SQLDIAGGRP", kNull);
        return;
    }
    label(out, depth, "SQLDIAGGRP", kNotNull);
    print_data_dump(out, depth + 2, value.sub(kFixedPart + 1));
}

}  // namespace drda
