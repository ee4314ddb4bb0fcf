// SPDX-License-Identifier: Apache-2.0
// Command line of dssview: the version options and the run settings.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/compare_run.h"
#include "app/selection.h"
#include "capture/tls_keylog.h"

namespace drda {

// The command line as given: one field per option, nothing decided yet.
struct CommandLine {
    std::string program_name;  // argv[0] behind its last '/'
    std::string input;         // the last argument; "-": standard input
    std::optional<std::string> output;  // -o FILE
    std::optional<std::string> page;    // --html FILE
    std::vector<std::string> replaced;  // files named by an -o or --html given again
    bool format = false;       // -f (any argument beginning with -f)
    bool rows = false;         // -r
    bool summary = false;      // -s
    bool json = false;         // -j
    bool exchange_lines = false;  // -x
    bool ascii = false;        // --ascii: escapes beyond ASCII in any locale
    Selection selection;       // -c, -n, --failed, --slow, --sql, --from, --to
    std::vector<std::uint16_t> ports;  // --port: DRDA server ports beyond 446, 1527, 50000
    std::optional<std::string> keylog;  // --keylog FILE
    CompareOptions compare;    // --compare BASE NEW, --threshold, --fail-on
};

// What one run does, made once from the command line by make_plan: the
// only place where options are looked at. The driver follows it.
struct Plan {
    enum class Mode {
        listing,    // the record blocks (with -f or -r their decode), -s after them
        summary,    // -s alone
        json,       // -j
        page_only,  // --html alone: nothing but the page
        compare,    // --compare: two inputs read into the comparison (run_compare)
    };
    enum class Decode { none, format, rows };

    Mode mode = Mode::listing;
    Decode decode = Decode::none;   // listing only: -f, -r
    bool summary_after = false;     // listing with -s: the summary follows the listing
    bool exchange_lines = false;    // -s -x: one line per exchange first
    bool ascii = false;             // --ascii: escapes beyond ASCII whatever the locale
    std::optional<std::string> page;  // --html FILE, besides any mode
    Selection selection;
    std::vector<std::uint16_t> ports;  // DRDA server ports of a capture beyond the well-known ones
    // --keylog: the secrets of TLS connections, read whole when the plan is
    // made (null: only those the capture carries).
    std::shared_ptr<capture::KeyLog> keys;
    std::string input;              // "-": standard input, read as it comes
    std::optional<std::string> output;  // none: standard output
    // Files named by an -o or --html that a later one replaced: created or
    // truncated as the run begins, nothing written to them.
    std::vector<std::string> replaced;
    // Mode::compare: both inputs, --threshold, --fail-on; the comparison as
    // text, as JSON Lines (-j) or, with --html alone, only the page. The
    // selection, --port and --ascii apply to both inputs as above.
    CompareOptions compare;
    bool compare_json = false;

    bool listing() const { return mode == Mode::listing; }
    // The -s view is written: alone or after the listing.
    bool summary() const { return mode == Mode::summary || summary_after; }
    // Exchange options with the listing: a first pass finds the records of
    // the selected exchanges.
    bool two_passes() const { return listing() && selection.exchange_options(); }
};

// Answers -V and -version when given as the only argument: prints on `out`
// and returns true (the caller ends the process with status 0). Returns false
// when neither applies.
bool version_option(int argc, const char* const* argv, std::FILE* out);

// Reads the command line into `line`. Returns 0 when it was read, 1 when
// -h or --help asks for the help text, -1 when the run must stop (the usage
// is already on `err`). Opens no file.
int parse_args(int argc, const char* const* argv, CommandLine& line, std::FILE* err);

// The plan of a command line read by parse_args; false (the usage on `err`)
// when its options do not go together.
bool make_plan(const CommandLine& line, Plan& plan, std::FILE* err);

// The three usage lines.
void print_usage(const std::string& program_name, std::FILE* err);

// The help text of -h and --help: every option.
void print_help(const std::string& program_name, std::FILE* out);

}  // namespace drda
