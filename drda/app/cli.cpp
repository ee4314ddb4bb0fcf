// SPDX-License-Identifier: Apache-2.0
#include "app/cli.h"

#include <cstring>
#include <string_view>
#include <vector>

#include "build_info.h"

namespace drda {

bool version_option(int argc, const char* const* argv, std::FILE* out) {
    if (argc != 2) return false;
    const char* arg = argv[1];
    if (std::strcmp(arg, "-version") == 0) {
        std::fprintf(out, "Program Name:\t\t%s\n", "dssview");
        std::fprintf(out, "Build Version:\t\t%s\n", build::kVersion);
        std::fprintf(out, "Build Number:\t\t%s\n", build::kNumber);
        std::fprintf(out, "Build Host:\t\t%s\n", build::kHost);
        std::fprintf(out, "Build OS:\t\t%s\n", build::kOs);
        std::fprintf(out, "Build Date:\t\t%s\n", build::kDate);
        std::fprintf(out, "Build Timestamp:\t%s\n", build::kTimestamp);
        std::fprintf(out, "NUV Version:\t\t%s\n", build::kLocaleLibraryVersion);
        return true;
    }
    if (std::strcmp(arg, "-V") == 0) {
        std::fprintf(out, "%s\n", build::kProductVersion);
        return true;
    }
    return false;
}

void print_usage(const std::string& program_name, std::FILE* err) {
    std::fprintf(err, "Usage: %s [-f] [-o outfile] inpfile\n", program_name.c_str());
    std::fprintf(err, "\t-f: format hex dump\n");
    std::fprintf(err, "\n\n");
}

void print_help(const std::string& program_name, std::FILE* out) {
    std::fprintf(out,
                 "Usage: %s [-f] [-r] [-s [-x]] [selection] [--keylog FILE] [--ascii] [--html FILE] [-o outfile] inpfile\n"
                 "       %s -j [selection] [--keylog FILE] [--html FILE] [-o outfile] inpfile\n"
                 "       %s --compare BASE NEW [-j] [--threshold R] [--fail-on LIST] [selection]\n"
                 "               [--keylog FILE] [--ascii] [--html FILE] [-o outfile]\n"
                 "       %s -V | -version | -h | --help\n"
                 "\n"
                 "Formats a DRDA communications trace (DRDADBG file) or a packet capture of\n"
                 "DRDA connections (pcap, pcapng).\n"
                 "\n"
                 "  -f          after the raw listing of each buffer, decode it: DSS headers,\n"
                 "              DDM objects and values (any argument beginning with -f)\n"
                 "  -r          decode as -f does and show the rows of SQL data\n"
                 "  -s          instead of the listing, a summary: the overview, the\n"
                 "              connections, the errors, the slowest exchanges and the\n"
                 "              statements grouped by shape; with -f or -r the summary\n"
                 "              follows the listing\n"
                 "  -x          with -s: begin the summary with one line per exchange\n"
                 "  -j          one JSON object per exchange and line (JSON Lines); not with\n"
                 "              -f, -r or -s\n"
                 "  --html FILE write a report to FILE: one self-contained HTML page with the\n"
                 "              overview, a timeline, latency histograms, the -s tables and\n"
                 "              the -r text of the failed and slowest exchanges; alone it\n"
                 "              writes nothing else, with -s, -j, -f or -r both are written\n"
                 "  --compare BASE NEW\n"
                 "              what changed from BASE to NEW (two traces or captures): the\n"
                 "              overview side by side with the common factor, the statements\n"
                 "              by shape that got SLOWER or FASTER (by executions, beyond the\n"
                 "              run's common factor and noise), NEW or GONE, the errors and\n"
                 "              the connection facts that changed; with -j as JSON Lines, with\n"
                 "              --html FILE as a page; the selection and --port apply to both\n"
                 "              inputs\n"
                 "  --threshold R  with --compare: SLOWER or FASTER from a ratio of medians\n"
                 "              (over the common factor) of R or 1/R on (default 2)\n"
                 "  --fail-on LIST  with --compare: exit status 3 when one of these changes\n"
                 "              is found: slower, new-error, new, gone (e.g. slower,new-error)\n"
                 "  --ascii     show every character beyond ASCII in -r, -s and -x as an escape\n"
                 "              (\\u00fc, \\xFC), as in a locale that is not UTF-8\n"
                 "  --keylog FILE\n"
                 "              decrypt TLS connections of a capture with the secrets in\n"
                 "              FILE, a key log as TLS libraries write it (SSLKEYLOGFILE);\n"
                 "              keys the capture carries (pcapng) are used without it\n"
                 "  -o outfile  write to outfile instead of standard output\n"
                 "  --port N[,N...]\n"
                 "              DRDA server ports of a capture beyond 446, 1527 and 50000:\n"
                 "              a connection on one is shown even when its first bytes are\n"
                 "              not a DSS header\n"
                 "  inpfile     the trace or capture; - reads standard input as it comes\n"
                 "              (e.g. from tcpdump --immediate-mode -U -w -) and prints each\n"
                 "              record and exchange as soon as it is complete\n"
                 "  -V          print the product version (as the only argument)\n"
                 "  -version    print the build description (as the only argument)\n"
                 "  -h, --help  print this help\n"
                 "\n"
                 "Characters: in a UTF-8 locale (LC_ALL, LC_CTYPE or LANG, the first that is\n"
                 "set) -r, -s and -x show names, statements and values as UTF-8; in any other\n"
                 "locale, and with --ascii, as escapes. Control characters, bidirectional\n"
                 "controls and bytes not valid in their CCSID are escapes in every locale.\n"
                 "\n"
                 "Selection (with the listing, -f, -r, -s and -j; the options combine with AND,\n"
                 "the items of a list with OR). The listing modes print the blocks of the\n"
                 "selected records unchanged; -s and -j count only the selected exchanges.\n"
                 "  -c LIST       connections by number (-c 3, -c 3,7-9); a trace file is\n"
                 "                connection 1\n"
                 "  -n LIST       records by number (-n 52, -n 50-60,75)\n"
                 "  --failed      exchanges whose outcome is not ok, or that got no reply\n"
                 "  --slow MS     exchanges with a server time of at least MS milliseconds\n"
                 "  --sql TEXT    exchanges whose statement contains TEXT (any case)\n"
                 "  --from TIME   records (listing) or exchanges (-s, -j) from TIME on\n"
                 "  --to TIME     ... up to TIME; TIME as the output prints it\n"
                 "                (\"2026-12-09 00:07:56.25\") or a time of day alone, on the\n"
                 "                day of the first record\n"
                 "Example: the decode of every failed exchange: %s -r --failed capture.pcapng\n",
                 program_name.c_str(), program_name.c_str(), program_name.c_str(), program_name.c_str(),
                 program_name.c_str());
}

namespace {

// --port N[,N...]: ports from 1 to 65535, added to `ports`.
bool parse_ports(std::string_view text, std::vector<std::uint16_t>& ports) {
    std::vector<std::uint16_t> got;
    std::size_t i = 0;
    for (;;) {
        unsigned long n = 0;
        const std::size_t begin = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - begin < 6) n = n * 10 + (text[i++] - '0');
        if (i == begin || n == 0 || n > 65535) return false;
        got.push_back(static_cast<std::uint16_t>(n));
        if (i == text.size()) break;
        if (text[i++] != ',') return false;
    }
    ports.insert(ports.end(), got.begin(), got.end());
    return true;
}

}  // namespace

