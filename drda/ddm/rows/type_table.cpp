// SPDX-License-Identifier: Apache-2.0
// The DRDA type table: one row per type pair, in code order. Codes are the
// even (not nullable) members; code + 1 is the nullable form, whose value
// has a one-byte null indicator in front.
#include "ddm/rows/type_table.h"

#include <array>

namespace drda::rows {
namespace {

using L = Layout;
using F = Form;
using C = CharClass;

constexpr TypeRow kTypes[] = {
    // code  shown as               layout         fixed class   form        graphic
    {0x02, "INTEGER",              L::kFixed,      4, C::kNone, F::kInteger, false},
    {0x04, "SMALLINT",             L::kFixed,      2, C::kNone, F::kInteger, false},
    {0x06, "TINYINT",              L::kFixed,      1, C::kNone, F::kInteger, false},
    {0x08, "FLOAT16",              L::kLengthWord, 0, C::kNone, F::kRaw,     false},
    {0x0A, "FLOAT8",               L::kFixed,      8, C::kNone, F::kFloat,   false},
    {0x0C, "FLOAT4",               L::kFixed,      4, C::kNone, F::kFloat,   false},
    {0x0E, "DECIMAL",              L::kPacked,     0, C::kNone, F::kDecimal, false},
    {0x10, "ZONED DECIMAL",        L::kDigits,     0, C::kNone, F::kRaw,     false},
    {0x12, "NUMERIC CHAR",         L::kDigits,     0, C::kNone, F::kRaw,     false},
    {0x14, "RESULT SET LOCATOR",   L::kFixed,      4, C::kNone, F::kInteger, false},
    {0x16, "BIGINT",               L::kFixed,      8, C::kNone, F::kInteger, false},
    {0x18, "BLOB LOCATOR",         L::kFixed,      4, C::kNone, F::kInteger, false},
    {0x1A, "CLOB LOCATOR",         L::kFixed,      4, C::kNone, F::kInteger, false},
    {0x1C, "DBCLOB LOCATOR",       L::kFixed,      4, C::kNone, F::kInteger, false},
    {0x1E, "ROWID",                L::kPrefix2,    0, C::kNone, F::kBinary,  false},
    {0x20, "DATE",                 L::kLengthWord, 0, C::kSbc,  F::kChars,   false},
    {0x22, "TIME",                 L::kLengthWord, 0, C::kSbc,  F::kChars,   false},
    {0x24, "TIMESTAMP",            L::kLengthWord, 0, C::kSbc,  F::kChars,   false},
    {0x26, "BINARY",               L::kLengthWord, 0, C::kNone, F::kBinary,  false},
    {0x28, "VARBINARY",            L::kPrefix2,    0, C::kNone, F::kBinary,  false},
    {0x2A, "LONG VARBINARY",       L::kPrefix2,    0, C::kNone, F::kBinary,  false},
    {0x2C, "NTS BINARY",           L::kLengthWord, 0, C::kNone, F::kBinary,  false},
    {0x2E, "NTS CHAR",             L::kLengthWord, 0, C::kSbc,  F::kChars,   false},
    {0x30, "CHAR",                 L::kLengthWord, 0, C::kSbc,  F::kChars,   false},
    {0x32, "VARCHAR",              L::kPrefix2,    0, C::kSbc,  F::kChars,   false},
    {0x34, "LONG VARCHAR",         L::kPrefix2,    0, C::kSbc,  F::kChars,   false},
    {0x36, "GRAPHIC",              L::kLengthWord, 0, C::kDbc,  F::kChars,   true},
    {0x38, "VARGRAPHIC",           L::kPrefix2,    0, C::kDbc,  F::kChars,   true},
    {0x3A, "LONG VARGRAPHIC",      L::kPrefix2,    0, C::kDbc,  F::kChars,   true},
    {0x3C, "CHAR MIXED",           L::kLengthWord, 0, C::kMbc,  F::kChars,   false},
    {0x3E, "VARCHAR MIXED",        L::kPrefix2,    0, C::kMbc,  F::kChars,   false},
    {0x40, "LONG VARCHAR MIXED",   L::kPrefix2,    0, C::kMbc,  F::kChars,   false},
    {0x42, "NTS MIXED",            L::kLengthWord, 0, C::kMbc,  F::kChars,   false},
    {0x44, "PASCAL BINARY",        L::kPrefix1,    0, C::kNone, F::kBinary,  false},
    {0x46, "PASCAL CHAR",          L::kPrefix1,    0, C::kSbc,  F::kChars,   false},
    {0x48, "PASCAL MIXED",         L::kPrefix1,    0, C::kMbc,  F::kChars,   false},
    {0x4C, "DATALINK",             L::kPrefix2,    0, C::kSbc,  F::kChars,   false},
    {0x4E, "DATALINK MIXED",       L::kPrefix2,    0, C::kMbc,  F::kChars,   false},
    {0x50, "UDT",                  L::kPrefix2,    0, C::kNone, F::kBinary,  false},
    {0xBA, "DECFLOAT",             L::kLengthWord, 0, C::kNone, F::kRaw,     false},
    {0xBE, "BOOLEAN",              L::kFixed,      1, C::kNone, F::kBoolean, false},
    {0xC0, "BINARY",               L::kLengthWord, 0, C::kNone, F::kBinary,  false},
    {0xC2, "VARBINARY",            L::kPrefix2,    0, C::kNone, F::kBinary,  false},
    {0xC8, "BLOB",                 L::kLob,        0, C::kNone, F::kLob,     false},
    {0xCA, "CLOB",                 L::kLob,        0, C::kSbc,  F::kLob,     false},
    {0xCC, "DBCLOB",               L::kLob,        0, C::kDbc,  F::kLob,     true},
    {0xCE, "CLOB MIXED",           L::kLob,        0, C::kMbc,  F::kLob,     false},
};

// The row of each code, both parities, nullptr for none: direct lookup.
constexpr std::array<const TypeRow*, 256> make_index() {
    std::array<const TypeRow*, 256> index{};
    for (const TypeRow& row : kTypes) {
        index[row.code] = &row;
        index[row.code + 1u] = &row;
    }
    return index;
}

}  // namespace

namespace detail {
constinit const std::array<const TypeRow*, 256> kTypeOfCode = make_index();
}  // namespace detail

std::span<const TypeRow> type_table() { return kTypes; }

}  // namespace drda::rows
