#include "ploven/multistart_report.hpp"

#include "fixedio/layout.hpp"

#include <string>

namespace ploven::report {

namespace {

using fixedio::Layout;

std::string origin(const FinalRun& run) {
    return run.origin == kBandStart ? std::string("BAND") : std::to_string(run.origin);
}

} // namespace

std::string startingValues(const MultiStartOutcome& outcome) {
    static const Layout heading("/ 5X 'STARTING VALUES'");
    std::string out = heading.format({});
    if (outcome.starts == 0)
        return out + "     ONE DETERMINISTIC START FROM THE SCORE BANDS; NO RANDOM STARTS\n";

    // The seed is unsigned 64-bit: written as text so that every value fits.
    static const Layout counts("5X 'RANDOM STARTS:' I6 5X 'SEED:' A21 5X 'FIRST STAGE:' I5 "
                               "' CYCLES'");
    static const Layout stopped("5X 'RANDOM STARTS STOPPED EARLY AS HOPELESS:' I6");
    static const Layout listTitle("5X 'FINAL STAGE, BEST FIRST:'");
    static const Layout columns("5X '     START' 3X '   LOGLIKELIHOOD' 2X 'ITERATIONS'");
    static const Layout row("5X A10 3X F16.5 2X I10");
    static const Layout rowNotConverged("5X A10 3X F16.5 2X I10 '  NOT CONVERGED'");
    static const Layout replicated(
        "5X 'RUNS THAT REACHED THE BEST LOGLIKELIHOOD WITHIN 1.0E-04:' I4 ' OF' I4");
    static const Layout fromRandom(
        "5X 'REPORTED: THE SOLUTION OF RANDOM START' I6 ', CLASSES IN ORDER OF MEAN PI'");

    out += counts.format({outcome.starts, std::to_string(outcome.seed), outcome.firstStageCycles});
    out += stopped.format({outcome.stoppedEarly});
    out += listTitle.format({}) + columns.format({});
    for (const FinalRun& run : outcome.runs)
        out += (run.converged ? row : rowNotConverged)
                   .format({origin(run), run.loglik, run.iterations});
    const int runs = static_cast<int>(outcome.runs.size());
    out += replicated.format({outcome.replicated, runs});
    if (outcome.reported >= 0 && outcome.reported < runs) {
        const FinalRun& reported = outcome.runs[outcome.reported];
        if (reported.origin == kBandStart)
            out += "     REPORTED: THE SOLUTION OF THE BAND START\n";
        else
            out += fromRandom.format({reported.origin});
    }
    if (outcome.replicated == 1)
        out += "     THE BEST LOGLIKELIHOOD WAS NOT REPLICATED; RUN AGAIN WITH MORE STARTS\n";
    return out;
}

} // namespace ploven::report
