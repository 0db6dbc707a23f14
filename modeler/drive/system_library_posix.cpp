#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cstring>

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

std::optional<std::vector<MappedSegment>> mappedSegments(void *library) {
    // The library's own link map names where it was mapped; its program
    // headers then say what each part of it is.
    link_map *map = nullptr;
    if (!library || dlinfo(library, RTLD_DI_LINKMAP, &map) != 0 || !map)
        return std::vector<MappedSegment>{};
    struct Search {
        ElfW(Addr) base;
        const char *name;
        std::vector<MappedSegment> segments;
    } search{map->l_addr, map->l_name, {}};
    dl_iterate_phdr(
        [](dl_phdr_info *info, size_t, void *data) {
            auto &search = *static_cast<Search *>(data);
            if (info->dlpi_addr != search.base || !info->dlpi_name || !search.name ||
                std::strcmp(info->dlpi_name, search.name) != 0)
                return 0;
            for (int i = 0; i < info->dlpi_phnum; ++i) {
                const ElfW(Phdr) &segment = info->dlpi_phdr[i];
                if (segment.p_type != PT_LOAD) continue;
                const uintptr_t begin = info->dlpi_addr + segment.p_vaddr;
                search.segments.push_back(
                    {begin, begin + segment.p_memsz, (segment.p_flags & PF_R) != 0,
                     (segment.p_flags & PF_W) != 0, (segment.p_flags & PF_X) != 0});
            }
            return 1;  // found: stop
        },
        &search);
    return search.segments;
}

std::vector<MemoryRange> readOnlySegments(void *library, const void *) {
    std::vector<MemoryRange> ranges;
    for (const MappedSegment &s : mappedSegments(library).value_or(std::vector<MappedSegment>{})) {
        if (s.readable && !s.writable) ranges.push_back({s.begin, s.end});
    }
    return ranges;
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
