// SPDX-License-Identifier: Apache-2.0
// The trace file reader end to end: header, record lines, damaged records,
// short files, timestamps.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <cstring>

#include "support/conversation_builder.h"
#include "support/trace_builder.h"
#include "common/text_writer.h"
#include "app/driver.h"

using namespace testsupport;

namespace {

RunResult run_on(const std::string& bytes, const std::vector<std::string>& opts = {}) {
    static int n = 0;
    std::string p = temp_path("reader" + std::to_string(++n) + ".drdadbg");
    write_file(p, bytes);
    std::vector<std::string> args = opts;
    args.push_back(p);
    return run_dssview(args);
}

// Record lines as printed before the listing of a record.
std::string record_lines(int n, const std::string& func, int bytes, const std::string& time) {
    std::string s = std::to_string(n) + "\tdata ZEV DRDA Communication Manager\n";
    s += "\tfunction  " + func + "()\n";
    s += "\tbytes " + std::to_string(bytes) + "\n";
    if (!time.empty()) s += "\ttime  " + time + "\n";
    return s;
}

// Runs the reader in-process (no listing check): record lines only matter
// here, so the listing of each record is cut away.
std::string lines_only(const std::string& out) {
    std::string kept;
    std::size_t pos = 0;
    while (pos < out.size()) {
        std::size_t nl = out.find('\n', pos);
        if (nl == std::string::npos) nl = out.size() - 1;
        std::string line = out.substr(pos, nl - pos + 1);
        pos = nl + 1;
        if (line.find("data ZEV DRDA") != std::string::npos || line.rfind("\tfunction  ", 0) == 0 ||
            line.rfind("\tbytes ", 0) == 0 || line.rfind("\ttime  ", 0) == 0 ||
            line.rfind("DRDADBG Version", 0) == 0 || line.find("ERROR:") != std::string::npos)
            kept += line;
    }
    return kept;
}

TEST(TraceReader, HeaderOnlyFileIsAnEmptyTrace) {
    RunResult r = run_on(trace_header(1));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "DRDADBG Version 1\n\n");
    EXPECT_EQ(r.err, "");
}

TEST(TraceReader, VersionWithTopBitSetPrintsNegative) {
    RunResult r = run_on(trace_header(static_cast<std::int32_t>(0xFFFFFFFEu)));
    EXPECT_EQ(r.out, "DRDADBG Version -2\n\n");
}

TEST(TraceReader, ShortOrEmptyFileIsReportedAsEndOfFileOnStderr) {
    for (const std::string& bytes : {std::string(), std::string("DRDA"), std::string("DRDADBG\0\0", 9)}) {
        RunResult r = run_on(bytes);
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find(": unexpected end of file\n"), std::string::npos) << r.err;
    }
}

TEST(TraceReader, BadMagicIsAnInvalidFormat) {
    RunResult r = run_on("DRDADBX\0\0\0\1");
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "\nERROR: Invalid file format.\n");
    EXPECT_EQ(r.err, "");
}

TEST(TraceReader, RecordLinesAndTimeLineInUtc) {
    Record rec{.type = 'R', .function = "arRecvBuf", .time = 0.5, .buffer = ""};
    RunResult r = run_on(make_trace({rec}));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(lines_only(r.out), "DRDADBG Version 1\n" + record_lines(1, "arRecvBuf", 1, "1970-01-01 00:00:00.50000"));
    EXPECT_EQ(r.err, "");

    Record dec{.time = 1796748491.25};  // 2026-12-08 16:48:11.25 UTC
    r = run_on(make_trace({dec}));
    EXPECT_EQ(lines_only(r.out), "DRDADBG Version 1\n" + record_lines(1, "arSendBuf", 1, "2026-12-08 16:48:11.25000"));
}

