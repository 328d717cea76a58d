#include "runshell/cli.hpp"

#include "csvio/cells.hpp"
#include "latent/version.hpp"

#include <algorithm>
#include <csignal>

namespace runshell {

Cli::Cli(const latent::EstimatorFiles& files, const std::string& description,
         const std::string& outputs, const std::string& note)
    : app(description, std::string(files.program)), program_(files.program) {
    const std::string deck(files.deck);
    app.footer("Without DECK or --csv, " + program_ + " reads " + deck +
               " (any letter case) in the current folder and writes its outputs there: " + outputs +
               " " + (note.empty() ? "" : note + " ") + "A CSV run writes the deck it builds as " +
               deck +
               " beside the outputs. Exit status: 0 converged, 1 the report ends on a reason "
               "(rejected deck, no convergence, divergence), 2 a file or input error.");
    // A value out of range reads as a sentence: "--classes takes a whole number from 1 to 100,
    // not 0" rather than "--classes: takes ...".
    app.failure_message([](const CLI::App* a, const CLI::Error& e) {
        std::string message = CLI::FailureMessage::simple(a, e);
        const std::size_t at = message.find(": takes ");
        if (at != std::string::npos && message.find(' ') > at) message.erase(at, 1);
        return message;
    });
    app.set_version_flag("--version", program_ + " " + latent::version());
    app.add_option("DECK", deck_, "Input deck (a file of any name); outputs go to its folder");
    app.add_option("-o,--output-dir", outputDir_, "Folder for the outputs, made when missing")
        ->type_name("DIR");
    app.add_flag("--force", force_, "Replace " + program_ + "'s own outputs in the output folder");
}

void Cli::addAcceleration() {
    auto* accelerate = app.add_flag(
        "--accelerate", accelerate_,
        "Accelerate EM by squared extrapolation, SQUAREM (default for a CSV run; a deck runs "
        "plain EM)");
    app.add_flag("--no-accelerate", plain_, "Plain EM, also for a CSV run")->excludes(accelerate);
}

void Cli::addThreads() {
    app.add_option("--threads", threads_,
                   "Worker threads (default: one per core); the results are the same for any "
                   "number")
        ->check(CLI::Range(1, 1024))
        ->type_name("N");
}

void Cli::addCsv() {
    csvOption_ =
        app.add_option("--csv", csv_, "Data from a CSV file with a header row, instead of DECK")
            ->type_name("FILE")
            ->excludes(app.get_option("DECK"));
}

CLI::Option* Cli::csvOnly(CLI::Option* option) {
    return option->needs(csvOption_);
}

CLI::Option* Cli::addId(std::string& column) {
    return csvOnly(app.add_option("--id", column, "Column of case identifiers (text allowed)")
                       ->type_name("COL"));
}

CLI::Option* Cli::addMaxCycles(int& cycles, int most) {
    return csvOnly(
        app.add_option("--max-cycles", cycles, "Most EM cycles and Newton steps together")
            ->transform(wholeNumber(1, most))
            ->capture_default_str());
}

CLI::Option* Cli::addMissing(std::vector<std::string>& tokens) {
    tokens = csvio::defaultMissingTokens();
    // Split here rather than by CLI11, which drops empty pieces.
    return csvOnly(
        app.add_option_function<std::string>(
               "--missing",
               [&tokens](const std::string& list) {
                   tokens.clear();
                   std::size_t from = 0;
                   for (std::size_t comma; (comma = list.find(',', from)) != std::string::npos;
                        from = comma + 1)
                       tokens.push_back(list.substr(from, comma - from));
                   tokens.push_back(list.substr(from));
               },
               "Tokens that mark a missing value, comma-separated; an empty token is the empty "
               "cell (default: an empty cell, NA, .)")
            ->type_name("TOKENS"));
}

CLI::Option* Cli::addDelimiter() {
    return csvOnly(
        app.add_option_function<std::string>(
               "--delimiter",
               [this](const std::string& text) {
                   if (text == "," || text == "comma")
                       delimiter_ = ',';
                   else if (text == ";" || text == "semicolon")
                       delimiter_ = ';';
                   else if (text == "\t" || text == "tab" || text == "\\t")
                       delimiter_ = '\t';
                   else
                       throw CLI::ValidationError("--delimiter",
                                                  "takes ',', ';' or tab, not \"" + text + "\"");
               },
               "Field separator of the CSV file: ',', ';' or tab (default: detected from the "
               "header, a comma unless it holds none but semicolons or tabs)")
            ->type_name("SEP"));
}

CLI::Option* Cli::addLevels(std::vector<csvio::LevelOrder>& levels) {
    return csvOnly(app.add_option_function<std::vector<std::string>>(
                          "--levels",
                          [&levels](const std::vector<std::string>& values) {
                              levels.clear();
                              for (const std::string& text : values) {
                                  csvio::LevelParse parsed = csvio::parseLevelOrder(text);
                                  if (!parsed.fault.empty())
                                      throw CLI::ValidationError("--levels", parsed.fault);
                                  if (csvio::levelsOf(levels, parsed.order.column))
                                      throw CLI::ValidationError(
                                          "--levels", "the column \"" + parsed.order.column +
                                                          "\" is given twice");
                                  levels.push_back(std::move(parsed.order));
                              }
                          },
                          "Order of a column's categories, lowest first (repeatable); text "
                          "categories are otherwise taken in sorted or first-seen order")
                       ->type_name("COL=a,b,...")
                       ->delimiter('\0')); // labels are split here, not by CLI11
}

CLI::Option* Cli::addAllowDuplicateIds(bool& allow) {
    return csvOnly(app.add_flag("--allow-duplicate-ids", allow,
                                "Take case identifiers that repeat as they are (default: an "
                                "error naming the lines)"));
}

std::optional<int> Cli::parse(int argc, const char* const* argv, std::ostream& out,
                              std::ostream& err) {
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e, out, err);
        return code == 0 ? 0 : 2;
    }
    return std::nullopt;
}

