// What a cell of a CSV table holds: a missing value, a number or a binary response. Cells are
// trimmed of surrounding blanks (spaces and tabs) before they are compared with the missing
// tokens or parsed.
#pragma once

#include "csvio/table.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace csvio {

std::string_view trimmed(std::string_view text);

// An empty cell, NA and '.'.
std::vector<std::string> defaultMissingTokens();

// True when the trimmed text equals one of the trimmed tokens.
bool isMissingToken(std::string_view text, const std::vector<std::string>& tokens);

// A plain decimal number: an optional sign, digits with an optional decimal point (at least
// one digit), and an optional exponent e or E with optional sign and digits. No hexadecimal,
// no inf or nan, no blanks inside. Nothing when the text is not one or the value is not finite.
std::optional<double> plainDecimal(std::string_view text);

// The trimmed text of a cell.
std::string_view cellText(const Table& table, std::size_t record, std::size_t column);

// The cell as a number; nothing when it holds a missing token. Anything else than a plain
// decimal number is an InputError naming the cell; role ("a normal item") says why a number
// was expected.
std::optional<double> numberAt(const Table& table, std::size_t record, std::size_t column,
                               const std::vector<std::string>& missing, std::string_view role);

// The cell as a binary response 0 or 1 (any number equal to one of them); nothing when it holds
// a missing token. Any other value is an InputError naming the cell.
std::optional<int> binaryAt(const Table& table, std::size_t record, std::size_t column,
                            const std::vector<std::string>& missing);

} // namespace csvio
