// The bootstrap likelihood ratio test of K-1 against K classes (McLachlan 1987, Applied
// Statistics 36, 318-324; Nylund, Asparouhov & Muthen 2007, Structural Equation Modeling 14,
// 535-569). With LR = 2 (L_K - L_{K-1}) on the data, B samples of the data's size are drawn
// from the fitted (K-1)-class model, each case keeping the items its original left unanswered;
// each sample is fitted with K-1 and K classes from several starts, so that a maximisation
// that fails now and then does not bias the test, and
//   p = (1 + #{b: LR*_b >= LR}) / (B + 1).
#pragma once

#include "ploven/categorical_em.hpp"

#include <cstdint>
#include <functional>
#include <random>

namespace ploven {

// The starts of a bootstrap sample's fits: the deterministic start and 10 random starts, the
// best 3 of them run to convergence.
inline CategoricalStarts fewStarts() {
    CategoricalStarts s;
    s.starts = 10;
    s.finalRuns = 3;
    return s;
}

struct BootstrapOptions {
    int samples = 0;
    std::uint64_t seed = 1;
    double tol = 1e-8;
    int maxCycles = 3000;
    CategoricalStarts starts = fewStarts(); // per sample and class count (seed set per sample)
    std::function<void(int sample, int samples)> onSample;
};

struct BootstrapResult {
    double lr = 0.0;
    double p = 1.0;
    int exceeded = 0; // samples with LR* >= LR
};

// null: the fitted K-1 classes; lr: the data's likelihood ratio statistic.
BootstrapResult bootstrapLikelihoodRatio(const CategoricalData& cases,
                                         const CategoricalEstimates& null, double lr,
                                         const BootstrapOptions& options);

// One sample from est with the missing answers of cases (a row per case, frequencies 1).
CategoricalData drawSample(std::mt19937_64& generator, const CategoricalEstimates& est,
                           const CategoricalData& cases);

} // namespace ploven
