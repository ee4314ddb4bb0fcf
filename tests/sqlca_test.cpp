// SPDX-License-Identifier: Apache-2.0
// SQLCA and SQLDA lines of -r: the reviewed lines of every shared trace, the
// documented examples as exact text, and hand-built bytes for what the
// traces lack (other SQLAM levels and byte orders, Db2's X'FF' tokens,
// UTF-16 text, SQLDIAGGRP, names replaced or voided, a row SQLCA cut at
// every byte).
//
// tests/data/sqlca/NAME.sqlca.txt holds the SQLCA and SQLDA lines -r inserts
// into the -f output of NAME ("record|line"). After a reviewed change,
// regenerate them with DSSVIEW_UPDATE_SQLCA_GOLDEN=1 ctest -R SqlcaGolden.
#include <gtest/gtest.h>

#include <cstdlib>

#include "ddm/rows/sqlca_reader.h"
#include "ddm/rows/sqlda_reader.h"
#include "support/conversation_builder.h"
#include "support/rows_support.h"

using namespace testsupport;
using drda::ByteView;

namespace {

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string sqlca_lines(const std::string& name, const std::vector<int>& records = {}) {
    return sqlca_text(rows_of(name).lines, records);
}

// --- the shared traces ---------------------------------------------------------

class SqlcaGolden : public testing::TestWithParam<const char*> {};

TEST_P(SqlcaGolden, MatchesTheReviewedLines) {
    const std::string name = GetParam();
    const std::string path = data_path("sqlca/" + name + ".sqlca.txt");
    const std::string text = sqlca_lines(name);
    if (std::getenv("DSSVIEW_UPDATE_SQLCA_GOLDEN")) {
        write_file(path, text);
        GTEST_SKIP() << "rewrote " << path;
    }
    const std::string expected = read_file(path);
    if (text != expected) {
        std::size_t at = 0;
        while (at < expected.size() && at < text.size() && expected[at] == text[at]) ++at;
        const std::size_t from = expected.rfind('\n', at) == std::string::npos ? 0 : expected.rfind('\n', at) + 1;
        ADD_FAILURE() << "first difference at byte " << at << "\nexpected: "
                      << expected.substr(from, expected.find('\n', at) - from)
                      << "\nactual:   " << text.substr(from, text.find('\n', at) - from);
    }
}

INSTANTIATE_TEST_SUITE_P(RealTraces, SqlcaGolden,
                         testing::Values("s01_connect.req", "s03_types.req", "s04_manyrows.req", "s06_errors.req",
                                         "s09_procedures.req", "s11_batch.req", "s11_batch.split4096.req",
                                         "s12_metadata.req"),
                         [](const auto& info) {
                             std::string n = info.param;
                             for (char& c : n)
                                 if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                             return n;
                         });

TEST(SqlcaVectors, S06ErrorsAndUpdateCounts) {
    // #1: the documented example, exactly.
    EXPECT_EQ(sqlca_lines("s06_errors.req", {12}),
              "12|      SQLCA: SQLCODE -20001 SQLSTATE 42X01 SQLERRPROC CSS10140 SQLERRD 0 0 0 0 0 0\n"
              "12|        SQLERRMC: 2 tokens: \"Encountered \\\"SELEC\\\" at line 1, column 1\" \"42X01\n"
              "12|        \"\n"
              "12|        SQL: \"SELEC * FROM parent\"\n"
              "12|      SQLCA: SQLCODE 0 SQLSTATE \"     \" SQLERRPROC CSS10140 SQLERRD 0 0 0 0 0 0\n");
    // #2: INSERT and DELETE of one row.
    for (int r : {10, 80})
        EXPECT_TRUE(has(sqlca_lines("s06_errors.req", {r}),
                        "|      SQLCA: SQLCODE 0 SQLSTATE \"     \" SQLERRPROC CSS10140 SQLERRD 0 0 1 0 0 0\n"))
            << r;
    // #3: a warning with a preformatted message, wrapped.
    EXPECT_TRUE(has(sqlca_lines("s06_errors.req", {78}),
                    "78|      SQLCA: SQLCODE 10000 SQLSTATE 02000 SQLERRPROC CSS10140 SQLERRD 0 0 0 0 0 0\n"
                    "78|        SQLERRMC: 1 token: \"No row was found for FETCH, UPDATE or DELETE; or t\n"
                    "78|        he result of a query is an empty table.\"\n"
                    "78|        SQL: \"UPDATE parent SET name = 'x' WHERE id = 12345\"\n"));
    // #4: five tokens.
    EXPECT_TRUE(has(sqlca_lines("s06_errors.req", {48}),
                    "48|        SQLERRMC: 5 tokens: \"SQL261208181643181\" \"CHILD\" \"INSERT\" \"(99)\" \"2350\n"
                    "48|        3\"\n"
                    "48|        SQL: \"INSERT INTO child VALUES (1, 99, 1)\"\n"));
    // #5: the 16 application errors, in the order of the client's log.
    std::vector<std::string> states;
    for (const RowLine& l : rows_of("s06_errors.req").lines) {
        const std::size_t at = l.text.find("SQLCA: SQLCODE -20001 SQLSTATE ");
        if (at != std::string::npos) states.push_back(l.text.substr(at + 31, 5));
    }
    EXPECT_EQ(states, (std::vector<std::string>{"42X01", "42X05", "42X04", "23505", "22001", "23502", "23503",
                                                "23513", "22012", "22018", "22003", "42Y55", "42X35", "23513",
                                                "22007", "22012"}));
    // #6, #7: an SQLDARD of one unnamed column; the 16 parameters of a DSCSQLSTT.
    EXPECT_TRUE(has(sqlca_lines("s06_errors.req", {60}),
                    "60|        COL 1 \"1\": INTEGER (496) LENGTH 4 PRECISION 10 SCALE 0\n"));
    const std::string p = sqlca_lines("s06_errors.req", {14});
    EXPECT_TRUE(has(p, "14|      SQLDA: 16 parameters\n"));
    EXPECT_TRUE(has(p, "14|        PARAM 15: VARCHAR NULLABLE (449) LENGTH 2400 PRECISION 31 SCALE 0 CCSID 1208 MODE OUT\n"));
    // The documented SQLDARD of s06 rec 114 and the rows of its query.
    EXPECT_TRUE(has(rows_of("s06_errors.req").r_out,
                    "      SQLCA: SQLCODE 0 SQLSTATE \"     \" SQLERRPROC CSS10140 SQLERRD 0 0 0 0 0 0\n"
                    "      SQLDA: 2 columns\n"
                    "        SQL: \"SELECT * FROM parent\"\n"
                    "        SQLDH: HOLD 1 RETURN 0 SCROLL 0 SENSITIVE 0 FCODE 0 KEYTYPE 0\n"
                    "        COL 1 ID: INTEGER (496) LENGTH 4 PRECISION 10 SCALE 0 BASE APP.PARENT.ID\n"
                    "        COL 2 NAME: VARCHAR (448) LENGTH 5 PRECISION 5 SCALE 0 CCSID 1208 BASE APP.PARENT.NAME\n"));
}

TEST(SqlcaVectors, S01S03S04NamesOnRows) {
    // #8: a session error after RDBNFNRM, no statement.
    EXPECT_TRUE(has(sqlca_lines("s01_connect.req", {18}),
                    "18|      SQLCA: SQLCODE -40001 SQLSTATE XJ004 SQLERRPROC CSS10140 SQLERRD 0 0 0 0 0 0\n"
                    "18|        SQLERRMC: 1 token: \"Database 'no_such_database' not found.\"\n"));
    EXPECT_FALSE(has(sqlca_lines("s01_connect.req", {18}), "SQL: "));
    // #9: names on the SQLDA lines and on the rows.
    EXPECT_TRUE(has(sqlca_lines("s01_connect.req", {6}),
                    "6|        COL 1 IBMREQD: CHAR NULLABLE (453) LENGTH 1 PRECISION 1 SCALE 0 CCSID 1208 BASE "
                    "SYSIBM.SYSDUMMY1.IBMREQD\n"));
    const std::string& r01 = rows_of("s01_connect.req").text;
    EXPECT_TRUE(has(r01, "6|        COL 1 IBMREQD VARCHAR MIXED(1): \"Y\"\n"));
    EXPECT_TRUE(has(r01, "10|        COL 2 \"2\" VARCHAR(128): \"APP\"\n"));
    // #10, #11: 21 named columns of s03, on the SQLDA and on every row.
    const std::string d03 = sqlca_lines("s03_types.req", {18});
    EXPECT_TRUE(has(d03, "18|      SQLDA: 21 columns\n"));
    EXPECT_TRUE(has(d03, "18|        COL 5 C_DEC: DECIMAL NULLABLE (485) LENGTH 3844 PRECISION 15 SCALE 4 BASE "
                         "APP.ALLTYPES.C_DEC\n"));
    const std::string& r03 = rows_of("s03_types.req").text;
    EXPECT_TRUE(has(r03, "20|        COL 20 C_BLOB BLOB LOCATOR (OUTOVR): 1\n"));
    EXPECT_TRUE(has(r03, "20|        COL 21 C_CLOB CLOB LOCATOR (OUTOVR): 2\n"));
    // #12: an output SQLDA names the query; the input SQLDA keeps the names.
    const std::string d48 = sqlca_lines("s03_types.req", {48});
    EXPECT_TRUE(has(d48, "48|      SQLDA: 4 columns\n"));
    EXPECT_TRUE(has(d48, "48|      SQLDA: 3 parameters\n"));
    EXPECT_TRUE(has(r03, "50|        COL 2 C_VARCHAR VARCHAR(100): \"a VARCHAR value\"\n"));
    // #13: an INSERT describes no column.
    EXPECT_TRUE(has(sqlca_lines("s03_types.req", {8}), "8|      SQLDA: 0 columns\n"));
    // #14: the names of the four queries of s04 and its end of data.
    const std::string& r04 = rows_of("s04_manyrows.req").text;
    for (const char* line : {"28|        COL 5 TS TIMESTAMP(29): ", "50|        COL 2 NAME VARCHAR(40): ",
                             "56|        COL 3 TS TIMESTAMP(29): ", "60|        COL 2 ID INTEGER: "})
        EXPECT_TRUE(has(r04, line)) << line;
}

TEST(SqlcaVectors, S09S11S12ResultSetsBatchesAndMetadata) {
    // #15: the documented SQLCINRD and its rows.
    const std::string& out = rows_of("s09_procedures.req").r_out;
    EXPECT_TRUE(has(out,
                    "      SQLDA: 3 columns\n"
                    "        SQLDH: HOLD 1 RETURN 0 SCROLL 0 SENSITIVE 0 FCODE 0 KEYTYPE 0\n"
                    "        COL 1 CNT: INTEGER (496) LENGTH 4 PRECISION 10 SCALE 0\n"
                    "        COL 2 TOTAL: INTEGER NULLABLE (497) LENGTH 4 PRECISION 10 SCALE 0\n"
                    "        COL 3 LABEL: VARCHAR NULLABLE (449) LENGTH 20 PRECISION 20 SCALE 0 CCSID 1208\n"));
    EXPECT_TRUE(has(out,
                    "      ROWS: query 4, 3 columns, QTDSQLASC big-endian, CCSID SBC 1208 MBC 1208\n"
                    "      ROW 1:\n"
                    "        COL 1 CNT INTEGER: 5\n"
                    "        COL 2 TOTAL INTEGER: 15\n"
                    "        COL 3 LABEL VARCHAR(20): \"summary of 3\"\n"
                    "      ROW 2: SQLCA SQLCODE 100 SQLSTATE 02000 SQLERRPROC CSS10140 SQLERRD 0 4 0 0 0 0 NO DATA\n"));
    // #16: an error raised in a procedure.
    EXPECT_TRUE(has(sqlca_lines("s09_procedures.req", {52}),
                    "52|        SQLERRMC: 1 token: \"38RD1\"\n52|        SQL: \"CALL fail_proc(?)\"\n"));
    // #17: update counts of the batches and the one duplicate key.
    const std::string b10 = sqlca_lines("s11_batch.req", {10});
    std::size_t ones = 0;
    for (std::size_t at = 0; (at = b10.find("SQLERRD 0 0 1 0 0 0\n", at)) != std::string::npos; ++at) ++ones;
    EXPECT_EQ(ones, 500u);
    EXPECT_TRUE(has(sqlca_lines("s11_batch.req", {16}),
                    "SQLSTATE 23505 SQLERRPROC CSS10140 SQLERRD 0 0 0 0 0 0\n"
                    "16|        SQLERRMC: 3 tokens: \"SQL261208181654260\" \"B_T\" \"23505\"\n"));
    // #18: an SQLCARD of a DSS cut at a record end.
    EXPECT_TRUE(has(sqlca_lines("s11_batch.split4096.req", {29}),
                    "29|    SQLCA: from the SQLCARD of the DSS cut at the end of record 28\n"
                    "29|      SQLCA: SQLCODE 0 SQLSTATE \"     \" SQLERRPROC CSS10140 SQLERRD 0 0 1 0 0 0\n"));
    // #19, #20: names "1" .. "107" on the 107-column rows; catalogue headers.
    const std::string& r12 = rows_of("s12_metadata.req").text;
    EXPECT_TRUE(has(r12, "14|        COL 1 \"1\" BOOLEAN: true\n"));
    EXPECT_TRUE(has(r12, "14|        COL 107 \"107\" "));
    EXPECT_TRUE(has(r12, "|        COL 3 TABLE_NAME VARCHAR(128): \"META_T\"\n"));
    // #21: the documented parameters of s12 rec 98.
    EXPECT_TRUE(has(sqlca_lines("s12_metadata.req", {98}),
                    "98|      SQLDA: 2 parameters\n"
                    "98|        SQL: \"SELECT id, name, price FROM meta_t WHERE price > ? AND name \"\n"
                    "98|        SQLDH: HOLD 1 RETURN 0 SCROLL 0 SENSITIVE 0 FCODE 0 KEYTYPE 0\n"
                    "98|        PARAM 1: DECIMAL NULLABLE (485) LENGTH 2306 PRECISION 9 SCALE 2 MODE IN\n"
                    "98|        PARAM 2: VARCHAR NULLABLE (449) LENGTH 20 PRECISION 20 SCALE 0 CCSID 1208 MODE IN\n"));
    EXPECT_TRUE(has(sqlca_lines("s12_metadata.req", {98}),
                    "98|        COL 3 PRICE: DECIMAL NULLABLE (485) LENGTH 2306 PRECISION 9 SCALE 2"));
}

// --- hand-built bytes ----------------------------------------------------------

// An SQLCAGRP as a server writes it.
struct Ca {
    std::int32_t code = -204;
    std::string state = "42704";
    std::string proc = "DSNXOTL1";
    std::int32_t errd[6] = {0, 0, 0, 0, 0, 0};
    std::string warn = std::string(11, ' ');
    std::string rdbnme;  // SQLAM 6: 18 bytes
    std::string rdbname;
    std::string msg_m, msg_s;
    std::string diag = "\xFF";  // SQLAM 7 and above
    bool little = false;
    int sqlam = 7;

