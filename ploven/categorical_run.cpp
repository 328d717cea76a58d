#include "ploven/categorical_run.hpp"

#include "csvio/case_ids.hpp"
#include "csvio/cells.hpp"
#include "csvio/deck_text.hpp"
#include "csvio/write.hpp"
#include "fixedio/layout.hpp"
#include "ploven/cases_file.hpp"
#include "resultsio/criteria.hpp"

#include <algorithm>
#include <cmath>

namespace ploven {

using fixedio::formatF;
using fixedio::formatI;
using resultsio::Json;
using resultsio::number;

namespace {

std::size_t at(int i, int k, int K) {
    return static_cast<std::size_t>(i) * static_cast<std::size_t>(K) + static_cast<std::size_t>(k);
}

std::string padded(std::string text, std::size_t width) {
    if (text.size() > width) text.resize(width);
    text.resize(width, ' ');
    return text;
}

std::string classKey(int k) {
    return "class_" + std::to_string(k + 1);
}

} // namespace

double categoricalEntropy(const std::vector<double>& h, const std::vector<int>& freq, int nclass) {
    if (nclass <= 1) return 1.0;
    double cases = 0.0, entropy = 0.0;
    for (std::size_t i = 0; i < freq.size(); ++i) {
        double e = 0.0;
        for (int k = 0; k < nclass; ++k) {
            const double p = h[at(static_cast<int>(i), k, nclass)];
            if (p > 0.0) e -= p * std::log(p);
        }
        cases += freq[i];
        entropy += freq[i] * e;
    }
    return 1.0 - entropy / (cases * std::log(static_cast<double>(nclass)));
}

double smallestClass(const CategoricalEstimates& est) {
    return *std::min_element(est.eta.begin(), est.eta.end());
}

CategoricalResult fitCategoricalCases(const CategoricalCases& cases, int nclass, double tol,
                                      int maxCycles, bool standardErrors,
                                      const CategoricalStarts& starts) {
    CategoricalResult r;
    r.nclass = nclass;
    r.patterns = foldCategorical(cases.rows, &r.casePattern);
    r.cases = r.patterns.cases();
    r.parameters = categoricalParameters(r.patterns.categories, nclass);
    r.standardErrorsAsked = standardErrors;
    if (nclass > r.patterns.nitem) {
        r.tooManyClasses = true;
        return r;
    }
    r.fit = fitCategorical(r.patterns, nclass, tol, maxCycles, starts);
    r.modal.assign(static_cast<std::size_t>(r.patterns.size()), 0);
    for (int i = 0; i < r.patterns.size(); ++i) {
        int best = 0;
        for (int k = 1; k < nclass; ++k)
            if (r.fit.h[at(i, k, nclass)] > r.fit.h[at(i, best, nclass)]) best = k;
        r.modal[static_cast<std::size_t>(i)] = best + 1;
    }
    r.entropyR2 = categoricalEntropy(r.fit.h, r.patterns.freq, nclass);
    if (standardErrors) r.se = categoricalErrors(r.patterns, r.fit.est, r.fit.h);
    r.bvr = bivariateResiduals(r.patterns, r.fit.est);
    return r;
}

std::string bivariateReport(const std::vector<BivariateResidual>& bvr,
                            const std::vector<std::string>& names) {
    std::string rows;
    for (const BivariateResidual& b : bvr)
        if (b.bvr > kBvrListed)
            rows += "     " +
                    padded(csvio::printable(names[static_cast<std::size_t>(b.first)]), 20) + "  " +
                    padded(csvio::printable(names[static_cast<std::size_t>(b.second)]), 20) +
                    formatF(b.bvr, 12, 3) + "\n";
    std::string out = "\n\n     BIVARIATE RESIDUALS (PEARSON CHI-SQUARE OF THE PAIR'S TABLE PER "
                      "DEGREE OF FREEDOM)\n";
    if (rows.empty()) return out + "     NO PAIR OF ITEMS ABOVE 3.84\n";
    return out + "     PAIRS ABOVE 3.84 (LOCAL DEPENDENCE THE CLASSES DO NOT EXPLAIN):\n\n" +
           "     ITEM                  ITEM                         BVR\n" + rows;
}

Json bivariateJson(const std::vector<BivariateResidual>& bvr,
                   const std::vector<std::string>& names) {
    Json list = Json::array();
    for (const BivariateResidual& b : bvr) {
        Json pair;
        pair["items"] = Json::array(
            {names[static_cast<std::size_t>(b.first)], names[static_cast<std::size_t>(b.second)]});
        pair["bvr"] = number(b.bvr);
        list.push_back(std::move(pair));
    }
    return list;
}

std::string categoricalReport(const CategoricalResult& r, const CsvDeck& csv) {
    const int K = r.nclass;
    std::string out = "\n     NUMBER OF CASES=" + formatI(r.cases, 8) + "\n";
    const long long missing = csv.cases.casesWithMissing;
    out += "     CASES WITH MISSING ANSWERS=" + formatI(missing, 8) +
           "  (EACH CASE'S LIKELIHOOD IS OVER THE ITEMS IT ANSWERED)\n";
    if (r.tooManyClasses)
        return out + "\n    *** ERROR ***  NUMBER OF CLASSES LARGER THAN NUMBER OF ITEMS\n";
    const CategoricalEstimates& est = r.fit.est;
    const CategoricalErrors* se = r.se && r.se->ok ? &*r.se : nullptr;
    out += "\n\n     CLASS-CONDITIONAL CATEGORY PROBABILITIES";
    out += se ? " (STANDARD ERRORS IN PARENTHESES)\n" : "\n";
    std::string classes = "     " + padded("CATEGORY", 16);
    for (int k = 0; k < K; ++k) {
        const std::string name = "CLASS " + std::to_string(k + 1);
        classes += std::string(10 - std::min<std::size_t>(name.size(), 9), ' ') + name;
        if (se && k + 1 < K) classes += std::string(9, ' ');
    }
    for (int j = 0; j < est.nitem; ++j) {
        out += "\n     ITEM" + formatI(j + 1, 4) + "  " +
               csvio::printable(csv.itemNames[static_cast<std::size_t>(j)]) + "\n" + classes + "\n";
        for (int c = 0; c < est.categories[j]; ++c) {
            out +=
                "     " + padded(csvio::printable(csv.categoryLabels[static_cast<std::size_t>(j)]
                                                                    [static_cast<std::size_t>(c)]),
                                 16);
            for (int k = 0; k < K; ++k) {
                out += formatF(est.P(j, k, c), 10, 4);
                if (se) out += " (" + formatF(se->p[est.index(j, k, c)], 6, 4) + ")";
            }
            out += "\n";
        }
    }
    out += "\n     CLASS PROPORTIONS\n     " + padded("", 16);
    for (int k = 0; k < K; ++k) {
        out += formatF(est.eta[static_cast<std::size_t>(k)], 10, 4);
        if (se) out += " (" + formatF(se->eta[static_cast<std::size_t>(k)], 6, 4) + ")";
    }
    out += "\n";
    if (r.standardErrorsAsked && !se)
        out += "\n     *** WARNING *** NO STANDARD ERRORS: " + r.se->unavailable + "\n";

    const resultsio::InformationCriteria c = resultsio::informationCriteria(
        r.fit.run.loglik, r.parameters, static_cast<double>(r.cases));
    out += "\n     LOGLIKELIHOOD=" + formatF(r.fit.run.loglik, 16, 5) +
           "   CYCLES=" + formatI(r.fit.run.cycles, 7) +
           (r.fit.run.converged ? "" : "   (NOT CONVERGED)") + "\n";
    out += "\n     MODEL COMPARISON\n";
    out += "     NUMBER OF PARAMETERS =" + formatI(r.parameters, 16) + "\n";
    out += "     LOGLIKELIHOOD        =" + formatF(r.fit.run.loglik, 16, 5) + "\n";
    out += "     AIC                  =" + formatF(c.aic, 16, 4) + "\n";
    out += "     BIC                  =" + formatF(c.bic, 16, 4) + "\n";
    out += "     SABIC                =" + formatF(c.sabic, 16, 4) + "\n";
    out += "     ENTROPY R-SQUARE     =" + formatF(r.entropyR2, 16, 4) + "\n";
    out += "\n     STARTING VALUES: " + std::to_string(r.fit.finalRuns) +
           " RUNS TO CONVERGENCE; THE BEST LOGLIKELIHOOD REACHED BY " +
           std::to_string(r.fit.replicated) + "\n";

    std::vector<long long> counts(static_cast<std::size_t>(K), 0);
    for (int i = 0; i < r.patterns.size(); ++i)
        counts[static_cast<std::size_t>(r.modal[static_cast<std::size_t>(i)] - 1)] +=
            r.patterns.freq[static_cast<std::size_t>(i)];
    out += "\n     CASES BY MODAL CLASS (POSTERIORS FROM THE ITEMS ANSWERED)\n     ";
    for (int k = 0; k < K; ++k) out += formatI(counts[static_cast<std::size_t>(k)], 10);
    out += "\n";
    return out;
}

void categoricalJson(const CategoricalResult& r, const CsvDeck& csv, Json& doc) {
    const int K = r.nclass;
    const CategoricalEstimates& est = r.fit.est;
    const CategoricalErrors* se = r.se && r.se->ok ? &*r.se : nullptr;
    doc["cycles"] = r.fit.run.cycles;
    resultsio::addModelComparison(
        doc, r.fit.run.converged ? resultsio::Ending::Converged : resultsio::Ending::MaxCycles,
        r.fit.run.loglik, r.parameters, static_cast<double>(r.cases));
    doc["entropy_r2"] = r.fit.run.converged ? number(r.entropyR2) : Json(nullptr);
    doc["standard_errors"] = se                      ? "computed"
                             : r.standardErrorsAsked ? "not_available"
                                                     : "not_requested";
    doc["standard_errors_reason"] = r.se && !r.se->ok ? Json(r.se->unavailable) : Json(nullptr);
    auto parameter = [](const std::string& key, double estimate, const double* error) {
        Json p;
        p["key"] = key;
        p["estimate"] = number(estimate);
        p["standard_error"] = error ? number(*error) : Json(nullptr);
        return p;
    };
    Json eta = Json::array();
    for (int k = 0; k < K; ++k)
        eta.push_back(parameter(classKey(k), est.eta[static_cast<std::size_t>(k)],
                                se ? &se->eta[static_cast<std::size_t>(k)] : nullptr));
    Json items = Json::array();
    for (int j = 0; j < est.nitem; ++j) {
        const int C = est.categories[j];
        const auto& labels = csv.categoryLabels[static_cast<std::size_t>(j)];
        Json item;
        item["number"] = j + 1;
        item["name"] = csv.itemNames[static_cast<std::size_t>(j)];
        item["type"] = C == 2 ? "binary" : "polytomous";
        // Binary items keep their one parameter per class, the second category's probability;
        // a polytomous item has one per class and category ("class_1:label").
        Json parameters = Json::array();
        for (int k = 0; k < K; ++k)
            for (int c = C == 2 ? 1 : 0; c < C; ++c)
                parameters.push_back(parameter(
                    C == 2 ? classKey(k) : classKey(k) + ":" + labels[static_cast<std::size_t>(c)],
                    est.P(j, k, c), se ? &se->p[est.index(j, k, c)] : nullptr));
        item["parameters"] = std::move(parameters);
        item["categories"] = labels;
        Json byClass = Json::array();
        for (int k = 0; k < K; ++k) {
            Json row = Json::array();
            for (int c = 0; c < C; ++c) row.push_back(number(est.P(j, k, c)));
            byClass.push_back(std::move(row));
        }
        item["class_probabilities"] = std::move(byClass);
        items.push_back(std::move(item));
    }
    doc["eta"] = std::move(eta);
    doc["items"] = std::move(items);
    doc["fit"] = nullptr;     // the full-table statistics are for complete binary patterns
    doc["margins"] = nullptr; // so are the margins tables
    std::vector<long long> counts(static_cast<std::size_t>(K), 0);
    for (int i = 0; i < r.patterns.size(); ++i)
        counts[static_cast<std::size_t>(r.modal[static_cast<std::size_t>(i)] - 1)] +=
            r.patterns.freq[static_cast<std::size_t>(i)];
    Json classification;
    classification["modal_class_counts"] = counts;
    doc["classification"] = std::move(classification);
    Json starts;
    starts["final_runs"] = r.fit.finalRuns;
    Json logliks = Json::array();
    for (double l : r.fit.finalLogliks) logliks.push_back(number(l));
    starts["loglikelihoods"] = std::move(logliks);
    starts["replicated"] = r.fit.replicated;
    doc["starts"] = std::move(starts);
    doc["bivariate_residuals"] = bivariateJson(r.bvr, csv.itemNames);
}

std::string categoricalCasesFile(const CategoricalResult& r, const CsvDeck& csv) {
    return csvCasesFile(csvCasesOf(csv), r.nclass, !r.tooManyClasses,
                        [&r](std::size_t used, std::vector<std::string>& row) {
                            const int i = r.casePattern[used];
                            row.push_back(std::to_string(r.modal[static_cast<std::size_t>(i)]));
                            for (int k = 0; k < r.nclass; ++k)
                                row.push_back(csvio::csvNumber(r.fit.h[at(i, k, r.nclass)]));
                        });
}

} // namespace ploven
