// Whether a fit has reached a maximum, checked rather than assumed, and the Newton finish of a
// fit that has not: EM's stop rule (a small change of the loglikelihood) is also met where EM
// crawls along a flat ridge or passes a saddle. The check is the expected remaining gain
// g'I^-1 g / 2 of the quadratic model (numerics/quadratic_model.hpp) in the coordinates of
// coordinates.hpp, with the observed information where it has no direction of negative
// curvature and the cross-product of the scores otherwise (derivatives.hpp).
//
// Values at a bound (a PI at exactly 0 or 1, an empty class) are held and left out, as are
// directions the data cannot resolve. Values next to a bound are held too (their coordinates
// carry no usable information), but they must not be pushed away from it: EM moving such a
// value into the model (its gradient pointing inward by more than kRepelled of its
// complete-data information) means the fit sits at a saddle, however small the gain of the
// rest. Those values are then released, set a step into the model where the loglikelihood
// rises, and EM climbs on from there.
#pragma once

#include "numerics/squarem.hpp"
#include "ploven/accelerate.hpp"
#include "ploven/em.hpp"
#include "resultsio/convergence.hpp"

#include <vector>

namespace ploven {

// Why a fit is not certified, as the check's reason says it.
inline constexpr const char* kCyclesRanOutInEm = "MAXIT cycles ran out before EM met its stop rule";
inline constexpr const char* kCyclesRanOutInNewton =
    "MAXIT cycles ran out during the Newton finish";

// A value next to a bound is pushed away from it when its inward gradient exceeds this share
// of its complete-data information (the relative step EM would take away from the bound);
// rounding leaves some 1e-15 there.
constexpr double kRepelled = 1e-6;

// What the check of a fit found: the figures both programs report, and how many times values
// next to a bound were released into the model on the way.
struct FitCheck {
    resultsio::ConvergenceCheck convergence;
    int releases = 0;
};

// From est (h its E-step, progress where EM stands): EM under tol as method says, then the
// check; Newton-type steps where it fails; a release and EM again where values next to a bound
// are pushed away from it. Every EM cycle, Newton step and release counts against lastCounter
// (the counter's limit, as iterateEm has it). est, h and progress follow; onCycle hears of
// every cycle and step. Returns whether the maximum is certified (check says why not).
bool climbToMaximum(EmCycles& cycles, const PatternTable& data, Estimates& est,
                    std::vector<double>& h, EmProgress& progress, numerics::SquaremStep& bound,
                    const FitMethod& method, double tol, int lastCounter, FitCheck& check,
                    const CycleCallback& onCycle = {});

// The fit from the deterministic band start: estimateFromBandStart's start and first cycle, then
// climbToMaximum within maxit. error is 2300 when the fit is not certified within maxit, 2500
// when it cannot be certified for another reason (check says which); 2000 to 2200 as
// estimateFromBandStart gives them, without a check.
EmResult fitFromBands(const PatternTable& data, int nclass, long long ncase, double tol, int maxit,
                      const FitMethod& method, Estimates& est, Posteriors& post, FitCheck& check,
                      const CycleCallback& onCycle = {});

} // namespace ploven
