// SPDX-License-Identifier: Apache-2.0
// The summary views (-s, -j): exchanges of the real traces (failures with
// their SQLSTATE and tokens, update counts, row counts, one exchange per
// command), hand-built conversations, damaged input, bounds, and the text
// rules of shapes and JSON strings.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <regex>
#include <random>
#include <sstream>

#include "common/text_writer.h"
#include "summary/shapes.h"
#include "summary/tracker.h"
#include "summary/views.h"
#include "support/capture_builder.h"
#include "support/conversation_builder.h"
#include "support/rows_support.h"
#include "support/trace_builder.h"
#include "trace/trace_file.h"
#include "capture/capture_source.h"
#include "../fuzz/checks.h"

using namespace testsupport;
using drda::summary::Exchange;

namespace {

struct Collected {
    std::vector<Exchange> all;
    drda::summary::Totals totals;
    bool finished = false;
};

class Collect final : public drda::summary::ExchangeSink {
public:
    explicit Collect(Collected& c) : c_(c) {}
    void exchange(const Exchange& e) override { c_.all.push_back(e); }
    void finish(const drda::summary::Totals& t) override {
        c_.totals = t;
        c_.finished = true;
    }

private:
    Collected& c_;
};

// The exchanges of a whole trace file or capture, read in this process.
Collected exchanges_of_bytes(const std::string& bytes,
                             std::size_t max_waiting = drda::summary::kMaxOpenExchanges) {
    Collected c;
    std::string copy = bytes;
    std::FILE* err = std::fopen("/dev/null", "w");
    {
        drda::NullSink null;
        drda::TextWriter w(null);
        const std::string name = "input";
        Collect sink(c);
        drda::summary::ExchangeTracker tracker(sink, max_waiting);
        drda::Record rec;
        const drda::ByteView all(copy);
        if (drda::is_capture_magic(all.first(4))) {
            drda::CaptureSource source(all, name, err);
            for (bool more = source.read_header(); more;) {
                switch (source.next(rec)) {
                    case drda::CaptureSource::Next::record: tracker.feed(rec); break;
                    case drda::CaptureSource::Next::gap: tracker.gap(rec); break;
                    case drda::CaptureSource::Next::closed: tracker.closed(rec, drda::summary::ConnEnd::still_open); break;
                    case drda::CaptureSource::Next::note: break;
                    default: more = false; break;
                }
            }
        } else {
            std::FILE* in = fmemopen(copy.data(), copy.size(), "rb");
            std::uint8_t head[7];
            const std::size_t n = std::fread(head, 1, sizeof head, in);
            drda::TraceFile source(in, name, err);
            if (source.read_header(drda::ByteView(head, n)))
                while (source.next(rec) == drda::TraceFile::Next::record) tracker.feed(rec);
            std::fclose(in);
        }
        tracker.finish();
    }
    std::fclose(err);
    return c;
}
Collected exchanges_of(const std::string& trace) { return exchanges_of_bytes(read_file(data_path(trace))); }

std::string name(std::uint16_t cp) { return cp ? drda::summary::codepoint_name(cp) : "-"; }

const std::vector<std::string> kTraces = {
    "s01_connect.req.drdadbg",   "s01_connect.srv.drdadbg",  "s01_connect.names.req.drdadbg",
    "s03_types.req.drdadbg",     "s03_types.srv.drdadbg",    "s04_manyrows.req.drdadbg",
    "s04_manyrows.seg.req.drdadbg", "s06_errors.req.drdadbg", "s06_errors.srv.drdadbg",
    "s09_procedures.req.drdadbg", "s11_batch.req.drdadbg",   "s11_batch.split4096.req.drdadbg",
    "s12_metadata.req.drdadbg",
};

// --- the real traces ------------------------------------------------------------

struct Failure {
    std::string sql, sqlstate;
    std::vector<std::string> tokens;
};

TEST(SummaryRealTraces, EveryStatementThatFailedComesWithItsSqlstateAndTokens) {
    // The application errors of s06 in the order the client met them, as
    // its SQLCARDs carry them (SQLCODE -20001 each).
    const std::vector<Failure> expected = {
        {"SELEC * FROM parent", "42X01", {"Encountered \"SELEC\" at line 1, column 1", "42X01"}},
        {"SELECT * FROM no_such_table", "42X05", {"NO_SUCH_TABLE", "42X05"}},
        {"SELECT no_such_column FROM parent", "42X04", {"NO_SUCH_COLUMN", "42X04"}},
        {"INSERT INTO parent VALUES (1, 'dup')", "23505", {"SQL261208181643160", "PARENT", "23505"}},
        {"INSERT INTO parent VALUES (2, 'toolongvalue')", "22001", {"VARCHAR", "toolongvalue", "5", "22001"}},
        {"INSERT INTO parent VALUES (3, NULL)", "23502", {"NAME", "23502"}},
        {"INSERT INTO child VALUES (1, 99, 1)", "23503", {"SQL261208181643181", "CHILD", "INSERT", "(99)", "23503"}},
        {"INSERT INTO child VALUES (2, 1, -5)", "23513", {"\"APP\".\"CHILD\"", "SQL261208181643182", "23513"}},
        {"VALUES 1 / 0", "22012", {"22012"}},
        {"VALUES CAST('abc' AS INTEGER)", "22018", {"INTEGER", "22018"}},
        {"VALUES CAST(2147483647 AS INTEGER) + 1", "22003", {"INTEGER", "22003"}},
        {"DROP TABLE no_such_table", "42Y55", {"DROP TABLE", "NO_SUCH_TABLE", "42Y55"}},
        {"SELECT * FROM parent WHERE ? = ?", "42X35", {"=", "42X35"}},
        {"INSERT INTO child VALUES (?, ?, ?)", "23513", {"\"APP\".\"CHILD\"", "SQL261208181643182", "23513"}},
        {"VALUES CAST('2024-13-45' AS DATE)", "22007", {"22007.S.180"}},
        {"SELECT 10 / (3 - id) FROM (VALUES 1, 2, 3, 4) AS t(id)", "22012", {"22012"}},
    };
    for (const std::string trace : {"s06_errors.req.drdadbg", "s06_errors.srv.drdadbg"}) {
        const Collected c = exchanges_of(trace);
        std::vector<Failure> got;
        for (const Exchange& e : c.all) {
            if (!e.has_sqlca || e.sqlcode >= 0) continue;
            EXPECT_EQ(e.sqlcode, -20001) << e.sql;
            EXPECT_TRUE(e.failed());
            got.push_back({e.sql, e.sqlstate, e.tokens});
        }
        ASSERT_EQ(got.size(), expected.size()) << trace;
        for (std::size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].sql, expected[i].sql) << trace << " #" << i;
            EXPECT_EQ(got[i].sqlstate, expected[i].sqlstate) << expected[i].sql;
            EXPECT_EQ(got[i].tokens, expected[i].tokens) << expected[i].sql;
        }
    }
}

TEST(SummaryRealTraces, UpdateCountsOfStatementsThatChangeRows) {
    std::vector<std::int64_t> s04;
    for (const Exchange& e : exchanges_of("s04_manyrows.req.drdadbg").all)
        if (e.has_updated) s04.push_back(e.updated);
    EXPECT_EQ(s04, (std::vector<std::int64_t>{10, 10, 20, 40, 80, 160, 320, 640, 1280, 2560}));

    // s06: the INSERT, the UPDATE that found no row (SQLCODE +10000), the
    // DELETE; failed statements and CREATE TABLE have none.
    std::vector<std::pair<std::string, std::int64_t>> s06;
    for (const Exchange& e : exchanges_of("s06_errors.req.drdadbg").all)
        if (e.has_updated) s06.emplace_back(e.sql, e.updated);
    EXPECT_EQ(s06, (std::vector<std::pair<std::string, std::int64_t>>{
                       {"INSERT INTO parent VALUES (1, 'one')", 1},
                       {"UPDATE parent SET name = 'x' WHERE id = 12345", 0},
                       {"DELETE FROM parent WHERE id = 1", 1}}));

    // s11: two single INSERTs and an UPDATE of both rows, then 500 chained
    // EXCSQLSTT of the prepared INSERT of one row each.
    std::size_t batch = 0;
    std::vector<std::int64_t> immediate;
    for (const Exchange& e : exchanges_of("s11_batch.req.drdadbg").all) {
        if (!e.has_updated) continue;
        if (name(e.command) == "EXCSQLIMM") immediate.push_back(e.updated);
        if (e.sql == "INSERT INTO b_t VALUES (?, ?, ?)" && e.updated == 1) ++batch;
    }
    EXPECT_EQ(immediate, (std::vector<std::int64_t>{1, 1, 2}));
    EXPECT_GE(batch, 500u);
}

