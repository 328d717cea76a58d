#include "travik/run.hpp"

#include "fixedio/console.hpp"
#include "fixedio/files.hpp"
#include "fixedio/freeread.hpp"
#include "fixedio/layout.hpp"
#include "fixedio/memory.hpp"
#include "latent/input_error.hpp"
#include "numerics/parallel_blocks.hpp"
#include "resultsio/criteria.hpp"
#include "runshell/outputs.hpp"
#include "runshell/status.hpp"
#include "travik/cases_file.hpp"
#include "travik/convergence_report.hpp"
#include "travik/deck.hpp"
#include "travik/deck_checks.hpp"
#include "travik/deck_warnings.hpp"
#include "travik/em.hpp"
#include "travik/estimates_report.hpp"
#include "travik/fit.hpp"
#include "travik/footprint.hpp"
#include "travik/identification.hpp"
#include "travik/margins.hpp"
#include "travik/model_comparison.hpp"
#include "travik/model_fit_report.hpp"
#include "travik/model_state.hpp"
#include "travik/notes.hpp"
#include "travik/parameter_vector.hpp"
#include "travik/patterns.hpp"
#include "travik/report_header.hpp"
#include "travik/restart_file.hpp"
#include "travik/results.hpp"
#include "travik/results_json.hpp"
#include "travik/scores.hpp"
#include "travik/starting_values.hpp"
#include "travik/variance.hpp"

#include <algorithm>
#include <cmath>

namespace travik {

namespace fs = std::filesystem;
using fixedio::Layout;
using fixedio::OutputFile;
using latent::InputError;

namespace {

const std::string kProgram(kFiles.program);

// The deck a run reads: a file, or one built from a CSV file.
using Source = runshell::Source<CsvDeck>;

// A deck run has always written LI8.OUT, empty unless the deck saves its estimates; a CSV run
// writes it only when asked to, and a leftover of that name does not stop it otherwise.
bool writesEstimates(const Source& source) {
    return !source.csv || source.csv->saveEstimates;
}

struct RunFiles {
    runshell::Outputs outputs;
    OutputFile& report;
    OutputFile* estimates; // null when the run writes no estimates file
    OutputFile& matrix;
    OutputFile& results;
    OutputFile& cases;

    RunFiles(const Source& source, bool force)
        : outputs(kFiles, source, force,
                  writesEstimates(source) ? std::vector<std::string_view>{}
                                          : std::vector<std::string_view>{kFiles.estimates}),
          report(outputs.file(kFiles.report)),
          estimates(writesEstimates(source) ? &outputs.file(kFiles.estimates) : nullptr),
          matrix(outputs.file(kMatrixFile)), results(outputs.file(kFiles.results)),
          cases(outputs.file(kFiles.cases)) {}

    // fort.2 is written directly, so the front end can follow it.
    void toProgress(std::string_view text) { outputs.progress().put(text); }

