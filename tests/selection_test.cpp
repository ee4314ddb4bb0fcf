// SPDX-License-Identifier: Apache-2.0
// Selections on hand-built traces and captures: each case checks the selected output
// against the blocks of the whole output it must consist of.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "support/capture_builder.h"
#include "support/conversation_builder.h"
#include "support/trace_builder.h"

using namespace testsupport;

namespace {

// An SQLCARD (big-endian SQLCA).
std::string sqlcard(std::int32_t code, const std::string& state, std::uint32_t errd3 = 0, const std::string& msg = "") {
    return obj(0x2408, std::string(1, '\0') + be32(static_cast<std::uint32_t>(code)) + state + "CSS10140" +
                           std::string(1, '\0') + be32(0) + be32(0) + be32(errd3) + be32(0) + be32(0) + be32(0) +
                           std::string(11, ' ') + be16(0) + be16(msg.size()) + msg + be16(0) + "\xFF");
}

// The file header and the record blocks of a trace's output, by number.
struct Blocks {
    std::string header;
    std::vector<std::string> records;  // [0]: record 1
};

Blocks split(const std::string& out) {
    Blocks b;
    static const std::regex start("(^|\n)([0-9]+)\tdata ZEV");
    std::vector<std::size_t> at;
    for (auto it = std::sregex_iterator(out.begin(), out.end(), start); it != std::sregex_iterator(); ++it)
        at.push_back(static_cast<std::size_t>(it->position(0)) + (it->str(1).empty() ? 0 : 1));
    b.header = out.substr(0, at.empty() ? out.size() : at[0]);
    for (std::size_t i = 0; i < at.size(); ++i)
        b.records.push_back(out.substr(at[i], (i + 1 < at.size() ? at[i + 1] : out.size()) - at[i]));
    return b;
}

std::string only(const Blocks& b, std::initializer_list<int> numbers) {
    std::string s = b.header;
    for (int n : numbers) s += b.records.at(static_cast<std::size_t>(n - 1));
    return s;
}

RunResult run_on(const std::string& trace, std::vector<std::string> args) {
    const std::string path = temp_path("selection.drdadbg");
    write_file(path, trace);
    args.push_back(path);
    return run_dssview(args);
}

// connect (records 1, 2); a prepare chained to an open that fails
// (3: the chain, 4: the replies); a statement whose reply is split over
// records 6 and 7 (the SQLCARD's DSS cut in the middle); one more exchange
// that is ok (8, 9).
std::vector<Record> conversation() {
    std::vector<Record> recs = connect();
    recs.push_back(send(dss(1, 1, obj(0x200D, kPkg), true) + dss(3, 1, sqlstt("SELECT v FROM missing"), true) +
                        dss(1, 2, obj(0x200C, kPkg + obj(0x2114, be32(32767))))));
    recs.push_back(recv(dss(3, 1, sqlcard(0, "00000"), true) + dss(3, 2, sqlcard(-204, "42Y07", 0, "MISSING"))));
    recs.push_back(send(dss(1, 1, obj(0x200A, kPkg2), true) + dss(3, 1, sqlstt("DELETE FROM gone"))));
    const std::string reply = dss(3, 1, sqlcard(-204, "42Y07", 0, "GONE"));
    recs.push_back(recv(reply.substr(0, 9)));
    recs.push_back(recv(reply.substr(9)));
    recs.push_back(send(dss(1, 1, obj(0x200A, kPkg2), true) + dss(3, 1, sqlstt("UPDATE t SET v = 1"))));
    recs.push_back(recv(dss(3, 1, sqlcard(0, "00000"))));
    return recs;
}

}  // namespace

