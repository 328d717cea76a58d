// The observed information of the loglikelihood (minus its Hessian) by Louis' formula (Louis
// 1982, JRSS B 44, 226-233). With hp_kg = GJ(k,g) / FM(k) the posterior weight of grid point g
// for case k, d_kg the gradient and D2_kg the Hessian of the log probability (density) of the
// case's responses at g, and s_k = sum_g hp_kg d_kg the case's gradient of ln FM:
//
//     I = sum_k [ s_k s_k' - sum_g hp_kg (d_kg d_kg' + D2_kg) ].
//
// The d_kg are those of case_scores.hpp; D2_kg is block diagonal by item:
//   logistic (binary, nominal): -(diag p - p p') (x) z z' over categories and z = (1, z1, z2);
//   normal (r = x - m): MU,MU -1/PSI; MU,L -z/PSI; L,L -z z'/PSI; MU,PSI -r/PSI^2;
//     L,PSI -z r/PSI^2; PSI,PSI 1/(2 PSI^2) - r^2/PSI^3;
//   ordinal, response x: B/P_x - d d', with A, B the first and second derivatives of
//     P_x = g_x - g_(x-1) (g_c the cumulative probabilities, h_c = g_c(1 - g_c),
//     q_c = h_c(1 - 2 g_c), h and q of categories 0 and O taken as 0):
//     A: thr_x h_x, thr_(x-1) -h_(x-1), loading f -z_f (h_x - h_(x-1));
//     B: thr_x,thr_x q_x; thr_(x-1),thr_(x-1) -q_(x-1); thr_x,f -z_f q_x;
//        thr_(x-1),f z_f q_(x-1); f,f' z_f z_f' (q_x - q_(x-1)).
//
// Grid points whose posterior weight is below kNegligibleWeight are left out of a case's sums:
// a case's posterior is concentrated on a small part of a two-factor grid, and what is left
// out changes no figure beyond that share.
#pragma once

#include "travik/likelihood.hpp"
#include "travik/parameter_vector.hpp"

#include <Eigen/Dense>

namespace travik {

constexpr double kNegligibleWeight = 1e-15;

// The observed information at m.params on the grid, in the order of the parameter vector.
Eigen::MatrixXd observedInformation(const ModelState& m, const Grid& grid);

// Multiply-adds the observed information costs at most (cases x grid points x parameters^2);
// beyond kObservedInformationBudget the cross-product information serves instead.
double observedInformationWork(const Deck& d, const Grid& grid);
constexpr double kObservedInformationBudget = 2e10;

} // namespace travik
