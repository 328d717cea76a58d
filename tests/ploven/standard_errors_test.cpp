#include "ploven/standard_errors.hpp"

#include "helpers.hpp"
#include "ploven/categorical_em.hpp"
#include "ploven/categorical_errors.hpp"
#include "ploven/coordinates.hpp"
#include "ploven/derivatives.hpp"
#include "ploven/em.hpp"

#include <cmath>
#include <random>
#include <string>

using namespace testing_ploven;
using ploven::Matrix;

namespace {

const ploven::Console quiet{nullptr, stdout}; // never waits

struct Fitted {
    ploven::PatternTable data;
    ploven::Estimates est;
    ploven::Posteriors post;
};

Fitted fit(const ploven::Estimates& truth, long long n) {
    Fitted f;
    f.data = sample(truth, n);
    EXPECT_EQ(
        ploven::estimateFromBandStart(f.data, truth.nclass, n, 1e-10, 20000, f.est, f.post).error,
        ploven::ErrorCode::None);
    return f;
}

const ploven::Estimates threeClasses =
    model({{.1, .5, .9}, {.2, .8, .9}, {.1, .3, .8}, {.15, .6, .85}, {.2, .2, .9}}, {.3, .3, .4});

} // namespace

TEST(Varco, ScoresAreGradientsAndTheInformationSumsTheirProducts) {
    const Fitted f = fit(threeClasses, 2000);
    const int K = 3, P = 5, M = static_cast<int>(ploven::modelParameters(P, K));
    const std::vector<double> theta = freeParameters(f.est);
    Matrix sum(M);
    for (int i = 0; i < f.data.size(); ++i) {
        const std::vector<double> s = ploven::patternScore(f.data, i, f.est, f.post);
        auto logP = [&](const std::vector<double>& t) {
            return logProbability(f.data.row(i), P, K, t);
        };
        for (int m = 0; m < M; ++m) {
            const double numeric = derivative(logP, theta, m, 1e-7);
            ASSERT_NEAR(s[m], numeric, 1e-5 * (1 + std::fabs(numeric)))
                << "pattern " << i + 1 << " parameter " << m + 1;
            for (int l = 0; l < M; ++l) sum(m, l) += f.data.freq[i] * s[m] * s[l];
        }
    }
    const Matrix A = ploven::informationMatrix(f.data, f.est, f.post);
    for (int m = 0; m < M; ++m)
        for (int l = 0; l < M; ++l)
            EXPECT_NEAR(A(m, l), sum(m, l), 1e-6 * std::fabs(sum(m, m) + sum(l, l)));
}

namespace {

// The console's text after writing to it.
std::string written(std::FILE* out) {
    std::rewind(out);
    std::string text;
    for (int c = std::fgetc(out); c != EOF; c = std::fgetc(out)) text += static_cast<char>(c);
    return text;
}

} // namespace

TEST(Varco, InformationInvertsToRoundingAndTroubleIsSaidOnTheConsole) {
    std::mt19937 g(3);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int n : {1, 4, 30}) {
        Matrix a(n);
        for (double& v : a.a) v = u(g);
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < i; ++j) a(i, j) = a(j, i);
        for (int i = 0; i < n; ++i) a(i, i) += n; // positive definite, well conditioned
        std::FILE* out = std::tmpfile();
        const Matrix inv = ploven::invertInformation(a, {nullptr, out});
        EXPECT_EQ(written(out), "");
        std::fclose(out);
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j) {
                double s = 0.0;
                for (int k = 0; k < n; ++k) s += a(i, k) * inv(k, j);
                EXPECT_NEAR(s, i == j ? 1.0 : 0.0, 1e-14);
            }
    }
    // Not positive definite, yet invertible: said, and inverted.
    Matrix indefinite = Matrix::identity(2);
    indefinite(1, 1) = -4.0;
    std::FILE* out = std::tmpfile();
    const Matrix inverse = ploven::invertInformation(indefinite, {nullptr, out});
    EXPECT_EQ(written(out), "SINGULAR MATRIX\n");
    EXPECT_EQ(inverse(1, 1), -0.25);
    std::fclose(out);
    // Singular (rank 1): said, and no numbers.
    Matrix singular(3);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) singular(i, j) = (i + 1.0) * (j + 1.0);
    out = std::tmpfile();
    const Matrix none = ploven::invertInformation(singular, {nullptr, out});
    EXPECT_EQ(written(out), "SINGULAR MATRIX\n");
    for (double v : none.a) EXPECT_TRUE(std::isnan(v));
    std::fclose(out);
}

