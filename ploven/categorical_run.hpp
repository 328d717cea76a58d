// A fit of the categorical latent class model to the cases of a CSV file, and what it writes:
// its report section (class-conditional category probabilities with standard errors, class
// sizes, model comparison, classification and bivariate residuals), its part of ploven.json and
// ploven-cases.csv.
#pragma once

#include "ploven/bivariate_residuals.hpp"
#include "ploven/categorical_em.hpp"
#include "ploven/categorical_errors.hpp"
#include "ploven/csv_deck.hpp"
#include "resultsio/ending.hpp"
#include "resultsio/json_values.hpp"

#include <optional>
#include <string>
#include <vector>

namespace ploven {

struct CategoricalResult {
    int nclass = 0;
    long long cases = 0;
    long long parameters = 0;
    bool tooManyClasses = false; // more classes than items: no fit
    CategoricalData patterns;
    std::vector<int> casePattern; // per case used
    CategoricalFit fit;
    std::vector<int> modal; // per pattern, 1-based
    double entropyR2 = 1.0;
    bool standardErrorsAsked = false;
    std::optional<CategoricalErrors> se;
    std::vector<BivariateResidual> bvr;
};

// Fits nclass classes to the cases; standard errors when asked.
CategoricalResult fitCategoricalCases(const CategoricalCases& cases, int nclass, double tol,
                                      int maxCycles, bool standardErrors,
                                      const CategoricalStarts& starts);

// Entropy R-square of posteriors h (rows of nclass) with frequencies freq.
double categoricalEntropy(const std::vector<double>& h, const std::vector<int>& freq, int nclass);

// The smallest class prior.
double smallestClass(const CategoricalEstimates& est);

// The report section after the head and legend.
std::string categoricalReport(const CategoricalResult& r, const CsvDeck& csv);

// The report block of bivariate residuals above kBvrListed (nothing when there are none).
std::string bivariateReport(const std::vector<BivariateResidual>& bvr,
                            const std::vector<std::string>& names);

// {"items": [name, name], "bvr": x} for every pair.
resultsio::Json bivariateJson(const std::vector<BivariateResidual>& bvr,
                              const std::vector<std::string>& names);

// The estimation parts of ploven.json (added to doc, which holds the head, model and data).
void categoricalJson(const CategoricalResult& r, const CsvDeck& csv, resultsio::Json& doc);

// ploven-cases.csv: record number, the ID column under its own name, modal class, posteriors.
std::string categoricalCasesFile(const CategoricalResult& r, const CsvDeck& csv);

} // namespace ploven
