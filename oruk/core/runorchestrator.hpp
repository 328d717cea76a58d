// One estimator run: stale files out of the work folder, the deck staged under the fixed name
// the estimator reads, the estimator started from the front end's folder with the work folder
// as its current folder, and, when it ends, the report copied to the output path and
// everything else it left removed. The estimator runs while the event loop goes on, so a
// window stays responsive; one run at a time.
#pragma once

#include "oruk/core/estimatorprofile.hpp"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QProcess>
#include <QString>
#include <QTimer>

namespace oruk {

struct RunRequest {
    QString inputPath;
    QString outputPath;         // a relative path is taken from the input file's folder
    bool keepEstimates = false; // keep the estimates file in the input folder (trait runs)
};

enum class StartResult {
    Started,
    Busy,                 // a run is in progress
    MissingPaths,         // the input or the output path is empty
    WorkFolderNotCleared, // a stale file could not be removed
    DeckNotStaged,        // the input deck could not be copied into the work folder
};

enum class RunResult {
    Completed,       // the report reached the output path (whatever the exit status)
    FailedToStart,   // the estimator program could not be started
    Crashed,         // the estimator ended on a signal
    NoReport,        // the estimator ended without writing its report
    ReportNotCopied, // the report could not be written to the output path
};

struct RunOutcome {
    Estimator estimator = Estimator::Trait;
    RunResult result = RunResult::Completed;
    int exitCode = 0;
    qint64 seconds = 0;
    QString outputPath;    // absolute
    QString consoleOutput; // what the estimator wrote to standard output and error
    QString problem;       // why the run failed, or what went wrong around a completed run
};

class RunOrchestrator : public QObject {
    Q_OBJECT

  public:
    RunOrchestrator(QString estimatorFolder, QString workFolder, QObject* parent = nullptr);
    ~RunOrchestrator() override;

    // Runs the first steps at once; the run itself ends with finished().
    StartResult start(Estimator estimator, const RunRequest& request);

    bool isRunning() const { return running_; }
    // The estimator of the run in progress, or of the last one.
    Estimator currentEstimator() const { return estimator_; }
    // Why the last start() did not start, for the cases that have a reason to tell.
    QString startProblem() const { return startProblem_; }
    QString workFolder() const { return workFolder_; }
    QString estimatorFolder() const { return estimatorFolder_; }

    static QString inputFolderOf(const QString& inputPath);
    static QString resolvedOutputPath(const QString& inputPath, const QString& outputPath);

  signals:
    void statusChanged(oruk::Estimator estimator, const QString& text);
    void runningChanged(bool running);
    void finished(const oruk::RunOutcome& outcome);

  private:
    bool removeLeftovers(const EstimatorProfile& profile) const;
    void onProcessFinished(int exitCode, QProcess::ExitStatus status);
    void onProcessError(QProcess::ProcessError error);
    void pollProgress();
    void setStatus(const QString& text);
    void complete(RunOutcome outcome);
    void keepEstimates(RunOutcome& outcome) const;
    void copyReport(RunOutcome& outcome) const;

    QString estimatorFolder_;
    QString workFolder_;
    bool running_ = false;
    QString startProblem_;
    Estimator estimator_ = Estimator::Trait;
    RunRequest request_;
    QString outputPath_;
    QString inputFolder_;
    QPointer<QProcess> process_;
    QElapsedTimer clock_;
    QTimer progressTimer_;
    QString shownProgress_;
};

} // namespace oruk
