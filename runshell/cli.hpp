// The command line of an estimator, `PROGRAM [OPTIONS] [DECK]`, parsed with CLI11, whose usage,
// error and --help texts the programs print as they are. Cli holds the options every estimator
// takes, each with one description for both (DECK, -o, --force, --accelerate, --no-accelerate,
// --csv, --id, --max-cycles, --missing, --version) and the help's closing paragraph; the
// estimator adds its own options between them, in the order --help lists them. --help and
// --version end the program with status 0, a wrong option or value with status 2.
#pragma once

#include "csvio/categories.hpp"
#include "latent/file_names.hpp"
#include "runshell/input.hpp"

#include <CLI/CLI.hpp>

#include <iostream>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace runshell {

template <class Options> struct CommandLine {
    Options options;
    std::optional<int> exitNow; // end at once with this status (help, version, a wrong option)
};

class Cli {
  public:
    // description: the first paragraph of --help. outputs: the outputs a run writes, as the
    // closing paragraph lists them; note: what the estimator adds there (may be empty). Adds
    // --version, DECK, -o and --force.
    Cli(const latent::EstimatorFiles& files, const std::string& description,
        const std::string& outputs, const std::string& note);

    CLI::App app;

    void addAcceleration(); // --accelerate and --no-accelerate
    void addThreads();      // --threads N
    void addCsv();          // --csv FILE, which excludes DECK
    // The option is a model option, given only with --csv.
    CLI::Option* csvOnly(CLI::Option* option);
    // Model options of both estimators, given only with --csv.
    CLI::Option* addId(std::string& column);
    CLI::Option* addMaxCycles(int& cycles, int most);
    CLI::Option* addMissing(std::vector<std::string>& tokens);
    // --delimiter: comma, semicolon or tab (default: detected from the header).
    CLI::Option* addDelimiter();
    // --levels COL=a,b,c (repeatable): the order of a column's categories.
    CLI::Option* addLevels(std::vector<csvio::LevelOrder>& levels);
    // --allow-duplicate-ids: ids that repeat are taken as they are.
    CLI::Option* addAllowDuplicateIds(bool& allow);

    // Parses the arguments. Returns the status to end the program with now: 0 after --help or
    // --version (printed to out), 2 after a wrong option or value (CLI11's message on err); or
    // nothing when the run should go on.
    std::optional<int> parse(int argc, const char* const* argv, std::ostream& out,
                             std::ostream& err);

    // The common options as parsed.
    template <class Model> void fill(CommonOptions<Model>& o, const Model& model) const {
        o.deck = deck_;
        o.outputDir = outputDir_;
        o.force = force_;
        if (!csv_.empty()) o.csv = CsvInput<Model>{csv_, model};
        if (accelerate_) o.accelerate = true;
        if (plain_) o.accelerate = false;
        o.threads = threads_;
        o.delimiter = delimiter_;
    }

  private:
    std::string program_;
    std::string deck_, csv_, outputDir_;
    bool force_ = false, accelerate_ = false, plain_ = false;
    int threads_ = 0;
    char delimiter_ = 0;
    CLI::Option* csvOption_ = nullptr;
};

// A comma-separated list of names (COLS): values may also be given in several options. Names are
// trimmed of blanks like the header's. An empty name (",," or a comma at either end) is a wrong
// value, never silently dropped.
CLI::Option* addList(CLI::App& app, const std::string& name, std::vector<std::string>& target,
                     const std::string& description);

// A whole number from least to most, whose wrong values are named in plain words: "takes a
// whole number from 1 to 100" rather than CLI11's range of doubles.
CLI::Validator wholeNumber(long long least, long long most);

// A whole number from 0 to 18446744073709551615 in decimal digits: a minus sign or a larger
// number is a wrong value instead of one wrapped around or cut to the largest.
CLI::Validator unsigned64();

// main() of an estimator: parse(argc, argv, out, err) gives its CommandLine, run(options) the
// exit status. Past a file-size limit a write then fails with EFBIG, which ends the run with a
// message and no files left behind, as a full disk does, instead of killing it silently.
void ignoreFileSizeSignal();
template <class Parse, class Run> int programMain(int argc, char** argv, Parse parse, Run run) {
    ignoreFileSizeSignal();
    const auto cl = parse(argc, argv, std::cout, std::cerr);
    if (cl.exitNow) return *cl.exitNow;
    return run(cl.options);
}

} // namespace runshell
