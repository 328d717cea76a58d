// Margins of a fitted model: observed counts against a direct count of the data, expected
// counts against the model's probabilities computed here from the estimates.
#include "fit_support.hpp"
#include "travik/margins.hpp"

#include <gtest/gtest.h>

#include <cmath>

using namespace travik;

TEST(Margins, FittedModelAgainstDirectCountsAndProbabilities) {
    ModelState m = travik::simulated::simulate(travik::simulated::truthFor(3, 1, 1, 1, 1), 1, 16,
                                               150, 0.08, 21);
    travik_test::Fit f = travik_test::fit(m);
    const Deck& d = m.deck;
    const Grid& g = f.est.grid;
    const Parameters& p = m.params;
    auto count = [&](int col, double a, int col2 = -1, double b = 0) {
        long long n = 0;
        for (int k = 0; k < d.ncase; ++k)
            n += std::trunc(m.x(k, col)) == a && (col2 < 0 || std::trunc(m.x(k, col2)) == b);
        return n;
    };
    BinaryMargins b = computeBinaryMargins(m, g, f.est.tables, foldPatterns(m.x, 0, d.nb));
    for (int i = 0; i < d.nb; ++i) {
        // The quadrature sums are accumulated in single precision.
        float one = 0, zero = 0;
        for (int t = 0; t < g.nq; ++t) {
            const double prob =
                1 / (1 + std::exp(-(p.binary[i].alpha[0] + p.binary[i].alpha[1] * g.qz[t])));
            one = static_cast<float>(one + g.qw[t] * prob);
            zero = static_cast<float>(zero + g.qw[t] * (1 - prob));
        }
        const double answered = d.ncase * (1 - m.observed.pmiss[i]);
        EXPECT_NEAR(b.e11[b.at(i, i)], answered * one, 1e-9) << i;
        EXPECT_NEAR(b.e00[b.at(i, i)], answered * zero, 1e-9) << i;
        EXPECT_EQ(b.o11[b.at(i, i)], count(i, 1));
        EXPECT_EQ(b.o00[b.at(i, i)], count(i, 0));
        for (int j = 0; j < i; ++j) {
            EXPECT_EQ(b.o11[b.at(i, j)], count(i, 1, j, 1));
            EXPECT_EQ(b.o10[b.at(i, j)], count(i, 1, j, 0));
            EXPECT_EQ(b.o01[b.at(i, j)], count(i, 0, j, 1));
            EXPECT_EQ(b.o00[b.at(i, j)], count(i, 0, j, 0));
        }
    }

    // Nominal item: multinomial logit; ordinal item: differences of cumulative logits.
    PolytomousMargins c = computeNominalMargins(m, g, f.est.tables, foldPolytomous(m, 1));
    PolytomousMargins o = computeOrdinalMargins(m, g, f.est.tables, foldPolytomous(m, 2));
    const auto& ac = p.nominal[0].ac;
    const auto& oi = p.ordinal[0];
    for (int cat = 1; cat <= 4; ++cat) {
        double nominal = 0, ordinal = 0;
        for (int t = 0; t < g.nq; ++t) {
            const double z = g.qz[t];
            const double e[] = {0, 1, std::exp(ac[2][0] + ac[2][1] * z),
                                std::exp(ac[3][0] + ac[3][1] * z), 0};
            nominal += g.qw[t] * e[cat] / (e[1] + e[2] + e[3]);
            auto cum = [&](int j) {
                return j == 0 ? 0.0 : j == 4 ? 1.0 : 1 / (1 + std::exp(oi.ao[1] * z - oi.thr[j]));
            };
            ordinal += g.qw[t] * (cum(cat) - cum(cat - 1));
        }
        if (cat <= 3) {
            EXPECT_NEAR(c.firstExpected[0][cat - 1], d.ncase * nominal, 1e-9);
            EXPECT_EQ(c.first[0][cat - 1], count(d.nominalColumn(0), cat));
        }
        EXPECT_NEAR(o.firstExpected[0][cat - 1], d.ncase * ordinal, 1e-9);
        EXPECT_EQ(o.first[0][cat - 1], count(d.ordinalColumn(0), cat));
    }
}

TEST(Margins, CellsWithNothingExpected) {
    // Two nominal items of 3 and 2 categories: 5 first-order rows, then 6 rows and the sum,
    // which leaves out the cell with nothing expected (its contribution prints as asterisks).
    PolytomousMargins p;
    p.categories = {3, 2};
    p.first = {{1, 2, 3}, {4, 5}}, p.firstExpected = {{1, 2, 3}, {4, 5}};
    p.pair = {{1, 0, 1, 1, 2, 1}}, p.pairExpected = {{2, 0, 1, 1, 1, 1}};
    const std::string pol = polytomousMarginsSection(p);
    EXPECT_NE(pol.find("      2      2           5      5.0000      0.0000      0.0000\n\n\n"),
              std::string::npos);
    EXPECT_TRUE(
        pol.ends_with("SQ(O-E)/E\n\n"
                      "      1      2      1      1       1      2.0000     -1.0000      0.5000\n"
                      "      1      2      1      2       0      0.0000      0.0000   *********\n"
                      "      1      2      2      1       1      1.0000      0.0000      0.0000\n"
                      "      1      2      2      2       1      1.0000      0.0000      0.0000\n"
                      "      1      2      3      1       2      1.0000      1.0000      1.0000\n"
                      "      1      2      3      2       1      1.0000      0.0000      0.0000\n" +
                      std::string(40, ' ') + "                   Sum=   1.5000\n"));
}
