#include "ploven/accelerate.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

namespace ploven {

EmMapping::EmMapping(EmCycles& cycles, Estimates& est, std::vector<double>& h)
    : EstimatesEmMap(est, h), cycles_(cycles) {}

Eigen::VectorXd EmMapping::begin() {
    coordinates_.emplace(est_);
    anchor_ = coordinates_->theta(est_);
    updated_.resize(0);
    return anchor_;
}

double EmMapping::evaluate(const Eigen::VectorXd& theta) {
    if (isUpdated(theta))
        est_ = updatedEst_; // the EM step's own estimates: plain EM's digits
    else
        coordinates_->estimates(theta, est_);
    return cycles_.expectation(est_, h_);
}

Eigen::VectorXd EmMapping::update() {
    cycles_.maximization(h_, updatedEst_);
    updated_ = coordinates_->theta(updatedEst_, &anchor_);
    return updated_;
}

bool iterateAcceleratedEm(EmCycles& cycles, Estimates& est, std::vector<double>& h,
                          EmProgress& progress, numerics::SquaremStep& bound, double tol,
                          int lastCounter, const CycleCallback& onCycle) {
    EmMapping map(cycles, est, h);
    while (progress.change > tol) {
        const int left = lastCounter - (progress.counter - 1);
        if (left <= 0) return false;
        const numerics::SquaremResult r =
            numerics::squaremIterationWithin(map, map.begin(), progress.loglik, bound, left);
        const double next = r.loglik;
        progress.change = std::fabs(next - progress.loglik);
        progress.loglik = next;
        progress.counter += r.evaluations;
        if (onCycle) onCycle(progress.counter - 1, next);
    }
    return true;
}

} // namespace ploven

namespace ploven {

bool iterateFit(EmCycles& cycles, Estimates& est, std::vector<double>& h, EmProgress& progress,
                numerics::SquaremStep& bound, const FitMethod& method, double tol, int lastCounter,
                const CycleCallback& onCycle) {
    if (method.accelerate)
        return iterateAcceleratedEm(cycles, est, h, progress, bound, tol, lastCounter, onCycle);
    return iterateEm(cycles, est, h, progress, tol, lastCounter, onCycle);
}

bool iterateFromBands(EmCycles& cycles, Estimates& est, std::vector<double>& h,
                      EmProgress& progress, numerics::SquaremStep& bound, const FitMethod& method,
                      double tol, int maxit, const CycleCallback& onCycle) {
    if (method.accelerate && iterateEm(cycles, est, h, progress, tol, std::min(maxit, 1), onCycle))
        return true;
    return iterateFit(cycles, est, h, progress, bound, method, tol, maxit, onCycle);
}

} // namespace ploven
