// The texts of a tab's status label while a run is in progress and after it.
#pragma once

#include "oruk/core/estimatorprofile.hpp"
#include "oruk/core/progress.hpp"

#include <QString>

#include <optional>

namespace oruk {

// Whole seconds of a run: the integer part of the elapsed seconds plus one half.
qint64 roundedSeconds(qint64 elapsedMilliseconds);

// "TRAVIK running in background", "This may take several minutes ..." and, once the
// estimator has reported a cycle, the cycle and its loglikelihood; one line each.
QString runningText(const EstimatorProfile& profile,
                    const std::optional<CycleProgress>& progress = std::nullopt);

// "TRAVIK finished in 3 seconds".
QString doneText(const EstimatorProfile& profile, qint64 seconds);

// "TRAVIK run failed after 3 seconds".
QString failedText(const EstimatorProfile& profile, qint64 seconds);

} // namespace oruk