CLI::Option* addList(CLI::App& app, const std::string& name, std::vector<std::string>& target,
                     const std::string& description) {
    // Split here rather than by CLI11, which drops empty pieces: "q1,,q2" is a slip to report.
    return app
        .add_option_function<std::vector<std::string>>(
            name,
            [&target, name](const std::vector<std::string>& values) {
                target.clear();
                for (const std::string& list : values) {
                    std::size_t from = 0;
                    for (bool last = false; !last;) {
                        std::size_t comma = list.find(',', from);
                        last = comma == std::string::npos;
                        if (last) comma = list.size();
                        const std::string column(csvio::trimmed(list.substr(from, comma - from)));
                        if (column.empty())
                            throw CLI::ValidationError(name, "an empty column name in \"" + list +
                                                                 "\"; give every name once, "
                                                                 "separated by single commas");
                        target.push_back(column);
                        from = comma + 1;
                    }
                }
            },
            description)
        ->type_name("COLS");
}

CLI::Validator wholeNumber(long long least, long long most) {
    return CLI::Validator(
        [least, most](std::string& text) -> std::string {
            const std::string wrong = "takes a whole number from " + std::to_string(least) +
                                      " to " + std::to_string(most);
            if (text.empty() || text.size() > 18 ||
                text.find_first_not_of("0123456789", text[0] == '-' || text[0] == '+') !=
                    std::string::npos ||
                text.find_first_of("0123456789") == std::string::npos)
                return wrong + ", not \"" + text + "\"";
            const long long value = std::stoll(text);
            if (value < least || value > most) return wrong + ", not " + text;
            text = std::to_string(value); // CLI11 would read a leading 0 as octal
            return {};
        },
        "");
}

CLI::Validator unsigned64() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            std::string wrong = "must be a whole number from 0 to 18446744073709551615";
            if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
                return wrong;
            // Leading zeros dropped: CLI11 would read "010" as octal.
            text.erase(0, std::min(text.find_first_not_of('0'), text.size() - 1));
            const std::string largest = "18446744073709551615";
            if (text.size() > largest.size() || (text.size() == largest.size() && text > largest))
                return wrong;
            return {};
        },
        "");
}

void ignoreFileSizeSignal() {
    std::signal(SIGXFSZ, SIG_IGN);
}

} // namespace runshell
