// A ploven deck built from a CSV table: case-by-case LATC.INP text, the item names, the case
// IDs and CSV lines of the cases in the deck, the cases left out for a missing value, and a
// legend block for the report.
#pragma once

#include "csvio/categories.hpp"
#include "csvio/table.hpp"
#include "ploven/categorical_model.hpp"

#include <optional>
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
    std::vector<csvio::LevelOrder> levels; // --levels: category orders of text items
    bool listwise = false;                 // leave out every case with a missing answer
    bool allowDuplicateIds = false;        // ids that repeat are taken as they are
    // Class counts from classes to lastClasses (an enumeration when lastClasses > classes).
    int lastClasses = 0;
    int blrt = 0; // bootstrap samples of the likelihood ratio test (enumeration only)
};

// The cases of a run as category codes. When an item is not binary, or a case keeps a missing
// answer, the deck format cannot hold them and the run fits them with the categorical model.
struct CategoricalCases {
    CategoricalData rows;           // one row per case used (frequency 1), codes 1..C_j, 0 missing
    long long casesWithMissing = 0; // cases used that left an item unanswered
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
    // Per item the labels of its categories in order ("0", "1" for a binary column of 0 and 1).
    std::vector<std::vector<std::string>> categoryLabels;
    std::string idColumn;   // the ID column's name, empty for none
    int simulations = 0;    // samples of the simulation study asked for (0: none)
    char delimiter = ',';   // the CSV file's field separator as read
    CategoricalCases cases; // the cases used, coded
    // The categorical model fits the data (a polytomous item, or a case used with a missing
    // answer); otherwise the deck is the binary deck of today.
    bool categorical = false;
};

// Items whose values are all 0 and 1 are binary; other items take 2 to 50 categories in the
// order of csvio/categories.hpp (numbers sorted, text in the --levels order or by first
// appearance). When every item has two categories and no case used has a missing answer the
// run is today's binary deck; otherwise `categorical` holds the cases. A case is left out when
// it answered no item, or (listwise) any item missing.
// Throws latent::InputError (naming file, line and column) for an unknown column, a column
// named twice, a value that cannot be a category, a --levels column that is not an item, no
// items, no data rows, and no case left to analyse.
CsvDeck deckFromCsv(const csvio::Table& table, const CsvModelOptions& options);

} // namespace ploven
