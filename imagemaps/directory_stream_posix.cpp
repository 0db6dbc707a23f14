// Directory streams on the system's own listing (POSIX).
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "imagemaps/directory_stream.h"

namespace varlobooks {

struct DirectoryStream {
    DirectoryEntry entry;
    DIR *dir;  // null once the listing has ended
};

namespace {

int32_t typeFromMode(mode_t mode) {
    if (S_ISDIR(mode)) return kEntryFolder;
    if (S_ISREG(mode)) return kEntryFile;
    if (S_ISCHR(mode) || S_ISBLK(mode)) return kEntryDevice;
    return static_cast<int32_t>(mode & S_IFMT);
}

// The entry's type from the listing, or from the file system when the
// listing does not say (or the entry is a link, typed as its target).
int32_t entryType(DIR *dir, const dirent &found) {
    switch (found.d_type) {
        case DT_DIR:
            return kEntryFolder;
        case DT_REG:
            return kEntryFile;
        case DT_CHR:
        case DT_BLK:
            return kEntryDevice;
        case DT_UNKNOWN:
        case DT_LNK:
            break;
        default:
            return static_cast<int32_t>(DTTOIF(found.d_type));
    }
    struct stat info;
    if (fstatat(dirfd(dir), found.d_name, &info, 0) == 0) return typeFromMode(info.st_mode);
    if (fstatat(dirfd(dir), found.d_name, &info, AT_SYMLINK_NOFOLLOW) == 0) {
        return typeFromMode(info.st_mode);
    }
    return 0;
}

}  // namespace

DirectoryStream *openDirectory(const char *folder) {
    if (!folder || !*folder) {
        errno = ENOENT;
        return nullptr;
    }
    DIR *dir = ::opendir(folder);
    if (!dir) {
        if (errno == ENOTDIR) errno = ENOENT;
        return nullptr;
    }
    auto *stream = new (std::nothrow) DirectoryStream{};
    if (!stream) {
        ::closedir(dir);
        errno = ENOMEM;
        return nullptr;
    }
    stream->dir = dir;
    return stream;
}

DirectoryEntry *readDirectory(DirectoryStream *stream) {
    if (!stream || !stream->dir) return nullptr;
    errno = 0;
    const dirent *found = ::readdir(stream->dir);
    if (!found) {
        // The end of the folder or an error of the system: either ends it.
        ::closedir(stream->dir);
        stream->dir = nullptr;
        return nullptr;
    }
    DirectoryEntry &entry = stream->entry;
    const std::size_t length = std::strlen(found->d_name);
    if (length >= sizeof entry.name) {
        std::strcpy(entry.name, "?");
        entry.type = 0;
    } else {
        std::memcpy(entry.name, found->d_name, length + 1);
        entry.type = entryType(stream->dir, *found);
    }
    return &entry;
}

int closeDirectory(DirectoryStream *stream) {
    if (!stream) {
        errno = EBADF;
        return -1;
    }
    if (stream->dir) ::closedir(stream->dir);
    delete stream;
    return 0;
}

}  // namespace varlobooks
