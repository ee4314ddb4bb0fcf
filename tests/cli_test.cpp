// SPDX-License-Identifier: Apache-2.0
// The command line end to end: statuses, streams, -o handling, versions.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>

#include "support/trace_builder.h"

using namespace testsupport;

namespace {

const char kUsage[] = "Usage: dssview [-f] [-o outfile] inpfile\n\t-f: format hex dump\n\n\n";

std::string header_only_trace() {
    static const std::string path = [] {
        std::string p = temp_path("header_only.drdadbg");
        write_file(p, trace_header(7));
        return p;
    }();
    return path;
}

TEST(CommandLine, UsageErrorsEndWithStatusOneAndNothingOnStdout) {
    const std::string t = header_only_trace();
    const std::vector<std::vector<std::string>> bad = {
        {},                       // no arguments
        {"-x", t},                // unrecognised option
        {"-ofile", t},            // -o with more characters
        {t, "-f"},                // input file not last
        {t, t},                   // two non-option arguments
        {"?"},                    // a '?' in the input name
        {"a?b"},
        {"-V", t},                // -V only as the only argument
        {"-version", t},
        {"-o"},                   // -o with no name behind it
        {"-f"},                   // no input file
        {"-", t},                 // "-" (standard input) not last
        {"-j", "-f", t},          // -j writes nothing but JSON
        {"-r", "-j", t},
        {"-j", "-s", t},
        {"-j", "-fancy", t},
        {"-sx", t},               // -s and -j exactly
        {"-jj", t},
        {"-help", t},             // -h and --help exactly
        {"--h", t},
    };
    for (const auto& args : bad) {
        RunResult r = run_dssview(args);
        std::string shown;
        for (const auto& a : args) shown += a + " ";
        EXPECT_EQ(r.status, 1) << shown;
        EXPECT_EQ(r.out, "") << shown;
        EXPECT_EQ(r.err, kUsage) << shown;
    }
}

TEST(CommandLine, FormatFlagAcceptsAnyArgumentBeginningWithDashF) {
    RunResult r = run_dssview({"-fancy", header_only_trace()});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "DRDADBG Version 7\n\n");
    EXPECT_EQ(r.err, "");
}

TEST(CommandLine, ProgramNameIsTheLastSlashComponentOnly) {
    RunResult r = run_dssview({}, "/usr/local/bin/dssview");
    EXPECT_EQ(r.err, kUsage);
    r = run_dssview({}, "C:\\tools\\dssview");
    EXPECT_EQ(r.err, "Usage: C:\\tools\\dssview [-f] [-o outfile] inpfile\n\t-f: format hex dump\n\n\n");
    r = run_dssview({}, "dir/sub\\x/tool");
    EXPECT_EQ(r.err.substr(0, 12), "Usage: tool ");
}

TEST(CommandLine, OutputFileReceivesTheListingAndTwoDashOTruncateBoth) {
    const std::string a = temp_path("first.txt"), b = temp_path("second.txt");
    write_file(a, "old text a");
    write_file(b, "old text b");
    RunResult r = run_dssview({"-o", a, "-o", b, header_only_trace()});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(read_file(a), "");
    EXPECT_EQ(read_file(b), "DRDADBG Version 7\n\n");
}

// A refused command line opens no file: -o and --html files keep what they held.
TEST(CommandLine, RefusedCommandLineLeavesTheOutputFilesUntouched) {
    const std::string a = temp_path("kept.txt"), page = temp_path("kept.html");
    write_file(a, "old");
    write_file(page, "old page");
    RunResult r = run_dssview({"-o", a});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, kUsage);
    EXPECT_EQ(read_file(a), "old");
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--html", page, "-j", "-s", header_only_trace()},
          std::vector<std::string>{"--html", page, "-o", a, "-x", header_only_trace()},
          std::vector<std::string>{"-o", a, "--html", page, "-c", "x", header_only_trace()}}) {
        r = run_dssview(args);
        EXPECT_EQ(r.status, 1) << args[4];
        EXPECT_EQ(read_file(page), "old page") << args[4];
        EXPECT_EQ(read_file(a), "old") << args[4];
    }
}

