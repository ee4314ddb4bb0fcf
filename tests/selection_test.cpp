// SPDX-License-Identifier: Apache-2.0
// Selections on hand-built traces: each case checks the selected output
// against the blocks of the whole output it must consist of.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

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