    std::string i4(std::int32_t v) const {
        const auto u = static_cast<std::uint32_t>(v);
        std::string s = be32(u);
        return little ? std::string(s.rbegin(), s.rend()) : s;
    }
    std::string bytes() const {
        std::string s = std::string(1, '\0') + i4(code) + state + proc + std::string(1, '\0');
        if (sqlam <= 6) s += rdbnme;
        for (std::int32_t e : errd) s += i4(e);
        s += warn;
        if (sqlam >= 7) s += be16(rdbname.size()) + rdbname;
        s += be16(msg_m.size()) + msg_m + be16(msg_s.size()) + msg_s;
        if (sqlam >= 7) s += diag;
        return s;
    }
};

std::vector<Record> with_sqlam(int sqlam, const std::string& srv_typdef = "QTDSQLASC") {
    std::vector<Record> recs = {
        send(dss(1, 1, obj(0x1041, obj(0x1404, be16(0x2407) + be16(static_cast<std::size_t>(sqlam)))))),
        recv(dss(2, 1, obj(0x1443, obj(0x1404, be16(0x2407) + be16(static_cast<std::size_t>(sqlam))))))};
    for (const Record& r : connect("QTDSQLASC", srv_typdef)) recs.push_back(r);
    return recs;
}

// EXCSQLIMM of `text` and the SQLCARD that answers it.
void statement(std::vector<Record>& recs, const std::string& text, const std::string& sqlcard) {
    recs.push_back(send(dss(1, 1, obj(0x200A, kPkg), true) + dss(3, 1, sqlstt(text))));
    recs.push_back(recv(dss(3, 1, obj(0x2408, sqlcard))));
}

TEST(SqlcaReader, Sqlam6LayoutAndLittleEndianNumbers) {
    Ca ca;
    ca.sqlam = 6;
    ca.rdbnme = "DB2PROD           ";
    ca.little = true;
    ca.errd[2] = 7;
    ca.errd[4] = -2;
    ca.msg_m = "T1\xFFT2";
    drda::rows::Sqlca out;
    const std::string b = ca.bytes();
    const auto r = drda::rows::read_sqlca(ByteView(b), {true, 6}, out);
    ASSERT_TRUE(r.complete);
    EXPECT_EQ(r.end, b.size());
    EXPECT_EQ(out.sqlcode, -204);
    EXPECT_EQ(out.sqlerrd[2], 7);
    EXPECT_EQ(out.sqlerrd[4], -2);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.rdb_name().data()), 18), ca.rdbnme);
    EXPECT_FALSE(out.diag);
    // Through the conversation: the RDB name line and split tokens.
    auto recs = with_sqlam(6, "QTDSQLX86");
    statement(recs, "DROP TABLE T1", b);
    EXPECT_EQ(decode(recs).sqlca,
              "6|      SQLCA: SQLCODE -204 SQLSTATE 42704 SQLERRPROC DSNXOTL1 SQLERRD 0 0 7 0 -2 0\n"
              "6|        SQLRDBNME: \"DB2PROD           \"\n"
              "6|        SQLERRMC: 2 tokens: \"T1\" \"T2\"\n"
              "6|        SQL: \"DROP TABLE T1\"\n");
}

