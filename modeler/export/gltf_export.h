// glTF 2.0 of an asset model: a root node named after the object with one
// node and mesh per shell (or, merged, one mesh), vertex data in shared
// buffer views. Binary (.glb) with the images inside, or text (.gltf) with
// a .bin and the images beside it.
#pragma once

#include <optional>
#include <string>

#include "modeler/export/asset_model.h"
#include "modeler/export/atomic_file.h"

namespace modeler {

[[nodiscard]] std::optional<std::string> writeGltf(const AssetModel &asset, const std::string &path,
                                                   bool binary, bool merged, StagedFiles &files);

}  // namespace modeler
