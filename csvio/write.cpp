#include "csvio/write.hpp"

#include <charconv>
#include <cmath>
#include <string>

namespace csvio {

std::string csvField(std::string_view text) {
    const bool quoted = text.find_first_of(",\"\r\n") != std::string_view::npos ||
                        (!text.empty() && (text.front() == ' ' || text.back() == ' '));
    if (!quoted) return std::string(text);
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + '"';
}

std::string csvNumber(double value) {
    if (!std::isfinite(value)) return "";
    // The shortest digits that read back to value, in scientific form: d.ddde+X.
    char buffer[32];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
    std::string text(buffer, result.ptr); // not const: returned by move
    const std::size_t e = text.find('e');
    const int exponent = std::stoi(text.substr(e + 1));
    // Beyond these the plain form would need many zeros; the exponent form is kept.
    if (exponent < -5 || exponent >= 17) return text;
    const bool negative = text[0] == '-';
    std::string digits;
    for (std::size_t i = negative ? 1 : 0; i < e; ++i)
        if (text[i] != '.') digits += text[i];
    std::string out = negative ? "-" : "";
    if (exponent < 0)
        return out + "0." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
    const auto whole = static_cast<std::size_t>(exponent) + 1;
    if (digits.size() <= whole) return out + digits + std::string(whole - digits.size(), '0');
    return out + digits.substr(0, whole) + "." + digits.substr(whole);
}

std::string csvRecord(std::span<const std::string> fields) {
    std::string out;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i) out += ',';
        out += fields[i];
    }
    return out + '\n';
}

} // namespace csvio
