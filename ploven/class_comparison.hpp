// The comparison of class counts fitted one after the other (--classes FIRST-LAST): one row per
// count, for the main report, ploven-comparison.json and ploven-comparison.csv. The count with
// the smallest BIC (Schwarz 1978) is marked; Nylund, Asparouhov & Muthen (2007, Structural
// Equation Modeling 14, 535-569) found BIC and the bootstrap likelihood ratio test the most
// dependable guides to the number of classes.
#pragma once

#include "resultsio/json_values.hpp"

#include <optional>
#include <string>
#include <vector>

namespace ploven {

struct ComparisonRow {
    int classes = 0;
    bool fitted = false; // a converged fit; the other figures are meaningless without one
    double loglik = 0.0;
    long long parameters = 0;
    double cases = 0.0;
    double entropyR2 = 0.0;
    double smallestClass = 0.0; // the smallest class prior
    int replicated = 0;         // runs that reached the best loglikelihood
    std::optional<double> blrtP;
};

// Index of the fitted row with the smallest BIC, or -1 when no row is fitted.
int smallestBicRow(const std::vector<ComparisonRow>& rows);

std::string comparisonReport(const std::vector<ComparisonRow>& rows, int bootstrapSamples);
resultsio::Json comparisonJson(const std::vector<ComparisonRow>& rows);
std::string comparisonCsv(const std::vector<ComparisonRow>& rows);

} // namespace ploven
