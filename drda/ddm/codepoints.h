// SPDX-License-Identifier: Apache-2.0
// The code point dictionary: every DDM code point the decoder knows by
// name, with the value kind that selects how its value is printed.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "common/byte_view.h"
#include "common/text_writer.h"

namespace drda {

enum ValueKind : int {
    kRawData = 1,
    kBinaryNumber = 2,
    kBoolean = 3,
    kCharString = 4,
    kCodePointValue = 5,
    kCollection = 6,
    kDssType = 7,
    kSpecial = 8,
    kHexString = 9,
};

struct CodePointEntry {
    std::uint16_t code;
    int kind;                       // a ValueKind
    std::string_view description;   // "SHORT - Title"
    std::string_view short_name;    // "SHORT"
};

// The whole table, entry 0 the fallback (0x0000, "UNKNOWN - UNKNOWN").
std::span<const CodePointEntry> codepoint_table();

// The entry of `cp`, or the fallback entry when the table has none: two
// indexed loads (the index is made from the table when it is compiled).
const CodePointEntry& lookup_codepoint(std::uint16_t cp);

// Kind-5 values: each 2-byte code point with its name, two lines apiece.
void print_codepoint_value(TextWriter& out, int depth, ByteView value);

}  // namespace drda
