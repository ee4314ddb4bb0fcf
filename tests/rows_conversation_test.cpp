// SPDX-License-Identifier: Apache-2.0
// The -r decoder over whole conversations built byte by byte: what the real
// traces lack (other byte orders, late descriptors, overrides, splits,
// continued DSSs) and every "not decoded" line.
#include <gtest/gtest.h>

#include "support/conversation_builder.h"
#include "support/rows_support.h"
#include "support/trace_builder.h"

using namespace testsupport;

namespace {

TEST(RowsConversation, LittleEndianNumbersWithBigEndianLengths) {
    auto recs = connect("QTDSQLASC", "QTDSQLX86");
    recs.push_back(open_query());
    recs.push_back(recv(dss(2, 2, opnqryrm(), true) +
                        dss(3, 2, qrydsc("0F76D0 020004 050002 0B0008 330010" + kRlo), true) +
                        dss(3, 2, qrydta("FF00 39300000 00 FEFF 00 182D4454FB210940 00 0003 616263"
                                         "00 00000000 3032303030 4353533130313430 00 00000000 03000000 00000000"
                                         "00000000 00000000 00000000 2020202020202020202020 0000 0000 0000 FF FF"))));
    const Decoded d = decode(recs);
    EXPECT_EQ(d.rows,
              "4|      ROWS: query 1, 4 columns, QTDSQLX86 little-endian, CCSID SBC 1208 MBC 1208\n"
              "4|      SQL: \"SELECT * FROM T\"\n"
              "4|      ROW 1:\n"
              "4|        COL 1 INTEGER: 12345\n"
              "4|        COL 2 SMALLINT: -2\n"
              "4|        COL 3 FLOAT8: 3.141592653589793\n"
              "4|        COL 4 VARCHAR(16): \"abc\"\n"
              "4|      ROW 2: SQLCA SQLCODE 0 SQLSTATE 02000 SQLERRPROC CSS10140 SQLERRD 0 3 0 0 0 0 NO DATA\n");
}

TEST(RowsConversation, VaxAndUnknownNamesShowFloatsRaw) {
    for (const std::string name : {"QTDSQLVAX", "QTDSQLZZZ"}) {
        auto recs = connect("QTDSQLASC", name);
        recs.push_back(open_query());
        recs.push_back(recv(dss(2, 2, opnqryrm(), true) + dss(3, 2, qrydsc("0976D0 020004 0A0008" + kRlo), true) +
                            dss(3, 2, qrydta("FF00 01000000 0000000000004940"))));
        const Decoded d = decode(recs);
        EXPECT_NE(d.rows.find(name + " little-endian"), std::string::npos) << d.rows;
        EXPECT_NE(d.rows.find("COL 1 INTEGER: 1\n"), std::string::npos) << d.rows;
        EXPECT_NE(d.rows.find("COL 2 FLOAT8: X'0000000000004940' (" + name + " floating point)\n"), std::string::npos)
            << d.rows;
    }
}

TEST(RowsConversation, LateDescriptorsAndGraphicData) {
    // Local id 0x90: a nullable VARCHAR (0x33) read as EBCDIC 500 by its
    // SDA; 0x38/0x39 VARGRAPHIC in the server's DBC CCSID (none: binary form).
    auto recs = connect();
    recs.push_back(open_query());
    recs.push_back(recv(dss(2, 2, opnqryrm(), true) +
                        dss(3, 2, qrydsc("077800050101 33 0C70901100 0001F4 01 00 0020"
                                         "077800050201D0 0976D0 900020 380004 077800050301E4" + kRlo), true) +
                        dss(3, 2, qrydta("FF00 00 0003 C15AC2 0002 00410042"))));
    const Decoded d = decode(recs);
    EXPECT_NE(d.rows.find("COL 1 VARCHAR(32): \"A]B\"\n"), std::string::npos) << d.rows;
    EXPECT_NE(d.rows.find("COL 2 VARGRAPHIC(4): X'00410042' (CCSID unknown)\n"), std::string::npos) << d.rows;
}

TEST(RowsConversation, TypdefOverrideInAReplyStaysWithTheQuery) {
    // TYPDEFNAM/TYPDEFOVR ahead of the QRYDSC turn the query's data into
    // QTDSQLX86 with SBC 37; the CNTQRY reply has no override and keeps them.
    auto recs = connect();
    recs.push_back(open_query());
    recs.push_back(recv(dss(2, 2, opnqryrm(), true) +
                        dss(3, 2, obj(0x002F, "QTDSQLX86") + typdefovr(37, 0, 0), true) +
                        dss(3, 2, qrydsc("0976D0 020004 320008" + kRlo), true) +
                        dss(3, 2, qrydta("FF00 01000000 0002 C1C2"))));
    recs.push_back(cntqry());
    recs.push_back(recv(dss(3, 1, qrydta("FF00 02000000 0001 C3"))));
    const Decoded d = decode(recs);
    EXPECT_EQ(d.rows,
              "4|      ROWS: query 1, 2 columns, QTDSQLX86 little-endian, CCSID SBC 37 MBC 1208\n"
              "4|      SQL: \"SELECT * FROM T\"\n"
              "4|      ROW 1:\n"
              "4|        COL 1 INTEGER: 1\n"
              "4|        COL 2 VARCHAR(8): \"AB\"\n"
              "6|      ROWS: query 1, 2 columns, QTDSQLX86 little-endian, CCSID SBC 37 MBC 1208\n"
              "6|      SQL: \"SELECT * FROM T\"\n"
              "6|      ROW 2:\n"
              "6|        COL 1 INTEGER: 2\n"
              "6|        COL 2 VARCHAR(8): \"C\"\n");
}

TEST(RowsConversation, QrydscOverTwoObjectsAndARowOverThreeQrydta) {
    auto recs = connect();
    recs.push_back(open_query());
    recs.push_back(recv(dss(2, 2, opnqryrm(), true) + dss(3, 2, qrydsc("0676D0020004"), true) +
                        dss(3, 2, qrydsc("067F00330010" + kRlo), true) + dss(3, 2, qrydta("FF00 00000001 00 00"))));
    recs.push_back(cntqry());
    recs.push_back(recv(dss(3, 1, qrydta("03 6162"))));
    recs.push_back(cntqry());
    recs.push_back(recv(dss(3, 1, qrydta("63 FF00 00000002 00 0000 FF"))));
    const Decoded d = decode(recs);
    EXPECT_EQ(d.rows,
              "4|      ROWS: query 1, 2 columns, QTDSQLASC big-endian, CCSID SBC 1208 MBC 1208\n"
              "4|      SQL: \"SELECT * FROM T\"\n"
              "4|      ROW 1:\n"
              "4|        COL 1 INTEGER: 1\n"
              "4|      ROW 1: continued in the next QRYDTA (column 2)\n"
              "6|      ROWS: query 1, 2 columns, QTDSQLASC big-endian, CCSID SBC 1208 MBC 1208\n"
              "6|      SQL: \"SELECT * FROM T\"\n"
              "6|      ROW 1, continued:\n"
              "6|      ROW 1: continued in the next QRYDTA (column 2)\n"
              "8|      ROWS: query 1, 2 columns, QTDSQLASC big-endian, CCSID SBC 1208 MBC 1208\n"
              "8|      SQL: \"SELECT * FROM T\"\n"
              "8|      ROW 1, continued:\n"
              "8|        COL 2 VARCHAR(16): \"abc\"\n"
              "8|      ROW 2:\n"
              "8|        COL 1 INTEGER: 2\n"
              "8|        COL 2 VARCHAR(16): \"\"\n"
              "8|      ROW 3: continued in the next QRYDTA (column 0)\n");
}

TEST(RowsConversation, OutovrAppliesFromTheNextRowBoundary) {
    // The OUTOVR comes while row 1 is cut inside column 2: row 1 ends with
    // the QRYDSC's BLOB placeholder, row 2 has the locator.
    auto recs = connect();
    recs.push_back(open_query());
    recs.push_back(recv(dss(2, 2, opnqryrm(), true) + dss(3, 2, qrydsc("0976D0 020004 C98004" + kRlo), true) +
                        dss(3, 2, qrydta("FF00 00000001 00 0000"))));
    recs.push_back(cntqry(1, dss(3, 1, obj(0x2415, hex("0976D0 000000 190004" + kRlo)))));
    recs.push_back(recv(dss(3, 1, qrydta("0000 FF00 00000002 00 00000009"))));
    const Decoded d = decode(recs);
    EXPECT_NE(d.rows.find("6|        COL 2 BLOB: empty\n"), std::string::npos) << d.rows;
    EXPECT_NE(d.rows.find("6|        COL 2 BLOB LOCATOR (OUTOVR): 9\n"), std::string::npos) << d.rows;
}

TEST(RowsConversation, ContinuedDssInOneBuffer) {
    // A QRYDTA of 40,000 bytes in a DSS continued in two segments.
    auto recs = connect();
    recs.push_back(open_query());
    std::string rows;
    for (int i = 0; i < 8000; ++i) rows += "FF00" + std::string(i % 2 ? "00000001" : "00000002");
    const std::string value = hex(rows);
    const std::string object = be16(0x8008) + be16(0x241B) + be32(value.size()) + value;
    const std::string first = object.substr(0, 32767 - 6), second = object.substr(32767 - 6);
    const std::string continued = be16(0x8000 | 32767) + std::string("\xD0\x03", 2) + be16(2) + first +
                                  be16(2 + second.size()) + second;
    recs.push_back(recv(dss(2, 2, opnqryrm(), true) + dss(3, 2, qrydsc("0676D0020004" + kRlo), true) + continued));
    const Decoded d = decode(recs);
    const std::size_t at = d.all.find("    ROWS: from the continued DSS below\n");
    ASSERT_NE(at, std::string::npos) << d.rows.substr(0, 400);
    EXPECT_NE(d.all.find("LL: -1  CORR: 0002  CHAINED: n  CONT ON ERR: n  SAME CORR FOR NEXT DSS: n  \n\n"
                         "    ROWS: from the continued DSS below\n"
                         "      ROWS: query 1, 1 columns"),
              std::string::npos);
    EXPECT_NE(d.rows.find("      ROW 8000:\n4|        COL 1 INTEGER: 1\n"), std::string::npos);
}

TEST(RowsConversation, DssLongerThanOneMebibyte) {
    auto recs = connect();
    recs.push_back(open_query());
    recs.push_back(recv(dss(2, 2, opnqryrm(), true) + dss(3, 2, qrydsc("0676D0020004" + kRlo), true) +
                        dss(3, 2, qrydta("FF00 00000001"))));
    // A continued DSS of 1.1 MiB, its segments over three records.
    std::string big = be16(0x8000 | 32767) + std::string("\xD0\x03", 2) + be16(1) + be16(0x8004) + be16(0x241B);
    big += std::string(32767 - 10, '\0');
    std::size_t total = big.size();
    while (total < 1150000) {
        const bool last = total + 32767 >= 1150000;
        big += be16(32767 | (last ? 0 : 0x8000)) + std::string(32765, '\0');
        total += 32767;
    }
    recs.push_back(cntqry());
    recs.push_back(recv(big.substr(0, 500000)));
    recs.push_back(recv(big.substr(500000, 500000)));
    recs.push_back(recv(big.substr(1000000)));
    recs.push_back(cntqry());
    recs.push_back(recv(dss(3, 1, qrydta("FF00 00000002"))));
    const Decoded d = decode(recs);
    EXPECT_NE(d.rows.find("8|    ROWS: not decoded: DSS longer than 1 MiB\n"), std::string::npos) << d.rows;
    EXPECT_NE(d.rows.find("10|      ROWS: not decoded: DSS longer than 1 MiB\n"), std::string::npos) << d.rows;
}

TEST(RowsConversation, ParametersStatusBytesAndSqlamLevels) {
    // SQLDTA with a BLOB sent as EXTDTA by Derby's client 10.14: null
    // indicator and status byte. The server's EXTDTA has no status byte.
    auto recs = connect();
    recs.push_back(send(dss(1, 1, obj(0x200D, kPkg), true) + dss(3, 1, sqlstt("INSERT INTO T VALUES (?)"), true) +
                        dss(1, 2, obj(0x200B, kPkg), true) +
                        dss(3, 2, obj(0x2412, obj(0x0010, hex("0676D0C98002 0671E4D00001")) + obj(0x147A, hex("00 00 0003"))), true) +
                        dss(3, 2, obj(0x146C, hex("00 414243 7F")))));
    recs.push_back(recv(dss(3, 2, obj(0x2413, obj(0x0010, hex("0676D0C98002" + kRlo)) + obj(0x147A, hex("FF00 00 0002"))), true) +
                        dss(3, 2, obj(0x146C, hex("00 4142")))));
    const Decoded d = decode(recs);
    EXPECT_EQ(d.rows,
              "3|        ROWS: SQLDTA, 1 columns, QTDSQLASC big-endian, CCSID SBC 1208 DBC 1200 MBC 1208\n"
              "3|        SQL: \"INSERT INTO T VALUES (?)\"\n"
              "3|        ROW 1:\n"
              "3|          COL 1 BLOB: EXTDTA follows, length field 3\n"
              "3|      EXTDTA: ROW 1 COL 1 BLOB, null indicator 00, length 3, status byte 7F\n"
              "3|        VALUE: X'414243'\n"
              "4|        ROWS: SQLDTARD, 1 columns, QTDSQLASC big-endian, CCSID SBC 1208 MBC 1208\n"
              "4|        SQL: \"INSERT INTO T VALUES (?)\"\n"
              "4|        ROW 1:\n"
              "4|          COL 1 BLOB: EXTDTA follows, length field 2\n"
              "4|      EXTDTA: ROW 1 COL 1 BLOB, null indicator 00, length 2\n"
              "4|        VALUE: X'4142'\n");
    // At SQLAM 6 an EXTDTA has no null indicator, and an older client no
    // status byte.
    auto old = connect("QTDSQLASC", "QTDSQLASC", "DNC10050");
    old.insert(old.begin(), recv(dss(2, 1, obj(0x1443, obj(0x1404, hex("14030007 24070006"))))));
    old.push_back(send(dss(1, 2, obj(0x200B, kPkg), true) +
                       dss(3, 2, obj(0x2412, obj(0x0010, hex("0676D0C98002 0671E4D00001")) + obj(0x147A, hex("00 00 0001"))), true) +
                       dss(3, 2, obj(0x146C, hex("41")))));
    EXPECT_NE(decode(old).rows.find("EXTDTA: ROW 1 COL 1 BLOB, length 1\n"), std::string::npos);
}

TEST(RowsConversation, CutDssesAtBufferEnds) {
    // The OPNQRY reply cut inside its QRYDTA, and a reply cut three bytes
    // into a DSS header.
    auto recs = connect();
    recs.push_back(open_query());
    const std::string reply = dss(2, 2, opnqryrm(), true) + dss(3, 2, qrydsc("0676D0020004" + kRlo), true) +
                              dss(3, 2, qrydta("FF00 00000001 FF00 00000002"));
    recs.push_back(recv(reply.substr(0, reply.size() - 5)));
    recs.push_back(recv(reply.substr(reply.size() - 5)));
    recs.push_back(cntqry());
    const std::string next = dss(3, 1, qrydta("FF00 00000003"));
    recs.push_back(recv(next.substr(0, 3)));
    recs.push_back(recv(next.substr(3)));
    const Decoded d = decode(recs);
    EXPECT_EQ(d.rows,
              "5|    ROWS: from the QRYDTA of the DSS cut at the end of record 4\n"
              "5|      ROWS: query 1, 1 columns, QTDSQLASC big-endian, CCSID SBC 1208 MBC 1208\n"
              "5|      SQL: \"SELECT * FROM T\"\n"
              "5|      ROW 1:\n"
              "5|        COL 1 INTEGER: 1\n"
              "5|      ROW 2:\n"
              "5|        COL 1 INTEGER: 2\n"
              "8|      ROWS: query 1, 1 columns, QTDSQLASC big-endian, CCSID SBC 1208 MBC 1208\n"
              "8|      SQL: \"SELECT * FROM T\"\n"
              "8|      ROW 3:\n"
              "8|        COL 1 INTEGER: 3\n");
}

TEST(RowsConversation, NotDecodedLines) {
    const auto rows_of = [](const std::string& descriptor, const std::string& data) {
        auto recs = connect();
        recs.push_back(open_query());
        recs.push_back(recv(dss(2, 2, opnqryrm(), true) + dss(3, 2, qrydsc(descriptor), true) + dss(3, 2, qrydta(data))));
        recs.push_back(cntqry());
        recs.push_back(recv(dss(3, 1, qrydta("FF00 00000001"))));
        return decode(recs).rows;
    };
    EXPECT_NE(rows_of("0676D0020004 067300000000", "FF00").find("ROWS: not decoded: descriptor: triplet type 73 length 6"),
              std::string::npos);
    EXPECT_NE(rows_of("0676D0020004", "FF00").find("ROWS: not decoded: descriptor: no row layout (RLO)"),
              std::string::npos);
    std::string r = rows_of("0676D0020004" + kRlo, "FF05");
    EXPECT_NE(r.find("4|      ROW 1: not decoded: data group indicator 05 (at byte 2 of this object)\n"), std::string::npos)
        << r;
    EXPECT_NE(r.find("6|      ROWS: not decoded: query 1 stopped at ROW 1\n"), std::string::npos) << r;
    r = rows_of("0676D0520004" + kRlo, "FF00 00");
    EXPECT_NE(r.find("ROW 1: not decoded: column 1: no layout for type 52 (at byte 2 of this object)"), std::string::npos);
    r = rows_of("0676D00E0002" + kRlo, "FF00 00");
    EXPECT_NE(r.find("ROW 1: not decoded: column 1: DECIMAL precision 0 (at byte 2 of this object)"), std::string::npos);
    r = rows_of("0676D0C88001" + kRlo, "FF00 00");
    EXPECT_NE(r.find("ROW 1: not decoded: column 1: LOB length field 8001 (at byte 2 of this object)"), std::string::npos);
    // Columns that take no bytes: at most 32, since each is a line per row.
    std::string empty = "6C76D0";
    for (int i = 0; i < 35; ++i) empty += i < 33 ? "260000" : "C88000";
    r = rows_of(empty + kRlo, "FF00");
    EXPECT_NE(r.find("4|      ROWS: not decoded: descriptor: 35 columns take no bytes\n"), std::string::npos) << r;
    r = rows_of("0676D0020004" + kRlo, "00 00000000 3030303030 2020202020202020 FF 01");
    EXPECT_NE(r.find("ROW 1: not decoded: SQLDIAGGRP present (at byte 20 of this object)"), std::string::npos) << r;

    // No QRYDSC: a CNTQRY reply for a query never opened in the trace.
    std::vector<Record> recs = connect();
    recs.push_back(cntqry());
    recs.push_back(recv(dss(3, 1, qrydta("FF00 00000001") + obj(0x146C, ""))));
    r = decode(recs).rows;
    EXPECT_NE(r.find("4|      ROWS: not decoded: no QRYDSC seen for this query\n"), std::string::npos) << r;
    EXPECT_NE(r.find("4|      EXTDTA: no LOB value of an earlier row waits for it\n"), std::string::npos) << r;

    // An FDODTA that ends inside a row; an FDODTA with no FDODSC.
    recs = connect();
    recs.push_back(send(dss(1, 2, obj(0x200B, kPkg), true) +
                        dss(3, 2, obj(0x2412, obj(0x0010, hex("0976D0 030004 030004 0671E4D00001")) + obj(0x147A, hex("00 00 00000001 00"))), true) +
                        dss(3, 3, obj(0x2412, obj(0x147A, hex("00"))))));
    r = decode(recs).rows;
    EXPECT_NE(r.find("3|        ROW 1: not decoded: FDODTA ends in column 2\n"), std::string::npos) << r;
    EXPECT_NE(r.find("3|        ROWS: not decoded: no FDODSC seen for this FDODTA\n"), std::string::npos) << r;
}

TEST(RowsConversation, IncompleteRowsAtEndOrReplacement) {
    auto recs = connect();
    recs.push_back(open_query());
    recs.push_back(recv(dss(2, 2, opnqryrm(), true) + dss(3, 2, qrydsc("0676D0320010" + kRlo), true) +
                        dss(3, 2, qrydta("FF00 0005 6162"))));
    recs.push_back(cntqry());
    recs.push_back(recv(dss(2, 1, obj(0x220B, obj(0x1149, be16(4))))));
    // Opened again and cut again; then replaced by a new OPNQRYRM.
    recs.push_back(open_query());
    recs.push_back(recv(dss(2, 2, opnqryrm(), true) + dss(3, 2, qrydsc("0676D0320010" + kRlo), true) +
                        dss(3, 2, qrydta("FF00 0005 61"))));
    recs.push_back(open_query());
    recs.push_back(recv(dss(2, 2, opnqryrm(), true) + dss(3, 2, qrydsc("0676D0320010" + kRlo), true) +
                        dss(3, 2, qrydta("FF00 0001 61"))));
    const Decoded d = decode(recs);
    EXPECT_NE(d.rows.find("6|      ROW 1: incomplete\n"), std::string::npos) << d.rows;
    EXPECT_NE(d.rows.find("10|      ROW 1: incomplete\n10|      ROWS: query 3,"), std::string::npos) << d.rows;
    // The ENDQRYRM line stands after the ENDQRYRM's own lines.
    EXPECT_NE(d.all.find("Warning Severity Code (0X0004)\n      ROW 1: incomplete\n"), std::string::npos);
}

TEST(RowsConversation, OutovrFaultStopsTheQueryFromTheNextRow) {
    auto recs = connect();
    recs.push_back(open_query());
    recs.push_back(recv(dss(2, 2, opnqryrm(), true) + dss(3, 2, qrydsc("0676D0020004" + kRlo), true) +
                        dss(3, 2, qrydta("FF00 00000001"))));
    recs.push_back(cntqry(1, dss(3, 1, obj(0x2415, hex("0576D00000")))));
    recs.push_back(recv(dss(3, 1, qrydta("FF00 00000002"))));
    recs.push_back(cntqry());
    recs.push_back(recv(dss(3, 1, qrydta("FF00 00000003"))));
    const Decoded d = decode(recs);
    EXPECT_NE(d.rows.find("6|      ROWS: not decoded: OUTOVR: triplet type 76 length 5\n"), std::string::npos) << d.rows;
    EXPECT_NE(d.rows.find("8|      ROWS: not decoded: OUTOVR: triplet type 76 length 5\n"), std::string::npos) << d.rows;
    EXPECT_EQ(d.rows.find("COL 1 INTEGER: 2"), std::string::npos);
}

TEST(RowsConversation, OptionChangesNoStatusAndNoErrorLine) {
    auto recs = connect();
    recs.push_back(open_query());
    Record bad = recv(dss(3, 1, qrydta("FF00 00000001")));
    bad.type = 'X';
    recs.push_back(bad);
    const std::string path = temp_path("bad-type.drdadbg");
    write_file(path, make_trace(recs));
    const RunResult f = run_dssview({"-f", path});
    const RunResult r = run_dssview({"-r", path});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.status, f.status);
    EXPECT_EQ(r.err, f.err);
    EXPECT_EQ(r.out, f.out) << "no rows were decoded, so nothing is inserted";
    EXPECT_NE(r.out.find("\nERROR: Invalid file format: bad type\n"), std::string::npos);
}

}  // namespace

