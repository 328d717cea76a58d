#include "ploven/cli.hpp"

#include <optional>
#include <string>

namespace ploven {

namespace {

// Accelerated EM and the Newton finish reach a maximum in far fewer cycles than this, which
// leaves plain EM room for the ridges it crawls along.
constexpr int kMostCsvCycles = 100000;

// Class counts a run may ask for: far beyond what any data identify, below what would take
// hours.
constexpr int kMostClasses = 100;
constexpr int kMostStarts = 10000;
constexpr int kMostSimulations = 100000;
constexpr int kMostBootstrap = 10000;

std::string name(std::string_view file) {
    return std::string(file);
}

// A whole number text in [least, most], or nothing.
std::optional<long long> wholeIn(const std::string& text, long long least, long long most) {
    if (text.empty() || text.size() > 18 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const long long v = std::stoll(text);
    if (v < least || v > most) return std::nullopt;
    return v;
}

// --classes K, or a range FIRST-LAST of class counts to fit one after the other.
CLI::Validator classCounts(CsvModelOptions& model) {
    return CLI::Validator(
        [&model](std::string& text) -> std::string {
            std::string wrong = "takes a number from 1 to " + std::to_string(kMostClasses) +
                                " or a range such as 1-6, not \"" + text + "\"";
            const std::size_t dash = text.find('-');
            const auto first = wholeIn(text.substr(0, dash), 1, kMostClasses);
            const auto last =
                dash == std::string::npos ? first : wholeIn(text.substr(dash + 1), 1, kMostClasses);
            if (!first || !last || *last < *first) return wrong;
            model.classes = static_cast<int>(*first);
            model.lastClasses = static_cast<int>(*last);
            return {};
        },
        "");
}

} // namespace

CommandLine parseCommandLine(int argc, const char* const* argv, std::ostream& out,
                             std::ostream& err) {
    CommandLine cl;
    RunOptions& o = cl.options;
    runshell::Cli cli(
        kFiles,
        "Latent class analysis of categorical items: the unrestricted latent class model, fitted "
        "by maximum likelihood (EM) from many starting points.",
        name(kFiles.report) + " (report), " + name(kClassesFile) + " (classification), " +
            name(kEstimatesFile) + " (estimates), " + name(kEtasFile) + " and " + name(kPisFile) +
            " (simulation study), " + name(kFiles.results) + " and " + name(kFiles.cases) +
            " (results for programs), " + name(kFiles.progress) + " (progress).",
        "");
    CLI::App& app = cli.app;
    app.add_option("--starts", o.starts,
                   "Random starts besides the deterministic one (0: that one alone)")
        ->transform(runshell::wholeNumber(0, kMostStarts))
        ->capture_default_str();
    app.add_option("--seed", o.seed, "Seed of the random starts")
        ->transform(runshell::unsigned64())
        ->capture_default_str();
    cli.addAcceleration();
    cli.addThreads();

    CsvModelOptions model;
    cli.addCsv();
    std::string classText;
    auto* classes = cli.csvOnly(
        app.add_option("--classes", classText,
                       "Number of latent classes (with --csv), or a range such as 1-6: every "
                       "count fitted into classes-K/ with a comparison table")
            ->check(classCounts(model))
            ->type_name("K"));
    cli.csvOnly(runshell::addList(app, "--items", model.items,
                                  "Item columns (default: every column but the ID)"));
    cli.addId(model.id);
    cli.addAllowDuplicateIds(model.allowDuplicateIds);
    cli.addDelimiter();
    cli.csvOnly(app.add_flag("--se", model.standardErrors, "Compute standard errors"));
    cli.csvOnly(app.add_option("--simulate", model.simulations, "Simulation study of N samples")
                    ->transform(runshell::wholeNumber(2, kMostSimulations))
                    ->type_name("N"));
    cli.csvOnly(app.add_flag("--listwise", model.listwise,
                             "Leave out every case with a missing answer (default: use every "
                             "answer given)"));
    cli.csvOnly(app.add_option("--blrt", model.blrt,
                               "Bootstrap likelihood ratio test of K-1 against K classes with B "
                               "samples, for each K of a --classes range")
                    ->transform(runshell::wholeNumber(1, kMostBootstrap))
                    ->type_name("B"));
    cli.addMaxCycles(model.maxCycles, kMostCsvCycles);
    cli.csvOnly(
        app.add_option("--tolerance", model.tolerance, "Convergence tolerance on the loglikelihood")
            ->check(CLI::PositiveNumber)
            ->capture_default_str());
    cli.addMissing(model.missing);
    cli.addLevels(model.levels);
    app.get_option("--csv")->needs(classes);

    if (auto status = cli.parse(argc, argv, out, err)) {
        cl.exitNow = *status;
        return cl;
    }
    if (model.lastClasses < model.classes) model.lastClasses = model.classes;
    cli.fill(o, model);
    return cl;
}

} // namespace ploven
