// The Newton finish of a fit: from a point where EM has stopped under its rule but the
// remaining gain is not yet below kCertifiedGain, Newton-type steps d = I^-1 g (the truncated
// solve of quadratic_model.hpp) until it is. Each step is line-searched: the full step when it
// raises the loglikelihood, else the step halved until it does, so the loglikelihood never
// falls (Nocedal & Wright 2006, Numerical Optimization, sec. 3.1, backtracking). I is the
// observed information where the problem has it, else the sum of the outer products of the
// case scores, with which the iteration is the method of Berndt, Hall, Hall & Hausman (1974).
// Where the information has a direction of negative curvature (a saddle, or a slope beside
// one), the step goes along that direction instead, either way, halved until the
// loglikelihood rises (Nocedal & Wright, sec. 4.3, directions of negative curvature); such a
// point is never certified, unless no move along that direction raises the loglikelihood
// beyond rounding (its curvature is rounding too, and it counts as a flat direction).
#pragma once

#include "numerics/quadratic_model.hpp"

#include <Eigen/Dense>

#include <functional>
#include <string>
#include <vector>

namespace numerics {

// Which information matrix a model was formed with.
enum class Information { Observed, CrossProduct };

// The fit as the Newton finish sees it, in coordinates of the problem's own choice.
class NewtonProblem {
  public:
    virtual ~NewtonProblem() = default;
    // The loglikelihood at theta; -infinity (or not a number) outside the model.
    virtual double loglikelihood(const Eigen::VectorXd& theta) = 0;
    // Gradient and information at theta, the point whose loglikelihood was asked for last,
    // and the diagonal the information is scaled by (left empty: its own; see
    // quadratic_model.hpp).
    virtual void derivatives(const Eigen::VectorXd& theta, Eigen::VectorXd& gradient,
                             Eigen::MatrixXd& information, Eigen::VectorXd& reference,
                             Information& kind) = 0;
};

struct NewtonStep {
    int step = 0;          // 1, 2, ...
    double loglik = 0.0;   // after the step
    double fraction = 1.0; // of the Newton step taken (1, 1/2, ...)
    double gain = 0.0;     // remaining gain after the step
};

struct NewtonOptions {
    int maxSteps = 0;               // steps allowed (what is left of the cycle limit)
    std::vector<char> free;         // parameters that move (empty: all)
    double target = kCertifiedGain; // certified below this gain
    // Once a step is needed, steps go on to this gain: the quadratic model can understate the
    // rise along a flat ridge, and a step or two more leaves room for that.
    double polish = 0.01 * kCertifiedGain;
    int maxHalvings = 40; // of one step, before the line search gives up
    // A step along a direction of negative curvature moves no parameter by more than this at
    // first: one unit of the scale can be very long where a parameter carries little
    // information.
    double longestEscape = 1.0;
    // A step must raise the loglikelihood by more than this share of |L|: a rise below it is
    // rounding, not progress.
    double roundingRise = 1e-14;
    std::function<void(const NewtonStep&)> onStep; // told after every step
};

struct NewtonOutcome {
    Eigen::VectorXd theta;
    double loglik = 0.0;
    QuadraticModel model; // at theta
    Information information = Information::CrossProduct;
    std::vector<NewtonStep> steps;
    bool certified = false;  // model.gain < target, no direction of negative curvature
    bool stalled = false;    // no fraction of a step raised the loglikelihood
    bool outOfSteps = false; // maxSteps were used up before the gain fell below target
};

// The check alone (no step) when the point already passes it; otherwise steps as above.
// loglik is the loglikelihood at theta.
NewtonOutcome newtonFinish(NewtonProblem& problem, const Eigen::VectorXd& theta, double loglik,
                           const NewtonOptions& options);

} // namespace numerics