TEST(SqlcaReader, TokensFlagsNamesAndTheSingleByteMessage) {
    // X'FF' in UTF-8 and in EBCDIC; U+0014; empty tokens kept.
    drda::rows::Token t[drda::rows::kMaxTokens];
    bool valid = false;
    EXPECT_EQ(drda::rows::split_tokens(ByteView(std::string("A\xFF\xFF" "B\x14")), 1208, t, 32, valid), 4u);
    EXPECT_TRUE(valid);
    EXPECT_EQ(t[2].offset, 3u);
    EXPECT_EQ(t[3].length, 0u);
    EXPECT_EQ(drda::rows::split_tokens(ByteView(std::string("\xC1\xFF\xC2")), 37, t, 32, valid), 2u);
    // UTF-16: 0xFF bytes inside characters do not split; U+0014 does.
    const std::string u16("\x00\xFF\x00\x14\xFF\x00", 6);
    EXPECT_EQ(drda::rows::split_tokens(ByteView(u16), 1200, t, 32, valid), 2u);
    EXPECT_TRUE(valid);
    EXPECT_EQ(t[1].offset, 4u);
    std::string text;
    EXPECT_TRUE(drda::rows::token_utf8(ByteView(u16).sub(0, 2), 1200, text));
    EXPECT_EQ(text, "\xC3\xBF");

    auto recs = with_sqlam(7);
    Ca ca;
    ca.warn = "W W        ";
    ca.warn[10] = '\x01';
    ca.rdbname = "LOCATION1";
    ca.msg_s = "ONE\x14TWO";
    statement(recs, "UPDATE T SET A = 1", ca.bytes());
    Ca both = ca;
    both.msg_m = "M";
    statement(recs, "UPDATE T SET A = 2", both.bytes());
    const Decoded d = decode(recs);
    EXPECT_EQ(d.sqlca,
              "6|      SQLCA: SQLCODE -204 SQLSTATE 42704 SQLERRPROC DSNXOTL1 SQLERRD 0 0 0 0 0 0\n"
              "6|        SQLWARN: 0=W 2=W A=X'01'\n"
              "6|        SQLRDBNAME: \"LOCATION1\"\n"
              "6|        SQLERRMC (SQLERRMSG_s): 2 tokens: \"ONE\" \"TWO\"\n"
              "6|        SQL: \"UPDATE T SET A = 1\"\n"
              "8|      SQLCA: SQLCODE -204 SQLSTATE 42704 SQLERRPROC DSNXOTL1 SQLERRD 0 0 0 0 0 0\n"
              "8|        SQLWARN: 0=W 2=W A=X'01'\n"
              "8|        SQLRDBNAME: \"LOCATION1\"\n"
              "8|        SQLERRMC: 1 token: \"M\"\n"
              "8|        SQL: \"UPDATE T SET A = 2\"\n");
}

