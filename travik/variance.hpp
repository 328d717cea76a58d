// Standard errors (`variance`): the empirical information matrix of all free item
// parameters, the sum over cases of the outer products of each case's score vector (the
// gradient of ln FM), inverted into the covariance matrix of the estimates. The loading a
// two-factor model fixes at 0 (identification.hpp) is left out of the inversion: its variance
// is 0. Information that is singular or not positive definite gives no standard errors, with
// the reason.
#pragma once

#include "travik/em.hpp"
#include "travik/parameter_vector.hpp"

#include <string>
#include <vector>

namespace travik {

struct Covariance {
    ParameterLayout layout;
    std::vector<double> cov; // P x P; NaN everywhere when the information cannot be inverted
    std::string unavailable; // why there are no standard errors; empty when there are
    int fixed = -1;          // position of the parameter the model fixes, or -1
    // Positions without a standard error, when others have one: parameters of frozen items,
    // and those the information does not identify (NaN in cov).
    std::vector<int> withoutErrors;

    double se(int position) const {
        return std::sqrt(cov[static_cast<std::size_t>(position) * layout.count + position]);
    }
};

// FM values below 1e-15 are raised to 1e-15 in est.weights (the scores see them too).
Covariance variance(const ModelState& m, Estimation& est, const Pause& pause);

// One case's score vector S (before division by FM), for tests. Missing items leave zeros.
std::vector<double> caseScore(const ModelState& m, const Estimation& est,
                              const ParameterLayout& layout, int k);

} // namespace travik
