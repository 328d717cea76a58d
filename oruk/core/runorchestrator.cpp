#include "oruk/core/runorchestrator.hpp"

#include "oruk/core/folderfiles.hpp"
#include "oruk/core/progress.hpp"
#include "oruk/core/runstatus.hpp"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace oruk {

namespace {

constexpr int kProgressPollMs = 500;
constexpr qint64 kProgressTail = 8192;

std::optional<CycleProgress> readProgress(const QString& path) {
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly)) return std::nullopt;
    const qint64 start = qMax<qint64>(0, file.size() - kProgressTail);
    file.seek(start);
    QByteArray tail = file.readAll();
    if (start > 0) tail.remove(0, tail.indexOf('\n') + 1); // a line cut by the seek
    return latestCycle(tail);
}

} // namespace

RunOrchestrator::RunOrchestrator(QString estimatorFolder, QString workFolder, QObject* parent)
    : QObject(parent), estimatorFolder_(std::move(estimatorFolder)),
      workFolder_(std::move(workFolder)) {
    progressTimer_.setInterval(kProgressPollMs);
    connect(&progressTimer_, &QTimer::timeout, this, &RunOrchestrator::pollProgress);
}

RunOrchestrator::~RunOrchestrator() {
    if (process_) {
        // The window is going away: the estimator goes with it; the next run clears its files.
        process_->disconnect(this);
        process_->kill();
        process_->waitForFinished(5000);
    }
}

QString RunOrchestrator::inputFolderOf(const QString& inputPath) {
    return QFileInfo(inputPath).absolutePath();
}

QString RunOrchestrator::resolvedOutputPath(const QString& inputPath, const QString& outputPath) {
    if (outputPath.isEmpty() || QFileInfo(outputPath).isAbsolute()) return outputPath;
    return QDir::cleanPath(QDir(inputFolderOf(inputPath)).absoluteFilePath(outputPath));
}

bool RunOrchestrator::removeLeftovers(const EstimatorProfile& profile) const {
    bool allGone = true;
    for (const QStringList* names : {&profile.numberedFiles, &profile.otherFiles}) {
        for (const QString& name : *names) allGone = removeFiles(workFolder_, name) && allGone;
    }
    // A killed run leaves its outputs under temporary dot-names.
    const QDir work(workFolder_);
    for (const QString& entry : work.entryList({QStringLiteral(".*.part")}, QDir::Files | QDir::Hidden))
        allGone = QFile::remove(work.filePath(entry)) && allGone;
    return allGone;
}

StartResult RunOrchestrator::start(Estimator estimator, const RunRequest& request) {
    startProblem_.clear();
    if (running_) return StartResult::Busy;
    const EstimatorProfile& profile = profileOf(estimator);

    // Stale reports go first, so a failed run never shows an old one.
    if (!removeLeftovers(profile)) {
        startProblem_ = QStringLiteral("Files of an earlier run cannot be removed from \"%1\".")
                            .arg(QDir::toNativeSeparators(workFolder_));
        return StartResult::WorkFolderNotCleared;
    }
    if (request.inputPath.trimmed().isEmpty() || request.outputPath.trimmed().isEmpty()) {
        return StartResult::MissingPaths;
    }

    // The estimators refuse a deck present under two spellings, so only one may be there.
    QString why;
    if (!removeFiles(workFolder_, profile.stagedDeck) ||
        !copyReplacing(request.inputPath, QDir(workFolder_).filePath(profile.stagedDeck), &why)) {
        startProblem_ = QStringLiteral("The input file cannot be copied into the work folder: %1.")
                            .arg(why.isEmpty() ? QDir::toNativeSeparators(workFolder_) : why);
        return StartResult::DeckNotStaged;
    }

    estimator_ = estimator;
    request_ = request;
    inputFolder_ = inputFolderOf(request.inputPath);
    outputPath_ = resolvedOutputPath(request.inputPath, request.outputPath);
    shownProgress_.clear();
    running_ = true;
    setStatus(runningText(profile));
    emit runningChanged(true);

    process_ = new QProcess(this);
    process_->setProgram(QDir(estimatorFolder_).filePath(profile.program));
    process_->setWorkingDirectory(workFolder_);
    process_->setStandardInputFile(QProcess::nullDevice());
    process_->setProcessChannelMode(QProcess::MergedChannels);
    connect(process_, &QProcess::finished, this, &RunOrchestrator::onProcessFinished);
    // Queued, so that a start that fails at once still ends after start() has returned.
    connect(process_, &QProcess::errorOccurred, this, &RunOrchestrator::onProcessError,
            Qt::QueuedConnection);
    clock_.start();
    if (!profile.progressFile.isEmpty()) progressTimer_.start();
    process_->start();
    return StartResult::Started;
}

