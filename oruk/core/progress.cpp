#include "oruk/core/progress.hpp"

#include <QByteArray>
#include <QList>

namespace oruk {

namespace {

std::optional<CycleProgress> cycleLine(QByteArrayView line) {
    const QList<QByteArray> fields = line.toByteArray().simplified().split(' ');
    if (fields.size() != 3) return std::nullopt;
    // The relative change is not shown, so a change field full of asterisks does not matter.
    bool cycleOk = false, loglikOk = false;
    const qint64 cycle = fields[0].toLongLong(&cycleOk);
    fields[2].toDouble(&loglikOk);
    if (!cycleOk || !loglikOk || cycle < 1) return std::nullopt;
    return CycleProgress{cycle, QString::fromLatin1(fields[2])};
}

} // namespace

std::optional<CycleProgress> latestCycle(QByteArrayView text) {
    // Only lines that end in a line end are complete; the estimator may be mid-write.
    qsizetype end = text.lastIndexOf('\n');
    while (end > 0) {
        const qsizetype start = text.lastIndexOf('\n', end - 1) + 1;
        if (auto progress = cycleLine(text.sliced(start, end - start))) return progress;
        end = start - 1;
    }
    return std::nullopt;
}

} // namespace oruk