TEST(SummaryRealTraces, FullReadOfS04AddsUpTo5120RowsOverOpnqryAndCntqry) {
    for (const std::string trace : {"s04_manyrows.req.drdadbg", "s04_manyrows.seg.req.drdadbg"}) {
        std::uint64_t rows = 0;
        int exchanges = 0;
        for (const Exchange& e : exchanges_of(trace).all) {
            if (e.sql != "SELECT * FROM manyrows ORDER BY id" || !e.has_rows) continue;
            EXPECT_TRUE(name(e.command) == "OPNQRY" || name(e.command) == "CNTQRY") << name(e.command);
            rows += e.rows;
            ++exchanges;
        }
        EXPECT_EQ(rows, 5120u) << trace;
        EXPECT_EQ(exchanges, 10) << trace;
    }
}

// Request DSSs that begin a chain or carry another correlator than the
// request DSS before them, counted from the -f decode.
int commands_in_decode(const std::string& decoded) {
    std::istringstream in(decoded);
    std::string line, next;
    const std::regex head(R"(^\s*(SEND\(AR\)|RECV\(AS\)) (\w+)DSS )");
    const std::regex fields(R"(CORR: (\w+)\s+CHAINED: (\w))");
    int n = 0;
    bool chain_open = false;
    std::string prev;
    while (std::getline(in, line)) {
        std::smatch m, f;
        if (!std::regex_search(line, m, head)) continue;
        std::getline(in, next);
        if (!std::regex_search(next, f, fields)) continue;
        if (m[2] == "RQS" && (!chain_open || f[1] != prev)) ++n;
        prev = f[1];
        chain_open = f[2] == "y";
    }
    return n;
}

TEST(SummaryRealTraces, OneExchangePerCommandAndViewsAgree) {
    for (const std::string& trace : kTraces) {
        SCOPED_TRACE(trace);
        const std::string bytes = read_file(data_path(trace));
        const Collected c = exchanges_of_bytes(bytes);
        ASSERT_TRUE(c.finished);
        EXPECT_EQ(c.totals.unreadable_bytes, 0u);
        EXPECT_EQ(c.totals.uncounted, 0u);
        EXPECT_EQ(c.totals.exchanges, c.all.size());
        for (std::size_t i = 0; i < c.all.size(); ++i) {
            EXPECT_EQ(c.all[i].seq, i + 1);  // request order
            EXPECT_TRUE(c.all[i].has_request && c.all[i].replied()) << i;
            EXPECT_FALSE(c.all[i].has_conn);  // a trace file: one conversation
        }
        // Cut records hide DSS headers from the decode; their conversation
        // is the same as the uncut one.
        if (trace.find("split4096") == std::string::npos) {
            const InProcess f = run_in_process(bytes, true, false);
            EXPECT_EQ(commands_in_decode(f.out), static_cast<int>(c.all.size()));
            // The listing first, then the summary, whatever else is shown.
            const InProcess s = run_in_process(bytes, false, false, true);
            const InProcess fs = run_in_process(bytes, true, false, true);
            const InProcess rs = run_in_process(bytes, true, true, true);
            const InProcess r = run_in_process(bytes, true, true);
            EXPECT_EQ(fs.out, f.out + s.out);
            EXPECT_EQ(rs.out, r.out + s.out);
            EXPECT_EQ(s.status, 0);
            // One JSON line per exchange.
            const InProcess j = run_in_process(bytes, false, false, false, true);
            EXPECT_EQ(static_cast<std::size_t>(std::count(j.out.begin(), j.out.end(), '\n')), c.all.size());
        }
    }
    // Records cut anywhere, DSSs in TCP segments: the same exchanges.
    for (const auto& [cut, whole] : {std::pair{"s11_batch.split4096.req.drdadbg", "s11_batch.req.drdadbg"},
                                     std::pair{"s04_manyrows.seg.req.drdadbg", "s04_manyrows.req.drdadbg"}}) {
        const Collected a = exchanges_of(cut), b = exchanges_of(whole);
        ASSERT_EQ(a.all.size(), b.all.size()) << cut;
        for (std::size_t i = 0; i < a.all.size(); ++i) {
            EXPECT_EQ(a.all[i].command, b.all[i].command) << cut << " #" << i;
            EXPECT_EQ(a.all[i].sql, b.all[i].sql);
            EXPECT_EQ(a.all[i].rows, b.all[i].rows);
            EXPECT_EQ(a.all[i].replies, b.all[i].replies);
            EXPECT_EQ(a.all[i].bytes_out, b.all[i].bytes_out);
            EXPECT_EQ(a.all[i].bytes_in, b.all[i].bytes_in);
        }
    }
}

TEST(SummaryRealTraces, CapturesGiveTheExchangesOfTheirTracesWithConnectionsAndEnds) {
    for (const std::string name : {"s01_connect", "s04_manyrows", "s06_errors", "s11_batch"}) {
        SCOPED_TRACE(name);
        const Collected cap = exchanges_of("captures/" + name + ".pcap");
        const Collected trace = exchanges_of(name + ".req.drdadbg");
        ASSERT_EQ(cap.all.size(), trace.all.size());
        EXPECT_EQ(cap.totals.unreadable_bytes, 0u);
        std::uint32_t last_conn = 0;
        for (std::size_t i = 0; i < cap.all.size(); ++i) {
            const Exchange& a = cap.all[i];
            const Exchange& b = trace.all[i];
            EXPECT_EQ(a.command, b.command) << i;
            EXPECT_EQ(a.corr, b.corr);
            EXPECT_EQ(a.sql, b.sql);
            EXPECT_EQ(a.replies, b.replies);
            EXPECT_EQ(a.rows, b.rows);
            EXPECT_EQ(a.sqlcode, b.sqlcode);
            EXPECT_EQ(a.sqlstate, b.sqlstate);
            EXPECT_EQ(a.tokens, b.tokens);
            EXPECT_EQ(a.updated, b.updated);
            EXPECT_EQ(a.bytes_out, b.bytes_out);
            EXPECT_EQ(a.bytes_in, b.bytes_in);
            // A capture knows its connections, their ends and packet times.
            EXPECT_TRUE(a.has_conn);
            EXPECT_GE(a.conn, last_conn);
            last_conn = a.conn;
            EXPECT_NE(a.client.find("127.0.0.1:"), std::string::npos) << a.client;
            EXPECT_EQ(a.server, "127.0.0.1:1527");
            EXPECT_TRUE(a.has_time && a.has_first && a.has_last);
            EXPECT_NEAR(a.time, b.time, 0.001);
        }
    }
    // s01 holds three connections, one after another.
    const Collected s01 = exchanges_of("captures/s01_connect.pcap");
    EXPECT_EQ(s01.all.back().conn, 3u);
    const InProcess j = run_in_process(read_file(data_path("captures/s01_connect.pcap")), false, false, false, true);
    EXPECT_EQ(j.out.rfind("{\"ts\":1796753790.7", 0), 0u) << j.out.substr(0, 200);
    EXPECT_NE(j.out.find("\"conn\":1,\"client\":\"127.0.0.1:"), std::string::npos);
    EXPECT_NE(j.out.find("\"server\":\"127.0.0.1:1527\""), std::string::npos);
    const InProcess s = run_in_process(read_file(data_path("captures/s01_connect.pcap")), false, false, true);
    EXPECT_EQ(s.out.find("CONNECTION"), std::string::npos);  // the source's own lines stay out
    EXPECT_NE(s.out.find("    3 0001 EXCSAT"), std::string::npos) << s.out;
}

