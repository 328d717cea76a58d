#include "travik/cases_file.hpp"

#include "csvio/case_ids.hpp"
#include "csvio/write.hpp"

#include <vector>

namespace travik {

std::string casesFile(const RunRecord& r) {
    const bool two = r.deck.nf == 2;
    // The report prints no component score when the model has ordinal items.
    const bool components = r.deck.no == 0;
    const bool ids = !r.caseIds.empty();
    std::vector<std::string> row = {"case"};
    for (const char* name : {"mean_1", "sd_1", "mean_2", "sd_2", "component_1", "component_2"}) {
        const std::string n = name;
        if (!two && n.back() == '2') continue;
        row.push_back(n);
    }
    if (ids) row.insert(row.begin() + 1, csvio::idColumnHeader(r.idColumn, row));
    std::string out = csvio::csvRecord(row);
    if (!r.fitted) return out;

    // The fitted case of every input case, -1 for a case left out of the fit. Without case
    // numbers every case was fitted, in order.
    std::vector<int> fitted(static_cast<std::size_t>(r.inputCases), -1);
    for (int c = 0; c < r.inputCases && r.caseNumbers.empty(); ++c) fitted[c] = c;
    for (std::size_t k = 0; k < r.caseNumbers.size(); ++k)
        fitted[r.caseNumbers[k] - 1] = static_cast<int>(k);
    const Scores& s = r.scores;
    for (int c = 0; c < r.inputCases; ++c) {
        row = {std::to_string(c + 1)};
        if (ids) row.push_back(csvio::csvField(r.caseIds[c]));
        const int k = fitted[c];
        auto add = [&](const std::vector<double>& v, bool written = true) {
            row.push_back(k >= 0 && written ? csvio::csvNumber(v[k]) : std::string());
        };
        add(s.eap1);
        add(s.eapSd1);
        if (two) {
            add(s.eap2);
            add(s.eapSd2);
        }
        add(s.component1, components);
        if (two) add(s.component2, components);
        out += csvio::csvRecord(row);
    }
    return out;
}

} // namespace travik