TEST(Selection, ExchangesWhoseRepliesLieInOtherRecordsAndInsideAChain) {
    const std::string trace = make_trace(conversation());
    for (const std::string mode : {"-f", "-r"}) {
        const RunResult full = run_on(trace, {mode});
        ASSERT_EQ(full.status, 0) << full.err;
        const Blocks b = split(full.out);
        ASSERT_EQ(b.records.size(), 9u);
        // The failed open sits in a chain with the prepare: record 3 holds
        // both, record 4 both replies. The DELETE's reply is cut over 6, 7.
        const RunResult failed = run_on(trace, {mode, "--failed"});
        EXPECT_EQ(failed.status, 0);
        EXPECT_EQ(failed.out, only(b, {3, 4, 5, 6, 7}));
        // The reply split over two records: both go with the exchange.
        EXPECT_EQ(run_on(trace, {mode, "--sql", "delete"}).out, only(b, {5, 6, 7}));
        // Inside the chain: the prepare alone is selected by its text, and
        // its records are those of the chain.
        EXPECT_EQ(run_on(trace, {mode, "--sql", "select V"}).out, only(b, {3, 4}));
        // AND between options, OR inside a list.
        EXPECT_EQ(run_on(trace, {mode, "--failed", "-n", "1-4,7"}).out, only(b, {3, 4, 7}));
        EXPECT_EQ(run_on(trace, {mode, "-n", "2,8-9"}).out, only(b, {2, 8, 9}));
        // A trace file is connection 1; nothing else matches.
        EXPECT_EQ(run_on(trace, {mode, "-c", "1", "-n", "9"}).out, only(b, {9}));
        const RunResult none = run_on(trace, {mode, "-c", "2"});
        EXPECT_EQ(none.status, 0);
        EXPECT_EQ(none.out, b.header);
    }
    // -j: the lines of the exchanges selected, as without the selection.
    const RunResult j = run_on(trace, {"-j"});
    const RunResult jf = run_on(trace, {"-j", "--failed"});
    ASSERT_EQ(jf.status, 0);
    std::string want;
    for (std::size_t at = 0; at < j.out.size();) {
        const std::size_t end = j.out.find('\n', at) + 1;
        const std::string line = j.out.substr(at, end - at);
        if (line.find("\"sqlcode\":-204") != std::string::npos) want += line;
        at = end;
    }
    EXPECT_EQ(jf.out, want);
    EXPECT_NE(want.find("OPNQRY"), std::string::npos);
    EXPECT_EQ(want.find("PRPSQLSTT"), std::string::npos);
    // -s counts only them and names the selection first.
    const RunResult s = run_on(trace, {"-s", "--failed"});
    EXPECT_NE(s.out.find("Overview\nselection        --failed\n"), std::string::npos) << s.out;
    EXPECT_NE(s.out.find("\nfailed           2\n"), std::string::npos) << s.out;
    EXPECT_NE(s.out.find("\nexchanges        2\n"), std::string::npos) << s.out;
}

TEST(Selection, TimeWindowsByThePrintedTime) {
    std::vector<Record> recs = conversation();
    for (std::size_t i = 0; i < recs.size(); ++i) recs[i].time = 1796748491.25 + static_cast<double>(i);  // :11.25, :12.25 ...
    const std::string trace = make_trace(recs);
    const Blocks b = split(run_on(trace, {}).out);
    ASSERT_EQ(b.records.size(), 9u);
    ASSERT_NE(b.records[0].find("\ttime  2026-12-08 16:48:11.25000\n"), std::string::npos) << b.records[0];
    // A time of day alone is on the first record's day; --to takes in
    // everything its digits cover.
    EXPECT_EQ(run_on(trace, {"--from", "16:48:12.25", "--to", "16:48:14"}).out, only(b, {2, 3, 4}));
    EXPECT_EQ(run_on(trace, {"--from", "2026-12-08 16:48:18"}).out, only(b, {8, 9}));
    EXPECT_EQ(run_on(trace, {"--to", "2026-12-08 16:48"}).out, only(b, {1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(run_on(trace, {"--from", "2026-12-09 00:00"}).out, b.header);
    // -j by the request time.
    const RunResult j = run_on(trace, {"-j", "--from", "16:48:15", "--to", "16:48:15.9"});
    EXPECT_EQ(std::count(j.out.begin(), j.out.end(), '\n'), 1) << j.out;
    EXPECT_NE(j.out.find("\"record\":5"), std::string::npos) << j.out;
}

TEST(Selection, ACutTraceKeepsItsErrorLineAndStatus) {
    const std::string whole = make_trace(conversation());
    // Cut inside record 8's byte count: the run ends with an ERROR line or
    // a report on the error stream; a bad type gives the ERROR line.
    std::string damaged = whole;
    const std::string rec8 = trace_record(conversation()[7]);
    const std::size_t at = damaged.find(rec8);
    ASSERT_NE(at, std::string::npos);
    damaged[at] = 'X';
    const RunResult full = run_on(damaged, {"-f"});
    ASSERT_EQ(full.status, 255);
    const Blocks b = split(full.out);
    ASSERT_EQ(b.records.size(), 8u);
    const std::string error = "\nERROR: Invalid file format: bad type\n";
    ASSERT_TRUE(full.out.size() > error.size() && full.out.substr(full.out.size() - error.size()) == error);
    // Selected by -n: the cut record shown as without selection.
    const RunResult by_number = run_on(damaged, {"-f", "-n", "2,8"});
    EXPECT_EQ(by_number.status, 255);
    EXPECT_EQ(by_number.out, only(b, {2, 8}));
    // Not selected, or not decidable: only its ERROR line.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-f", "-n", "2"}, {"-f", "--failed"}, {"-f", "--from", "00:00"}}) {
        const RunResult r = run_on(damaged, args);
        EXPECT_EQ(r.status, 255);
        EXPECT_TRUE(r.out.size() > error.size() && r.out.substr(r.out.size() - error.size()) == error) << r.out;
        EXPECT_EQ(r.out.find("8\tdata ZEV"), std::string::npos);
    }
    // A short file: the same report on the error stream.
    const std::string shorter = whole.substr(0, whole.size() - 3);
    const RunResult s1 = run_on(shorter, {"-f"});
    const RunResult s2 = run_on(shorter, {"-f", "--failed", "-c", "1"});
    EXPECT_EQ(s1.status, s2.status);
    EXPECT_EQ(s1.err, s2.err);
}

TEST(Selection, MalformedValuesAreUsageErrorsNamingTheArgument) {
    const std::string trace = make_trace(conversation());
    const std::string path = temp_path("selection.drdadbg");
    write_file(path, trace);
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"-c", "3,", path}, {"-n", "9-5", path}, {"-n", "a", path}, {"--slow", "-1", path},
             {"--slow", "1x", path}, {"--from", "25:00", path}, {"--to", "2026-13-01 00:00", path},
             {"--from", "12:00:00.", path}, {"-c", "1", "-c", "2", path}, {path, "-c"}}) {
        const RunResult r = run_dssview(args);
        EXPECT_EQ(r.status, 1) << args[0] << " " << args[1];
        EXPECT_TRUE(r.out.empty());
        EXPECT_NE(r.err.find("Usage: "), std::string::npos);
        if (args[0][0] == '-') EXPECT_EQ(r.err.rfind(args[0] + " ", 0), 0u) << r.err;
    }
}

