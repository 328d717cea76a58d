// The opening sections of the report: title block, echo of the deck, observed margins and
// the starting values ("Initial Estimates").
#pragma once

#include "travik/model_state.hpp"

#include <string>

namespace travik {

std::string headerSection(const ModelState& m);
std::string initialEstimatesSection(const ModelState& m);

} // namespace travik
