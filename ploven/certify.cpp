#include "ploven/certify.hpp"

#include "numerics/newton_finish.hpp"
#include "ploven/coordinates.hpp"
#include "ploven/derivatives.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace ploven {

namespace {

// A rise of the loglikelihood below this share of |L| is rounding, not progress.
constexpr double kRoundingRise = 1e-14;

// Once Newton steps are needed, they go on to this share of the certified gain: the quadratic
// model can understate the rise along a flat ridge (twice over on the six-item survey of the
// tests), and a few more steps leave room for that.
constexpr double kNewtonPolish = 0.01;

double roundingRise(double loglik) {
    return kRoundingRise * std::max(1.0, std::fabs(loglik));
}

// The fit as the Newton finish sees it: the loglikelihood by ploven's own E-step, whose
// posteriors the derivatives then use.
class LatentClassProblem : public numerics::NewtonProblem {
  public:
    LatentClassProblem(EmCycles& cycles, const PatternTable& data, const Coordinates& c,
                       const Estimates& start, const std::vector<double>& posteriors)
        : est(start), h(posteriors), cycles_(cycles), data_(data), c_(c) {}

    double loglikelihood(const Eigen::VectorXd& theta) override {
        current_ = false;
        c_.estimates(theta, est);
        return cycles_.expectation(est, h);
    }

    void derivatives(const Eigen::VectorXd& /*theta*/, Eigen::VectorXd& gradient,
                     Eigen::MatrixXd& information, Eigen::VectorXd& reference,
                     numerics::Information& kind) override {
        // Asked again at the same point (the check, then the steps): the same answer.
        if (!current_) {
            compute(last_);
            current_ = true;
        }
        gradient = last_.gradient;
        information = last_.information;
        reference = last_.reference;
        kind = last_.kind;
    }

    // The point evaluated last, its E-step, and the derivatives asked for last.
    Estimates est;
    std::vector<double> h;
    Eigen::VectorXd lastGradient, lastComplete;
    // Free coordinates that steps have brought next to a bound (as Coordinates holds them):
    // their rows are taken out of the last derivatives.
    std::vector<char> nearBound;

  private:
    struct Answer {
        Eigen::VectorXd gradient;
        Eigen::MatrixXd information;
        Eigen::VectorXd reference;
        numerics::Information kind = numerics::Information::CrossProduct;
    };

    void compute(Answer& a) {
        Derivatives d = logitDerivatives(data_, est, h, c_, cycles_.loops());
        lastGradient = d.gradient;
        lastComplete = d.completeDiagonal;
        holdNearBounds(d);
        a.gradient = std::move(d.gradient);
        // The observed information gives quadratic convergence where it has no direction of
        // negative curvature; elsewhere its quadratic model could hide a rise, and the
        // cross-product serves. Both are measured against the complete-data diagonal, which
        // has no cancellation and shrinks near a bound as the observed information does.
        a.reference = std::move(d.completeDiagonal);
        if (numerics::positiveSemidefinite(d.observed, c_.free(), a.reference)) {
            a.information = std::move(d.observed);
            a.kind = numerics::Information::Observed;
        } else {
            a.information = std::move(d.crossProduct);
            a.kind = numerics::Information::CrossProduct;
        }
    }

    // A free value that the steps have brought next to its bound leaves the quadratic model as
    // a held one would: no gradient, no information, a unit scale.
    void holdNearBounds(Derivatives& d) {
        double largest = 0.0;
        for (int p = 0; p < c_.size(); ++p)
            if (c_.free()[p]) largest = std::max(largest, d.completeDiagonal(p));
        nearBound.assign(static_cast<std::size_t>(c_.size()), 0);
        for (int p = 0; p < c_.size(); ++p) {
            if (!c_.free()[p] || d.completeDiagonal(p) >= kNegligibleInformation * largest)
                continue;
            nearBound[p] = 1;
            d.gradient(p) = 0.0;
            d.observed.row(p).setZero();
            d.observed.col(p).setZero();
            d.crossProduct.row(p).setZero();
            d.crossProduct.col(p).setZero();
            d.completeDiagonal(p) = 1.0;
        }
    }

