// The M-step of one EM cycle: every item's update from the E-step tables and from the
// response probabilities of the parameters at the start of the cycle. Binary items and
// nominal categories take one Newton step, normal items a closed-form update, ordinal items
// one Newton-Raphson step on their thresholds and loadings. Every update is a safeguarded
// step: it never lowers that item's expected complete-data loglikelihood Q_i,
//     Q_i(theta_i) = sum_q sum_c r_iqc log P_ic(z_q; theta_i),
// with r_iqc the expected count of category c of item i at grid point z_q from the E-step
// (Bock & Aitkin 1981, Psychometrika 46, 443-459; the nominal response function of Bock 1972,
// the graded one of Samejima 1969).
//
// Solved M-steps (the accelerated fit): each item's update is repeated from its new values
// until Q_i stops rising, so the M-step is an exact maximization of every Q_i, not one step
// towards it; a nominal item's step then uses the whole multinomial information, the terms
// between its categories included.
//
// Two factors: the first item of the model loads on factor 1 only (its factor-2 loading, or
// for a nominal item that of its category 2, stays 0), which fixes the rotation of the factors.
#pragma once

#include "fixedio/console.hpp"
#include "travik/estep.hpp"
#include "travik/likelihood.hpp"

namespace travik {

struct MStepInput {
    const Deck& deck;
    const Grid& grid;
    const ItemTables& tables; // probabilities at the start of the cycle
    const EStepTables& e;
    const fixedio::Pause& pause;
    bool solve = false; // repeat every item's update until its Q_i stops rising
};

// Logistic item (binary item, or one nominal category against the reference): P, R and N
// over the grid. One loading: the two-parameter Newton step (intercept, loading 1); two: the
// three-parameter step with the information inverted by cofactors. Writes step[0..loadings];
// returns false (no step) for a zero determinant.
bool logisticDirection(const Grid& grid, int loadings, const double* p, const double* r,
                       const double* n, double* step);

// The closed-form update of normal item i on its mean and `loadings` loadings: the maximizer
// of its Q_i, into item (false when the moments cannot be inverted). A residual variance that
// comes out not positive keeps its old value.
bool normalUpdate(const MStepInput& in, int i, int loadings, NormalItem& item);

// The Newton-Raphson step of ordinal item i on (THR(1..O-1), `loadings` loadings), from the
// item's cumulative and category probabilities cumo[c], po[c] (c = 1..O); terms of categories
// no case is expected in are skipped. Returns false when there is no usable step. gradient
// receives the first derivatives and curvature the diagonal of the matrix (before it is
// inverted), for the gradient step that replaces a Newton step going the wrong way.
bool ordinalDirection(const MStepInput& in, int i, int O, int loadings, const double* const* cumo,
                      const double* const* po, std::vector<double>& step,
                      std::vector<double>& gradient, std::vector<double>& curvature);

// All items, in the order binary, normal, nominal, ordinal.
void mstep(const MStepInput& in, Parameters& p);

} // namespace travik
