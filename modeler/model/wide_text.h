// UTF-8 text, as the program holds paths, in the wide text Windows' own
// calls take. Windows only.
#pragma once

#include <windows.h>

#include <string>

namespace modeler {

inline std::wstring widePath(const std::string &path) {
    const int length = MultiByteToWideChar(CP_UTF8, 0, path.data(), int(path.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, path.data(), int(path.size()), wide.data(), length);
    return wide;
}

}  // namespace modeler