    // The run ended by itself: the results files are written and the outputs receive their
    // names.
    void finish(const RunRecord& record) {
        results.put(resultsio::fileText(resultsDocument(record)));
        cases.put(casesFile(record));
        outputs.commit();
    }
};

// Ends a run whose deck was rejected: the reason in the report, the results file and on the
// terminal.
int rejected(RunFiles& files, RunRecord& record, const std::string& line, std::ostream& err,
             const std::string& detail = "") {
    files.report.put(line);
    record.ending = resultsio::Ending::Rejected;
    record.message = resultsio::trimmedLine(line) + detail;
    files.finish(record);
    runshell::sayEnding(kProgram, record.message, err);
    return runshell::kReportedError;
}

void readOrGenerateStartingValues(const RunOptions& o, const Source& source, ModelState& m,
                                  RunNotes& notes, std::ostream& err) {
    if (m.deck.init == 0) {
        generateStartingValues(m);
        return;
    }
    std::optional<fs::path> path;
    if (!o.start.empty()) {
        path = o.start;
    } else {
        path = fixedio::findFixedName(source.deckFolder, kFiles.restart, kProgram);
        if (!path) {
            throw InputError(
                kProgram +
                ": the deck asks for starting values (INIT = " + std::to_string(m.deck.init) +
                ") but there is no " + std::string(kFiles.restart) + " in " +
                fixedio::folderName(source.deckFolder) + " (or give one with --start FILE)");
        }
    }
    const std::string label = o.start.empty() ? path->filename().string() : path->string();
    const std::string text = fixedio::FreeReader::fileContent(kProgram, *path, label);
    fixedio::FreeReader in(kProgram, label, text);
    readStartingValues(in, m);
    std::vector<std::string> warnings = startingValueWarnings(text, m.deck);
    warnOnConsole(warnings, err);
    notes.warnings.insert(notes.warnings.end(), warnings.begin(), warnings.end());
}

// A deck whose tables cannot fit is refused before any work is done (footprint.hpp).
void requireMemoryForGrid(const Deck& d, int threads) {
    const double points = std::pow(static_cast<double>(pointsPerFactor(d)), d.nf);
    fixedio::requireMemory(kProgram,
                           "the tables of " + std::to_string(d.ncase) + " cases on " +
                               std::to_string(static_cast<long long>(points)) + " grid points",
                           runFootprint(d, threads).bytes(),
                           "use fewer quadrature points or fewer cases");
}

// Binary items under independence: each case's product of observed shares, logged.
double independenceLoglikelihood(const ModelState& m) {
    const Deck& d = m.deck;
    const ObservedMargins& obs = m.observed;
    double logl = 0.0;
    for (int k = 0; k < d.ncase; ++k) {
        const double* row = m.x.row(k);
        double product = 1.0;
        for (int i = 0; i < d.nb; ++i) {
            double v = truncated(row[i]);
            if (v == 1.0)
                product *= obs.p1[i];
            else if (v == 0.0)
                product *= 1.0 - obs.p1[i] - obs.pmiss[i];
        }
        logl += std::log(product);
    }
    return logl;
}

// The scores, then per item type its patterns, fit measures and margins; what the results
// files need of them into record.
void reportScoresAndFit(const ModelState& m, const Estimation& est, double logl0,
                        OutputFile& report, RunRecord& record) {
    const Deck& d = m.deck;
    Scores& scores = record.scores;
    posteriorMeans(m, est, scores);
    const std::vector<int> order = ascendingOrder(scores.eap1);
    componentScores(m, scores);
    if (d.iprs == 1) report.put(scoringSection(m, scores, order));
    if (d.nb > 0) {
        // Each binary pattern's probability under the model, over the binary items alone: the
        // marginal likelihood of a case would also hold its other items' densities.
        const PatternTable binary = foldBinary(m);
        const PatternPosterior post = patternPosterior(d, est.grid, est.tables, binary, m.threads);
        record.fit = goodnessOfFit(d, binary, post, est.weights.logl, logl0);
        record.fit->invalidReason = fullPatternInvalidReason(d, record.casesWithMissing);
        if (!record.fit->invalidReason.empty())
            record.notes.notes.push_back("the goodness-of-fit measures are not valid for this "
                                         "model: " +
                                         record.fit->invalidReason);
        report.put(fitSection(*record.fit));
        record.binaryMargins = computeBinaryMargins(m, est.grid, est.tables, binary);
        report.put(binaryMarginsSection(*record.binaryMargins));
        report.put(observedExpectedSection(m, binary, post.f));
    }
    if (d.nc > 0) {
        record.nominalMargins =
            computeNominalMargins(m, est.grid, est.tables, foldPolytomous(m, 1));
        report.put(polytomousMarginsSection(*record.nominalMargins));
    }
    if (d.no > 0) {
        record.ordinalMargins =
            computeOrdinalMargins(m, est.grid, est.tables, foldPolytomous(m, 2));
        report.put(polytomousMarginsSection(*record.ordinalMargins));
    }
}

// The loglikelihood the program's own starting values would start the fit from (rotated as
// a fit's start is), for a run whose start was read.
double generatedStartLoglikelihood(const ModelState& m) {
    ModelState generated = m;
    generateStartingValues(generated);
    rotateToAnchor(generated.deck, generated.params);
    ItemTables t;
    CaseWeights w;
    return loglikelihood(generated, gridFor(generated.deck), t, w);
}

// What the reader of the estimates must know: items frozen at the bound, and parameters
// without a standard error and why.
std::vector<std::string> standardErrorWarnings(const ModelState& m, const Estimation& est,
                                               const Covariance& cov) {
    std::vector<std::string> warnings;
    auto listed = [](const std::vector<std::string>& names) {
        constexpr std::size_t shown = 8;
        std::string list;
        for (std::size_t i = 0; i < names.size() && i < shown; ++i)
            list += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
        if (names.size() > shown) list += " and " + std::to_string(names.size() - shown) + " more";
        return list;
    };
    if (!est.frozenItems.empty())
        warnings.push_back(listed(est.frozenItems) +
                           (est.frozenItems.size() == 1 ? " is" : " are") +
                           " frozen at the bound (an intercept or loading of 10 or more stops an "
                           "item's updates): such estimates mean little, and they have no standard "
                           "errors");
    if (!cov.unavailable.empty()) {
        warnings.push_back("no standard errors: " + cov.unavailable);
        return warnings;
    }
    const std::vector<std::string> names = parameterNames(m.deck);
    const std::vector<char> moving = movingParameters(m.deck, m.params);
    std::vector<std::string> unidentified;
    for (int p : cov.withoutErrors)
        if (moving[p]) unidentified.push_back(names[p]);
    if (!unidentified.empty())
        warnings.push_back("no standard errors for " + listed(unidentified) +
                           ": the information matrix is singular in them, so the data do not "
                           "identify them at the estimates");
    return warnings;
}

// Why the run is not a converged fit, as the results file says it.
void recordOutcome(const Estimation& est, const std::vector<std::string>& unsuccessful,
                   RunRecord& r) {
    if (unsuccessful.empty()) return;
    if (!est.failure.empty() || est.diverged)
        r.ending = resultsio::Ending::Diverged;
    else if (!est.converged || est.check.cycleLimit)
        r.ending = resultsio::Ending::MaxCycles;
    else
        r.ending = resultsio::Ending::NotCertified;
    for (const std::string& reason : unsuccessful)
        r.message += (r.message.empty() ? "" : "; ") + reason;
}

// Why the run ends with status 1, as the terminal says it: a deck run's reasons as the report
// gives them, a divergence first; a CSV run's limit is --max-cycles, not the deck's MAXIT, so its
// reasons name that.
std::string terminalReason(const Deck& d, const Estimation& est,
                           std::vector<std::string> unsuccessful, bool csv) {
    // A divergence is how such a run ended: it leads.
    if (est.diverged && unsuccessful.size() > 1)
        std::rotate(unsuccessful.rbegin(), unsuccessful.rbegin() + 1, unsuccessful.rend());
    std::string reason;
    for (std::string part : unsuccessful) {
        if (csv && part.starts_with("no convergence within")) {
            part = runshell::cycleLimitReason(std::max(d.maxit, 1), true);
        } else if (csv) {
            for (auto at = part.find("MAXIT"); at != std::string::npos; at = part.find("MAXIT"))
                part.replace(at, 5, "--max-cycles");
        }
        reason += (reason.empty() ? "" : "; ") + part;
    }
    return reason;
}

// The line that ends a run with a fit on the terminal.
runshell::RunSummary summaryOf(const RunRecord& record, const Estimation& est,
                               const std::vector<std::string>& unsuccessful, bool csv,
                               std::filesystem::path report) {
    runshell::RunSummary s;
    s.converged = unsuccessful.empty();
    s.reason = terminalReason(record.deck, est, unsuccessful, csv);
    s.newtonSteps = static_cast<int>(est.check.newton.size());
    s.cycles = est.iter - s.newtonSteps;
    s.loglikelihood = record.loglik;
    s.bic = resultsio::informationCriteria(record.loglik, modelParameters(record.deck),
                                           record.deck.ncase)
                .bic;
    s.report = std::move(report);
    return s;
}

int run(const RunOptions& options, std::FILE* consoleIn, std::ostream& err) {
    const Source source = runshell::locateSource(kFiles, options, deckFromCsv, options.start);
    RunFiles files(source, options.force);
    ModelState m;
    RunRecord record;
    m.deck.fullRule = options.points;
    fixedio::FreeReader deck(kProgram, source.label, source.content);
    std::string shifted;
    const std::optional<std::string> deckRejected = readDeck(deck, m, &shifted);
    record.title = m.deck.title;
    if (deckRejected) {
        const int status = rejected(files, record, *deckRejected, err);
        if (!shifted.empty()) runshell::sayEnding(kProgram, source.label + " " + shifted, err);
        return status;
    }
    int column = -1;
    if (auto message = checkObservedItems(m, &column))
        return rejected(files, record, *message, err,
                        source.csv ? " (CSV column \"" + source.csv->items[column].name + "\")"
                                   : "");
    // A CSV run's cycle limit may exceed what a deck can hold.
    if (source.csv) m.deck.maxit = options.csv->model.maxCycles;
    m.threads = numerics::threadsFor(options.threads);
    requireMemoryForGrid(m.deck, m.threads);
    RunNotes& notes = record.notes;
    notes.warnings = deckWarnings(source.content, m.deck);
    warnOnConsole(notes.warnings, err);
    record.inputCases = m.x.rows;
    if (auto note = leaveOutEmptyCases(m)) notes.notes.push_back(*note);
    computeObservedMargins(m);
    groupIdenticalRows(m.x);
    record.deckRead = record.dataRead = true;
    record.deck = m.deck;
    record.caseNumbers = m.caseNumbers;
    record.casesWithMissing =
        static_cast<int>(std::llround(m.observed.missingShare * m.deck.ncase));
    if (source.csv) {
        for (const CsvItem& item : source.csv->items) record.itemNames.push_back(item.name);
        record.caseIds = source.csv->caseIds;
        record.idColumn = options.csv->model.id;
        for (const CsvItem& item : source.csv->items)
            if (!item.categories.empty()) record.categoryLabels.push_back(item.categories);
        record.csvSource = resultsio::CsvSource{options.csv->file.string(), source.csv->delimiter,
                                                options.csv->model.id, options.csv->model.missing};
    }
    const bool accelerate = options.accelerated();
    std::vector<std::string> legend = source.csv ? source.csv->legend : std::vector<std::string>{};
    if (source.csv && accelerate)
        legend.push_back("  EM: ACCELERATED; RUN " + std::string(kFiles.deck) +
                         " WITH --accelerate TO REPEAT THIS FIT");
    files.report.put(headerSection(m, legend));
    readOrGenerateStartingValues(options, source, m, notes, err);
    if (m.deck.nf == 2) {
        rotateToAnchor(m.deck, m.params);
        notes.notes.push_back(
            fixedLoadingName(m.deck) +
            " on factor 2 is fixed at 0 to identify the rotation of the factors (the "
            "starting values are rotated to it); its standard error is 0");
    }
    files.report.put(initialEstimatesSection(m));
    const double logl0 = m.deck.nb > 0 ? independenceLoglikelihood(m) : 0.0;
    EstimationOptions fitting;
    fitting.accelerate = accelerate;
    if (m.deck.init != 0) fitting.generatedStartLoglik = generatedStartLoglikelihood(m);
    if (const long long p = modelParameters(m.deck); p > m.deck.ncase) {
        const std::string warning =
            "the model has " + std::to_string(p) + " free parameters but only " +
            std::to_string(m.deck.ncase) +
            " cases: the data cannot identify it, so read its estimates as a "
            "check of the deck only";
        notes.warnings.push_back(warning);
        warnOnConsole({warning}, err);
    }

    EmOutput out{[&](std::string_view text) { files.report.put(text); },
                 [&](std::string_view text) { files.toProgress(text); },
                 [&](std::string_view text) { fixedio::consolePause(text, consoleIn); }};
    Estimation est = estimate(m, out, fitting);
    const std::vector<std::string> unsuccessful = unsuccessfulOutcome(m.deck, est);
    record.accelerated = accelerate;
    record.check = est.check;
    record.integration = est.integration;
    record.pointsPerFactor = est.grid.nq;
    record.fullRule = m.deck.fullRule > 0;
    record.estimated = true;
    record.cycles = est.iter;
    record.loglik = est.history.back();
    record.params = m.params;
    recordOutcome(est, unsuccessful, record);
    if (!est.failure.empty()) {
        // Nothing after the cycles can be computed from values that are not numbers.
        files.report.put(notesSection(notes));
        files.finish(record);
        runshell::sayEnding(kProgram, unsuccessful.front(), err);
        return runshell::kReportedError;
    }
    files.report.put("\n *** ITERATIONS FINISHED ***\n\n");
    files.toProgress("\n\n *** ITERATIONS FINISHED ***\n\n\n" +
                     fixedio::freeLine({"ITERATIONS FINISHED"}));
    if (m.deck.isave == 1 && files.estimates) files.estimates->put(savedEstimates(m));

    record.fitted = true;
    Covariance& cov = record.cov;
    cov = variance(m, est, out.pause);
    for (const std::string& warning : standardErrorWarnings(m, est, cov)) {
        notes.warnings.push_back(warning);
        warnOnConsole({warning}, err);
    }
    files.report.put(estimatesSection(m, cov));
    StandardizedLoadings& standardized = record.standardized;
    standardized = standardizedLoadings(m);
    files.matrix.put(loadingProductsMatrix(standardized));
    files.report.put(standardizedSection(m, standardized));
    reportScoresAndFit(m, est, logl0, files.report, record);
    files.report.put(modelComparisonSection(m.deck, record.loglik));
    files.report.put(convergenceSection(est));
    record.limitedFit = limitedInformationFit(m.deck, m.params, est.grid, m.x);
    files.report.put(limitedFitSection(*record.limitedFit));
    record.itemFit = itemFit(m.deck, m.params, est.grid, m.x);
    files.report.put(itemFitSection(m.deck, *record.itemFit));
    record.localDependence = localDependence(m.deck, m.params, est.grid, m.x);
    files.report.put(localDependenceSection(*record.localDependence));
    record.irt = irtParameters(m.deck, m.params, &cov);
    files.report.put(irtSection(m.deck, *record.irt));
    const RotationMethod rotation =
        options.rotate.value_or(source.csv ? RotationMethod::Oblimin : RotationMethod::None);
    if (m.deck.nf == 2 && rotation != RotationMethod::None) {
        record.rotation = rotateStandardized(rotation, standardized);
        files.report.put(rotationSection(m.deck, standardized, *record.rotation));
    } else if (m.deck.nf == 1 && options.rotate && *options.rotate != RotationMethod::None) {
        notes.notes.push_back("--rotate has no effect on a one-factor model");
    }
    if (const std::string warning = integrationWarning(est); !warning.empty()) {
        notes.warnings.push_back(warning);
        warnOnConsole({warning}, err);
    }
    files.report.put(notesSection(notes));
    files.finish(record);
    runshell::saySummary(kProgram,
                         summaryOf(record, est, unsuccessful, source.csv.has_value(),
                                   source.outputDir / kFiles.report),
                         err);
    return unsuccessful.empty() ? runshell::kCompleted : runshell::kReportedError;
}

} // namespace

int runInFolder(const fs::path& dir, std::ostream& err, std::FILE* consoleIn) {
    RunOptions options;
    options.folder = dir;
    options.outputDir = dir;
    return run(options, err, consoleIn);
}

int run(const RunOptions& options, std::ostream& err, std::FILE* consoleIn) {
    return runshell::guardedRun(kProgram, err, [&] { return run(options, consoleIn, err); });
}

} // namespace travik
