#include "travik/rotation.hpp"

#include "fit_support.hpp"
#include "travik/identification.hpp"
#include "travik/irt_parameters.hpp"
#include "travik/parameter_vector.hpp"

#include "gtest/gtest.h"

#include <cmath>

namespace {

using travik::LoadingRow;
using travik::Matrix2;
using travik::RotationMethod;
using Rows = std::vector<LoadingRow>;

// Two clusters of items, each loading on one factor only; the first factor is the larger.
const Rows kSimple{{0.8, 0.0}, {0.7, 0.0}, {0.6, 0.0}, {0.0, 0.75}, {0.0, 0.65}, {0.0, 0.5}};

Rows times(const Rows& a, const Matrix2& m) {
    Rows out;
    for (const LoadingRow& r : a)
        out.push_back({r[0] * m[0][0] + r[1] * m[1][0], r[0] * m[0][1] + r[1] * m[1][1]});
    return out;
}

void expectRowsNear(const Rows& a, const Rows& b, double tolerance) {
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i)
        for (int k = 0; k < 2; ++k) EXPECT_NEAR(a[i][k], b[i][k], tolerance) << i << "," << k;
}

TEST(Rotation, RecoversSimpleStructureBuiltByAKnownRotation) {
    // Varimax: the simple structure turned by 0.6 rad, and mirrored so that the signs and the
    // order of the factors must be set by the conventions.
    const Rows turned =
        times(kSimple, {{{-std::cos(0.6), std::sin(0.6)}, {std::sin(0.6), std::cos(0.6)}}});
    travik::Rotation v = travik::rotate(RotationMethod::Varimax, turned);
    EXPECT_TRUE(v.converged);
    expectRowsNear(v.loadings, kSimple, 1e-7);
    // Oblimin: A = P T' for a pattern P of simple structure and T with unit columns at angles
    // 0.3 and 0.3 + acos(0.4); quartimin reaches 0 at L = P, Phi = T'T (correlation 0.4).
    const double second = 0.3 + std::acos(0.4);
    const Matrix2 tr = {{{std::cos(0.3), std::sin(0.3)}, {std::cos(second), std::sin(second)}}};
    travik::Rotation o = travik::rotate(RotationMethod::Oblimin, times(kSimple, tr));
    EXPECT_TRUE(o.converged);
    EXPECT_NEAR(o.criterion, 0.0, 1e-12);
    expectRowsNear(o.loadings, kSimple, 1e-6);
    EXPECT_NEAR(o.phi[0][1], 0.4, 1e-6);
    EXPECT_NEAR(o.phi[1][0], 0.4, 1e-6);
}

