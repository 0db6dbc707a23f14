#include "modeler/export/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace modeler {
namespace {

namespace fs = std::filesystem;

constexpr int kMaxLinks = 40;  // as the system's own limit on a chain of links

// A fresh hidden name beside path, so that renames stay on one file system.
// Short whatever the target's name, so that it fits wherever the target
// does. The file is created (mode 0600); its descriptor, or -1.
int makeHiddenBeside(const std::string &path, const char *kind, std::string &name) {
    const fs::path target(path);
    const fs::path folder = target.has_parent_path() ? target.parent_path() : ".";
    std::string pattern = (folder / (std::string(".modeler-") + kind + "-XXXXXX")).string();
    const int fd = mkstemp(pattern.data());
    if (fd >= 0) name = pattern;
    return fd;
}

// The mode a new file gets: what the target had, or what any new file would.
mode_t modeFor(const std::string &path) {
    struct stat existing;
    if (stat(path.c_str(), &existing) == 0) return existing.st_mode & 07777;
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// Where a chain of links from path ends, as text: the file to replace.
// path itself when it is no link. Empty when the chain does not end.
std::string followLinks(const std::string &path) {
    fs::path current(path);
    std::error_code ec;
    for (int i = 0; i < kMaxLinks; ++i) {
        if (!fs::is_symlink(current, ec)) return current.string();
        const fs::path next = fs::read_symlink(current, ec);
        if (ec) return {};
        current = next.is_absolute() ? next : current.parent_path() / next;
    }
    return {};
}

// Keeps the regular file at path under a hidden name beside it, so that it
// can be put back. Nullopt when there is no file to keep or it cannot be kept.
std::optional<std::string> keepOldFile(const std::string &path) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    std::string kept;
    const int fd = makeHiddenBeside(path, "old", kept);
    if (fd < 0) return std::nullopt;
    ::close(fd);
    // A second name for the same file costs nothing; a copy where the file
    // system has no hard links.
    std::error_code ec;
    fs::remove(kept, ec);
    if (::link(path.c_str(), kept.c_str()) == 0) return kept;
    fs::copy_file(path, kept, fs::copy_options::overwrite_existing, ec);
    if (!ec) return kept;
    fs::remove(kept, ec);
    return std::nullopt;
}

// Writes all of bytes into the device or pipe at path.
bool writeInPlace(const std::string &path, std::string_view bytes, int &error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        error = errno;
        return false;
    }
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = n < 0 ? errno : EIO;
            ::close(fd);
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    if (::close(fd) != 0 && errno != EINTR) {
        error = errno;
        return false;
    }
    return true;
}

}  // namespace

AtomicFile::AtomicFile(std::string path) : path_(std::move(path)) {
    struct stat info;
    if (stat(path_.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) {
            fail("is a folder", EISDIR);
            return;
        }
        // A device or pipe is written through the name given: the system's
        // own links (/dev/stdout) reach it where their text does not.
        if (!S_ISREG(info.st_mode)) {
            inPlace_ = true;
            target_ = path_;
            return;
        }
    }
    target_ = followLinks(path_);
    if (target_.empty()) {
        fail("its links lead nowhere", ELOOP);
        return;
    }
    openTemporary();
}

void AtomicFile::openTemporary() {
    const int fd = makeHiddenBeside(target_, "tmp", temporary_);
    if (fd < 0) {
        fail("cannot create a file beside it", errno);
        return;
    }
    // A temporary file is private; the result gets the mode the target had.
    fchmod(fd, modeFor(target_));
    file_ = fdopen(fd, "wb");
    if (!file_) {
        const int error = errno;
        ::close(fd);
        fail("cannot open for writing", error);
    }
}

AtomicFile::~AtomicFile() {
    if (file_) std::fclose(file_);
    if (!replaced_ && !temporary_.empty()) std::remove(temporary_.c_str());
}

void AtomicFile::fail(const std::string &what, int error) {
    if (!error_) error_ = path_ + ": " + what + " (" + std::strerror(error) + ")";
}

void AtomicFile::write(std::string_view bytes) {
    if (error_ || bytes.empty()) return;
    if (inPlace_) {
        inPlaceBytes_.append(bytes);
    } else if (file_ && std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) {
        fail("write failed", errno);
    }
}

std::optional<std::string> AtomicFile::finish() {
    if (!error_ && file_) {
        if (std::fflush(file_) != 0)
            fail("write failed", errno);
        else if (fsync(fileno(file_)) != 0)
            fail("cannot sync to disk", errno);
    }
    if (file_) {
        if (std::fclose(file_) != 0) fail("write failed", errno);
        file_ = nullptr;
    }
    return error_;
}

std::optional<std::string> AtomicFile::replaceTarget() {
    if (error_) return error_;
    if (inPlace_) {
        int error = 0;
        if (!writeInPlace(target_, inPlaceBytes_, error)) {
            fail("write failed", error);
            return error_;
        }
    } else if (std::rename(temporary_.c_str(), target_.c_str()) != 0) {
        fail("cannot replace the file", errno);
        return error_;
    }
    replaced_ = true;
    return std::nullopt;
}

std::optional<std::string> AtomicFile::commit() {
    if (auto error = finish()) return error;
    return replaceTarget();
}

std::optional<std::string> writeFileAtomically(const std::string &path, std::string_view bytes) {
    AtomicFile file(path);
    if (file.error()) return file.error();
    file.write(bytes);
    return file.commit();
}

AtomicFile &StagedFiles::add(std::string path) {
    files_.push_back(std::make_unique<AtomicFile>(std::move(path)));
    return *files_.back();
}

std::optional<std::string> StagedFiles::stage(std::string path, std::string_view bytes) {
    AtomicFile &file = add(std::move(path));
    file.write(bytes);
    return file.error();
}

std::optional<std::string> StagedFiles::commit() {
    for (const auto &file : files_) {
        if (auto error = file->finish()) return error;
    }
    for (const auto &file : files_) {
        if (!file->writesInPlace()) continue;
        if (auto error = file->replaceTarget()) return error;
    }
    // What each replaced target held before, to put back on a failure.
    struct Replaced {
        const AtomicFile *file;
        bool existed;
        std::optional<std::string> old;
    };
    std::vector<Replaced> replaced;
    std::optional<std::string> failure;
    for (const auto &file : files_) {
        if (file->writesInPlace()) continue;
        struct stat info;
        const bool existed = lstat(file->target().c_str(), &info) == 0;
        std::optional<std::string> old = keepOldFile(file->target());
        if (auto error = file->replaceTarget()) {
            if (old) std::remove(old->c_str());
            failure = error;
            break;
        }
        replaced.push_back({file.get(), existed, std::move(old)});
    }
    for (auto it = replaced.rbegin(); it != replaced.rend(); ++it) {
        if (!it->old) {
            // A file that was not there goes again; one that could not be
            // kept cannot be put back.
            if (failure && !it->existed) std::remove(it->file->target().c_str());
        } else if (failure) {
            std::rename(it->old->c_str(), it->file->target().c_str());
        } else {
            std::remove(it->old->c_str());
        }
    }
    files_.clear();
    return failure;
}

}  // namespace modeler
