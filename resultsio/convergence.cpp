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

std::string convergenceLines(const ConvergenceCheck& c) {
    using fixedio::Layout;
    static const Layout phaseLine("'  PHASE THAT ENDED THE FIT           ',A");
    static const Layout emLine("'  EM CYCLES                  ',I10");
    static const Layout acceleratedLine("'  EM CYCLES (ACCELERATED)    ',I10");
    static const Layout newtonLine("'  NEWTON STEPS               ',I10");
    static const Layout heading("/,'  STEP',5X,'LOGLIKELIHOOD',3X,'FRACTION',3X,'REMAINING GAIN'");
    static const Layout step("I6,F18.5,F11.4,3X,A14");
    static const Layout gradientLine("'  LARGEST ABSOLUTE GRADIENT ELEMENT  ',A");
    static const Layout gainLine("'  EXPECTED REMAINING GAIN            ',A");
    static const Layout informationLine("'  INFORMATION MATRIX                 ',A");
    static const Layout leftOutLine("'  PARAMETERS LEFT OUT        ',I10");
    static const Layout maximumLine("'  MAXIMUM                            ',A");
    std::string out;
    out += phaseLine.format({c.phase == FitPhase::Newton          ? "NEWTON STEPS AFTER EM"
                             : c.phase == FitPhase::AcceleratedEm ? "ACCELERATED EM"
                                                                  : "EM"});
    out += (c.accelerated ? acceleratedLine : emLine).format({c.emCycles});
    out += newtonLine.format({static_cast<int>(c.newton.size())});
    if (!c.newton.empty()) {
        out += heading.format({});
        for (const NewtonStepRecord& s : c.newton)
            out += step.format({s.step, s.loglik, s.fraction, scientific(s.gain)});
        out += "\n";
    }
    out += gradientLine.format({scientific(c.largestGradient)});
    out += gainLine.format({scientific(c.remainingGain)});
    out += informationLine.format({c.observedInformation ? "OBSERVED" : "CROSS-PRODUCT"});
    out += leftOutLine.format({c.leftOut});
    out += maximumLine.format({c.certified ? "CERTIFIED (REMAINING GAIN BELOW " +
                                                 scientific(c.gainLimit) + ")"
                                           : "NOT CERTIFIED: " + upper(c.reason)});
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
