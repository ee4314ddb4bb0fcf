// SPDX-License-Identifier: Apache-2.0
// Manager level lists and package names: field labels from the dictionary,
// the depths of labels and values, and the lengths that go to the dump.
#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "ddm/package_printers.h"
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

std::string print(drda::ValuePrinter printer, int depth, const std::string& bytes) {
    Exact v(bytes);
    return capture([&](TextWriter& w) { printer(w, depth, v.view()); });
}

std::string dump(int depth, const std::string& bytes) {
    return capture([&](TextWriter& w) { drda::print_data_dump(w, depth, ByteView(bytes)); });
}

std::string sp(int n) { return std::string(static_cast<std::size_t>(n), ' '); }

const std::string kDumpHeader = "DATA:                              (ASCII)          (EBCDIC)\n";

// EBCDIC names padded with EBCDIC blanks: RDBNAM "DB1", RDBCOLID "NULLID",
// PKGID "SYSSH200"; consistency token "SYSLVL01"; section number 5.
const std::string kRdbnam = hex("C4C2F1") + std::string(15, '\x40');
const std::string kRdbcolid = hex("D5E4D3D3C9C4") + std::string(12, '\x40');
const std::string kPkgid = hex("E2E8E2E2C8F2F0F0") + std::string(10, '\x40');
const std::string kToken = hex("E2E8E2D3E5D3F0F1");
const std::string kSection = hex("0005");

// The name fields, labels at `d` and values at `v`.
std::string names_text(int d, int v) {
    return sp(d) + "* RDBNAM - Relational Database Name\n" +
           sp(v) + "ASCII: ...@@@@@@@@@@@@@@@\n" +
           sp(v) + "EBCDIC: DB1               \n" +
           sp(d) + "* RDBCOLID - RDB Collection Identifier\n" +
           sp(v) + "ASCII: ......@@@@@@@@@@@@\n" +
           sp(v) + "EBCDIC: NULLID            \n" +
           sp(d) + "* PKGID - RDB Package Identifier\n" +
           sp(v) + "ASCII: ........@@@@@@@@@@\n" +
           sp(v) + "EBCDIC: SYSSH200          \n";
}

std::string token_text(int d, int v) {
    return sp(d) + "* PKGCNSTKN - RDB Package Consistency Token\n" +
           sp(v) + kDumpHeader +
           sp(v) + "E2E8E2D3E5D3F0F1                   ........         SYSLVL01\n";
}

std::string section_text(int d, int v) {
    return sp(d) + "* PKGSN - RDB Package Section Number\n" +
           sp(v) + "DECIMAL:     5\n" +
           sp(v) + "HEXADECIMAL: 0005\n";
}

std::string pkgnamcsn_text(int d) { return names_text(d, d + 2) + token_text(d, d + 2) + section_text(d, d + 2); }

const std::string kPkgnam = kRdbnam + kRdbcolid + kPkgid;
const std::string kPkgnamct = kPkgnam + kToken;
const std::string kPkgnamcsn = kPkgnamct + kSection;

TEST(Mgrlvlls, PairsAndLengths) {
    EXPECT_EQ(print(drda::print_mgrlvlls, 4, ""), "");
    EXPECT_EQ(print(drda::print_mgrlvlls, 4, hex("1403 0007 2407")), dump(4, hex("1403 0007 2407")));
    EXPECT_EQ(print(drda::print_mgrlvlls, 4, hex("1403 0007 2407 FFFF")),
              "    * AGENT - Agent\n"
              "      LEVEL OF SUPPORT: 7\n"
              "    * SQLAM - SQL Application Manager\n"
              "      LEVEL OF SUPPORT: -1\n");
}

// A manager level list as a real requester sends it; 0x1C08 is not in the
// dictionary.
TEST(Mgrlvlls, RealValueWithAnUnknownManager) {
    EXPECT_EQ(print(drda::print_mgrlvlls, 2, hex("1403000724070007240f0007144000071c0804b8")),
              "  * AGENT - Agent\n"
              "    LEVEL OF SUPPORT: 7\n"
              "  * SQLAM - SQL Application Manager\n"
              "    LEVEL OF SUPPORT: 7\n"
              "  * RDB - Relational Database\n"
              "    LEVEL OF SUPPORT: 7\n"
              "  * SECMGR - Security Manager\n"
              "    LEVEL OF SUPPORT: 7\n"
              "  * UNKNOWN - UNKNOWN\n"
              "    LEVEL OF SUPPORT: 1208\n");
}

TEST(PackageNames, FieldsAndDepths) {
    ASSERT_EQ(kPkgnamcsn.size(), 64u);
    EXPECT_EQ(print(drda::print_pkgnam, 4, kPkgnam), names_text(4, 4));
    EXPECT_EQ(print(drda::print_pkgnamct, 4, kPkgnamct), names_text(4, 4) + token_text(4, 4));
    EXPECT_EQ(print(drda::print_pkgnamcsn, 4, kPkgnamcsn), pkgnamcsn_text(4));
}

