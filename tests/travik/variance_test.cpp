// Standard errors: every derivative and the parameter order at once, through finite
// differences of each case's log marginal likelihood.
#include "fit_support.hpp"
#include "travik/gradient.hpp"
#include "travik/observed_information.hpp"
#include "travik/variance.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace travik;
using namespace travik_test;

namespace {

std::vector<double> logFm(const ModelState& m, const Grid& grid) {
    ItemTables t;
    CaseWeights w;
    evaluateLikelihood(m.deck, m.params, m.x, grid, t, w, false);
    std::vector<double> v;
    for (int k = 0; k < m.x.rows; ++k) v.push_back(std::log(w.fm[k]) + w.logScale[k]);
    return v;
}

} // namespace

TEST(Variance, ScoreVectorsAreTheGradientsOfEachCaseLogLikelihood) {
    for (int nf : {1, 2}) {
        ModelState m = simulate(truthFor(2, 2, 2, 2, nf), nf, 16, 12, 0.15, 31 + nf);
        m.params = truthFor(2, 2, 2, 2, nf);
        m.x.values[1] = 2.0; // a binary value that is neither 0 nor 1 enters no likelihood
        Estimation est;
        est.grid = makeGrid(16, nf);
        evaluateLikelihood(m.deck, m.params, m.x, est.grid, est.tables, est.weights, true);
        const ParameterLayout layout = parameterLayout(m.deck);
        std::vector<double*> params = freeParameters(m);
        ASSERT_EQ(static_cast<int>(params.size()), layout.count);
        ASSERT_EQ(layout.count,
                  nf == 1 ? 2 * 2 + 3 * 2 + 2 * 4 + 2 * 4 : 3 * 2 + 4 * 2 + 3 * 4 + 2 * 5);
        std::vector<std::vector<double>> numeric(m.x.rows, std::vector<double>(layout.count));
        const double h = 1e-6;
        for (int p = 0; p < layout.count; ++p) {
            const double keep = *params[p];
            *params[p] = keep + h;
            std::vector<double> up = logFm(m, est.grid);
            *params[p] = keep - h;
            std::vector<double> down = logFm(m, est.grid);
            *params[p] = keep;
            for (int k = 0; k < m.x.rows; ++k) numeric[k][p] = (up[k] - down[k]) / (2 * h);
        }
        for (int k = 0; k < m.x.rows; ++k) {
            std::vector<double> s = caseScore(m, est, layout, k);
            for (int p = 0; p < layout.count; ++p)
                EXPECT_NEAR(s[p] / est.weights.fm[k], numeric[k][p],
                            1e-6 * (1 + std::fabs(numeric[k][p])))
                    << "nf " << nf << " case " << k << " position " << p;
        }
    }
}

TEST(Variance, InformationIsPositiveDefiniteAndStandardErrorsMatchTheSpread) {
    // Replicated decks from one model: the printed standard errors are in line with the
    // spread of the estimates over the replicates (a loose check).
    const Parameters truth = truthFor(3, 1, 1, 1, 1);
    const int replicates = 12;
    std::vector<std::vector<double>> estimates;
    std::vector<double> meanSe;
    for (int r = 0; r < replicates; ++r) {
        ModelState m = simulate(truth, 1, 24, 500, 0.0, 1000 + r);
        m.deck.tol = 1e-9;
        Fit f = fit(m);
        Covariance cov =
            variance(m, f.est, [](std::string_view) { FAIL() << "singular information"; });
        std::vector<double*> params = freeParameters(m);
        std::vector<double> values;
        for (int p = 0; p < cov.layout.count; ++p) {
            values.push_back(*params[p]);
            ASSERT_GT(cov.cov[p * cov.layout.count + p], 0.0);
            if (r == 0) meanSe.push_back(0.0);
            meanSe[p] += cov.se(p) / replicates;
        }
        estimates.push_back(values);
    }
    for (std::size_t p = 0; p < meanSe.size(); ++p) {
        double mean = 0, var = 0;
        for (const auto& e : estimates) mean += e[p] / replicates;
        for (const auto& e : estimates) var += (e[p] - mean) * (e[p] - mean) / (replicates - 1);
        const double spread = std::sqrt(var);
        EXPECT_GT(spread, 0.4 * meanSe[p]) << "position " << p;
        EXPECT_LT(spread, 2.2 * meanSe[p]) << "position " << p;
    }
}

