// The plots' numbers: item response curves from the model's formulas (checked against values
// worked out by hand, and against the estimates of real results files), the chart series of
// every plot, and two-factor curves.
#include "oruk/core/itemcurves.hpp"
#include "oruk/core/iteminformation.hpp"
#include "oruk/core/resultcharts.hpp"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <algorithm>
#include <cmath>

using namespace oruk;

namespace {

QByteArray fixtureText(const char* name) {
    QFile file(QStringLiteral(ORUK_TEST_DATA "/") + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

FitResults fixture(const char* name) {
    return parseResults(fixtureText(name), name).results.value_or(FitResults{});
}

QJsonObject fixtureJson(const char* name) {
    return QJsonDocument::fromJson(fixtureText(name)).object();
}

// An item's estimate under key, straight from the JSON.
double estimate(const QJsonValue& item, const QString& key) {
    for (const QJsonValue p : item["parameters"].toArray())
        if (p["key"].toString() == key) return p["estimate"].toDouble();
    return std::nan("");
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
        const QJsonArray items = fixtureJson("travik.json")["items"].toArray();
        QCOMPARE(results.items.size(), std::size_t(items.size()));
        const std::vector<double> grid = factorGrid();
        QCOMPARE(grid.size(), std::size_t(81));
        QCOMPARE(grid.front(), -4.0);
        QCOMPARE(grid.back(), 4.0);

        // Each item's curves against the model's formulas worked on the file's own estimates,
        // written out here term by term, at z1 = 1 with z2 = 0.
        int kinds = 0;
        for (qsizetype i = 0; i < items.size(); ++i) {
            const QJsonValue item = items[i];
            const QString type = item["type"].toString();
            const ChartData chart = itemCurvesChart(results, std::size_t(i), 0);
            QVERIFY2(chart.problem.isEmpty(), qPrintable(chart.problem));
            QCOMPARE(chart.title, QString("%1 (%2)").arg(item["name"].toString(), type));
            QCOMPARE(chart.xTitle, QString("z1 (z2 = 0)"));
            for (const Curve& line : chart.lines) QCOMPARE(line.points.size(), grid.size());
            if (type == "binary") {
                QCOMPARE(chart.lines.size(), std::size_t(1));
                const double eta = estimate(item, "intercept") + estimate(item, "loading1");
                QVERIFY(near(at(chart.lines[0], 1.0), 1.0 / (1.0 + std::exp(-eta))));
                QVERIFY(chart.yRange && chart.yRange->second == 1.0);
                kinds |= 1;
            } else if (type == "normal") {
                QCOMPARE(chart.lines.size(), std::size_t(1));
                QVERIFY(near(at(chart.lines[0], 1.0),
                             estimate(item, "mean") + estimate(item, "loading1")));
                QVERIFY(!chart.yRange); // a conditional mean is not a probability
                kinds |= 2;
            } else if (type == "nominal") {
                const int categories = item["category_count"].toInt();
                QCOMPARE(chart.lines.size(), std::size_t(categories));
                std::vector<double> e{1.0}; // category 1: predictor 0
                double sum = 1.0;
                for (int j = 2; j <= categories; ++j) {
                    const QString c = QString("category_%1.").arg(j);
                    e.push_back(
                        std::exp(estimate(item, c + "intercept") + estimate(item, c + "loading1")));
                    sum += e.back();
                }
                for (int j = 0; j < categories; ++j)
                    QVERIFY(near(at(chart.lines[j], 1.0), e[j] / sum));
                kinds |= 4;
            } else {
                const int categories = item["category_count"].toInt();
                QCOMPARE(chart.lines.size(), std::size_t(categories));
                QCOMPARE(chart.lines.back().name, QString("category %1").arg(categories));
                // Cumulative logit: P(x <= j) = 1 / (1 + exp(-(thr_j - a))).
                double below = 0;
                for (int j = 1; j <= categories; ++j) {
                    const double cumulative =
                        j == categories
                            ? 1.0
                            : 1.0 /
                                  (1.0 + std::exp(-(estimate(item, QString("threshold_%1").arg(j)) -
                                                    estimate(item, "loading1"))));
                    QVERIFY(near(at(chart.lines[j - 1], 1.0), cumulative - below));
                    below = cumulative;
                }
                kinds |= 8;
            }
            // The category curves add up to one at every point.
            if (type == "nominal" || type == "ordinal") {
                for (std::size_t g = 0; g < grid.size(); ++g) {
                    double sum = 0;
                    for (const Curve& c : chart.lines) sum += c.points[g].y();
                    QVERIFY(std::fabs(sum - 1.0) < 1e-12);
                }
            }
        }
        QCOMPARE(kinds, 15); // every type was drawn
        QVERIFY(!itemCurvesChart(results, items.size(), 0).problem.isEmpty());
    }

    void secondFactorHoldsTheFirstAtZero() {
        const FitResults results = fixture("travik.json");
        const QJsonValue item = fixtureJson("travik.json")["items"][0];
        QCOMPARE(results.factors, 2);
        const ChartData second = itemCurvesChart(results, 0, 1);
        QCOMPARE(second.xTitle, QString("z2 (z1 = 0)"));
        const double eta = estimate(item, "intercept") + estimate(item, "loading2") * 1.5;
        QVERIFY(near(at(second.lines[0], 1.5), 1.0 / (1.0 + std::exp(-eta))));
        // The curves of the two factors differ by the loadings alone.
        const ChartData first = itemCurvesChart(results, 0, 0);
        QCOMPARE(at(first.lines[0], 0.0), at(second.lines[0], 0.0));
        QVERIFY(at(first.lines[0], 1.5) != at(second.lines[0], 1.5));
        // An item without a second loading is flat along the second factor.
        FitResults one = results;
        auto& parameters = one.items[0].parameters;
        parameters.erase(std::remove_if(parameters.begin(), parameters.end(),
                                        [](const Parameter& p) { return p.key == "loading2"; }),
                         parameters.end());
        const ChartData flat = itemCurvesChart(one, 0, 1);
        QCOMPARE(at(flat.lines[0], -3.0), at(flat.lines[0], 3.0));
    }

    void missingOrNonFiniteEstimatesDrawNothing() {
        FitResults results = fixture("travik.json");
        const std::size_t ordinal = results.items.size() - 1;
        QCOMPARE(results.items[ordinal].type, ItemType::Ordinal);
        QCOMPARE(results.items[ordinal].parameters[0].key, QString("threshold_1"));
        results.items[ordinal].parameters.erase(results.items[ordinal].parameters.begin());
        const ChartData chart = itemCurvesChart(results, ordinal, 0);
        QVERIFY(chart.lines.empty() && chart.problem.contains(results.items[ordinal].name));
        results.items[0].parameters[0].estimate.value = std::nan("");
        QVERIFY(itemCurvesChart(results, 0, 0).lines.empty());
    }

    // The information of each item type is the expected negative second derivative of the
    // item's loglikelihood in z, here by central differences of the log probabilities (or the
    // normal log density) written out from the model, along either factor.
    void itemInformationIsTheCurvatureOfTheLoglikelihood() {
        const double h = 1e-3;
        auto zOf = [](int factor, double value) {
            std::array<double, 2> z{0.3, -0.2}; // the other factor away from 0
            z[std::size_t(factor)] = value;
            return z;
        };
        // Σ_x P(x | z) · -(log P(x | z+h) - 2 log P(x | z) + log P(x | z-h)) / h².
        auto expectedCurvature = [&](auto probabilities, int factor, double z) {
            const std::vector<double> p0 = probabilities(zOf(factor, z));
            const std::vector<double> up = probabilities(zOf(factor, z + h));
            const std::vector<double> down = probabilities(zOf(factor, z - h));
            double information = 0;
            for (std::size_t x = 0; x < p0.size(); ++x)
                information -=
                    p0[x] * (std::log(up[x]) - 2 * std::log(p0[x]) + std::log(down[x])) / (h * h);
            return information;
        };
        ItemModel binary;
        binary.type = ItemType::Binary;
        binary.linear = {-0.4, {1.3, 0.6}};
        ItemModel nominal;
        nominal.type = ItemType::Nominal;
        nominal.categories = {{0.2, {0.8, -0.5}}, {-0.6, {1.9, 0.4}}, {0.1, {-0.7, 1.1}}};
        ItemModel ordinal;
        ordinal.type = ItemType::Ordinal;
        ordinal.thresholds = {-1.5, -0.2, 0.9, 2.1};
        ordinal.loadings = {1.4, -0.8};
        for (int factor = 0; factor < 2; ++factor) {
            for (double z : {-2.5, -0.7, 0.0, 1.1, 3.0}) {
                const double b = expectedCurvature(
                    [&](const std::array<double, 2>& at) {
                        const double p = binaryProbability(binary.linear, at);
                        return std::vector<double>{1 - p, p};
                    },
                    factor, z);
                QVERIFY2(std::fabs(itemInformation(binary, factor, zOf(factor, z)) - b) < 1e-6,
                         qPrintable(QString("binary %1 %2").arg(factor).arg(z)));
                const double n = expectedCurvature(
                    [&](const std::array<double, 2>& at) {
                        return nominalProbabilities(nominal.categories, at);
                    },
                    factor, z);
                QVERIFY2(std::fabs(itemInformation(nominal, factor, zOf(factor, z)) - n) < 1e-6,
                         qPrintable(QString("nominal %1 %2").arg(factor).arg(z)));
                const double o = expectedCurvature(
                    [&](const std::array<double, 2>& at) {
                        return ordinalProbabilities(ordinal.thresholds, ordinal.loadings, at);
                    },
                    factor, z);
                QVERIFY2(std::fabs(itemInformation(ordinal, factor, zOf(factor, z)) - o) < 1e-6,
                         qPrintable(QString("ordinal %1 %2 %3 %4")
                                        .arg(factor)
                                        .arg(z)
                                        .arg(itemInformation(ordinal, factor, zOf(factor, z)))
                                        .arg(o)));
            }
        }
        // Normal: log f = -½ log(2πψ) - (x - μ - λ·z)² / (2ψ), whatever x is.
        ItemModel normal;
        normal.type = ItemType::Normal;
        normal.linear = {1.2, {0.7, -0.3}};
        normal.residualVariance = 0.45;
        for (int factor = 0; factor < 2; ++factor) {
            for (double x : {-1.0, 0.4, 2.5}) {
                auto logDensity = [&](double z) {
                    const double r = x - normal.linear.at(zOf(factor, z));
                    return -0.5 * std::log(2 * M_PI * normal.residualVariance) -
                           r * r / (2 * normal.residualVariance);
                };
                const double curvature =
                    -(logDensity(0.5 + h) - 2 * logDensity(0.5) + logDensity(0.5 - h)) / (h * h);
                QVERIFY(std::fabs(itemInformation(normal, factor, zOf(factor, 0.5)) - curvature) <
                        1e-6);
            }
        }
    }

    void testInformationSumsTheItems() {
        const FitResults results = fixture("travik.json");
        for (int factor = 0; factor < 2; ++factor) {
            const InformationCurves curves = informationCurves(results.items, factor);
            QVERIFY(curves.problem.isEmpty());
            QCOMPARE(curves.items.size(), results.items.size());
            for (std::size_t i = 0; i < curves.test.points.size(); ++i) {
                double sum = 0;
                for (const Curve& item : curves.items) sum += item.points[i].y();
                QCOMPARE(curves.test.points[i].y(), sum);
                QCOMPARE(curves.standardError.points[i].y(), 1 / std::sqrt(sum));
            }
            // Each item's curve is its information with the other factor at 0.
            const std::size_t middle = 40;
            const auto model = itemModel(results.items[3]);
            QVERIFY(model.has_value());
            QCOMPARE(curves.items[3].points[middle].y(),
                     itemInformation(*model, factor, {0.0, 0.0}));
        }
        // An item without finite estimates is left out, and named.
        FitResults broken = results;
        broken.items[0].parameters[0].estimate.value = std::nan("");
        const InformationCurves curves = informationCurves(broken.items, 0);
        QCOMPARE(curves.items.size(), results.items.size() - 1);
        QVERIFY(curves.problem.contains(results.items[0].name));
        const ChartData chart = testInformationChart(results, 0);
        QCOMPARE(chart.lines.size() + chart.rightLines.size(), std::size_t(2));
        QCOMPARE(chart.yRightTitle, QString("Standard error"));
    }

    void classProfilesAndSizes() {
        const FitResults results = fixture("ploven.json");
        const QJsonObject json = fixtureJson("ploven.json");
        const QJsonArray items = json["items"].toArray();
        const QJsonArray eta = json["eta"].toArray();
        const int classes = json["model"]["classes"].toInt();
        const ChartData profile = classProfileChart(results);
        QCOMPARE(profile.lines.size(), std::size_t(classes));
        QCOMPARE(profile.categories.size(), items.size());
        for (int k = 0; k < classes; ++k) {
            const Curve& line = profile.lines[k];
            QCOMPARE(
                line.name,
                QString("class %1 (%2)").arg(k + 1).arg(eta[k]["estimate"].toDouble(), 0, 'f', 3));
            QCOMPARE(line.points.size(), std::size_t(items.size()));
            for (int j = 0; j < int(items.size()); ++j) {
                QCOMPARE(profile.categories[j], items[j]["name"].toString());
                QCOMPARE(line.points[j],
                         QPointF(j + 1, items[j]["parameters"][k]["estimate"].toDouble()));
            }
        }

        const ChartData sizes = classSizesChart(results);
        QCOMPARE(sizes.kind, ChartData::Kind::Bars);
        QCOMPARE(sizes.bars.size(), std::size_t(classes));
        for (int k = 0; k < classes; ++k) QCOMPARE(sizes.bars[k], eta[k]["estimate"].toDouble());
        QCOMPARE(sizes.categories.size(), classes);
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
