#include "ploven/cases_file.hpp"

#include "csvio/case_ids.hpp"
#include "csvio/write.hpp"

#include <vector>

namespace ploven {

namespace {

using csvio::csvField;
using csvio::csvNumber;

// A CSV file's ID column keeps its name, unless that would repeat another column's (the
// posteriors' columns only when there is a fit: a deck may ask for any number of classes).
std::string csvIdHeader(const CsvCases& csv, int nclass, bool fitted) {
    std::vector<std::string> others = {"case", "class"};
    if (fitted)
        for (int k = 1; k <= nclass; ++k) others.push_back("p_" + std::to_string(k));
    return csvio::idColumnHeader(csv.idColumn, others);
}

// Without a fitted model the header stops at "class": the deck's class count may be anything
// then (a deck rejected for more classes than items, say).
std::vector<std::string> header(const RunRecord& r, bool ids) {
    std::vector<std::string> h;
    if (r.caseInput) {
        h.push_back("case");
        if (ids) h.push_back(r.csv ? csvIdHeader(*r.csv, r.nclass, r.fitted) : "id");
    } else {
        h = {"pattern", "frequency"};
    }
    h.push_back("class");
    if (!r.fitted) return h;
    for (int k = 1; k <= r.nclass; ++k) h.push_back("p_" + std::to_string(k));
    if (!r.caseInput)
        for (int j = 1; j <= r.nitem; ++j) h.push_back("item_" + std::to_string(j));
    return h;
}

// The modal class and the posteriors of pattern i appended to a row.
void classified(const RunRecord& r, int i, std::vector<std::string>& row) {
    row.push_back(std::to_string(r.post.iclass[i]));
    for (int k = 0; k < r.nclass; ++k) row.push_back(csvNumber(r.post.H(k, i)));
}

// A deck's cases: numbered as in the deck, with its identifiers when it has them.
void deckCases(const RunRecord& r, std::string& out) {
    const bool ids = !r.ids.empty();
    out += csvio::csvRecord(header(r, ids));
    std::vector<std::string> row;
    for (std::size_t c = 0; c < r.casePattern.size(); ++c) {
        row = {std::to_string(c + 1)};
        if (ids) row.push_back(std::to_string(r.ids[c]));
        classified(r, r.casePattern[c], row);
        out += csvio::csvRecord(row);
    }
}

void patterns(const RunRecord& r, std::string& out) {
    out += csvio::csvRecord(header(r, false));
    std::vector<std::string> row;
    for (int i = 0; i < r.patterns.size(); ++i) {
        row = {std::to_string(i + 1), std::to_string(r.patterns.freq[i])};
        classified(r, i, row);
        for (int j = 0; j < r.nitem; ++j) row.push_back(std::to_string(r.patterns.response(i, j)));
        out += csvio::csvRecord(row);
    }
}

} // namespace

CsvCases csvCasesOf(const CsvDeck& csv) {
    CsvCases cases;
    cases.itemNames = csv.itemNames;
    cases.ids = !csv.caseIds.empty(); // every deck has a case, so an ID column gives IDs
    cases.caseIds = csv.caseIds;
    cases.caseLines = csv.caseLines;
    cases.leftOutIds = csv.leftOutIds;
    cases.leftOutLines = csv.leftOutLines;
    cases.categoryLabels = csv.categoryLabels;
    cases.idColumn = csv.idColumn;
    return cases;
}

std::string
csvCasesFile(const CsvCases& csv, int nclass, bool fitted,
             const std::function<void(std::size_t, std::vector<std::string>&)>& classify) {
    std::vector<std::string> row = {"case"};
    if (csv.ids) row.push_back(csvIdHeader(csv, nclass, fitted));
    row.push_back("class");
    if (fitted)
        for (int k = 1; k <= nclass; ++k) row.push_back("p_" + std::to_string(k));
    std::string out = csvio::csvRecord(row);
    if (!fitted) return out;
    std::size_t used = 0, left = 0;
    const std::size_t records = csv.caseLines.size() + csv.leftOutLines.size();
    for (std::size_t record = 1; record <= records; ++record) {
        // Both lists are in the order of the file, so the next record is the earlier line.
        const bool isUsed =
            left >= csv.leftOutLines.size() ||
            (used < csv.caseLines.size() && csv.caseLines[used] < csv.leftOutLines[left]);
        row = {std::to_string(record)};
        if (isUsed) {
            if (csv.ids) row.push_back(csvField(csv.caseIds[used]));
            classify(used, row);
            ++used;
        } else {
            if (csv.ids) row.push_back(csvField(csv.leftOutIds[left]));
            row.insert(row.end(), static_cast<std::size_t>(nclass) + 1, std::string());
            ++left;
        }
        out += csvio::csvRecord(row);
    }
    return out;
}

std::string casesFile(const RunRecord& r) {
    std::string out;
    const bool ids = r.csv ? r.csv->ids : r.deckIds;
    if (!r.fitted) return csvio::csvRecord(header(r, ids));
    if (!r.caseInput)
        patterns(r, out);
    else if (r.csv)
        out = csvCasesFile(*r.csv, r.nclass, true,
                           [&r](std::size_t used, std::vector<std::string>& row) {
                               classified(r, r.casePattern[used], row);
                           });
    else
        deckCases(r, out);
    return out;
}

} // namespace ploven
