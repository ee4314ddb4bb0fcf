// SPDX-License-Identifier: Apache-2.0
// Mutation suite: two real traces, cut at every byte and with single bytes
// changed, run through the whole tool (listing and -f decode).
//
// A cut trace has one right output: the text of the full trace up to the
// last record field that lies wholly before the cut, a report on the error
// stream when the cut falls inside a record, and status 0 only at a record
// boundary. A trace with a changed byte is checked against the model of the
// file format (fuzz/checks.h): status, ERROR line or report, every traced
// byte dumped once, the same output on a second run. Under the sanitizer
// build any out-of-bounds access or undefined behaviour ends the test.
#include <gtest/gtest.h>

#include <random>

#include "../fuzz/checks.h"
#include "support/trace_builder.h"

using namespace testsupport;

namespace {

const std::uint8_t* bytes_of(const std::string& s) { return reinterpret_cast<const std::uint8_t*>(s.data()); }

fuzzcheck::TraceRun run(const std::string& trace, std::size_t size, bool format = true) {
    return fuzzcheck::run_trace(bytes_of(trace), size, format);
}

// Offsets in a sound trace: where each record begins and where each of its
// fields ends.
struct RecordFields {
    std::size_t begin, name_end, count_end, stamp_end, end;
};

std::vector<RecordFields> fields_of(const std::string& t) {
    const drda::ByteView f(bytes_of(t), t.size());
    std::vector<RecordFields> out;
    std::size_t p = 11;
    while (p < t.size()) {
        RecordFields r;
        r.begin = p;
        r.name_end = p + 5 + f.be32(p + 1);
        r.count_end = r.name_end + 4;
        r.stamp_end = r.count_end + 8;
        r.end = r.stamp_end + f.be32(r.name_end);
        out.push_back(r);
        p = r.end;
    }
    return out;
}

// Start of the n-th line (0-based) at or after `from`.
std::size_t line_start(const std::string& s, std::size_t from, int n) {
    std::size_t p = from;
    for (int i = 0; i < n; ++i) p = s.find('\n', p) + 1;
    return p;
}

// What the tool must print for `trace` cut after `cut` bytes, given the
// output of the whole trace.
struct Expected {
    std::string out;
    int status;
    bool report;
};

Expected expected_cut(const std::string& trace, const std::string& full_out, std::size_t cut,
                      const std::vector<RecordFields>& recs) {
    if (cut < 11) return {"", -1, true};
    const std::size_t version_end = full_out.find("\n\n") + 2;
    if (cut == 11) return {full_out.substr(0, version_end), 0, false};
    std::size_t k = 0;
    while (recs[k].end < cut) ++k;
    const RecordFields& r = recs[k];
    // Text of the records before record k.
    const std::string mark = std::to_string(k + 1) + "\tdata ZEV DRDA Communication Manager\n";
    std::size_t begin = full_out.find(mark, version_end);
    while (begin != 0 && full_out[begin - 1] != '\n') begin = full_out.find(mark, begin + 1);
    if (cut == r.end) {
        // A cut at a record boundary ends the trace cleanly.
        const std::string next = std::to_string(k + 2) + "\tdata ZEV DRDA Communication Manager\n";
        std::size_t stop = full_out.find(next, begin);
        while (stop != std::string::npos && full_out[stop - 1] != '\n') stop = full_out.find(next, stop + 1);
        return {full_out.substr(0, stop == std::string::npos ? full_out.size() : stop), 0, false};
    }
    int lines = 1;  // the record line
    if (cut >= r.name_end) ++lines;
    if (cut >= r.count_end) ++lines;
    if (cut >= r.stamp_end && full_out.compare(line_start(full_out, begin, 3), 7, "\ttime  ") == 0) ++lines;
    (void)trace;
    return {full_out.substr(0, line_start(full_out, begin, lines)), -1, true};
}

class Mutation : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        trace_ = read_file(data_path(GetParam()));
        ASSERT_GT(trace_.size(), 1000u);
        full_ = run(trace_, trace_.size());
        ASSERT_EQ(full_.status, 0);
        ASSERT_EQ(full_.err, "");
        listed_ = run(trace_, trace_.size(), false);
        ASSERT_EQ(listed_.status, 0);
        recs_ = fields_of(trace_);
        ASSERT_EQ(recs_.back().end, trace_.size());
    }
    std::string trace_;
    fuzzcheck::TraceRun full_;    // with -f
    fuzzcheck::TraceRun listed_;  // without
    std::vector<RecordFields> recs_;
};

