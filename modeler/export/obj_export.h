// Wavefront OBJ of an asset model: one object per mesh, triangles grouped
// by material, normals per vertex; its MTL beside it and the cover images
// copied into NAME_covers/ beside that (PNG or JPEG), so that the files can
// be moved together.
#pragma once

#include <optional>
#include <string>

#include "modeler/export/asset_model.h"
#include "modeler/export/atomic_file.h"

namespace modeler {

[[nodiscard]] std::optional<std::string> writeObj(const AssetModel &asset, const std::string &path,
                                                  StagedFiles &files);

}  // namespace modeler
