#include "travik/newton_finish.hpp"

#include "travik/gradient.hpp"
#include "travik/likelihood.hpp"
#include "travik/observed_information.hpp"
#include "travik/parameter_vector.hpp"

#include <limits>

namespace travik {

namespace {

class TraitNewtonProblem : public numerics::NewtonProblem {
  public:
    // Works on m.params: each question sets them to the point asked about.
    TraitNewtonProblem(ModelState& m, const Grid& grid) : m_(m), grid_(grid) {}

    double loglikelihood(const Eigen::VectorXd& theta) override {
        setParameters(theta);
        if (!insideModel(m_.params)) return -std::numeric_limits<double>::infinity();
        ItemTables tables;
        CaseWeights weights;
        evaluateLikelihood(m_.deck, m_.params, m_.x, grid_, tables, weights, false, nullptr,
                           m_.threads);
        return weights.logl;
    }
    // The observed information where it is affordable (a direction of negative curvature in
    // it marks a saddle, which the finish leaves along that direction), else the
    // cross-product; either measured against the complete-data scale.
    void derivatives(const Eigen::VectorXd& theta, Eigen::VectorXd& gradient,
                     Eigen::MatrixXd& information, Eigen::VectorXd& reference,
                     numerics::Information& kind) override {
        setParameters(theta);
        Derivatives d = loglikelihoodDerivatives(m_, grid_);
        gradient = std::move(d.gradient);
        reference = d.completeScale;
        if (observedInformationWork(m_.deck, grid_) <= kObservedInformationBudget) {
            information = observedInformation(m_, grid_);
            kind = numerics::Information::Observed;
            return;
        }
        information = std::move(d.crossProduct);
        kind = numerics::Information::CrossProduct;
    }

  private:
    void setParameters(const Eigen::VectorXd& theta) {
        unpackParameters(m_.deck, std::vector<double>(theta.data(), theta.data() + theta.size()),
                         m_.params);
    }

    ModelState& m_;
    const Grid& grid_;
};

} // namespace

numerics::NewtonOutcome certifyFit(ModelState& m, const Grid& grid, double loglik, int maxSteps,
                                   const std::function<void(const numerics::NewtonStep&)>& onStep) {
    numerics::NewtonOptions options;
    options.maxSteps = maxSteps;
    options.free = movingParameters(m.deck, m.params);
    TraitNewtonProblem problem(m, grid);
    const std::vector<double> start = packParameters(m.deck, m.params);
    options.onStep = onStep;
    numerics::NewtonOutcome out = numerics::newtonFinish(
        problem,
        Eigen::Map<const Eigen::VectorXd>(start.data(), static_cast<Eigen::Index>(start.size())),
        loglik, options);
    unpackParameters(m.deck,
                     std::vector<double>(out.theta.data(), out.theta.data() + out.theta.size()),
                     m.params);
    return out;
}

} // namespace travik
