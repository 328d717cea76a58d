// What a travik run hands to its results for programs (travik.json, travik-cases.csv) and to
// the model-comparison block of its report, collected as the run goes: plain data.
#pragma once

#include "resultsio/convergence.hpp"
#include "resultsio/csv_source.hpp"
#include "resultsio/ending.hpp"
#include "travik/estimates_report.hpp"
#include "travik/fit.hpp"
#include "travik/irt_parameters.hpp"
#include "travik/item_fit.hpp"
#include "travik/limited_fit.hpp"
#include "travik/local_dependence.hpp"
#include "travik/margins.hpp"
#include "travik/model_state.hpp"
#include "travik/notes.hpp"
#include "travik/rotation.hpp"
#include "travik/scores.hpp"
#include "travik/variance.hpp"

#include <optional>
#include <string>
#include <vector>

namespace travik {

// Filled stage by stage; each flag says how far the run got.
struct RunRecord {
    std::string title;
    resultsio::Ending ending = resultsio::Ending::Converged;
    std::string message; // the report's error line or the reasons on stderr; empty when none

    // The deck: known once its records 1 to 5 are read (deck.ncase: the cases fitted).
    bool deckRead = false;
    Deck deck;
    // The quadrature: points per factor on the grid, and whether the full rule of that many
    // points is used (otherwise the stored central points of the rule NQ names).
    int pointsPerFactor = 0;
    bool fullRule = false;

    // The data: known once the cases are checked.
    bool dataRead = false;
    int inputCases = 0;                 // cases in the input, left out ones included
    std::vector<int> caseNumbers;       // input case number (1-based) of every fitted case
    int casesWithMissing = 0;           // fitted cases with at least one missing value
    std::vector<std::string> itemNames; // in model order, from a CSV run; empty: "item N"
    std::vector<std::string> caseIds;   // per input case, from a CSV run with an ID column
    std::string idColumn;               // the ID column's name, when caseIds are given
    // Per nominal and then ordinal item, the label of every category, from a CSV run; empty:
    // the deck's numbers 1..C.
    std::vector<std::vector<std::string>> categoryLabels;
    std::optional<resultsio::CsvSource> csvSource; // a CSV run's data file and how it was read

    // The estimation: cycles and estimates as they stand when the cycles end (also on a value
    // that stopped being a finite number).
    bool estimated = false;
    int cycles = 0;
    double loglik = 0.0;
    Parameters params;
    bool accelerated = false;
    resultsio::ConvergenceCheck check; // of the final estimates (when the cycles ended on numbers)
    IntegrationCheck integration;

    // What only a run whose cycles ended with finite values has.
    bool fitted = false;
    Covariance cov;
    StandardizedLoadings standardized;
    Scores scores;                  // per fitted case
    std::optional<FitMeasures> fit; // with binary items
    std::optional<BinaryMargins> binaryMargins;
    std::optional<PolytomousMargins> nominalMargins, ordinalMargins;
    std::optional<Rotation> rotation; // two factors, when a rotation was asked for
    // How well the model fits, item by item and pair by pair, and the IRT parameters.
    std::optional<LimitedInformationFit> limitedFit;
    std::optional<ItemFit> itemFit;
    std::optional<LocalDependence> localDependence;
    std::optional<IrtParameters> irt;

    RunNotes notes;
};

} // namespace travik
