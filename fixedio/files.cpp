#include "files.hpp"

#include "freeread.hpp"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace fixedio {

namespace {

bool sameIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string reason(int error) { return std::strerror(error); }

// Opens path for writing with the given extra flags, never through a symbolic link.
std::FILE* openForWriting(const std::filesystem::path& path, int flags, int& error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | flags, 0666);
    if (fd < 0) {
        error = errno;
        return nullptr;
    }
    std::FILE* f = ::fdopen(fd, "w");
    if (!f) {
        error = errno;
        ::close(fd);
    }
    return f;
}

// Gives from the name to without replacing a file that has it, where the file system allows.
int renameWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    // A file system without the no-replace flag: a hard link fails on an existing name too.
    if (::link(from.c_str(), to.c_str()) != 0) return errno;
    ::unlink(from.c_str());
    return 0;
}

std::atomic<unsigned> temporaryCounter{0};

} // namespace

std::string folderName(const std::filesystem::path& dir) {
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(dir, ec);
    return (ec ? dir : absolute).lexically_normal().string();
}

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
    if (ec)
        throw InputError(std::string(program) + ": cannot list " + folderName(dir) + ": " +
                         ec.message());
    return found;
}

OutputFile::~OutputFile() {
    if (file_) std::fclose(file_);
}

void OutputFile::failWrite(int error) const {
    throw InputError(program_ + ": cannot write " + name_ + " in " +
                     folderName(path_.parent_path()) + (error ? ": " + reason(error) : ""));
}

void OutputFile::put(std::string_view text) {
    if (!file_) return;
    if (std::fwrite(text.data(), 1, text.size(), file_) != text.size()) failWrite(errno);
}

void OutputFile::flush() {
    if (file_ && std::fflush(file_) != 0) failWrite(errno);
}

void OutputFile::close() {
    if (!file_) return;
    std::FILE* f = file_;
    file_ = nullptr;
    const bool failedBefore = std::ferror(f) != 0;
    errno = 0;
    // fclose flushes what is buffered: a full disk often shows only here.
    if (std::fclose(f) != 0 || failedBefore) failWrite(errno);
}

OutputFile createOrTruncate(const std::filesystem::path& dir, std::string_view name,
                            std::string_view program) {
    std::filesystem::path path = findFixedName(dir, name, program).value_or(dir / std::string(name));
    int error = 0;
    std::FILE* f = openForWriting(path, O_TRUNC, error);
    if (!f) {
        const std::string why = error == ELOOP ? "it is a symbolic link, which is never followed"
                                               : reason(error);
        throw InputError(std::string(program) + ": cannot create " + path.filename().string() +
                         " in " + folderName(dir) + ": " + why);
    }
    return OutputFile(f, path, path.filename().string(), std::string(program));
}

void ProgressFile::put(std::string_view text) {
    if (!file_.isOpen()) file_ = createOrTruncate(dir_, name_, program_);
    file_.put(text);
    file_.flush();
}

void requireWritableName(const std::filesystem::path& dir, std::string_view name,
                         std::string_view program) {
    const auto found = findFixedName(dir, name, program);
    if (!found) return;
    std::error_code ec;
    const auto status = std::filesystem::symlink_status(*found, ec);
    if (ec) return;
    if (std::filesystem::is_symlink(status))
        throw InputError(std::string(program) + ": " + found->filename().string() + " in " +
                         folderName(dir) +
                         " is a symbolic link; links are never followed, remove it");
    if (!std::filesystem::is_regular_file(status))
        throw InputError(std::string(program) + ": " + found->filename().string() + " in " +
                         folderName(dir) + " is not a regular file; remove it");
}

void createOutputFolder(const std::filesystem::path& dir, std::string_view program) {
    std::error_code ec;
    if (std::filesystem::is_directory(dir, ec)) return;
    std::filesystem::create_directories(dir, ec);
    if (ec || !std::filesystem::is_directory(dir))
        throw InputError(std::string(program) + ": cannot make the output folder " + folderName(dir) +
                         (ec ? ": " + ec.message() : ""));
}

StagedOutputs::StagedOutputs(std::filesystem::path dir, std::string program,
                             std::vector<std::string> names, bool replace)
    : dir_(std::move(dir)), program_(std::move(program)), replace_(replace) {
    // Every name is checked before any file is made, so a refused run leaves nothing behind.
    if (!replace_) {
        for (const std::string& name : names) {
            if (findFixedName(dir_, name, program_)) {
                throw InputError(program_ + ": " + name +
                                 " already exists in " + folderName(dir_) +
                                 "; remove it, run in an empty folder or use --force");
            }
        }
    }
    try {
        for (const std::string& name : names) {
            std::FILE* f = nullptr;
            std::filesystem::path path;
            int error = EEXIST;
            // A killed run may have left dot-files: a taken name is skipped, never reused.
            for (int attempt = 0; !f && error == EEXIST && attempt < 1000; ++attempt) {
                path = dir_ / ("." + name + "." + std::to_string(::getpid()) + "-" +
                               std::to_string(temporaryCounter++) + ".part");
                f = openForWriting(path, O_EXCL, error);
            }
            if (!f) {
                throw InputError(program_ + ": cannot create " + name + " in " + folderName(dir_) +
                                 ": " + reason(error));
            }
            files_.push_back(std::make_unique<OutputFile>(f, path, name, program_));
        }
    } catch (...) {
        discard();
        throw;
    }
}

StagedOutputs::~StagedOutputs() {
    if (!committed_) discard();
}

void StagedOutputs::discard() noexcept {
    for (auto& file : files_) {
        std::filesystem::path path = file->path();
        *file = OutputFile(); // closes without a check: the file is abandoned
        std::error_code ec;
        std::filesystem::remove(path, ec);
    }
}

OutputFile& StagedOutputs::file(std::string_view name) {
    for (auto& f : files_)
        if (f->name() == name) return *f;
    throw std::logic_error("no output named " + std::string(name));
}

void StagedOutputs::commit() {
    for (auto& f : files_) f->close();
    std::vector<std::filesystem::path> placed;
    auto undo = [&]() noexcept {
        for (const auto& p : placed) {
            std::error_code ec;
            std::filesystem::remove(p, ec);
        }
    };
    for (auto& f : files_) {
        const std::filesystem::path target = dir_ / f->name();
        int error = 0;
        if (replace_) {
            // An old copy in another letter case would otherwise stay beside the new one.
            try {
                if (auto old = findFixedName(dir_, f->name(), program_); old && *old != target)
                    std::filesystem::remove(*old);
            } catch (const std::exception&) {
            }
            if (::rename(f->path().c_str(), target.c_str()) != 0) error = errno;
        } else {
            error = renameWithoutReplacing(f->path(), target);
        }
        if (error != 0) {
            undo();
            const std::string why = error == EEXIST ? "a file of that name appeared during the run"
                                                    : reason(error);
            throw InputError(program_ + ": cannot name the output " + f->name() + " in " +
                             folderName(dir_) + ": " + why);
        }
        placed.push_back(target);
    }
    committed_ = true;
    // Nothing is left to remove: the dot-names are gone.
}

} // namespace fixedio
