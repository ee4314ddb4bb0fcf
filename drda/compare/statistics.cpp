// SPDX-License-Identifier: Apache-2.0
#include "compare/statistics.h"

#include <algorithm>
#include <cmath>

namespace drda::compare {

double median(std::vector<float> v) {
    if (v.empty()) return 0;
    const std::size_t mid = v.size() / 2;
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(mid), v.end());
    const double hi = v[mid];
    if (v.size() % 2) return hi;
    const double lo = *std::max_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(mid));
    return (lo + hi) / 2;
}

double percentile(std::vector<float> v, double q) {
    if (v.empty()) return 0;
    const auto rank = static_cast<std::size_t>(std::ceil(q * static_cast<double>(v.size())));
    const std::size_t k = std::min(v.size() - 1, rank == 0 ? 0 : rank - 1);
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(k), v.end());
    return v[k];
}

namespace {

// P(U <= u) under the null hypothesis for samples of n and m values
// without ties: the number of arrangements with U = k, counted by the
// recurrence f(n, m, k) = f(n-1, m, k-m) + f(n, m-1, k), over all of them.
double exact_cdf(std::size_t n, std::size_t m, double u) {
    const std::size_t top = n * m;
    // f[j][k] for the current i (values of the first sample), j of the second.
    std::vector<std::vector<double>> prev(m + 1, std::vector<double>(top + 1, 0.0)), cur = prev;
    for (std::size_t j = 0; j <= m; ++j) prev[j][0] = 1;  // i = 0: U is 0
    for (std::size_t i = 1; i <= n; ++i) {
        for (std::size_t j = 0; j <= m; ++j) {
            std::fill(cur[j].begin(), cur[j].end(), 0.0);
            for (std::size_t k = 0; k <= i * j; ++k) {
                // The largest value is the first sample's (it exceeds all j
                // of the second) or the second's.
                double f = k >= j ? prev[j][k - j] : 0.0;
                if (j > 0) f += cur[j - 1][k];
                cur[j][k] = f;
            }
        }
        std::swap(prev, cur);
    }
    double below = 0, all = 0;
    for (std::size_t k = 0; k <= top; ++k) {
        all += prev[m][k];
        if (static_cast<double>(k) <= u + 1e-9) below += prev[m][k];
    }
    return below / all;
}

}  // namespace

RankSum rank_sum(const std::vector<float>& a, const std::vector<float>& b, std::size_t exact_max) {
    RankSum r;
    const std::size_t n = a.size(), m = b.size();
    if (n == 0 || m == 0) return r;
    struct Item {
        float v;
        bool first;
    };
    std::vector<Item> all;
    all.reserve(n + m);
    for (float v : a) all.push_back({v, true});
    for (float v : b) all.push_back({v, false});
    std::sort(all.begin(), all.end(), [](const Item& x, const Item& y) { return x.v < y.v; });
    double rank_first = 0, ties = 0;
    for (std::size_t i = 0; i < all.size();) {
        std::size_t j = i;
        while (j < all.size() && all[j].v == all[i].v) ++j;
        const double t = static_cast<double>(j - i);
        const double rank = (static_cast<double>(i + 1) + static_cast<double>(j)) / 2;  // average of ranks i+1..j
        for (std::size_t k = i; k < j; ++k)
            if (all[k].first) rank_first += rank;
        ties += t * t * t - t;
        i = j;
    }
    const double dn = static_cast<double>(n), dm = static_cast<double>(m), total = dn + dm;
    r.u = rank_first - dn * (dn + 1) / 2;
    if (n <= exact_max && m <= exact_max && ties == 0) {
        r.exact = true;
        const double lower = exact_cdf(n, m, std::min(r.u, dn * dm - r.u));
        r.p = std::min(1.0, 2 * lower);
        return r;
    }
    const double mean = dn * dm / 2;
    const double var = dn * dm / 12 * ((total + 1) - ties / (total * (total - 1)));
    if (var <= 0) return r;  // every value the same
    const double z = std::max(0.0, std::fabs(r.u - mean) - 0.5) / std::sqrt(var);
    r.p = std::min(1.0, std::erfc(z / std::sqrt(2.0)));
    return r;
}

}  // namespace drda::compare
