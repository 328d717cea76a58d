// ploven.json: the run's results as a JSON document (schema in docs/results.md).
#pragma once

#include "ploven/results.hpp"
#include "resultsio/json_values.hpp"

namespace ploven {

resultsio::Json resultsDocument(const RunRecord& r);

} // namespace ploven
