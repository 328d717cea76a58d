// How a run ended, in the user's words. Success is claimed only for a run that exited with
// status 0 and whose results file says "converged"; every other ending is named for what it is.
#pragma once

#include <QString>

#include <optional>

namespace oruk {

enum class RunEnding {
    Converged,
    NoConvergence, // the cycle limit was reached
    Diverged,
    Rejected,  // the deck or the data were refused, with a reason in the report
    Failed,    // not started, an input error, no report, no results file
    Cancelled, // by the user
    Crashed,   // ended on a signal
};

// What is known about a finished run.
struct EndingFacts {
    bool started = true;
    bool cancelled = false;
    bool crashed = false;
    int exitCode = 0;
    std::optional<QString> resultsStatus; // "status" of the results file, when there is one
    QString resultsMessage;
    QString resultsProblem; // why the results file could not be read
    QString standardError;
    QString reportErrorLine; // the report's error line, when it has one
};

struct EndingShown {
    RunEnding ending = RunEnding::Failed;
    QString detail; // the estimator's message, its first lines on standard error, or the
                    // report's error line
};

EndingShown describeEnding(const EndingFacts& facts);

// "converged", "no convergence", "diverged", "rejected", "failed", "cancelled", "crashed".
QString endingWords(RunEnding ending);

// The first lines of an estimator's standard error, as shown with a failed run.
QString firstLines(const QString& text, int lines = 5);

// The first line of a report that states an error ("***ERROR***", "** ERROR:"), trimmed.
QString reportErrorLine(const QByteArray& report);

} // namespace oruk