// --- hand-built conversations ---------------------------------------------------

const std::string kOneIntColumn = "0676D0 020004 0971E0540001D00001 0671F0E00000";

// An SQLCA (big-endian), as an SQLCARD holds it.
std::string sqlca(std::int32_t code, const std::string& state, std::uint32_t errd3 = 0, const std::string& msg = "") {
    return std::string(1, '\0') + be32(static_cast<std::uint32_t>(code)) + state + "CSS10140" + std::string(1, '\0') +
           be32(0) + be32(0) + be32(errd3) + be32(0) + be32(0) + be32(0) + std::string(11, ' ') + be16(0) +
           be16(msg.size()) + msg + be16(0) + "\xFF";
}
std::string sqlcard(std::int32_t code, const std::string& state, std::uint32_t errd3 = 0, const std::string& msg = "") {
    return obj(0x2408, sqlca(code, state, errd3, msg));
}
std::string row(std::uint32_t v) { return hex("FF00") + be32(v); }
// A row holding only an SQLCA, no data.
std::string sqlca_row(std::int32_t code, const std::string& state) { return sqlca(code, state) + "\xFF"; }

std::string excsqlimm(std::uint16_t corr, const std::string& text, bool chained = false) {
    return dss(1, corr, obj(0x200A, kPkg), true) + dss(3, corr, sqlstt(text), chained);
}

TEST(SummaryConversations, ChainedCommandsAndAFetchWithAnErrorInTheMiddle) {
    // ACCRDB and ACCRDBRM (UTF-8 announced), then
    std::vector<Record> recs = connect();
    recs.insert(recs.end(), {
        // PRPSQLSTT + SQLSTT (corr 1) chained to OPNQRY (corr 2).
        send(dss(1, 1, obj(0x200D, kPkg), true) + dss(3, 1, sqlstt("SELECT v FROM t WHERE k = 42"), true) +
             dss(1, 2, obj(0x200C, kPkg + obj(0x2114, be32(32767))))),
        recv(dss(3, 1, sqlcard(0, "00000"), true) + dss(2, 2, obj(0x2205, obj(0x1149, be16(0)) + kInsid), true) +
             dss(3, 2, obj(0x241A, hex(kOneIntColumn)), true) + dss(3, 2, obj(0x241B, row(1) + row(2)))),
        // CNTQRY: one more row, then the error, ENDQRYRM and its SQLCARD.
        send(dss(1, 1, obj(0x2006, kPkg + obj(0x2114, be32(32767)) + kInsid))),
        recv(dss(3, 1, obj(0x241B, row(3) + sqlca_row(-802, "22003")), true) +
             dss(2, 1, obj(0x220B, obj(0x1149, be16(4))), true) +
             dss(3, 1, sqlcard(-802, "22003", 0, "INTEGER\x14" "22003"))),
    });
    const Collected c = exchanges_of_bytes(make_trace(recs));
    ASSERT_EQ(c.all.size(), 4u);
    EXPECT_EQ(name(c.all[0].command), "ACCRDB");
    const Exchange& prp = c.all[1];
    const Exchange& open = c.all[2];
    const Exchange& fetch = c.all[3];
    EXPECT_EQ(name(prp.command), "PRPSQLSTT");
    EXPECT_EQ(prp.sql, "SELECT v FROM t WHERE k = 42");
    EXPECT_EQ(name(open.command), "OPNQRY");
    EXPECT_EQ(open.sql, prp.sql);  // the text prepared for its section
    EXPECT_EQ(open.corr, 2);
    EXPECT_EQ(open.rows, 2u);
    EXPECT_EQ(drda::summary::outcome_text(open), "ok");
    EXPECT_EQ((std::vector<std::string>{name(open.replies[0]), name(open.replies[1]), name(open.replies[2])}),
              (std::vector<std::string>{"OPNQRYRM", "QRYDSC", "QRYDTA"}));
    EXPECT_EQ(open.record, 3);
    EXPECT_EQ(open.reply_record, 4);

    EXPECT_EQ(name(fetch.command), "CNTQRY");
    EXPECT_EQ(fetch.sql, prp.sql);  // the text of the query it continues
    EXPECT_EQ(fetch.rows, 1u);      // the error row holds no data
    EXPECT_EQ(fetch.sqlcode, -802);
    EXPECT_EQ(fetch.sqlstate, "22003");
    EXPECT_EQ(fetch.tokens, (std::vector<std::string>{"INTEGER", "22003"}));
    EXPECT_EQ(fetch.svrcod, 4);
    EXPECT_EQ(drda::summary::outcome_text(fetch), "-802 22003");
    EXPECT_EQ(fetch.record, 5);
    EXPECT_EQ(fetch.reply_record, 6);

    const InProcess s = run_in_process(make_trace(recs), false, false, true);
    EXPECT_NE(s.out.find("    1 0001 CNTQRY"), std::string::npos) << s.out;
    EXPECT_NE(s.out.find("     2 ok               SELECT v FROM t WHERE k = 42\n"), std::string::npos) << s.out;
    EXPECT_NE(s.out.find("    3      1          3 "), std::string::npos) << s.out;  // execs, errors, rows
    EXPECT_NE(s.out.find("SELECT v FROM t WHERE k = ?\n"), std::string::npos) << s.out;
    EXPECT_NE(s.out.find("     1 -802 22003             6 \"INTEGER\" \"22003\"\n"), std::string::npos) << s.out;
}

TEST(SummaryConversations, ReplyWithoutRequestRequestWithoutReplyReusedCorrelator) {
    const std::vector<Record> recs = {
        // The trace begins after the request of this reply.
        recv(dss(3, 7, sqlcard(-104, "42601", 0, "tok"))),
        send(excsqlimm(1, "INSERT INTO t VALUES (1)")),
        recv(dss(3, 1, sqlcard(0, "00000", 3))),
        // Correlator 1 again: a new exchange.
        send(excsqlimm(1, "DELETE FROM t")),
        recv(dss(3, 1, sqlcard(0, "00000", 2))),
        // No reply to this one, and then again correlator 1, unanswered.
        send(excsqlimm(1, "UPDATE t SET v = 1")),
        send(excsqlimm(1, "UPDATE t SET v = 2")),
    };
    const Collected c = exchanges_of_bytes(make_trace(recs));
    ASSERT_EQ(c.all.size(), 5u);
    const Exchange& orphan = c.all[0];
    EXPECT_EQ(orphan.command, 0);
    EXPECT_FALSE(orphan.has_request);
    EXPECT_FALSE(orphan.has_time);
    EXPECT_EQ(orphan.corr, 7);
    EXPECT_EQ(orphan.reply_record, 1);
    EXPECT_EQ(orphan.sqlcode, -104);
    EXPECT_EQ(orphan.tokens, std::vector<std::string>{"tok"});
    EXPECT_EQ(c.all[1].sql, "INSERT INTO t VALUES (1)");
    EXPECT_EQ(c.all[1].updated, 3);
    EXPECT_EQ(c.all[1].reply_record, 3);
    EXPECT_EQ(c.all[2].sql, "DELETE FROM t");
    EXPECT_EQ(c.all[2].updated, 2);
    EXPECT_EQ(c.all[2].record, 4);
    EXPECT_EQ(c.all[2].reply_record, 5);
    for (int i : {3, 4}) {
        EXPECT_FALSE(c.all[i].replied());
        EXPECT_FALSE(c.all[i].has_updated);
        EXPECT_EQ(drda::summary::outcome_text(c.all[i]), "no reply");
    }
    EXPECT_EQ(c.all[4].sql, "UPDATE t SET v = 2");

    const InProcess j = run_in_process(make_trace(recs), false, false, false, true);
    std::istringstream lines(j.out);
    std::string first;
    std::getline(lines, first);
    EXPECT_EQ(first,
              // Without a request, the time of its first reply.
              "{\"ts\":1796748491.250000,\"conn\":null,\"client\":null,\"server\":null,\"corr\":7,\"command\":null,\"sql\":null,"
              "\"replies\":[\"SQLCARD\"],\"svrcod\":null,\"sqlcode\":-104,\"sqlstate\":\"42601\",\"tokens\":[\"tok\"],"
              "\"rows\":null,\"updated\":null,\"first_reply_ms\":null,\"last_reply_ms\":null,\"bytes_out\":0,"
              "\"bytes_in\":" + std::to_string(recs[0].buffer.size()) + ",\"record\":null,\"reply_record\":1,"
              "\"server_ms\":null,\"chain\":null,\"user\":null}");
    std::string last;
    for (std::string l; std::getline(lines, l);) last = l;
    EXPECT_NE(last.find("\"first_reply_ms\":null,\"last_reply_ms\":null"), std::string::npos) << last;
    EXPECT_NE(last.find("\"record\":7,\"reply_record\":null,\"server_ms\":null,\"chain\":4,\"user\":null}"),
              std::string::npos)
        << last;
}

