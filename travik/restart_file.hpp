// LI8.OUT: the final estimates in the layout of the starting-values file LAT3.INP, so that a
// later run can start from them.
#pragma once

#include "travik/model_state.hpp"

#include <string>

namespace travik {

// One record per line: per binary item its intercept and loadings; per normal item its mean,
// loadings and residual variance; per nominal category its intercept and loadings; per
// ordinal item one record per threshold, then its loadings. Every value as 3X,F8.4; a value
// too wide for the field widens it, and a positive residual variance too small for four
// decimals is written in exponent form, so that every record reads back.
std::string savedEstimates(const ModelState& m);

} // namespace travik
