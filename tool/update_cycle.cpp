#include "tool/update_cycle.h"

#include "imagemaps/image_maps.h"
#include "tool/book_tool.h"

namespace varlobooks {

int testTool(LWInstance instance) {
    return static_cast<BookTool *>(instance)->updateCode;
}

int dirtyTool(LWInstance instance) {
    return static_cast<BookTool *>(instance)->dirtyCode ? 3 : 0;
}

void endTool(LWInstance instance, int /*keep*/) {
    auto *tool = static_cast<BookTool *>(instance);
    tool->updateCode = 0;
    tool->active = 0;
}

void eventTool(LWInstance instance, int code) {
    auto *tool = static_cast<BookTool *>(instance);
    if (code == LWTOOL_EVENT_DROP) {
        if (tool->active) tool->updateCode = 3;
    } else if (code == LWTOOL_EVENT_ACTIVATE) {
        tool->updateCode = 1;
        tool->active = 1;
        tool->dirtyCode = 1;
    }
}

void doneTool(LWInstance instance) {
    auto *tool = static_cast<BookTool *>(instance);
    tool->updateCode = 0;
    offerImageMaps(*tool);
    releaseBookTool(tool);
}

}  // namespace varlobooks
