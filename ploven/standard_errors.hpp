// Standard errors of a fitted latent class model: the covariance matrix of the estimates as the
// inverse of the empirical (cross-product) information of the free parameters, the
// frequency-weighted sum of the outer products of the per-pattern score vectors (Berndt, Hall,
// Hall & Hausman 1974, Annals of Economic and Social Measurement 3, 653-665; McLachlan &
// Krishnan 2008, The EM Algorithm and Extensions, 2nd ed., sec. 4.3):
//
//     A = sum_i FREQ(i) s_i s_i',   s_i = d ln P(x_i) / d theta,   V = A^-1,
//
// accumulated pattern by pattern, with the item block's weights FREQ(i) h_k h_l rounded to single
// precision as the established computation does, and inverted by LU with complete pivoting
// (numerics/linear_algebra.hpp). The last prior is 1 minus the others: its variance is
// sum_k V(k,k) + 2 sum_(l<k) V(l,k) over k, l < NCLASS.
//
// Free parameters m = 1..M, M = (NCLASS - 1) + NITEM * NCLASS: m = k for the prior ETA(k),
// k < NCLASS (the last prior is 1 minus the others), and m = NCLASS * j + k - 1 for PI(j,k)
// (j, k 1-based).
#pragma once

#include "ploven/model.hpp"

#include <string>
#include <vector>

namespace ploven {

// A square matrix stored row after row.
struct Matrix {
    int n = 0;
    std::vector<double> a;

    Matrix() = default;
    explicit Matrix(int size)
        : n(size), a(static_cast<std::size_t>(size) * static_cast<std::size_t>(size), 0.0) {}
    double& operator()(int r, int c) { return a[static_cast<std::size_t>(r) * n + c]; }
    double operator()(int r, int c) const { return a[static_cast<std::size_t>(r) * n + c]; }
    static Matrix identity(int size) {
        Matrix m(size);
        for (int i = 0; i < size; ++i) m(i, i) = 1.0;
        return m;
    }
};

// The score vector of pattern i (0-based parameter index m - 1): derivatives of the pattern's
// log probability with respect to the free parameters.
std::vector<double> patternScore(const PatternTable& data, int i, const Estimates& est,
                                 const Posteriors& post);

// A = sum over patterns of FREQ * s s^T; in the item block the weight FREQ * h_k * h_k' is
// rounded to single precision before it is divided, unless roundWeights is false. Summed in
// blocks of patterns on threads as post.loops says: a block's patterns in order, the blocks in
// order.
Matrix informationMatrix(const PatternTable& data, const Estimates& est, const Posteriors& post,
                         bool roundWeights = true);

// The inverse of the information matrix a, by LU with complete pivoting. A matrix that is
// singular or not positive definite (to working precision: numerics::pivotedCholesky) writes
// "SINGULAR MATRIX" to the console, waits for Enter there (only on a terminal) and goes on; a
// singular one inverts to not-a-number everywhere, which the variances then refuse.
Matrix invertInformation(const Matrix& a, const Console& console);

// The condition of the information matrix as the ratio of the largest to the smallest pivot
// of a Cholesky factorization with diagonal pivoting (numerics::pivotedCholesky), after scaling
// the matrix to unit diagonal (so that the units of the parameters do not matter). The ratio is
// a lower bound of the condition number of the scaled matrix and in practice close to it.
// Infinite when a diagonal entry is not positive, or when a pivot is not above 1/stopAbove of
// the largest (the factorization stops there).
double pivotRatio(const Matrix& a, double stopAbove);

// Beyond this pivot ratio the information matrix is numerically singular: the model is not
// identified at the solution and no standard errors are given.
constexpr double kIdentificationLimit = 1.0e12;

// "ETA(2)", "PI(3,1)": free parameter m (0-based) of a model of nclass classes.
std::string parameterName(int m, int nclass);

// The free parameters (0-based) in the directions where the information matrix a is singular:
// those with no information at all, and those with a share of at least kNamedShare in the
// eigenvectors, after scaling to unit diagonal, whose eigenvalues are below 1/limit of the
// largest. In parameter order.
std::vector<int> singularParameters(const Matrix& a, double limit);
constexpr double kNamedShare = 1e-3;

struct StandardErrors {
    bool ok = false;         // false: no standard errors (IVERR = 1)
    std::string report;      // lines standardErrors writes to the report
    std::vector<double> eta; // eta[k]
    std::vector<double> pi;  // pi[j * nclass + k]
    std::string unavailable; // when not ok: why, naming the parameters concerned
};

StandardErrors standardErrors(const PatternTable& data, const Estimates& est,
                              const Posteriors& post, const Console& console);

} // namespace ploven
