// Maximum likelihood estimation of the unrestricted latent class model for binary items by the
// EM algorithm, from a start derived from each pattern's number of positive responses.
//
// Model: f_k(x) = prod_j PI(j,k)^x_j (1 - PI(j,k))^(1 - x_j) and P(x) = sum_k ETA(k) f_k(x).
#pragma once

#include "ploven/model.hpp"

#include <cstdint>

namespace ploven {

struct EmResult {
    int ierr = kNoError; // 0, or 2000 / 2100 / 2200 / 2300
    int iterations = 0;  // the cycle counter on leaving: completed cycles + 1
    double loglik = 0.0;
    double change = 0.0; // last absolute change of the loglikelihood
};

// Estimates the model for the patterns in data (ncase = sample size, the frequencies' total).
// Cycles while the loglikelihood changes by more than tol; a cycle beyond maxit ends with 2300
// and leaves the estimates of the last completed cycle. Fills est, and post's posteriors,
// starting classes and scores.
EmResult emalg(const PatternTable& data, int nclass, long long ncase, double tol, int maxit,
               Estimates& est, Posteriors& post);

// Expected frequency of the response vector x under the model: ncase * P(x).
double exfrq(const std::uint8_t* x, const Estimates& est, long long ncase);

} // namespace ploven
