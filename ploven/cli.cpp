#include "ploven/cli.hpp"

#include "cliutil/cliutil.hpp"
#include "csvio/cells.hpp"
#include "latent/version.hpp"

namespace ploven {

namespace {

// Accelerated EM and the Newton finish reach a maximum in far fewer cycles than this, which
// leaves plain EM room for the ridges it crawls along.
constexpr int kMostCsvCycles = 100000;

} // namespace

CommandLine parseCommandLine(int argc, const char* const* argv, std::ostream& out,
                             std::ostream& err) {
    CommandLine cl;
    RunOptions& o = cl.options;
    CLI::App app{
        "Latent class analysis of binary items: the unrestricted latent class model, fitted "
        "by maximum likelihood (EM) from many starting points.",
        "ploven"};
    app.footer(
        "Without DECK or --csv, ploven reads LATC.INP (any letter case) in the current folder "
        "and writes its outputs there: LATC7.OUT (report), LATC8.OUT (classification), "
        "LATC9.OUT (estimates), ETAS.OUT and PIS.OUT (simulation study), ploven.json and "
        "ploven-cases.csv (results for programs), fort.2 (progress). "
        "Exit status: 0 completed, 1 the report ends on an error, 2 a file or input error.");
    app.set_version_flag("--version", std::string("ploven ") + latent::version());

    std::string deck, csv, outputDir, id;
    app.add_option("DECK", deck, "Input deck (a file of any name); outputs go to its folder");
    app.add_option("-o,--output-dir", outputDir, "Folder for the outputs, made when missing")
        ->type_name("DIR");
    app.add_flag("--force", o.force, "Replace ploven's own outputs in the output folder");
    app.add_option("--starts", o.starts,
                   "Random starts besides the deterministic one (0: that one alone)")
        ->check(CLI::NonNegativeNumber)
        ->capture_default_str();
    app.add_option("--seed", o.seed, "Seed of the random starts")
        ->transform(cliutil::unsigned64())
        ->capture_default_str();
    bool accelerate = false, plain = false;
    auto* accelerateFlag = app.add_flag(
        "--accelerate", accelerate,
        "Accelerated EM (squared extrapolation, never lowering the loglikelihood); the default "
        "for --csv");
    auto* plainFlag =
        app.add_flag("--no-accelerate", plain, "Plain EM, as for a deck without options");
    accelerateFlag->excludes(plainFlag);

    CsvModelOptions model;
    model.missing = csvio::defaultMissingTokens();
    auto* csvOption =
        app.add_option("--csv", csv, "Data from a CSV file with a header row, instead of DECK")
            ->type_name("FILE");
    auto* classes =
        app.add_option("--classes", model.classes, "Number of latent classes (with --csv)")
            ->check(CLI::PositiveNumber)
            ->type_name("K");
    auto* items = cliutil::addList(app, "--items", model.items,
                                   "Item columns (default: every column but the ID)");
    auto* idOption = app.add_option("--id", model.id, "Column of case identifiers (text allowed)")
                         ->type_name("COL");
    auto* se = app.add_flag("--se", model.standardErrors, "Compute standard errors");
    auto* simulate =
        app.add_option("--simulate", model.simulations, "Simulation study of N samples")
            ->check(CLI::PositiveNumber)
            ->type_name("N");
    auto* cycles = app.add_option("--max-cycles", model.maxCycles,
                                  "Most EM cycles and Newton steps, 1 to 100000")
                       ->check(CLI::Range(1, kMostCsvCycles))
                       ->capture_default_str();
    auto* tolerance =
        app.add_option("--tolerance", model.tolerance, "Convergence tolerance on the loglikelihood")
            ->check(CLI::PositiveNumber)
            ->capture_default_str();
    auto* missing = cliutil::addMissingTokens(app, model.missing);
    for (CLI::Option* option : {classes, items, idOption, se, simulate, cycles, tolerance, missing})
        option->needs(csvOption);
    csvOption->excludes(app.get_option("DECK"));
    csvOption->needs(classes);

    if (auto status = cliutil::parse(app, argc, argv, out, err)) {
        cl.exitNow = *status;
        return cl;
    }
    if (!csv.empty()) o.csv = CsvInput{csv, model};
    if (accelerate || plain) o.accelerate = accelerate;
    o.deck = deck;
    o.outputDir = outputDir;
    return cl;
}

} // namespace ploven
