// Standard errors (`variance`): the covariance matrix of the estimates as the inverse of the
// empirical (cross-product) information of the free item parameters (Berndt, Hall, Hall &
// Hausman 1974, Annals of Economic and Social Measurement 3, 653-665; McLachlan & Krishnan
// 2008, The EM Algorithm and Extensions, 2nd ed., sec. 4.3):
//
//     I = sum_k s_k s_k',   s_k = S_k / FM(k) = d ln FM(k) / d theta,   Cov = I^-1,
//
// with S_k the case's score vector (case_scores.hpp). I is the first term of Louis' observed
// information (Louis 1982, JRSS B 44, 226-233; observed_information.hpp), and like it a
// consistent estimate of the Fisher information at the maximum; unlike it, it is positive
// semi-definite by construction. It is accumulated case by case, cases in increasing order, and
// inverted by LU with complete pivoting (numerics/linear_algebra.hpp). The loading a two-factor
// model fixes at 0 (identification.hpp) is left out of the inversion: its variance is 0.
// Information that is singular or not positive definite shows "Singular matrix" on the console
// and gives standard errors only to the parameters it identifies (its pseudo-inverse), with the
// reason.
#pragma once

#include "travik/em.hpp"
#include "travik/parameter_vector.hpp"

#include <string>
#include <vector>

namespace travik {

struct Covariance {
    ParameterLayout layout;
    std::vector<double> cov; // P x P; NaN everywhere when the information cannot be inverted
    std::string unavailable; // why there are no standard errors; empty when there are
    int fixed = -1;          // position of the parameter the model fixes, or -1
    // Positions without a standard error, when others have one: parameters of frozen items,
    // and those the information does not identify (NaN in cov).
    std::vector<int> withoutErrors;

    double se(int position) const {
        return std::sqrt(cov[static_cast<std::size_t>(position) * layout.count + position]);
    }
};

// FM values below 1e-15 are raised to 1e-15 in est.weights. The cases are taken in blocks
// (likelihood.hpp: kCasesPerBlock) on m.threads threads, each case's joint weights computed
// again from est.tables and dropped after use.
Covariance variance(const ModelState& m, Estimation& est, const fixedio::Pause& pause);

// The floor of FM for the standard errors and the one-factor scores.
constexpr double kLikelihoodFloor = 1e-15;

// A case's FM as the standard errors and scores take it: below kLikelihoodFloor raised to it;
// a case scaled because it underflows (logScale != 0) lies far below the floor, so its FM is
// the floor and its joint weights gj (size values) are turned back into the true ones, what
// the scaled ones shrink to.
double raisedLikelihood(double* gj, int size, double fm, double logScale);

// One case's score vector S (before division by FM), for tests. Missing items leave zeros.
std::vector<double> caseScore(const ModelState& m, const Estimation& est,
                              const ParameterLayout& layout, int k);

} // namespace travik
