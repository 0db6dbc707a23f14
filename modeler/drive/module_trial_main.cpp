// varlobooks-module-trial MODULE: loads and starts the module as the host
// would, in this short-lived process, so that a module that crashes the
// system's loader crashes this process instead of the host. Exit 0: it
// loaded and started (and was shut down); 1 with its one-line error on
// stdout: it was refused.
#include <cstdio>

#include "modeler/drive/module_loader.h"

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fputs("usage: varlobooks-module-trial MODULE\n", stderr);
        return 2;
    }
    auto loaded = modeler::LoadedModule::load(argv[1], modeler::LoadedModule::Trial::InProcess);
    if (const auto *error = std::get_if<std::string>(&loaded)) {
        std::fputs((*error + "\n").c_str(), stdout);
        return 1;
    }
    return 0;
}
