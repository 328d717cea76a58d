// The command line of travik: `travik [OPTIONS] [DECK]`.
#pragma once

#include "travik/run.hpp"

#include <optional>
#include <ostream>

namespace travik {

struct CommandLine {
    RunOptions options;
    std::optional<int> exitNow; // end at once with this status (help, version, a wrong option)
};

// Parses the arguments; --help and --version print to out, wrong options to err.
CommandLine parseCommandLine(int argc, const char* const* argv, std::ostream& out,
                             std::ostream& err);

} // namespace travik
