// EM estimation over the quadrature grid: `em1` (one factor) and `em2` (two factors). Each
// cycle takes the E-step from the previous evaluation of the likelihood, updates every item,
// re-evaluates the loglikelihood and tests its relative change.
#pragma once

#include "travik/estep.hpp"
#include "travik/inv.hpp"
#include "travik/likelihood.hpp"
#include "travik/model_state.hpp"
#include "travik/quadrature.hpp"

#include <functional>
#include <string_view>

namespace travik {

using TextSink = std::function<void(std::string_view)>;

struct EmOutput {
    TextSink report;   // the report (LI7.OUT)
    TextSink progress; // the progress file (fort.2)
    Pause pause;
};

// What the estimation leaves for the later stages.
struct Estimation {
    Grid grid;
    ItemTables tables;   // probabilities at the final parameters
    CaseWeights weights; // GJ (every row), FM and LOGL at the final parameters
    int iter = 0;        // cycles run
    double rg = 0;       // relative change of the last cycle
    // Two factors: each case's posterior weights from the last E-step, summed over the
    // other factor ([k * nq + t]).
    std::vector<double> posterior1, posterior2;
};

// Fits the model of m.deck.nf factors from the starting values in m.params, leaving the
// estimates there. Writes the iteration table and messages through out.
Estimation estimate(ModelState& m, const EmOutput& out);

// The loglikelihood of the current parameters on a grid (tables and weights left filled).
double loglikelihood(const ModelState& m, const Grid& grid, ItemTables& tables, CaseWeights& weights);

} // namespace travik
