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
#include <utility>

namespace fixedio {

namespace {

bool sameIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string reason(int error) {
    return std::strerror(error);
}

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

// A fresh temporary dot-name for name in dir; a killed run may have left some, so the caller
// skips a taken one.
std::filesystem::path temporaryName(const std::filesystem::path& dir, const std::string& name) {
    return dir / ("." + name + "." + std::to_string(::getpid()) + "-" +
                  std::to_string(temporaryCounter++) + ".part");
}

std::vector<std::filesystem::path> listIgnoringCase(const std::filesystem::path& dir,
                                                    std::string_view name, std::error_code& ec) {
    std::vector<std::filesystem::path> found;
    for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        if (sameIgnoringCase(it->path().filename().string(), name)) found.push_back(it->path());
    return found;
}

using Entry = StagedOutputs::Entry;

// The file under path itself (a link is not followed), if there is one.
std::optional<Entry> entryAt(const std::filesystem::path& path, mode_t* mode = nullptr) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
    if (mode) *mode = st.st_mode;
    return Entry{path.filename().string(), st.st_dev, st.st_ino};
}

bool sameFile(const Entry& a, const Entry& b) {
    return a.device == b.device && a.inode == b.inode;
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

std::function<void()>& commitHook() {
    static std::function<void()> hook;
    return hook;
}

} // namespace

void setCommitHook(std::function<void()> hook) {
    commitHook() = std::move(hook);
}

std::string folderName(const std::filesystem::path& dir) {
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(dir, ec);
    return (ec ? dir : absolute).lexically_normal().string();
}

std::vector<std::filesystem::path> entriesIgnoringCase(const std::filesystem::path& dir,
                                                       std::string_view name,
                                                       std::string_view program) {
    std::error_code ec;
    std::vector<std::filesystem::path> found = listIgnoringCase(dir, name, ec);
    if (ec)
        throw latent::InputError(std::string(program) + ": cannot list " + folderName(dir) + ": " +
                                 ec.message());
    return found;
}

std::optional<std::filesystem::path>
findFixedName(const std::filesystem::path& dir, std::string_view name, std::string_view program) {
    const std::vector<std::filesystem::path> found = entriesIgnoringCase(dir, name, program);
    if (found.size() > 1) {
        throw latent::InputError(std::string(program) + ": both " + found[0].filename().string() +
                                 " and " + found[1].filename().string() + " are in " +
                                 folderName(dir) + "; keep only one " + std::string(name));
    }
    if (found.empty()) return std::nullopt;
    return found[0];
}

OutputFile::~OutputFile() {
    if (file_) std::fclose(file_);
}

void OutputFile::failWrite(int error) const {
    throw latent::InputError(program_ + ": cannot write " + name_ + " in " +
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
    std::filesystem::path path =
        findFixedName(dir, name, program).value_or(dir / std::string(name));
    int error = 0;
    std::FILE* f = openForWriting(path, O_TRUNC, error);
    if (!f) {
        const std::string why =
            error == ELOOP ? "it is a symbolic link, which is never followed" : reason(error);
        throw latent::InputError(std::string(program) + ": cannot create " +
                                 path.filename().string() + " in " + folderName(dir) + ": " + why);
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
        throw latent::InputError(std::string(program) + ": " + found->filename().string() + " in " +
                                 folderName(dir) +
                                 " is a symbolic link; links are never followed, remove it");
    if (!std::filesystem::is_regular_file(status))
        throw latent::InputError(std::string(program) + ": " + found->filename().string() + " in " +
                                 folderName(dir) + " is not a regular file; remove it");
}

void requireNoInputAmongOutputs(const std::filesystem::path& dir,
                                const std::vector<std::string>& outputs,
                                const std::vector<std::filesystem::path>& inputs,
                                std::string_view program) {
    for (const std::filesystem::path& input : inputs) {
        struct stat read {};
        const bool known = ::stat(input.c_str(), &read) == 0;
        std::error_code ec;
        const bool sameFolder = std::filesystem::equivalent(
            input.has_parent_path() ? input.parent_path() : ".", dir, ec);
        for (const std::string& name : outputs) {
            bool byName = sameFolder && sameIgnoringCase(input.filename().string(), name);
            bool byFile = false;
            for (const std::filesystem::path& entry : entriesIgnoringCase(dir, name, program)) {
                // The entry itself (a hard link) or what it points to (a symbolic link).
                struct stat own {
                }, target{};
                byFile = byFile ||
                         (known && ::lstat(entry.c_str(), &own) == 0 && sameFile(own, read)) ||
                         (known && ::stat(entry.c_str(), &target) == 0 && sameFile(target, read));
            }
            if (!byName && !byFile) continue;
            throw latent::InputError(
                std::string(program) + ": the output " + name + " in " + folderName(dir) +
                " is the input " + input.string() +
                (byName ? "" : " (the same file through a link)") +
                "; no run writes a file it reads, with or without --force: give the "
                "outputs another folder with -o");
        }
    }
}

void createOutputFolder(const std::filesystem::path& dir, std::string_view program) {
    std::error_code ec;
    if (std::filesystem::is_directory(dir, ec)) return;
    std::filesystem::create_directories(dir, ec);
    if (ec || !std::filesystem::is_directory(dir))
        throw latent::InputError(std::string(program) + ": cannot make the output folder " +
                                 folderName(dir) + (ec ? ": " + ec.message() : ""));
}

StagedOutputs::StagedOutputs(std::filesystem::path dir, std::string program,
                             std::vector<std::string> names, bool replace)
    : dir_(std::move(dir)), program_(std::move(program)), replace_(replace) {
    // Every name is checked before any file is made, so a refused run leaves nothing behind.
    for (const std::string& name : names) {
        const std::optional<std::filesystem::path> found = findFixedName(dir_, name, program_);
        mode_t mode = 0;
        const std::optional<Entry> entry = found ? entryAt(*found, &mode) : std::nullopt;
        if (entry && !replace_) {
            throw latent::InputError(program_ + ": " + name + " already exists in " +
                                     folderName(dir_) +
                                     "; remove it, run in an empty folder or use --force");
        }
        if (entry && !S_ISREG(mode) && !S_ISLNK(mode)) {
            throw latent::InputError(program_ + ": " + entry->name + " in " + folderName(dir_) +
                                     " is not a regular file; remove it");
        }
        // Identified by inode as well as name: --force replaces this file and no other.
        found_.push_back(entry);
    }
    try {
        for (const std::string& name : names) {
            std::FILE* f = nullptr;
            std::filesystem::path path;
            int error = EEXIST;
            // A killed run may have left dot-files: a taken name is skipped, never reused.
            for (int attempt = 0; !f && error == EEXIST && attempt < 1000; ++attempt) {
                path = temporaryName(dir_, name);
                f = openForWriting(path, O_EXCL, error);
            }
            if (!f) {
                throw latent::InputError(program_ + ": cannot create " + name + " in " +
                                         folderName(dir_) + ": " + reason(error));
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
    if (std::function<void()> hook = std::exchange(commitHook(), nullptr)) hook();
    for (auto& f : files_) f->close();
    // An output named, and the file it replaced, set aside under a dot-name until every output
    // is named: a later failure puts it back.
    struct Placed {
        std::filesystem::path target;
        std::optional<Entry> ours;
        std::filesystem::path aside, old;
    };
    std::vector<Placed> placed;
    auto putBack = [](const Placed& p) noexcept {
        if (!p.aside.empty()) renameWithoutReplacing(p.aside, p.old);
    };
    auto undo = [&]() noexcept {
        for (auto p = placed.rbegin(); p != placed.rend(); ++p) {
            // Taken back only while it is still this run's file.
            const std::optional<Entry> now = entryAt(p->target);
            if (now && p->ours && sameFile(*now, *p->ours)) ::unlink(p->target.c_str());
            putBack(*p);
        }
    };
    for (std::size_t i = 0; i < files_.size(); ++i) {
        const OutputFile& f = *files_[i];
        Placed p{dir_ / f.name(), entryAt(f.path()), {}, {}};
        std::string why;
        if (const std::optional<Entry>& start = found_[i]) {
            // The file there now is moved aside first and let go only when it is the one the
            // run found at its start; one that is gone meanwhile leaves nothing to replace.
            p.old = dir_ / start->name;
            int error = EEXIST;
            for (int attempt = 0; error == EEXIST && attempt < 1000; ++attempt) {
                p.aside = temporaryName(dir_, f.name());
                error = renameWithoutReplacing(p.old, p.aside);
            }
            const std::optional<Entry> moved = error == 0 ? entryAt(p.aside) : std::nullopt;
            if (error != 0) p.aside.clear();
            if (error != 0 && error != ENOENT) {
                why = reason(error);
            } else if (moved && !sameFile(*moved, *start)) {
                putBack(p);
                p.aside.clear();
                why = "the " + start->name +
                      " there when the run started was replaced during the run";
            }
        }
        if (why.empty()) {
            std::error_code ec;
            const bool taken = !listIgnoringCase(dir_, f.name(), ec).empty();
            const int error = taken ? EEXIST : renameWithoutReplacing(f.path(), p.target);
            if (error != 0)
                why =
                    error == EEXIST ? "a file of that name appeared during the run" : reason(error);
        }
        if (!why.empty()) {
            putBack(p);
            undo();
            throw latent::InputError(program_ + ": cannot name the output " + f.name() + " in " +
                                     folderName(dir_) + ": " + why);
        }
        placed.push_back(std::move(p));
    }
    committed_ = true;
    // Nothing of this run is left under a dot-name but the replaced files, which go now.
    for (const Placed& p : placed)
        if (!p.aside.empty()) ::unlink(p.aside.c_str());
}

} // namespace fixedio
