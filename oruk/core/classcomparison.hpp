// ploven's comparison of class counts: a run with --classes 1-6 writes ploven-comparison.json
// in its output folder, one row per number of classes, each fit's own outputs under
// classes-K/. Read into plain data, shown as a table (the row of the smallest BIC marked) and as
// BIC by number of classes.
#pragma once

#include "oruk/core/resultcharts.hpp"
#include "oruk/core/resulttables.hpp"

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

namespace oruk {

struct ComparisonRow {
    qint64 classes = 0;
    std::optional<double> loglikelihood, aic, bic, sabic, entropy, smallestClass, blrtP;
    std::optional<qint64> parameters, replicated;
    bool smallestBic = false;
};

struct ComparisonRead {
    std::vector<ComparisonRow> rows;
    QString problem; // names the file and what was wrong; empty when it reads
};

// {"rows": [{"classes": K, "loglikelihood": x, "parameters": n, "aic": x, "bic": x, "sabic": x,
// "entropy_r2": x or null, "smallest_class": share, "replicated": count, "blrt_p": x or null,
// "smallest_bic": true/false}, ...]}
ComparisonRead parseComparison(const QByteArray& text, const QString& fileName);

// One row per number of classes; the smallest BIC's row says so in its last column.
Table comparisonTable(const std::vector<ComparisonRow>& rows);

// BIC (and AIC, SABIC) by number of classes.
ChartData comparisonChart(const std::vector<ComparisonRow>& rows);

} // namespace oruk
