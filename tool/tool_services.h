// The host services the tool obtained at activation, shared by every
// instance and kept until the module is unloaded. Written only by
// activation; read by the callbacks on the host's one thread.
#pragma once

#include "host/services.h"
#include "host/xpanel.h"

namespace varlobooks {

struct ToolServices {
    const LWStateQueryFuncs *stateQuery;
    const LWSurfaceFuncs *surfaces;
    const LWTextureFuncs *textures;
    const LWImageList *images;
    const void *surfaceEditor;  // obtained, never called
    const void *sceneObjects;   // must exist for activation; never called
    const LWXPanelFuncs *xpanel;
    const void *messages;  // obtained, never called
};

ToolServices &toolServices();

}  // namespace varlobooks
