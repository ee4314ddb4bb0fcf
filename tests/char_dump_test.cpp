// SPDX-License-Identifier: Apache-2.0
// The character dump: exact lines, the column layout for every line
// length, the display tables, headings and offsets.
#include <gtest/gtest.h>

#include <string>

#include "listing/char_dump.h"
#include "listing/display.h"
#include "support/capture.h"
#include "support/trace_builder.h"

using namespace testsupport;

namespace {

const std::string kTitles = "(ASCII)           (EBCDIC)\n";
const std::string kColumnHeader =
    "         0 1 2 3 4 5 6 7  8 9 A B C D E F   0123456789ABCDEF  0123456789ABCDEF\n";

std::string dump(const std::string& bytes, const std::string& heading = "") {
    return capture([&](drda::TextWriter& w) { drda::print_char_dump(w, drda::ByteView(bytes), heading); });
}

// The empty line, the heading line padded to 45 and the column header.
std::string head(const std::string& heading) {
    std::string h = heading;
    if (h.size() < 45) h.resize(45, ' ');
    return "\n" + h + kTitles + kColumnHeader;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t nl = text.find('\n', pos);
        if (nl == std::string::npos) nl = text.size();
        lines.push_back(text.substr(pos, nl - pos));
        pos = nl + 1;
    }
    return lines;
}

TEST(CharDump, ExcsatExample) {
    const std::string bytes = hex("00 12 D0 41 00 01 00 0C 10 41 00 08 11 5E C1 C2 C3 C4");
    EXPECT_EQ(dump(bytes, "            EXCSAT RQSDSS"),
              "\n"
              "            EXCSAT RQSDSS                    (ASCII)           (EBCDIC)\n"
              "         0 1 2 3 4 5 6 7  8 9 A B C D E F   0123456789ABCDEF  0123456789ABCDEF\n"
              "  0000  0012D0410001000C 10410008115EC1C2   ...A.....A...^..  ..}..........;AB\n"
              "  0010  C3C4                                ..                CD\n");
}

TEST(CharDump, PieceLengthsAtGroupAndLineBoundaries) {
    // Empty piece: the heading lines only.
    EXPECT_EQ(dump("", "  X"), head("  X"));

    // One complete group: its blank, then 17 blanks of filling.
    EXPECT_EQ(dump(hex("C1C2C3C4 C5C6C7C8"), "H"),
              head("H") + "  0000  C1C2C3C4C5C6C7C8" + std::string(1 + 17, ' ') + "  " + "........" +
                  std::string(8, ' ') + "  ABCDEFGH\n");

    // Nine bytes: the second group begins without a blank behind it.
    EXPECT_EQ(lines_of(dump(hex("3031323334353637 38"))).back(),
              "  0000  3031323334353637 38" + std::string(15, ' ') + "  012345678" + std::string(7, ' ') +
                  "  .........");

    // Exactly 16 bytes: one full line, no second one.
    const std::string sixteen = hex("404142434445464748494A4B4C4D4E4F");
    EXPECT_EQ(dump(sixteen, "H"),
              head("H") + "  0000  4041424344454647 48494A4B4C4D4E4F   @ABCDEFGHIJKLMNO   .........[.<(+!\n");

    // 17 bytes: the last line has one byte, 32 blanks of hex filling, one
    // character and 15 blanks in the ASCII column.
    const std::string text = dump(sixteen + hex("F1"), "H");
    EXPECT_EQ(lines_of(text).back(), "  0010  F1" + std::string(32, ' ') + "  ." + std::string(15, ' ') + "  1");
    EXPECT_EQ(lines_of(text).size(), 5u);
}

TEST(CharDump, ColumnsStayInPlaceForEveryLineLength) {
    std::string bytes;
    for (int k = 1; k <= 16; ++k) {
        bytes.push_back(static_cast<char>(0xC0 + k));
        const auto lines = lines_of(dump(bytes));
        ASSERT_EQ(lines.size(), 4u);
        const std::string& l = lines[3];
        SCOPED_TRACE("k=" + std::to_string(k));
        EXPECT_EQ(l.size(), 62u + k);
        EXPECT_EQ(l.substr(0, 8), "  0000  ");
        // Hex area: 34 characters, then two blanks.
        std::string area;
        for (int j = 0; j < k; ++j) {
            area += std::string(drda::kHexPairs + 2 * (0xC1 + j), 2);
            if (j == 7) area += ' ';
        }
        area.resize(34, ' ');
        EXPECT_EQ(l.substr(8, 36), area + "  ");
        // ASCII column: k characters padded to 16, then two blanks.
        EXPECT_EQ(l.substr(44 + k, 16 - k + 2), std::string(16 - k + 2, ' '));
        // EBCDIC column: k characters, not filled up.
        EXPECT_EQ(l.substr(62), std::string("ABCDEFGHI......}").substr(0, k));
    }
}