TEST(Rotation, CriterionGradientsAndConventions) {
    const Rows a{{0.7, 0.3}, {-0.2, 0.9}, {0.5, 0.5}, {0.1, -0.4}, {0.8, -0.1}};
    for (RotationMethod method : {RotationMethod::Varimax, RotationMethod::Oblimin}) {
        travik::CriterionValue q = travik::rotationCriterion(method, a);
        for (std::size_t i = 0; i < a.size(); ++i)
            for (int k = 0; k < 2; ++k) {
                Rows up = a, down = a;
                up[i][k] += 1e-6;
                down[i][k] -= 1e-6;
                const double numeric = (travik::rotationCriterion(method, up).value -
                                        travik::rotationCriterion(method, down).value) /
                                       2e-6;
                EXPECT_NEAR(q.gradient[i][k], numeric, 1e-8);
            }
        // Rows outside the criterion (large, so they would move the solution) take the
        // rotation found without them.
        Rows extended = a;
        extended.push_back({3.0, -2.0});
        extended.push_back({-1.0, 2.5});
        std::vector<char> in{1, 1, 1, 1, 1, 0, 0};
        travik::Rotation r = travik::rotate(method, extended, in);
        travik::Rotation alone = travik::rotate(method, a);
        EXPECT_TRUE(r.converged);
        expectRowsNear(Rows(r.loadings.begin(), r.loadings.begin() + 5), alone.loadings, 1e-9);
        expectRowsNear(r.loadings, travik::applyRotation(r, extended), 1e-12);
        double sum[2] = {0, 0}, squares[2] = {0, 0};
        for (std::size_t i = 0; i < 5; ++i)
            for (int k = 0; k < 2; ++k) {
                sum[k] += r.loadings[i][k];
                squares[k] += r.loadings[i][k] * r.loadings[i][k];
            }
        EXPECT_GE(sum[0], 0.0);
        EXPECT_GE(sum[1], 0.0);
        EXPECT_GE(squares[0], squares[1]);
        // T'T is the identity (varimax) or Phi with a unit diagonal (oblimin); the communality
        // of every row, criterion or not, is unchanged: diag(L Phi L') = diag(A A').
        for (int i = 0; i < 2; ++i)
            for (int k = 0; k < 2; ++k) {
                const double tt = r.t[0][i] * r.t[0][k] + r.t[1][i] * r.t[1][k];
                EXPECT_NEAR(tt, method == RotationMethod::Varimax ? (i == k) : r.phi[i][k], 1e-12);
            }
        EXPECT_NEAR(r.phi[0][0], 1.0, 1e-12);
        for (std::size_t i = 0; i < extended.size(); ++i) {
            const LoadingRow& l = r.loadings[i];
            EXPECT_NEAR(l[0] * l[0] + 2 * r.phi[0][1] * l[0] * l[1] + l[1] * l[1],
                        extended[i][0] * extended[i][0] + extended[i][1] * extended[i][1], 1e-12);
        }
    }
    travik::Rotation none = travik::rotate(RotationMethod::None, a);
    expectRowsNear(none.loadings, a, 0.0);
    Rows bad = a;
    bad[2][1] = std::nan("");
    EXPECT_FALSE(travik::rotate(RotationMethod::Varimax, bad).unavailable.empty());
}

TEST(Rotation, ParsesMethodNames) {
    std::string error;
    EXPECT_EQ(travik::parseRotationMethod("VariMax", error), RotationMethod::Varimax);
    for (RotationMethod m :
         {RotationMethod::None, RotationMethod::Varimax, RotationMethod::Oblimin})
        EXPECT_EQ(travik::parseRotationMethod(travik::rotationMethodName(m), error), m);
    EXPECT_TRUE(error.empty());
    EXPECT_FALSE(travik::parseRotationMethod("promax", error));
    EXPECT_EQ(error, "unknown rotation 'promax': expected none, varimax or oblimin");
}

// A two-factor model of every item type, with the first item anchored.
travik::ModelState twoFactorModel() {
    travik::Parameters truth = travik_test::truthFor(3, 1, 1, 2, 2);
    travik::ModelState m = travik_test::simulate(truth, 2, 10, 150, 0.0, 11);
    m.params = truth;
    travik::rotateToAnchor(m.deck, m.params);
    return m;
}

