#include "tool/handles.h"

#include "tool/book_tool.h"
#include "tool/press_clock.h"

namespace varlobooks {
namespace {

// The edge of the cube the first press places.
constexpr double kPlacedBoxEdge = 0.25;

// Which corner of the box supplies each handle's x, y and z: true takes
// boxMax, false boxMin. Corners 1-4 lie on the face at boxMin's z, 5-8 on
// the face at boxMax's z, in the same order.
constexpr bool kCornerUsesMax[9][3] = {
    {false, false, false},  // the centre; not a corner
    {false, false, false}, {false, true, false}, {true, true, false}, {true, false, false},
    {false, false, true},  {false, true, true},  {true, true, true},  {true, false, true},
};

void markChanged(BookTool &tool) {
    tool.updateCode = LWT_TEST_UPDATE;
    tool.dirtyCode = kDirtyWireframe;
}

void toSingle(const double in[3], float out[3]) {
    for (int i = 0; i < 3; ++i)
        out[i] = static_cast<float>(in[i]);
}

}  // namespace

int countHandles(LWInstance instance, ToolEvent *) {
    return static_cast<BookTool *>(instance)->active ? 9 : 0;
}

int handlePosition(LWInstance instance, ToolEvent *, int index, double pos[3]) {
    const auto *tool = static_cast<const BookTool *>(instance);
    if (index == 0) {
        for (int i = 0; i < 3; ++i)
            pos[i] = (tool->boxMax[i] + tool->boxMin[i]) / 2;
    } else if (index >= 1 && index <= 8) {
        for (int i = 0; i < 3; ++i) {
            pos[i] = kCornerUsesMax[index][i] ? tool->boxMax[i] : tool->boxMin[i];
        }
    }
    return index + 1;
}

int pressPointer(LWInstance instance, ToolEvent *event) {
    auto *tool = static_cast<BookTool *>(instance);
    tool->seed = clockSeconds();
    tool->active = 1;
    float p[3];
    toSingle(event->position, p);
    if (tool->boxStage == kBoxNone) {
        for (int i = 0; i < 3; ++i) {
            tool->boxMin[i] = p[i];
            tool->boxMax[i] = static_cast<float>(static_cast<double>(p[i]) + kPlacedBoxEdge);
        }
        tool->boxStage = kBoxPlaced;
    }
    markChanged(*tool);
    return 0;
}

void movePointer(LWInstance instance, ToolEvent *event) {
    auto *tool = static_cast<BookTool *>(instance);
    if (tool->boxStage == kBoxPlaced) {
        toSingle(event->position, tool->boxMax);
        tool->boxStage = kBoxSized;
    }
    markChanged(*tool);
}

int adjustHandle(LWInstance instance, ToolEvent *event, int index) {
    auto *tool = static_cast<BookTool *>(instance);
    const int view = event->viewAxis;
    if (view >= 0 && view <= 2 && (event->flags & LWTOOLF_CONSTRAIN)) {
        // Holding an in-plane axis takes the motion back out of it.
        if (event->flags & LWTOOLF_HOLD_FIRST) {
            const int first = (view + 1) % 3;
            event->position[first] -= event->delta[first];
        } else if (event->flags & LWTOOLF_HOLD_SECOND) {
            const int second = (view + 2) % 3;
            event->position[second] -= event->delta[second];
        }
    }
    float p[3];
    toSingle(event->position, p);
    if (index == 0) {
        for (int i = 0; i < 3; ++i) {
            const float centre = (tool->boxMax[i] + tool->boxMin[i]) / 2;
            const float offset = p[i] - centre;
            tool->boxMin[i] += offset;
            tool->boxMax[i] += offset;
        }
    } else if (index >= 1 && index <= 8) {
        for (int i = 0; i < 3; ++i) {
            (kCornerUsesMax[index][i] ? tool->boxMax : tool->boxMin)[i] = p[i];
        }
    }
    markChanged(*tool);
    return index;
}

}  // namespace varlobooks
