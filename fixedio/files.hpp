// Fixed file names in a folder, matched without regard to letter case ("LAT.INP" finds
// "lat.inp"), and the output files of a run.
//
// Every output is written under a temporary dot-name in the output folder and receives its
// final name only when the run ends by itself (StagedOutputs::commit), so a killed run leaves
// only dot-files behind and a failed one leaves nothing. No file is ever opened through a
// symbolic link, and every write and close is checked.
#pragma once

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fixedio {

// The entry of dir whose name equals name ignoring case, if any. Two such entries are an
// InputError naming both.
std::optional<std::filesystem::path> findFixedName(const std::filesystem::path& dir,
                                                   std::string_view name, std::string_view program);

// Every entry of dir whose name equals name ignoring case (none, one, or several).
std::vector<std::filesystem::path> entriesIgnoringCase(const std::filesystem::path& dir,
                                                       std::string_view name,
                                                       std::string_view program);

// The folder as messages show it: absolute and normalized where that can be known.
std::string folderName(const std::filesystem::path& dir);

// A text file being written. Writes are buffered; a failed write, flush or close is an
// InputError "PROGRAM: cannot write NAME in FOLDER: reason", NAME being the file's final name.
class OutputFile {
  public:
    OutputFile() = default;
    OutputFile(std::FILE* file, std::filesystem::path path, std::string name, std::string program)
        : file_(file), path_(std::move(path)), name_(std::move(name)),
          program_(std::move(program)) {}
    OutputFile(OutputFile&& other) noexcept { swap(other); }
    OutputFile& operator=(OutputFile&& other) noexcept {
        OutputFile moved(std::move(other));
        swap(moved);
        return *this;
    }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile(); // closes without a check: only for files being abandoned

    void put(std::string_view text);
    void flush();
    void close();
    bool isOpen() const { return file_ != nullptr; }
    const std::filesystem::path& path() const { return path_; } // where it is written now
    const std::string& name() const { return name_; }           // its final name

  private:
    std::FILE* file_ = nullptr;
    std::filesystem::path path_;
    std::string name_;
    std::string program_;

    [[noreturn]] void failWrite(int error) const;
    void swap(OutputFile& other) noexcept {
        std::swap(file_, other.file_);
        std::swap(path_, other.path_);
        std::swap(name_, other.name_);
        std::swap(program_, other.program_);
    }
};

// Opens name in dir for writing, truncating an existing regular file of that name in any
// letter case. A symbolic link of that name is not followed: InputError.
OutputFile createOrTruncate(const std::filesystem::path& dir, std::string_view name,
                            std::string_view program);

// The progress file of a run ("fort.2"): created at its first line, truncating an older one,
// and flushed after every line so that a front end can follow the run.
class ProgressFile {
  public:
    ProgressFile(std::filesystem::path dir, std::string name, std::string program)
        : dir_(std::move(dir)), name_(std::move(name)), program_(std::move(program)) {}
    void put(std::string_view text);
    void close() { file_.close(); }

  private:
    std::filesystem::path dir_;
    std::string name_, program_;
    OutputFile file_;
};

// InputError when name in dir (any letter case) is a symbolic link or not a regular file, so
// a run can refuse before it starts rather than when it first writes there.
void requireWritableName(const std::filesystem::path& dir, std::string_view name,
                         std::string_view program);

// InputError naming both when one of the outputs (names in dir, in any letter case) is one of
// the inputs: the same name in the same folder however the folder is reached, or the same file
// (device and inode) through a hard link or a symbolic link. --force never lifts this: a run
// writes no file it reads.
void requireNoInputAmongOutputs(const std::filesystem::path& dir,
                                const std::vector<std::string>& outputs,
                                const std::vector<std::filesystem::path>& inputs,
                                std::string_view program);

// Makes the output folder (and its parents) when it does not exist; InputError when it cannot.
void createOutputFolder(const std::filesystem::path& dir, std::string_view program);

// The output files of one run.
class StagedOutputs {
  public:
    // Refuses, before creating anything, when one of names already exists in dir in any letter
    // case: "PROGRAM: NAME already exists in FOLDER; remove it, run in an empty folder or use
    // --force". With replace, such a file is noted by name and inode instead, and only that
    // file is replaced at commit. Then creates every file under a temporary dot-name.
    StagedOutputs(std::filesystem::path dir, std::string program, std::vector<std::string> names,
                  bool replace = false);
    StagedOutputs(const StagedOutputs&) = delete;
    StagedOutputs& operator=(const StagedOutputs&) = delete;
    // Without a commit: every temporary file is closed and removed.
    ~StagedOutputs();

    OutputFile& file(std::string_view name);

    // Closes every file (checked) and gives each its final name. A file under a final name
    // that was not there when the run started (a new one, or one put in place of the file noted
    // then) is never replaced: InputError, the files already named are taken back and the
    // replaced ones restored, so nothing of this run remains under a final name.
    void commit();

    // The file under a name as the run found it: its name in the folder and its identity.
    struct Entry {
        std::string name;
        unsigned long long device = 0, inode = 0;
    };

  private:
    std::filesystem::path dir_;
    std::string program_;
    bool replace_ = false;
    bool committed_ = false;
    std::vector<std::unique_ptr<OutputFile>> files_;
    std::vector<std::optional<Entry>> found_; // per file: what it may replace

    void discard() noexcept;
};

// For tests: hook is called once, at the start of the next StagedOutputs::commit, so that a
// test can play another run that ends while this one is still going.
void setCommitHook(std::function<void()> hook);

} // namespace fixedio
