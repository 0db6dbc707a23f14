// The host services the module looked up, shared by every instance and kept
// until the module is unloaded. Written only by activation.
#pragma once

#include "host/services.h"
#include "host/xpanel.h"

namespace varlobooks {

struct ServiceHandles {
    const LWStateQueryFuncs *stateQuery;
    const LWSurfaceFuncs *surfaces;
    const LWTextureFuncs *textures;
    const LWImageList *images;
    const void *surfaceEditor;
    const void *sceneObjects;
    const LWXPanelFuncs *xpanel;
    const void *messages;
};

ServiceHandles &serviceHandles();

}  // namespace varlobooks
