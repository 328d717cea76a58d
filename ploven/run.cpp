#include "ploven/run.hpp"

#include "fixedio/console.hpp"
#include "fixedio/files.hpp"
#include "fixedio/freeread.hpp"
#include "fixedio/layout.hpp"
#include "fixedio/memory.hpp"
#include "latent/input_error.hpp"
#include "numerics/parallel_blocks.hpp"
#include "ploven/bivariate_residuals.hpp"
#include "ploven/bootstrap_lr.hpp"
#include "ploven/cases_file.hpp"
#include "ploven/categorical_run.hpp"
#include "ploven/class_comparison.hpp"
#include "ploven/classify.hpp"
#include "ploven/data_checks.hpp"
#include "ploven/deck.hpp"
#include "ploven/derivatives.hpp"
#include "ploven/em.hpp"
#include "ploven/fit.hpp"
#include "ploven/model_comparison.hpp"
#include "ploven/multistart.hpp"
#include "ploven/multistart_report.hpp"
#include "ploven/patterns.hpp"
#include "ploven/report.hpp"
#include "ploven/results.hpp"
#include "ploven/results_json.hpp"
#include "ploven/simulate.hpp"
#include "ploven/standard_errors.hpp"
#include "resultsio/criteria.hpp"
#include "resultsio/csv_source.hpp"
#include "runshell/outputs.hpp"
#include "runshell/status.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <optional>
#include <string_view>

namespace ploven {

namespace {

const std::string kProgram(kFiles.program);

// The deck a run reads: a file, or one built from a CSV file.
using Source = runshell::Source<CsvDeck>;

// What a run writes besides the report and the results files: the simulation files for every
// deck run (as it always has) and a CSV run of binary items that asks for a study; the
// classification and estimates files for every run of the binary model. A file a run does not
// write is not in the way of a leftover of its name either.
bool writesStudyFiles(const Source& source) {
    return !source.csv || (!source.csv->categorical && source.csv->simulations > 0);
}

bool writesBinaryFiles(const Source& source) {
    return !source.csv || !source.csv->categorical;
}

// The outputs a run does not write.
std::vector<std::string_view> notWritten(const Source& source) {
    std::vector<std::string_view> names;
    if (!writesStudyFiles(source)) names.insert(names.end(), {kEtasFile, kPisFile});
    if (!writesBinaryFiles(source)) names.insert(names.end(), {kClassesFile, kEstimatesFile});
    return names;
}

// The output files, staged before the deck is read and named when the run ends by itself.
struct Outputs {
    runshell::Outputs staged;
    fixedio::OutputFile* etas; // null when the run writes no simulation files
    fixedio::OutputFile* pis;
    fixedio::OutputFile& report;
    fixedio::OutputFile* classes;   // null for the categorical model
    fixedio::OutputFile* estimates; // null for the categorical model
    fixedio::OutputFile& results;
    fixedio::OutputFile& cases;
    fixedio::ProgressFile& progress; // written directly so a front end can follow it

    Outputs(const Source& source, bool force)
        : staged(kFiles, source, force, notWritten(source)),
          etas(writesStudyFiles(source) ? &staged.file(kEtasFile) : nullptr),
          pis(writesStudyFiles(source) ? &staged.file(kPisFile) : nullptr),
          report(staged.file(kFiles.report)),
          classes(writesBinaryFiles(source) ? &staged.file(kClassesFile) : nullptr),
          estimates(writesBinaryFiles(source) ? &staged.file(kEstimatesFile) : nullptr),
          results(staged.file(kFiles.results)), cases(staged.file(kFiles.cases)),
          progress(staged.progress()) {}

