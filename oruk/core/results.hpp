// The results file an estimator writes beside its report (travik.json, ploven.json), read into
// plain data. Every detail of the file's layout is known here and nowhere else, so a change of
// the layout is a change of this module alone.
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <utility>
#include <vector>

namespace oruk {

enum class ItemType { Binary, Normal, Nominal, Ordinal };

QString itemTypeName(ItemType type); // "binary", "normal", ...

struct Estimate {
    double value = 0;
    std::optional<double> standardError; // none where none was computed

    bool operator==(const Estimate&) const = default;
};

// One parameter of an item under its stable key: "intercept", "loading1", "loading2", "mean",
// "variance", "threshold_2", "category_3.intercept", "category_3.loading1", "pi_2", ...
struct Parameter {
    QString key;
    Estimate estimate;
};

struct ItemResult {
    int number = 0; // 1-based, in the model's item order
    QString name;   // the CSV column, or "item N"
    ItemType type = ItemType::Binary;
    int categories = 2;
    std::vector<Parameter> parameters; // in display order (see parameterRank)

    // The parameter under key, if the item has one.
    std::optional<Estimate> parameter(const QString& key) const;
};

struct FitResults {
    QString program; // "travik" or "ploven"
    QString title;
    QString status;  // "converged", "max_cycles", "diverged", "rejected"
    QString message; // the estimator's words on the status; may be empty
    int factors = 0; // travik
    int classes = 0; // ploven
    std::optional<qint64> cases;
    std::optional<qint64> cycles;
    std::optional<qint64> parameterCount;
    std::optional<double> loglikelihood, aic, bic, sabic;
    std::optional<double> entropy; // ploven's entropy R²
    std::vector<ItemResult> items;
    std::vector<Estimate> classSizes;                     // ploven: eta, one per class
    std::vector<std::vector<Estimate>> itemProbabilities; // ploven: pi, [item][class]
};

// The classes the class tables hold: the most entries of the class sizes or of any item's row
// (the file's own count is not trusted to size a table).
int tabledClasses(const FitResults& results);

struct ResultsRead {
    std::optional<FitResults> results;
    QString problem; // why there are none: names the file and what was wrong
};

// Parses the text of a results file; fileName only names it in the problem.
ResultsRead parseResults(const QByteArray& text, const QString& fileName);

// Where a parameter key goes in a list of an item's parameters: intercept or mean, thresholds,
// loadings, the residual variance, then the categories and class probabilities by number,
// anything else last.
std::pair<int, int> parameterRank(const QString& key);

} // namespace oruk