    EmCycles& cycles_;
    const PatternTable& data_;
    const Coordinates& c_;
    Answer last_;
    bool current_ = false; // last_ belongs to the point evaluated last
};

double valueOf(const Estimates& est, Coordinates::Parameter p) {
    return p.item < 0 ? est.eta[p.k] : est.PI(p.item, p.k);
}

bool atBound(double v) {
    return !(v > 0.0 && v < 1.0);
}

// The values held next to a bound (not at it) whose gradient points into the model.
std::vector<int> repelledValues(const Coordinates& c, const std::vector<char>& nearBound,
                                const Estimates& est, const Eigen::VectorXd& gradient,
                                const Eigen::VectorXd& complete) {
    std::vector<int> out;
    for (int at = 0; at < c.size(); ++at) {
        if (c.free()[at] && !nearBound[at]) continue;
        const Coordinates::Parameter p = c.parameter(at);
        const double v = valueOf(est, p);
        if (atBound(v)) continue;
        // Inward: up from 0 for a prior or a small PI, down from 1 for a large PI.
        const double inward = p.item >= 0 && v > 0.5 ? -gradient(at) : gradient(at);
        if (complete(at) > 0.0 && inward > kRepelled * complete(at)) out.push_back(at);
    }
    return out;
}

// Sets the repelled values a step into the model: the largest distance from their bound of
// 0.1, 0.01, ... (and more than they have) that raises the loglikelihood. A prior's mass comes
// from the largest class.
bool release(EmCycles& cycles, const Coordinates& c, const std::vector<int>& repelled,
             Estimates& est, std::vector<double>& h, EmProgress& progress) {
    const int largest =
        static_cast<int>(std::max_element(est.eta.begin(), est.eta.end()) - est.eta.begin());
    std::vector<double> trialH(h.size());
    for (double distance = 0.1; distance > 1e-12; distance *= 0.1) {
        Estimates trial = est;
        bool moved = false;
        for (int at : repelled) {
            const Coordinates::Parameter p = c.parameter(at);
            if (p.item < 0) {
                if (p.k == largest || !(trial.eta[p.k] < distance)) continue;
                trial.eta[largest] -= distance - trial.eta[p.k];
                trial.eta[p.k] = distance;
                moved = true;
            } else {
                double& pi = trial.PI(p.item, p.k);
                if (!(std::min(pi, 1.0 - pi) < distance)) continue;
                pi = pi < 0.5 ? distance : 1.0 - distance;
                moved = true;
            }
        }
        if (!moved) break;
        if (!(trial.eta[largest] > 0.0)) continue;
        const double loglik = cycles.expectation(trial, trialH);
        if (loglik - progress.loglik > roundingRise(progress.loglik)) {
            est = std::move(trial);
            h.swap(trialH);
            progress.change = loglik - progress.loglik;
            progress.loglik = loglik;
            return true;
        }
    }
    return false;
}

std::string reasonFor(const numerics::NewtonOutcome& out) {
    if (!out.model.finite) return "the gradient or the information is not a number";
    if (out.stalled) return "no fraction of a Newton step raised the loglikelihood";
    return kCyclesRanOutInNewton;
}

} // namespace

