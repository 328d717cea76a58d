// The figures for comparing latent class models fitted to the same data (parameters,
// loglikelihood, AIC, BIC, SABIC), the entropy R-square of the classification, the
// class-by-class table of modal assignments, and the report block that prints them.
//   AIC = -2L + 2p (Akaike 1974), BIC = -2L + p ln N (Schwarz 1978), SABIC = -2L +
//   p ln((N + 2) / 24) (Sclove 1987), and entropy R-square = 1 - sum_i sum_k -p_ik ln p_ik /
//   (N ln K) (Ramaswamy, DeSarbo, Reibstein & Robinson 1993, Marketing Science 12, 103-124).
#pragma once

#include "ploven/model.hpp"
#include "ploven/results.hpp"

#include <string>
#include <vector>

namespace ploven {

// R-square of the classification: 1 - sum over cases and classes of -p ln p, over N ln K
// (1 for a single class). A term with p = 0 adds nothing.
double entropyRSquare(const Posteriors& post, const PatternTable& patterns);

// Rows: the modal class of the cases; columns: the sum of the cases' posterior probabilities
// of each class. Row r adds up to the number of cases whose modal class is r.
std::vector<std::vector<double>> modalAssignments(const Posteriors& post,
                                                  const PatternTable& patterns);

namespace report {

// The "MODEL COMPARISON" block of a fitted model (r.fitted): parameters, loglikelihood, AIC,
// BIC, SABIC and entropy R-square.
std::string modelComparison(const RunRecord& r);

} // namespace report

} // namespace ploven
