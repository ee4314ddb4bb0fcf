// SPDX-License-Identifier: Apache-2.0
// FD:OCA descriptor printer: MDDs and SDAs, the N-GDA and CPT entries with
// their running index, the footer, and values that are short, cut or out of
// order.
#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "ddm/fdoca.h"
#include "ddm/printers.h"
#include "support/capture.h"
#include "support/trace_builder.h"

using drda::ByteView;
using drda::TextWriter;
using testsupport::capture;
using testsupport::hex;
using testsupport::Exact;
using testsupport::Rig;

namespace {

std::string fdoca(int depth, const std::string& bytes) {
    Exact v(bytes);
    return capture([&](TextWriter& w) { drda::print_fdoca_descriptor(w, depth, v.view()); });
}

std::string dump(int depth, const std::string& bytes) {
    return capture([&](TextWriter& w) { drda::print_data_dump(w, depth, ByteView(bytes)); });
}

// The footer line and the dump of the last `f` bytes of `value`.
std::string footer(int depth, const std::string& value, std::size_t f) {
    return std::string(static_cast<std::size_t>(depth), ' ') + "Footer: Length: " + std::to_string(f) + "\n" +
           dump(depth, value.substr(value.size() - f));
}

const std::string kRlo = hex("06 71 E4 D0 00 01");

TEST(Fdoca, MddSdaNgdaAndFooter) {
    const std::string v = hex("07 78 00 05 01 01 02 / 0C 70 02 10 00 00 00 00 00 01 00 04 / "
                              "09 76 D0 02 00 04 03 00 04") + kRlo;
    ASSERT_EQ(v.size(), 34u);
    EXPECT_EQ(fdoca(4, v),
              "    *MDD: Len: 07 Type: 78 ID: 00 AppClass: 05 MDD Type: 01\n"
              "          RefType: 01 DrdaType: 02\n"
              "     SDA: Len: 0C Type: 70 EnvLid: 02 FD:OCA Type: 10\n"
              "          CCSID: 00000000 CharSize: 00 Mode: 01 Length: 0X0004\n"
              "     N-GDA Len: 09 Type: 76 ID: FFFFFFD0\n"
              "        Var[00] Type: 0X02 Len: 0X0004\n"
              "        Var[01] Type: 0X03 Len: 0X0004\n" +
                  footer(4, v, 6));
}

TEST(Fdoca, NothingRecognisedIsAllFooter) {
    EXPECT_EQ(fdoca(2, kRlo), footer(2, kRlo, 6));
    EXPECT_EQ(fdoca(2, hex("0778")), footer(2, hex("0778"), 2));
    EXPECT_EQ(fdoca(2, ""), footer(2, "", 0));
    // An MDD with only 3 bytes behind its header is taken but not printed.
    EXPECT_EQ(fdoca(0, hex("07 78 00 05 01 01")), footer(0, hex("07 78 00 05 01 01"), 3));
}

TEST(Fdoca, MddTypeTwoHasNoSda) {
    const std::string v = hex("07 78 00 05 02 01 00 / 06 76 00 02 00 08");
    EXPECT_EQ(fdoca(0, v),
              "*MDD: Len: 07 Type: 78 ID: 00 AppClass: 05 MDD Type: 02\n"
              "      RefType: 01 DrdaType: 00\n"
              " N-GDA Len: 06 Type: 76 ID: 00\n"
              "    Var[00] Type: 0X02 Len: 0X0008\n" +
                  footer(0, v, 0));
}

TEST(Fdoca, MddAndSdaEndingTheValue) {
    const std::string v = hex("07 78 00 05 01 01 02 / 0C 70 02 10 00 00 04 B8 01 01 80 00");
    ASSERT_EQ(v.size(), 19u);
    EXPECT_EQ(fdoca(0, v),
              "*MDD: Len: 07 Type: 78 ID: 00 AppClass: 05 MDD Type: 01\n"
              "      RefType: 01 DrdaType: 02\n"
              " SDA: Len: 0C Type: 70 EnvLid: 02 FD:OCA Type: 10\n"
              "      CCSID: 0X000004B8 CharSize: 01 Mode: 01 Length: 0XFFFF8000\n" +
                  footer(0, v, 3));
    // Too few bytes for the SDA: the MDD alone, the rest in the footer.
    const std::string cut = v.substr(0, 18);
    EXPECT_EQ(fdoca(0, cut),
              "*MDD: Len: 07 Type: 78 ID: 00 AppClass: 05 MDD Type: 01\n"
              "      RefType: 01 DrdaType: 02\n" +
                  footer(0, cut, 11));
}

TEST(Fdoca, NgdaEntryCounts) {
    // Length 3: no entries; the next triplet is the footer.
    std::string v = hex("03 76 D0") + kRlo;
    EXPECT_EQ(fdoca(0, v), " N-GDA Len: 03 Type: 76 ID: FFFFFFD0\n" + footer(0, v, 6));
    v = hex("03 76 D0");
    EXPECT_EQ(fdoca(0, v), " N-GDA Len: 03 Type: 76 ID: FFFFFFD0\n" + footer(0, v, 0));
    // Length 7: the second entry takes two bytes from behind the triplet.
    v = hex("07 76 D0 02 00 04 03 / 00 04") + kRlo;
    EXPECT_EQ(fdoca(0, v),
              " N-GDA Len: 07 Type: 76 ID: FFFFFFD0\n"
              "    Var[00] Type: 0X02 Len: 0X0004\n"
              "    Var[01] Type: 0X03 Len: 0X0004\n" +
                  footer(0, v, 6));
    // Entries cut off by the end of the value: the listing stops.
    v = hex("09 76 D0 02 00 04 03 00");
    EXPECT_EQ(fdoca(0, v),
              " N-GDA Len: 09 Type: 76 ID: FFFFFFD0\n"
              "    Var[00] Type: 0X02 Len: 0X0004\n" +
                  footer(0, v, 2));
}

TEST(Fdoca, LongNgdaWithSignWidenedFields) {
    std::string v = hex("84 76 D0 / C8 80 00 / 00 00 00");
    for (int i = 2; i < 43; ++i) v += hex("02 00") + static_cast<char>(i);
    ASSERT_EQ(v.size(), 0x84u);
    const std::string text = fdoca(0, v);
    EXPECT_EQ(text.substr(0, text.find("    Var[02]")),
              " N-GDA Len: FFFFFF84 Type: 76 ID: FFFFFFD0\n"
              "    Var[00] Type: 0XFFFFFFC8 Len: 0X8000\n"
              "    Var[01] Type: 00 Len: 0000\n");
    EXPECT_NE(text.find("    Var[02] Type: 0X02 Len: 0X0002\n"), std::string::npos);
    EXPECT_EQ(text.substr(text.find("    Var[42]")), "    Var[42] Type: 0X02 Len: 0X002A\n" + footer(0, v, 0));
    std::size_t lines = 0;
    for (std::size_t at = text.find("Var["); at != std::string::npos; at = text.find("Var[", at + 1)) ++lines;
    EXPECT_EQ(lines, 43u);
}

TEST(Fdoca, CptIndexRunsOn) {
    // After an N-GDA: the CPT goes on from the N-GDA's last index.
    std::string v = hex("09 76 D0 02 00 04 03 00 04 / 06 7F 00 04 00 08") + kRlo;
    EXPECT_EQ(fdoca(0, v),
              " N-GDA Len: 09 Type: 76 ID: FFFFFFD0\n"
              "    Var[00] Type: 0X02 Len: 0X0004\n"
              "    Var[01] Type: 0X03 Len: 0X0004\n"
              " CPT Len: 06 Type: 7F ID: 00\n"
              "    Var[02] Type: 0X04 Len: 0X0008\n" +
                  footer(0, v, 6));
    // After MDDs and no N-GDA: the index counts the MDD rounds.
    v = hex("07 78 00 05 02 01 00 / 07 78 00 05 02 01 00 / 06 7F 00 04 00 08");
    EXPECT_EQ(fdoca(0, v),
              "*MDD: Len: 07 Type: 78 ID: 00 AppClass: 05 MDD Type: 02\n"
              "      RefType: 01 DrdaType: 00\n"
              "*MDD: Len: 07 Type: 78 ID: 00 AppClass: 05 MDD Type: 02\n"
              "      RefType: 01 DrdaType: 00\n"
              " CPT Len: 06 Type: 7F ID: 00\n"
              "    Var[02] Type: 0X04 Len: 0X0008\n" +
                  footer(0, v, 0));
}

TEST(Fdoca, OutOfOrderTripletsEndTheRecognition) {
    // An MDD after the N-GDA, and a second N-GDA, are footer.
    const std::string mdd = hex("07 78 00 05 02 01 00");
    std::string v = hex("06 76 00 02 00 08") + mdd;
    EXPECT_EQ(fdoca(0, v), " N-GDA Len: 06 Type: 76 ID: 00\n    Var[00] Type: 0X02 Len: 0X0008\n" + footer(0, v, 7));
    v = hex("06 76 00 02 00 08 / 06 76 00 02 00 08");
    EXPECT_EQ(fdoca(0, v), " N-GDA Len: 06 Type: 76 ID: 00\n    Var[00] Type: 0X02 Len: 0X0008\n" + footer(0, v, 6));
}

// Query answer set descriptions as a real server sends them: an N-GDA and
// two RLOs, which are left to the footer.
TEST(Fdoca, RealQrydsc) {
    const std::string v = hex("0976d00200043200050971e0540001d000010671f0e00000");
    EXPECT_EQ(fdoca(6, v),
              "       N-GDA Len: 09 Type: 76 ID: FFFFFFD0\n"
              "          Var[00] Type: 0X02 Len: 0X0004\n"
              "          Var[01] Type: 0X32 Len: 0X0005\n" +
                  footer(6, v, 15));
    const std::string wide = hex(
        "4276d00200040500020300041700080f0f040f1f0a0f05000b00080d00040b00083f000a330064357fbc29001029008021000a"
        "23000825001dbf0001c98004cf80040971e0540001d000010671f0e00000");
    const std::string text = fdoca(6, wide);
    EXPECT_NE(text.find("          Var[20] Type: 0XFFFFFFCF Len: 0X8004\n" + footer(6, wide, 15)), std::string::npos)
        << text;
    EXPECT_EQ(text.find("Var[21]"), std::string::npos);
}

// The footer length as printed, or -1 when the text does not end with a
// footer line and the dump of that many of the value's last bytes.
long footer_length(Rig& rig, int depth, const std::string& value, const std::string& text) {
    const std::string mark = std::string(static_cast<std::size_t>(depth), ' ') + "Footer: Length: ";
    std::size_t at = text.rfind("\n" + mark);
    at = at == std::string::npos ? (text.rfind(mark, 0) == 0 ? 0 : std::string::npos) : at + 1;
    if (at == std::string::npos) return -1;
    const long f = std::stol(text.substr(at + mark.size()));
    if (f < 0 || f > static_cast<long>(value.size())) return -2;
    const std::string tail = value.substr(value.size() - static_cast<std::size_t>(f));
    const std::string want = mark + std::to_string(f) + "\n" +
                             rig.run([&](TextWriter& w) { drda::print_data_dump(w, depth, ByteView(tail)); });
    if (text.compare(at, std::string::npos, want) != 0) return -3;
    return f;
}

// Random and mutated descriptors: no read behind the value (asan), and the
// text always ends with a footer of 0 to L bytes that dumps exactly the
// value's last F bytes.
TEST(Fdoca, HostileValuesKeepTheFooterInsideTheValue) {
    Rig rig;
    std::mt19937 rng(0xFD0CA);
    const std::string seeds[] = {
        hex("07 78 00 05 01 01 02 0C 70 02 10 00 00 00 00 00 01 00 04 09 76 D0 02 00 04 03 00 04") + kRlo,
        hex("07 78 00 05 02 01 00 07 78 00 05 02 01 00 06 7F 00 04 00 08"),
        hex("09 76 D0 02 00 04 03 00 04 06 7F 00 04 00 08 06 7F 00 04 00 08") + kRlo,
        hex("0976d00200043200050971e0540001d000010671f0e00000"),
    };
    const std::uint8_t types[] = {0x78, 0x76, 0x7F, 0x70, 0x71};
    for (int i = 0; i < 6000; ++i) {
        std::string v;
        if (i % 3 == 0) {
            v.resize(rng() % 64);
            for (char& c : v) c = static_cast<char>(rng());
        } else if (i % 3 == 1) {
            // Triplet-shaped noise: headers with the recognised type bytes.
            const int triplets = static_cast<int>(rng() % 6);
            for (int t = 0; t < triplets; ++t) {
                const std::size_t len = rng() % 16;
                std::string tri(len, '\0');
                for (char& c : tri) c = static_cast<char>(rng());
                if (len > 0) tri[0] = static_cast<char>(rng() % 4 ? len : rng());
                if (len > 1) tri[1] = static_cast<char>(types[rng() % std::size(types)]);
                v += tri;
            }
        } else {
            v = seeds[rng() % std::size(seeds)];
            for (int m = static_cast<int>(rng() % 4); m >= 0; --m) v[rng() % v.size()] = static_cast<char>(rng());
            v.resize(rng() % (v.size() + 1));
        }
        const int depth = static_cast<int>(rng() % 7);
        Exact exact(v);
        const std::string text = rig.run([&](TextWriter& w) { drda::print_fdoca_descriptor(w, depth, exact.view()); });
        const long f = footer_length(rig, depth, v, text);
        ASSERT_GE(f, 0) << "value " << i << " of " << v.size() << " bytes";
        ASSERT_LE(f, static_cast<long>(v.size()));
    }
}

}  // namespace
