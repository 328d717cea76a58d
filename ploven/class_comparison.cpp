#include "ploven/class_comparison.hpp"

#include "csvio/write.hpp"
#include "fixedio/layout.hpp"
#include "resultsio/criteria.hpp"

namespace ploven {

using fixedio::formatF;
using fixedio::formatI;
using resultsio::Json;
using resultsio::number;

namespace {

resultsio::InformationCriteria criteriaOf(const ComparisonRow& r) {
    return resultsio::informationCriteria(r.loglik, r.parameters, r.cases);
}

} // namespace

int smallestBicRow(const std::vector<ComparisonRow>& rows) {
    int best = -1;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (!rows[i].fitted) continue;
        if (best < 0 ||
            criteriaOf(rows[i]).bic < criteriaOf(rows[static_cast<std::size_t>(best)]).bic)
            best = static_cast<int>(i);
    }
    return best;
}

std::string comparisonReport(const std::vector<ComparisonRow>& rows, int bootstrapSamples) {
    const int best = smallestBicRow(rows);
    std::string out = "\n\n     COMPARISON OF CLASS COUNTS";
    if (bootstrapSamples > 0)
        out += " (BOOTSTRAP LIKELIHOOD RATIO TEST OF K-1 AGAINST K CLASSES, " +
               std::to_string(bootstrapSamples) + " SAMPLES)";
    out += "\n\n  CLASSES   LOGLIKELIHOOD  PARAMETERS          AIC          BIC        SABIC  "
           "ENTROPY R2  SMALLEST  REPLICATED  BLRT P\n";
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const ComparisonRow& r = rows[i];
        out += formatI(r.classes, 9);
        if (!r.fitted) {
            out += "   NO CONVERGED FIT\n";
            continue;
        }
        const resultsio::InformationCriteria c = criteriaOf(r);
        std::string line = formatF(r.loglik, 16, 4) + formatI(r.parameters, 12) +
                           formatF(c.aic, 13, 3) + formatF(c.bic, 13, 3) + formatF(c.sabic, 13, 3) +
                           formatF(r.entropyR2, 12, 4) + formatF(r.smallestClass, 10, 4) +
                           formatI(r.replicated, 12) +
                           (r.blrtP ? formatF(*r.blrtP, 8, 4) : std::string(8, ' ')) +
                           (static_cast<int>(i) == best ? "  <- SMALLEST BIC" : "");
        // No blanks at a line's end, where no p-value or mark follows.
        line.erase(line.find_last_not_of(' ') + 1);
        out += line + "\n";
    }
    out += "\n     EACH CLASS COUNT'S OWN OUTPUTS ARE IN THE FOLDER classes-K.\n";
    return out;
}

Json comparisonJson(const std::vector<ComparisonRow>& rows) {
    const int best = smallestBicRow(rows);
    Json list = Json::array();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const ComparisonRow& r = rows[i];
        const resultsio::InformationCriteria c = criteriaOf(r);
        Json row;
        row["classes"] = r.classes;
        row["loglikelihood"] = r.fitted ? number(r.loglik) : Json(nullptr);
        row["parameters"] = r.parameters;
        row["aic"] = r.fitted ? number(c.aic) : Json(nullptr);
        row["bic"] = r.fitted ? number(c.bic) : Json(nullptr);
        row["sabic"] = r.fitted ? number(c.sabic) : Json(nullptr);
        row["entropy_r2"] = r.fitted ? number(r.entropyR2) : Json(nullptr);
        row["smallest_class"] = r.fitted ? number(r.smallestClass) : Json(nullptr);
        row["replicated"] = r.replicated;
        row["blrt_p"] = r.blrtP ? number(*r.blrtP) : Json(nullptr);
        row["smallest_bic"] = static_cast<int>(i) == best;
        list.push_back(std::move(row));
    }
    Json doc;
    doc["rows"] = std::move(list);
    return doc;
}

std::string comparisonCsv(const std::vector<ComparisonRow>& rows) {
    const int best = smallestBicRow(rows);
    std::string out = csvio::csvRecord(std::vector<std::string>{
        "classes", "loglikelihood", "parameters", "aic", "bic", "sabic", "entropy_r2",
        "smallest_class", "replicated", "blrt_p", "smallest_bic"});
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const ComparisonRow& r = rows[i];
        const resultsio::InformationCriteria c = criteriaOf(r);
        auto value = [&](double v) { return r.fitted ? csvio::csvNumber(v) : std::string(); };
        out += csvio::csvRecord(std::vector<std::string>{
            std::to_string(r.classes), value(r.loglik), std::to_string(r.parameters), value(c.aic),
            value(c.bic), value(c.sabic), value(r.entropyR2), value(r.smallestClass),
            std::to_string(r.replicated), r.blrtP ? csvio::csvNumber(*r.blrtP) : std::string(),
            static_cast<int>(i) == best ? "true" : "false"});
    }
    return out;
}

} // namespace ploven
