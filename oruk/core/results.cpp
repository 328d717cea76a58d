#include "oruk/core/results.hpp"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <cmath>
#include <limits>

namespace oruk {

namespace {

constexpr double kNotANumber = std::numeric_limits<double>::quiet_NaN();
// Whole numbers beyond this are not exact in a double; no count of the file comes near it.
constexpr double kLargestWhole = 9.0e15;

// Reads the members of one file, keeping the first thing that was wrong. A member the layout
// may leave out, or give as null, reads as nothing; one of the wrong kind is a problem, since
// it means the file is not in the layout this reader knows.
class Reader {
  public:
    bool failed() const { return !problem_.isEmpty(); }
    const QString& problem() const { return problem_; }

    void fail(const QString& what) {
        if (problem_.isEmpty()) problem_ = what;
    }

    std::optional<double> number(const QJsonObject& obj, const char* key, const QString& where) {
        const QJsonValue value = obj.value(QLatin1String(key));
        if (value.isUndefined() || value.isNull()) return std::nullopt;
        if (!value.isDouble()) {
            fail(QStringLiteral("%1\"%2\" is not a number").arg(where, QLatin1String(key)));
            return std::nullopt;
        }
        return value.toDouble();
    }

    std::optional<qint64> whole(const QJsonObject& obj, const char* key, const QString& where) {
        const auto value = number(obj, key, where);
        if (!value) return std::nullopt;
        if (*value != std::trunc(*value) || std::fabs(*value) > kLargestWhole) {
            fail(QStringLiteral("%1\"%2\" is not a whole number").arg(where, QLatin1String(key)));
            return std::nullopt;
        }
        return static_cast<qint64>(*value);
    }

    QString text(const QJsonObject& obj, const char* key, const QString& where) {
        const QJsonValue value = obj.value(QLatin1String(key));
        if (value.isUndefined() || value.isNull()) return {};
        if (!value.isString()) {
            fail(QStringLiteral("%1\"%2\" is not a text").arg(where, QLatin1String(key)));
            return {};
        }
        return value.toString();
    }

    std::optional<bool> flag(const QJsonObject& obj, const char* key, const QString& where) {
        const QJsonValue value = obj.value(QLatin1String(key));
        if (value.isUndefined() || value.isNull()) return std::nullopt;
        if (!value.isBool()) {
            fail(QStringLiteral("%1\"%2\" is not true or false").arg(where, QLatin1String(key)));
            return std::nullopt;
        }
        return value.toBool();
    }

    QJsonArray array(const QJsonObject& obj, const char* key, const QString& where) {
        const QJsonValue value = obj.value(QLatin1String(key));
        if (!value.isUndefined() && !value.isNull() && !value.isArray())
            fail(QStringLiteral("%1\"%2\" is not an array").arg(where, QLatin1String(key)));
        return value.toArray();
    }

    QJsonObject object(const QJsonValue& value, const QString& what) {
        if (!value.isObject()) fail(what + QStringLiteral(" is not an object"));
        return value.toObject();
    }

