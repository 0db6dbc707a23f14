// Degrees and radians, converted one way everywhere in the host: the panel
// shows degrees where the tool holds radians, and the exports' crease angle
// is given in degrees.
#pragma once

#include <numbers>

namespace modeler {

// One rounding each: the factor first, then the product.
constexpr double radiansFromDegrees(double degrees) {
    return degrees * (std::numbers::pi / 180.0);
}
constexpr double degreesFromRadians(double radians) {
    return radians * (180.0 / std::numbers::pi);
}

}  // namespace modeler
