#include "travik/em.hpp"

#include "fixedio/layout.hpp"
#include "travik/accelerated_em.hpp"
#include "travik/identification.hpp"
#include "travik/mstep.hpp"
#include "travik/newton_finish.hpp"
#include "travik/parameter_vector.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace travik {

namespace {

using fixedio::Layout;

// The divergence threshold is the single-precision value of -0.2.
const double kDivergence = static_cast<double>(-0.2f);

bool allFinite(const Parameters& p) {
    auto finite = [](auto first, auto last) {
        for (; first != last; ++first)
            if (!std::isfinite(*first)) return false;
        return true;
    };
    for (const BinaryItem& b : p.binary)
        if (!finite(b.alpha.begin(), b.alpha.end())) return false;
    for (const NormalItem& n : p.normal)
        if (!std::isfinite(n.mu) || !std::isfinite(n.lambda1) || !std::isfinite(n.lambda2) ||
            !std::isfinite(n.psi))
            return false;
    for (const NominalItem& c : p.nominal)
        for (const auto& a : c.ac)
            if (!finite(a.begin(), a.end())) return false;
    for (const OrdinalItem& o : p.ordinal)
        if (!finite(o.thr.begin(), o.thr.end()) || !finite(o.ao.begin(), o.ao.end())) return false;
    return true;
}

// The report line of a run stopped by a value that is not a finite number.
std::string nonFiniteFailure(int cycle, const std::string& what) {
    if (cycle == 0)
        return "   ***ERROR***  " + what + " AT THE STARTING VALUES IS NOT A FINITE NUMBER\n";
    static const Layout line("'   ***ERROR***  ',A,' IS NOT A FINITE NUMBER AFTER CYCLE',I5");
    return line.format({what, cycle});
}

} // namespace

std::vector<std::string> unsuccessfulOutcome(const Deck& d, const Estimation& est) {
    std::vector<std::string> reasons;
    if (!est.failure.empty()) {
        // The report's error line without its indentation and line end.
        const std::size_t from = est.failure.find_first_not_of(' ');
        const std::size_t to = est.failure.find_last_not_of(" \n");
        reasons.push_back(est.failure.substr(from, to + 1 - from));
        return reasons;
    }
    const std::string figures =
        est.check.checked ? "; " + resultsio::convergenceFigures(est.check) : "";
    if (!est.converged) {
        char change[32], tol[32];
        std::snprintf(change, sizeof change, "%.6g", est.rg);
        std::snprintf(tol, sizeof tol, "%g", d.tol);
        reasons.push_back("no convergence within MAXIT = " + std::to_string(std::max(d.maxit, 1)) +
                          " cycles (relative change of the last cycle " + change + ", TOL " + tol +
                          figures + ")");
    } else if (est.check.checked && !est.check.certified) {
        reasons.push_back("no certified maximum: " + est.check.reason + " (" +
                          resultsio::convergenceFigures(est.check) + ", limit " +
                          resultsio::scientific(est.check.gainLimit) + ")");
    }
    if (est.diverged)
        reasons.push_back(
            "the iterative procedure diverged: the last cycle changed the loglikelihood by "
            "more than 20 %");
    return reasons;
}

std::vector<std::string> frozenItems(const Deck& d, const Parameters& p) {
    std::vector<std::string> frozen;
    for (int i = 0; i < d.nb; ++i)
        if (!belowFrozen(p.binary[i].alpha, d.nf))
            frozen.push_back("binary item " + std::to_string(i + 1));
    for (int i = 0; i < d.nc; ++i)
        for (int j = 2; j <= d.c[i]; ++j)
            if (!belowFrozen(p.nominal[i].ac[j], d.nf))
                frozen.push_back("nominal item " + std::to_string(i + 1) + " category " +
                                 std::to_string(j));
    return frozen;
}