TEST(SqlcaReader, SqldiaggrpAndFaultsOfTheSqlcard) {
    auto recs = with_sqlam(7);
    Ca diag;
    diag.code = 0;
    diag.diag = std::string("\x00\xFF\x00\x00", 4);
    statement(recs, "S1", diag.bytes());
    Ca good;
    good.code = 0;
    statement(recs, "S2", good.bytes() + "XY");
    statement(recs, "S3", good.bytes().substr(0, 30));
    Ca null_cax;
    recs.push_back(send(dss(1, 1, obj(0x200A, kPkg), true) + dss(3, 1, sqlstt("S4"))));
    recs.push_back(recv(dss(3, 1, obj(0x2408, std::string("\x80", 1)) + obj(0x2408, std::string("\x7F", 1) +
                                                                           null_cax.i4(5) + "01000" + "PROC0001" +
                                                                           "\xFF\xFF"))));
    EXPECT_EQ(decode(recs).sqlca,
              "6|      SQLCA: SQLCODE 0 SQLSTATE 42704 SQLERRPROC DSNXOTL1 SQLERRD 0 0 0 0 0 0\n"
              "6|        SQLDIAGGRP: 4 bytes, not decoded\n"
              "8|      SQLCA: SQLCODE 0 SQLSTATE 42704 SQLERRPROC DSNXOTL1 SQLERRD 0 0 0 0 0 0\n"
              "8|      SQLCA: 2 bytes after the SQLCA, not decoded\n"
              "10|      SQLCA: not decoded: object ends in SQLERRD3 (at byte 27 of this object)\n"
              "12|      SQLCA: null\n"
              "12|      SQLCA: SQLCODE 5 SQLSTATE 01000 SQLERRPROC PROC0001\n"
              "12|        SQL: \"S4\"\n");
}