TEST(Variance, SingularInformationGivesNoNumbers) {
    // Six cases cannot identify eleven parameters: the report shows asterisks, never NaN, and
    // the console says "Singular matrix" once.
    ModelState m = simulate(truthFor(2, 1, 1, 0, 1), 1, 8, 2, 0.0, 5);
    m.deck.maxit = 3;
    Fit f = fit(m);
    std::vector<std::string> pauses;
    Covariance cov = variance(m, f.est, [&](std::string_view text) { pauses.emplace_back(text); });
    EXPECT_EQ(pauses, std::vector<std::string>{"Singular matrix"});
    for (int p = 0; p < cov.layout.count; ++p) {
        double se = cov.se(p);
        EXPECT_TRUE(!std::isfinite(se) || se >= 0.0);
    }
    EXPECT_NE(cov.unavailable.find("singular"), std::string::npos) << cov.unavailable;
}

TEST(Variance, EstimatesRecoverTheGeneratingValuesWithinTheirStandardErrors) {
    // 2000 cases of every item type: each estimate lies within four standard errors of the
    // value the deck was simulated from, and the covariance matrix is positive definite.
    const Parameters truth = truthFor(3, 3, 2, 2, 1);
    ModelState m = simulate(truth, 1, 32, 2000, 0.05, 2024);
    m.deck.tol = 1e-10;
    Fit f = fit(m);
    Covariance cov = variance(m, f.est, [](std::string_view) { FAIL() << "singular information"; });
    ModelState generating = m;
    generating.params = truth;
    std::vector<double*> estimate = freeParameters(m), expected = freeParameters(generating);
    const int P = cov.layout.count;
    int outside2 = 0;
    for (int p = 0; p < P; ++p) {
        const double z = (*estimate[p] - *expected[p]) / cov.se(p);
        EXPECT_LT(std::fabs(z), 4.0) << "position " << p;
        if (std::fabs(z) > 2.0) ++outside2;
    }
    EXPECT_LE(outside2, P / 6); // about 5 % expected beyond two standard errors
    // Cholesky factorization succeeds only for a symmetric positive definite matrix.
    std::vector<double> a = cov.cov;
    for (int j = 0; j < P; ++j)
        for (int i = 0; i < j; ++i)
            ASSERT_NEAR(a[i * P + j], a[j * P + i], 1e-9 * std::fabs(a[j * P + j]));
    for (int j = 0; j < P; ++j) {
        double d = a[j * P + j];
        for (int k = 0; k < j; ++k) d -= a[j * P + k] * a[j * P + k];
        ASSERT_GT(d, 0.0) << "not positive definite at " << j;
        a[j * P + j] = std::sqrt(d);
        for (int i = j + 1; i < P; ++i) {
            double s = a[i * P + j];
            for (int k = 0; k < j; ++k) s -= a[i * P + k] * a[j * P + k];
            a[i * P + j] = s / a[j * P + j];
        }
    }
}

TEST(Variance, ItemsOfManyCategoriesRecoverTheirGeneratingValues) {
    // Nominal and ordinal items of 7, 11 and 20 categories: each estimate lies within four and
    // a half standard errors of the value the data were drawn from, few beyond two.
    const Parameters truth = truthWithCategories(2, {7, 11, 20}, {7, 11, 20}, 1);
    ModelState m = simulate(truth, 1, 32, 6000, 0.02, 77);
    m.deck.tol = 1e-10;
    Fit f = fit(m);
    ASSERT_TRUE(f.est.converged);
    Covariance cov = variance(m, f.est, [](std::string_view) { FAIL() << "singular information"; });
    ModelState generating = m;
    generating.params = truth;
    std::vector<double*> estimate = freeParameters(m), expected = freeParameters(generating);
    const int P = cov.layout.count;
    ASSERT_EQ(P, 2 * 2 + (6 + 10 + 19) * 2 + (6 + 10 + 19) + 3);
    int outside2 = 0;
    for (int p = 0; p < P; ++p) {
        const double z = (*estimate[p] - *expected[p]) / cov.se(p);
        EXPECT_LT(std::fabs(z), 4.5) << "position " << p;
        if (std::fabs(z) > 2.0) ++outside2;
    }
    EXPECT_LE(outside2, P / 8);
}

