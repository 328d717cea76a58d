#include "resultsio/json_values.hpp"

#include "latent/version.hpp"

#include <cmath>

namespace resultsio {

const char* statusName(Ending ending) {
    switch (ending) {
    case Ending::Converged:
        return "converged";
    case Ending::MaxCycles:
        return "max_cycles";
    case Ending::Diverged:
        return "diverged";
    case Ending::NotCertified:
        return "not_certified";
    case Ending::Rejected:
        return "rejected";
    }
    return "rejected";
}

Json number(double value) {
    if (!std::isfinite(value)) return nullptr;
    return value;
}

std::string trimmedLine(std::string_view line) {
    const std::size_t from = line.find_first_not_of(" \n\r");
    if (from == std::string_view::npos) return "";
    const std::size_t to = line.find_last_not_of(" \n\r");
    return std::string(line.substr(from, to + 1 - from));
}

Json documentHead(std::string_view program, std::string_view title, Ending ending,
                  std::string_view message) {
    Json doc;
    doc["schema_version"] = kSchemaVersion;
    doc["program"] = program;
    doc["version"] = latent::version();
    const std::size_t end = title.find_last_not_of(' ');
    doc["title"] =
        end == std::string_view::npos ? std::string() : std::string(title.substr(0, end + 1));
    doc["status"] = statusName(ending);
    doc["message"] = message.empty() ? Json(nullptr) : Json(std::string(message));
    return doc;
}

void addModelComparison(Json& doc, Ending ending, double loglik, long long parameters,
                        double cases) {
    const InformationCriteria c = informationCriteria(loglik, parameters, cases);
    const bool maximum = ending == Ending::Converged;
    doc["loglikelihood"] = number(loglik);
    doc["parameters"] = parameters;
    doc["aic"] = maximum ? number(c.aic) : Json(nullptr);
    doc["bic"] = maximum ? number(c.bic) : Json(nullptr);
    doc["sabic"] = maximum ? number(c.sabic) : Json(nullptr);
}

std::string fileText(const Json& doc) {
    // Text that is not valid UTF-8 (a title in Latin-1, say) is replaced, never an exception.
    return doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

} // namespace resultsio
