// SPDX-License-Identifier: Apache-2.0
// Command line of dssview: the version options and the run settings.
#pragma once

#include <cstdio>
#include <cstdint>
#include <string>
#include <vector>

#include "app/compare_run.h"
#include "app/selection.h"

namespace drda {

// Settings of one run, fixed by parse_args before the trace is read.
struct RunSettings {
    std::string program_name;           // argv[0] behind its last '/'
    std::string input_name;             // the trace file (last argument)
    std::FILE* out = nullptr;           // the -o file, else standard output
    std::string out_name = "standard output";
    bool out_is_file = false;
    bool format = false;                // -f: decode each buffer
    bool rows = false;                  // -r: also show rows (implies -f)
    bool summary = false;               // -s: the summary of the exchanges
    bool json = false;                  // -j: the exchanges as JSON Lines
    bool exchange_lines = false;        // -x: -s with one line per exchange
    bool help = false;                  // -h or --help
    std::FILE* html = nullptr;          // --html FILE: the page goes there
    std::string html_name;
    Selection selection;                // -c, -n, --failed, --slow, --sql, --from, --to
    CompareOptions compare;             // --compare BASE NEW, --threshold, --fail-on
    std::vector<std::uint16_t> ports;   // --port: DRDA server ports beyond 446, 1527, 50000
};

// Answers -V and -version when given as the only argument: prints on `out`
// and returns true (the caller ends the process with status 0). Returns false
// when neither applies.
bool version_option(int argc, const char* const* argv, std::FILE* out);

// Reads the command line into `settings`. Returns 0 when the settings are
// complete, 1 when -h or --help asks for the help text (settings.help),
// -1 when the run must stop (the reason is already on `err`).
// A -o file is opened (created or truncated) as soon as it is read.
int parse_args(int argc, const char* const* argv, RunSettings& settings, std::FILE* err);

// The three usage lines.
void print_usage(const std::string& program_name, std::FILE* err);

// The help text of -h and --help: every option.
void print_help(const std::string& program_name, std::FILE* out);

}  // namespace drda
