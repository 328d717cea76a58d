// The results file an estimator writes beside its report (travik.json, ploven.json, schema
// version 1, described in docs/results.md), read into plain data. Every detail of the file's
// layout is known here and nowhere else, so a change of the layout is a change of this module
// alone.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace oruk {

// The layout versions this reader understands: 1 up to this one. Version 2 renamed travik's
// binary margins from "pairs"/"triples" to "second_order"/"third_order", as in ploven.json,
// and added travik's model fit (limited-information fit, item fit, local dependence) and
// rotated loadings, which this reader takes where present. Version 3 gives each nominal and
// ordinal item's category labels ("categories", the count now "category_count") and ploven's
// items of more categories; the reader takes a count or labels.
inline constexpr int kResultsSchemaVersion = 3;

enum class ItemType { Binary, Normal, Nominal, Ordinal };

QString itemTypeName(ItemType type); // "binary", "normal", ...

struct Estimate {
    double value = 0; // NaN where the file has null (a value that was not finite)
    std::optional<double> standardError; // none where none was computed

    bool operator==(const Estimate&) const = default;
};

// One parameter of an item under the file's key: "intercept", "loading1", "loading2", "mean",
// "variance", "threshold_2", "category_3.intercept", "category_3.loading1", "class_2", ...
struct Parameter {
    QString key;
    Estimate estimate;
};

struct ItemResult {
    int number = 0; // 1-based, in the model's item order
    QString name;   // the CSV column, or "item N"
    ItemType type = ItemType::Binary;
    int categories = 2;                // nominal and ordinal items: their categories
    QStringList categoryLabels;        // their labels in model order, when the file has them
    std::vector<Parameter> parameters; // in the file's order, which is the report's
    // travik: the loadings on the correlation scale, under the parameters' keys.
    std::vector<Parameter> standardizedLoadings;
    // ploven items with categories: per class, the probability of each category in order.
    std::vector<std::vector<double>> classProbabilities;

    // The label of category c (1-based): the file's, or the number when it has none.
    QString categoryLabel(int c) const;
    // Whether the labels say more than the categories' numbers (a deck's are "1", "2", ...).
    bool hasOwnLabels() const;

    // The parameter under key, if the item has one.
    std::optional<Estimate> parameter(const QString& key) const;
};

// The estimator's check of the maximum at the end of the fit.
struct ConvergenceCheck {
    bool certified = false;
    QString reason; // why the maximum is not certified, in words; empty when it is
    QString phase;  // what ended the fit: "em", "accelerated_em" or "newton"
    bool accelerated = false;
    std::optional<qint64> emCycles, newtonSteps;
    std::optional<double> largestGradient; // of the gradient over the parameters that move
    std::optional<double> remainingGain;   // how much the loglikelihood could still rise
};

// travik's limited-information fit: M2 (binary items) or C2 (ordinal items among them) with
// its RMSEA, SRMSR, CFI and TLI; only the reason when it was not computed.
struct LimitedInformationFit {
    bool available = false;
    QString reason;    // why it is not available
    QString statistic; // "M2" or "C2"
    std::optional<double> value, p, rmsea, rmseaLow, rmseaHigh, srmsr, cfi, tli;
    std::optional<qint64> df;
};

// One item's S-X2 fit statistic.
struct ItemFitRow {
    QString item;
    std::optional<double> statistic, p, rmsea;
    std::optional<qint64> df;
};

// Two-factor loadings after a rotation: one row per item (or nominal category).
struct RotatedLoadings {
    QString method; // "varimax" or "oblimin"
    struct Row {
        QString item;
        std::optional<qint64> category; // nominal items: the category
        double loading1 = 0, loading2 = 0;
    };
    std::vector<Row> rows;
    std::optional<double> factorCorrelation; // oblique rotations
};

// The statistics that compare every response pattern with its expected frequency: G² (the
// likelihood ratio) and Pearson's X² with their degrees of freedom, when they measure the fit.
struct PatternFit {
    bool valid = false;
    QString reason; // why they are not given
    std::optional<double> likelihoodRatio, chiSquare, degreesOfFreedom;
};

// ploven: how often the random starts found the best loglikelihood.
struct StartsFound {
    qint64 randomStarts = 0;
    qint64 runs = 0;       // runs that went on to convergence (the band start among them)
    qint64 replicated = 0; // of those, runs that reached the best within 1.0E-4
};

// ploven: the chi-square of a pair of items' table against the model's (bivariate residual).
struct BivariateResidual {
    QString first, second;
    double bvr = 0;
};

struct FitResults {
    QString program; // "travik" or "ploven"
    QString title;
    QString status;  // "converged", "max_cycles", "diverged", "not_certified", "rejected"
    QString message; // the estimator's words on the status; empty for a converged run
    int factors = 0; // travik
    int classes = 0; // ploven
    std::optional<qint64> cases;            // fitted
    std::optional<qint64> casesInInput;     // travik: records of the data
    std::optional<qint64> casesLeftOut;     // left out of the fit: no observed value, or a
                                            // missing value where the model takes none
    std::optional<qint64> casesWithMissing; // fitted cases with a missing value
    std::optional<qint64> cycles;
    std::optional<qint64> parameterCount;
    std::optional<double> loglikelihood, aic, bic, sabic;
    std::optional<double> entropy; // ploven's entropy R²
    QString standardErrors;        // "computed", "not_requested", "not_available"; empty when
                                   // the file does not say
    QString standardErrorsReason;  // why they are not available, when the file says
    std::optional<ConvergenceCheck> convergence; // none when the check did not run
    // travik: every item with its parameters. ploven: every item with its probability of a
    // positive answer in each class, as parameters "class_1" ... "class_K" in class order
    // (the reader makes sure of that).
    std::vector<ItemResult> items;
    std::vector<Estimate> classSizes; // ploven: eta, one per class in class order
    // travik: how well the model fits, and the rotated loadings of a two-factor model.
    std::optional<LimitedInformationFit> limitedFit;
    std::vector<ItemFitRow> itemFit;
    QString itemFitReason; // why there is no item fit, when the file says
    std::optional<RotatedLoadings> rotation;
    std::optional<PatternFit> patternFit; // none when the file has no such block
    std::optional<StartsFound> starts;    // ploven, a fit from many starts
    std::vector<BivariateResidual> bivariateResiduals;
};

struct ResultsRead {
    std::optional<FitResults> results;
    QString problem; // why there are none: names the file and what was wrong
};

// The JSON object a results file holds; nothing, with the problem naming the file, when the text
// is not valid JSON or not an object.
std::optional<QJsonObject> jsonObjectOf(const QByteArray& text, const QString& fileName,
                                        QString& problem);

// Parses the text of a results file; fileName only names it in the problem.
ResultsRead parseResults(const QByteArray& text, const QString& fileName);

} // namespace oruk
