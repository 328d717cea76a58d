#include "ploven/cli.hpp"

namespace ploven {

namespace {

// Accelerated EM and the Newton finish reach a maximum in far fewer cycles than this, which
// leaves plain EM room for the ridges it crawls along.
constexpr int kMostCsvCycles = 100000;

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
        "Latent class analysis of binary items: the unrestricted latent class model, fitted "
        "by maximum likelihood (EM) from many starting points.",
        name(kFiles.report) + " (report), " + name(kClassesFile) + " (classification), " +
            name(kEstimatesFile) + " (estimates), " + name(kEtasFile) + " and " + name(kPisFile) +
            " (simulation study), " + name(kFiles.results) + " and " + name(kFiles.cases) +
            " (results for programs), " + name(kFiles.progress) + " (progress).",
        "");
    CLI::App& app = cli.app;
    app.add_option("--starts", o.starts,
                   "Random starts besides the deterministic one (0: that one alone)")
        ->check(CLI::NonNegativeNumber)
        ->capture_default_str();
    app.add_option("--seed", o.seed, "Seed of the random starts")
        ->transform(runshell::unsigned64())
        ->capture_default_str();
    cli.addAcceleration();
    cli.addThreads();

    CsvModelOptions model;
    cli.addCsv();
    auto* classes = cli.csvOnly(
        app.add_option("--classes", model.classes, "Number of latent classes (with --csv)")
            ->check(CLI::PositiveNumber)
            ->type_name("K"));
    cli.csvOnly(runshell::addList(app, "--items", model.items,
                                  "Item columns (default: every column but the ID)"));
    cli.addId(model.id);
    cli.csvOnly(app.add_flag("--se", model.standardErrors, "Compute standard errors"));
    cli.csvOnly(app.add_option("--simulate", model.simulations, "Simulation study of N samples")
                    ->check(CLI::PositiveNumber)
                    ->type_name("N"));
    cli.addMaxCycles(model.maxCycles, kMostCsvCycles);
    cli.csvOnly(
        app.add_option("--tolerance", model.tolerance, "Convergence tolerance on the loglikelihood")
            ->check(CLI::PositiveNumber)
            ->capture_default_str());
    cli.addMissing(model.missing);
    app.get_option("--csv")->needs(classes);

    if (auto status = cli.parse(argc, argv, out, err)) {
        cl.exitNow = *status;
        return cl;
    }
    cli.fill(o, model);
    return cl;
}

} // namespace ploven