TEST(Varco, StandardErrorsAndBoundaries) {
    const Fitted f = fit(threeClasses, 2000);
    const Matrix V =
        ploven::invertInformation(ploven::informationMatrix(f.data, f.est, f.post), quiet);
    const ploven::StandardErrors se = ploven::standardErrors(f.data, f.est, f.post, quiet);
    ASSERT_TRUE(se.ok) << se.report;
    EXPECT_TRUE(se.report.empty());
    EXPECT_DOUBLE_EQ(se.eta[0], std::sqrt(V(0, 0)));
    EXPECT_DOUBLE_EQ(se.eta[2], std::sqrt(V(0, 0) + V(1, 1) + 2 * V(0, 1))); // covariance included
    EXPECT_DOUBLE_EQ(se.pi[3 * 3 + 1], std::sqrt(V(2 + 3 * 3 + 1, 2 + 3 * 3 + 1)));

    const Fitted two = fit(model({{.2, .8}, {.3, .9}, {.1, .7}, {.2, .6}}, {.4, .6}), 1000);
    const ploven::StandardErrors se2 = ploven::standardErrors(two.data, two.est, two.post, quiet);
    ASSERT_TRUE(se2.ok);
    EXPECT_EQ(se2.eta[0], se2.eta[1]);
    EXPECT_EQ(se2.eta.size() + se2.pi.size(), 10u); // M = 9 free parameters, both priors shown

    const Fitted one = fit(model({{.2}, {.7}, {.5}}, {1.0}), 200);
    const ploven::StandardErrors se1 = ploven::standardErrors(one.data, one.est, one.post, quiet);
    ASSERT_TRUE(se1.ok);
    EXPECT_EQ(se1.eta[0], 0.0); // the one prior is fixed at 1
    EXPECT_NEAR(se1.pi[1], std::sqrt(0.7 * 0.3 / 200), 0.01);

    ploven::Estimates boundary = two.est;
    boundary.eta = {1.0 - 2.0e-6, 2.0e-6};
    EXPECT_EQ(ploven::standardErrors(two.data, boundary, two.post, quiet).report,
              " BOUNDARY ESTIMATE: UNABLE TO COMPUTE STANDARD  ERRORS\n");
    boundary = two.est;
    boundary.PI(2, 0) = 0.9999975;
    const ploven::StandardErrors refused =
        ploven::standardErrors(two.data, boundary, two.post, quiet);
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(refused.report, " BOUNDARY ESTIMATE: UNABLE TO COMPUTE STANDARDERRORS\n");

    // The report's line names the first bound met; the reason names every estimate at one.
    boundary.eta = {1.0 - 2.0e-6, 2.0e-6};
    boundary.PI(0, 1) = 1.0e-7;
    const ploven::StandardErrors both = ploven::standardErrors(two.data, boundary, two.post, quiet);
    EXPECT_EQ(both.report, " BOUNDARY ESTIMATE: UNABLE TO COMPUTE STANDARDERRORS\n");
    EXPECT_EQ(both.unavailable, "estimates at a bound (within 3.0E-6 of 0 or 1), where the "
                                "information is singular: PI(3,1) near 1, ETA(2) near 0, PI(1,2) "
                                "near 0");
    EXPECT_EQ(se2.unavailable, "");
}

