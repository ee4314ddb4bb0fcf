// SPDX-License-Identifier: Apache-2.0
// -r on real records cut at every byte into two records, and with every
// byte flipped: the same rows from the cut records, and for every flip a run
// that ends normally with the -f output intact around the row lines.
#include <gtest/gtest.h>

#include "support/rows_support.h"
#include "support/trace_builder.h"

using namespace testsupport;

namespace {

std::string source(const std::string& rel) { return std::string(DSSVIEW_SOURCE_DIR) + "/" + rel; }

struct Case {
    const char* file;               // relative to the source tree
    std::vector<int> context;       // records the target needs before it
    int target;
};

const Case kCases[] = {
    {"examples/s03_types.req.drdadbg", {1, 2, 3, 4, 7, 8}, 9},               // SQLDTA of every type
    {"examples/s03_types.req.drdadbg", {1, 2, 3, 4, 17, 18, 19}, 20},        // QRYDTA with OUTOVR
    {"examples/s03_types.req.drdadbg", {1, 2, 3, 4, 17, 18, 19, 23}, 24},    // SQLDTARD
    {"examples/s03_types.req.drdadbg", {1, 2, 3, 4, 17, 18, 43}, 44},        // end of data
    {"tests/data/s09_procedures.req.drdadbg", {1, 2, 3, 4, 41}, 42},         // two result sets
};

std::vector<std::string> content(const std::vector<RowLine>& lines) {
    std::vector<std::string> out;
    for (const RowLine& l : lines) {
        std::string t = l.text.substr(l.text.find_first_not_of(' '));
        if (t.rfind("ROWS: from the ", 0) != 0 && t.rfind("SQLCA: from the ", 0) != 0 &&
            t.rfind("SQLDA: from the ", 0) != 0)
            out.push_back(t);
    }
    return out;
}

std::vector<RowLine> decode(const std::vector<Record>& records, int* status = nullptr) {
    const std::string trace = make_trace(records);
    const InProcess f = run_in_process(trace, true, false);
    const InProcess r = run_in_process(trace, true, true);
    EXPECT_EQ(f.status, r.status);
    if (status) *status = r.status;
    std::string error;
    std::vector<RowLine> lines = row_lines(f.out, r.out, &error);
    EXPECT_EQ(error, "");
    return lines;
}

class RowRobustness : public testing::TestWithParam<Case> {
protected:
    std::vector<Record> base;
    Record target;
    void SetUp() override {
        const Case& c = GetParam();
        const std::vector<Record> all = parse_trace(read_file(source(c.file)));
        for (int r : c.context) base.push_back(all.at(static_cast<std::size_t>(r - 1)));
        target = all.at(static_cast<std::size_t>(c.target - 1));
    }
};

TEST_P(RowRobustness, RecordCutAtEveryByteGivesTheSameRows) {
    std::vector<Record> whole = base;
    whole.push_back(target);
    const std::vector<std::string> expect = content(decode(whole));
    ASSERT_FALSE(expect.empty());
    for (std::size_t cut = 1; cut < target.buffer.size(); ++cut) {
        std::vector<Record> two = base;
        Record a = target, b = target;
        a.buffer = target.buffer.substr(0, cut);
        b.buffer = target.buffer.substr(cut);
        two.push_back(a);
        two.push_back(b);
        const std::vector<std::string> got = content(decode(two));
        ASSERT_TRUE(got == expect) << "cut at " << cut;
        if (HasFailure()) return;
    }
}

TEST_P(RowRobustness, EveryPrefixAndByteFlipEndsNormally) {
    for (std::size_t n = 0; n <= target.buffer.size(); ++n) {
        std::vector<Record> t = base;
        Record a = target;
        a.buffer = target.buffer.substr(0, n);
        t.push_back(a);
        int status = -2;
        decode(t, &status);
        ASSERT_EQ(status, 0) << "prefix " << n;
        if (HasFailure()) return;
    }
    for (std::size_t i = 0; i < target.buffer.size(); ++i) {
        for (unsigned char mask : {0xFF, 0x80}) {
            std::vector<Record> t = base;
            Record a = target;
            a.buffer[i] = static_cast<char>(a.buffer[i] ^ static_cast<char>(mask));
            t.push_back(a);
            t.push_back(target);  // what follows a damaged record decodes too
            int status = -2;
            decode(t, &status);
            ASSERT_EQ(status, 0) << "byte " << i << " mask " << int{mask};
            if (HasFailure()) return;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(RealRecords, RowRobustness, testing::ValuesIn(kCases), [](const auto& info) {
    std::string n = info.param.file;
    n = n.substr(n.rfind('/') + 1);
    n = n.substr(0, n.find('.')) + "_rec" + std::to_string(info.param.target);
    return n;
});

}  // namespace
