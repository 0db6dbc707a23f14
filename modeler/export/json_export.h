// The lossless export of the scene: every point, polygon, vertex map value,
// surface texture and image, with numbers that read back to the same bits.
#pragma once

#include <optional>
#include <string>

#include "modeler/export/atomic_file.h"
#include "modeler/model/scene.h"

namespace modeler {

// The scene as JSON text.
[[nodiscard]] std::string sceneToJson(const Scene &scene);

// Stages sceneToJson as path in files. An error text on failure.
[[nodiscard]] std::optional<std::string> writeJson(const Scene &scene, const std::string &path,
                                                   StagedFiles &files);

}  // namespace modeler
