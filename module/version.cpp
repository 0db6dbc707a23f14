// The module's name and version, for a host to show (see host/module.h).
#include "host/module.h"

#ifndef VARLOBOOKS_VERSION
#error "VARLOBOOKS_VERSION is set by the build from the project's version"
#endif

extern "C" {
MODULE_EXPORT extern const char _mod_version[];
const char _mod_version[] = "varlobooks " VARLOBOOKS_VERSION;
}

static_assert(sizeof _mod_version - 1 <= MODULE_VERSION_MAX_LENGTH);
