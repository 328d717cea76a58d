// One run of the latent class estimator in a folder: reads LATC.INP there and writes the
// report LATC7.OUT, the classification file LATC8.OUT, the estimates LATC9.OUT and the
// simulation files ETAS.OUT and PIS.OUT.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <ostream>

namespace ploven {

// Exit status of a run.
enum RunStatus : int {
    kCompleted = 0,     // also with warnings or without convergence messages of the fit
    kReportedError = 1, // the run ended on an error line written to the report
    kInputError = 2,    // file or input error, message written to err
};

// Options of a run beyond the deck. starts: random starts besides the band start (0: the band
// start alone); seed: of the random starts.
struct RunOptions {
    int starts = 20;
    std::uint64_t seed = 1;
};

// Runs in dir. Console pauses write to consoleOut and wait for Enter on consoleIn only when
// it is a terminal. Returns the exit status.
int runInFolder(const std::filesystem::path& dir, std::FILE* consoleIn, std::ostream& err,
                std::FILE* consoleOut = stdout, const RunOptions& options = {});

} // namespace ploven
