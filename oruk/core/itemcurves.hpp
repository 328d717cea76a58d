// The response curves of a latent trait item, computed from its estimates with the model's
// formulas, over a grid of factor values.
#pragma once

#include "oruk/core/results.hpp"

#include <QPointF>
#include <QString>

#include <array>
#include <optional>
#include <vector>

namespace oruk {

// The factor values of a curve: z = -4 to 4 in steps of 0.1 (81 points).
std::vector<double> factorGrid();

// The linear predictor of a parameter set: intercept + loading1·z1 + loading2·z2.
struct LinearPredictor {
    double intercept = 0;
    std::array<double, 2> loadings{0, 0};

    double at(const std::array<double, 2>& z) const {
        return intercept + loadings[0] * z[0] + loadings[1] * z[1];
    }
};

// Binary item: P(x = 1 | z) = 1 / (1 + exp(-(c + a·z))).
double binaryProbability(const LinearPredictor& item, const std::array<double, 2>& z);

// Nominal item: P(x = j | z) = exp(c_j + a_j·z) / Σ_k exp(c_k + a_k·z), category 1 the
// reference (c_1 = 0, a_1 = 0); categories holds categories 2, 3, ...
std::vector<double> nominalProbabilities(const std::vector<LinearPredictor>& categories,
                                         const std::array<double, 2>& z);

// Ordinal item: cumulative logit, loadings entering with a minus sign:
// P(x ≤ j | z) = 1 / (1 + exp(-(thr_j - a·z))); the categories' probabilities are the
// differences of the cumulative ones.
std::vector<double> ordinalProbabilities(const std::vector<double>& thresholds,
                                         const std::array<double, 2>& loadings,
                                         const std::array<double, 2>& z);

// Normal item: the conditional mean μ + λ·z.
double normalMean(const LinearPredictor& item, const std::array<double, 2>& z);

// An item's estimates as the model's formulas take them.
struct ItemModel {
    ItemType type = ItemType::Binary;
    LinearPredictor linear;                  // binary: intercept; normal: mean
    std::vector<LinearPredictor> categories; // nominal: categories 2, 3, ...
    std::vector<double> thresholds;          // ordinal: thresholds 1 ... C - 1
    std::array<double, 2> loadings{0, 0};    // ordinal
    double residualVariance = 1;             // normal
};

// The model of item; none when an estimate it needs is missing or not finite.
std::optional<ItemModel> itemModel(const ItemResult& item);

struct Curve {
    QString name;
    std::vector<QPointF> points;
};

struct ItemCurves {
    std::vector<Curve> curves;
    QString yTitle;  // "P(x = 1 | z)", "P(x = j | z)", "E(x | z)"
    QString problem; // why there are none (a missing or non-finite estimate)
};

// The curves of item against factor (0 or 1), the other factor held at 0.
ItemCurves itemCurves(const ItemResult& item, int factor);

} // namespace oruk
