// One travik run in a folder: the input stage, the estimation and the analyses, in the order of
// the report. Finding the input, staging the outputs and the exit statuses come from the run
// shell (runshell/); the files are named in latent/file_names.hpp.
#pragma once

#include "latent/file_names.hpp"
#include "runshell/input.hpp"
#include "travik/csv_deck.hpp"
#include "travik/rotation.hpp"

#include <cstdio>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string_view>

namespace travik {

inline constexpr const latent::EstimatorFiles& kFiles = latent::kTravikFiles;
// The products of the standardized loadings, the output without a name of its own there.
inline constexpr std::string_view kMatrixFile = kFiles.outputs[2]; // MATRIX.OUT

// Data from a CSV file: the run builds the deck LAT.INP from it and writes that deck beside
// its outputs.
using CsvInput = runshell::CsvInput<CsvModelOptions>;

// What a run reads and where it writes: the common options, and travik's own.
struct RunOptions : runshell::CommonOptions<CsvModelOptions> {
    // Starting values when the deck asks for them; empty: LAT3.INP in the deck's folder.
    std::filesystem::path start;
    int points = 0; // > 0: every node of the points-point rule instead of NQ's rule
    // Rotation of a two-factor solution; unset: oblimin for a CSV run, none for a deck.
    std::optional<RotationMethod> rotate;
};

// Runs as options say. Messages about files and malformed input go to err; consoleIn answers
// the console pauses (nullptr or a non-terminal: no wait). The exit status is as below.
int run(const RunOptions& options, std::ostream& err, std::FILE* consoleIn);

// Runs travik with dir as its folder: the program without arguments. Messages about files and
// malformed input go to err. consoleIn answers the console pauses (nullptr or a non-terminal: no
// wait). Returns the exit status: 0 for a converged fit (warnings allowed); 1 for a deck rejected,
// no convergence within MAXIT, divergence, or a value that stopped being a finite number (the
// reason in the report and on err); 2 for a file or input error (message on err).
int runInFolder(const std::filesystem::path& dir, std::ostream& err, std::FILE* consoleIn);

} // namespace travik
