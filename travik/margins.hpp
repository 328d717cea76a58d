// Goodness-of-fit margins: observed against expected first-, second- and third-order
// margins of the binary items (`marginb`), and of the nominal and ordinal items (`marginc`,
// `margino`); and the products of the standardized ordinal loadings (`prodma`).
#pragma once

#include "travik/estimates_report.hpp"

#include <string>

namespace travik {

// "MATRIX.OUT": row k holds L(k) . L(i) for i = 1..k, ten F9.3 fields a line.
std::string prodma(const StandardizedLoadings& s);

} // namespace travik
