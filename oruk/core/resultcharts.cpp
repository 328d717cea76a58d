#include "oruk/core/resultcharts.hpp"

#include <cmath>

namespace oruk {

ChartData itemCurvesChart(const FitResults& results, std::size_t item, int factor) {
    ChartData chart;
    if (item >= results.items.size()) {
        chart.problem = QStringLiteral("The results hold no item %1.").arg(item + 1);
        return chart;
    }
    const ItemResult& chosen = results.items[item];
    ItemCurves curves = itemCurves(chosen, factor);
    chart.lines = std::move(curves.curves);
    chart.problem = curves.problem;
    chart.title = QStringLiteral("%1 (%2)").arg(chosen.name, itemTypeName(chosen.type));
    chart.xTitle = results.factors == 2
                       ? QStringLiteral("z%1 (z%2 = 0)").arg(factor + 1).arg(2 - factor)
                       : QStringLiteral("z");
    chart.yTitle = curves.yTitle;
    if (chosen.type != ItemType::Normal) chart.yRange = std::make_pair(0.0, 1.0);
    return chart;
}

ChartData classProfileChart(const FitResults& results) {
    ChartData chart;
    chart.title = QStringLiteral("Class profiles");
    chart.xTitle = QStringLiteral("Item");
    chart.yTitle = QStringLiteral("P(x = 1 | class)");
    chart.yRange = std::make_pair(0.0, 1.0);
    if (results.items.empty()) {
        chart.problem = QStringLiteral("The results hold no item probabilities.");
        return chart;
    }
    // Binary items, by their probability of a positive answer; items with more categories
    // have a profile of their own (categoryProfileChart).
    std::vector<const ItemResult*> binary;
    for (const ItemResult& item : results.items)
        if (int(item.parameters.size()) == results.classes) binary.push_back(&item);
    if (binary.empty()) {
        chart.problem = QStringLiteral("No item is binary: see each item's category profile.");
        return chart;
    }
    for (const ItemResult* item : binary) chart.categories << item->name;
    for (int k = 0; k < results.classes; ++k) {
        Curve line{QStringLiteral("class %1").arg(k + 1), {}};
        if (k < int(results.classSizes.size()) &&
            std::isfinite(results.classSizes[std::size_t(k)].value))
            line.name +=
                QStringLiteral(" (%1)").arg(results.classSizes[std::size_t(k)].value, 0, 'f', 3);
        for (std::size_t j = 0; j < binary.size(); ++j) {
            const double pi = binary[j]->parameters[std::size_t(k)].estimate.value;
            if (std::isfinite(pi)) line.points.emplace_back(double(j + 1), pi);
        }
        chart.lines.push_back(std::move(line));
    }
    return chart;
}

ChartData testInformationChart(const FitResults& results, int factor) {
    ChartData chart;
    const InformationCurves curves = informationCurves(results.items, factor);
    chart.title = QStringLiteral("Test information");
    chart.xTitle = results.factors == 2
                       ? QStringLiteral("z%1 (z%2 = 0)").arg(factor + 1).arg(2 - factor)
                       : QStringLiteral("z");
    chart.yTitle = QStringLiteral("Information");
    chart.yRightTitle = QStringLiteral("Standard error");
    chart.problem = curves.problem;
    if (curves.items.empty()) {
        chart.problem = QStringLiteral("No item has complete estimates.");
        return chart;
    }
    chart.lines.push_back(curves.test);
    chart.rightLines.push_back(curves.standardError);
    return chart;
}

ChartData itemInformationChart(const FitResults& results, int factor) {
    ChartData chart = testInformationChart(results, factor);
    chart.title = QStringLiteral("Item information");
    chart.rightLines.clear();
    chart.yRightTitle.clear();
    chart.lines = informationCurves(results.items, factor).items;
    return chart;
}

ChartData categoryProfileChart(const FitResults& results, std::size_t item) {
    ChartData chart;
    if (item >= results.items.size()) {
        chart.problem = QStringLiteral("The results hold no item %1.").arg(item + 1);
        return chart;
    }
    const ItemResult& chosen = results.items[item];
    chart.title = QStringLiteral("%1: category profiles").arg(chosen.name);
    chart.xTitle = QStringLiteral("Category");
    chart.yTitle = QStringLiteral("P(x = j | class)");
    chart.yRange = std::make_pair(0.0, 1.0);
    std::vector<std::vector<double>> byClass = chosen.classProbabilities;
    if (byClass.empty() && int(chosen.parameters.size()) == results.classes) {
        // A binary item: categories 0 and 1.
        for (const Parameter& p : chosen.parameters)
            byClass.push_back({1.0 - p.estimate.value, p.estimate.value});
    }
    if (byClass.empty()) {
        chart.problem =
            QStringLiteral("The results hold no category probabilities of %1.").arg(chosen.name);
        return chart;
    }
    const int categories = int(byClass.front().size());
    for (int c = 1; c <= categories; ++c)
        chart.categories << (chosen.categoryLabels.isEmpty() && chosen.classProbabilities.empty()
                                 ? QString::number(c - 1)
                                 : chosen.categoryLabel(c));
    for (std::size_t k = 0; k < byClass.size(); ++k) {
        Curve line{QStringLiteral("class %1").arg(k + 1), {}};
        for (std::size_t c = 0; c < byClass[k].size(); ++c)
            if (std::isfinite(byClass[k][c]))
                line.points.emplace_back(double(c + 1), byClass[k][c]);
        chart.lines.push_back(std::move(line));
    }
    return chart;
}

ChartData classSizesChart(const FitResults& results) {
    ChartData chart;
    chart.kind = ChartData::Kind::Bars;
    chart.title = QStringLiteral("Class sizes");
    chart.xTitle = QStringLiteral("Class");
    chart.yTitle = QStringLiteral("Share of the cases");
    chart.yRange = std::make_pair(0.0, 1.0);
    for (std::size_t k = 0; k < results.classSizes.size(); ++k) {
        const double value = results.classSizes[k].value;
        chart.categories << QStringLiteral("class %1").arg(k + 1);
        chart.bars.push_back(std::isfinite(value) ? value : 0.0);
    }
    if (chart.bars.empty()) chart.problem = QStringLiteral("The results hold no class sizes.");
    return chart;
}

ChartData loglikelihoodChart(const std::vector<CycleHistory>& history) {
    ChartData chart;
    chart.title = QStringLiteral("Loglikelihood by cycle");
    chart.xTitle = QStringLiteral("Cycle");
    chart.wholeX = true;
    chart.yTitle = QStringLiteral("Loglikelihood");
    for (const CycleHistory& run : history) {
        if (run.points.empty()) continue;
        chart.lines.push_back(
            {run.name.isEmpty() ? QStringLiteral("loglikelihood") : run.name, run.points});
    }
    if (chart.lines.empty()) chart.problem = QStringLiteral("The run reported no cycles.");
    return chart;
}

} // namespace oruk
