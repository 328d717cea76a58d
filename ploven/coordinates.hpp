// The parameters of the latent class model on unbounded scales, where extrapolated EM steps and
// Newton-type steps stay inside the model: the prior of every class but a reference class r by
// its log-ratio to the reference,
//     gamma_k = log(ETA(k) / ETA(r)),
// and every item probability by its logit,
//     beta_jk = log(PI(j,k) / (1 - PI(j,k))).
// Vector order: the gammas of the classes other than r in class order, then the betas item by
// item (beta_jk at (K - 1) + j K + k).
//
// A value at a bound has no finite coordinate: a PI at exactly 0 or 1 and the prior of an empty
// class are held at their values (EM never moves them either) and their coordinates are not
// free. The reference is the largest class, so it is never empty while the model has a case.
// For a Newton-type step a value next to its bound is held too: its complete-data information,
// N ETA(k) PI (1 - PI) or N ETA(m) (1 - ETA(m)), below kNegligibleInformation of the largest
// coordinate's. Scaled to unit information, its coordinate would magnify the rounding of the
// rest of the solve beyond any meaning, and the loglikelihood it could still add (about half
// that information) is far below what the check resolves.
#pragma once

#include "ploven/model.hpp"

#include <Eigen/Dense>

#include <vector>

namespace ploven {

// Share of the largest complete-data information below which a value is next to its bound.
constexpr double kNegligibleInformation = 1e-12;

class Coordinates {
  public:
    // Coordinates around est: its largest class (the first of equal ones) is the reference,
    // and its values at a bound are held; with holdNearBounds also the values next to one.
    explicit Coordinates(const Estimates& est, bool holdNearBounds = false);

    int size() const { return static_cast<int>(free_.size()); }
    int reference() const { return reference_; }
    // Position of gamma_k (-1 for the reference class) and of beta_jk.
    int prior(int k) const { return k == reference_ ? -1 : k < reference_ ? k : k - 1; }
    int item(int j, int k) const { return (nclass_ - 1) + j * nclass_ + k; }

    // What coordinate `at` stands for: the prior of class k (item < 0) or PI(item, k).
    struct Parameter {
        int item = -1;
        int k = 0;
    };
    Parameter parameter(int at) const;

    // 1 for the coordinates that move.
    const std::vector<char>& free() const { return free_; }
    // Coordinates held at a bound.
    int held() const;

    // The coordinates of est. A value that has reached a bound since the coordinates were made
    // is held from now on; its coordinate keeps the value it has in anchor (when given), so
    // that differences of coordinate vectors see no jump there.
    Eigen::VectorXd theta(const Estimates& est, const Eigen::VectorXd* anchor = nullptr);

    // The estimates at theta; held values keep theirs. Coordinates far out give probabilities
    // of exactly 0 or 1, which are still a model.
    void estimates(const Eigen::VectorXd& theta, Estimates& est) const;

  private:
    int nitem_ = 0;
    int nclass_ = 0;
    int reference_ = 0;
    std::vector<char> free_;
    Estimates held_; // the held values (others unused)
};

// The logistic function, accurate at both ends: 1 / (1 + exp(-t)).
double logistic(double t);

} // namespace ploven
