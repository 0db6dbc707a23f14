// The look the loader takes at a module file before the system maps it,
// over any bytes. The file is never handed to dlopen here: that would run
// the mutated file's own code, which tests the system's loader, not ours.
#include <cstddef>
#include <cstdint>

#include "modeler/drive/module_file_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    (void)modeler::checkModuleImage({data, size});
    return 0;
}
