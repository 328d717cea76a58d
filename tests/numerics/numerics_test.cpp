// The quadratic model of a loglikelihood near its top, the squared extrapolation of EM, and the
// dense linear algebra under them, on problems whose answers are known in closed form or
// checked by residuals and reconstruction.
#include "numerics/chi_square.hpp"
#include "numerics/linear_algebra.hpp"
#include "numerics/newton_finish.hpp"
#include "numerics/parallel_blocks.hpp"
#include "numerics/quadratic_model.hpp"
#include "numerics/squarem.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <stdexcept>
#include <vector>

namespace {

using Eigen::MatrixXd;
using Eigen::VectorXd;

// L(theta) = -(theta - top)' A (theta - top) / 2: gradient A (top - theta), information A.
struct Quadratic {
    MatrixXd a;
    VectorXd top;
    double value(const VectorXd& t) const { return -0.5 * (t - top).dot(a * (t - top)); }
    VectorXd gradient(const VectorXd& t) const { return a * (top - t); }
};

TEST(QuadraticModel, GainAndStepOfAnExactQuadraticWhateverTheUnits) {
    // Parameters in units a million apart: the scaling must not lose the small one.
    Quadratic q;
    q.a.resize(3, 3);
    q.a << 4e12, 1e6, 0.0, 1e6, 2.0, 0.5, 0.0, 0.5, 1.0;
    q.top = VectorXd(3);
    q.top << 1e-6, 3.0, -2.0;
    VectorXd at(3);
    at << 2e-6, 1.0, -1.0;
    const numerics::QuadraticModel m = numerics::quadraticModel(q.gradient(at), q.a);
    EXPECT_NEAR(m.gain, q.value(q.top) - q.value(at), 1e-12 * std::fabs(q.value(at)));
    EXPECT_NEAR((at + m.step - q.top).norm(), 0.0, 1e-9);
    EXPECT_EQ(m.unresolved, 0);
    EXPECT_DOUBLE_EQ(m.largestGradient, q.gradient(at).cwiseAbs().maxCoeff());
    EXPECT_TRUE(numerics::positiveDefinite(q.a));
}

TEST(QuadraticModel, SingularDirectionsAndFixedParametersAreLeftOut) {
    // theta1 + theta2 is identified, theta1 - theta2 is not (a ridge); theta3 is fixed.
    MatrixXd a(3, 3);
    a << 1.0, 1.0, 0.0, 1.0, 1.0, 0.0, 0.0, 0.0, 2.0;
    VectorXd g(3);
    g << 0.3, 0.3, 5.0; // no gradient along the ridge; a large one on the fixed parameter
    const numerics::QuadraticModel m = numerics::quadraticModel(g, a, {1, 1, 0});
    // Along (1, 1)/sqrt 2: curvature 2, slope 0.6/sqrt 2, so the gain is 0.36/2/2/2.
    EXPECT_NEAR(m.gain, 0.045, 1e-14);
    EXPECT_EQ(m.unresolved, 1);
    EXPECT_NEAR(m.step(0), 0.15, 1e-14);
    EXPECT_NEAR(m.step(1), 0.15, 1e-14);
    EXPECT_EQ(m.step(2), 0.0);
    EXPECT_DOUBLE_EQ(m.largestGradient, 0.3);
    EXPECT_FALSE(numerics::positiveDefinite(a));

    // A parameter that carries no information at all, and values that are not numbers.
    MatrixXd b = MatrixXd::Identity(2, 2);
    b(1, 1) = 0.0;
    VectorXd h(2);
    h << 1.0, 0.0;
    EXPECT_NEAR(numerics::quadraticModel(h, b).gain, 0.5, 1e-15);
    EXPECT_EQ(numerics::quadraticModel(h, b).unresolved, 1);
    h(1) = std::numeric_limits<double>::quiet_NaN();
    const numerics::QuadraticModel bad = numerics::quadraticModel(h, b);
    EXPECT_FALSE(bad.finite);
    EXPECT_TRUE(std::isinf(bad.gain));
    EXPECT_TRUE(std::isfinite(numerics::quadraticModel(h, b, {1, 0}).gain));
}

// A linear EM map theta -> top + M (theta - top) with a slow direction (rate 0.995) and a fast
// one, under the objective -(e' (I - M) e) with e = theta - top, which no step of the map
// lowers. The model exists only for -1 < theta(0) < wall.
class LinearEm : public numerics::EmMap {
  public:
    LinearEm() : top(2), m(2, 2) {
        top << 0.5, -0.25;
        const double c = std::cos(0.3), s = std::sin(0.3);
        MatrixXd rotation(2, 2);
        rotation << c, -s, s, c;
        m = rotation * Eigen::Vector2d(0.995, 0.4).asDiagonal() * rotation.transpose();
    }
    double evaluate(const VectorXd& theta) override {
        ++evaluations;
        current = theta;
        if (!(theta(0) > -1.0 && theta(0) < wall)) return -std::numeric_limits<double>::infinity();
        const VectorXd e = theta - top;
        return -e.dot((MatrixXd::Identity(2, 2) - m) * e);
    }
    VectorXd update() override { return top + m * (current - top); }
    void keep() override { kept = current; }
    void restore() override { current = kept; }