// A query of one INTEGER column whose rows carry SQLCAs.
std::string qrydsc_int() { return qrydsc("0676D0020004" + kRlo); }

std::vector<std::string> row_content(const std::string& rows) {
    std::vector<std::string> out;
    std::size_t at = 0;
    while (at < rows.size()) {
        const std::size_t end = rows.find('\n', at);
        std::string line = rows.substr(at, end - at);
        at = end + 1;
        line = line.substr(line.find('|') + 1);
        const std::string t = line.substr(line.find_first_not_of(' '));
        if (t.rfind("ROWS:", 0) == 0 || t.rfind("SQL:", 0) == 0 || t.find("continued") != std::string::npos) continue;
        out.push_back(t);
    }
    return out;
}

TEST(SqlcaRows, RowSqlcaCutAtEveryByteResumes) {
    Ca warn;
    warn.code = 100;
    warn.state = "02000";
    warn.errd[1] = 3;
    warn.msg_m = "X\x14Y";
    warn.rdbname = "R";
    std::string stream = hex("FF00 00000001") + hex("FF00 00000002");
    const std::string ca = warn.bytes();
    stream += ca + hex("FF");
    const auto run = [&](std::size_t cut) {
        auto recs = connect();
        recs.push_back(open_query());
        recs.push_back(recv(dss(2, 2, opnqryrm(), true) + dss(3, 2, qrydsc_int(), true) +
                            dss(3, 2, obj(0x241B, stream.substr(0, cut)))));
        recs.push_back(cntqry());
        recs.push_back(recv(dss(3, 1, obj(0x241B, stream.substr(cut)))));
        return decode(recs).inserted;
    };
    const std::string whole = run(stream.size());
    EXPECT_TRUE(has(whole, "      ROW 3: SQLCA SQLCODE 100 SQLSTATE 02000 SQLERRPROC DSNXOTL1 SQLERRD 0 3 0 0 0 0"
                           " NO DATA\n"));
    EXPECT_TRUE(has(whole, "4|        SQLRDBNAME: \"R\"\n4|        SQLERRMC: 2 tokens: \"X\" \"Y\"\n")) << whole;
    const std::vector<std::string> expect = row_content(whole);
    for (std::size_t cut = 1; cut < stream.size(); ++cut) {
        ASSERT_EQ(row_content(run(cut)), expect) << "cut at " << cut;
    }
}