std::string runawayItem(const Deck& d, const Parameters& p) {
    auto norm = [&](double a1, double a2) { return std::hypot(a1, d.nf == 2 ? a2 : 0.0); };
    for (int i = 0; i < d.nb; ++i)
        if (norm(p.binary[i].alpha[1], p.binary[i].alpha[2]) > kFrozen)
            return "binary item " + std::to_string(i + 1);
    for (int i = 0; i < d.nc; ++i)
        for (int j = 2; j <= d.c[i]; ++j)
            if (norm(p.nominal[i].ac[j][1], p.nominal[i].ac[j][2]) > kFrozen)
                return "nominal item " + std::to_string(i + 1);
    for (int i = 0; i < d.no; ++i)
        if (norm(p.ordinal[i].ao[1], p.ordinal[i].ao[2]) > kFrozen)
            return "ordinal item " + std::to_string(i + 1);
    return "";
}

double loglikelihood(const ModelState& m, const Grid& grid, ItemTables& tables,
                     CaseWeights& weights) {
    evaluateLikelihood(m.deck, m.params, m.x, grid, tables, weights, false, nullptr, m.threads);
    return weights.logl;
}

namespace {

static const Layout kCycleLine("I5,3X,F10.5,3X,F15.5");

// Where the EM phase ended.
struct EmPhase {
    int cycles = 0;
    double rg = 0.0;
    double logl = 0.0;
    bool converged = false;
};

// One line of the iteration table, in the report and the progress file.
void cycleLine(const EmOutput& out, int cycle, double rg, double logl) {
    const std::string row = kCycleLine.format({cycle, rg, logl});
    out.report(row);
    out.progress(row);
}

void maxitMessage(const EmOutput& out, bool two, double rg) {
    static const Layout exceeded(
        "' *** MAX. NO. OF ITERATION EXCEEDED WITH RG STATISTICS :',F12.6");
    out.report(
        "\n" + exceeded.format({rg}) + " MORE ITERATIONS NEEDED TO ACHIEVE CONVERGENCE.\n" +
        " CHECK THE DERIVATIVES OF LOGLIKELIHOOD FOR FURTHER INFORMATION ON CONVERGENCE\n\n");
    out.progress(
        fixedio::freeLine({two ? " *** PROGRAM EM2 ENDED ***" : " *** PROGRAM EM1 ENDED ***"}));
}

// A cycle that ended on a value that is not a number stops the run there.
bool stoppedOnNonFinite(double logl, const Parameters& p, int cycle, const EmOutput& out,
                        Estimation& est) {
    if (std::isfinite(logl) && allFinite(p)) return false;
    est.failure =
        nonFiniteFailure(cycle, std::isfinite(logl) ? "AN ESTIMATE" : "THE LOGLIKELIHOOD");
    est.iter = cycle;
    out.report(est.failure);
    return true;
}

// The specified cycles: E-step from the last evaluation, one M-step, evaluation, relative
// change against TOL, at most MAXIT cycles.
EmPhase plainEm(ModelState& m, const EmOutput& out, Estimation& est, Parameters& previous) {
    const Deck& d = m.deck;
    const Grid& grid = est.grid;
    EmPhase phase;
    // Each evaluation also collects the E-step of the next cycle.
    EStepTables e;
    auto evaluate = [&]() {
        EStep collector(d, m.x, grid.size, e);
        evaluateLikelihood(d, m.params, m.x, grid, est.tables, est.weights, false, &collector,
                           m.threads);
        collector.finish();
        return est.weights.logl;
    };
    phase.logl = evaluate();
    est.history.push_back(phase.logl);
    if (!std::isfinite(phase.logl)) {
        est.failure = nonFiniteFailure(0, "THE LOGLIKELIHOOD");
        out.report(est.failure);
        return phase;
    }
    for (;;) {
        const int iter = ++phase.cycles;
        const double old = phase.logl;
        previous = m.params;
        mstep(MStepInput{d, grid, est.tables, e, out.pause}, m.params);
        phase.logl = evaluate();
        est.history.push_back(phase.logl);
        if (stoppedOnNonFinite(phase.logl, m.params, iter, out, est)) return phase;
        phase.rg = (phase.logl - old) / old;
        cycleLine(out, iter, phase.rg, phase.logl);
        if (std::fabs(phase.rg) <= d.tol) {
            phase.converged = true;
            return phase;
        }
        if (iter < d.maxit) continue;
        maxitMessage(out, d.nf == 2, phase.rg);
        return phase;
    }
}

// Squared extrapolation with solved M-steps: a table line for every point an iteration ends
// at, numbered by the cycles (loglikelihood evaluations) spent so far; the relative change is
// that between consecutive such points.
EmPhase acceleratedEm(ModelState& m, const EmOutput& out, Estimation& est, Parameters& previous) {
    const Deck& d = m.deck;
    const int budget = std::max(d.maxit, 1);
    EmPhase phase;
    TraitEmMap map(m, est.grid, out.pause);
    Eigen::VectorXd theta = map.coordinates(m.params);
    phase.logl = map.evaluate(theta);
    est.history.push_back(phase.logl);
    if (!std::isfinite(phase.logl)) {
        est.failure = nonFiniteFailure(0, "THE LOGLIKELIHOOD");
        out.report(est.failure);
        return phase;
    }
    numerics::SquaremStep bound;
    for (;;) {
        const int left = budget - phase.cycles;
        const double old = phase.logl;
        previous = m.params;
        const bool settled = phase.cycles >= kPlainCyclesFirst;
        map.solveMSteps(settled);
        if (left >= 2 && settled) {
            const numerics::SquaremResult r =
                numerics::squaremIteration(map, theta, old, bound, left >= 3);
            theta = r.theta;
            phase.logl = r.loglik;
            phase.cycles += r.evaluations;
        } else {
            theta = map.update();
            phase.logl = map.evaluate(theta);
            phase.cycles += 1;
        }
        m.params = map.current();
        est.history.push_back(phase.logl);
        if (stoppedOnNonFinite(phase.logl, m.params, phase.cycles, out, est)) return phase;
        phase.rg = (phase.logl - old) / old;
        cycleLine(out, phase.cycles, phase.rg, phase.logl);
        if (std::fabs(phase.rg) <= d.tol) {
            phase.converged = true;
            return phase;
        }
        if (phase.cycles < budget) continue;
        maxitMessage(out, d.nf == 2, phase.rg);
        return phase;
    }
}

// Why a check that did not pass failed, in words.
std::string notCertifiedReason(const numerics::NewtonOutcome& o, bool emConverged) {
    if (!o.model.finite) return "the gradient or the information is not a finite number";
    if (!emConverged) return "EM did not meet its stop rule within MAXIT cycles";
    if (o.model.negativeCurvature && o.stalled)
        return "the fit is at a saddle point, and no step along its direction of negative "
               "curvature "
               "raised the loglikelihood";
    if (o.model.negativeCurvature)
        return "the fit is still beside a saddle point when MAXIT runs out";
    if (o.stalled) return "no Newton step raised the loglikelihood";
    return "the cycle limit MAXIT was reached during the Newton finish";
}

// The check of the EM result and, where it fails, the Newton finish (within what is left of
// MAXIT); Newton steps go to the progress file as lines of the iteration table.
void checkAndFinish(ModelState& m, const EmOutput& out, Estimation& est, const EmPhase& phase,
                    const EstimationOptions& options, Parameters& previous) {
    const bool accelerated = options.accelerate;
    const Deck& d = m.deck;
    resultsio::ConvergenceCheck& c = est.check;
    const int left = phase.converged ? std::max(d.maxit, 1) - phase.cycles : 0;
    double last = phase.logl;
    const numerics::NewtonOutcome o =
        certifyFit(m, est.grid, phase.logl, left, [&](const numerics::NewtonStep& s) {
            out.progress(
                kCycleLine.format({phase.cycles + s.step, (s.loglik - last) / last, s.loglik}));
            last = s.loglik;
            est.history.push_back(s.loglik);
        });
    // Newton steps leave no E-step behind them: the two-factor scores then take their
    // posterior at the final estimates, not at the EM result the steps moved away from.
    if (!o.steps.empty()) previous = m.params;
    c.checked = true;
    c.accelerated = accelerated;
    c.emCycles = phase.cycles;
    c.phase = !o.steps.empty() ? resultsio::FitPhase::Newton
              : accelerated    ? resultsio::FitPhase::AcceleratedEm
                               : resultsio::FitPhase::Em;
    for (const numerics::NewtonStep& s : o.steps)
        c.newton.push_back({s.step, s.loglik, s.fraction, s.gain});
    c.largestGradient = o.model.largestGradient;
    c.remainingGain = o.model.gain;
    c.gainLimit = numerics::kCertifiedGain;
    c.observedInformation = o.information == numerics::Information::Observed;
    int fixed = 0;
    for (char moving : movingParameters(d, m.params)) fixed += !moving;
    c.leftOut = fixed + o.model.unresolved;
    c.certified = phase.converged && o.certified;
    c.cycleLimit = !phase.converged || o.outOfSteps;
    if (!c.certified) c.reason = notCertifiedReason(o, phase.converged);
    if (const std::string item = runawayItem(d, m.params); c.certified && !item.empty()) {
        c.certified = false;
        c.reason = "the loadings of " + item +
                   " are beyond 10, where the item is a step function of the factors and the "
                   "likelihood has no maximum in them";
    }
    // Nothing moved at all: every item is frozen at the bound.
    if (c.certified && fixed == static_cast<int>(movingParameters(d, m.params).size())) {
        c.certified = false;
        c.reason = "every item is frozen at the bound of an intercept or loading of 10, so the fit "
                   "could not move";
    }
    const double start = options.generatedStartLoglik.value_or(-INFINITY);
    if (c.certified && o.loglik < start - kBelowGeneratedStart * std::max(1.0, std::fabs(start))) {
        char figures[96];
        std::snprintf(figures, sizeof figures, "%.5f, below the %.5f", o.loglik, start);
        c.certified = false;
        c.reason = std::string("the fit ends at ") + figures +
                   " of the program's own starting values: the starting values read led to a "
                   "poorer place (start from generated values, INIT = 0)";
    }
    est.frozenItems = frozenItems(d, m.params);
}

// The loglikelihood of the final estimates on the full rule of about twice the points.
IntegrationCheck integrationCheck(const ModelState& m, const Grid& grid, double logl) {
    IntegrationCheck check;
    const int points = std::min(2 * grid.nq, kMostRulePoints);
    if (points <= grid.nq) return check;
    const Grid fine = makeFullGrid(points, grid.nf);
    ItemTables t;
    CaseWeights w;
    check.done = true;
    check.pointsPerFactor = points;
    check.loglik = loglikelihood(m, fine, t, w);
    check.difference = check.loglik - logl;
    // Estimates that overflow on the finer rule's outer points have no figure to show there.
    check.done = std::isfinite(check.loglik);
    return check;
}

} // namespace

