// What the data and the size of the model say before the fit: items whose likelihood has no
// maximum (refused), models too large for their data and deck lines left unread (warnings).
#pragma once

#include "ploven/model.hpp"

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ploven {

// A binary item that every case answers the same way: its probabilities climb to that bound in
// every class, so the likelihood has no maximum inside the model.
struct DegenerateItem {
    int item = 0;  // 0-based
    int value = 0; // the one value observed
};

// The items of data with one observed value (patterns of frequency 0 observe nothing), in item
// order. Empty when no case is observed at all: that is another error.
std::vector<DegenerateItem> degenerateItems(const PatternTable& data);

// How the refusal names the items and the cases it saw.
struct DataSource {
    // A CSV run's column names, one per item; empty for a deck, whose items go by number.
    std::span<const std::string> columns;
    long long cases = 0;        // cases in the fit
    long long casesLeftOut = 0; // CSV cases left out for a missing value
};

// The report's error line that refuses the degenerate items (nonempty) of nitem items.
std::string degenerateItemsLine(std::span<const DegenerateItem> items, int nitem,
                                const DataSource& source);

// Warnings on a model too large for its data: more free parameters than cases; at least as many
// as the 2^nitem - 1 free cells of the pattern table (saturated). Each is one sentence.
std::vector<std::string> modelSizeWarnings(int nitem, int nclass, long long ncase);

// The deck's lines after the last line the records used (linesRead) that hold values:
// "LABEL" lines F to L: data remain after the last of the NPAT records and are not read. The
// deck's text as read (a byte-order mark and carriage returns are allowed).
std::optional<std::string> unreadDataWarning(std::string_view deck, int linesRead,
                                             const std::string& label, int records);

// A warning as the report's notes block prints it: upper case, as the rest of the report,
// except names in double quotes (files, columns), kept as written.
std::string reportWarning(const std::string& warning);

} // namespace ploven
