// Maximum likelihood for the latent class model of categorical_model.hpp by EM (Dempster,
// Laird & Rubin 1977, JRSS B 39, 1-38), with missing answers at random. With h_k(x) the
// posterior of class k for pattern x, n(x) its frequency, N the cases and O_j(x) whether x
// answers item j:
//   E-step: h_k(x) = eta_k f_k(x) / P(x); where the product f_k(x) gets too small for its
//           digits, from log f_k(x) = sum_{j observed} log P_j less its largest term;
//   M-step: eta_k = sum_x n(x) h_k(x) / N,
//           P_j(c | k) = sum_{x: x_j = c} n(x) h_k(x) / sum_{x: O_j(x)} n(x) h_k(x).
// Many starts: a deterministic start from bands of the mean category score, and random starts
// run a short first stage, of which the best few go on to convergence with it (as multistart.hpp
// does for binary items).
#pragma once

#include "ploven/categorical_model.hpp"
#include "ploven/model.hpp"

#include <cstdint>
#include <functional>
#include <random>
#include <vector>

namespace ploven {

// The EM cycle for one data set and class count; data must outlive it.
// The loops over the patterns run in blocks of loops.blockPatterns on loops.threads threads:
// each block's sums in pattern order, the blocks' sums added in block order, so the results do
// not depend on the threads.
class CategoricalEm {
  public:
    CategoricalEm(const CategoricalData& data, int nclass, const PatternLoops& loops = {});
    // E-step: posteriors under est into h (h[i * K + k]); returns the loglikelihood.
    double expectation(const CategoricalEstimates& est, std::vector<double>& h);
    // M-step: est from the posteriors h.
    void maximization(const std::vector<double>& h, CategoricalEstimates& est);

  private:
    const CategoricalData& data_;
    int K_;
    std::vector<std::size_t> rowStart_; // item j's rows of the tables: rowStart_[j] + code
    std::vector<double> table_;         // P_j(c | k), 1 for a missing answer (the E-step), or
                                        // sums (the M-step)
    double cases_ = 0.0;
    PatternLoops loops_;
    int threads_ = 1;
    // Per worker: a block's loglikelihood, or its M-step sums (the table's shape) and priors.
    struct Worker {
        double loglik = 0.0;
        std::vector<double> table, eta;
    };
    std::vector<Worker> workers_;
};

struct CategoricalRun {
    double loglik = 0.0;
    int cycles = 0;
    bool converged = false;
};

// Runs cycles (M-step, then E-step) from est and its posteriors h, whose loglikelihood is
// run.loglik, until the loglikelihood changes by at most tol or run.cycles reaches maxCycles.
// onCycle, when set, is told the cycles so far and the loglikelihood after each cycle.
// accelerate: squared extrapolation (numerics/squarem.hpp) on the logarithms of the parameters;
// an iteration costs two or three cycles, each an evaluation of the loglikelihood, and the
// change is that over an iteration; the loglikelihood never falls.
void iterateCategorical(CategoricalEm& em, CategoricalEstimates& est, std::vector<double>& h,
                        CategoricalRun& run, double tol, int maxCycles,
                        const std::function<void(int cycles, double loglik)>& onCycle = {},
                        bool accelerate = false);

// The deterministic start: patterns in K bands of equal frequency by their mean category score
// (category c of C scores (c - 1) / (C - 1)), the posteriors those bands give.
std::vector<double> bandPosteriors(const CategoricalData& data, int nclass);

// A random start: every P_j(. | k) from uniform draws on [0.15, 0.85] scaled to add up to 1,
// item by item, class by class; equal priors.
void drawCategoricalStart(std::mt19937_64& generator, CategoricalEstimates& est);

// Renumbers the classes of est (and the posteriors h) by increasing mean expected category
// score over the items (for binary items: the mean probability of the second category).
void orderCategoricalClasses(CategoricalEstimates& est, std::vector<double>& h);

struct CategoricalStarts {
    int starts = 20; // random starts besides the deterministic one
    std::uint64_t seed = 1;
    int firstStageCycles = 50;
    int finalRuns = 4; // random starts run on to convergence
    PatternLoops
        loops; // threads for the loops over the patterns (the results do not depend on them)
    bool accelerate = false; // squared extrapolation of EM (iterateCategorical)
    // For a progress file, as multistart.hpp's: each EM run as it begins (the deterministic
    // start, the random starts' first stage, the final stage) with its cap, then its cycles.
    std::function<void(int run, int runs, int cap)> onRun;
    std::function<void(int cycles, double loglik)> onCycle;
};

struct CategoricalFit {
    CategoricalEstimates est;
    std::vector<double> h; // posteriors of the patterns
    CategoricalRun run;    // of the reported solution: the best converged run (else the best)
    int finalRuns = 0;     // runs taken to convergence (deterministic start included)
    int replicated = 0;    // converged final runs within 1e-4 of the reported loglikelihood
    std::vector<double> finalLogliks; // of every final run, best first
};

// Fits nclass classes from the deterministic start and options.starts random starts. One
// class, or no random start, is the deterministic start alone.
CategoricalFit fitCategorical(const CategoricalData& data, int nclass, double tol, int maxCycles,
                              const CategoricalStarts& options);

} // namespace ploven