TEST(PackageNames, OtherLengthsAreDumped) {
    // Names longer than 18 bytes make the value longer than its layout.
    const std::string longer = kRdbnam + "\x40\x40" + kRdbcolid + kPkgid + kToken;
    EXPECT_EQ(print(drda::print_pkgnamct, 4, longer), dump(4, longer));
    EXPECT_EQ(print(drda::print_pkgnamcsn, 4, longer + kSection), dump(4, longer + kSection));
    EXPECT_EQ(print(drda::print_pkgnam, 4, kPkgnamct), dump(4, kPkgnamct));
    EXPECT_EQ(print(drda::print_pkgnamct, 4, kPkgnam), dump(4, kPkgnam));
    EXPECT_EQ(print(drda::print_pkgnamcsn, 4, kPkgnamct), dump(4, kPkgnamct));
    EXPECT_EQ(print(drda::print_pkgnamcsn, 4, ""), sp(4) + kDumpHeader);
}

TEST(Pkgsnlst, EntriesAndLengths) {
    const std::string entry = "\n" + sp(6) + "PKGNAMCSN - RDB Pkg Name, Const Tkn & Sec Num\n" + pkgnamcsn_text(6);
    EXPECT_EQ(print(drda::print_pkgsnlst, 4, kPkgnamcsn + kPkgnamcsn), entry + entry);
    EXPECT_EQ(print(drda::print_pkgsnlst, 4, ""), "");
    const std::string hundred = kPkgnamcsn + kPkgnamcsn.substr(0, 36);
    EXPECT_EQ(print(drda::print_pkgsnlst, 4, hundred), dump(4, hundred));
}

// Package names as a real requester sends them. The PKGSNLST holds its
// entries as whole PKGNAMCSN objects (4-byte header each, 136 bytes), which
// is not a multiple of 64: shown as raw data.
TEST(PackageNames, RealValues) {
    const std::string csn = hex(
        "726464623b6372656174653d7472756520204e554c4c49442020202020202020202020205359534c483030302020202020202020"
        "20205359534c564c30310001");
    const std::string text = print(drda::print_pkgnamcsn, 4, csn);
    EXPECT_EQ(text.substr(0, text.find("      EBCDIC")),
              "    * RDBNAM - Relational Database Name\n"
              "      ASCII: rddb;create=true  \n");
    EXPECT_NE(text.find("      ASCII: NULLID            \n"), std::string::npos) << text;
    EXPECT_NE(text.find("      ASCII: SYSLH000          \n"), std::string::npos) << text;
    EXPECT_NE(text.find("      5359534C564C3031                   SYSLVL01"), std::string::npos) << text;
    EXPECT_EQ(text.substr(text.find("    * PKGSN")),
              "    * PKGSN - RDB Package Section Number\n"
              "      DECIMAL:     1\n"
              "      HEXADECIMAL: 0001\n");

    const std::string list = hex("0044 2113") + csn + hex("0044 2113") + csn;
    EXPECT_EQ(print(drda::print_pkgsnlst, 4, list), dump(4, list));
}

// Random lengths around the layouts and mutated bytes: each printer either
// takes the value by its layout or dumps it whole, and never reads behind it.
TEST(PackageNames, HostileValues) {
    struct Case {
        drda::ValuePrinter printer;
        std::size_t unit;  // the only accepted length, or its multiple for lists
        bool list;
    };
    const Case cases[] = {
        {drda::print_mgrlvlls, 4, true},    {drda::print_pkgnam, 54, false}, {drda::print_pkgnamct, 62, false},
        {drda::print_pkgnamcsn, 64, false}, {drda::print_pkgsnlst, 64, true},
    };
    Rig rig;
    std::mt19937 rng(0x2113);
    for (int i = 0; i < 5000; ++i) {
        const Case& c = cases[i % std::size(cases)];
        std::string v = kPkgnamcsn + kPkgnamcsn + kPkgnamcsn;
        v.resize(rng() % 2 ? c.unit * (rng() % 3) : rng() % 200);
        for (int m = static_cast<int>(rng() % 8); m > 0 && !v.empty(); --m)
            v[rng() % v.size()] = static_cast<char>(rng());
        const int depth = static_cast<int>(rng() % 6);
        Exact exact(v);
        const std::string text = rig.run([&](TextWriter& w) { c.printer(w, depth, exact.view()); });
        const std::string whole = rig.run([&](TextWriter& w) { drda::print_data_dump(w, depth, ByteView(v)); });
        const bool fits = c.list ? v.size() % c.unit == 0 : v.size() == c.unit;
        if (!fits) {
            EXPECT_EQ(text, whole) << v.size();
        } else if (c.list && v.empty()) {
            EXPECT_EQ(text, "");
        } else {
            EXPECT_NE(text.find(sp(depth) + "* "), std::string::npos);
            EXPECT_NE(text, whole);
        }
    }
}

}  // namespace
