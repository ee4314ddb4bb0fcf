// SPDX-License-Identifier: Apache-2.0
// The constant tables of the row decoder: DRDA types and character sets.
#include <gtest/gtest.h>

#include <set>

#include "ddm/rows/ccsid_tables.h"
#include "ddm/rows/type_table.h"

using namespace drda::rows;

namespace {

TEST(TypeTable, EvenCodesInOrderWithKnownLayouts) {
    const auto table = type_table();
    ASSERT_EQ(table.size(), 47u);
    int last = -1;
    for (const TypeRow& row : table) {
        EXPECT_EQ(row.code % 2, 0) << int{row.code};
        EXPECT_GT(int{row.code}, last) << int{row.code};
        last = row.code;
        EXPECT_NE(row.layout, Layout::kNone) << int{row.code};
        EXPECT_FALSE(row.name.empty());
        EXPECT_EQ(row.layout == Layout::kFixed, row.fixed != 0) << int{row.code};
        EXPECT_EQ(find_type(row.code), &row);
        EXPECT_EQ(find_type(static_cast<std::uint8_t>(row.code + 1)), &row) << "nullable form";
        EXPECT_EQ(row.graphic, row.cls == CharClass::kDbc) << int{row.code};
        EXPECT_EQ(row.form == Form::kChars || row.form == Form::kLob, row.cls != CharClass::kNone ||
                                                                          row.code == 0xC8)
            << int{row.code};
    }
}

TEST(TypeTable, TypesThatAreEasyToGetWrong) {
    EXPECT_EQ(find_type(0x17)->name, "BIGINT");
    EXPECT_EQ(find_type(0x16)->fixed, 8);
    EXPECT_EQ(find_type(0x21)->name, "DATE");
    EXPECT_EQ(find_type(0x25)->name, "TIMESTAMP");
    EXPECT_EQ(find_type(0x27)->name, "BINARY");
    EXPECT_EQ(find_type(0xC9)->layout, Layout::kLob) << "a LOB value, not a locator";
    EXPECT_EQ(find_type(0x19)->name, "BLOB LOCATOR");
    EXPECT_EQ(find_type(0x19)->fixed, 4);
    EXPECT_EQ(find_type(0x2B)->layout, Layout::kPrefix2) << "2-byte length, as Derby sends it";
    EXPECT_EQ(find_type(0x51)->name, "UDT");
    EXPECT_EQ(find_type(0x39)->layout, Layout::kPrefix2);
    EXPECT_TRUE(find_type(0x39)->graphic);
    EXPECT_EQ(find_type(0x0F)->layout, Layout::kPacked);
    EXPECT_EQ(find_type(0x10)->layout, Layout::kDigits);
    EXPECT_EQ(find_type(0xBF)->form, Form::kBoolean);
    EXPECT_EQ(find_type(0x52), nullptr);
    EXPECT_EQ(find_type(0x00), nullptr);
    EXPECT_EQ(find_type(0xFF), nullptr);
}

std::u32string decode_all(std::uint32_t ccsid, const std::string& bytes, int* result = nullptr) {
    const Charset* cs = find_charset(ccsid);
    std::u32string out;
    if (!cs) return out;
    const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
    std::size_t at = 0;
    while (at < bytes.size()) {
        std::uint32_t cp = 0;
        const int n = decode_char(*cs, p + at, bytes.size() - at, cp);
        if (result) *result = n;
        if (n <= 0) break;
        out.push_back(static_cast<char32_t>(cp));
        at += static_cast<std::size_t>(n);
    }
    return out;
}

TEST(Charsets, SupportedOnes) {
    for (std::uint32_t ccsid : {37u, 367u, 500u, 819u, 1047u, 1200u, 1202u, 1208u, 1252u, 13488u})
        EXPECT_NE(find_charset(ccsid), nullptr) << ccsid;
    for (std::uint32_t ccsid : {0u, 850u, 943u, 1140u, 65535u}) EXPECT_EQ(find_charset(ccsid), nullptr) << ccsid;
}

TEST(Charsets, SingleByteCodePages) {
    EXPECT_EQ(decode_all(37, "\xC1\x81\xF0\x40\x5A\x4A"), U"Aa0 !\u00A2");
    EXPECT_EQ(decode_all(500, "\x5A\x4A\x4F"), U"]\u005B!") << "500 moves the brackets and the exclamation mark";
    EXPECT_EQ(decode_all(1047, "\xAD\xBD\x5F\xB0"), U"[]^\u00AC");
    EXPECT_EQ(decode_all(37, "\xBA\xBB\xB0\x5F"), U"[]^\u00AC");
    EXPECT_EQ(decode_all(1252, "\x80\x9F\xE9"), U"\u20AC\u0178\u00E9");
    EXPECT_EQ(decode_all(819, "\x80\xE9"), U"\u0080\u00E9");
    int r = 1;
    EXPECT_EQ(decode_all(1252, "a\x81", &r), U"a");
    EXPECT_EQ(r, -1) << "0x81 has no character in 1252";
    EXPECT_EQ(decode_all(367, "ok\xE9", &r), U"ok");
    EXPECT_EQ(r, -1) << "367 is 7-bit";
}

TEST(Charsets, Utf8) {
    EXPECT_EQ(decode_all(1208, "Gr\xC3\xBC\xC3\x9F" "e \xE2\x98\x83 \xF0\x9F\x98\x80"), U"Gr\u00FC\u00DFe \u2603 \U0001F600");
    int r = 1;
    decode_all(1208, "\xC0\x80", &r);
    EXPECT_EQ(r, -1) << "overlong";
    decode_all(1208, "\xED\xA0\x80", &r);
    EXPECT_EQ(r, -1) << "surrogate";
    decode_all(1208, "\xF4\x90\x80\x80", &r);
    EXPECT_EQ(r, -1) << "above U+10FFFF";
    decode_all(1208, "\x80", &r);
    EXPECT_EQ(r, -1) << "continuation byte first";
    decode_all(1208, "\xE2\x98", &r);
    EXPECT_EQ(r, 0) << "cut off";
    decode_all(1208, "\xE2\x41\x41", &r);
    EXPECT_EQ(r, -1) << "bad continuation";
}

TEST(Charsets, Utf16BothOrders) {
    EXPECT_EQ(decode_all(1200, std::string("\x00\xC4\x26\x03\xD8\x3D\xDE\x00", 8)), U"\u00C4\u2603\U0001F600");
    EXPECT_EQ(decode_all(13488, std::string("\x00\x41", 2)), U"A");
    EXPECT_EQ(decode_all(1202, std::string("\xC4\x00\x03\x26\x3D\xD8\x00\xDE", 8)), U"\u00C4\u2603\U0001F600");
    int r = 1;
    decode_all(1200, std::string("\xDC\x00\x00\x41", 4), &r);
    EXPECT_EQ(r, -1) << "low surrogate first";
    decode_all(1200, std::string("\xD8\x3D\x00\x41", 4), &r);
    EXPECT_EQ(r, -1) << "high surrogate without its low one";
    decode_all(1200, std::string("\xD8\x3D", 2), &r);
    EXPECT_EQ(r, 0) << "pair cut off";
    decode_all(1200, std::string("\x00", 1), &r);
    EXPECT_EQ(r, 0) << "half a unit";
}

}  // namespace
