// The plots' numbers: item response curves from the model's formulas (checked against values
// worked out by hand), the chart series of every plot, and two-factor curves.
#include "oruk/core/itemcurves.hpp"
#include "oruk/core/resultcharts.hpp"

#include <QFile>
#include <QTest>

#include <cmath>

using namespace oruk;

namespace {

FitResults fixture(const char* name) {
    QFile file(QStringLiteral(ORUK_TEST_DATA "/") + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly)) return {};
    return parseResults(file.readAll(), name).results.value_or(FitResults{});
}

// The y value of a curve at z (the grid holds z exactly at the tenths).
double at(const Curve& curve, double z) {
    for (const QPointF& p : curve.points)
        if (std::fabs(p.x() - z) < 1e-12) return p.y();
    return std::nan("");
}

bool near(double a, double b) {
    return std::fabs(a - b) <= 1e-14;
}

} // namespace

class CurvesTest : public QObject {
    Q_OBJECT

  private slots:
    void formulasGiveTheHandWorkedValues() {
        // Binary: 1 / (1 + exp(-(0.5 + 1.2·1))).
        QVERIFY(near(binaryProbability({0.5, {1.2, 0}}, {1, 0}), 0.8455347349164652));
        // Nominal at z = 1: predictors 0 (category 1), 0.3 + 0.9, -0.4 - 0.6.
        const auto nominal = nominalProbabilities({{0.3, {0.9, 0}}, {-0.4, {-0.6, 0}}}, {1, 0});
        QCOMPARE(nominal.size(), std::size_t(3));
        QVERIFY(near(nominal[0], 0.21331074565219665));
        QVERIFY(near(nominal[1], 0.7082166164414094));
        QVERIFY(near(nominal[2], 0.07847263790639378));
        // Ordinal at z = 1, loading 1.5: P(x <= j) = logistic(thr_j - 1.5).
        const auto ordinal = ordinalProbabilities({-1.0, 0.75}, {1.5, 0}, {1, 0});
        QCOMPARE(ordinal.size(), std::size_t(3));
        QVERIFY(near(ordinal[0], 0.07585818002124355));
        QVERIFY(near(ordinal[1], 0.24496312080336347));
        QVERIFY(near(ordinal[2], 0.679178699175393));
        // A larger factor value moves an item with a positive loading to higher categories.
        QVERIFY(ordinalProbabilities({-1.0, 0.75}, {1.5, 0}, {2, 0})[2] > ordinal[2]);
        QCOMPARE(normalMean({50.5, {8.0, 0}}, {2, 0}), 66.5);
        // Large predictors neither overflow nor lose the sum of one.
        const auto extreme = nominalProbabilities({{800, {0, 0}}, {-800, {0, 0}}}, {0, 0});
        QVERIFY(near(extreme[1], 1.0) && extreme[0] == 0.0 && extreme[2] == 0.0);
    }

    void itemCurvesOfEveryType() {
        const FitResults results = fixture("travik.json");
        QCOMPARE(results.items.size(), std::size_t(5));
        const std::vector<double> grid = factorGrid();
        QCOMPARE(grid.size(), std::size_t(81));
        QCOMPARE(grid.front(), -4.0);
        QCOMPARE(grid.back(), 4.0);

        const ChartData binary = itemCurvesChart(results, 0, 0);
        QCOMPARE(binary.lines.size(), std::size_t(1));
        QCOMPARE(binary.lines[0].points.size(), std::size_t(81));
        QVERIFY(near(at(binary.lines[0], 1.0), 0.8455347349164652));
        QCOMPARE(binary.title, QString("likes_lab (binary)"));
        QVERIFY(binary.yRange && binary.yRange->second == 1.0);

        // Negative loading: the curve falls; at z = -2 the predictor is -1.25 + 1.6.
        const ChartData falling = itemCurvesChart(results, 1, 0);
        QVERIFY(near(at(falling.lines[0], -2.0), 0.5866175789173301));
        QVERIFY(at(falling.lines[0], 4.0) < at(falling.lines[0], -4.0));

        const ChartData normal = itemCurvesChart(results, 2, 0);
        QCOMPARE(normal.lines.size(), std::size_t(1));
        QCOMPARE(at(normal.lines[0], 2.0), 66.5);
        QCOMPARE(at(normal.lines[0], -4.0), 18.5);
        QVERIFY(!normal.yRange); // a conditional mean is not a probability

        const ChartData nominal = itemCurvesChart(results, 3, 0);
        QCOMPARE(nominal.lines.size(), std::size_t(3));
        QVERIFY(near(at(nominal.lines[1], 1.0), 0.7082166164414094));
        const ChartData ordinal = itemCurvesChart(results, 4, 0);
        QCOMPARE(ordinal.lines.size(), std::size_t(3));
        QCOMPARE(ordinal.lines[2].name, QString("category 3"));
        QVERIFY(near(at(ordinal.lines[0], 1.0), 0.07585818002124355));
        // The category curves add up to one at every point.
        for (const ChartData* chart : {&nominal, &ordinal}) {
            for (std::size_t i = 0; i < grid.size(); ++i) {
                double sum = 0;
                for (const Curve& c : chart->lines) sum += c.points[i].y();
                QVERIFY(std::fabs(sum - 1.0) < 1e-12);
            }
        }
        QVERIFY(!itemCurvesChart(results, 5, 0).problem.isEmpty());
    }

