// EM with squared extrapolation (SQUAREM, numerics/squarem.hpp) for the latent class model.
// Extrapolation works on the coordinates of coordinates.hpp (log-ratios of the priors, logits
// of PI), where every point is a model; values at a bound are held. A point that an EM step
// made is evaluated from that step's own estimates, not from its coordinates, so an iteration
// whose extrapolation is refused is exactly two plain EM cycles. Every evaluation of the
// loglikelihood counts as one cycle: an iteration costs two or three.
#pragma once

#include "numerics/squarem.hpp"
#include "ploven/coordinates.hpp"
#include "ploven/em.hpp"

#include <optional>

namespace ploven {

// ploven's EM cycle as the accelerator sees it, working on est and its E-step h, which hold
// the point evaluated last.
class EmMapping : public numerics::EstimatesEmMap<Estimates> {
  public:
    EmMapping(EmCycles& cycles, Estimates& est, std::vector<double>& h);

    // New coordinates around the current point (its bounds held, its largest class the
    // reference); returns the point's coordinates.
    Eigen::VectorXd begin();

    double evaluate(const Eigen::VectorXd& theta) override;
    Eigen::VectorXd update() override;

  private:
    EmCycles& cycles_;
    std::optional<Coordinates> coordinates_;
    Eigen::VectorXd anchor_; // the coordinates of the iteration's first point
};

// How a fit climbs to its maximum.
struct FitMethod {
    FitMethod() = default;
    // {true}: accelerated, the loops as given (callers name the method by its first field).
    FitMethod(bool accelerated, PatternLoops patternLoops = {})
        : accelerate(accelerated), loops(patternLoops) {}

    bool accelerate = false; // squared extrapolation of EM; else plain EM
    PatternLoops loops;      // threads and block size of the loops over the patterns
};

// EM cycles from where progress stands, plain (iterateEm) or accelerated
// (iterateAcceleratedEm) as method says; bound is the accelerated iterations' step bound.
bool iterateFit(EmCycles& cycles, Estimates& est, std::vector<double>& h, EmProgress& progress,
                numerics::SquaremStep& bound, const FitMethod& method, double tol, int lastCounter,
                const CycleCallback& onCycle = {});

// EM from the score bands (est and h as startEstimation leaves them) under tol and maxit: the
// first cycle is plain EM's whatever the method (the bands are posteriors, not a point), then
// iterateFit. Returns true when EM met its stop rule.
bool iterateFromBands(EmCycles& cycles, Estimates& est, std::vector<double>& h,
                      EmProgress& progress, numerics::SquaremStep& bound, const FitMethod& method,
                      double tol, int maxit, const CycleCallback& onCycle = {});

// Accelerated iterations while the loglikelihood changes by more than tol over an iteration
// and cycles remain (at most lastCounter in all, counted as iterateEm counts them; with two
// cycles left an iteration does not extrapolate, with one a plain cycle runs). est and h hold
// the starting point and its E-step (progress.loglik its loglikelihood). bound carries the
// extrapolation's step bound from one call to the next. Returns true when it converged.
bool iterateAcceleratedEm(EmCycles& cycles, Estimates& est, std::vector<double>& h,
                          EmProgress& progress, numerics::SquaremStep& bound, double tol,
                          int lastCounter, const CycleCallback& onCycle = {});

} // namespace ploven
