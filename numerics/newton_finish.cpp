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

NewtonOutcome newtonFinish(NewtonProblem& problem, const Eigen::VectorXd& theta, double loglik,
                           const NewtonOptions& options) {
    NewtonOutcome out;
    out.theta = theta;
    out.loglik = loglik;
    out.model = modelAt(problem, theta, options.free, out.information);
    while (out.model.finite && !(out.model.gain < options.target)) {
        if (static_cast<int>(out.steps.size()) >= options.maxSteps) {
            out.outOfSteps = true;
            break;
        }
        double fraction = 1.0;
        bool raised = false;
        Eigen::VectorXd trial;
        double trialLoglik = 0.0;
        for (int halvings = 0; halvings <= options.maxHalvings; ++halvings, fraction *= 0.5) {
            trial = out.theta + fraction * out.model.step;
            trialLoglik = problem.loglikelihood(trial);
            if (trialLoglik - out.loglik >
                options.roundingRise * std::max(1.0, std::fabs(out.loglik))) {
                raised = true;
                break;
            }
        }
        if (!raised) {
            // The derivatives must belong to the point the problem evaluated last.
            problem.loglikelihood(out.theta);
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
    out.certified = out.model.finite && out.model.gain < options.target;
    return out;
}

} // namespace numerics
