// Writing CSV rows: fields quoted only when they need it, numbers that read back exactly.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace csvio {

// A field as a CSV file holds it: in double quotes (each quote inside doubled) when it holds
// a comma, a quote, a line break or a leading or trailing blank; as it is otherwise.
std::string csvField(std::string_view text);

// The shortest decimal text that reads back to exactly this double (at most 17 significant
// digits), plain from 1e-5 up to 1e17 and in exponent form (1.5e-07) beyond; an empty cell when
// it is not a finite number.
std::string csvNumber(double value);

// One record: the fields (already formatted) joined by commas, ending with a line end.
std::string csvRecord(std::span<const std::string> fields);

} // namespace csvio