int parse_args(int argc, const char* const* argv, CommandLine& c, std::FILE* err) {
    const char* argv0 = argc > 0 && argv[0] ? argv[0] : "dssview";
    const char* slash = std::strrchr(argv0, '/');
    c.program_name = slash ? slash + 1 : argv0;
    const auto usage = [&] {
        print_usage(c.program_name, err);
        return -1;
    };

    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const bool last = i == argc - 1;
        if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0) return 1;
        const int selection = parse_selection_option(argc, argv, i, c.selection, err);
        if (selection < 0) return usage();
        if (selection > 0) continue;
        const int compare = parse_compare_option(argc, argv, i, c.compare, err);
        if (compare < 0) return usage();
        if (compare > 0) continue;
        if (std::strcmp(arg, "--ascii") == 0) {
            c.ascii = true;
            continue;
        }
        if (std::strcmp(arg, "--keylog") == 0) {
            if (last) return usage();  // the file name must follow
            c.keylog = argv[++i];
            continue;
        }
        if (std::strcmp(arg, "--port") == 0) {
            if (last) {
                std::fprintf(err, "%s: a value must follow\n", arg);
                return usage();
            }
            if (!parse_ports(argv[++i], c.ports)) {
                std::fprintf(err, "%s %s: not a list of port numbers from 1 to 65535 (such as 15270,15271)\n", arg,
                             argv[i]);
                return usage();
            }
            continue;
        }
        if (std::strcmp(arg, "--html") == 0) {
            if (last) return usage();  // the file name must follow
            if (c.page) c.replaced.push_back(*c.page);
            c.page = argv[++i];
            continue;
        }
        // "-" alone is an input name: standard input.
        if (arg[0] == '-' && arg[1] != '\0') {
            if (arg[1] == 'f') {
                c.format = true;
            } else if (arg[1] == 'r' && arg[2] == '\0') {
                c.rows = true;
            } else if (arg[1] == 's' && arg[2] == '\0') {
                c.summary = true;
            } else if (arg[1] == 'j' && arg[2] == '\0') {
                c.json = true;
            } else if (arg[1] == 'x' && arg[2] == '\0') {
                c.exchange_lines = true;
            } else if (arg[1] == 'o') {
                // The file name must follow; "-o" at the end names nothing.
                if (arg[2] != '\0' || last) return usage();
                if (c.output) c.replaced.push_back(*c.output);
                c.output = argv[++i];
            } else {
                return usage();
            }
        } else {
            if (std::strchr(arg, '?') || !last) return usage();
            c.input = arg;
        }
    }
    return 0;
}