Estimation estimate(ModelState& m, const EmOutput& out, const EstimationOptions& options) {
    const Deck& d = m.deck;
    const bool two = d.nf == 2;
    Estimation est;
    out.progress(
        fixedio::freeLine({two ? "*** PROGRAM EM2 BEGIN ***" : " *** PROGRAM EM1 BEGIN ***"}));
    static const Layout heading1("/,/,'  ITER',5X,' PROP',7X,'LOGLIKELIHOOD',/");
    static const Layout heading2("/,/,'  ITER',5X,'PROP',7X,'LOGLIKELIHOOD',/");
    out.report((two ? heading2 : heading1).format({}));
    est.grid = gridFor(d);
    const Grid& grid = est.grid;
    rotateToAnchor(d, m.params);

    Parameters previous = m.params; // the parameters before the last update
    const EmPhase phase =
        options.accelerate ? acceleratedEm(m, out, est, previous) : plainEm(m, out, est, previous);
    if (!est.failure.empty()) return est;
    est.diverged = phase.rg < kDivergence;
    if (est.diverged) out.report(fixedio::freeLine({"*** ITERATIVE PROCEDURE DIVERGED ***"}));
    est.converged = phase.converged;
    est.rg = phase.rg;
    checkAndFinish(m, out, est, phase, options, previous);
    est.iter = phase.cycles + static_cast<int>(est.check.newton.size());

    // The last E-step came from the parameters before the last update: its posterior
    // margins feed the two-factor scores.
    if (two) est.posteriorParameters = previous;
    // Final tables, FM and LOGL for the later stages; they compute a case's joint weights again
    // when they need them.
    evaluateLikelihood(d, m.params, m.x, grid, est.tables, est.weights, false, nullptr, m.threads);
    est.integration = integrationCheck(m, grid, est.weights.logl);
    return est;
}

} // namespace travik