TEST(SqlcaRows, SqldiaggrpInARowStopsTheStream) {
    Ca diag;
    diag.diag = std::string("\x00\xFF", 2);
    auto recs = connect();
    recs.push_back(open_query());
    recs.push_back(recv(dss(2, 2, opnqryrm(), true) + dss(3, 2, qrydsc_int(), true) +
                        dss(3, 2, obj(0x241B, hex("FF00 00000001") + diag.bytes() + hex("00 00000002")))));
    const std::string rows = decode(recs).rows;
    EXPECT_TRUE(has(rows, "ROW 2: not decoded: SQLDIAGGRP present (at byte 67 of this object)\n")) << rows;
}

// --- SQLDA ----------------------------------------------------------------------

std::string i2(int v) { return be16(static_cast<std::size_t>(v) & 0xFFFF); }

// An SQLDAGRP at SQLAM 7 as Derby writes it.
std::string sqldagrp(int sqltype, int length, const std::string& name, const std::string& table = "T",
                     int mode = 0) {
    return i2(10) + i2(0) + be32(0) + be32(static_cast<std::size_t>(length)) + i2(sqltype) + i2(0) +
           std::string(1, '\0') + i2(0) + be16(name.size()) + name + i2(0) + i2(0) + i2(0) + i2(0) + i2(0) + "\xFF" +
           std::string(1, '\0') + i2(0) + i2(0) + i2(0) + i2(mode) + i2(0) + i2(0) + i2(0) + be16(table.size()) +
           table + i2(0) + i2(3) + "APP" + i2(0) + be16(name.size()) + name + i2(0);
}
const std::string kDh = std::string(1, '\0') + std::string(12, '\0') + std::string(6, '\0');

Ca ok_ca() {
    Ca c;
    c.code = 0;
    c.state = "     ";
    return c;
}

