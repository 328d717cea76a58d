#include "files.hpp"

#include "freeread.hpp"

#include <algorithm>
#include <cctype>
#include <system_error>

namespace fixedio {

namespace {

bool sameIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string folderName(const std::filesystem::path& dir) {
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(dir, ec);
    return (ec ? dir : absolute).lexically_normal().string();
}

} // namespace

std::optional<std::filesystem::path> findFixedName(const std::filesystem::path& dir,
                                                   std::string_view name,
                                                   std::string_view program) {
    std::error_code ec;
    std::optional<std::filesystem::path> found;
    for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::string entry = it->path().filename().string();
        if (!sameIgnoringCase(entry, name)) continue;
        if (found) {
            throw InputError(std::string(program) + ": both " + found->filename().string() +
                             " and " + entry + " are in " + folderName(dir) + "; keep only one " +
                             std::string(name));
        }
        found = it->path();
    }
    if (ec) throw InputError(std::string(program) + ": cannot list " + folderName(dir) + ": " + ec.message());
    return found;
}

OutputFile::~OutputFile() {
    if (file_) std::fclose(file_);
}

void OutputFile::put(std::string_view text) {
    if (!file_) return;
    if (std::fwrite(text.data(), 1, text.size(), file_) != text.size())
        throw InputError(program_ + ": cannot write " + path_.string());
}

void OutputFile::flush() {
    if (file_ && std::fflush(file_) != 0) throw InputError(program_ + ": cannot write " + path_.string());
}

void OutputFile::close() {
    if (!file_) return;
    std::FILE* f = file_;
    file_ = nullptr;
    if (std::fclose(f) != 0) throw InputError(program_ + ": cannot write " + path_.string());
}

OutputFile createNew(const std::filesystem::path& dir, std::string_view name,
                     std::string_view program) {
    if (findFixedName(dir, name, program)) {
        throw InputError(std::string(program) + ": " + std::string(name) + " already exists in " +
                         folderName(dir) + "; remove it or run in an empty folder");
    }
    std::filesystem::path path = dir / std::string(name);
    std::FILE* f = std::fopen(path.c_str(), "wx"); // exclusive: never replaces a file
    if (!f) {
        throw InputError(std::string(program) + ": cannot create " + std::string(name) + " in " +
                         folderName(dir));
    }
    return OutputFile(f, path, std::string(program));
}

OutputFile createOrTruncate(const std::filesystem::path& dir, std::string_view name,
                            std::string_view program) {
    std::filesystem::path path = findFixedName(dir, name, program).value_or(dir / std::string(name));
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (!f) {
        throw InputError(std::string(program) + ": cannot create " + std::string(name) + " in " +
                         folderName(dir));
    }
    return OutputFile(f, path, std::string(program));
}

} // namespace fixedio
