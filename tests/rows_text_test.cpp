// SPDX-License-Identifier: Apache-2.0
// ROW and COL lines: the forms that the real traces do not show, and the
// fast COL lines held to the long way on random columns and values.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "ddm/rows/column_lines.h"
#include "ddm/rows/row_text.h"
#include "support/capture.h"
#include "support/trace_builder.h"

using namespace drda;
using namespace drda::rows;
using testsupport::capture;
using testsupport::Rig;
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

namespace {

// A value for column c: mostly what its type holds (plain text, digits of
// packed decimals, integers of the right width), sometimes anything.
std::string random_value(std::mt19937& rng, const Column& c) {
    std::size_t n = rng() % 40;
    if (c.layout == Layout::kPacked && rng() % 4 != 0) n = static_cast<std::size_t>((c.length >> 8) / 2 + 1);
    if (const TypeRow* t = find_type(c.drda); t && t->form == Form::kInteger && rng() % 4 != 0) {
        const std::size_t widths[] = {1, 2, 4, 8};
        n = widths[rng() % 4];
    }
    std::string v(n, '\0');
    const unsigned kind = rng() % 4;
    for (char& ch : v) {
        switch (kind) {
            case 0: ch = static_cast<char>(0x20 + rng() % 95); break;                 // printable ASCII
            case 1: ch = static_cast<char>((rng() % 10) << 4 | (rng() % 10)); break;  // decimal nibbles
            case 2: ch = "AZaz09 ~\"\\"[rng() % 10]; break;                           // edges of plain
            default: ch = static_cast<char>(rng()); break;
        }
    }
    if (kind == 1 && !v.empty()) v.back() = static_cast<char>((v.back() & 0xF0) | (rng() % 2 ? 0x0C : 0x0D));
    return v;
}

}  // namespace

// The labels kept per column and the values formatted behind them give, row
// after row, exactly the text of the indentation and write_column_line: for
// every type of the table, random lengths, names, depths, TYPDEFs, values
// (plain, escaped, cut, null, too long for the line) and late CCSIDs.
TEST(ColumnLines, SameAsTheLongWayOnRandomColumns) {
    std::mt19937 rng(2024);
    const auto types = type_table();
    Typdef tds[4];
    tds[1].sbc = 1208, tds[1].dbc = 1200, tds[1].mbc = 1208;
    tds[2].sbc = 37, tds[2].mbc = 1208;
    tds[3].little = true, tds[3].sbc = 819, tds[3].mbc = 1208;
    Rig fast, slow;
    std::size_t lines = 0, fast_forms = 0;
    for (int round = 0; round < 400; ++round) {
        const Typdef& td = tds[rng() % 4];
        const int depth = static_cast<int>(rng() % 48) - 2;
        Descriptor d;
        d.ccsids = {1208, 37, 1200};
        const std::size_t ncols = 1 + rng() % 80;  // past the columns whose labels are kept
        for (std::size_t i = 0; i < ncols; ++i) {
            const TypeRow& t = types[rng() % types.size()];
            std::uint16_t length = static_cast<std::uint16_t>(rng() % 100);
            if (t.layout == Layout::kPacked || t.layout == Layout::kDigits) {
                const unsigned p = 1 + rng() % 31;
                length = static_cast<std::uint16_t>(p << 8 | (rng() % (p + 3)));
            }
            if (t.layout == Layout::kLob) length = static_cast<std::uint16_t>(0x8000 | (2 * (rng() % 5)));
            Column c = table_column(static_cast<std::uint8_t>(t.code | (rng() % 2)), length);
            if (rng() % 10 == 0) c.flags |= kOutovr;
            if (t.form == Form::kChars && rng() % 4 == 0) c.ccsid_ref = static_cast<std::uint16_t>(1 + rng() % 4);
            if (rng() % 40 == 0) c.drda = 0x53;  // a type the table does not know
            d.columns.push_back(c);
        }
        std::vector<std::string> names;
        const bool named = rng() % 2 == 0;
        for (std::size_t i = 0; named && i < ncols; ++i)
            names.push_back(rng() % 8 == 0 ? std::string(rng() % 120, 'N') : "C" + std::to_string(rng() % 1000));
        auto cache = std::make_unique<ColumnLines>();
        for (int row = 0; row < 3; ++row) {
            for (std::size_t i = 0; i < ncols; ++i) {
                const Column& c = d.columns[i];
                const std::string bytes = random_value(rng, c);
                ColumnValue v;
                v.number = i + 1;
                v.null = c.nullable() && rng() % 6 == 0;
                v.indicator = v.null ? static_cast<std::uint8_t>(rng() % 2 ? 0xFF : 0x80 + rng() % 0x7F) : 0;
                v.bytes = ByteView(bytes);
                v.total = bytes.size() + (rng() % 8 == 0 ? rng() % 3000 : 0);
                const std::vector<std::string>* list = named ? &names : nullptr;
                const std::string name = named ? names[i] : std::string();
                bool got_lob = false, want_lob = false;
                const std::string got = fast.run([&](TextWriter& w) { got_lob = cache->write(w, depth, c, v, td, &d, list); });
                const std::string want = slow.run([&](TextWriter& w) {
                    w.spaces(depth);
                    want_lob = write_column_line(w, depth, c, v, td, &d, name);
                });
                ASSERT_EQ(got, want) << "round " << round << " row " << row << " column " << i + 1;
                ASSERT_EQ(got_lob, want_lob) << "round " << round << " column " << i + 1;
                ++lines;
                fast_forms += got.find('\n') + 1 == got.size();
            }
        }
    }
    EXPECT_GT(lines, 40000u);
    EXPECT_GT(fast_forms, lines / 2);  // most lines stayed one line
}
