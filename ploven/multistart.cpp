#include "ploven/multistart.hpp"

#include "ploven/accelerate.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace ploven {

namespace {

constexpr double kLowestStart = 0.15;
constexpr double kStartRange = 0.70;

// A random start between the stages: its estimates and where its EM stands. The posteriors
// are not kept: after every cycle they are the E-step of the estimates, so they are formed
// again, to the same digits, when the start goes on.
struct Candidate {
    int start = 0;
    Estimates est;
    EmProgress progress;
    numerics::SquaremStep bound; // of accelerated EM
    bool stopped = false;        // EM met its stop rule
    bool certified = false;
    FitCheck check;
};

// EM cycles of a candidate, plain or accelerated, up to lastCounter.
bool climb(EmCycles& cycles, Candidate& c, std::vector<double>& h, double tol, int lastCounter,
           const MultiStartOptions& options) {
    return iterateFit(cycles, c.est, h, c.progress, c.bound, options.method, tol, lastCounter,
                      options.onCycle);
}

// A loglikelihood counts only when the run converged to a number.
bool usable(const FinalRun& run) {
    return run.converged && std::isfinite(run.loglik);
}

// Converged runs first, best first; among equal loglikelihoods the band start, then the lower
// start number.
bool listedBefore(const FinalRun& a, const FinalRun& b) {
    if (usable(a) != usable(b)) return usable(a);
    if (a.loglik != b.loglik) return a.loglik > b.loglik;
    return a.origin < b.origin;
}

// Keeps the best `room` candidates by first-stage loglikelihood; an equal one does not
// displace an earlier start.
void keepIfBest(std::vector<Candidate>& kept, Candidate&& next, int room) {
    if (room <= 0) return;
    if (static_cast<int>(kept.size()) < room) {
        kept.push_back(std::move(next));
        return;
    }
    auto worst = std::min_element(kept.begin(), kept.end(), [](const auto& a, const auto& b) {
        if (a.progress.loglik != b.progress.loglik) return a.progress.loglik < b.progress.loglik;
        return a.start > b.start;
    });
    if (next.progress.loglik > worst->progress.loglik) *worst = std::move(next);
}

} // namespace

void drawRandomStart(std::mt19937_64& generator, Estimates& est) {
    for (int j = 0; j < est.nitem; ++j)
        for (int k = 0; k < est.nclass; ++k)
            est.PI(j, k) = kLowestStart + kStartRange * unitInterval(generator());
    std::fill(est.eta.begin(), est.eta.end(), 1.0 / est.nclass);
}

void orderClassesByLevel(Estimates& est, std::vector<double>& h, int npat) {
    const int K = est.nclass;
    std::vector<double> level(static_cast<std::size_t>(K), 0.0);
    for (int k = 0; k < K; ++k) {
        for (int j = 0; j < est.nitem; ++j) level[k] += est.PI(j, k);
        level[k] /= est.nitem;
    }
    std::vector<int> order(static_cast<std::size_t>(K));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return level[a] < level[b]; });

    const Estimates old = est;
    for (int k = 0; k < K; ++k) {
        est.eta[k] = old.eta[order[k]];
        for (int j = 0; j < est.nitem; ++j) est.PI(j, k) = old.PI(j, order[k]);
    }
    std::vector<double> row(static_cast<std::size_t>(K));
    for (int i = 0; i < npat; ++i) {
        double* hi = h.data() + static_cast<std::size_t>(i) * K;
        std::copy(hi, hi + K, row.begin());
        for (int k = 0; k < K; ++k) hi[k] = row[order[k]];
    }
}

