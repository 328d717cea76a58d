#include "console.hpp"

#include <unistd.h>

namespace fixedio {

void consolePause(std::string_view text, std::FILE* in, std::FILE* out) {
    if (out != nullptr) {
        std::fwrite(text.data(), 1, text.size(), out);
        if (!text.ends_with('\n')) std::fputc('\n', out);
        std::fflush(out);
    }
    if (in == nullptr || !isatty(fileno(in))) return;
    for (int c = std::fgetc(in); c != EOF && c != '\n'; c = std::fgetc(in)) {
    }
}

} // namespace fixedio
