// Global fit of the binary items (`goodnessOfFit`): the share of G-square explained against
// the independence model, and the pooled chi-square statistics: a likelihood-ratio statistic
// and two Pearson chi-squares over groups of patterns,
//   G^2 = 2 sum_groups O ln(O / E),   X^2 = sum_groups (O - E)^2 / E,
// where adjacent patterns, in the order of their posterior mean, are pooled until a group
// expects at least 5 cases: with many items most of the 2^NB patterns are sparse and the
// full-table statistics lose their chi-square distribution (Bartholomew, Knott & Moustaki
// 2011, Latent Variable Models and Factor Analysis, 3rd ed., ch. 4). The degrees of freedom
// count the groups less the item parameters; the test is a rough guide, not an exact one.
#pragma once

#include "travik/em.hpp"
#include "travik/patterns.hpp"

#include <string>
#include <vector>

namespace travik {

// The pooling walk over patterns already in posterior-mean order: expected[i] = NCASE F(i)
// and freq[i] of the i-th pattern of that order.
struct Pooling {
    double gp = 0.0; // sum over groups of O ln(O / E)
    double x2 = 0.0; // sum over groups of (O - E)^2 / E
    double eu = 0.0; // expected count inside the groups
    int groups = 0;
};
Pooling poolPatterns(const std::vector<double>& expected, const std::vector<int>& freq);

// The number of groups, less 1 when it reaches 2^NB, less 2 NB (one factor) or 3 NB (two
// factors).
int degreesOfFreedom(int groups, int nb, int nf);

// S = sum over patterns of f ln(f / NCASE), each logarithm rounded to single precision.
double saturatedLoglikelihood(const PatternTable& patterns, int ncase);

// Each binary pattern's marginal probability F(i) under the fitted model and the posterior
// mean m(i) of the first factor.
struct PatternPosterior {
    std::vector<double> f, mean;
};
// The patterns are taken in blocks (numerics/parallel_blocks.hpp) on up to `threads` threads;
// each pattern's figures are its own, so they do not depend on the threads.
PatternPosterior patternPosterior(const Deck& d, const Grid& grid, const ItemTables& tables,
                                  const PatternTable& patterns, int threads = 1);

struct FitMeasures {
    double explained = 0.0; // per cent of G-square explained (single precision)
    double logl = 0.0;
    double lr = 0.0;          // 2 Gp
    double chiObserved = 0.0; // over the groups
    double chiAll = 0.0;      // the expected count outside the groups as one more cell
    int df = 0;
    // Why these figures do not measure this model's fit (empty when they do).
    std::string invalidReason;
};
FitMeasures goodnessOfFit(const Deck& d, const PatternTable& patterns, const PatternPosterior& post,
                          double logl, double logl0);

// The statistics compare complete binary response patterns with a loglikelihood over the binary
// items alone. A case with a missing response has no complete pattern, and with normal, nominal
// or ordinal items the fit's loglikelihood holds their densities too, so that "G-square
// explained" and the statistics built on it lose their meaning: the reason, or empty.
std::string fullPatternInvalidReason(const Deck& d, int casesWithMissing);

// The "***Goodness-of-Fit Measures***" block.
std::string fitSection(const FitMeasures& f);

} // namespace travik
