#include <windows.h>

#include <algorithm>

#include "modeler/model/regular_file.h"
#include "modeler/model/wide_text.h"

namespace modeler {

std::optional<std::vector<unsigned char>> readRegularFile(const std::string &path,
                                                          std::size_t maxBytes, std::string &why) {
    HANDLE file = CreateFileW(widePath(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        why = "cannot be read";
        return std::nullopt;
    }
    struct Closer {
        HANDLE handle;
        ~Closer() { CloseHandle(handle); }
    } closer{file};
    LARGE_INTEGER size{};
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileSizeEx(file, &size)) {
        why = "not a regular file";
        return std::nullopt;
    }
    if (size.QuadPart < 0 || static_cast<unsigned long long>(size.QuadPart) > maxBytes) {
        why = "a file larger than the host takes";
        return std::nullopt;
    }
    // One byte past the size it had, to see that it did not grow meanwhile.
    std::vector<unsigned char> bytes(static_cast<std::size_t>(size.QuadPart) + 1);
    std::size_t read = 0;
    while (read < bytes.size()) {
        DWORD got = 0;
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - read, 1u << 30));
        if (!ReadFile(file, bytes.data() + read, want, &got, nullptr)) {
            why = "cannot be read";
            return std::nullopt;
        }
        if (got == 0) break;
        read += got;
    }
    if (read != static_cast<std::size_t>(size.QuadPart)) {
        why = "cannot be read (it changed while read)";
        return std::nullopt;
    }
    bytes.pop_back();
    return bytes;
}

}  // namespace modeler
