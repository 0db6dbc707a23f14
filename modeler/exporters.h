// Writing the scene to a file in the format its name or --format asks for.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "modeler/scene.h"

namespace modeler {

enum class ExportFormat { Json, Obj, Gltf, Glb };

// The format named ("json", "obj", "gltf", "glb") or implied by path's
// extension; nullopt when neither says.
std::optional<ExportFormat> exportFormatFor(const std::string &path,
                                            const std::string &formatName = "");
std::vector<std::string> exportFormatNames();

// Writes scene to path. An error text on failure; nothing is left half
// written and an existing file is untouched then.
std::optional<std::string> exportScene(Scene &scene, const std::string &path, ExportFormat format);

}  // namespace modeler
