// Response patterns: the cases folded into distinct rows of responses, separately for the
// binary, the nominal and the ordinal items, each pattern with its frequency. Patterns keep
// the order in which they first occur in the data; a missing value stays the response 999,
// so cases with the same responses and the same missing items share a pattern.
#pragma once

#include "fixedio/layout.hpp"

#include "travik/likelihood.hpp"
#include "travik/model_state.hpp"

#include <string>
#include <vector>

namespace travik {

struct PatternTable {
    int items = 0;                 // responses per pattern
    std::vector<double> responses; // integer parts of the values, [p * items + i]
    std::vector<int> freq;         // cases with exactly this row
    std::vector<int> firstCase;    // the case (0-based) where the pattern first occurs

    int count() const { return static_cast<int>(freq.size()); }
    const double* row(int p) const {
        return responses.data() + static_cast<std::size_t>(p) * items;
    }
};

// Folds the data columns firstColumn .. firstColumn + items - 1. One pass over the cases with
// a hash of each row: the same patterns, order and frequencies as comparing every case with
// every later one.
PatternTable foldPatterns(const DataMatrix& x, int firstColumn, int items);

// Groups the cases whose rows are the same bit for bit into x.groups (model_state.hpp). Call it
// once the values are final: the loops over cases then visit each group once.
void groupIdenticalRows(DataMatrix& x);

// The binary items.
PatternTable foldBinary(const ModelState& m);

// mode 1: the nominal items; mode 2: the ordinal items.
PatternTable foldPolytomous(const ModelState& m, int mode);

// A response as the report prints it: its integer part, or asterisks for a missing value
// (and for a value too large to be any response).
fixedio::Value printedResponse(double value);

// The observed/expected table: each binary pattern's frequency, NCASE times its probability
// under the model (probability[p]), its responses; then NCASE and the sum of the expected
// frequencies.
std::string observedExpectedSection(const ModelState& m, const PatternTable& patterns,
                                    const std::vector<double>& probability);

} // namespace travik
