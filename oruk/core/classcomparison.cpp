#include "oruk/core/classcomparison.hpp"

#include "oruk/core/results.hpp"

#include <QJsonArray>
#include <QJsonObject>

#include <cmath>

namespace oruk {

namespace {

// A member that is absent or null is none; one that is not a number is a fault.
std::optional<double> numberOf(const QJsonObject& row, const char* key, QString* fault) {
    const QJsonValue value = row.value(QLatin1String(key));
    if (value.isUndefined() || value.isNull()) return std::nullopt;
    if (!value.isDouble() || !std::isfinite(value.toDouble())) {
        if (fault->isEmpty()) *fault = QStringLiteral("\"%1\" is not a number").arg(key);
        return std::nullopt;
    }
    return value.toDouble();
}

std::optional<qint64> wholeOf(const QJsonObject& row, const char* key, QString* fault) {
    const auto value = numberOf(row, key, fault);
    if (!value) return std::nullopt;
    if (*value != std::trunc(*value) || std::fabs(*value) > 9.0e15) {
        if (fault->isEmpty()) *fault = QStringLiteral("\"%1\" is not a whole number").arg(key);
        return std::nullopt;
    }
    return static_cast<qint64>(*value);
}

QVariant cellOf(const std::optional<double>& value) {
    return value ? QVariant(*value) : QVariant();
}

QVariant cellOf(const std::optional<qint64>& value) {
    return value ? QVariant(*value) : QVariant();
}

} // namespace

ComparisonRead parseComparison(const QByteArray& text, const QString& fileName) {
    ComparisonRead read;
    const std::optional<QJsonObject> object = jsonObjectOf(text, fileName, read.problem);
    if (!object) return read;
    const QJsonValue rows = object->value(QLatin1String("rows"));
    if (!rows.isArray()) {
        read.problem = QStringLiteral("%1 has no \"rows\" array").arg(fileName);
        return read;
    }
    const QJsonArray array = rows.toArray();
    for (qsizetype i = 0; i < array.size(); ++i) {
        const QJsonObject row = array[i].toObject();
        QString fault;
        ComparisonRow r;
        const auto classes = wholeOf(row, "classes", &fault);
        if (!array[i].isObject() || (!classes && fault.isEmpty()))
            fault = QStringLiteral("there is no \"classes\"");
        r.classes = classes.value_or(0);
        r.loglikelihood = numberOf(row, "loglikelihood", &fault);
        r.parameters = wholeOf(row, "parameters", &fault);
        r.aic = numberOf(row, "aic", &fault);
        r.bic = numberOf(row, "bic", &fault);
        r.sabic = numberOf(row, "sabic", &fault);
        r.entropy = numberOf(row, "entropy_r2", &fault);
        r.smallestClass = numberOf(row, "smallest_class", &fault);
        r.replicated = wholeOf(row, "replicated", &fault);
        r.blrtP = numberOf(row, "blrt_p", &fault);
        r.smallestBic = row.value(QLatin1String("smallest_bic")).toBool(false);
        if (!fault.isEmpty()) {
            read.problem = QStringLiteral("%1: row %2: %3").arg(fileName).arg(i + 1).arg(fault);
            read.rows.clear();
            return read;
        }
        read.rows.push_back(r);
    }
    return read;
}

Table comparisonTable(const std::vector<ComparisonRow>& rows) {
    // The mark of the smallest BIC stands beside the BIC, where it is read.
    Table table{{QStringLiteral("Classes"), QStringLiteral("Loglikelihood"),
                 QStringLiteral("Parameters"), QStringLiteral("AIC"), QStringLiteral("BIC"),
                 QStringLiteral("Smallest BIC"), QStringLiteral("SABIC"),
                 QStringLiteral("Entropy R²"), QStringLiteral("Smallest class"),
                 QStringLiteral("Best found"), QStringLiteral("BLRT p")},
                {}};
    for (const ComparisonRow& r : rows)
        table.rows.push_back(
            {r.classes, cellOf(r.loglikelihood), cellOf(r.parameters), cellOf(r.aic), cellOf(r.bic),
             r.smallestBic ? QVariant(QStringLiteral("◀ smallest")) : QVariant(), cellOf(r.sabic),
             cellOf(r.entropy), cellOf(r.smallestClass), cellOf(r.replicated), cellOf(r.blrtP)});
    return table;
}

ChartData comparisonChart(const std::vector<ComparisonRow>& rows) {
    ChartData chart;
    chart.title = QStringLiteral("Information criteria by number of classes");
    chart.xTitle = QStringLiteral("Classes");
    chart.yTitle = QStringLiteral("Criterion (smaller is better)");
    chart.wholeX = true;
    Curve bic{QStringLiteral("BIC"), {}}, aic{QStringLiteral("AIC"), {}},
        sabic{QStringLiteral("SABIC"), {}};
    for (const ComparisonRow& r : rows) {
        if (r.bic) bic.points.emplace_back(double(r.classes), *r.bic);
        if (r.aic) aic.points.emplace_back(double(r.classes), *r.aic);
        if (r.sabic) sabic.points.emplace_back(double(r.classes), *r.sabic);
    }
    for (Curve* line : {&bic, &aic, &sabic})
        if (!line->points.empty()) chart.lines.push_back(std::move(*line));
    if (chart.lines.empty()) chart.problem = QStringLiteral("The comparison holds no criteria.");
    return chart;
}

} // namespace oruk
