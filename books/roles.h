// Which world axis plays which role in a book: T the thickness (the fill
// axis), H the height, D the depth.
#pragma once

namespace varlobooks {

struct AxisRoles {
    int t, h, d;
};

// For fill axis 0, 1 or 2.
constexpr AxisRoles axisRoles(int axis) {
    switch (axis) {
        case 1:
            return {1, 0, 2};
        case 2:
            return {2, 1, 0};
        default:
            return {0, 1, 2};
    }
}

}  // namespace varlobooks
