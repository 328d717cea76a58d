// The command line of travik: `travik [OPTIONS] [DECK]`. The options both estimators take come
// from the run shell; travik adds --start, --points and its model options.
#pragma once

#include "runshell/cli.hpp"
#include "travik/run.hpp"

#include <ostream>

namespace travik {

using CommandLine = runshell::CommandLine<RunOptions>;

// Parses the arguments; --help and --version print to out, wrong options to err.
CommandLine parseCommandLine(int argc, const char* const* argv, std::ostream& out,
                             std::ostream& err);

} // namespace travik
