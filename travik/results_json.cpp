#include "travik/results_json.hpp"

#include "travik/identification.hpp"
#include "travik/model_comparison.hpp"
#include "travik/quadrature.hpp"

#include <cmath>
#include <string>

namespace travik {

using resultsio::Json;
using resultsio::number;

namespace {

// The standard error at a parameter position; null when none was computed.
Json standardError(const RunRecord& r, int position) {
    if (!r.fitted) return nullptr;
    return number(r.cov.se(position));
}

Json parameter(const RunRecord& r, const std::string& key, double estimate, int position) {
    Json p;
    p["key"] = key;
    p["estimate"] = number(estimate);
    // The loading that fixes the rotation of two factors is not estimated: no standard error.
    const bool fixed = position == fixedLoadingPosition(r.deck, parameterLayout(r.deck));
    p["standard_error"] = fixed ? Json(nullptr) : standardError(r, position);
    if (fixed) p["fixed"] = true;
    return p;
}

Json standardized(const std::string& key, double value) {
    Json s;
    s["key"] = key;
    s["estimate"] = number(value);
    return s;
}

std::string loading(int f) {
    return "loading" + std::to_string(f);
}
std::string category(int j) {
    return "category_" + std::to_string(j) + ".";
}

Json modelPart(const RunRecord& r) {
    const Deck& d = r.deck;
    Json quadrature;
    quadrature["points"] = d.nq;
    quadrature["points_per_factor"] = r.pointsPerFactor;
    quadrature["grid_points"] = r.pointsPerFactor * (d.nf == 2 ? r.pointsPerFactor : 1);
    quadrature["full_rule"] = r.fullRule;
    Json items;
    items["binary"] = d.nb;
    items["normal"] = d.nn;
    items["nominal"] = d.nc;
    items["ordinal"] = d.no;
    items["total"] = d.nv();
    Json model;
    model["factors"] = d.nf;
    model["quadrature"] = std::move(quadrature);
    model["items"] = std::move(items);
    model["nominal_categories"] = d.c;
    model["ordinal_categories"] = d.o;
    model["max_cycles"] = d.maxit;
    model["tolerance"] = number(d.tol);
    model["accelerated"] = r.accelerated;
    model["starting_values"] = d.init == 0 ? "generated" : "read";
    return model;
}

Json dataPart(const RunRecord& r) {
    Json data;
    data["cases_in_input"] = r.inputCases;
    data["cases"] = r.deck.ncase;
    data["cases_left_out"] = r.inputCases - r.deck.ncase;
    data["cases_with_missing"] = r.casesWithMissing;
    if (r.csvSource) data["csv"] = resultsio::csvSourceJson(*r.csvSource);
    return data;
}

std::string itemName(const RunRecord& r, int number) {
    return number <= static_cast<int>(r.itemNames.size()) ? r.itemNames[number - 1]
                                                          : "item " + std::to_string(number);
}

// The rotated standardized loadings: one entry per item (per category of a nominal item) in
// model order, and the factor correlation of an oblique rotation.
Json rotationPart(const RunRecord& r) {
    const Rotation& rot = *r.rotation;
    Json out;
    out["method"] = std::string(rotationMethodName(rot.method));
    out["reason"] = rot.unavailable.empty() ? Json(nullptr) : Json(rot.unavailable);
    out["converged"] = rot.converged;
    out["criterion"] = number(rot.criterion);
    out["starts_at_best"] = rot.startsAtBest;
    const Deck& d = r.deck;
    const StandardizedLoadings l = rotatedStandardized(r.standardized, rot);
    Json items = Json::array();
    auto add = [&](int itemNumber, int category, const std::array<double, 3>& v) {
        Json it;
        it["item"] = itemName(r, itemNumber);
        if (category > 0) it["category"] = category;
        it["loadings"] = Json::array({number(v[1]), number(v[2])});
        items.push_back(std::move(it));
    };
    for (int i = 0; i < d.nb; ++i) add(i + 1, 0, l.binary[i]);
    for (int i = 0; i < d.nn; ++i) add(d.nb + i + 1, 0, l.normal[i]);
    for (int i = 0; i < d.nc; ++i)
        for (int j = 2; j <= d.c[i]; ++j) add(d.nb + d.nn + i + 1, j, l.nominal[i][j]);
    for (int i = 0; i < d.no; ++i) add(d.nb + d.nn + d.nc + i + 1, 0, l.ordinal[i]);
    out["items"] = std::move(items);
    out["factor_correlation"] =
        rot.method == RotationMethod::Oblimin ? number(rot.phi[0][1]) : Json(nullptr);
    return out;
}

Json limitedFitPart(const LimitedInformationFit& f) {
    Json out;
    out["available"] = f.available;
    out["reason"] = f.available ? Json(nullptr) : Json(f.reason);
    out["statistic"] = f.available ? Json(f.statistic) : Json(nullptr);
    out["value"] = number(f.value); // not a number, so null, when not available
    out["degrees_of_freedom"] = f.available ? Json(f.df) : Json(nullptr);
    out["p"] = number(f.p);
    out["rmsea"] = number(f.rmsea);
    out["rmsea_90"] =
        f.available ? Json::array({number(f.rmseaLow), number(f.rmseaHigh)}) : Json(nullptr);
    out["srmsr"] = number(f.srmsr);
    out["cfi"] = number(f.cfi);
    out["tli"] = number(f.tli);
    Json baseline;
    baseline["value"] = number(f.baselineValue);
    baseline["degrees_of_freedom"] = f.baselineDf;
    out["baseline"] = f.available ? baseline : Json(nullptr);
    return out;
}

// One entry per item, the statistic null (with the reason) for an item without one.
Json itemFitPart(const RunRecord& r, const ItemFit& f) {
    Json out = Json::array();
    for (const ItemFitEntry& e : f.items) {
        Json it;
        it["item"] = itemName(r, e.item + 1);
        it["s_x2"] = e.available ? number(e.sx2) : Json(nullptr);
        it["df"] = e.available ? Json(e.df) : Json(nullptr);
        it["p"] = e.available ? number(e.p) : Json(nullptr);
        it["rmsea"] = e.available ? number(e.rmsea) : Json(nullptr);
        it["reason"] = e.available ? Json(nullptr) : Json(e.reason);
        out.push_back(std::move(it));
    }
    return out;
}

Json localDependencePart(const RunRecord& r, const LocalDependence& ld) {
    Json out = Json::array();
    for (const ItemPairDependence& p : ld.pairs) {
        Json pair;
        pair["items"] = Json::array({itemName(r, p.i + 1), itemName(r, p.j + 1)});
        pair["cases"] = p.cases;
        pair["x2"] = number(p.x2);
        pair["df"] = p.df;
        pair["standardized"] = number(p.standardized);
        pair["signed_cramers_v"] = number(p.signedCramersV);
        pair["flagged"] = p.flagged;
        out.push_back(std::move(pair));
    }
    return out;
}

Json irtValue(const IrtValue& v) {
    Json out;
    out["value"] = v.value ? number(*v.value) : Json(nullptr);
    out["se"] = v.se ? number(*v.se) : Json(nullptr);
    return out;
}

// One factor: a and b (binary) or a and the thresholds b (ordinal); two factors: a1, a2, MDISC
// and MDIFF (binary) or the thresholds on MDISC's scale (ordinal).
Json irtPart(const IrtParameters& irt, int item, const Deck& d) {
    Json out;
    const bool two = irt.factors == 2;
    if (item < d.nb) {
        const BinaryIrt& b = irt.binary[static_cast<std::size_t>(item)];
        if (two) {
            out["a1"] = irtValue(b.a1);
            out["a2"] = irtValue(b.a2);
            out["mdisc"] = irtValue(b.mdisc);
            out["mdiff"] = irtValue(b.difficulty);
        } else {
            out["a"] = irtValue(b.a1);
            out["b"] = irtValue(b.difficulty);
        }
        return out;
    }
    const OrdinalIrt& o = irt.ordinal[static_cast<std::size_t>(item - (d.nb + d.nn + d.nc))];
    if (two) {
        out["a1"] = irtValue(o.a1);
        out["a2"] = irtValue(o.a2);
        out["mdisc"] = irtValue(o.mdisc);
    } else {
        out["a"] = irtValue(o.a1);
    }
    Json thresholds = Json::array();
    for (const IrtValue& t : o.thresholds) thresholds.push_back(irtValue(t));
    out["b"] = std::move(thresholds);
    return out;
}

// One item: number, name, type and its parameters with their standard errors.
Json item(const RunRecord& r, int number, int numberInType, const char* type, Json parameters,
          Json loadings) {
    Json it;
    it["number"] = number;
    it["name"] = itemName(r, number);
    it["type"] = type;
    it["number_in_type"] = numberInType;
    it["parameters"] = std::move(parameters);
    if (r.fitted) it["standardized_loadings"] = std::move(loadings);
    const Deck& d = r.deck;
    const bool irtItem = number <= d.nb || number > d.nb + d.nn + d.nc;
    if (r.irt && irtItem) it["irt"] = irtPart(*r.irt, number - 1, d);
    return it;
}

// The labels of a nominal or ordinal item's categories in model order: the CSV file's values,
// or the deck's numbers. which counts nominal items first, then ordinal ones.
Json categoryLabels(const RunRecord& r, std::size_t which, int categories) {
    if (which < r.categoryLabels.size()) return r.categoryLabels[which];
    Json labels = Json::array();
    for (int c = 1; c <= categories; ++c) labels.push_back(std::to_string(c));
    return labels;
}

Json itemsPart(const RunRecord& r) {
    const Deck& d = r.deck;
    const int nf = d.nf;
    const Parameters& p = r.params;
    const ParameterLayout l = parameterLayout(d);
    const StandardizedLoadings& s = r.standardized;
    Json items = Json::array();
    int number = 0;
    for (int i = 0; i < d.nb; ++i) {
        Json ps = Json::array(), ls = Json::array();
        ps.push_back(parameter(r, "intercept", p.binary[i].alpha[0], l.binaryAt(nf, i, 0)));
        for (int f = 1; f <= nf; ++f) {
            ps.push_back(parameter(r, loading(f), p.binary[i].alpha[f], l.binaryAt(nf, i, f)));
            if (r.fitted) ls.push_back(standardized(loading(f), s.binary[i][f]));
        }
        items.push_back(item(r, ++number, i + 1, "binary", std::move(ps), std::move(ls)));
    }
    for (int i = 0; i < d.nn; ++i) {
        const NormalItem& n = p.normal[i];
        const int at = l.normal[i];
        Json ps = Json::array(), ls = Json::array();
        ps.push_back(parameter(r, "mean", n.mu, at));
        for (int f = 1; f <= nf; ++f) {
            ps.push_back(parameter(r, loading(f), f == 1 ? n.lambda1 : n.lambda2, at + f));
            if (r.fitted) ls.push_back(standardized(loading(f), s.normal[i][f]));
        }
        ps.push_back(parameter(r, "variance", n.psi, at + nf + 1));
        items.push_back(item(r, ++number, i + 1, "normal", std::move(ps), std::move(ls)));
    }
    for (int i = 0; i < d.nc; ++i) {
        const NominalItem& c = p.nominal[i];
        Json ps = Json::array(), ls = Json::array();
        for (int j = 2; j <= c.categories; ++j) {
            const int at = l.nominal[i] + (j - 2) * (nf + 1);
            ps.push_back(parameter(r, category(j) + "intercept", c.ac[j][0], at));
            for (int f = 1; f <= nf; ++f) {
                ps.push_back(parameter(r, category(j) + loading(f), c.ac[j][f], at + f));
                if (r.fitted)
                    ls.push_back(standardized(category(j) + loading(f), s.nominal[i][j][f]));
            }
        }
        Json it = item(r, ++number, i + 1, "nominal", std::move(ps), std::move(ls));
        it["category_count"] = c.categories;
        it["categories"] = categoryLabels(r, static_cast<std::size_t>(i), c.categories);
        items.push_back(std::move(it));
    }
    for (int i = 0; i < d.no; ++i) {
        const OrdinalItem& o = p.ordinal[i];
        const int at = l.ordinal[i];
        Json ps = Json::array(), ls = Json::array();
        for (int j = 1; j < o.categories; ++j)
            ps.push_back(parameter(r, "threshold_" + std::to_string(j), o.thr[j], at + j - 1));
        for (int f = 1; f <= nf; ++f) {
            ps.push_back(parameter(r, loading(f), o.ao[f], at + o.categories - 2 + f));
            if (r.fitted) ls.push_back(standardized(loading(f), s.ordinal[i][f]));
        }
        Json it = item(r, ++number, i + 1, "ordinal", std::move(ps), std::move(ls));
        it["category_count"] = o.categories;
        it["categories"] = categoryLabels(
            r, static_cast<std::size_t>(d.nc) + static_cast<std::size_t>(i), o.categories);
        items.push_back(std::move(it));
    }
    return items;
}

// The report's figures, or null beside the reason where they do not measure this model's fit.
Json goodnessOfFit(const FitMeasures& f) {
    const bool valid = f.invalidReason.empty();
    const auto shown = [valid](double value) { return valid ? number(value) : Json(nullptr); };
    Json g;
    g["valid"] = valid;
    g["reason"] = valid ? Json(nullptr) : Json(f.invalidReason);
    g["g_square_explained_percent"] = shown(f.explained);
    g["loglikelihood"] = shown(f.logl);
    g["likelihood_ratio"] = shown(f.lr);
    g["chi_square_observed_patterns"] = shown(f.chiObserved);
    g["chi_square_all_patterns"] = shown(f.chiAll);
    g["degrees_of_freedom"] = valid ? Json(f.df) : Json(nullptr);
    return g;
}

// (O - E)^2 / E, null with nothing expected.
Json contribution(double o, double e) {
    if (!(e > 0.0)) return nullptr;
    return number((o - e) * (o - e) / e);
}

Json cell(Json row, long long observed, double expected) {
    row["observed"] = observed;
    row["expected"] = number(expected);
    row["contribution"] = contribution(static_cast<double>(observed), expected);
    return row;
}

// Blocks (1,1), (1,0), (0,1), (0,0) as the report lists them; rows with item1 = item2 are
// the first-order margins. Binary items come first in the model, so their numbers are the
// items' numbers.
Json binaryMargins(const BinaryMargins& b) {
    struct Block {
        int a, c;
        const std::vector<long long>& o;
        const std::vector<double>& e;
        bool diagonal;
    };
    const Block blocks[] = {{1, 1, b.o11, b.e11, true},
                            {1, 0, b.o10, b.e10, false},
                            {0, 1, b.o01, b.e01, false},
                            {0, 0, b.o00, b.e00, true}};
    Json pairs = Json::array();
    for (const Block& block : blocks)
        for (int i = 0; i < b.nb; ++i)
            for (int j = 0; j < (block.diagonal ? i + 1 : i); ++j) {
                Json row;
                row["item1"] = i + 1;
                row["item2"] = j + 1;
                row["response1"] = block.a;
                row["response2"] = block.c;
                pairs.push_back(cell(std::move(row), block.o[b.at(i, j)], block.e[b.at(i, j)]));
            }
    Json out;
    out["second_order"] = std::move(pairs);
    if (!b.triples) {
        out["third_order"] = nullptr; // too many items: left out of the report too
        return out;
    }
    Json triples = Json::array();
    for (int i = 0; i < b.nb; ++i)
        for (int j = i + 1; j < b.nb; ++j)
            for (int k = j + 1; k < b.nb; ++k) {
                Json row;
                row["item1"] = i + 1;
                row["item2"] = j + 1;
                row["item3"] = k + 1;
                triples.push_back(
                    cell(std::move(row), b.o111[b.at(i, j, k)], b.e111[b.at(i, j, k)]));
            }
    out["third_order"] = std::move(triples);
    return out;
}

// firstItem: the number of the type's first item in the model.
Json polytomousMargins(const PolytomousMargins& p, int firstItem) {
    const int n = static_cast<int>(p.categories.size());
    Json first = Json::array();
    for (int i = 0; i < n; ++i)
        for (int c = 1; c <= p.categories[i]; ++c) {
            Json row;
            row["item"] = firstItem + i;
            row["category"] = c;
            first.push_back(cell(std::move(row), p.first[i][c - 1], p.firstExpected[i][c - 1]));
        }
    Json second = Json::array();
    std::size_t pair = 0;
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j, ++pair)
            for (int c = 1; c <= p.categories[i]; ++c)
                for (int e = 1; e <= p.categories[j]; ++e) {
                    const std::size_t at =
                        static_cast<std::size_t>(c - 1) * p.categories[j] + (e - 1);
                    Json row;
                    row["item1"] = firstItem + i;
                    row["item2"] = firstItem + j;
                    row["category1"] = c;
                    row["category2"] = e;
                    second.push_back(
                        cell(std::move(row), p.pair[pair][at], p.pairExpected[pair][at]));
                }
    Json out;
    out["first_order"] = std::move(first);
    out["second_order"] = std::move(second);
    return out;
}

// The check of the fit and, where it ran, the loglikelihood on the finer rule.
Json convergencePart(const RunRecord& r) {
    Json c = resultsio::convergenceJson(r.check);
    const IntegrationCheck& i = r.integration;
    if (i.done) {
        Json finer;
        finer["points_per_factor"] = i.pointsPerFactor;
        finer["loglikelihood"] = number(i.loglik);
        finer["difference"] = number(i.difference);
        c["finer_rule"] = std::move(finer);
    } else {
        c["finer_rule"] = nullptr;
    }
    return c;
}

Json marginsPart(const RunRecord& r) {
    const Deck& d = r.deck;
    Json m;
    m["binary"] = r.binaryMargins ? binaryMargins(*r.binaryMargins) : Json(nullptr);
    m["nominal"] =
        r.nominalMargins ? polytomousMargins(*r.nominalMargins, d.nb + d.nn + 1) : Json(nullptr);
    m["ordinal"] = r.ordinalMargins ? polytomousMargins(*r.ordinalMargins, d.nb + d.nn + d.nc + 1)
                                    : Json(nullptr);
    return m;
}

} // namespace

