#include "travik/notes.hpp"

#include <cctype>

namespace travik {

namespace {

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
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