// A waiting exchange holds a few reply names and record spans itself and
// the rest apart: what it hands on is the same either way, up to the caps.
TEST(SummaryConversations, LongReplyGroupsKeepEveryNameAndSpanUpToTheirCaps) {
    using drda::summary::kMaxRecordSpans;
    using drda::summary::kMaxReplyNames;
    const std::size_t replies = kMaxReplyNames + 7;
    std::vector<Record> recs = {send(excsqlimm(1, "UPDATE t SET v = 1"))};
    for (std::size_t i = 0; i < replies; ++i) {
        const bool last = i + 1 == replies;
        // Reply DSSs of one group (same correlator next), each in its own
        // record, with a request of another exchange between them.
        std::string reply = last ? dss(3, 1, sqlcard(-911, "40001", 0, "tok"))
                                 : dss(2, 1, obj(0x2218, obj(0x1149, be16(i % 2 ? 4 : 0))), true);
        if (!last) reply[3] = static_cast<char>(reply[3] | 0x10);
        recs.push_back(recv(reply));
        if (!last) recs.push_back(send(excsqlimm(static_cast<std::uint16_t>(100 + i), "SELECT 1")));
    }
    const Collected c = exchanges_of_bytes(make_trace(recs));
    ASSERT_EQ(c.all.size(), 1 + replies - 1);
    const Exchange& e = c.all[0];
    ASSERT_EQ(e.replies.size(), kMaxReplyNames);
    EXPECT_EQ(e.replies_more, replies - kMaxReplyNames);
    EXPECT_TRUE(std::all_of(e.replies.begin(), e.replies.end(), [](std::uint16_t cp) { return cp == 0x2218; }));
    EXPECT_EQ(e.svrcod, 4);
    EXPECT_EQ(e.sqlcode, -911);
    EXPECT_EQ(e.sqlstate, "40001");
    EXPECT_EQ(e.tokens, std::vector<std::string>{"tok"});
    EXPECT_EQ(e.sql, "UPDATE t SET v = 1");
    // Records 1 (request) and 2 (first reply) together, then every other
    // one, the last span reaching to the last reply.
    ASSERT_EQ(e.records.size(), kMaxRecordSpans);
    EXPECT_EQ(e.records[0], (drda::summary::RecordSpan{1, 2}));
    for (std::size_t i = 1; i + 1 < kMaxRecordSpans; ++i)
        EXPECT_EQ(e.records[i], (drda::summary::RecordSpan{static_cast<int>(2 + 2 * i), static_cast<int>(2 + 2 * i)}));
    EXPECT_EQ(e.records.back().last, static_cast<int>(recs.size()));
    // The exchanges between its replies got none, and say so.
    for (std::size_t i = 1; i < c.all.size(); ++i) EXPECT_FALSE(c.all[i].replied()) << i;
}

TEST(SummaryConversations, DamagedBytesAreCountedAndTheSummaryGoesOn) {
    std::vector<Record> recs = {
        send(excsqlimm(1, "INSERT INTO t VALUES (1)") + std::string("\x00\x07garbage", 9)),  // no DSS after the first
        recv(dss(3, 1, sqlcard(0, "00000", 1))),
        send(excsqlimm(1, "DELETE FROM t")),
        recv(dss(3, 1, sqlcard(0, "00000", 1))),
    };
    const Collected c = exchanges_of_bytes(make_trace(recs));
    ASSERT_EQ(c.all.size(), 2u);
    EXPECT_EQ(c.totals.unreadable_bytes, 9u);
    EXPECT_EQ(c.totals.unreadable_places, 1u);
    EXPECT_EQ(c.all[1].sql, "DELETE FROM t");

    const InProcess s = run_in_process(make_trace(recs), false, false, true);
    EXPECT_NE(s.out.find("\nunreadable       9 bytes in 1 places could not be read as DSSs or objects\n"),
              std::string::npos)
        << s.out;

    // A few bytes left at the end of a record that begin no DSS: they are
    // lost, the next record of the side is read on its own.
    const Collected tail = exchanges_of_bytes(make_trace({
        send(excsqlimm(1, "INSERT INTO t VALUES (1)") + "\x01\x02\x03"),
        recv(dss(3, 1, sqlcard(0, "00000", 1))),
        send(excsqlimm(1, "DELETE FROM t")),
        recv(dss(3, 1, sqlcard(0, "00000", 4))),
    }));
    ASSERT_EQ(tail.all.size(), 2u);
    EXPECT_EQ(tail.all[1].sql, "DELETE FROM t");
    EXPECT_EQ(tail.all[1].updated, 4);
    EXPECT_EQ(tail.totals.unreadable_bytes, 3u);

    // A record of a bad type ends the trace: the summary of what was read,
    // then the reason.
    Record bad = recs[2];
    bad.type = 'X';
    recs.insert(recs.begin() + 2, bad);
    const InProcess cut = run_in_process(make_trace(recs), false, false, true);
    EXPECT_EQ(cut.status, -1);
    EXPECT_NE(cut.out.find("\nexchanges        1\nfailed           0\n"), std::string::npos) << cut.out;
    EXPECT_TRUE(cut.out.ends_with("\nERROR: Invalid file format: bad type\n")) << cut.out;
    EXPECT_EQ(cut.out.find("data ZEV"), std::string::npos);
}

TEST(SummaryConversations, OpenExchangesAreBounded) {
    // Unanswered requests, each its own chain: past the cap the oldest is
    // shown before its end, and every exchange still comes in order.
    std::string buffer;
    const std::size_t limit = 2048, n = limit + 76;
    for (std::size_t i = 0; i < n; ++i) buffer += dss(1, static_cast<std::uint16_t>(i + 1), obj(0x200E, kPkg));
    const Collected c = exchanges_of_bytes(make_trace({send(buffer)}), limit);
    ASSERT_EQ(c.all.size(), n);
    EXPECT_EQ(c.totals.forced, 76u);
    for (std::size_t i = 0; i < n; ++i) EXPECT_EQ(c.all[i].corr, i + 1);
}

