// Directory streams with the meanings of POSIX's opendir, readdir and
// closedir (under names of their own), for listing the image folder on any
// system.
#pragma once

#include <cstdint>

namespace varlobooks {

inline constexpr int32_t kEntryFolder = 0x4000;
inline constexpr int32_t kEntryFile = 0x8000;
inline constexpr int32_t kEntryDevice = 0x2000;
inline constexpr int32_t kEntryTypeMask = 0xF000;
inline constexpr int kEntryNameCapacity = 260;  // 259 bytes and the NUL

// What joins a folder and an entry's name into the entry's path.
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// One entry, owned by its stream and overwritten by the next readDirectory.
struct DirectoryEntry {
    int32_t type;                   // kEntryFolder, kEntryFile, kEntryDevice, other type bits, or 0
    char name[kEntryNameCapacity];  // the name without a folder part
};

struct DirectoryStream;

// Opens a stream on folder (8-bit text, relative to the current folder or
// absolute). Null with errno set on failure: 2 (ENOENT) for a null, empty or
// missing folder or a file in its place.
DirectoryStream *openDirectory(const char *folder);

// The next entry, in the order the system lists them ("." and ".."
// included), or null when none is left; null again on every later call.
// A folder is typed kEntryFolder also where the file system does not
// report types; a link is typed as what it points at.
DirectoryEntry *readDirectory(DirectoryStream *stream);

// Ends and frees the stream: 0; for a null stream -1 with errno 9 (EBADF).
int closeDirectory(DirectoryStream *stream);

inline bool isFolder(const DirectoryEntry &entry) {
    return (entry.type & kEntryTypeMask) == kEntryFolder;
}

}  // namespace varlobooks
