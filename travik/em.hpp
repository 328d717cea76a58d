// Maximum marginal likelihood by the EM algorithm over the quadrature grid (Bock & Aitkin
// 1981, Psychometrika 46, 443-459; Dempster, Laird & Rubin 1977, JRSS B 39, 1-38), for one
// factor and for two. Each cycle takes the E-step from the previous evaluation of the
// likelihood (estep.hpp: expected counts at every grid point), updates every item against them
// (mstep.hpp: no item's expected complete-data loglikelihood Q_i falls, so LOGL does not
// fall), re-evaluates the loglikelihood and tests its relative change.
//
// On request the cycles are accelerated by squared extrapolation with solved M-steps
// (accelerated_em.hpp). Either way, once the relative change is within TOL the fit is checked
// (newton_finish.hpp): it ends as converged only when the remaining gain is certified small,
// after Newton steps where EM alone stopped short. MAXIT counts EM cycles (loglikelihood
// evaluations when accelerated) and Newton steps together. The loglikelihood at the result is
// then evaluated again on a quadrature rule about twice as fine.
#pragma once

#include "fixedio/console.hpp"
#include "resultsio/convergence.hpp"
#include "travik/estep.hpp"
#include "travik/likelihood.hpp"
#include "travik/model_state.hpp"
#include "travik/quadrature.hpp"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace travik {

using TextSink = std::function<void(std::string_view)>;

struct EmOutput {
    TextSink report;   // the report (LI7.OUT)
    TextSink progress; // the progress file (fort.2)
    fixedio::Pause pause;
};

struct EstimationOptions {
    bool accelerate = false; // squared extrapolation with solved M-steps
    // The loglikelihood of the generated starting values, when the start was read instead: a
    // fit that ends below it (by more than kBelowGeneratedStart of its size) is not certified,
    // since the start read led it to a poorer place than the program's own start would.
    std::optional<double> generatedStartLoglik;
};

constexpr double kBelowGeneratedStart = 1e-6;

// The loglikelihood at the final estimates on a finer rule.
struct IntegrationCheck {
    bool done = false;
    int pointsPerFactor = 0; // of the finer rule (the full rule of that many points)
    double loglik = 0.0;
    double difference = 0.0; // finer minus the fit's
};

// Beyond this difference the rule of the fit is too coarse for the model: a warning says so.
constexpr double kIntegrationWarning = 0.01;

// What the estimation leaves for the later stages.
struct Estimation {
    Grid grid;
    ItemTables tables;                 // probabilities at the final parameters
    CaseWeights weights;               // FM and LOGL at the final parameters (no GJ rows)
    int iter = 0;                      // cycles run
    double rg = 0;                     // relative change of the last cycle
    bool converged = false;            // |RG| <= TOL at the last cycle
    resultsio::ConvergenceCheck check; // of the final estimates (when the cycles ended on numbers)
    std::vector<std::string> frozenItems; // items frozen at the bound ("binary item 2"), in order
    IntegrationCheck integration;
    bool diverged = false; // the divergence line was printed
    // Set when a loglikelihood or an estimate stopped being a finite number: the cycles
    // stopped there, the error line is in the report, and no later stage may run.
    std::string failure;
    std::vector<double> history; // LOGL at the start, then after every cycle
    // Two factors: the parameters of the last E-step, whose posterior gives the scores.
    Parameters posteriorParameters;
};

// Fits the model of m.deck.nf factors from the starting values in m.params, leaving the
// estimates there. Writes the iteration table and messages through out.
Estimation estimate(ModelState& m, const EmOutput& out, const EstimationOptions& options = {});

// Why a finished estimation is not a converged fit, one reason a line (none for a fit that
// converged, passed its check and did not diverge).
std::vector<std::string> unsuccessfulOutcome(const Deck& d, const Estimation& est);

// An item whose loadings have run away: the norm of its loadings (a nominal item's largest
// over its categories) above kFrozen, the bound at which the M-step stops moving an item. On
// the logit scale the item is then a step function of the factors, and the likelihood rises
// towards a bound it never reaches (a Heywood case). Returns the item in words ("ordinal item
// 2"), or empty.
std::string runawayItem(const Deck& d, const Parameters& p);

// The binary items and nominal categories frozen at the bound ("binary item 2", "nominal item
// 1 category 3"), in model order.
std::vector<std::string> frozenItems(const Deck& d, const Parameters& p);

// The loglikelihood of the current parameters on a grid (tables and weights left filled).
double loglikelihood(const ModelState& m, const Grid& grid, ItemTables& tables,
                     CaseWeights& weights);

} // namespace travik
