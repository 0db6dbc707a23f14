#include "module/activation.h"

#include "host/meshedit.h"
#include "module/leave_tool.h"
#include "panel/panel.h"
#include "tool/book_tool.h"
#include "tool/handles.h"
#include "tool/preview.h"
#include "tool/tool_services.h"
#include "tool/update_cycle.h"

namespace varlobooks {
namespace {

template <typename Table>
void lookUpWhileNull(GlobalFunc *global, const char *name, const Table *&handle) {
    if (!handle) handle = static_cast<const Table *>(global(name, 0));
}

}  // namespace

int activateBookTool(int /*version*/, GlobalFunc *global, void *local, void * /*serverData*/) {
    ToolServices &services = toolServices();
    // Services the tool only needs later are kept from the first activation
    // that found them; the others are asked again every time.
    lookUpWhileNull(global, LWSTATEQUERYFUNCS_GLOBAL, services.stateQuery);
    lookUpWhileNull(global, LWSURFACEFUNCS_GLOBAL, services.surfaces);
    lookUpWhileNull(global, LWTEXTUREFUNCS_GLOBAL, services.textures);
    lookUpWhileNull(global, LWIMAGELIST_GLOBAL, services.images);
    lookUpWhileNull(global, LWSURFEDFUNCS_GLOBAL, services.surfaceEditor);

    services.sceneObjects = global(LWOBJECTFUNCS_GLOBAL, 0);
    if (!services.sceneObjects) return AFUNC_BADGLOBAL;
    services.xpanel = static_cast<const LWXPanelFuncs *>(global(LWXPANELFUNCS_GLOBAL, 0));
    services.messages = global(LWMESSAGEFUNCS_GLOBAL, 0);
    // The state query is asked a second time and only tested, not stored:
    // the modeller relies on this order of lookups, so it stays.
    if (!global(LWSTATEQUERYFUNCS_GLOBAL, 0)) return AFUNC_BADGLOBAL;

    BookTool *tool = createBookTool();
    if (!tool) return AFUNC_NOMEMORY;

    auto *record = static_cast<LWMeshEditTool *>(local);
    record->instance = tool;
    LWToolFuncs *funcs = record->tool;
    funcs->done = leaveTool;
    funcs->draw = drawPreview;
    funcs->dirty = dirtyTool;
    funcs->count = countHandles;
    funcs->handle = handlePosition;
    funcs->start = pressPointer;
    funcs->adjust = adjustHandle;
    funcs->down = pressPointer;
    funcs->move = movePointer;
    funcs->event = eventTool;
    if (services.xpanel) funcs->panel = createParameterPanel;
    record->test = testTool;
    record->build = buildTool;
    record->end = endTool;
    return AFUNC_OK;
}

}  // namespace varlobooks
