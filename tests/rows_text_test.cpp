// SPDX-License-Identifier: Apache-2.0
// ROW and COL lines: the forms of §4.4 that the real traces do not show.
#include <gtest/gtest.h>

#include <cstring>

#include "ddm/rows/row_text.h"
#include "support/capture.h"
#include "support/trace_builder.h"

using namespace drda;
using namespace drda::rows;
using testsupport::capture;
using testsupport::hex;

namespace {

std::string col(std::uint8_t code, std::uint16_t length, const std::string& hexbytes, const Typdef& td = Typdef(),
                bool null = false, std::uint8_t indicator = 0) {
    const Column c = table_column(code, length);
    const std::string bytes = hex(hexbytes);
    ColumnValue v;
    v.number = 3;
    v.null = null;
    v.indicator = indicator;
    v.bytes = ByteView(bytes);
    v.total = bytes.size();
    return capture([&](TextWriter& w) { write_column_line(w, 0, c, v, td, nullptr); });
}

TEST(RowText, ValueForms) {
    EXPECT_EQ(col(0x03, 4, "", Typdef(), true, 0x80), "COL 3 INTEGER: NULL (indicator 80)\n");
    EXPECT_EQ(col(0x03, 4, "", Typdef(), true, 0xFF), "COL 3 INTEGER: NULL\n");
    EXPECT_EQ(col(0xBE, 1, "02"), "COL 3 BOOLEAN: X'02'\n");
    EXPECT_EQ(col(0xC8, 0x8004, "80000000"), "COL 3 BLOB: EXTDTA follows, length unknown\n");
    EXPECT_EQ(col(0xC8, 0x8004, "00000000"), "COL 3 BLOB: empty\n");
    EXPECT_EQ(col(0xC8, 0x8000, ""), "COL 3 BLOB: empty\n");
    EXPECT_EQ(col(0xCE, 0x8004, "00008004"), "COL 3 CLOB MIXED: EXTDTA follows, length field 32772\n")
        << "Derby's 'size unknown' shows as the number it is";
    EXPECT_EQ(col(0x10, 0x0502, "F1F2F3F4D5"), "COL 3 ZONED DECIMAL(5,2): X'F1F2F3F4D5'\n");
    EXPECT_EQ(col(0xBA, 8, "2238000000000001"), "COL 3 DECFLOAT(8): X'2238000000000001'\n");
    EXPECT_EQ(col(0x32, 0, "41"), "COL 3 VARCHAR: X'41' (CCSID unknown)\n") << "no length word, no CCSID known";
    Typdef ibm;
    ibm.set_name(ByteView(std::string("QTDSQL370")));
    EXPECT_FALSE(ibm.little);
    EXPECT_EQ(col(0x0A, 8, "4110000000000000", ibm), "COL 3 FLOAT8: X'4110000000000000' (QTDSQL370 floating point)\n");
    EXPECT_EQ(col(0x02, 4, "01000000", ibm), "COL 3 INTEGER: 16777216\n");
    Typdef ebcdic;
    ebcdic.set_name(ByteView(hex("D8E3C4E2D8D3E7F8F6")));  // QTDSQLX86 in EBCDIC
    EXPECT_STREQ(ebcdic.name, "QTDSQLX86");
    EXPECT_TRUE(ebcdic.little);
    EXPECT_EQ(col(0x02, 4, "01000000", ebcdic), "COL 3 INTEGER: 1\n");
    Column unknown = table_column(0x53, 4);
    unknown.layout = Layout::kLengthWord;
    const std::string b = hex("0102");
    ColumnValue v;
    v.number = 1;
    v.bytes = ByteView(b);
    v.total = 2;
    EXPECT_EQ(capture([&](TextWriter& w) { write_column_line(w, 0, unknown, v, Typdef(), nullptr); }),
              "COL 1 TYPE 53(4): X'0102'\n");
}

TEST(RowText, RowLines) {
    Sqlca ca;
    ca.sqlcode = -204;
    std::memcpy(ca.sqlstate, "42704", 5);
    std::memcpy(ca.sqlerrproc, "SQLNQ1FC", 8);
    Typdef known;
    known.sbc = 1208;
    EXPECT_EQ(capture([&](TextWriter& w) { write_row_line(w, 7, &ca, false, known); }),
              "ROW 7: SQLCA SQLCODE -204 SQLSTATE 42704 SQLERRPROC SQLNQ1FC\n");
    ca.has_errd = true;
    ca.sqlerrd[2] = -1;
    EXPECT_EQ(capture([&](TextWriter& w) { write_row_line(w, 8, &ca, true, Typdef()); }),
              "ROW 8: SQLCA SQLCODE -204 SQLSTATE 3432373034 SQLERRPROC 53514C4E51314643 SQLERRD 0 0 -1 0 0 0 NO DATA\n")
        << "no SBC CCSID known: hex digits";
    EXPECT_EQ(capture([&](TextWriter& w) { write_row_line(w, 1, nullptr, false, known); }), "ROW 1:\n");
}

}  // namespace
