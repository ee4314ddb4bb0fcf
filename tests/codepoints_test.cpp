// SPDX-License-Identifier: Apache-2.0
// The code point dictionary: the table's invariants, the lookup against a
// plain scan, and the exact text of the code point value printer.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>

#include "ddm/codepoints.h"
#include "support/capture.h"

using drda::CodePointEntry;
using drda::codepoint_table;
using drda::lookup_codepoint;
using testsupport::capture;

namespace {

// The first entry with the code point, scanning from the top; entry 0 when
// there is none. This is the behaviour the fast lookup must reproduce.
const CodePointEntry& scan(std::uint16_t cp) {
    for (const CodePointEntry& e : codepoint_table())
        if (e.code == cp) return e;
    return codepoint_table()[0];
}

std::string print_value(int depth, std::string_view bytes) {
    return capture([&](drda::TextWriter& w) { drda::print_codepoint_value(w, depth, drda::ByteView(bytes)); });
}

}  // namespace

TEST(CodePointTable, ShapeAndOrder) {
    auto table = codepoint_table();
    ASSERT_EQ(table.size(), 395u);

    const CodePointEntry& fallback = table[0];
    EXPECT_EQ(fallback.code, 0x0000);
    EXPECT_EQ(fallback.kind, drda::kRawData);
    EXPECT_EQ(fallback.description, "UNKNOWN - UNKNOWN");
    EXPECT_EQ(fallback.short_name, "UNKNOWN");
    EXPECT_EQ(table.back().code, 0xC900);

    std::size_t longest_description = 0, longest_short = 0;
    std::array<int, 10> per_kind{};
    for (std::size_t i = 0; i < table.size(); ++i) {
        const CodePointEntry& e = table[i];
        SCOPED_TRACE(std::string(e.description));
        if (i > 0) EXPECT_LT(table[i - 1].code, e.code) << "not ascending or duplicated at " << i;
        ASSERT_GE(e.kind, 1);
        ASSERT_LE(e.kind, 9);
        ++per_kind[static_cast<std::size_t>(e.kind)];
        EXPECT_FALSE(e.short_name.empty());
        EXPECT_EQ(e.short_name.find(' '), std::string_view::npos);
        EXPECT_EQ(e.description.substr(0, e.short_name.size() + 3), std::string(e.short_name) + " - ");
        longest_description = std::max(longest_description, e.description.size());
        longest_short = std::max(longest_short, e.short_name.size());
    }
    EXPECT_EQ(per_kind, (std::array<int, 10>{0, 25, 53, 24, 39, 107, 88, 3, 39, 17}));
    EXPECT_EQ(longest_description, 69u);
    EXPECT_EQ(longest_short, 17u);
}

TEST(CodePointTable, EntriesOtherPartsRelyOn) {
    struct Expect {
        std::uint16_t code;
        int kind;
        std::string_view description;
        std::string_view short_name;
    };
    const Expect cases[] = {
        {0x1439, 7, "RQSDSS - Request Data Stream Structure", "RQSDSS"},
        {0x1436, 7, "RPYDSS - Reply Data Stream Structure", "RPYDSS"},
        {0x1429, 7, "OBJDSS - Object Data Stream Structure", "OBJDSS"},
        {0x214D, 8, "FREREFOPT - Free Reference Option", "FREREFOPT"},
        {0x0010, 8, "FDODSC - FD:OCA Data Descriptor", "FDODSC"},
        {0x115C, 9, "DTALCKLST - DTA Lock List (returned by Tessera)", "DTALCKLST"},
        {0xC204, 1, "ZEVENV - Env Variable Support for ZEV", "ZEVENV"},
        {0x2407, 5, "SQLAM - SQL Application Manager", "SQLAM"},
        {0x1404, 8, "MGRLVLLS - Manager Level List", "MGRLVLLS"},
        // Printed as they have always been, misspellings included.
        {0x2400, 5, "DFTDATFMT - Default Date Fomat", "DFTDATFMT"},
        {0x2401, 5, "DFTTIMFMT - Default Time Fomat", "DFTTIMFMT"},
        {0x1801, 9, "XID - Transaction Indentifier (XID)", "XID"},
        {0x2167, 9, "PRPSTTKP - ?", "PRPSTTKP"},
        {0x1C07, 4, "USRSECTOK - Source security manager's end user security tokens", "USRSECTOK"},
        {0x2459, 5, "EXPREOPT - Explain All Explainable SQL Statements During Optimization", "EXPREOPT"},
    };
    for (const Expect& c : cases) {
        const CodePointEntry& e = lookup_codepoint(c.code);
        SCOPED_TRACE(std::string(c.short_name));
        EXPECT_EQ(e.code, c.code);
        EXPECT_EQ(e.kind, c.kind);
        EXPECT_EQ(e.description, c.description);
        EXPECT_EQ(e.short_name, c.short_name);
    }

    // Only the three DSS entries have kind 7; exactly eight private code
    // points; 25 titles "?": PRPSTTKP and 24 date and time formats.
    std::set<std::uint16_t> dss, priv;
    int unnamed = 0, unnamed_formats = 0;
    for (const CodePointEntry& e : codepoint_table()) {
        if (e.kind == drda::kDssType) dss.insert(e.code);
        if (e.description.ends_with(" (PRIVATE CODE POINT)")) priv.insert(e.code);
        if (e.description.ends_with(" - ?")) {
            ++unnamed;
            if (e.short_name.ends_with("DATFMT") || e.short_name.ends_with("TIMFMT")) ++unnamed_formats;
        }
    }
    EXPECT_EQ(dss, (std::set<std::uint16_t>{0x1429, 0x1436, 0x1439}));
    EXPECT_EQ(priv, (std::set<std::uint16_t>{0xC001, 0xC002, 0xC003, 0xC004, 0xC100, 0xC101, 0xC102, 0xC103}));
    EXPECT_EQ(unnamed, 25);
    EXPECT_EQ(unnamed_formats, 24);
}

