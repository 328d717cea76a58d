// The texts of a tab's status label while a run is in progress and after it.
#pragma once

#include "oruk/core/estimatorprofile.hpp"
#include "oruk/core/progress.hpp"
#include "oruk/core/runending.hpp"

#include <QString>

#include <optional>

namespace oruk {

// "1 second", "0 seconds", "3 seconds".
QString secondsText(qint64 seconds);

// Whole seconds of a run: the integer part of the elapsed seconds plus one half.
qint64 roundedSeconds(qint64 elapsedMilliseconds);

// "TRAVIK running in background", "This may take several minutes ..." and, once the
// estimator has reported a cycle, the cycle and its loglikelihood; one line each.
QString runningText(const EstimatorProfile& profile,
                    const std::optional<CycleProgress>& progress = std::nullopt);

// The same, with the line of a progress tracker.
QString runningText(const EstimatorProfile& profile, const RunProgress& progress);

// "TRAVIK finished in 3 seconds".
QString doneText(const EstimatorProfile& profile, qint64 seconds);

// "TRAVIK run failed after 3 seconds".
QString failedText(const EstimatorProfile& profile, qint64 seconds);

// How a run ended, for the status label: doneText for a converged run, otherwise "TRAVIK run
// cancelled after 3 seconds", "TRAVIK stopped without convergence after 3 seconds", ...
QString endedText(const EstimatorProfile& profile, RunEnding ending, qint64 seconds);

} // namespace oruk
