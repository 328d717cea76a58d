// The convergence check of a fit, as both estimators report it: which phase ended the fit, the
// Newton steps after EM, and the figures of the last check (largest gradient element, remaining
// gain). Plain data; the block of the report and the "convergence" object of the results file
// are formed here, so the two estimators say it alike.
#pragma once

#include "resultsio/json_values.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace resultsio {

// What ended the fit: EM under its stop rule (plain or accelerated), or Newton steps after it.
enum class FitPhase { Em, AcceleratedEm, Newton };

struct NewtonStepRecord {
    int step = 0;
    double loglik = 0.0;
    double fraction = 1.0; // of the Newton step taken
    double gain = 0.0;     // remaining gain after the step
};

struct ConvergenceCheck {
    bool checked = false; // the check ran (it needs a fit whose cycles ended on numbers)
    bool accelerated = false;
    FitPhase phase = FitPhase::Em;
    int emCycles = 0;
    std::vector<NewtonStepRecord> newton;
    double largestGradient = 0.0;
    double remainingGain = 0.0;
    double gainLimit = 0.0;
    bool observedInformation = false; // else the cross-product of the case scores
    int leftOut = 0; // parameters or directions left out (fixed, at a bound, singular)
    bool certified = false;
    bool cycleLimit = false; // not certified because the cycle limit was reached
    std::string reason;      // why not certified, in lower case; empty when certified
};

// A line of the block: two blanks, the label, its value from column kValueColumn + 1.
constexpr std::size_t kValueColumn = 38;
std::string reportLine(std::string_view label, std::string_view value);

// The block's lines after its title, each ending with a line end.
std::string convergenceLines(const ConvergenceCheck& c);

// The "convergence" object of a results file.
Json convergenceJson(const ConvergenceCheck& c);

// The remaining gain and the largest gradient element as a message adds them.
std::string convergenceFigures(const ConvergenceCheck& c);

// A small number in E form with four significant digits ("1.234E-07").
std::string scientific(double value);

} // namespace resultsio