    VectorXd top;
    MatrixXd m;
    VectorXd current, kept;
    double wall = std::numeric_limits<double>::infinity();
    int evaluations = 0;
};

TEST(Squarem, ReachesTheFixedPointOfASlowMapInFewEvaluationsWithoutAFall) {
    for (const double startX : {3.0, -0.9}) {
        LinearEm plain;
        VectorXd theta(2);
        theta << startX, 4.0;
        double loglik = plain.evaluate(theta);
        while ((theta - plain.top).norm() > 1e-8) {
            theta = plain.update();
            const double next = plain.evaluate(theta);
            ASSERT_GE(next, loglik);
            loglik = next;
        }

        LinearEm accelerated;
        theta << startX, 4.0;
        loglik = accelerated.evaluate(theta);
        numerics::SquaremStep bound;
        int extrapolations = 0;
        while ((theta - accelerated.top).norm() > 1e-8) {
            const numerics::SquaremResult r =
                numerics::squaremIteration(accelerated, theta, loglik, bound);
            ASSERT_GE(r.loglik, loglik);
            ASSERT_TRUE(r.theta(0) > -1.0);
            extrapolations += r.extrapolated;
            theta = r.theta;
            loglik = r.loglik;
            ASSERT_LT(accelerated.evaluations, 1000);
        }
        EXPECT_GT(plain.evaluations, 3000) << startX;
        EXPECT_LT(accelerated.evaluations, plain.evaluations / 20) << startX;
        EXPECT_GT(extrapolations, 0);
    }
}

TEST(Squarem, AlphaAndTheRefusedExtrapolation) {
    VectorXd r(2), v(2);
    r << 3.0, 4.0;
    v << 0.0, -1.0;
    EXPECT_DOUBLE_EQ(numerics::squaremAlpha(r, v), 5.0);
    EXPECT_DOUBLE_EQ(numerics::squaremAlpha(r, VectorXd::Zero(2)), 1.0);

    // An extrapolation that leaves the model is refused: the iteration ends at theta2, two EM
    // steps from the start, with theta2's E-step current, and the bound shrinks back.
    LinearEm em;
    em.wall = 0.0;
    // On the slow axis, 1.4 below the top: the start and two EM steps lie below the wall, and
    // the extrapolation (alpha 200, held at 100) lands a quarter of the way from the top.
    VectorXd theta = em.top - 1.4 * Eigen::Vector2d(std::cos(0.3), std::sin(0.3));
    const double loglik = em.evaluate(theta);
    numerics::SquaremStep bound;
    bound.stepMax = 100.0;
    const numerics::SquaremResult result = numerics::squaremIteration(em, theta, loglik, bound);
    const VectorXd twoSteps = em.top + em.m * em.m * (theta - em.top);
    EXPECT_FALSE(result.extrapolated);
    EXPECT_EQ(result.evaluations, 3);
    EXPECT_NEAR((result.theta - twoSteps).norm(), 0.0, 1e-15);
    EXPECT_NEAR((em.update() - (em.top + em.m * (twoSteps - em.top))).norm(), 0.0, 1e-15);
    EXPECT_DOUBLE_EQ(bound.stepMax, 25.0);
    EXPECT_GE(result.loglik, loglik);
}

// Poisson regression on a 0/1 covariate: log mu = a + b x. Its maximum is known in closed
// form: a = ln(mean of y where x = 0), b = ln(mean where x = 1) - a.
class PoissonRegression : public numerics::NewtonProblem {
  public:
    std::vector<int> x{0, 0, 0, 1, 1, 1, 1, 0, 1, 0}, y{2, 0, 3, 7, 4, 6, 9, 1, 5, 2};
    bool observed = true;
    bool lie = false; // a gradient pointing the wrong way
    std::vector<double> seen;

