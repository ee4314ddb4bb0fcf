// SPDX-License-Identifier: Apache-2.0
// The JSON Lines of --compare -j: one object per line, "kind" first.
#include <cinttypes>
#include <cmath>

#include "compare/report.h"
#include "summary/views.h"

namespace drda::compare {
namespace {

using summary::put_json_string;

// A number as JSON has it: null when it is none.
void num(TextWriter& w, double v, int decimals = 3) {
    if (!std::isfinite(v)) {
        w.put("null");
        return;
    }
    summary::put_fixed(w, v, decimals);
}

void run_object(TextWriter& w, const RunAggregate& a, const RunFigures& f) {
    w.put("{\"input\":");
    put_json_string(w, a.name);
    w.put(",\"duration_s\":");
    num(w, f.duration_s, 6);
    w.printf(",\"connections\":%" PRIu64 ",\"executions\":%" PRIu64 ",\"exchanges\":%" PRIu64 ",\"failed\":%" PRIu64
             ",\"rows_read\":%" PRIu64 ",\"rows_changed\":%" PRIu64 ",\"executions_per_s\":",
             a.connections, a.executions, a.figures.exchanges, a.figures.failed, a.figures.rows_read,
             a.figures.rows_changed);
    num(w, f.per_second, 3);
    w.put(",\"p50_ms\":");
    num(w, f.p50);
    w.put(",\"p95_ms\":");
    num(w, f.p95);
    w.put('}');
}

void side_object(TextWriter& w, const ShapeSide& s) {
    w.printf("{\"executions\":%" PRIu64 ",\"errors\":%" PRIu64 ",\"rows\":%" PRIu64 ",\"p50_ms\":", s.executions,
             s.errors, s.rows);
    num(w, s.p50);
    w.put(",\"p95_ms\":");
    num(w, s.p95);
    w.put(",\"total_ms\":");
    num(w, s.total);
    w.put('}');
}

void label(TextWriter& w, Label l) {
    w.put(",\"label\":\"");
    w.put(label_name(l));
    w.put('"');
}

}  // namespace

void write_json(TextWriter& w, const Comparison& c) {
    w.put("{\"kind\":\"overview\",\"base\":");
    run_object(w, *c.base, c.base_figures);
    w.put(",\"new\":");
    run_object(w, *c.next, c.next_figures);
    w.put(",\"common_factor\":");
    num(w, c.factor, 6);
    w.printf(",\"factor_shapes\":%zu,\"threshold\":", c.factor_shapes);
    num(w, c.threshold, 6);
    w.printf(",\"changed\":%zu,\"unchanged\":%zu}\n", c.shapes.size() - c.unchanged, c.unchanged);
    for (const ShapeChange& s : c.shapes) {
        w.put("{\"kind\":\"shape\",\"shape\":");
        put_json_string(w, s.shape);
        label(w, s.label);
        w.put(",\"before\":");
        side_object(w, s.before);
        w.put(",\"after\":");
        side_object(w, s.after);
        w.put(",\"ratio\":");
        num(w, s.has_ratio ? s.ratio : NAN, 6);
        w.put(",\"impact_ms\":");
        num(w, s.impact);
        w.put(",\"p_value\":");
        if (s.has_p) w.printf("%.6g", s.p);
        else w.put("null");
        w.put("}\n");
    }
    for (const ErrorChange& e : c.errors) {
        w.put("{\"kind\":\"error\",\"error\":");
        put_json_string(w, e.error);
        w.put(",\"sqlstate\":");
        put_json_string(w, e.sqlstate);
        label(w, e.label);
        w.printf(",\"before\":%" PRIu64 ",\"after\":%" PRIu64, e.before, e.after);
        for (const auto& [key, k] : {std::pair{"base_record", e.base}, std::pair{"new_record", e.next}})
            if (k) w.printf(",\"%s\":%d", key, k->record);
        w.put("}\n");
    }
    for (const FactChange& f : c.facts) {
        w.put("{\"kind\":\"connection\",\"fact\":\"");
        w.put(fact_name(f.kind));
        w.put("\",\"value\":");
        put_json_string(w, f.value);
        label(w, f.label);
        w.printf(",\"before\":%" PRIu64 ",\"after\":%" PRIu64 "}\n", f.before, f.after);
    }
}

}  // namespace drda::compare
