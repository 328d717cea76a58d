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
                     const std::string& description, bool emptyAllowed) {
    CLI::Option* option = app.add_option(name, target, description)->delimiter(',')->type_name("COLS");
    if (!emptyAllowed)
        option->check([](const std::string& value) {
            return value.empty() ? std::string("an empty name in the list") : std::string();
        });
    return option;
}

} // namespace cliutil
