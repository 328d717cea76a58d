// Warnings for decks that are probably miscounted: the run goes on, but NCASE, the item
// counts or the starting values most likely do not describe the file. The files are scanned
// as the free-format reader reads them (every record starts on a new line and leaves the
// rest of its last line unread), so each warning can name the lines concerned.
#pragma once

#include "travik/model_state.hpp"

#include <string>
#include <vector>

namespace travik {

// LAT.INP: lines with values after the last case; a case whose values run on to the next
// line when the first case's did not; a case line with more numbers than the deck's items.
std::vector<std::string> deckWarnings(const std::string& text, const Deck& d);

// LAT3.INP: more values than the model has, on a record's line or after the last record.
std::vector<std::string> startingValueWarnings(const std::string& text, const Deck& d);

// The whole text of a file, for the scans above (empty when it cannot be read).
std::string fileText(const std::string& path);

} // namespace travik
