// Bivariate residuals of a fitted latent class model: for items i and j, over the cases that
// answered both, with O_ab the observed count of answers (a, b) and
//   E_ab = N_ij sum_k eta_k P_i(a | k) P_j(b | k),
//   BVR_ij = sum_ab (O_ab - E_ab)^2 / E_ab / ((C_i - 1)(C_j - 1)),
// Pearson's statistic of the pair's two-way table per degree of freedom (Vermunt & Magidson
// 2005, Latent GOLD 4.0 Technical Guide; values above 3.84 point to local dependence).
#pragma once

#include "ploven/categorical_model.hpp"

#include <vector>

namespace ploven {

struct BivariateResidual {
    int first = 0, second = 0; // items, 0-based, first < second
    double bvr = 0.0;
};

// Every pair in order (0,1), (0,2), ..., (1,2), ...
std::vector<BivariateResidual> bivariateResiduals(const CategoricalData& data,
                                                  const CategoricalEstimates& est);

// Pairs above this are listed in the report.
constexpr double kBvrListed = 3.84;

} // namespace ploven
