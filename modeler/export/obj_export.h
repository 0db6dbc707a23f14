// Wavefront OBJ with an MTL beside it: right-handed, per-corner UVs, one
// material per surface, map_Kd for covers with an image.
#pragma once

#include <optional>
#include <string>

#include "modeler/export/atomic_file.h"
#include "modeler/model/scene.h"

namespace modeler {

// Stages path and the .mtl of the same name beside it in files.
[[nodiscard]] std::optional<std::string> writeObj(const Scene &scene, const std::string &path,
                                                  StagedFiles &files);

}  // namespace modeler
