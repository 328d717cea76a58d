// Rotation of a two-factor solution to simple structure, by the gradient projection algorithm
// (GPA): Jennrich 2001, Psychometrika 66, 289-306 (orthogonal); Jennrich 2002, Psychometrika 67,
// 7-19 (oblique); Bernaards & Jennrich 2005, Educational and Psychological Measurement 65,
// 676-696 (the algorithm as programmed here, with its step-size rule).
//
// A is the p x 2 matrix of standardized loadings, one row per item (per category of a nominal
// item). Both rotations minimise a criterion Q of the rotated loadings L, raw (rows are not
// normalised to unit length first):
//
//   varimax (orthogonal):  L = A T,  T'T = I,
//       Q(L) = -(1/4) sum_j [ sum_i l_ij^4 - (1/p) (sum_i l_ij^2)^2 ],
//       dQ/dl_ij = -l_ij (l_ij^2 - (1/p) sum_k l_kj^2);
//   oblimin with gamma = 0, i.e. quartimin (oblique):  L = A (T')^-1,  diag(T'T) = 1,
//       Q(L) = (1/4) sum_i sum_{j != k} l_ij^2 l_ik^2,   dQ/dl_ij = l_ij sum_{k != j} l_ik^2,
//       factor correlations Phi = T'T, so that L Phi L' = A A' (the communalities stay).
//
// GPA, orthogonal: G = A' dQ/dL; the projected gradient Gp = G - T (M + M')/2, M = T'G; a step
// T - alpha Gp is taken back to the orthogonal matrices by its polar factor (U V' from the
// singular value decomposition, in closed form for 2 x 2). Oblique: G = -(L' dQ/dL T^-1)', Gp =
// G - T diag(1'(T * G)) (* elementwise), and a step is taken back by scaling its columns to unit
// length. The step size alpha starts at 1, doubles at every iteration and is halved (at most 10
// times) until Q falls by at least alpha ||Gp||^2 / 2 (an Armijo rule); near the minimum, where
// that decrease is below the rounding error of Q, a step is accepted when it shrinks Gp without
// reversing it (the same step-length condition on a quadratic), so that a tolerance near 1e-9
// can be met. The iterations stop when ||Gp|| (Frobenius) is below the tolerance, or at the cap,
// which is reported as not converged.
//
// Starts: the identity, then random rotations by an angle 2 pi u, u uniform on [0, 1) made from
// the top 53 bits of std::mt19937_64 with a fixed seed (so the results are the same on every
// platform); the start with the lowest criterion is kept (a tie keeps the earlier start).
//
// Which rows enter the criterion: binary, normal and ordinal items, one row each. A nominal item
// has one row per category J = 2..C, each a contrast with category 1 rather than a loading of
// its own, and several rows for one item would weigh it several times; these rows do not enter
// the criterion but receive the same transformation (`applyRotation`).
//
// Conventions of the result, applied after the best start is chosen (they change neither Q nor
// the fit): each factor's sign makes the sum of its rotated loadings over the criterion rows
// nonnegative; the factors are ordered by decreasing sum of squared rotated loadings (pattern
// loadings for oblimin) over the criterion rows, a tie keeping the order found; T's columns and
// Phi's rows and columns are permuted and signed with them, so L = A T (varimax) or
// L = A (T')^-1 and Phi = T'T (oblimin) hold for the reported T, L and Phi.
#pragma once

#include "travik/estimates_report.hpp"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace travik {

enum class RotationMethod { None, Varimax, Oblimin };

// "none", "varimax" or "oblimin", in any letter case. An unknown name gives no method and sets
// error to "unknown rotation 'NAME': expected none, varimax or oblimin".
std::optional<RotationMethod> parseRotationMethod(std::string_view text, std::string& error);
// The name parseRotationMethod reads ("none", "varimax", "oblimin").
std::string_view rotationMethodName(RotationMethod method);

using LoadingRow = std::array<double, 2>;             // one row of a p x 2 loading matrix
using Matrix2 = std::array<std::array<double, 2>, 2>; // [row][column]

struct RotationOptions {
    int starts = 10;          // the identity and starts - 1 random rotations
    std::uint64_t seed = 1;   // of std::mt19937_64
    int maxIterations = 1000; // per start
    double tolerance = 1e-9;  // on the Frobenius norm of the projected gradient
};

struct Rotation {
    RotationMethod method = RotationMethod::None;
    Matrix2 t{{{1.0, 0.0}, {0.0, 1.0}}};
    std::vector<LoadingRow> loadings;      // rotated, in the input row order
    Matrix2 phi{{{1.0, 0.0}, {0.0, 1.0}}}; // factor correlations: the identity for varimax
    double criterion = 0;                  // Q at the rotated loadings (the criterion rows)
    int iterations = 0;                    // of the start kept
    bool converged = true;                 // the start kept reached the tolerance within the cap
    int startsAtBest = 0;    // starts that ended within 1e-8 (relative to 1 + |Q|) of the best Q
    std::string unavailable; // why nothing was rotated (a value that is not a number); else empty
};

// Rotates the rows of a; those whose inCriterion entry is 0 take no part in the criterion (an
// empty inCriterion: every row takes part; no row in it: T = I). Fewer than one start counts as
// one. Meant for two-factor models: with one factor there is nothing to rotate. None returns a
// unchanged with T = Phi = I, and no conventions applied. A matrix holding a value that is not a
// number is returned unchanged with the reason in `unavailable`.
Rotation rotate(RotationMethod method, const std::vector<LoadingRow>& a,
                const std::vector<char>& inCriterion = {}, const RotationOptions& options = {});

// A found rotation applied to other rows: L = A T (varimax, none) or L = A (T')^-1 (oblimin).
std::vector<LoadingRow> applyRotation(const Rotation& r, const std::vector<LoadingRow>& a);

// The criterion and its gradient dQ/dL over the given rows, for varimax or oblimin.
struct CriterionValue {
    double value = 0;
    std::vector<LoadingRow> gradient;
};
CriterionValue rotationCriterion(RotationMethod method, const std::vector<LoadingRow>& l);

// The standardized loadings of a two-factor model as rows: binary, normal and ordinal items in
// turn (in the criterion), then every nominal item's categories J = 2..C (not in it).
struct LoadingRows {
    std::vector<LoadingRow> rows;
    std::vector<char> inCriterion;
};
LoadingRows loadingRows(const StandardizedLoadings& s);

// Rotates a two-factor model's standardized loadings (rows as loadingRows gives them).
Rotation rotateStandardized(RotationMethod method, const StandardizedLoadings& s,
                            const RotationOptions& options = {});

// The rotated loadings back in the layout of StandardizedLoadings (s gives the shape; index 0
// of every loading array and categories 0, 1 of nominal items stay 0).
StandardizedLoadings rotatedStandardized(const StandardizedLoadings& s, const Rotation& r);

} // namespace travik
