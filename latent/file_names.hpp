// The files each estimator reads and writes, under the names it gives them. The estimators
// stage exactly these outputs; the front end looks for them (in any letter case) in its work
// folder and clears them before a run.
#pragma once

#include <array>
#include <span>
#include <string_view>

namespace latent {

struct EstimatorFiles {
    std::string_view program;   // the executable
    std::string_view deck;      // the input deck a run without arguments reads
    std::string_view restart;   // starting values read beside the deck (empty: none)
    std::string_view report;    // the main report
    std::string_view estimates; // the final estimates, to start a later run from (empty: none)
    std::string_view results;   // every result in JSON
    std::string_view cases;     // per-case results in CSV
    std::string_view progress;  // one line per cycle, written while the run goes on
    // Every file a run writes besides the progress file, in the order the run stages them
    // (a CSV run also writes its deck).
    std::span<const std::string_view> outputs;
};

inline constexpr std::array<std::string_view, 5> kTravikOutputs{"LI7.OUT", "LI8.OUT", "MATRIX.OUT",
                                                                "travik.json", "travik-cases.csv"};

inline constexpr EstimatorFiles kTravikFiles{
    .program = "travik",
    .deck = "LAT.INP",
    .restart = "LAT3.INP",
    .report = "LI7.OUT",
    .estimates = "LI8.OUT",
    .results = "travik.json",
    .cases = "travik-cases.csv",
    .progress = "fort.2",
    .outputs = kTravikOutputs,
};

inline constexpr std::array<std::string_view, 7> kPlovenOutputs{
    "ETAS.OUT",  "PIS.OUT",     "LATC7.OUT",       "LATC8.OUT",
    "LATC9.OUT", "ploven.json", "ploven-cases.csv"};

inline constexpr EstimatorFiles kPlovenFiles{
    .program = "ploven",
    .deck = "LATC.INP",
    .restart = "",
    .report = "LATC7.OUT",
    .estimates = "",
    .results = "ploven.json",
    .cases = "ploven-cases.csv",
    .progress = "fort.2",
    .outputs = kPlovenOutputs,
};

} // namespace latent