TEST(Varco, SingularDirectionsNameTheirParameters) {
    // Parameters 1 to 3: the third row the sum of the first two, a direction (1, 1, -1) of no
    // information; parameter 4 stands apart, and parameter 5 has no information at all.
    Matrix a(5);
    const double rows[5][5] = {
        {2, 1, 3, 0, 0}, {1, 3, 4, 0, 0}, {3, 4, 7, 0, 0}, {0, 0, 0, 5, 0}, {0, 0, 0, 0, 0}};
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 5; ++j) a(i, j) = rows[i][j];
    EXPECT_EQ(ploven::singularParameters(a, ploven::kIdentificationLimit),
              (std::vector<int>{0, 1, 2, 4}));
    EXPECT_EQ(ploven::singularParameters(Matrix::identity(4), ploven::kIdentificationLimit),
              std::vector<int>{});
    // I - v v'/v'v has no information along v = (1, 1, -1, 0.01) alone: the parameter with a
    // share of 3E-5 in it is not named.
    const double v[4] = {1, 1, -1, 0.01}, vv = 3.0001;
    Matrix projection(4);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) projection(i, j) = (i == j) - v[i] * v[j] / vv;
    EXPECT_EQ(ploven::singularParameters(projection, ploven::kIdentificationLimit),
              (std::vector<int>{0, 1, 2}));
    // Three classes: ETA(1), ETA(2), then PI(1,1), PI(1,2), PI(1,3), PI(2,1), ...
    EXPECT_EQ(ploven::parameterName(1, 3) + ploven::parameterName(7, 3), "ETA(2)PI(2,3)");
}

TEST(Varco, PivotRatioBoundsTheConditionNumberWhateverTheUnits) {
    // [[1, 1-e], [1-e, 1]] has condition number (2-e)/e; scaled rows and columns change
    // neither the answer nor the test.
    for (double e : {1e-3, 1e-6}) {
        Matrix a(2);
        const double unit[2] = {1e3, 1e-3};
        for (int i = 0; i < 2; ++i)
            for (int j = 0; j < 2; ++j) a(i, j) = (i == j ? 1.0 : 1.0 - e) * unit[i] * unit[j];
        const double condition = (2 - e) / e;
        const double ratio = ploven::pivotRatio(a, 1e300);
        EXPECT_LE(ratio, condition * (1 + 1e-9));
        EXPECT_GE(ratio, condition / 4);
    }
    Matrix rankTwo(3); // third row and column: the sum of the first two
    const double rows[3][3] = {{2, 1, 3}, {1, 3, 4}, {3, 4, 7}};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) rankTwo(i, j) = rows[i][j];
    EXPECT_GT(ploven::pivotRatio(rankTwo, 1e300), ploven::kIdentificationLimit);
    EXPECT_LT(ploven::pivotRatio(Matrix::identity(5), 1e300), 1.0 + 1e-12);
}

TEST(Varco, ModelNotIdentifiedGetsAWarningAndNoStandardErrors) {
    // Three classes cannot be told apart by four items: the information matrix is singular at
    // every inner point, here a fit without boundary estimates.
    const ploven::Estimates truth =
        model({{.1, .5, .9}, {.2, .8, .7}, {.3, .4, .9}, {.15, .6, .85}}, {.3, .3, .4});
    const Fitted f = fit(truth, 2000);
    for (double p : f.est.pi) ASSERT_TRUE(p > 0.01 && p < 0.99) << p;
    std::FILE* in = std::tmpfile();
    std::FILE* out = std::tmpfile();
    const ploven::StandardErrors se = ploven::standardErrors(f.data, f.est, f.post, {in, out});
    EXPECT_FALSE(se.ok);
    EXPECT_EQ(se.report, "     *** WARNING *** THE MODEL IS NOT IDENTIFIED AT THIS SOLUTION; NO "
                         "STANDARD ERRORS\n"
                         "     (CONDITION NUMBER OF THE INFORMATION MATRIX ABOVE 1.0E+12)\n");
    EXPECT_EQ(std::ftell(out), 0L); // no SINGULAR MATRIX pause: the inversion is not tried
    EXPECT_TRUE(se.unavailable.starts_with(
        "the model is not identified at this solution: the information matrix is singular "
        "(condition number above 1.0E+12) in directions of "))
        << se.unavailable;
    std::fclose(in);
    std::fclose(out);

    // The report prints the estimates alone, as when no standard errors are asked for.
    Folder folder;
    std::string deck = "Four items, three classes\n" + std::to_string(f.data.size()) +
                       " 3 4 1 0 0 0 1 0 0\n0 0 0\n";
    for (int i = 0; i < f.data.size(); ++i) {
        deck += std::to_string(f.data.freq[i]);
        for (int j = 0; j < 4; ++j) deck += " " + std::to_string(f.data.response(i, j));
        deck += "\n";
    }
    const RunResult r = runDeck(folder, deck);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.err, "ploven: warning: no standard errors: " + se.unavailable + "\n"));
    const std::string json = folder.read("ploven.json");
    EXPECT_TRUE(contains(json, "\"standard_errors_reason\": \"" + se.unavailable + "\""));
    const std::string report = folder.read("LATC7.OUT");
    EXPECT_TRUE(contains(report, "     NUMBER OF CASES=    2000\n" + se.report +
                                     "\n     ESTIMATED PI-MATRIX:\n    0."))
        << report;
    const auto estimates = report.find("ESTIMATED PI-MATRIX:");
    EXPECT_FALSE(contains(report.substr(estimates, report.find("LIKELIHOOD") - estimates), "("));
}

