// The nine handles of the drag box and the pointer callbacks that place,
// reshape and move it.
#pragma once

#include "host/meshedit.h"

namespace varlobooks {

// 9 while an edit is under way, else 0.
int countHandles(LWInstance instance, ToolEvent *event);
// Writes handle index's position (0 the centre, 1..8 the corners); returns
// its priority, index + 1. An index past 8 writes nothing.
int handlePosition(LWInstance instance, ToolEvent *event, int index, double pos[3]);
// A press (both start and down): reseeds from the clock, makes the tool
// active and places the box at the first press. Returns 0.
int pressPointer(LWInstance instance, ToolEvent *event);
// A move: the first one after the box was placed sets its far corner.
void movePointer(LWInstance instance, ToolEvent *event);
// A drag of handle index: the centre moves the box, a corner sets the three
// coordinates it sits on. Returns index.
int adjustHandle(LWInstance instance, ToolEvent *event, int index);

}  // namespace varlobooks
