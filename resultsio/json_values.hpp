// The pieces of the results files (travik.json, ploven.json) that both estimators write the
// same way: the head of the document, numbers, and how a run ended.
#pragma once

#include "resultsio/criteria.hpp"
#include "resultsio/ending.hpp"

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>

namespace resultsio {

// Objects keep their keys in the order written, so the file reads like the report.
using Json = nlohmann::ordered_json;

// 2: travik's binary margins are "second_order" and "third_order" (were "pairs" and
// "triples"), the names ploven.json uses.
// 3: an item's "categories" is the list of its category labels (was travik's count of them,
// now "category_count"); a CSV run gives its source under "data"."csv".
constexpr int kSchemaVersion = 3;

// A double as JSON: the number itself (written so that it reads back to the same double), or
// null when it is not finite.
Json number(double value);

// schema_version, program, version, title (trailing blanks removed), status and message (null
// when there is none), in that order.
Json documentHead(std::string_view program, std::string_view title, Ending ending,
                  std::string_view message);

// loglikelihood, parameters, aic, bic and sabic into doc. The criteria compare maxima: for a fit
// that did not converge (ending other than Converged) they are null.
void addModelComparison(Json& doc, Ending ending, double loglik, long long parameters,
                        double cases);

// A report's error line as a message: without its leading and trailing blanks and line end.
std::string trimmedLine(std::string_view line);

// The document as the file holds it: indented by two, ending with a line end.
std::string fileText(const Json& doc);

} // namespace resultsio
