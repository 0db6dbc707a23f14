// Wavefront OBJ with an MTL beside it: right-handed, per-corner UVs, one
// material per surface, map_Kd for covers with an image.
#pragma once

#include <optional>
#include <string>

#include "modeler/scene.h"

namespace modeler {

// Writes path and the .mtl of the same name beside it, both atomically.
std::optional<std::string> writeObj(Scene &scene, const std::string &path);

}  // namespace modeler
