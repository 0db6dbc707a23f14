// Directory streams on Windows' wide-character find-file calls. Names pass
// between 8-bit text and wide characters in the C library's default locale,
// where byte b is the character U+0000 + b: a name holding a character
// above U+00FF has no 8-bit form and comes out under its short name.
#include "imagemaps/directory_stream_windows.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

namespace varlobooks {
namespace {

constexpr std::size_t kWideNameCapacity = 260;  // units, terminator included
constexpr DWORD kAttributeFolder = 0x10;
constexpr DWORD kAttributeDevice = 0x40;

// One running search. The first entry is fetched when the search starts and
// waits in found until the first read.
struct WideSearch {
    WIN32_FIND_DATAW found{};
    int cached = 0;  // 1 while found holds the first entry, not yet handed out
    HANDLE searchHandle = INVALID_HANDLE_VALUE;  // invalid once no search runs
    std::unique_ptr<wchar_t[]> searchPattern;    // the full path, a backslash, '*'
};

// Ends the search now; the record goes with its owner.
void endSearch(WideSearch &search) {
    if (search.searchHandle != INVALID_HANDLE_VALUE) {
        FindClose(search.searchHandle);
        search.searchHandle = INVALID_HANDLE_VALUE;
    }
}

// Starts a search over the folder's entries: "FULL\*", or "FULL*" when the
// full path already ends in a separator or a drive's colon (a root).
std::unique_ptr<WideSearch> startSearch(const wchar_t *folder) {
    if (!folder || !*folder) {
        errno = ENOENT;
        return nullptr;
    }
    std::unique_ptr<WideSearch> search(new (std::nothrow) WideSearch);
    if (!search) {
        errno = ENOMEM;
        return nullptr;
    }
    const DWORD length = GetFullPathNameW(folder, 0, nullptr, nullptr);
    // Room for the path and its terminator, and 16 bytes for the separator,
    // the asterisk and a terminator after it.
    search->searchPattern.reset(new (std::nothrow) wchar_t[length + 16 / sizeof(wchar_t)]);
    if (!search->searchPattern) {
        errno = ENOMEM;
        return nullptr;
    }
    wchar_t *pattern = search->searchPattern.get();
    const DWORD written = GetFullPathNameW(folder, length, pattern, nullptr);
    if (written == 0 || written >= length) {
        errno = ENOENT;
        return nullptr;
    }
    DWORD end = written;
    const wchar_t last = pattern[end - 1];
    if (last != L'\\' && last != L'/' && last != L':') pattern[end++] = L'\\';
    pattern[end++] = L'*';
    pattern[end] = L'\0';
    search->searchHandle = FindFirstFileW(pattern, &search->found);
    if (search->searchHandle == INVALID_HANDLE_VALUE) {
        search->cached = 0;
        errno = ENOENT;
        return nullptr;
    }
    search->cached = 1;
    return search;
}

// name in 8-bit text into entry.name; false when it has no 8-bit form or
// is too long.
bool narrowName(const wchar_t *name, DirectoryEntry &entry) {
    std::size_t converted = 0;
    return wcstombs_s(&converted, entry.name, sizeof entry.name, name, kWideNameCapacity) == 0;
}

}  // namespace

struct DirectoryStream {
    DirectoryEntry entry;
    std::unique_ptr<WideSearch> search;
};

void entryFromFound(const WIN32_FIND_DATAW &found, DirectoryEntry &entry) {
    if (!narrowName(found.cFileName, entry) &&
        (!found.cAlternateFileName[0] || !narrowName(found.cAlternateFileName, entry))) {
        std::strcpy(entry.name, "?");
        entry.type = 0;
        return;
    }
    if (found.dwFileAttributes & kAttributeDevice)
        entry.type = kEntryDevice;
    else if (found.dwFileAttributes & kAttributeFolder)
        entry.type = kEntryFolder;
    else
        entry.type = kEntryFile;
}

DirectoryStream *openDirectory(const char *folder) {
    if (!folder || !*folder) {
        errno = ENOENT;
        return nullptr;
    }
    std::unique_ptr<DirectoryStream> stream(new (std::nothrow) DirectoryStream{});
    if (!stream) {
        errno = ENOMEM;
        return nullptr;
    }
    // A folder text of 260 characters or more fails here, before the file
    // system is asked.
    wchar_t wide[kWideNameCapacity];
    std::size_t converted = 0;
    if (mbstowcs_s(&converted, wide, kWideNameCapacity, folder, kWideNameCapacity) != 0)
        return nullptr;
    stream->search = startSearch(wide);
    if (!stream->search) return nullptr;
    return stream.release();
}

DirectoryEntry *readDirectory(DirectoryStream *stream) {
    if (!stream || !stream->search) return nullptr;
    WideSearch &search = *stream->search;
    if (search.cached) {
        search.cached = 0;
    } else if (search.searchHandle == INVALID_HANDLE_VALUE) {
        return nullptr;
    } else if (!FindNextFileW(search.searchHandle, &search.found)) {
        // The end of the folder or an error of the system: either ends it,
        // and the system's search goes at once.
        endSearch(search);
        return nullptr;
    }
    entryFromFound(search.found, stream->entry);
    return &stream->entry;
}

int closeDirectory(DirectoryStream *stream) {
    if (!stream) {
        errno = EBADF;
        return -1;
    }
    if (stream->search) endSearch(*stream->search);
    delete stream;
    return 0;
}

}  // namespace varlobooks