    double loglikelihood(const VectorXd& t) override {
        double l = 0.0;
        for (std::size_t i = 0; i < x.size(); ++i) {
            const double eta = t(0) + t(1) * x[i];
            l += y[i] * eta - std::exp(eta);
        }
        seen.push_back(l);
        return l;
    }
    void derivatives(const VectorXd& t, VectorXd& g, MatrixXd& info, VectorXd&,
                     numerics::Information& kind) override {
        g = VectorXd::Zero(2);
        info = MatrixXd::Zero(2, 2);
        for (std::size_t i = 0; i < x.size(); ++i) {
            const double mu = std::exp(t(0) + t(1) * x[i]);
            const Eigen::Vector2d z(1.0, x[i]);
            g += (y[i] - mu) * z;
            info += (observed ? mu : (y[i] - mu) * (y[i] - mu)) * z * z.transpose();
        }
        if (lie) g = -g;
        kind = observed ? numerics::Information::Observed : numerics::Information::CrossProduct;
    }
    Eigen::Vector2d top() const {
        double s0 = 0, n0 = 0, s1 = 0, n1 = 0;
        for (std::size_t i = 0; i < x.size(); ++i) {
            (x[i] ? s1 : s0) += y[i];
            (x[i] ? n1 : n0) += 1;
        }
        return {std::log(s0 / n0), std::log(s1 / n1) - std::log(s0 / n0)};
    }
};

TEST(NewtonFinish, ReachesTheMaximumWithEitherInformationAndNeverFalls) {
    for (const bool observed : {true, false}) {
        PoissonRegression p;
        p.observed = observed;
        const VectorXd start = Eigen::Vector2d(3.0, -2.0);
        numerics::NewtonOptions options;
        options.maxSteps = 100;
        const numerics::NewtonOutcome out =
            numerics::newtonFinish(p, start, p.loglikelihood(start), options);
        EXPECT_TRUE(out.certified) << observed;
        EXPECT_LT(out.model.gain, numerics::kCertifiedGain);
        EXPECT_NEAR((out.theta - p.top()).norm(), 0.0, 1e-3) << observed;
        for (std::size_t k = 1; k < out.steps.size(); ++k)
            EXPECT_GT(out.steps[k].loglik, out.steps[k - 1].loglik);
        if (observed) {
            EXPECT_LT(out.steps.size(), 12u); // Newton: quadratic convergence
        }
    }
}

TEST(NewtonFinish, SaysWhyAPointIsNotCertified) {
    PoissonRegression p;
    const VectorXd start = Eigen::Vector2d(3.0, -2.0);
    numerics::NewtonOptions options;
    options.maxSteps = 0; // the check alone
    numerics::NewtonOutcome out = numerics::newtonFinish(p, start, p.loglikelihood(start), options);
    EXPECT_TRUE(out.outOfSteps);
    EXPECT_FALSE(out.certified);
    EXPECT_TRUE(out.steps.empty());

    // A step that only goes down is halved until the line search gives up: the point stays.
    p.lie = true;
    options.maxSteps = 10;
    const double before = p.loglikelihood(start);
    out = numerics::newtonFinish(p, start, before, options);
    EXPECT_TRUE(out.stalled);
    EXPECT_FALSE(out.certified);
    EXPECT_EQ(out.theta, start);
    EXPECT_EQ(out.loglik, before);
    EXPECT_EQ(p.seen.back(), before); // the problem is left at the point, for its derivatives

    // At the maximum already: checked, no step.
    p.lie = false;
    out = numerics::newtonFinish(p, p.top(), p.loglikelihood(p.top()), options);
    EXPECT_TRUE(out.certified);
    EXPECT_TRUE(out.steps.empty());
}

} // namespace