TEST(CharDump, DisplayRuleAtItsEdges) {
    // 0x7D is the last byte shown as itself; the tilde, DEL and 0x1F are not.
    // EBCDIC 0x40 and ASCII 0x20 are blanks; EBCDIC 0xA1 (tilde) is '.'.
    const auto l = lines_of(dump(hex("7D7E7F1F2040A1BB 6A4F5FE0C0D0797F")))[3];
    EXPECT_EQ(l.substr(44, 16), "}... @..jO_...y.");
    EXPECT_EQ(l.substr(62), "'=\".. ..|!^\\{}`\"");
}

TEST(CharDump, WordAtATimeAsciiColumnMatchesTheTable) {
    // Every byte value in every position of the word, next to neighbours
    // that carry and borrow (0x00, 0x7F, 0x80, 0xFF).
    const std::uint8_t neighbours[] = {0x00, 0x1F, 0x20, 0x7D, 0x7E, 0x7F, 0x80, 0xFF};
    for (int b = 0; b < 256; ++b) {
        for (std::uint8_t n : neighbours) {
            for (int at = 0; at < 8; ++at) {
                std::uint8_t in[8];
                for (auto& c : in) c = n;
                in[at] = static_cast<std::uint8_t>(b);
                char out[8];
                drda::put_ascii_eight(out, in);
                for (int j = 0; j < 8; ++j) ASSERT_EQ(out[j], drda::kAsciiDisplay[in[j]]) << b << " at " << at;
            }
        }
    }
}

TEST(CharDump, SixteenAtOnceMatchesTheTables) {
    // Every byte value in every position of the 16, next to neighbours
    // at the edges of the rules.
    const std::uint8_t neighbours[] = {0x00, 0x09, 0x0A, 0x1F, 0x20, 0x7D, 0x7E, 0x7F, 0x80, 0x9F, 0xA0, 0xFF};
    for (int b = 0; b < 256; ++b) {
        for (std::uint8_t n : neighbours) {
            for (int at = 0; at < 16; ++at) {
                std::uint8_t in[16];
                for (auto& c : in) c = n;
                in[at] = static_cast<std::uint8_t>(b);
                char first[16], second[16], ascii[16];
                drda::put_hex_ascii_sixteen(first, second, ascii, in);
                for (int j = 0; j < 16; ++j) {
                    const char* hex = j < 8 ? first + 2 * j : second + 2 * (j - 8);
                    ASSERT_EQ(hex[0], drda::kHexPairs[2 * in[j]]) << b << " at " << at;
                    ASSERT_EQ(hex[1], drda::kHexPairs[2 * in[j] + 1]) << b << " at " << at;
                    ASSERT_EQ(ascii[j], drda::kAsciiDisplay[in[j]]) << b << " at " << at;
                }
            }
        }
    }
}

TEST(CharDump, EbcdicPairsMatchTheTable) {
    // Every pair of bytes, in each of the four places of a group of eight.
    for (int first = 0; first < 256; ++first) {
        for (int second = 0; second < 256; ++second) {
            for (int at = 0; at < 8; at += 2) {
                std::uint8_t in[8] = {0x40, 0xC1, 0x00, 0xFF, 0x81, 0x4B, 0xF0, 0x7D};
                in[at] = static_cast<std::uint8_t>(first);
                in[at + 1] = static_cast<std::uint8_t>(second);
                char out[8], want[8];
                drda::put_ebcdic_eight(out, in);
                for (int j = 0; j < 8; ++j) want[j] = drda::kEbcdicDisplay[in[j]];
                ASSERT_EQ(std::string(out, 8), std::string(want, 8)) << first << " " << second << " at " << at;
            }
        }
    }
}

TEST(CharDump, LongHeadingIsKeptWhole) {
    const std::string h(50, 'H');
    EXPECT_EQ(lines_of(dump("", h))[1], h + "(ASCII)           (EBCDIC)");
    const std::string exact(45, 'E');
    EXPECT_EQ(lines_of(dump("", exact))[1], exact + "(ASCII)           (EBCDIC)");
}

TEST(CharDump, OffsetsWrapAt65536) {
    std::string bytes(65536 + 17, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
    const auto lines = lines_of(dump(bytes));
    ASSERT_EQ(lines.size(), 3u + 4096 + 2);
    EXPECT_EQ(lines[3 + 0xFFF].substr(0, 8), "  FFF0  ");
    EXPECT_EQ(lines[3 + 4096].substr(0, 8), "  0000  ");
    EXPECT_EQ(lines[3 + 4097].substr(0, 10), "  0010  " + std::string(drda::kHexPairs + 2 * 0x70, 2));
}

}  // namespace
