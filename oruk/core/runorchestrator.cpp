#include "oruk/core/runorchestrator.hpp"

#include "oruk/core/folderfiles.hpp"
#include "oruk/core/runstatus.hpp"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace oruk {

namespace {

constexpr int kProgressPollMs = 500;
// A cancelled estimator gets this long to end by itself before it is killed.
constexpr int kCancelGraceMs = 2000;
// Console output kept per channel; an estimator writes little there, this guards the rest.
constexpr qsizetype kConsoleKept = 1 << 20;
// Warning lines shown from the console at most.
constexpr qsizetype kWarningsShown = 20;

QByteArray readAllOf(const QString& path) {
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly)) return {};
    return file.readAll();
}

void appendKept(QByteArray& kept, const QByteArray& more) {
    kept.append(more.left(qMax<qsizetype>(0, kConsoleKept - kept.size())));
}

// The console lines of a run, each once, as warnings for the results view.
QStringList warningLines(const QString& console) {
    QStringList lines;
    for (const QString& line : console.split(QLatin1Char('\n'))) {
        const QString text = line.trimmed();
        if (text.isEmpty() || lines.contains(text)) continue;
        // No one answers a console prompt here: the estimator's standard input is empty.
        if (text.startsWith(QLatin1String("PRESS ENTER"), Qt::CaseInsensitive)) continue;
        if (lines.size() == kWarningsShown) {
            lines << QStringLiteral("... (more on the console)");
            break;
        }
        lines << text;
    }
    return lines;
}

// Whether the deck at path is one an estimator made from a CSV file: its title says so.
bool madeFromCsv(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.readLine(256).startsWith("Data from ");
}

} // namespace

