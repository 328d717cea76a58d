// Fixed file names in the current folder, matched without regard to letter case ("LAT.INP"
// finds "lat.inp"), and output files created as new files only.
#pragma once

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace fixedio {

// The entry of dir whose name equals name ignoring case, if any. Two such entries are an
// InputError naming both.
std::optional<std::filesystem::path> findFixedName(const std::filesystem::path& dir,
                                                   std::string_view name,
                                                   std::string_view program);

// A text file being written. Writes are buffered; a failed write is an InputError.
class OutputFile {
public:
    OutputFile() = default;
    OutputFile(std::FILE* file, std::filesystem::path path, std::string program)
        : file_(file), path_(std::move(path)), program_(std::move(program)) {}
    OutputFile(OutputFile&& other) noexcept { swap(other); }
    OutputFile& operator=(OutputFile&& other) noexcept {
        OutputFile moved(std::move(other));
        swap(moved);
        return *this;
    }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();

    void put(std::string_view text);
    void flush();
    void close();
    bool isOpen() const { return file_ != nullptr; }
    const std::filesystem::path& path() const { return path_; }

private:
    std::FILE* file_ = nullptr;
    std::filesystem::path path_;
    std::string program_;

    void swap(OutputFile& other) noexcept {
        std::swap(file_, other.file_);
        std::swap(path_, other.path_);
        std::swap(program_, other.program_);
    }
};

// Creates name in dir as a new file. When a file of that name exists in any letter case:
// InputError "PROGRAM: NAME already exists in DIR; remove it or run in an empty folder".
OutputFile createNew(const std::filesystem::path& dir, std::string_view name,
                     std::string_view program);

// Opens name in dir for writing, truncating an existing file of that name in any case.
OutputFile createOrTruncate(const std::filesystem::path& dir, std::string_view name,
                            std::string_view program);

} // namespace fixedio
