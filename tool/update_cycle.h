// The callbacks that run the update cycle between the host and the tool:
// what test and dirty answer, the build, the end of an edit and host events.
#pragma once

#include "host/meshedit.h"

namespace varlobooks {

int testTool(LWInstance instance);
int dirtyTool(LWInstance instance);
// The build slot: fills the tool's box with books and keeps what the fill
// made (the book count, the cover map, the generator's state). Returns 0.
int buildTool(LWInstance instance, MeshEditOp *edit) noexcept;
void endTool(LWInstance instance, int keep);
void eventTool(LWInstance instance, int code);

}  // namespace varlobooks
