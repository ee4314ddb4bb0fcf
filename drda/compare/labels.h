// SPDX-License-Identifier: Apache-2.0
// The names and fixed figures of a comparison: the labels of shapes and
// errors, the changes --fail-on names, and when a change stands out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace drda::compare {

enum class Label : std::uint8_t { slower, faster, added, gone, same, changed };

// "SLOWER", "FASTER", "NEW", "GONE", "SAME", "CHANGED".
std::string_view label_name(Label l);

// The changes --fail-on can name, as bits.
enum FailOn : unsigned {
    kFailSlower = 1u << 0,    // slower: a shape SLOWER
    kFailNewError = 1u << 1,  // new-error: an error NEW
    kFailNew = 1u << 2,       // new: a shape NEW
    kFailGone = 1u << 3,      // gone: a shape GONE
};

struct FailOnName {
    std::string_view name;
    unsigned bit;
};
inline constexpr FailOnName kFailOnNames[] = {
    {"slower", kFailSlower},
    {"new-error", kFailNewError},
    {"new", kFailNew},
    {"gone", kFailGone},
};

// A shape is SLOWER or FASTER only with at least this many executions in
// each run, a ratio of medians (over the common factor) at least the
// threshold (or at most its inverse), and a rank-sum p-value below kMaxP.
inline constexpr std::uint64_t kMinExecutions = 5;
inline constexpr double kDefaultThreshold = 2.0;
inline constexpr double kMaxP = 0.01;
// The common factor is the median ratio of the shapes with kMinExecutions
// in each run, when there are at least this many; else 1 (with fewer, it
// would be the change of those few shapes itself).
inline constexpr std::size_t kMinFactorShapes = 3;

}  // namespace drda::compare
