// ploven-cases.csv: per case, in input order, its modal class and its posterior probability of
// every class; for pattern input, per pattern with its frequency and responses.
#pragma once

#include "ploven/csv_deck.hpp"
#include "ploven/results.hpp"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace ploven {

std::string casesFile(const RunRecord& r);

// What the cases file needs of a CSV deck: item names, IDs and the lines of the cases used and
// left out.
CsvCases csvCasesOf(const CsvDeck& csv);

// The cases file of a CSV run: one row per record of the file in its order, numbered 1.. from
// the first after the header, with the ID (under the column's own name), the modal class and
// the posterior of every class. classify(k, row) appends these for the k-th case used; a case
// left out gets empty cells. Without a fit the file is the header alone, ending at "class".
std::string
csvCasesFile(const CsvCases& csv, int nclass, bool fitted,
             const std::function<void(std::size_t, std::vector<std::string>&)>& classify);

} // namespace ploven
