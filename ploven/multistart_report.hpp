// The report block that says how the maximum was found: starts, seed, the final-stage runs and
// whether the best loglikelihood was replicated. It closes the report.
#pragma once

#include "ploven/multistart.hpp"

#include <string>

namespace ploven::report {

// The block for a run whose estimation succeeded (outcome.reported >= 0).
std::string startingValues(const MultiStartOutcome& outcome);

} // namespace ploven::report
