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

namespace {

// The runs of ploven's multistart fit that go on to convergence besides the band start: the
// best random starts, at most this many (MultiStartOptions::finalRuns).
constexpr qint64 kPlovenFinalRuns = 4;

// Random starts planned in a fit of runs EM runs: runs = 1 + starts + min(starts, 4).
qint64 plannedStarts(qint64 runs) {
    const qint64 others = qMax<qint64>(0, runs - 1);
    return others - qMin(kPlovenFinalRuns, others / 2);
}

} // namespace

void ProgressTracker::readClassLine(QByteArrayView line) {
    if (const auto run = wordsAndNumbers(line, "RUN # OF # CYCLES AT MOST #")) {
        run_ = (*run)[0];
        runs_ = (*run)[1];
        runCap_ = (*run)[2];
        if (run_ <= 1) {
            randomStart_ = false;
            fullCap_ = runCap_;
            startRuns_ = plannedStarts(runs_);
            firstFinalRun_ = 0;
        }
        // A random start runs under a smaller cap than the runs that go on to convergence;
        // when the caps are equal (a deck's MAXIT at most the start's cycles) the order tells.
        randomStart_ =
            run_ > 1 && (runCap_ < fullCap_ ||
                         (runCap_ == fullCap_ && firstFinalRun_ == 0 && run_ <= 1 + startRuns_));
        if (!randomStart_ && run_ > 1 && firstFinalRun_ == 0) firstFinalRun_ = run_;
        history_.push_back({QStringLiteral("Run %1 of %2").arg(run_).arg(runs_), {}});
        if (runs_ <= 1) {
            runName_.clear();
            progress_ = RunProgress{QStringLiteral("Cycle 0 of %1").arg(runCap_), 0, runCap_};
        } else if (run_ == 1) {
            runName_ = QStringLiteral("Start from the class bands");
            progress_ = RunProgress{runName_, 0, runCap_};
        } else if (randomStart_) {
            runName_ = QStringLiteral("Random start %1 of %2").arg(run_ - 1).arg(startRuns_);
            // The starts done so far, of those planned.
            progress_ = RunProgress{runName_, run_ - 2, startRuns_};
        } else {
            runName_ = QStringLiteral("Best start %1 of %2")
                           .arg(run_ - firstFinalRun_ + 1)
                           .arg(runs_ - firstFinalRun_ + 1);
            progress_ = RunProgress{runName_, 0, runCap_};
        }
        return;
    }
    // A comparison of class counts: each count in turn, then the bootstrap tests.
    if (const auto count = wordsAndNumbers(line, "CLASSES #")) {
        progress_ = RunProgress{QStringLiteral("Fitting %1 classes").arg((*count)[0]), 0, 0};
        return;
    }
    if (const auto test = wordsAndNumbers(line, "BLRT # AGAINST # CLASSES SAMPLE # OF #")) {
        progress_ = RunProgress{QStringLiteral("Bootstrap test of %1 against %2 classes, sample "
                                               "%3 of %4")
                                    .arg((*test)[0])
                                    .arg((*test)[1])
                                    .arg((*test)[2])
                                    .arg((*test)[3]),
                                (*test)[2], (*test)[3]};
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
    const QString loglik = QStringLiteral(", loglikelihood ") + QString::fromLatin1(fields[3]);
    const qint64 cap = runCap_ > 0 ? runCap_ : maxCycles_;
    const QString cycleText = cap > 0 ? QStringLiteral("cycle %1 of %2").arg(cycle).arg(cap)
                                      : QStringLiteral("cycle %1").arg(cycle);
    if (runName_.isEmpty()) {
        QString text = cycleText;
        text[0] = text[0].toUpper();
        progress_ = RunProgress{text + loglik, qMin(cycle, cap > 0 ? cap : cycle), cap};
    } else if (randomStart_) {
        // The bar counts the starts; the line says where this one is.
        progress_ =
            RunProgress{runName_ + QStringLiteral(", ") + cycleText + loglik, run_ - 2, startRuns_};
    } else {
        progress_ = RunProgress{runName_ + QStringLiteral(", ") + cycleText + loglik,
                                qMin(cycle, cap > 0 ? cap : cycle), cap};
    }
}

} // namespace oruk