TEST(TraceReader, DamagedRecordsStopWithTheirOwnError) {
    struct Case {
        std::string what;
        Record rec;
        std::string expected_tail;
    };
    std::vector<Case> cases = {
        {"bad type", Record{.type = 'X'}, "1\tdata ZEV DRDA Communication Manager\n\nERROR: Invalid file format: bad type\n"},
        {"name length 0", Record{.name_length = 0},
         "1\tdata ZEV DRDA Communication Manager\n\nERROR: Invalid file format: bad func length\n"},
        {"name length 21", Record{.function = std::string(21, 'f'), .name_length = 21},
         "1\tdata ZEV DRDA Communication Manager\n\nERROR: Invalid file format: bad func length\n"},
        {"byte count 0", Record{.byte_count = 0},
         "1\tdata ZEV DRDA Communication Manager\n\tfunction  arSendBuf()\n\nERROR: Invalid file format: bad record length\n"},
        {"negative byte count", Record{.byte_count = -5},
         "1\tdata ZEV DRDA Communication Manager\n\tfunction  arSendBuf()\n\nERROR: Invalid file format: bad record length\n"},
    };
    for (const auto& c : cases) {
        // A sound record first: the failure is reported for record 2.
        std::string bytes = make_trace({Record{}, c.rec});
        RunResult r = run_on(bytes);
        EXPECT_EQ(r.status, 255) << c.what;
        EXPECT_EQ(r.err, "") << c.what;
        std::string tail = c.expected_tail;
        tail[0] = '2';
        ASSERT_GE(r.out.size(), tail.size()) << c.what;
        EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail) << c.what;
    }
}

TEST(TraceReader, NameLengthTwentyIsAccepted) {
    RunResult r = run_on(make_trace({Record{.function = "abcdefghijklmnopqrst"}}));
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("\tfunction  abcdefghijklmnopqrst()\n"), std::string::npos);
}

TEST(TraceReader, FunctionNameStopsAtZeroAndMasksControlBytes) {
    RunResult r = run_on(make_trace({Record{.function = std::string("ab\x1b[2Jc\x7f", 8)},
                                     Record{.function = std::string("xy\0zz", 5)}}));
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("\tfunction  ab.[2Jc.()\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\tfunction  xy()\n"), std::string::npos);
}

TEST(TraceReader, InvalidTimestampWarnsOnceAndSuppressesLaterTimeLines) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::vector<Record> recs = {Record{.time = 10.0}, Record{.time = -0.25}, Record{.time = 20.0},
                                Record{.time = nan}, Record{.time = 30.0}};
    RunResult r = run_on(make_trace(recs));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "Warning: invalid timestamp.\n\t No timestamp will be generated in the output file.\n");
    std::string expected = "DRDADBG Version 1\n" + record_lines(1, "arSendBuf", 1, "1970-01-01 00:00:10.00000");
    for (int i = 2; i <= 5; ++i) expected += record_lines(i, "arSendBuf", 1, "");
    EXPECT_EQ(lines_only(r.out), expected);

    r = run_on(make_trace({Record{.time = std::numeric_limits<double>::infinity()}}));
    EXPECT_EQ(r.err, "Warning: invalid timestamp.\n\t No timestamp will be generated in the output file.\n");
    r = run_on(make_trace({Record{.time = 1e300}}));
    EXPECT_EQ(r.err, "Warning: invalid timestamp.\n\t No timestamp will be generated in the output file.\n");
}

TEST(TraceReader, HugeByteCountInSmallFileIsEndOfFileWithoutAllocatingIt) {
    // 2 GiB - 1 claimed, 10 bytes present.
    Record rec{.buffer = "0123456789", .byte_count = 0x7FFFFFFF};
    RunResult r = run_on(make_trace({rec}));
    EXPECT_EQ(r.status, 255);
    EXPECT_NE(r.err.find(": unexpected end of file\n"), std::string::npos);
    EXPECT_NE(r.out.find("\tbytes 2147483647\n"), std::string::npos);
}

