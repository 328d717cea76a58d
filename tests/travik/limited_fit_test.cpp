// The limited-information fit against an oracle built from the full table of response patterns:
// margins T pi, their covariance T (diag pi - pi pi') T', the Jacobian T d pi / d theta by
// central differences, and M2 = N e' C2 e with explicit inverses. Then fits to data from the
// model and from a model with one factor too few, and the cases where no statistic is given.
#include "fit_support.hpp"
#include "travik/limited_fit.hpp"
#include "travik/starting_values.hpp"

#include <gtest/gtest.h>

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

using Eigen::MatrixXd;
using Eigen::VectorXd;
using travik::Parameters;
using travik_test::simulate;
using travik_test::truthFor;

double logistic(double v) {
    return 1.0 / (1.0 + std::exp(-v));
}

// Every response pattern of the binary (0/1) and ordinal (1..O) items, in data coding.
std::vector<std::vector<int>> allPatterns(const travik::Deck& d) {
    std::vector<std::vector<int>> out{{}};
    for (int col = 0; col < d.nv(); ++col) {
        const bool binary = col < d.nb;
        const int low = binary ? 0 : 1, high = binary ? 1 : d.o[col - d.nb];
        std::vector<std::vector<int>> next;
        for (const auto& p : out)
            for (int v = low; v <= high; ++v) {
                next.push_back(p);
                next.back().push_back(v);
            }
        out = next;
    }
    return out;
}

// P(pattern) = sum_g w_g prod_i P(x_i | z_g), response functions written out here.
VectorXd patternProbabilities(const travik::Deck& d, const Parameters& p, const travik::Grid& grid,
                              const std::vector<std::vector<int>>& patterns) {
    VectorXd pi = VectorXd::Zero(static_cast<int>(patterns.size()));
    for (std::size_t r = 0; r < patterns.size(); ++r)
        for (int g = 0; g < grid.size; ++g) {
            const double z1 = grid.z1[g], z2 = d.nf == 2 ? grid.z2[g] : 0.0;
            double f = grid.w[g];
            for (int i = 0; i < d.nb; ++i) {
                const auto& a = p.binary[i].alpha;
                const double one = logistic(a[0] + a[1] * z1 + a[2] * z2);
                f *= patterns[r][i] == 1 ? one : 1.0 - one;
            }
            for (int i = 0; i < d.no; ++i) {
                const auto& o = p.ordinal[i];
                const int c = patterns[r][d.nb + i], top = d.o[i];
                auto below = [&](int k) {
                    return k <= 0     ? 0.0
                           : k >= top ? 1.0
                                      : logistic(o.thr[k] - o.ao[1] * z1 - o.ao[2] * z2);
                };
                f *= below(c) - below(c - 1);
            }
            pi(static_cast<int>(r)) += f;
        }
    return pi;
}

// T: rows P(x_i = c), c = 2..O (binary: x_i = 1), then E[s_i s_j], scores 0..O-1.
MatrixXd marginMatrix(const travik::Deck& d, const std::vector<std::vector<int>>& patterns) {
    const int n = d.nv();
    auto score = [&](const std::vector<int>& pat, int i) { return i < d.nb ? pat[i] : pat[i] - 1; };
    std::vector<std::vector<double>> rows;
    for (int i = 0; i < n; ++i) {
        const int top = i < d.nb ? 2 : d.o[i - d.nb];
        for (int c = 2; c <= top; ++c) {
            rows.emplace_back();
            for (const auto& pat : patterns) rows.back().push_back(score(pat, i) + 1 == c);
        }
    }
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j) {
            rows.emplace_back();
            for (const auto& pat : patterns) rows.back().push_back(score(pat, i) * score(pat, j));
        }
    MatrixXd t(static_cast<int>(rows.size()), static_cast<int>(patterns.size()));
    for (int r = 0; r < t.rows(); ++r)
        for (int c = 0; c < t.cols(); ++c) t(r, c) = rows[r][c];
    return t;
}

struct Oracle {
    double m2 = 0, srmsr = 0;
    int df = 0;
};

