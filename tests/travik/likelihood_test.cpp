// The measurement model against computations written directly from its formulas.
#include "travik/estep.hpp"
#include "travik/exponential.hpp"
#include "travik/gradient.hpp"
#include "travik/likelihood.hpp"
#include "travik/observed_information.hpp"
#include "travik/patterns.hpp"
#include "travik/quadrature.hpp"
#include "travik/simulated_data.hpp"

#include <gtest/gtest.h>

#include <cmath>

using namespace travik;
using namespace travik::simulated;

namespace {

double logistic(double v) {
    return 1.0 / (1.0 + std::exp(-v));
}

// The likelihood of one case at one latent point, item by item.
double caseDensity(const ModelState& m, int k, double z1, double z2) {
    const Deck& d = m.deck;
    const Parameters& p = m.params;
    const double K = 0.39894243213786; // the program's rounded 1/sqrt(2 pi)
    double f = 1.0;
    for (int i = 0; i < d.nb; ++i) {
        double x = std::trunc(m.x(k, i));
        double pr =
            logistic(p.binary[i].alpha[0] + p.binary[i].alpha[1] * z1 + p.binary[i].alpha[2] * z2);
        if (x == 1) f *= pr;
        if (x == 0) f *= 1 - pr;
    }
    for (int i = 0; i < d.nn; ++i) {
        double x = m.x(k, d.nb + i);
        if (std::trunc(x) == 999) continue;
        const NormalItem& n = p.normal[i];
        double mean = n.mu + n.lambda1 * z1 + n.lambda2 * z2;
        f *= K / std::sqrt(n.psi) * std::exp(-(x - mean) * (x - mean) / (2 * n.psi));
    }
    for (int i = 0; i < d.nc; ++i) {
        double x = std::trunc(m.x(k, d.nb + d.nn + i));
        if (x == 999) continue;
        const NominalItem& c = p.nominal[i];
        double sum = 1, chosen = 1;
        for (int j = 2; j <= c.categories; ++j) {
            double e = std::exp(c.ac[j][0] + c.ac[j][1] * z1 + c.ac[j][2] * z2);
            sum += e;
            if (x == j) chosen = e;
        }
        f *= chosen / sum;
    }
    for (int i = 0; i < d.no; ++i) {
        int x = static_cast<int>(std::trunc(m.x(k, d.nb + d.nn + d.nc + i)));
        if (x == 999) continue;
        const OrdinalItem& o = p.ordinal[i];
        auto cum = [&](int j) {
            return j == 0              ? 0.0
                   : j == o.categories ? 1.0
                                       : logistic(o.thr[j] - o.ao[1] * z1 - o.ao[2] * z2);
        };
        f *= cum(x) - cum(x - 1);
    }
    return f;
}

ModelState tinyModel(int nf) {
    ModelState m = simulate(truthFor(2, 2, 2, 2, nf), nf, 8, 2, 0.0, 7);
    m.params = truthFor(2, 2, 2, 2, nf);
    if (nf == 1) {
        // With one factor the second loadings must have no effect whatever their values.
        for (auto& b : m.params.binary) b.alpha[2] = 5.0;
        for (auto& n : m.params.normal) n.lambda2 = 5.0;
        for (auto& c : m.params.nominal) c.ac[2][2] = c.ac[3][2] = 5.0;
        for (auto& o : m.params.ordinal) o.ao[2] = 5.0;
    }
    m.x.values[1] = 999.0;                       // a missing binary value
    m.x.values[m.x.cols + m.x.cols - 1] = 999.5; // a missing ordinal value
    m.x.values[m.x.cols + 0] = 1.9;              // counts as 1
    return m;
}

} // namespace

TEST(Likelihood, TinyModelAgainstTheFormulas) {
    for (int nf : {1, 2}) {
        ModelState m = tinyModel(nf);
        Grid grid = makeGrid(8, nf);
        ItemTables t;
        CaseWeights w;
        evaluateLikelihood(m.deck, m.params, m.x, grid, t, w, true);
        double logl = 0;
        for (int k = 0; k < 2; ++k) {
            double fm = 0;
            for (int g = 0; g < grid.size; ++g) {
                double expected =
                    grid.w[g] * caseDensity(m, k, grid.z1[g], nf == 2 ? grid.z2[g] : 0.0);
                EXPECT_NEAR(w.row(k)[g], expected, 1e-13 * expected + 1e-300)
                    << "nf " << nf << " case " << k << " point " << g;
                fm += expected;
            }
            EXPECT_NEAR(w.fm[k], fm, 1e-13 * fm);
            logl += std::log(fm);
        }
        EXPECT_NEAR(w.logl, logl, 1e-12 * std::fabs(logl));
        // Nominal and ordinal category probabilities sum to one at every point.
        for (int g = 0; g < grid.size; ++g) {
            EXPECT_NEAR(t.nominal(0, 1)[g] + t.nominal(0, 2)[g] + t.nominal(0, 3)[g], 1.0, 1e-15);
            double sum = 0;
            for (int c = 1; c <= 4; ++c) sum += t.ordinal(1, c)[g];
            EXPECT_NEAR(sum, 1.0, 1e-15);
        }
    }
}

