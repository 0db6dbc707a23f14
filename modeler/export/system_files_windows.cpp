#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>

#include <atomic>
#include <cerrno>
#include <filesystem>

#include "modeler/export/system_files.h"
#include "modeler/model/wide_text.h"

namespace modeler {
namespace {

int errnoFor(DWORD code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return EACCES;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_NOT_SAME_DEVICE:
            return EXDEV;
        default:
            return EIO;
    }
}

}  // namespace

std::filesystem::path systemPath(const std::string &path) {
    return widePath(path);
}

PathKind pathKind(const std::string &path, bool followLinks) {
    std::error_code ec;
    const auto status = followLinks ? std::filesystem::status(systemPath(path), ec)
                                    : std::filesystem::symlink_status(systemPath(path), ec);
    if (!std::filesystem::exists(status)) return PathKind::kNone;
    if (std::filesystem::is_directory(status)) return PathKind::kFolder;
    return std::filesystem::is_regular_file(status) ? PathKind::kFile : PathKind::kOther;
}

std::FILE *createFileBeside(const std::string &path, const char *kind, std::string &name) {
    static std::atomic<unsigned> counter{0};
    const std::filesystem::path target = systemPath(path);
    const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::wstring leaf = L".modeler-" + std::filesystem::path(kind).wstring() + L"-" +
                                  std::to_wstring(GetCurrentProcessId()) + L"-" +
                                  std::to_wstring(counter++);
        const std::filesystem::path candidate = folder / leaf;
        int fd = -1;
        const errno_t error =
            _wsopen_s(&fd, candidate.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY,
                      _SH_DENYRW, _S_IREAD | _S_IWRITE);
        if (error == EEXIST) continue;
        if (error != 0) {
            errno = error;
            return nullptr;
        }
        std::FILE *file = _fdopen(fd, "wb");
        if (!file) {
            const int fdopenError = errno;
            _close(fd);
            _wunlink(candidate.c_str());
            errno = fdopenError;
            return nullptr;
        }
        const std::u8string utf8 = candidate.u8string();
        name.assign(utf8.begin(), utf8.end());
        return file;
    }
    errno = EEXIST;
    return nullptr;
}

void matchPermissions(std::FILE *, const std::string &) {}

void startWritingToDisk(std::FILE *) {}

int syncToDisk(std::FILE *file) {
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    if (handle == INVALID_HANDLE_VALUE) return EBADF;
    return FlushFileBuffers(handle) ? 0 : errnoFor(GetLastError());
}

int replaceFile(const std::string &from, const std::string &to) {
    return MoveFileExW(widePath(from).c_str(), widePath(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
               ? 0
               : errnoFor(GetLastError());
}

int linkFile(const std::string &path, const std::string &name) {
    return CreateHardLinkW(widePath(name).c_str(), widePath(path).c_str(), nullptr)
               ? 0
               : errnoFor(GetLastError());
}

int writeIntoDevice(const std::string &path, std::string_view bytes) {
    std::FILE *device = _wfopen(widePath(path).c_str(), L"wb");
    if (!device) return errno;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), device) == bytes.size();
    const int error = written ? 0 : errno;
    if (std::fclose(device) != 0 && written) return errno ? errno : EIO;
    return error;
}

}  // namespace modeler
