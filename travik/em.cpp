#include "travik/em.hpp"

#include "fixedio/layout.hpp"
#include "travik/mstep.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace travik {

namespace {

using fixedio::Layout;

// The divergence threshold is the single-precision value of -0.2.
const double kDivergence = static_cast<double>(-0.2f);

// The posterior weights of each case summed over the other factor.
class PosteriorMargins : public CaseVisitor {
public:
    PosteriorMargins(const Grid& grid, int cases, std::vector<double>& m1, std::vector<double>& m2)
        : grid_(grid), m1_(m1), m2_(m2) {
        m1_.assign(static_cast<std::size_t>(cases) * grid.nq, 0.0);
        m2_.assign(static_cast<std::size_t>(cases) * grid.nq, 0.0);
    }
    void visit(int k, const double* gj, double fm) override {
        const int nq = grid_.nq;
        double* h1 = m1_.data() + static_cast<std::size_t>(k) * nq;
        double* h2 = m2_.data() + static_cast<std::size_t>(k) * nq;
        // h1 sums over t2 within t1; h2 sums over t1, both in increasing order.
        for (int a = 0; a < nq; ++a)
            for (int b = 0; b < nq; ++b) {
                double hp = gj[a * nq + b] / fm;
                h1[a] += hp;
                h2[b] += hp;
            }
    }

private:
    const Grid& grid_;
    std::vector<double>& m1_;
    std::vector<double>& m2_;
};

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
    if (!est.converged) {
        char change[32], tol[32];
        std::snprintf(change, sizeof change, "%.6g", est.rg);
        std::snprintf(tol, sizeof tol, "%g", d.tol);
        reasons.push_back("no convergence within MAXIT = " + std::to_string(std::max(d.maxit, 1)) +
                          " cycles (relative change of the last cycle " + change + ", TOL " + tol + ")");
    }
    if (est.diverged)
        reasons.push_back("the iterative procedure diverged: the last cycle changed the loglikelihood by "
                          "more than 20 %");
    return reasons;
}

double loglikelihood(const ModelState& m, const Grid& grid, ItemTables& tables, CaseWeights& weights) {
    philik(m.deck, m.params, m.x, grid, tables, weights, false);
    return weights.logl;
}

Estimation estimate(ModelState& m, const EmOutput& out) {
    const Deck& d = m.deck;
    const bool two = d.nf == 2;
    Estimation est;
    out.progress(fixedio::freeLine({two ? "*** PROGRAM EM2 BEGIN ***" : " *** PROGRAM EM1 BEGIN ***"}));
    static const Layout heading1("/,/,'  ITER',5X,' PROP',7X,'LOGLIKELIHOOD',/");
    static const Layout heading2("/,/,'  ITER',5X,'PROP',7X,'LOGLIKELIHOOD',/");
    out.report((two ? heading2 : heading1).format({}));
    est.grid = gridFor(d);
    const Grid& grid = est.grid;
    const double tol = d.tol;

    // Each evaluation also collects the E-step of the next cycle.
    EStepTables e;
    auto evaluate = [&]() {
        EStep collector(d, m.x, grid.size, e);
        philik(d, m.params, m.x, grid, est.tables, est.weights, false, &collector);
        collector.finish();
        return est.weights.logl;
    };
    static const Layout line("I5,3X,F10.5,3X,F15.5");
    double logl = evaluate();
    est.history.push_back(logl);
    if (!std::isfinite(logl)) {
        est.failure = nonFiniteFailure(0, "THE LOGLIKELIHOOD");
        out.report(est.failure);
        return est;
    }
    Parameters previous; // the parameters before the last update
    int iter = 0;
    double rg = 0.0;
    for (;;) {
        ++iter;
        const double old = logl;
        previous = m.params;
        mstep(MStepInput{d, grid, est.tables, e, out.pause}, m.params);
        logl = evaluate();
        est.history.push_back(logl);
        if (!std::isfinite(logl) || !allFinite(m.params)) {
            est.failure = nonFiniteFailure(iter, std::isfinite(logl) ? "AN ESTIMATE" : "THE LOGLIKELIHOOD");
            est.iter = iter;
            out.report(est.failure);
            return est;
        }
        rg = (logl - old) / old;
        std::string row = line.format({iter, rg, logl});
        out.report(row);
        out.progress(row);
        if (std::fabs(rg) <= tol) {
            est.converged = true;
            break;
        }
        if (iter < d.maxit) continue;
        static const Layout exceeded("' *** MAX. NO. OF ITERATION EXCEEDED WITH RG STATISTICS :',F12.6");
        out.report("\n" + exceeded.format({rg}) + " MORE ITERATIONS NEEDED TO ACHIEVE CONVERGENCE.\n" +
                   " CHECK THE DERIVATIVES OF LOGLIKELIHOOD FOR FURTHER INFORMATION ON CONVERGENCE\n\n");
        out.progress(fixedio::freeLine({two ? " *** PROGRAM EM2 ENDED ***" : " *** PROGRAM EM1 ENDED ***"}));
        break;
    }
    est.diverged = rg < kDivergence;
    if (est.diverged) out.report(fixedio::freeLine({"*** ITERATIVE PROCEDURE DIVERGED ***"}));
    est.iter = iter;
    est.rg = rg;

    // The last E-step came from the parameters before the last update: its posterior
    // margins feed the two-factor scores.
    if (two) {
        PosteriorMargins margins(grid, d.ncase, est.posterior1, est.posterior2);
        philik(d, previous, m.x, grid, est.tables, est.weights, false, &margins);
    }
    // Final tables and every case's joint weights for the later stages.
    philik(d, m.params, m.x, grid, est.tables, est.weights, true);
    return est;
}

} // namespace travik