bool climbToMaximum(EmCycles& cycles, const PatternTable& data, Estimates& est,
                    std::vector<double>& h, EmProgress& progress, numerics::SquaremStep& bound,
                    const FitMethod& method, double tol, int lastCounter, FitCheck& check,
                    const CycleCallback& onCycle) {
    resultsio::ConvergenceCheck& cc = check.convergence;
    cc = resultsio::ConvergenceCheck{};
    cc.accelerated = method.accelerate;
    cc.gainLimit = numerics::kCertifiedGain;
    check.releases = 0;
    for (;;) {
        const bool stopped =
            iterateFit(cycles, est, h, progress, bound, method, tol, lastCounter, onCycle);

        Coordinates c(est, true);
        const Eigen::VectorXd theta = c.theta(est);
        LatentClassProblem problem(cycles, data, c, est, h);
        numerics::NewtonOptions options;
        options.maxSteps = 0; // the check alone first
        options.free = c.free();
        const int counter = progress.counter;
        options.onStep = [&](const numerics::NewtonStep& s) {
            if (onCycle) onCycle(counter - 1 + s.step, s.loglik);
        };
        numerics::NewtonOutcome out =
            numerics::newtonFinish(problem, theta, progress.loglik, options);
        if (stopped && !out.certified) {
            options.maxSteps = std::max(0, lastCounter - (progress.counter - 1));
            options.target = kNewtonPolish * numerics::kCertifiedGain;
            out = numerics::newtonFinish(problem, theta, progress.loglik, options);
        }
        const bool passed = out.model.finite && out.model.gain < numerics::kCertifiedGain;

        const int previousSteps = static_cast<int>(cc.newton.size());
        for (const numerics::NewtonStep& s : out.steps)
            cc.newton.push_back({previousSteps + s.step, s.loglik, s.fraction, s.gain});
        if (!out.steps.empty()) {
            // The problem's last evaluation was at the point the steps ended at.
            est = problem.est;
            h = problem.h;
            const std::size_t n = out.steps.size();
            const double before = n > 1 ? out.steps[n - 2].loglik : progress.loglik;
            progress.change = std::fabs(out.loglik - before);
            progress.loglik = out.loglik;
            progress.counter += static_cast<int>(n);
        }
        cc.checked = true;
        cc.emCycles = progress.counter - 1 - static_cast<int>(cc.newton.size()) - check.releases;
        cc.largestGradient = out.model.largestGradient;
        cc.remainingGain = out.model.gain;
        cc.observedInformation = out.information == numerics::Information::Observed;
        cc.leftOut = c.held() + out.model.unresolved;
        cc.phase = !out.steps.empty()  ? resultsio::FitPhase::Newton
                   : method.accelerate ? resultsio::FitPhase::AcceleratedEm
                                       : resultsio::FitPhase::Em;
        cc.certified = false;
        if (!stopped) {
            cc.reason = kCyclesRanOutInEm;
            cc.cycleLimit = true;
            return false;
        }
        if (!passed) {
            cc.reason = reasonFor(out);
            cc.cycleLimit = out.outOfSteps;
            return false;
        }
        const std::vector<int> repelled =
            repelledValues(c, problem.nearBound, est, problem.lastGradient, problem.lastComplete);
        if (repelled.empty()) {
            cc.certified = true;
            cc.reason.clear();
            return true;
        }
        if (progress.counter > lastCounter) {
            cc.reason = kCyclesRanOutInNewton;
            cc.cycleLimit = true;
            return false;
        }
        if (!release(cycles, c, repelled, est, h, progress)) {
            cc.reason = "a value next to its bound is pushed away from it, and no step into the "
                        "model raised the loglikelihood";
            return false;
        }
        ++check.releases;
        ++progress.counter;
        if (onCycle) onCycle(progress.counter - 1, progress.loglik);
        // EM climbs on from the released point whatever the size of the release's rise.
        progress.change = std::numeric_limits<double>::infinity();
    }
}

EmResult fitFromBands(const PatternTable& data, int nclass, long long ncase, double tol, int maxit,
                      const FitMethod& method, Estimates& est, Posteriors& post, FitCheck& check,
                      const CycleCallback& onCycle) {
    check = FitCheck{};
    EmResult result;
    result.iterations = maxit;
    result.error = startEstimation(data, nclass, ncase, est, post);
    if (result.error != ErrorCode::None) return result;

    post.loops = method.loops;
    EmCycles cycles(data, nclass, ncase, method.loops);
    EmProgress progress;
    numerics::SquaremStep bound;
    iterateFromBands(cycles, est, post.h, progress, bound, method, tol, maxit, onCycle);
    const bool certified = climbToMaximum(cycles, data, est, post.h, progress, bound, method, tol,
                                          maxit, check, onCycle);
    result.error = certified                      ? ErrorCode::None
                   : check.convergence.cycleLimit ? ErrorCode::IterationCap
                                                  : ErrorCode::NotCertified;
    result.iterations = progress.counter;
    result.loglik = progress.loglik;
    result.change = progress.change;
    return result;
}

} // namespace ploven
