// A travik deck built from a CSV table: the deck text exactly as a user would write LAT.INP by
// hand, the item names and category mappings, the case IDs and CSV lines, and a legend block
// for the report.
#pragma once

#include "csvio/categories.hpp"
#include "csvio/table.hpp"

#include <cstddef>
#include <string>
#include <vector>

namespace travik {

// A CSV run's cycle limit may go beyond the 2000 a deck's MAXIT holds.
constexpr int kMostCsvCycles = 100000;
constexpr int kMostDeckCycles = 2000;
// Points per factor of the full rule a two-factor CSV run uses by default.
constexpr int kCsvTwoFactorPoints = 31;

struct CsvModelOptions {
    // Header names of the item columns by type; the model's item order is binary, normal,
    // nominal, ordinal, each in the order given.
    std::vector<std::string> binary, normal, nominal, ordinal;
    std::string id; // the ID column, empty for none
    int factors = 1;
    int quadraturePoints = 48; // NQ as the deck gives it
    int maxCycles = 500;
    double tolerance = 1e-8;
    bool scores = false;        // IPRS: print the factor scores of every case
    bool saveEstimates = false; // ISAVE: write LI8.OUT
    std::vector<std::string> missing = {"", "NA", "."};
    std::vector<csvio::LevelOrder> levels; // the order of nominal or ordinal categories
    bool allowDuplicateIds = false;
};

enum class ItemType { Binary, Normal, Nominal, Ordinal };

struct CsvItem {
    std::string name;
    ItemType type = ItemType::Binary;
    int numberInType = 0;                // 1-based within its type, as the report numbers it
    std::size_t column = 0;              // 0-based CSV column
    std::vector<std::string> categories; // nominal and ordinal: categories[c - 1] is category c
};

struct CsvDeck {
    std::string deck;                 // the LAT.INP text
    std::vector<CsvItem> items;       // in model order
    std::vector<std::string> caseIds; // per case, when an ID column is given (else empty)
    std::vector<int> caseLines;       // per case, the CSV line where its record starts
    std::vector<std::string> legend;  // report lines, each without its line end
    char delimiter = ',';             // the CSV file's field separator
    bool saveEstimates = false;       // the run writes LI8.OUT
};

// Nominal categories are numbered in the order --levels gives, else in ascending numeric order
// when every value is a number, else by the bytes of their text; ordinal categories likewise,
// except that without --levels their values must be numbers. Throws latent::InputError (naming
// file, line and column) for an unknown column, a column named twice, a value its item type does
// not take, a normal value that would read as the missing code 999, a nominal or ordinal item
// with fewer than 2 or more than kMostCategories categories, a --levels column that is not a
// nominal or ordinal item, an empty, missing or (unless allowed) repeated case ID, no items, or
// no data rows.
CsvDeck deckFromCsv(const csvio::Table& table, const CsvModelOptions& options);

} // namespace travik
