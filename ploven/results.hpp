// What a ploven run hands to its results for programs (ploven.json, ploven-cases.csv) and to
// the model-comparison block of its report, collected as the run goes: plain data.
#pragma once

#include "ploven/certify.hpp"
#include "ploven/fit.hpp"
#include "ploven/model.hpp"
#include "ploven/multistart.hpp"
#include "ploven/standard_errors.hpp"
#include "resultsio/convergence.hpp"
#include "resultsio/ending.hpp"

#include <optional>
#include <string>
#include <vector>

namespace ploven {

// Cases of a run from a CSV file, as the deck built from it numbers them.
struct CsvCases {
    std::vector<std::string> itemNames;
    bool ids = false;                    // the file has an ID column
    std::string idColumn;                // its name
    std::vector<std::string> caseIds;    // per case in the deck
    std::vector<int> caseLines;          // per case in the deck, the CSV line of its record
    std::vector<std::string> leftOutIds; // per case left out for a missing value
    std::vector<int> leftOutLines;
    std::vector<std::vector<std::string>> categoryLabels; // per item, its two labels in order
};

// Filled stage by stage; each flag says how far the run got.
struct RunRecord {
    std::string title;
    resultsio::Ending ending = resultsio::Ending::Converged;
    std::string message; // the report's error line, trimmed; empty when none
    // The report's notes block: warnings (the data or the model are probably not what was
    // meant; also on standard error) and notes (what the run did to the input).
    std::vector<std::string> warnings;
    std::vector<std::string> notes;

    // The deck: known once its control values are read.
    int nclass = 0;
    int nitem = 0;
    bool caseInput = true;
    int records = 0;                  // data records of the deck
    bool standardErrorsAsked = false; // ISE = 1
    bool deckIds = false;             // the case records start with an identifier
    std::optional<CsvCases> csv;

    // The data: known once the records are read and folded.
    bool dataRead = false;
    long long cases = 0;          // the frequencies' total
    PatternTable patterns;        // distinct patterns with their frequencies
    std::vector<int> casePattern; // case input: the pattern of every case
    std::vector<int> ids;         // the deck's case identifiers, when it has them

    // The estimation: known when some final-stage run converged, or when none did (2300).
    bool estimated = false;
    EmResult fit;
    Estimates est;
    MultiStartOutcome outcome;
    FitCheck check; // of the reported solution (of the band start after 2300)

    // What only a converged fit has.
    bool fitted = false;
    Posteriors post;                  // posteriors, and the modal class of every pattern in iclass
    std::optional<StandardErrors> se; // when asked for; se->ok when they could be computed
    FitStatistics full, pooled;
    MarginTables margins;

    // The simulation study, when one ran (ISIM = 1 and NSIM >= 2).
    int simulationSamples = 0;
    std::string simulationError; // the report's error line, trimmed; empty when it completed
};

} // namespace ploven