namespace {

using RunCounter = std::function<void(int cap)>;

// First stage: every random start in turn, all drawn from one generator; returns the best
// options.finalRuns of them. reference is the band start's loglikelihood.
std::vector<Candidate> firstStage(EmCycles& cycles, const PatternTable& data, int K, double tol,
                                  int maxit, const MultiStartOptions& options, double reference,
                                  MultiStartOutcome& outcome, const RunCounter& announce) {
    std::mt19937_64 generator(options.seed);
    std::vector<double> h(static_cast<std::size_t>(data.size()) * K);
    const int end = std::min(options.firstStageCycles, maxit);
    std::vector<Candidate> kept;
    for (int start = 1; start <= outcome.starts; ++start) {
        Candidate c;
        c.start = start;
        c.est.resize(data.nitem, K);
        drawRandomStart(generator, c.est);
        announce(end);
        c.progress.loglik = cycles.expectation(c.est, h);
        c.progress.change = std::numeric_limits<double>::infinity();
        if (options.stopHopeless && options.hopelessAfter < end) {
            c.stopped = climb(cycles, c, h, tol, options.hopelessAfter, options);
            if (!c.stopped &&
                c.progress.loglik < reference - options.hopelessGap * std::fabs(reference)) {
                ++outcome.stoppedEarly;
                continue;
            }
        }
        if (!c.stopped) c.stopped = climb(cycles, c, h, tol, end, options);
        reference = std::max(reference, c.progress.loglik);
        keepIfBest(kept, std::move(c), options.finalRuns);
    }
    std::sort(kept.begin(), kept.end(),
              [](const Candidate& a, const Candidate& b) { return a.start < b.start; });
    return kept;
}

// Final stage: the kept starts go on to EM's stop rule under tol and maxit.
void finalStage(EmCycles& cycles, int npat, int K, double tol, int maxit,
                std::vector<Candidate>& kept, MultiStartOutcome& outcome,
                const MultiStartOptions& options, const RunCounter& announce) {
    std::vector<double> h(static_cast<std::size_t>(npat) * K);
    for (Candidate& c : kept) {
        announce(maxit);
        if (!c.stopped) {
            cycles.expectation(c.est, h);
            c.stopped = climb(cycles, c, h, tol, maxit, options);
        }
        outcome.runs.push_back({c.start, c.progress.loglik, c.progress.counter, c.stopped, {}});
    }
}

// Sorts the runs for the report, counts those that reached the best and returns the index of
// the run to report: the band start's whenever it is as good as the best, else the best random
// start's; -1 when no run converged.
int chooseReported(MultiStartOutcome& outcome) {
    double best = -std::numeric_limits<double>::infinity();
    for (const FinalRun& run : outcome.runs)
        if (usable(run)) best = std::max(best, run.loglik);
    std::stable_sort(outcome.runs.begin(), outcome.runs.end(), listedBefore);
    outcome.replicated = 0;
    for (const FinalRun& run : outcome.runs)
        if (usable(run) && run.loglik >= best - kReplicationTolerance) ++outcome.replicated;
    if (!(best > -std::numeric_limits<double>::infinity())) return -1;

    // A loglikelihood near 0 (a perfect fit) differs from start to start by rounding alone:
    // the margin never shrinks below kBandStartKept.
    bool keepBand = false;
    for (const FinalRun& run : outcome.runs)
        if (run.origin == kBandStart)
            keepBand =
                usable(run) && run.loglik >= best - kBandStartKept * std::max(std::fabs(best), 1.0);
    for (int r = 0; r < static_cast<int>(outcome.runs.size()); ++r) {
        const FinalRun& run = outcome.runs[r];
        if (keepBand ? run.origin == kBandStart : usable(run) && run.origin != kBandStart)
            return r; // sorted: the first random start listed is the best one
    }
    return -1;
}

FinalRun& runOf(MultiStartOutcome& outcome, int origin) {
    return *std::find_if(outcome.runs.begin(), outcome.runs.end(),
                         [&](const FinalRun& r) { return r.origin == origin; });
}

} // namespace

