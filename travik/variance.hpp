// Standard errors (`variance`): the empirical information matrix of all free item
// parameters, the sum over cases of the outer products of each case's score vector (the
// gradient of ln FM), inverted into the covariance matrix of the estimates.
#pragma once

#include "travik/em.hpp"

#include <vector>

namespace travik {

// Positions of each item's parameters in the parameter vector: the blocks run binary,
// normal, nominal, ordinal. Within a binary item the loadings come first and the intercept
// last (descending index); every other type lists its intercepts or thresholds first.
struct ParameterLayout {
    int count = 0;                        // P
    int nominalCategories = 0;            // sum over nominal items of (C - 1)
    std::vector<int> binary, normal, ordinal; // first position of each item
    std::vector<int> nominal;             // first position of each item (category 2 first)

    // Position of ALPHAB(m, I) for binary item i.
    int binaryAt(int nf, int i, int m) const { return binary[i] + (nf - m); }
};
ParameterLayout parameterLayout(const Deck& d);

struct Covariance {
    ParameterLayout layout;
    std::vector<double> cov; // P x P; NaN everywhere when the information cannot be inverted

    double se(int position) const { return std::sqrt(cov[static_cast<std::size_t>(position) * layout.count + position]); }
};

// FM values below 1e-15 are raised to 1e-15 in est.weights (the scores see them too).
Covariance variance(const ModelState& m, Estimation& est, const Pause& pause);

// One case's score vector S (before division by FM), for tests. Missing items leave zeros.
std::vector<double> caseScore(const ModelState& m, const Estimation& est, const ParameterLayout& layout, int k);

} // namespace travik
