// Where a CSV run's data came from, as both results files give it under "data": the file as the
// user named it, its field separator, the ID column and the tokens read as missing.
#pragma once

#include "resultsio/json_values.hpp"

#include <string>
#include <vector>

namespace resultsio {

struct CsvSource {
    std::string file;     // as given on the command line
    char delimiter = ','; // as read
    std::string idColumn; // empty: none
    std::vector<std::string> missing;
};

// {"file", "delimiter", "id_column" (null for none), "missing"}.
Json csvSourceJson(const CsvSource& source);

} // namespace resultsio
