// The estimators' progress files. travik writes one line per EM cycle: the cycle (I5), the
// relative change (F10.5) and the loglikelihood (F15.5), between begin and end lines. ploven
// writes free-format lines: " RUN r OF n CYCLES AT MOST m" as each EM run starts, " CYCLE c
// LOGLIKELIHOOD L" per cycle of the current run, and " SIMULATION SAMPLE s OF N" during a
// simulation study. Its runs (ploven/multistart.cpp): run 1 starts from the class bands under
// the full cap; then each random start runs a few cycles under a smaller cap; then the best of
// them (four at most) go on under the full cap. The progress of a class run counts that work:
// random starts done of starts planned, then the cycles of each run under the full cap.
#pragma once

#include "oruk/core/estimatorprofile.hpp"

#include <QByteArray>
#include <QByteArrayView>
#include <QPointF>
#include <QString>

#include <optional>
#include <vector>

namespace oruk {

struct CycleProgress {
    qint64 cycle = 0;
    QString loglikelihood; // as written, so the user sees the estimator's digits

    bool operator==(const CycleProgress&) const = default;
};

// The last complete cycle line of the trait estimator's progress text. Banner lines, a
// half-written last line and lines whose fields overflowed into asterisks are passed over.
std::optional<CycleProgress> latestCycle(QByteArrayView text);

// Where a run stands, for a progress bar and a line of text.
struct RunProgress {
    QString text;       // "Cycle 12 of 500, loglikelihood -1497.00001"
    qint64 value = 0;   // cycles or samples done
    qint64 maximum = 0; // the cap; 0 when unknown (a busy bar)

    bool operator==(const RunProgress&) const = default;
};

// The loglikelihood after each cycle of one EM run.
struct CycleHistory {
    QString name; // "Run 3 of 20" for one of many runs; empty for a single run
    std::vector<QPointF> points;
};

// Follows a progress file as it grows: feed it what was appended, in pieces of any size.
class ProgressTracker {
  public:
    // maxCycles: the trait estimator's cycle cap, from its deck (0 when unknown).
    ProgressTracker(Estimator estimator, qint64 maxCycles);

    void feed(QByteArrayView appended);

    // Where the run stands after the last complete line; empty before the first one.
    const std::optional<RunProgress>& progress() const { return progress_; }
    // Every EM run seen so far, in the order of the file.
    const std::vector<CycleHistory>& history() const { return history_; }

  private:
    void readLine(QByteArrayView line);
    void readTraitLine(QByteArrayView line);
    void readClassLine(QByteArrayView line);

    Estimator estimator_;
    qint64 maxCycles_;
    QByteArray partial_; // a line not yet complete
    std::optional<RunProgress> progress_;
    std::vector<CycleHistory> history_;
    qint64 lastCycle_ = 0;
    qint64 run_ = 0, runs_ = 0, runCap_ = 0;
    qint64 fullCap_ = 0;       // the cap of run 1, which every run to convergence has
    qint64 startRuns_ = 0;     // random starts planned
    qint64 firstFinalRun_ = 0; // the first run under the full cap after the random starts
    bool randomStart_ = false; // the current run is one of the random starts
    QString runName_;          // where the current run stands in the whole, in words
};

} // namespace oruk
