#include "travik/em.hpp"

#include "fixedio/layout.hpp"
#include "travik/mstep.hpp"

#include <cmath>

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

} // namespace

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
    est.grid = makeGrid(d.nq, d.nf);
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
    Parameters previous; // the parameters before the last update
    int iter = 0;
    double rg = 0.0;
    for (;;) {
        ++iter;
        const double old = logl;
        previous = m.params;
        mstep(MStepInput{d, grid, est.tables, e, out.pause}, m.params);
        logl = evaluate();
        rg = (logl - old) / old;
        std::string row = line.format({iter, rg, logl});
        out.report(row);
        out.progress(row);
        if (std::fabs(rg) <= tol) break;
        if (iter < d.maxit) continue;
        static const Layout exceeded("' *** MAX. NO. OF ITERATION EXCEEDED WITH RG STATISTICS :',F12.6");
        out.report("\n" + exceeded.format({rg}) + " MORE ITERATIONS NEEDED TO ACHIEVE CONVERGENCE.\n" +
                   " CHECK THE DERIVATIVES OF LOGLIKELIHOOD FOR FURTHER INFORMATION ON CONVERGENCE\n\n");
        out.progress(fixedio::freeLine({two ? " *** PROGRAM EM2 ENDED ***" : " *** PROGRAM EM1 ENDED ***"}));
        break;
    }
    if (rg < kDivergence) out.report(fixedio::freeLine({"*** ITERATIVE PROCEDURE DIVERGED ***"}));
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
