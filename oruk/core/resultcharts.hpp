// The plots of a results view as plain data: what each line or bar holds and how the axes are
// named. The windows turn them into charts; the numbers are decided here.
#pragma once

#include "oruk/core/itemcurves.hpp"
#include "oruk/core/iteminformation.hpp"
#include "oruk/core/progress.hpp"
#include "oruk/core/results.hpp"

#include <QString>
#include <QStringList>

#include <optional>
#include <utility>
#include <vector>

namespace oruk {

struct ChartData {
    enum class Kind { Lines, Bars };
    Kind kind = Kind::Lines;
    QString title, xTitle, yTitle;
    std::vector<Curve> lines;
    std::vector<Curve> rightLines; // lines against a second axis on the right
    QString yRightTitle;
    QStringList categories; // bars: one label per bar; lines: labels of x = 1, 2, ...
    std::vector<double> bars;
    std::optional<std::pair<double, double>> yRange;
    bool wholeX = false; // x counts something (cycles): whole-number labels
    QString problem;     // why there is nothing to draw
};

// travik: the response curves of items[item] against factor (0 or 1), the other at 0.
ChartData itemCurvesChart(const FitResults& results, std::size_t item, int factor);

// ploven: the probability of a positive response to every item, one line per class.
ChartData classProfileChart(const FitResults& results);

// travik: the test information Σ I_i(z) along factor, with its standard error 1 / √I(z)
// against the right axis.
ChartData testInformationChart(const FitResults& results, int factor);

// travik: every item's information curve along factor.
ChartData itemInformationChart(const FitResults& results, int factor);

// ploven: an item's category probabilities in each class, over its categories (labels on the
// axis), one line per class.
ChartData categoryProfileChart(const FitResults& results, std::size_t item);

// ploven: the class sizes (eta) as bars.
ChartData classSizesChart(const FitResults& results);

// Both: the loglikelihood after every cycle, one line per EM run of the progress file.
ChartData loglikelihoodChart(const std::vector<CycleHistory>& history);

} // namespace oruk
