#include "modeler/services/service_host.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "modeler/services/service_tables.h"

namespace modeler {
namespace {

// Hosts nest: the newest serves every call until it ends.
std::vector<Host *> gHosts;

void *lookupInCurrent(const char *name, int useMode) {
    return Host::current().lookup(name, useMode);
}

}  // namespace

Host::Host() {
    gHosts.push_back(this);
}

Host::~Host() {
    if (gHosts.empty() || gHosts.back() != this) {
        std::fputs("modeler: hosts must end in the reverse order of their start\n", stderr);
        std::abort();
    }
    gHosts.pop_back();
}

Host &Host::current() {
    if (gHosts.empty()) {
        std::fputs("modeler: the plug-in called a host service while no host runs\n", stderr);
        std::abort();
    }
    return *gHosts.back();
}

GlobalFunc *Host::globalLookup() const {
    return lookupInCurrent;
}

void Host::fault(std::string message) {
    faults_.push_back(std::move(message));
}

void Host::warn(const std::string &message) {
    if (!warned_.insert(message).second) return;
    if (sink_) sink_(message);
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
    const int occurrence = ++occurrences_[name];
    if (withheld_.count(std::string_view(name))) return nullptr;
    if (filter_ && filter_(name, occurrence)) return nullptr;
    return serviceTable(name);
}

}  // namespace modeler
