// The done slot: the last call an instance receives.
#pragma once

#include "host/meshedit.h"

namespace varlobooks {

// The host is finished with the tool: offers the image maps for the covers
// of the last build, then frees the instance on every way out.
void leaveTool(LWInstance instance) noexcept;

}  // namespace varlobooks
