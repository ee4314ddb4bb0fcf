// SPDX-License-Identifier: Apache-2.0
// Enumerated value decoders: exact text of each form, the code tables'
// invariants, and hostile values.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "ddm/code_tables.h"
#include "ddm/enum_decoders.h"
#include "ddm/value_dispatch.h"
#include "support/capture.h"
#include "support/trace_builder.h"

using drda::ByteView;
using drda::TextWriter;
using drda::ValuePrinter;
using testsupport::capture;
using testsupport::hex;

namespace {

std::string print(ValuePrinter p, int depth, const std::string& bytes) {
    return capture([&](TextWriter& w) { p(w, depth, ByteView(bytes)); });
}

std::string dump(int depth, const std::string& bytes) {
    return print(drda::print_data_dump, depth, bytes);
}

// Splits text into lines, dropping the newline of each (the text must end
// with one).
std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
        lines.push_back(text.substr(start, nl - start));
    EXPECT_EQ(start, text.size()) << "text does not end with a newline";
    return lines;
}

TEST(Svrcod, FoundAndUnknownForms) {
    EXPECT_EQ(print(drda::print_svrcod, 4, hex("0000")), "    Information Only Severity Code (0000)\n");
    EXPECT_EQ(print(drda::print_svrcod, 4, hex("0008")), "    Error Severity Code (0X0008)\n");
    EXPECT_EQ(print(drda::print_svrcod, 4, hex("0010")), "    Severe Error Severity Code (0X0010)\n");
    EXPECT_EQ(print(drda::print_svrcod, 4, hex("0005")), "    Unknown (0X0005)\n");
    // The code is signed 16-bit, widened with its sign.
    EXPECT_EQ(print(drda::print_svrcod, 4, hex("FFFF")), "    Unknown (0XFFFFFFFF)\n");
    EXPECT_EQ(print(drda::print_svrcod, 0, hex("8000")), "Unknown (0XFFFF8000)\n");
    // Bytes behind the code are not shown.
    EXPECT_EQ(print(drda::print_svrcod, 2, hex("0008 FFFF")), "  Error Severity Code (0X0008)\n");
}

TEST(OneByteTables, FoundAndUnknownForms) {
    EXPECT_EQ(print(drda::print_secchkcd, 2, hex("00")),
              "  Security Information is correct and acceptable (00)\n");
    EXPECT_EQ(print(drda::print_secchkcd, 2, hex("0E")), "  Password Expired (0X0E)\n");
    EXPECT_EQ(print(drda::print_secchkcd, 2, hex("41")), "  Unknown (A)\n");
    EXPECT_EQ(print(drda::print_synerrcd, 6, hex("01")), "      DSS header length less than 6 (0X01)\n");
    EXPECT_EQ(print(drda::print_synerrcd, 0, hex("0A")), "Object length less than  minimum required. (0X0A)\n");
    // 71 characters: the last one goes to a continuation line.
    EXPECT_EQ(print(drda::print_prccnvcd, 2, hex("06")),
              "  EXCSAT was not the first DDM command received on the conversation (0X0\n  6)\n");
    EXPECT_EQ(print(drda::print_deperrcd, 2, hex("03")),
              "  Security Manager has not received a verified end user name (0X03)\n");
    EXPECT_EQ(print(drda::print_dscerrcd, 2, hex("35")), "  GDA scale > precision/scale -ve (0X35)\n");
    EXPECT_EQ(print(drda::print_synctype, 2, hex("0C")), "  Return list of indoubts (0X0C)\n");
    EXPECT_EQ(print(drda::print_rsynctyp, 2, hex("02")), "  Resync Requests received (0X02)\n");
    EXPECT_EQ(print(drda::print_uowstate, 2, hex("02")), "  Unit of work state commited (0X02)\n");
    EXPECT_EQ(print(drda::print_typsqlda, 2, hex("00")), "  return output standard SQLDA (00)\n");
    EXPECT_EQ(print(drda::print_typsqlda, 2, hex("05")), "  return input extended SQLDA (0X05)\n");
    // Only the first byte counts.
    EXPECT_EQ(print(drda::print_secchkcd, 2, hex("0E41")), "  Password Expired (0X0E)\n");
}