namespace {

// The loglikelihood at coordinates theta (log-ratios to class r, then logits item by item),
// written out from the model's definition.
double loglikAt(const ploven::PatternTable& d, int K, int r, const std::vector<double>& theta) {
    const int P = d.nitem;
    std::vector<double> eta(K);
    double total = 0.0;
    for (int k = 0, at = 0; k < K; ++k) total += eta[k] = k == r ? 1.0 : std::exp(theta[at++]);
    double l = 0.0;
    for (int i = 0; i < d.size(); ++i) {
        double p = 0.0;
        for (int k = 0; k < K; ++k) {
            double f = eta[k] / total;
            for (int j = 0; j < P; ++j) {
                const double pi = 1.0 / (1.0 + std::exp(-theta[(K - 1) + j * K + k]));
                f *= d.response(i, j) ? pi : 1.0 - pi;
            }
            p += f;
        }
        l += d.freq[i] * std::log(p);
    }
    return l;
}

} // namespace

TEST(Derivatives, GradientAndObservedInformationAreThoseOfTheLoglikelihood) {
    // Away from the maximum (the Louis terms with the gradient count there) and with a
    // reference class that is not the last.
    const ploven::PatternTable d = sample(threeClasses, 400);
    const ploven::Estimates at = model(
        {{.2, .6, .8}, {.3, .7, .9}, {.15, .35, .7}, {.25, .5, .9}, {.3, .2, .85}}, {.25, .45, .3});
    ploven::Coordinates c(at);
    ASSERT_EQ(c.reference(), 1);
    const Eigen::VectorXd t = c.theta(at);
    const std::vector<double> theta(t.data(), t.data() + t.size());
    ploven::Estimates back;
    c.estimates(t, back);
    for (std::size_t m = 0; m < at.pi.size(); ++m) EXPECT_NEAR(back.pi[m], at.pi[m], 1e-15);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(back.eta[k], at.eta[k], 1e-15);

    ploven::EmCycles cycles(d, 3, 400);
    std::vector<double> h(static_cast<std::size_t>(d.size()) * 3);
    EXPECT_NEAR(cycles.expectation(at, h), loglikAt(d, 3, 1, theta), 1e-9);
    const ploven::Derivatives der = ploven::logitDerivatives(d, at, h, c);
    auto L = [&](const std::vector<double>& v) { return loglikAt(d, 3, 1, v); };
    const int M = c.size();
    for (int m = 0; m < M; ++m) {
        const double numeric = derivative(L, theta, m, 1e-5);
        ASSERT_NEAR(der.gradient(m), numeric, 1e-6 * (1 + std::fabs(numeric))) << m;
        for (int n = 0; n <= m; ++n) {
            // Mixed second difference of the loglikelihood itself.
            const double e = 1e-3;
            std::vector<double> v = theta;
            auto at2 = [&](double a, double b) {
                v = theta;
                v[m] += a;
                v[n] += b;
                return L(v);
            };
            const double second = (at2(e, e) - at2(e, -e) - at2(-e, e) + at2(-e, -e)) / (4 * e * e);
            EXPECT_NEAR(der.observed(m, n), -second, 1e-4 * (1 + std::fabs(second)))
                << m << " " << n;
            EXPECT_EQ(der.observed(m, n), der.observed(n, m));
        }
    }

    // The cross-product: every pattern's own score by differences, squared and summed.
    Eigen::MatrixXd opg = Eigen::MatrixXd::Zero(M, M);
    for (int i = 0; i < d.size(); ++i) {
        ploven::PatternTable one;
        one.nitem = d.nitem;
        one.freq = {1};
        one.x.assign(d.row(i), d.row(i) + d.nitem);
        Eigen::VectorXd s(M);
        for (int m = 0; m < M; ++m)
            s(m) = derivative([&](const std::vector<double>& v) { return loglikAt(one, 3, 1, v); },
                              theta, m, 1e-6);
        opg += d.freq[i] * s * s.transpose();
    }
    EXPECT_LT((der.crossProduct - opg).cwiseAbs().maxCoeff(), 1e-5 * opg.cwiseAbs().maxCoeff());
}

