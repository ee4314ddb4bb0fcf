// SPDX-License-Identifier: Apache-2.0
// Enumerated value decoders.
//
// Every decoder here is a constant descriptor interpreted by one of two
// small functions:
//   - print_coded: a code (or a list of codes) looked up in a code table and
//     shown as its meaning with the code behind it, or as "Unknown (...)";
//     the fixed-list decoders are the same with a bare meaning;
//   - print_flags: a bit set, one text per named bit that is set.
// Meanings are composed in a local string, so they are never cut and no
// call sees text from an earlier one. A value too short for the code its
// decoder reads is shown whole as a data dump; nothing behind it is read.
#include "ddm/enum_decoders.h"

#include <cstdint>
#include <cstdio>
#include <string>

#include "ddm/code_tables.h"
#include "listing/display.h"

namespace drda {
namespace {

using codes::CodeRow;
using codes::CodeTable;
using codes::FlagTable;

// Where the code comes from.
enum class Read : std::uint8_t {
    Byte,    // first byte, 0 to 255
    Int16,   // first 2 bytes, big-endian, signed, widened to 32 bits
    Int32,   // first 4 bytes, big-endian, signed
    List16,  // every 2 bytes, big-endian, signed; one line per code. A
             // missing low byte of an odd-length value reads as 0x00.
};

// How a code is written inside "(...)".
enum class Code : std::uint8_t {
    None,       // not written: the meaning alone (fixed lists carry the code)
    Hex2,       // "%#2.02X": '00', '0X0E'
    Hex4,       // "%#4.04X": '0000', '0X0008', '0XFFFFFFFF'
    PlainHex2,  // "%2.02X":  '03'
    Decimal,    // "%d"
    Char,       // the code byte as a character under the display rule
};

enum class Manner : std::uint8_t {
    OneLine,  // depth spaces, the meaning, "\n", whatever its length
    Wrapped,  // depth spaces, then the wrapped text writer at the same depth
};

// Found: "<text>" followed by " (<code>)" unless `found` is None.
// Not found: "Unknown (<code>)".
struct CodedValue {
    const CodeTable* table;
    Read read;
    Code found;
    Code unknown;
    Manner manner;
};

enum class FlagLayout : std::uint8_t {
    LinesBelow,  // "FLAGS: %8.8X\n", then one line per flag at depth + 2
    Joined,      // "FLAG: %#2.02X" and "<text>, " per flag, wrapped
};

struct FlagValue {
    const FlagTable* table;
    Read read;  // Byte or Int32; the mask is the code's bits
    FlagLayout layout;
};

std::size_t code_size(Read read) {
    switch (read) {
        case Read::Byte: return 1;
        case Read::Int16:
        case Read::List16: return 2;
        case Read::Int32: return 4;
    }
    return 1;
}

std::int32_t read_code(ByteView value, std::size_t off, Read read) {
    switch (read) {
        case Read::Byte: return value.u8(off);
        case Read::Int16:
        case Read::List16: return value.sbe16(off);
        case Read::Int32: return value.sbe32(off);
    }
    return 0;
}

void append_code(std::string& s, Code style, std::int32_t code) {
    const auto bits = static_cast<unsigned>(code);
    char buf[16];
    int n = 0;
    switch (style) {
        case Code::None: return;
        case Code::Hex2: n = std::snprintf(buf, sizeof buf, "%#2.02X", bits); break;
        case Code::Hex4: n = std::snprintf(buf, sizeof buf, "%#4.04X", bits); break;
        case Code::PlainHex2: n = std::snprintf(buf, sizeof buf, "%2.02X", bits); break;
        case Code::Decimal: n = std::snprintf(buf, sizeof buf, "%d", code); break;
        case Code::Char: s += ascii_display(static_cast<std::uint8_t>(bits)); return;
    }
    if (n > 0) s.append(buf, static_cast<std::size_t>(n));
}

const CodeRow* find_row(const CodeTable& table, std::int32_t code) {
    for (const CodeRow& row : table)
        if (row.code == code) return &row;
    return nullptr;
}

std::string compose(const CodedValue& d, std::int32_t code) {
    std::string meaning;
    if (const CodeRow* row = find_row(*d.table, code)) {
        meaning = row->text;
        if (d.found == Code::None) return meaning;
        meaning += " (";
        append_code(meaning, d.found, code);
    } else {
        meaning = "Unknown (";
        append_code(meaning, d.unknown, code);
    }
    meaning += ')';
    return meaning;
}

void write_meaning(TextWriter& out, int depth, Manner manner, const std::string& meaning) {
    write_indent(out, depth);
    if (manner == Manner::Wrapped) {
        write_wrapped(out, depth, meaning);
    } else {
        out.put(meaning);
        out.put('\n');
    }
}

void print_coded(TextWriter& out, int depth, ByteView value, const CodedValue& d) {
    const std::size_t step = code_size(d.read);
    if (d.read == Read::List16) {
        for (std::size_t off = 0; off < value.size(); off += step)
            write_meaning(out, depth, d.manner, compose(d, read_code(value, off, d.read)));
        return;
    }
    if (value.size() < step) {
        print_data_dump(out, depth, value);
        return;
    }
    write_meaning(out, depth, d.manner, compose(d, read_code(value, 0, d.read)));
}

void print_flags(TextWriter& out, int depth, ByteView value, const FlagValue& d) {
    if (value.size() < code_size(d.read)) {
        print_data_dump(out, depth, value);
        return;
    }
    const auto mask = static_cast<std::uint32_t>(read_code(value, 0, d.read));
    const CodeTable& flags = d.table->flags;
    write_indent(out, depth);
    if (d.layout == FlagLayout::LinesBelow) {
        out.printf("FLAGS: %8.8X\n", mask);
        if (mask == 0) {
            write_indent(out, depth + 2);
            out.put(d.table->none_text);
            out.put('\n');
            return;
        }
        for (const CodeRow& row : flags) {
            if ((static_cast<std::uint32_t>(row.code) & mask) == 0) continue;
            write_indent(out, depth + 2);
            out.put(row.text);
            out.put('\n');
        }
        return;
    }
    out.printf("FLAG: %#2.02X", mask);
    std::string meaning;
    if (mask == 0) {
        meaning = d.table->none_text;
    } else {
        for (const CodeRow& row : flags) {
            if ((static_cast<std::uint32_t>(row.code) & mask) == 0) continue;
            meaning += row.text;
            meaning += ", ";
        }
    }
    write_wrapped(out, depth, meaning);
}

// clang-format off
//                                  table               read           found          unknown          manner
constexpr CodedValue kSvrcod    {&codes::kSvrcod,    Read::Int16,  Code::Hex4,    Code::Hex4,      Manner::OneLine};
constexpr CodedValue kSynerrcd  {&codes::kSynerrcd,  Read::Byte,   Code::Hex2,    Code::Char,      Manner::Wrapped};
constexpr CodedValue kPrccnvcd  {&codes::kPrccnvcd,  Read::Byte,   Code::Hex2,    Code::Char,      Manner::Wrapped};
constexpr CodedValue kDeperrcd  {&codes::kDeperrcd,  Read::Byte,   Code::Hex2,    Code::Char,      Manner::Wrapped};
constexpr CodedValue kDscerrcd  {&codes::kDscerrcd,  Read::Byte,   Code::Hex2,    Code::Char,      Manner::Wrapped};
constexpr CodedValue kSecchkcd  {&codes::kSecchkcd,  Read::Byte,   Code::Hex2,    Code::Char,      Manner::OneLine};
constexpr CodedValue kSecmec    {&codes::kSecmec,    Read::List16, Code::Decimal, Code::Decimal,   Manner::OneLine};
constexpr CodedValue kEncalg    {&codes::kEncalg,    Read::List16, Code::Decimal, Code::Decimal,   Manner::OneLine};
constexpr CodedValue kEnckeylen {&codes::kEnckeylen, Read::List16, Code::Decimal, Code::Decimal,   Manner::OneLine};
constexpr CodedValue kSynctype  {&codes::kSynctype,  Read::Byte,   Code::Hex2,    Code::Char,      Manner::OneLine};
constexpr CodedValue kRsynctyp  {&codes::kRsynctyp,  Read::Byte,   Code::Hex2,    Code::Char,      Manner::Wrapped};
constexpr CodedValue kUowstate  {&codes::kUowstate,  Read::Byte,   Code::Hex2,    Code::Char,      Manner::OneLine};
constexpr CodedValue kTypsqlda  {&codes::kTypsqlda,  Read::Byte,   Code::Hex2,    Code::Char,      Manner::OneLine};
constexpr CodedValue kXaretval  {&codes::kXaretval,  Read::Int32,  Code::Decimal, Code::Decimal,   Manner::OneLine};
constexpr CodedValue kUowdsp    {&codes::kUowdsp,    Read::Byte,   Code::None,    Code::PlainHex2, Manner::OneLine};
constexpr CodedValue kCmmtyp    {&codes::kCmmtyp,    Read::Byte,   Code::None,    Code::PlainHex2, Manner::OneLine};
constexpr CodedValue kOutovropt {&codes::kOutovropt, Read::Byte,   Code::None,    Code::PlainHex2, Manner::OneLine};
constexpr CodedValue kPkgathrul {&codes::kPkgathrul, Read::Byte,   Code::None,    Code::PlainHex2, Manner::Wrapped};
constexpr CodedValue kQryattsns {&codes::kQryattsns, Read::Byte,   Code::None,    Code::PlainHex2, Manner::OneLine};
constexpr CodedValue kQryattupd {&codes::kQryattupd, Read::Byte,   Code::None,    Code::PlainHex2, Manner::OneLine};
constexpr CodedValue kQryscrorn {&codes::kQryscrorn, Read::Byte,   Code::None,    Code::PlainHex2, Manner::OneLine};
constexpr CodedValue kRtnextdta {&codes::kRtnextdta, Read::Byte,   Code::None,    Code::PlainHex2, Manner::OneLine};

constexpr FlagValue kXaflags    {&codes::kXaflags,   Read::Int32,  FlagLayout::LinesBelow};
constexpr FlagValue kRslsetflg  {&codes::kRslsetflg, Read::Byte,   FlagLayout::Joined};
// clang-format on

}  // namespace

void print_svrcod(TextWriter& out, int depth, ByteView value) { print_coded(out, depth, value, kSvrcod); }
void print_synerrcd(TextWriter& out, int depth, ByteView value) { print_coded(out, depth, value, kSynerrcd); }
void print_prccnvcd(TextWriter& out, int depth, ByteView value) { print_coded(out, depth, value, kPrccnvcd); }
void print_deperrcd(TextWriter& out, int depth, ByteView value) { print_coded(out, depth, value, kDeperrcd); }
void print_dscerrcd(TextWriter& out, int depth, ByteView value) { print_coded(out, depth, value, kDscerrcd); }
void print_secchkcd(TextWriter& out, int depth, ByteView value) { print_coded(out, depth, value, kSecchkcd); }
void print_secmec(TextWriter& out, int depth, ByteView value) { print_coded(out, depth, value, kSecmec); }
void print_encalg(TextWriter& out, int depth, ByteView value) { print_coded(out, depth, value, kEncalg); }
void print_enckeylen(TextWriter& out, int depth, ByteView value) { print_coded(out, depth, value, kEnckeylen); }

void print_synctype(TextWriter& out, int depth, ByteView value) { print_coded(out, depth, value, kSynctype); }
void print_rsynctyp(TextWriter& out, int depth, ByteView value) { print_coded(out, depth, value, kRsynctyp); }
void print_uowstate(TextWriter& out, int depth, ByteView value) { print_coded(out, depth, value, kUowstate); }
void print_typsqlda(TextWriter& out, int depth, ByteView value) { print_coded(out, depth, value, kTypsqlda); }
void print_xaretval(TextWriter& out, int depth, ByteView value) { print_coded(out, depth, value, kXaretval); }
void print_xaflags(TextWriter& out, int depth, ByteView value) { print_flags(out, depth, value, kXaflags); }
void print_rslsetflg(TextWriter& out, int depth, ByteView value) { print_flags(out, depth, value, kRslsetflg); }
void print_uowdsp(TextWriter& out, int depth, ByteView value) { print_coded(out, depth, value, kUowdsp); }
void print_cmmtyp(TextWriter& out, int depth, ByteView value) { print_coded(out, depth, value, kCmmtyp); }
void print_outovropt(TextWriter& out, int depth, ByteView value) { print_coded(out, depth, value, kOutovropt); }
void print_pkgathrul(TextWriter& out, int depth, ByteView value) { print_coded(out, depth, value, kPkgathrul); }
void print_qryattsns(TextWriter& out, int depth, ByteView value) { print_coded(out, depth, value, kQryattsns); }
void print_qryattupd(TextWriter& out, int depth, ByteView value) { print_coded(out, depth, value, kQryattupd); }
void print_qryscrorn(TextWriter& out, int depth, ByteView value) { print_coded(out, depth, value, kQryscrorn); }
void print_rtnextdta(TextWriter& out, int depth, ByteView value) { print_coded(out, depth, value, kRtnextdta); }

}  // namespace drda
