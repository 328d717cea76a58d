// Limited-information goodness of fit of a fitted travik model: the statistic M2 for binary
// items, C2 when ordinal items are present, with the RMSEA and its interval, the SRMSR, and the
// CFI and TLI against the independence model.
//
// Margins. Item i has categories 1..O_i (a binary item's responses 0 and 1 are categories 1
// and 2) and the score s_i = x_i - 1, i.e. 0..O_i - 1. The statistic compares s margins:
//   first order:  P(x_i = c), c = 2..O_i, for every item i (a binary item: P(x_i = 1));
//   second order: E[s_i s_j] for every pair i < j (two binary items: P(x_i = 1, x_j = 1)).
// With binary items only these are the univariate and bivariate margins of M2 (Maydeu-Olivares
// & Joe 2005, JASA 100, 1009-1020; 2006, Psychometrika 71, 713-732); with ordinal items the full
// univariate margins and the bivariate margins collapsed to cross-product moments are those of
// C2 (Cai & Monroe 2014, CRESST Report 839; Cai & Hansen 2013, BJMSP 66, 245-276).
//
// Each margin is the mean of a product y_r(x) of functions of one or two responses. The model's
// margins and their covariances come from quadrature over the run's grid (weights w_g summing to
// 1): pi_r = sum_g w_g prod_{i in r} E[f_ri(x_i) | z_g], and
//   Xi2[r][t] = E[y_r y_t] - pi_r pi_t,
// E[y_r y_t] integrated the same way over up to four items, the two functions of an item the
// two margins share multiplied into one (an indicator times the score is (c - 1) times the
// indicator; the score times itself is the squared score).
//
// Statistic. With e2 = p - pi (p the observed margins over the N fitted cases) and Delta2 the
// s x q Jacobian of pi with respect to the q free parameters (parameter_vector.hpp's moving
// ones; analytic derivatives of the response functions),
//   M2 (or C2) = N e2' C2 e2,
//   C2 = Xi2^-1 - Xi2^-1 Delta2 (Delta2' Xi2^-1 Delta2)^-1 Delta2' Xi2^-1,
// on df = s - q degrees of freedom, p value from the chi-square upper tail. It is computed as N
// times the squared norm of L^-1 e2 orthogonal to the columns of L^-1 Delta2 (Xi2 = L L', the
// pivoted Cholesky factor; the projection by Householder QR), which equals the formula above
// without forming an inverse.
//
// RMSEA2 = sqrt(max(M2 - df, 0) / (N df)), its 90% interval by inverting the noncentral
// chi-square with the same divisor N df (chi_square.hpp) (Maydeu-Olivares & Joe 2014,
// Multivariate Behavioral Research 49, 305-328).
// SRMSR = sqrt( sum_{i<j} (r_ij - rho_ij)^2 / (n (n - 1) / 2) ), r_ij the observed and rho_ij
// the model's product-moment correlation of the scores s_i and s_j (Maydeu-Olivares & Joe
// 2014); the model's moments come from the same quadrature.
// Independence model: every loading 0, every intercept and threshold at its maximum likelihood
// value, the logit of the observed share (cumulative share for thresholds), so that it
// reproduces the observed first-order margins; its statistic M2_0 on df_0 = s - (intercepts and
// thresholds) is computed by the same formula with its own Jacobian (intercepts and thresholds
// only). Then (Bentler 1990, Psychological Bulletin 107, 238-246; Tucker & Lewis 1973,
// Psychometrika 38, 1-10, on M2 as in Maydeu-Olivares & Joe 2014)
//   CFI = 1 - max(M2 - df, 0) / max(M2_0 - df_0, M2 - df, 0)   (1 when the denominator is 0),
//   TLI = (M2_0 / df_0 - M2 / df) / (M2_0 / df_0 - 1).
//
// Not available (available false, reason in words) when an item is normal or nominal, a response
// is missing, a category of an item is never observed, df <= 0, the estimates are not finite,
// Xi2 is singular (a pivot below 1e-12 of the largest), the margins do not identify the free
// parameters (Delta2 not of full column rank), or there are too many margins (below). The CFI and
// TLI are not numbers when only the independence model's statistic fails.
#pragma once

#include "travik/model_state.hpp"
#include "travik/quadrature.hpp"

#include <limits>
#include <string>

namespace travik {

// Beyond these the statistic is not computed (it would take seconds to minutes): the number of
// margins, and margins^2 x grid points, the cost of their covariance matrix.
constexpr double kMostMargins = 1500;
constexpr double kMostCovarianceTerms = 1e9;

struct LimitedInformationFit {
    bool available = false;
    std::string reason;    // why not available (empty when it is)
    std::string statistic; // "M2" (binary items only) or "C2"
    double value = std::numeric_limits<double>::quiet_NaN();
    int df = 0;
    double p = std::numeric_limits<double>::quiet_NaN();
    double rmsea = std::numeric_limits<double>::quiet_NaN();
    double rmseaLow = std::numeric_limits<double>::quiet_NaN(); // 90% interval
    double rmseaHigh = std::numeric_limits<double>::quiet_NaN();
    double srmsr = std::numeric_limits<double>::quiet_NaN();
    double cfi = std::numeric_limits<double>::quiet_NaN();
    double tli = std::numeric_limits<double>::quiet_NaN();
    double baselineValue = std::numeric_limits<double>::quiet_NaN(); // independence model
    int baselineDf = 0;
    int margins = 0;    // s
    int parameters = 0; // q, the free parameters
};

// The limited-information fit of parameters p (the fit's estimates) to the data x of the fitted
// cases, integrating over grid (the run's grid).
LimitedInformationFit limitedInformationFit(const Deck& d, const Parameters& p, const Grid& grid,
                                            const DataMatrix& x);

} // namespace travik
