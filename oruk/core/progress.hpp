// The latent trait estimator writes one line per EM cycle to its progress file: the cycle
// (I5), the relative change (F10.5) and the loglikelihood (F15.5).
#pragma once

#include <QByteArrayView>
#include <QString>

#include <optional>

namespace oruk {

struct CycleProgress {
    qint64 cycle = 0;
    QString loglikelihood; // as written, so the user sees the estimator's digits

    bool operator==(const CycleProgress&) const = default;
};

// The last complete cycle line of the progress text. Banner lines, a half-written last line
// and lines whose fields overflowed into asterisks are passed over.
std::optional<CycleProgress> latestCycle(QByteArrayView text);

} // namespace oruk
