#include "travik/notes.hpp"

#include <cctype>

namespace travik {

namespace {

// Upper case, as the rest of the report, except an option's name ("--points").
std::string upper(std::string s) {
    bool option = false;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s.compare(i, 2, "--") == 0 && (i == 0 || s[i - 1] == ' ' || s[i - 1] == '('))
            option = true;
        else if (s[i] == ' ' || s[i] == ')' || s[i] == ',')
            option = false;
        if (!option) s[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(s[i])));
    }
    return s;
}

} // namespace

std::string notesSection(const RunNotes& notes) {
    if (notes.warnings.empty() && notes.notes.empty()) return "";
    std::string out = "\n\n***Notes and Warnings***\n\n";
    for (const std::string& w : notes.warnings) out += " *** WARNING *** " + upper(w) + "\n";
    for (const std::string& n : notes.notes) out += " NOTE: " + upper(n) + "\n";
    return out;
}

void warnOnConsole(const std::vector<std::string>& warnings, std::ostream& err) {
    for (const std::string& w : warnings) err << "travik: warning: " << w << '\n';
}

} // namespace travik
