// Generated starting values (INIT = 0).
//
// One factor: binary items start at intercept 0 and loading 1, nominal categories at 0 and 1,
// ordinal thresholds at -1.5, -0.5, 0.5, ... with loading 1; a normal item starts from its
// own mean and variance (loading c sd, residual variance (1 - c^2) variance, c = 0.5), so
// its scale does not matter.
//
// Two factors: the loadings of every item come from the first two principal components of
// the correlation matrix R of the item variables (binary 0/1, normal values, ordinal category
// numbers, nominal items as indicators of categories 2..C; missing values replaced by the
// item's mean). With R = V diag(lambda) V', eigenvalues descending (numerics/linear_algebra.hpp),
// variable i's loading on component f is its correlation with the component (Jolliffe 2002,
// Principal Component Analysis, 2nd ed., sec. 2.3),
//
//     l_if = sqrt(lambda_f) v_if,   f = 1, 2,
//
// each component signed so that its loadings sum to at least 0. A logistic item takes
// a_f = 1.7 l_f / sqrt(1 - h^2), h^2 = l_1^2 + l_2^2 capped at kMaxStartCommunality (the
// normal-ogive factor model as an item response model: Takane & de Leeuw 1987, Psychometrika
// 52, 393-408), and an intercept from its marginal logit, times sqrt(1 + pi (a_1^2 + a_2^2) / 8)
// (the logistic-normal integral: Bishop 2006, Pattern Recognition and Machine Learning, sec.
// 4.5.2). A start where every item's second loading is the same multiple of its first is a
// saddle of the likelihood; the principal components are not.
#pragma once

#include "travik/model_state.hpp"

#include <array>
#include <vector>

namespace travik {

// Loading of a normal item on its own standard deviation in the one-factor start.
constexpr double kNormalStartLoading = 0.5;
// The largest share of an item's variance the two-factor start gives to the factors.
constexpr double kMaxStartCommunality = 0.8;

void generateStartingValues(ModelState& m);

// The loadings of the first two principal components of the item variables (each component
// scaled by the root of its eigenvalue, its sum made non-negative), one pair per variable in
// the order binary items, normal items, nominal categories 2..C, ordinal items.
std::vector<std::array<double, 2>> principalLoadings(const ModelState& m);

} // namespace travik