void RunOrchestrator::setStatus(const QString& text) {
    emit statusChanged(estimator_, text);
}

void RunOrchestrator::pollProgress() {
    const EstimatorProfile& profile = profileOf(estimator_);
    const auto progress = readProgress(findFile(workFolder_, profile.progressFile));
    if (!progress) return;
    const QString text = runningText(profile, progress);
    if (text == shownProgress_) return;
    shownProgress_ = text;
    setStatus(text);
}

void RunOrchestrator::onProcessError(QProcess::ProcessError error) {
    if (error != QProcess::FailedToStart || !running_ || !process_) return;
    RunOutcome outcome;
    outcome.result = RunResult::FailedToStart;
    outcome.exitCode = -1;
    outcome.problem =
        QStringLiteral("%1 could not be started from \"%2\": %3.")
            .arg(profileOf(estimator_).shownName, QDir::toNativeSeparators(process_->program()),
                 process_->errorString());
    complete(std::move(outcome));
}

void RunOrchestrator::onProcessFinished(int exitCode, QProcess::ExitStatus status) {
    if (!running_ || !process_) return;
    const EstimatorProfile& profile = profileOf(estimator_);
    RunOutcome outcome;
    outcome.exitCode = exitCode;
    outcome.consoleOutput = QString::fromLocal8Bit(process_->readAll());
    if (status == QProcess::CrashExit) {
        outcome.result = RunResult::Crashed;
        outcome.problem = QStringLiteral("%1 stopped abnormally (it crashed or was killed).")
                              .arg(profile.shownName);
        // What it wrote before it stopped may tell why; it is copied but not opened.
        if (!findFile(workFolder_, profile.report).isEmpty()) copyReport(outcome);
    } else if (findFile(workFolder_, profile.report).isEmpty()) {
        outcome.result = RunResult::NoReport;
        outcome.problem = QStringLiteral("%1 ended without writing its report \"%2\" "
                                         "(exit status %3).")
                              .arg(profile.shownName, profile.report)
                              .arg(exitCode);
    } else {
        copyReport(outcome);
        if (outcome.result == RunResult::Completed) keepEstimates(outcome);
    }
    complete(std::move(outcome));
}

void RunOrchestrator::copyReport(RunOutcome& outcome) const {
    const EstimatorProfile& profile = profileOf(estimator_);
    QString why;
    if (copyReplacing(findFile(workFolder_, profile.report), outputPath_, &why)) {
        if (outcome.result == RunResult::Crashed) {
            outcome.problem += QStringLiteral(" Its unfinished report was copied to \"%1\".")
                                   .arg(QDir::toNativeSeparators(outputPath_));
        }
        return;
    }
    if (outcome.result == RunResult::Completed) outcome.result = RunResult::ReportNotCopied;
    if (!outcome.problem.isEmpty()) outcome.problem += QLatin1Char(' ');
    outcome.problem +=
        QStringLiteral("The report cannot be copied to the output file: %1.").arg(why);
}

void RunOrchestrator::keepEstimates(RunOutcome& outcome) const {
    const EstimatorProfile& profile = profileOf(estimator_);
    if (!request_.keepEstimates || profile.keptEstimates.isEmpty()) return;
    const QString estimates = findFile(workFolder_, profile.keptEstimates);
    if (estimates.isEmpty()) return; // the deck did not ask for them
    QString why;
    if (!copyReplacing(estimates, QDir(inputFolder_).filePath(profile.keptEstimates), &why)) {
        outcome.problem = QStringLiteral("\"%1\" cannot be kept in the input folder: %2.")
                              .arg(profile.keptEstimates, why);
    }
}

void RunOrchestrator::complete(RunOutcome outcome) {
    progressTimer_.stop();
    const EstimatorProfile& profile = profileOf(estimator_);
    outcome.estimator = estimator_;
    outcome.seconds = roundedSeconds(clock_.elapsed());
    outcome.outputPath = outputPath_;
    removeLeftovers(profile);
    if (process_) process_->deleteLater();
    process_ = nullptr;
    running_ = false;
    setStatus(outcome.result == RunResult::Completed ? doneText(profile, outcome.seconds)
                                                     : failedText(profile, outcome.seconds));
    emit runningChanged(false);
    emit finished(outcome);
}

} // namespace oruk
