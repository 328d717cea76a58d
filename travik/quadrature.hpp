// Gauss-Hermite quadrature for a standard-normal latent variable, and the grid over one or
// two factors built from it:
//   integral f(z) phi(z) dz  ~=  sum_k W_k f(Z_k),   Z_k = sqrt(2) x_k,   W_k = w_k / sqrt(pi),
// with x_k the roots of the Hermite polynomial H_m and w_k = 2^(m-1) m! sqrt(pi) /
// (m^2 H_(m-1)(x_k)^2) (Abramowitz & Stegun 1964, Handbook of Mathematical Functions,
// 25.4.46); exact for polynomials in z of degree up to 2m - 1. Two factors take the product
// rule.
#pragma once

#include "travik/model_state.hpp"

#include <vector>

namespace travik {

// The physicists' m-point Gauss-Hermite rule (weight exp(-x^2)), rescaled to the standard
// normal density: nodes sqrt(2) x_k, weights w_k / sqrt(pi), ascending nodes.
struct Rule {
    std::vector<double> nodes, weights;
};
Rule standardNormalRule(int m);

// The same rule for any m from 2 to 201 (and beyond): every root bracketed before it is
// polished, so no root is found twice.
Rule fullStandardNormalRule(int m);

// Points stored for a requested count: the rules for 24, 32 and 48 points keep only their
// central 20, 24 and 30 points (the outer ones carry a total weight below 1e-12).
// Returns 0 for a count that has no rule.
int storedPoints(int requested);

// The integration grid. One factor: the stored points of the rule. Two factors: their
// product, point (t1, t2) at (QZ(t1), QZ(t2)) with weight QW(t1) QW(t2), t2 running fastest.
struct Grid {
    int nf = 1;
    int nq = 0;                 // points per factor
    std::vector<double> qz, qw; // the one-dimensional points, ascending
    int size = 0;               // grid points: nq, or nq * nq
    std::vector<double> z1, z2; // factor values of each grid point (z2 = 0 for one factor)
    std::vector<double> w;      // weight of each grid point
    std::vector<int> t1, t2;    // one-dimensional indices of each grid point
};
Grid makeGrid(int requested, int nf);

// The grid of the full points-point rule, every node kept (2 <= points <= 201).
Grid makeFullGrid(int points, int nf);
constexpr int kFewestRulePoints = 2;
constexpr int kMostRulePoints = 201;

// The grid of a run: the full rule when one was asked for, else the one NQ names.
Grid gridFor(const Deck& d);
// Its points per factor.
int pointsPerFactor(const Deck& d);

} // namespace travik
