// The command lines of the estimators: parsed with CLI11, whose usage, error and --help texts
// the programs print as they are.
#pragma once

#include <CLI/CLI.hpp>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace cliutil {

// Parses the arguments. Returns the status to end the program with now: 0 after --help or
// --version (printed to out), 2 after a wrong option or value (CLI11's message on err); or
// nothing when the run should go on.
std::optional<int> parse(CLI::App& app, int argc, const char* const* argv, std::ostream& out,
                         std::ostream& err);

// A comma-separated list of names (COLS): values may also be given in several options. An
// empty name (",," or a comma at either end) is a wrong value, never silently dropped.
CLI::Option* addList(CLI::App& app, const std::string& name, std::vector<std::string>& target,
                     const std::string& description);

// A whole number from 0 to 18446744073709551615 in decimal digits: a minus sign or a larger
// number is a wrong value instead of one wrapped around or cut to the largest.
CLI::Validator unsigned64();

// The missing-value tokens, comma-separated, an empty token standing for the empty cell
// ("NA,,-9" is NA, the empty cell and -9). Given, they replace the defaults in target.
CLI::Option* addMissingTokens(CLI::App& app, std::vector<std::string>& target);

} // namespace cliutil
