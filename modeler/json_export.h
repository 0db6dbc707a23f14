// The lossless export of the scene: every point, polygon, vertex map value,
// surface texture and image, with numbers that read back to the same bits.
#pragma once

#include <optional>
#include <string>

#include "modeler/scene.h"

namespace modeler {

// The scene as JSON text.
std::string sceneToJson(Scene &scene);

// Writes sceneToJson to path atomically. An error text on failure.
std::optional<std::string> writeJson(Scene &scene, const std::string &path);

}  // namespace modeler
