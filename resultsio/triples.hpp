// How many third-order margins the reports list: both estimators leave the (1,1,1) table out
// beyond a fixed number of triples, with a line that says why.
#pragma once

#include <cstddef>
#include <string>

namespace resultsio {

// Third-order margins list every triple of items; beyond this many triples (about 50 items)
// the reports leave them out with a line saying why: their tables and sections grow with the
// cube of the items, and with 100 items (161,700 triples, 12 MB of report) they took more
// than half of a run of 3000 cases.
constexpr std::size_t kMostTriplesListed = 20000;

// "LEFT OUT: 60 ITEMS GIVE 34220 TRIPLES, MORE THAN THE 20000 LISTED AT MOST" (indent and a
// line end included).
std::string triplesLeftOut(int items, std::size_t triples, int indent);

// Triples of n items.
inline std::size_t tripleCount(long long n) {
    const auto m = static_cast<std::size_t>(n < 0 ? 0 : n);
    return n < 3 ? 0 : m * (m - 1) * (m - 2) / 6;
}

} // namespace resultsio
