#include <io.h>
#include <windows.h>

#include <cstdint>
#include <vector>

#include "modeler/drive/system_library.h"
#include "modeler/model/wide_text.h"

namespace modeler {
namespace {

std::string systemMessage(DWORD code) {
    char *text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<char *>(&text), 0, nullptr);
    std::string message = length ? std::string(text, length) : "error " + std::to_string(code);
    if (text) LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.'))
        message.pop_back();
    return message;
}

}  // namespace

void *openSystemLibrary(const std::string &path, std::string &error) {
    // A failing load shows no dialog.
    const UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE library = LoadLibraryW(widePath(path).c_str());
    const DWORD code = GetLastError();
    SetErrorMode(previous);
    if (!library) error = systemMessage(code);
    return reinterpret_cast<void *>(library);
}

void *findSystemSymbol(void *library, const char *name) {
    const FARPROC symbol = GetProcAddress(static_cast<HMODULE>(library), name);
    return reinterpret_cast<void *>(reinterpret_cast<uintptr_t>(symbol));
}

void closeSystemLibrary(void *library) {
    FreeLibrary(static_cast<HMODULE>(library));
}

std::filesystem::path programFolder() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), DWORD(buffer.size()));
        if (length == 0) return ".";
        if (length < buffer.size()) return std::filesystem::path(buffer.data()).parent_path();
        buffer.resize(buffer.size() * 2);
    }
}

bool stderrIsTerminal() {
    return _isatty(_fileno(stderr));
}

}  // namespace modeler