namespace {

// L(x, y) = -x^2 + y^2 - y^4: a saddle at the origin, maxima at y = +-1/sqrt 2 (L = 1/4).
// flat: L(x, y) = -x^2, with an information that claims a little negative curvature in y.
class Saddle : public numerics::NewtonProblem {
  public:
    bool flat = false;
    double loglikelihood(const VectorXd& t) override {
        return flat ? -t(0) * t(0) : -t(0) * t(0) + t(1) * t(1) - std::pow(t(1), 4);
    }
    void derivatives(const VectorXd& t, VectorXd& g, MatrixXd& info, VectorXd& reference,
                     numerics::Information& kind) override {
        g = Eigen::Vector2d(-2 * t(0), flat ? 0.0 : 2 * t(1) - 4 * std::pow(t(1), 3));
        info = MatrixXd::Zero(2, 2);
        info(0, 0) = 2;
        info(1, 1) = flat ? -1e-6 : -2 + 12 * t(1) * t(1);
        reference = Eigen::Vector2d(2, 2);
        kind = numerics::Information::Observed;
    }
};

} // namespace

TEST(NewtonFinish, LeavesASaddleAlongItsNegativeCurvature) {
    Saddle s;
    numerics::NewtonOptions options;
    options.maxSteps = 50;
    const VectorXd origin = VectorXd::Zero(2);
    numerics::NewtonOptions checkOnly = options;
    checkOnly.maxSteps = 0;
    // The gain is nothing at the saddle, yet it is no maximum.
    const numerics::NewtonOutcome at = numerics::newtonFinish(s, origin, 0.0, checkOnly);
    EXPECT_TRUE(at.model.negativeCurvature);
    EXPECT_EQ(at.model.gain, 0.0);
    EXPECT_FALSE(at.certified);

    const numerics::NewtonOutcome out = numerics::newtonFinish(s, origin, 0.0, options);
    EXPECT_TRUE(out.certified);
    EXPECT_NEAR(std::fabs(out.theta(1)), 1 / std::sqrt(2.0), 1e-6);
    EXPECT_NEAR(out.loglik, 0.25, 1e-12);

    // Curvature that is rounding: no move raises the loglikelihood, the direction counts as
    // flat and the point is certified.
    s.flat = true;
    const numerics::NewtonOutcome flat = numerics::newtonFinish(s, origin, 0.0, options);
    EXPECT_TRUE(flat.certified);
    EXPECT_TRUE(flat.steps.empty());
    EXPECT_EQ(flat.model.unresolved, 1);
}

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

MatrixXd randomMatrix(int rows, int cols, unsigned seed) {
    std::mt19937 g(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    MatrixXd a(rows, cols);
    for (int c = 0; c < cols; ++c)
        for (int r = 0; r < rows; ++r) a(r, c) = u(g);
    return a;
}

} // namespace

