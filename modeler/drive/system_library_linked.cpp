// A build with no loader of shared libraries (WebAssembly in a browser):
// the module is linked into the program, and "opening" it hands out the
// symbols it exports, which the loader then checks and starts exactly as
// it would a module loaded from a file.
#include <unistd.h>

#include <cstring>

#include "host/clock.h"
#include "host/module.h"
#include "modeler/drive/system_library.h"

extern "C" {
extern ModuleDescriptor _mod_descrip;
extern const char _mod_version[];
void _mod_set_clock(ModuleClockFunc *clock, void *data);
}

namespace modeler {
namespace {

constexpr const char *kLinkedModule = "varlobooks (linked into this program)";
// The handle of the one linked module.
char linkedHandle;

}  // namespace

std::string linkedModuleName() {
    return kLinkedModule;
}

void *openSystemLibrary(const std::string &path, std::string &error) {
    if (path == kLinkedModule) return &linkedHandle;
    error = "this program loads no module from a file; its own is \"" + std::string(kLinkedModule) +
            "\"";
    return nullptr;
}

void *findSystemSymbol(void *library, const char *name) {
    if (library != &linkedHandle) return nullptr;
    if (std::strcmp(name, MODULE_DESCRIPTOR_SYMBOL) == 0) return &_mod_descrip;
    if (std::strcmp(name, MODULE_VERSION_SYMBOL) == 0) return const_cast<char *>(_mod_version);
    if (std::strcmp(name, MODULE_CLOCK_SYMBOL) == 0)
        return reinterpret_cast<void *>(&_mod_set_clock);
    return nullptr;
}

void closeSystemLibrary(void *) {}

// The module is this program's own code: there is nothing to check it by.
std::optional<std::vector<MappedSegment>> mappedSegments(void *) {
    return std::nullopt;
}

// WebAssembly has no read-only memory: of the module's constants, only its
// version text is known to stay as it is.
std::vector<MemoryRange> readOnlySegments(void *, const void *) {
    const auto begin = reinterpret_cast<uintptr_t>(_mod_version);
    return {{begin, begin + std::strlen(_mod_version) + 1}};
}

std::filesystem::path programFolder() {
    return "/";
}

std::filesystem::path folderOf(const void *) {
    return "/";
}

bool stderrIsTerminal() {
    return false;
}

}  // namespace modeler
