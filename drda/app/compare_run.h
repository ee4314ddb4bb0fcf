// SPDX-License-Identifier: Apache-2.0
// --compare BASE NEW: both inputs read one after the other into a run
// aggregate each (the selection applies to both), then the comparison as
// text, JSON Lines (-j) and a page (--html). Each input goes through the
// driver's loop (app/driver.h) with the run's collector as its exchange view.
#pragma once

#include <cstdio>
#include <string>

namespace drda {

struct Plan;

// run_compare's result (and the exit status) when a change --fail-on
// names is found.
inline constexpr int kCompareChangeStatus = 3;

struct CompareOptions {
    bool given = false;               // --compare BASE NEW
    std::string base, next;
    bool threshold_given = false;     // --threshold R
    double threshold = 2.0;
    unsigned fail_on = 0;             // --fail-on LIST: compare::FailOn bits
};

// Reads --compare, --threshold or --fail-on at argv[i] (and its values,
// moving i past them): 1 when it was one of them, 0 when not, -1 for a
// value that is wrong (the reason is on `err`).
int parse_compare_option(int argc, const char* const* argv, int& i, CompareOptions& options, std::FILE* err);

// Runs the comparison of a plan in Mode::compare, writing to the output
// files run() opened (`page`: null without --html): 0, 3 when a change
// --fail-on names is found, -1 when an input cannot be read to its end or
// the output cannot be written (reported on `err`; the comparison of what
// was read is written all the same).
int run_compare(const Plan& plan, std::FILE* out, const std::string& out_name, std::FILE* page, std::FILE* err);

}  // namespace drda
