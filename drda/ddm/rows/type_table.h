// SPDX-License-Identifier: Apache-2.0
// The DRDA data types that a row descriptor (N-GDA/CPT entry) may name:
// how a value of each type is laid out in a row and how it is shown.
//
// The table itself is constant data in type_table.cpp, one row per type
// pair (even = not nullable, the odd code one above it = nullable).
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace drda::rows {

// How many bytes a value takes in the row.
enum class Layout : std::uint8_t {
    kNone,        // no layout known: the row stream cannot go past it
    kFixed,       // the table's fixed size
    kLengthWord,  // the entry's length word (x2 for graphic types)
    kPrefix2,     // 2-byte big-endian length, then that many bytes (x2 graphic)
    kPrefix1,     // 1-byte length, then that many bytes
    kPacked,      // packed decimal: precision/2 + 1 bytes (length word p<<8|s)
    kDigits,      // zoned / numeric character: precision bytes
    kLob,         // placeholder: length word 80nn, nn bytes of LOB length
};

// How a value is shown.
enum class Form : std::uint8_t {
    kInteger,   // signed, TYPDEF byte order
    kFloat,     // IEEE (or raw, by TYPDEF)
    kDecimal,   // packed decimal, exact
    kChars,     // characters in a CCSID
    kBinary,    // X'..'
    kBoolean,   // 00 false, 01 true
    kLob,       // LOB placeholder
    kRaw,       // shown as X'..' (FLOAT16, DECFLOAT, zoned, numeric char)
};

// Which CCSID of the TYPDEF applies to a character type.
enum class CharClass : std::uint8_t { kNone, kSbc, kDbc, kMbc };

struct TypeRow {
    std::uint8_t code;       // the even (not nullable) code
    std::string_view name;   // shown as
    Layout layout;
    std::uint8_t fixed;      // bytes, for Layout::kFixed
    CharClass cls;
    Form form;
    bool graphic;            // lengths count 2-byte characters
};

// The whole table, sorted by code, even codes only.
std::span<const TypeRow> type_table();

namespace detail {
extern const std::array<const TypeRow*, 256> kTypeOfCode;
}  // namespace detail

// The row of `code` (either parity), or nullptr when the type is unknown.
// Looked up for every value of every row, so inline.
inline const TypeRow* find_type(std::uint8_t code) { return detail::kTypeOfCode[code]; }

}  // namespace drda::rows
