#include "modeler/host.h"

#include <cstdio>
#include <cstdlib>

#include "modeler/services.h"

namespace modeler {
namespace {

Host *gCurrent = nullptr;

void *lookupInCurrent(const char *name, int useMode) {
    return Host::current().lookup(name, useMode);
}

}  // namespace

Host::Host() {
    if (gCurrent) {
        std::fputs("modeler: a second host was started while one is running\n", stderr);
        std::abort();
    }
    gCurrent = this;
}

Host::~Host() {
    gCurrent = nullptr;
}

Host &Host::current() {
    if (!gCurrent) {
        std::fputs("modeler: the plug-in called a host service while no host runs\n", stderr);
        std::abort();
    }
    return *gCurrent;
}

GlobalFunc *Host::globalLookup() const {
    return lookupInCurrent;
}

void Host::fault(std::string message) {
    faults_.push_back(std::move(message));
}

void *Host::lookup(const char *name, int useMode) {
    if (!name) {
        fault("global lookup with a null name");
        return nullptr;
    }
    lookups_.emplace_back(name);
    if (useMode != 0)
        fault(std::string("global lookup of \"") + name + "\" with use mode " +
              std::to_string(useMode));
    if (withheld_.count(std::string_view(name))) return nullptr;
    return serviceTable(name);
}

}  // namespace modeler
