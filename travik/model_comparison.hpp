// The figures for comparing latent trait models fitted to the same data (parameters,
// loglikelihood, AIC, BIC, SABIC) and the report block that prints them.
#pragma once

#include "travik/model_state.hpp"

#include <string>

namespace travik {

// Free parameters: every item parameter (binary 1 + NF, normal 2 + NF, nominal (C - 1)(1 + NF),
// ordinal (O - 1) + NF), less one with two factors, whose rotation leaves the likelihood as it
// is.
long long modelParameters(const Deck& d);

// "***Model Comparison***" for a fit of d.ncase cases with loglikelihood logl.
std::string modelComparisonSection(const Deck& d, double logl);

} // namespace travik
