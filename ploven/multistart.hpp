// The maximum of the likelihood from many starting points: the deterministic band start and a
// number of random starts, a short first stage for the random starts, the best few of them and
// the band start run to convergence, the best converged solution reported, and a record of
// whether the best loglikelihood was reached more than once.
#pragma once

#include "ploven/certify.hpp"
#include "ploven/em.hpp"
#include "ploven/model.hpp"
#include "resultsio/convergence.hpp"

#include <cstdint>
#include <functional>
#include <random>
#include <vector>

namespace ploven {

struct MultiStartOptions {
    int starts = 20;           // random starts; 0: the band start alone
    std::uint64_t seed = 1;    // seed of the one generator of the random starts
    int firstStageCycles = 50; // cycles of a random start before the best are chosen
    int finalRuns = 4;         // random starts run on to convergence with the band start
    // A random start that after hopelessAfter cycles lies more than hopelessGap x |L| below
    // the best loglikelihood seen so far (band start and earlier random starts) stops there.
    bool stopHopeless = true;
    int hopelessAfter = 10;
    double hopelessGap = 0.01;
    // Plain or accelerated EM, in both stages and for the band start.
    FitMethod method;
    // Told when EM run `run` of `runs` (band start, first stage, final stage) begins, with its
    // cap on cycles, and after every cycle of it: a progress file follows the fit with them.
    std::function<void(int run, int runs, int cap)> onRun;
    CycleCallback onCycle;
};

// Where a final-stage run came from.
constexpr int kBandStart = 0; // otherwise the random start's number, 1..starts

struct FinalRun {
    int origin = kBandStart;
    double loglik = 0.0;
    int iterations = 0; // the cycle counter on leaving (cycles + Newton steps + 1, both stages)
    // EM met its stop rule; for the reported run also: the check certified the maximum.
    bool converged = false;
    FitCheck check; // of the run the check was asked about (convergence.checked)
};

// How the reported solution was found, as plain data for the report and the results file.
struct MultiStartOutcome {
    int starts = 0;
    std::uint64_t seed = 0;
    int firstStageCycles = 0;
    int stoppedEarly = 0;       // random starts stopped in the first stage as hopeless
    std::vector<FinalRun> runs; // converged runs best first, then the others best first
    int replicated = 0;         // converged runs within kReplicationTolerance of the best
    int reported = -1;          // index into runs of the reported solution; -1: none converged
};

// Two runs reached the same maximum when their loglikelihoods differ by at most this.
constexpr double kReplicationTolerance = 1.0e-4;
// The band start's solution is reported when it is this close to the best, relative to |L|
// (or to 1 when |L| < 1).
constexpr double kBandStartKept = 1.0e-7;

struct MultiStartFit {
    EmResult fit; // of the reported solution; 2000 to 2300 as estimateFromBandStart returns them,
                  // or 2500
    Estimates est;
    Posteriors post; // posteriors of the reported solution; scores always filled
    MultiStartOutcome outcome;
    // The check of the reported solution, or of the band start when no run converged (not
    // checked after 2000 to 2200).
    FitCheck check;
};

// Fits the model from the band start and options.starts random starts (see the header
// comment). The final-stage runs are compared by where EM stopped; the run to report then
// gets the check of certify.hpp and the Newton finish where EM stopped short of its maximum,
// and makes way for the next best when it cannot be certified within maxit. The band
// start's solution is kept whenever it is within kBandStartKept x |L| of
// the best converged loglikelihood, so that it prints the digits of a single-start run; a
// solution from a random start has its classes numbered by increasing mean of PI over the
// items. 2000 to 2200 end at once with no random start; 2300 (2500) only when no run converged
// (the band start's result was not certified within maxit (for another reason)).
MultiStartFit fitFromManyStarts(const PatternTable& data, int nclass, long long ncase, double tol,
                                int maxit, const MultiStartOptions& options = {});

// One random start: PI(j,k) uniform on [0.15, 0.85], drawn item by item and within an item
// class by class, and equal priors.
void drawRandomStart(std::mt19937_64& generator, Estimates& est);

// A uniform double in [0, 1) from the top 53 bits of one 64-bit output.
inline double unitInterval(std::uint64_t bits) {
    return static_cast<double>(bits >> 11) * 0x1p-53;
}

// Renumbers the classes of est (and the posteriors h of npat patterns) by increasing mean of
// PI over the items; classes with equal means keep their order.
void orderClassesByLevel(Estimates& est, std::vector<double>& h, int npat);

} // namespace ploven
