#include "numerics/newton_finish.hpp"

#include <algorithm>
#include <cmath>

namespace numerics {

namespace {

QuadraticModel modelAt(NewtonProblem& problem, const Eigen::VectorXd& theta,
                       const std::vector<char>& free, Information& kind) {
    Eigen::VectorXd g, reference;
    Eigen::MatrixXd info;
    problem.derivatives(theta, g, info, reference, kind);
    return quadraticModel(g, info, free, reference);
}

} // namespace

namespace {

// The largest fraction 1, 1/2, ... of a move along direction (either way, when bothWays) that
// raises the loglikelihood beyond rounding: the trial point and its loglikelihood.
bool lineSearch(NewtonProblem& problem, const NewtonOutcome& at, const Eigen::VectorXd& direction,
                bool bothWays, const NewtonOptions& options, Eigen::VectorXd& trial,
                double& trialLoglik, double& fraction) {
    const double rounding = options.roundingRise * std::max(1.0, std::fabs(at.loglik));
    fraction = 1.0;
    for (int halvings = 0; halvings <= options.maxHalvings; ++halvings, fraction *= 0.5) {
        for (const double sign : {1.0, -1.0}) {
            if (sign < 0.0 && !bothWays) continue;
            trial = at.theta + (sign * fraction) * direction;
            trialLoglik = problem.loglikelihood(trial);
            if (trialLoglik - at.loglik > rounding) return true;
        }
    }
    return false;
}

bool passes(const QuadraticModel& model, double target) {
    return model.finite && !model.negativeCurvature && model.gain < target;
}

} // namespace

NewtonOutcome newtonFinish(NewtonProblem& problem, const Eigen::VectorXd& theta, double loglik,
                           const NewtonOptions& options) {
    NewtonOutcome out;
    out.theta = theta;
    out.loglik = loglik;
    out.model = modelAt(problem, theta, options.free, out.information);
    while (out.model.finite &&
           !passes(out.model,
                   out.steps.empty() ? options.target : std::min(options.target, options.polish))) {
        if (static_cast<int>(out.steps.size()) >= options.maxSteps) {
            out.outOfSteps = true;
            break;
        }
        Eigen::VectorXd trial;
        double trialLoglik = 0.0, fraction = 1.0;
        const bool escape = out.model.negativeCurvature;
        Eigen::VectorXd direction = escape ? out.model.escape : out.model.step;
        const double longest = direction.cwiseAbs().maxCoeff();
        if (escape && longest > options.longestEscape) direction *= options.longestEscape / longest;
        if (!lineSearch(problem, out, direction, escape, options, trial, trialLoglik, fraction)) {
            // The derivatives must belong to the point the problem evaluated last.
            problem.loglikelihood(out.theta);
            if (escape) {
                // No move either way along it raises the loglikelihood beyond rounding: the
                // curvature is rounding too, and the direction is as flat as any left out.
                out.model.negativeCurvature = false;
                ++out.model.unresolved;
                continue;
            }
            out.stalled = true;
            break;
        }
        out.theta = trial;
        out.loglik = trialLoglik;
        out.model = modelAt(problem, out.theta, options.free, out.information);
        NewtonStep step;
        step.step = static_cast<int>(out.steps.size()) + 1;
        step.loglik = out.loglik;
        step.fraction = fraction;
        step.gain = out.model.gain;
        out.steps.push_back(step);
        if (options.onStep) options.onStep(step);
    }
    out.certified = passes(out.model, options.target);
    return out;
}

} // namespace numerics