TEST(Likelihood, ItemsOfManyCategoriesAgainstPlainQuadrature) {
    // Nominal and ordinal items of 7, 11 and 20 categories: the loglikelihood on the program's
    // rule against the trapezoid rule on a fine even grid over [-8, 8] per factor, with the
    // standard normal density written out; category probabilities sum to one at every point.
    const double pi = 3.14159265358979323846;
    for (int nf : {1, 2}) {
        const Parameters truth = truthWithCategories(2, {7, 11, 20}, {20, 11, 7}, nf);
        ModelState m = simulate(truth, nf, 48, 12, 0.1, 70 + nf);
        m.params = truth;
        const Grid grid = nf == 1 ? makeGrid(48, 1) : makeFullGrid(40, 2);
        ItemTables t;
        CaseWeights w;
        evaluateLikelihood(m.deck, m.params, m.x, grid, t, w, true);
        const double h = nf == 1 ? 0.01 : 0.1;
        const int steps = static_cast<int>(std::lround(16.0 / h));
        auto phi = [&](double z) { return std::exp(-0.5 * z * z) / std::sqrt(2 * pi); };
        double logl = 0;
        for (int k = 0; k < m.x.rows; ++k) {
            double f = 0;
            for (int a = 0; a <= steps; ++a) {
                const double z1 = -8.0 + a * h;
                if (nf == 1) {
                    f += h * phi(z1) * caseDensity(m, k, z1, 0.0);
                    continue;
                }
                for (int b = 0; b <= steps; ++b) {
                    const double z2 = -8.0 + b * h;
                    f += h * h * phi(z1) * phi(z2) * caseDensity(m, k, z1, z2);
                }
            }
            EXPECT_NEAR(w.fm[k], f, 1e-7 * f) << "nf " << nf << " case " << k;
            logl += std::log(f);
        }
        EXPECT_NEAR(w.logl, logl, 1e-7 * std::fabs(logl)) << "nf " << nf;
        for (int g = 0; g < grid.size; ++g)
            for (int i = 0; i < 3; ++i) {
                double nominal = 0, ordinal = 0;
                for (int c = 1; c <= m.deck.c[i]; ++c) nominal += t.nominal(i, c)[g];
                for (int c = 1; c <= m.deck.o[i]; ++c) ordinal += t.ordinal(i, c)[g];
                EXPECT_NEAR(nominal, 1.0, 1e-14);
                EXPECT_NEAR(ordinal, 1.0, 1e-14);
            }
    }
}

TEST(Likelihood, NormalItemsMatchTheExactMultivariateNormal) {
    // x ~ N(mu, L L' + diag(psi)): the quadrature loglikelihood on 30 points agrees with the
    // exact one, once the program's constant K replaces 1/sqrt(2 pi) for every observed value.
    for (int nf : {1, 2}) {
        ModelState m = simulate(truthFor(0, 3, 0, 0, nf), nf, 48, 200, 0.0, 11);
        m.params = truthFor(0, 3, 0, 0, nf);
        Grid grid = makeGrid(48, nf);
        ItemTables t;
        CaseWeights w;
        evaluateLikelihood(m.deck, m.params, m.x, grid, t, w, false);

        // Covariance and its inverse and determinant for 3 items (cofactors).
        const auto& p = m.params.normal;
        double S[3][3];
        for (int a = 0; a < 3; ++a)
            for (int b = 0; b < 3; ++b)
                S[a][b] = p[a].lambda1 * p[b].lambda1 + p[a].lambda2 * p[b].lambda2 +
                          (a == b ? p[a].psi : 0.0);
        double det = S[0][0] * (S[1][1] * S[2][2] - S[1][2] * S[2][1]) -
                     S[0][1] * (S[1][0] * S[2][2] - S[1][2] * S[2][0]) +
                     S[0][2] * (S[1][0] * S[2][1] - S[1][1] * S[2][0]);
        double Inv[3][3];
        for (int a = 0; a < 3; ++a)
            for (int b = 0; b < 3; ++b) {
                int r0 = (b + 1) % 3, r1 = (b + 2) % 3, c0 = (a + 1) % 3, c1 = (a + 2) % 3;
                Inv[a][b] = (S[r0][c0] * S[r1][c1] - S[r0][c1] * S[r1][c0]) / det;
            }
        double exact = 0;
        for (int k = 0; k < m.deck.ncase; ++k) {
            double r[3], q = 0;
            for (int a = 0; a < 3; ++a) r[a] = m.x(k, a) - p[a].mu;
            for (int a = 0; a < 3; ++a)
                for (int b = 0; b < 3; ++b) q += r[a] * Inv[a][b] * r[b];
            exact += -1.5 * std::log(2 * M_PI) - 0.5 * std::log(det) - 0.5 * q;
        }
        const double adjust = 3.0 * m.deck.ncase * std::log(normalConstant() * std::sqrt(2 * M_PI));
        EXPECT_NEAR(w.logl, exact + adjust, 1e-6 * std::fabs(exact)) << "nf " << nf;
    }
}

