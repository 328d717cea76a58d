// The M-step of one EM cycle: every item's update from the E-step tables and from the
// response probabilities of the parameters at the start of the cycle. Binary items and
// nominal categories take one Newton step, normal items a closed-form update, ordinal items
// one Newton-Raphson step on their thresholds and loadings.
#pragma once

#include "travik/estep.hpp"
#include "travik/inv.hpp"
#include "travik/likelihood.hpp"

namespace travik {

struct MStepInput {
    const Deck& deck;
    const Grid& grid;
    const ItemTables& tables; // probabilities at the start of the cycle
    const EStepTables& e;
    const Pause& pause;
};

// Items whose intercept or a loading has reached 10 are frozen (a signed test: -15 is not).
constexpr double kFrozen = 10.0;

// Logistic item (binary item, or one nominal category against the reference): P, R and N
// over the grid. One factor: the two-parameter step; two factors: the three-parameter step
// with the information inverted by cofactors. Updates a[0..nf]; a zero determinant leaves
// them unchanged.
void logisticStep(const Grid& grid, const double* p, const double* r, const double* n, std::array<double, 3>& a);

void normalStep(const MStepInput& in, int i, NormalItem& item);
void ordinalStep(const MStepInput& in, int i, OrdinalItem& item);

// All items, in the order binary, normal, nominal, ordinal.
void mstep(const MStepInput& in, Parameters& p);

} // namespace travik