RunOrchestrator::RunOrchestrator(QString estimatorFolder, QString workFolder, QObject* parent)
    : QObject(parent), estimatorFolder_(std::move(estimatorFolder)),
      workFolder_(std::move(workFolder)) {
    progressTimer_.setInterval(kProgressPollMs);
    connect(&progressTimer_, &QTimer::timeout, this, &RunOrchestrator::pollProgress);
    killTimer_.setSingleShot(true);
    killTimer_.setInterval(kCancelGraceMs);
    connect(&killTimer_, &QTimer::timeout, this, [this] {
        if (process_) process_->kill();
    });
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

QString RunOrchestrator::keptDeckPath(const QString& outputPath) {
    const QFileInfo report(outputPath);
    QString deck = report.dir().filePath(report.completeBaseName() + QStringLiteral(".inp"));
    if (deck == report.filePath()) deck = report.filePath() + QStringLiteral("-deck.inp");
    return deck;
}

bool RunOrchestrator::removeLeftovers(const EstimatorProfile& profile) const {
    bool allGone = true;
    for (const QString& name : profile.leftovers)
        allGone = removeFiles(workFolder_, name) && allGone;
    // A killed run leaves its outputs under temporary dot-names.
    const QDir work(workFolder_);
    if (!profile.comparisonFolderPattern.isEmpty()) {
        for (const QString& entry :
             work.entryList({profile.comparisonFolderPattern}, QDir::Dirs | QDir::NoDotAndDotDot))
            allGone = QDir(work.filePath(entry)).removeRecursively() && allGone;
    }
    for (const QString& entry :
         work.entryList({QStringLiteral(".*.part")}, QDir::Files | QDir::Hidden))
        allGone = QFile::remove(work.filePath(entry)) && allGone;
    return allGone;
}

QStringList RunOrchestrator::argumentsFor(const RunRequest& request) const {
    // The user's own file is named on the command line, so the estimator's messages name it.
    QStringList args = request.csvArguments
                           ? *request.csvArguments
                           : QStringList{QFileInfo(request.inputPath).absoluteFilePath()};
    if (!request.csvArguments && request.accelerate) args << QStringLiteral("--accelerate");
    if (!request.csvArguments && !request.rotation.isEmpty())
        args << QStringLiteral("--rotate") << request.rotation;
    args << QStringLiteral("-o") << workFolder_;
    return args;
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

    // The estimators refuse a deck present under two spellings, and a CSV run writes its deck
    // there, so no earlier deck may stay.
    if (!removeFiles(workFolder_, profile.stagedDeck)) {
        startProblem_ = QStringLiteral("The deck of an earlier run cannot be removed from \"%1\".")
                            .arg(QDir::toNativeSeparators(workFolder_));
        return StartResult::WorkFolderNotCleared;
    }
    if (!QFileInfo(request.inputPath).isFile()) {
        startProblem_ = QStringLiteral("The input file \"%1\" does not exist.")
                            .arg(QDir::toNativeSeparators(request.inputPath));
        return StartResult::InputNotFound;
    }

    estimator_ = estimator;
    request_ = request;
    inputFolder_ = inputFolderOf(request.inputPath);
    outputPath_ = resolvedOutputPath(request.inputPath, request.outputPath);
    shownProgress_.clear();
    cancelled_ = false;
    console_.clear();
    errors_.clear();
    tracker_ = std::make_unique<ProgressTracker>(estimator, request.maxCycles);
    progressRead_ = 0;
    running_ = true;
    setStatus(runningText(profile));
    emit runningChanged(true);

    process_ = new QProcess(this);
    process_->setProgram(QDir(estimatorFolder_).filePath(profile.program));
    process_->setArguments(argumentsFor(request));
    process_->setWorkingDirectory(workFolder_);
    process_->setStandardInputFile(QProcess::nullDevice());
    connect(process_, &QProcess::readyReadStandardOutput, this, &RunOrchestrator::collectConsole);
    connect(process_, &QProcess::readyReadStandardError, this, &RunOrchestrator::collectConsole);
    connect(process_, &QProcess::finished, this, &RunOrchestrator::onProcessFinished);
    // Queued, so that a start that fails at once still ends after start() has returned.
    connect(process_, &QProcess::errorOccurred, this, &RunOrchestrator::onProcessError,
            Qt::QueuedConnection);
    clock_.start();
    progressTimer_.start();
    process_->start();
    return StartResult::Started;
}

bool RunOrchestrator::cancel() {
    if (!running_ || !process_) return false;
    if (cancelled_) return true;
    cancelled_ = true;
    setStatus(profileOf(estimator_).shownName + QStringLiteral(" is being cancelled ..."));
    process_->terminate();
    killTimer_.start();
    return true;
}

void RunOrchestrator::setStatus(const QString& text) {
    emit statusChanged(estimator_, text);
}

void RunOrchestrator::collectConsole() {
    if (!process_) return;
    appendKept(console_, process_->readAllStandardOutput());
    appendKept(errors_, process_->readAllStandardError());
}

void RunOrchestrator::pollProgress() {
    const EstimatorProfile& profile = profileOf(estimator_);
    QFile file(findFile(workFolder_, profile.progressFile));
    if (!tracker_ || file.fileName().isEmpty() || !file.open(QIODevice::ReadOnly)) return;
    if (file.size() < progressRead_) { // replaced: follow the new one from its start
        tracker_ = std::make_unique<ProgressTracker>(estimator_, request_.maxCycles);
        progressRead_ = 0;
    }
    file.seek(progressRead_);
    const QByteArray appended = file.readAll();
    progressRead_ += appended.size();
    tracker_->feed(appended);
    const auto& progress = tracker_->progress();
    if (!progress || cancelled_) return;
    const QString text = runningText(profile, *progress);
    if (text == shownProgress_) return;
    shownProgress_ = text;
    setStatus(text);
    emit progressChanged(estimator_, *progress);
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
    EndingFacts facts;
    facts.started = false;
    facts.standardError = outcome.problem;
    outcome.ending = describeEnding(facts);
    complete(std::move(outcome));
}

void RunOrchestrator::onProcessFinished(int exitCode, QProcess::ExitStatus status) {
    if (!running_ || !process_) return;
    killTimer_.stop();
    collectConsole();
    pollProgress();
    const EstimatorProfile& profile = profileOf(estimator_);
    RunOutcome outcome;
    outcome.exitCode = exitCode;
    outputsFolder_ = workFolder_;
    readComparison(outcome);
    outcome.consoleOutput = QString::fromLocal8Bit(console_);
    outcome.errorOutput = QString::fromLocal8Bit(errors_);
    outcome.warnings = warningLines(outcome.consoleOutput);
    if (tracker_) outcome.history = tracker_->history();

    EndingFacts facts;
    facts.cancelled = cancelled_;
    facts.crashed = status == QProcess::CrashExit;
    facts.exitCode = exitCode;
    facts.standardError = outcome.errorOutput;
    const QString report = reportFile();
    facts.reportErrorLine = reportErrorLine(readAllOf(report));

    if (cancelled_) {
        // Nothing of a cancelled run is delivered: the user's output file stays as it was.
        outcome.result = RunResult::Cancelled;
    } else if (facts.crashed) {
        outcome.result = RunResult::Crashed;
        outcome.problem = QStringLiteral("%1 stopped abnormally (it crashed or was killed).")
                              .arg(profile.shownName);
        // What it wrote before it stopped may tell why; it is copied but not opened.
        if (!report.isEmpty()) copyReport(outcome);
    } else if (report.isEmpty()) {
        outcome.result = RunResult::NoReport;
        outcome.problem = QStringLiteral("%1 ended without writing its report \"%2\" "
                                         "(exit status %3).")
                              .arg(profile.shownName, profile.report)
                              .arg(exitCode);
    } else {
        copyReport(outcome);
        readResults(outcome);
        if (outcome.results) {
            facts.resultsStatus = outcome.results->status;
            facts.resultsMessage = outcome.results->message;
        }
        if (outcome.result == RunResult::Completed) {
            keepEstimates(outcome);
            keepDeck(outcome);
        }
    }
    if (!outcome.results && !cancelled_ && !facts.crashed) facts.resultsProblem = outcome.problem;
    outcome.ending = describeEnding(facts);
    // A run whose report did not arrive is not a success, whatever the estimator said.
    if (outcome.ending.ending == RunEnding::Converged && outcome.result != RunResult::Completed) {
        outcome.ending = {RunEnding::Failed, outcome.problem};
    }
    if (outcome.ending.detail.isEmpty() && outcome.result != RunResult::Completed)
        outcome.ending.detail = outcome.problem;
    // What went wrong around a run that delivered its report is shown with its warnings.
    if (outcome.result == RunResult::Completed && !outcome.problem.isEmpty() &&
        !outcome.ending.detail.contains(outcome.problem))
        outcome.warnings.prepend(outcome.problem);
    complete(std::move(outcome));
}

QString RunOrchestrator::reportFile() const {
    const EstimatorProfile& profile = profileOf(estimator_);
    const QString report = findFile(workFolder_, profile.report);
    return report.isEmpty() ? findFile(outputsFolder_, profile.report) : report;
}

void RunOrchestrator::readComparison(RunOutcome& outcome) {
    const EstimatorProfile& profile = profileOf(estimator_);
    if (profile.comparisonFile.isEmpty()) return;
    const QString file = findFile(workFolder_, profile.comparisonFile);
    if (file.isEmpty()) return;
    ComparisonRead read = parseComparison(readAllOf(file), profile.comparisonFile);
    outcome.comparison = std::move(read.rows);
    if (!read.problem.isEmpty()) outcome.warnings << read.problem;
    // The comparison's report is in the work folder; its results and cases are those of the
    // class count of the smallest BIC, in that count's folder.
    if (!findFile(workFolder_, profile.resultsFile).isEmpty()) return;
    for (const ComparisonRow& row : outcome.comparison) {
        const QString folder =
            QDir(workFolder_).filePath(QStringLiteral("classes-%1").arg(row.classes));
        if (row.smallestBic && QFileInfo(folder).isDir()) outputsFolder_ = folder;
    }
}

void RunOrchestrator::readResults(RunOutcome& outcome) const {
    const EstimatorProfile& profile = profileOf(estimator_);
    const QString json = findFile(outputsFolder_, profile.resultsFile);
    if (json.isEmpty()) {
        if (outcome.exitCode == 0)
            outcome.problem = QStringLiteral("%1 ended without writing its results file \"%2\"; "
                                             "the report holds what it wrote.")
                                  .arg(profile.shownName, profile.resultsFile);
    } else {
        ResultsRead read = parseResults(readAllOf(json), profile.resultsFile);
        outcome.results = std::move(read.results);
        if (!read.problem.isEmpty()) outcome.problem = read.problem;
    }
    const QString cases = findFile(outputsFolder_, profile.casesFile);
    if (cases.isEmpty()) return;
    CasesRead read = casesTable(readAllOf(cases), profile.casesFile);
    outcome.cases = std::move(read.table);
    // Shown with the warnings of a run whose results were read.
    if (outcome.results && outcome.problem.isEmpty()) outcome.problem = read.problem;
}

void RunOrchestrator::copyReport(RunOutcome& outcome) const {
    QString why;
    if (copyReplacing(reportFile(), outputPath_, &why)) {
        outcome.reportDelivered = true;
        if (outcome.result == RunResult::Crashed) {
            outcome.problem += QStringLiteral(" Its unfinished report was copied to \"%1\".")
                                   .arg(QDir::toNativeSeparators(outputPath_));
        }
        return;
    }
    if (outcome.result == RunResult::Completed) outcome.result = RunResult::ReportNotCopied;
    // The work folder is cleared when the run ends: the report goes with the outcome instead.
    outcome.undeliveredReport = readAllOf(reportFile());
    if (!outcome.problem.isEmpty()) outcome.problem += QLatin1Char(' ');
    outcome.problem +=
        QStringLiteral("The report cannot be copied to the output file: %1.").arg(why);
}

void RunOrchestrator::keepEstimates(RunOutcome& outcome) const {
    const EstimatorProfile& profile = profileOf(estimator_);
    if (!request_.keepEstimates || profile.keptEstimates.isEmpty()) return;
    const QString estimates = findFile(outputsFolder_, profile.keptEstimates);
    if (estimates.isEmpty()) return; // the deck did not ask for them
    // An earlier copy is replaced under the spelling it has, so no second one appears beside it.
    QString kept = findFile(inputFolder_, profile.keptEstimates);
    if (kept.isEmpty()) kept = QDir(inputFolder_).filePath(profile.keptEstimates);
    QString why;
    if (!copyReplacing(estimates, kept, &why)) {
        outcome.problem = QStringLiteral("\"%1\" cannot be kept in the input folder: %2.")
                              .arg(profile.keptEstimates, why);
    }
}

void RunOrchestrator::keepDeck(RunOutcome& outcome) const {
    if (!request_.csvArguments) return;
    const QString deck = findFile(workFolder_, profileOf(estimator_).stagedDeck);
    if (deck.isEmpty()) return;
    QString why;
    const QString kept = keptDeckPath(outputPath_);
    if (QFileInfo::exists(kept) && !madeFromCsv(kept)) {
        outcome.problem = QStringLiteral("The deck made from the CSV file is not kept: \"%1\" "
                                         "already holds a deck of your own.")
                              .arg(QDir::toNativeSeparators(kept));
        return;
    }
    if (copyReplacing(deck, kept, &why))
        outcome.keptDeck = kept;
    else
        outcome.problem =
            QStringLiteral("The deck made from the CSV file cannot be kept as \"%1\": %2.")
                .arg(QDir::toNativeSeparators(kept), why);
}

void RunOrchestrator::complete(RunOutcome outcome) {
    progressTimer_.stop();
    killTimer_.stop();
    const EstimatorProfile& profile = profileOf(estimator_);
    outcome.estimator = estimator_;
    outcome.seconds = roundedSeconds(clock_.elapsed());
    outcome.outputPath = outputPath_;
    removeLeftovers(profile);
    if (request_.csvArguments) removeFiles(workFolder_, profile.stagedDeck);
    if (process_) process_->deleteLater();
    process_ = nullptr;
    tracker_.reset();
    running_ = false;
    cancelled_ = false;
    setStatus(endedText(profile, outcome.ending.ending, outcome.seconds));
    emit runningChanged(false);
    emit finished(outcome);
}

} // namespace oruk
