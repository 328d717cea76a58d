#include "oruk/core/itemcurves.hpp"

#include <algorithm>
#include <cmath>
#include <optional>

namespace oruk {

namespace {

constexpr int kGridPoints = 81;

double logistic(double x) {
    return 1.0 / (1.0 + std::exp(-x));
}

// The estimate under key, when the item has it and it is finite.
std::optional<double> finite(const ItemResult& item, const QString& key) {
    const auto e = item.parameter(key);
    if (!e || !std::isfinite(e->value)) return std::nullopt;
    return e->value;
}

// Intercept (or mean) and loadings under prefix: "intercept"/"loading1", or
// "category_2.intercept"/"category_2.loading1". A second loading that is absent counts as 0.
std::optional<LinearPredictor> predictor(const ItemResult& item, const QString& prefix,
                                         const QString& constant) {
    const auto c = finite(item, prefix + constant);
    const auto a1 = finite(item, prefix + QStringLiteral("loading1"));
    if (!c || !a1) return std::nullopt;
    const double a2 = finite(item, prefix + QStringLiteral("loading2")).value_or(0.0);
    return LinearPredictor{*c, {*a1, a2}};
}

} // namespace

std::vector<double> factorGrid() {
    std::vector<double> grid(kGridPoints);
    for (int i = 0; i < kGridPoints; ++i) grid[std::size_t(i)] = (i - 40) / 10.0;
    return grid;
}

double binaryProbability(const LinearPredictor& item, const std::array<double, 2>& z) {
    return logistic(item.at(z));
}

std::vector<double> nominalProbabilities(const std::vector<LinearPredictor>& categories,
                                         const std::array<double, 2>& z) {
    // Shifted by the largest predictor so that no exponential overflows.
    std::vector<double> eta{0.0};
    for (const LinearPredictor& c : categories) eta.push_back(c.at(z));
    const double top = *std::max_element(eta.begin(), eta.end());
    double sum = 0;
    for (double& e : eta) sum += (e = std::exp(e - top));
    for (double& e : eta) e /= sum;
    return eta;
}

std::vector<double> ordinalProbabilities(const std::vector<double>& thresholds,
                                         const std::array<double, 2>& loadings,
                                         const std::array<double, 2>& z) {
    const double az = loadings[0] * z[0] + loadings[1] * z[1];
    std::vector<double> p;
    double below = 0;
    for (double t : thresholds) {
        const double cumulative = logistic(t - az);
        p.push_back(cumulative - below);
        below = cumulative;
    }
    p.push_back(1.0 - below);
    return p;
}

double normalMean(const LinearPredictor& item, const std::array<double, 2>& z) {
    return item.at(z);
}

std::optional<ItemModel> itemModel(const ItemResult& item) {
    ItemModel model;
    model.type = item.type;
    switch (item.type) {
    case ItemType::Binary:
    case ItemType::Normal: {
        const bool binary = item.type == ItemType::Binary;
        const auto p = predictor(item, QString(),
                                 binary ? QStringLiteral("intercept") : QStringLiteral("mean"));
        if (!p) return std::nullopt;
        model.linear = *p;
        if (!binary) {
            const auto psi = finite(item, QStringLiteral("variance"));
            if (!psi || *psi <= 0) return std::nullopt;
            model.residualVariance = *psi;
        }
        return model;
    }
    case ItemType::Nominal:
        for (int j = 2; j <= item.categories; ++j) {
            const auto p =
                predictor(item, QStringLiteral("category_%1.").arg(j), QStringLiteral("intercept"));
            if (!p) return std::nullopt;
            model.categories.push_back(*p);
        }
        return model;
    case ItemType::Ordinal: {
        for (int j = 1; j < item.categories; ++j) {
            const auto t = finite(item, QStringLiteral("threshold_%1").arg(j));
            if (!t) return std::nullopt;
            model.thresholds.push_back(*t);
        }
        const auto a1 = finite(item, QStringLiteral("loading1"));
        if (!a1) return std::nullopt;
        model.loadings = {*a1, finite(item, QStringLiteral("loading2")).value_or(0.0)};
        return model;
    }
    }
    return std::nullopt;
}

ItemCurves itemCurves(const ItemResult& item, int factor) {
    ItemCurves result;
    const std::vector<double> grid = factorGrid();
    auto zAt = [factor](double value) {
        std::array<double, 2> z{0, 0};
        z[factor == 1 ? 1 : 0] = value;
        return z;
    };
    const auto model = itemModel(item);
    if (!model)
        return {{},
                {},
                QStringLiteral("The estimates of %1 are incomplete or not finite, so its curves "
                               "cannot be drawn.")
                    .arg(item.name)};

    switch (item.type) {
    case ItemType::Binary:
    case ItemType::Normal: {
        const bool binary = item.type == ItemType::Binary;
        Curve curve{binary ? QStringLiteral("P(x = 1)") : QStringLiteral("E(x)"), {}};
        for (double z : grid)
            curve.points.emplace_back(z, binary ? binaryProbability(model->linear, zAt(z))
                                                : normalMean(model->linear, zAt(z)));
        result.curves.push_back(std::move(curve));
        result.yTitle = binary ? QStringLiteral("P(x = 1 | z)") : QStringLiteral("E(x | z)");
        return result;
    }
    case ItemType::Nominal:
    case ItemType::Ordinal: {
        const bool nominal = item.type == ItemType::Nominal;
        result.curves.resize(nominal ? model->categories.size() + 1 : model->thresholds.size() + 1);
        // Legends name the categories by their labels where the results have them.
        for (std::size_t j = 0; j < result.curves.size(); ++j)
            result.curves[j].name = !item.hasOwnLabels()
                                        ? QStringLiteral("category %1").arg(j + 1)
                                        : item.categoryLabel(static_cast<int>(j + 1));
        for (double z : grid) {
            const std::vector<double> p =
                nominal ? nominalProbabilities(model->categories, zAt(z))
                        : ordinalProbabilities(model->thresholds, model->loadings, zAt(z));
            for (std::size_t j = 0; j < p.size(); ++j)
                result.curves[j].points.emplace_back(z, p[j]);
        }
        result.yTitle = QStringLiteral("P(x = j | z)");
        return result;
    }
    }
    return result;
}

} // namespace oruk