TEST(Derivatives, BoundsAreHeldAndExtremeCoordinatesStayInTheModel) {
    ploven::Estimates at = model({{0.0, .6, 1.0}, {.3, .7, .9}}, {0.0, .6, .4});
    ploven::Coordinates c(at);
    EXPECT_EQ(c.reference(), 1);
    EXPECT_EQ(c.held(), 3); // PI(1,1), PI(1,3) and the empty class's prior
    Eigen::VectorXd t = c.theta(at);
    for (int m = 0; m < c.size(); ++m) EXPECT_TRUE(std::isfinite(t(m))) << m;
    t.setConstant(1e6); // far out: probabilities at 1, the reference's prior at 0
    ploven::Estimates far;
    c.estimates(t, far);
    EXPECT_EQ(far.PI(0, 0), 0.0); // held
    EXPECT_EQ(far.PI(1, 0), 1.0);
    EXPECT_EQ(far.eta[0], 0.0);
    EXPECT_EQ(far.eta[1], 0.0);
    EXPECT_EQ(far.eta[2], 1.0);
    // A value that reaches a bound later is held from then on, at the anchor's coordinate.
    at.PI(1, 1) = 1.0;
    const Eigen::VectorXd anchor = Eigen::VectorXd::Constant(c.size(), 7.0);
    EXPECT_EQ(c.theta(at, &anchor)(c.item(1, 1)), 7.0);
    EXPECT_EQ(c.held(), 4);
}

