#include "console.hpp"

#include <unistd.h>

namespace fixedio {

namespace {

void writeLines(std::string_view text, std::FILE* out) {
    if (out == nullptr) return;
    std::fwrite(text.data(), 1, text.size(), out);
    if (!text.ends_with('\n')) std::fputc('\n', out);
    std::fflush(out);
}

} // namespace

void consolePause(std::string_view text, std::FILE* in, std::FILE* out, std::string_view prompt) {
    writeLines(text, out);
    if (in == nullptr || !isatty(fileno(in))) return;
    if (!prompt.empty()) writeLines(prompt, out);
    for (int c = std::fgetc(in); c != EOF && c != '\n'; c = std::fgetc(in)) {
    }
}

} // namespace fixedio
