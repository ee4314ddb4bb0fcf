// SPDX-License-Identifier: Apache-2.0
// The -f decoder: DSS headers, object headers, collections, cut-off data
// and the walks' ends on degenerate lengths.
#include <gtest/gtest.h>

#include <random>

#include "ddm/dss_layer.h"
#include "support/capture.h"
#include "support/trace_builder.h"
#include "common/record.h"

using drda::ByteView;
using drda::TextWriter;
using testsupport::capture;
using testsupport::hex;

namespace {

constexpr int kSend = drda::kDirectionSend;
constexpr int kRecv = drda::kDirectionReceive;

// Decodes each buffer in turn with one decoder; the role byte is prepended.
std::string decode(const std::vector<std::string>& buffers, int direction = kSend, char role = 1) {
    drda::DdmDecoder decoder;
    return capture([&](TextWriter& w) {
        for (const auto& b : buffers) {
            std::string record = std::string(1, role) + b;
            decoder.decode_buffer(w, direction, ByteView(record));
        }
    });
}

const std::string kDumpHeader = "DATA:                              (ASCII)          (EBCDIC)\n";

std::string dss_lines(const std::string& dir, const std::string& type, int ll, const std::string& corr,
                      const std::string& flags = "n  CONT ON ERR: n  SAME CORR FOR NEXT DSS: n") {
    return "  " + dir + " " + type + "\n  LL: " + std::to_string(ll) + "  CORR: " + corr + "  CHAINED: " + flags +
           "  \n\n";
}

TEST(DssLayer, FormatByteSelectsTypeAndFlags) {
    EXPECT_EQ(decode({hex("0006D0510001")}),
              "\n" + dss_lines("SEND(AR)", "RQSDSS - Request Data Stream Structure", 6, "0001",
                               "y  CONT ON ERR: n  SAME CORR FOR NEXT DSS: y") + "\n");
    EXPECT_EQ(decode({hex("0006D0040002")}),
              "\n" + dss_lines("SEND(AR)", "OBJDSS - Object Data Stream Structure ENCRYPTED", 6, "0002") + "\n");
    EXPECT_EQ(decode({hex("0006D00F0003")}), "\n" + dss_lines("SEND(AR)", "???DSS", 6, "0003") + "\n");
    EXPECT_EQ(decode({hex("0006D0C2FFFF")}),
              "\n" + dss_lines("SEND(AR)", "RPYDSS - Reply Data Stream Structure", 6, "FFFFFFFF",
                               "y  CONT ON ERR: n  SAME CORR FOR NEXT DSS: n") + "\n");
    EXPECT_EQ(decode({hex("0006D0250004")}),
              "\n" + dss_lines("SEND(AR)", "RQSDSS - Request Data Stream Structure NO REPLY", 6, "0004",
                               "n  CONT ON ERR: y  SAME CORR FOR NEXT DSS: n") + "\n");
    EXPECT_EQ(decode({hex("0006D0030001")}),
              "\n" + dss_lines("SEND(AR)", "OBJDSS - Object Data Stream Structure", 6, "0001") + "\n");
}

TEST(DssLayer, DirectionAndRoleLabels) {
    const std::string b = hex("0006D0020001");
    EXPECT_EQ(decode({b}, kRecv, 1).substr(0, 12), "\n  RECV(AR) ");
    EXPECT_EQ(decode({b}, kRecv, 0).substr(0, 12), "\n  RECV(AS) ");
    EXPECT_EQ(decode({b}, kRecv, 2).substr(0, 12), "\n  RECV(AS) ");
    EXPECT_EQ(decode({b}, kSend, 0).substr(0, 12), "\n  SEND(AS) ");
}

TEST(DssLayer, NotADssYieldsOnlyTheBlankLine) {
    EXPECT_EQ(decode({hex("0010C0010001000A116D")}), "\n");
    EXPECT_EQ(decode({""}), "\n");  // only the role byte
}

TEST(DssLayer, HeaderCutOffIsCompletedFromTheNextBuffer) {
    // First buffer: a sound DSS, then 3 bytes of the next header.
    std::string first = hex("0006D0010001") + hex("000ED0");
    // Second buffer: the header's other 3 bytes, its object (SRVNAM, 8 bytes
    // in all), and a DSS behind it at LL - 3.
    std::string second = hex("010002") + hex("0008116DC1C2C3C4") + hex("0006D0020003");
    std::string got = decode({first, second});
    std::string want = "\n" + dss_lines("SEND(AR)", "RQSDSS - Request Data Stream Structure", 6, "0001") + "\n" +
                       "  Incomplete DSS Header. Continued in next buffer...\n\n" + "\n" +
                       dss_lines("SEND(AR)", "RQSDSS - Request Data Stream Structure", 14, "0002") +
                       "    NM: SRVNAM - Server Name\n      LL: 8    CP: 116D   \n"
                       "      ASCII: ....\n      EBCDIC: ABCD\n\n" +
                       dss_lines("SEND(AR)", "RPYDSS - Reply Data Stream Structure", 6, "0003") + "\n";
    EXPECT_EQ(got, want);
}

TEST(DssLayer, ShortBufferAfterCutOffHeaderIsSavedItself) {
    std::string got = decode({hex("000ED0"), hex("00"), hex("06D0010001 0006D0020002")});
    EXPECT_EQ(got, "\n  Incomplete DSS Header. Continued in next buffer...\n\n"
                   "\n  Incomplete DSS Header. Continued in next buffer...\n\n"
                   "\n" + dss_lines("SEND(AR)", "RQSDSS - Request Data Stream Structure", 6, "0001") + "\n" +
                       dss_lines("SEND(AR)", "RPYDSS - Reply Data Stream Structure", 6, "0002") + "\n");
}

TEST(DssLayer, LengthsThatWouldNotAdvanceEndTheWalk) {
    // LL 0: header lines once, then the walk ends (no endless repetition).
    std::string dss0 = dss_lines("SEND(AR)", "RQSDSS - Request Data Stream Structure", 0, "0001");
    EXPECT_EQ(decode({hex("0000D0010001") + std::string(40, '\0')}), "\n" + dss0 + "\n");
    // Negative LL (bit 0x8000).
    std::string neg = dss_lines("SEND(AR)", "RQSDSS - Request Data Stream Structure", -32758, "0001");
    EXPECT_EQ(decode({hex("800AD0010001") + std::string(40, '\0')}), "\n" + neg + "\n");
    // After a carried header of 3 bytes, an LL of 3 would occupy 0 bytes.
    std::string got = decode({hex("0006D0010001") + hex("0003D0"), hex("010002") + hex("0006D0010001")});
    EXPECT_EQ(got.substr(got.rfind("Incomplete")),
              "Incomplete DSS Header. Continued in next buffer...\n\n\n" +
                  dss_lines("SEND(AR)", "RQSDSS - Request Data Stream Structure", 3, "0002") + "\n");
    // LL 1 to 5 steps on by LL.
    got = decode({hex("0004D0010001") + hex("0006D0020002")});
    EXPECT_NE(got.find("LL: 4  CORR: 0001"), std::string::npos);
}

TEST(ObjectLayer, CharacterStringObjectAtDepthFour) {
    std::string got = decode({hex("000ED0010001 000A116D C4859982A8 40")});
    EXPECT_EQ(got.substr(got.find("    NM")), "    NM: SRVNAM - Server Name\n      LL: 10    CP: 116D   \n"
                                               "      ASCII: .....@\n      EBCDIC: Derby \n\n");
}

TEST(ObjectLayer, UnknownCodePointIsRawData) {
    std::string got = decode({hex("000CD0010001 00061234ABCD")});
    EXPECT_EQ(got.substr(got.find("    NM")), "    NM: UNKNOWN - UNKNOWN\n      LL: 6    CP: 1234   \n      " +
                                               kDumpHeader + "      ABCD" + std::string(13, ' ') +
                                               std::string(18, ' ') + ".." + std::string(15, ' ') + "..\n\n");
}

TEST(ObjectLayer, ExtendedLengthForms) {
    // 0x8008 with an extended length of 16: value of 16 bytes.
    std::string got = decode({hex("0024D0030001 8008147A 00000010") + std::string(16, 'A')});
    EXPECT_EQ(got.substr(got.find("    NM")),
              "    NM: FDODTA - FD:OCA Data\n      LL: FFFF8008    CP: 147A   \n"
              "      Extended Length: 16   \n      " + kDumpHeader +
                  "      4141414141414141 4141414141414141  AAAAAAAAAAAAAAAA ................\n\n");
    // 0x8004: streamed to the end of a DSS of LL 100, at offset 10.
    std::string dss = hex("0064D0030001 0004 2414 8004147A") + std::string(86, 'B');
    got = decode({dss});
    EXPECT_NE(got.find("      LL: FFFF8004    CP: 147A   \n      Extended Length: [Streamed Object] \n"),
              std::string::npos);
    std::size_t rows = 0;  // 86 value bytes: five full rows and one of 6
    for (std::size_t p = 0; (p = got.find("4242424242424242 4242424242424242", p)) != std::string::npos; ++p) ++rows;
    EXPECT_EQ(rows, 5u);
    EXPECT_NE(got.find("      424242424242" + std::string(5, ' ') + std::string(18, ' ') + "BBBBBB"), std::string::npos);
    // Other 0x80xx forms: header only, empty value, the walk goes on.
    got = decode({hex("0016D0030001 8006147A 0000 000A116D C1C2C3C4C5C6")});
    EXPECT_NE(got.find("      LL: FFFF8006    CP: 147A   \n      Extended Length: 0   \n      " + kDumpHeader +
                       "    NM: SRVNAM"),
              std::string::npos)
        << got;
}

TEST(ObjectLayer, CutOffObjectsAndHeaders) {
    // 10 bytes left at an object of LL 20: 6 value bytes dumped.
    std::string got = decode({hex("0020D0030001 0014147A 010203040506")});
    EXPECT_EQ(got.substr(got.find("    NM")), "    NM: FDODTA - FD:OCA Data\n      LL: 20    CP: 147A   [Object Incomplete]\n      " +
                                               kDumpHeader + "      010203040506" + std::string(5, ' ') +
                                               std::string(18, ' ') + "......" + std::string(11, ' ') +
                                               "......\n\n");
    // 3 bytes left at an object start: the note and a dump at its own depth.
    got = decode({hex("0020D0030001 0008116DC1C2C3C4 0005D2")});
    EXPECT_NE(got.find("    Incomplete object header. Continued in next buffer...\n    " + kDumpHeader +
                       "    0005D2" + std::string(11, ' ') + std::string(18, ' ') + "..." + std::string(14, ' ') +
                       "..K\n\n"),
              std::string::npos)
        << got;
    // 0x8008 with fewer than 8 bytes left: treated as a cut-off header.
    got = decode({hex("0020D0030001 8008147A 00")});
    EXPECT_EQ(got.substr(got.find("    ")), "    Incomplete object header. Continued in next buffer...\n    " +
                                             kDumpHeader + "    8008147A00" + std::string(7, ' ') +
                                             std::string(18, ' ') + "...z." + std::string(12, ' ') + "...:.\n\n");
}

TEST(ObjectLayer, ObjectShorterThanItsHeaderEndsTheWalk) {
    for (const char* ll : {"0000", "0002", "8000", "8003"}) {
        std::string got = decode({hex("0010D0030001") + hex(ll) + hex("147A AABBCCDD") + hex("0006D0010001")});
        EXPECT_NE(got.find("[Object Incomplete]\n      " + kDumpHeader + "      AABBCCDD0006D001 0001"),
                  std::string::npos)
            << ll << got;
        EXPECT_EQ(got.find("RQSDSS"), std::string::npos) << ll;  // the walk ended
    }
    std::string got = decode({hex("0010D0030001 0000147A")});
    EXPECT_NE(got.find("LL: 0    CP: 147A   [Object Incomplete]\n      " + kDumpHeader + "\n"), std::string::npos);
    got = decode({hex("0010D0030001 8001147A")});
    EXPECT_NE(got.find("LL: FFFF8001    CP: 147A   \n      Extended Length: 0   [Object Incomplete]\n"),
              std::string::npos);
}

TEST(ObjectLayer, CollectionWalkAndDepths) {
    // EXCSAT holding EXTNAM (raw data) and SRVNAM.
    std::string got = decode({hex("0019D0010001 0013 1041 0007115E C1C2C3 0008116D C4C5C6C7")});
    EXPECT_EQ(got.substr(got.find("    NM")),
              "    NM: EXCSAT - Exchange Server Attributes\n      LL: 19    CP: 1041   \n"
              "      NM: EXTNAM - External Name\n        LL: 7    CP: 115E   \n        " + kDumpHeader +
                  "        C1C2C3" + std::string(11, ' ') + std::string(18, ' ') + "..." + std::string(14, ' ') +
                  "ABC\n"
                  "      NM: SRVNAM - Server Name\n        LL: 8    CP: 116D   \n"
                  "        ASCII: ....\n        EBCDIC: DEFG\n\n");
    // Extended-length collection.
    got = decode({hex("001AD0010001 80081041 0000000C 0008116D C4C5C6C7 0004 1149")});
    EXPECT_NE(got.find("      LL: FFFF8008    CP: 1041   \n      Extended Length: 12   \n      NM: SRVNAM"),
              std::string::npos);
}

TEST(ObjectLayer, CodePointValuesAndOddLengths) {
    std::string got = decode({hex("000BD0010001 0005 000C 14")});
    EXPECT_NE(got.find("      CODE POINT DATA: 1400\n      NAME: UNKNOWN - UNKNOWN\n"), std::string::npos) << got;
    got = decode({hex("000AD0010001 0004 2105")});  // empty boolean
    EXPECT_NE(got.find("      LL: 4    CP: 2105   \n      " + kDumpHeader), std::string::npos) << got;
}

TEST(ObjectLayer, DeepNestingIsBoundedAndShowsTheRestAsData) {
    // 200 nested EXCSAT collections, each 4 bytes more than the one inside.
    const int levels = 200;
    std::string obj = hex("0008116DC1C2C3C4");
    for (int i = 0; i < levels; ++i) {
        std::uint16_t ll = static_cast<std::uint16_t>(obj.size() + 4);
        obj = std::string{static_cast<char>(ll >> 8), static_cast<char>(ll & 0xFF), 0x10, 0x41} + obj;
    }
    std::uint16_t dll = static_cast<std::uint16_t>(obj.size() + 6);
    std::string dss = std::string{static_cast<char>(dll >> 8), static_cast<char>(dll & 0xFF)} + hex("D0010001") + obj;
    std::string got = decode({dss});
    EXPECT_EQ(std::count(got.begin(), got.end(), '\n') < 400, true);
    std::size_t deepest = 0, start = 0;
    for (std::size_t nl; (nl = got.find('\n', start)) != std::string::npos; start = nl + 1)
        deepest = std::max(deepest, got.find_first_not_of(' ', start) - start);
    EXPECT_LE(deepest, static_cast<std::size_t>(4 + 2 * drda::DdmDecoder::kMaxNesting + 4));
}

// Large records: lengths and offsets are counted at full width.
TEST(ObjectLayer, RecordsOfManyKilobytesDecodeCompletely) {
    for (std::size_t total : {40000u, 70000u}) {
        std::string buffer;
        int dsss = 0;
        while (buffer.size() + 1006 <= total) {
            buffer += hex("03EED0030001 03E8241B") + std::string(996, 'q');
            ++dsss;
        }
        std::string got = decode({buffer});
        std::size_t count = 0;
        for (std::size_t p = 0; (p = got.find("NM: QRYDTA", p)) != std::string::npos; ++p) ++count;
        EXPECT_EQ(count, static_cast<std::size_t>(dsss)) << total;
        EXPECT_EQ(got.find("Incomplete"), std::string::npos);
    }
    // One streamed object of 70 000 bytes in an OBJDSS that continues.
    std::string big = hex("7FFFD0030001 8004241B") + std::string(70000, 'x');
    std::string got = decode({big});
    EXPECT_NE(got.find("Extended Length: [Streamed Object] "), std::string::npos);
}

// Thousands of random and mutated buffers: nothing read out of bounds (the
// asan build checks), output bounded and deterministic.
TEST(DecoderProperty, HostileBuffersAreSafeAndDeterministic) {
    std::mt19937 rng(20261208);
    const std::vector<std::string> seeds = {
        hex("0019D0010001 0013 1041 0007115E C1C2C3 0008116D C4C5C6C7"),
        hex("0024D0030001 8008147A 00000010") + std::string(16, 'A'),
        hex("0064D0030001 0008 2414 4142 8004147A") + std::string(86, 'B'),
        hex("001AD0010001 80081041 0000000C 0008116D C4C5C6C7 0004 1149"),
        hex("0030D0520001 002A 2408 00 FFFFFF92 F4F2F5F0F2 5359535354415430 FF FF 00000000000000000000"),
    };
    for (int iter = 0; iter < 3000; ++iter) {
        std::vector<std::string> buffers;
        int n = 1 + static_cast<int>(rng() % 3);
        for (int k = 0; k < n; ++k) {
            std::string b;
            if (rng() % 3 == 0) {
                b.resize(rng() % 200);
                for (auto& c : b) c = static_cast<char>(rng());
            } else {
                b = seeds[rng() % seeds.size()];
                int flips = 1 + static_cast<int>(rng() % 4);
                for (int f = 0; f < flips && !b.empty(); ++f) b[rng() % b.size()] = static_cast<char>(rng());
                if (rng() % 4 == 0) b.resize(rng() % (b.size() + 1));
            }
            buffers.push_back(b);
        }
        std::string a = decode(buffers), again = decode(buffers);
        ASSERT_EQ(a, again);
        std::size_t in = 0;
        for (auto& b : buffers) in += b.size();
        ASSERT_LT(a.size(), 2000 + 400 * in) << iter;
    }
}

}  // namespace
