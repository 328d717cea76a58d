#include "cliutil/cliutil.hpp"

namespace cliutil {

std::optional<int> parse(CLI::App& app, int argc, const char* const* argv, std::ostream& out,
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
    return app.add_option(name, target, description)->delimiter(',')->type_name("COLS");
}

CLI::Option* addMissingTokens(CLI::App& app, std::vector<std::string>& target) {
    // Split here rather than by CLI11, which drops empty pieces.
    return app
        .add_option_function<std::string>(
            "--missing",
            [&target](const std::string& list) {
                target.clear();
                std::size_t from = 0;
                for (std::size_t comma; (comma = list.find(',', from)) != std::string::npos; from = comma + 1)
                    target.push_back(list.substr(from, comma - from));
                target.push_back(list.substr(from));
            },
            "Tokens that mark a missing value, comma-separated; an empty token is the empty cell "
            "(default: an empty cell, NA, .)")
        ->type_name("TOKENS");
}

} // namespace cliutil
