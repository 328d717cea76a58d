#include "oruk/core/runending.hpp"

#include <QList>
#include <QStringList>

#include <algorithm>

namespace oruk {

namespace {

std::optional<RunEnding> endingOfStatus(const QString& status) {
    if (status == QLatin1String("converged")) return RunEnding::Converged;
    if (status == QLatin1String("max_cycles") || status == QLatin1String("not_certified"))
        return RunEnding::NoConvergence;
    if (status == QLatin1String("diverged")) return RunEnding::Diverged;
    if (status == QLatin1String("rejected")) return RunEnding::Rejected;
    return std::nullopt;
}

// Without a results file, the estimator's own words tell an exit status of 1 apart.
RunEnding endingOfMessages(const QString& text) {
    const QString upper = text.toUpper();
    if (upper.contains(QLatin1String("NO CONVERGENCE")) ||
        upper.contains(QLatin1String("MAXIMUM NUMBER OF ITERATIONS")) ||
        upper.contains(QLatin1String("MAX. NO. OF ITERATION")))
        return RunEnding::NoConvergence;
    if (upper.contains(QLatin1String("DIVERGED"))) return RunEnding::Diverged;
    if (upper.contains(QLatin1String("ERROR"))) return RunEnding::Rejected;
    return RunEnding::Failed;
}

} // namespace

QString firstLines(const QString& text, int lines) {
    QStringList kept;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        if (line.trimmed().isEmpty()) continue;
        if (kept.size() == lines) {
            kept << QStringLiteral("...");
            break;
        }
        kept << line.trimmed();
    }
    return kept.join(QLatin1Char('\n'));
}

QString reportErrorLine(const QByteArray& report) {
    for (const QByteArray& line : report.split('\n')) {
        const QByteArray upper = line.toUpper();
        if (upper.contains("***ERROR***") || upper.contains("** ERROR") ||
            upper.contains("*** ERROR ***"))
            return QString::fromLatin1(line.trimmed());
    }
    return {};
}

QString endingWords(RunEnding ending) {
    switch (ending) {
    case RunEnding::Converged:
        return QStringLiteral("converged");
    case RunEnding::NoConvergence:
        return QStringLiteral("no convergence");
    case RunEnding::Diverged:
        return QStringLiteral("diverged");
    case RunEnding::Rejected:
        return QStringLiteral("rejected");
    case RunEnding::Failed:
        return QStringLiteral("failed");
    case RunEnding::Cancelled:
        return QStringLiteral("cancelled");
    case RunEnding::Crashed:
        return QStringLiteral("crashed");
    }
    return {};
}

EndingShown describeEnding(const EndingFacts& facts) {
    const QString errors = firstLines(facts.standardError);
    // The most specific words available: the results file's, then standard error, then the
    // report's error line.
    // A line is said once: the estimators print their report's error line on standard error
    // too, behind their name ("travik: ***ERROR*** ..."), so a line that holds one already
    // said, or is held in one, is passed over.
    auto detail = [&](const QString& extra = QString()) {
        QStringList lines;
        for (const QString& part : {facts.resultsMessage, errors, facts.reportErrorLine, extra}) {
            for (const QString& line : part.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
                const bool said = std::any_of(lines.begin(), lines.end(), [&](const QString& kept) {
                    return kept.contains(line) || line.contains(kept);
                });
                if (!said) lines << line;
            }
        }
        return lines.join(QLatin1Char('\n'));
    };
    if (facts.cancelled) return {RunEnding::Cancelled, QStringLiteral("The run was cancelled.")};
    if (!facts.started) return {RunEnding::Failed, detail()};
    if (facts.crashed) return {RunEnding::Crashed, detail()};
    if (facts.resultsStatus) {
        const auto fromStatus = endingOfStatus(*facts.resultsStatus);
        if (facts.exitCode == 0 && fromStatus == RunEnding::Converged)
            return {RunEnding::Converged, facts.resultsMessage};
        if (fromStatus && fromStatus != RunEnding::Converged) return {*fromStatus, detail()};
        // A converged status with a failing exit, or a status nobody knows: not a success.
        return {RunEnding::Failed,
                detail(QStringLiteral("Exit status %1 with the results status \"%2\".")
                           .arg(facts.exitCode)
                           .arg(*facts.resultsStatus))};
    }
    if (facts.exitCode == 1) {
        const RunEnding ending =
            endingOfMessages(facts.standardError + QLatin1Char('\n') + facts.reportErrorLine);
        return {ending, detail(ending == RunEnding::Failed ? facts.resultsProblem : QString())};
    }
    if (facts.exitCode == 0) return {RunEnding::Failed, detail(facts.resultsProblem)};
    return {RunEnding::Failed, detail()};
}

} // namespace oruk