TEST(CodePointLookup, AgreesWithScanForEveryKey) {
    int known = 0;
    for (std::uint32_t k = 0; k <= 0xFFFF; ++k) {
        const auto cp = static_cast<std::uint16_t>(k);
        const CodePointEntry& got = lookup_codepoint(cp);
        ASSERT_EQ(&got, &scan(cp)) << "code point " << k;
        if (&got != &codepoint_table()[0]) ++known;
    }
    EXPECT_EQ(known, 394);  // every entry but the fallback is reachable
    EXPECT_EQ(&lookup_codepoint(0x1234), &codepoint_table()[0]);
    EXPECT_EQ(&lookup_codepoint(0xFFFF), &codepoint_table()[0]);
}

TEST(CodePointValuePrinter, ExactText) {
    // One element at depth 6.
    EXPECT_EQ(print_value(6, "\x14\x04"),
              "      CODE POINT DATA: 1404\n"
              "      NAME: MGRLVLLS - Manager Level List\n");
    // 0x8000 and above are sign-widened: eight digits starting FFFF.
    EXPECT_EQ(print_value(2, "\xC2\x04"),
              "  CODE POINT DATA: FFFFC204\n"
              "  NAME: ZEVENV - Env Variable Support for ZEV\n");
    // Depth 0 (and below) indents nothing.
    EXPECT_EQ(print_value(0, "\x24\x07"),
              "CODE POINT DATA: 2407\n"
              "NAME: SQLAM - SQL Application Manager\n");
    EXPECT_EQ(print_value(-3, "\x24\x07"), print_value(0, "\x24\x07"));
    // Leading zeros below 0x1000; unknown code points get the fallback name.
    EXPECT_EQ(print_value(1, std::string_view("\x00\x0C\x12\x34", 4)),
              " CODE POINT DATA: 000C\n"
              " NAME: CODPNT - Code Point\n"
              " CODE POINT DATA: 1234\n"
              " NAME: UNKNOWN - UNKNOWN\n");
}

TEST(CodePointValuePrinter, LengthEdges) {
    EXPECT_EQ(print_value(4, std::string_view()), "");
    // Odd length: the last element has only its high byte; the low byte
    // reads as 0x00, and nothing past the value is touched.
    const std::string backing("\x24\x07\x14\xFF", 4);
    EXPECT_EQ(print_value(2, std::string_view(backing).substr(0, 3)),
              "  CODE POINT DATA: 2407\n"
              "  NAME: SQLAM - SQL Application Manager\n"
              "  CODE POINT DATA: 1400\n"
              "  NAME: UNKNOWN - UNKNOWN\n");
    EXPECT_EQ(print_value(0, std::string_view("\x80", 1)),
              "CODE POINT DATA: FFFF8000\n"
              "NAME: UNKNOWN - UNKNOWN\n");
}
