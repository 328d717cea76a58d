// How a run ends, in the same words from both estimators: the exit status, the line on
// standard error that says why a run ended with status 1, warnings as they arise, and the
// message for whatever stopped a run with status 2 (an input error, too little memory, a
// system error). Only the program's name differs.
#pragma once

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
