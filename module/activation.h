// Activation of the "varlobooks" mesh-edit tool.
#pragma once

#include "host/module.h"

namespace varlobooks {

// Looks up the services, creates the instance and fills the host's records.
// AFUNC_OK, AFUNC_BADGLOBAL when a required service is missing, AFUNC_NOMEMORY
// when the instance cannot be allocated; local is untouched on failure.
int activateBookTool(int version, GlobalFunc *global, void *local, void *serverData);

}  // namespace varlobooks
