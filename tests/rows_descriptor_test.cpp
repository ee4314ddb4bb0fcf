// SPDX-License-Identifier: Apache-2.0
// Row descriptors from FD:OCA triplets: groups, continuations, late
// environments, row layouts, OUTOVR, and the faults that make one unusable.
#include <gtest/gtest.h>

#include "ddm/rows/descriptor.h"
#include "support/trace_builder.h"

using namespace drda;
using namespace drda::rows;
using testsupport::hex;

namespace {

const std::string kQrydscRlo = "0971E0540001D00001 0671F0E00000";  // SQLCADTA + SQLDTARD
const std::string kSqldtaRlo = "0671E4D00001";

Descriptor build(const std::string& hexbytes, std::string* error = nullptr) {
    DescriptorBuilder b;
    const std::string bytes = hex(hexbytes);
    b.add(ByteView(bytes));
    if (error) *error = b.error();
    EXPECT_TRUE(b.complete() || b.failed()) << hexbytes;
    return b.take();
}

TEST(Descriptor, GroupAndRowLayout) {
    // s03 rec 18's QRYDSC, first entries.
    const Descriptor d = build("1276D0 020004 050002 030004 170008 0F0F04" + kQrydscRlo);
    ASSERT_EQ(d.columns.size(), 5u);
    EXPECT_TRUE(d.has_sqlca);
    EXPECT_EQ(d.columns[0].code, 0x02);
    EXPECT_FALSE(d.columns[0].nullable());
    EXPECT_TRUE(d.columns[1].nullable());
    EXPECT_EQ(d.columns[3].layout, Layout::kFixed);
    EXPECT_EQ(d.columns[4].layout, Layout::kPacked);
    EXPECT_EQ(d.columns[4].length, 0x0F04);
    const Descriptor p = build("0676D0030004" + kSqldtaRlo);
    EXPECT_FALSE(p.has_sqlca) << "SQLDTA's RLO has no SQLCA group";
    ASSERT_EQ(p.columns.size(), 1u);
}

TEST(Descriptor, ContinuationNumbersRunOn) {
    // 84 entries in the N-GDA, 23 in a CPT: 107 columns (s12 rec 14).
    std::string ngda = "FF76D0", cpt = "487F00";
    for (int i = 0; i < 84; ++i) ngda += "BF0001";
    for (int i = 0; i < 23; ++i) cpt += i == 0 ? "3F0010" : "BF0001";
    const Descriptor d = build(ngda + cpt + kQrydscRlo);
    ASSERT_EQ(d.columns.size(), 107u);
    EXPECT_EQ(d.columns[84].code, 0x3F) << "the CPT's first entry is column 85";
    EXPECT_EQ(d.columns[84].length, 0x10);
}

TEST(Descriptor, LateEnvironment) {
    // MDD + SDA redefine local id 0x02 (INTEGER, fixed 4 bytes) and 0x90
    // (nullable VARCHAR with a 2-byte length, CCSID 37); MDDs before the GDA
    // and the RLO are allowed.
    const Descriptor d = build(
        "077800050101 02 0C7002100000000000010004"
        "077800050101 33 0C7090110000002500010020"
        "077800050201D0 0C76D0 020004 900020 030004"
        "077800050301E4" + kSqldtaRlo);
    ASSERT_EQ(d.columns.size(), 3u);
    EXPECT_EQ(d.columns[0].drda, 0x02);
    EXPECT_EQ(d.columns[0].layout, Layout::kLengthWord);
    EXPECT_FALSE(d.columns[0].nullable());
    EXPECT_EQ(d.columns[1].code, 0x90);
    EXPECT_EQ(d.columns[1].drda, 0x33) << "meaning and nullability from the MDD's DRDA type";
    EXPECT_TRUE(d.columns[1].nullable());
    EXPECT_EQ(d.columns[1].layout, Layout::kPrefix2) << "length rule from the SDA's FD:OCA type";
    ASSERT_EQ(d.columns[1].ccsid_ref, 1);
    EXPECT_EQ(d.ccsids[0], 37u);
    EXPECT_EQ(d.columns[2].drda, 0x03) << "an id no SDA redefined keeps the table's meaning";
    EXPECT_EQ(d.columns[2].layout, Layout::kFixed);
}

TEST(Descriptor, LateSdaLengthRules) {
    const auto layout = [](const char* fdoca, const char* drda) {
        const Descriptor d = build(std::string("077800050101") + drda + "0C70A0" + fdoca + "000000000001 0004" +
                                   "0676D0A00004" + kSqldtaRlo);
        return d.columns.at(0).layout;
    };
    EXPECT_EQ(layout("11", "33"), Layout::kPrefix2);
    EXPECT_EQ(layout("02", "29"), Layout::kPrefix2);
    EXPECT_EQ(layout("30", "0F"), Layout::kPacked);
    EXPECT_EQ(layout("32", "11"), Layout::kDigits);
    EXPECT_EQ(layout("50", "C9"), Layout::kLob);
    EXPECT_EQ(layout("07", "45"), Layout::kPrefix1);
    EXPECT_EQ(layout("19", "47"), Layout::kPrefix1);
    EXPECT_EQ(layout("10", "31"), Layout::kLengthWord);
}

TEST(Descriptor, OverSeveralObjects) {
    DescriptorBuilder b;
    const std::string one = hex("0976D0020004030004"), two = hex("067F00330010"), three = hex(kQrydscRlo);
    EXPECT_TRUE(b.add(ByteView(one)));
    EXPECT_FALSE(b.complete());
    EXPECT_TRUE(b.add(ByteView(two)));
    EXPECT_FALSE(b.complete());
    EXPECT_TRUE(b.add(ByteView(three)));
    EXPECT_TRUE(b.complete());
    EXPECT_EQ(b.take().columns.size(), 3u);
}

TEST(Descriptor, Faults) {
    std::string e;
    build("0976D00200040300", &e);
    EXPECT_EQ(e, "triplet at descriptor byte 0") << "longer than the rest";
    build("0676D0020004 02", &e);
    EXPECT_EQ(e, "triplet at descriptor byte 6") << "shorter than 3";
    build("0676D0020004 0673000000 00", &e);
    EXPECT_EQ(e, "triplet type 73 length 6");
    build("0876D0020004 0000", &e);
    EXPECT_EQ(e, "triplet type 76 length 8") << "entries not a multiple of 3";
    build("087800050101 0200", &e);
    EXPECT_EQ(e, "triplet type 78 length 8");
    build("0B700210000000000001 00", &e);
    EXPECT_EQ(e, "triplet type 70 length 11");
    build("0771E0540001 00", &e);
    EXPECT_EQ(e, "triplet type 71 length 7");
    // More than 4,096 columns.
    std::string many;
    for (int g = 0; g < 20; ++g) {
        many += g == 0 ? "FF76D0" : "FF7F00";
        for (int i = 0; i < 84; ++i) many += "020004";
    }
    DescriptorBuilder b;
    const std::string bytes = hex(many);
    b.add(ByteView(bytes));
    EXPECT_EQ(b.error(), "") << "1680 columns: not over the bound";
    b.reset();
    const std::string big = bytes + bytes + bytes;
    EXPECT_FALSE(b.add(ByteView(big)));
    EXPECT_EQ(b.error(), "5040 columns");
}

TEST(Descriptor, OverrideKeepsZeroEntries) {
    const Descriptor base = build("0C76D0 020004 C98004 CF8004" + kQrydscRlo);
    const Descriptor ov = build("0C76D0 000000 190004 1B0004" + kQrydscRlo);
    const Descriptor m = apply_override(base, ov);
    ASSERT_EQ(m.columns.size(), 3u);
    EXPECT_EQ(m.columns[0].code, 0x02);
    EXPECT_FALSE(m.columns[0].flags & kOutovr);
    EXPECT_EQ(m.columns[1].code, 0x19);
    EXPECT_TRUE(m.columns[1].flags & kOutovr);
    EXPECT_EQ(m.columns[1].layout, Layout::kFixed);
    EXPECT_EQ(m.columns[2].code, 0x1B);
    EXPECT_TRUE(m.has_sqlca);
}

}  // namespace
