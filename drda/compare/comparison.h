// SPDX-License-Identifier: Apache-2.0
// Two runs side by side: the common factor, each shape's change and label,
// the errors and connection facts that appeared, went or changed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "compare/labels.h"
#include "compare/run_aggregate.h"

namespace drda::compare {

// A shape's figures in one run; all 0 where it did not run.
struct ShapeSide {
    std::uint64_t executions = 0, errors = 0, rows = 0, timed = 0;
    double p50 = 0, p95 = 0, total = 0;  // server time per execution, ms
};

struct ShapeChange {
    std::string shape;
    Label label = Label::same;
    ShapeSide before, after;
    bool has_ratio = false;   // both runs have timed executions, BASE's median above 0
    double ratio = 0;         // median after / median before
    // The change in total time at NEW's execution count: NEW's total minus
    // BASE's time per execution times NEW's executions (GONE: minus BASE's total).
    double impact = 0;
    bool has_p = false;
    double p = 1;
    bool exact = false;       // p from the exact distribution
    const summary::ShapeStats* base = nullptr;
    const summary::ShapeStats* next = nullptr;
};

struct ErrorChange {
    std::string error, sqlstate;
    Label label = Label::same;  // added, gone, changed or same
    std::uint64_t before = 0, after = 0;
    const ErrorKind* base = nullptr;  // its first occurrence in each run
    const ErrorKind* next = nullptr;
};

struct FactChange {
    Fact kind;
    std::string value;
    Label label;  // added or gone
    std::uint64_t before = 0, after = 0;  // connections that stated it
};

// One run's overall figures as the overview shows them.
struct RunFigures {
    double duration_s = 0;
    double per_second = 0;   // executions per second of the run's duration
    double p50 = 0, p95 = 0; // server time per execution, ms
};

struct Comparison {
    const RunAggregate* base = nullptr;
    const RunAggregate* next = nullptr;
    RunFigures base_figures, next_figures;
    double threshold = kDefaultThreshold;
    double factor = 1;                 // median of the per-shape ratios (1: too few shapes)
    std::size_t factor_shapes = 0;     // the shapes with kMinExecutions in each run
    std::vector<ShapeChange> shapes;   // flagged first (SLOWER, FASTER, NEW, GONE), each by impact; SAME last
    std::size_t unchanged = 0;
    std::vector<ErrorChange> errors;   // NEW, GONE, CHANGED, SAME
    std::vector<FactChange> facts;
};

Comparison compare_runs(const RunAggregate& base, const RunAggregate& next, double threshold);

// The --fail-on changes (FailOn bits) found.
unsigned changes_found(const Comparison& c);

// "user", "database", "client product", "server product", "security mechanism".
std::string_view fact_name(Fact kind);

}  // namespace drda::compare
