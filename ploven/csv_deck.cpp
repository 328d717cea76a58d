#include "ploven/csv_deck.hpp"

#include "csvio/cells.hpp"
#include "csvio/columns.hpp"
#include "csvio/deck_text.hpp"
#include "fixedio/layout.hpp"

#include <filesystem>
#include <optional>

namespace ploven {

namespace {

constexpr std::size_t kTitleWidth = 72;
constexpr std::size_t kLinesListed = 10; // left-out cases named in the legend

std::vector<std::string> itemNamesOf(const csvio::Table& table, const CsvModelOptions& o) {
    if (!o.items.empty()) return o.items;
    std::vector<std::string> names;
    for (const std::string& name : table.header)
        if (name != o.id) names.push_back(name);
    return names;
}

std::vector<std::string> legendOf(const csvio::Table& table, const CsvDeck& d,
                                  const std::vector<std::size_t>& columns,
                                  const CsvModelOptions& o) {
    using fixedio::formatI;
    std::vector<std::string> lines;
    const std::string file = std::filesystem::path(table.label).filename().string();
    lines.push_back("     ***ITEMS FROM " + csvio::printable(file) + "***");
    lines.push_back("");
    lines.push_back("     ITEM  COLUMN  NAME");
    for (std::size_t j = 0; j < d.itemNames.size(); ++j)
        lines.push_back("     " + formatI(static_cast<long long>(j) + 1, 4) +
                        formatI(static_cast<long long>(columns[j]) + 1, 8) + "  " +
                        csvio::printable(d.itemNames[j]));
    lines.push_back("");
    if (!o.id.empty())
        lines.push_back("     CASE IDENTIFIERS: CASE NUMBERS 1 TO " +
                        std::to_string(d.caseLines.size()) + " IN THE DECK, IDS FROM COLUMN " +
                        csvio::printable(o.id));
    lines.push_back("     CASES USED: " + std::to_string(d.caseLines.size()));
    if (!d.leftOutLines.empty()) {
        lines.push_back("     " + std::to_string(d.leftOutLines.size()) +
                        " CASES WITH A MISSING VALUE LEFT OUT");
        std::string listed = "     CSV LINES";
        for (std::size_t i = 0; i < d.leftOutLines.size() && i < kLinesListed; ++i)
            listed += " " + std::to_string(d.leftOutLines[i]);
        if (d.leftOutLines.size() > kLinesListed) listed += " ...";
        lines.push_back(listed);
    }
    return lines;
}

} // namespace

CsvDeck deckFromCsv(const csvio::Table& table, const CsvModelOptions& o) {
    CsvDeck d;
    d.itemNames = itemNamesOf(table, o);
    std::vector<csvio::ColumnList> lists = {{"an item", d.itemNames}};
    if (!o.id.empty()) lists.push_back({"the ID column", {o.id}});
    const auto picked = csvio::pickColumns(table, lists);
    const std::vector<std::size_t>& columns = picked[0];
    if (columns.empty())
        csvio::failInFile(table, "no items: the table has no column to use as an item");
    const std::size_t n = table.records.size();
    if (n == 0) csvio::failAtLine(table, table.headerLine, "no data rows below the header row");

    std::string records;
    std::string row;
    for (std::size_t k = 0; k < n; ++k) {
        // Every response is checked, also in a case that is left out.
        row.clear();
        bool complete = true;
        for (std::size_t column : columns) {
            const std::optional<int> v = csvio::binaryAt(table, k, column, o.missing);
            complete = complete && v.has_value();
            if (!v) continue;
            if (!row.empty()) row += ' ';
            row += static_cast<char>('0' + *v);
        }
        if (!complete) {
            d.leftOutLines.push_back(table.records[k].line);
            if (!o.id.empty()) d.leftOutIds.emplace_back(csvio::cellText(table, k, picked[1][0]));
            continue;
        }
        d.caseLines.push_back(table.records[k].line);
        if (!o.id.empty()) {
            d.caseIds.emplace_back(csvio::cellText(table, k, picked[1][0]));
            records += std::to_string(d.caseLines.size()) + " ";
        }
        records += row;
        records += '\n';
    }
    if (d.caseLines.empty())
        csvio::failInFile(table, "every case has a missing value; no case is left to analyse");

    const bool ids = !o.id.empty();
    const bool simulate = o.simulations > 0;
    d.deck = csvio::deckTitle(table.label, kTitleWidth) + "\n";
    // NPAT NCLASS NITEM IPAT IPRF IPRH IDENT ISE ISIM IPSIM; then TOL MAXIT NSIM.
    d.deck += std::to_string(d.caseLines.size()) + " " + std::to_string(o.classes) + " " +
              std::to_string(columns.size()) + " 0 0 0 " + (ids ? "1" : "0") + " " +
              (o.standardErrors ? "1" : "0") + " " + (simulate ? "1" : "0") + " 0\n";
    d.deck += csvio::shortestDecimal(o.tolerance) + " " + std::to_string(o.maxCycles) + " " +
              std::to_string(simulate ? o.simulations : 0) + "\n";
    d.deck += records;
    d.legend = legendOf(table, d, columns, o);
    return d;
}

} // namespace ploven
