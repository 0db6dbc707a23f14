// The module's one export: the descriptor the host reads when it loads us.
#include "host/module.h"
#include "module/activation.h"

namespace {

void *moduleStartup() {
    // Any non-null value tells the host the module started.
    return reinterpret_cast<void *>(static_cast<uintptr_t>(4));
}

void moduleShutdown(void * /*moduleData*/) {}

ServerRecord gServers[] = {
    {"MeshEditTool", "varlobooks", varlobooks::activateBookTool, nullptr},
    {nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

extern "C" {
MODULE_EXPORT ModuleDescriptor _mod_descrip = {
    MODULE_SYNC_WORD, MODULE_SYSTEM_VERSION, MODULE_MACHINE_TYPE,
    moduleStartup,    moduleShutdown,        gServers,
};
}
