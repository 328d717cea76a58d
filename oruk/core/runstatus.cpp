#include "oruk/core/runstatus.hpp"

namespace oruk {

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

QString doneText(const EstimatorProfile& profile, qint64 seconds) {
    return profile.shownName + QStringLiteral(" finished in %1 seconds").arg(seconds);
}

QString failedText(const EstimatorProfile& profile, qint64 seconds) {
    return profile.shownName + QStringLiteral(" run failed after %1 seconds").arg(seconds);
}

} // namespace oruk
