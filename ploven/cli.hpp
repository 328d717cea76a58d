// The command line of ploven: `ploven [OPTIONS] [DECK]`. The options both estimators take come
// from the run shell; ploven adds --starts, --seed and its model options.
#pragma once

#include "ploven/run.hpp"
#include "runshell/cli.hpp"

#include <ostream>

namespace ploven {

using CommandLine = runshell::CommandLine<RunOptions>;

// Parses the arguments; --help and --version print to out, wrong options to err.
CommandLine parseCommandLine(int argc, const char* const* argv, std::ostream& out,
                             std::ostream& err);

} // namespace ploven
