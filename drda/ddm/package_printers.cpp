// SPDX-License-Identifier: Apache-2.0
// Manager level lists and RDB package names.
//
// Both are runs of fixed fields, each named by its code point's description
// in the dictionary. A value whose length does not fit its layout is shown
// whole as raw data.
#include "ddm/package_printers.h"

#include <array>
#include <cstdint>

#include "ddm/codepoints.h"

namespace drda {
namespace {

constexpr std::size_t kMgrLevelPair = 4;  // manager code point, level
constexpr std::uint16_t kPkgnamcsn = 0x2113;

struct PackageField {
    std::uint16_t code;
    std::size_t offset;
    std::size_t size;
    ValuePrinter print;
};

// The fields of a package name, in value order. PKGNAM holds the first
// three, PKGNAMCT the first four, PKGNAMCSN all five.
constexpr std::array<PackageField, 5> kPackageFields = {{
    {0x2110, 0, 18, print_char_string},     // RDBNAM
    {0x2108, 18, 18, print_char_string},    // RDBCOLID
    {0x2109, 36, 18, print_char_string},    // PKGID
    {0x210D, 54, 8, print_data_dump},       // PKGCNSTKN
    {0x210C, 62, 2, print_binary_number},   // PKGSN
}};

constexpr std::size_t layout_size(std::size_t fields) {
    return kPackageFields[fields - 1].offset + kPackageFields[fields - 1].size;
}
constexpr std::size_t kPkgnamSize = layout_size(3);     // 54
constexpr std::size_t kPkgnamctSize = layout_size(4);   // 62
constexpr std::size_t kPkgnamcsnSize = layout_size(5);  // 64
static_assert(kPkgnamSize == 54 && kPkgnamctSize == 62 && kPkgnamcsnSize == 64);

// "* <description>" at `depth`.
void label(TextWriter& out, int depth, std::uint16_t cp) {
    out.spaces(depth);
    out.put("* ");
    out.put(lookup_codepoint(cp).description);
    out.put('\n');
}

// The first `fields` package name fields, labels at `depth` and values at
// `value_depth`; any other length goes whole to the data dump.
void print_package_name(TextWriter& out, int depth, int value_depth, ByteView value, std::size_t fields) {
    if (value.size() != layout_size(fields)) {
        print_data_dump(out, depth, value);
        return;
    }
    for (std::size_t i = 0; i < fields; ++i) {
        const PackageField& f = kPackageFields[i];
        label(out, depth, f.code);
        f.print(out, value_depth, value.sub(f.offset, f.size));
    }
}

}  // namespace

void print_mgrlvlls(TextWriter& out, int depth, ByteView value) {
    if (value.size() % kMgrLevelPair != 0) {
        print_data_dump(out, depth, value);
        return;
    }
    for (std::size_t off = 0; off < value.size(); off += kMgrLevelPair) {
        label(out, depth, value.be16(off));
        out.spaces(depth + 2);
        out.printf("LEVEL OF SUPPORT: %i\n", int{value.sbe16(off + 2)});
    }
}

void print_pkgnam(TextWriter& out, int depth, ByteView value) { print_package_name(out, depth, depth, value, 3); }

void print_pkgnamct(TextWriter& out, int depth, ByteView value) { print_package_name(out, depth, depth, value, 4); }

void print_pkgnamcsn(TextWriter& out, int depth, ByteView value) {
    print_package_name(out, depth, depth + 2, value, 5);
}

void print_pkgsnlst(TextWriter& out, int depth, ByteView value) {
    if (value.size() % kPkgnamcsnSize != 0) {
        print_data_dump(out, depth, value);
        return;
    }
    for (std::size_t off = 0; off < value.size(); off += kPkgnamcsnSize) {
        out.put('\n');
        out.spaces(depth + 2);
        out.put(lookup_codepoint(kPkgnamcsn).description);
        out.put('\n');
        print_pkgnamcsn(out, depth + 2, value.sub(off, kPkgnamcsnSize));
    }
}

}  // namespace drda
