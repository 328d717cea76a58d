// Generated starting values (INIT = 0).
//
// One factor: binary items start at intercept 0 and loading 1, nominal categories at 0 and 1,
// ordinal thresholds at -1.5, -0.5, 0.5, ... with loading 1; a normal item starts from its
// own mean and variance (loading c sd, residual variance (1 - c^2) variance, c = 0.5), so
// its scale does not matter.
//
// Two factors: the loadings of every item come from the first two principal components of
// the correlation matrix of the items (binary 0/1, normal values, ordinal category numbers,
// nominal items as indicators of categories 2..C; missing values replaced by the item's
// mean). A start where every item's second loading is the same multiple of its first is a
// saddle of the likelihood; the principal components are not.
#pragma once

#include "travik/model_state.hpp"

#include <vector>

namespace travik {

// Loading of a normal item on its own standard deviation in the one-factor start.
constexpr double kNormalStartLoading = 0.5;
// The largest share of an item's variance the two-factor start gives to the factors.
constexpr double kMaxStartCommunality = 0.8;

void generateStartingValues(ModelState& m);

// Eigenvalues (descending) and unit eigenvectors of a symmetric n x n matrix (row major), by
// cyclic Jacobi rotations. vectors[k] belongs to values[k].
struct Eigenpairs {
    std::vector<double> values;
    std::vector<std::vector<double>> vectors;
};
Eigenpairs symmetricEigen(std::vector<double> a, int n);

// The loadings of the first two principal components of the item variables (each component
// scaled by the root of its eigenvalue, its sum made non-negative), one pair per variable in
// the order binary items, normal items, nominal categories 2..C, ordinal items.
std::vector<std::array<double, 2>> principalLoadings(const ModelState& m);

} // namespace travik
