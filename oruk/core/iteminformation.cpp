#include "oruk/core/iteminformation.hpp"

#include <QStringList>

#include <cmath>

namespace oruk {

namespace {

double logistic(double x) {
    return 1.0 / (1.0 + std::exp(-x));
}

} // namespace

double itemInformation(const ItemModel& item, int factor, const std::array<double, 2>& z) {
    const std::size_t f = factor == 1 ? 1 : 0;
    switch (item.type) {
    case ItemType::Binary: {
        const double p = binaryProbability(item.linear, z);
        const double a = item.linear.loadings[f];
        return a * a * p * (1.0 - p);
    }
    case ItemType::Normal: {
        const double lambda = item.linear.loadings[f];
        return lambda * lambda / item.residualVariance;
    }
    case ItemType::Nominal: {
        const std::vector<double> p = nominalProbabilities(item.categories, z);
        // The loading of category 1, the reference, is 0.
        double mean = 0;
        for (std::size_t j = 1; j < p.size(); ++j)
            mean += p[j] * item.categories[j - 1].loadings[f];
        double information = p[0] * mean * mean;
        for (std::size_t j = 1; j < p.size(); ++j) {
            const double d = item.categories[j - 1].loadings[f] - mean;
            information += p[j] * d * d;
        }
        return information;
    }
    case ItemType::Ordinal: {
        const double az = item.loadings[0] * z[0] + item.loadings[1] * z[1];
        const double a = item.loadings[f];
        double information = 0, belowF = 0, belowW = 0;
        for (std::size_t j = 0; j <= item.thresholds.size(); ++j) {
            const double F = j < item.thresholds.size() ? logistic(item.thresholds[j] - az) : 1.0;
            const double W = F * (1.0 - F);
            const double p = F - belowF;
            if (p > 0) information += (W - belowW) * (W - belowW) / p;
            belowF = F;
            belowW = W;
        }
        return a * a * information;
    }
    }
    return 0;
}

InformationCurves informationCurves(const std::vector<ItemResult>& items, int factor) {
    InformationCurves curves;
    const std::vector<double> grid = factorGrid();
    std::vector<double> total(grid.size(), 0.0);
    QStringList leftOut;
    for (const ItemResult& item : items) {
        const auto model = itemModel(item);
        if (!model) {
            leftOut << item.name;
            continue;
        }
        Curve curve{item.name, {}};
        for (std::size_t i = 0; i < grid.size(); ++i) {
            std::array<double, 2> z{0, 0};
            z[factor == 1 ? 1 : 0] = grid[i];
            const double information = itemInformation(*model, factor, z);
            curve.points.emplace_back(grid[i], information);
            total[i] += information;
        }
        curves.items.push_back(std::move(curve));
    }
    curves.test.name = QStringLiteral("test information");
    curves.standardError.name = QStringLiteral("standard error");
    for (std::size_t i = 0; i < grid.size(); ++i) {
        curves.test.points.emplace_back(grid[i], total[i]);
        if (total[i] > 0)
            curves.standardError.points.emplace_back(grid[i], 1.0 / std::sqrt(total[i]));
    }
    if (!leftOut.isEmpty())
        curves.problem = QStringLiteral("Left out, their estimates being incomplete or not "
                                        "finite: %1.")
                             .arg(leftOut.join(QStringLiteral(", ")));
    return curves;
}

} // namespace oruk
