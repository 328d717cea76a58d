// The rotation of two factors. The factors are independent standard normals, so a rotated
// pair z' = R z is distributed as z is, and loadings L and L R' give the same likelihood: the
// model is identified only once the rotation is fixed. The first item of the model (the first
// column of the data) is made to load on factor 1 only: its loading on factor 2 (a nominal
// item's category 2 loading) is 0. This is the triangular constraint of exploratory factor
// analysis with two factors (Anderson & Rubin 1956, Proc. Third Berkeley Symposium 5, 111-150).
//
// Starting values are rotated to satisfy it, which keeps their likelihood (up to the
// quadrature grid, which is not rotation invariant).
#pragma once

#include "travik/model_state.hpp"

#include <string>

namespace travik {

struct ParameterLayout;

// The item type of the first data column.
enum class Anchor { None, Binary, Normal, Nominal, Ordinal };

// The constrained item: None with one factor.
Anchor anchorItem(const Deck& d);

// Loadings estimated for item i of the given type: nf, or 1 for the constrained item (for a
// nominal item, category j; the constraint holds category 2 only).
int freeLoadings(const Deck& d, Anchor type, int i, int category = 2);

// Rotates every item's loading vector by the rotation that takes the constrained item's
// loadings (l1, l2) to (sqrt(l1^2 + l2^2), 0). Nothing to do for one factor or when the
// constrained item has no loading.
void rotateToAnchor(const Deck& d, Parameters& p);

// The fixed loading in words ("binary item 1's loading"); empty with one factor.
std::string fixedLoadingName(const Deck& d);

// Position of the fixed loading in the parameter vector, or -1 with one factor.
int fixedLoadingPosition(const Deck& d, const ParameterLayout& l);

} // namespace travik