TEST(LinearAlgebra, LuInvertsAndSolvesToRoundingAndRefusesSingularOrNaN) {
    for (int n : {1, 4, 30}) {
        const MatrixXd a =
            randomMatrix(n, n, 3u + static_cast<unsigned>(n)) + n * MatrixXd::Identity(n, n);
        const numerics::LuSolution inverse = numerics::invert(a);
        ASSERT_TRUE(inverse.solved);
        EXPECT_EQ(inverse.rank, n);
        EXPECT_LT((a * inverse.x - MatrixXd::Identity(n, n)).cwiseAbs().maxCoeff(), 1e-14) << n;
        const MatrixXd b = randomMatrix(n, 3, 7);
        const numerics::LuSolution x = numerics::solve(a, b);
        EXPECT_LT((a * x.x - b).cwiseAbs().maxCoeff(), 1e-14) << n;
    }
    // Pivoting: a zero in the leading place; a negative diagonal inverts exactly.
    MatrixXd swap(2, 2);
    swap << 0.0, 2.0, 4.0, 0.0;
    MatrixXd swapInverse(2, 2);
    swapInverse << 0.0, 0.25, 0.5, 0.0;
    EXPECT_EQ(numerics::invert(swap).x, swapInverse);
    EXPECT_EQ(numerics::invert(Eigen::Vector2d(-1.0, 2.0).asDiagonal().toDenseMatrix()).x,
              Eigen::Vector2d(-1.0, 0.5).asDiagonal().toDenseMatrix());
    // Nearly singular, [[1, 1], [1, 1 + d]]: the inverse [[1 + d, -1], [-1, 1]] / d to the
    // accuracy its condition number 4/d allows.
    const double d = 1e-9;
    MatrixXd near(2, 2);
    near << 1.0, 1.0, 1.0, 1.0 + d;
    MatrixXd nearInverse(2, 2);
    nearInverse << 1.0 + d, -1.0, -1.0, 1.0;
    nearInverse /= d;
    EXPECT_LT((numerics::invert(near).x - nearInverse).cwiseAbs().maxCoeff(), 1e-6 / d);

    // Rank 1 exactly, and rank 2 to working precision (the third row the rounded sum of the
    // first two): no inverse, and the rank says why.
    MatrixXd rankOne(3, 3), rankTwo(3, 3);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) rankOne(i, j) = (i + 1.0) * (j + 1.0);
    rankTwo << 0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.0, 0.0, 0.0;
    rankTwo.row(2) = rankTwo.row(0) + rankTwo.row(1);
    const numerics::LuSolution one = numerics::invert(rankOne), two = numerics::invert(rankTwo);
    EXPECT_FALSE(one.solved);
    EXPECT_EQ(one.rank, 1);
    EXPECT_FALSE(two.solved);
    EXPECT_EQ(two.rank, 2);
    EXPECT_EQ(two.x.size(), 0);
    MatrixXd bad = MatrixXd::Identity(2, 2);
    bad(1, 0) = kNaN;
    EXPECT_FALSE(numerics::invert(bad).finite);
    EXPECT_FALSE(numerics::invert(bad).solved);
    EXPECT_FALSE(numerics::solve(MatrixXd::Identity(2, 2), Eigen::Vector2d(1.0, kNaN)).solved);
}

TEST(LinearAlgebra, SymmetricEigenReconstructsInDescendingOrderWithSignedVectors) {
    const MatrixXd b = randomMatrix(6, 6, 11);
    const MatrixXd a = b + b.transpose();
    const numerics::SymmetricEigen e = numerics::symmetricEigen(a);
    ASSERT_TRUE(e.computed);
    EXPECT_LT((e.vectors * e.values.asDiagonal() * e.vectors.transpose() - a).norm(),
              1e-13 * a.norm());
    EXPECT_LT((e.vectors.transpose() * e.vectors - MatrixXd::Identity(6, 6)).norm(), 1e-14);
    for (int k = 0; k < 6; ++k) {
        EXPECT_GE(e.values(k), e.values(std::min(k + 1, 5)));
        EXPECT_GE(e.vectors.col(k).sum(), 0.0) << k;
    }
    // The second difference matrix tridiag(-1, 2, -1) of order n: eigenvalues
    // 2 - 2 cos(k pi / (n + 1)) with eigenvectors sin(j k pi / (n + 1)), j = 1..n.
    const int n = 5;
    MatrixXd t = 2.0 * MatrixXd::Identity(n, n);
    for (int i = 0; i + 1 < n; ++i) t(i, i + 1) = t(i + 1, i) = -1.0;
    const numerics::SymmetricEigen f = numerics::symmetricEigen(t);
    const double pi = std::acos(-1.0);
    for (int k = 1; k <= n; ++k) {
        // Descending: the eigenvalue of k comes at position n - k.
        EXPECT_NEAR(f.values(n - k), 2.0 - 2.0 * std::cos(k * pi / (n + 1)), 1e-14);
        VectorXd v(n);
        for (int j = 1; j <= n; ++j) v(j - 1) = std::sin(j * k * pi / (n + 1));
        EXPECT_NEAR(std::fabs(f.vectors.col(n - k).dot(v.normalized())), 1.0, 1e-14) << k;
    }
    // A correlation matrix with every correlation 0.3: the first component is the mean of the
    // variables, loading positively.
    MatrixXd r = MatrixXd::Constant(4, 4, 0.3) + 0.7 * MatrixXd::Identity(4, 4);
    const numerics::SymmetricEigen c = numerics::symmetricEigen(r);
    EXPECT_NEAR(c.values(0), 1.9, 1e-14);
    EXPECT_NEAR(c.values(3), 0.7, 1e-14);
    EXPECT_LT((c.vectors.col(0) - VectorXd::Constant(4, 0.5)).cwiseAbs().maxCoeff(), 1e-14);
    r(2, 1) = kNaN;
    EXPECT_FALSE(numerics::symmetricEigen(r).computed);
}

