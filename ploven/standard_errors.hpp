// Standard errors of a fitted latent class model: the information matrix of the free
// parameters as the frequency-weighted sum of outer products of per-pattern score vectors,
// inverted by Gauss-Jordan elimination with full pivoting.
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
// rounded to single precision before it is divided, unless roundWeights is false.
Matrix informationMatrix(const PatternTable& data, const Estimates& est, const Posteriors& post,
                         bool roundWeights = true);

// Gauss-Jordan elimination with full pivoting: a becomes its inverse and b becomes a^-1 b.
// Pivot search, reciprocal, multipliers and swapped values pass through single precision, so
// the result has about seven significant digits. A singular matrix writes "SINGULAR MATRIX" to
// the console, waits for Enter there (only on a terminal) and goes on.
void gaussj(Matrix& a, Matrix& b, const Console& console);

// The inverse of a (through gaussj with an identity right-hand side).
Matrix inver(const Matrix& a, const Console& console);

// The condition of the information matrix as the ratio of the largest to the smallest pivot
// of a Cholesky factorization with diagonal pivoting, after scaling the matrix to unit
// diagonal (so that the units of the parameters do not matter). The ratio is a lower bound of
// the condition number of the scaled matrix and in practice close to it. Infinite when a
// diagonal entry or a pivot is not positive. The factorization stops once the ratio passes
// stopAbove, returning the ratio reached.
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
