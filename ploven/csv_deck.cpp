#include "ploven/csv_deck.hpp"

#include "csvio/case_ids.hpp"
#include "csvio/cells.hpp"
#include "csvio/columns.hpp"
#include "csvio/deck_text.hpp"
#include "fixedio/layout.hpp"
#include "latent/input_error.hpp"

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
    if (table.delimiter != ',') lines.push_back("   " + csvio::dialectLegend(table));
    lines.push_back("     CASES USED: " + std::to_string(d.caseLines.size()));
    if (d.categorical && d.cases.casesWithMissing > 0)
        lines.push_back("     " + std::to_string(d.cases.casesWithMissing) +
                        " CASES USED WITH MISSING ANSWERS (LIKELIHOOD OVER THE ITEMS ANSWERED)");
    if (!d.leftOutLines.empty()) {
        lines.push_back("     " + std::to_string(d.leftOutLines.size()) +
                        (o.listwise || !d.categorical ? " CASES WITH A MISSING VALUE LEFT OUT"
                                                      : " CASES WITHOUT ANY ANSWER LEFT OUT"));
        std::string listed = "     CSV LINES";
        for (std::size_t i = 0; i < d.leftOutLines.size() && i < kLinesListed; ++i)
            listed += " " + std::to_string(d.leftOutLines[i]);
        if (d.leftOutLines.size() > kLinesListed) listed += " ...";
        lines.push_back(listed);
    }
    return lines;
}

// A column whose values are all 0 and 1 (or missing) as categories "0" and "1", as the binary
// deck has always read it; nullopt for any other column.
std::optional<csvio::CategoryCoding> zeroOneColumn(const csvio::Table& table, std::size_t column,
                                                   const std::vector<std::string>& missing) {
    csvio::CategoryCoding c;
    c.labels = {"0", "1"};
    c.codes.reserve(table.records.size());
    for (std::size_t k = 0; k < table.records.size(); ++k) {
        try {
            const std::optional<int> v = csvio::binaryAt(table, k, column, missing);
            c.codes.push_back(v ? *v + 1 : 0);
        } catch (const latent::InputError&) {
            return std::nullopt;
        }
    }
    return c;
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

    // Every item's values as category codes 1..C (0 missing).
    std::vector<csvio::CategoryCoding> coded;
    csvio::checkLevelColumns(table, o.levels, columns, "an item");
    for (std::size_t column : columns) {
        std::optional<csvio::CategoryCoding> binary = zeroOneColumn(table, column, o.missing);
        if (binary) {
            coded.push_back(std::move(*binary));
            continue;
        }
        csvio::CategoryRule rule;
        rule.levels = csvio::levelsOf(o.levels, table.header[column]);
        coded.push_back(csvio::codeCategories(table, column, rule, o.missing));
    }
    bool polytomous = false;
    for (const csvio::CategoryCoding& c : coded) {
        d.categoryLabels.push_back(c.labels);
        polytomous = polytomous || c.labels.size() > 2;
    }
    const std::size_t J = columns.size();
    std::vector<std::string> idTexts;
    if (!o.id.empty())
        idTexts = csvio::caseIds(table, picked[1][0], o.missing, o.allowDuplicateIds);
    CategoricalCases cases;
    cases.rows.nitem = static_cast<int>(J);
    for (const csvio::CategoryCoding& c : coded)
        cases.rows.categories.push_back(static_cast<int>(c.labels.size()));
    for (std::size_t k = 0; k < n; ++k) {
        std::size_t answered = 0;
        for (const csvio::CategoryCoding& c : coded) answered += c.codes[k] != 0 ? 1 : 0;
        const bool keep = o.listwise ? answered == J : answered > 0;
        if (!keep) {
            d.leftOutLines.push_back(table.records[k].line);
            if (!o.id.empty()) d.leftOutIds.push_back(idTexts[k]);
            continue;
        }
        if (answered < J) ++cases.casesWithMissing;
        d.caseLines.push_back(table.records[k].line);
        if (!o.id.empty()) d.caseIds.push_back(idTexts[k]);
        for (const csvio::CategoryCoding& c : coded)
            cases.rows.x.push_back(static_cast<std::uint8_t>(c.codes[k]));
        cases.rows.freq.push_back(1);
    }
    if (d.caseLines.empty())
        csvio::failInFile(table, o.listwise
                                     ? "every case has a missing value; no case is left to analyse"
                                     : "no case answered any item; no case is left to analyse");
    d.categorical = polytomous || cases.casesWithMissing > 0;
    // The binary deck holds 0 and 1; for the categorical model LATC.INP lists the codes 1..C
    // (0 missing), which only documents the data.
    std::string records;
    for (int i = 0; i < cases.rows.size(); ++i) {
        if (!o.id.empty()) records += std::to_string(i + 1) + " ";
        const std::uint8_t* x = cases.rows.row(i);
        for (std::size_t j = 0; j < J; ++j) {
            if (j > 0) records += ' ';
            records += std::to_string(d.categorical ? x[j] : x[j] - 1);
        }
        records += '\n';
    }
    d.cases = std::move(cases);
    d.idColumn = o.id;
    d.simulations = o.simulations;
    d.delimiter = table.delimiter;

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