TEST(LinearAlgebra, PivotedCholeskyRevealsRankAndBoundsTheCondition) {
    // Positive definite: full rank, pivots non-increasing, Pi' A Pi = L L', and d_1/d_n a lower
    // bound of the condition number.
    const MatrixXd b = randomMatrix(7, 7, 5);
    const MatrixXd a = b * b.transpose() + 0.01 * MatrixXd::Identity(7, 7);
    const numerics::PivotedCholesky c = numerics::pivotedCholesky(a);
    ASSERT_TRUE(c.positiveDefinite());
    MatrixXd permuted(7, 7);
    for (int i = 0; i < 7; ++i)
        for (int j = 0; j < 7; ++j) permuted(i, j) = a(c.order[i], c.order[j]);
    EXPECT_LT((c.factor * c.factor.transpose() - permuted).norm(), 1e-14 * a.norm());
    for (int k = 1; k < 7; ++k) EXPECT_LE(c.pivots(k), c.pivots(k - 1));
    const numerics::SymmetricEigen e = numerics::symmetricEigen(a);
    const double condition = e.values(0) / e.values(6);
    EXPECT_LE(c.conditionBound(), condition * (1 + 1e-12));
    EXPECT_GE(c.conditionBound(), 1.0);

    // Semi-definite of rank 2: two pivots, and L L' still gives back the whole matrix.
    const MatrixXd thin = randomMatrix(5, 2, 9);
    const MatrixXd psd = thin * thin.transpose();
    const numerics::PivotedCholesky s = numerics::pivotedCholesky(psd);
    EXPECT_EQ(s.rank, 2);
    EXPECT_FALSE(s.positiveDefinite());
    EXPECT_TRUE(std::isinf(s.conditionBound()));
    MatrixXd back(5, 5);
    const MatrixXd llt = s.factor * s.factor.transpose();
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 5; ++j) back(s.order[i], s.order[j]) = llt(i, j);
    EXPECT_LT((back - psd).norm(), 1e-14 * psd.norm());

    // [[1, 1-e], [1-e, 1]]: pivots 1 and e(2 - e), condition number (2 - e)/e; the tolerance
    // decides whether the second counts.
    const double eps = 1e-6;
    MatrixXd close(2, 2);
    close << 1.0, 1.0 - eps, 1.0 - eps, 1.0;
    EXPECT_NEAR(numerics::pivotedCholesky(close, 1e-12).conditionBound(), 1.0 / (eps * (2 - eps)),
                1e-4 / eps);
    EXPECT_EQ(numerics::pivotedCholesky(close, 1e-5).rank, 1);

    // Indefinite, and not a number.
    EXPECT_EQ(
        numerics::pivotedCholesky(Eigen::Vector2d(1.0, -1.0).asDiagonal().toDenseMatrix()).rank, 1);
    MatrixXd swap(2, 2);
    swap << 0.0, 1.0, 1.0, 0.0;
    EXPECT_EQ(numerics::pivotedCholesky(swap).rank, 0);
    close(0, 1) = close(1, 0) = kNaN;
    EXPECT_FALSE(numerics::pivotedCholesky(close).finite);
    EXPECT_FALSE(numerics::pivotedCholesky(close).positiveDefinite());
}

TEST(LinearAlgebra, PositiveDefiniteSolveTakesOnlyAPositiveDefiniteMatrix) {
    MatrixXd a(2, 2);
    a << 4.0, 1.0, 1.0, 3.0;
    const Eigen::Vector2d g(1.0, 2.0);
    const std::optional<VectorXd> step = numerics::positiveDefiniteSolve(a, g);
    ASSERT_TRUE(step.has_value());
    EXPECT_LT((a * *step - g).cwiseAbs().maxCoeff(), 1e-15);
    a(1, 1) = -3.0;
    EXPECT_FALSE(numerics::positiveDefiniteSolve(a, g).has_value());
    a(1, 1) = kNaN;
    EXPECT_FALSE(numerics::positiveDefiniteSolve(a, g).has_value());
}

