// Reading a CSV file with a header row. Fields are separated by commas, semicolons or tabs,
// given or detected from the header; a field in double
// quotes may hold commas, line breaks and doubled quotes (""). A UTF-8 byte-order mark is
// skipped, LF and CRLF line ends are both accepted, and blank lines (anywhere, so also at the
// end) are skipped. Every error names the file, the line and the column.
#pragma once

#include "csvio/table.hpp"

#include <filesystem>
#include <string>
#include <string_view>

namespace csvio {

// The separator a header line shows: a comma when it holds one (outside quotes), otherwise
// the more frequent of semicolon and tab (semicolon on a tie), otherwise a comma.
char detectDelimiter(std::string_view headerLine);

// Parses content; program and label name the source in messages ("travik", "data.csv").
// delimiter: the field separator, or 0 to detect it from the first line that is not blank.
// The first record is the header. Throws latent::InputError for an empty file, an empty
// header name, a record with more or fewer fields than the header, a quote inside an unquoted
// field or after a closing quote, a quoted field that is never closed, and a line that ends in
// a carriage return alone.
Table readCsv(std::string program, std::string label, const std::string& content,
              char delimiter = ',');

// Reads a whole file (labelled with the path as given); a file that cannot be read is an
// InputError.
Table readCsvFile(std::string program, const std::filesystem::path& path, char delimiter = ',');

} // namespace csvio
