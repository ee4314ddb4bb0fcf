// SPDX-License-Identifier: Apache-2.0
// The page of --compare --html: the overview side by side, the statements
// that changed with both runs' latency histograms on one axis, the errors
// and the connection facts. Self-contained as the report page is; every
// text from the inputs is escaped where it is written.
#include <algorithm>
#include <cinttypes>
#include <cmath>

#include "compare/report.h"
#include "html/escape.h"
#include "html/page_assets.h"

namespace drda::compare {
namespace {

using html::put_escaped;
using html::put_escaped_cut;
using html::put_printable_escaped;

std::string f3(double v) {
    char b[64];
    std::snprintf(b, sizeof b, "%.3f", v);
    return b;
}

void cell(TextWriter& w, const std::string& v, bool numeric = true) {
    w.put(numeric ? "<td class=\"n\">" : "<td>");
    put_escaped(w, v);
    w.put("</td>");
}

void overview(TextWriter& w, const Comparison& c) {
    const RunAggregate& a = *c.base;
    const RunAggregate& b = *c.next;
    w.put("<section id=\"overview\"><h2>Overview</h2>\n<table><thead><tr><th></th><th class=\"n\">BASE</th>"
          "<th class=\"n\">NEW</th></tr></thead><tbody>\n");
    const auto row = [&](const char* name, const std::string& x, const std::string& y) {
        w.put("<tr><td>");
        w.put(name);
        w.put("</td>");
        cell(w, x);
        cell(w, y);
        w.put("</tr>\n");
    };
    const auto u = [](std::uint64_t v) { return std::to_string(v); };
    row("input", a.name, b.name);
    row("duration (s)", f3(c.base_figures.duration_s), f3(c.next_figures.duration_s));
    row("connections", u(a.connections), u(b.connections));
    row("executions", u(a.executions), u(b.executions));
    row("exchanges", u(a.figures.exchanges), u(b.figures.exchanges));
    row("failed exchanges", u(a.figures.failed), u(b.figures.failed));
    row("rows read", u(a.figures.rows_read), u(b.figures.rows_read));
    row("rows changed", u(a.figures.rows_changed), u(b.figures.rows_changed));
    row("executions per second", f3(c.base_figures.per_second), f3(c.next_figures.per_second));
    row("server ms per execution, p50", f3(c.base_figures.p50), f3(c.next_figures.p50));
    row("server ms per execution, p95", f3(c.base_figures.p95), f3(c.next_figures.p95));
    w.put("</tbody></table>\n<p>Common factor (median of the ratios of the medians of ");
    w.put_udec(c.factor_shapes);
    w.put(" shapes): <b>");
    w.put(f3(c.factor));
    w.put("</b>. A shape is SLOWER or FASTER when its ratio over the common factor is at least ");
    w.printf("%g or at most 1/%g, with a rank-sum p below %g and at least %" PRIu64
             " executions in each run.</p></section>\n",
             c.threshold, c.threshold, kMaxP, kMinExecutions);
}

// Both runs' server times per execution on one logarithmic axis.
void histograms(TextWriter& w, const ShapeChange& s) {
    const std::vector<float>* sets[2] = {&s.base->samples, &s.next->samples};
    double lo = INFINITY, hi = 0;
    for (const auto* v : sets)
        for (const float t : *v)
            if (t > 0) lo = std::min(lo, static_cast<double>(t)), hi = std::max(hi, static_cast<double>(t));
    if (!std::isfinite(lo)) lo = 0.001;
    if (hi < lo) hi = lo;
    const double d0 = std::floor(std::log10(std::max(lo, 1e-6)));
    const double d1 = std::max(d0 + 1, std::ceil(std::log10(std::max(hi, 1e-6)) + 1e-9));
    const int slots = static_cast<int>(std::min(80.0, (d1 - d0) * 4));
    constexpr double kW = 520, kH = 130, kL = 36, kB = 18, kT = 6;
    const double pw = kW - kL - 8, ph = kH - kB - kT;
    const auto x_of = [&](double l) { return kL + std::clamp((l - d0) / (d1 - d0), 0.0, 1.0) * pw; };
    std::vector<std::uint64_t> count[2];
    std::uint64_t peak = 1;
    for (int r = 0; r < 2; ++r) {
        count[r].assign(static_cast<std::size_t>(slots), 0);
        for (const float t : *sets[r]) {
            const double l = std::log10(std::max(static_cast<double>(t), std::pow(10.0, d0)));
            ++count[r][static_cast<std::size_t>(std::clamp(static_cast<int>((l - d0) * 4), 0, slots - 1))];
        }
        peak = std::max(peak, *std::max_element(count[r].begin(), count[r].end()));
    }
    w.printf("<svg class=\"histogram\" viewBox=\"0 0 %.0f %.0f\" width=\"%.0f\" role=\"img\">\n", kW, kH, kW);
    for (int r = 0; r < 2; ++r) {
        for (int k = 0; k < slots; ++k) {
            const std::uint64_t n = count[r][static_cast<std::size_t>(k)];
            if (!n) continue;
            const double xa = x_of(d0 + k / 4.0), xb = x_of(d0 + (k + 1) / 4.0);
            const double bw = std::max(1.0, (xb - xa - 1) / 2);
            const double h = std::max(1.0, static_cast<double>(n) / static_cast<double>(peak) * ph);
            w.printf("<rect class=\"%s\" x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\"><title>%s: %.4g to %.4g ms: "
                     "%" PRIu64 " executions</title></rect>\n",
                     r ? "ebar" : "bar", xa + 0.5 + r * bw, kT + ph - h, bw, h, r ? "NEW" : "BASE",
                     std::pow(10.0, d0 + k / 4.0), std::pow(10.0, d0 + (k + 1) / 4.0), n);
        }
    }
    w.printf("<line class=\"ax\" x1=\"%.0f\" x2=\"%.0f\" y1=\"%.0f\" y2=\"%.0f\"/>\n", kL, kL + pw, kT + ph, kT + ph);
    for (double d = d0; d <= d1 + 1e-9; d += 1)
        w.printf("<text x=\"%.1f\" y=\"%.0f\">%.4g</text>", x_of(d) - 8, kH - 4, std::pow(10.0, d));
    w.printf("<text x=\"%.0f\" y=\"%.0f\">ms</text>\n</svg>\n", kL + pw - 14, kH - 4);
}

void shapes(TextWriter& w, const Comparison& c) {
    w.printf("<section id=\"shapes\"><h2>Statements that changed: %zu of %zu shapes</h2>\n",
             c.shapes.size() - c.unchanged, c.shapes.size());
    w.put("<div class=\"scroll\"><table class=\"sortable\"><thead><tr><th>label</th><th>shape</th>"
          "<th class=\"n\">executions</th><th class=\"n\">errors</th><th class=\"n\">rows</th>"
          "<th class=\"n\">p50 ms</th><th class=\"n\">p95 ms</th><th class=\"n\">total ms</th>"
          "<th class=\"n\">ratio</th><th class=\"n\">impact ms</th><th class=\"n\">p</th></tr></thead><tbody>\n");
    const auto pair = [&](std::uint64_t x, std::uint64_t y) {
        w.printf("<td class=\"n\">%" PRIu64 " &rarr; %" PRIu64 "</td>", x, y);
    };
    const auto pairf = [&](double x, double y) { w.printf("<td class=\"n\">%.3f &rarr; %.3f</td>", x, y); };
    for (const ShapeChange& s : c.shapes) {
        w.put("<tr><td>");
        w.put(label_name(s.label));
        w.put("</td><td class=\"sql\">");
        put_printable_escaped(w, s.shape, 2000);
        w.put("</td>");
        pair(s.before.executions, s.after.executions);
        pair(s.before.errors, s.after.errors);
        pair(s.before.rows, s.after.rows);
        pairf(s.before.p50, s.after.p50);
        pairf(s.before.p95, s.after.p95);
        pairf(s.before.total, s.after.total);
        if (s.has_ratio) w.printf("<td class=\"n\">%.3f</td>", s.ratio);
        else w.put("<td class=\"n\">-</td>");
        w.printf("<td class=\"n\">%+.3f</td>", s.impact);
        if (s.has_p) w.printf("<td class=\"n\">%.2g</td>", s.p);
        else w.put("<td class=\"n\">-</td>");
        w.put("</tr>\n");
    }
    w.put("</tbody></table></div>\n<div class=\"hists\">\n");
    for (const ShapeChange& s : c.shapes) {
        if (s.label != Label::slower && s.label != Label::faster) continue;
        w.put("<div class=\"hist\"><h3>");
        put_printable_escaped(w, s.shape, 300);
        w.printf("</h3><p>%s: p50 %.3f &rarr; %.3f ms; <span class=\"legend\"><i style=\"background:#8aa9c8\"></i>BASE "
                 "<i style=\"background:#d43f3a\"></i>NEW</span></p>\n",
                 std::string(label_name(s.label)).c_str(), s.before.p50, s.after.p50);
        histograms(w, s);
        w.put("</div>\n");
    }
    w.put("</div></section>\n");
}

void errors(TextWriter& w, const Comparison& c) {
    w.printf("<section id=\"errors\"><h2>Errors: %zu</h2>\n", c.errors.size());
    w.put("<table class=\"sortable\"><thead><tr><th>label</th><th>error</th><th>SQLSTATE</th><th class=\"n\">BASE</th>"
          "<th class=\"n\">NEW</th><th>first record</th></tr></thead><tbody>\n");
    for (const ErrorChange& e : c.errors) {
        w.put("<tr><td>");
        w.put(label_name(e.label));
        w.put("</td>");
        cell(w, e.error, false);
        cell(w, e.sqlstate, false);
        cell(w, std::to_string(e.before));
        cell(w, std::to_string(e.after));
        w.put("<td>");
        if (e.base) w.printf("BASE %d ", e.base->record);
        if (e.next) w.printf("NEW %d", e.next->record);
        w.put("</td></tr>\n");
    }
    w.put("</tbody></table></section>\n");
}

void connections(TextWriter& w, const Comparison& c) {
    w.printf("<section id=\"connections\"><h2>Connections that changed: %zu</h2>\n", c.facts.size());
    if (c.facts.empty()) {
        w.put("<p class=\"muted\">Both runs state the same users, databases, products, levels and security "
              "mechanisms.</p></section>\n");
        return;
    }
    w.put("<table><thead><tr><th>label</th><th>fact</th><th>value</th><th class=\"n\">BASE</th>"
          "<th class=\"n\">NEW</th></tr></thead><tbody>\n");
    for (const FactChange& f : c.facts) {
        w.put("<tr><td>");
        w.put(label_name(f.label));
        w.put("</td><td>");
        w.put(fact_name(f.kind));
        w.put("</td><td class=\"sql\">");
        put_printable_escaped(w, f.value, 500);
        w.printf("</td><td class=\"n\">%" PRIu64 "</td><td class=\"n\">%" PRIu64 "</td></tr>\n", f.before, f.after);
    }
    w.put("</tbody></table></section>\n");
}

}  // namespace

void write_page(TextWriter& w, const Comparison& c, std::string_view version) {
    w.put("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n");
    w.put("<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src 'unsafe-inline'; "
          "script-src 'sha256-");
    w.put(html::kScriptHash);
    w.put("'; img-src 'none'; form-action 'none'; base-uri 'none'\">\n");
    w.put("<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>dssview: ");
    put_escaped_cut(w, c.base->name, 200);
    w.put(" / ");
    put_escaped_cut(w, c.next->name, 200);
    w.put("</title>\n<style>");
    w.put(html::kStyle);
    w.put("</style>\n</head>\n<body>\n<header><h1>What changed</h1><p>BASE ");
    put_escaped_cut(w, c.base->name, 1000);
    w.put("<br>NEW ");
    put_escaped_cut(w, c.next->name, 1000);
    w.put("</p></header>\n<nav><a href=\"#overview\">Overview</a><a href=\"#shapes\">Statements</a>"
          "<a href=\"#errors\">Errors</a><a href=\"#connections\">Connections</a></nav>\n<main>\n");
    overview(w, c);
    shapes(w, c);
    errors(w, c);
    connections(w, c);
    w.put("<footer>Written by ");
    put_escaped(w, version);
    w.put(".</footer>\n</main>\n<script>");
    w.put(html::kScript);
    w.put("</script>\n</body>\n</html>\n");
}

}  // namespace drda::compare