TEST(SummaryConversations, PastTheCapTheOldestOfAllConnectionsGoesFirst) {
    // Three connections ask in turn; the second's requests are answered
    // now and then, the others never. Past the cap each new exchange hands
    // on the oldest of all (and what waited behind it, complete, on its
    // connection); every connection's exchanges come in its order.
    struct Seen final : drda::summary::ExchangeSink {
        std::vector<Exchange> all;
        std::uint64_t forced = 0;
        void exchange(const Exchange& e) override { all.push_back(e); }
        void finish(const drda::summary::Totals& t) override { forced = t.forced; }
    } seen;
    const std::size_t limit = 7;
    std::size_t requests = 0, before_end = 0;
    {
        drda::summary::ExchangeTracker tracker(seen, limit);
        const std::string client[4] = {"", "10.0.0.1:1001", "10.0.0.1:1002", "10.0.0.1:1003"};
        int number = 0;
        std::uint16_t corr[4] = {};
        std::uint16_t answered = 0;
        const auto feed = [&](std::uint32_t conn, bool request, const std::string& dss_bytes) {
            const std::string buffer = std::string(1, '\1') + dss_bytes;  // the requester's trace
            drda::Record r;
            r.number = ++number;
            r.direction = request ? drda::kDirectionSend : drda::kDirectionReceive;
            r.data = drda::ByteView(buffer);
            r.connection = conn;
            r.client = client[conn];
            r.server = "10.0.0.2:446";
            tracker.feed(r);
        };
        for (int round = 0; round < 12; ++round) {
            for (std::uint32_t k = 1; k <= 3; ++k) {
                feed(k, true, dss(1, ++corr[k], obj(0x200E, kPkg)));
                ++requests;
            }
            // The second connection's oldest request not yet answered is,
            // now and then: its oldest moves on while it waits in the heap.
            if (round % 3 != 0) feed(2, false, dss(2, ++answered, obj(0x2218, obj(0x1149, be16(0)))));
        }
        before_end = seen.all.size();
        tracker.finish();
    }
    ASSERT_EQ(seen.all.size(), requests);
    ASSERT_GT(before_end, 0u);
    std::uint64_t forced = 0;
    std::map<std::uint32_t, std::uint64_t> last;
    std::set<std::uint64_t> shown;
    for (std::size_t i = 0; i < seen.all.size(); ++i) {
        const Exchange& e = seen.all[i];
        EXPECT_GT(e.seq, last[e.conn]) << "connection " << e.conn << " out of order at " << i;
        last[e.conn] = e.seq;
        if (i < before_end && !e.replied()) {
            // Shown before its end: nothing older was still waiting.
            ++forced;
            for (std::uint64_t older = 1; older < e.seq; ++older)
                EXPECT_TRUE(shown.count(older)) << "exchange " << e.seq << " shown before " << older;
        }
        shown.insert(e.seq);
    }
    EXPECT_EQ(forced, seen.forced);
    EXPECT_GT(forced, 10u);
}

TEST(SummaryConversations, ThousandsOfCorrelatorsOpenAtOnceEachGetTheirOwnReply) {
    // A requester that keeps 3,000 commands in flight under distinct
    // correlators, answered in order, then the same correlators again in a
    // second round: every reply goes to the request of its correlator.
    const int n = 3000;
    std::vector<Record> recs;
    for (int round = 0; round < 2; ++round) {
        std::string requests, replies;
        for (int i = 0; i < n; ++i) {
            const auto corr = static_cast<std::uint16_t>(round == 0 ? i + 1 : n - i);
            requests += excsqlimm(corr, "DELETE FROM t WHERE k = " + std::to_string(corr));
            replies += dss(3, corr, sqlcard(0, "00000", corr));
        }
        recs.push_back(send(requests));
        recs.push_back(recv(replies));
    }
    const Collected c = exchanges_of_bytes(make_trace(recs));
    ASSERT_EQ(c.all.size(), 2u * n);
    EXPECT_EQ(c.totals.forced, 0u);
    for (const Exchange& e : c.all) {
        ASSERT_TRUE(e.has_updated) << e.seq;
        EXPECT_EQ(e.updated, e.corr) << e.seq;
        EXPECT_EQ(e.sql, "DELETE FROM t WHERE k = " + std::to_string(e.corr));
    }
}

// --- text rules -------------------------------------------------------------------

TEST(SummaryText, ShapesReplaceLiteralsAndBlankRuns) {
    using drda::summary::statement_shape;
    EXPECT_EQ(statement_shape("  SELECT a1, b FROM t2   WHERE x = 'it''s'\n AND y IN (1, 2.5, -3E+4, .5)  "),
              "SELECT a1, b FROM t2 WHERE x = ? AND y IN (?, ?, -?, ?)");
    EXPECT_EQ(statement_shape("INSERT INTO \"T 1\" VALUES (X'00FF', N'x', 'a', col_9)"),
              "INSERT INTO \"T 1\" VALUES (?, ?, ?, col_9)");
    EXPECT_EQ(statement_shape("VALUES 'unterminated"), "VALUES ?");
    EXPECT_EQ(statement_shape(""), "");
}

TEST(SummaryText, ShapeTableIsBoundedAndItsPercentileIsANearestRank) {
    drda::summary::ShapeTable t;
    for (int i = 1; i <= 100; ++i) t.add("SELECT 1", false, 1, i);
    for (std::size_t i = 0; i < drda::summary::kMaxShapes + 9; ++i) t.add("SELECT c" + std::to_string(i), i % 2, 0, 1);
    EXPECT_EQ(t.size(), drda::summary::kMaxShapes);
    EXPECT_EQ(t.not_grouped(), 10u);
    const auto sorted = t.sorted();
    EXPECT_EQ(sorted[0]->shape, "SELECT ?");
    EXPECT_EQ(sorted[0]->execs, 100u);
    EXPECT_EQ(sorted[0]->p95(), 95.0);
    EXPECT_EQ(sorted[0]->max_ms, 100.0);
    EXPECT_EQ(sorted[0]->total_ms, 5050.0);
    // Past the kept samples a regular sample stays.
    drda::summary::ShapeStats s;
    for (int i = 1; i <= 10000; ++i) s.add_time(i);
    EXPECT_LE(s.samples.size(), drda::summary::kMaxSamples);
    EXPECT_NEAR(s.p95(), 9500, 20);
    // Texts seen again, also after more distinct texts than are remembered,
    // count to their shape every time.
    drda::summary::ShapeTable u;
    for (int round = 0; round < 3; ++round)
        for (int i = 0; i < 5000; ++i) u.add("SELECT " + std::to_string(i), false, 1, 1);
    ASSERT_EQ(u.size(), 1u);
    EXPECT_EQ(u.sorted()[0]->execs, 15000u);
}

std::string written(void (*f)(drda::TextWriter&, std::string_view), std::string_view in) {
    std::string out;
    {
        drda::StringSink sink(out);
        drda::TextWriter w(sink);
        f(w, in);
        w.flush();
    }
    return out;
}

TEST(SummaryText, JsonStringsAndPrintableText) {
    const auto json = [](drda::TextWriter& w, std::string_view s) { drda::summary::put_json_string(w, s); };
    const auto plain = [](drda::TextWriter& w, std::string_view s) { drda::summary::put_printable(w, s); };
    const std::string in = std::string("a\"b\\c\x01\n\t") + "\xC3\xA9" + "\xFF" + "\xE2\x82" + "\xF0\x9F\x98\x80" +
                           "\xC0\xAF" + std::string(1, '\0') + "\x7F";
    EXPECT_EQ(written(json, in),
              "\"a\\\"b\\\\c\\u0001\\u000a\\u0009\xC3\xA9\\u00ff\\u00e2\\u0082\xF0\x9F\x98\x80\\u00c0\\u00af"
              "\\u0000\\u007f\"");
    EXPECT_EQ(written(plain, in), "a\"b\\\\c\\u0001\\n\\t\\u00e9\\xff\\xe2\\x82\\U0001f600\\xc0\\xaf\\u0000\\u007f");
}

