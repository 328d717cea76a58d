#include "travik/csv_categories.hpp"

#include "csvio/cells.hpp"
#include "travik/model_state.hpp"

#include <map>
#include <optional>

namespace travik {

namespace {

// Ordered distinct values, each with the text of its first occurrence.
template <class Key>
CategoryCoding numbered(const std::vector<std::optional<Key>>& keys,
                        const std::vector<std::string_view>& texts) {
    std::map<Key, std::size_t> first; // value -> record of its first occurrence
    for (std::size_t k = 0; k < keys.size(); ++k)
        if (keys[k]) first.emplace(*keys[k], k);
    CategoryCoding coding;
    std::map<Key, int> code;
    for (const auto& [key, record] : first) {
        coding.values.emplace_back(texts[record]);
        code.emplace(key, static_cast<int>(coding.values.size()));
    }
    coding.codes.reserve(keys.size());
    for (const auto& key : keys) coding.codes.push_back(key ? code.at(*key) : 0);
    return coding;
}

std::string someValues(const std::vector<std::string>& values) {
    constexpr std::size_t shown = 8;
    std::string list;
    for (std::size_t i = 0; i < values.size() && i < shown; ++i)
        list += (i ? ", " : "") + csvio::inQuotes(values[i]);
    if (values.size() > shown) list += ", ...";
    return list;
}

} // namespace

CategoryCoding codeCategories(const csvio::Table& table, std::size_t column, bool ordinal,
                              const std::vector<std::string>& missing) {
    const std::size_t n = table.records.size();
    std::vector<std::string_view> texts(n);
    std::vector<std::optional<double>> numbers(n);
    bool allNumbers = true;
    for (std::size_t k = 0; k < n; ++k) {
        texts[k] = csvio::cellText(table, k, column);
        if (csvio::isMissingToken(texts[k], missing)) continue;
        if (ordinal) {
            numbers[k] = csvio::numberAt(table, k, column, missing, "an ordinal item");
        } else {
            numbers[k] = csvio::plainDecimal(texts[k]);
            if (!numbers[k]) allNumbers = false;
        }
    }

    CategoryCoding coding;
    if (ordinal || allNumbers) {
        coding = numbered(numbers, texts);
    } else {
        std::vector<std::optional<std::string>> words(n);
        for (std::size_t k = 0; k < n; ++k)
            if (!csvio::isMissingToken(texts[k], missing)) words[k] = std::string(texts[k]);
        coding = numbered(words, texts);
    }

    const std::size_t count = coding.values.size();
    if (count < 2 || count > static_cast<std::size_t>(kMaxCategories)) {
        const std::string kind = ordinal ? "ordinal" : "nominal";
        const std::string article = ordinal ? "an " : "a ";
        csvio::failAt(table, table.headerLine, column,
                      "the " + kind + " item has " + std::to_string(count) + " distinct value" +
                          (count == 1 ? "" : "s") +
                          (count ? " (" + someValues(coding.values) + ")" : "") + "; " + article +
                          kind + " item takes 2 to 6 categories");
    }
    return coding;
}

} // namespace travik
