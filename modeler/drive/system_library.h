// What the program asks of the system that differs between systems: its
// loader of shared libraries, where the program lies, whether its errors
// go to a terminal.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "modeler/services/stable_memory.h"

namespace modeler {

#ifdef _WIN32
inline constexpr const char *kModuleSuffix = ".dll";
#else
inline constexpr const char *kModuleSuffix = ".so";
#endif

// The name of the module linked into this program, where the system has
// no loader of its own (WebAssembly); empty where modules are files.
std::string linkedModuleName();

// Loads the library at path, its symbols kept to itself; null with the
// system's reason in error.
void *openSystemLibrary(const std::string &path, std::string &error);
// The address of the library's exported symbol, or null.
void *findSystemSymbol(void *library, const char *name);
void closeSystemLibrary(void *library);
// A part of a loaded library's memory, and what it may be used as.
struct MappedSegment {
    uintptr_t begin, end;  // [begin, end)
    bool readable, writable, executable;
};
// The segments the system mapped for library; nullopt where it cannot tell
// (a module linked into the program).
std::optional<std::vector<MappedSegment>> mappedSegments(void *library);
// The library's read-only segments (its constants and string literals):
// address is any address within the library, such as one of its symbols.
std::vector<MemoryRange> readOnlySegments(void *library, const void *address);

// The folder of the running program; "." when the system cannot tell.
std::filesystem::path programFolder();
// The folder of the library (or program) that holds address; "." when the
// system cannot tell.
std::filesystem::path folderOf(const void *address);

bool stderrIsTerminal();

}  // namespace modeler
