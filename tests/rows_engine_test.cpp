// SPDX-License-Identifier: Apache-2.0
// The row cursor: events for real and hand-built row streams, the same
// events however the stream is cut into pieces, and the stops.
#include <gtest/gtest.h>

#include "ddm/rows/descriptor.h"
#include "ddm/rows/row_engine.h"
#include "support/rows_support.h"
#include "support/trace_builder.h"

using namespace drda;
using namespace drda::rows;
using testsupport::hex;

namespace {

// Events as text: one line each; column values as hex with their length.
class Recorder final : public RowEvents {
public:
    std::string log;
    bool row_begin_seen = false;

    void row_begin(std::uint64_t row, const Sqlca* ca, bool no_data) override {
        log += "row " + std::to_string(row);
        if (ca) {
            log += " sqlcode " + std::to_string(ca->sqlcode) + " state " +
                   std::string(reinterpret_cast<const char*>(ca->sqlstate), 5);
            if (ca->has_errd)
                for (std::int32_t e : ca->sqlerrd) log += " " + std::to_string(e);
        }
        if (no_data) log += " no data";
        log += "\n";
    }
    void column(std::uint64_t, const Column&, const ColumnValue& v) override {
        log += " col " + std::to_string(v.number) + ":";
        if (v.null) {
            char b[16];
            std::snprintf(b, sizeof b, " null %02X", v.indicator);
            log += b;
        } else {
            // What a split keeps of a long value: its first kKeep bytes.
            for (std::size_t i = 0; i < v.bytes.size() && i < kKeep; ++i) {
                char b[3];
                std::snprintf(b, sizeof b, "%02X", v.bytes.u8(i));
                log += b;
            }
            log += " (" + std::to_string(v.total) + ")";
        }
        log += "\n";
    }
    void row_end(std::uint64_t row) override { log += "end " + std::to_string(row) + "\n"; }
    void stop(std::uint64_t row, std::string_view reason, std::size_t at) override {
        log += "stop " + std::to_string(row) + ": " + std::string(reason) + " at " + std::to_string(at) + "\n";
    }
};

Descriptor desc(const std::string& hexbytes) {
    DescriptorBuilder b;
    const std::string bytes = hex(hexbytes);
    b.add(ByteView(bytes));
    EXPECT_TRUE(b.complete()) << b.error();
    return b.take();
}

std::string feed_pieces(const Descriptor& d, const std::string& stream, const std::vector<std::size_t>& cuts,
                        bool little = false, int sqlam = 7) {
    RowEngine e;
    Recorder r;
    e.start(&d, little, sqlam);
    std::size_t at = 0;
    for (std::size_t cut : cuts) {
        e.feed(ByteView(reinterpret_cast<const std::uint8_t*>(stream.data()) + at, cut - at), r);
        at = cut;
    }
    e.feed(ByteView(reinterpret_cast<const std::uint8_t*>(stream.data()) + at, stream.size() - at), r);
    if (e.mid_row()) r.log += "mid row " + std::to_string(e.row()) + " col " + std::to_string(e.column_in_progress()) + "\n";
    return r.log;
}

std::string feed(const Descriptor& d, const std::string& stream, bool little = false, int sqlam = 7) {
    return feed_pieces(d, stream, {}, little, sqlam);
}

// The same events fed whole, in two pieces cut at every offset, and in
// pieces of every size up to `max_piece`.
void expect_split_invariant(const Descriptor& d, const std::string& stream, std::size_t every_offset_limit,
                            std::size_t max_piece) {
    const std::string whole = feed(d, stream);
    ASSERT_FALSE(whole.empty());
    const std::size_t n = std::min(stream.size(), every_offset_limit);
    const std::string prefix = stream.substr(0, n);
    const std::string whole_prefix = feed(d, prefix);
    for (std::size_t cut = 0; cut <= n; ++cut) {
        ASSERT_EQ(feed_pieces(d, prefix, {cut}), whole_prefix) << "cut at " << cut;
    }
    for (std::size_t size = 1; size <= max_piece; ++size) {
        std::vector<std::size_t> cuts;
        for (std::size_t at = size; at < stream.size(); at += size) cuts.push_back(at);
        ASSERT_EQ(feed_pieces(d, stream, cuts), whole) << "pieces of " << size;
    }
}

struct TraceObjects {
    std::vector<testsupport::Record> records;
    explicit TraceObjects(const std::string& file)
        : records(testsupport::parse_trace(testsupport::read_file(testsupport::data_path(file)))) {}
    explicit TraceObjects(const std::string& dir, const std::string& file)
        : records(testsupport::parse_trace(testsupport::read_file(dir + "/" + file))) {}
    // The value of the first object of DSS `dss` (from 1) of record `rec` (from 1).
    std::string value(int rec, int dss) const {
        const std::string& b = records.at(static_cast<std::size_t>(rec - 1)).buffer;
        return testsupport::first_value(b, testsupport::dss_spans(b).at(static_cast<std::size_t>(dss - 1)));
    }
};

Descriptor from(const std::string& bytes) {
    DescriptorBuilder b;
    b.add(ByteView(bytes));
    EXPECT_TRUE(b.complete()) << b.error();
    return b.take();
}

std::string source_examples() { return std::string(DSSVIEW_SOURCE_DIR) + "/examples"; }

TEST(RowEngine, RealAnswerSetWithOutovrAndEndOfData) {
    TraceObjects t(source_examples(), "s03_types.req.drdadbg");
    const Descriptor d = apply_override(from(t.value(18, 3)), from(t.value(19, 2)));
    std::string stream;
    for (int rec : {20, 30, 36, 38, 44}) stream += t.value(rec, 1);
    const std::string log = feed(d, stream);
    // Row 1 begins with an INTEGER and a SMALLINT; row 5 is the end of data.
    EXPECT_EQ(log.substr(0, 42), "row 1\n col 1:00000001 (4)\n col 2:002A (2)\n");
    EXPECT_NE(log.find("row 5 sqlcode 100 state 02000 0 4 0 0 0 0 no data\nend 5\n"), std::string::npos) << log;
    EXPECT_NE(log.find(" col 20:00000001 (4)\n col 21:00000002 (4)\nend 1\n"), std::string::npos)
        << "locators of 4 bytes, set by the OUTOVR";
    EXPECT_NE(log.find(" col 20: null FF\n col 21: null FF\nend 3\n"), std::string::npos);
    expect_split_invariant(d, stream, stream.size(), 64);
}

TEST(RowEngine, RealStreamsSplitAnywhere) {
    {
        TraceObjects t("s04_manyrows.req.drdadbg");
        const Descriptor d = from(t.value(28, 3));
        const std::string stream = t.value(28, 4) + t.value(30, 1);
        const std::string log = feed(d, stream);
        EXPECT_NE(log.find("end 1038\n"), std::string::npos);
        EXPECT_EQ(log.find("mid row"), std::string::npos);
        expect_split_invariant(d, stream, 1500, 40);
    }
    {
        TraceObjects t("s12_metadata.req.drdadbg");
        const Descriptor d = from(t.value(14, 6));
        ASSERT_EQ(d.columns.size(), 107u);
        const std::string stream = t.value(14, 7);
        EXPECT_NE(feed(d, stream).find("row 2 sqlcode 100"), std::string::npos);
        expect_split_invariant(d, stream, stream.size(), 16);
    }
    {
        TraceObjects t("s09_procedures.req.drdadbg");
        const Descriptor d = from(t.value(42, 10));
        const std::string stream = t.value(42, 11);
        EXPECT_EQ(feed(d, stream),
                  "row 1\n col 1:00000005 (4)\n col 2:0000000F (4)\n col 3:73756D6D617279206F662033 (12)\nend 1\n"
                  "row 2 sqlcode 100 state 02000 0 4 0 0 0 0 no data\nend 2\n");
        expect_split_invariant(d, stream, stream.size(), 16);
    }
}

TEST(RowEngine, LongFieldsKeepTheirFirstBytesAcrossPieces) {
    // A 2000-byte VARCHAR cut in two: the first kKeep bytes are kept, the
    // length counts all of it.
    const Descriptor d = desc("0676D0327FFF 0671E4D00001");
    const std::string value(2000, 'x');
    const std::string stream = hex("00 07D0") + value;
    RowEngine e;
    struct Catch final : RowEvents {
        std::size_t shown = 0, total = 0;
        void row_begin(std::uint64_t, const Sqlca*, bool) override {}
        void column(std::uint64_t, const Column&, const ColumnValue& v) override {
            shown = v.bytes.size();
            total = v.total;
        }
        void stop(std::uint64_t, std::string_view, std::size_t) override {}
    } c;
    e.start(&d, false, 7);
    e.feed(ByteView(stream).first(100), c);
    e.feed(ByteView(stream).sub(100), c);
    EXPECT_EQ(c.shown, kKeep);
    EXPECT_EQ(c.total, 2000u);
}

TEST(RowEngine, ByteOrderAppliesToNumbersNotLengths) {
    // QTDSQLX86: integers little-endian, the VARCHAR's length big-endian.
    const Descriptor d = desc("0C76D0 020004 040002 320010 0971E0540001D00001 0671F0E00000");
    const std::string stream = hex(
        "00 85FFFFFF 3032303030 4353533130313430 00 01000000 02000000 03000000 04000000 05000000 06000000"
        "2020202020202020202020 0000 0000 0000 FF"
        "00 39300000 FFFF 0003 616263");
    EXPECT_EQ(feed(d, stream, true),
              "row 1 sqlcode -123 state 02000 1 2 3 4 5 6\n col 1:39300000 (4)\n col 2:FFFF (2)\n"
              " col 3:616263 (3)\nend 1\n");
}

TEST(RowEngine, GraphicLengthsCountCharacters) {
    // VARGRAPHIC: 2-byte length in characters; GRAPHIC(2) by its length word.
    const Descriptor d = desc("0976D0 390010 370002 0671E4D00001");
    const std::string stream = hex("00 00 0002 00410042 00 00430044");
    EXPECT_EQ(feed(d, stream), "row 1\n col 1:00410042 (4)\n col 2:00430044 (4)\nend 1\n");
}

TEST(RowEngine, OneByteLengthsAndNullIndicators) {
    // PASCAL CHAR, then three nullable INTEGERs: indicator 80 is null, 7F
    // (like 00) is a value.
    const Descriptor d = desc("0F76D0 460000 030004 030004 030004 0671E4D00001");
    const std::string stream = hex("00 03 616263 80 7F 00000007 FF");
    EXPECT_EQ(feed(d, stream), "row 1\n col 1:616263 (3)\n col 2: null 80\n col 3:00000007 (4)\n col 4: null FF\nend 1\n");
}

TEST(RowEngine, SqlcaLayoutsBySqlamLevel) {
    const Descriptor d = desc("0676D0030004 0971E0540001D00001 0671F0E00000");
    // SQLAM 7: SQLRDBNAME and the two message texts with their lengths,
    // then SQLDIAGGRP.
    const std::string seven = hex(
        "00 FFFFFC18 3432583035 53514C3132333435 00 00000000 00000002 00000000 00000000 00000000 00000000"
        "2020202020202020202020 0003 524442 0002 6D31 0001 73 FF 00 00 00000009");
    EXPECT_EQ(feed(d, seven), "row 1 sqlcode -1000 state 42X05 0 2 0 0 0 0\n col 1:00000009 (4)\nend 1\n");
    // SQLAM 6: an 18-byte SQLRDBNME first, no SQLRDBNAME, no SQLDIAGGRP.
    const std::string six = hex(
        "00 00000064 3032303030 4353533130313430 00 404040404040404040404040404040404040 "
        "00000000 00000005 00000000 00000000 00000000 00000000 2020202020202020202020 0000 0000 FF");
    EXPECT_EQ(feed(d, six, false, 6), "row 1 sqlcode 100 state 02000 0 5 0 0 0 0 no data\nend 1\n");
}

TEST(RowEngine, StopsWhereDataContradictsTheDescriptor) {
    EXPECT_EQ(feed(desc("0676D0030004 0671E4D00001"), hex("05")), "stop 1: data group indicator 05 at 1\n");
    EXPECT_EQ(feed(desc("0976D0030004520004 0671E4D00001"), hex("00 00 00000001 00 00000000")),
              "row 1\n col 1:00000001 (4)\nstop 1: column 2: no layout for type 52 at 6\n");
    EXPECT_EQ(feed(desc("0676D00F0002 0671E4D00001"), hex("00 00 1C")),
              "row 1\nstop 1: column 1: DECIMAL precision 0 at 2\n");
    EXPECT_EQ(feed(desc("0676D00F4002 0671E4D00001"), hex("00 00 1C")),
              "row 1\nstop 1: column 1: DECIMAL precision 64 at 2\n");
    EXPECT_EQ(feed(desc("0676D0C98003 0671E4D00001"), hex("00 00 000001")),
              "row 1\nstop 1: column 1: LOB length field 8003 at 2\n");
    EXPECT_EQ(feed(desc("0676D0030004 0971E0540001D00001 0671F0E00000"),
                   hex("00 00000000 3030303030 2020202020202020 FF 00")),
              "stop 1: SQLDIAGGRP present at 20\n");
    // A null column of a type with no layout needs none.
    EXPECT_EQ(feed(desc("0676D0530004 0671E4D00001"), hex("00 FF")), "row 1\n col 1: null FF\nend 1\n");
}

TEST(RowEngine, LobPlaceholdersAndDecimalSizes) {
    const Descriptor d = desc("0F76D0 C98004 C98000 0F0F04 0F0500 0671E4D00001");
    EXPECT_EQ(feed(d, hex("00 00 00000BB8 00 00 123456789012345C 00 12345C")),
              "row 1\n col 1:00000BB8 (4)\n col 2: (0)\n col 3:123456789012345C (8)\n col 4:12345C (3)\nend 1\n");
}

TEST(RowEngine, RowNumbersRunAcrossObjectsAndReportTheColumnInProgress) {
    const Descriptor d = desc("0976D0 030004 330010 0971E0540001D00001 0671F0E00000");
    RowEngine e;
    Recorder r;
    e.start(&d, false, 7);
    const std::string a = hex("FF00 00 00000001 00 00");
    e.begin_object();
    e.feed(ByteView(a), r);
    EXPECT_TRUE(e.mid_row());
    EXPECT_EQ(e.row(), 1u);
    EXPECT_EQ(e.column_in_progress(), 2u);
    const std::string b = hex("02 6869 FF");
    e.begin_object();
    e.feed(ByteView(b), r);
    EXPECT_EQ(e.row(), 2u);
    EXPECT_EQ(e.column_in_progress(), 0u) << "the SQLCA of row 2 is incomplete";
    EXPECT_EQ(r.log, "row 1\n col 1:00000001 (4)\n col 2:6869 (2)\nend 1\n");
}

}  // namespace
