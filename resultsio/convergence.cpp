#include "resultsio/convergence.hpp"

#include "fixedio/layout.hpp"

#include <cctype>
#include <cmath>
#include <cstdio>

namespace resultsio {

namespace {

const char* phaseName(FitPhase p) {
    switch (p) {
    case FitPhase::Em:
        return "em";
    case FitPhase::AcceleratedEm:
        return "accelerated_em";
    case FitPhase::Newton:
        return "newton";
    }
    return "em";
}

std::string upper(std::string s) {
    for (char& ch : s) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return s;
}

} // namespace

std::string scientific(double value) {
    if (!std::isfinite(value)) return std::isnan(value) ? "NAN" : value > 0 ? "INF" : "-INF";
    char text[32];
    std::snprintf(text, sizeof text, "%.3E", value);
    return text;
}

std::string reportLine(std::string_view label, std::string_view value) {
    std::string line = "  " + std::string(label);
    if (line.size() < kValueColumn)
        line.resize(kValueColumn, ' ');
    else
        line += ' ';
    return line + std::string(value) + "\n";
}

std::string convergenceLines(const ConvergenceCheck& c) {
    static const fixedio::Layout heading(
        "/,'  STEP',5X,'LOGLIKELIHOOD',3X,'FRACTION',3X,'REMAINING GAIN'");
    static const fixedio::Layout step("I6,F18.5,F11.4,3X,A14");
    std::string out;
    out += reportLine("PHASE THAT ENDED THE FIT",
                      c.phase == FitPhase::Newton          ? "NEWTON STEPS AFTER EM"
                      : c.phase == FitPhase::AcceleratedEm ? "ACCELERATED EM"
                                                           : "EM");
    out += reportLine(c.accelerated ? "EM CYCLES (ACCELERATED)" : "EM CYCLES",
                      std::to_string(c.emCycles));
    out += reportLine("NEWTON STEPS", std::to_string(c.newton.size()));
    if (!c.newton.empty()) {
        out += heading.format({});
        for (const NewtonStepRecord& s : c.newton)
            out += step.format({s.step, s.loglik, s.fraction, scientific(s.gain)});
        out += "\n";
    }
    out += reportLine("LARGEST ABSOLUTE GRADIENT ELEMENT", scientific(c.largestGradient));
    out += reportLine("EXPECTED REMAINING GAIN", scientific(c.remainingGain));
    out += reportLine("INFORMATION MATRIX", c.observedInformation ? "OBSERVED" : "CROSS-PRODUCT");
    out += reportLine("PARAMETERS LEFT OUT", std::to_string(c.leftOut));
    out += reportLine("MAXIMUM", c.certified ? "CERTIFIED (REMAINING GAIN BELOW " +
                                                   scientific(c.gainLimit) + ")"
                                             : "NOT CERTIFIED: " + upper(c.reason));
    return out;
}

Json convergenceJson(const ConvergenceCheck& c) {
    Json j;
    j["certified"] = c.certified;
    j["reason"] = c.certified ? Json(nullptr) : Json(c.reason);
    j["phase"] = phaseName(c.phase);
    j["accelerated"] = c.accelerated;
    j["em_cycles"] = c.emCycles;
    j["newton_steps"] = static_cast<int>(c.newton.size());
    j["largest_gradient"] = number(c.largestGradient);
    j["remaining_gain"] = number(c.remainingGain);
    j["gain_limit"] = number(c.gainLimit);
    j["information"] = c.observedInformation ? "observed" : "cross_product";
    j["parameters_left_out"] = c.leftOut;
    Json steps = Json::array();
    for (const NewtonStepRecord& s : c.newton) {
        Json one;
        one["step"] = s.step;
        one["loglikelihood"] = number(s.loglik);
        one["fraction"] = number(s.fraction);
        one["remaining_gain"] = number(s.gain);
        steps.push_back(std::move(one));
    }
    j["newton"] = std::move(steps);
    return j;
}

std::string convergenceFigures(const ConvergenceCheck& c) {
    return "remaining gain " + scientific(c.remainingGain) + ", largest gradient element " +
           scientific(c.largestGradient);
}

} // namespace resultsio
