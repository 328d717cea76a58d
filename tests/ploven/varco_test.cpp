#include "ploven/varco.hpp"

#include "helpers.hpp"
#include "ploven/em.hpp"

#include <cmath>
#include <random>

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
    EXPECT_EQ(ploven::emalg(f.data, truth.nclass, n, 1e-10, 20000, f.est, f.post).ierr, 0);
    return f;
}

const ploven::Estimates threeClasses =
    model({{.1, .5, .9}, {.2, .8, .9}, {.1, .3, .8}, {.15, .6, .85}, {.2, .2, .9}}, {.3, .3, .4});

} // namespace

TEST(Varco, ScoresAreGradientsAndTheInformationSumsTheirProducts) {
    const Fitted f = fit(threeClasses, 2000);
    const int K = 3, P = 5, M = ploven::freeParameters(P, K);
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

TEST(Varco, GaussjInvertsToSevenDigitsAndSurvivesASingularMatrix) {
    std::mt19937 g(3);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int n : {1, 4, 30}) {
        Matrix a(n);
        for (double& v : a.a) v = u(g);
        for (int i = 0; i < n; ++i) a(i, i) += n; // well conditioned
        const Matrix inv = ploven::inver(a, quiet);
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j) {
                double s = 0.0;
                for (int k = 0; k < n; ++k) s += a(i, k) * inv(k, j);
                EXPECT_NEAR(s, i == j ? 1.0 : 0.0, 1e-6);
            }
    }
    Matrix singular(3); // rank 1
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) singular(i, j) = (i + 1.0) * (j + 1.0);
    std::FILE* in = std::tmpfile();
    std::FILE* out = std::tmpfile();
    Matrix b = Matrix::identity(3);
    ploven::gaussj(singular, b, ploven::Console{in, out});
    std::rewind(out);
    char line[64] = {};
    ASSERT_NE(std::fgets(line, sizeof line, out), nullptr);
    EXPECT_STREQ(line, "SINGULAR MATRIX\n");
    std::fclose(in);
    std::fclose(out);
}

TEST(Varco, StandardErrorsAndBoundaries) {
    const Fitted f = fit(threeClasses, 2000);
    const Matrix V = ploven::inver(ploven::informationMatrix(f.data, f.est, f.post), quiet);
    const ploven::StandardErrors se = ploven::varco(f.data, f.est, f.post, quiet);
    ASSERT_TRUE(se.ok) << se.report;
    EXPECT_TRUE(se.report.empty());
    EXPECT_DOUBLE_EQ(se.eta[0], std::sqrt(V(0, 0)));
    EXPECT_DOUBLE_EQ(se.eta[2], std::sqrt(V(0, 0) + V(1, 1) + 2 * V(0, 1))); // covariance included
    EXPECT_DOUBLE_EQ(se.pi[3 * 3 + 1], std::sqrt(V(2 + 3 * 3 + 1, 2 + 3 * 3 + 1)));

    const Fitted two = fit(model({{.2, .8}, {.3, .9}, {.1, .7}, {.2, .6}}, {.4, .6}), 1000);
    const ploven::StandardErrors se2 = ploven::varco(two.data, two.est, two.post, quiet);
    ASSERT_TRUE(se2.ok);
    EXPECT_EQ(se2.eta[0], se2.eta[1]);
    EXPECT_EQ(se2.eta.size() + se2.pi.size(), 10u); // M = 9 free parameters, both priors shown

    const Fitted one = fit(model({{.2}, {.7}, {.5}}, {1.0}), 200);
    const ploven::StandardErrors se1 = ploven::varco(one.data, one.est, one.post, quiet);
    ASSERT_TRUE(se1.ok);
    EXPECT_EQ(se1.eta[0], 0.0); // the one prior is fixed at 1
    EXPECT_NEAR(se1.pi[1], std::sqrt(0.7 * 0.3 / 200), 0.01);

    ploven::Estimates boundary = two.est;
    boundary.eta = {1.0 - 2.0e-6, 2.0e-6};
    EXPECT_EQ(ploven::varco(two.data, boundary, two.post, quiet).report,
              " BOUNDARY ESTIMATE: UNABLE TO COMPUTE STANDARD  ERRORS\n");
    boundary = two.est;
    boundary.PI(2, 0) = 0.9999975;
    const ploven::StandardErrors refused = ploven::varco(two.data, boundary, two.post, quiet);
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(refused.report, " BOUNDARY ESTIMATE: UNABLE TO COMPUTE STANDARDERRORS\n");
}
