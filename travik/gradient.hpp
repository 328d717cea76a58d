// The gradient of the loglikelihood at the current parameters and the cross-product
// information, from one pass over the cases: each case's gradient of ln FM is its score vector
// over FM (case_scores.hpp); the gradient is their sum and the information the sum of their
// outer products (Berndt, Hall, Hall & Hausman 1974). Both in the order of the parameter
// vector (parameter_vector.hpp).
#pragma once

#include "travik/likelihood.hpp"
#include "travik/parameter_vector.hpp"

#include <Eigen/Dense>

namespace travik {

struct Derivatives {
    double loglik = 0.0;
    Eigen::VectorXd gradient;
    Eigen::MatrixXd crossProduct;
    // Per parameter, the sum over cases of the posterior mean of the squared complete-data
    // score: the scale an information matrix is measured against (quadratic_model.hpp). Zero
    // only for a parameter no case says anything about.
    Eigen::VectorXd completeScale;
};

// At m.params on the grid. Cases are summed in their order, the outer products in blocks of
// a fixed number of cases, so the figures do not depend on anything but the data.
Derivatives loglikelihoodDerivatives(const ModelState& m, const Grid& grid);

} // namespace travik