// The categorical model's standard errors against the outer product of scores taken by central
// differences of each case's log probability, in coordinates that drop the last category of
// every item and class and the last class: the variances of every probability must agree
// whichever category the estimator drops.
TEST(CategoricalErrors, AgreeWithNumericalScoresInOtherCoordinates) {
    ploven::CategoricalData cases;
    cases.nitem = 4;
    cases.categories = {3, 2, 3, 2};
    std::mt19937_64 g(3);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    for (int i = 0; i < 600; ++i) {
        const int k = u(g) < 0.6 ? 0 : 1;
        for (int j = 0; j < 4; ++j) {
            const int C = cases.categories[j];
            const int c = u(g) < 0.6 ? (k == 0 ? 0 : C - 1) : static_cast<int>(u(g) * C);
            cases.x.push_back(u(g) < 0.1 ? 0 : static_cast<std::uint8_t>(c + 1));
        }
        cases.freq.push_back(1);
    }
    const ploven::CategoricalData d = ploven::foldCategorical(cases, nullptr);
    const ploven::CategoricalFit fit = ploven::fitCategorical(d, 2, 1e-12, 10000, {});
    const ploven::CategoricalErrors se = ploven::categoricalErrors(d, fit.est, fit.h);
    ASSERT_TRUE(se.ok) << se.unavailable;

    const ploven::CategoricalEstimates& est = fit.est;
    // theta: eta_1, then per item, class by class, the categories but the last.
    std::vector<double> theta = {est.eta[0]};
    for (int j = 0; j < 4; ++j)
        for (int k = 0; k < 2; ++k)
            for (int c = 0; c + 1 < est.categories[j]; ++c) theta.push_back(est.P(j, k, c));
    const std::size_t n = theta.size();
    Eigen::MatrixXd info =
        Eigen::MatrixXd::Zero(static_cast<Eigen::Index>(n), static_cast<Eigen::Index>(n));
    for (int i = 0; i < d.size(); ++i) {
        Eigen::VectorXd s(static_cast<Eigen::Index>(n));
        auto score = [&](std::size_t index) {
            std::vector<double> up = theta, down = theta;
            up[index] += 1e-6;
            down[index] -= 1e-6;
            // Case i's log probability; item j's block holds class 1's, then class 2's.
            auto eval = [&](const std::vector<double>& t) {
                std::size_t at = 1;
                double total = 0.0;
                for (int k = 0; k < 2; ++k) {
                    double f = k == 0 ? t[0] : 1.0 - t[0];
                    at = 1;
                    for (int j = 0; j < 4; ++j) {
                        const int C = est.categories[j];
                        const std::size_t block = at + static_cast<std::size_t>(k * (C - 1));
                        double last = 1.0, p = 0.0;
                        for (int c = 0; c + 1 < C; ++c) {
                            last -= t[block + static_cast<std::size_t>(c)];
                            if (d.row(i)[j] == c + 1) p = t[block + static_cast<std::size_t>(c)];
                        }
                        if (d.row(i)[j] == C) p = last;
                        if (d.row(i)[j] != 0) f *= p;
                        at += static_cast<std::size_t>(2 * (C - 1));
                    }
                    total += f;
                }
                return std::log(total);
            };
            return (eval(up) - eval(down)) / 2e-6;
        };
        for (std::size_t m = 0; m < n; ++m) s[static_cast<Eigen::Index>(m)] = score(m);
        info += d.freq[i] * s * s.transpose();
    }
    const Eigen::MatrixXd V = info.inverse();
    EXPECT_NEAR(se.eta[0], std::sqrt(V(0, 0)), 1e-4 * std::sqrt(V(0, 0)));
    EXPECT_NEAR(se.eta[1], std::sqrt(V(0, 0)), 1e-4 * std::sqrt(V(0, 0)));
    std::size_t at = 1;
    for (int j = 0; j < 4; ++j) {
        const int C = est.categories[j];
        for (int k = 0; k < 2; ++k) {
            const Eigen::Index b =
                static_cast<Eigen::Index>(at + static_cast<std::size_t>(k * (C - 1)));
            double lastVariance = 0.0;
            for (int c = 0; c + 1 < C; ++c) {
                const double v = V(b + c, b + c);
                EXPECT_NEAR(se.p[est.index(j, k, c)], std::sqrt(v), 1e-4 * std::sqrt(v));
                for (int e = 0; e + 1 < C; ++e) lastVariance += V(b + c, b + e);
            }
            EXPECT_NEAR(se.p[est.index(j, k, C - 1)], std::sqrt(lastVariance),
                        1e-4 * std::sqrt(lastVariance));
        }
        at += static_cast<std::size_t>(2 * (C - 1));
    }
}

