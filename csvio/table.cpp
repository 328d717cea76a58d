#include "csvio/table.hpp"

#include "latent/input_error.hpp"

#include <algorithm>
#include <cctype>
#include <limits>
#include <stdexcept>

namespace csvio {

void Fields::push_back(std::string_view field) {
    if (text_.size() + field.size() > std::numeric_limits<std::uint32_t>::max())
        throw std::length_error("a CSV record of more than 4 GB");
    text_.append(field);
    ends_.push_back(static_cast<std::uint32_t>(text_.size()));
}

int Table::lineOf(std::size_t record, std::size_t column) const {
    const Record& r = records[record];
    return column < r.fieldLines.size() ? r.fieldLines[column] : r.line;
}

void failAt(const Table& table, int line, std::size_t column, const std::string& what) {
    std::string where =
        table.label + " line " + std::to_string(line) + ", column " + std::to_string(column + 1);
    if (column < table.header.size()) where += " (" + inQuotes(table.header[column]) + ")";
    throw latent::InputError(table.program + ": " + where + ": " + what);
}

void failAtLine(const Table& table, int line, const std::string& what) {
    throw latent::InputError(table.program + ": " + table.label + " line " + std::to_string(line) +
                             ": " + what);
}

void failInFile(const Table& table, const std::string& what) {
    throw latent::InputError(table.program + ": " + table.label + ": " + what);
}

std::string inQuotes(std::string_view text) {
    constexpr std::size_t limit = 40;
    std::string shown(text.substr(0, std::min(text.size(), limit)));
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return "\"" + shown + (text.size() > limit ? "...\"" : "\"");
}

namespace {

// The header names for a message about a missing one: the first few are enough to spot a typo.
std::string headerList(const Table& table) {
    constexpr std::size_t shown = 12;
    std::string list;
    for (std::size_t i = 0; i < table.header.size() && i < shown; ++i)
        list += (i ? ", " : "") + table.header[i];
    if (table.header.size() > shown) list += ", ...";
    return list;
}

// A header read as one column that holds another separator: the file is likely of another
// dialect than the one it was read as.
std::string separatorHint(const Table& table) {
    if (table.header.size() != 1) return {};
    const std::string& only = table.header.front();
    for (const char c : {';', '\t', ','})
        if (c != table.delimiter && only.find(c) != std::string::npos)
            return std::string(" (one column whose name holds ") +
                   (c == '\t'  ? "tabs"
                    : c == ';' ? "semicolons"
                               : "commas") +
                   ": are the fields separated by them? Give --delimiter " +
                   (c == '\t'  ? "tab"
                    : c == ';' ? "';'"
                               : "','") +
                   ")";
    return {};
}

} // namespace

std::string delimiterName(char delimiter) {
    switch (delimiter) {
    case ',':
        return "commas";
    case ';':
        return "semicolons";
    case '\t':
        return "tabs";
    default:
        return inQuotes(std::string(1, delimiter));
    }
}

std::string dialectLegend(const Table& table) {
    return "  FIELDS SEPARATED BY " + [&] {
        std::string name = delimiterName(table.delimiter);
        for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return name;
    }() + (table.delimiterDetected ? " (DETECTED FROM THE HEADER)" : "");
}

std::size_t columnIndex(const Table& table, std::string_view name, std::string_view role) {
    const auto& h = table.header;
    auto first = std::find(h.begin(), h.end(), name);
    if (first == h.end())
        failAtLine(table, table.headerLine,
                   "no column named " + inQuotes(name) + " (given as " + std::string(role) +
                       "); the header has: " + headerList(table) + separatorHint(table));
    const std::size_t column = static_cast<std::size_t>(first - h.begin());
    auto second = std::find(first + 1, h.end(), name);
    if (second != h.end())
        failAt(table, table.headerLine, column,
               "the header names this column twice (columns " + std::to_string(column + 1) +
                   " and " + std::to_string(second - h.begin() + 1) +
                   "); rename one so that the item is clear");
    return column;
}

} // namespace csvio
