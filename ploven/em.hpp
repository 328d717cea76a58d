// Maximum likelihood estimation of the unrestricted latent class model for binary items by the
// EM algorithm (Goodman 1974, Biometrika 61, 215-231; Dempster, Laird & Rubin 1977, JRSS B
// 39, 1-38), from a start derived from each pattern's number of positive responses.
//
// Model (Lazarsfeld & Henry 1968, Latent Structure Analysis):
//   f_k(x) = prod_j PI(j,k)^x_j (1 - PI(j,k))^(1 - x_j),   P(x) = sum_k ETA(k) f_k(x).
// E-step: the posterior of class k for pattern x, h_k(x) = ETA(k) f_k(x) / P(x).
// M-step, with n(x) the frequency of pattern x and N the sample size:
//   ETA(k) = sum_x n(x) h_k(x) / N,   PI(j,k) = sum_x n(x) h_k(x) x_j / sum_x n(x) h_k(x).
#pragma once

#include "fixedio/memory.hpp"
#include "ploven/model.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace ploven {

struct EmResult {
    ErrorCode error = ErrorCode::None; // 0, or 2000 / 2100 / 2200 / 2300
    int iterations = 0;                // the cycle counter on leaving: completed cycles + 1
    double loglik = 0.0;
    double change = 0.0; // last absolute change of the loglikelihood
};

// The loops over the patterns (E-step, M-step) run as PatternLoops says (model.hpp): the results
// depend on the block size alone, never on the threads.
//
// Estimates the model for the patterns in data (ncase = sample size, the frequencies' total).
// Cycles while the loglikelihood changes by more than tol; a cycle beyond maxit ends with 2300
// and leaves the estimates of the last completed cycle. Fills est, and post's posteriors,
// starting classes and scores.
// Told the completed cycles of an EM run and its loglikelihood after each cycle (a progress
// file follows the run with it).
using CycleCallback = std::function<void(int cycles, double loglik)>;

EmResult estimateFromBandStart(const PatternTable& data, int nclass, long long ncase, double tol,
                               int maxit, Estimates& est, Posteriors& post,
                               const CycleCallback& onCycle = {});

// The start of estimateFromBandStart: the input checks (2000 to 2200, or 0 to go on), then est and
// post sized for data and nclass and every pattern in its score band (startBands).
ErrorCode startEstimation(const PatternTable& data, int nclass, long long ncase, Estimates& est,
                          Posteriors& post);

// What a fit of npat response patterns (from as many cases at most) of nitem items and nclass
// classes holds at its peak, on the given threads (0: one per core): per pattern its responses,
// frequency, walk and five tables of posteriors (the reported fit's, the run's, the kept point
// of accelerated EM, the check's and a trial's); per worker its running products and sums, a
// block of the information matrix and the convergence check's sums; once, the check's
// matrices.
fixedio::Footprint fitFootprint(long long npat, int nitem, int nclass, int threads);

// Bytes of one refit of a sample of ncase cases on one thread (the simulation study).
double sampleFitBytes(long long ncase, int nitem, int nclass);

// Expected frequency of the response vector x under the model: ncase * P(x).
double expectedFrequency(const std::uint8_t* x, const Estimates& est, long long ncase);

// The input checks of an estimation: 2000 (no cases), 2100 (frequencies do not add up to
// ncase), 2200 (more classes than items), or 0.
ErrorCode checkEstimationInput(const PatternTable& data, int nclass, long long ncase);

// The deterministic start: scores, starting classes in bands of the score and the posteriors
// they give (post is sized for data and nclass).
void startBands(const PatternTable& data, int nclass, Posteriors& post);

// The EM cycle for one data set and class count, shared by every start: the tables derived
// from the data are built once. data must outlive it. Posteriors h are laid out as in
// Posteriors (h[i * nclass + k]).
class EmCycles {
  public:
    EmCycles(const PatternTable& data, int nclass, long long ncase, const PatternLoops& loops = {});
    ~EmCycles();
    EmCycles(const EmCycles&) = delete;
    EmCycles& operator=(const EmCycles&) = delete;

    // E-step alone: the posteriors under est into h; returns the loglikelihood.
    double expectation(const Estimates& est, std::vector<double>& h);
    // M-step alone: est from the posteriors h.
    void maximization(const std::vector<double>& h, Estimates& est);
    // One cycle: M-step from h into est, then E-step with the new estimates into h; returns
    // the new loglikelihood.
    double cycle(Estimates& est, std::vector<double>& h);
    // How the loops over the patterns run (threads as asked, 0 for one per core).
    const PatternLoops& loops() const;

  private:
    struct Tables;
    std::unique_ptr<Tables> tables_;
};

// Where an EM run stands: the loglikelihood, its last absolute change and the cycle counter
// (completed cycles + 1).
struct EmProgress {
    double loglik = 0.0;
    double change = 10.0;
    int counter = 1;
};

// Runs cycles while the loglikelihood changes by more than tol and the counter has not passed
// lastCounter (so at most lastCounter cycles in all). Returns true when it converged.
bool iterateEm(EmCycles& cycles, Estimates& est, std::vector<double>& h, EmProgress& progress,
               double tol, int lastCounter, const CycleCallback& onCycle = {});

} // namespace ploven
