#include "modeler/atomic_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

namespace modeler {

AtomicFile::AtomicFile(std::string path) : path_(std::move(path)) {
    const std::filesystem::path target(path_);
    const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
    // A hidden name beside the target, so that the rename stays on one file system.
    std::string hidden(".");
    hidden.append(target.filename().string()).append(".tmp-XXXXXX");
    const std::string pattern = (folder / hidden).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = mkstemp(name.data());
    if (fd < 0) {
        error_ = path_ + ": cannot create a file beside it (" + std::strerror(errno) + ")";
        return;
    }
    temporary_ = name.data();
    // A temporary file is private; the result gets the mode the target had,
    // or that of any new file.
    struct stat existing;
    mode_t mode;
    if (stat(path_.c_str(), &existing) == 0) {
        mode = existing.st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    fchmod(fd, mode);
    file_ = fdopen(fd, "wb");
    if (!file_) {
        ::close(fd);
        fail("cannot open for writing");
    }
}

AtomicFile::~AtomicFile() {
    if (file_) std::fclose(file_);
    if (!committed_ && !temporary_.empty()) std::remove(temporary_.c_str());
}

void AtomicFile::fail(const std::string &what) {
    if (!error_) error_ = path_ + ": " + what + " (" + std::strerror(errno) + ")";
}

void AtomicFile::write(std::string_view bytes) {
    if (error_ || !file_ || bytes.empty()) return;
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) fail("write failed");
}

std::optional<std::string> AtomicFile::commit() {
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
    if (error_) return error_;
    if (std::rename(temporary_.c_str(), path_.c_str()) != 0) {
        fail("cannot replace the file");
        return error_;
    }
    committed_ = true;
    return std::nullopt;
}

std::optional<std::string> writeFileAtomically(const std::string &path, std::string_view bytes) {
    AtomicFile file(path);
    if (file.error()) return file.error();
    file.write(bytes);
    return file.commit();
}

}  // namespace modeler
