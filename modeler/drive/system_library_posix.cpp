#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include "modeler/drive/system_library.h"

namespace modeler {

std::string linkedModuleName() {
    return {};
}

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

std::vector<MemoryRange> readOnlySegments(void *, const void *address) {
    struct Search {
        uintptr_t address;
        std::vector<MemoryRange> ranges;
    } search{reinterpret_cast<uintptr_t>(address), {}};
    dl_iterate_phdr(
        [](dl_phdr_info *info, size_t, void *data) {
            auto &search = *static_cast<Search *>(data);
            bool holds = false;
            std::vector<MemoryRange> readOnly;
            for (int i = 0; i < info->dlpi_phnum; ++i) {
                const ElfW(Phdr) &segment = info->dlpi_phdr[i];
                if (segment.p_type != PT_LOAD) continue;
                const uintptr_t begin = info->dlpi_addr + segment.p_vaddr;
                const uintptr_t end = begin + segment.p_memsz;
                if (search.address >= begin && search.address < end) holds = true;
                if ((segment.p_flags & PF_R) && !(segment.p_flags & PF_W))
                    readOnly.push_back({begin, end});
            }
            if (!holds) return 0;
            search.ranges = std::move(readOnly);
            return 1;  // found: stop
        },
        &search);
    return search.ranges;
}

std::filesystem::path programFolder() {
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path(".") : self.parent_path();
}

std::filesystem::path folderOf(const void *address) {
    Dl_info info{};
    if (!dladdr(address, &info) || !info.dli_fname || !*info.dli_fname) return ".";
    std::error_code ec;
    const std::filesystem::path file = std::filesystem::absolute(info.dli_fname, ec);
    return ec ? std::filesystem::path(".") : file.parent_path();
}

bool stderrIsTerminal() {
    return isatty(STDERR_FILENO);
}

}  // namespace modeler
