#include "ploven/coordinates.hpp"

#include <algorithm>
#include <cmath>

namespace ploven {

double logistic(double t) {
    if (t >= 0.0) return 1.0 / (1.0 + std::exp(-t));
    const double e = std::exp(t);
    return e / (1.0 + e);
}

namespace {

bool atBound(double p) {
    return !(p > 0.0 && p < 1.0);
}

} // namespace

Coordinates::Coordinates(const Estimates& est, bool holdNearBounds)
    : nitem_(est.nitem), nclass_(est.nclass), held_(est) {
    const int K = nclass_;
    reference_ =
        static_cast<int>(std::max_element(est.eta.begin(), est.eta.end()) - est.eta.begin());
    free_.assign(static_cast<std::size_t>(K - 1) +
                     static_cast<std::size_t>(nitem_) * static_cast<std::size_t>(K),
                 1);
    for (int k = 0; k < K; ++k)
        if (prior(k) >= 0 && !(est.eta[k] > 0.0)) free_[prior(k)] = 0;
    for (int j = 0; j < nitem_; ++j)
        for (int k = 0; k < K; ++k)
            if (atBound(est.PI(j, k))) free_[item(j, k)] = 0;
    if (!holdNearBounds) return;

    // Complete-data information per case, coordinate by coordinate.
    std::vector<double> information(free_.size(), 0.0);
    for (int k = 0; k < K; ++k)
        if (prior(k) >= 0) information[prior(k)] = est.eta[k] * (1.0 - est.eta[k]);
    for (int j = 0; j < nitem_; ++j)
        for (int k = 0; k < K; ++k)
            information[item(j, k)] = est.eta[k] * est.PI(j, k) * (1.0 - est.PI(j, k));
    double largest = 0.0;
    for (std::size_t at = 0; at < free_.size(); ++at)
        if (free_[at]) largest = std::max(largest, information[at]);
    for (std::size_t at = 0; at < free_.size(); ++at)
        if (free_[at] && !(information[at] >= kNegligibleInformation * largest)) free_[at] = 0;
}

Coordinates::Parameter Coordinates::parameter(int at) const {
    if (at >= nclass_ - 1) return {(at - (nclass_ - 1)) / nclass_, (at - (nclass_ - 1)) % nclass_};
    return {-1, at < reference_ ? at : at + 1};
}

int Coordinates::held() const {
    return static_cast<int>(std::count(free_.begin(), free_.end(), 0));
}

Eigen::VectorXd Coordinates::theta(const Estimates& est, const Eigen::VectorXd* anchor) {
    Eigen::VectorXd t(size());
    auto hold = [&](int at) {
        free_[at] = 0;
        t(at) = anchor ? (*anchor)(at) : 0.0;
    };
    const double logReference = std::log(est.eta[reference_]);
    for (int k = 0; k < nclass_; ++k) {
        const int at = prior(k);
        if (at < 0) continue;
        if (free_[at] && !(est.eta[k] > 0.0)) held_.eta[k] = est.eta[k];
        if (free_[at] && est.eta[k] > 0.0)
            t(at) = std::log(est.eta[k]) - logReference;
        else
            hold(at);
    }
    for (int j = 0; j < nitem_; ++j) {
        for (int k = 0; k < nclass_; ++k) {
            const int at = item(j, k);
            const double p = est.PI(j, k);
            if (free_[at] && atBound(p)) held_.PI(j, k) = p;
            if (free_[at] && !atBound(p))
                t(at) = std::log(p) - std::log1p(-p);
            else
                hold(at);
        }
    }
    return t;
}

void Coordinates::estimates(const Eigen::VectorXd& theta, Estimates& est) const {
    if (est.nitem != nitem_ || est.nclass != nclass_) est.resize(nitem_, nclass_);
    // Softmax with the reference at 0, shifted by the largest exponent so nothing overflows.
    double top = 0.0;
    for (int k = 0; k < nclass_; ++k)
        if (prior(k) >= 0 && free_[prior(k)]) top = std::max(top, theta(prior(k)));
    double total = 0.0;
    for (int k = 0; k < nclass_; ++k) {
        const int at = prior(k);
        if (at < 0)
            est.eta[k] = std::exp(-top);
        else
            est.eta[k] = free_[at] ? std::exp(theta(at) - top) : held_.eta[k];
        total += est.eta[k];
    }
    for (double& eta : est.eta) eta /= total;
    for (int j = 0; j < nitem_; ++j)
        for (int k = 0; k < nclass_; ++k) {
            const int at = item(j, k);
            est.PI(j, k) = free_[at] ? logistic(theta(at)) : held_.PI(j, k);
        }
}

} // namespace ploven
