#include "travik/run.hpp"

#include "fixedio/files.hpp"
#include "fixedio/freeread.hpp"
#include "fixedio/console.hpp"
#include "fixedio/layout.hpp"
#include "travik/deck.hpp"
#include "travik/em.hpp"
#include "travik/estimates_report.hpp"
#include "travik/fit.hpp"
#include "travik/margins.hpp"
#include "travik/patterns.hpp"
#include "travik/scores.hpp"
#include "travik/variance.hpp"
#include "travik/model_state.hpp"
#include "travik/report_header.hpp"

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
    OutputFile progress;   // fort.2: written directly, so the front end can follow it

    RunFiles(const fs::path& folder, fs::path deckPath)
        : dir(folder), deck(std::move(deckPath)), outputs(folder, kProgram, kOutputs),
          report(outputs.file("LI7.OUT")), estimates(outputs.file("LI8.OUT")),
          matrix(outputs.file("MATRIX.OUT")) {}

    void toProgress(std::string_view text) {
        if (!progress.isOpen()) progress = fixedio::createOrTruncate(dir, "fort.2", kProgram);
        progress.put(text);
        progress.flush(); // the front end follows the cycles while the run goes on
    }

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

void readOrGenerateStartingValues(const RunFiles& files, ModelState& m) {
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

// The final estimates in the layout of the starting-values file.
std::string savedEstimates(const ModelState& m) {
    static const Layout record("10*(3X,F8.4)");
    const Parameters& p = m.params;
    const int nf = m.deck.nf;
    std::string out;
    for (const BinaryItem& b : p.binary)
        out += nf == 2 ? record.format({b.alpha[0], b.alpha[1], b.alpha[2]}) : record.format({b.alpha[0], b.alpha[1]});
    for (const NormalItem& n : p.normal)
        out += nf == 2 ? record.format({n.mu, n.lambda1, n.lambda2, n.psi}) : record.format({n.mu, n.lambda1, n.psi});
    for (const NominalItem& c : p.nominal)
        for (int j = 2; j <= c.categories; ++j) {
            const auto& a = c.ac[j];
            out += nf == 2 ? record.format({a[0], a[1], a[2]}) : record.format({a[0], a[1]});
        }
    for (const OrdinalItem& o : p.ordinal) {
        for (int j = 1; j < o.categories; ++j) out += record.format({o.thr[j]});
        out += nf == 2 ? record.format({o.ao[1], o.ao[2]}) : record.format({o.ao[1]});
    }
    return out;
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

int run(const fs::path& dir, std::FILE* consoleIn) {
    // The deck is looked for first and fort.2 checked, so a refused run leaves nothing behind.
    fs::path deckPath = findDeck(dir);
    fixedio::requireWritableName(dir, "fort.2", kProgram);
    RunFiles files(dir, std::move(deckPath));
    ModelState m;
    fixedio::FreeReader deck =
        fixedio::FreeReader::fromFile(kProgram, files.deck, files.deck.filename().string());
    if (auto message = readDeck(deck, m)) {
        files.report.put(*message);
        files.finish();
        return 1;
    }
    computeObservedMargins(m);
    files.report.put(headerSection(m));
    readOrGenerateStartingValues(files, m);
    files.report.put(initialEstimatesSection(m));
    const double logl0 = m.deck.nb > 0 ? independenceLoglikelihood(m) : 0.0;

    EmOutput out{[&](std::string_view text) { files.report.put(text); },
                 [&](std::string_view text) { files.toProgress(text); },
                 [&](std::string_view text) { fixedio::consolePause(text, consoleIn); }};
    Estimation est = estimate(m, out);
    files.report.put("\n *** ITERATIONS FINISHED ***\n\n");
    files.toProgress("\n\n *** ITERATIONS FINISHED ***\n\n\n" + fixedio::freeLine({"ITERATIONS FINISHED"}));
    if (m.deck.isave == 1) files.estimates.put(savedEstimates(m));

    Covariance cov = variance(m, est, out.pause);
    files.report.put(estimatesSection(m, cov));
    StandardizedLoadings standardized = standardizedLoadings(m);
    files.matrix.put(prodma(standardized));
    files.report.put(standardizedSection(m, standardized));
    reportScoresAndFit(m, est, logl0, files.report);
    files.finish();
    return 0;
}

} // namespace

int runInFolder(const fs::path& dir, std::ostream& err, std::FILE* consoleIn) {
    try {
        return run(dir, consoleIn);
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
