// Directory streams with the POSIX names and meanings, for listing the
// image folder on any system: opendir, readdir, closedir.
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

// One entry, owned by its stream and overwritten by the next readdir.
struct DirectoryEntry {
    int32_t d_type;  // kEntryFolder, kEntryFile, kEntryDevice, other type bits, or 0
    char d_name[kEntryNameCapacity];  // the name without a folder part
};

struct DirectoryStream;

// Opens a stream on folder (8-bit text, relative to the current folder or
// absolute). Null with errno set on failure: 2 (ENOENT) for a null, empty or
// missing folder or a file in its place.
DirectoryStream *opendir(const char *folder);

// The next entry, in the order the system lists them ("." and ".."
// included), or null when none is left; null again on every later call.
// A folder is typed kEntryFolder also where the file system does not
// report types; a link is typed as what it points at.
DirectoryEntry *readdir(DirectoryStream *stream);

// Ends and frees the stream: 0; for a null stream -1 with errno 9 (EBADF).
int closedir(DirectoryStream *stream);

inline bool isFolder(const DirectoryEntry &entry) {
    return (entry.d_type & kEntryTypeMask) == kEntryFolder;
}

}  // namespace varlobooks
