// The estimates with their standard errors, and the standardized loadings.
#pragma once

#include "travik/model_state.hpp"
#include "travik/variance.hpp"

#include <string>
#include <vector>

namespace travik {

// Standardized loadings: each loading over the square root of one plus the item's squared
// loadings (normal items: over the square root of the squared loadings plus PSI).
struct StandardizedLoadings {
    std::vector<std::array<double, 3>> binary, normal, ordinal; // [item][m], m = 1..nf
    std::vector<std::vector<std::array<double, 3>>> nominal;    // [item][J][m], J = 2..C
};
StandardizedLoadings standardizedLoadings(const ModelState& m);

// Probability of a positive response at Z = 0 per binary item, and of each category at
// Z = 0 per nominal item ([item][J], J = 1..C).
std::vector<double> binaryAtZero(const Parameters& p);
std::vector<std::vector<double>> nominalAtZero(const Parameters& p);

std::string estimatesSection(const ModelState& m, const Covariance& cov);
std::string standardizedSection(const ModelState& m, const StandardizedLoadings& s);

} // namespace travik
