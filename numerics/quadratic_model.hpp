// The loglikelihood near its top, as a quadratic model: how much it can still rise and the
// Newton-type step that gets there.
//
// With g the gradient and I an information matrix at theta,
//     L(theta + d) ~ L(theta) + g'd - d'I d / 2,
// which is largest at d = I^-1 g, a rise of
//     gain = g'I^-1 g / 2
// (the Newton decrement: Boyd & Vandenberghe 2004, Convex Optimization, sec. 9.5.1; Nocedal &
// Wright 2006, Numerical Optimization, sec. 3.3). I is the observed information (minus the
// Hessian) or the sum of the outer products of the case scores (Berndt, Hall, Hall & Hausman
// 1974), which is positive semi-definite by construction and serves where the observed one is
// not positive definite.
//
// The solve is safe where I is singular or nearly so. Only the free parameters take part (a
// parameter fixed at a bound or by a constraint is left out). I is scaled to unit diagonal, so
// the units of the parameters do not matter, and decomposed into eigenvalues; directions whose
// eigenvalue is below kRelativeEigenFloor times the largest carry no information the data can
// resolve and are left out of the gain and the step (a truncated pseudo-inverse: Hansen 1987,
// BIT 27, "The truncated SVD as a method for regularization"). A free parameter with no
// information at all (a zero or non-finite diagonal) is left out the same way.
//
// The observed information is a difference of sums (Louis' formula), so a parameter the data
// say nothing about (a flat direction of the likelihood) has a diagonal that is rounding alone,
// and scaling by it would make that rounding look like information. Such a matrix is scaled by a
// reference diagonal free of cancellation instead (that of the cross-product information), and
// directions below kReferenceEigenFloor in those units are left out.
#pragma once

#include <Eigen/Dense>

#include <vector>

namespace numerics {

// Eigenvalues of the scaled information below this share of the largest are numerically zero.
constexpr double kRelativeEigenFloor = 1e-12;
// With a reference diagonal: eigenvalues below this are numerically zero (rounding in an
// observed information is some 1e-15 of its terms, a thousand times smaller).
constexpr double kReferenceEigenFloor = 1e-9;

// A fit is certified as a maximum when its remaining gain is below this. The reports print
// the loglikelihood to five decimals: a gain below 1e-6 keeps the printed value within a tenth
// of its last digit of the maximum's, and leaves a margin of a hundred for the quadratic model
// understating the rise (it is exact only on a quadratic) before the 1e-4 that users are
// promised is at stake.
constexpr double kCertifiedGain = 1e-6;

struct QuadraticModel {
    double gain = 0.0;            // g'I^-1 g / 2 over the directions of positive curvature
    double largestGradient = 0.0; // largest |g_p| over the free parameters
    Eigen::VectorXd step;         // I^-1 g over those directions, zero for parameters left out
    int unresolved = 0;           // directions (or parameters) left out as numerically singular
    bool finite = true;           // false when g or I holds a value that is not a number
    // An observed information with a direction of negative curvature: the point is no
    // maximum, whatever the gain (at a saddle the gradient vanishes too). escape is that
    // direction, one unit of the scale long, turned so that the gradient does not fall along it.
    bool negativeCurvature = false;
    Eigen::VectorXd escape;
};

// The model at a point: gradient g (n values), information info (n x n, symmetric), free[p]
// true for the parameters that move (empty: all), reference the diagonal to scale by (empty:
// info's own). Eigenvalues below minus the floor are the directions of negative curvature.
QuadraticModel quadraticModel(const Eigen::VectorXd& g, const Eigen::MatrixXd& info,
                              const std::vector<char>& free = {},
                              const Eigen::VectorXd& reference = {});

// Whether a symmetric matrix is positive definite to working precision over the free
// parameters (empty: all): after scaling, its smallest eigenvalue is above the floor.
bool positiveDefinite(const Eigen::MatrixXd& info, const std::vector<char>& free = {},
                      const Eigen::VectorXd& reference = {});

// Whether it has no direction of negative curvature beyond the floor: a numerically zero
// eigenvalue of either sign is allowed (the quadratic model leaves that direction out).
bool positiveSemidefinite(const Eigen::MatrixXd& info, const std::vector<char>& free = {},
                          const Eigen::VectorXd& reference = {});

// A parameter counts as not identified when its component in a numerically null direction of
// the scaled information exceeds this (an identified one's is rounding).
constexpr double kUnidentifiedComponent = 1e-3;

// The covariance of the parameters the information identifies: the truncated pseudo-inverse
// over the directions above the floor, scaled by reference as quadraticModel scales. identified
// is false for a parameter with a component above kUnidentifiedComponent in a direction at or
// below the floor (its entries of covariance mean nothing), or whose reference is not positive.
struct IdentifiedCovariance {
    Eigen::MatrixXd covariance;
    std::vector<char> identified;
};
IdentifiedCovariance identifiedCovariance(const Eigen::MatrixXd& info,
                                          const Eigen::VectorXd& reference);

} // namespace numerics
