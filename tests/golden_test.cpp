// SPDX-License-Identifier: Apache-2.0
// Golden outputs: real traces run through the built binary, compared byte
// for byte with reviewed expected listings. Regenerate with
// scripts/update-golden.sh after a reviewed change of the output.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/trace_builder.h"

using namespace testsupport;

namespace {

struct Golden {
    std::string trace;     // relative to the source tree
    std::string options;   // "", "-f", "-s" or "-j"
    std::string expected;  // relative to the source tree
};

std::string source(const std::string& rel) { return std::string(DSSVIEW_SOURCE_DIR) + "/" + rel; }

class GoldenOutput : public testing::TestWithParam<Golden> {};

TEST_P(GoldenOutput, MatchesTheReviewedListing) {
    const Golden& g = GetParam();
    std::vector<std::string> args;
    if (!g.options.empty()) args.push_back(g.options);
    args.push_back(source(g.trace));
    RunResult r = run_dssview(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    const std::string expected = read_file(source(g.expected));
    ASSERT_EQ(r.out.size(), expected.size());
    // Report the first differing line rather than two megabytes of text.
    if (r.out != expected) {
        std::size_t at = 0;
        while (at < r.out.size() && r.out[at] == expected[at]) ++at;
        std::size_t line_start = expected.rfind('\n', at);
        line_start = line_start == std::string::npos ? 0 : line_start + 1;
        ADD_FAILURE() << "first difference at byte " << at << "\nexpected: "
                      << expected.substr(line_start, expected.find('\n', at) - line_start)
                      << "\nactual:   " << r.out.substr(line_start, r.out.find('\n', at) - line_start);
    }
}

INSTANTIATE_TEST_SUITE_P(
    RealTraces, GoldenOutput,
    testing::Values(
        Golden{"examples/s01_connect.req.drdadbg", "-f", "examples/s01_connect.req.expected.txt"},
        Golden{"examples/s03_types.req.drdadbg", "-f", "examples/s03_types.req.expected.txt"},
        Golden{"examples/s06_errors.req.drdadbg", "-f", "examples/s06_errors.req.expected.txt"},
        Golden{"examples/s01_connect.pcap", "-f", "examples/s01_connect.pcap.expected.txt"},
        Golden{"examples/s03_types.req.drdadbg", "", "tests/data/golden/s03_types.req.txt"},
        Golden{"tests/data/s01_connect.srv.drdadbg", "-f", "tests/data/golden/s01_connect.srv.f.txt"},
        Golden{"tests/data/s09_procedures.req.drdadbg", "-f", "tests/data/golden/s09_procedures.req.f.txt"},
        Golden{"tests/data/s11_batch.split4096.req.drdadbg", "-f",
               "tests/data/golden/s11_batch.split4096.req.f.txt"},
        Golden{"examples/s06_errors.req.drdadbg", "-s", "examples/s06_errors.req.summary.txt"},
        Golden{"examples/s01_connect.pcap", "-s", "examples/s01_connect.pcap.summary.txt"},
        Golden{"tests/data/s09_procedures.req.drdadbg", "-j", "tests/data/golden/s09_procedures.req.j.txt"}),
    [](const testing::TestParamInfo<Golden>& info) {
        std::string n = info.param.trace.substr(info.param.trace.rfind('/') + 1);
        const std::string& o = info.param.options;
        n = n.substr(0, n.find(".drdadbg")) +
            (o.empty() ? "_listing" : o == "-s" ? "_summary" : o == "-j" ? "_json" : "_decoded");
        for (char& c : n)
            if (!isalnum(static_cast<unsigned char>(c))) c = '_';
        return n;
    });

}  // namespace
