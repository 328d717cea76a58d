// travik-cases.csv: per input case, in input order, its posterior means and standard
// deviations and its component scores; a case left out of the fit gets empty cells.
#pragma once

#include "travik/results.hpp"

#include <string>

namespace travik {

std::string casesFile(const RunRecord& r);

} // namespace travik