namespace {

// P(chi-square(2m) <= x) = 1 - exp(-x/2) sum_{k<m} (x/2)^k / k!, and the noncentral one as the
// Poisson(lambda/2) mixture of these (even df only).
double evenCentralCdf(double x, int m) {
    double term = 1.0, sum = 0.0;
    for (int k = 0; k < m; ++k) {
        sum += term;
        term *= 0.5 * x / (k + 1);
    }
    return 1.0 - std::exp(-0.5 * x) * sum;
}

double evenNoncentralCdf(double x, int m, double lambda) {
    double weight = std::exp(-0.5 * lambda), sum = 0.0;
    for (int j = 0; j < 400; ++j) {
        sum += weight * evenCentralCdf(x, m + j);
        weight *= 0.5 * lambda / (j + 1);
    }
    return sum;
}

} // namespace

TEST(ChiSquare, DistributionsMatchClosedFormsAndTables) {
    for (double x : {0.01, 0.7, 3.0, 12.5, 60.0}) {
        EXPECT_NEAR(numerics::chiSquareUpperTail(x, 2.0), std::exp(-x / 2), 1e-14);
        EXPECT_NEAR(numerics::chiSquareUpperTail(x, 4.0), std::exp(-x / 2) * (1 + x / 2), 1e-14);
        EXPECT_NEAR(numerics::chiSquareUpperTail(x, 1.0), std::erfc(std::sqrt(x / 2)), 1e-14);
    }
    EXPECT_EQ(numerics::chiSquareUpperTail(0.0, 3.0), 1.0);
    EXPECT_EQ(numerics::chiSquareUpperTail(-2.0, 3.0), 1.0);
    EXPECT_TRUE(std::isnan(numerics::chiSquareUpperTail(1.0, 0.0)));
    // Table 95% and 99% points (Pearson & Hartley, Biometrika Tables).
    EXPECT_NEAR(numerics::chiSquareUpperTail(18.307, 10.0), 0.05, 1e-5);
    EXPECT_NEAR(numerics::chiSquareUpperTail(37.566, 20.0), 0.01, 1e-5);

    // X = (Z + sqrt(lambda))^2 for one degree of freedom.
    auto phi = [](double v) { return 0.5 * std::erfc(-v / std::sqrt(2.0)); };
    for (double lambda : {0.0, 0.5, 4.0, 30.0})
        for (double x : {0.2, 2.0, 9.0, 45.0}) {
            const double r = std::sqrt(x), s = std::sqrt(lambda);
            EXPECT_NEAR(numerics::noncentralChiSquareCdf(x, 1.0, lambda), phi(r - s) - phi(-r - s),
                        1e-12);
            EXPECT_NEAR(numerics::noncentralChiSquareCdf(x, 6.0, lambda),
                        evenNoncentralCdf(x, 3, lambda), 1e-12);
        }
    // Continuous at lambda = 0, falling in lambda.
    EXPECT_NEAR(numerics::noncentralChiSquareCdf(7.0, 5.0, 1e-9),
                1.0 - numerics::chiSquareUpperTail(7.0, 5.0), 1e-9);
    EXPECT_GT(numerics::noncentralChiSquareCdf(7.0, 5.0, 1.0),
              numerics::noncentralChiSquareCdf(7.0, 5.0, 2.0));
    EXPECT_EQ(numerics::noncentralChiSquareCdf(0.0, 5.0, 2.0), 0.0);
    EXPECT_TRUE(std::isnan(numerics::noncentralChiSquareCdf(1.0, 5.0, -1.0)));
}

