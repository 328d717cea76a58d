// The opening sections of the report: title block, echo of the deck, observed margins and
// the starting values ("Initial Estimates").
#pragma once

#include "travik/model_state.hpp"

#include <string>
#include <vector>

namespace travik {

// The legend of a run from a CSV file (its lines) follows the echo of the deck.
std::string headerSection(const ModelState& m, const std::vector<std::string>& legend = {});
std::string initialEstimatesSection(const ModelState& m);

} // namespace travik