Json resultsDocument(const RunRecord& r) {
    Json doc = resultsio::documentHead("travik", r.title, r.ending, r.message);
    if (r.deckRead) doc["model"] = modelPart(r);
    if (r.dataRead) doc["data"] = dataPart(r);
    if (r.estimated) {
        doc["cycles"] = r.cycles;
        resultsio::addModelComparison(doc, r.ending, r.loglik, modelParameters(r.deck),
                                      r.deck.ncase);
        doc["items"] = itemsPart(r);
    }
    if (r.check.checked) doc["convergence"] = convergencePart(r);
    if (r.fitted) {
        // As ploven.json says it, with the reason beside; "partial" when some parameters (of
        // frozen items, or ones the data do not identify) have none.
        const bool partial = r.cov.unavailable.empty() && !r.cov.withoutErrors.empty();
        doc["standard_errors"] = !r.cov.unavailable.empty() ? "not_available"
                                 : partial                  ? "partial"
                                                            : "computed";
        doc["standard_errors_reason"] =
            !r.cov.unavailable.empty() ? Json(r.cov.unavailable)
            : partial ? Json("none for " + std::to_string(r.cov.withoutErrors.size()) +
                             " parameters: see the warnings")
                      : Json(nullptr);
        doc["goodness_of_fit"] = r.fit ? goodnessOfFit(*r.fit) : Json(nullptr);
        doc["margins"] = marginsPart(r);
        doc["rotation"] = r.rotation ? rotationPart(r) : Json(nullptr);
        if (r.limitedFit) doc["limited_information_fit"] = limitedFitPart(*r.limitedFit);
        if (r.itemFit) {
            doc["item_fit"] = r.itemFit->available ? itemFitPart(r, *r.itemFit) : Json(nullptr);
            doc["item_fit_reason"] = r.itemFit->available ? Json(nullptr) : Json(r.itemFit->reason);
        }
        if (r.localDependence) {
            const LocalDependence& ld = *r.localDependence;
            doc["local_dependence"] = ld.available ? localDependencePart(r, ld) : Json(nullptr);
            doc["local_dependence_reason"] = ld.available ? Json(nullptr) : Json(ld.reason);
            doc["local_dependence_flag"] = number(kLocalDependenceFlag);
        }
    }
    doc["warnings"] = r.notes.warnings;
    doc["notes"] = r.notes.notes;
    return doc;
}

} // namespace travik