// The sums over patterns against plain loops over the model's formulas (em.hpp,
// standard_errors.hpp): data within one block give the plain loop's digits exactly; many
// blocks (of 3 patterns, the last shorter) give the same sums to rounding. The information
// matrix is checked against sum f s s' of the scores, and the convergence check's
// cross-product against the same in its own coordinates' units.
TEST(PatternBlocks, SumsMatchPlainLoopsOverThePatterns) {
    const ploven::Estimates truth = model(
        {{.1, .6, .9}, {.25, .5, .8}, {.2, .7, .85}, {.3, .4, .9}, {.15, .55, .7}}, {.25, .35, .4});
    const long long ncase = 800;
    const ploven::PatternTable data = sample(truth, ncase);
    const int K = 3, J = 5, npat = data.size();
    ASSERT_NE(npat % 3, 0);
    // E-step by the formulas.
    double plainLoglik = 0.0;
    std::vector<double> plainH(static_cast<std::size_t>(npat) * K);
    for (int i = 0; i < npat; ++i) {
        double terms[3], mixture = 0.0;
        for (int k = 0; k < K; ++k) {
            double f = 1.0;
            for (int j = 0; j < J; ++j)
                f *= data.response(i, j) ? truth.PI(j, k) : 1 - truth.PI(j, k);
            terms[k] = truth.eta[k] * f;
            mixture += terms[k];
        }
        for (int k = 0; k < K; ++k)
            plainH[static_cast<std::size_t>(i) * K + k] = terms[k] / mixture;
        plainLoglik += data.freq[i] * std::log(mixture);
    }
    // M-step by the formulas.
    ploven::Estimates plainNext;
    plainNext.resize(J, K);
    for (int k = 0; k < K; ++k) {
        double n = 0.0;
        for (int i = 0; i < npat; ++i)
            n += data.freq[i] * plainH[static_cast<std::size_t>(i) * K + k];
        plainNext.eta[k] = n / ncase;
        for (int j = 0; j < J; ++j) {
            double s = 0.0;
            for (int i = 0; i < npat; ++i)
                if (data.response(i, j))
                    s += data.freq[i] * plainH[static_cast<std::size_t>(i) * K + k];
            plainNext.PI(j, k) = s / n;
        }
    }
    for (int block : {npat, 3}) {
        SCOPED_TRACE("block " + std::to_string(block));
        ploven::PatternLoops loops;
        loops.blockPatterns = block;
        loops.threads = 2;
        ploven::EmCycles cycles(data, K, ncase, loops);
        std::vector<double> h(plainH.size());
        const double loglik = cycles.expectation(truth, h);
        if (block == npat)
            EXPECT_EQ(loglik, plainLoglik);
        else
            EXPECT_NEAR(loglik, plainLoglik, 1e-12 * std::fabs(plainLoglik));
        for (std::size_t t = 0; t < h.size(); ++t) ASSERT_NEAR(h[t], plainH[t], 1e-15) << t;
        ploven::Estimates next = truth;
        cycles.maximization(h, next);
        for (int k = 0; k < K; ++k) {
            EXPECT_NEAR(next.eta[k], plainNext.eta[k], 1e-14);
            for (int j = 0; j < J; ++j) EXPECT_NEAR(next.PI(j, k), plainNext.PI(j, k), 1e-13);
        }

        ploven::Posteriors post;
        post.nclass = K;
        post.h = h;
        post.loops = loops;
        const Matrix A = ploven::informationMatrix(data, truth, post, false);
        const int M = A.n;
        for (int r = 0; r < M; ++r)
            for (int c = 0; c < M; ++c) {
                double plain = 0.0;
                for (int i = 0; i < npat; ++i) {
                    const std::vector<double> s = ploven::patternScore(data, i, truth, post);
                    plain += data.freq[i] * s[r] * s[c];
                }
                ASSERT_NEAR(A(r, c), plain, 1e-10 * (1.0 + std::fabs(plain))) << r << "," << c;
            }

        // The check's cross-product: sum f s s' with s the logit scores of derivatives.hpp.
        const ploven::Coordinates coords(truth, true);
        const ploven::Derivatives d = ploven::logitDerivatives(data, truth, h, coords, loops);
        Eigen::VectorXd grad = Eigen::VectorXd::Zero(coords.size());
        Eigen::MatrixXd opg = Eigen::MatrixXd::Zero(coords.size(), coords.size());
        for (int i = 0; i < npat; ++i) {
            Eigen::VectorXd s = Eigen::VectorXd::Zero(coords.size());
            const double* hi = h.data() + static_cast<std::size_t>(i) * K;
            for (int m = 0; m < K; ++m)
                if (coords.prior(m) >= 0) s(coords.prior(m)) = hi[m] - truth.eta[m];
            for (int j = 0; j < J; ++j)
                for (int k = 0; k < K; ++k)
                    s(coords.item(j, k)) = hi[k] * (data.response(i, j) - truth.PI(j, k));
            grad += data.freq[i] * s;
            opg += data.freq[i] * s * s.transpose();
        }
        EXPECT_LT((d.gradient - grad).cwiseAbs().maxCoeff(), 1e-10);
        EXPECT_LT((d.crossProduct - opg).cwiseAbs().maxCoeff(), 1e-9);
    }
}
