// How a run ended, as the "status" of its results file.
#pragma once

namespace resultsio {

enum class Ending {
    Converged,    // exit status 0
    MaxCycles,    // the cycle limit was reached without convergence (exit status 1)
    Diverged,     // divergence, or a value that stopped being a finite number (exit status 1)
    NotCertified, // EM stopped, but no maximum could be certified (exit status 1)
    Rejected,     // the deck was rejected with a report line (exit status 1)
};

// "converged", "max_cycles", "diverged", "not_certified", "rejected".
const char* statusName(Ending ending);

} // namespace resultsio
