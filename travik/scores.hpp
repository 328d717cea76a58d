// Factor scores: each case's posterior mean and standard deviation of every factor
// (`posmean`) and its component scores (`component`), and the "***Scoring Response
// Patterns***" table that lists them case by case in ascending order of E(Z1/X).
#pragma once

#include "travik/em.hpp"
#include "travik/model_state.hpp"

#include <string>
#include <vector>

namespace travik {

struct Scores {
    std::vector<double> ez1, sd1, ez2, sd2; // posterior means and standard deviations
    std::vector<double> cs1, cs2;           // component scores
};

// One factor: the posterior weights GJ(k,t) / FM(k) of the final estimates (FM as raised by
// the standard errors). Two factors: the posterior margins of the last E-step. A posterior
// variance that rounding makes slightly negative counts as 0.
void posmean(const Deck& d, const Estimation& est, Scores& s);

// Binary items answered 1 add their loading; observed normal items add x LAMBDA / PSI;
// observed nominal items add the loading of their category (category 1 adds 0). Ordinal
// items do not enter.
void component(const ModelState& m, Scores& s);

// Positions in ascending order of key; equal keys keep their order, as in a bubble sort that
// exchanges neighbours only when the earlier one is strictly greater. The score table lists
// the cases in this order of E(Z1/X).
std::vector<int> ascendingOrder(const std::vector<double>& key);

// The sum of a case's values over its items; a missing value adds nothing.
double caseTotal(const double* row, int nv);

std::string scoringSection(const ModelState& m, const Scores& s, const std::vector<int>& order);

} // namespace travik
