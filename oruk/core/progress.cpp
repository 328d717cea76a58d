#include "oruk/core/progress.hpp"

#include <QByteArray>
#include <QList>

namespace oruk {

namespace {

QList<QByteArray> fieldsOf(QByteArrayView line) {
    return line.toByteArray().simplified().split(' ');
}

std::optional<CycleProgress> cycleLine(QByteArrayView line) {
    const QList<QByteArray> fields = fieldsOf(line);
    if (fields.size() != 3) return std::nullopt;
    // The relative change is not shown, so a change field full of asterisks does not matter.
    bool cycleOk = false, loglikOk = false;
    const qint64 cycle = fields[0].toLongLong(&cycleOk);
    fields[2].toDouble(&loglikOk);
    if (!cycleOk || !loglikOk || cycle < 1) return std::nullopt;
    return CycleProgress{cycle, QString::fromLatin1(fields[2])};
}

// The whole numbers at the given positions of a line whose words match pattern ("RUN # OF #
// CYCLES AT MOST #"), or nothing.
std::optional<std::vector<qint64>> wordsAndNumbers(QByteArrayView line, const char* pattern) {
    const QList<QByteArray> fields = fieldsOf(line);
    const QList<QByteArray> words = QByteArray(pattern).split(' ');
    if (fields.size() != words.size()) return std::nullopt;
    std::vector<qint64> numbers;
    for (qsizetype i = 0; i < words.size(); ++i) {
        if (words[i] != "#") {
            if (fields[i] != words[i]) return std::nullopt;
            continue;
        }
        bool ok = false;
        numbers.push_back(fields[i].toLongLong(&ok));
        if (!ok || numbers.back() < 0) return std::nullopt;
    }
    return numbers;
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

ProgressTracker::ProgressTracker(Estimator estimator, qint64 maxCycles)
    : estimator_(estimator), maxCycles_(maxCycles) {}

void ProgressTracker::feed(QByteArrayView appended) {
    partial_.append(appended);
    qsizetype start = 0;
    for (qsizetype end; (end = partial_.indexOf('\n', start)) >= 0; start = end + 1)
        readLine(QByteArrayView(partial_).sliced(start, end - start));
    partial_.remove(0, start);
}

void ProgressTracker::readLine(QByteArrayView line) {
    if (estimator_ == Estimator::Trait)
        readTraitLine(line);
    else
        readClassLine(line);
}

void ProgressTracker::readTraitLine(QByteArrayView line) {
    const auto cycle = cycleLine(line);
    if (!cycle) return;
    // A cycle number that does not go up starts another pass of EM.
    if (history_.empty() || cycle->cycle <= lastCycle_) history_.push_back({});
    lastCycle_ = cycle->cycle;
    history_.back().points.emplace_back(cycle->cycle, cycle->loglikelihood.toDouble());
    RunProgress p;
    p.value = cycle->cycle;
    p.maximum = maxCycles_;
    p.text = maxCycles_ > 0 ? QStringLiteral("Cycle %1 of %2, loglikelihood %3")
                                  .arg(cycle->cycle)
                                  .arg(maxCycles_)
                                  .arg(cycle->loglikelihood)
                            : QStringLiteral("Cycle %1, loglikelihood %2")
                                  .arg(cycle->cycle)
                                  .arg(cycle->loglikelihood);
    progress_ = p;
}

void ProgressTracker::readClassLine(QByteArrayView line) {
    if (const auto run = wordsAndNumbers(line, "RUN # OF # CYCLES AT MOST #")) {
        run_ = (*run)[0];
        runs_ = (*run)[1];
        runCap_ = (*run)[2];
        history_.push_back({QStringLiteral("Run %1 of %2").arg(run_).arg(runs_), {}});
        progress_ = RunProgress{QStringLiteral("Run %1 of %2").arg(run_).arg(runs_), 0, runCap_};
        return;
    }
    if (const auto sample = wordsAndNumbers(line, "SIMULATION SAMPLE # OF #")) {
        progress_ = RunProgress{
            QStringLiteral("Simulation sample %1 of %2").arg((*sample)[0]).arg((*sample)[1]),
            (*sample)[0], (*sample)[1]};
        return;
    }
    const QList<QByteArray> fields = fieldsOf(line);
    if (fields.size() != 4 || fields[0] != "CYCLE" || fields[2] != "LOGLIKELIHOOD") return;
    bool cycleOk = false, loglikOk = false;
    const qint64 cycle = fields[1].toLongLong(&cycleOk);
    const double loglikelihood = fields[3].toDouble(&loglikOk);
    if (!cycleOk || !loglikOk || cycle < 1) return;
    if (history_.empty()) history_.push_back({}); // cycles before any run line: one run
    history_.back().points.emplace_back(cycle, loglikelihood);
    const QString where =
        run_ > 0 ? QStringLiteral("Run %1 of %2, cycle %3").arg(run_).arg(runs_).arg(cycle)
                 : QStringLiteral("Cycle %1").arg(cycle);
    progress_ =
        RunProgress{where + QStringLiteral(", loglikelihood ") + QString::fromLatin1(fields[3]),
                    cycle, runCap_ > 0 ? runCap_ : maxCycles_};
}

} // namespace oruk
