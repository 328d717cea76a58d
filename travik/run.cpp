#include "travik/run.hpp"

#include "fixedio/files.hpp"
#include "fixedio/freeread.hpp"
#include "fixedio/console.hpp"
#include "fixedio/layout.hpp"
#include "fixedio/memory.hpp"
#include "travik/deck.hpp"
#include "travik/deck_checks.hpp"
#include "travik/deck_warnings.hpp"
#include "travik/em.hpp"
#include "travik/estimates_report.hpp"
#include "travik/fit.hpp"
#include "travik/margins.hpp"
#include "travik/notes.hpp"
#include "travik/patterns.hpp"
#include "travik/scores.hpp"
#include "travik/variance.hpp"
#include "travik/model_state.hpp"
#include "travik/report_header.hpp"
#include "travik/restart_file.hpp"

#include <cmath>
#include <new>

namespace travik {

namespace fs = std::filesystem;
using fixedio::InputError;
using fixedio::Layout;
using fixedio::OutputFile;

namespace {

constexpr const char* kProgram = "travik";

const std::vector<std::string> kOutputs = {"LI7.OUT", "LI8.OUT", "MATRIX.OUT"};

struct RunFiles {
    fs::path dir;
    fs::path deck;
    fixedio::StagedOutputs outputs;
    OutputFile& report;    // LI7.OUT
    OutputFile& estimates; // LI8.OUT
    OutputFile& matrix;    // MATRIX.OUT
    fixedio::ProgressFile progress; // fort.2: written directly, so the front end can follow it

    RunFiles(const fs::path& folder, fs::path deckPath)
        : dir(folder), deck(std::move(deckPath)), outputs(folder, kProgram, kOutputs),
          report(outputs.file("LI7.OUT")), estimates(outputs.file("LI8.OUT")),
          matrix(outputs.file("MATRIX.OUT")), progress(folder, "fort.2", kProgram) {}

    void toProgress(std::string_view text) { progress.put(text); }