// --- a capture with bytes of one direction lost --------------------------------

namespace {

// Two connections, interleaved. Connection 1: connect; a DELETE that fails;
// an INSERT whose request is lost from the capture (the server's reply
// acknowledges it); an UPDATE that fails. Connection 2: connect; a SELECT
// that fails.
std::string capture_with_a_gap() {
    std::vector<Frame> frames;
    std::uint32_t frac = 0;
    std::uint32_t c[2] = {1000, 7000}, s[2] = {5001, 9001};  // the next sequence number of each side
    // A segment of connection `conn` (0, 1: shown as 1, 2); a lost one only
    // moves its side's sequence number on, and the other side's
    // acknowledgements take in its bytes.
    auto put = [&](int conn, bool client, const std::string& payload, bool lost = false) {
        Tcp t;
        t.sport = static_cast<std::uint16_t>(40000 + conn);
        if (!client) {
            std::swap(t.src, t.dst);
            std::swap(t.sport, t.dport);
        }
        std::uint32_t& seq = client ? c[conn] : s[conn];
        t.seq = seq;
        t.ack = client ? s[conn] : c[conn];
        t.flags = kAck | kPsh;
        t.payload = payload;
        seq += static_cast<std::uint32_t>(payload.size());
        if (!lost) frames.push_back(Frame{ethernet(ip_packet(t)), 1796753790, frac += 1000});
    };
    auto handshake = [&](int conn) {
        Tcp syn;
        syn.sport = static_cast<std::uint16_t>(40000 + conn);
        syn.seq = c[conn] - 1;
        syn.flags = kSyn;
        Tcp synack = syn;
        std::swap(synack.src, synack.dst);
        std::swap(synack.sport, synack.dport);
        synack.seq = s[conn] - 1;
        synack.ack = c[conn];
        synack.flags = kSyn | kAck;
        frames.push_back(Frame{ethernet(ip_packet(syn)), 1796753790, frac += 1000});
        frames.push_back(Frame{ethernet(ip_packet(synack)), 1796753790, frac += 1000});
    };
    const std::vector<Record> hello = connect();
    auto request = [](const std::string& text) {
        return dss(1, 1, obj(0x200A, kPkg2), true) + dss(3, 1, sqlstt(text));
    };
    handshake(0);
    handshake(1);
    put(0, true, hello[0].buffer);
    put(1, true, hello[0].buffer);
    put(0, false, hello[1].buffer);
    put(1, false, hello[1].buffer);
    put(0, true, request("DELETE FROM gone"));
    put(0, false, dss(3, 1, sqlcard(-204, "42Y07", 0, "GONE")));
    put(1, true, request("SELECT v FROM missing"));
    put(0, true, request("INSERT INTO lost VALUES (1)"), true);
    put(1, false, dss(3, 1, sqlcard(-204, "42Y07", 0, "MISSING")));
    put(0, false, dss(3, 1, sqlcard(0, "00000")));
    put(0, true, request("UPDATE t SET v = 1"));
    put(0, false, dss(3, 1, sqlcard(-104, "42X01")));
    return pcap_file(frames);
}

// The blocks of a capture's -f output after its header: records (number,
// connection) and CONNECTION lines (0, connection), each with its text.
struct CaptureBlock {
    int number;
    int conn;
    std::string text;
};

std::vector<CaptureBlock> capture_blocks(const std::string& out, std::string& header) {
    static const std::regex start("(^|\n)(([0-9]+)\tconnection ([0-9]+) |CONNECTION ([0-9]+): )");
    std::vector<CaptureBlock> blocks;
    std::size_t prev = std::string::npos;
    for (auto it = std::sregex_iterator(out.begin(), out.end(), start); it != std::sregex_iterator(); ++it) {
        const std::size_t at = static_cast<std::size_t>(it->position(0)) + it->length(1);
        if (prev == std::string::npos) header = out.substr(0, at);
        else blocks.back().text = out.substr(prev, at - prev);
        const auto& m = *it;
        blocks.push_back({m[3].matched ? std::stoi(m[3]) : 0, std::stoi(m[3].matched ? m[4].str() : m[5].str()), ""});
        prev = at;
    }
    if (prev != std::string::npos) blocks.back().text = out.substr(prev);
    return blocks;
}

// The header, the records numbered in `records` and the CONNECTION lines
// of the connections in `conns`, in the order of the whole output.
std::string pick(const std::string& full, std::initializer_list<int> records, std::initializer_list<int> conns) {
    std::string header;
    const std::vector<CaptureBlock> blocks = capture_blocks(full, header);
    std::string s = header;
    for (const CaptureBlock& b : blocks) {
        const auto& from = b.number ? records : conns;
        if (std::find(from.begin(), from.end(), b.number ? b.number : b.conn) != from.end()) s += b.text;
    }
    return s;
}

}  // namespace

