// The input stage: the deck "LAT.INP" (title, counts, categories, control values, one data
// record per case), its validation, the observed margins, the missingness weights and the
// starting values (generated, or read from "LAT3.INP").
#pragma once

#include "fixedio/freeread.hpp"
#include "travik/model_state.hpp"
#include "travik/starting_values.hpp"

#include <optional>
#include <string>

namespace travik {

// Reads records 1 to 5 and checks them, then reads the data. Returns the report line of the
// first check that fails (the run then ends), or nothing when the deck is accepted.
// Malformed input (a word for a number, an early end of file) throws latent::InputError.
// A deck whose record 3 or 4 should be an empty line but holds values was most likely written
// without that line; hint then receives a sentence that says so, and every InputError of the
// later records carries it too.
std::optional<std::string> readDeck(fixedio::FreeReader& in, ModelState& m,
                                    std::string* hint = nullptr);

// Shares of 1, of each category and of missing values per item, the share of cases with a
// missing value, and each case's missingness weight WMISS.
void computeObservedMargins(ModelState& m);

// Starting values read from "LAT3.INP": records in the order binary, normal, nominal, ordinal.
void readStartingValues(fixedio::FreeReader& in, ModelState& m);

} // namespace travik
