#include "cliutil/cliutil.hpp"

#include <algorithm>

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
                        if (comma == from)
                            throw CLI::ValidationError(name, "an empty column name in \"" + list +
                                                                 "\"; give every name once, "
                                                                 "separated by single commas");
                        target.push_back(list.substr(from, comma - from));
                        from = comma + 1;
                    }
                }
            },
            description)
        ->type_name("COLS");
}

CLI::Validator unsigned64() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            const std::string wrong = "must be a whole number from 0 to 18446744073709551615";
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

CLI::Option* addMissingTokens(CLI::App& app, std::vector<std::string>& target) {
    // Split here rather than by CLI11, which drops empty pieces.
    return app
        .add_option_function<std::string>(
            "--missing",
            [&target](const std::string& list) {
                target.clear();
                std::size_t from = 0;
                for (std::size_t comma; (comma = list.find(',', from)) != std::string::npos;
                     from = comma + 1)
                    target.push_back(list.substr(from, comma - from));
                target.push_back(list.substr(from));
            },
            "Tokens that mark a missing value, comma-separated; an empty token is the empty cell "
            "(default: an empty cell, NA, .)")
        ->type_name("TOKENS");
}

} // namespace cliutil