TEST(CommandLine, UnopenableOutputFileIsReportedWithStatusOne) {
    RunResult r = run_dssview({"-o", "/nonexistent-dir/x.txt", header_only_trace()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "/nonexistent-dir/x.txt: No such file or directory\n");
}

TEST(CommandLine, MissingInputFileIsAReadFailureWithStatus255) {
    RunResult r = run_dssview({"/nonexistent-trace.drdadbg"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "/nonexistent-trace.drdadbg: No such file or directory\n");
}

TEST(CommandLine, VersionOptions) {
    RunResult r = run_dssview({"-V"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("dssview ", 0), 0u) << r.out;
    EXPECT_EQ(r.err, "");

    r = run_dssview({"-version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    const char* labels[] = {"Program Name:\t\tdssview\n", "Build Version:\t\t", "Build Number:\t\t",
                            "Build Host:\t\t",           "Build OS:\t\t",      "Build Date:\t\t",
                            "Build Timestamp:\t",        "NUV Version:\t\tnone\n"};
    std::size_t pos = 0;
    int lines = 0;
    for (const char* label : labels) {
        ASSERT_EQ(r.out.compare(pos, std::strlen(label), label), 0) << r.out;
        pos = r.out.find('\n', pos) + 1;
        ++lines;
    }
    EXPECT_EQ(pos, r.out.size());
    EXPECT_EQ(lines, 8);
}

TEST(CommandLine, PortListIsCheckedLikeTheSelectionLists) {
    const std::string t = header_only_trace();
    for (const char* bad : {"0", "65536", "100000000", "1527,", ",1527", "15x", "", "1527;1528", "1527,,1528", "-1"}) {
        RunResult r = run_dssview({"--port", bad, t});
        EXPECT_EQ(r.status, 1) << bad;
        EXPECT_EQ(r.out, "") << bad;
        EXPECT_EQ(r.err, std::string("--port ") + bad +
                             ": not a list of port numbers from 1 to 65535 (such as 15270,15271)\n" + kUsage)
            << bad;
    }
    RunResult r = run_dssview({"-f", "--port"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, std::string("--port: a value must follow\n") + kUsage);
    r = run_dssview({"--port", "1,65535", "--port", "15270", t});
    EXPECT_EQ(r.status, 0) << r.err;
}

TEST(CommandLine, HelpListsEveryOptionOnStandardOutput) {
    for (const std::vector<std::string> args : {std::vector<std::string>{"-h"}, {"--help"}, {"-f", "--help", "x"},
                                                {"-h", "?"}}) {
        RunResult r = run_dssview(args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out.rfind("Usage: dssview [-f] [-r] [-s [-x]] [selection] [--keylog FILE] [--ascii] [--html FILE] [-o outfile] inpfile\n", 0), 0u)
            << r.out;
        for (const char* option : {"\n  -f ", "\n  -r ", "\n  -s ", "\n  -x ", "\n  -j ", "\n  -o outfile ", "\n  -V ",
                                   "\n  -version ", "\n  -h, --help ", "\n  -c LIST ", "\n  -n LIST ", "\n  --failed ",
                                   "\n  --slow MS ", "\n  --sql TEXT ", "\n  --from TIME ", "\n  --to TIME ", "\n  --html FILE ", "\n  --keylog FILE\n", "\n  --port N",
                                   "\n  --compare BASE NEW", "\n  --threshold R ", "\n  --fail-on LIST ",
                                   "\n  --ascii "})
            EXPECT_NE(r.out.find(option), std::string::npos) << option;
    }
}

TEST(CommandLine, SummaryAndJsonOfATraceWithNoRecords) {
    RunResult r = run_dssview({"-s", header_only_trace()});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    const std::string empty =
        "Overview\n"
        "input            trace file\n"
        "first            -\n"
        "last             -\n"
        "duration         -\n"
        "connections      0\n"
        "exchanges        0\n"
        "failed           0\n"
        "rows read        0\n"
        "rows changed     0\n"
        "bytes sent       0 (requester to server)\n"
        "bytes received   0 (server to requester)\n"
        "\nConnections: 0\n"
        "conn client > server user database client product server product secmec start duration ms exchanges "
        "failed server ms ended\n"
        "\nErrors: 0\n"
        " count error             record tokens\n"
        "\nSlowest exchanges: 0\n"
        "time            conn record command      server ms statement\n"
        "\nStatements by shape: 0\n"
        "execs errors       rows     total ms      mean ms       p95 ms       max ms shape\n";
    EXPECT_EQ(r.out, empty);
    // -x: the exchange lines first.
    r = run_dssview({"-s", "-x", header_only_trace()});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "Exchanges\n"
              "time            conn corr command       first ms     rows outcome          statement\n\n" + empty);
    // -x means nothing without -s.
    for (const std::vector<std::string> args : {std::vector<std::string>{"-x", header_only_trace()},
                                                {"-j", "-x", header_only_trace()}, {"-f", "-x", header_only_trace()},
                                                {"-s", "-xx", header_only_trace()}}) {
        r = run_dssview(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
    }
    r = run_dssview({"-j", header_only_trace()});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    // Not a trace: nothing but the reason, after the summary.
    const std::string t = temp_path("not_a_trace.txt");
    write_file(t, "hello world, no trace here");
    r = run_dssview({"-s", t});
    EXPECT_EQ(r.status, 255);
    EXPECT_TRUE(r.out.ends_with("max ms shape\n\nERROR: Invalid file format.\n")) << r.out;
    r = run_dssview({"-j", t});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, t + ": ERROR: Invalid file format.\n");
}

TEST(CommandLine, FullDiskOnOutputIsReportedNotSilent) {
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    // Enough records that the listing cannot stay in any buffer.
    std::vector<Record> recs(64, Record{.buffer = std::string(40000, 'x')});
    const std::string t = temp_path("big_for_full.drdadbg");
    write_file(t, make_trace(recs));
    RunResult r = run_dssview({"-o", "/dev/full", t});
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("/dev/full: No space left on device"), std::string::npos) << r.err;

    // A short output fails only when it is flushed at the end: still reported.
    r = run_dssview({"-o", "/dev/full", header_only_trace()});
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << r.err;
}

}  // namespace