TEST(OneByteTables, UnknownCodeByteIsShownUnderTheDisplayRule) {
    EXPECT_EQ(print(drda::print_uowstate, 2, hex("00")), "  Unknown (.)\n");
    EXPECT_EQ(print(drda::print_prccnvcd, 2, hex("00")), "  Unknown (.)\n");
    EXPECT_EQ(print(drda::print_synerrcd, 0, hex("20")), "Unknown ( )\n");
    EXPECT_EQ(print(drda::print_synerrcd, 0, hex("7D")), "Unknown (})\n");
    EXPECT_EQ(print(drda::print_synerrcd, 0, hex("7E")), "Unknown (.)\n");
    EXPECT_EQ(print(drda::print_dscerrcd, 0, hex("0A")), "Unknown (.)\n");
    EXPECT_EQ(print(drda::print_synctype, 0, hex("80")), "Unknown (.)\n");
    EXPECT_EQ(print(drda::print_secchkcd, 0, hex("FF")), "Unknown (.)\n");
}

TEST(OneByteTables, LongMeaningIsWrappedWhole) {
    const std::string full =
        "One of the following security plugin errors: 1 - A PLGINNM was specified on an ACCSEC or "
        "SECCHK but the SECMEC did not include PLGIN 2 - A PLGINLST was specified on an ACCSECRD, but "
        "the SECMEC did not include PLGIN 3 - A PLGINID was specified on an ACCSEC or SECCHK but no "
        "PLGINNM was specified (0X23)";
    ASSERT_EQ(full.size(), 301u);
    const std::string text = print(drda::print_prccnvcd, 4, hex("23"));
    const auto lines = lines_of(text);
    ASSERT_EQ(lines.size(), 5u);
    std::string joined;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].substr(0, 4), "    ") << i;
        EXPECT_LE(lines[i].size(), 74u) << i;
        joined += lines[i].substr(4);
    }
    for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(lines[i].size(), 74u) << i;
    EXPECT_EQ(lines[4].size(), 4u + 301 - 280);
    EXPECT_EQ(joined, full);
}

TEST(ListCodes, OneLinePerCode) {
    EXPECT_EQ(print(drda::print_secmec, 4, hex("0003 0009")),
              "    userid and password (3)\n    encrypted userid and password (9)\n");
    EXPECT_EQ(print(drda::print_secmec, 4, ""), "");
    EXPECT_EQ(print(drda::print_secmec, 0, hex("0010 0011 FFFF")),
              "Encrypted Userid Only (16)\nUnknown (17)\nUnknown (-1)\n");
    EXPECT_EQ(print(drda::print_encalg, 2, hex("0002")), "  Unknown (2)\n");
    EXPECT_EQ(print(drda::print_encalg, 2, hex("0001")), "  Data Encryption Standard (1)\n");
    EXPECT_EQ(print(drda::print_enckeylen, 2, hex("0001")), "  56-bit Encryption Key (1)\n");
}

TEST(ListCodes, OddLengthReadsTheMissingLowByteAsZero) {
    EXPECT_EQ(print(drda::print_secmec, 0, hex("0003 00")),
              "userid and password (3)\nNot Specified (ie. SNA, non DCE) (0)\n");
    EXPECT_EQ(print(drda::print_secmec, 0, hex("01")), "Unknown (256)\n");
    EXPECT_EQ(print(drda::print_enckeylen, 0, hex("00")), "Undefined Encrytion Key Length (0)\n");
    EXPECT_EQ(print(drda::print_encalg, 0, hex("0001 00")),
              "Data Encryption Standard (1)\nUndefined Encrytion Algorithm (0)\n");
}

TEST(Xaretval, SignedCodes) {
    EXPECT_EQ(print(drda::print_xaretval, 2, hex("00000000")), "  OK (0)\n");
    EXPECT_EQ(print(drda::print_xaretval, 2, hex("00000063")), "  Loosely Coupled Not Supported (99)\n");
    EXPECT_EQ(print(drda::print_xaretval, 2, hex("00000002")), "  Unknown (2)\n");
    EXPECT_EQ(print(drda::print_xaretval, 2, hex("FFFFFFFF")), "  Unknown (-1)\n");
    EXPECT_EQ(print(drda::print_xaretval, 2, hex("FFFFFFFC")), "  XID does not exist (-4)\n");
    EXPECT_EQ(print(drda::print_xaretval, 2, hex("FFFFFFF6 00")), "  Open resources (-10)\n");
}

