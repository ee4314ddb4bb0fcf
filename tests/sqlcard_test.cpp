// SPDX-License-Identifier: Apache-2.0
// SQLCARD printer: null indicators, SQLCODE in both orders, SQLSTATE,
// SQLERRPROC, the dumped groups, and values too short to hold the fields.
#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "ddm/printers.h"
#include "ddm/sqlcard.h"
#include "support/capture.h"
#include "support/trace_builder.h"

using drda::ByteView;
using drda::TextWriter;
using testsupport::capture;
using testsupport::hex;
using testsupport::Exact;
using testsupport::Rig;

namespace {

std::string sqlcard(int depth, const std::string& bytes) {
    Exact v(bytes);
    return capture([&](TextWriter& w) { drda::print_sqlcard(w, depth, v.view()); });
}

std::string dump(int depth, const std::string& bytes) {
    return capture([&](TextWriter& w) { drda::print_data_dump(w, depth, ByteView(bytes)); });
}

const std::string kDumpHeader = "DATA:                              (ASCII)          (EBCDIC)\n";

// SQLCAGRP present, SQLCODE FFFFFF92, SQLSTATE in EBCDIC zeros, procedure
// "SQLPROC " in EBCDIC; byte 18 follows.
const std::string kFixed = hex("00 FFFFFF92 F0F0F0F0F0 E2D8D3D7D9D6C340");

const std::string kFixedText =
    "  * SQLCAGRP: Not Null (00)\n"
    "  * SQLCODE:\n"
    "    DECIMAL:     -1828716545     (if byte-reversed: -110) \n"
    "    HEXADECIMAL: 92FFFFFF (if byte-reversed: FFFFFF92)\n"
    "  * SQLSTATE: F0F0F0F0F0\n"
    "  * SQLERRPROC:\n"
    "    ASCII: .......@\n"
    "    EBCDIC: SQLPROC \n";

TEST(Sqlcard, NullAndForeignFirstBytes) {
    EXPECT_EQ(sqlcard(4, hex("FF")), "    * SQLCAGRP: Null (ff)\n");
    // Only the first byte counts once it is 0xFF.
    EXPECT_EQ(sqlcard(4, hex("FF 01 02")), "    * SQLCAGRP: Null (ff)\n");
    const std::string foreign = hex("01") + kFixed.substr(1) + hex("FF");
    EXPECT_EQ(sqlcard(4, foreign), dump(4, foreign));
}

TEST(Sqlcard, TooShortForTheFixedFieldsIsDumped) {
    EXPECT_EQ(sqlcard(2, ""), "  " + kDumpHeader);
    EXPECT_EQ(sqlcard(2, hex("00")), dump(2, hex("00")));
    const std::string eighteen = kFixed;
    ASSERT_EQ(eighteen.size(), 18u);
    EXPECT_EQ(sqlcard(2, eighteen), dump(2, eighteen));
}

TEST(Sqlcard, NineteenBytes) {
    EXPECT_EQ(sqlcard(2, kFixed + hex("FF")), kFixedText + "  * SQLCAXGRP: Null (ff)\n");
    // Any byte but 0x00 counts as a null extended group.
    EXPECT_EQ(sqlcard(2, kFixed + hex("01")), kFixedText + "  * SQLCAXGRP: Null (ff)\n");
    // A present extended group with nothing behind it: the dump header only.
    EXPECT_EQ(sqlcard(2, kFixed + hex("00")), kFixedText + "  * SQLCAXGRP: Not Null (00)\n    " + kDumpHeader);
}

TEST(Sqlcard, ExtendedGroupDumpsEverythingBehindIt) {
    const std::string rest = hex("0000 0000 0000 0000 FF 00 11 22 33");
    EXPECT_EQ(sqlcard(2, kFixed + hex("00") + rest),
              kFixedText + "  * SQLCAXGRP: Not Null (00)\n" + dump(4, rest));
}

TEST(Sqlcard, DiagnosticGroup) {
    const std::string xnull = kFixedText + "  * SQLCAXGRP: Null (ff)\n";
    EXPECT_EQ(sqlcard(2, kFixed + hex("FF FF")), xnull + "  * SQLDIAGGRP: Null (ff)\n");
    EXPECT_EQ(sqlcard(2, kFixed + hex("FF FF 1234")), xnull + "  * SQLDIAGGRP: Null (ff)\n");
    EXPECT_EQ(sqlcard(2, kFixed + hex("FF 00")), xnull + "  * SQLDIAGGRP: Not Null (00)\n    " + kDumpHeader);
    // Any byte but 0xFF counts as a present diagnostic group.
    EXPECT_EQ(sqlcard(2, kFixed + hex("FF 01 C1C2")),
              xnull + "  * SQLDIAGGRP: Not Null (00)\n" + dump(4, hex("C1C2")));
}

TEST(Sqlcard, SqlcodeByteOrdersAndSqlstate) {
    std::string v = kFixed + hex("FF");
    v.replace(1, 4, hex("92FFFFFF"));
    v.replace(5, 5, "00000");
    const std::string text = sqlcard(0, v);
    EXPECT_NE(text.find("DECIMAL:     -110     (if byte-reversed: -1828716545) \n"), std::string::npos) << text;
    EXPECT_NE(text.find("HEXADECIMAL: FFFFFF92 (if byte-reversed: 92FFFFFF)\n"), std::string::npos) << text;
    EXPECT_NE(text.find("* SQLSTATE: 3030303030\n"), std::string::npos) << text;
}

// SQLCARDs as a real server sends them: an SQLCODE of 0 with the
// extended group present, and SQLCODE -20001 (bytes FFFFB1DF) with
// SQLSTATE 42X01 in ASCII.
TEST(Sqlcard, RealServerValues) {
    const std::string ok = hex(
        "000000000020202020204353533130313430000000000000000000000000000000000000000000000000002020202020202020"
        "202020000000000000ff");
    std::string text = sqlcard(6, ok);
    EXPECT_EQ(text.substr(0, text.find("      * SQLCAXGRP")),
              "      * SQLCAGRP: Not Null (00)\n"
              "      * SQLCODE:\n"
              "        DECIMAL:     0     (if byte-reversed: 0) \n"
              "        HEXADECIMAL: 00000000 (if byte-reversed: 00000000)\n"
              "      * SQLSTATE: 2020202020\n"
              "      * SQLERRPROC:\n"
              "        ASCII: CSS10140\n"
              "        EBCDIC: ........\n");
    EXPECT_EQ(text.substr(text.find("      * SQLCAXGRP")), "      * SQLCAXGRP: Not Null (00)\n" + dump(8, ok.substr(19)));

    const std::string err = hex(
        "00ffffb1df34325830354353533130313430000000000000000000000000000000000000000000000000002020202020202020"
        "202020000000134e4f5f535543485f5441424c451434325830350000ff");
    text = sqlcard(6, err);
    EXPECT_NE(text.find("DECIMAL:     -541982721     (if byte-reversed: -20001) \n"), std::string::npos) << text;
    EXPECT_NE(text.find("* SQLSTATE: 3432583035\n"), std::string::npos) << text;
}

// Random and mutated values: the printer either takes the value for an
// SQLCA or dumps it whole, and never reads behind it.
TEST(Sqlcard, HostileValues) {
    Rig rig;
    std::mt19937 rng(0x5C1CA);
    const std::string seeds[] = {kFixed + hex("FF"), kFixed + hex("00 0102"), kFixed + hex("FF 00 0102"),
                                 kFixed + hex("FF FF")};
    for (int i = 0; i < 4000; ++i) {
        std::string v;
        if (i % 2 == 0) {
            v.resize(rng() % 48);
            for (char& c : v) c = static_cast<char>(rng());
            if (!v.empty() && rng() % 2) v[0] = static_cast<char>(rng() % 3 == 0 ? 0xFF : 0x00);
        } else {
            v = seeds[rng() % std::size(seeds)];
            for (int m = static_cast<int>(rng() % 4); m >= 0; --m) v[rng() % v.size()] = static_cast<char>(rng());
            v.resize(rng() % (v.size() + 4), '\x00');
        }
        Exact exact(v);
        const std::string text = rig.run([&](TextWriter& w) { drda::print_sqlcard(w, 3, exact.view()); });
        const bool as_sqlca = text.rfind("   * SQLCAGRP: ", 0) == 0;
        if (!as_sqlca) EXPECT_EQ(text, rig.run([&](TextWriter& w) { drda::print_data_dump(w, 3, ByteView(v)); }));
        EXPECT_EQ(as_sqlca, !v.empty() && (v[0] == '\xFF' || (v[0] == 0 && v.size() >= 19)));
    }
}

}  // namespace
