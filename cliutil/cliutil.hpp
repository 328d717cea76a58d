// The command lines of the estimators: parsed with CLI11, whose usage, error and --help texts
// the programs print as they are.
#pragma once

#include <CLI/CLI.hpp>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace cliutil {

// The project's version, the one the front end shows too.
inline const char* version() { return LATENT_VERSION; }

// Parses the arguments. Returns the status to end the program with now: 0 after --help or
// --version (printed to out), 2 after a wrong option or value (CLI11's message on err); or
// nothing when the run should go on.
std::optional<int> parse(CLI::App& app, int argc, const char* const* argv, std::ostream& out,
                         std::ostream& err);

// A comma-separated list option (COLS, TOKENS): values may also be given in several options.
// Names must not be empty unless emptyAllowed.
CLI::Option* addList(CLI::App& app, const std::string& name, std::vector<std::string>& target,
                     const std::string& description, bool emptyAllowed = false);

} // namespace cliutil
