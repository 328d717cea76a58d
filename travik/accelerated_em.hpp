// The EM cycle of travik as an EM map for squared extrapolation (numerics/squarem.hpp). The
// coordinates are the parameter vector with each residual variance PSI replaced by its
// logarithm, so that an extrapolated point keeps every PSI positive; a point outside the model
// (thresholds out of order, a value that is not a number) has loglikelihood -infinity. The
// M-steps are solved (mstep.hpp).
#pragma once

#include "numerics/squarem.hpp"
#include "travik/estep.hpp"
#include "travik/inv.hpp"
#include "travik/likelihood.hpp"

namespace travik {

class TraitEmMap : public numerics::EmMap {
  public:
    TraitEmMap(const ModelState& m, const Grid& grid, const Pause& pause);

    double evaluate(const Eigen::VectorXd& theta) override;
    Eigen::VectorXd update() override;
    void keep() override;
    void restore() override;

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
    const Pause& pause_;
    std::vector<int> logScale_; // positions of the residual variances
    Parameters current_;
    ItemTables tables_;
    CaseWeights weights_;
    EStepTables e_;
    State kept_;
};

} // namespace travik
