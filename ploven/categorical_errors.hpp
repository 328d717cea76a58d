// Standard errors of the categorical latent class model from the outer product of the cases'
// gradients (OPG; Berndt, Hall, Hall & Hausman 1974), the estimate ploven uses for binary
// items too. Each (item, class) block drops its most probable category, which is one minus the
// others, and the priors drop the largest class:
//   d ln P(x) / d eta_k    = h_k(x) / eta_k - h_r(x) / eta_r,
//   d ln P(x) / d P_j(c|k) = h_k(x) ([x_j = c] / P_j(c|k) - [x_j = r] / P_j(r|k)), item j answered,
// with r the dropped class or category. Covariance V = (sum_x n(x) g(x) g(x)')^-1; a dropped
// probability's variance is 1' V_block 1 (delta method). A probability on the boundary (below
// 1e-9) is fixed there and gets standard error 0.
#pragma once

#include "ploven/categorical_model.hpp"

#include <string>
#include <vector>

namespace ploven {

struct CategoricalErrors {
    bool ok = false;
    std::string unavailable; // why not, when !ok
    std::vector<double> eta; // per class
    std::vector<double> p;   // laid out as CategoricalEstimates::p
};

CategoricalErrors categoricalErrors(const CategoricalData& data, const CategoricalEstimates& est,
                                    const std::vector<double>& h);

} // namespace ploven
