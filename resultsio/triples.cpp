#include "resultsio/triples.hpp"

namespace resultsio {

std::string triplesLeftOut(int items, std::size_t triples, int indent) {
    return std::string(static_cast<std::size_t>(indent), ' ') +
           "LEFT OUT: " + std::to_string(items) + " ITEMS GIVE " + std::to_string(triples) +
           " TRIPLES, MORE THAN THE " + std::to_string(kMostTriplesListed) + " LISTED AT MOST\n";
}

} // namespace resultsio
