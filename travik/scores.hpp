// Factor scores: each case's expected a posteriori (EAP) score, the posterior mean of every
// factor, with its posterior standard deviation (`posteriorMeans`), its component scores
// (`componentScores`), and the "***Scoring Response Patterns***" table that lists them case
// by case in ascending order of E(Z1/X).
//
//   E(z | x) = sum_t z_t h(z_t | x),  h(z_t | x) = w_t f(x | z_t) / f(x)
//
// over the Gauss-Hermite nodes z_t with weights w_t (Bock & Aitkin 1981). The component score
// is the sufficient statistic of the logit/normal model, sum_i alpha_i x_i (Bartholomew,
// Knott & Moustaki 2011, Latent Variable Models and Factor Analysis, 3rd ed., ch. 4).
#pragma once

#include "travik/em.hpp"
#include "travik/model_state.hpp"

#include <string>
#include <vector>

namespace travik {

struct Scores {
    // EAP scores (posterior means) and posterior standard deviations of factors 1 and 2
    std::vector<double> eap1, eapSd1, eap2, eapSd2;
    std::vector<double> component1, component2; // component scores
};

// One factor: the posterior weights GJ(k,t) / FM(k) of the final estimates (FM raised as for
// the standard errors, variance.hpp). Two factors: the posterior margins at the parameters of
// the last E-step (est.posteriorParameters). A posterior variance that rounding makes slightly
// negative counts as 0. Each case's posterior is computed in blocks of cases on m.threads
// threads and dropped once its scores are taken.
void posteriorMeans(const ModelState& m, const Estimation& est, Scores& s);

// Binary items answered 1 add their loading; observed normal items add x LAMBDA / PSI;
// observed nominal items add the loading of their category (category 1 adds 0). Ordinal
// items do not enter.
void componentScores(const ModelState& m, Scores& s);

// Positions in ascending order of key; equal keys keep their order, as in a bubble sort that
// exchanges neighbours only when the earlier one is strictly greater. The score table lists
// the cases in this order of E(Z1/X).
std::vector<int> ascendingOrder(const std::vector<double>& key);

// The sum of a case's values over its items; a missing value adds nothing.
double caseTotal(const double* row, int nv);

std::string scoringSection(const ModelState& m, const Scores& s, const std::vector<int>& order);

} // namespace travik