TEST(SummaryText, TheFuzzTargetsJsonReaderIsStrict) {
    const InProcess j = run_in_process(read_file(data_path("s06_errors.req.drdadbg")), false, false, false, true);
    EXPECT_EQ(fuzzcheck::check_json_lines(j.out), "");
    std::string line = j.out.substr(0, j.out.find('\n') + 1);
    const auto with = [&](const std::string& from, const std::string& to) {
        std::string l = line;
        l.replace(l.find(from), from.size(), to);
        return fuzzcheck::check_json_lines(l);
    };
    EXPECT_NE(with("\"conn\"", "\"ts\""), "");             // a duplicate key
    EXPECT_NE(with("\"conn\":null,", ""), "");               // a key missing
    EXPECT_NE(with("\"EXCSAT\"", "\"EXC\\qSAT\""), "");   // an unknown escape
    EXPECT_NE(with("\"EXCSAT\"", "\"EXC\xC3SAT\""), "");   // not UTF-8
    EXPECT_NE(with("\"EXCSAT\"", "\"EXC\tSAT\""), "");     // a raw control character
    EXPECT_NE(with("\"corr\":1", "\"corr\":01"), "");       // not a JSON number
    EXPECT_NE(with("\"corr\":1", "\"corr\":NaN"), "");
    EXPECT_NE(fuzzcheck::check_json_lines(line.substr(0, line.size() - 1)), "");  // no newline
}

}  // namespace

TEST(SummaryText, FixedPointNumbersAreThoseOfPrintf) {
    // Times and milliseconds as the views compute them, ties and values
    // near them included, against printf itself.
    std::mt19937_64 rng(20261209);
    std::vector<double> values = {0.0, -0.0, 0.5, 1.5, 2.5, 0.0005, 0.0015, 2.4725, -1.0005, 1e-7, 123456789.5,
                                  1796753803.208301, 1796753803.2083015, 9.0e15, 1e300, -3.25};
    for (int i = 0; i < 200000; ++i) {
        const double sec = 1796000000.0 + static_cast<double>(rng() % 100000000) / 1000.0;
        const double us = static_cast<double>(rng() % 1000000) / 1e6;
        values.push_back(sec + us);
        values.push_back((sec + us - sec) * 1000.0);
        values.push_back(static_cast<double>(rng() % 2000001) / 2000.0);  // halves of a thousandth
    }
    std::string got, want;
    drda::StringSink sink(got);
    drda::TextWriter w(sink);
    char b[400];
    for (double v : values) {
        for (int d : {3, 6}) {
            drda::summary::put_fixed(w, v, d);
            w.put('\n');
            std::snprintf(b, sizeof b, "%.*f\n", d, v);
            want += b;
        }
    }
    w.flush();
    EXPECT_TRUE(got == want) << "put_fixed differs from printf";
}

// --- server time, chains and pairing ------------------------------------------------

namespace {

Record at(Record r, double t) {
    r.time = t;
    return r;
}

// The -j line of the exchange at `index` (0-based) of a trace's output.
std::string json_line(const std::string& out, std::size_t index) {
    std::istringstream lines(out);
    std::string l;
    for (std::size_t i = 0; std::getline(lines, l); ++i)
        if (i == index) return l;
    return "";
}

}  // namespace

TEST(SummaryConversations, ABatchInOneChainIsChargedOnceAndPipelinedRequestsPairFirstInFirstOut) {
    const double t0 = 1796748491.0;
    // A batch of three INSERTs sent as one chain, answered 84 ms later by
    // one buffer of three SQLCARDs; then one INSERT on its own.
    std::vector<Record> recs = {
        at(send(excsqlimm(1, "INSERT INTO t VALUES (1)", true) + excsqlimm(2, "INSERT INTO t VALUES (2)", true) +
                excsqlimm(3, "INSERT INTO t VALUES (3)")),
           t0),
        at(recv(dss(3, 1, sqlcard(0, "00000", 1), true) + dss(3, 2, sqlcard(0, "00000", 1), true) +
                dss(3, 3, sqlcard(0, "00000", 1))),
           t0 + 0.084),
        at(send(excsqlimm(1, "INSERT INTO t VALUES (4)")), t0 + 1.0),
        at(recv(dss(3, 1, sqlcard(0, "00000", 1))), t0 + 1.010),
        // Two DELETEs with the same correlator before either is answered,
        // then their answers in order: each goes to its own request.
        at(send(excsqlimm(5, "DELETE FROM a")), t0 + 2.0),
        at(send(excsqlimm(5, "DELETE FROM b")), t0 + 2.001),
        at(recv(dss(3, 5, sqlcard(0, "00000", 5))), t0 + 2.010),
        at(recv(dss(3, 5, sqlcard(0, "00000", 7))), t0 + 2.020),
    };
    const Collected c = exchanges_of_bytes(make_trace(recs));
    ASSERT_EQ(c.all.size(), 6u);
    const auto ms = [](const Exchange& e) { return e.has_server ? e.server_ms : -1.0; };
    EXPECT_NEAR(ms(c.all[0]), 84.0, 1e-3);
    EXPECT_NEAR(ms(c.all[1]), 0.0, 1e-3);
    EXPECT_NEAR(ms(c.all[2]), 0.0, 1e-3);
    EXPECT_NEAR(ms(c.all[3]), 10.0, 1e-3);
    for (int i : {0, 1, 2}) EXPECT_EQ(c.all[i].chain, 1u) << i;
    EXPECT_EQ(c.all[3].chain, 2u);
    EXPECT_EQ(c.all[4].sql, "DELETE FROM a");
    EXPECT_EQ(c.all[4].updated, 5);
    EXPECT_EQ(c.all[4].reply_record, 7);
    EXPECT_NEAR(ms(c.all[4]), 10.0, 1e-3);
    EXPECT_EQ(c.all[5].sql, "DELETE FROM b");
    EXPECT_EQ(c.all[5].updated, 7);
    EXPECT_EQ(c.all[5].reply_record, 8);
    EXPECT_NEAR(ms(c.all[5]), 10.0, 1e-3);  // from the first answer on, not from its request
    EXPECT_EQ((c.all[5].records), (std::vector<drda::summary::RecordSpan>{{6, 6}, {8, 8}}));

    // The shape's total is the 94 ms the server spent, not 4 x 84 + 10.
    const InProcess s = run_in_process(make_trace(recs), false, false, true);
    EXPECT_NE(s.out.find("\n    4      0          4       94.000       23.500       84.000       84.000 "
                         "INSERT INTO t VALUES (?)\n"),
              std::string::npos)
        << s.out;
    EXPECT_NE(s.out.find("\nexchanges        6\nfailed           0\nrows read        0\nrows changed     16\n"),
              std::string::npos)
        << s.out;
    const InProcess j = run_in_process(make_trace(recs), false, false, false, true);
    EXPECT_TRUE(json_line(j.out, 1).ends_with(",\"server_ms\":0.000,\"chain\":1,\"user\":null}")) << json_line(j.out, 1);
    EXPECT_TRUE(json_line(j.out, 5).ends_with(",\"server_ms\":10.000,\"chain\":4,\"user\":null}")) << json_line(j.out, 5);
}

