#include <dlfcn.h>
#include <unistd.h>

#include "modeler/drive/system_library.h"

namespace modeler {

void *openSystemLibrary(const std::string &path, std::string &error) {
    // A path without a slash would be searched for on the library path.
    const std::string openPath = path.find('/') == std::string::npos ? "./" + path : path;
    void *library = dlopen(openPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        const char *why = dlerror();
        error = why ? why : "unknown";
    }
    return library;
}

void *findSystemSymbol(void *library, const char *name) {
    return dlsym(library, name);
}

void closeSystemLibrary(void *library) {
    dlclose(library);
}

std::filesystem::path programFolder() {
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path(".") : self.parent_path();
}

bool stderrIsTerminal() {
    return isatty(STDERR_FILENO);
}

}  // namespace modeler
