#include "modeler/services/service_host.h"

#include <cstdio>
#include <cstdlib>

#include "modeler/services/service_tables.h"

namespace modeler {
namespace {

// As every service: nothing is thrown into the plug-in (see
// service_tables.cpp); a lookup that cannot be recorded answers null.
void *lookupInCurrent(const char *name, int useMode) noexcept {
    try {
        return Host::current().lookup(name, useMode);
    } catch (...) {
        try {
            Host::current().fault("the global lookup failed (out of memory) and answered null");
        } catch (...) {
        }
        return nullptr;
    }
}

}  // namespace

// The host serving this thread's calls into the plug-in, if any.
constinit thread_local Host *Host::serving_ = nullptr;

Host::Serving::Serving(Host &host) : previous_(serving_) {
    serving_ = &host;
}

Host::Serving::~Serving() {
    serving_ = previous_;
}

void Host::noHostServes() {
    std::fputs("modeler: the plug-in called a host service while no host serves it\n", stderr);
    std::abort();
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