TEST(RowsConversation, SectionTableKeepsTheLatest256Texts) {
    // 300 statements, each prepared in a section of its own: the table
    // keeps the texts of the last 256 (sections 45 to 300); a query opened
    // in any of them shows its own text, one in an evicted section none.
    const auto pkg = [](std::size_t n) {
        return obj(0x2113, "RDB               NULLID            SYSSH200          " + std::string(8, '\x01') + be16(n));
    };
    auto recs = connect();
    for (std::size_t n = 1; n <= 300; ++n)
        recs.push_back(send(dss(1, 1, obj(0x200D, pkg(n)), true) + dss(3, 1, sqlstt("SELECT " + std::to_string(n)))));
    std::string want;
    std::uint16_t corr = 2;
    for (std::size_t n : {300, 45, 299, 46, 44, 1, 150}) {
        recs.push_back(send(dss(1, corr, obj(0x200C, pkg(n) + obj(0x2114, be32(32767))))));
        recs.push_back(recv(dss(2, corr, opnqryrm(), true) + dss(3, corr, qrydsc("0676D0 020004" + kRlo), true) +
                            dss(3, corr, qrydta("FF00 " + std::string(n % 2 ? "00000007" : "00000008")))));
        const std::string rec = std::to_string(recs.size());
        want += rec + "|      ROWS: query " + std::to_string(corr - 1) + ", 1 columns, QTDSQLASC big-endian, CCSID SBC 1208 MBC 1208\n";
        if (n > 44) want += rec + "|      SQL: \"SELECT " + std::to_string(n) + "\"\n";
        want += rec + "|      ROW 1:\n" + rec + "|        COL 1 INTEGER: " + (n % 2 ? "7" : "8") + "\n";
        ++corr;
    }
    EXPECT_EQ(decode(recs).rows, want);
}
