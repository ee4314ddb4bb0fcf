// SPDX-License-Identifier: Apache-2.0
// Code tables of the enumerated value decoders (internal to the decoder).
//
// Each table is constant data: rows of a code and the meaning text shown for
// it, searched from the first row (the first match counts). Meaning texts
// are kept letter for letter, typos and double blanks included.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace drda::codes {

struct CodeRow {
    std::int32_t code;
    std::string_view text;
};

using CodeTable = std::span<const CodeRow>;

// A bit set's flags in output order, and the text for a value of no bits.
struct FlagTable {
    CodeTable flags;
    std::string_view none_text;
};

// Reply message and security codes.
extern const CodeTable kSvrcod;
extern const CodeTable kSynerrcd;
extern const CodeTable kPrccnvcd;
extern const CodeTable kDeperrcd;
extern const CodeTable kDscerrcd;
extern const CodeTable kSecchkcd;
extern const CodeTable kSecmec;
extern const CodeTable kEncalg;
extern const CodeTable kEnckeylen;

// Sync point, XA and query attribute codes.
extern const CodeTable kSynctype;
extern const CodeTable kRsynctyp;
extern const CodeTable kUowstate;
extern const CodeTable kTypsqlda;
extern const CodeTable kXaretval;

// Bit sets. kXaflags.flags keeps the zero-mask row "No Flags" as its first
// row; a zero mask never matches a set bit, so it only serves as none_text.
extern const FlagTable kXaflags;
extern const FlagTable kRslsetflg;

// Fixed lists: one-byte values whose texts carry the code themselves.
extern const CodeTable kUowdsp;
extern const CodeTable kCmmtyp;
extern const CodeTable kOutovropt;
extern const CodeTable kPkgathrul;
extern const CodeTable kQryattsns;
extern const CodeTable kQryattupd;
extern const CodeTable kQryscrorn;
extern const CodeTable kRtnextdta;

}  // namespace drda::codes
