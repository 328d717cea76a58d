#include "numerics/squarem.hpp"

#include <algorithm>
#include <cmath>

namespace numerics {

namespace {

// Growth and shrinkage of the bound on alpha.
constexpr double kStepFactor = 4.0;

} // namespace

double squaremAlpha(const Eigen::VectorXd& r, const Eigen::VectorXd& v) {
    const double vv = v.squaredNorm();
    if (!(vv > 0.0)) return 1.0;
    return std::sqrt(r.squaredNorm() / vv);
}

SquaremResult squaremIteration(EmMap& map, const Eigen::VectorXd& theta0, double loglik0,
                               SquaremStep& bound, bool allowExtrapolation) {
    SquaremResult out;
    const Eigen::VectorXd theta1 = map.update();
    const double loglik1 = map.evaluate(theta1);
    const Eigen::VectorXd theta2 = map.update();
    const double loglik2 = map.evaluate(theta2);
    out.evaluations = 2;
    out.theta = theta2;
    out.loglik = loglik2;
    // An EM step never lowers the loglikelihood; a point that is not a number ends here too.
    if (!allowExtrapolation || !std::isfinite(loglik1) || !std::isfinite(loglik2) ||
        loglik2 < loglik0)
        return out;
    const Eigen::VectorXd r = theta1 - theta0;
    const Eigen::VectorXd v = theta2 - theta1 - r;
    const double raw = squaremAlpha(r, v);
    if (!std::isfinite(raw)) return out;
    const double alpha = std::clamp(raw, 1.0, bound.stepMax);
    const bool atBound = alpha >= bound.stepMax;
    if (alpha <= 1.0) {
        // theta2 is the extrapolated point; a bound that held alpha back grows all the same.
        if (atBound) bound.stepMax *= kStepFactor;
        return out;
    }
    const Eigen::VectorXd extrapolated = theta0 + (2.0 * alpha) * r + (alpha * alpha) * v;
    if (!map.admissible(extrapolated)) {
        if (atBound) bound.stepMax = std::max(1.0, bound.stepMax / kStepFactor);
        return out;
    }
    map.keep();
    const double loglik = map.evaluate(extrapolated);
    out.evaluations = 3;
    if (std::isfinite(loglik) && loglik >= loglik2) {
        if (atBound) bound.stepMax *= kStepFactor;
        out.theta = extrapolated;
        out.loglik = loglik;
        out.extrapolated = true;
        return out;
    }
    if (atBound) bound.stepMax = std::max(1.0, bound.stepMax / kStepFactor);
    map.restore();
    return out;
}

SquaremResult squaremIterationWithin(EmMap& map, const Eigen::VectorXd& theta0, double loglik0,
                                     SquaremStep& bound, int evaluationsLeft) {
    if (evaluationsLeft >= 2)
        return squaremIteration(map, theta0, loglik0, bound, evaluationsLeft >= 3);
    SquaremResult out;
    out.theta = map.update();
    out.loglik = map.evaluate(out.theta);
    out.evaluations = 1;
    return out;
}

} // namespace numerics
