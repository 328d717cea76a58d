// The block of notes and warnings at the end of the report, written only when there is
// something to say. Warnings also go to standard error.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace travik {

struct RunNotes {
    std::vector<std::string> warnings; // the deck is probably not what was meant
    std::vector<std::string> notes;    // what the run did that the reader should know
};

// "***Notes and Warnings***" and one line each, in upper case as the rest of the report:
// " *** WARNING *** ..." then " NOTE: ...". Empty when there is nothing to say.
std::string notesSection(const RunNotes& notes);

// Each warning as "travik: warning: ..." on err.
void warnOnConsole(const std::vector<std::string>& warnings, std::ostream& err);

} // namespace travik