TEST(Rotation, OrthogonalRotationOfAFittedModelKeepsItsLikelihoodAndStartsAgree) {
    travik::ModelState m = twoFactorModel();
    const travik::StandardizedLoadings s = travik::standardizedLoadings(m);
    const travik::Rotation r = travik::rotateStandardized(RotationMethod::Varimax, s);
    EXPECT_TRUE(r.converged);
    EXPECT_GT(r.startsAtBest, 1);
    // Every raw loading vector turned by T: a rotation of the factors, the same model.
    travik::ModelState rotated = m;
    auto turnLoadings = [&](double& l1, double& l2) {
        const double x = l1 * r.t[0][0] + l2 * r.t[1][0], y = l1 * r.t[0][1] + l2 * r.t[1][1];
        l1 = x;
        l2 = y;
    };
    for (auto& b : rotated.params.binary) turnLoadings(b.alpha[1], b.alpha[2]);
    for (auto& n : rotated.params.normal) turnLoadings(n.lambda1, n.lambda2);
    for (auto& c : rotated.params.nominal)
        for (int j = 2; j <= c.categories; ++j) turnLoadings(c.ac[j][1], c.ac[j][2]);
    for (auto& o : rotated.params.ordinal) turnLoadings(o.ao[1], o.ao[2]);
    const travik::Grid grid = travik::makeFullGrid(40, 2);
    travik::ItemTables t;
    travik::CaseWeights w;
    const double before = travik::loglikelihood(m, grid, t, w);
    EXPECT_NEAR(travik::loglikelihood(rotated, grid, t, w), before, 1e-9 * std::abs(before));
    // The rotated model's standardized loadings are the rotated ones, nominal rows included.
    const travik::StandardizedLoadings expected = travik::standardizedLoadings(rotated);
    expectRowsNear(travik::loadingRows(travik::rotatedStandardized(s, r)).rows,
                   travik::loadingRows(expected).rows, 1e-12);
    // Other seeds, and the identity start alone, find the same solution.
    for (std::uint64_t seed : {2u, 3u}) {
        expectRowsNear(travik::rotateStandardized(RotationMethod::Varimax, s, {10, seed}).loadings,
                       r.loadings, 1e-8);
        const travik::Rotation o1 = travik::rotateStandardized(RotationMethod::Oblimin, s);
        const travik::Rotation o2 =
            travik::rotateStandardized(RotationMethod::Oblimin, s, {10, seed});
        EXPECT_TRUE(o2.converged);
        // The oblique optimum is flatter: a gradient of 1e-9 leaves the loadings near 1e-8.
        EXPECT_NEAR(o2.criterion, o1.criterion, 1e-14);
        expectRowsNear(o2.loadings, o1.loadings, 1e-6);
    }
    expectRowsNear(travik::rotateStandardized(RotationMethod::Varimax, s, {1}).loadings, r.loadings,
                   1e-8);
}

// Every IRT quantity with a value, in a fixed order.
std::vector<travik::IrtValue> flatten(const travik::IrtParameters& irt) {
    std::vector<travik::IrtValue> v;
    for (const auto& b : irt.binary) v.insert(v.end(), {b.a1, b.a2, b.mdisc, b.difficulty});
    for (const auto& o : irt.ordinal) {
        v.insert(v.end(), {o.a1, o.a2, o.mdisc});
        v.insert(v.end(), o.thresholds.begin(), o.thresholds.end());
    }
    return v;
}

TEST(IrtParameters, DeltaMethodErrorsMatchDifferencedJacobians) {
    for (int nf : {1, 2}) {
        travik::ModelState m = twoFactorModel();
        m.deck.nf = nf;
        const travik::ParameterLayout layout = travik::parameterLayout(m.deck);
        const int P = layout.count;
        // A positive definite covariance (of an AR(1) series), the fixed loading's row and column
        // 0.
        travik::Covariance cov;
        cov.layout = layout;
        cov.fixed = travik::fixedLoadingPosition(m.deck, layout);
        cov.cov.assign(static_cast<std::size_t>(P) * P, 0.0);
        for (int a = 0; a < P; ++a)
            for (int b = 0; b < P; ++b)
                if (a != cov.fixed && b != cov.fixed)
                    cov.cov[static_cast<std::size_t>(a) * P + b] =
                        0.01 * (1 + 0.1 * a) * (1 + 0.1 * b) * std::pow(-0.5, std::abs(a - b));
        const auto analytic = flatten(travik::irtParameters(m.deck, m.params, &cov));
        const std::vector<double> v = travik::packParameters(m.deck, m.params);
        std::vector<std::vector<double>> jacobian(analytic.size(), std::vector<double>(P));
        for (int p = 0; p < P; ++p) {
            travik::Parameters shifted = m.params;
            std::vector<double> up = v, down = v;
            up[p] += 1e-6;
            down[p] -= 1e-6;
            travik::unpackParameters(m.deck, up, shifted);
            const auto hi = flatten(travik::irtParameters(m.deck, shifted));
            travik::unpackParameters(m.deck, down, shifted);
            const auto lo = flatten(travik::irtParameters(m.deck, shifted));
            for (std::size_t q = 0; q < analytic.size(); ++q)
                if (hi[q].value) jacobian[q][p] = (*hi[q].value - *lo[q].value) / 2e-6;
        }
        for (std::size_t q = 0; q < analytic.size(); ++q) {
            if (!analytic[q].value) continue;
            double variance = 0;
            for (int a = 0; a < P; ++a)
                for (int b = 0; b < P; ++b)
                    variance += jacobian[q][a] * jacobian[q][b] *
                                cov.cov[static_cast<std::size_t>(a) * P + b];
            ASSERT_TRUE(analytic[q].se) << nf << " " << q;
            EXPECT_NEAR(*analytic[q].se, std::sqrt(variance), 1e-6) << nf << " " << q;
        }
        // A position without an error removes the errors of what depends on it, and only those.
        cov.withoutErrors = {layout.binaryAt(nf, 1, 0)};
        const travik::IrtParameters partial = travik::irtParameters(m.deck, m.params, &cov);
        EXPECT_FALSE(partial.binary[1].difficulty.se);
        EXPECT_TRUE(partial.binary[1].a1.se && partial.binary[0].difficulty.se);
        cov.unavailable = "singular";
        EXPECT_FALSE(travik::irtParameters(m.deck, m.params, &cov).ordinal[0].a1.se);
    }
}

