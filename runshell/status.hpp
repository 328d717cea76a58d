// How a run ends, in the same words from both estimators: the exit status, the line on
// standard error that says why a run ended with status 1, warnings as they arise, and the
// message for whatever stopped a run with status 2 (an input error, too little memory, a
// system error). Only the program's name differs.
#pragma once

#include <filesystem>
#include <ostream>
#include <string>
#include <string_view>

namespace runshell {

enum ExitStatus : int {
    kCompleted = 0,     // a converged fit, also with warnings
    kReportedError = 1, // the run ended on a reason written to the report (and to err)
    kInputError = 2,    // a file or input error: the message on err, no output left behind
};

// "PROGRAM: reason" on err: why the run ended with status 1, as the report gives it.
void sayEnding(std::string_view program, std::string_view reason, std::ostream& err);

// How a run that got as far as a fit ended, in plain values, for the one line the terminal
// shows at its end.
struct RunSummary {
    // Why the run ends with status 1 (the reason as the user reads it); empty for a fit that
    // converged and a run that ends with status 0.
    std::string reason;
    bool converged = false; // the fit converged: its cycles and figures lead the line
    long long cycles = 0;
    int newtonSteps = 0; // Newton steps after the EM cycles (0: none, left out)
    int starts = 0;      // starts tried (0: a single start, left out)
    int bestFound = 0;   // how many of them reached the best maximum
    double loglikelihood = 0.0;
    double bic = 0.0;
    std::filesystem::path report;
};

// "PROGRAM: converged in 54 cycles and 2 Newton steps, loglikelihood -3670.44532, BIC 7483.49;
// report out/LI7.OUT", with " (best of 21 starts found 5 times)" after the cycles of a fit from
// many starts and "; reason" before the report when a converged run still ends with status 1;
// "PROGRAM: reason; report LI7.OUT" for a fit that did not converge. The loglikelihood has 5
// decimals as the reports print it, BIC 2; the report is named as userPath does.
std::string summaryLine(std::string_view program, const RunSummary& s,
                        const std::filesystem::path& currentFolder);

// The summary line on err, the report named from the current folder.
void saySummary(std::string_view program, const RunSummary& s, std::ostream& err);

// A path as the user would type it: relative to currentFolder when it lies inside it,
// otherwise absolute.
std::string userPath(const std::filesystem::path& path, const std::filesystem::path& currentFolder);

// "no convergence within N cycles (raise MAXIT in the deck)", or "(raise --max-cycles)" for a
// run from a CSV file, whose limit is that option.
std::string cycleLimitReason(long long limit, bool csv);

// "PROGRAM: warning: text" on err.
void sayWarning(std::string_view program, std::string_view text, std::ostream& err);

// To be called in a catch block: writes the message for the exception being handled to err and
// returns kInputError. latent::InputError: its own message; std::bad_alloc: "PROGRAM: not
// enough memory for this deck"; another std::exception (a folder removed under the run, ...):
// "PROGRAM: " and its text. Anything else is thrown on.
int failed(std::string_view program, std::ostream& err);

// Runs body (returning the exit status) and maps what it throws as failed() says.
template <class Body> int guardedRun(std::string_view program, std::ostream& err, Body&& body) {
    try {
        return body();
    } catch (...) {
        return failed(program, err);
    }
}

} // namespace runshell
