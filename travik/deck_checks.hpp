// Checks of the data that the estimation needs to hold: every item has an observed value,
// every category of a nominal or ordinal item was chosen by some case, and a binary or normal
// item takes more than one value (an empty category's parameters, a constant binary item's
// intercept and a constant normal item's residual variance have no maximum); cases with no
// observed value are set aside (they carry no information and would only add a constant to
// the loglikelihood).
#pragma once

#include "travik/model_state.hpp"

#include <optional>
#include <string>

namespace travik {

// Whether a value counts as observed in the likelihood: a binary item's 0 or 1, any other
// item's value that is not missing.
bool observedInLikelihood(const Deck& d, int col, double x);

// The report line rejecting the deck for the first item without an observed value, with a
// category that no case chose, or with one value only, or nothing. The item is named by its
// number within its type and by its data column.
// column (optional) receives the rejected item's data column.
std::optional<std::string> checkObservedItems(const ModelState& m, int* column = nullptr);

// Removes the cases with no observed value from the data (NCASE becomes the number of fitted
// cases) and fills m.caseNumbers. Returns the note for the report when any were left out.
std::optional<std::string> leaveOutEmptyCases(ModelState& m);

} // namespace travik
