// The item parameters as one vector, in the order of the standard errors: the blocks run
// binary, normal, nominal, ordinal, items in input order. Within a binary item the loadings
// come first and the intercept last (descending index); a normal item lists MU, its loadings
// and PSI; a nominal item each category J = 2..C's intercept and loadings in turn; an ordinal
// item its thresholds, then its loadings.
#pragma once

#include "travik/model_state.hpp"

#include <string>
#include <vector>

namespace travik {

// Positions of each item's parameters in the vector.
struct ParameterLayout {
    int count = 0;                            // P
    int nominalCategories = 0;                // sum over nominal items of (C - 1)
    std::vector<int> binary, normal, ordinal; // first position of each item
    std::vector<int> nominal;                 // first position of each item (category 2 first)

    // Position of ALPHAB(m, I) for binary item i.
    int binaryAt(int nf, int i, int m) const { return binary[i] + (nf - m); }
};
ParameterLayout parameterLayout(const Deck& d);

// Every parameter in words, in vector order, for messages: "binary item 2's loading 1",
// "normal item 1's residual variance", "nominal item 1's category 3 intercept", "ordinal item
// 2's threshold 1".
std::vector<std::string> parameterNames(const Deck& d);

// The parameters as a vector and back (p keeps what the vector does not hold: category
// counts, the unused second loadings of a one-factor model).
std::vector<double> packParameters(const Deck& d, const Parameters& p);
void unpackParameters(const Deck& d, const std::vector<double>& v, Parameters& p);

// Which parameters a fit moves: all but the fixed loading of a two-factor model and the
// parameters of frozen binary items and nominal categories (an intercept or loading at 10 or
// more: they stay where they are, at a bound of the fit).
std::vector<char> movingParameters(const Deck& d, const Parameters& p);

// Whether the parameters describe a model: every value a number, every residual variance
// positive, every ordinal item's thresholds increasing.
bool insideModel(const Parameters& p);

} // namespace travik
