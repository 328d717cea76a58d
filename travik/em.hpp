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
#include <string>
#include <string_view>
#include <vector>

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
    bool converged = false; // |RG| <= TOL at the last cycle
    bool diverged = false;  // the divergence line was printed
    // Set when a loglikelihood or an estimate stopped being a finite number: the cycles
    // stopped there, the error line is in the report, and no later stage may run.
    std::string failure;
    std::vector<double> history; // LOGL at the start, then after every cycle
    // Two factors: each case's posterior weights from the last E-step, summed over the
    // other factor ([k * nq + t]).
    std::vector<double> posterior1, posterior2;
};

// Fits the model of m.deck.nf factors from the starting values in m.params, leaving the
// estimates there. Writes the iteration table and messages through out.
Estimation estimate(ModelState& m, const EmOutput& out);

// Why a finished estimation is not a converged fit, one reason a line (none for a fit that
// converged without diverging).
std::vector<std::string> unsuccessfulOutcome(const Deck& d, const Estimation& est);

// The loglikelihood of the current parameters on a grid (tables and weights left filled).
double loglikelihood(const ModelState& m, const Grid& grid, ItemTables& tables, CaseWeights& weights);

} // namespace travik
