// Helpers of the results tests of both estimators: the rows of a CSV file the programs wrote,
// and whether a value of their JSON is what the report prints.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace results_support {

// The records of a CSV text without quoted fields, split at every comma.
inline std::vector<std::vector<std::string>> csvRows(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> fields;
        std::size_t from = 0;
        for (std::size_t comma; (comma = line.find(',', from)) != std::string::npos;
             from = comma + 1)
            fields.push_back(line.substr(from, comma - from));
        fields.push_back(line.substr(from));
        rows.push_back(fields);
    }
    return rows;
}

// Whether value, rounded to the decimals of the printed token, reads as that token; null
// stands for the asterisks of a value that could not be computed.
inline bool printedAs(const nlohmann::json& value, std::string token) {
    if (value.is_null()) return token.find_first_not_of('*') == std::string::npos;
    const std::size_t point = token.find('.');
    if (point == std::string::npos) return false;
    if (point == 0 || (point == 1 && token[0] == '-')) token.insert(point, "0"); // "-.500"
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", static_cast<int>(token.size() - token.find('.') - 1),
                  value.get<double>());
    return token == text;
}

} // namespace results_support
