#include "csvio/cells.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace csvio {

std::string_view trimmed(std::string_view text) {
    const std::size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string_view::npos) return {};
    return text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
}

std::vector<std::string> defaultMissingTokens() {
    return {"", "NA", "."};
}

bool isMissingToken(std::string_view text, const std::vector<std::string>& tokens) {
    const std::string_view value = trimmed(text);
    return std::any_of(tokens.begin(), tokens.end(),
                       [&](const std::string& token) { return trimmed(token) == value; });
}

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

std::size_t skipDigits(std::string_view s, std::size_t i) {
    while (i < s.size() && isDigit(s[i])) ++i;
    return i;
}

bool isPlainDecimal(std::string_view s) {
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    const std::size_t intEnd = skipDigits(s, i);
    std::size_t digits = intEnd - i;
    i = intEnd;
    if (i < s.size() && s[i] == '.') {
        const std::size_t fracEnd = skipDigits(s, i + 1);
        digits += fracEnd - (i + 1);
        i = fracEnd;
    }
    if (digits == 0) return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        const std::size_t expEnd = skipDigits(s, i);
        if (expEnd == i) return false;
        i = expEnd;
    }
    return i == s.size();
}

// The missing tokens as a message lists them: an empty cell, "NA", ".".
std::string tokenList(const std::vector<std::string>& tokens) {
    std::string list;
    for (const std::string& token : tokens) {
        const std::string_view t = trimmed(token);
        list +=
            (list.empty() ? "" : ", ") + (t.empty() ? std::string("an empty cell") : inQuotes(t));
    }
    return list.empty() ? "none" : list;
}

} // namespace

std::optional<double> plainDecimal(std::string_view text) {
    if (!isPlainDecimal(text)) return std::nullopt;
    // from_chars takes no leading '+'; its conversion is correctly rounded.
    if (text.front() == '+') text.remove_prefix(1);
    double value = 0.0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::string_view cellText(const Table& table, std::size_t record, std::size_t column) {
    return trimmed(table.records[record].fields[column]);
}

std::optional<double> numberAt(const Table& table, std::size_t record, std::size_t column,
                               const std::vector<std::string>& missing, std::string_view role) {
    const std::string_view text = cellText(table, record, column);
    if (isMissingToken(text, missing)) return std::nullopt;
    if (auto value = plainDecimal(text)) return value;
    const bool lexical = isPlainDecimal(text);
    failAt(table, table.lineOf(record, column), column,
           lexical ? "the number " + inQuotes(text) + " is out of range"
                   : "expected a number for " + std::string(role) + ", found " + inQuotes(text) +
                         " (missing values: " + tokenList(missing) + ")");
}

std::optional<int> binaryAt(const Table& table, std::size_t record, std::size_t column,
                            const std::vector<std::string>& missing) {
    const std::string_view text = cellText(table, record, column);
    if (isMissingToken(text, missing)) return std::nullopt;
    const std::optional<double> value = plainDecimal(text);
    if (value && (*value == 0.0 || *value == 1.0)) return static_cast<int>(*value);
    failAt(table, table.lineOf(record, column), column,
           "a binary item takes 0 or 1, found " + inQuotes(text) +
               " (missing values: " + tokenList(missing) + ")");
}

} // namespace csvio