TEST(SummaryRealTraces, ServerTimesAddUpWithinConnectionsAndChains) {
    std::vector<std::string> inputs = kTraces;
    for (const char* c : {"s01_connect", "s03_types", "s04_manyrows", "s06_errors", "s09_procedures", "s11_batch",
                          "s12_metadata"})
        inputs.push_back(std::string("captures/") + c + ".pcap");
    for (const std::string& input : inputs) {
        SCOPED_TRACE(input);
        const Collected c = exchanges_of(input);
        // Per connection: the server times add up to no more than the time
        // from its first request to its last reply.
        std::map<std::uint32_t, std::pair<double, double>> span;  // first request, last reply
        std::map<std::uint32_t, double> total;
        std::map<std::pair<std::uint32_t, std::uint64_t>, std::pair<double, double>> chain_span;
        std::map<std::pair<std::uint32_t, std::uint64_t>, double> chain_total;
        for (const Exchange& e : c.all) {
            if (!e.has_server) continue;
            EXPECT_GE(e.server_ms, 0.0);
            EXPECT_LE(e.server_ms, (e.last_reply - e.time) * 1000.0 + 1e-6);
            auto& s = span.try_emplace(e.conn, e.time, e.last_reply).first->second;
            s.first = std::min(s.first, e.time);
            s.second = std::max(s.second, e.last_reply);
            total[e.conn] += e.server_ms;
            auto& cs = chain_span.try_emplace({e.conn, e.chain}, e.time, e.last_reply).first->second;
            cs.first = std::min(cs.first, e.time);
            cs.second = std::max(cs.second, e.last_reply);
            chain_total[{e.conn, e.chain}] += e.server_ms;
        }
        ASSERT_FALSE(total.empty());
        for (const auto& [conn, ms] : total) EXPECT_LE(ms, (span[conn].second - span[conn].first) * 1000.0 + 1e-3) << conn;
        for (const auto& [key, ms] : chain_total)
            EXPECT_LE(ms, (chain_span[key].second - chain_span[key].first) * 1000.0 + 1e-3) << key.second;
    }
    // s11's batch of 500 INSERTs in one chain: its shape costs what the
    // chain took, not 500 times that.
    const Collected b = exchanges_of("s11_batch.req.drdadbg");
    std::map<std::uint64_t, std::size_t> members;
    for (const Exchange& e : b.all) ++members[e.chain];
    const auto batch = std::max_element(members.begin(), members.end(),
                                        [](const auto& x, const auto& y) { return x.second < y.second; });
    ASSERT_GE(batch->second, 500u);
    double first = 1e300, last = 0, charged = 0;
    for (const Exchange& e : b.all) {
        if (e.chain != batch->first || !e.has_server) continue;
        first = std::min(first, e.time);
        last = std::max(last, e.last_reply);
        charged += e.server_ms;
    }
    EXPECT_LE(charged, (last - first) * 1000.0 + 1e-3);
    EXPECT_GT(charged, 0.0);
}

// --- the parts of -s and their caps ---------------------------------------------------

