// One estimator run: stale files out of the work folder, the estimator started from the front
// end's folder on the user's deck (or CSV file) with the work folder as its current and output
// folder, its progress followed, and, when it ends, the results read, the report copied to the
// output path and everything else it left removed. The estimator runs while the event loop
// goes on, so a window stays responsive; one run at a time, which the user may cancel.
#pragma once

#include "oruk/core/classcomparison.hpp"
#include "oruk/core/estimatorprofile.hpp"
#include "oruk/core/progress.hpp"
#include "oruk/core/results.hpp"
#include "oruk/core/resulttables.hpp"
#include "oruk/core/runending.hpp"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <memory>
#include <optional>

namespace oruk {

struct RunRequest {
    QString inputPath;          // the deck, or the CSV file of a CSV run
    QString outputPath;         // a relative path is taken from the input file's folder
    bool keepEstimates = false; // keep the estimates file in the input folder (trait runs)
    // A CSV run: the estimator's model arguments (see csvArguments); the deck it writes is
    // kept beside the report.
    std::optional<QStringList> csvArguments = std::nullopt;
    qint64 maxCycles = 0; // the cycle cap, for the progress bar; 0 when unknown
    // Accelerated EM. A deck run asks for it with --accelerate and is plain EM without it; a
    // CSV run's arguments already say it (csvArguments), since the estimators accelerate those
    // by themselves.
    bool accelerate = true;
    // A latent trait deck run: --rotate's method for a two-factor model ("oblimin" from the
    // tabs, as for a CSV run); empty: the estimator's default for a deck (none).
    QString rotation = {};
};

enum class StartResult {
    Started,
    Busy,                 // a run is in progress
    MissingPaths,         // the input or the output path is empty
    WorkFolderNotCleared, // a stale file could not be removed
    InputNotFound,        // the input deck or CSV file does not exist
};

enum class RunResult {
    Completed,       // the report reached the output path (whatever the exit status)
    FailedToStart,   // the estimator program could not be started
    Crashed,         // the estimator ended on a signal
    NoReport,        // the estimator ended without writing its report
    ReportNotCopied, // the report could not be written to the output path
    Cancelled,       // the user cancelled the run; nothing was delivered
};

struct RunOutcome {
    Estimator estimator = Estimator::Trait;
    RunResult result = RunResult::Completed;
    EndingShown ending; // how the run ended, in the user's words
    int exitCode = 0;
    qint64 seconds = 0;
    QString outputPath;           // absolute
    bool reportDelivered = false; // this run's report reached the output path
    // The report of a run whose report could not be written to the output path, so that the
    // user can save it elsewhere; empty otherwise.
    QByteArray undeliveredReport;
    QString consoleOutput; // what the estimator wrote to standard output
    QString errorOutput;   // what it wrote to standard error
    QStringList warnings;  // console lines that warn (prompts, "Singular matrix")
    QString problem;       // why the run failed, or what went wrong around a completed run
    std::optional<FitResults> results;
    Table cases;                       // the per-case results file; no rows when none
    std::vector<CycleHistory> history; // the loglikelihood by cycle
    QString keptDeck;                  // a CSV run's deck, kept beside the report
    // ploven's comparison of class counts; no rows when the run compared none. The results,
    // report and cases shown are then those of the count of the smallest BIC.
    std::vector<ComparisonRow> comparison;
};

class RunOrchestrator : public QObject {
    Q_OBJECT

  public:
    RunOrchestrator(QString estimatorFolder, QString workFolder, QObject* parent = nullptr);
    ~RunOrchestrator() override;

    // Runs the first steps at once; the run itself ends with finished().
    StartResult start(Estimator estimator, const RunRequest& request);

    // Ends the run in progress: asks the estimator to stop, and stops it after a short grace.
    // The run then finishes as cancelled. False when no run is in progress.
    bool cancel();

    bool isRunning() const { return running_; }
    // The estimator of the run in progress, or of the last one.
    Estimator currentEstimator() const { return estimator_; }
    // Why the last start() did not start, for the cases that have a reason to tell.
    QString startProblem() const { return startProblem_; }
    QString workFolder() const { return workFolder_; }
    QString estimatorFolder() const { return estimatorFolder_; }

    static QString inputFolderOf(const QString& inputPath);
    static QString resolvedOutputPath(const QString& inputPath, const QString& outputPath);
    // Where a CSV run's deck is kept: beside the report, named after it ("survey.out" ->
    // "survey.inp"). A file there that is not a deck made from a CSV file is never replaced.
    static QString keptDeckPath(const QString& outputPath);

  signals:
    void statusChanged(oruk::Estimator estimator, const QString& text);
    void progressChanged(oruk::Estimator estimator, const oruk::RunProgress& progress);
    void runningChanged(bool running);
    void finished(const oruk::RunOutcome& outcome);

  private:
    bool removeLeftovers(const EstimatorProfile& profile) const;
    QStringList argumentsFor(const RunRequest& request) const;
    void onProcessFinished(int exitCode, QProcess::ExitStatus status);
    void onProcessError(QProcess::ProcessError error);
    void pollProgress();
    void collectConsole();
    void setStatus(const QString& text);
    void complete(RunOutcome outcome);
    void readResults(RunOutcome& outcome) const;
    void keepEstimates(RunOutcome& outcome) const;
    void keepDeck(RunOutcome& outcome) const;
    void copyReport(RunOutcome& outcome) const;
    void readComparison(RunOutcome& outcome);
    QString reportFile() const; // the run's report: in the work folder, or in outputsFolder_

    QString estimatorFolder_;
    QString workFolder_;
    bool running_ = false;
    bool cancelled_ = false;
    QString startProblem_;
    Estimator estimator_ = Estimator::Trait;
    RunRequest request_;
    QString outputPath_;
    QString inputFolder_;
    QString outputsFolder_; // where the run's report and results are: the work folder, or the
                            // folder of the chosen class count of a comparison
    QPointer<QProcess> process_;
    QElapsedTimer clock_;
    QTimer progressTimer_;
    QTimer killTimer_;
    std::unique_ptr<ProgressTracker> tracker_;
    qint64 progressRead_ = 0; // bytes of the progress file read so far
    QString shownProgress_;
    QByteArray console_, errors_;
};

} // namespace oruk