    void twoFactorsHoldTheOtherAtZero() {
        FitResults results = fixture("travik.json");
        results.factors = 2;
        results.items[0].parameters.push_back({"loading2", {-0.7, std::nullopt}});
        const ChartData second = itemCurvesChart(results, 0, 1);
        // z2 = 1.5 with z1 = 0: 1 / (1 + exp(-(0.5 - 0.7·1.5))).
        QVERIFY(near(at(second.lines[0], 1.5), 0.36586440898919936));
        QCOMPARE(second.xTitle, QString("z2 (z1 = 0)"));
        const ChartData first = itemCurvesChart(results, 0, 0);
        QVERIFY(near(at(first.lines[0], 1.0), 0.8455347349164652));
        // An item without a second loading is flat along the second factor.
        const ChartData flat = itemCurvesChart(results, 2, 1);
        QCOMPARE(at(flat.lines[0], -3.0), at(flat.lines[0], 3.0));
    }

    void missingOrNonFiniteEstimatesDrawNothing() {
        FitResults results = fixture("travik.json");
        results.items[4].parameters.erase(results.items[4].parameters.begin()); // threshold_1
        const ChartData ordinal = itemCurvesChart(results, 4, 0);
        QVERIFY(ordinal.lines.empty() && ordinal.problem.contains("interest"));
        results.items[0].parameters[0].estimate.value = std::nan("");
        QVERIFY(itemCurvesChart(results, 0, 0).lines.empty());
    }

    void classProfilesAndSizes() {
        const FitResults results = fixture("ploven.json");
        const ChartData profile = classProfileChart(results);
        QCOMPARE(profile.lines.size(), std::size_t(3));
        QCOMPARE(profile.categories, (QStringList{"q1", "q2", "q3", "q4"}));
        for (const Curve& line : profile.lines) QCOMPARE(line.points.size(), std::size_t(4));
        QCOMPARE(profile.lines[1].name, QString("class 2 (0.300)"));
        QCOMPARE(profile.lines[1].points[3], QPointF(4, 0.75));
        QCOMPARE(profile.lines[2].points[0], QPointF(1, 0.1));

        const ChartData sizes = classSizesChart(results);
        QCOMPARE(sizes.kind, ChartData::Kind::Bars);
        QCOMPARE(sizes.bars, (std::vector<double>{0.5, 0.3, 0.2}));
        QCOMPARE(sizes.categories.size(), 3);
        QVERIFY(!classProfileChart(FitResults{}).problem.isEmpty());
    }

    void loglikelihoodOneLinePerRun() {
        std::vector<CycleHistory> history{
            {"Run 1 of 2", {{1, -20}, {2, -15}}}, {"Run 2 of 2", {}}, {"", {{1, -30}}}};
        const ChartData chart = loglikelihoodChart(history);
        QCOMPARE(chart.lines.size(), std::size_t(2)); // a run without cycles draws nothing
        QCOMPARE(chart.lines[0].points.size(), std::size_t(2));
        QCOMPARE(chart.lines[1].name, QString("loglikelihood"));
        QVERIFY(!loglikelihoodChart({}).problem.isEmpty());
    }
};

QTEST_GUILESS_MAIN(CurvesTest)
#include "curves_test.moc"