TEST(ChiSquare, RmseaIntervalInvertsTheNoncentralDistribution) {
    // X2 = 300 on 100 df from 1000 cases: both ends are roots, checked on the even-df series.
    const double n = 1000, df = 100, x2 = 300;
    const auto [low, high] = numerics::rmseaInterval(x2, df, n);
    const double point = std::sqrt((x2 - df) / (df * n));
    EXPECT_LT(low, point);
    EXPECT_GT(high, point);
    EXPECT_NEAR(evenNoncentralCdf(x2, 50, low * low * df * n), 0.95, 1e-9);
    EXPECT_NEAR(evenNoncentralCdf(x2, 50, high * high * df * n), 0.05, 1e-9);
    // A wider level widens the interval.
    const auto wide = numerics::rmseaInterval(x2, df, n, 0.99);
    EXPECT_LT(wide.first, low);
    EXPECT_GT(wide.second, high);

    // A statistic near its df: no lower root, so the interval starts at 0; the upper end solves
    // F = 0.05 on the one-df closed form.
    const auto near = numerics::rmseaInterval(1.2, 1.0, 500);
    EXPECT_EQ(near.first, 0.0);
    const double s = std::sqrt(near.second * near.second * 500), r = std::sqrt(1.2);
    auto phi = [](double v) { return 0.5 * std::erfc(-v / std::sqrt(2.0)); };
    EXPECT_NEAR(phi(r - s) - phi(-r - s), 0.05, 1e-9);
    // Far below the df: F(X2; df, 0) < 0.05, both ends 0.
    const auto tiny = numerics::rmseaInterval(70.0, 100.0, 500);
    EXPECT_EQ(tiny.first, 0.0);
    EXPECT_EQ(tiny.second, 0.0);
    EXPECT_TRUE(std::isnan(numerics::rmseaInterval(10.0, 0.0, 500).first));
}

// Sums of terms whose rounding depends on their order: per block in item order, then the blocks
// in block order, computed here by the contract; the loop gives exactly that for any number of
// threads, merges strictly in block order, and hands a failure back to the caller.
TEST(ParallelBlocks, SumsAreTheBlockOrderSumsForAnyThreadCount) {
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::vector<double> terms(10007);
    for (double& t : terms) t = unit(rng) * std::pow(10.0, 8.0 * unit(rng));
    const std::size_t blockSize = 97;
    ASSERT_EQ(numerics::blockCount(terms.size(), blockSize), 104u);
    double expected = 0.0, plain = 0.0;
    for (std::size_t b = 0; b * blockSize < terms.size(); ++b) {
        double part = 0.0;
        for (std::size_t i = b * blockSize; i < std::min(terms.size(), (b + 1) * blockSize); ++i)
            part += terms[i];
        expected += part;
    }
    for (double t : terms) plain += t;
    EXPECT_NE(expected, plain); // the order matters for these terms
    for (int threads : {1, 2, 3, 8, 200}) {
        std::vector<double> part(static_cast<std::size_t>(threads), 0.0);
        std::vector<std::size_t> order;
        double total = 0.0;
        numerics::forEachBlock(
            terms.size(), blockSize, threads,
            [&](int w, const numerics::Block& b) {
                double sum = 0.0;
                for (std::size_t i = b.begin; i < b.end; ++i) sum += terms[i];
                part[static_cast<std::size_t>(w)] = sum;
            },
            [&](int w, const numerics::Block& b) {
                total += part[static_cast<std::size_t>(w)];
                order.push_back(b.index);
            });
        EXPECT_EQ(total, expected) << threads << " threads";
        ASSERT_EQ(order.size(), 104u);
        for (std::size_t i = 0; i < order.size(); ++i) EXPECT_EQ(order[i], i);
        EXPECT_LE(numerics::workersFor(terms.size(), blockSize, threads), threads);
    }
    EXPECT_EQ(numerics::workersFor(50, blockSize, 8), 1); // one block, one worker
    EXPECT_GE(numerics::threadsFor(0), 1);
    EXPECT_EQ(numerics::threadsFor(3), 3);
    for (int threads : {1, 4}) {
        int merged = 0;
        EXPECT_THROW(numerics::forEachBlock(
                         terms.size(), blockSize, threads,
                         [&](int, const numerics::Block& b) {
                             if (b.index == 40) throw std::runtime_error("block 40");
                         },
                         [&](int, const numerics::Block&) { ++merged; }),
                     std::runtime_error);
        EXPECT_LE(merged, 40); // nothing after the failed block is merged
    }
}
