#include "ploven/results_json.hpp"

#include "ploven/model_comparison.hpp"

#include <cmath>
#include <string>

namespace ploven {

using resultsio::Json;
using resultsio::number;

namespace {

std::string itemName(const RunRecord& r, int j) {
    if (r.csv && j < static_cast<int>(r.csv->itemNames.size())) return r.csv->itemNames[j];
    return "item " + std::to_string(j + 1);
}

std::string classKey(int k) {
    return "class_" + std::to_string(k + 1);
}

// {key, estimate, standard_error}; the standard error is null when none was computed.
Json parameter(const std::string& key, double estimate, const std::vector<double>* errors,
               std::size_t at) {
    Json p;
    p["key"] = key;
    p["estimate"] = number(estimate);
    p["standard_error"] = errors ? number((*errors)[at]) : Json(nullptr);
    return p;
}

Json modelPart(const RunRecord& r) {
    Json model;
    model["classes"] = r.nclass;
    model["items"] = r.nitem;
    return model;
}

Json dataPart(const RunRecord& r) {
    Json data;
    data["source"] = r.csv ? "csv" : "deck";
    data["input"] = r.caseInput ? "cases" : "patterns";
    data["records"] = r.records;
    if (r.dataRead) {
        data["cases"] = r.cases;
        data["patterns"] = r.patterns.size();
    } else {
        data["cases"] = nullptr;
        data["patterns"] = nullptr;
    }
    // Only a CSV file can have missing values; those cases are left out of the deck.
    data["cases_with_missing"] = r.csv ? static_cast<long long>(r.csv->leftOutLines.size()) : 0LL;
    return data;
}

// eta and the items with their class probabilities.
void estimatesPart(const RunRecord& r, Json& doc) {
    const StandardErrors* se = r.se && r.se->ok ? &*r.se : nullptr;
    const int K = r.est.nclass;
    Json eta = Json::array();
    for (int k = 0; k < K; ++k)
        eta.push_back(parameter(classKey(k), r.est.eta[k], se ? &se->eta : nullptr, k));
    Json items = Json::array();
    for (int j = 0; j < r.est.nitem; ++j) {
        Json item;
        item["number"] = j + 1;
        item["name"] = itemName(r, j);
        item["type"] = "binary";
        Json parameters = Json::array();
        for (int k = 0; k < K; ++k)
            parameters.push_back(parameter(classKey(k), r.est.PI(j, k), se ? &se->pi : nullptr,
                                           static_cast<std::size_t>(j) * K + k));
        item["parameters"] = std::move(parameters);
        // The categories in order and, per class, the probability of each: 1 - PI and PI.
        const bool labelled = r.csv && static_cast<std::size_t>(j) < r.csv->categoryLabels.size();
        item["categories"] = labelled ? r.csv->categoryLabels[static_cast<std::size_t>(j)]
                                      : std::vector<std::string>{"0", "1"};
        Json byClass = Json::array();
        for (int k = 0; k < K; ++k)
            byClass.push_back(Json::array({number(1.0 - r.est.PI(j, k)), number(r.est.PI(j, k))}));
        item["class_probabilities"] = std::move(byClass);
        items.push_back(std::move(item));
    }
    doc["standard_errors"] = se                      ? "computed"
                             : r.standardErrorsAsked ? "not_available"
                                                     : "not_requested";
    if (se || !r.standardErrorsAsked)
        doc["standard_errors_reason"] = nullptr;
    else if (r.se)
        doc["standard_errors_reason"] = r.se->unavailable;
    else
        doc["standard_errors_reason"] = "no fit converged";
    doc["eta"] = std::move(eta);
    doc["items"] = std::move(items);
}

Json fitPart(const RunRecord& r) {
    const int J = r.nitem, K = r.nclass;
    Json fit;
    if (r.full.error == ErrorCode::None) {
        Json full;
        full["likelihood_ratio"] = number(r.full.gsquare);
        full["chi_square"] = number(r.full.chisquare);
        full["degrees_of_freedom"] = std::pow(2.0, J) - K - static_cast<double>(J) * K;
        fit["full_table"] = std::move(full);
    } else {
        fit["full_table"] = nullptr; // a pattern with frequency or expected frequency zero
    }
    Json pooled;
    pooled["chi_square"] = number(r.pooled.chisquare);
    pooled["likelihood_ratio"] = number(r.pooled.gsquare);
    pooled["degrees_of_freedom"] = static_cast<long long>(r.patterns.size()) - K -
                                   static_cast<long long>(J) * K - r.pooled.ngrp;
    pooled["patterns_pooled"] = r.pooled.ngrp;
    fit["pooled"] = std::move(pooled);
    return fit;
}

Json contribution(double observed, double expected) {
    if (!(expected >= kTinyExpected)) return nullptr;
    const double d = observed - expected;
    return number(d * d / expected);
}

// The margins in the report's order: (0,0), (0,1), (1,0), (1,1); then the (1,1,1) triples.
Json marginsPart(const MarginTables& t) {
    const int P = t.nitem;
    Json pairs = Json::array();
    for (int a = 0; a < 2; ++a) {
        for (int b = 0; b < 2; ++b) {
            const bool lower = a == b;
            for (int I = 0; I < P; ++I) {
                for (int J = 0; J < (lower ? I : P); ++J) {
                    if (J == I) continue;
                    const long long o = t.obs(a, b, I, J);
                    const double e = t.exp(a, b, I, J);
                    Json row;
                    row["item1"] = I + 1;
                    row["item2"] = J + 1;
                    row["response1"] = a;
                    row["response2"] = b;
                    row["observed"] = o;
                    row["expected"] = number(e);
                    row["contribution"] = contribution(static_cast<double>(o), e);
                    pairs.push_back(std::move(row));
                }
            }
        }
    }
    Json margins;
    margins["second_order"] = std::move(pairs);
    if (!t.triples) {
        margins["third_order"] = nullptr; // too many items: left out of the report too
        return margins;
    }
    Json triples = Json::array();
    std::size_t at = 0;
    for (int I = 0; I < P; ++I)
        for (int J = I + 1; J < P; ++J)
            for (int L = J + 1; L < P; ++L, ++at) {
                Json row;
                row["item1"] = I + 1;
                row["item2"] = J + 1;
                row["item3"] = L + 1;
                row["observed"] = t.observed111[at];
                row["expected"] = number(t.expected111[at]);
                row["contribution"] =
                    contribution(static_cast<double>(t.observed111[at]), t.expected111[at]);
                triples.push_back(std::move(row));
            }
    margins["third_order"] = std::move(triples);
    return margins;
}

Json classificationPart(const RunRecord& r) {
    const std::vector<std::vector<double>> table = modalAssignments(r.post, r.patterns);
    std::vector<long long> counts(static_cast<std::size_t>(r.nclass), 0);
    for (int i = 0; i < r.patterns.size(); ++i)
        if (r.post.iclass[i] >= 1) counts[r.post.iclass[i] - 1] += r.patterns.freq[i];
    Json rows = Json::array();
    for (const std::vector<double>& row : table) {
        Json values = Json::array();
        for (double v : row) values.push_back(number(v));
        rows.push_back(std::move(values));
    }
    Json c;
    c["modal_class_counts"] = counts;
    c["assignment_table"] = std::move(rows);
    return c;
}

Json startsPart(const MultiStartOutcome& o) {
    Json runs = Json::array();
    for (std::size_t i = 0; i < o.runs.size(); ++i) {
        const FinalRun& run = o.runs[i];
        Json j;
        j["origin"] = run.origin == kBandStart ? "band" : "random";
        j["start"] = run.origin == kBandStart ? Json(nullptr) : Json(run.origin);
        j["loglikelihood"] = number(run.loglik);
        j["cycles"] = run.iterations - 1;
        j["converged"] = run.converged;
        j["reported"] = static_cast<int>(i) == o.reported;
        runs.push_back(std::move(j));
    }
    Json s;
    s["random_starts"] = o.starts;
    s["seed"] = o.seed;
    s["first_stage_cycles"] = o.firstStageCycles;
    s["stopped_early"] = o.stoppedEarly;
    s["runs"] = std::move(runs);
    s["replicated"] = o.replicated;
    return s;
}

// Everything after the data part, as far as the run got.
void estimationParts(const RunRecord& r, Json& doc) {
    if (!r.estimated) return;

    doc["cycles"] = r.fit.iterations - 1;
    resultsio::addModelComparison(doc, r.ending, r.fit.loglik, modelParameters(r.nitem, r.nclass),
                                  static_cast<double>(r.cases));
    doc["last_change"] = number(r.fit.change);
    // The classification's entropy describes a maximum, as the criteria do.
    doc["entropy_r2"] = r.fitted && r.ending == resultsio::Ending::Converged
                            ? number(entropyRSquare(r.post, r.patterns))
                            : Json(nullptr);
    estimatesPart(r, doc);
    if (r.fitted) {
        doc["fit"] = fitPart(r);
        doc["margins"] = marginsPart(r.margins);
        doc["classification"] = classificationPart(r);
    }
    doc["starts"] = startsPart(r.outcome);
    if (r.check.convergence.checked) {
        Json convergence = resultsio::convergenceJson(r.check.convergence);
        convergence["releases_from_bounds"] = r.check.releases;
        doc["convergence"] = std::move(convergence);
    }
    if (r.simulationSamples > 0) {
        Json sim;
        sim["samples"] = r.simulationSamples;
        sim["completed"] = r.simulationError.empty();
        sim["error"] = r.simulationError.empty() ? Json(nullptr) : Json(r.simulationError);
        doc["simulation"] = std::move(sim);
    }
}

} // namespace

Json resultsDocument(const RunRecord& r) {
    Json doc = resultsio::documentHead("ploven", r.title, r.ending, r.message);
    doc["model"] = modelPart(r);
    doc["data"] = dataPart(r);
    estimationParts(r, doc);
    doc["warnings"] = r.warnings;
    doc["notes"] = r.notes;
    return doc;
}

} // namespace ploven
