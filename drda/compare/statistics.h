// SPDX-License-Identifier: Apache-2.0
// The statistics of a comparison of two runs: order statistics of a sample
// of times and the rank-sum (Mann-Whitney U) test of two samples.
#pragma once

#include <cstddef>
#include <vector>

namespace drda::compare {

// The median (the mean of the two middle values of an even count); 0 for
// no values.
double median(std::vector<float> v);

// The nearest-rank percentile `q` (0 < q <= 1): the smallest value with at
// least q of the values at or below it; 0 for no values.
double percentile(std::vector<float> v, double q);

// Samples of at most this many values each (and no ties) are tested
// exactly; larger ones, or ties, by the normal approximation.
inline constexpr std::size_t kExactMax = 20;

struct RankSum {
    double u = 0;        // U of the first sample
    double p = 1;        // two-sided p-value
    bool exact = false;  // from the exact distribution of U
};

// The two-sided rank-sum test of `a` against `b`: for samples of at most
// `exact_max` values without ties the exact p-value (the null distribution
// of U counted); otherwise the normal approximation with the variance
// corrected for ties and a continuity correction of 0.5. p is 1 when
// either sample is empty.
RankSum rank_sum(const std::vector<float>& a, const std::vector<float>& b, std::size_t exact_max = kExactMax);

}  // namespace drda::compare