    // The run ended by itself: the outputs receive their names.
    void finish() { staged.commit(); }
};

// The deck as read: control values, the folded patterns and, for case input, the cases.
struct Input {
    Deck deck;
    DeckData data;
    PatternTable patterns;
    std::vector<int> casePattern; // pattern of each case (case input)
    long long ncase = 0;
    int mergedRecords = 0; // pattern records merged into an earlier record of the same pattern
    RunRecord record;      // what the results files and the comparison block need
    std::ostream* err = nullptr; // where warnings go as they arise
    // The terminal's last line of a run that got as far as a fit (the report still to name).
    std::optional<runshell::RunSummary> summary;
};

// A warning for the report's warnings block, the results file and standard error.
void warn(Input& in, std::string text) {
    if (in.err) runshell::sayWarning(kProgram, text, *in.err);
    in.record.warnings.push_back(std::move(text));
}

// Tables the run will hold, refused before the data are read when memory cannot hold them: the
// largest is named first.
struct MemoryNeed {
    std::string what;
    double bytes = 0.0;
    std::string advice;
};

void requireMemoryFor(std::vector<MemoryNeed> needs) {
    std::stable_sort(needs.begin(), needs.end(),
                     [](const MemoryNeed& a, const MemoryNeed& b) { return a.bytes > b.bytes; });
    for (const MemoryNeed& n : needs) fixedio::requireMemory(kProgram, n.what, n.bytes, n.advice);
}

// The report's error line that ends the run, kept for the results file.
const std::string& endingLine(RunRecord& record, resultsio::Ending ending,
                              const std::string& line) {
    record.ending = ending;
    record.message = resultsio::trimmedLine(line);
    return line;
}

// The deck's control values and the CSV file's cases, as the results files need them.
void recordDeck(const Deck& deck, const Source& source, RunRecord& r) {
    r.title = deck.title;
    r.nclass = deck.nclass;
    r.nitem = deck.nitem;
    r.caseInput = deck.caseInput();
    r.records = deck.npat;
    r.standardErrorsAsked = deck.ise == 1;
    r.deckIds = deck.identifiers();
    if (!source.csv) return;
    r.csv = csvCasesOf(*source.csv);
}

// Reads and checks the deck and folds the cases. Returns false when the run ended on a report
// line (a non-binary response, a frequency total that does not match).
bool readInput(const Source& source, Outputs& out, const Console& console, int threads, Input& in) {
    fixedio::FreeReader reader(kProgram, source.label, source.content);
    Deck& deck = in.deck;
    deck.title = readTitle(reader);
    out.estimates->put(report::titleLine(deck.title));
    readControls(reader, source.content.size(), deck);
    recordDeck(deck, source, in.record);
    std::vector<MemoryNeed> needs;
    needs.push_back({"the fit of " + std::to_string(deck.npat) + " response patterns",
                     fitFootprint(deck.npat, deck.nitem, deck.nclass, threads).bytes(),
                     "fit fewer classes or items"});
    if (deck.nclass <= deck.nitem) {
        // Every fit ends with the check, whose information matrices grow with the parameters'
        // square (the standard errors need fewer of that size).
        needs.push_back(
            {"the convergence check of " +
                 std::to_string(modelParameters(deck.nitem, deck.nclass)) + " parameters",
             derivativesBytes(deck.nitem, deck.nclass, threads), "fit fewer classes or items"});
        // Every fit lists the margins of every pair of items, in the report and ploven.json.
        needs.push_back({"listing the second-order margins of " + std::to_string(deck.nitem) +
                             " items (" + std::to_string(std::llround(marginRows(deck.nitem))) +
                             " rows in the report and in " + std::string(kFiles.results) + ")",
                         marginsBytes(deck.nitem), "fit fewer items"});
    }
    if (deck.isim == 1 && deck.nsim >= 2)
        needs.push_back({"the simulation study of " + std::to_string(deck.nsim) + " samples",
                         studyBytes(deck.nsim, deck.nitem, deck.nclass, deck.npat, threads),
                         "ask for fewer samples (NSIM)"});
    requireMemoryFor(std::move(needs));
    out.report.put(report::head(deck.title, deck.nclass, deck.nitem));
    if (source.csv) out.report.put(report::legend(source.csv->legend));
    if (deck.nclass > (static_cast<double>(deck.nitem) + 1.0) * 0.5) {
        fixedio::consolePause("**** WARNING: VERY LARGE NUMBER OF CLASSES ****\n", console.in,
                              console.out, "PRESS ENTER TO CONTINUE OR CTRL BREAK TO INTERRUPT\n");
    }

    in.data = readData(reader, deck);
    if (const auto& bad = in.data.nonBinary) {
        out.report.put(endingLine(in.record, resultsio::Ending::Rejected,
                                  report::nonBinary(bad->record, bad->item, bad->value)));
        return false;
    }
    if (auto unread =
            unreadDataWarning(source.content, reader.linesRead(), source.label, deck.npat))
        warn(in, std::move(*unread));
    if (deck.caseInput()) {
        in.patterns = foldPatterns(in.data.rows, &in.casePattern);
    } else {
        // A pattern given twice would count as two cells of the table in the fit statistics.
        in.patterns = foldPatterns(in.data.rows);
        in.mergedRecords = in.data.rows.size() - in.patterns.size();
    }
    out.estimates->put(report::countsLine(deck.nclass, deck.nitem, in.patterns.size()));

    long long total = 0;
    for (int f : in.patterns.freq) total += f;
    if (deck.caseInput() && total != deck.npat) {
        out.report.put(endingLine(in.record, resultsio::Ending::Rejected,
                                  report::sumMismatch(total, deck.npat)));
        return false;
    }
    out.report.put(report::numberOfCases(total));
    in.ncase = total; // for pattern input the frequencies define the sample size
    RunRecord& r = in.record;
    r.dataRead = true;
    r.cases = total;
    r.patterns = in.patterns;
    r.casePattern = in.casePattern;
    if (deck.identifiers()) r.ids = in.data.ids;
    return true;
}

// Everything the report holds after a successful estimation, up to the summary table; the
// modal classes are left in post.iclass, and what the results files need in in.record.
void writeResults(Input& in, const EmResult& fit, const Estimates& est, Posteriors& post,
                  Outputs& out, const Console& console) {
    const Deck& deck = in.deck;
    const PatternTable& patterns = in.patterns;
    const int npat = patterns.size();
    std::optional<StandardErrors> se;
    if (deck.ise == 1) {
        out.report.flush(); // the report is complete before any console pause
        se = standardErrors(patterns, est, post, console);
        out.report.put(se->report);
        if (!se->ok) warn(in, "no standard errors: " + se->unavailable);
    }
    if (deck.iprf == 1) out.report.put(report::observedPatterns(patterns));
    const StandardErrors* withErrors = se && se->ok ? &*se : nullptr;
    out.report.put(report::piMatrix(est, withErrors));
    out.estimates->put(report::piLines(est));
    out.report.put(report::etaVector(est, withErrors));
    out.estimates->put(report::etaLine(est));
    out.estimates->close();
    out.report.put(report::tinyClasses(est));
    out.report.put(report::likelihood(fit.loglik, fit.change, fit.iterations));
    if (deck.iprh == 1) out.report.put(report::posteriors(post, npat));

    std::vector<double> expf(static_cast<std::size_t>(npat));
    double expectedTotal = 0.0;
    for (int i = 0; i < npat; ++i) {
        expf[i] = expectedFrequency(patterns.row(i), est, in.ncase);
        expectedTotal += expf[i];
    }
    RunRecord& r = in.record;
    r.margins = computeMargins(patterns, est, in.ncase, post.loops);
    out.report.put(marginReport(r.margins));
    r.full = fullTableStatistics(patterns.freq, expf, in.ncase);
    out.report.put(report::fullTable(r.full, deck.nitem, deck.nclass));
    r.pooled = pooledFitStatistics(patterns.freq, expf, in.ncase);
    out.report.put(report::grouped(r.pooled, npat, deck.nitem, deck.nclass));

    post.iclass = modalClasses(post, npat);
    out.report.put(report::summary(patterns, expf, post.iclass, in.ncase, expectedTotal));
    r.fitted = true;
    r.post = post;
    r.se = std::move(se);
}

// The case classification file and the simulation study. Returns the run's status.
int classifyAndSimulate(Input& in, const Estimates& est, const Posteriors& post,
                        const FitMethod& method, Outputs& out) {
    const Deck& deck = in.deck;
    if (deck.ident == 1) {
        if (deck.caseInput())
            out.classes->put(
                classificationLines(in.data.ids, in.data.rows, in.casePattern, post.iclass));
        else
            out.report.put("     *** WARNING *** CASE IDENTIFIERS NEED CASE-BY-CASE INPUT; NO "
                           "CLASSIFICATION FILE WRITTEN\n");
    }
    out.classes->close();
    if (deck.isim != 1) return runshell::kCompleted;
    if (deck.nsim < 2) {
        out.report.put("     *** WARNING *** THE SIMULATION STUDY NEEDS AT LEAST 2 SAMPLES\n");
        return runshell::kCompleted;
    }
    out.report.flush();
    const StudyResult result =
        study(est, in.ncase, deck.tol, deck.nsim, deck.ipsim == 1, method, [&](int s, int nsim) {
            out.progress.put(fixedio::freeLine({"SIMULATION SAMPLE", s, "OF", nsim}));
        });
    out.report.put(result.report);
    in.record.simulationSamples = deck.nsim;
    if (result.error != ErrorCode::None) {
        // The study's last report line names the error.
        const std::string text = resultsio::trimmedLine(result.report);
        in.record.simulationError = text.substr(text.find_last_of('\n') + 1);
        return runshell::kReportedError;
    }
    if (out.etas) out.etas->put(result.etas);
    if (out.pis) out.pis->put(result.pis);
    return runshell::kCompleted;
}

// What the run did to the input that a reader of the report should know.
std::vector<std::string> inputNotes(const Input& in) {
    std::vector<std::string> notes;
    if (in.mergedRecords > 0)
        notes.push_back(
            std::to_string(in.mergedRecords) +
            (in.mergedRecords == 1 ? " PATTERN RECORD REPEATS" : " PATTERN RECORDS REPEAT") +
            " AN EARLIER RECORD'S PATTERN; ITS FREQUENCY IS ADDED TO THAT RECORD");
    return notes;
}

// Refuses the data when an item has one observed value (the likelihood then has no maximum
// inside the model), and warns of a model too large for its data. Returns false when the run
// ended on the refusal.
bool checkData(const Source& source, Outputs& out, Input& in) {
    const Deck& deck = in.deck;
    // No case, or more classes than items: the estimation's own error lines say so.
    if (in.ncase < 1 || deck.nclass > deck.nitem) return true;
    const std::vector<DegenerateItem> degenerate = degenerateItems(in.patterns);
    if (!degenerate.empty()) {
        DataSource seen;
        seen.cases = in.ncase;
        if (source.csv) {
            seen.columns = source.csv->itemNames;
            seen.casesLeftOut = static_cast<long long>(source.csv->leftOutLines.size());
        }
        out.report.put(endingLine(in.record, resultsio::Ending::Rejected,
                                  degenerateItemsLine(degenerate, deck.nitem, seen)));
        return false;
    }
    for (std::string& w : modelSizeWarnings(deck.nitem, deck.nclass, in.ncase))
        warn(in, std::move(w));
    return true;
}

// The terminal's last line of a fit: the reported solution's cycles, loglikelihood and BIC, or
// why the fit did not converge (a CSV run's cycle limit is --max-cycles).
runshell::RunSummary summaryOf(const MultiStartFit& fit, const Input& in, bool csv) {
    runshell::RunSummary s;
    s.converged = fit.fit.error == ErrorCode::None;
    if (fit.fit.error == ErrorCode::IterationCap)
        s.reason = runshell::cycleLimitReason(in.deck.maxit, csv);
    else if (fit.fit.error == ErrorCode::NotCertified)
        s.reason = "no certified maximum (see the convergence check in the report)";
    if (!s.reason.empty() && fit.check.convergence.checked)
        s.reason += "; " + resultsio::convergenceFigures(fit.check.convergence);
    s.cycles = fit.fit.iterations - 1;
    if (fit.outcome.starts > 0) {
        s.starts = fit.outcome.starts + 1; // the random starts and the band start
        s.bestFound = fit.outcome.replicated;
    }
    s.loglikelihood = fit.fit.loglik;
    s.bic = resultsio::informationCriteria(fit.fit.loglik,
                                           modelParameters(in.deck.nitem, in.deck.nclass),
                                           static_cast<double>(in.ncase))
                .bic;
    return s;
}

// Everything after the files are set up. Returns the run's status.
int fitAndReport(const Source& source, Outputs& out, const Console& console,
                 const RunOptions& options, Input& in) {
    const int threads = numerics::threadsFor(options.threads);
    if (!readInput(source, out, console, threads, in)) return runshell::kReportedError;
    if (!checkData(source, out, in)) return runshell::kReportedError;

    MultiStartOptions starts;
    starts.starts = options.starts;
    starts.seed = options.seed;
    starts.method.accelerate = options.accelerated();
    starts.method.loops.threads = threads;
    // The progress file: each EM run as it begins, then its cycles.
    starts.onRun = [&](int run, int runs, int cap) {
        out.progress.put(fixedio::freeLine({"RUN", run, "OF", runs, "CYCLES AT MOST", cap}));
    };
    starts.onCycle = [&](int cycle, double loglik) {
        out.progress.put(fixedio::freeLine({"CYCLE", cycle, "LOGLIKELIHOOD", loglik}));
    };
    MultiStartFit fit = fitFromManyStarts(in.patterns, in.deck.nclass, in.ncase, in.deck.tol,
                                          in.deck.maxit, starts);
    RunRecord& r = in.record;
    if (fit.fit.error == ErrorCode::None || fit.fit.error == ErrorCode::IterationCap ||
        fit.fit.error == ErrorCode::NotCertified) {
        // After 2300 (no run converged) the results file keeps the band start's last values.
        r.estimated = true;
        r.fit = fit.fit;
        r.est = fit.est;
        r.outcome = fit.outcome;
        r.check = fit.check;
        in.summary = summaryOf(fit, in, source.csv.has_value());
    }
    if (fit.fit.error != ErrorCode::None) {
        const resultsio::Ending ending =
            fit.fit.error == ErrorCode::IterationCap   ? resultsio::Ending::MaxCycles
            : fit.fit.error == ErrorCode::NotCertified ? resultsio::Ending::NotCertified
                                                       : resultsio::Ending::Rejected;
        out.report.put(endingLine(r, ending, report::estimationError(fit.fit.error)));
        if (fit.check.convergence.checked) {
            r.message += "; " + resultsio::convergenceFigures(fit.check.convergence);
            out.report.put(report::convergenceCheck(fit.check));
        }
        return runshell::kReportedError;
    }
    writeResults(in, fit.fit, fit.est, fit.post, out, console);
    const int status = classifyAndSimulate(in, fit.est, fit.post, starts.method, out);
    out.report.put(report::modelComparison(r));
    out.report.put(report::startingValues(fit.outcome));
    out.report.put(report::convergenceCheck(fit.check));
    return status;
}

// The binary fit as the categorical model's estimates, for the bivariate residuals.
CategoricalEstimates asCategorical(const Estimates& est) {
    CategoricalEstimates c;
    c.resize(std::vector<int>(static_cast<std::size_t>(est.nitem), 2), est.nclass);
    c.eta = est.eta;
    for (int j = 0; j < est.nitem; ++j)
        for (int k = 0; k < est.nclass; ++k) {
            c.P(j, k, 0) = 1.0 - est.PI(j, k);
            c.P(j, k, 1) = est.PI(j, k);
        }
    return c;
}

CategoricalData asCategorical(const PatternTable& patterns) {
    CategoricalData d;
    d.nitem = patterns.nitem;
    d.categories.assign(static_cast<std::size_t>(patterns.nitem), 2);
    d.x.reserve(patterns.x.size());
    for (std::uint8_t v : patterns.x) d.x.push_back(static_cast<std::uint8_t>(v + 1));
    d.freq = patterns.freq;
    return d;
}

std::vector<std::string> itemNames(const Source& source, int nitem) {
    if (source.csv) return source.csv->itemNames;
    std::vector<std::string> names;
    for (int j = 1; j <= nitem; ++j) names.push_back("item " + std::to_string(j));
    return names;
}

// The row of the class-count comparison of a binary fit.
ComparisonRow comparisonRowOf(const RunRecord& r) {
    ComparisonRow row;
    row.classes = r.nclass;
    row.parameters = modelParameters(r.nitem, r.nclass);
    if (!r.fitted || r.ending != resultsio::Ending::Converged) return row;
    row.fitted = true;
    row.loglik = r.fit.loglik;
    row.cases = static_cast<double>(r.cases);
    row.entropyR2 = entropyRSquare(r.post, r.patterns);
    row.smallestClass = *std::min_element(r.est.eta.begin(), r.est.eta.end());
    row.replicated = r.outcome.replicated;
    return row;
}

// Where a CSV run's data came from, for ploven.json's "data"."csv".
resultsio::Json csvSourceOf(const RunOptions& options, const Source& source) {
    return resultsio::csvSourceJson(
        resultsio::CsvSource{options.csv->file.string(), source.csv->delimiter,
                             options.csv->model.id, options.csv->model.missing});
}

std::string titleOf(const Source& source) {
    std::string title = source.content.substr(0, source.content.find('\n'));
    title.resize(72, ' ');
    return title;
}

// A CSV run the categorical model fits: its report, results and cases files.
int runCategorical(const Source& source, Outputs& out, const Console& console,
                   const RunOptions& options, std::ostream& err, ComparisonRow* row) {
    const CsvDeck& csv = *source.csv;
    const CsvModelOptions& model = options.csv->model;
    const std::string title = titleOf(source);
    const int K = model.classes;
    const int J = static_cast<int>(csv.itemNames.size());
    std::vector<std::string> warnings;
    auto warnNow = [&](std::string text) {
        runshell::sayWarning(kProgram, text, err);
        warnings.push_back(std::move(text));
    };
    out.report.put(report::head(title, K, J));
    out.report.put(report::legend(csv.legend));
    if (K > (static_cast<double>(J) + 1.0) * 0.5) {
        out.report.flush();
        fixedio::consolePause("**** WARNING: VERY LARGE NUMBER OF CLASSES ****\n", console.in,
                              console.out, "PRESS ENTER TO CONTINUE OR CTRL BREAK TO INTERRUPT\n");
    }
    // An item with one observed category has no maximum inside the model, as for binary items.
    std::vector<DegenerateItem> degenerate;
    for (int j = 0; j < J; ++j) {
        std::vector<char> seen(static_cast<std::size_t>(csv.cases.rows.categories[j]) + 1, 0);
        for (int i = 0; i < csv.cases.rows.size(); ++i) seen[csv.cases.rows.row(i)[j]] = 1;
        int observed = 0, value = 0;
        for (std::size_t c = 1; c < seen.size(); ++c)
            if (seen[c]) {
                ++observed;
                value = static_cast<int>(c) - 1;
            }
        if (observed == 1) degenerate.push_back({j, value});
    }
    if (!degenerate.empty()) {
        DataSource seen;
        seen.cases = csv.cases.rows.size();
        seen.columns = csv.itemNames;
        seen.casesLeftOut = static_cast<long long>(csv.leftOutLines.size());
        out.report.put("\n     NUMBER OF CASES=" + fixedio::formatI(seen.cases, 8) + "\n");
        const std::string line = degenerateItemsLine(degenerate, J, seen);
        out.report.put(line);
        const std::string message = resultsio::trimmedLine(line);
        resultsio::Json doc =
            resultsio::documentHead("ploven", title, resultsio::Ending::Rejected, message);
        doc["model"] = {{"classes", K}, {"items", J}};
        doc["warnings"] = warnings;
        doc["notes"] = std::vector<std::string>{};
        out.results.put(resultsio::fileText(doc));
        out.cases.put("");
        out.finish();
        runshell::sayEnding(kProgram, message, err);
        return runshell::kReportedError;
    }
    if (model.simulations > 0)
        warnNow("the simulation study is for binary items without missing answers; not run");
    CategoricalStarts starts;
    starts.starts = options.starts;
    starts.seed = options.seed;
    starts.loops.threads = numerics::threadsFor(options.threads);
    starts.accelerate = options.accelerated();
    starts.onRun = [&](int run, int runs, int cap) {
        out.progress.put(fixedio::freeLine({"RUN", run, "OF", runs, "CYCLES AT MOST", cap}));
    };
    starts.onCycle = [&](int cycle, double loglik) {
        out.progress.put(fixedio::freeLine({"CYCLE", cycle, "LOGLIKELIHOOD", loglik}));
    };
    const CategoricalResult r = fitCategoricalCases(csv.cases, K, model.tolerance, model.maxCycles,
                                                    model.standardErrors, starts);
    out.report.put(categoricalReport(r, csv));
    if (r.se && !r.se->ok) warnNow("no standard errors: " + r.se->unavailable);
    if (!r.tooManyClasses && !r.fit.run.converged)
        warnNow("the fit did not converge within " + std::to_string(model.maxCycles) +
                " cycles (--max-cycles)");
    out.report.put(report::warnings(warnings));
    if (!r.tooManyClasses) out.report.put(bivariateReport(r.bvr, csv.itemNames));

    const resultsio::Ending ending = r.tooManyClasses      ? resultsio::Ending::Rejected
                                     : r.fit.run.converged ? resultsio::Ending::Converged
                                                           : resultsio::Ending::MaxCycles;
    const std::string message =
        r.tooManyClasses ? "*** ERROR ***  NUMBER OF CLASSES LARGER THAN NUMBER OF ITEMS" : "";
    resultsio::Json doc = resultsio::documentHead("ploven", title, ending, message);
    doc["model"] = {{"classes", K}, {"items", J}};
    resultsio::Json data;
    data["source"] = "csv";
    data["input"] = "cases";
    data["records"] = static_cast<long long>(csv.caseLines.size());
    data["cases"] = r.cases;
    data["patterns"] = r.patterns.size();
    data["cases_with_missing"] = csv.cases.casesWithMissing;
    data["cases_left_out"] = static_cast<long long>(csv.leftOutLines.size());
    data["csv"] = csvSourceOf(options, source);
    doc["data"] = std::move(data);
    if (!r.tooManyClasses) categoricalJson(r, csv, doc);
    doc["warnings"] = warnings;
    doc["notes"] = std::vector<std::string>{};
    out.results.put(resultsio::fileText(doc));
    out.cases.put(categoricalCasesFile(r, csv));
    out.finish();
    if (r.tooManyClasses) {
        runshell::sayEnding(kProgram, message, err);
        return runshell::kReportedError;
    }
    runshell::RunSummary s;
    s.converged = r.fit.run.converged;
    if (!s.converged) s.reason = runshell::cycleLimitReason(model.maxCycles, true);
    s.cycles = r.fit.run.cycles;
    s.starts = r.fit.finalRuns > 1 ? options.starts + 1 : 0;
    s.bestFound = r.fit.replicated;
    s.loglikelihood = r.fit.run.loglik;
    s.bic =
        resultsio::informationCriteria(r.fit.run.loglik, r.parameters, static_cast<double>(r.cases))
            .bic;
    s.report = source.outputDir / kFiles.report;
    runshell::saySummary(kProgram, s, err);
    if (row) {
        row->classes = K;
        row->parameters = r.parameters;
        row->fitted = r.fit.run.converged;
        row->loglik = r.fit.run.loglik;
        row->cases = static_cast<double>(r.cases);
        row->entropyR2 = r.entropyR2;
        row->smallestClass = smallestClass(r.fit.est);
        row->replicated = r.fit.replicated;
    }
    return s.converged ? runshell::kCompleted : runshell::kReportedError;
}

int run(const RunOptions& options, const Console& console, std::ostream& err, ComparisonRow* row) {
    const Source source = runshell::locateSource(kFiles, options, deckFromCsv);
    Outputs out(source, options.force);
    if (source.csv && source.csv->categorical)
        return runCategorical(source, out, console, options, err, row);

    Input in;
    in.err = &err;
    const int status = fitAndReport(source, out, console, options, in);
    in.record.notes = inputNotes(in);
    out.report.put(report::warnings(in.record.warnings));
    out.report.put(report::notes(in.record.notes));
    resultsio::Json doc = resultsDocument(in.record);
    if (source.csv) doc["data"]["csv"] = csvSourceOf(options, source);
    if (in.record.fitted) {
        const std::vector<BivariateResidual> bvr =
            bivariateResiduals(asCategorical(in.record.patterns), asCategorical(in.record.est));
        const std::vector<std::string> names = itemNames(source, in.record.nitem);
        doc["bivariate_residuals"] = bivariateJson(bvr, names);
        // A deck's report keeps its layout; a CSV run's ends with the residuals.
        if (source.csv) out.report.put(bivariateReport(bvr, names));
    }
    if (row) *row = comparisonRowOf(in.record);
    out.results.put(resultsio::fileText(doc));
    out.cases.put(casesFile(in.record));
    out.finish();
    if (in.summary) {
        // A fit: one line says how it ended, and where the report is.
        in.summary->report = source.outputDir / kFiles.report;
        if (!in.record.simulationError.empty()) {
            const std::string& e = in.record.simulationError;
            in.summary->reason = e.substr(std::min(e.size(), e.find_first_not_of(' ')));
        }
        runshell::saySummary(kProgram, *in.summary, err);
    } else if (in.record.ending != resultsio::Ending::Converged) {
        // A run refused before any fit: the reason as the report and the results file give it.
        runshell::sayEnding(kProgram, in.record.message, err);
    }
    return status;
}

} // namespace

namespace {

constexpr const char* kComparisonJson = "ploven-comparison.json";
constexpr const char* kComparisonCsv = "ploven-comparison.csv";

// Writes text to dir/name, refusing an existing file without --force.
void writeWhole(const std::filesystem::path& file, const std::string& text) {
    std::ofstream f(file, std::ios::binary | std::ios::trunc);
    f << text;
    if (!f) throw latent::InputError(kProgram + ": cannot write " + file.string());
}

// BLRT p-values of every K > 1 of the rows, from the categorical model fitted to the cases.
void bootstrapTests(const RunOptions& options, const CsvDeck& csv, std::vector<ComparisonRow>& rows,
                    fixedio::ProgressFile& progress) {
    const CsvModelOptions& model = options.csv->model;
    CategoricalStarts starts;
    starts.starts = options.starts;
    starts.seed = options.seed;
    starts.loops.threads = numerics::threadsFor(options.threads);
    starts.accelerate = options.accelerated();
    const CategoricalData patterns = foldCategorical(csv.cases.rows, nullptr);
    for (ComparisonRow& row : rows) {
        const int K = row.classes;
        if (K < 2 || K > csv.cases.rows.nitem) continue;
        const CategoricalFit h0 =
            fitCategorical(patterns, K - 1, model.tolerance, model.maxCycles, starts);
        const CategoricalFit h1 =
            fitCategorical(patterns, K, model.tolerance, model.maxCycles, starts);
        BootstrapOptions b;
        b.samples = model.blrt;
        b.seed = options.seed + static_cast<std::uint64_t>(K);
        b.starts.loops = starts.loops;
        b.starts.accelerate = starts.accelerate;
        b.tol = model.tolerance;
        b.maxCycles = model.maxCycles;
        b.onSample = [&](int sample, int samples) {
            progress.put(fixedio::freeLine(
                {"BLRT", K - 1, "AGAINST", K, "CLASSES SAMPLE", sample, "OF", samples}));
        };
        const double lr = 2.0 * (std::max(h1.run.loglik, h0.run.loglik) - h0.run.loglik);
        row.blrtP = bootstrapLikelihoodRatio(csv.cases.rows, h0.est, lr, b).p;
    }
}

// --classes FIRST-LAST: every count's usual outputs in classes-K/ under the output folder; the
// comparison in the report, ploven-comparison.json and ploven-comparison.csv there.
int enumerate(const RunOptions& options, const Console& console, std::ostream& err) {
    const CsvModelOptions& model = options.csv->model;
    const Source source = runshell::locateSource(kFiles, options, deckFromCsv);
    const std::filesystem::path dir = source.outputDir;
    std::filesystem::create_directories(dir);
    for (const std::string_view name :
         {std::string_view(kFiles.report), std::string_view(kComparisonJson),
          std::string_view(kComparisonCsv), std::string_view(kFiles.progress)}) {
        fixedio::requireWritableName(dir, name, kProgram);
        if (!options.force && name != kFiles.progress && std::filesystem::exists(dir / name))
            throw latent::InputError(kProgram + ": " + (dir / name).string() +
                                     " exists; --force replaces it");
    }
    fixedio::ProgressFile progress(dir, std::string(kFiles.progress), kProgram);
    std::vector<ComparisonRow> rows;
    int status = runshell::kCompleted;
    for (int K = model.classes; K <= model.lastClasses; ++K) {
        progress.put(fixedio::freeLine({"CLASSES", K}));
        RunOptions one = options;
        one.csv->model.classes = K;
        one.csv->model.lastClasses = K;
        one.csv->model.blrt = 0;
        one.outputDir = dir / ("classes-" + std::to_string(K));
        ComparisonRow row;
        row.classes = K;
        status = std::max(status, run(one, console, err, &row));
        rows.push_back(row);
    }
    if (model.blrt > 0) bootstrapTests(options, *source.csv, rows, progress);
    progress.close();
    std::string text = report::head(titleOf(source), model.classes,
                                    static_cast<int>(source.csv->itemNames.size()));
    text += report::legend(source.csv->legend);
    text += "     CLASS COUNTS " + std::to_string(model.classes) + " TO " +
            std::to_string(model.lastClasses) + ", EACH FROM " +
            std::to_string(options.starts + 1) + " STARTS\n";
    text += comparisonReport(rows, model.blrt);
    writeWhole(dir / kFiles.report, text);
    writeWhole(dir / kComparisonJson, resultsio::fileText(comparisonJson(rows)));
    writeWhole(dir / kComparisonCsv, comparisonCsv(rows));
    err << kProgram << ": compared " << rows.size() << " class counts; report "
        << (dir / kFiles.report).string() << "\n";
    return status;
}

} // namespace

int run(const RunOptions& options, std::FILE* consoleIn, std::ostream& err, std::FILE* consoleOut) {
    return runshell::guardedRun(kProgram, err, [&] {
        const Console console{consoleIn, consoleOut};
        if (options.csv && options.csv->model.lastClasses > options.csv->model.classes)
            return enumerate(options, console, err);
        return run(options, console, err, nullptr);
    });
}

int runInFolder(const std::filesystem::path& dir, std::FILE* consoleIn, std::ostream& err,
                std::FILE* consoleOut, RunOptions options) {
    options.folder = dir;
    options.deck.clear();
    options.outputDir = dir;
    return run(options, consoleIn, err, consoleOut);
}

} // namespace ploven
