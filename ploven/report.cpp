#include "ploven/report.hpp"

#include "fixedio/layout.hpp"
#include "ploven/data_checks.hpp"

#include <cmath>
#include <vector>

namespace ploven::report {

namespace {

using fixedio::Layout;
using fixedio::Value;

const Layout& pairs() {
    static const Layout layout("5X 9*(1X F8.6 '(' F8.6 ')')");
    return layout;
}

const Layout& plain() {
    static const Layout layout("10*(F10.4)");
    return layout;
}

std::vector<Value> responses(const PatternTable& patterns, int i) {
    std::vector<Value> values;
    values.reserve(static_cast<std::size_t>(patterns.nitem) + 4);
    for (int j = 0; j < patterns.nitem; ++j) values.emplace_back(patterns.response(i, j));
    return values;
}

} // namespace

std::string head(const std::string& title, int nclass, int nitem) {
    static const Layout banner("/ 15X '****  LATENT CLASS PROGRAM ****'");
    static const Layout data("5X 'DATA: ' A72");
    static const Layout counts("5X 'NUMBER OF CLASSES:' I4 8X 'NUMBER OF ITEMS:' I4");
    return banner.format({}) + data.format({title}) + counts.format({nclass, nitem});
}

std::string nonBinary(int record, int item, int value) {
    static const Layout line(
        "/ '   ** ERROR: NON-BINARY VARIABLE **  OBS=' I4 ' VAR=' I3 ' VALUE=' I1");
    return line.format({record, item, value});
}

std::string sumMismatch(long long sum, long long ncase) {
    static const Layout line("'    *** ERROR ***  SUM OF OBSERVED FREQUENCY =' I5 ' NOT EQUAL TO "
                             "THE SAMPLE SIZE (' I5 ')'");
    return line.format({sum, ncase});
}

std::string numberOfCases(long long ncase) {
    static const Layout line("5X 'NUMBER OF CASES=' I8");
    return line.format({ncase});
}

std::string estimationError(ErrorCode error) {
    switch (error) {
    case ErrorCode::BadSampleSize:
        return "    *** ERROR ***  INVALID NUMBER OF RESPONSES\n";
    case ErrorCode::FrequencyMismatch:
        return "    *** ERROR ***  TOTAL OF OBSERVED FREQUENCIES DIFFERENT FROM NUMBER OF "
               "RESPONSES\n";
    case ErrorCode::TooManyClasses:
        return "    *** ERROR ***  NUMBER OF CLASSES GREATER THAN NUMBER OF MANIFEST VARIABLES\n";
    case ErrorCode::IterationCap:
        return "    *** ERROR *** MAXIMUM NUMBER OF ITERATIONS EXECUTED\n";
    case ErrorCode::NotCertified:
        return "    *** ERROR *** NO MAXIMUM COULD BE CERTIFIED (SEE THE CONVERGENCE CHECK)\n";
    default:
        return fixedio::freeLine({"*** ERROR ***", errorNumber(error)});
    }
}

std::string observedPatterns(const PatternTable& patterns) {
    static const Layout row("5X I5 5X I5 5X 40*(I1)");
    std::string out = "    OBSERVED FREQUENCIES AND RESPONSE VECTORS\n";
    for (int i = 0; i < patterns.size(); ++i) {
        std::vector<Value> values{i + 1, patterns.freq[i]};
        for (Value& v : responses(patterns, i)) values.push_back(std::move(v));
        out += row.format(values);
    }
    return out;
}

std::string piMatrix(const Estimates& est, const StandardErrors* se) {
    std::string out = Layout("/ '     ESTIMATED PI-MATRIX:'").format({});
    if (se == nullptr || !se->ok) return out + piLines(est);
    std::vector<Value> values;
    for (int j = 0; j < est.nitem; ++j) {
        values.clear();
        for (int k = 0; k < est.nclass; ++k) {
            values.emplace_back(est.PI(j, k));
            values.emplace_back(se->pi[static_cast<std::size_t>(j) * est.nclass + k]);
        }
        out += pairs().format(values);
    }
    return out;
}

std::string etaVector(const Estimates& est, const StandardErrors* se) {
    std::string out = Layout("/ '     ESTIMATED ETA-VECTOR:'").format({});
    if (se == nullptr || !se->ok) return out + etaLine(est);
    std::vector<Value> values;
    for (int k = 0; k < est.nclass; ++k) {
        values.emplace_back(est.eta[k]);
        values.emplace_back(se->eta[k]);
    }
    return out + pairs().format(values);
}

std::string piLines(const Estimates& est) {
    std::string out;
    std::vector<Value> values;
    for (int j = 0; j < est.nitem; ++j) {
        values.clear();
        for (int k = 0; k < est.nclass; ++k) values.emplace_back(est.PI(j, k));
        out += plain().format(values);
    }
    return out;
}

std::string etaLine(const Estimates& est) {
    std::vector<Value> values(est.eta.begin(), est.eta.end());
    return plain().format(values);
}

std::string tinyClasses(const Estimates& est) {
    const double tiny = static_cast<double>(0.03f);
    for (double eta : est.eta) {
        if (eta < tiny)
            return Layout("/ / 5X '**** WARNING: TINY CLASS(ES) - IDENTIFIABILITY PROB LEMS ARE "
                          "LIKELY ****'")
                .format({});
    }
    return {};
}

std::string likelihood(double loglik, double change, int iterations) {
    static const Layout line("/ / 5X 'ESTIMATED LIKELIHOOD =' F12.5 ' CONVERGENCE AT' F9.6 '  "
                             "TOTAL OF ITERATIONS = ' I6");
    return line.format({loglik, change, iterations});
}

std::string posteriors(const Posteriors& post, int npat) {
    static const Layout row("1X I5 9*(1X F8.6)");
    std::string out = Layout("/ '     ESTIMATED POSTERIOR H-MATRIX:'").format({});
    std::vector<Value> values;
    for (int i = 0; i < npat; ++i) {
        values.clear();
        values.emplace_back(i + 1);
        for (int k = 0; k < post.nclass; ++k) values.emplace_back(post.H(k, i));
        out += row.format(values);
    }
    return out;
}

std::string fullTable(const FitStatistics& full, int nitem, int nclass) {
    // The two blanks before IS are deliberate: the established layout has them.
    if (full.error != ErrorCode::None)
        return "  ** WARNING ** EXPECTED FREQUENCY FOR A RESPONSE PATTERN  IS EQUAL TO ZERO\n";
    static const Layout g("/ '     LOG-LIKELIHOOD RATIO STATISTIC= ' F9.4");
    static const Layout c("/ '     STANDARD CHI SQUARE TEST STATISTIC= ' F9.3");
    static const Layout df("5X 'DEGREES OF FREEDOM = ' F8.0");
    const double freedom = std::pow(2.0, nitem) - nclass - static_cast<double>(nitem) * nclass;
    return g.format({full.gsquare}) + c.format({full.chisquare}) + df.format({freedom});
}

std::string grouped(const FitStatistics& pooled, int npat, int nitem, int nclass) {
    static const Layout c("'     PEARSON CHI-SQUARE AFTER GROUPING =' F13.6");
    static const Layout g("5X 'LOG-LIKELIHOOD RATIO STATISTIC AFTER GROUPING =' F13.6");
    static const Layout df("5X 'DEGREES OF FREEDOM =' I10");
    const long long freedom = static_cast<long long>(npat) - nclass -
                              static_cast<long long>(nitem) * nclass - pooled.ngrp;
    return c.format({pooled.chisquare}) + g.format({pooled.gsquare}) + df.format({freedom});
}

std::string summary(const PatternTable& patterns, std::span<const double> expf,
                    std::span<const int> iclass, long long ncase, double expectedTotal) {
    static const Layout title("/ / '     SUMMARY RESULTS'");
    static const Layout heading(
        "/ / 5X 'OBS.FREQ.' 5X 'E(FREQ)' 2X 'LAT. CLASS' 5X 'RESPONSE VECTOR'");
    static const Layout row("5X I7 5X F8.3 5X I8 5X 30*(I1)");
    static const Layout totals(
        "/ 5X 'No. OBSERVED RESPONSES= ' I7 ' No. EXPECTED RESPONSES= ' F10.3");
    std::string out = title.format({}) + heading.format({});
    for (int i = 0; i < patterns.size(); ++i) {
        std::vector<Value> values{patterns.freq[i], expf[i], iclass[i]};
        for (Value& v : responses(patterns, i)) values.push_back(std::move(v));
        out += row.format(values);
    }
    return out + totals.format({ncase, expectedTotal});
}

std::string titleLine(const std::string& title) {
    static const Layout line("A72");
    return line.format({title});
}

std::string countsLine(int nclass, int nitem, int npat) {
    static const Layout line("3*(I5)");
    return line.format({nclass, nitem, npat});
}

std::string convergenceCheck(const FitCheck& check) {
    static const Layout heading("/ 5X 'CONVERGENCE CHECK'");
    std::string out = heading.format({}) + resultsio::convergenceLines(check.convergence);
    if (check.releases > 0)
        out += resultsio::reportLine("RELEASES FROM A BOUND", std::to_string(check.releases));
    return out;
}

std::string legend(std::span<const std::string> lines) {
    std::string out = "\n";
    for (const std::string& line : lines) out += line + "\n";
    return out;
}

std::string warnings(std::span<const std::string> lines) {
    if (lines.empty()) return "";
    std::string out = "\n\n     WARNINGS\n";
    for (const std::string& line : lines) out += "     " + reportWarning(line) + "\n";
    return out;
}

std::string notes(std::span<const std::string> lines) {
    if (lines.empty()) return "";
    std::string out = "\n\n     NOTES\n";
    for (const std::string& line : lines) out += "     " + line + "\n";
    return out;
}

} // namespace ploven::report
