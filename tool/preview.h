// The wireframe preview: the drag box's twelve edges and a circle at its
// centre, drawn while an edit is under way.
#pragma once

#include "host/meshedit.h"

namespace varlobooks {

inline constexpr double kCentreCircleRadius = 0.1;

void drawPreview(LWInstance instance, LWWireDrawAccess *access);

}  // namespace varlobooks
