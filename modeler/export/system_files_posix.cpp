#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "modeler/export/system_files.h"

namespace modeler {

std::filesystem::path systemPath(const std::string &path) {
    return path;
}

PathKind pathKind(const std::string &path, bool followLinks) {
    struct stat info;
    if ((followLinks ? stat(path.c_str(), &info) : lstat(path.c_str(), &info)) != 0)
        return PathKind::kNone;
    if (S_ISDIR(info.st_mode)) return PathKind::kFolder;
    return S_ISREG(info.st_mode) ? PathKind::kFile : PathKind::kOther;
}

std::FILE *createFileBeside(const std::string &path, const char *kind, std::string &name) {
    const std::filesystem::path target(path);
    const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
    // Short whatever the target's name, so that it fits wherever the target does.
    std::string pattern = (folder / (std::string(".modeler-") + kind + "-XXXXXX")).string();
    const int fd = mkstemp(pattern.data());  // mode 0600
    if (fd < 0) return nullptr;
    std::FILE *file = fdopen(fd, "wb");
    if (!file) {
        const int error = errno;
        ::close(fd);
        unlink(pattern.c_str());
        errno = error;
        return nullptr;
    }
    name = pattern;
    return file;
}

void matchPermissions(std::FILE *file, const std::string &target) {
    struct stat existing;
    mode_t mode;
    if (stat(target.c_str(), &existing) == 0) {
        mode = existing.st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    fchmod(fileno(file), mode);
}

void startWritingToDisk([[maybe_unused]] std::FILE *file) {
#ifdef __linux__
    (void)sync_file_range(fileno(file), 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
}

int syncToDisk(std::FILE *file) {
    return fsync(fileno(file)) == 0 ? 0 : errno;
}

int replaceFile(const std::string &from, const std::string &to) {
    return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

int linkFile(const std::string &path, const std::string &name) {
    return ::link(path.c_str(), name.c_str()) == 0 ? 0 : errno;
}

int writeIntoDevice(const std::string &path, std::string_view bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return errno;
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : EIO;
            ::close(fd);
            return error;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    if (::close(fd) != 0 && errno != EINTR) return errno;
    return 0;
}

}  // namespace modeler
