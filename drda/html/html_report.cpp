// SPDX-License-Identifier: Apache-2.0
#include "html/html_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "html/escape.h"
#include "html/page_assets.h"
#include "summary/tracker.h"
#include "summary/views.h"

namespace drda::html {
namespace {

using summary::Exchange;

using summary::fixed3;
using summary::num;
using summary::shown_conn;


// A number for an SVG attribute: one decimal is finer than a pixel.
void put_coord(TextWriter& w, double v) {
    char b[32];
    std::snprintf(b, sizeof b, "%.1f", std::isfinite(v) ? v : 0.0);
    w.put(b);
}

std::string cmd_name(std::uint16_t cp) { return cp ? summary::codepoint_name(cp) : "-"; }


std::uint8_t kind_of(const Exchange& e) { return !e.replied() ? 2 : e.failed() ? 1 : 0; }

constexpr const char* kKindClass[] = {"ok", "er", "nr"};
constexpr const char* kKindText[] = {"ok", "error", "no reply"};

std::string record_list(const std::vector<summary::RecordSpan>& spans) {
    std::string s;
    for (const summary::RecordSpan& r : spans) {
        if (!s.empty()) s += ',';
        s += std::to_string(r.first);
        if (r.last > r.first) s += '-' + std::to_string(r.last);
    }
    return s;
}

// A table cell: a number right-aligned, sorted by its value.
void num_cell(TextWriter& w, const std::string& text, double key) {
    w.put("<td class=\"n\" data-sort=\"");
    put_coord(w, key);
    w.put("\">");
    put_escaped(w, text);
    w.put("</td>");
}

void text_cell(TextWriter& w, std::string_view text, const char* cls = nullptr) {
    w.put(cls ? "<td class=\"" : "<td");
    if (cls) {
        w.put(cls);
        w.put('"');
    }
    w.put('>');
    put_printable_escaped(w, text);
    w.put("</td>");
}

void head_row(TextWriter& w, std::initializer_list<std::pair<const char*, bool>> cols) {
    w.put("<thead><tr>");
    for (const auto& [name, numeric] : cols) {
        w.put(numeric ? "<th class=\"n\">" : "<th>");
        w.put(name);
        w.put("</th>");
    }
    w.put("</tr></thead><tbody>\n");
}

}  // namespace

// --- time slots ------------------------------------------------------------------------

void TimeBins::widen(bool left) {
    // Two slots become one; the old window becomes the right half when the
    // time lies before it, else the left half.
    std::uint64_t a[kSlots] = {}, e[kSlots] = {};
    const std::size_t base = left ? kSlots / 2 : 0;
    for (std::size_t i = 0; i < kSlots; ++i) {
        a[base + i / 2] += all_[i];
        e[base + i / 2] += err_[i];
    }
    std::copy(a, a + kSlots, all_);
    std::copy(e, e + kSlots, err_);
    if (left) lo_ -= w_ * static_cast<double>(kSlots);
    w_ *= 2;
}

void TimeBins::add(double t, bool error) {
    if (!std::isfinite(t)) return;
    if (!started_) {
        started_ = true;
        lo_ = t;
    }
    // At most about 2^60 times wider than a millisecond: any span of times.
    for (int k = 0; k < 200; ++k) {
        if (t < lo_) widen(true);
        else if (t >= lo_ + w_ * static_cast<double>(kSlots)) widen(false);
        else break;
    }
    double slot = std::floor((t - lo_) / w_);
    slot = std::clamp(slot, 0.0, static_cast<double>(kSlots - 1));
    const auto i = static_cast<std::size_t>(slot);
    ++all_[i];
    if (error) ++err_[i];
}

// --- gathering ----------------------------------------------------------------------

HtmlReport::HtmlReport(std::string input_name, std::string version, summary::Aggregate* shared)
    : input_name_(std::move(input_name)),
      version_(std::move(version)),
      own_(shared ? nullptr : std::make_unique<summary::Aggregate>()),
      agg_(shared ? shared : own_.get()),
      figures_(agg_->figures()),
      conns_(agg_->connections()) {
    agg_->on_dropped([this](std::uint32_t conn) { drop_lane(conn); });
}

void HtmlReport::drop_lane(std::uint32_t conn) {
    const auto it = lanes_.find(conn);
    if (it == lanes_.end()) return;
    marks_held_ -= it->second.marks.size();
    lanes_.erase(it);
}

const HtmlReport::Lane& HtmlReport::lane_of(std::uint32_t conn) const {
    static const Lane kNone;
    const auto it = lanes_.find(conn);
    return it == lanes_.end() ? kNone : it->second;
}

void HtmlReport::stopped(std::string line) {
    has_stopped_ = true;
    stopped_ = std::move(line);
}

Evidence HtmlReport::evidence_from(std::uint64_t seq, bool has_server, double server_ms,
                                   const summary::SlowExchange& x) {
    Evidence ev;
    ev.seq = seq;
    ev.has_conn = x.has_conn;
    ev.conn = x.conn;
    ev.record = x.record;
    ev.command = x.command;
    ev.outcome = x.outcome;
    ev.failed = x.failed;
    ev.has_server = has_server;
    ev.server_ms = server_ms;
    ev.sql = x.sql.substr(0, std::min<std::size_t>(x.sql.size(), kEvidenceSql));
    ev.records = x.records;
    return ev;
}

void HtmlReport::add_mark(Lane& cs, const Exchange& e, double t, std::uint8_t kind) {
    if ((cs.timed++) % cs.stride != 0) {
        ++cs.unmarked;
        return;
    }
    if (cs.marks.size() == kLaneMarks) {
        std::size_t k = 0;
        // Every second mark stays (the first in place: a move onto itself
        // would empty its strings).
        for (std::size_t i = 0; i < cs.marks.size(); i += 2, ++k)
            if (i != k) cs.marks[k] = std::move(cs.marks[i]);
        const std::size_t dropped = cs.marks.size() - k;
        cs.marks.resize(k);
        marks_held_ -= dropped;
        cs.unmarked += dropped;
        cs.stride *= 2;
        if ((cs.timed - 1) % cs.stride != 0) {
            ++cs.unmarked;
            return;
        }
    }
    if (marks_held_ >= kMaxMarks) {
        ++cs.unmarked;
        return;
    }
    Mark m;
    m.from = t;
    m.to = e.has_last && std::isfinite(e.last_reply) && e.last_reply > t ? e.last_reply : t;
    m.seq = e.seq;
    m.kind = kind;
    m.command = e.command;
    if (e.has_sql) {
        m.has_sql = true;
        m.sql.assign(e.sql, 0, std::min(e.sql.size(), kTitleSql));
        m.sql_cut = e.sql.size() > kTitleSql;
    }
    m.has_server = e.has_server;
    m.server_ms = e.server_ms;
    m.outcome = summary::outcome_text(e);
    m.record = e.has_request ? e.record : e.reply_record;
    cs.marks.push_back(std::move(m));
    ++marks_held_;
}

void HtmlReport::put_mark_title(TextWriter& w, const Mark& m) {
    std::string title = cmd_name(m.command);
    if (m.has_sql) {
        title += " | ";
        title += m.sql;
        if (m.sql_cut) title += "...";
    }
    title += " | ";
    title += m.has_server ? fixed3(m.server_ms) + " ms" : "- ms";
    title += " | " + m.outcome;
    title += " | record " + std::to_string(m.record);
    put_printable_escaped(w, title);
}

void HtmlReport::exchange(const Exchange& e) {
    if (own_) own_->exchange(e);
    const bool failed = e.failed();
    const std::uint8_t kind = kind_of(e);
    if (kind == 2) ++no_reply_;

    Lane& lane = lanes_[e.conn];
    double t = 0;
    if (summary::start_time(e, t)) {
        bins_.add(t, kind != 0);
        add_mark(lane, e, t, kind);
    } else {
        ++lane.unmarked;
    }

    // Evidence: every exchange not ok (up to a cap); the slowest come from
    // the aggregate.
    if (failed || kind == 2) {
        if (failed_ev_.size() < kEvidenceFailed) failed_ev_.push_back(evidence_from(e.seq, e.has_server, e.server_ms, summary::slow_exchange_of(e)));
        else ++failed_ev_more_;
    }
}

void HtmlReport::connection(const summary::ConnectionInfo& c) {
    if (own_) own_->connection(c);
}

void HtmlReport::finish(const summary::Totals& totals) {
    if (own_) own_->finish(totals);
    totals_ = totals;
    finished_ = true;

    evidence_ = std::move(failed_ev_);
    const auto& slowest = agg_->slowest().entries();
    for (std::size_t i = 0; i < slowest.size() && i < kEvidenceSlowest; ++i) {
        Evidence ev = evidence_from(slowest[i].seq, true, slowest[i].ms, slowest[i].row);
        ev.slow_rank = static_cast<int>(i + 1);
        evidence_.push_back(std::move(ev));
    }
    // By number; an exchange both failed and slow once, with its rank.
    std::sort(evidence_.begin(), evidence_.end(), [](const Evidence& a, const Evidence& b) {
        return a.seq != b.seq ? a.seq < b.seq : a.slow_rank > b.slow_rank;
    });
    std::vector<Evidence> unique;
    for (Evidence& e : evidence_) {
        if (!unique.empty() && unique.back().seq == e.seq) {
            unique.back().failed = unique.back().failed || e.failed;
            continue;
        }
        unique.push_back(std::move(e));
    }
    evidence_.swap(unique);
    failed_ev_.clear();
}

const Evidence* HtmlReport::evidence_of(std::uint64_t seq) const {
    const auto it = std::lower_bound(evidence_.begin(), evidence_.end(), seq,
                                     [](const Evidence& e, std::uint64_t s) { return e.seq < s; });
    return it != evidence_.end() && it->seq == seq ? &*it : nullptr;
}

void HtmlReport::evidence_link(TextWriter& w, std::uint64_t seq) const {
    if (!evidence_of(seq)) return;
    w.put(" <a href=\"#x");
    w.put_udec(seq);
    w.put("\">records</a>");
}

// --- the page ------------------------------------------------------------------------

void HtmlReport::write(TextWriter& w) const {
    w.put("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n");
    // Nothing may load; only this page's own script and styles may run.
    w.put("<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src 'unsafe-inline'; "
          "script-src 'sha256-");
    w.put(kScriptHash);
    w.put("'; img-src 'none'; form-action 'none'; base-uri 'none'\">\n");
    w.put("<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>dssview: ");
    put_escaped_cut(w, input_name_, 200);
    w.put("</title>\n<style>");
    w.put(kStyle);
    w.put("</style>\n</head>\n<body>\n<header><h1>DRDA traffic report</h1><p>");
    put_escaped_cut(w, input_name_, 1000);
    w.put("</p></header>\n<nav><a href=\"#overview\">Overview</a><a href=\"#timeline\">Timeline</a>"
          "<a href=\"#latency\">Latency</a><a href=\"#errors\">Errors</a><a href=\"#slowest\">Slowest</a>"
          "<a href=\"#shapes\">Statements</a><a href=\"#connections\">Connections</a>"
          "<a href=\"#evidence\">Evidence</a></nav>\n<main>\n");
    write_overview(w);
    write_timeline(w);
    write_latency(w);
    write_errors(w);
    write_slowest(w);
    write_shapes(w);
    write_connections(w);
    write_evidence(w);
    w.put("<footer>Written by ");
    put_escaped(w, version_);
    w.put(". Times are local times of the machine that wrote the page.</footer>\n</main>\n<script>");
    w.put(kScript);
    w.put("</script>\n</body>\n</html>\n");
}

void HtmlReport::write_overview(TextWriter& w) const {
    w.put("<section id=\"overview\"><h2>Overview</h2>\n");
    if (has_stopped_) {
        w.put("<p class=\"note stop\" id=\"stopped\">The input could not be read to its end");
        if (last_record_) {
            w.put("; the last record read is record ");
            w.put_dec(last_record_);
        }
        w.put(". The page shows what was read before.");
        if (!stopped_.empty()) {
            w.put("<br><code>");
            put_printable_escaped(w, stopped_, 256);
            w.put("</code>");
        }
        w.put("</p>\n");
    }
    const auto card = [&](const std::string& value, const char* label, bool bad) {
        w.put(bad ? "<div class=\"card bad\"><b>" : "<div class=\"card\"><b>");
        put_escaped(w, value);
        w.put("</b><span>");
        w.put(label);
        w.put("</span></div>");
    };
    w.put("<div class=\"cards\">");
    card(num(figures_.exchanges), "exchanges", false);
    card(num(figures_.failed), "failed", figures_.failed > 0);
    card(num(no_reply_), "without reply", no_reply_ > 0);
    card(num(conns_.total()), "connections", false);
    card(figures_.has_first ? fixed3((figures_.last - figures_.first) * 1000.0) + " ms" : "-", "duration", false);
    card(num(figures_.rows_read), "rows read", false);
    card(num(figures_.rows_changed), "rows changed", false);
    w.put("</div>\n<dl class=\"facts\">");
    const auto fact = [&](const char* label, const std::string& value) {
        w.put("<dt>");
        w.put(label);
        w.put("</dt><dd>");
        put_printable_escaped(w, value, 1000);
        w.put("</dd>");
    };
    if (!input_.selection.empty()) fact("selection", input_.selection);
    fact("input", input_.kind.empty() ? "-" : input_.kind);
    fact("first", figures_.has_first ? summary::date_text(figures_.first) : "-");
    fact("last", figures_.has_first ? summary::date_text(figures_.last) : "-");
    fact("bytes sent", num(figures_.bytes_out) + " (requester to server)");
    fact("bytes received", num(figures_.bytes_in) + " (server to requester)");
    w.put("</dl>\n");
    // The kinds of trouble, as the -s overview names them.
    const auto note = [&](const std::string& text) {
        w.put("<p class=\"note\">");
        put_escaped(w, text);
        w.put("</p>\n");
    };
    for (summary::Note n : summary::overview_notes(input_, totals_)) {
        n.label[0] = static_cast<char>(n.label[0] - 'a' + 'A');
        note(n.label + ": " + n.text + ".");
    }
    w.put("</section>\n");
}

void HtmlReport::write_timeline(TextWriter& w) const {
    w.put("<section id=\"timeline\"><h2>Timeline</h2>\n");
    std::size_t marks = 0;
    std::uint64_t unmarked = 0;
    for (const ConnRow& r : conns_.rows()) {
        marks += lane_of(r.info.conn).marks.size();
        unmarked += lane_of(r.info.conn).unmarked;
    }
    if (!figures_.has_first || conns_.rows().empty()) {
        w.put("<p class=\"muted\">No exchange with a time.</p></section>\n");
        return;
    }
    const double t0 = figures_.first;
    const double span = figures_.last > figures_.first ? figures_.last - figures_.first : 0.001;
    constexpr double kWidth = 1200, kLeft = 92, kRight = 12, kLane = 14, kTop = 20;
    const double plot = kWidth - kLeft - kRight;
    const auto x_of = [&](double t) { return kLeft + (t - t0) / span * plot; };
    const double lanes_h = kTop + kLane * static_cast<double>(conns_.rows().size()) + 4;
    constexpr double kRateH = 56, kGap = 26;
    const double height = lanes_h + 2 * (kRateH + kGap) + 8;

    w.put("<p class=\"legend\"><span><i style=\"background:var(--ok)\"></i>ok</span>"
          "<span><i style=\"background:var(--err)\"></i>error</span>"
          "<span><i style=\"background:var(--nr)\"></i>no reply</span>"
          "<span>one lane per connection, from request to last reply; time from ");
    put_escaped(w, summary::date_text(figures_.first));
    w.put("</span></p>\n");
    w.printf("<svg id=\"timeline-svg\" viewBox=\"0 0 %.0f %.0f\" width=\"%.0f\" data-marks=\"%zu\" role=\"img\">\n",
             kWidth, height, kWidth, marks);
    // Axis ticks: about six, at round steps of seconds.
    double step = 1e-6;
    for (const double m : {1e-6, 2e-6, 5e-6, 1e-5, 2e-5, 5e-5, 1e-4, 2e-4, 5e-4, 1e-3, 2e-3, 5e-3, 0.01, 0.02, 0.05, 0.1,
                           0.2, 0.5, 1.0, 2.0, 5.0, 10.0, 30.0, 60.0, 120.0, 300.0, 600.0, 1800.0, 3600.0, 7200.0,
                           21600.0, 43200.0, 86400.0}) {
        step = m;
        if (span / m <= 7) break;
    }
    const double bottom = height - 8;
    for (double s = 0; s <= span * 1.0000001 && s / step < 100; s += step) {
        const double x = x_of(t0 + s);
        w.put("<line class=\"ax\" x1=\"");
        put_coord(w, x);
        w.put("\" x2=\"");
        put_coord(w, x);
        w.put("\" y1=\"14\" y2=\"");
        put_coord(w, bottom);
        w.put("\" stroke-dasharray=\"2 3\"/><text x=\"");
        put_coord(w, x + 2);
        w.put("\" y=\"11\">+");
        if (step >= 1) w.printf("%.0f s", s);
        else if (step >= 1e-3) w.printf("%.0f ms", s * 1e3);
        else w.printf("%.0f us", s * 1e6);
        w.put("</text>\n");
    }
    double y = kTop;
    for (const ConnRow& r : conns_.rows()) {
        w.put("<rect class=\"lane\" x=\"");
        put_coord(w, kLeft);
        w.put("\" y=\"");
        put_coord(w, y);
        w.put("\" width=\"");
        put_coord(w, plot);
        w.printf("\" height=\"%.0f\"/><text x=\"4\" y=\"", kLane - 2);
        put_coord(w, y + 10);
        w.put("\">conn ");
        w.put_udec(shown_conn(r.info.has_conn, r.info.conn));
        w.put("</text>\n");
        for (const Mark& m : lane_of(r.info.conn).marks) {
            const bool linked = evidence_of(m.seq) != nullptr;
            if (linked) {
                w.put("<a href=\"#x");
                w.put_udec(m.seq);
                w.put("\">");
            }
            const double x = x_of(m.from);
            w.put("<rect class=\"m ");
            w.put(kKindClass[m.kind]);
            w.put("\" x=\"");
            put_coord(w, x);
            w.put("\" y=\"");
            put_coord(w, y + 1);
            w.put("\" width=\"");
            put_coord(w, std::max(1.5, x_of(m.to) - x));
            w.printf("\" height=\"%.0f\"><title>", kLane - 4);
            put_mark_title(w, m);
            w.put("</title></rect>");
            if (linked) w.put("</a>");
            w.put('\n');
        }
        y += kLane;
    }
    // Exchanges and errors per second, in the slots of the time bins.
    const auto rate_chart = [&](double top, bool errors, const char* label) {
        double peak = 0;
        for (std::size_t i = 0; i < TimeBins::kSlots; ++i)
            peak = std::max(peak, static_cast<double>(errors ? bins_.errors(i) : bins_.count(i)) / bins_.width());
        w.put("<text x=\"4\" y=\"");
        put_coord(w, top + 10);
        w.put("\">");
        w.put(label);
        w.put("</text><text x=\"4\" y=\"");
        put_coord(w, top + 22);
        w.printf("\">peak %.4g/s</text>", peak);
        w.put("<line class=\"ax\" x1=\"");
        put_coord(w, kLeft);
        w.put("\" x2=\"");
        put_coord(w, kLeft + plot);
        w.put("\" y1=\"");
        put_coord(w, top + kRateH);
        w.put("\" y2=\"");
        put_coord(w, top + kRateH);
        w.put("\"/>\n");
        if (peak <= 0) return;
        for (std::size_t i = 0; i < TimeBins::kSlots; ++i) {
            const std::uint64_t n = errors ? bins_.errors(i) : bins_.count(i);
            if (!n) continue;
            const double a = bins_.start() + bins_.width() * static_cast<double>(i);
            const double x0 = std::max(kLeft, x_of(a));
            const double x1 = std::min(kLeft + plot, x_of(a + bins_.width()));
            const double rate = static_cast<double>(n) / bins_.width();
            const double h = std::max(1.0, rate / peak * kRateH);
            w.put(errors ? "<rect class=\"ebar\" x=\"" : "<rect class=\"bar\" x=\"");
            put_coord(w, x0);
            w.put("\" y=\"");
            put_coord(w, top + kRateH - h);
            w.put("\" width=\"");
            put_coord(w, std::max(1.0, x1 - x0));
            w.put("\" height=\"");
            put_coord(w, h);
            w.printf("\"><title>%llu %s in %.6g s from +%.6g s (%.4g/s)</title></rect>\n",
                     static_cast<unsigned long long>(n), errors ? "errors" : "exchanges", bins_.width(), a - t0,
                     rate);
        }
    };
    rate_chart(lanes_h + kGap, false, "exchanges/s");
    rate_chart(lanes_h + kGap + kRateH + kGap, true, "errors/s");
    w.put("</svg>\n");
    if (conns_.more() || unmarked) {
        w.put("<p class=\"note\">");
        if (conns_.more())
            w.printf("%llu connections with %llu exchanges are not drawn: the lanes show the %zu connections with the "
                     "most server time. ",
                     static_cast<unsigned long long>(conns_.more()), static_cast<unsigned long long>(conns_.more_exchanges()),
                     kLanes);
        if (unmarked)
            w.printf("%llu exchanges of the lanes shown are not drawn: a lane shows at most %zu, a regular sample "
                     "of its exchanges (or they have no time).",
                     static_cast<unsigned long long>(unmarked), kLaneMarks);
        w.put("</p>\n");
    }
    w.put("</section>\n");
}

void HtmlReport::write_latency(TextWriter& w) const {
    w.put("<section id=\"latency\"><h2>Latency</h2>\n");
    const std::vector<const summary::ShapeStats*> sorted = agg_->shapes().sorted();
    std::vector<const summary::ShapeStats*> top;
    for (const summary::ShapeStats* s : sorted) {
        if (top.size() == kHistShapes) break;
        if (s->timed && !s->samples.empty()) top.push_back(s);
    }
    if (top.empty()) {
        w.put("<p class=\"muted\">No statement with a server time.</p></section>\n");
        return;
    }
    w.printf("<p class=\"muted\">Server times of the %zu statement shapes with the most server time: executions by "
             "time on a logarithmic scale (four slots a decade, from a regular sample of at most %zu times a "
             "shape), with the median (p50), p95 and maximum.</p>\n<div class=\"hists\">\n",
             top.size(), summary::kMaxSamples);
    // One scale for all: the decades the times span.
    double lo = INFINITY, hi = 0;
    for (const summary::ShapeStats* s : top) {
        for (const float v : s->samples) {
            if (v > 0) lo = std::min(lo, static_cast<double>(v));
        }
        hi = std::max(hi, s->max_ms);
    }
    if (!std::isfinite(lo) || lo <= 0) lo = 0.001;
    if (hi < lo) hi = lo;
    const double d0 = std::floor(std::log10(std::max(lo, 1e-6)));
    const double d1 = std::max(d0 + 1, std::ceil(std::log10(std::max(hi, 1e-6)) + 1e-9));
    const int slots = static_cast<int>(std::min(80.0, (d1 - d0) * 4));
    constexpr double kW = 440, kH = 120, kL = 36, kB = 18, kT = 6;
    const double pw = kW - kL - 8, ph = kH - kB - kT;
    const auto x_of = [&](double ms) {
        const double l = std::log10(std::max(ms, std::pow(10.0, d0)));
        return kL + std::clamp((l - d0) / (d1 - d0), 0.0, 1.0) * pw;
    };
    for (const summary::ShapeStats* s : top) {
        std::vector<float> v = s->samples;
        std::sort(v.begin(), v.end());
        const auto rank = [&](double q) {
            const auto r = static_cast<std::size_t>(std::ceil(q * static_cast<double>(v.size())));
            return static_cast<double>(v[r == 0 ? 0 : std::min(r, v.size()) - 1]);
        };
        const double p50 = rank(0.5), p95 = s->p95();
        std::vector<std::uint64_t> count(static_cast<std::size_t>(slots), 0);
        for (const float t : v) {
            const double l = std::log10(std::max(static_cast<double>(t), std::pow(10.0, d0)));
            const int k = std::clamp(static_cast<int>((l - d0) * 4), 0, slots - 1);
            ++count[static_cast<std::size_t>(k)];
        }
        // Scaled from the sample to all timed executions.
        const double scale = static_cast<double>(s->timed) / static_cast<double>(v.size());
        const std::uint64_t peak = *std::max_element(count.begin(), count.end());
        w.put("<div class=\"hist\"><h3>");
        put_printable_escaped(w, s->shape, 300);
        w.printf("</h3><p>%llu executions, %s ms in all; p50 %s, p95 %s, max %s ms</p>\n",
                 static_cast<unsigned long long>(s->timed), fixed3(s->total_ms).c_str(), fixed3(p50).c_str(),
                 fixed3(p95).c_str(), fixed3(s->max_ms).c_str());
        w.printf("<svg class=\"histogram\" viewBox=\"0 0 %.0f %.0f\" width=\"%.0f\" role=\"img\">\n", kW, kH, kW);
        for (int k = 0; k < slots; ++k) {
            const std::uint64_t n = count[static_cast<std::size_t>(k)];
            if (!n) continue;
            const double a = std::pow(10.0, d0 + k / 4.0), b = std::pow(10.0, d0 + (k + 1) / 4.0);
            const double h = std::max(1.0, static_cast<double>(n) / static_cast<double>(peak) * ph);
            w.put("<rect class=\"bar\" x=\"");
            put_coord(w, x_of(a) + 0.5);
            w.put("\" y=\"");
            put_coord(w, kT + ph - h);
            w.put("\" width=\"");
            put_coord(w, std::max(1.0, x_of(b) - x_of(a) - 1));
            w.put("\" height=\"");
            put_coord(w, h);
            w.printf("\"><title>%.4g to %.4g ms: about %.0f executions</title></rect>\n", a, b,
                     static_cast<double>(n) * scale);
        }
        w.printf("<line class=\"ax\" x1=\"%.0f\" x2=\"%.0f\" y1=\"%.0f\" y2=\"%.0f\"/>\n", kL, kL + pw, kT + ph, kT + ph);
        for (double d = d0; d <= d1 + 1e-9; d += 1) {
            const double x = x_of(std::pow(10.0, d));
            w.put("<text x=\"");
            put_coord(w, x - 8);
            w.printf("\" y=\"%.0f\">%.4g</text>", kH - 4, std::pow(10.0, d));
        }
        w.printf("<text x=\"%.0f\" y=\"%.0f\">ms</text>\n", kL + pw - 14, kH - 4);
        double label_y = kT + 8;
        const auto marker = [&](double ms, const char* name) {
            const double x = x_of(ms);
            w.put("<line class=\"q\" x1=\"");
            put_coord(w, x);
            w.put("\" x2=\"");
            put_coord(w, x);
            w.printf("\" y1=\"%.0f\" y2=\"%.0f\"><title>%s %s ms</title></line>", kT, kT + ph, name, fixed3(ms).c_str());
            w.put("<text x=\"");
            put_coord(w, x + 2);
            w.printf("\" y=\"%.0f\">%s</text>\n", label_y, name);
            label_y += 11;
        };
        marker(p50, "p50");
        marker(p95, "p95");
        marker(s->max_ms, "max");
        w.put("</svg></div>\n");
    }
    w.put("</div></section>\n");
}

void HtmlReport::write_errors(TextWriter& w) const {
    w.printf("<section id=\"errors\"><h2>Errors: %zu</h2>\n", agg_->errors().rows().size());
    w.put("<div class=\"scroll\"><table class=\"sortable\" id=\"errors-table\">");
    head_row(w, {{"count", true}, {"error", false}, {"record", true}, {"tokens", false}});
    for (const summary::ErrorTable::Row& r : agg_->errors().rows()) {
        w.put("<tr>");
        num_cell(w, num(r.count), static_cast<double>(r.count));
        text_cell(w, r.outcome);
        w.put("<td class=\"n\" data-sort=\"");
        w.put_dec(r.record);
        w.put("\">");
        w.put_dec(r.record);
        evidence_link(w, r.seq);
        w.put("</td><td class=\"sql\">");
        for (std::size_t i = 0; i < r.tokens.size(); ++i) {
            w.put(i ? " &quot;" : "&quot;");
            put_printable_escaped(w, r.tokens[i], 1000);
            w.put("&quot;");
        }
        w.put("</td></tr>\n");
    }
    w.put("</tbody></table></div>\n");
    if (agg_->errors().not_grouped())
        w.printf("<p class=\"note\">%llu failed exchanges of further errors not grouped (at most %zu errors).</p>\n",
                 static_cast<unsigned long long>(agg_->errors().not_grouped()), summary::kMaxErrorKinds);
    w.put("</section>\n");
}

void HtmlReport::write_slowest(TextWriter& w) const {
    std::vector<const Evidence*> all;
    for (const Evidence& e : evidence_)
        if (e.slow_rank) all.push_back(&e);
    // In the aggregate's order.
    std::sort(all.begin(), all.end(), [](const Evidence* a, const Evidence* b) { return a->slow_rank < b->slow_rank; });
    if (all.size() > kShownSlowest) all.resize(kShownSlowest);
    w.printf("<section id=\"slowest\"><h2>Slowest exchanges: %zu</h2>\n", all.size());
    w.put("<div class=\"scroll\"><table class=\"sortable\" id=\"slowest-table\">");
    head_row(w, {{"conn", true}, {"record", true}, {"command", false}, {"server ms", true}, {"outcome", false},
                 {"statement", false}});
    for (const Evidence* e : all) {
        w.put("<tr>");
        num_cell(w, num(shown_conn(e->has_conn, e->conn)), shown_conn(e->has_conn, e->conn));
        w.put("<td class=\"n\" data-sort=\"");
        w.put_dec(e->record);
        w.put("\">");
        w.put_dec(e->record);
        evidence_link(w, e->seq);
        w.put("</td>");
        text_cell(w, cmd_name(e->command));
        num_cell(w, fixed3(e->server_ms), e->server_ms);
        text_cell(w, e->outcome);
        text_cell(w, e->sql, "sql");
        w.put("</tr>\n");
    }
    w.put("</tbody></table></div></section>\n");
}

void HtmlReport::write_shapes(TextWriter& w) const {
    const std::vector<const summary::ShapeStats*> sorted = agg_->shapes().sorted();
    w.printf("<section id=\"shapes\"><h2>Statements by shape: %zu</h2>\n", sorted.size());
    w.put("<input class=\"filter\" type=\"search\" placeholder=\"filter shapes\" data-table=\"shapes-table\" hidden>\n");
    w.put("<div class=\"scroll\"><table class=\"sortable\" id=\"shapes-table\">");
    head_row(w, {{"execs", true}, {"errors", true}, {"rows", true}, {"total ms", true}, {"mean ms", true},
                 {"p95 ms", true}, {"max ms", true}, {"shape", false}});
    std::uint64_t rest_execs = 0;
    double rest_ms = 0;
    for (std::size_t i = 0; i < sorted.size(); ++i) {
        const summary::ShapeStats* s = sorted[i];
        if (i >= kShownShapes) {
            rest_execs += s->execs;
            rest_ms += s->total_ms;
            continue;
        }
        const bool timed = s->timed > 0;
        const double mean = timed ? s->total_ms / static_cast<double>(s->timed) : -1;
        w.put("<tr>");
        num_cell(w, num(s->execs), static_cast<double>(s->execs));
        num_cell(w, num(s->errors), static_cast<double>(s->errors));
        num_cell(w, num(s->rows), static_cast<double>(s->rows));
        num_cell(w, timed ? fixed3(s->total_ms) : "-", timed ? s->total_ms : -1);
        num_cell(w, timed ? fixed3(mean) : "-", mean);
        num_cell(w, timed ? fixed3(s->p95()) : "-", timed ? s->p95() : -1);
        num_cell(w, timed ? fixed3(s->max_ms) : "-", timed ? s->max_ms : -1);
        text_cell(w, s->shape, "sql");
        w.put("</tr>\n");
    }
    w.put("</tbody></table></div>\n");
    if (sorted.size() > kShownShapes)
        w.printf("<p class=\"note\">%zu more shapes: %llu executions, %s ms.</p>\n", sorted.size() - kShownShapes,
                 static_cast<unsigned long long>(rest_execs), fixed3(rest_ms).c_str());
    if (agg_->shapes().not_grouped())
        w.printf("<p class=\"note\">%llu executions of further shapes not grouped (at most %zu shapes).</p>\n",
                 static_cast<unsigned long long>(agg_->shapes().not_grouped()), summary::kMaxShapes);
    w.put("</section>\n");
}

void HtmlReport::write_connections(TextWriter& w) const {
    w.printf("<section id=\"connections\"><h2>Connections: %llu</h2>\n", static_cast<unsigned long long>(conns_.total()));
    w.put("<div class=\"scroll\"><table class=\"sortable\" id=\"connections-table\">");
    head_row(w, {{"conn", true}, {"client &gt; server", false}, {"user", false}, {"database", false},
                 {"client product", false}, {"server product", false}, {"secmec", false}, {"start", false},
                 {"duration ms", true}, {"exchanges", true}, {"failed", true}, {"server ms", true}, {"ended", false}});
    const auto or_dash = [](const std::string& s) { return s.empty() ? std::string("-") : s; };
    for (const ConnRow& r : conns_.rows()) {
        const summary::ConnectionInfo& c = r.info;
        const std::uint32_t id = shown_conn(c.has_conn, c.conn);
        w.put("<tr>");
        num_cell(w, num(id), id);
        text_cell(w, c.client.empty() && c.server.empty() ? "-" : c.client + " > " + c.server);
        text_cell(w, or_dash(c.user));
        text_cell(w, or_dash(c.database));
        text_cell(w, or_dash(c.client_product));
        text_cell(w, or_dash(c.server_product));
        text_cell(w, or_dash(c.secmec));
        text_cell(w, c.has_start ? summary::date_text(c.start) : "-");
        const bool dur = c.has_start && c.has_end;
        num_cell(w, dur ? fixed3((c.end - c.start) * 1000.0) : "-", dur ? (c.end - c.start) * 1000.0 : -1);
        num_cell(w, num(r.stats.exchanges), static_cast<double>(r.stats.exchanges));
        num_cell(w, num(r.stats.failed), static_cast<double>(r.stats.failed));
        num_cell(w, fixed3(r.stats.server_ms), r.stats.server_ms);
        text_cell(w, summary::end_text(c.how));
        w.put("</tr>\n");
    }
    w.put("</tbody></table></div>\n");
    if (conns_.more())
        w.printf("<p class=\"note\">%llu more connections: %llu exchanges, %s server ms.</p>\n",
                 static_cast<unsigned long long>(conns_.more()), static_cast<unsigned long long>(conns_.more_exchanges()),
                 fixed3(conns_.more_ms()).c_str());
    w.put("</section>\n");
}

void HtmlReport::write_evidence(TextWriter& w) const {
    w.printf("<section id=\"evidence\"><h2>Evidence: %zu exchanges</h2>\n", evidence_.size());
    w.printf("<p class=\"muted\">Every exchange that failed or got no reply (at most %zu) and the %zu slowest, each "
             "with the text <code>dssview -r</code> prints for its records (<code>dssview -r -n LIST</code> shows "
             "the same).</p>\n",
             kEvidenceFailed, kEvidenceSlowest);
    if (failed_ev_more_)
        w.printf("<p class=\"note\">%llu more exchanges that failed or got no reply are not shown here.</p>\n",
                 static_cast<unsigned long long>(failed_ev_more_));
    if (!no_evidence_.empty()) {
        w.put("<p class=\"note\">The records could not be read again: ");
        put_escaped(w, no_evidence_);
        w.put("</p>\n");
    }
    for (const Evidence& e : evidence_) {
        const std::string records = record_list(e.records);
        w.put("<details id=\"x");
        w.put_udec(e.seq);
        w.put("\" data-conn=\"");
        w.put_udec(shown_conn(e.has_conn, e.conn));
        w.put("\" data-record=\"");
        w.put_dec(e.record);
        w.put("\" data-records=\"");
        w.put(records);
        w.put("\"><summary>conn ");
        w.put_udec(shown_conn(e.has_conn, e.conn));
        w.put(", records ");
        w.put(records);
        w.put(": ");
        put_escaped(w, cmd_name(e.command));
        w.put(", ");
        put_printable_escaped(w, e.outcome);
        if (e.has_server) w.printf(", %s ms", fixed3(e.server_ms).c_str());
        if (e.slow_rank) w.printf(" (slowest #%d)", e.slow_rank);
        if (!e.sql.empty()) {
            w.put(" &mdash; <code>");
            put_printable_escaped(w, e.sql, 120);
            w.put("</code>");
        }
        w.put("</summary>\n<pre>");
        put_escaped(w, e.text);
        if (e.cut) w.printf("\n[the text of these records is cut here: more than %zu bytes]\n", kEvidenceBytes);
        w.put("</pre></details>\n");
    }
    w.put("</section>\n");
}

}  // namespace drda::html
