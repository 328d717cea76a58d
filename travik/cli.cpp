#include "travik/cli.hpp"

#include "cliutil/cliutil.hpp"
#include "csvio/cells.hpp"
#include "latent/version.hpp"
#include "travik/quadrature.hpp"

namespace travik {

CommandLine parseCommandLine(int argc, const char* const* argv, std::ostream& out,
                             std::ostream& err) {
    CommandLine cl;
    RunOptions& o = cl.options;
    CLI::App app{"Latent trait (factor) models with one or two standard-normal factors for binary, "
                 "normal, nominal and ordinal items, fitted by maximum likelihood (EM over "
                 "Gauss-Hermite quadrature).",
                 "travik"};
    app.footer(
        "Without DECK or --csv, travik reads LAT.INP (any letter case) in the current folder "
        "and writes its outputs there: LI7.OUT (report), LI8.OUT (estimates), MATRIX.OUT, "
        "travik.json and travik-cases.csv (results for programs), fort.2 (progress). Starting "
        "values come from LAT3.INP in the deck's folder when the "
        "deck asks for them. A CSV run writes the deck it builds as LAT.INP beside the outputs. "
        "Exit status: 0 converged, 1 the report ends on a reason (rejected deck, no "
        "convergence, divergence), 2 a file or input error.");
    app.set_version_flag("--version", std::string("travik ") + latent::version());

    std::string deck, csv, outputDir, start;
    app.add_option("DECK", deck, "Input deck (a file of any name); outputs go to its folder");
    app.add_option("-o,--output-dir", outputDir, "Folder for the outputs, made when missing")
        ->type_name("DIR");
    app.add_flag("--force", o.force, "Replace travik's own outputs in the output folder");
    app.add_option("--start", start, "Starting values file (instead of LAT3.INP beside the deck)")
        ->type_name("FILE");
    app.add_option(
           "--points", o.points,
           "Quadrature: every node of the N-point Gauss-Hermite rule per factor "
           "(default: the deck's NQ; for a CSV run NQ 48 with one factor, the full 31-point "
           "rule with two)")
        ->check(CLI::Range(kFewestRulePoints, kMostRulePoints))
        ->type_name("N");
    bool accelerate = false, plain = false;
    auto* accelerateFlag =
        app.add_flag("--accelerate", accelerate,
                     "Accelerate EM by squared extrapolation (SQUAREM) with each item's "
                     "M-step solved (default for a CSV run; a deck runs plain EM)");
    app.add_flag("--no-accelerate", plain,
                 "Plain EM, one update per item and cycle, also for a CSV run")
        ->excludes(accelerateFlag);

    CsvModelOptions model;
    model.missing = csvio::defaultMissingTokens();
    auto* csvOption =
        app.add_option("--csv", csv, "Data from a CSV file with a header row, instead of DECK")
            ->type_name("FILE");
    std::vector<CLI::Option*> csvOnly = {
        cliutil::addList(app, "--binary", model.binary, "Binary (0/1) item columns"),
        cliutil::addList(app, "--normal", model.normal, "Normal (continuous) item columns"),
        cliutil::addList(app, "--nominal", model.nominal, "Nominal item columns (text allowed)"),
        cliutil::addList(app, "--ordinal", model.ordinal, "Ordinal item columns (numbers)"),
        app.add_option("--id", model.id, "Column of case identifiers (text allowed)")
            ->type_name("COL"),
        app.add_option("--factors", model.factors, "Number of factors")
            ->check(CLI::IsMember({1, 2}))
            ->capture_default_str(),
        app.add_option(
               "--max-cycles", model.maxCycles,
               "Most EM cycles and Newton steps together (a deck's MAXIT holds at most 2000)")
            ->check(CLI::Range(1, kMostCsvCycles))
            ->capture_default_str(),
        app.add_option("--tolerance", model.tolerance,
                       "Convergence tolerance on the relative change of the loglikelihood")
            ->check(CLI::PositiveNumber)
            ->capture_default_str(),
        app.add_flag("--scores", model.scores, "Print every case's factor scores in the report"),
        app.add_flag("--save-estimates", model.saveEstimates, "Write the estimates to LI8.OUT"),
        cliutil::addMissingTokens(app, model.missing),
    };
    for (CLI::Option* option : csvOnly) option->needs(csvOption);
    csvOption->excludes(app.get_option("DECK"));

    if (auto status = cliutil::parse(app, argc, argv, out, err)) {
        cl.exitNow = *status;
        return cl;
    }
    model.quadraturePoints = model.factors == 2 ? 24 : 48;
    if (!csv.empty()) {
        o.csv = CsvInput{csv, model};
        // Two factors: the full 31-point rule per factor unless --points says otherwise.
        if (model.factors == 2 && o.points == 0) o.points = kCsvTwoFactorPoints;
    }
    if (accelerate) o.accelerate = true;
    if (plain) o.accelerate = false;
    o.deck = deck;
    o.outputDir = outputDir;
    o.start = start;
    return cl;
}

} // namespace travik