TEST(IrtParameters, DifficultiesSitWhereTheResponseIsOneHalf) {
    for (int nf : {1, 2}) {
        travik::ModelState m = twoFactorModel();
        m.deck.nf = nf;
        m.params.binary[2].alpha = {0.9, -0.6, nf == 2 ? 0.5 : 0.0};
        const travik::IrtParameters irt = travik::irtParameters(m.deck, m.params);
        // The point at distance b along the direction of the loadings, and one step further.
        auto gridAt = [&](const travik::IrtValue& b, const travik::IrtValue& a1,
                          const travik::IrtValue& a2, const travik::IrtValue& mdisc) {
            travik::Grid g;
            g.nf = nf;
            g.size = 2;
            const double u1 = nf == 1 ? 1.0 : *a1.value / *mdisc.value;
            const double u2 = nf == 1 ? 0.0 : *a2.value / *mdisc.value;
            const double s = nf == 1 && *a1.value < 0 ? -1.0 : 1.0; // toward a higher response
            g.z1 = {*b.value * u1, (*b.value + s) * u1};
            g.z2 = {*b.value * u2, (*b.value + s) * u2};
            return g;
        };
        for (std::size_t i = 0; i < irt.binary.size(); ++i) {
            const auto& b = irt.binary[i];
            double p[2];
            travik::logisticProbabilities(gridAt(b.difficulty, b.a1, b.a2, b.mdisc),
                                          m.params.binary[i].alpha, p, nullptr);
            EXPECT_NEAR(p[0], 0.5, 1e-12);
            EXPECT_GT(p[1], 0.5);
        }
        for (std::size_t i = 0; i < irt.ordinal.size(); ++i) {
            const auto& o = irt.ordinal[i];
            for (int c = 1; c < m.deck.o[i]; ++c) {
                double cumo[7][2], po[7][2];
                double* cp[7] = {cumo[0], cumo[1], cumo[2], cumo[3], cumo[4], cumo[5], cumo[6]};
                double* pp[7] = {po[0], po[1], po[2], po[3], po[4], po[5], po[6]};
                travik::ordinalProbabilities(gridAt(o.thresholds[c - 1], o.a1, o.a2, o.mdisc),
                                             m.params.ordinal[i], cp, pp);
                EXPECT_NEAR(cumo[c][0], 0.5, 1e-12);
                EXPECT_LT(cumo[c][1], 0.5); // P(x > c) rises past 1/2
            }
        }
        // No discrimination, no difficulty.
        m.params.binary[1].alpha = {0.4, 0.0, 0.0};
        m.params.ordinal[0].ao = {0.0, 0.0, 0.0};
        const travik::IrtParameters flat = travik::irtParameters(m.deck, m.params);
        EXPECT_FALSE(flat.binary[1].difficulty.value);
        EXPECT_FALSE(flat.ordinal[0].thresholds[1].value);
        EXPECT_EQ(*flat.binary[1].mdisc.value, 0.0);
    }
}

} // namespace
