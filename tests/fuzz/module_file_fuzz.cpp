// Any bytes as a module file: the look the loader takes before the system
// maps it, then, for a file that passes it, the whole load as a host makes
// it: first in a trial process of its own (which a file whose dynamic
// section or relocations are corrupt may crash), then in this process only
// when the trial loaded and started it. Nothing may crash this process.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "modeler/drive/module_file_check.h"
#include "modeler/drive/module_loader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (modeler::checkModuleImage({data, size})) return 0;
    static const std::string path = (std::filesystem::temp_directory_path() /
                                     ("varlobooks-module-fuzz-" + std::to_string(getpid()) + ".so"))
                                        .string();
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
    (void)modeler::LoadedModule::load(path);
    std::remove(path.c_str());
    return 0;
}
