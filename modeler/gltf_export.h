// glTF 2.0, binary (.glb, images embedded) or text (.gltf with a .bin and
// the cover images beside it): one material per surface, per-face normals,
// UVs from each polygon's map, polygons fanned into triangles.
#pragma once

#include <optional>
#include <string>

#include "modeler/scene.h"

namespace modeler {

std::optional<std::string> writeGltf(Scene &scene, const std::string &path, bool binary);

}  // namespace modeler
