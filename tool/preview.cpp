#include "tool/preview.h"

#include "tool/book_tool.h"

namespace varlobooks {

void drawPreview(LWInstance instance, LWWireDrawAccess *access) {
    const auto *tool = static_cast<const BookTool *>(instance);
    if (!tool->active) return;
    const float *lo = tool->boxMin;
    const float *hi = tool->boxMax;
    float centre[3], size[3];
    for (int i = 0; i < 3; ++i) {
        centre[i] = (hi[i] + lo[i]) / 2;
        size[i] = hi[i] - lo[i];
    }
    // Corners as minimum plus size, C0-C3 on the face at the minimum z,
    // C4-C7 the same moved along z.
    constexpr bool kAddX[4] = {false, false, true, true};
    constexpr bool kAddY[4] = {false, true, true, false};
    LWFVector corner[8];
    for (int i = 0; i < 8; ++i) {
        corner[i][0] = kAddX[i % 4] ? lo[0] + size[0] : lo[0];
        corner[i][1] = kAddY[i % 4] ? lo[1] + size[1] : lo[1];
        corner[i][2] = i >= 4 ? lo[2] + size[2] : lo[2];
    }
    void *data = access->data;
    for (int face = 0; face < 8; face += 4) {
        access->moveTo(data, corner[face], LWWIRE_SOLID);
        for (int i = 1; i <= 4; ++i)
            access->lineTo(data, corner[face + i % 4], LWWIRE_SOLID);
    }
    for (int i = 0; i < 4; ++i) {
        access->moveTo(data, corner[i], LWWIRE_SOLID);
        access->lineTo(data, corner[i + 4], LWWIRE_SOLID);
    }
    access->moveTo(data, centre, LWWIRE_DASH);
    access->circle(data, kCentreCircleRadius, LWWIRE_DASH);
}

}  // namespace varlobooks