MultiStartFit fitFromManyStarts(const PatternTable& data, int nclass, long long ncase, double tol,
                                int maxit, const MultiStartOptions& options) {
    MultiStartFit out;
    MultiStartOutcome& outcome = out.outcome;
    outcome.starts = std::max(options.starts, 0);
    outcome.seed = options.seed;
    outcome.firstStageCycles = options.firstStageCycles;

    // Runs in all: the band start, every random start, and the best of them once more.
    const int runs = 1 + outcome.starts + std::min(outcome.starts, options.finalRuns);
    int run = 0;
    const RunCounter announce = [&](int cap) {
        if (options.onRun) options.onRun(++run, runs, cap);
    };
    announce(maxit);
    out.fit.iterations = maxit;
    out.fit.error = startEstimation(data, nclass, ncase, out.est, out.post);
    if (out.fit.error != ErrorCode::None) return out;
    out.post.loops = options.method.loops;
    EmCycles cycles(data, nclass, ncase, options.method.loops);
    Candidate band;
    band.start = kBandStart;
    band.stopped = iterateFromBands(cycles, out.est, out.post.h, band.progress, band.bound,
                                    options.method, tol, maxit, options.onCycle);
    outcome.runs.push_back(
        {kBandStart, band.progress.loglik, band.progress.counter, band.stopped, {}});

    std::vector<Candidate> kept;
    if (outcome.starts > 0) {
        kept = firstStage(cycles, data, nclass, tol, maxit, options, band.progress.loglik, outcome,
                          announce);
        finalStage(cycles, data.size(), nclass, tol, maxit, kept, outcome, options, announce);
    }

    // The runs are compared by where EM stopped; the one to report is then checked, finished
    // by Newton steps where needed, and makes way for the next best when it cannot be
    // certified.
    std::vector<double> h(out.post.h.size());
    for (;;) {
        outcome.reported = chooseReported(outcome);
        if (outcome.reported < 0) break;
        FinalRun& chosen = outcome.runs[outcome.reported];
        const bool isBand = chosen.origin == kBandStart;
        Candidate& c =
            isBand ? band : *std::find_if(kept.begin(), kept.end(), [&](const Candidate& k) {
                return k.start == chosen.origin;
            });
        Estimates& est = isBand ? out.est : c.est;
        std::vector<double>& posteriors = isBand ? out.post.h : h;
        if (!isBand) cycles.expectation(est, posteriors);
        c.certified = climbToMaximum(cycles, data, est, posteriors, c.progress, c.bound,
                                     options.method, tol, maxit, c.check, options.onCycle);
        chosen.loglik = c.progress.loglik;
        chosen.iterations = c.progress.counter;
        chosen.converged = c.certified;
        chosen.check = c.check;
        if (c.certified) {
            outcome.reported = chooseReported(outcome); // the same run, with its final values
            break;
        }
    }

    if (outcome.reported < 0) {
        // No run converged: the band start's 2300 (or 2500), with the figures of a check where
        // it stands.
        if (!band.check.convergence.checked)
            climbToMaximum(cycles, data, out.est, out.post.h, band.progress, band.bound,
                           options.method, tol, maxit, band.check, options.onCycle);
        FinalRun& b = runOf(outcome, kBandStart);
        b.loglik = band.progress.loglik;
        b.iterations = band.progress.counter;
        b.check = band.check;
        out.fit = EmResult{band.check.convergence.cycleLimit ? ErrorCode::IterationCap
                                                             : ErrorCode::NotCertified,
                           band.progress.counter, band.progress.loglik, band.progress.change};
        out.check = band.check;
        return out;
    }
    const FinalRun& reported = outcome.runs[outcome.reported];
    const Candidate& c = reported.origin == kBandStart
                             ? band
                             : *std::find_if(kept.begin(), kept.end(), [&](const Candidate& k) {
                                   return k.start == reported.origin;
                               });
    out.fit = EmResult{ErrorCode::None, c.progress.counter, c.progress.loglik, c.progress.change};
    out.check = c.check;
    if (reported.origin == kBandStart) return out;

    out.est = c.est;
    cycles.expectation(out.est, out.post.h);
    orderClassesByLevel(out.est, out.post.h, data.size());
    std::fill(out.post.iclass.begin(), out.post.iclass.end(), 0); // no starting classes
    return out;
}

} // namespace ploven
