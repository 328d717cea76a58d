#include "travik/csv_deck.hpp"

#include <algorithm>

#include "csvio/case_ids.hpp"
#include "csvio/categories.hpp"
#include "csvio/cells.hpp"
#include "csvio/columns.hpp"
#include "csvio/deck_text.hpp"
#include "fixedio/layout.hpp"
#include "travik/model_state.hpp"

#include <cmath>
#include <filesystem>

namespace travik {

namespace {

constexpr std::size_t kTitleWidth = 70;
const char* const kTypeNames[] = {"BINARY", "NORMAL", "NOMINAL", "ORDINAL"};

std::vector<CsvItem> itemsOf(const csvio::Table& table, const CsvModelOptions& o,
                             std::optional<std::size_t>& idColumn) {
    std::vector<csvio::ColumnList> lists = {{"a binary item", o.binary},
                                            {"a normal item", o.normal},
                                            {"a nominal item", o.nominal},
                                            {"an ordinal item", o.ordinal}};
    if (!o.id.empty()) lists.push_back({"the ID column", {o.id}});
    const auto picked = csvio::pickColumns(table, lists);
    if (!o.id.empty()) idColumn = picked[4][0];

    std::vector<CsvItem> items;
    for (std::size_t type = 0; type < 4; ++type) {
        for (std::size_t i = 0; i < picked[type].size(); ++i) {
            CsvItem item;
            item.column = picked[type][i];
            item.name = table.header[item.column];
            item.type = static_cast<ItemType>(type);
            item.numberInType = static_cast<int>(i) + 1;
            items.push_back(std::move(item));
        }
    }
    if (items.empty())
        csvio::failInFile(table, "no items: name at least one column as a binary, normal, "
                                 "nominal or ordinal item");
    return items;
}

// A normal value whose integer part is 999 would read back as missing.
std::string normalValue(const csvio::Table& table, std::size_t record, std::size_t column,
                        const std::vector<std::string>& missing) {
    const std::optional<double> x =
        csvio::numberAt(table, record, column, missing, "a normal item");
    if (!x) return "999";
    if (isMissing(*x))
        csvio::failAt(table, table.lineOf(record, column), column,
                      "the value " + csvio::inQuotes(csvio::cellText(table, record, column)) +
                          " would read as the deck's missing code 999 (every value from 999 to "
                          "below 1000 does); rescale the item, for example divide it by 10");
    return csvio::shortestDecimal(*x);
}

std::string joined(const std::vector<std::string>& values) {
    std::string line;
    for (const std::string& v : values) {
        if (!line.empty()) line += ' ';
        line += v;
    }
    return line;
}

std::vector<std::string> legendOf(const csvio::Table& table, const CsvDeck& d,
                                  const CsvModelOptions& o) {
    using fixedio::formatI;
    std::vector<std::string> lines;
    const std::string file = std::filesystem::path(table.label).filename().string();
    lines.push_back("  ***Items from " + csvio::printable(file) + "***");
    lines.push_back("");
    lines.push_back("  ITEM  TYPE     NUMBER  NAME");
    const std::string indent(25, ' ');
    for (std::size_t i = 0; i < d.items.size(); ++i) {
        const CsvItem& item = d.items[i];
        std::string type = kTypeNames[static_cast<int>(item.type)];
        type.resize(9, ' ');
        lines.push_back("  " + formatI(static_cast<long long>(i) + 1, 4) + "  " + type +
                        formatI(item.numberInType, 6) + "  " + csvio::printable(item.name));
        for (std::size_t c = 0; c < item.categories.size(); ++c)
            lines.push_back(indent + formatI(static_cast<long long>(c) + 1, 1) + " = " +
                            csvio::printable(item.categories[c]));
    }
    lines.push_back("");
    if (!o.id.empty()) lines.push_back("  ID COLUMN: " + csvio::printable(o.id));
    lines.push_back("  CASES: " + std::to_string(d.caseLines.size()) + " (CSV LINES " +
                    std::to_string(d.caseLines.front()) + " TO " +
                    std::to_string(d.caseLines.back()) + ")");
    std::string tokens;
    for (const std::string& t : o.missing) {
        const std::string_view token = csvio::trimmed(t);
        tokens += (tokens.empty() ? "" : ", ") +
                  (token.empty() ? std::string("(EMPTY CELL)") : csvio::printable(token));
    }
    lines.push_back("  MISSING VALUES: " + (tokens.empty() ? std::string("(NONE)") : tokens));
    if (table.delimiter != ',') lines.push_back(csvio::dialectLegend(table));
    if (o.maxCycles > kMostDeckCycles)
        lines.push_back("  CYCLE LIMIT: " + std::to_string(o.maxCycles) + " (LAT.INP HOLDS " +
                        std::to_string(kMostDeckCycles) + ", THE MOST A DECK'S MAXIT CAN BE)");
    return lines;
}

} // namespace

CsvDeck deckFromCsv(const csvio::Table& table, const CsvModelOptions& o) {
    std::optional<std::size_t> idColumn;
    CsvDeck d;
    d.items = itemsOf(table, o, idColumn);
    const std::size_t n = table.records.size();
    if (n == 0) csvio::failAtLine(table, table.headerLine, "no data rows below the header row");

    int counts[4] = {0, 0, 0, 0};
    std::vector<std::string> nominalCounts, ordinalCounts;
    std::vector<csvio::CategoryCoding> codings(d.items.size());
    std::vector<std::size_t> categoryColumns;
    for (const CsvItem& item : d.items)
        if (item.type == ItemType::Nominal || item.type == ItemType::Ordinal)
            categoryColumns.push_back(item.column);
    csvio::checkLevelColumns(table, o.levels, categoryColumns, "a nominal or ordinal item");
    for (std::size_t i = 0; i < d.items.size(); ++i) {
        CsvItem& item = d.items[i];
        ++counts[static_cast<int>(item.type)];
        if (item.type != ItemType::Nominal && item.type != ItemType::Ordinal) continue;
        const bool ordinal = item.type == ItemType::Ordinal;
        csvio::CategoryRule rule;
        rule.levels = csvio::levelsOf(o.levels, item.name);
        rule.numbersOnly = ordinal && !rule.levels;
        rule.textOrder = csvio::TextOrder::Bytes;
        rule.most = kMostCategories;
        rule.role = ordinal ? "an ordinal item" : "a nominal item";
        codings[i] = csvio::codeCategories(table, item.column, rule, o.missing);
        item.categories = codings[i].labels;
        (item.type == ItemType::Nominal ? nominalCounts : ordinalCounts)
            .push_back(std::to_string(item.categories.size()));
    }

    std::string& deck = d.deck;
    deck += csvio::deckTitle(table.label, kTitleWidth) + "\n";
    deck += std::to_string(n) + " " + std::to_string(counts[0]) + " " + std::to_string(counts[1]) +
            " " + std::to_string(counts[2]) + " " + std::to_string(counts[3]) + " " +
            std::to_string(o.quadraturePoints) + "\n";
    deck += joined(nominalCounts) + "\n";
    deck += joined(ordinalCounts) + "\n";
    deck += std::to_string(o.factors) + " 0 " +
            std::to_string(std::min(o.maxCycles, kMostDeckCycles)) + " " +
            (o.saveEstimates ? "1" : "0") + " " + csvio::shortestDecimal(o.tolerance) + " " +
            (o.scores ? "1" : "0") + "\n";

    if (idColumn) d.caseIds = csvio::caseIds(table, *idColumn, o.missing, o.allowDuplicateIds);
    std::vector<std::string> row(d.items.size());
    for (std::size_t k = 0; k < n; ++k) {
        for (std::size_t i = 0; i < d.items.size(); ++i) {
            const CsvItem& item = d.items[i];
            switch (item.type) {
            case ItemType::Binary: {
                const std::optional<int> v = csvio::binaryAt(table, k, item.column, o.missing);
                row[i] = v ? std::to_string(*v) : "999";
                break;
            }
            case ItemType::Normal:
                row[i] = normalValue(table, k, item.column, o.missing);
                break;
            case ItemType::Nominal:
            case ItemType::Ordinal: {
                const int code = codings[i].codes[k];
                row[i] = code ? std::to_string(code) : "999";
                break;
            }
            }
        }
        deck += joined(row);
        deck += '\n';
        d.caseLines.push_back(table.records[k].line);
    }
    d.legend = legendOf(table, d, o);
    d.delimiter = table.delimiter;
    d.saveEstimates = o.saveEstimates;
    return d;
}

} // namespace travik
