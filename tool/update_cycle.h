// The callbacks that run the update cycle between the host and the tool.
#pragma once

#include "host/meshedit.h"

namespace varlobooks {

int testTool(LWInstance instance);
int dirtyTool(LWInstance instance);
void endTool(LWInstance instance, int keep);
void eventTool(LWInstance instance, int code);
// The host is finished with the tool: offers the image maps, then frees it.
void doneTool(LWInstance instance);

}  // namespace varlobooks
