// One run of the latent class estimator in a folder: reads LATC.INP there and writes the
// report LATC7.OUT, the classification file LATC8.OUT, the estimates LATC9.OUT and the
// simulation files ETAS.OUT and PIS.OUT. Finding the input, staging the outputs and the exit
// statuses (runshell::ExitStatus) come from the run shell (runshell/); the files are named in
// latent/file_names.hpp.
#pragma once

#include "latent/file_names.hpp"
#include "ploven/csv_deck.hpp"
#include "runshell/input.hpp"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <ostream>
#include <string_view>

namespace ploven {

inline constexpr const latent::EstimatorFiles& kFiles = latent::kPlovenFiles;
// The outputs without a name of their own there.
inline constexpr std::string_view kEtasFile = kFiles.outputs[0];      // ETAS.OUT
inline constexpr std::string_view kPisFile = kFiles.outputs[1];       // PIS.OUT
inline constexpr std::string_view kClassesFile = kFiles.outputs[3];   // LATC8.OUT
inline constexpr std::string_view kEstimatesFile = kFiles.outputs[4]; // LATC9.OUT

// Data from a CSV file: the run builds the deck LATC.INP from it and writes that deck beside
// its outputs.
using CsvInput = runshell::CsvInput<CsvModelOptions>;

// What a run reads and where it writes: the common options, and ploven's own.
struct RunOptions : runshell::CommonOptions<CsvModelOptions> {
    int starts = 20;        // random starts besides the band start; 0: the band start alone
    std::uint64_t seed = 1; // of the random starts
};

// Runs as options say. Console pauses write to consoleOut and wait for Enter on consoleIn only
// when it is a terminal. Returns the exit status: 0 for a completed run (also with warnings); 1
// when the run ended on an error line written to the report (also on err); 2 for a file or
// input error (message on err).
int run(const RunOptions& options, std::FILE* consoleIn, std::ostream& err,
        std::FILE* consoleOut = stdout);

// Runs on LATC.INP in dir, writing there: the program without arguments.
int runInFolder(const std::filesystem::path& dir, std::FILE* consoleIn, std::ostream& err,
                std::FILE* consoleOut = stdout, RunOptions options = {});

} // namespace ploven
