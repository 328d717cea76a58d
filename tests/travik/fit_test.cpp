// Global fit: the pooling walk, the degrees of freedom, and the pattern probabilities and
// posterior means that order the patterns.
#include "fit_support.hpp"
#include "travik/fit.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

using namespace travik;

TEST(Pooling, GroupsLookAheadAndDroppedRest) {
    // Expected 2, 2, 3 close at 7 (5 remain, nothing merged); 4, 1 close at exactly 5.
    Pooling p = poolPatterns({2, 2, 3, 4, 1}, {1, 3, 2, 5, 2});
    EXPECT_EQ(p.groups, 2);
    EXPECT_DOUBLE_EQ(p.gp, 6 * std::log(6.0 / 7) + 7 * std::log(7.0 / 5));
    EXPECT_DOUBLE_EQ(p.x2, 1.0 / 7 + 4.0 / 5);
    EXPECT_DOUBLE_EQ(p.eu, 12.0);
    // 6 closes a group and the 3 behind it (below 5) is merged into it: one group, O 8, E 9.
    p = poolPatterns({6, 3}, {4, 4});
    EXPECT_EQ(p.groups, 1);
    EXPECT_DOUBLE_EQ(p.gp, 8 * std::log(8.0 / 9));
    EXPECT_DOUBLE_EQ(p.x2, 1.0 / 9);
    // The look-ahead counts unobserved patterns too (5 + 3 + 1 merge); the walk skips them.
    p = poolPatterns({5, 3, 1}, {2, 0, 3});
    EXPECT_EQ(p.groups, 1);
    EXPECT_DOUBLE_EQ(p.x2, 16.0 / 9);
    // 6 closes (6 left behind); 4 is never observed; the open group of 2 is dropped.
    p = poolPatterns({6, 4, 2}, {7, 0, 1});
    EXPECT_EQ(p.groups, 1);
    EXPECT_DOUBLE_EQ(p.eu, 6.0);
    EXPECT_DOUBLE_EQ(p.x2, 1.0 / 6);

    EXPECT_EQ(degreesOfFreedom(8, 3, 1), 1);  // 8 - 1 - 6
    EXPECT_EQ(degreesOfFreedom(7, 3, 2), -2); // fewer groups than patterns: 7 - 9
}

TEST(Likeratio, PatternProbabilitiesMeansAndExplainedShare) {
    ModelState m =
        travik::simulated::simulate(travik::simulated::truthFor(3, 0, 0, 0, 1), 1, 16, 200, 0.0, 5);
    m.deck.tol = 1e-7;
    travik_test::Fit f = travik_test::fit(m);
    // Every possible pattern of the three items, in binary counting order.
    PatternTable all;
    all.items = 3;
    for (int p = 0; p < 8; ++p) {
        for (int i = 0; i < 3; ++i) all.responses.push_back((p >> (2 - i)) & 1);
        all.freq.push_back(1);
    }
    PatternPosterior post = patternPosterior(m.deck, f.est.grid, f.est.tables, all);
    EXPECT_NEAR(std::accumulate(post.f.begin(), post.f.end(), 0.0), 1.0, 1e-14);
    // Positive loadings: one more positive response raises the posterior mean.
    for (int p = 0; p < 8; ++p)
        for (int i = 0; i < 3; ++i)
            if (!(p & (1 << i))) {
                EXPECT_GT(post.mean[p | (1 << i)], post.mean[p]) << p << " " << i;
            }

    PatternTable seen = foldPatterns(m.x, 0, 3);
    const double s = saturatedLoglikelihood(seen, 200);
    EXPECT_DOUBLE_EQ(goodnessOfFit(m.deck, seen,
                                   patternPosterior(m.deck, f.est.grid, f.est.tables, seen), s,
                                   s - 10)
                         .explained,
                     100.0);

    // A pattern whose probability underflows keeps a posterior mean: 20 items answering 1
    // with P = 1e-20 e^(z/4) at every node.
    Grid grid = makeGrid(8, 1);
    ItemTables t;
    t.size = grid.size;
    m.deck.nb = 20;
    for (int i = 0; i < 20; ++i)
        for (int g = 0; g < grid.size; ++g) {
            t.binaryOneProb.push_back(1e-20 * std::exp(grid.z1[g] / 4));
            t.binaryZeroProb.push_back(1.0 - t.binaryOneProb.back());
        }
    post =
        patternPosterior(m.deck, grid, t, PatternTable{20, std::vector<double>(20, 1.0), {1}, {0}});
    double num = 0, den = 0; // posterior proportional to w e^(5z)
    for (int g = 0; g < grid.size; ++g) {
        num += grid.w[g] * std::exp(5 * grid.z1[g]) * grid.z1[g];
        den += grid.w[g] * std::exp(5 * grid.z1[g]);
    }
    EXPECT_LT(post.f[0], 1e-300);
    EXPECT_NEAR(post.mean[0], num / den, 1e-12);
}
