// The columns a model uses, named by their header names in lists by role (binary items,
// the ID column, ...). Every name must be in the header once, and no column may be named
// twice, within a list or across lists.
#pragma once

#include "csvio/table.hpp"

#include <cstddef>
#include <string>
#include <vector>

namespace csvio {

struct ColumnList {
    std::string role; // "a binary item", "the ID column": how messages name the list
    std::vector<std::string> names;
};

// The 0-based columns of each list, in the lists' order. Throws latent::InputError naming the
// header line for an unknown name, a name the header holds twice, or a column named twice.
std::vector<std::vector<std::size_t>> pickColumns(const Table& table,
                                                  const std::vector<ColumnList>& lists);

} // namespace csvio
