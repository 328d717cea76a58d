// A ploven deck built from a CSV table: case-by-case LATC.INP text, the item names, the case
// IDs and CSV lines of the cases in the deck, the cases left out for a missing value, and a
// legend block for the report.
#pragma once

#include "csvio/table.hpp"

#include <string>
#include <vector>

namespace ploven {

struct CsvModelOptions {
    std::vector<std::string> items; // header names of the items; empty: every column but the ID
    std::string id;                 // the ID column (text allowed), empty for none
    int classes = 2;
    bool standardErrors = false; // ISE
    int simulations = 0;         // > 0: ISIM = 1 with NSIM samples
    int maxCycles = 3000;
    double tolerance = 1e-8;
    std::vector<std::string> missing = {"", "NA", "."};
};

struct CsvDeck {
    std::string deck;                   // the LATC.INP text
    std::vector<std::string> itemNames; // in deck order
    // Per case in the deck (case number k is index k - 1): its ID text when an ID column is
    // given (else empty), and the CSV line where its record starts. The deck identifies the
    // cases by their numbers 1..N, so this maps the classification file back to the IDs.
    std::vector<std::string> caseIds;
    std::vector<int> caseLines;
    std::vector<int> leftOutLines;       // CSV lines of the cases left out for a missing value
    std::vector<std::string> leftOutIds; // their ID texts, when an ID column is given
    std::vector<std::string> legend;     // report lines, each without its line end
};

// Throws latent::InputError (naming file, line and column) for an unknown column, a column
// named twice, a response other than 0 or 1 or a missing token, no items, no data rows, and
// no case without a missing value.
CsvDeck deckFromCsv(const csvio::Table& table, const CsvModelOptions& options);

} // namespace ploven
