// Scores: posterior means against a direct computation, the component scores, the case
// total and order, and the columns of the score table.
#include "fit_support.hpp"
#include "travik/scores.hpp"
#include "travik/variance.hpp"

#include <gtest/gtest.h>

#include <cmath>

using namespace travik;

TEST(Posmean, MatchesTheDirectPosteriorOfAOneItemDeck) {
    ModelState m =
        travik::simulated::simulate(travik::simulated::truthFor(1, 0, 0, 0, 1), 1, 16, 40, 0.0, 3);
    m.x.values[5] = 999; // a case with every response missing
    travik::computeObservedMargins(m);
    travik_test::Fit f = travik_test::fit(m);
    variance(m, f.est, [](std::string_view) {});
    Scores s;
    posteriorMeans(m, f.est, s);
    const Grid& g = f.est.grid;
    const auto& a = m.params.binary[0].alpha;
    for (int k : {0, 1, 2, 5}) {
        double w = 0, m1 = 0, m2 = 0;
        for (int t = 0; t < g.nq; ++t) {
            const double p = 1 / (1 + std::exp(-(a[0] + a[1] * g.qz[t])));
            const double h = g.qw[t] * (k == 5 ? 1.0 : m.x(k, 0) == 1 ? p : 1 - p);
            w += h, m1 += h * g.qz[t], m2 += h * g.qz[t] * g.qz[t];
        }
        EXPECT_NEAR(s.eap1[k], m1 / w, 1e-12) << k;
        EXPECT_NEAR(s.eapSd1[k], std::sqrt(m2 / w - (m1 / w) * (m1 / w)), 1e-12) << k;
    }
    EXPECT_NEAR(s.eap1[5], 0.0, 1e-14); // the grid's mean and standard deviation
    EXPECT_NEAR(s.eapSd1[5], 1.0, 1e-12);
}

TEST(ComponentScores, TotalsOrderAndTableColumns) {
    ModelState m;
    Deck& d = m.deck;
    d.ncase = 3, d.nb = 2, d.nn = 1, d.nc = 1, d.nf = 2;
    d.c = {3};
    m.params = travik::simulated::truthFor(2, 1, 1, 0, 2); // ALPHAB(1..2): 0.7, 0.9 and 0.85, 0.7
    m.params.normal[0].psi = 0.5;                          // LAMBDA 0.8, 0.5
    m.x = {3, 4, {1.7, 0, 2.5, 3.9, 0, 999, 999.5, 1, 999, 1, 999, 999}, {}};
    Scores s;
    componentScores(m, s);
    EXPECT_DOUBLE_EQ(s.component1[0], 0.7 + 2.5 * 0.8 / 0.5 + 1.2);
    EXPECT_DOUBLE_EQ(s.component2[0], 0.9 + 2.5 * 0.5 / 0.5 - 0.3);
    EXPECT_DOUBLE_EQ(s.component1[1], 0.0); // missing values and the reference category add nothing
    EXPECT_DOUBLE_EQ(s.component1[2], 0.85);
    EXPECT_DOUBLE_EQ(caseTotal(m.x.row(0), 4), 8.1);
    EXPECT_DOUBLE_EQ(caseTotal(m.x.row(1), 4), 1.0);
    EXPECT_EQ(ascendingOrder({0.5, -1, 0.5, -1, 0.2}), (std::vector<int>{1, 3, 4, 0, 2}));

    s.eap1 = {0.5, -1.25, 0.14}, s.eapSd1 = {0.75, 0.5, 1}, s.eap2 = {0, 2, -0.5},
    s.eapSd2 = {1, 1, 1};
    std::string table = scoringSection(m, s, {1, 2, 0});
    EXPECT_EQ(table, "\n\n***Scoring Response Patterns***\n\n\n"
                     "E(Z1/X)  SD1  E(Z2/X)  SD2    CS1    CS2    RESPONSES\n\n"
                     " -1.25   0.50   2.00   1.00   0.00   0.00  0**** 1\n"
                     "  0.14   1.00  -0.50   1.00   0.85   0.70 ** 1****\n"
                     "  0.50   0.75   0.00   1.00   5.90   3.10  1 0 2 3\n");
}
