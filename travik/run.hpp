// One travik run in a folder: the fixed-name files, the input stage, the estimation and the
// analyses, in the order of the report.
#pragma once

#include "travik/csv_deck.hpp"

#include <cstdio>
#include <filesystem>
#include <optional>
#include <ostream>

namespace travik {

// Data from a CSV file: the run builds the deck LAT.INP from it and writes that deck beside
// its outputs.
struct CsvInput {
    std::filesystem::path file;
    CsvModelOptions model;
};

// What a run reads and where it writes.
struct RunOptions {
    // The deck: a file of any name, or (empty) LAT.INP in any letter case in folder.
    std::filesystem::path deck;
    std::filesystem::path folder = ".";
    std::optional<CsvInput> csv; // instead of a deck
    // Where the outputs go (created when missing); empty: the folder of the deck or CSV file.
    std::filesystem::path outputDir;
    // Starting values when the deck asks for them; empty: LAT3.INP in the deck's folder.
    std::filesystem::path start;
    bool force = false; // replace this program's own outputs there
    int points = 0;     // > 0: every node of the points-point rule instead of NQ's rule
    // Squared extrapolation of EM with solved M-steps; unset: on for a CSV run, off for a deck.
    std::optional<bool> accelerate;
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
