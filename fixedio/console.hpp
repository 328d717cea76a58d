// Console pauses: a warning the user should see before the run goes on.
#pragma once

#include <cstdio>
#include <functional>
#include <string_view>

namespace fixedio {

// A console message handed to the code that may have to show one ("Singular matrix"): it shows
// the text and waits as consolePause does. Tests pass their own to see or silence the messages.
using Pause = std::function<void(std::string_view)>;

// Writes text (its lines) to standard output. When standard input is a terminal it then writes
// prompt, the line that asks for a key, and waits for Enter; otherwise the run goes on at once
// and nothing asks for a key nobody can press (the front end closes standard input, a script
// gives a file). A null out writes nothing; a null in never waits.
void consolePause(std::string_view text, std::FILE* in = stdin, std::FILE* out = stdout,
                  std::string_view prompt = {});

} // namespace fixedio
