#include "csvio/case_ids.hpp"

#include "csvio/cells.hpp"

#include <algorithm>
#include <optional>
#include <unordered_map>

namespace csvio {

namespace {

constexpr std::size_t kLinesShown = 5;

std::string lineList(const std::vector<int>& lines, std::size_t total) {
    std::string list;
    for (std::size_t i = 0; i < lines.size(); ++i)
        list += (i ? ", " : "") + std::to_string(lines[i]);
    if (total > lines.size()) list += " and " + std::to_string(total - lines.size()) + " more";
    return list;
}

} // namespace

std::vector<std::string> caseIds(const Table& table, std::size_t column,
                                 const std::vector<std::string>& missing, bool allowDuplicates) {
    std::vector<std::string> ids;
    ids.reserve(table.records.size());
    std::vector<int> blank;
    std::size_t blanks = 0, repeats = 0;
    std::optional<std::size_t> firstRepeat; // the first record whose id an earlier one holds
    std::unordered_map<std::string_view, std::size_t> seen;
    for (std::size_t k = 0; k < table.records.size(); ++k) {
        const std::string_view field = table.records[k].fields[column];
        ids.emplace_back(field);
        if (trimmed(field).empty() || isMissingToken(field, missing)) {
            if (++blanks <= kLinesShown) blank.push_back(table.lineOf(k, column));
            continue;
        }
        if (!allowDuplicates && !seen.emplace(field, k).second) {
            ++repeats;
            if (!firstRepeat) firstRepeat = k;
        }
    }
    if (blanks)
        failAt(table, blank.front(), column,
               std::to_string(blanks) + " case" + (blanks == 1 ? " has" : "s have") +
                   " no identifier (empty or a missing token) on line" +
                   (blanks == 1 ? " " : "s ") + lineList(blank, blanks) + "; every case needs one");
    if (repeats) {
        const std::string& id = ids[*firstRepeat];
        std::vector<int> lines;
        std::size_t holders = 0;
        for (std::size_t k = 0; k < ids.size(); ++k)
            if (ids[k] == id && ++holders <= kLinesShown) lines.push_back(table.lineOf(k, column));
        const std::size_t others = repeats - (holders - 1);
        failAt(table, table.lineOf(*firstRepeat, column), column,
               "the identifier " + inQuotes(id) + " is on lines " + lineList(lines, holders) +
                   (others ? " (and " + std::to_string(others) + " more record" +
                                 (others == 1 ? "" : "s") + " repeat an earlier identifier)"
                           : "") +
                   "; identifiers must be unique, or give --allow-duplicate-ids");
    }
    return ids;
}

std::string idColumnHeader(const std::string& name, const std::vector<std::string>& otherColumns) {
    if (name.empty()) return "id";
    for (const std::string& other : otherColumns)
        if (other == name) return "id";
    return name;
}

} // namespace csvio
