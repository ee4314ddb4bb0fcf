// SPDX-License-Identifier: Apache-2.0
#include "compare/comparison.h"

#include <algorithm>
#include <cmath>
#include <string_view>
#include <unordered_map>

#include "compare/statistics.h"

namespace drda::compare {
namespace {

ShapeSide side_of(const summary::ShapeStats* s) {
    ShapeSide d;
    if (!s) return d;
    d.executions = s->execs;
    d.errors = s->errors;
    d.rows = s->rows;
    d.timed = s->timed;
    d.total = s->total_ms;
    d.p50 = median(s->samples);
    d.p95 = percentile(s->samples, 0.95);
    return d;
}

RunFigures figures_of(const RunAggregate& run) {
    RunFigures f;
    if (run.figures.has_first) f.duration_s = std::max(0.0, run.figures.last - run.figures.first);
    if (f.duration_s > 0) f.per_second = static_cast<double>(run.executions) / f.duration_s;
    f.p50 = median(run.all.samples);
    f.p95 = percentile(run.all.samples, 0.95);
    return f;
}

int group_of(Label l) {
    switch (l) {
        case Label::slower: return 0;
        case Label::faster: return 1;
        case Label::added: return 2;
        case Label::gone: return 3;
        default: return 4;
    }
}

}  // namespace

Comparison compare_runs(const RunAggregate& base, const RunAggregate& next, double threshold) {
    Comparison c;
    c.base = &base;
    c.next = &next;
    c.threshold = threshold;
    c.base_figures = figures_of(base);
    c.next_figures = figures_of(next);

    std::unordered_map<std::string_view, const summary::ShapeStats*> after;
    for (const summary::ShapeStats* s : next.shapes.sorted()) after.emplace(s->shape, s);
    for (const summary::ShapeStats* s : base.shapes.sorted()) {
        ShapeChange& ch = c.shapes.emplace_back();
        ch.shape = s->shape;
        ch.base = s;
        auto it = after.find(s->shape);
        if (it != after.end()) {
            ch.next = it->second;
            after.erase(it);
        }
    }
    for (const summary::ShapeStats* s : next.shapes.sorted()) {
        if (!after.count(s->shape)) continue;
        ShapeChange& ch = c.shapes.emplace_back();
        ch.shape = s->shape;
        ch.next = s;
    }

    // The ratio of medians of every shape timed in both runs; the median of
    // those timed often enough is the common factor, by which the run as a
    // whole moved.
    std::vector<float> ratios;
    for (ShapeChange& ch : c.shapes) {
        ch.before = side_of(ch.base);
        ch.after = side_of(ch.next);
        if (ch.before.timed && ch.after.timed && ch.before.p50 > 0 && std::isfinite(ch.after.p50 / ch.before.p50)) {
            ch.has_ratio = true;
            ch.ratio = ch.after.p50 / ch.before.p50;
            if (ch.before.timed >= kMinExecutions && ch.after.timed >= kMinExecutions)
                ratios.push_back(static_cast<float>(ch.ratio));
        }
    }
    c.factor_shapes = ratios.size();
    if (ratios.size() >= kMinFactorShapes) c.factor = median(ratios);
    if (!(c.factor > 0) || !std::isfinite(c.factor)) c.factor = 1;

    for (ShapeChange& ch : c.shapes) {
        const double per_exec =
            ch.before.timed ? ch.before.total / static_cast<double>(ch.before.timed) : 0.0;
        ch.impact = ch.after.total - per_exec * static_cast<double>(ch.after.timed);
        if (!ch.base) {
            ch.label = Label::added;
            continue;
        }
        if (!ch.next) {
            // No executions left: the change is all of BASE's time.
            ch.impact = -ch.before.total;
            ch.label = Label::gone;
            continue;
        }
        if (ch.before.timed && ch.after.timed) {
            const RankSum t = rank_sum(ch.base->samples, ch.next->samples);
            ch.has_p = true;
            ch.p = t.p;
            ch.exact = t.exact;
        }
        if (!ch.has_ratio || ch.before.executions < kMinExecutions || ch.after.executions < kMinExecutions ||
            ch.before.timed < kMinExecutions || ch.after.timed < kMinExecutions || !(ch.p < kMaxP))
            continue;
        const double relative = ch.ratio / c.factor;
        if (relative >= threshold) ch.label = Label::slower;
        else if (relative <= 1 / threshold) ch.label = Label::faster;
    }
    std::stable_sort(c.shapes.begin(), c.shapes.end(), [](const ShapeChange& a, const ShapeChange& b) {
        const int ga = group_of(a.label), gb = group_of(b.label);
        if (ga != gb) return ga < gb;
        return std::fabs(a.impact) > std::fabs(b.impact);
    });
    for (const ShapeChange& ch : c.shapes)
        if (ch.label == Label::same) ++c.unchanged;

    // Errors: NEW, GONE, CHANGED, SAME, each in the order its run met them.
    for (const ErrorKind& k : base.errors) {
        ErrorChange& e = c.errors.emplace_back();
        e.error = k.error;
        e.sqlstate = k.sqlstate;
        e.before = k.count;
        e.base = &k;
        for (const ErrorKind& n : next.errors)
            if (n.error == k.error && n.sqlstate == k.sqlstate) e.next = &n, e.after = n.count;
        e.label = !e.next ? Label::gone : e.after != e.before ? Label::changed : Label::same;
    }
    for (const ErrorKind& n : next.errors) {
        const bool known = std::any_of(base.errors.begin(), base.errors.end(), [&](const ErrorKind& k) {
            return n.error == k.error && n.sqlstate == k.sqlstate;
        });
        if (known) continue;
        ErrorChange& e = c.errors.emplace_back();
        e.error = n.error;
        e.sqlstate = n.sqlstate;
        e.after = n.count;
        e.next = &n;
        e.label = Label::added;
    }
    std::stable_sort(c.errors.begin(), c.errors.end(), [](const ErrorChange& a, const ErrorChange& b) {
        const auto rank = [](Label l) { return l == Label::added ? 0 : l == Label::gone ? 1 : l == Label::changed ? 2 : 3; };
        return rank(a.label) < rank(b.label);
    });

    // Connection facts that one run states and the other does not.
    for (int k = 0; k < kFactKinds; ++k) {
        const auto& was = base.facts[k];
        const auto& is = next.facts[k];
        for (const auto& [value, n] : was)
            if (!is.count(value)) c.facts.push_back({static_cast<Fact>(k), value, Label::gone, n, 0});
        for (const auto& [value, n] : is)
            if (!was.count(value)) c.facts.push_back({static_cast<Fact>(k), value, Label::added, 0, n});
    }
    return c;
}

unsigned changes_found(const Comparison& c) {
    unsigned found = 0;
    for (const ShapeChange& s : c.shapes) {
        if (s.label == Label::slower) found |= kFailSlower;
        if (s.label == Label::added) found |= kFailNew;
        if (s.label == Label::gone) found |= kFailGone;
    }
    for (const ErrorChange& e : c.errors)
        if (e.label == Label::added) found |= kFailNewError;
    return found;
}

}  // namespace drda::compare