bool make_plan(const CommandLine& c, Plan& plan, std::FILE* err) {
    // --compare names both inputs and prints the comparison alone (or its
    // JSON Lines, or its page); --threshold and --fail-on go with it only.
    // -j writes nothing but JSON: no listing, no summary beside it.
    // -x adds the exchange lines to -s and means nothing without it.
    const bool compare_ok = c.compare.given
                                ? c.input.empty() && !c.format && !c.rows && !c.summary && !c.exchange_lines
                                : !c.compare.threshold_given && !c.compare.fail_on;
    if (!compare_ok || (c.input.empty() && !c.compare.given) || (c.json && (c.format || c.rows || c.summary)) ||
        (c.exchange_lines && !c.summary)) {
        print_usage(c.program_name, err);
        return false;
    }
    plan = Plan();
    const bool decode = c.format || c.rows;
    if (c.compare.given) plan.mode = Plan::Mode::compare;
    else if (c.json) plan.mode = Plan::Mode::json;
    else if (decode || (!c.summary && !c.page)) plan.mode = Plan::Mode::listing;
    else if (c.summary) plan.mode = Plan::Mode::summary;
    else plan.mode = Plan::Mode::page_only;
    plan.decode = c.rows ? Plan::Decode::rows : c.format ? Plan::Decode::format : Plan::Decode::none;
    plan.summary_after = plan.listing() && c.summary;
    plan.exchange_lines = c.exchange_lines;
    plan.ascii = c.ascii;
    plan.page = c.page;
    plan.selection = c.selection;
    plan.ports = c.ports;
    plan.input = c.input;
    plan.output = c.output;
    plan.replaced = c.replaced;
    if (c.keylog) {
        // A key log that cannot be read or holds a malformed line stops
        // the run: decrypting with part of it would mislead.
        plan.keys = std::make_shared<capture::KeyLog>();
        std::string error;
        if (!plan.keys->load_file(*c.keylog, error)) {
            std::fprintf(err, "%s\n", error.c_str());
            return false;
        }
    }
    plan.compare = c.compare;
    plan.compare_json = c.compare.given && c.json;
    return true;
}

}  // namespace drda
