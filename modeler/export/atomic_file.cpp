#include "modeler/export/atomic_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace modeler {
namespace {

namespace fs = std::filesystem;

// A fresh hidden name beside path, so that renames stay on one file system.
// The file is created (mode 0600) and its descriptor returned; -1 on failure.
int makeHiddenBeside(const std::string &path, const char *kind, std::string &name) {
    const fs::path target(path);
    const fs::path folder = target.has_parent_path() ? target.parent_path() : ".";
    std::string hidden(".");
    hidden.append(target.filename().string()).append(kind).append("-XXXXXX");
    std::string pattern = (folder / hidden).string();
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

// Keeps the regular file at path under a hidden name beside it, so that it
// can be put back. Nullopt when there is no file to keep or it cannot be kept.
std::optional<std::string> keepOldFile(const std::string &path) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    std::string kept;
    const int fd = makeHiddenBeside(path, ".old", kept);
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

}  // namespace

AtomicFile::AtomicFile(std::string path) : path_(std::move(path)) {
    const int fd = makeHiddenBeside(path_, ".tmp", temporary_);
    if (fd < 0) {
        error_ = path_ + ": cannot create a file beside it (" + std::strerror(errno) + ")";
        return;
    }
    // A temporary file is private; the result gets the mode the target had.
    fchmod(fd, modeFor(path_));
    file_ = fdopen(fd, "wb");
    if (!file_) {
        ::close(fd);
        fail("cannot open for writing");
    }
}

AtomicFile::~AtomicFile() {
    if (file_) std::fclose(file_);
    if (!replaced_ && !temporary_.empty()) std::remove(temporary_.c_str());
}

void AtomicFile::fail(const std::string &what) {
    if (!error_) error_ = path_ + ": " + what + " (" + std::strerror(errno) + ")";
}

void AtomicFile::write(std::string_view bytes) {
    if (error_ || !file_ || bytes.empty()) return;
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) fail("write failed");
}

std::optional<std::string> AtomicFile::finish() {
    if (!error_ && file_) {
        if (std::fflush(file_) != 0)
            fail("write failed");
        else if (fsync(fileno(file_)) != 0)
            fail("cannot sync to disk");
    }
    if (file_) {
        if (std::fclose(file_) != 0) fail("write failed");
        file_ = nullptr;
    }
    return error_;
}

std::optional<std::string> AtomicFile::replaceTarget() {
    if (error_) return error_;
    if (std::rename(temporary_.c_str(), path_.c_str()) != 0) {
        fail("cannot replace the file");
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
    // What each replaced target held before, to put back on a failure.
    struct Replaced {
        const AtomicFile *file;
        bool existed;
        std::optional<std::string> old;
    };
    std::vector<Replaced> replaced;
    std::optional<std::string> failure;
    for (const auto &file : files_) {
        struct stat info;
        const bool existed = lstat(file->path().c_str(), &info) == 0;
        std::optional<std::string> old = keepOldFile(file->path());
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
            // kept (not a regular file) cannot be put back.
            if (failure && !it->existed) std::remove(it->file->path().c_str());
        } else if (failure) {
            std::rename(it->old->c_str(), it->file->path().c_str());
        } else {
            std::remove(it->old->c_str());
        }
    }
    files_.clear();
    return failure;
}

}  // namespace modeler