// Every prefix of a small sound trace ends with status 0 at a record
// boundary and with the end-of-file report everywhere else.
TEST(TraceReader, EveryPrefixOfATraceIsHandled) {
    std::vector<Record> recs = {
        Record{.buffer = hex("0012D041000100 0C10410008115EC1C2C3C4")},
        Record{.type = 'R', .function = "arRecvBuf", .role = 0, .buffer = hex("000AD0520001 0004 1149 ")},
        Record{.buffer = ""},
    };
    std::string full = make_trace(recs);
    std::vector<std::size_t> boundaries = {11};
    for (const auto& rec : recs) boundaries.push_back(boundaries.back() + trace_record(rec).size());
    for (std::size_t len = 0; len <= full.size(); ++len) {
        RunResult r = run_on(full.substr(0, len), {"-f"});
        bool at_boundary = std::find(boundaries.begin(), boundaries.end(), len) != boundaries.end();
        if (at_boundary) {
            EXPECT_EQ(r.status, 0) << len;
            EXPECT_EQ(r.err, "") << len;
        } else {
            EXPECT_EQ(r.status, 255) << len;
            EXPECT_NE(r.err.find(": unexpected end of file\n"), std::string::npos) << len << r.err;
        }
    }
}

// A regular file is read ahead in chunks of 1 MiB, a stream as the bytes
// are needed: the same text either way, with records that straddle the
// chunk boundaries, one larger than a chunk, and a cut at the end.
TEST(TraceReader, ReadAheadAndStreamGiveTheSameText) {
    std::vector<Record> recs;
    for (int i = 0; i < 700; ++i)
        recs.push_back(Record{.buffer = dss(1, 1, obj(0x1041, obj(0x115E, std::string(1 + (i * 37) % 3000, 'a'))))});
    recs.push_back(Record{.buffer = std::string((3u << 20) / 2, '\x5A')});
    recs.push_back(Record{.buffer = dss(1, 2, obj(0x1041, obj(0x115E, "end")))});
    const std::string whole = make_trace(recs);
    for (const std::string& bytes : {whole, whole.substr(0, whole.size() - 5)}) {
        const auto run = [&](std::FILE* in) {
            std::string text;
            drda::StringSink sink(text);
            drda::TextWriter out(sink);
            std::FILE* err = std::tmpfile();
            const int rc = drda::read_trace_stream(in, "t", out, err, drda::Plan());
            out.flush();
            std::rewind(err);
            char e[256] = {};
            const std::size_t n = std::fread(e, 1, sizeof e - 1, err);
            std::fclose(err);
            std::fclose(in);
            return std::to_string(rc) + "|" + std::string(e, n) + "|" + text;
        };
        const std::string p = temp_path("ahead.drdadbg");
        write_file(p, bytes);
        std::string copy = bytes;
        const std::string from_file = run(std::fopen(p.c_str(), "rb"));
        const std::string from_stream = run(fmemopen(copy.data(), copy.size(), "rb"));
        EXPECT_GT(from_file.size(), bytes.size());
        EXPECT_TRUE(from_file == from_stream) << "first difference at " << std::mismatch(from_file.begin(), from_file.end(),
                                                                                         from_stream.begin(), from_stream.end()).first - from_file.begin();
    }
}

TEST(TraceReader, InProcessStreamRun) {
    std::string bytes = make_trace({Record{.buffer = "abc"}});
    std::FILE* in = fmemopen(bytes.data(), bytes.size(), "rb");
    ASSERT_NE(in, nullptr);
    std::string text;
    drda::StringSink sink(text);
    drda::TextWriter out(sink);
    std::FILE* err = std::tmpfile();
    int rc = drda::read_trace_stream(in, "mem", out, err, drda::Plan());
    out.flush();
    std::fclose(in);
    std::fclose(err);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(text.substr(0, 19), "DRDADBG Version 1\n\n");
}

}  // namespace
