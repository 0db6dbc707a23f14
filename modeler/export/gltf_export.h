// glTF 2.0, binary (.glb, images embedded) or text (.gltf with a .bin and
// the cover images beside it): one material per surface, per-face normals,
// UVs from each polygon's map, polygons fanned into triangles.
#pragma once

#include <optional>
#include <string>

#include "modeler/export/atomic_file.h"
#include "modeler/model/scene.h"

namespace modeler {

// Stages path (and for text its .bin and images beside it) in files.
[[nodiscard]] std::optional<std::string> writeGltf(const Scene &scene, const std::string &path,
                                                   bool binary, StagedFiles &files);

}  // namespace modeler
