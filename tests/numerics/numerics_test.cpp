// The quadratic model of a loglikelihood near its top, and the squared extrapolation of EM,
// on problems whose answers are known in closed form.
#include "numerics/newton_finish.hpp"
#include "numerics/quadratic_model.hpp"
#include "numerics/squarem.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

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
