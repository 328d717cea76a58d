// Case identifiers from a CSV column. An identifier is kept byte for byte as the file holds it:
// the reader drops only the CSV's own padding, the blanks around an unquoted field and the
// quotes around a quoted one, so " 007 " in quotes stays " 007 ".
#pragma once

#include "csvio/table.hpp"

#include <cstddef>
#include <string>
#include <vector>

namespace csvio {

// The identifiers of every record. An empty identifier (nothing but blanks), one that is a
// missing token ("NA"), and, unless allowDuplicates, one that an earlier record holds too are an
// InputError naming the column and the lines of the first records at fault.
std::vector<std::string> caseIds(const Table& table, std::size_t column,
                                 const std::vector<std::string>& missing, bool allowDuplicates);

// The header of the ID column in a file the program writes: the user's name for it, or "id"
// when that is empty or already names another column of the file.
std::string idColumnHeader(const std::string& name, const std::vector<std::string>& otherColumns);

} // namespace csvio
