#include <io.h>
#include <windows.h>

#include <cstdint>
#include <vector>

#include "modeler/drive/system_library.h"
#include "modeler/model/wide_text.h"

namespace modeler {

std::string linkedModuleName() {
    return {};
}
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

std::optional<std::vector<MappedSegment>> mappedSegments(void *library) {
    // The loaded image's own section table.
    const auto base = reinterpret_cast<uintptr_t>(library);
    const auto *dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
    if (!library || dos->e_magic != IMAGE_DOS_SIGNATURE) return std::vector<MappedSegment>{};
    const auto *nt = reinterpret_cast<const IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE) return std::vector<MappedSegment>{};
    std::vector<MappedSegment> segments;
    const IMAGE_SECTION_HEADER *section = IMAGE_FIRST_SECTION(nt);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
        const DWORD flags = section->Characteristics;
        const uintptr_t begin = base + section->VirtualAddress;
        segments.push_back({begin, begin + section->Misc.VirtualSize,
                            (flags & IMAGE_SCN_MEM_READ) != 0, (flags & IMAGE_SCN_MEM_WRITE) != 0,
                            (flags & IMAGE_SCN_MEM_EXECUTE) != 0});
    }
    return segments;
}

std::vector<MemoryRange> readOnlySegments(void *library, const void *) {
    // Sections that may be read but never written.
    std::vector<MemoryRange> ranges;
    for (const MappedSegment &s : mappedSegments(library).value_or(std::vector<MappedSegment>{})) {
        if (s.readable && !s.writable) ranges.push_back({s.begin, s.end});
    }
    return ranges;
}

void *findSystemSymbol(void *library, const char *name) {
    const FARPROC symbol = GetProcAddress(static_cast<HMODULE>(library), name);
    return reinterpret_cast<void *>(reinterpret_cast<uintptr_t>(symbol));
}

void closeSystemLibrary(void *library) {
    FreeLibrary(static_cast<HMODULE>(library));
}

namespace {

// The folder of the program (null) or loaded library's file; "." when the
// system cannot tell.
std::filesystem::path folderOfModule(HMODULE module) {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameW(module, buffer.data(), DWORD(buffer.size()));
        if (length == 0) return ".";
        if (length < buffer.size()) return std::filesystem::path(buffer.data()).parent_path();
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace

std::filesystem::path programFolder() {
    return folderOfModule(nullptr);
}

std::filesystem::path folderOf(const void *address) {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            static_cast<LPCWSTR>(address), &module))
        return ".";
    return folderOfModule(module);
}

bool stderrIsTerminal() {
    return _isatty(_fileno(stderr));
}

}  // namespace modeler