TEST(SqldaLinks, NamesReplacedVoidedAndKeptByInputSqlda) {
    auto recs = connect();
    // PRPSQLSTT with an output SQLDA names the section's columns.
    recs.push_back(send(dss(1, 1, obj(0x200D, kPkg), true) + dss(3, 1, sqlstt("SELECT A FROM T"), true) +
                        dss(1, 2, obj(0x200C, kPkg + obj(0x2114, be32(32767))))));
    const std::string col_a = sqldagrp(496, 4, "A");
    recs.push_back(recv(dss(3, 1, obj(0x2411, ok_ca().bytes() + kDh + i2(1) + col_a), true) +
                        dss(2, 2, opnqryrm(), true) + dss(3, 2, qrydsc_int(), true) +
                        dss(3, 2, qrydta("FF00 00000001"))));
    // An input SQLDA (DSCSQLSTT TYPSQLDA 5) keeps them.
    recs.push_back(send(dss(1, 1, obj(0x2008, kPkg + obj(0x2146, "\x05")))));
    recs.push_back(recv(dss(3, 1, obj(0x2411, ok_ca().bytes() + kDh + i2(1) + sqldagrp(497, 4, "", "", 1)))));
    recs.push_back(send(dss(1, 2, obj(0x200C, kPkg + obj(0x2114, be32(32767))))));
    recs.push_back(recv(dss(2, 2, opnqryrm(), true) + dss(3, 2, qrydsc_int(), true) +
                        dss(3, 2, qrydta("FF00 00000002"))));
    // Derby's unrequested SQLDARD after OPNQRYRM replaces them.
    recs.push_back(send(dss(1, 2, obj(0x200C, kPkg + obj(0x2114, be32(32767))))));
    recs.push_back(recv(dss(2, 2, opnqryrm(), true) +
                        dss(3, 2, obj(0x2411, ok_ca().bytes() + kDh + i2(1) + sqldagrp(496, 4, "B")), true) +
                        dss(3, 2, qrydsc_int(), true) + dss(3, 2, qrydta("FF00 00000003"))));
    // A result set of a CALL on that section takes no names from it.
    recs.push_back(send(dss(1, 3, obj(0x200B, kPkg2))));
    recs.push_back(recv(dss(2, 3, obj(0x2219, obj(0x1149, be16(0)) + obj(0x2139, kPkg)), true) +
                        dss(2, 3, opnqryrm(), true) + dss(3, 3, qrydsc_int(), true) +
                        dss(3, 3, qrydta("FF00 00000004"))));
    // A new PRPSQLSTT voids them; two names for one column are not used.
    recs.push_back(send(dss(1, 1, obj(0x200D, kPkg), true) + dss(3, 1, sqlstt("SELECT A FROM T"), true) +
                        dss(1, 2, obj(0x200C, kPkg + obj(0x2114, be32(32767))))));
    recs.push_back(recv(dss(2, 2, opnqryrm(), true) + dss(3, 2, qrydsc_int(), true) +
                        dss(3, 2, qrydta("FF00 00000005"))));
    recs.push_back(send(dss(1, 1, obj(0x200D, kPkg), true) + dss(3, 1, sqlstt("SELECT A, B FROM T"), true) +
                        dss(1, 2, obj(0x200C, kPkg + obj(0x2114, be32(32767))))));
    recs.push_back(recv(dss(3, 1, obj(0x2411, ok_ca().bytes() + kDh + i2(2) + col_a + col_a), true) +
                        dss(2, 2, opnqryrm(), true) + dss(3, 2, qrydsc_int(), true) +
                        dss(3, 2, qrydta("FF00 00000006"))));
    const Decoded d = decode(recs);
    EXPECT_TRUE(has(d.rows, "4|        COL 1 A INTEGER: 1\n")) << d.rows;
    EXPECT_TRUE(has(d.sqlca, "6|        PARAM 1: INTEGER NULLABLE (497) LENGTH 4 PRECISION 10 SCALE 0 MODE IN\n"));
    EXPECT_TRUE(has(d.rows, "8|        COL 1 A INTEGER: 2\n"));
    EXPECT_TRUE(has(d.sqlca, "10|        COL 1 B: INTEGER (496) LENGTH 4 PRECISION 10 SCALE 0 BASE APP.T.B\n"));
    EXPECT_TRUE(has(d.rows, "10|        COL 1 B INTEGER: 3\n"));
    EXPECT_TRUE(has(d.rows, "12|        COL 1 INTEGER: 4\n"));
    EXPECT_TRUE(has(d.rows, "14|        COL 1 INTEGER: 5\n"));
    EXPECT_TRUE(has(d.rows, "16|      ROWS: names from the SQLDARD of record 16 not used: 2 names, 1 columns\n"
                            "16|      ROW 1:\n"
                            "16|        COL 1 INTEGER: 6\n"));
}

