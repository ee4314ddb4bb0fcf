// SPDX-License-Identifier: Apache-2.0
// The text of --compare.
#include <cinttypes>

#include "compare/report.h"
#include "summary/views.h"

namespace drda::compare {
namespace {

using summary::put_printable;

void row(TextWriter& w, const char* name, const std::string& a, const std::string& b) {
    w.printf("  %-34s %16s %16s\n", name, a.c_str(), b.c_str());
}
std::string u(std::uint64_t v) { return std::to_string(v); }
std::string f(double v, int decimals = 3) {
    char b[64];
    std::snprintf(b, sizeof b, "%.*f", decimals, v);
    return b;
}
std::string signed_ms(double v) {
    char b[64];
    std::snprintf(b, sizeof b, "%+.3f ms", v);
    return b;
}

void side_line(TextWriter& w, const char* run, const ShapeSide& s) {
    w.printf("    %-4s %10" PRIu64 " %7" PRIu64 " %10" PRIu64 " %11.3f %11.3f %13.3f\n", run, s.executions, s.errors,
             s.rows, s.p50, s.p95, s.total);
}

void shape_block(TextWriter& w, const ShapeChange& s, double factor) {
    w.put("  ");
    put_printable(w, s.shape);
    w.put("\n    ");
    if (s.has_ratio) {
        w.printf("ratio %.3f (%.3f over the common factor), ", s.ratio, s.ratio / factor);
    }
    w.printf("impact %s", signed_ms(s.impact).c_str());
    if (s.has_p) w.printf(", p %.2g (%s)", s.p, s.exact ? "exact" : "normal approximation");
    w.put('\n');
    w.put("         executions  errors       rows      p50 ms      p95 ms      total ms\n");
    side_line(w, "BASE", s.before);
    side_line(w, "NEW", s.after);
}

void notes(TextWriter& w, const char* run, const RunAggregate& a) {
    if (a.forced)
        w.printf("  Note: %s: %" PRIu64 " executions ended early: more than %zu open at once\n", run, a.forced,
                 kMaxOpenExecutions);
    if (a.shapes.not_grouped())
        w.printf("  Note: %s: %" PRIu64 " executions not grouped: more than %zu shapes\n", run, a.shapes.not_grouped(),
                 summary::kMaxShapes);
    if (a.errors_more)
        w.printf("  Note: %s: %" PRIu64 " failures not grouped: more than %zu kinds of error\n", run, a.errors_more,
                 summary::kMaxErrorKinds);
    if (a.facts_more)
        w.printf("  Note: %s: %" PRIu64 " connection facts not kept: more than %zu values of one\n", run, a.facts_more,
                 kMaxFactValues);
    if (!a.input.selection.empty()) w.printf("  Note: %s: selected: %s\n", run, a.input.selection.c_str());
}

}  // namespace

void write_text(TextWriter& w, const Comparison& c) {
    const RunAggregate& a = *c.base;
    const RunAggregate& b = *c.next;
    const RunFigures& fa = c.base_figures;
    const RunFigures& fb = c.next_figures;
    w.put("Comparison\n  BASE ");
    put_printable(w, a.name);
    w.put("\n  NEW  ");
    put_printable(w, b.name);
    w.put("\n\nOverview");
    w.printf("%*s%16s %16s\n", 37 - 8, "", "BASE", "NEW");
    row(w, "duration (s)", f(fa.duration_s), f(fb.duration_s));
    row(w, "connections", u(a.connections), u(b.connections));
    row(w, "executions", u(a.executions), u(b.executions));
    row(w, "exchanges", u(a.figures.exchanges), u(b.figures.exchanges));
    row(w, "failed exchanges", u(a.figures.failed), u(b.figures.failed));
    row(w, "rows read", u(a.figures.rows_read), u(b.figures.rows_read));
    row(w, "rows changed", u(a.figures.rows_changed), u(b.figures.rows_changed));
    row(w, "executions per second", f(fa.per_second, 1), f(fb.per_second, 1));
    row(w, "server ms per execution, p50", f(fa.p50), f(fb.p50));
    row(w, "server ms per execution, p95", f(fa.p95), f(fb.p95));
    if (c.factor_shapes >= kMinFactorShapes)
        w.printf("  %-34s %33.3f  (median ratio of %zu shapes)\n", "common factor", c.factor, c.factor_shapes);
    else
        w.printf("  %-34s %33.3f  (%zu shapes with %" PRIu64 " executions in each run: too few to take it from)\n",
                 "common factor", c.factor, c.factor_shapes, kMinExecutions);
    notes(w, "BASE", a);
    notes(w, "NEW", b);

    const std::size_t changed = c.shapes.size() - c.unchanged;
    w.printf("\nStatements that changed: %zu of %zu shapes\n", changed, c.shapes.size());
    w.printf("  (by executions; SLOWER or FASTER: median ratio over the common factor at least %g or at most 1/%g,\n"
             "  rank-sum p < %g, at least %" PRIu64 " executions in each run; impact: NEW total minus BASE time\n"
             "  per execution times NEW executions)\n",
             c.threshold, c.threshold, kMaxP, kMinExecutions);
    for (const Label group : {Label::slower, Label::faster, Label::added, Label::gone}) {
        std::size_t n = 0;
        for (const ShapeChange& s : c.shapes) n += s.label == group;
        if (!n) continue;
        w.printf("\n%s: %zu\n", std::string(label_name(group)).c_str(), n);
        for (const ShapeChange& s : c.shapes)
            if (s.label == group) shape_block(w, s, c.factor);
    }
    w.printf("\nUnchanged: %zu shapes\n", c.unchanged);

    std::size_t same_errors = 0;
    for (const ErrorChange& e : c.errors) same_errors += e.label == Label::same;
    w.printf("\nErrors that changed: %zu of %zu\n", c.errors.size() - same_errors, c.errors.size());
    for (const ErrorChange& e : c.errors) {
        if (e.label == Label::same) continue;
        w.printf("  %-8s ", std::string(label_name(e.label)).c_str());
        put_printable(w, e.error);
        if (!e.sqlstate.empty()) {
            w.put(' ');
            put_printable(w, e.sqlstate);
        }
        w.printf("   BASE %" PRIu64 ", NEW %" PRIu64, e.before, e.after);
        for (const auto& [run, k] : {std::pair{"BASE", e.base}, std::pair{"NEW", e.next}}) {
            if (!k) continue;
            w.printf("; first in %s: record %d", run, k->record);
            if (k->has_conn) w.printf(", connection %u", k->conn);
        }
        w.put('\n');
    }
    if (same_errors) w.printf("  Unchanged: %zu\n", same_errors);

    w.printf("\nConnections that changed: %zu\n", c.facts.size());
    for (const FactChange& fc : c.facts) {
        w.printf("  %-6s %-20s ", std::string(label_name(fc.label)).c_str(), std::string(fact_name(fc.kind)).c_str());
        put_printable(w, fc.value);
        w.printf("   (connections: BASE %" PRIu64 ", NEW %" PRIu64 ")\n", fc.before, fc.after);
    }
}

}  // namespace drda::compare