TEST_P(Mutation, EveryCutGivesThePrefixAndAReport) {
    // A cut record never reaches the decoder, so most cuts are run without
    // -f (the decoder then only repeats the records before the cut); every
    // eighth cut and every record boundary are run with it.
    std::size_t failures = 0;
    std::size_t boundary = 0;
    for (std::size_t cut = 0; cut < trace_.size() && failures < 5; ++cut) {
        while (boundary < recs_.size() && recs_[boundary].end < cut) ++boundary;
        const bool format = cut % 8 == 0 || (boundary < recs_.size() && recs_[boundary].end == cut);
        const fuzzcheck::TraceRun r = run(trace_, cut, format);
        const Expected e = expected_cut(trace_, format ? full_.out : listed_.out, cut, recs_);
        bool ok = r.status == e.status && r.out == e.out;
        if (e.report) {
            // One report line naming the input.
            ok = ok && r.err.rfind("fuzz.drdadbg: ", 0) == 0 && r.err.find('\n') == r.err.size() - 1;
        } else {
            ok = ok && r.err.empty();
        }
        if (!ok) {
            ++failures;
            ADD_FAILURE() << "cut after " << cut << " bytes: status " << r.status << " (want " << e.status
                          << "), output " << (r.out == e.out ? "as expected" : "differs") << ", error stream \""
                          << r.err << "\"";
        }
    }
}

// Each mutant runs the whole tool in every mode (listing, -f, -r, -s, -j);
// under the sanitizers, which make that several times slower, the random
// samples are a third as large so that the suite stays within CI's time.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kSampleDivisor = 3;
#else
constexpr int kSampleDivisor = 1;
#endif

TEST_P(Mutation, ChangedBytesKeepEveryProperty) {
    // Every byte inverted (in the larger trace, a sample of 2500 bytes), and
    // a bounded random sample of other values, the same on every run.
    std::mt19937 rng(20261208);
    std::vector<std::pair<std::size_t, std::uint8_t>> mutants;
    const bool every = trace_.size() <= 8192 / kSampleDivisor;
    for (std::size_t n = 0; n < (every ? trace_.size() : 2500 / kSampleDivisor); ++n) {
        const std::size_t i = every ? n : rng() % trace_.size();
        mutants.emplace_back(i, static_cast<std::uint8_t>(~static_cast<std::uint8_t>(trace_[i])));
    }
    const std::uint8_t special[] = {0x00, 0x01, 0x7F, 0x80, 0xD0, 0xFF};
    for (int n = 0; n < 1500 / kSampleDivisor; ++n) {
        const std::size_t i = rng() % trace_.size();
        const std::uint8_t v = n % 2 ? special[rng() % sizeof special] : static_cast<std::uint8_t>(rng());
        mutants.emplace_back(i, v);
    }
    std::size_t failures = 0;
    std::string m = trace_;
    for (const auto& [i, v] : mutants) {
        const char saved = m[i];
        m[i] = static_cast<char>(v);
        const std::string failure = fuzzcheck::check_trace(bytes_of(m), m.size());
        if (!failure.empty() && ++failures <= 5)
            ADD_FAILURE() << "byte " << i << " set to " << int(v) << ": " << failure;
        m[i] = saved;
    }
    EXPECT_EQ(failures, 0u);
}

// A sample of the mutants through the built binary: exit status, standard
// output and the error stream as the in-process run gives them, status 255
// only with an "ERROR:" line or a report on the error stream.
TEST_P(Mutation, BinaryAgreesOnASample) {
    std::mt19937 rng(7);
    const std::string path = temp_path(std::string("mutant-") + GetParam());
    for (int n = 0; n < 24; ++n) {
        std::string m = trace_;
        if (n % 3 == 0) {
            m.resize(rng() % m.size());
        } else {
            m[rng() % m.size()] = static_cast<char>(rng());
        }
        write_file(path, m);
        const RunResult bin = run_dssview({"-f", path});
        const fuzzcheck::TraceRun in = run(m, m.size());
        EXPECT_TRUE(bin.status == 0 || bin.status == 255) << bin.status;
        EXPECT_EQ(bin.status, in.status == 0 ? 0 : 255);
        EXPECT_EQ(bin.out, in.out) << "mutant " << n;
        std::string err = in.err;
        for (std::size_t p; (p = err.find("fuzz.drdadbg")) != std::string::npos;) err.replace(p, 12, path);
        EXPECT_EQ(bin.err, err) << "mutant " << n;
        if (bin.status == 255)
            EXPECT_TRUE(bin.out.find("\nERROR: ") != std::string::npos || !bin.err.empty()) << "mutant " << n;
    }
}

INSTANTIATE_TEST_SUITE_P(RealTraces, Mutation,
                         ::testing::Values("s01_connect.req.drdadbg", "s09_procedures.req.drdadbg"),
                         [](const auto& info) {
                             std::string s = info.param;
                             return s.substr(0, s.find('.'));
                         });

}  // namespace
