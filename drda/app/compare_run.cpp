// SPDX-License-Identifier: Apache-2.0
#include "app/compare_run.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "app/cli.h"
#include "app/driver.h"
#include "app/live_run.h"
#include "build_info.h"
#include "common/text_policy.h"
#include "compare/comparison.h"
#include "compare/report.h"
#include "compare/run_aggregate.h"

namespace drda {

int parse_compare_option(int argc, const char* const* argv, int& i, CompareOptions& o, std::FILE* err) {
    const std::string_view opt = argv[i];
    if (opt != "--compare" && opt != "--threshold" && opt != "--fail-on") return 0;
    const int values = opt == "--compare" ? 2 : 1;
    if (i + values > argc - 1) {
        std::fprintf(err, "%s: %s must follow\n", argv[i], values == 2 ? "two inputs" : "a value");
        return -1;
    }
    if (opt == "--compare") {
        if (o.given) {
            std::fprintf(err, "--compare: given twice\n");
            return -1;
        }
        o.given = true;
        o.base = argv[++i];
        o.next = argv[++i];
        return 1;
    }
    const char* value = argv[++i];
    if (opt == "--threshold") {
        char* end = nullptr;
        const double r = std::strtod(value, &end);
        if (!*value || *end != '\0' || !std::isfinite(r) || r <= 1) {
            std::fprintf(err, "--threshold %s: not a ratio above 1 (such as 2 or 1.5)\n", value);
            return -1;
        }
        o.threshold = r;
        o.threshold_given = true;
        return 1;
    }
    // --fail-on: names separated by commas.
    const std::string_view list = value;
    std::size_t at = 0;
    bool any = false;
    while (at <= list.size()) {
        std::size_t comma = list.find(',', at);
        if (comma == std::string_view::npos) comma = list.size();
        const std::string_view name = list.substr(at, comma - at);
        bool known = false;
        for (const compare::FailOnName& n : compare::kFailOnNames) {
            if (n.name == name) {
                o.fail_on |= n.bit;
                known = any = true;
            }
        }
        if (!known) {
            std::fprintf(err, "--fail-on %s: not a list of slower, new-error, new, gone\n", value);
            return -1;
        }
        at = comma + 1;
    }
    return any ? 1 : -1;
}

namespace {

// One input read into `run`; -1 when it cannot be read to its end.
int collect(const std::string& name, const Plan& plan, compare::RunAggregate& run, std::FILE* err) {
    run.name = name;
    const bool from_stdin = is_stdin_name(name);
    std::FILE* in = from_stdin ? stdin : std::fopen(name.c_str(), "rb");
    if (!in) {
        std::fprintf(err, "%s: %s\n", name.c_str(), std::strerror(errno));
        return -1;
    }
    compare::RunCollector collector(run);
    NullSink nothing;
    TextWriter quiet(nothing);
    // The selection's times of day are fixed by each input's first record.
    const int result = read_trace_stream(in, from_stdin ? "standard input" : name, quiet, err, plan, &collector);
    if (!from_stdin) std::fclose(in);
    return result;
}

}  // namespace

int run_compare(const Plan& plan, std::FILE* out_file, const std::string& out_name, std::FILE* page_file,
                std::FILE* err) {
    const CompareOptions& o = plan.compare;
    compare::RunAggregate base, next;
    int result = collect(o.base, plan, base, err);
    if (!base.finished) return -1;  // not opened
    const int second = collect(o.next, plan, next, err);
    if (!next.finished) return -1;
    if (second != 0) result = second;
    const compare::Comparison c = compare::compare_runs(base, next, o.threshold);
    try {
        FileSink sink(out_file, out_name);
        TextWriter out(sink);
        out.set_text_mode(text::output_mode(plan.ascii));
        if (plan.compare_json) compare::write_json(out, c);
        else if (!plan.page) compare::write_text(out, c);
        out.flush();
        if (plan.page) {
            FileSink page_sink(page_file, *plan.page);
            TextWriter page(page_sink);
            compare::write_page(page, c, build::kProductVersion);
            page.flush();
        }
    } catch (const OutputError& e) {
        std::fprintf(err, "%s\n", e.what());
        return -1;
    }
    if (result != 0) return -1;
    return (compare::changes_found(c) & o.fail_on) ? kCompareChangeStatus : 0;
}

}  // namespace drda
