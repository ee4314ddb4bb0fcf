// SPDX-License-Identifier: Apache-2.0
// Replays the committed fuzz corpus (fuzz/corpus/<target>/) through the same
// property checks as the libFuzzer targets, in the normal test builds, so
// that every input that once found something stays fixed in the release
// and sanitizer builds alike.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "../fuzz/capture_checks.h"
#include "../fuzz/checks.h"
#include "../fuzz/tool_rows_checks.h"

namespace fs = std::filesystem;

namespace {

std::string read_bytes(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

std::vector<fs::path> corpus_files(const std::string& target) {
    std::vector<fs::path> files;
    const fs::path dir = fs::path(DSSVIEW_SOURCE_DIR) / "fuzz" / "corpus" / target;
    if (!fs::is_directory(dir)) return files;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.is_regular_file()) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
}

class CorpusReplay : public ::testing::TestWithParam<const char*> {};

TEST_P(CorpusReplay, EveryInputKeepsEveryProperty) {
    const std::string target = GetParam();
    const auto files = corpus_files(target);
    ASSERT_FALSE(files.empty()) << "no corpus for " << target;
    std::size_t failed = 0;
    for (const auto& f : files) {
        const std::string bytes = read_bytes(f);
        const std::string failure =
            fuzzcheck::check(target, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        if (!failure.empty()) {
            ADD_FAILURE() << f.filename().string() << ": " << failure;
            if (++failed == 10) break;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Targets, CorpusReplay, ::testing::Values("trace", "listing", "decoder", "dispatch"),
                         [](const auto& info) { return std::string(info.param); });

class CaptureCorpusReplay : public ::testing::TestWithParam<const char*> {};

TEST_P(CaptureCorpusReplay, EveryInputKeepsEveryProperty) {
    const auto files = corpus_files(GetParam());
    ASSERT_FALSE(files.empty()) << "no corpus for " << GetParam();
    for (const auto& f : files) {
        const std::string bytes = read_bytes(f);
        const std::string failure =
            capcheck::check(GetParam(), reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        ASSERT_TRUE(failure.empty()) << f.filename().string() << ": " << failure;
    }
}

INSTANTIATE_TEST_SUITE_P(Targets, CaptureCorpusReplay,
                         ::testing::Values("capture_file", "capture_reassembly", "capture_tool"),
                         [](const auto& info) { return std::string(info.param); });

// -r against -f on the inputs that once broke that property (the target
// itself starts from the trace corpus).
TEST(ToolRowsCorpusReplay, EveryInputKeepsEveryProperty) {
    const auto files = corpus_files("tool_rows");
    ASSERT_FALSE(files.empty());
    for (const auto& f : files) {
        const std::string bytes = read_bytes(f);
        EXPECT_EQ(rowscheck::check(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), "")
            << f.filename().string();
    }
}

// The checks themselves must catch what they are there for: a listing that
// loses, repeats or misplaces a byte is rejected.
TEST(CorpusReplayChecks, ListingReaderRejectsDamagedDumps) {
    const std::string heading = std::string(12, ' ') + "EXCSAT RQSDSS" + std::string(20, ' ') +
                                "(ASCII)           (EBCDIC)\n" + std::string(fuzzcheck::kColumnHeader) + "\n";
    const std::string good = heading +
                             "  0000  0012D0410001000C 10410008115EC1C2   ...A.....A...^..  ..}..........;AB\n"
                             "  0010  C3C4                                ..                CD\n";
    std::string bytes;
    EXPECT_EQ(fuzzcheck::read_listing(good, bytes), "");
    EXPECT_EQ(bytes.size(), 18u);
    EXPECT_EQ(static_cast<unsigned char>(bytes[17]), 0xC4);

    std::string wrong_offset = good;
    wrong_offset.replace(wrong_offset.find("  0010"), 6, "  0020");
    std::string wrong_ascii = good;
    wrong_ascii.replace(wrong_ascii.find("...A...."), 1, "x");
    std::string wrong_ebcdic = good;
    wrong_ebcdic.replace(wrong_ebcdic.rfind("CD"), 2, "CE");
    std::string short_then_more = good + "  0012  C5                                  .                 E\n";
    std::string no_header = good.substr(good.find('\n') + 1 + fuzzcheck::kColumnHeader.size() + 1);
    for (const std::string& bad : {wrong_offset, wrong_ascii, wrong_ebcdic, short_then_more}) {
        bytes.clear();
        EXPECT_NE(fuzzcheck::read_listing(bad, bytes), "") << bad;
    }
    bytes.clear();
    EXPECT_NE(fuzzcheck::read_listing(no_header, bytes), "");
}

// The model of the trace format that the whole-tool check runs against.
TEST(CorpusReplayChecks, TraceModelFollowsTheFileFormat) {
    auto model = [](const std::string& s) {
        return fuzzcheck::model_trace(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
    };
    const std::string header = std::string("DRDADBG") + std::string("\0\0\0\1", 4);
    EXPECT_EQ(model(header).status, 0);
    EXPECT_TRUE(model("DRDA").error_report);
    EXPECT_EQ(model("DRDADBX" + std::string(4, '\0')).error_line, "\nERROR: Invalid file format.\n");
    const std::string rec = std::string("W") + std::string("\0\0\0\1", 4) + "f" + std::string("\0\0\0\3", 4) +
                            std::string(8, '\0') + "\1ab";
    // The model's records view its input: keep each input alive while its
    // model is read.
    const std::string two = header + rec + rec;
    auto m = model(two);
    EXPECT_EQ(m.status, 0);
    ASSERT_EQ(m.records.size(), 2u);
    EXPECT_EQ(m.records[1].second, "\1ab");
    const std::string cut = header + rec + rec.substr(0, rec.size() - 1);
    m = model(cut);
    EXPECT_EQ(m.status, -1);
    EXPECT_TRUE(m.error_report);
    EXPECT_EQ(m.records.size(), 1u);
    EXPECT_EQ(m.started, 2u);
    EXPECT_EQ(model(header + "X").error_line, "\nERROR: Invalid file format: bad type\n");
}

}  // namespace

// The selection checks see the blocks of real output and reject a selected
// listing that loses, adds or reorders one.
TEST(CorpusReplayChecks, SelectionCheckRejectsWrongBlocks) {
    const std::string file = read_bytes(fs::path(DSSVIEW_SOURCE_DIR) / "tests/data/captures/s06_errors.pcap");
    const auto* data = reinterpret_cast<const std::uint8_t*>(file.data());
    auto run = [&](const std::vector<std::string>& args) {
        selcheck::RandomSelection s;
        s.args = args;
        drda::Selection sel;
        EXPECT_EQ(selcheck::make_selection(s, sel), "");
        std::string text, err;
        EXPECT_EQ(capcheck::run_tool(data, file.size(), "-f", text, err, args.empty() ? nullptr : &sel), 0) << err;
        return text;
    };
    const std::string full = run({});
    const auto all = selcheck::blocks(full, true);
    auto count = [&](selcheck::Block::Kind k) {
        return std::count_if(all.begin(), all.end(), [&](const auto& b) { return b.kind == k; });
    };
    ASSERT_GT(count(selcheck::Block::record), 5);
    ASSERT_GE(count(selcheck::Block::connection), 2);

    selcheck::RandomSelection s;
    s.args = {"-n", "2-4"};
    s.records = {{2, 4}};
    const std::string got = run(s.args);
    EXPECT_EQ(selcheck::check_listing_selection(full, got, s, true), "");
    EXPECT_EQ(selcheck::check_listing_selection(full, full, s, true).rfind("a record (1 of connection 1) that", 0), 0u);
    const std::string rec3 = std::string(all[4].text) + "\n";  // header, CONNECTION, records 1, 2, 3
    ASSERT_EQ(rec3.rfind("3\tconnection 1", 0), 0u);
    std::string lost = got;
    lost.erase(lost.find(rec3), rec3.size());
    EXPECT_NE(selcheck::check_listing_selection(full, lost, s, true), "");
    // Not in the whole output's order: caught for any selection.
    s.only_lists = false;
    std::string swapped = got;
    swapped.erase(swapped.find(rec3), rec3.size());
    swapped.insert(swapped.find("2\tconnection 1"), rec3);
    EXPECT_NE(selcheck::check_listing_selection(full, swapped, s, true), "");
    // -j: a line of its own, or one out of order, is caught.
    EXPECT_EQ(selcheck::check_json_selection("a\nb\nc\n", "a\nc\n", s), "");
    EXPECT_NE(selcheck::check_json_selection("a\nb\nc\n", "c\na\n", s), "");
    EXPECT_NE(selcheck::check_json_selection("a\nb\nc\n", "a\nx\n", s), "");
}
