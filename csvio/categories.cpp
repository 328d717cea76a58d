#include "csvio/categories.hpp"

#include "csvio/cells.hpp"

#include <algorithm>
#include <map>
#include <optional>

namespace csvio {

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
        coding.labels.emplace_back(texts[record]);
        code.emplace(key, static_cast<int>(coding.labels.size()));
    }
    coding.codes.reserve(keys.size());
    for (const auto& key : keys) coding.codes.push_back(key ? code.at(*key) : 0);
    return coding;
}

CategoryCoding inFirstAppearance(const std::vector<std::optional<std::string_view>>& words) {
    CategoryCoding coding;
    std::map<std::string_view, int> code;
    coding.codes.reserve(words.size());
    for (const auto& word : words) {
        if (!word) {
            coding.codes.push_back(0);
            continue;
        }
        auto [at, added] = code.emplace(*word, static_cast<int>(coding.labels.size()) + 1);
        if (added) coding.labels.emplace_back(*word);
        coding.codes.push_back(at->second);
    }
    return coding;
}

std::string someValues(const std::vector<std::string>& values) {
    constexpr std::size_t shown = 8;
    std::string list;
    for (std::size_t i = 0; i < values.size() && i < shown; ++i)
        list += (i ? ", " : "") + inQuotes(values[i]);
    if (values.size() > shown) list += ", ...";
    return list;
}

// The 1-based place of text among the labels: the same text, or the same number.
int placeAmong(std::string_view text, const std::vector<std::string>& labels) {
    for (std::size_t c = 0; c < labels.size(); ++c)
        if (trimmed(labels[c]) == text) return static_cast<int>(c) + 1;
    if (const auto x = plainDecimal(text))
        for (std::size_t c = 0; c < labels.size(); ++c)
            if (plainDecimal(trimmed(labels[c])) == x) return static_cast<int>(c) + 1;
    return 0;
}

CategoryCoding inGivenOrder(const Table& table, std::size_t column,
                            const std::vector<std::string>& labels,
                            const std::vector<std::optional<std::string_view>>& words) {
    CategoryCoding coding;
    for (const std::string& label : labels) coding.labels.emplace_back(trimmed(label));
    coding.codes.reserve(words.size());
    for (std::size_t k = 0; k < words.size(); ++k) {
        if (!words[k]) {
            coding.codes.push_back(0);
            continue;
        }
        const int c = placeAmong(*words[k], labels);
        if (c == 0)
            failAt(table, table.lineOf(k, column), column,
                   "the value " + inQuotes(*words[k]) +
                       " is none of the levels given with --levels (" + someValues(coding.labels) +
                       ")");
        coding.codes.push_back(c);
    }
    return coding;
}

} // namespace

LevelParse parseLevelOrder(std::string_view text) {
    LevelParse parsed;
    const std::string shown = "\"" + std::string(text) + "\"";
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos) {
        parsed.fault = "expected COLUMN=label,label,... in " + shown;
        return parsed;
    }
    parsed.order.column = std::string(trimmed(text.substr(0, equals)));
    if (parsed.order.column.empty()) {
        parsed.fault = "no column name before '=' in " + shown;
        return parsed;
    }
    std::string_view rest = text.substr(equals + 1);
    for (bool last = false; !last;) {
        std::size_t comma = rest.find(',');
        last = comma == std::string_view::npos;
        if (last) comma = rest.size();
        const std::string label(trimmed(rest.substr(0, comma)));
        if (label.empty()) {
            parsed.fault = "an empty label in " + shown;
            return parsed;
        }
        if (std::find(parsed.order.labels.begin(), parsed.order.labels.end(), label) !=
            parsed.order.labels.end()) {
            parsed.fault = "the label \"" + label + "\" is given twice in " + shown;
            return parsed;
        }
        parsed.order.labels.push_back(label);
        if (!last) rest.remove_prefix(comma + 1);
    }
    if (parsed.order.labels.size() < 2) parsed.fault = "give at least 2 labels in " + shown;
    return parsed;
}

const std::vector<std::string>* levelsOf(const std::vector<LevelOrder>& orders,
                                         std::string_view column) {
    for (const LevelOrder& order : orders)
        if (order.column == column) return &order.labels;
    return nullptr;
}

void checkLevelColumns(const Table& table, const std::vector<LevelOrder>& orders,
                       const std::vector<std::size_t>& categoryColumns, std::string_view kinds) {
    for (const LevelOrder& order : orders) {
        const bool taken =
            std::any_of(categoryColumns.begin(), categoryColumns.end(),
                        [&](std::size_t c) { return table.header[c] == order.column; });
        if (!taken)
            failInFile(table, "--levels names the column " + inQuotes(order.column) +
                                  ", which is not " + std::string(kinds) +
                                  "; levels apply only to such columns");
    }
}

CategoryCoding codeCategories(const Table& table, std::size_t column, const CategoryRule& rule,
                              const std::vector<std::string>& missing) {
    const std::size_t n = table.records.size();
    std::vector<std::string_view> texts(n);
    std::vector<std::optional<std::string_view>> words(n);
    std::vector<std::optional<double>> numbers(n);
    bool allNumbers = true;
    for (std::size_t k = 0; k < n; ++k) {
        texts[k] = cellText(table, k, column);
        if (isMissingToken(texts[k], missing)) continue;
        words[k] = texts[k];
        if (rule.levels) continue;
        numbers[k] = rule.numbersOnly ? numberAt(table, k, column, missing, rule.role)
                                      : plainDecimal(texts[k]);
        if (!numbers[k]) allNumbers = false;
    }

    CategoryCoding coding;
    if (rule.levels)
        coding = inGivenOrder(table, column, *rule.levels, words);
    else if (allNumbers)
        coding = numbered(numbers, texts);
    else if (rule.textOrder == TextOrder::FirstAppearance)
        coding = inFirstAppearance(words);
    else {
        std::vector<std::optional<std::string>> keys(n);
        for (std::size_t k = 0; k < n; ++k)
            if (words[k]) keys[k] = std::string(*words[k]);
        coding = numbered(keys, texts);
    }

    const std::size_t count = coding.labels.size();
    if (count < 2 || count > static_cast<std::size_t>(rule.most)) {
        const std::string role(rule.role);
        const std::string kind =
            role.substr(role.find(' ') + 1); // "an ordinal item": "ordinal item"
        failAt(table, table.headerLine, column,
               "the " + kind + " has " + std::to_string(count) + " distinct value" +
                   (count == 1 ? "" : "s") + (count ? " (" + someValues(coding.labels) + ")" : "") +
                   "; " + role + " takes 2 to " + std::to_string(rule.most) + " categories");
    }
    return coding;
}

} // namespace csvio
