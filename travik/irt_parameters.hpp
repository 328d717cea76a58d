// Item response theory parameters of the binary and ordinal items, in the logistic metric
// (D = 1: no 1.702 scaling toward the normal ogive), from the fitted intercepts, thresholds and
// loadings of the standard-normal factors.
//
// Binary item, P(x = 1 | z) = 1 / (1 + exp(-(c + l'z))):
//   one factor:  a = l,  b = -c / a,  so that P = logistic(a (z - b)) and P = 1/2 at z = b;
//   two factors: a1, a2 the loadings, the multidimensional discrimination
//       MDISC = sqrt(a1^2 + a2^2) and difficulty MDIFF = -c / MDISC, the signed distance from
//       the origin to the line P = 1/2 along the direction of steepest slope (a1, a2) / MDISC
//       (Reckase 1985, Applied Psychological Measurement 9, 401-412; Reckase & McKinley 1991,
//       Applied Psychological Measurement 15, 361-373).
// Ordinal item, cumulative logit P(x <= c | z) = 1 / (1 + exp(-(t_c - l'z))), so
//   P(x > c | z) = logistic(l'z - t_c):
//   one factor:  a = l,  b_c = t_c / a  (P(x > c) = logistic(a (z - b_c)), 1/2 at z = b_c);
//   two factors: MDISC as above and b_c = t_c / MDISC, c = 1..O-1.
// MDISC, MDIFF and the two-factor b_c do not change under an orthogonal rotation of the factors;
// a1 and a2 are those of the fitted (identified) orientation.
//
// A difficulty is not defined when the discrimination is 0: for |a| (or MDISC) below
// kSmallestDiscrimination it has no value rather than an infinite one.
//
// Standard errors by the delta method: for a quantity g(theta) of the estimates,
//   var g = grad g' Cov grad g,
// with Cov the covariance matrix of the estimates (variance.hpp) over the positions the
// quantity depends on (parameter_vector.hpp). The loading a two-factor model fixes at 0 is a
// constant (variance 0): its own standard error is 0 and it adds nothing to others. A quantity
// that depends on a position without a standard error (a frozen item, a parameter the information
// does not identify, no covariance at all) has none; MDISC at a1 = a2 = 0 (not differentiable)
// has none.
#pragma once

#include "travik/model_state.hpp"
#include "travik/variance.hpp"

#include <optional>
#include <vector>

namespace travik {

constexpr double kSmallestDiscrimination = 1e-6;

struct IrtValue {
    std::optional<double> value; // empty: not defined (a difficulty at discrimination 0)
    std::optional<double> se;    // empty: no standard error
};

struct BinaryIrt {
    IrtValue a1, a2;     // discriminations (the loadings); a2 has no value with one factor
    IrtValue mdisc;      // MDISC with two factors, |a| with one
    IrtValue difficulty; // b with one factor, MDIFF with two
};

struct OrdinalIrt {
    IrtValue a1, a2, mdisc;           // as for a binary item
    std::vector<IrtValue> thresholds; // b_c, c = 1..O-1, at index c - 1
};

struct IrtParameters {
    int factors = 1;
    std::vector<BinaryIrt> binary;   // one per binary item, in input order
    std::vector<OrdinalIrt> ordinal; // one per ordinal item, in input order
};

// The parameters of every binary and ordinal item; cov (optional) gives the standard errors and
// must belong to d (its layout is parameterLayout(d)).
IrtParameters irtParameters(const Deck& d, const Parameters& p, const Covariance* cov = nullptr);

} // namespace travik