TEST(Likelihood, EdgeCasesStayFinite) {
    ModelState m = simulate(truthFor(2, 1, 1, 1, 1), 1, 8, 3, 0.0, 3);
    m.params = truthFor(2, 1, 1, 1, 1);
    Grid grid = makeGrid(8, 1);
    ItemTables t;
    CaseWeights w;
    // A case with every value missing weighs the grid only.
    for (int col = 0; col < m.x.cols; ++col) m.x.values[col] = 999.0;
    // Extreme logits give probabilities 0 and 1, never NaN; v = 0 gives exactly one half.
    m.params.binary[0].alpha = {800.0, 0.0, 0.0};
    m.params.binary[1].alpha = {0.0, 0.0, 0.0};
    evaluateLikelihood(m.deck, m.params, m.x, grid, t, w, true);
    double sum = 0;
    for (double q : grid.qw) sum += q;
    EXPECT_EQ(w.fm[0], sum);
    for (int g = 0; g < 8; ++g) {
        EXPECT_EQ(t.binary(0)[g], 1.0);
        EXPECT_EQ(t.binary(1)[g], 0.5);
    }
    m.params.binary[0].alpha = {-800.0, 0.0, 0.0};
    evaluateLikelihood(m.deck, m.params, m.x, grid, t, w, true);
    EXPECT_EQ(t.binary(0)[3], 0.0);
    EXPECT_TRUE(std::isfinite(w.logl));
}

TEST(Likelihood, UnderflowingCasesAreScaledNotLost) {
    // Forty extreme binary responses drive the plain product below the smallest double.
    travik::Parameters p = truthFor(40, 0, 0, 0, 1);
    ModelState m = simulate(p, 1, 16, 2, 0.0, 5);
    for (auto& b : p.binary) b.alpha = {-30.0, 0.5, 0.0};
    m.params = p;
    for (int i = 0; i < 40; ++i) {
        m.x.values[i] = 1.0;      // case 1: all ones, each of probability about e^-30
        m.x.values[40 + i] = 0.0; // case 2: all zeros, an ordinary likelihood
    }
    Grid grid = makeGrid(16, 1);
    ItemTables t;
    CaseWeights w;
    evaluateLikelihood(m.deck, m.params, m.x, grid, t, w, true);
    ASSERT_NE(w.logScale[0], 0.0);
    EXPECT_EQ(w.logScale[1], 0.0);
    // The log-domain value computed directly.
    double top = -INFINITY;
    std::vector<double> logs(16);
    for (int g = 0; g < 16; ++g) {
        logs[g] =
            std::log(grid.w[g]) + 40 * std::log(1.0 / (1.0 + std::exp(30.0 - 0.5 * grid.z1[g])));
        top = std::max(top, logs[g]);
    }
    double sum = 0;
    for (double l : logs) sum += std::exp(l - top);
    EXPECT_NEAR(std::log(w.fm[0]) + w.logScale[0], top + std::log(sum), 1e-9 * std::fabs(top));
    EXPECT_TRUE(std::isfinite(w.logl));
}

TEST(Likelihood, PortableExponentialAgreesWithTheLibraryToOneUnit) {
    std::mt19937_64 rng(99);
    std::uniform_real_distribution<double> wide(-708.0, 709.0), narrow(-40.0, 5.0);
    for (int i = 0; i < 200000; ++i) {
        const double x = i % 2 ? wide(rng) : narrow(rng);
        const double a = exponential(x), b = std::exp(x);
        EXPECT_LE(std::fabs(a - b), std::ldexp(1.0, std::ilogb(b) - 52))
            << x; // one unit in the last place
    }
    EXPECT_EQ(exponential(0.0), 1.0);
    EXPECT_EQ(exponential(-800.0), 0.0); // far below the normal range
    EXPECT_EQ(exponential(-1e300), 0.0);
    EXPECT_TRUE(std::isfinite(exponential(709.0)));
}

