// ploven-cases.csv: per case, in input order, its modal class and its posterior probability of
// every class; for pattern input, per pattern with its frequency and responses.
#pragma once

#include "ploven/results.hpp"

#include <string>

namespace ploven {

std::string casesFile(const RunRecord& r);

} // namespace ploven
