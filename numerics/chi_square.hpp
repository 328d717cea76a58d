// The central and noncentral chi-square distributions, and the confidence interval of the root
// mean square error of approximation (RMSEA) that inverts the noncentral one. On Boost.Math.
//
// Central: X ~ chi-square(df) has the upper tail
//     P(X >= x) = Q(df / 2, x / 2),
// Q the regularized upper incomplete gamma function (Johnson, Kotz & Balakrishnan 1994,
// Continuous Univariate Distributions, vol. 1, 2nd ed., ch. 18); for df = 2 it is exp(-x / 2).
//
// Noncentral: X ~ chi-square(df, lambda) is a Poisson(lambda / 2) mixture of central ones,
//     F(x; df, lambda) = sum_j e^(-lambda/2) (lambda/2)^j / j!  P(chi-square(df + 2j) <= x)
// (Johnson, Kotz & Balakrishnan 1995, vol. 2, ch. 29); F falls as lambda grows.
//
// RMSEA interval (Browne & Cudeck 1993, in Bollen & Long, Testing Structural Equation Models,
// 136-162; MacCallum, Browne & Sugawara 1996, Psychological Methods 1, 130-149): for a statistic
// X2 on df degrees of freedom from n cases and a level 1 - a, lambda_L solves
// F(X2; df, lambda) = 1 - a/2 and lambda_U solves F(X2; df, lambda) = a/2, each 0 when the
// equation has no root in lambda >= 0 (F(X2; df, 0) already below the target). The interval is
//     [ sqrt(lambda_L / (df n)), sqrt(lambda_U / (df n)) ],
// the divisor n (not n - 1) matching RMSEA = sqrt(max(X2 - df, 0) / (df n)), the convention of
// the limited-information statistics (Maydeu-Olivares & Joe 2014, Multivariate Behavioral
// Research 49, 305-328). Pass n - 1 for the other convention.
#pragma once

#include <utility>

namespace numerics {

// P(X >= x) for X ~ chi-square(df): 1 for x <= 0, not a number unless df > 0.
double chiSquareUpperTail(double x, double df);

// P(X <= x) for X ~ chi-square(df, lambda), lambda >= 0 (0 gives the central distribution):
// 0 for x <= 0, not a number unless df > 0 and lambda >= 0 is finite.
double noncentralChiSquareCdf(double x, double df, double lambda);

// The RMSEA interval of the given level (0 < level < 1) for statistic on df degrees of freedom
// from n cases: {lower, upper}; both not a number unless df > 0, n > 0 and statistic >= 0.
std::pair<double, double> rmseaInterval(double statistic, double df, double n, double level = 0.90);

} // namespace numerics