TEST(Likelihood, GroupsOfIdenticalRowsGiveTheSumsOverEveryCase) {
    // Every item type, missing values, 1500 cases of which at most 600 rows are distinct (each
    // repeated up to three times, scattered), in blocks on three threads: the loglikelihood, the
    // E-step tables, the gradient with its cross products, the Louis information and every
    // case's FM are those of the loop over every case, to rounding.
    for (int nf : {1, 2}) {
        ModelState m = simulate(truthFor(4, 1, 1, 1, nf), nf, 8, 1500, 0.05, 40 + nf);
        m.params = truthFor(4, 1, 1, 1, nf);
        for (int k = 600; k < m.x.rows; ++k)
            std::copy(m.x.row((k * 37) % 600), m.x.row((k * 37) % 600) + m.x.cols,
                      m.x.values.begin() + static_cast<std::ptrdiff_t>(k) * m.x.cols);
        m.threads = 3;
        const Grid grid = gridFor(m.deck);
        auto evaluate = [&](const ModelState& state, EStepTables& e, CaseWeights& w) {
            ItemTables t;
            EStep collector(state.deck, state.x, grid.size, e);
            evaluateLikelihood(state.deck, state.params, state.x, grid, t, w, false, &collector,
                               state.threads);
            collector.finish();
        };
        ModelState grouped = m;
        groupIdenticalRows(grouped.x);
        ASSERT_LE(grouped.x.groups.count.size(), 600u);
        ASSERT_GT(grouped.x.groups.count.size(), 2 * kCasesPerBlock);
        EStepTables e1, e2;
        CaseWeights w1, w2;
        evaluate(m, e1, w1);
        evaluate(grouped, e2, w2);
        auto near = [](double a, double b, double scale) {
            return std::fabs(a - b) <= 1e-12 * (std::fabs(b) + scale);
        };
        EXPECT_TRUE(near(w2.logl, w1.logl, 0.0)) << w2.logl << " " << w1.logl;
        // A case's FM is a function of its row alone: the products carried from the row before
        // (sorted groups) give the very same number.
        for (int k = 0; k < m.x.rows; ++k) EXPECT_EQ(w2.fm[k], w1.fm[k]) << k;
        const std::vector<double>* tables1[] = {&e1.expectedOnes,    &e1.expectedSumX,
                                                &e1.expectedSumX2,   &e1.expectedNominal,
                                                &e1.expectedOrdinal, &e1.expectedObserved};
        const std::vector<double>* tables2[] = {&e2.expectedOnes,    &e2.expectedSumX,
                                                &e2.expectedSumX2,   &e2.expectedNominal,
                                                &e2.expectedOrdinal, &e2.expectedObserved};
        for (int t = 0; t < 6; ++t) {
            ASSERT_EQ(tables1[t]->size(), tables2[t]->size());
            for (std::size_t j = 0; j < tables1[t]->size(); ++j)
                EXPECT_TRUE(near((*tables2[t])[j], (*tables1[t])[j], 1e-300))
                    << "table " << t << " cell " << j;
        }
        const Derivatives d1 = loglikelihoodDerivatives(m, grid);
        const Derivatives d2 = loglikelihoodDerivatives(grouped, grid);
        const double gradientScale = d1.completeScale.cwiseSqrt().maxCoeff();
        for (Eigen::Index p = 0; p < d1.gradient.size(); ++p) {
            EXPECT_TRUE(near(d2.gradient(p), d1.gradient(p), gradientScale)) << p;
            EXPECT_TRUE(near(d2.completeScale(p), d1.completeScale(p), 0.0)) << p;
        }
        const double infoScale = d1.crossProduct.cwiseAbs().maxCoeff();
        EXPECT_LE((d2.crossProduct - d1.crossProduct).cwiseAbs().maxCoeff(), 1e-12 * infoScale);
        const Eigen::MatrixXd louis1 = observedInformation(m, grid);
        const Eigen::MatrixXd louis2 = observedInformation(grouped, grid);
        EXPECT_LE((louis2 - louis1).cwiseAbs().maxCoeff(), 1e-12 * louis1.cwiseAbs().maxCoeff());
    }
}
