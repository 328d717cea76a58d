// The convergence check of a travik fit and its Newton finish (numerics/newton_finish.hpp):
// the gradient and the cross-product information of gradient.hpp over the moving parameters
// (parameter_vector.hpp: the fixed loading of a two-factor model and frozen items are left
// out), Newton-type steps on the raw parameters, every trial point outside the model refused by
// the line search.
#pragma once

#include "numerics/newton_finish.hpp"
#include "travik/model_state.hpp"
#include "travik/quadrature.hpp"

#include <functional>

namespace travik {

// Checks m.params (loglikelihood loglik on grid) and, when the check fails, takes up to
// maxSteps Newton steps, leaving the result in m.params. onStep is told after each step.
numerics::NewtonOutcome certifyFit(ModelState& m, const Grid& grid, double loglik, int maxSteps,
                                   const std::function<void(const numerics::NewtonStep&)>& onStep);

} // namespace travik
