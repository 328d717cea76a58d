// Category numbers for a nominal or ordinal item read from a CSV column. Ordinal values must be
// numbers; their distinct values in ascending numeric order become categories 1..C. Nominal
// values may be text: when every value is a number they are ordered numerically like ordinal
// ones, otherwise by their bytes (so "Apple" < "apple" < "banana"). Numbers count as the same
// value when they are equal ("2" and "2.0"). An item takes 2 to 6 categories.
#pragma once

#include "csvio/table.hpp"

#include <cstddef>
#include <string>
#include <vector>

namespace travik {

struct CategoryCoding {
    std::vector<std::string> values; // values[c - 1]: category c as first written in the file
    std::vector<int> codes;          // per record: its category 1..C, or 0 when missing
};

// Throws latent::InputError naming the cell for a non-numeric ordinal value, and naming the
// column for fewer than 2 or more than 6 distinct values.
CategoryCoding codeCategories(const csvio::Table& table, std::size_t column, bool ordinal,
                              const std::vector<std::string>& missing);

} // namespace travik