  private:
    QString problem_;
};

std::optional<ItemType> itemTypeOf(const QString& name) {
    for (ItemType type : {ItemType::Binary, ItemType::Normal, ItemType::Nominal, ItemType::Ordinal})
        if (name == itemTypeName(type)) return type;
    return std::nullopt;
}

// {"key": ..., "estimate": x, "standard_error": y}; a null estimate (not finite when written)
// reads as NaN and is shown as missing.
Parameter parameterOf(Reader& reader, const QJsonValue& value, const QString& where) {
    const QJsonObject obj = reader.object(value, where);
    Parameter p;
    p.key = reader.text(obj, "key", where + QStringLiteral(": "));
    if (p.key.isEmpty()) reader.fail(where + QStringLiteral(" has no \"key\""));
    const QString of = QStringLiteral("%1 \"%2\": ").arg(where, p.key);
    p.estimate.value = reader.number(obj, "estimate", of).value_or(kNotANumber);
    p.estimate.standardError = reader.number(obj, "standard_error", of);
    return p;
}

std::vector<Parameter> parametersOf(Reader& reader, const QJsonArray& array, const QString& where) {
    std::vector<Parameter> parameters;
    for (qsizetype i = 0; i < array.size() && !reader.failed(); ++i)
        parameters.push_back(
            parameterOf(reader, array[i], QStringLiteral("%1 parameter %2").arg(where).arg(i + 1)));
    return parameters;
}

// ploven keys its class-wise values "class_1" ... "class_K", in class order.
void checkClassKeys(Reader& reader, const std::vector<Parameter>& values, int classes,
                    const QString& where) {
    if (int(values.size()) != classes) {
        reader.fail(QStringLiteral("%1 has %2 class values for %3 classes")
                        .arg(where)
                        .arg(values.size())
                        .arg(classes));
        return;
    }
    for (int k = 0; k < classes; ++k) {
        const QString expected = QStringLiteral("class_%1").arg(k + 1);
        if (values[std::size_t(k)].key != expected) {
            reader.fail(QStringLiteral("%1 has \"%2\" where \"%3\" belongs")
                            .arg(where, values[std::size_t(k)].key, expected));
            return;
        }
    }
}

// "categories": a count (older files) or the labels in model order.
void readCategories(Reader& reader, const QJsonObject& obj, const QString& named,
                    ItemResult& item) {
    const QJsonValue value = obj.value(QLatin1String("categories"));
    if (value.isArray()) {
        for (const QJsonValue label : value.toArray())
            item.categoryLabels << (label.isDouble() ? QString::number(label.toDouble())
                                                     : label.toString());
        if (item.categoryLabels.size() < 2 || item.categoryLabels.size() > 1000)
            reader.fail(QStringLiteral("%1 has %2 category labels")
                            .arg(named)
                            .arg(item.categoryLabels.size()));
        item.categories = static_cast<int>(item.categoryLabels.size());
        return;
    }
    const auto categories = reader.whole(obj, "categories", named + QStringLiteral(": "));
    if (!categories || *categories < 2 || *categories > 1000)
        reader.fail(QStringLiteral("%1 (%2) has no valid \"categories\"")
                        .arg(named, itemTypeName(item.type)));
    item.categories = static_cast<int>(categories.value_or(2));
}

// ploven's "class_probabilities": per class, the probabilities of the categories in order.
void readClassProbabilities(Reader& reader, const QJsonObject& obj, const QString& named,
                            ItemResult& item) {
    const QJsonArray classes =
        reader.array(obj, "class_probabilities", named + QStringLiteral(": "));
    for (qsizetype k = 0; k < classes.size() && !reader.failed(); ++k) {
        std::vector<double> row;
        for (const QJsonValue p : classes[k].toArray()) {
            if (!p.isDouble() && !p.isNull()) {
                reader.fail(named + QStringLiteral(": \"class_probabilities\" holds a value "
                                                   "that is not a number"));
                return;
            }
            row.push_back(p.isDouble() ? p.toDouble() : kNotANumber);
        }
        if (!classes[k].isArray() || int(row.size()) != item.categories) {
            reader.fail(QStringLiteral("%1: class %2 has %3 category probabilities for %4 "
                                       "categories")
                            .arg(named)
                            .arg(k + 1)
                            .arg(row.size())
                            .arg(item.categories));
            return;
        }
        item.classProbabilities.push_back(std::move(row));
    }
}

ItemResult itemOf(Reader& reader, const QJsonValue& value, qsizetype index, bool latentClass) {
    const QString where = QStringLiteral("item %1").arg(index + 1);
    const QJsonObject obj = reader.object(value, where);
    ItemResult item;
    const auto number = reader.whole(obj, "number", where + QStringLiteral(": "));
    if (!number) reader.fail(where + QStringLiteral(" has no \"number\""));
    item.number = static_cast<int>(number.value_or(index + 1));
    const QString named = QStringLiteral("item %1").arg(item.number);
    item.name = reader.text(obj, "name", named + QStringLiteral(": "));
    if (item.name.isEmpty()) item.name = named;
    const QString type = reader.text(obj, "type", named + QStringLiteral(": "));
    const auto known = itemTypeOf(type);
    // A latent class item with categories is shown by its categories, whatever its type says.
    const bool classCategories =
        latentClass && obj.value(QLatin1String("class_probabilities")).isArray();
    if (!known && !classCategories) {
        reader.fail(QStringLiteral("%1 has the unknown type \"%2\"").arg(named, type));
        return item;
    }
    item.type = known.value_or(ItemType::Nominal);
    if (item.type == ItemType::Nominal || item.type == ItemType::Ordinal || classCategories)
        readCategories(reader, obj, named, item);
    else if (obj.value(QLatin1String("categories")).isArray())
        readCategories(reader, obj, named, item); // a binary class item's two labels
    if (classCategories) readClassProbabilities(reader, obj, named, item);
    item.parameters =
        parametersOf(reader, reader.array(obj, "parameters", named + QStringLiteral(": ")), named);
    item.standardizedLoadings = parametersOf(
        reader, reader.array(obj, "standardized_loadings", named + QStringLiteral(": ")),
        named + QStringLiteral(" standardized"));
    return item;
}

void readItems(Reader& reader, const QJsonObject& root, FitResults& results) {
    const bool latentClass = results.program == QLatin1String("ploven");
    const QJsonArray items = reader.array(root, "items", QString());
    for (qsizetype i = 0; i < items.size() && !reader.failed(); ++i)
        results.items.push_back(itemOf(reader, items[i], i, latentClass));
}

// ploven: the class sizes, and every item's probabilities class by class.
void checkClassTables(Reader& reader, const QJsonObject& root, FitResults& results) {
    const QJsonArray eta = reader.array(root, "eta", QString());
    results.classSizes.clear();
    std::vector<Parameter> sizes = parametersOf(reader, eta, QStringLiteral("eta"));
    if (!eta.isEmpty()) checkClassKeys(reader, sizes, results.classes, QStringLiteral("eta"));
    for (const Parameter& p : sizes) results.classSizes.push_back(p.estimate);
    for (const ItemResult& item : results.items) {
        const QString named = QStringLiteral("item %1").arg(item.number);
        if (!item.classProbabilities.empty()) {
            // An item with categories: one list per class (binary items keep their keys too).
            if (int(item.classProbabilities.size()) != results.classes)
                reader.fail(QStringLiteral("%1 has category probabilities of %2 classes for %3")
                                .arg(named)
                                .arg(item.classProbabilities.size())
                                .arg(results.classes));
            // A binary item keeps one value per class ("class_K"); an item of more categories
            // has one per class and category ("class_K:label"), read from the lists instead.
            if (item.categories == 2 && !item.parameters.empty())
                checkClassKeys(reader, item.parameters, results.classes, named);
            continue;
        }
        if (item.type != ItemType::Binary)
            reader.fail(QStringLiteral("%1 is %2; a latent class item is binary")
                            .arg(named, itemTypeName(item.type)));
        checkClassKeys(reader, item.parameters, results.classes, named);
    }
}

// The full-pattern statistics: travik's "goodness_of_fit" (with its validity flag), ploven's
// "fit"."full_table" (null when the report warns of zero frequencies instead).
std::optional<PatternFit> patternFitOf(Reader& reader, const QJsonObject& root, bool latentClass) {
    PatternFit fit;
    if (latentClass) {
        const QJsonValue block = root.value(QLatin1String("fit"));
        if (!block.isObject()) return std::nullopt;
        const QJsonValue table = block.toObject().value(QLatin1String("full_table"));
        if (!table.isObject()) {
            fit.reason = QStringLiteral("patterns of zero expected frequency (see the report)");
            return fit;
        }
        const QString where = QStringLiteral("fit full_table: ");
        fit.likelihoodRatio = reader.number(table.toObject(), "likelihood_ratio", where);
        fit.chiSquare = reader.number(table.toObject(), "chi_square", where);
        fit.degreesOfFreedom = reader.number(table.toObject(), "degrees_of_freedom", where);
        fit.valid = fit.likelihoodRatio.has_value();
        return fit;
    }
    const QJsonValue block = root.value(QLatin1String("goodness_of_fit"));
    if (!block.isObject()) return std::nullopt;
    const QJsonObject obj = block.toObject();
    const QString where = QStringLiteral("goodness_of_fit: ");
    fit.valid = reader.flag(obj, "valid", where).value_or(false);
    fit.reason = reader.text(obj, "reason", where).trimmed();
    fit.likelihoodRatio = reader.number(obj, "likelihood_ratio", where);
    fit.chiSquare = reader.number(obj, "chi_square_all_patterns", where);
    fit.degreesOfFreedom = reader.number(obj, "degrees_of_freedom", where);
    if (!fit.valid) fit.likelihoodRatio = fit.chiSquare = fit.degreesOfFreedom = std::nullopt;
    return fit;
}

// ploven's "starts": how many runs reached the best loglikelihood.
std::optional<StartsFound> startsOf(Reader& reader, const QJsonObject& root) {
    const QJsonValue block = root.value(QLatin1String("starts"));
    if (!block.isObject()) return std::nullopt;
    const QJsonObject obj = block.toObject();
    const QString where = QStringLiteral("starts: ");
    StartsFound found;
    found.randomStarts = reader.whole(obj, "random_starts", where).value_or(0);
    // A fit of binary items lists its final runs; one of items with categories counts them.
    found.runs = reader.array(obj, "runs", where).size();
    if (found.runs == 0) found.runs = reader.whole(obj, "final_runs", where).value_or(0);
    const auto replicated = reader.whole(obj, "replicated", where);
    if (!replicated || found.runs == 0) return std::nullopt;
    found.replicated = *replicated;
    return found;
}

// ploven's "bivariate_residuals": [{"items": [name, name], "bvr": x}, ...].
std::vector<BivariateResidual> bivariateResidualsOf(Reader& reader, const QJsonObject& root) {
    std::vector<BivariateResidual> residuals;
    const QJsonArray rows = reader.array(root, "bivariate_residuals", QString());
    for (qsizetype i = 0; i < rows.size() && !reader.failed(); ++i) {
        const QString at = QStringLiteral("bivariate_residuals %1").arg(i + 1);
        const QJsonObject row = reader.object(rows[i], at);
        const QJsonArray pair = reader.array(row, "items", at + QStringLiteral(": "));
        const auto bvr = reader.number(row, "bvr", at + QStringLiteral(": "));
        if (pair.size() != 2) reader.fail(at + QStringLiteral(": \"items\" is not a pair"));
        if (reader.failed()) break;
        residuals.push_back({pair[0].toString(), pair[1].toString(), bvr.value_or(kNotANumber)});
    }
    return residuals;
}

// "convergence": the check of the maximum, when the estimator ran it.
std::optional<ConvergenceCheck> convergenceOf(Reader& reader, const QJsonObject& root) {
    const QJsonValue value = root.value(QLatin1String("convergence"));
    if (value.isUndefined() || value.isNull()) return std::nullopt;
    const QJsonObject obj = reader.object(value, QStringLiteral("\"convergence\""));
    const QString where = QStringLiteral("convergence: ");
    ConvergenceCheck check;
    const auto certified = reader.flag(obj, "certified", where);
    if (!certified) reader.fail(QStringLiteral("\"convergence\" has no \"certified\""));
    check.certified = certified.value_or(false);
    check.reason = reader.text(obj, "reason", where).trimmed();
    check.phase = reader.text(obj, "phase", where);
    check.accelerated = reader.flag(obj, "accelerated", where).value_or(false);
    check.emCycles = reader.whole(obj, "em_cycles", where);
    check.newtonSteps = reader.whole(obj, "newton_steps", where);
    check.largestGradient = reader.number(obj, "largest_gradient", where);
    check.remainingGain = reader.number(obj, "remaining_gain", where);
    return check;
}

// "standard_errors": a word ("computed", "not_requested", "not_available"), and beside it
// "standard_errors_reason" when the file says why.
void readStandardErrors(Reader& reader, const QJsonObject& root, FitResults& results) {
    results.standardErrors = reader.text(root, "standard_errors", QString());
    results.standardErrorsReason = reader.text(root, "standard_errors_reason", QString()).trimmed();
}

// "limited_information_fit": the figures, or the reason they were not computed.
std::optional<LimitedInformationFit> limitedFitOf(Reader& reader, const QJsonObject& root) {
    const QJsonValue value = root.value(QLatin1String("limited_information_fit"));
    if (value.isUndefined() || value.isNull()) return std::nullopt;
    const QJsonObject obj = reader.object(value, QStringLiteral("\"limited_information_fit\""));
    const QString where = QStringLiteral("limited_information_fit: ");
    LimitedInformationFit fit;
    fit.available = reader.flag(obj, "available", where).value_or(false);
    fit.reason = reader.text(obj, "reason", where).trimmed();
    fit.statistic = reader.text(obj, "statistic", where);
    fit.value = reader.number(obj, "value", where);
    fit.df = reader.whole(obj, "degrees_of_freedom", where);
    fit.p = reader.number(obj, "p", where);
    fit.rmsea = reader.number(obj, "rmsea", where);
    const QJsonArray interval = reader.array(obj, "rmsea_90", where);
    if (interval.size() == 2 && interval[0].isDouble() && interval[1].isDouble()) {
        fit.rmseaLow = interval[0].toDouble();
        fit.rmseaHigh = interval[1].toDouble();
    }
    fit.srmsr = reader.number(obj, "srmsr", where);
    fit.cfi = reader.number(obj, "cfi", where);
    fit.tli = reader.number(obj, "tli", where);
    return fit;
}

// "item_fit": one entry per item, or null with "item_fit_reason" beside.
void readItemFit(Reader& reader, const QJsonObject& root, FitResults& results) {
    results.itemFitReason = reader.text(root, "item_fit_reason", QString()).trimmed();
    const QJsonArray rows = reader.array(root, "item_fit", QString());
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const QString where = QStringLiteral("item_fit %1: ").arg(i + 1);
        const QJsonObject obj = reader.object(rows[i], QStringLiteral("item_fit %1").arg(i + 1));
        results.itemFit.push_back(
            {reader.text(obj, "item", where), reader.number(obj, "s_x2", where),
             reader.number(obj, "p", where), reader.number(obj, "rmsea", where),
             reader.whole(obj, "df", where)});
    }
}

// "rotation": the method, each row's two loadings and, when oblique, the factor correlation.
std::optional<RotatedLoadings> rotationOf(Reader& reader, const QJsonObject& root) {
    const QJsonValue value = root.value(QLatin1String("rotation"));
    if (value.isUndefined() || value.isNull()) return std::nullopt;
    const QJsonObject obj = reader.object(value, QStringLiteral("\"rotation\""));
    const QString where = QStringLiteral("rotation: ");
    RotatedLoadings rotation;
    rotation.method = reader.text(obj, "method", where);
    rotation.factorCorrelation = reader.number(obj, "factor_correlation", where);
    const QJsonArray rows = reader.array(obj, "items", where);
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const QString at = QStringLiteral("rotation item %1").arg(i + 1);
        const QJsonObject row = reader.object(rows[i], at);
        const QJsonArray loadings = reader.array(row, "loadings", at + QStringLiteral(": "));
        if (loadings.size() != 2 || !loadings[0].isDouble() || !loadings[1].isDouble()) {
            reader.fail(at + QStringLiteral(": \"loadings\" is not a pair of numbers"));
            break;
        }
        rotation.rows.push_back({reader.text(row, "item", at + QStringLiteral(": ")),
                                 reader.whole(row, "category", at + QStringLiteral(": ")),
                                 loadings[0].toDouble(), loadings[1].toDouble()});
    }
    return rotation;
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

QString ItemResult::categoryLabel(int c) const {
    if (c >= 1 && c <= categoryLabels.size()) return categoryLabels[c - 1];
    return QString::number(c);
}

bool ItemResult::hasOwnLabels() const {
    for (qsizetype c = 0; c < categoryLabels.size(); ++c)
        if (categoryLabels[c] != QString::number(c + 1)) return true;
    return false;
}

std::optional<Estimate> ItemResult::parameter(const QString& key) const {
    for (const Parameter& p : parameters)
        if (p.key == key) return p.estimate;
    return std::nullopt;
}

std::optional<QJsonObject> jsonObjectOf(const QByteArray& text, const QString& fileName,
                                        QString& problem) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError) {
        problem = QStringLiteral("%1 is not valid JSON (at byte %2: %3)")
                      .arg(fileName)
                      .arg(error.offset)
                      .arg(error.errorString());
        return std::nullopt;
    }
    if (!document.isObject()) {
        problem = QStringLiteral("%1 does not hold a JSON object").arg(fileName);
        return std::nullopt;
    }
    return document.object();
}

