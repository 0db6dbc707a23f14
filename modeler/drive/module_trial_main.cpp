// varlobooks-module-trial MODULE: loads and starts the module as the host
// would, in this short-lived process, so that a module that crashes the
// system's loader crashes this process instead of the host. Exit 0 with
// kModuleTrialPassed as the last line on stdout: it loaded, started and was
// shut down; 1 with its one-line error on stdout: it was refused.
#include <cstdio>

#include "modeler/drive/module_loader.h"
#include "modeler/drive/module_trial.h"

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
    // Shut down and unloaded before the word is given: a module that ends
    // the process on the way never says it passed.
    std::get<std::unique_ptr<modeler::LoadedModule>>(loaded).reset();
    std::fputs(modeler::kModuleTrialPassed, stdout);
    std::fputc('\n', stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
