// What the OBJ and glTF exports write, worked out once per export: the
// layer's shells (one object each, or all merged) as triangles with
// per-vertex positions, normals and UVs, the materials of their surfaces
// and the images those use. The writers only serialise it, so that every
// format shows the same model.
//
// Right-handed, counter-clockwise: the modeller's z negated and each
// polygon's corners reversed (see export_mesh.h). UV v up, as the maps hold it.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "modeler/export/export_mesh.h"
#include "modeler/model/scene.h"

namespace modeler {

// Faces meeting at less than this angle share their normals at the edge:
// a round spine of three or more segments (45 degrees between faces or
// less) shades smooth, a box's edges (90 degrees) stay sharp.
inline constexpr double kCreaseDegrees = 60.0;
// How every material reflects; MTL and glTF say the same.
inline constexpr double kRoughness = 0.85;

struct AssetImage {
    std::string name;  // the source file's stem
    ImageBytes bytes;  // PNG or JPEG
};

struct AssetMaterial {
    std::string name;                  // the surface's
    std::array<double, 3> colour;      // linear RGB; white under an image
    std::optional<std::size_t> image;  // into AssetModel::images
};

struct AssetPrimitive {
    std::size_t material;
    std::vector<uint32_t> indices;  // triangles, into the mesh's vertices
};

struct AssetMesh {
    std::string name;
    std::vector<float> positions;  // xyz per vertex
    std::vector<float> normals;    // unit xyz per vertex
    std::vector<float> uvs;        // uv per vertex, v up
    std::vector<AssetPrimitive> primitives;
    std::size_t vertexCount() const { return positions.size() / 3; }
};

struct AssetModel {
    std::string name;  // of the whole object
    std::vector<AssetMesh> meshes;
    std::vector<AssetMaterial> materials;
    std::vector<AssetImage> images;
};

struct AssetOptions {
    bool merge = false;  // one mesh for the whole object, not one per shell
    std::string name;    // the object's name
};

AssetModel buildAssetModel(const Scene &scene, const AssetOptions &options);

}  // namespace modeler