    // The run ended by itself: the outputs receive their names.
    void finish() {
        progress.close();
        outputs.commit();
    }
};

fs::path findDeck(const fs::path& dir) {
    auto deck = fixedio::findFixedName(dir, "LAT.INP", kProgram);
    if (!deck) {
        throw InputError(std::string(kProgram) + ": no input deck LAT.INP (in any letter case) in " +
                         fixedio::folderName(dir));
    }
    return *deck;
}

// Ends a run whose deck was rejected: the reason in the report and on the terminal.
int rejected(RunFiles& files, const std::string& line, std::ostream& err) {
    files.report.put(line);
    files.finish();
    const std::size_t from = line.find_first_not_of(' '), to = line.find_last_not_of(" \n");
    err << kProgram << ": " << line.substr(from, to + 1 - from) << '\n';
    return 1;
}

void readOrGenerateStartingValues(const RunFiles& files, ModelState& m, RunNotes& notes, std::ostream& err) {
    if (m.deck.init == 0) {
        generateStartingValues(m);
        return;
    }
    auto path = fixedio::findFixedName(files.dir, "LAT3.INP", kProgram);
    if (!path) {
        throw InputError(std::string(kProgram) + ": the deck asks for starting values (INIT = " +
                         std::to_string(m.deck.init) + ") but there is no LAT3.INP in " +
                         fs::absolute(files.dir).lexically_normal().string());
    }
    fixedio::FreeReader in = fixedio::FreeReader::fromFile(kProgram, *path, path->filename().string());
    readStartingValues(in, m);
    std::vector<std::string> warnings = startingValueWarnings(fileText(path->string()), m.deck);
    warnOnConsole(warnings, err);
    notes.warnings.insert(notes.warnings.end(), warnings.begin(), warnings.end());
}

// The joint weights of every case at every grid point are kept for the later stages: a deck
// whose table cannot fit is refused before any work is done.
void requireMemoryForGrid(const Deck& d) {
    const double points = std::pow(static_cast<double>(storedPoints(d.nq)), d.nf);
    fixedio::requireMemory(kProgram,
                           "the table of " + std::to_string(d.ncase) + " cases by " +
                               std::to_string(static_cast<long long>(points)) + " grid points",
                           static_cast<double>(d.ncase) * points * sizeof(double),
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
            if (v == 1.0) product *= obs.p1[i];
            else if (v == 0.0) product *= 1.0 - obs.p1[i] - obs.pmiss[i];
        }
        logl += std::log(product);
    }
    return logl;
}

// The scores, then per item type its patterns, fit measures and margins.
void reportScoresAndFit(const ModelState& m, const Estimation& est, double logl0, OutputFile& report) {
    const Deck& d = m.deck;
    Scores scores;
    posmean(d, est, scores);
    const std::vector<int> order = ascendingOrder(scores.ez1);
    component(m, scores);
    if (d.iprs == 1) report.put(scoringSection(m, scores, order));
    if (d.nb > 0) {
        // Each binary pattern's probability under the model, over the binary items alone: the
        // marginal likelihood of a case would also hold its other items' densities.
        const PatternTable binary = foldBinary(m);
        const PatternPosterior post = patternPosterior(d, est.grid, est.tables, binary);
        report.put(fitSection(likeratio(d, binary, post, est.weights.logl, logl0)));
        report.put(binaryMarginsSection(marginb(m, est.grid, est.tables, binary)));
        report.put(observedExpectedSection(m, binary, post.f));
    }
    if (d.nc > 0) report.put(polytomousMarginsSection(marginc(m, est.grid, est.tables, foldPolytomous(m, 1))));
    if (d.no > 0) report.put(polytomousMarginsSection(margino(m, est.grid, est.tables, foldPolytomous(m, 2))));
}

int run(const fs::path& dir, std::FILE* consoleIn, std::ostream& err) {
    // The deck is looked for first and fort.2 checked, so a refused run leaves nothing behind.
    fs::path deckPath = findDeck(dir);
    fixedio::requireWritableName(dir, "fort.2", kProgram);
    RunFiles files(dir, std::move(deckPath));
    ModelState m;
    fixedio::FreeReader deck =
        fixedio::FreeReader::fromFile(kProgram, files.deck, files.deck.filename().string());
    if (auto message = readDeck(deck, m)) return rejected(files, *message, err);
    if (auto message = checkObservedItems(m)) return rejected(files, *message, err);
    requireMemoryForGrid(m.deck);
    RunNotes notes;
    notes.warnings = deckWarnings(fileText(files.deck.string()), m.deck);
    warnOnConsole(notes.warnings, err);
    if (auto note = leaveOutEmptyCases(m)) notes.notes.push_back(*note);
    computeObservedMargins(m);
    files.report.put(headerSection(m));
    readOrGenerateStartingValues(files, m, notes, err);
    files.report.put(initialEstimatesSection(m));
    const double logl0 = m.deck.nb > 0 ? independenceLoglikelihood(m) : 0.0;

    EmOutput out{[&](std::string_view text) { files.report.put(text); },
                 [&](std::string_view text) { files.toProgress(text); },
                 [&](std::string_view text) { fixedio::consolePause(text, consoleIn); }};
    Estimation est = estimate(m, out);
    const std::vector<std::string> unsuccessful = unsuccessfulOutcome(m.deck, est);
    if (!est.failure.empty()) {
        // Nothing after the cycles can be computed from values that are not numbers.
        files.report.put(notesSection(notes));
        files.finish();
        err << kProgram << ": " << unsuccessful.front() << '\n';
        return 1;
    }
    files.report.put("\n *** ITERATIONS FINISHED ***\n\n");
    files.toProgress("\n\n *** ITERATIONS FINISHED ***\n\n\n" + fixedio::freeLine({"ITERATIONS FINISHED"}));
    if (m.deck.isave == 1) files.estimates.put(savedEstimates(m));

    Covariance cov = variance(m, est, out.pause);
    files.report.put(estimatesSection(m, cov));
    StandardizedLoadings standardized = standardizedLoadings(m);
    files.matrix.put(prodma(standardized));
    files.report.put(standardizedSection(m, standardized));
    reportScoresAndFit(m, est, logl0, files.report);
    files.report.put(notesSection(notes));
    files.finish();
    for (const std::string& reason : unsuccessful) err << kProgram << ": " << reason << '\n';
    return unsuccessful.empty() ? 0 : 1;
}

} // namespace

int runInFolder(const fs::path& dir, std::ostream& err, std::FILE* consoleIn) {
    try {
        return run(dir, consoleIn, err);
    } catch (const InputError& e) {
        err << e.what() << '\n';
    } catch (const std::bad_alloc&) {
        err << kProgram << ": not enough memory for this deck\n";
    } catch (const std::exception& e) {
        // A folder removed under the run, or another system error: a message, never an abort.
        err << kProgram << ": " << e.what() << '\n';
    }
    return 2;
}

} // namespace travik