TEST(Xaflags, HeaderAndOneLinePerFlag) {
    EXPECT_EQ(print(drda::print_xaflags, 4, hex("00000000")), "    FLAGS: 00000000\n      No Flags\n");
    EXPECT_EQ(print(drda::print_xaflags, 4, hex("00280000")),
              "    FLAGS: 00280000\n      Recover\n      Join Transaction\n");
    EXPECT_EQ(print(drda::print_xaflags, 0, hex("48000000")),
              "FLAGS: 48000000\n  Resume Transaction\n  OnePhase\n");
    EXPECT_EQ(print(drda::print_xaflags, 4, hex("00000001")), "    FLAGS: 00000001\n");
    EXPECT_EQ(print(drda::print_xaflags, 0, hex("80000000")), "FLAGS: 80000000\n");
}

TEST(Rslsetflg, FlagsJoinedOnTheFlagLine) {
    EXPECT_EQ(print(drda::print_rslsetflg, 2, hex("C0")), "  FLAG: 0XC0Return Names, Return Labels, \n");
    EXPECT_EQ(print(drda::print_rslsetflg, 2, hex("00")), "  FLAG: 00No Result Set Flags\n");
    EXPECT_EQ(print(drda::print_rslsetflg, 2, hex("0C")),
              "  FLAG: 0X0CReturn Extended Describe, Return Light Describe, \n");
    // No named bit set: the flag line with nothing behind it.
    EXPECT_EQ(print(drda::print_rslsetflg, 2, hex("01")), "  FLAG: 0X01\n");
    EXPECT_EQ(print(drda::print_rslsetflg, 0, hex("03")), "FLAG: 0X03\n");

    const std::string all =
        "Return Names, Return Labels, Return Comments, Return Descriptor Only, "
        "Return Extended Describe, Return Light Describe, ";
    // "  FLAG: 0XFC" fills 12 of the first line's 72 columns: 60 are left.
    EXPECT_EQ(print(drda::print_rslsetflg, 2, hex("FC")),
              "  FLAG: 0XFC" + all.substr(0, 60) + "\n  " + all.substr(60) + "\n");
}

TEST(FixedLists, TextsAndTheirManner) {
    EXPECT_EQ(print(drda::print_uowdsp, 2, hex("01")), "  Unit of Work was committed (01)\n");
    EXPECT_EQ(print(drda::print_cmmtyp, 2, hex("02")), "  Rollback was requested (02)\n");
    EXPECT_EQ(print(drda::print_outovropt, 2, hex("03")), "  Output Override Not Allowed (03)\n");
    EXPECT_EQ(print(drda::print_qryattupd, 2, hex("04")),
              "  The cursor allows read, delete, and update operations\n");
    EXPECT_EQ(print(drda::print_qryattupd, 2, hex("00")),
              "  This query attribute is unknown or undefined for this cursor\n");
    EXPECT_EQ(print(drda::print_qryattsns, 2, hex("00")), print(drda::print_qryattupd, 2, hex("00")));
    EXPECT_EQ(print(drda::print_rtnextdta, 2, hex("01")), "  Return EXTDTAs by Row (01) \n");
    // One-line decoders never wrap, however long the text.
    const std::string scrorn = print(drda::print_qryscrorn, 2, hex("01"));
    EXPECT_EQ(lines_of(scrorn).size(), 1u);
    EXPECT_GT(scrorn.size(), 100u);

    const std::string definer =
        "DEFINER_REVERT_TO_REQUESTER - Authorization Identifier of Function or Stored Procedure "
        "Creator (04)";
    EXPECT_EQ(print(drda::print_pkgathrul, 2, hex("04")),
              "  " + definer.substr(0, 70) + "\n  " + definer.substr(70) + "\n");
}

