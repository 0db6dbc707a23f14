// The plug-in module the benchmarks drive, loaded once for the whole run;
// the run stops with the loader's reason when it cannot be loaded.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "modeler/drive/module_loader.h"

inline modeler::LoadedModule &benchModule() {
    static std::unique_ptr<modeler::LoadedModule> loaded = [] {
        auto result = modeler::LoadedModule::load(VARLOBOOKS_MODULE_PATH);
        if (auto *error = std::get_if<std::string>(&result)) {
            std::fprintf(stderr, "%s\n", error->c_str());
            std::exit(1);
        }
        return std::move(std::get<0>(result));
    }();
    return *loaded;
}
