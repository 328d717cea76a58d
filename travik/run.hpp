// One travik run in a folder: the fixed-name files, the input stage, the estimation and the
// analyses, in the order of the report.
#pragma once

#include <cstdio>
#include <filesystem>
#include <ostream>

namespace travik {

// Runs travik with dir as its folder. Messages about files and malformed input go to err.
// consoleIn answers the console pauses (nullptr or a non-terminal: no wait).
// Returns the exit status: 0 for a converged fit (warnings allowed); 1 for a deck rejected, no
// convergence within MAXIT, divergence, or a value that stopped being a finite number (the
// reason in the report and on err); 2 for a file or input error (message on err).
int runInFolder(const std::filesystem::path& dir, std::ostream& err, std::FILE* consoleIn);

} // namespace travik