TEST(SqldaReader, LevelsCountsAndDerbyUdt) {
    // SQLAM 5: 4-byte SQLLENGTH, names with no SQLDOPTGRP, no UDT group.
    const std::string v5 = i2(1) + i2(10) + i2(0) + be32(4) + i2(496) + i2(0) + be16(2) + "ID" + i2(0) + i2(0) +
                           i2(0) + i2(0) + i2(0);
    drda::rows::SqldaReader r5(ByteView(v5), 0, false, 5, false);
    drda::rows::SqldaHeader h;
    drda::rows::SqldaColumn c;
    ASSERT_TRUE(r5.header(h));
    ASSERT_TRUE(r5.next(c));
    EXPECT_EQ(c.length, 4);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(c.name.bytes.data()), 2), "ID");
    EXPECT_EQ(r5.offset(), v5.size());
    // Little-endian integers, a big-endian SQLCCSID (SQLAM 6: names, a UDT group).
    const std::string le = std::string("\x01\x00", 2) + std::string("\x0A\x00\x00\x00", 4) +
                           std::string("\x04\x00\x00\x00\x00\x00\x00\x00", 8) + std::string("\xC1\x01", 2) +
                           std::string("\x04\xB8", 2) + std::string(12, '\0') + "\xFF";
    drda::rows::SqldaReader rl(ByteView(le), 0, true, 6, false);
    drda::rows::SqldaHeader hl;
    ASSERT_TRUE(rl.header(hl));
    EXPECT_EQ(hl.count, 1);
    ASSERT_TRUE(rl.next(c));
    EXPECT_EQ(c.precision, 10);
    EXPECT_EQ(c.length, 4);
    EXPECT_EQ(c.sqltype, 449);
    EXPECT_EQ(c.ccsid, 1208);
    EXPECT_EQ(rl.offset(), le.size());
    // Derby's UDT group: no indicator, name and class.
    const std::string udt = i2(1) + i2(0) + i2(0) + be32(0) + be32(4) + i2(2001) + i2(0) + std::string(1, '\0') +
                            i2(0) + be16(1) + "U" + i2(0) + i2(0) + i2(0) + i2(0) + i2(0) + be16(3) + "UDT" + i2(0) +
                            be16(5) + "a.b.C" + i2(0) + "\xFF";
    const std::string udt_value = std::string("\xFF", 1) + udt;
    drda::rows::SqldaReader ru(ByteView(udt_value), 0, false, 7, true);
    drda::rows::SqldaHeader hu;
    ASSERT_TRUE(ru.header(hu));
    ASSERT_TRUE(ru.next(c));
    EXPECT_TRUE(c.has_udt);
    EXPECT_EQ(ru.offset(), udt.size() + 1);
    // Counts out of range and later levels.
    for (int n : {-1, 4097}) {
        const std::string bad = std::string("\xFF", 1) + i2(n);
        drda::rows::SqldaReader rb(ByteView(bad), 0, false, 7, false);
        EXPECT_FALSE(rb.header(h));
        EXPECT_EQ(rb.error(), "SQLNUMROW " + std::to_string(n));
    }
    const std::string empty_da("\xFF\x00\x00", 3);
    drda::rows::SqldaReader r9(ByteView(empty_da), 0, false, 9, false);
    EXPECT_FALSE(r9.header(h));
    EXPECT_EQ(r9.error(), "SQLDA at SQLAM 9");
    drda::rows::SqldaReader r6(ByteView(empty_da), 0, false, 6, true);
    EXPECT_FALSE(r6.header(h));
    EXPECT_EQ(r6.error(), "SQLCINRD at SQLAM 6");
    EXPECT_TRUE(drda::rows::sqltype_table_ok());
    EXPECT_STREQ(drda::rows::sqltype_name(2437), "BOOLEAN");
    EXPECT_STREQ(drda::rows::sqltype_name(2), "SQLTYPE");
}

TEST(SqldaLines, FaultsOfAnSqldard) {
    auto recs = connect();
    const auto prepare = [&](const std::string& value) {
        recs.push_back(send(dss(1, 1, obj(0x200D, kPkg), true) + dss(3, 1, sqlstt("SELECT A FROM T"))));
        recs.push_back(recv(dss(3, 1, obj(0x2411, value))));
    };
    const std::string col_a = sqldagrp(496, 4, "A");
    prepare(ok_ca().bytes() + kDh + i2(1) + col_a + "Z");
    prepare(ok_ca().bytes() + kDh + i2(1) + col_a.substr(0, 20));
    prepare(ok_ca().bytes() + kDh + i2(1) + i2(10) + i2(0) + be32(0) + be32(4) + i2(496) + i2(0) +
            std::string(1, '\0') + i2(0) + be16(1) + "A" + be16(1) + "A");
    const std::string s = decode(recs).sqlca;
    EXPECT_TRUE(has(s, "4|      SQLDA: 1 bytes after the last SQLDAGRP, not decoded\n"));
    EXPECT_TRUE(has(s, "6|      SQLDA: not decoded: object ends in SQLNAME_m (at byte 101 of this object)\n")) << s;
    EXPECT_TRUE(has(s, "8|      SQLDA: not decoded: SQLNAME: both SQLNAME_m and SQLNAME_s are set\n"));
}

}  // namespace
