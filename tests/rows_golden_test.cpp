// SPDX-License-Identifier: Apache-2.0
// -r over the real traces: the expected rows of each, the -f output kept
// whole around them, the same rows from every variant of a trace, and the
// option on the command line.
//
// tests/data/rows/NAME.rows.txt holds the lines -r inserts into the -f
// output of NAME ("record|line"). After a reviewed change of the output,
// regenerate them with DSSVIEW_UPDATE_ROW_GOLDEN=1 ctest -R RowGolden.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <fstream>

#include "support/rows_support.h"
#include "support/trace_builder.h"

using namespace testsupport;

namespace {

std::string source(const std::string& rel) { return std::string(DSSVIEW_SOURCE_DIR) + "/" + rel; }

// The row lines with their indentation, record numbers and group headings
// taken off: what must agree between variants of a trace.
std::vector<std::string> placement_free(const Rows& rows) {
    std::vector<std::string> out;
    for (const RowLine& l : rows.lines) {
        std::string t = l.text.substr(l.text.find_first_not_of(' '));
        if (t.rfind("ROWS: from the ", 0) == 0 || t.rfind("SQLCA: from the ", 0) == 0 ||
            t.rfind("SQLDA: from the ", 0) == 0)
            continue;
        out.push_back(t);
    }
    return out;
}

const char* const kAllTraces[] = {
    "s01_connect.req", "s01_connect.srv", "s01_connect.names.req", "s03_types.req", "s03_types.srv",
    "s04_manyrows.req", "s04_manyrows.seg.req", "s06_errors.req", "s06_errors.srv", "s09_procedures.req",
    "s11_batch.req", "s11_batch.split4096.req", "s12_metadata.req",
};

class EveryTrace : public testing::TestWithParam<const char*> {};

TEST_P(EveryTrace, DeletingTheRowLinesLeavesTheFormatOutput) {
    const Rows& rows = rows_of(GetParam());
    EXPECT_FALSE(rows.lines.empty());
    for (const RowLine& l : rows.lines) {
        EXPECT_EQ(l.text.find("not decoded"), std::string::npos) << l.record << ": " << l.text;
        EXPECT_EQ(l.text.find(": incomplete"), std::string::npos) << l.record << ": " << l.text;
        EXPECT_EQ(l.text.find("EXTDTA: no LOB value"), std::string::npos) << l.record << ": " << l.text;
    }
}

INSTANTIATE_TEST_SUITE_P(RealTraces, EveryTrace, testing::ValuesIn(kAllTraces), [](const auto& info) {
    std::string n = info.param;
    for (char& c : n)
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
    return n;
});

class RowGolden : public testing::TestWithParam<const char*> {};

TEST_P(RowGolden, MatchesTheReviewedRows) {
    const std::string name = GetParam();
    const std::string path = data_path("rows/" + name + ".rows.txt");
    const Rows& rows = rows_of(name);
    if (std::getenv("DSSVIEW_UPDATE_ROW_GOLDEN")) {
        write_file(path, rows.text);
        GTEST_SKIP() << "rewrote " << path;
    }
    const std::string expected = read_file(path);
    if (rows.text != expected) {
        std::size_t at = 0;
        while (at < expected.size() && at < rows.text.size() && expected[at] == rows.text[at]) ++at;
        const std::size_t from = expected.rfind('\n', at) == std::string::npos ? 0 : expected.rfind('\n', at) + 1;
        ADD_FAILURE() << "first difference at byte " << at << "\nexpected: "
                      << expected.substr(from, expected.find('\n', at) - from)
                      << "\nactual:   " << rows.text.substr(from, rows.text.find('\n', at) - from);
    }
}

INSTANTIATE_TEST_SUITE_P(RealTraces, RowGolden,
                         testing::Values("s01_connect.req", "s03_types.req", "s06_errors.req", "s09_procedures.req",
                                         "s11_batch.req", "s11_batch.split4096.req", "s12_metadata.req"),
                         [](const auto& info) {
                             std::string n = info.param;
                             for (char& c : n)
                                 if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                             return n;
                         });

TEST(RowVariants, SameRowsAsTheirBaseTrace) {
    const std::pair<const char*, const char*> pairs[] = {
        {"s01_connect.req", "s01_connect.srv"},     {"s01_connect.req", "s01_connect.names.req"},
        {"s03_types.req", "s03_types.srv"},         {"s06_errors.req", "s06_errors.srv"},
        {"s04_manyrows.req", "s04_manyrows.seg.req"}, {"s11_batch.req", "s11_batch.split4096.req"},
    };
    for (const auto& [base, variant] : pairs) {
        EXPECT_TRUE(placement_free(rows_of(base)) == placement_free(rows_of(variant))) << base << " / " << variant;
    }
    // The server's view places every row where the requester's view does.
    EXPECT_EQ(rows_of("s03_types.req").text, rows_of("s03_types.srv").text);
    EXPECT_EQ(rows_of("s01_connect.req").text, rows_of("s01_connect.srv").text);
}

// --- the vectors ---------------------------------------------------------------

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The COL values of a record's rows, in order ("NULL", "42", "\"abc\"" ...),
// wrapped values joined again.
std::vector<std::string> values(const std::string& name, int record) {
    std::vector<std::string> out;
    bool in_col = false;  // the last line was a COL line or its continuation
    for (const RowLine& l : rows_of(name).lines) {
        if (l.record != record || l.sqlca) continue;
        const std::string t = l.text.substr(l.text.find_first_not_of(' '));
        const bool known = t.rfind("COL ", 0) == 0 || t.rfind("ROW", 0) == 0 || t.rfind("EXTDTA: ", 0) == 0 ||
                           t.rfind("SQL: ", 0) == 0 || t.rfind("VALUE: ", 0) == 0;
        if (t.rfind("COL ", 0) == 0) {
            out.push_back(t.substr(t.find(": ") + 2));
            in_col = true;
        } else if (!known && in_col) {
            out.back() += t;
        } else if (known) {
            in_col = false;
        }
    }
    return out;
}

TEST(RowVectors, S03ParametersOfEveryType) {
    // #1: rec 9, the first INSERT.
    EXPECT_EQ(values("s03_types.req", 9),
              (std::vector<std::string>{"1", "42", "123456789", "1234567890123456789", "12345.6789",
                                        "123456789012345678901.0123456789", "99999", "3.141592653589793", "2.5",
                                        "1e-300", "\"CHAR10\"", "\"a VARCHAR value\"", "\"a LONG VARCHAR value\"",
                                        "X'0102030405060708'", "X'DEADBEEF'", "\"2024-02-29\"", "\"23:59:58\"",
                                        "\"2024-02-29-23.59.58.123456789\"", "true", "X'736D616C6C20626C6F62'",
                                        "\"small clob\""}));
    const std::string& t = rows_of("s03_types.req").text;
    EXPECT_TRUE(has(t, "9|          COL 5 DECIMAL(9,4): 12345.6789\n"));
    // #2: rec 11, extremes and two EXTDTA, as in the documented example.
    const std::vector<std::string> v = values("s03_types.req", 11);
    ASSERT_EQ(v.size(), 21u);
    EXPECT_EQ(v[5], "-0.0000000001");
    EXPECT_EQ(v[11], "\"Gr\\xFC\\xDFe \\u2603 \\u65E5\\u672C\\u8A9E \\xE9\\xE8\"");
    EXPECT_EQ(v[12], "\"" + std::string(256, 'x') + "\"...(2000 bytes)");
    EXPECT_EQ(v[19], "EXTDTA follows, length field 3000");
    EXPECT_EQ(v[20], "EXTDTA follows, length field 19");
    EXPECT_TRUE(has(rows_of("s03_types.req").r_out,
                    "        ROWS: SQLDTA, 21 columns, QTDSQLASC big-endian, CCSID SBC 1208 DBC 1200 MBC 1208\n"
                    "        SQL: \"INSERT INTO alltypes (id, c_smallint, c_int, c_bigint, c_dec\"\n"
                    "        ROW 1:\n"
                    "          COL 1 INTEGER: 2\n"
                    "          COL 2 SMALLINT: -32768\n"
                    "          COL 3 INTEGER: 2147483647\n"
                    "          COL 4 BIGINT: -9223372036854775808\n"
                    "          COL 5 DECIMAL(15,4): -99999999999.9999\n"
                    "          COL 6 DECIMAL(1,10): -0.0000000001\n"
                    "          COL 7 DECIMAL(1,0): -1\n"
                    "          COL 8 FLOAT8: -1.7976931348623157e+308\n"
                    "          COL 9 FLOAT4: 1e-45\n"
                    "          COL 10 FLOAT8: 0\n"
                    "          COL 11 LONG VARCHAR MIXED(32767): \"\"\n"
                    "          COL 12 LONG VARCHAR MIXED(32767): \"Gr\\xFC\\xDFe \\u2603 \\u65E5\\u672C\n"
                    "          \\u8A9E \\xE9\\xE8\"\n"
                    "          COL 13 LONG VARCHAR MIXED(32767): \"xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\n"
                    "          xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\n"
                    "          xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\n"
                    "          xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\n"
                    "          xxxxxxxxxxx\"...(2000 bytes)\n"
                    "          COL 14 LONG VARBINARY(32767): X'00000000FFFFFFFF'\n"
                    "          COL 15 LONG VARBINARY(32767): X''\n"
                    "          COL 16 DATE(10): \"0001-01-01\"\n"
                    "          COL 17 TIME(8): \"00:00:00\"\n"
                    "          COL 18 TIMESTAMP(29): \"1970-01-01-00.00.00.000000000\"\n"
                    "          COL 19 BOOLEAN: false\n"
                    "          COL 20 BLOB: EXTDTA follows, length field 3000\n"
                    "          COL 21 DBCLOB: EXTDTA follows, length field 19\n"));
    EXPECT_TRUE(has(rows_of("s03_types.req").r_out,
                    "      EXTDTA: ROW 1 COL 20 BLOB, null indicator 00, length 3000, status byte 7F\n"
                    "        VALUE: X'000000000000000000000000000000000000000000000000000000000000\n"
                    "        0000000000000000000000000000000000000000000000000000000000000000000000\n"
                    "        0000000000000000000000000000000000000000000000000000000000000000000000\n"
                    "        00000000000000000000000000000000000000000000000000000000'\n"
                    "        ...(3000 bytes)\n"));
    EXPECT_TRUE(has(rows_of("s03_types.req").r_out,
                    "      EXTDTA: ROW 1 COL 21 DBCLOB, null indicator 00, length 38, status byte 7F\n"
                    "        VALUE: \"\\xC4\\xD6\\xDC clob via reader\"\n"));
    // #3: rec 13, an id and 20 NULLs.
    const std::vector<std::string> n = values("s03_types.req", 13);
    ASSERT_EQ(n.size(), 21u);
    EXPECT_EQ(n[0], "3");
    for (std::size_t i = 1; i < n.size(); ++i) EXPECT_EQ(n[i], "NULL") << i;
}

TEST(RowVectors, S03AnswerSetWithOutovr) {
    const Rows& rows = rows_of("s03_types.req");
    // #4: the QRYDSC (rec 18) and OUTOVR (rec 19) bring no rows.
    EXPECT_TRUE(row_text(rows.lines, {18, 19}).empty());
    // #5: rec 20, the documented result-set row.
    EXPECT_TRUE(has(rows.r_out,
                    "      ROWS: query 1, 21 columns, QTDSQLASC big-endian, CCSID SBC 1208 MBC 1208\n"
                    "      SQL: \"SELECT id, c_smallint, c_int, c_bigint, c_dec, c_dec31, c_nu\"\n"
                    "      ROW 1:\n"
                    "        COL 1 ID INTEGER: 1\n"
                    "        COL 2 C_SMALLINT SMALLINT: 42\n"
                    "        COL 3 C_INT INTEGER: 123456789\n"
                    "        COL 4 C_BIGINT BIGINT: 1234567890123456789\n"
                    "        COL 5 C_DEC DECIMAL(15,4): 12345.6789\n"
                    "        COL 6 C_DEC31 DECIMAL(31,10): 123456789012345678901.0123456789\n"
                    "        COL 7 C_NUM DECIMAL(5,0): 99999\n"
                    "        COL 8 C_DOUBLE FLOAT8: 3.141592653589793\n"
                    "        COL 9 C_REAL FLOAT4: 2.5\n"
                    "        COL 10 C_FLOAT FLOAT8: 1e-300\n"
                    "        COL 11 C_CHAR VARCHAR MIXED(10): \"CHAR10    \"\n"
                    "        COL 12 C_VARCHAR VARCHAR(100): \"a VARCHAR value\"\n"
                    "        COL 13 C_LONGVARCHAR LONG VARCHAR(32700): \"a LONG VARCHAR value\"\n"
                    "        COL 14 C_CHARBIT VARBINARY(16): X'0102030405060708'\n"
                    "        COL 15 C_VARCHARBIT VARBINARY(128): X'DEADBEEF'\n"
                    "        COL 16 C_DATE DATE(10): \"2024-02-29\"\n"
                    "        COL 17 C_TIME TIME(8): \"23:59:58\"\n"
                    "        COL 18 C_TIMESTAMP TIMESTAMP(29): \"2024-02-29-23.59.58.123456789\"\n"
                    "        COL 19 C_BOOLEAN BOOLEAN: true\n"
                    "        COL 20 C_BLOB BLOB LOCATOR (OUTOVR): 1\n"
                    "        COL 21 C_CLOB CLOB LOCATOR (OUTOVR): 2\n"));
    // #6: rows 2 to 4 in rec 30, 36 and 38.
    const std::vector<std::string> two = values("s03_types.req", 30);
    const std::vector<std::string> expect_two = {
        "2", "-32768", "2147483647", "-9223372036854775808", "-99999999999.9999", "-0.0000000001", "-1",
        "-1.7976931348623157e+308", "1e-45", "0", "\"          \"",
        "\"Gr\\xFC\\xDFe \\u2603 \\u65E5\\u672C\\u8A9E \\xE9\\xE8\"", "\"" + std::string(256, 'x') + "\"...(2000 bytes)",
        "X'00000000FFFFFFFF'", "X''", "\"0001-01-01\"", "\"00:00:00\"", "\"1970-01-01-00.00.00.000000000\"", "false",
        "3", "4"};
    EXPECT_EQ(std::vector<std::string>(two.begin(), two.begin() + 21), expect_two);
    const std::vector<std::string> three = values("s03_types.req", 36);
    EXPECT_EQ(three[0], "3");
    EXPECT_EQ(std::count(three.begin(), three.begin() + 21, "NULL"), 20);
    const std::vector<std::string> four = values("s03_types.req", 38);
    const std::vector<std::string> expect_four = {
        "4", "7", "-7", "9000000000", "0.5000", "3.0000000000", "12", "6.02214076e+23", "1.5", "2",
        "\"abc       \"", "\"setObject\"", "\"long\"", "X'0908070605040302'", "X'4142'", "\"1999-12-31\"",
        "\"12:00:00\"", "\"2000-01-01-00.00.00.500000000\"", "true", "5", "6"};
    EXPECT_EQ(std::vector<std::string>(four.begin(), four.begin() + 21), expect_four);
    // #7: rec 44, the end of the answer set.
    EXPECT_TRUE(has(rows.text,
                    "44|      ROWS: query 1, 21 columns, QTDSQLASC big-endian, CCSID SBC 1208 MBC 1208\n"
                    "44|      SQL: \"SELECT id, c_smallint, c_int, c_bigint, c_dec, c_dec31, c_nu\"\n"
                    "44|      ROW 5: SQLCA SQLCODE 100 SQLSTATE 02000 SQLERRPROC CSS10140 SQLERRD 0 4 0 0 0 0 NO DATA\n"));
    // #8: OUT parameters of the LOB length functions and a substring.
    EXPECT_EQ(values("s03_types.req", 24), (std::vector<std::string>{"10", "NULL"}));
    EXPECT_EQ(values("s03_types.req", 68),
              (std::vector<std::string>{"\"\\xC4\\xD6\\xDC clob via reader\"", "NULL", "NULL", "NULL"}));
    EXPECT_TRUE(has(rows.text, "68|          COL 1 VARCHAR(32767): \"\\xC4\\xD6\\xDC clob via reader\"\n"));
    // #9: rec 50, QRYDSC and QRYDTA in the OPNQRY reply.
    EXPECT_EQ(values("s03_types.req", 50),
              (std::vector<std::string>{"1", "\"a VARCHAR value\"", "12345.6789", "\"2024-02-29-23.59.58.123456789\"",
                                        "2", "\"Gr\\xFC\\xDFe \\u2603 \\u65E5\\u672C\\u8A9E \\xE9\\xE8\"",
                                        "-99999999999.9999", "\"1970-01-01-00.00.00.000000000\"", "4", "\"setObject\"",
                                        "0.5000", "\"2000-01-01-00.00.00.500000000\""}));
    EXPECT_TRUE(has(rows.text, "50|      ROW 4: SQLCA SQLCODE 100 SQLSTATE 02000 SQLERRPROC CSS10140 SQLERRD 0 3 0 0 0 0 NO DATA\n"));
}

// Row k of the 5,120-row table: (k, "name number b", b*11 + k - b + .25,
// b mod 3, "2020-01-0D-10.11.12.000000000" with D = b mod 9 + 1).
std::string manyrows_row(int k, int first_col_depth = 8) {
    const int b = (k - 1) % 10 + 1;
    const std::string pad(static_cast<std::size_t>(first_col_depth), ' ');
    return pad + "COL 1 ID INTEGER: " + std::to_string(k) + "\n" + pad + "COL 2 NAME VARCHAR(40): \"name number " +
           std::to_string(b) + "\"\n" + pad + "COL 3 AMOUNT DECIMAL(12,2): " + std::to_string(b * 11 + k - b) + ".25\n" +
           pad + "COL 4 FLAG SMALLINT: " + std::to_string(b % 3) + "\n" + pad + "COL 5 TS TIMESTAMP(29): \"2020-01-0" +
           std::to_string(b % 9 + 1) + "-10.11.12.000000000\"\n";
}

std::string lines_text(const Rows& rows, const std::vector<int>& records) {
    std::string s;
    for (const RowLine& l : rows.lines)
        for (int r : records)
            if (r == l.record && !l.sqlca) s += l.text + "\n";
    return s;
}

TEST(RowVectors, S04ManyRowsInQueryBlocks) {
    const Rows& rows = rows_of("s04_manyrows.req");
    // #11, #12: 5,120 rows over ten QRYDTA, then the end of data.
    std::string expect;
    int k = 1;
    const int last_of[] = {519, 1038, 1557, 2076, 2595, 3114, 3633, 4152, 4671, 5120};
    for (int i = 0; i < 10; ++i) {
        expect += "      ROWS: query 1, 5 columns, QTDSQLASC big-endian, CCSID SBC 1208 MBC 1208\n"
                  "      SQL: \"SELECT * FROM manyrows ORDER BY id\"\n";
        for (; k <= last_of[i]; ++k) expect += "      ROW " + std::to_string(k) + ":\n" + manyrows_row(k);
    }
    expect += "      ROW 5121: SQLCA SQLCODE 100 SQLSTATE 02000 SQLERRPROC CSS10140 SQLERRD 0 5120 0 0 0 0 NO DATA\n";
    EXPECT_TRUE(lines_text(rows, {28, 30, 32, 34, 36, 38, 40, 42, 44, 46}) == expect);
    // #13: rows with flag 1 (ids 1, 4, 7, 10, 11, ...), 1,472 + 576 of them.
    std::vector<std::string> two = values("s04_manyrows.req", 50), more = values("s04_manyrows.req", 52);
    two.insert(two.end(), more.begin(), more.end());
    std::vector<std::string> expect_two;
    for (int id = 1; id <= 5120; ++id) {
        const int b = (id - 1) % 10 + 1;
        if (b % 3 != 1) continue;
        expect_two.push_back(std::to_string(id));
        expect_two.push_back("\"name number " + std::to_string(b) + "\"");
    }
    EXPECT_TRUE(two == expect_two);
    EXPECT_EQ(values("s04_manyrows.req", 50).size(), 2u * 1472);
    EXPECT_TRUE(has(lines_text(rows, {52}), "      ROW 2049: SQLCA SQLCODE 100 SQLSTATE 02000 SQLERRPROC CSS10140 SQLERRD 0 2048 0 0 0 0 NO DATA\n"));
    // 628 rows from id 5120 down, cursor closed early.
    const std::vector<std::string> desc = values("s04_manyrows.req", 56);
    ASSERT_EQ(desc.size(), 3u * 628);
    for (int i = 0; i < 628; ++i) EXPECT_EQ(desc[3 * static_cast<std::size_t>(i)], std::to_string(5120 - i));
    // 3,275 pairs (1,1) .. (34,8).
    const std::vector<std::string> pairs = values("s04_manyrows.req", 60);
    ASSERT_EQ(pairs.size(), 2u * 3275);
    EXPECT_EQ(pairs[0], "1");
    EXPECT_EQ(pairs[1], "1");
    EXPECT_EQ(pairs[pairs.size() - 2], "34");
    EXPECT_EQ(pairs.back(), "8");
}

TEST(RowVectors, S04QrydtaCutBetweenTwoRecords) {
    // #14: nothing under rec 28's incomplete QRYDTA; the group right after
    // rec 29's first line.
    const Rows& seg = rows_of("s04_manyrows.seg.req");
    const std::string group = lines_text(seg, {29});
    EXPECT_EQ(lines_text(seg, {28}), "");
    std::string expect = "    ROWS: from the QRYDTA of the DSS cut at the end of record 28\n"
                         "      ROWS: query 1, 5 columns, QTDSQLASC big-endian, CCSID SBC 1208 MBC 1208\n"
                         "      SQL: \"SELECT * FROM manyrows ORDER BY id\"\n";
    for (int k = 1; k <= 519; ++k) expect += "      ROW " + std::to_string(k) + ":\n" + manyrows_row(k);
    EXPECT_TRUE(group == expect);
    // Rec 29 as -r prints it: its listing, the first "\n" of its decode, the
    // group, then the rest of its -f decode.
    const std::string path = trace_path("s04_manyrows.seg.req");
    const auto record_29 = [](const std::string& out) {
        const std::size_t from = out.find("\n29\tdata ZEV DRDA Communication Manager\n") + 1;
        const std::size_t to = out.find("\n30\tdata ZEV DRDA Communication Manager\n") + 1;
        return out.substr(from, to - from);
    };
    const std::string listing = record_29(run_dssview({path}).out);
    const std::string decoded = record_29(run_dssview({"-f", path}).out);
    ASSERT_EQ(decoded.compare(0, listing.size(), listing), 0);
    EXPECT_TRUE(record_29(seg.r_out) == listing + "\n" + group + decoded.substr(listing.size() + 1));
}

TEST(RowVectors, S09ProceduresAndResultSets) {
    // #15
    EXPECT_EQ(values("s09_procedures.req", 22),
              (std::vector<std::string>{"3", "\"three\"", "4", "\"four\"", "5", "\"five\""}));
    const std::vector<std::string> stats = values("s09_procedures.req", 26);
    ASSERT_EQ(stats.size(), 1u);
    EXPECT_EQ(stats[0].rfind("\"Statement Name: \\x0A\\x09SQL_CURLH000C2\\x0AStatement Text: \\x0A\\x09SELECT", 0), 0u);
    EXPECT_EQ(stats[0].substr(stats[0].size() - 15), "...(1527 bytes)");
    // #16: in and out parameters of a procedure.
    EXPECT_EQ(values("s09_procedures.req", 35),
              (std::vector<std::string>{"40", "2", "NULL", "\"DRDA\"", "NULL", "9"}));
    EXPECT_EQ(values("s09_procedures.req", 36),
              (std::vector<std::string>{"NULL", "NULL", "42", "NULL", "\"Hello, DRDA!\"", "10"}));
    // #17: two result sets in one reply, in the order of PKGSNLST.
    const std::string rec42 = row_text(rows_of("s09_procedures.req").lines, {42});
    EXPECT_EQ(values("s09_procedures.req", 42),
              (std::vector<std::string>{"1", "\"one\"", "2", "\"two\"", "3", "\"three\"", "5", "15", "\"summary of 3\""}));
    EXPECT_TRUE(has(rec42, "42|      ROW 4: SQLCA SQLCODE 100"));
    EXPECT_TRUE(has(rec42, "42|      ROWS: query 4, 3 columns"));
    EXPECT_TRUE(has(rec42, "42|      ROW 2: SQLCA SQLCODE 100"));
    // #18: a function's FLOAT8 arguments and result.
    EXPECT_EQ(values("s09_procedures.req", 59), (std::vector<std::string>{"3", "4"}));
    EXPECT_EQ(values("s09_procedures.req", 60), (std::vector<std::string>{"5"}));
    EXPECT_TRUE(has(rows_of("s09_procedures.req").text, "60|      ROW 2: SQLCA SQLCODE 100"));
}

TEST(RowVectors, S12OneHundredAndSevenColumns) {
    // #19
    const std::vector<std::string> v = values("s12_metadata.req", 14);
    ASSERT_EQ(v.size(), 107u);
    EXPECT_EQ(std::vector<std::string>(v.begin(), v.begin() + 14),
              (std::vector<std::string>{"true", "true", "true", "false", "false", "false", "true", "true", "true",
                                        "false", "false", "false", "false", "true"}));
    EXPECT_EQ(v[14].rfind("\"ALIAS,BIGINT,BOOLEAN,CALL,CLASS,COPY,DB2J_DEBUG,EXECUTE,", 0), 0u);
    EXPECT_TRUE(has(rows_of("s12_metadata.req").text, "14|      ROWS: query 1, 107 columns,"));
    EXPECT_TRUE(has(rows_of("s12_metadata.req").text, "14|      ROW 2: SQLCA SQLCODE 100"));
}

TEST(RowVectors, S11FiveHundredBatchedParameterRows) {
    // #20: i, "batch row i", i / 7.0 for i = 0 .. 499, in record 9.
    const std::vector<std::string> v = values("s11_batch.req", 9);
    ASSERT_EQ(v.size(), 1500u);
    char buf[40];
    for (int i = 0; i < 500; ++i) {
        EXPECT_EQ(v[3 * static_cast<std::size_t>(i)], std::to_string(i));
        EXPECT_EQ(v[3 * static_cast<std::size_t>(i) + 1], "\"batch row " + std::to_string(i) + "\"");
        std::snprintf(buf, sizeof buf, "%.17g", i / 7.0);
        EXPECT_EQ(std::stod(v[3 * static_cast<std::size_t>(i) + 2]), i / 7.0) << i;
    }
    EXPECT_EQ(v.back(), "71.28571428571429");
    // #21: the same rows from the records cut every 4,096 bytes, in order;
    // those of a DSS cut inside its objects at the top of the next record.
    std::vector<std::string> split;
    for (int r = 9; r <= 27; ++r) {
        const std::vector<std::string> part = values("s11_batch.split4096.req", r);
        split.insert(split.end(), part.begin(), part.end());
    }
    EXPECT_TRUE(split == v);
    const std::string t = rows_of("s11_batch.split4096.req").text;
    EXPECT_TRUE(has(t, "13|    ROWS: from the SQLDTA of the DSS cut at the end of record 12\n"
                       "13|        ROWS: SQLDTA, 3 columns"));
}

TEST(RowVectors, S01PlacementInFull) {
    // #22 and the documented placement: s01 rec 6, last DSS.
    EXPECT_TRUE(has(rows_of("s01_connect.req").r_out,
                    "  RECV(AR) OBJDSS - Object Data Stream Structure\n"
                    "  LL: 78  CORR: 0002  CHAINED: n  CONT ON ERR: n  SAME CORR FOR NEXT DSS: n  \n"
                    "\n"
                    "    NM: QRYDTA - Query Answer Set Data\n"
                    "      LL: 72    CP: 241B   \n"
                    "      DATA:                              (ASCII)          (EBCDIC)\n"
                    "      FF00000001590000 0000643032303030  .....Y....d02000 ................\n"
                    "      4353533130313430 0000000000000000  CSS10140........ ................\n"
                    "      0100000000000000 0000000000000000  ................ ................\n"
                    "      0020202020202020 2020202000000000  .           .... ................\n"
                    "      0000FFFF                           ....             ....\n"
                    "      ROWS: query 1, 1 columns, QTDSQLASC big-endian, CCSID SBC 1208 MBC 1208\n"
                    "      SQL: \"SELECT * FROM SYSIBM.SYSDUMMY1\"\n"
                    "      ROW 1:\n"
                    "        COL 1 IBMREQD VARCHAR MIXED(1): \"Y\"\n"
                    "      ROW 2: SQLCA SQLCODE 100 SQLSTATE 02000 SQLERRPROC CSS10140 SQLERRD 0 1 0 0 0 0 NO DATA\n"
                    "\n"
                    "7\tdata ZEV DRDA Communication Manager\n"));
    EXPECT_EQ(values("s01_connect.req", 6), (std::vector<std::string>{"\"Y\""}));
    EXPECT_EQ(values("s01_connect.req", 10), (std::vector<std::string>{"2", "\"APP\"", "\"hello\""}));
    EXPECT_EQ(values("s01_connect.req", 24), (std::vector<std::string>{"\"2026-12-08\""}));
    for (int r : {6, 10, 24})
        EXPECT_TRUE(has(row_text(rows_of("s01_connect.req").lines, {r}), "SQLERRD 0 1 0 0 0 0 NO DATA\n")) << r;
}

// --- the option ----------------------------------------------------------------

TEST(RowOption, ExactlyDashRAndItImpliesFormat) {
    const std::string t = trace_path("s01_connect.req");
    const RunResult f = run_dssview({"-f", t});
    const RunResult r = run_dssview({"-r", t});
    const RunResult fr = run_dssview({"-f", "-r", t});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(fr.out, r.out);
    EXPECT_NE(r.out, f.out);
    EXPECT_EQ(run_dssview({"-fr", t}).out, f.out) << "an argument beginning -f is -f, whatever follows";
    const char usage[] = "Usage: dssview [-f] [-o outfile] inpfile\n\t-f: format hex dump\n\n\n";
    for (const char* bad : {"-rx", "-r-", "-R"}) {
        const RunResult u = run_dssview({bad, t});
        EXPECT_EQ(u.status, 1) << bad;
        EXPECT_EQ(u.out, "") << bad;
        EXPECT_EQ(u.err, usage) << bad;
    }
    const RunResult last = run_dssview({t, "-r"});
    EXPECT_EQ(last.status, 1) << "the input file comes last";
    // Without -r nothing changes: the listing and the -f output are the ones
    // the golden tests hold.
    EXPECT_EQ(f.out, read_file(source("examples/s01_connect.req.expected.txt")));
}

}  // namespace
