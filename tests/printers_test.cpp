// SPDX-License-Identifier: Apache-2.0
// Generic value printers: exact text of each form and its fallbacks.
#include <gtest/gtest.h>

#include "ddm/printers.h"
#include "ddm/value_dispatch.h"
#include "listing/display.h"
#include "support/capture.h"
#include "support/trace_builder.h"

using drda::ByteView;
using drda::TextWriter;
using testsupport::capture;
using testsupport::hex;

namespace {

template <class P>
std::string print(P printer, int depth, const std::string& bytes) {
    return capture([&](TextWriter& w) { printer(w, depth, ByteView(bytes)); });
}

const std::string kDumpHeader = "DATA:                              (ASCII)          (EBCDIC)\n";

TEST(DisplayTables, FollowTheDisplayRule) {
    for (int b = 0; b < 256; ++b) {
        char want = b >= 0x20 && b <= 0x7D ? static_cast<char>(b) : '.';
        EXPECT_EQ(drda::kAsciiDisplay[b], want) << b;
        int e = drda::kEbcdicToAscii[b];
        char ewant = e >= 0x20 && e <= 0x7D ? static_cast<char>(e) : '.';
        EXPECT_EQ(drda::kEbcdicDisplay[b], ewant) << b;
        char pair[3] = {drda::kHexPairs[2 * b], drda::kHexPairs[2 * b + 1], 0};
        char fmt[3];
        std::snprintf(fmt, sizeof fmt, "%02X", b);
        EXPECT_STREQ(pair, fmt);
    }
}

TEST(DisplayTables, EbcdicTableHoldsEachPrintableAsciiCharacterOnce) {
    int seen[128] = {};
    for (int b = 0; b < 256; ++b) ++seen[drda::kEbcdicToAscii[b] & 0x7F];
    for (int c = 0x20; c <= 0x7E; ++c) EXPECT_EQ(seen[c], 1) << c;
    EXPECT_EQ(drda::kEbcdicToAscii[0x6A], 0x7C);
    EXPECT_EQ(drda::kEbcdicToAscii[0xBB], 0);
    EXPECT_EQ(drda::kEbcdicToAscii[0xA1], 0x7E);
}

TEST(DataDump, RowShapes) {
    EXPECT_EQ(print(drda::print_data_dump, 6, ""), "      " + kDumpHeader);
    // 16 bytes: one full row.
    EXPECT_EQ(print(drda::print_data_dump, 2, "0123456789ABCDEF"),
              "  " + kDumpHeader + "  3031323334353637 3839414243444546  0123456789ABCDEF ................\n");
    // 24 bytes: the second row has 8 bytes.
    std::string v24 = hex("C885939396000000 0000000000000000 7E7E7E7E7E7E7E7E");
    EXPECT_EQ(print(drda::print_data_dump, 0, v24),
              kDumpHeader + "C885939396000000 0000000000000000  ................ Hello...........\n" +
                  "7E7E7E7E7E7E7E7E                   ........         ========\n");
    // 5 bytes.
    EXPECT_EQ(print(drda::print_data_dump, 0, hex("C885939396")),
              kDumpHeader + "C885939396                         .....            Hello\n");
}

TEST(HexString, RowsAlignUnderTheFirst) {
    std::string v(40, '\x11');
    EXPECT_EQ(print(drda::print_hex_string, 4, v),
              "    DATA: 1111111111111111 1111111111111111\n"
              "          1111111111111111 1111111111111111\n"
              "          1111111111111111 \n");
    EXPECT_EQ(print(drda::print_hex_string, 4, ""), "    DATA: \n");
    EXPECT_EQ(print(drda::print_hex_string, 0, hex("01020304050607")), "DATA: 01020304050607   \n");
}

TEST(CharString, RendersBothCodeSetsAndWrapsAt70) {
    EXPECT_EQ(print(drda::print_char_string, 6, hex("C885939396 7E")),
              "      ASCII: ......\n      EBCDIC: Hello=\n");
    EXPECT_EQ(print(drda::print_char_string, 2, ""), "  ASCII: \n  EBCDIC: \n");

    std::string s150(150, 'a');  // EBCDIC 0x61 is '/'
    std::string got = print(drda::print_char_string, 6, s150);
    std::string want = "      ASCII: " + std::string(63, 'a') + "\n      " + std::string(70, 'a') + "\n      " +
                       std::string(17, 'a') + "\n" + "      EBCDIC: " + std::string(62, '/') + "\n      " +
                       std::string(70, '/') + "\n      " + std::string(18, '/') + "\n";
    EXPECT_EQ(got, want);

    // Longer than any fixed scratch area: every byte still rendered.
    std::string s1000(1000, 'Z');
    got = print(drda::print_char_string, 0, s1000);
    EXPECT_EQ(std::count(got.begin(), got.end(), 'Z'), 1000);
}

TEST(BinaryNumber, Forms) {
    EXPECT_EQ(print(drda::print_binary_number, 2, hex("012C")), "  DECIMAL:     300\n  HEXADECIMAL: 012C\n");
    EXPECT_EQ(print(drda::print_binary_number, 0, hex("FFFE")), "DECIMAL:     -2\nHEXADECIMAL: FFFFFFFE\n");
    EXPECT_EQ(print(drda::print_binary_number, 0, hex("80")), "DECIMAL:     -128\nHEXADECIMAL: FFFFFF80\n");
    EXPECT_EQ(print(drda::print_binary_number, 0, hex("7F")), "DECIMAL:     127\nHEXADECIMAL: 7F\n");
    EXPECT_EQ(print(drda::print_binary_number, 0, hex("FFFFFFFF")), "DECIMAL:     -1\nHEXADECIMAL: FFFFFFFF\n");
    EXPECT_EQ(print(drda::print_binary_number, 0, hex("0000000100000000")),
              "DECIMAL:     4294967296\nHEXADECIMAL: 0000000100000000\n");
    EXPECT_EQ(print(drda::print_binary_number, 0, hex("FFFFFFFFFFFFFFFF")),
              "DECIMAL:     18446744073709551615\nHEXADECIMAL: FFFFFFFFFFFFFFFF\n");
    EXPECT_EQ(print(drda::print_binary_number, 0, hex("010203")), kDumpHeader + "010203" + std::string(11, ' ') +
                                                                        std::string(18, ' ') + "..." +
                                                                        std::string(14, ' ') + "...\n");
    EXPECT_EQ(print(drda::print_binary_number, 0, ""), kDumpHeader);
}

TEST(Boolean, Bytes) {
    EXPECT_EQ(print(drda::print_boolean, 2, hex("F1")), "  BOOLEAN: TRUE\n");
    EXPECT_EQ(print(drda::print_boolean, 2, hex("F0")), "  BOOLEAN: FALSE\n");
    EXPECT_EQ(print(drda::print_boolean, 2, hex("01F1")), "  BOOLEAN: ????\n");
    EXPECT_EQ(print(drda::print_boolean, 2, ""), "  " + kDumpHeader);
}

TEST(ByteReversedInt, BothOrders) {
    EXPECT_EQ(print(drda::print_byte_reversed_int, 2, hex("00000064")),
              "  DECIMAL:     1677721600     (if byte-reversed: 100) \n"
              "  HEXADECIMAL: 64000000 (if byte-reversed: 00000064)\n");
    EXPECT_EQ(print(drda::print_byte_reversed_int, 0, hex("FFFFFFF6")),
              "DECIMAL:     -150994945     (if byte-reversed: -10) \n"
              "HEXADECIMAL: F6FFFFFF (if byte-reversed: FFFFFFF6)\n");
}

TEST(NetworkPrinters, IpaddrAndTcpporthost) {
    EXPECT_EQ(print(drda::print_ipaddr, 4, hex("0A000001 2398")), "    TCPADDR = 10.0.0.1\n    TCPPORT = 9112\n");
    EXPECT_EQ(print(drda::print_ipaddr, 0, hex("FFFFFFFF C350")), "TCPADDR = 255.255.255.255\nTCPPORT = -15536\n");
    EXPECT_EQ(print(drda::print_ipaddr, 0, hex("0A00000123")).substr(0, kDumpHeader.size()), kDumpHeader);

    EXPECT_EQ(print(drda::print_tcpporthost, 2, hex("0050") + "host"),
              "  TCPPORT = 80\n  TCPHOST = \n    ASCII: host\n    EBCDIC: .?..\n");
    EXPECT_EQ(print(drda::print_tcpporthost, 2, hex("00")), "  " + kDumpHeader + "  00" + std::string(15, ' ') +
                                                               std::string(18, ' ') + "." + std::string(16, ' ') +
                                                               ".\n");
}

TEST(Uowid, TwentyFiveBytesInThreePieces) {
    std::string v = std::string(17, 'N') + hex("010203040506") + hex("0007");
    EXPECT_EQ(print(drda::print_uowid, 2, v),
              "  * NETNAME:\n  ASCII: NNNNNNNNNNNNNNNNN\n  EBCDIC: +++++++++++++++++\n"
              "  * INSTANCE:\n  " + kDumpHeader + "  010203040506" + std::string(5, ' ') + std::string(18, ' ') +
                  "......" + std::string(11, ' ') + "......\n"
                  "  * SEQUENCE:\n  DECIMAL:     7\n  HEXADECIMAL: 0007\n");
    for (std::size_t n : {24u, 26u})
        EXPECT_EQ(print(drda::print_uowid, 0, std::string(n, 'x')).substr(0, kDumpHeader.size()), kDumpHeader);
}

TEST(Rlsconv, Bytes) {
    EXPECT_EQ(print(drda::print_rlsconv, 1, hex("F0")), " RLSCONV NO\n");
    EXPECT_EQ(print(drda::print_rlsconv, 1, hex("F1")), " RLSCONV TERMINATE\n");
    EXPECT_EQ(print(drda::print_rlsconv, 1, hex("F2")), " RLSCONV REUSE\n");
    EXPECT_EQ(print(drda::print_rlsconv, 1, hex("F3")), " RLSCONV UNKNOWN\n");
    EXPECT_EQ(print(drda::print_rlsconv, 1, ""), " " + kDumpHeader);
}

TEST(WrappedText, FirstLineRoomDependsOnTheColumn) {
    std::string t(80, 'x');
    EXPECT_EQ(capture([&](TextWriter& w) {
                  w.spaces(4);
                  drda::write_wrapped(w, 4, t);
              }),
              "    " + std::string(70, 'x') + "\n    " + std::string(10, 'x') + "\n");
    // A line already past the limit gets no text on it.
    EXPECT_EQ(capture([&](TextWriter& w) {
                  w.put(std::string(90, '-'));
                  drda::write_wrapped(w, 2, "ab");
              }),
              std::string(90, '-') + "\n  ab\n");
    EXPECT_EQ(capture([&](TextWriter& w) { drda::write_wrapped(w, 2, ""); }), "\n");
}

TEST(ValueDispatch, RoutesSpecialCodePoints) {
    EXPECT_EQ(drda::special_printer(0x214D), nullptr);  // FREREFOPT: dumped
    EXPECT_EQ(drda::special_printer(0x0010), drda::special_printer(0x241A));
    EXPECT_EQ(drda::special_printer(0x0010), drda::special_printer(0x2415));
    EXPECT_EQ(drda::special_printer(0x1404), drda::special_printer(0x1C03));
    int with_printer = 0;
    for (int cp = 0; cp < 0x10000; ++cp) with_printer += drda::special_printer(static_cast<std::uint16_t>(cp)) != nullptr;
    EXPECT_EQ(with_printer, 38);
    EXPECT_EQ(capture([&](TextWriter& w) { drda::dispatch_value(w, 2, 0x214D, ByteView(hex("F1"))); }),
              "  " + kDumpHeader + "  F1" + std::string(15, ' ') + std::string(18, ' ') + "." + std::string(16, ' ') +
                  "1\n");
    EXPECT_EQ(capture([&](TextWriter& w) { drda::dispatch_value(w, 2, 0x11E8, ByteView(hex("7F000001 0050"))); }),
              "  TCPADDR = 127.0.0.1\n  TCPPORT = 80\n");
}

}  // namespace
