// The layer as a page draws it, in one binary block the page reads with
// typed arrays (little-endian, 4-byte aligned):
//   u32 vertexCount, u32 groupCount,
//   groupCount x (u32 material, u32 firstIndex, u32 indexCount),
//   f32 positions[3 * vertexCount], f32 normals[3 * vertexCount],
//   f32 uvs[2 * vertexCount], u32 indices[sum of indexCount].
// Every mesh of the model is appended, its indices offset to match; a
// group holds all the triangles of one material.
#pragma once

#include <string>

#include "modeler/export/asset_model.h"

namespace modeler {

std::string encodeViewMesh(const AssetModel &model);

}  // namespace modeler
