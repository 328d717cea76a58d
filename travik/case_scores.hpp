// One case's score vector: for every parameter of the items the case answered, the sum over
// the grid of the case's joint weight GJ times the derivative of the log probability (density)
// of its response at that grid point. Divided by the case's FM it is the gradient of ln FM
// (scaled weights give the same quotient). Derivatives at a grid point (z1, z2):
//   binary, logistic category:  intercept x - p, loadings z (x - p);
//   normal (r = x - MU - LAMBDA'z): MU r/PSI, loadings z r/PSI, PSI r^2/(2 PSI^2) - 1/(2 PSI);
//   ordinal, response x, cumulative probabilities g_c: threshold s: g_s(1 - g_s)/(g_s - g_(s-1))
//     when x = s, -g_s(1 - g_s)/(g_(s+1) - g_s) when x = s + 1, else 0; loadings
//     -z (1 - g_x - g_(x-1)).
#pragma once

#include "travik/likelihood.hpp"
#include "travik/parameter_vector.hpp"

namespace travik {

// Writes the positions of the items case k answered into s (others are left as they are).
// squares (optional) receives at the same positions the sums of GJ times each squared
// derivative: over FM, the posterior mean of the squared complete-data score, a measure of
// how much the case says about the parameter that no cancellation can blur.
void caseScores(const ModelState& m, const Grid& grid, const ItemTables& t,
                const ParameterLayout& layout, const double* gj, int k, double* s,
                double* squares = nullptr);

} // namespace travik
