#include "resultsio/csv_source.hpp"

namespace resultsio {

Json csvSourceJson(const CsvSource& source) {
    Json csv;
    csv["file"] = source.file;
    csv["delimiter"] = std::string(1, source.delimiter);
    csv["id_column"] = source.idColumn.empty() ? Json(nullptr) : Json(source.idColumn);
    csv["missing"] = source.missing;
    return csv;
}

} // namespace resultsio
