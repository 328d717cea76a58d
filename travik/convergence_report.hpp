// The report's convergence block: how the fit ended and the figures of its check
// (resultsio/convergence.hpp), then the loglikelihood of the estimates on a finer rule.
#pragma once

#include "travik/em.hpp"

#include <string>

namespace travik {

// "***Convergence Check***" and its lines; empty when the check did not run.
std::string convergenceSection(const Estimation& est);

// The warning for a rule too coarse for the model (the finer rule's loglikelihood differs by
// more than kIntegrationWarning), or empty.
std::string integrationWarning(const Estimation& est);

} // namespace travik
