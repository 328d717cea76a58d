// First and second derivatives of the loglikelihood of the latent class model in the
// coordinates of coordinates.hpp (log-ratios of the priors, logits of the item probabilities).
//
// With h_ik the posterior of class k for pattern i, f_i its frequency, N the cases and
// a_ijk = x_ij - PI(j,k), the score of pattern i is
//     s_i(gamma_m) = h_im - ETA(m),    s_i(beta_jk) = h_ik a_ijk.
// The observed information (minus the Hessian) follows from Louis' formula (Louis 1982, JRSS B
// 44, 226-233): the expected complete-data information less the posterior covariance of the
// complete-data scores, summed over the patterns. Written out:
//     gamma_m, gamma_m':  N (delta ETA(m) - ETA(m) ETA(m')) - sum_i f_i (delta h_im - h_im h_im')
//     gamma_m, beta_jl:   sum_i f_i h_im h_il a_ijl - delta_ml G_jl
//     beta_jk, beta_j'l:  delta N_k PI(1 - PI) - delta_kl sum_i f_i h_ik a_ijk a_ij'k
//                         + sum_i f_i h_ik h_il a_ijk a_ij'l
// with G_jl = sum_i f_i h_il a_ijl the gradient and N_k = sum_i f_i h_ik. The cross-product
// information is sum_i f_i s_i s_i'.
//
// Every sum is formed from the scores themselves, not from sums of x_ij x_ij', x_ij and 1 that
// are then combined: a probability near a bound has information of the size of its distance to
// the bound, which such differences of large sums would drown in rounding. The cross-product is
// a product of blocks of score rows, in pattern order: the same digits on every run.
#pragma once

#include "ploven/coordinates.hpp"
#include "ploven/model.hpp"

#include <Eigen/Dense>

#include <vector>

namespace ploven {

struct Derivatives {
    Eigen::VectorXd gradient;
    Eigen::MatrixXd observed;     // minus the Hessian
    Eigen::MatrixXd crossProduct; // sum of f_i s_i s_i'
    // The diagonal of the expected complete-data information, N_k PI(1 - PI) and
    // N ETA(m) (1 - ETA(m)): free of cancellation, and shrinking as a value nears its bound
    // as the observed information does (the cross-product shrinks with its square).
    Eigen::VectorXd completeDiagonal;
};

// At est, h holding its posteriors (h[i * K + k]), in the order and with the reference class of
// coordinates. Held coordinates get their entries too (zero or nearly so).
// Summed in blocks of patterns on threads as loops says (whole rows of scores per block: a
// block's patterns in order, the blocks' sums added in block order).
Derivatives logitDerivatives(const PatternTable& data, const Estimates& est,
                             const std::vector<double>& h, const Coordinates& coordinates,
                             const PatternLoops& loops = {});

// Bytes the derivatives of a model of nitem items and nclass classes take at most, summed by
// the given number of workers.
double derivativesBytes(int nitem, int nclass, int workers = 1);

} // namespace ploven
