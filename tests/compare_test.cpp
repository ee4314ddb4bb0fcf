// SPDX-License-Identifier: Apache-2.0
// --compare's parts that the runs of tests/compare_check.py do not pin
// down: the rank-sum test (exact against the normal approximation, known
// values, symmetry) and how exchanges make executions.
#include <gtest/gtest.h>

#include <random>

#include "compare/comparison.h"
#include "compare/run_aggregate.h"
#include "compare/statistics.h"
#include "ddm/code_point_ids.h"

namespace {

using drda::compare::rank_sum;

std::vector<float> draw(std::mt19937& rng, std::size_t n, double scale) {
    std::lognormal_distribution<float> d(0.0f, 0.6f);
    std::vector<float> v(n);
    for (float& x : v) x = static_cast<float>(d(rng) * scale);
    return v;
}

TEST(CompareStatistics, RankSumKnownValuesAndSymmetry) {
    // Fully apart, 5 and 5: the two most extreme of C(10,5) = 252 orders.
    const std::vector<float> lo = {1, 2, 3, 4, 5}, hi = {6, 7, 8, 9, 10};
    const auto t = rank_sum(lo, hi);
    EXPECT_TRUE(t.exact);
    EXPECT_DOUBLE_EQ(t.u, 0);
    EXPECT_NEAR(t.p, 2.0 / 252, 1e-12);
    // Interleaved evenly: U at its mean, p 1.
    EXPECT_NEAR(rank_sum({1, 3, 5, 7}, {2, 4, 6, 8}).p, rank_sum({2, 4, 6, 8}, {1, 3, 5, 7}).p, 1e-12);
    EXPECT_GT(rank_sum({1, 4, 5, 8}, {2, 3, 6, 7}).p, 0.99);
    // Every value the same: no evidence at all.
    EXPECT_EQ(rank_sum({2, 2, 2, 2, 2, 2}, {2, 2, 2, 2, 2, 2}).p, 1);
    EXPECT_EQ(rank_sum({}, {1, 2}).p, 1);

    std::mt19937 rng(29);
    for (int round = 0; round < 200; ++round) {
        const auto a = draw(rng, 1 + rng() % 30, 1.0), b = draw(rng, 1 + rng() % 30, 1.0 + (rng() % 3));
        const auto ab = rank_sum(a, b), ba = rank_sum(b, a);
        EXPECT_NEAR(ab.p, ba.p, 1e-9);
        EXPECT_NEAR(ab.u + ba.u, static_cast<double>(a.size() * b.size()), 1e-9);
        EXPECT_GE(ab.p, 0);
        EXPECT_LE(ab.p, 1);
    }
}

// The exact p-values and the normal approximation's agree where the
// approximation is good (20 and 20), and the exact tail is never far off.
TEST(CompareStatistics, ExactAgreesWithNormalApproximation) {
    std::mt19937 rng(7);
    for (int round = 0; round < 60; ++round) {
        const auto a = draw(rng, 20, 1.0), b = draw(rng, 20, 1.0 + 0.05 * round);
        const auto exact = rank_sum(a, b), normal = rank_sum(a, b, 0);
        ASSERT_TRUE(exact.exact);
        ASSERT_FALSE(normal.exact);
        EXPECT_NEAR(exact.p, normal.p, 0.01 + 0.05 * exact.p) << round;
    }
}

TEST(CompareStatistics, MedianAndPercentile) {
    EXPECT_DOUBLE_EQ(drda::compare::median({4, 1, 3, 2}), 2.5);
    EXPECT_DOUBLE_EQ(drda::compare::median({5, 1, 3}), 3);
    std::vector<float> v;
    for (int i = 20; i >= 1; --i) v.push_back(static_cast<float>(i));
    EXPECT_DOUBLE_EQ(drda::compare::percentile(v, 0.95), 19);
    EXPECT_DOUBLE_EQ(drda::compare::percentile({}, 0.95), 0);
}

drda::summary::Exchange ex(std::uint32_t conn, std::uint64_t section, std::uint16_t command, const char* sql, double ms,
                           std::uint64_t rows = 0) {
    drda::summary::Exchange e;
    e.has_conn = true;
    e.conn = conn;
    e.section = section;
    e.command = command;
    if (sql) e.has_sql = true, e.sql = sql;
    e.has_server = ms >= 0;
    e.server_ms = ms;
    e.has_rows = rows > 0;
    e.rows = rows;
    return e;
}

// A query prepared, opened, fetched twice; opened again and closed; two
// executes of a prepared update on another connection in between; a
// statement with no section; fetches of a query opened before the input.
TEST(CompareExecutions, ExchangesOfOneSectionMakeOneExecution) {
    using namespace drda;
    compare::RunAggregate run;
    compare::RunCollector c(run);
    const char* q = "SELECT a FROM t WHERE x = 1";
    c.exchange(ex(1, 7, kCpPrpsqlstt, q, 2));
    c.exchange(ex(2, 7, kCpPrpsqlstt, "UPDATE t SET a = 1", 1));
    c.exchange(ex(1, 7, kCpOpnqry, q, 0, 10));
    c.exchange(ex(2, 7, kCpExcsqlstt, "UPDATE t SET a = 1", 2));
    c.exchange(ex(1, 7, kCpCntqry, q, 3, 10));
    c.exchange(ex(1, 7, kCpCntqry, q, 1, 5));
    c.exchange(ex(2, 7, kCpExcsqlstt, "UPDATE t SET a = 2", 4));
    c.exchange(ex(1, 7, kCpOpnqry, "SELECT a FROM t WHERE x = 2", 4, 3));
    c.exchange(ex(1, 7, kCpClsqry, nullptr, 1));
    c.exchange(ex(1, 0, kCpExcsqlimm, "DELETE FROM t", 5));
    c.exchange(ex(1, 9, kCpCntqry, nullptr, 8, 50));  // its text never came: no shape
    c.exchange(ex(1, 0, 0xC001 /* RDBCMM */, nullptr, 1));
    summary::ConnectionInfo end;
    end.has_conn = true;
    end.conn = 2;
    c.connection(end);
    c.finish(summary::Totals());

    EXPECT_EQ(run.executions, 5u);
    EXPECT_EQ(run.figures.exchanges, 12u);
    std::map<std::string, const summary::ShapeStats*> by;
    for (const summary::ShapeStats* s : run.shapes.sorted()) by[s->shape] = s;
    ASSERT_EQ(by.size(), 3u);
    const summary::ShapeStats* sel = by.at("SELECT a FROM t WHERE x = ?");
    EXPECT_EQ(sel->execs, 2u);
    EXPECT_EQ(sel->rows, 28u);
    EXPECT_DOUBLE_EQ(sel->total_ms, 11);
    EXPECT_EQ(std::multiset<float>(sel->samples.begin(), sel->samples.end()), (std::multiset<float>{6, 5}));
    const summary::ShapeStats* upd = by.at("UPDATE t SET a = ?");
    EXPECT_EQ(upd->execs, 2u);
    EXPECT_EQ(std::multiset<float>(upd->samples.begin(), upd->samples.end()), (std::multiset<float>{3, 4}));
    EXPECT_EQ(by.at("DELETE FROM t")->execs, 1u);
}

// Two runs whose shapes all moved by the same factor flag nothing; one
// shape that moved beyond it is SLOWER.
TEST(CompareExecutions, CommonFactorAbsorbsAWholeRunsDrift) {
    using namespace drda;
    compare::RunAggregate base, next;
    compare::RunCollector b(base), n(next);
    std::mt19937 rng(3);
    const char* shapes[] = {"SELECT x FROM a", "SELECT x FROM b", "SELECT x FROM c", "SELECT x FROM d"};
    for (int i = 0; i < 40; ++i) {
        for (int k = 0; k < 4; ++k) {
            const double t = 1 + k + (rng() % 100) / 200.0;
            b.exchange(ex(1, 0, kCpExcsqlimm, shapes[k], t));
            n.exchange(ex(1, 0, kCpExcsqlimm, shapes[k], t * 3 * (k == 3 ? 4 : 1)));
        }
    }
    b.finish(summary::Totals());
    n.finish(summary::Totals());
    const compare::Comparison c = compare::compare_runs(base, next, 2.0);
    EXPECT_NEAR(c.factor, 3, 0.3);
    for (const compare::ShapeChange& s : c.shapes)
        EXPECT_EQ(s.label, s.shape == shapes[3] ? compare::Label::slower : compare::Label::same) << s.shape;
    EXPECT_EQ(compare::changes_found(c), unsigned{compare::kFailSlower});
}

}  // namespace