TEST(FixedLists, ByteOutsideTheListShowsUnknownWithItsHexCode) {
    EXPECT_EQ(print(drda::print_qryattupd, 2, hex("03")), "  Unknown (03)\n");
    EXPECT_EQ(print(drda::print_uowdsp, 2, hex("00")), "  Unknown (00)\n");
    EXPECT_EQ(print(drda::print_rtnextdta, 2, hex("FF")), "  Unknown (FF)\n");
    EXPECT_EQ(print(drda::print_pkgathrul, 2, hex("06")), "  Unknown (06)\n");
}

TEST(Decoders, NeverShowTextOfAnEarlierCall) {
    const std::string text = capture([](TextWriter& w) {
        drda::print_prccnvcd(w, 2, ByteView(hex("23")));
        drda::print_qryattupd(w, 2, ByteView(hex("03")));
        drda::print_rslsetflg(w, 2, ByteView(hex("02")));
        drda::print_uowdsp(w, 2, ByteView(hex("00")));
    });
    const std::string tail = "  Unknown (03)\n  FLAG: 0X02\n  Unknown (00)\n";
    ASSERT_GE(text.size(), tail.size());
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
}

TEST(Decoders, ValueTooShortIsDumpedWhole) {
    const ValuePrinter one_byte[] = {
        drda::print_synerrcd,  drda::print_prccnvcd, drda::print_deperrcd,  drda::print_dscerrcd,
        drda::print_secchkcd,  drda::print_synctype, drda::print_rsynctyp,  drda::print_uowstate,
        drda::print_typsqlda,  drda::print_rslsetflg, drda::print_uowdsp,   drda::print_cmmtyp,
        drda::print_outovropt, drda::print_pkgathrul, drda::print_qryattsns, drda::print_qryattupd,
        drda::print_qryscrorn, drda::print_rtnextdta};
    for (ValuePrinter p : one_byte) EXPECT_EQ(print(p, 4, ""), dump(4, ""));
    EXPECT_EQ(print(drda::print_svrcod, 4, ""), dump(4, ""));
    EXPECT_EQ(print(drda::print_svrcod, 4, hex("00")), dump(4, hex("00")));
    EXPECT_EQ(print(drda::print_xaflags, 4, hex("002800")), dump(4, hex("002800")));
    EXPECT_EQ(print(drda::print_xaretval, 4, hex("FFFFFF")), dump(4, hex("FFFFFF")));
    EXPECT_EQ(print(drda::print_xaretval, 4, ""), dump(4, ""));
}

// --- Code tables ----------------------------------------------------------

struct NamedTable {
    const char* name;
    const drda::codes::CodeTable* table;
    std::size_t rows;
};

TEST(CodeTables, RowCountsAndUniqueCodes) {
    namespace c = drda::codes;
    const NamedTable tables[] = {
        {"SVRCOD", &c::kSvrcod, 7},          {"SYNERRCD", &c::kSynerrcd, 23},
        {"PRCCNVCD", &c::kPrccnvcd, 21},     {"DEPERRCD", &c::kDeperrcd, 4},
        {"DSCERRCD", &c::kDscerrcd, 19},     {"SECCHKCD", &c::kSecchkcd, 24},
        {"SECMEC", &c::kSecmec, 17},         {"ENCALG", &c::kEncalg, 2},
        {"ENCKEYLEN", &c::kEnckeylen, 2},    {"SYNCTYPE", &c::kSynctype, 11},
        {"RSYNCTYP", &c::kRsynctyp, 3},      {"UOWSTATE", &c::kUowstate, 5},
        {"TYPSQLDA", &c::kTypsqlda, 6},      {"XARETVAL", &c::kXaretval, 31},
        {"XAFLAGS", &c::kXaflags.flags, 11}, {"RSLSETFLG", &c::kRslsetflg.flags, 6},
        {"UOWDSP", &c::kUowdsp, 2},          {"CMMTYP", &c::kCmmtyp, 2},
        {"OUTOVROPT", &c::kOutovropt, 3},    {"PKGATHRUL", &c::kPkgathrul, 6},
        {"QRYATTSNS", &c::kQryattsns, 4},    {"QRYATTUPD", &c::kQryattupd, 4},
        {"QRYSCRORN", &c::kQryscrorn, 4},    {"RTNEXTDTA", &c::kRtnextdta, 2},
    };
    for (const NamedTable& t : tables) {
        SCOPED_TRACE(t.name);
        EXPECT_EQ(t.table->size(), t.rows);
        std::set<std::int32_t> seen;
        for (const auto& row : *t.table) {
            EXPECT_TRUE(seen.insert(row.code).second) << "code " << row.code << " twice";
            EXPECT_FALSE(row.text.empty()) << "code " << row.code;
            EXPECT_LE(row.text.size(), 511u) << "code " << row.code;
        }
    }
    EXPECT_EQ(c::kXaflags.none_text, "No Flags");
    EXPECT_EQ(c::kRslsetflg.none_text, "No Result Set Flags");
    // Flag rows are single bits (the zero row of XAFLAGS aside).
    for (const auto* flags : {&c::kXaflags.flags, &c::kRslsetflg.flags})
        for (const auto& row : *flags) {
            auto bits = static_cast<std::uint32_t>(row.code);
            EXPECT_EQ(bits & (bits - 1), 0u) << row.text;
        }
}

