#include "csvio/deck_text.hpp"

#include <charconv>
#include <filesystem>
#include <system_error>

namespace csvio {

std::string shortestDecimal(double value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string printable(std::string_view text) {
    std::string shown(text);
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return shown;
}

std::string deckTitle(std::string_view fileLabel, std::size_t width) {
    std::string title =
        printable("Data from " + std::filesystem::path(fileLabel).filename().string());
    if (title.size() > width) {
        std::size_t end = width;
        // Back up over continuation bytes so that no character is cut in two.
        while (end > 0 && (static_cast<unsigned char>(title[end]) & 0xC0) == 0x80) --end;
        title.resize(end);
    }
    return title;
}

} // namespace csvio