ResultsRead parseResults(const QByteArray& text, const QString& fileName) {
    ResultsRead read;
    const std::optional<QJsonObject> object = jsonObjectOf(text, fileName, read.problem);
    if (!object) return read;
    const QJsonObject& root = *object;
    Reader reader;
    FitResults r;
    const auto version = reader.whole(root, "schema_version", QString());
    if (!reader.failed() && !version)
        reader.fail(QStringLiteral("there is no \"schema_version\""));
    else if (version && (*version < 1 || *version > kResultsSchemaVersion))
        reader.fail(
            QStringLiteral("it is in results layout version %1; this oruk reads versions 1 to %2")
                .arg(*version)
                .arg(kResultsSchemaVersion));
    r.program = reader.text(root, "program", QString());
    const bool latentClass = r.program == QLatin1String("ploven");
    if (!reader.failed() && r.program.isEmpty())
        reader.fail(QStringLiteral("there is no \"program\""));
    else if (!reader.failed() && !latentClass && r.program != QLatin1String("travik"))
        reader.fail(
            QStringLiteral("\"program\" is \"%1\", neither travik nor ploven").arg(r.program));
    r.title = reader.text(root, "title", QString()).trimmed();
    r.status = reader.text(root, "status", QString());
    if (!reader.failed() && r.status.isEmpty())
        reader.fail(QStringLiteral("there is no \"status\""));
    r.message = reader.text(root, "message", QString()).trimmed();

    const QJsonObject model = root.value("model").toObject();
    const QJsonObject data = root.value("data").toObject();
    const QString inModel = QStringLiteral("model: ");
    if (latentClass)
        r.classes = static_cast<int>(reader.whole(model, "classes", inModel).value_or(0));
    else
        r.factors = static_cast<int>(reader.whole(model, "factors", inModel).value_or(0));
    if (r.classes < 0 || r.classes > 10000 || r.factors < 0 || r.factors > 2)
        reader.fail(QStringLiteral("the model's classes or factors are out of range"));
    r.cases = reader.whole(data, "cases", QStringLiteral("data: "));
    if (latentClass && !data.contains(QLatin1String("cases_left_out"))) {
        // Before layout 3 a CSV run's cases with a missing value were left out of the fit.
        r.casesLeftOut = reader.whole(data, "cases_with_missing", QStringLiteral("data: "));
    } else if (latentClass) {
        r.casesLeftOut = reader.whole(data, "cases_left_out", QStringLiteral("data: "));
        r.casesWithMissing = reader.whole(data, "cases_with_missing", QStringLiteral("data: "));
    } else {
        r.casesInInput = reader.whole(data, "cases_in_input", QStringLiteral("data: "));
        r.casesLeftOut = reader.whole(data, "cases_left_out", QStringLiteral("data: "));
        r.casesWithMissing = reader.whole(data, "cases_with_missing", QStringLiteral("data: "));
    }
    r.cycles = reader.whole(root, "cycles", QString());
    r.parameterCount = reader.whole(root, "parameters", QString());
    r.loglikelihood = reader.number(root, "loglikelihood", QString());
    r.aic = reader.number(root, "aic", QString());
    r.bic = reader.number(root, "bic", QString());
    r.sabic = reader.number(root, "sabic", QString());
    if (latentClass) r.entropy = reader.number(root, "entropy_r2", QString());
    readStandardErrors(reader, root, r);
    r.convergence = convergenceOf(reader, root);
    readItems(reader, root, r);
    if (!latentClass) {
        r.limitedFit = limitedFitOf(reader, root);
        readItemFit(reader, root, r);
        r.rotation = rotationOf(reader, root);
    }
    r.patternFit = patternFitOf(reader, root, latentClass);
    if (latentClass) {
        r.starts = startsOf(reader, root);
        r.bivariateResiduals = bivariateResidualsOf(reader, root);
    }
    if (latentClass && !reader.failed()) checkClassTables(reader, root, r);

    if (reader.failed()) {
        read.problem = fileName + QStringLiteral(": ") + reader.problem();
        return read;
    }
    read.results = std::move(r);
    return read;
}

} // namespace oruk
