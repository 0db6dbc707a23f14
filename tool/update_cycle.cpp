#include "tool/update_cycle.h"

#include <algorithm>

#include "books/shelf_fill.h"
#include "tool/book_tool.h"

namespace varlobooks {
namespace {

ShelfParams shelfParams(const BookTool &tool) {
    ShelfParams params{};
    std::copy(tool.boxMin, tool.boxMin + 3, params.boxMin);
    std::copy(tool.boxMax, tool.boxMax + 3, params.boxMax);
    params.axis = tool.axis;
    params.bookType = tool.bookType;
    params.segments = tool.segments;
    params.minSize = tool.minSize;
    params.maxSize = tool.maxSize;
    params.rotation = tool.rotation;
    params.randomTop = tool.randomTop;
    params.randomBottom = tool.randomBottom;
    params.randomFront = tool.randomFront;
    params.randomBack = tool.randomBack;
    params.surfacePrefix = tool.surfacePrefix;
    params.seed = tool.seed;
    return params;
}

}  // namespace

int testTool(LWInstance instance) {
    return static_cast<BookTool *>(instance)->updateCode;
}

int dirtyTool(LWInstance instance) {
    return static_cast<BookTool *>(instance)->dirtyCode ? kDirtyAll : 0;
}

int buildTool(LWInstance instance, MeshEditOp *edit) noexcept {
    auto &tool = *static_cast<BookTool *>(instance);
    const ShelfResult result = ShelfFill(shelfParams(tool), *edit);
    tool.bookCount = result.bookCount;
    tool.coverUVMap = result.coverUVMap;
    tool.random = result.random;
    return 0;
}

void endTool(LWInstance instance, int /*keep*/) {
    auto *tool = static_cast<BookTool *>(instance);
    tool->updateCode = LWT_TEST_NOTHING;
    tool->active = 0;
}

void eventTool(LWInstance instance, int code) {
    auto *tool = static_cast<BookTool *>(instance);
    if (code == LWTOOL_EVENT_DROP) {
        if (tool->active) tool->updateCode = LWT_TEST_REJECT;
    } else if (code == LWTOOL_EVENT_ACTIVATE) {
        tool->updateCode = LWT_TEST_UPDATE;
        tool->active = 1;
        tool->dirtyCode = kDirtyWireframe;
    }
}

}  // namespace varlobooks
