// Squared extrapolation of an EM map (SQUAREM, scheme S3: Varadhan & Roland 2008, "Simple and
// globally convergent methods for accelerating the convergence of any EM algorithm",
// Scandinavian Journal of Statistics 35, 335-353).
//
// From theta0, two EM steps give theta1 = F(theta0) and theta2 = F(theta1). With
//     r = theta1 - theta0,  v = theta2 - 2 theta1 + theta0,  alpha = |r| / |v|,
// the extrapolated point is
//     theta' = theta0 + 2 alpha r + alpha^2 v,
// which for alpha = 1 is theta2 itself. alpha is kept in [1, stepMax]; stepMax grows fourfold
// each time alpha reaches it and shrinks fourfold when that extrapolation is refused (the
// adaptive step bound of the authors' SQUAREM package).
//
// Monotonicity safeguard: theta' is taken only when the problem admits it and its loglikelihood
// is a number and not below that of theta2; otherwise the iteration ends at theta2, the plain EM
// result. The
// loglikelihoods of the points an iteration ends at therefore never fall: L0 <= L1 <= L2 <= L'.
// The next iteration's first EM step from theta' is the stabilizing step of the scheme.
#pragma once

#include <Eigen/Dense>

#include <utility>
#include <vector>

namespace numerics {

// One EM problem as the accelerator sees it, in coordinates of the problem's own choice (a
// variance by its logarithm, say, so that extrapolation stays inside the model more often).
class EmMap {
  public:
    virtual ~EmMap() = default;
    // The loglikelihood at theta, or -infinity (or not a number) where theta lies outside the
    // model. The E-step of theta is kept for update().
    virtual double evaluate(const Eigen::VectorXd& theta) = 0;
    // One M-step from the E-step of the point evaluated last: F(that point).
    virtual Eigen::VectorXd update() = 0;
    // Keeps the E-step of the point evaluated last, and brings it back, so that a refused
    // extrapolation costs no second evaluation of theta2.
    virtual void keep() = 0;
    virtual void restore() = 0;
    // Whether an extrapolated point may be taken at all (EM steps themselves always are): a
    // problem can keep extrapolation away from regions where the likelihood has no maximum.
    virtual bool admissible(const Eigen::VectorXd& /*theta*/) { return true; }
};

// An EM problem whose point is a set of estimates with its E-step: the caller's est and h, which
// hold the point evaluated last. keep and restore exchange them with a pair set aside (buffers
// swapped, not copied). The last M-step's point is kept beside its coordinates, so that a point
// an EM step made is read back from that step's own estimates (isUpdated): a refused
// extrapolation is then exactly two plain EM cycles.
template <class Estimates> class EstimatesEmMap : public EmMap {
  public:
    EstimatesEmMap(Estimates& est, std::vector<double>& h)
        : est_(est), h_(h), updatedEst_(est), keptEst_(est), keptH_(h.size()) {}
    void keep() override {
        std::swap(est_, keptEst_);
        std::swap(h_, keptH_);
    }
    void restore() override {
        std::swap(est_, keptEst_);
        std::swap(h_, keptH_);
    }

  protected:
    // Whether theta is the last M-step's point.
    bool isUpdated(const Eigen::VectorXd& theta) const {
        return theta.size() == updated_.size() && (theta.array() == updated_.array()).all();
    }

    Estimates& est_;
    std::vector<double>& h_;
    Eigen::VectorXd updated_; // the last M-step's point, in coordinates
    Estimates updatedEst_;    // and as estimates

  private:
    Estimates keptEst_;
    std::vector<double> keptH_;
};

struct SquaremStep {
    double stepMax = 1.0; // the current bound on alpha
};

struct SquaremResult {
    Eigen::VectorXd theta;     // where the iteration ends
    double loglik = 0.0;       // its loglikelihood (its E-step is the problem's current one)
    int evaluations = 0;       // loglikelihood evaluations spent (2 or 3)
    bool extrapolated = false; // theta' was taken
};

// One accelerated iteration from theta0, the point evaluated last (loglikelihood loglik0).
// Needs two evaluations at least; pass allowExtrapolation = false when only two are left.
SquaremResult squaremIteration(EmMap& map, const Eigen::VectorXd& theta0, double loglik0,
                               SquaremStep& bound, bool allowExtrapolation = true);

// An iteration within a budget of evaluations: a plain EM step (one evaluation) when only one
// is left, an iteration without extrapolation when two are, else squaremIteration.
SquaremResult squaremIterationWithin(EmMap& map, const Eigen::VectorXd& theta0, double loglik0,
                                     SquaremStep& bound, int evaluationsLeft);

// The step length alpha of the scheme for r and v, before it is bounded: |r| / |v|, and 1
// when v vanishes.
double squaremAlpha(const Eigen::VectorXd& r, const Eigen::VectorXd& v);

} // namespace numerics
