// Pieces of the decks written from CSV data: numbers that read back exactly, and the title.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace csvio {

// The shortest decimal text that reads back as exactly this value ("2.5", "0.1", "1e-08").
std::string shortestDecimal(double value);

// The text with control characters (line breaks, tabs) shown as '?', for one report line.
std::string printable(std::string_view text);

// "Data from NAME" for the file's name without its folders, cut to at most width bytes at a
// UTF-8 character boundary; control characters (a line break in a file name) become '?'.
std::string deckTitle(std::string_view fileLabel, std::size_t width);

} // namespace csvio