// M2 from the pattern table; free lists the free parameters (pointers into p).
Oracle oracle(const travik::Deck& d, Parameters& p, const std::vector<double*>& free,
              const travik::Grid& grid, const travik::DataMatrix& x) {
    const auto patterns = allPatterns(d);
    const MatrixXd t = marginMatrix(d, patterns);
    const VectorXd pi = patternProbabilities(d, p, grid, patterns);
    VectorXd observed = VectorXd::Zero(pi.size());
    for (int k = 0; k < x.rows; ++k)
        for (std::size_t r = 0; r < patterns.size(); ++r) {
            bool same = true;
            for (int col = 0; col < x.cols; ++col) same = same && x(k, col) == patterns[r][col];
            if (same) observed(static_cast<int>(r)) += 1.0 / x.rows;
        }
    const MatrixXd xi = t * (MatrixXd(pi.asDiagonal()) - pi * pi.transpose()) * t.transpose();
    MatrixXd dpi(pi.size(), static_cast<int>(free.size()));
    const double h = 1e-5;
    for (std::size_t c = 0; c < free.size(); ++c) {
        const double keep = *free[c];
        *free[c] = keep + h;
        const VectorXd up = patternProbabilities(d, p, grid, patterns);
        *free[c] = keep - h;
        const VectorXd down = patternProbabilities(d, p, grid, patterns);
        *free[c] = keep;
        dpi.col(static_cast<int>(c)) = (up - down) / (2 * h);
    }
    const MatrixXd delta = t * dpi;
    const MatrixXd xiInv = xi.inverse();
    const MatrixXd c2 = xiInv - xiInv * delta * (delta.transpose() * xiInv * delta).inverse() *
                                    delta.transpose() * xiInv;
    const VectorXd e = t * (observed - pi);
    Oracle o;
    o.m2 = x.rows * e.dot(c2 * e);
    o.df = static_cast<int>(t.rows() - static_cast<int>(free.size()));
    // Correlations of the scores under the model and in the data, from the same table.
    const int n = d.nv();
    MatrixXd scores(n, static_cast<int>(patterns.size()));
    for (int i = 0; i < n; ++i)
        for (std::size_t r = 0; r < patterns.size(); ++r)
            scores(i, static_cast<int>(r)) = patterns[r][i];
    auto correlations = [&](const VectorXd& prob) {
        const VectorXd mean = scores * prob;
        const MatrixXd cov =
            scores * prob.asDiagonal() * scores.transpose() - mean * mean.transpose();
        const VectorXd sd = cov.diagonal().cwiseSqrt();
        return MatrixXd(cov.cwiseQuotient(sd * sd.transpose()));
    };
    const MatrixXd residual = correlations(observed) - correlations(pi);
    double sum = 0;
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j) sum += residual(i, j) * residual(i, j);
    o.srmsr = std::sqrt(sum / (n * (n - 1) / 2.0));
    return o;
}

// The independence model and its free parameters (intercepts and thresholds).
void independence(const travik::Deck& d, const Parameters& p, const travik::DataMatrix& x,
                  std::vector<double*>& free, Parameters& storage) {
    storage = p;
    free.clear();
    for (int i = 0; i < d.nv(); ++i) {
        const int top = i < d.nb ? 1 : d.o[i - d.nb] - 1;
        for (int c = 1; c <= top; ++c) {
            double below = 0;
            for (int k = 0; k < x.rows; ++k) below += i < d.nb ? x(k, i) == 1 : x(k, i) <= c;
            below /= x.rows;
            if (i < d.nb) {
                storage.binary[i].alpha = {std::log(below / (1 - below)), 0, 0};
                free.push_back(&storage.binary[i].alpha[0]);
            } else {
                storage.ordinal[i - d.nb].thr[c] = std::log(below / (1 - below));
                storage.ordinal[i - d.nb].ao = {0, 0, 0};
                free.push_back(&storage.ordinal[i - d.nb].thr[c]);
            }
        }
    }
}

void expectMatchesOracle(travik::ModelState& m, const travik::Grid& grid, const char* statistic) {
    const travik::LimitedInformationFit fit =
        travik::limitedInformationFit(m.deck, m.params, grid, m.x);
    ASSERT_TRUE(fit.available) << fit.reason;
    EXPECT_EQ(fit.statistic, statistic);
    std::vector<double*> free = travik_test::freeParameters(m);
    if (m.deck.nf == 2) std::erase(free, &m.params.binary[0].alpha[2]); // fixed at 0
    const Oracle o = oracle(m.deck, m.params, free, grid, m.x);
    EXPECT_EQ(fit.df, o.df);
    EXPECT_NEAR(fit.value, o.m2, 1e-6 * o.m2);
    EXPECT_NEAR(fit.rmsea, std::sqrt(std::max(o.m2 - o.df, 0.0) / (m.x.rows * o.df)), 1e-6);
    EXPECT_NEAR(fit.srmsr, o.srmsr, 1e-9);

    Parameters storage;
    std::vector<double*> baseFree;
    independence(m.deck, m.params, m.x, baseFree, storage);
    const Oracle o0 = oracle(m.deck, storage, baseFree, grid, m.x);
    EXPECT_EQ(fit.baselineDf, o0.df);
    EXPECT_NEAR(fit.baselineValue, o0.m2, 1e-6 * o0.m2);
    const double cfi = 1 - std::max(o.m2 - o.df, 0.0) / std::max({o0.m2 - o0.df, o.m2 - o.df, 0.0});
    EXPECT_NEAR(fit.cfi, cfi, 1e-6);
    EXPECT_NEAR(fit.tli, (o0.m2 / o0.df - o.m2 / o.df) / (o0.m2 / o0.df - 1), 1e-6);
}

