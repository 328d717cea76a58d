// travik.json: the run's results as a JSON document (schema in docs/results.md).
#pragma once

#include "resultsio/json_values.hpp"
#include "travik/results.hpp"

namespace travik {

resultsio::Json resultsDocument(const RunRecord& r);

} // namespace travik
