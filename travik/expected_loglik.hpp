// Each item's part Q_i of the expected complete-data loglikelihood, from the E-step tables of
// one cycle: the sum over grid points and response categories of the expected count times the
// log probability of that response. The M-step compares Q_i before and after an update; EM
// raises the loglikelihood only when no item's Q_i falls.
//
// Everything is formed in logarithms from the parameters, so an underflowing probability
// gives a large negative log rather than log 0, and terms of zero weight are skipped (no
// 0 * log 0). A parameter point outside the model (thresholds out of order, a residual
// variance that is not positive) gives -infinity.
#pragma once

#include "travik/estep.hpp"
#include "travik/model_state.hpp"
#include "travik/quadrature.hpp"

#include <array>

namespace travik {

// Logistic item: a binary item (r = RB, n = NEXP) or, in the same form, one response against
// all others. a[0..nf] are the intercept and loadings.
double binaryQ(const Grid& grid, const std::array<double, 3>& a, const double* r, const double* n);

// Nominal item i with its category counts RC from the E-step.
double nominalQ(const Grid& grid, const NominalItem& item, const EStepTables& e, int i);

// Ordinal item i (cumulative logit, loadings with a minus sign) with its counts RO.
double ordinalQ(const Grid& grid, const OrdinalItem& item, const EStepTables& e, int i);

// Normal item: n = NEXP of its column, sn1, sn2 the sums of x and x^2 weights. The constant
// of the density is left out (it does not depend on the parameters).
double normalQ(const Grid& grid, const NormalItem& item, const double* n, const double* sn1,
               const double* sn2);

} // namespace travik
