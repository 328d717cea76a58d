#include "travik/cli.hpp"

#include "travik/quadrature.hpp"

namespace travik {

namespace {

std::string name(std::string_view file) {
    return std::string(file);
}

} // namespace

CommandLine parseCommandLine(int argc, const char* const* argv, std::ostream& out,
                             std::ostream& err) {
    CommandLine cl;
    RunOptions& o = cl.options;
    runshell::Cli cli(
        kFiles,
        "Latent trait (factor) models with one or two standard-normal factors for binary, "
        "normal, nominal and ordinal items, fitted by maximum likelihood (EM over Gauss-Hermite "
        "quadrature).",
        name(kFiles.report) + " (report), " + name(kFiles.estimates) + " (estimates), " +
            name(kMatrixFile) + ", " + name(kFiles.results) + " and " + name(kFiles.cases) +
            " (results for programs), " + name(kFiles.progress) + " (progress).",
        "Starting values come from " + name(kFiles.restart) +
            " in the deck's folder when the deck asks for them.");
    CLI::App& app = cli.app;
    std::string start;
    app.add_option("--start", start,
                   "Starting values file (instead of " + name(kFiles.restart) + " beside the deck)")
        ->type_name("FILE");
    app.add_option(
           "--points", o.points,
           "Quadrature: every node of the N-point Gauss-Hermite rule per factor "
           "(default: the deck's NQ; for a CSV run NQ 48 with one factor, the full 31-point "
           "rule with two)")
        ->transform(runshell::wholeNumber(kFewestRulePoints, kMostRulePoints))
        ->type_name("N");
    cli.addAcceleration();
    cli.addThreads();
    std::string rotation;
    app.add_option("--rotate", rotation,
                   "Rotation of a two-factor solution, reported beside the unrotated one: none, "
                   "varimax or oblimin (default: oblimin for a CSV run, none for a deck)")
        ->check(CLI::IsMember({"none", "varimax", "oblimin"}, CLI::ignore_case))
        ->type_name("METHOD");

    CsvModelOptions model;
    cli.addCsv();
    cli.csvOnly(runshell::addList(app, "--binary", model.binary, "Binary (0/1) item columns"));
    cli.csvOnly(
        runshell::addList(app, "--normal", model.normal, "Normal (continuous) item columns"));
    cli.csvOnly(
        runshell::addList(app, "--nominal", model.nominal, "Nominal item columns (text allowed)"));
    cli.csvOnly(
        runshell::addList(app, "--ordinal", model.ordinal,
                          "Ordinal item columns (numbers, or text in the order --levels gives)"));
    cli.addId(model.id);
    cli.csvOnly(app.add_option("--factors", model.factors, "Number of factors")
                    ->check(CLI::IsMember({1, 2}))
                    ->capture_default_str());
    cli.addMaxCycles(model.maxCycles, kMostCsvCycles);
    cli.csvOnly(app.add_option("--tolerance", model.tolerance,
                               "Convergence tolerance on the relative change of the loglikelihood")
                    ->check(CLI::PositiveNumber)
                    ->capture_default_str());
    cli.csvOnly(
        app.add_flag("--scores", model.scores, "Print every case's factor scores in the report"));
    cli.csvOnly(app.add_flag("--save-estimates", model.saveEstimates,
                             "Write the estimates to " + name(kFiles.estimates)));
    cli.addMissing(model.missing);
    cli.addDelimiter();
    cli.addLevels(model.levels);
    cli.addAllowDuplicateIds(model.allowDuplicateIds);

    if (auto status = cli.parse(argc, argv, out, err)) {
        cl.exitNow = *status;
        return cl;
    }
    model.quadraturePoints = model.factors == 2 ? 24 : 48;
    cli.fill(o, model);
    // Two factors: the full 31-point rule per factor unless --points says otherwise.
    if (o.csv && model.factors == 2 && o.points == 0) o.points = kCsvTwoFactorPoints;
    o.start = start;
    if (!rotation.empty()) {
        std::string unknown; // the check above lets only the three names through
        o.rotate = parseRotationMethod(rotation, unknown);
    }
    return cl;
}

} // namespace travik
