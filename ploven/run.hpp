// One run of the latent class estimator in a folder: reads LATC.INP there and writes the
// report LATC7.OUT, the classification file LATC8.OUT, the estimates LATC9.OUT and the
// simulation files ETAS.OUT and PIS.OUT.
#pragma once

#include "ploven/csv_deck.hpp"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <ostream>

namespace ploven {

// Exit status of a run.
enum RunStatus : int {
    kCompleted = 0,     // also with warnings or without convergence messages of the fit
    kReportedError = 1, // the run ended on an error line written to the report
    kInputError = 2,    // file or input error, message written to err
};

// Data from a CSV file: the run builds the deck LATC.INP from it and writes that deck beside
// its outputs.
struct CsvInput {
    std::filesystem::path file;
    CsvModelOptions model;
};

// What a run reads and where it writes.
struct RunOptions {
    int starts = 20;        // random starts besides the band start; 0: the band start alone
    std::uint64_t seed = 1; // of the random starts
    // The deck: a file of any name, or (empty) LATC.INP in any letter case in folder.
    std::filesystem::path deck;
    std::filesystem::path folder = ".";
    std::optional<CsvInput> csv; // instead of a deck
    // Where the outputs go (created when missing); empty: the folder of the deck or CSV file.
    std::filesystem::path outputDir;
    bool force = false; // replace this program's own outputs there
    // Accelerated EM (squared extrapolation); unset: plain EM for a deck, accelerated for a
    // CSV file.
    std::optional<bool> accelerate;
};

// Runs as options say. Console pauses write to consoleOut and wait for Enter on consoleIn only
// when it is a terminal. Returns the exit status.
int run(const RunOptions& options, std::FILE* consoleIn, std::ostream& err,
        std::FILE* consoleOut = stdout);

// Runs on LATC.INP in dir, writing there: the program without arguments.
int runInFolder(const std::filesystem::path& dir, std::FILE* consoleIn, std::ostream& err,
                std::FILE* consoleOut = stdout, RunOptions options = {});

} // namespace ploven
