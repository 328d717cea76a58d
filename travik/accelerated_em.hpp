// The EM cycle of travik as an EM map for squared extrapolation (numerics/squarem.hpp). The
// coordinates are the parameter vector with each residual variance PSI replaced by its
// logarithm, so that an extrapolated point keeps every PSI positive; a point outside the model
// (thresholds out of order, a value that is not a number) has loglikelihood -infinity.
//
// The first kPlainCyclesFirst cycles are plain EM, one update per item as in the plain fit:
// far from the top, a long extrapolated step, or an item's M-step solved against an E-step that
// is still far off, can carry the fit into another basin of the likelihood than the one plain
// EM climbs in. After them the M-steps are solved and the cycles extrapolated.
#pragma once

#include "fixedio/console.hpp"
#include "numerics/squarem.hpp"
#include "travik/estep.hpp"
#include "travik/likelihood.hpp"

namespace travik {

constexpr int kPlainCyclesFirst = 10;

class TraitEmMap : public numerics::EmMap {
  public:
    TraitEmMap(const ModelState& m, const Grid& grid, const fixedio::Pause& pause);

    // Whether update() solves each item's M-step (else one step, as plain EM takes).
    void solveMSteps(bool solve) { solve_ = solve; }

    double evaluate(const Eigen::VectorXd& theta) override;
    Eigen::VectorXd update() override;
    void keep() override;
    void restore() override;
    // An extrapolation may not take an item's loadings past the bound at which the M-step
    // freezes it: beyond it the item is a step function of the factors, where the likelihood
    // has no maximum, and a jump there would leave the basin plain EM climbs in.
    bool admissible(const Eigen::VectorXd& theta) override;

    // Coordinates of parameters, and the parameters of coordinates.
    Eigen::VectorXd coordinates(const Parameters& p) const;
    Parameters parameters(const Eigen::VectorXd& theta) const;

    // The point evaluated last and its tables.
    const Parameters& current() const { return current_; }
    const ItemTables& tables() const { return tables_; }
    const CaseWeights& weights() const { return weights_; }

  private:
    struct State {
        Parameters params;
        ItemTables tables;
        EStepTables e;
    };

    const ModelState& m_;
    const Grid& grid_;
    const fixedio::Pause& pause_;
    bool solve_ = true;
    std::vector<int> logScale_; // positions of the residual variances
    Parameters current_;
    ItemTables tables_;
    CaseWeights weights_;
    EStepTables e_;
    State kept_;
};

} // namespace travik