TEST(Selection, RecordsOfAConnectionBeforeAndAfterAGap) {
    const std::string path = temp_path("gap.pcap");
    write_file(path, capture_with_a_gap());
    for (const std::string mode : {"-f", "-r"}) {
        const RunResult full = run_dssview({mode, path});
        ASSERT_EQ(full.status, 0) << full.err;
        // Connection 1: connect (1, 3), the DELETE (4, 7), the gap, the
        // reply to the lost INSERT (8), the UPDATE (9, 10).
        std::string header, order;
        for (const CaptureBlock& b : capture_blocks(full.out, header))
            if (b.conn == 1) order += (b.number ? std::to_string(b.number) : b.text.substr(0, b.text.find('\n'))) + "|";
        ASSERT_EQ(order,
                  "CONNECTION 1: 10.0.0.1:40000 > 10.0.0.2:1527 opened|1|3|4|7|"
                  "CONNECTION 1: 121 bytes from the client missing from the capture|8|9|10|"
                  "CONNECTION 1: still open at the end of the capture|");
        auto run = [&](std::vector<std::string> args) {
            args.insert(args.begin(), mode);
            args.push_back(path);
            const RunResult r = run_dssview(args);
            EXPECT_EQ(r.status, 0) << r.err;
            return r.out;
        };
        // The gap goes with its connection, whatever records are picked.
        EXPECT_EQ(run({"-c", "1"}), pick(full.out, {1, 3, 4, 7, 8, 9, 10}, {1}));
        EXPECT_EQ(run({"-c", "2"}), pick(full.out, {2, 5, 6, 11}, {2}));
        EXPECT_EQ(run({"-n", "7-8"}), pick(full.out, {7, 8}, {1, 2}));
        EXPECT_EQ(run({"-c", "1", "-n", "9-11"}), pick(full.out, {9, 10}, {1}));
        // Exchanges on either side of the gap: the failed DELETE and
        // UPDATE, not the reply whose request was lost (it was ok).
        EXPECT_EQ(run({"--failed", "-c", "1"}), pick(full.out, {4, 7, 9, 10}, {1}));
        EXPECT_EQ(run({"--failed"}), pick(full.out, {4, 6, 7, 9, 10, 11}, {1, 2}));
        EXPECT_EQ(run({"--sql", "update", "-n", "1-9"}), pick(full.out, {9}, {1, 2}));
        // The lost request leaves its reply without a statement or a time.
        EXPECT_EQ(run({"--sql", "insert"}), pick(full.out, {}, {1, 2}));
        EXPECT_EQ(run({"--slow", "0", "-c", "1"}), pick(full.out, {1, 3, 4, 7, 9, 10}, {1}));
    }
    // -j: the same exchanges.
    const RunResult j = run_dssview({"-j", "--failed", "-c", "1", path});
    ASSERT_EQ(j.status, 0);
    EXPECT_EQ(std::count(j.out.begin(), j.out.end(), '\n'), 2) << j.out;
    EXPECT_NE(j.out.find("\"record\":4,\"reply_record\":7,"), std::string::npos) << j.out;
    EXPECT_NE(j.out.find("\"record\":9,\"reply_record\":10,"), std::string::npos) << j.out;
}
