#include "travik/convergence_report.hpp"

#include <cmath>
#include <cstdio>

namespace travik {

std::string convergenceSection(const Estimation& est) {
    if (!est.check.checked) return "";
    std::string out = "\n\n***Convergence Check***\n\n" + resultsio::convergenceLines(est.check);
    const IntegrationCheck& i = est.integration;
    if (i.done) {
        char loglik[32];
        std::snprintf(loglik, sizeof loglik, "%.5f", i.loglik);
        out +=
            "\n" +
            resultsio::reportLine("FINER RULE: FULL RULE OF",
                                  std::to_string(i.pointsPerFactor) + " POINTS PER FACTOR") +
            resultsio::reportLine("LOGLIKELIHOOD ON THE FINER RULE", loglik) +
            resultsio::reportLine("DIFFERENCE FROM THE FIT", resultsio::scientific(i.difference));
    }
    return out;
}

std::string integrationWarning(const Estimation& est) {
    const IntegrationCheck& i = est.integration;
    if (!i.done || !(std::fabs(i.difference) > kIntegrationWarning)) return "";
    char text[256];
    std::snprintf(
        text, sizeof text,
        "on the finer rule of %d points per factor the loglikelihood differs by %.4g: the "
        "quadrature is too coarse for this model; fit it again with more quadrature "
        "points (a larger NQ, or --points N)",
        i.pointsPerFactor, i.difference);
    return text;
}

} // namespace travik
