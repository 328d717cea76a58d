#include "oruk/core/runstatus.hpp"

namespace oruk {

QString secondsText(qint64 seconds) {
    return seconds == 1 ? QStringLiteral("1 second") : QStringLiteral("%1 seconds").arg(seconds);
}

qint64 roundedSeconds(qint64 elapsedMilliseconds) {
    return elapsedMilliseconds < 0 ? 0 : (elapsedMilliseconds + 500) / 1000;
}

QString runningText(const EstimatorProfile& profile, const std::optional<CycleProgress>& progress) {
    QString text = profile.shownName + QStringLiteral(" running in background\n") +
                   QStringLiteral("This may take several minutes ...");
    if (progress) {
        text += QStringLiteral("\nCycle %1, loglikelihood %2")
                    .arg(progress->cycle)
                    .arg(progress->loglikelihood);
    }
    return text;
}

QString runningText(const EstimatorProfile& profile, const RunProgress& progress) {
    return runningText(profile) + QLatin1Char('\n') + progress.text;
}

QString doneText(const EstimatorProfile& profile, qint64 seconds) {
    return profile.shownName + QStringLiteral(" finished in ") + secondsText(seconds);
}

QString failedText(const EstimatorProfile& profile, qint64 seconds) {
    return profile.shownName + QStringLiteral(" run failed after ") + secondsText(seconds);
}

QString endedText(const EstimatorProfile& profile, RunEnding ending, qint64 seconds) {
    const QString after = QStringLiteral(" after ") + secondsText(seconds);
    switch (ending) {
    case RunEnding::Converged:
        return doneText(profile, seconds);
    case RunEnding::NoConvergence:
        return profile.shownName + QStringLiteral(" stopped without convergence") + after;
    case RunEnding::Diverged:
        return profile.shownName + QStringLiteral(" diverged") + after;
    case RunEnding::Rejected:
        return profile.shownName + QStringLiteral(" rejected the input") + after;
    case RunEnding::Failed:
        return failedText(profile, seconds);
    case RunEnding::Cancelled:
        return profile.shownName + QStringLiteral(" run cancelled") + after;
    case RunEnding::Crashed:
        return profile.shownName + QStringLiteral(" crashed") + after;
    }
    return failedText(profile, seconds);
}

} // namespace oruk
