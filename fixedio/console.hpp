// Console pauses: a warning the user should see before the run goes on.
#pragma once

#include <cstdio>
#include <string_view>

namespace fixedio {

// Writes text (its lines) to standard output, then waits for Enter only when standard input
// is a terminal; otherwise the run goes on at once (the front end closes standard input).
// A null out writes nothing; a null in never waits.
void consolePause(std::string_view text, std::FILE* in = stdin, std::FILE* out = stdout);

} // namespace fixedio
