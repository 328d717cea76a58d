#include "travik/quadrature.hpp"

#include <gtest/gtest.h>

#include <cmath>

using travik::makeGrid;

TEST(Quadrature, RulesIntegrateTheStandardNormal) {
    const int requested[] = {8, 12, 16, 24, 32, 48};
    const int stored[] = {8, 12, 16, 20, 24, 30};
    for (int r = 0; r < 6; ++r) {
        travik::Grid g = makeGrid(requested[r], 1);
        ASSERT_EQ(g.nq, stored[r]);
        double sum = 0, mean = 0, second = 0, fourth = 0;
        for (int t = 0; t < g.nq; ++t) {
            sum += g.qw[t];
            mean += g.qw[t] * g.qz[t];
            second += g.qw[t] * g.qz[t] * g.qz[t];
            fourth += g.qw[t] * std::pow(g.qz[t], 4);
            if (t > 0) {
                EXPECT_LT(g.qz[t - 1], g.qz[t]);
            }
            // Symmetric about 0: node n+1-j mirrors node j, with the same weight.
            EXPECT_EQ(g.qz[g.nq - 1 - t], -g.qz[t]);
            EXPECT_EQ(g.qw[g.nq - 1 - t], g.qw[t]);
        }
        // The dropped outer points of the 24-, 32- and 48-point rules weigh less than 1e-12.
        EXPECT_NEAR(sum, 1.0, 1e-12) << requested[r];
        EXPECT_NEAR(mean, 0.0, 1e-14);
        EXPECT_NEAR(second, 1.0, 1e-10);
        EXPECT_NEAR(fourth, 3.0, 1e-8); // exact up to degree 2m - 1
    }
}

TEST(Quadrature, TellingValuesOfTheTabulatedGrids) {
    // The tabulated values agree with the exact rule to seven or eight significant digits.
    auto near = [](double value, double expected) {
        EXPECT_NEAR(value / expected, 1.0, 1e-7) << expected;
    };
    travik::Grid g8 = makeGrid(8, 1);
    const double nodes[] = {4.1445469856, 2.8024859428, 1.6365190744, 0.5390797853};
    const double weights[] = {0.000112614536, 0.009635220282, 0.117239907384, 0.373012244701};
    for (int j = 0; j < 4; ++j) {
        near(-g8.qz[j], nodes[j]);
        near(g8.qz[7 - j], nodes[j]);
        near(g8.qw[j], weights[j]);
    }
    near(-makeGrid(16, 1).qz[0], 6.6308779716);
    near(-makeGrid(24, 1).qz[0], 6.5416750908);
    near(-makeGrid(32, 1).qz[0], 6.7559309006);
    travik::Grid g48 = makeGrid(48, 1);
    near(-g48.qz[0], 6.8246512413);
    EXPECT_NEAR(g48.qw[0], 1.6e-11, 0.05e-11);
}

TEST(Quadrature, TwoFactorGridIsTheProductWithT2Fastest) {
    travik::Grid g = makeGrid(16, 2);
    ASSERT_EQ(g.size, 256);
    EXPECT_EQ(g.z1[1], g.qz[0]);
    EXPECT_EQ(g.z2[1], g.qz[1]);
    EXPECT_EQ(g.z1[16], g.qz[1]);
    EXPECT_EQ(g.z2[16], g.qz[0]);
    EXPECT_EQ(g.w[17], g.qw[1] * g.qw[1]);
    EXPECT_EQ(makeGrid(20, 1).size, 0); // no rule: an empty grid
}

TEST(Quadrature, FullRulesUpTo201PointsKeepEveryNode) {
    // E z^(2k) = (2k-1)!!: exact up to degree 2m - 1 on the m-point rule.
    for (int m : {2, 3, 7, 61, 121, 201}) {
        travik::Grid g = travik::makeFullGrid(m, 1);
        ASSERT_EQ(g.nq, m);
        double moment[5] = {0, 0, 0, 0, 0}; // degrees 0, 2, 4, 6, 8
        for (int t = 0; t < m; ++t) {
            ASSERT_TRUE(std::isfinite(g.qz[t]) && g.qw[t] > 0.0) << m << " node " << t;
            if (t > 0) {
                EXPECT_LT(g.qz[t - 1], g.qz[t]);
            }
            for (int k = 0; k < 5; ++k) moment[k] += g.qw[t] * std::pow(g.qz[t], 2 * k);
        }
        const double exact[5] = {1, 1, 3, 15, 105};
        for (int k = 0; k < 5 && 2 * k <= 2 * m - 1; ++k)
            EXPECT_NEAR(moment[k], exact[k], 1e-11 * exact[k]) << m << " points, degree " << 2 * k;
    }
    // High degrees too: E z^20 = 19!! = 654729075 on the 201-point rule.
    const travik::Grid g201 = travik::makeFullGrid(201, 1);
    double twentieth = 0;
    for (int t = 0; t < g201.nq; ++t) twentieth += g201.qw[t] * std::pow(g201.qz[t], 20);
    EXPECT_NEAR(twentieth / 654729075.0, 1.0, 1e-9);
    EXPECT_EQ(travik::makeFullGrid(61, 2).size, 61 * 61);
}