TEST(LimitedFit, StatisticMatchesThePatternTableOracle) {
    {
        SCOPED_TRACE("five binary items, one factor");
        travik::ModelState m = simulate(truthFor(5, 0, 0, 0, 1), 1, 48, 600, 0.0, 11);
        m.params = truthFor(5, 0, 0, 0, 1);
        expectMatchesOracle(m, travik::makeGrid(48, 1), "M2");
    }
    {
        SCOPED_TRACE("one binary and four ordinal items of three categories, one factor");
        Parameters p = truthFor(1, 0, 0, 4, 1);
        for (std::size_t i = 0; i < p.ordinal.size(); ++i) {
            p.ordinal[i].categories = 3;
            p.ordinal[i].thr = {0, -0.6 + 0.2 * static_cast<double>(i), 0.9, 0, 0, 0, 0};
        }
        travik::ModelState m = simulate(p, 1, 48, 800, 0.0, 12);
        // Parameters off the truth: the statistic does not need a maximum.
        m.params = p;
        m.params.ordinal[1].ao[1] += 0.3;
        expectMatchesOracle(m, travik::makeGrid(48, 1), "C2");
    }
    {
        SCOPED_TRACE("five binary items, two factors");
        travik::ModelState m = simulate(truthFor(5, 0, 0, 0, 2), 2, 12, 700, 0.0, 13);
        m.params = truthFor(5, 0, 0, 0, 2);
        m.params.binary[0].alpha[2] = 0.0;
        expectMatchesOracle(m, travik::makeGrid(12, 2), "M2");
    }
}

travik::LimitedInformationFit fittedFit(travik::ModelState& m) {
    travik_test::fit(m);
    return travik::limitedInformationFit(m.deck, m.params, travik::gridFor(m.deck), m.x);
}

TEST(LimitedFit, FitsDataFromTheModelAndRejectsAFactorTooFew) {
    travik::ModelState good = simulate(truthFor(8, 0, 0, 0, 1), 1, 48, 3000, 0.0, 21);
    const travik::LimitedInformationFit ok = fittedFit(good);
    ASSERT_TRUE(ok.available) << ok.reason;
    EXPECT_EQ(ok.df, 8 + 28 - 16);
    EXPECT_GT(ok.p, 0.001);
    EXPECT_LT(ok.rmsea, 0.02);
    EXPECT_EQ(ok.rmseaLow, 0.0);
    EXPECT_LE(ok.rmsea, ok.rmseaHigh);
    EXPECT_LT(ok.srmsr, 0.03);
    EXPECT_GT(ok.cfi, 0.97);

    // Two uncorrelated clusters of four items: one factor can describe only one of them.
    Parameters clusters = truthFor(8, 0, 0, 0, 2);
    for (int i = 0; i < 8; ++i)
        clusters.binary[i].alpha = {0.2 * i - 0.7, i < 4 ? 1.6 : 0.0, i < 4 ? 0.0 : 1.6};
    travik::ModelState bad = simulate(clusters, 2, 48, 3000, 0.0, 22);
    bad.deck.nf = 1;
    for (auto& b : bad.params.binary) b.alpha[2] = 0.0;
    travik::generateStartingValues(bad);
    const travik::LimitedInformationFit wrong = fittedFit(bad);
    ASSERT_TRUE(wrong.available) << wrong.reason;
    EXPECT_LT(wrong.p, 1e-10);
    EXPECT_GT(wrong.value, 10.0 * wrong.df);
    EXPECT_GT(wrong.rmseaLow, 0.05);
    EXPECT_LT(wrong.rmseaLow, wrong.rmsea);
    EXPECT_GT(wrong.rmseaHigh, wrong.rmsea);
    EXPECT_LT(wrong.cfi, 0.9);
    EXPECT_LT(wrong.tli, wrong.cfi);
    EXPECT_GT(wrong.srmsr, 2 * ok.srmsr);
}

TEST(LimitedFit, SaysWhyNoStatisticIsGiven) {
    auto reason = [](travik::ModelState m) {
        const auto fit =
            travik::limitedInformationFit(m.deck, m.params, travik::gridFor(m.deck), m.x);
        EXPECT_FALSE(fit.available);
        return fit.reason;
    };
    EXPECT_EQ(reason(simulate(truthFor(4, 1, 0, 0, 1), 1, 48, 300, 0.0, 31)),
              "M2/C2 is computed for binary and ordinal items only");
    EXPECT_EQ(reason(simulate(truthFor(4, 0, 1, 0, 1), 1, 48, 300, 0.0, 32)),
              "M2/C2 is computed for binary and ordinal items only");
    travik::ModelState gaps = simulate(truthFor(5, 0, 0, 1, 1), 1, 48, 300, 0.0, 33);
    gaps.x.values[7] = 999.0;
    EXPECT_EQ(reason(gaps), "M2/C2 is not computed with missing responses");
    // Two binary items: three margins for four parameters.
    EXPECT_NE(reason(simulate(truthFor(2, 0, 0, 0, 1), 1, 48, 300, 0.0, 34)).find("no degrees"),
              std::string::npos);
    travik::ModelState constant = simulate(truthFor(5, 0, 0, 0, 1), 1, 48, 300, 0.0, 35);
    for (int k = 0; k < constant.x.rows; ++k)
        constant.x.values[static_cast<std::size_t>(k) * 5] = 1;
    EXPECT_NE(reason(constant).find("never observed"), std::string::npos);
}

} // namespace