// --- Hostile values -------------------------------------------------------

struct Routed {
    std::uint16_t cp;
    ValuePrinter printer;
    bool list;  // a list decoder: nothing at all for an empty value
};

const Routed kAll[] = {
    {0x1149, drda::print_svrcod, false},    {0x114A, drda::print_synerrcd, false},
    {0x113F, drda::print_prccnvcd, false},  {0x119B, drda::print_deperrcd, false},
    {0x2101, drda::print_dscerrcd, false},  {0x11A4, drda::print_secchkcd, false},
    {0x11A2, drda::print_secmec, true},     {0x1909, drda::print_encalg, true},
    {0x190A, drda::print_enckeylen, true},  {0x1187, drda::print_synctype, false},
    {0x11EA, drda::print_rsynctyp, false},  {0x11AC, drda::print_uowstate, false},
    {0x2146, drda::print_typsqlda, false},  {0x1904, drda::print_xaretval, false},
    {0x1903, drda::print_xaflags, false},   {0x2142, drda::print_rslsetflg, false},
    {0x2115, drda::print_uowdsp, false},    {0x2143, drda::print_cmmtyp, false},
    {0x2147, drda::print_outovropt, false}, {0x213F, drda::print_pkgathrul, false},
    {0x2157, drda::print_qryattsns, false}, {0x2150, drda::print_qryattupd, false},
    {0x2152, drda::print_qryscrorn, false}, {0x2148, drda::print_rtnextdta, false},
};

TEST(Decoders, ReachedThroughTheValueDispatch) {
    for (const Routed& r : kAll) EXPECT_EQ(drda::special_printer(r.cp), r.printer) << std::hex << r.cp;
}

// Each value lives in a heap block of exactly its size, so that a read past
// it is caught by the address sanitizer.
void check_output(const Routed& r, const std::vector<std::uint8_t>& bytes) {
    std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[bytes.size() ? bytes.size() : 1]);
    std::copy(bytes.begin(), bytes.end(), block.get());
    static testsupport::Rig rig;  // one writer for all values: making one each is slow under the sanitizers
    const std::string text = rig.run([&](TextWriter& w) { r.printer(w, 2, ByteView(block.get(), bytes.size())); });
    if (bytes.empty() && r.list) {
        EXPECT_EQ(text, "");
        return;
    }
    ASSERT_FALSE(text.empty()) << std::hex << r.cp;
    EXPECT_EQ(text.back(), '\n') << std::hex << r.cp;
    EXPECT_EQ(text.find('\0'), std::string::npos) << std::hex << r.cp;
}

TEST(Decoders, EveryOneByteValue) {
    for (const Routed& r : kAll)
        for (int b = 0; b < 256; ++b) check_output(r, {static_cast<std::uint8_t>(b)});
}

TEST(Decoders, RandomShortValues) {
    std::mt19937 rng(20240611);
    std::uniform_int_distribution<int> len(0, 8), byte(0, 255);
    for (int round = 0; round < 300; ++round)
        for (const Routed& r : kAll) {
            std::vector<std::uint8_t> v(static_cast<std::size_t>(len(rng)));
            for (auto& b : v) b = static_cast<std::uint8_t>(byte(rng));
            check_output(r, v);
        }
}

}  // namespace
