#include "oruk/core/results.hpp"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <limits>

namespace oruk {

namespace {

constexpr double kNotANumber = std::numeric_limits<double>::quiet_NaN();

// The first of keys that obj holds.
QJsonValue firstOf(const QJsonObject& obj, std::initializer_list<const char*> keys) {
    for (const char* key : keys) {
        const QJsonValue value = obj.value(QLatin1String(key));
        if (!value.isUndefined()) return value;
    }
    return QJsonValue(QJsonValue::Undefined);
}

std::optional<double> number(const QJsonValue& value) {
    if (value.isDouble()) return value.toDouble();
    return std::nullopt;
}

std::optional<qint64> whole(const QJsonValue& value) {
    if (!value.isDouble()) return std::nullopt;
    const double d = value.toDouble();
    if (d != std::trunc(d) || std::fabs(d) > 9.0e15) return std::nullopt;
    return static_cast<qint64>(d);
}

// An estimate is written either as a bare number or as {"estimate": x, "se": y}; a null
// estimate (a value that was not finite) reads as NaN and is shown as missing.
Estimate estimateOf(const QJsonValue& value) {
    if (!value.isObject()) return {number(value).value_or(kNotANumber), std::nullopt};
    const QJsonObject obj = value.toObject();
    return {number(firstOf(obj, {"estimate", "value"})).value_or(kNotANumber),
            number(firstOf(obj, {"se", "standard_error"}))};
}

// A list of estimates: an array of estimates, or {"estimate": [...], "se": [...]}.
std::vector<Estimate> estimateList(const QJsonValue& value) {
    std::vector<Estimate> list;
    if (value.isArray()) {
        for (const QJsonValue& each : value.toArray()) list.push_back(estimateOf(each));
    } else if (value.isObject()) {
        const QJsonArray values = firstOf(value.toObject(), {"estimate", "value"}).toArray();
        const QJsonArray errors = firstOf(value.toObject(), {"se", "standard_error"}).toArray();
        for (qsizetype i = 0; i < values.size(); ++i) {
            list.push_back({number(values[i]).value_or(kNotANumber),
                            i < errors.size() ? number(errors[i]) : std::nullopt});
        }
    }
    return list;
}

std::optional<ItemType> itemTypeOf(const QString& name) {
    for (ItemType type : {ItemType::Binary, ItemType::Normal, ItemType::Nominal, ItemType::Ordinal})
        if (name.compare(itemTypeName(type), Qt::CaseInsensitive) == 0) return type;
    return std::nullopt;
}

std::vector<Parameter> parametersOf(const QJsonValue& value) {
    std::vector<Parameter> parameters;
    if (value.isArray()) {
        for (const QJsonValue& each : value.toArray()) {
            const QString key = firstOf(each.toObject(), {"key", "name"}).toString();
            if (!key.isEmpty()) parameters.push_back({key, estimateOf(each)});
        }
    } else if (value.isObject()) {
        const QJsonObject obj = value.toObject();
        for (auto it = obj.begin(); it != obj.end(); ++it)
            parameters.push_back({it.key(), estimateOf(it.value())});
    }
    std::stable_sort(parameters.begin(), parameters.end(),
                     [](const Parameter& a, const Parameter& b) {
                         return parameterRank(a.key) < parameterRank(b.key);
                     });
    return parameters;
}

// The categories an item's parameter keys imply: one more than its last threshold, or its last
// numbered category; 2 when they name none.
int categoriesFromKeys(const ItemResult& item) {
    int categories = 2;
    for (const Parameter& p : item.parameters) {
        const auto [group, rank] = parameterRank(p.key);
        if (group == 1) categories = std::max(categories, rank + 1);
        if (group == 4) categories = std::max(categories, rank / 4);
    }
    return categories;
}

// Reads the items; false with problem set when one cannot be understood.
bool readItems(const QJsonArray& array, FitResults& results, QString& problem) {
    for (qsizetype i = 0; i < array.size(); ++i) {
        const QJsonObject obj = array[i].toObject();
        ItemResult item;
        item.number = static_cast<int>(whole(obj.value("number")).value_or(i + 1));
        item.name = obj.value("name").toString();
        if (item.name.isEmpty()) item.name = QStringLiteral("item %1").arg(item.number);
        const QString type = obj.value("type").toString(QStringLiteral("binary"));
        const auto known = itemTypeOf(type);
        if (!known) {
            problem =
                QStringLiteral("item %1 has the unknown type \"%2\"").arg(item.number).arg(type);
            return false;
        }
        item.type = *known;
        const QJsonValue categories = obj.value("categories");
        item.categories = categories.isArray() ? static_cast<int>(categories.toArray().size())
                                               : static_cast<int>(whole(categories).value_or(2));
        item.parameters = parametersOf(obj.value("parameters"));
        if (categories.isUndefined() || categories.isNull()) item.categories = categoriesFromKeys(item);
        results.items.push_back(std::move(item));
    }
    return true;
}

// ploven's item probabilities: a table [item][class], or the items' "pi_K" parameters.
void readClassTables(const QJsonObject& root, FitResults& results) {
    results.classSizes = estimateList(firstOf(root, {"eta", "class_sizes"}));
    const QJsonValue pi = root.value("pi");
    if (pi.isArray()) {
        for (const QJsonValue& row : pi.toArray())
            results.itemProbabilities.push_back(estimateList(row));
    } else if (pi.isObject()) {
        const QJsonArray values = firstOf(pi.toObject(), {"estimate", "value"}).toArray();
        const QJsonArray errors = firstOf(pi.toObject(), {"se", "standard_error"}).toArray();
        for (qsizetype j = 0; j < values.size(); ++j) {
            QJsonObject row{{"estimate", values[j]},
                            {"se", j < errors.size() ? errors[j] : QJsonValue()}};
            results.itemProbabilities.push_back(estimateList(row));
        }
    } else {
        for (const ItemResult& item : results.items) {
            std::vector<Estimate> row;
            for (int k = 1; auto e = item.parameter(QStringLiteral("pi_%1").arg(k)); ++k)
                row.push_back(*e);
            if (!row.empty()) results.itemProbabilities.push_back(std::move(row));
        }
    }
    // Items named only through the table get their default names.
    for (std::size_t j = results.items.size(); j < results.itemProbabilities.size(); ++j) {
        ItemResult item;
        item.number = static_cast<int>(j + 1);
        item.name = QStringLiteral("item %1").arg(item.number);
        results.items.push_back(std::move(item));
    }
    if (results.classes == 0) results.classes = static_cast<int>(results.classSizes.size());
}

} // namespace

QString itemTypeName(ItemType type) {
    switch (type) {
    case ItemType::Binary:
        return QStringLiteral("binary");
    case ItemType::Normal:
        return QStringLiteral("normal");
    case ItemType::Nominal:
        return QStringLiteral("nominal");
    case ItemType::Ordinal:
        return QStringLiteral("ordinal");
    }
    return {};
}

std::pair<int, int> parameterRank(const QString& key) {
    static const QRegularExpression numbered(
        QStringLiteral("^(threshold|category|pi)_(\\d+)(.*)$"));
    if (key == QLatin1String("intercept") || key == QLatin1String("mean")) return {0, 0};
    if (key == QLatin1String("loading") || key == QLatin1String("loading1")) return {2, 1};
    if (key == QLatin1String("loading2")) return {2, 2};
    if (key == QLatin1String("variance")) return {3, 0};
    const auto match = numbered.match(key);
    if (!match.hasMatch()) return {6, 0};
    const int number = match.captured(2).toInt();
    if (match.captured(1) == QLatin1String("threshold")) return {1, number};
    if (match.captured(1) == QLatin1String("pi")) return {5, number};
    // Within a category its intercept comes before its loadings.
    const QString part = match.captured(3);
    const int within = part.endsWith(QLatin1String("loading2"))  ? 2
                       : part.contains(QLatin1String("loading")) ? 1
                                                                 : 0;
    return {4, number * 4 + within};
}

int tabledClasses(const FitResults& results) {
    std::size_t classes = results.classSizes.size();
    for (const auto& row : results.itemProbabilities) classes = std::max(classes, row.size());
    return static_cast<int>(classes);
}

std::optional<Estimate> ItemResult::parameter(const QString& key) const {
    for (const Parameter& p : parameters)
        if (p.key == key) return p.estimate;
    return std::nullopt;
}

ResultsRead parseResults(const QByteArray& text, const QString& fileName) {
    ResultsRead read;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError) {
        read.problem = QStringLiteral("%1 is not valid JSON (at byte %2: %3)")
                           .arg(fileName)
                           .arg(error.offset)
                           .arg(error.errorString());
        return read;
    }
    if (!document.isObject()) {
        read.problem = QStringLiteral("%1 does not hold a JSON object").arg(fileName);
        return read;
    }
    const QJsonObject root = document.object();
    const QJsonObject model = root.value("model").toObject();
    const QJsonObject data = root.value("data").toObject();
    FitResults r;
    r.program = root.value("program").toString();
    r.title = root.value("title").toString().trimmed();
    r.status = root.value("status").toString();
    r.message = root.value("message").toString().trimmed();
    if (r.status.isEmpty()) {
        read.problem = QStringLiteral("%1 has no \"status\"").arg(fileName);
        return read;
    }
    r.factors = static_cast<int>(
        whole(firstOf(model, {"factors"})).value_or(whole(root.value("factors")).value_or(0)));
    r.classes = static_cast<int>(
        whole(firstOf(model, {"classes"})).value_or(whole(root.value("classes")).value_or(0)));
    r.cases = whole(data.value("cases"));
    if (!r.cases) r.cases = whole(root.value("cases"));
    r.cycles = whole(root.value("cycles"));
    r.parameterCount = whole(root.value("parameters"));
    r.loglikelihood = number(root.value("loglikelihood"));
    r.aic = number(root.value("aic"));
    r.bic = number(root.value("bic"));
    r.sabic = number(root.value("sabic"));
    const QJsonValue entropy = firstOf(root, {"entropy", "entropy_r2"});
    r.entropy =
        entropy.isObject() ? number(firstOf(entropy.toObject(), {"r2", "value"})) : number(entropy);
    QString problem;
    if (!readItems(root.value("items").toArray(), r, problem)) {
        read.problem = fileName + QStringLiteral(": ") + problem;
        return read;
    }
    if (r.program == QLatin1String("ploven") || root.contains("eta")) readClassTables(root, r);
    read.results = std::move(r);
    return read;
}

} // namespace oruk