TEST(Variance, GradientAndObservedInformationAreTheLoglikelihoodsDerivatives) {
    // Away from the maximum, every item type with missing values: the analytic gradient against
    // central differences of the loglikelihood, the observed information (Louis' formula)
    // against central differences of that gradient.
    for (int nf : {1, 2}) {
        ModelState m = simulate(truthFor(2, 2, 2, 2, nf), nf, 16, 40, 0.1, 50 + nf);
        m.params = truthFor(2, 2, 2, 2, nf);
        m.params.binary[1].alpha[0] += 0.3;
        m.params.normal[0].psi *= 1.5;
        const Grid grid = makeGrid(16, nf);
        const Derivatives d = loglikelihoodDerivatives(m, grid);
        const std::vector<double> numeric = numericalGradient(m, grid);
        const int P = static_cast<int>(numeric.size());
        ASSERT_EQ(d.gradient.size(), P);
        for (int p = 0; p < P; ++p) {
            EXPECT_NEAR(d.gradient(p), numeric[p], 1e-6 * (1 + std::fabs(numeric[p])))
                << "nf " << nf << " at " << p;
            EXPECT_GT(d.completeScale(p), 0.0) << "nf " << nf << " at " << p;
        }
        const Eigen::MatrixXd observed = observedInformation(m, grid);
        std::vector<double*> params = freeParameters(m);
        const double h = 1e-5;
        for (int p = 0; p < P; ++p) {
            const double keep = *params[p];
            *params[p] = keep + h;
            const Eigen::VectorXd up = loglikelihoodDerivatives(m, grid).gradient;
            *params[p] = keep - h;
            const Eigen::VectorXd down = loglikelihoodDerivatives(m, grid).gradient;
            *params[p] = keep;
            for (int q = 0; q < P; ++q) {
                const double expected = -(up(q) - down(q)) / (2 * h);
                EXPECT_NEAR(observed(q, p), expected, 1e-5 * (1 + std::fabs(expected)))
                    << "nf " << nf << " entry " << q << ", " << p;
            }
        }
    }
}

TEST(Variance, StandardErrorsOnlyWhereTheInformationIdentifiesTheParameter) {
    // Two factors on three binary items: eight free parameters for seven response patterns.
    // The information is singular; no standard error means anything, and none is given.
    ModelState under = simulate(truthFor(3, 0, 0, 0, 2), 2, 16, 500, 0.0, 5);
    under.deck.maxit = 50;
    Fit f = fit(under);
    Covariance cov = variance(under, f.est, [](std::string_view) {});
    EXPECT_NE(cov.unavailable.find("not identified"), std::string::npos);
    for (int p = 0; p < cov.layout.count; ++p) {
        if (p == cov.fixed) continue;
        EXPECT_TRUE(std::isnan(cov.se(p))) << p;
    }

    // A frozen item (an intercept at 10) sits at a bound: its parameters get none, the other
    // items theirs, and the frozen ones are listed.
    ModelState m = simulate(truthFor(4, 1, 0, 1, 1), 1, 24, 400, 0.0, 6);
    m.deck.tol = 1e-8;
    m.params.binary[2].alpha = {10.5, 0.4, 0.0};
    f = fit(m);
    cov = variance(m, f.est, [](std::string_view) {});
    EXPECT_TRUE(cov.unavailable.empty()) << cov.unavailable;
    const std::vector<int> frozen = {cov.layout.binaryAt(1, 2, 1), cov.layout.binaryAt(1, 2, 0)};
    EXPECT_EQ(cov.withoutErrors, frozen);
    for (int p = 0; p < cov.layout.count; ++p) {
        const bool none = std::find(frozen.begin(), frozen.end(), p) != frozen.end();
        EXPECT_EQ(std::isnan(cov.se(p)), none) << p;
    }
    EXPECT_EQ(parameterNames(m.deck)[frozen[0]], "binary item 3's loading 1");
}