TEST(SummaryText, ConnectionsAndShapesPastTheirCapsAreSummedUpInOneLine) {
    // 51 connections of one exchange each and 51 shapes: the 50 with the
    // most server time are shown, the last one is summed up.
    std::string text;
    drda::StringSink sink(text);
    drda::TextWriter w(sink);
    drda::summary::TextReport report(w, false);
    for (std::uint32_t i = 1; i <= 51; ++i) {
        Exchange e;
        e.seq = i;
        e.has_conn = true;
        e.conn = i;
        e.has_request = true;
        e.command = 0x200A;
        e.record = static_cast<int>(i);
        e.reply_record = static_cast<int>(i) + 1000;
        e.has_time = e.has_first = e.has_last = true;
        e.time = 1796748491.0 + i;
        e.first_reply = e.last_reply = e.time + i / 1000.0;
        e.has_server = true;
        e.server_ms = i;  // connection 1 and table t1 are the cheapest
        e.has_sql = true;
        e.sql = "SELECT * FROM t" + std::to_string(i);
        report.exchange(e);
        drda::summary::ConnectionInfo c;
        c.has_conn = true;
        c.conn = i;
        c.client = "10.0.0.1:" + std::to_string(40000 + i);
        c.server = "10.0.0.2:50000";
        c.user = "U" + std::to_string(i);
        c.has_start = c.has_end = true;
        c.start = e.time;
        c.end = e.last_reply;
        c.how = drda::summary::ConnEnd::fin_client;
        report.connection(c);
    }
    report.finish(drda::summary::Totals());
    w.flush();
    EXPECT_NE(text.find("\nconnections      51\nexchanges        51\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nConnections: 51\n"), std::string::npos);
    EXPECT_NE(text.find("\n1 more connections: 1 exchanges, 1.000 server ms\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("10.0.0.1:40001 "), std::string::npos);  // connection 1 is left out
    EXPECT_NE(text.find("  51 10.0.0.1:40051 > 10.0.0.2:50000 U51 "), std::string::npos) << text;
    EXPECT_NE(text.find("FIN by client\n"), std::string::npos);
    EXPECT_NE(text.find("\nStatements by shape: 51\n"), std::string::npos);
    EXPECT_NE(text.find("\n1 more shapes: 1 executions, 1.000 ms\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("SELECT * FROM t1\n"), std::string::npos);
    // The ten slowest, the slowest first.
    const std::size_t slow = text.find("\nSlowest exchanges: 10\n");
    ASSERT_NE(slow, std::string::npos);
    EXPECT_LT(text.find("SELECT * FROM t51\n", slow), text.find("SELECT * FROM t42\n", slow));
    const std::string slowest = text.substr(slow, text.find("\nStatements by shape", slow) - slow);
    EXPECT_EQ(slowest.find("SELECT * FROM t41\n"), std::string::npos) << slowest;
    EXPECT_NE(slowest.find("SELECT * FROM t42\n"), std::string::npos) << slowest;
    // Lines of a connection table are aligned: every line as long as the
    // heading up to its last column.
    const std::size_t head = text.find("conn client > server");
    const std::size_t ended = text.find(" ended\n", head);
    const std::size_t width = ended - head;
    for (std::size_t p = text.find('\n', head) + 1; text.compare(p, 2, "  ") == 0; p = text.find('\n', p) + 1)
        EXPECT_EQ(text.substr(p, text.find('\n', p) - p).rfind(" FIN by client"), width) << text.substr(p, 80);
}

TEST(SummaryText, TheSummaryStaysSmallWhateverTheInput) {
    // A capture of 100,000 exchanges on 500 connections at once, each of its
    // own shape, with 300 kinds of error: without -x the summary is a few
    // hundred lines.
    constexpr int kConns = 500, kRounds = 200;
    std::vector<Frame> frames;
    frames.reserve(2 * kConns * kRounds);
    std::vector<std::uint32_t> cseq(kConns, 1000), sseq(kConns, 500000);
    for (int round = 0; round < kRounds; ++round) {
        for (int c = 0; c < kConns; ++c) {
            const int i = round * kConns + c;
            const auto corr = static_cast<std::uint16_t>(1 + round);
            Tcp req;
            req.sport = static_cast<std::uint16_t>(20000 + c);
            req.seq = cseq[c];
            req.ack = sseq[c];
            req.payload = excsqlimm(corr, "INSERT INTO t" + std::to_string(i) + " VALUES (1)");
            cseq[c] += static_cast<std::uint32_t>(req.payload.size());
            Tcp rep;
            std::swap(rep.src, rep.dst);
            rep.sport = 1527;
            rep.dport = req.sport;
            rep.seq = sseq[c];
            rep.ack = cseq[c];
            rep.payload = dss(3, corr, i % 3 ? sqlcard(0, "00000", 1)
                                             : sqlcard(-100 - i / 3 % 300, "4" + std::to_string(1000 + i / 3 % 300)));
            sseq[c] += static_cast<std::uint32_t>(rep.payload.size());
            for (const Tcp* t : {&req, &rep}) {
                Frame f;
                f.bytes = ethernet(ip_packet(*t));
                f.sec = 1796753790 + static_cast<std::uint32_t>(i / 10000);
                f.frac = static_cast<std::uint32_t>(i % 10000) * 100 + (t == &rep ? 50 : 0);
                frames.push_back(std::move(f));
            }
        }
    }
    const InProcess s = run_in_process(pcap_file(frames), false, false, true);
    ASSERT_EQ(s.status, 0);
    // (run_in_process shows the exchange lines too: count past them.)
    const std::string summary = s.out.substr(s.out.find("\nOverview\n"));
    const auto lines = std::count(summary.begin(), summary.end(), '\n');
    EXPECT_LT(lines, 400) << summary.substr(0, 2000);
    EXPECT_LT(summary.size(), std::size_t{96} << 10);
    EXPECT_NE(summary.find("\nconnections      500\nexchanges        100000\nfailed           33334\n"), std::string::npos)
        << summary.substr(0, 1000);
    EXPECT_NE(summary.find("\nConnections: 500\n"), std::string::npos);
    EXPECT_NE(summary.find("\n450 more connections: 90000 exchanges, "), std::string::npos);
    EXPECT_NE(summary.find("\nErrors: 256\n"), std::string::npos);
    EXPECT_NE(summary.find("\nSlowest exchanges: 10\n"), std::string::npos);
    EXPECT_NE(summary.find("\nStatements by shape: 512\n"), std::string::npos);
    EXPECT_NE(summary.find("\n462 more shapes: 462 executions, "), std::string::npos) << summary.substr(summary.size() - 600);
    EXPECT_NE(summary.find("\n99488 executions of further shapes not grouped (at most 512 shapes)\n"), std::string::npos);
    EXPECT_EQ(summary.find("shown early"), std::string::npos);
}

TEST(SummaryRealTraces, ACaptureCutBySnapLengthSaysSoOnce) {
    // s06's packets cut to 120 bytes as a capture with a short snap length
    // holds them: most of the DRDA data is missing, and the overview says
    // why in one line.
    std::string file = read_file(data_path("captures/s06_errors.pcap"));
    std::string cut = file.substr(0, 24);
    cut[16] = 120, cut[17] = cut[18] = cut[19] = 0;
    std::size_t packets = 0, shortened = 0;
    for (std::size_t p = 24; p + 16 <= file.size(); ++packets) {
        const auto u32 = [&](std::size_t at) {
            return static_cast<std::uint32_t>(static_cast<unsigned char>(file[at])) |
                   static_cast<std::uint32_t>(static_cast<unsigned char>(file[at + 1])) << 8 |
                   static_cast<std::uint32_t>(static_cast<unsigned char>(file[at + 2])) << 16 |
                   static_cast<std::uint32_t>(static_cast<unsigned char>(file[at + 3])) << 24;
        };
        const std::uint32_t caplen = u32(p + 8);
        const std::uint32_t keep = caplen < 120 ? caplen : 120;
        if (keep < caplen) ++shortened;
        std::string header = file.substr(p, 16);
        header[8] = static_cast<char>(keep);
        header[9] = header[10] = header[11] = 0;
        cut += header + file.substr(p + 16, keep);
        p += 16 + caplen;
    }
    ASSERT_GT(shortened, 10u);
    const InProcess s = run_in_process(cut, false, false, true);
    EXPECT_EQ(s.status, 0);
    const std::string note = "\nsnap length      the packets were cut to 120 bytes when captured (" +
                             std::to_string(shortened) + " of " + std::to_string(packets) +
                             " packets), so most of the DRDA data is not in the file; capture whole packets (-s 0)\n";
    EXPECT_NE(s.out.find(note), std::string::npos) << s.out.substr(s.out.find("Overview"), 1200);
    EXPECT_EQ(s.out.find("snap length", s.out.find(note) + note.size()), std::string::npos);
    EXPECT_NE(s.out.find("\nbytes missing    "), std::string::npos);
    // The whole capture says nothing of the kind.
    const InProcess whole = run_in_process(file, false, false, true);
    EXPECT_EQ(whole.out.find("snap length"), std::string::npos);
    EXPECT_EQ(whole.out.find("bytes missing"), std::string::npos);
}

TEST(SummaryRealTraces, ConnectionFactsAreThoseTheTrafficCarries) {
    // For every shared capture, each connection line of -s holds the user,
    // database, products, security mechanism, start and end that the -f
    // decode of the same capture shows for that connection.
    const std::map<std::string, std::string> secmec_names = {{"(3)", "USRIDPWD"}, {"(4)", "USRIDONL"}, {"(9)", "EUSRIDPWD"}};
    for (const char* name : {"s01_connect", "s03_types", "s04_manyrows", "s06_errors", "s09_procedures", "s11_batch",
                             "s12_metadata"}) {
        SCOPED_TRACE(name);
        const std::string file = read_file(data_path(std::string("captures/") + name + ".pcap"));
        const std::string decoded = run_in_process(file, true, false).out;
        const std::string summary = run_in_process(file, false, false, true).out;
        // The decode per connection: its records' text, its end, its times.
        struct Seen {
            std::string text, ended, first_time, client_server;
            std::set<std::string> values[4];  // USRID, RDBNAM, SRVRLSLV, SECMEC
        };
        std::map<std::string, Seen> conns;
        std::istringstream in(decoded);
        std::string line, current, field;
        const std::regex record(R"(^\d+\tconnection (\d+)  (\S+) [<>] (\S+)$)");
        const std::regex closed(R"(^CONNECTION (\d+): closed by the (client|server) \((FIN|RST)\)$)");
        std::smatch m;
        while (std::getline(in, line)) {
            if (std::regex_match(line, m, record)) {
                current = m[1];
                conns[current].client_server = m[2].str() + " > " + m[3].str();
                field.clear();
            } else if (std::regex_match(line, m, closed)) {
                conns[m[1]].ended = m[3].str() + " by " + m[2].str();
            } else if (line.rfind("\ttime  ", 0) == 0 && !current.empty()) {
                if (conns[current].first_time.empty()) conns[current].first_time = line.substr(7);
            } else if (line.find("NM: ") != std::string::npos) {
                field = line.substr(line.find("NM: ") + 4, line.find(' ', line.find("NM: ") + 4) - line.find("NM: ") - 4);
            } else if (!current.empty() && !field.empty()) {
                const std::size_t a = line.find("ASCII: "), e = line.find("EBCDIC: ");
                const std::string v = a != std::string::npos ? line.substr(a + 7)
                                      : e != std::string::npos ? line.substr(e + 8) : "";
                const int k = field == "USRID" ? 0 : field == "RDBNAM" ? 1 : field == "SRVRLSLV" ? 2 : field == "SECMEC" ? 3 : -1;
                std::string t = v;
                while (!t.empty() && t.back() == ' ') t.pop_back();  // names are padded with blanks
                if (k == 3 && line.find("(") != std::string::npos) conns[current].values[3].insert(line.substr(line.rfind('(')));
                else if (k >= 0 && !t.empty()) conns[current].values[k].insert(t.substr(0, 40));
            }
        }
        ASSERT_FALSE(conns.empty());
        for (const auto& [number, seen] : conns) {
            SCOPED_TRACE("connection " + number);
            const std::string head = std::string(4 - std::min<std::size_t>(4, number.size()), ' ') + number + " " +
                                     seen.client_server + " ";
            const std::size_t at = summary.find("\n" + head);
            ASSERT_NE(at, std::string::npos) << head << "\n" << summary;
            const std::string row = summary.substr(at + 1, summary.find('\n', at + 1) - at - 1);
            // Every fact shown is one the decode shows for the connection.
            std::istringstream cells(row.substr(head.size()));
            std::string user, database;
            cells >> user >> database;
            // (A long value wraps in the decode: its first 40 characters.)
            EXPECT_TRUE(seen.values[0].count(user.substr(0, 40))) << row;
            EXPECT_TRUE(seen.values[1].count(database.substr(0, 40))) << row;
            int products = 0;
            for (const std::string& level : seen.values[2]) products += row.find(" " + level + " ") != std::string::npos;
            EXPECT_EQ(products, 2) << row;  // the client's and the server's
            ASSERT_EQ(seen.values[3].size(), 1u);
            EXPECT_NE(row.find(" " + secmec_names.at(*seen.values[3].begin()) + " "), std::string::npos) << row;
            EXPECT_NE(row.find(" " + seen.first_time), std::string::npos) << row;
            EXPECT_TRUE(row.ends_with(" " + seen.ended)) << row;
        }
    }
}
