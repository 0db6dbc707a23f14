// What the OBJ and glTF exports write, worked out once per export: the
// layer's shells (one object each, or all merged) as triangles with
// per-vertex positions, normals and UVs, the materials of their surfaces
// and the images those use. The writers only serialise it, so that every
// format shows the same model.
//
// Right-handed, counter-clockwise: the modeller's z negated and each
// polygon's corners reversed (see export_mesh.h). UV v up, as the maps hold it.
#pragma once

#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "modeler/export/export_look.h"
#include "modeler/export/export_mesh.h"
#include "modeler/model/scene.h"

namespace modeler {

// Faces meeting at this angle or less share their normals at the edge: a
// round spine of any segment count (60 degrees between its faces with two
// segments, less with more) shades smooth, a box's edges (90 degrees) stay
// sharp. Faces at the limit itself are smooth whatever their rounding (a
// tilted book's small spine faces are a few thousandths of a degree off):
// the comparison allows kCreaseSlackDegrees more.
inline constexpr double kCreaseDegrees = 60.0;
inline constexpr double kCreaseSlackDegrees = 1.0;
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
    std::span<const uint32_t> indices;  // triangles, into the mesh's vertices
};

// A mesh's lists are views of its model's storage.
struct AssetMesh {
    std::string name;
    std::span<const float> positions;  // xyz per vertex
    std::span<const float> normals;    // unit xyz per vertex
    std::span<const float> uvs;        // uv per vertex, v up
    std::span<const AssetPrimitive> primitives;
    std::size_t vertexCount() const { return positions.size() / 3; }
};

// Values in blocks that never move, handed out in runs: the lists of
// thousands of small meshes in a few allocations, each run a view's
// memory for as long as the blocks live. A run longer than a block gets a
// block of its own.
template <typename T>
class BlockList {
  public:
    BlockList() = default;
    // The blocks move with their cursor; the list moved from is empty, its
    // cursor in none of them.
    BlockList(BlockList &&other) noexcept
        : blocks_(std::move(other.blocks_)),
          at_(std::exchange(other.at_, nullptr)),
          end_(std::exchange(other.end_, nullptr)) {}
    BlockList &operator=(BlockList &&other) noexcept {
        blocks_ = std::move(other.blocks_);
        at_ = std::exchange(other.at_, nullptr);
        end_ = std::exchange(other.end_, nullptr);
        return *this;
    }

    // Room for count values in one run, not yet written.
    T *claim(std::size_t count) {
        if (std::size_t(end_ - at_) < count) {
            const std::size_t size = std::max(kBlockValues, count);
            // Left uninitialised, as make_unique_for_overwrite would (which
            // the WebAssembly build's C++ library lacks).
            blocks_.push_back(std::unique_ptr<T[]>(new T[size]));
            at_ = blocks_.back().get();
            end_ = at_ + size;
        }
        T *run = at_;
        at_ += count;
        return run;
    }
    // The last count values of the last run, unused, for the next.
    void giveBack(std::size_t count) { at_ -= count; }

  private:
    static constexpr std::size_t kBlockValues = (64 << 10) / sizeof(T);
    std::vector<std::unique_ptr<T[]>> blocks_;
    T *at_ = nullptr, *end_ = nullptr;
};

// Moved, never copied: the meshes' views stay valid as long as the model
// lives, wherever it is moved to.
struct AssetModel {
    std::string name;  // of the whole object
    ExportLook look;   // as the model was built with
    std::vector<AssetMesh> meshes;
    std::vector<AssetMaterial> materials;
    std::vector<AssetImage> images;
    // Per surface of the layer, its material; SIZE_MAX for a surface no
    // polygon with area uses.
    std::vector<std::size_t> materialOfSurface;

    // What the meshes' views show: every mesh's vertices, triangles and
    // primitives in blocks shared by many meshes, so that a model of many
    // small meshes is a few allocations rather than several a mesh.
    struct Storage {
        BlockList<float> positions, normals, uvs;
        BlockList<uint32_t> indices;
        BlockList<AssetPrimitive> primitives;
    } storage;

    AssetModel() = default;
    AssetModel(AssetModel &&) noexcept = default;
    AssetModel &operator=(AssetModel &&) noexcept = default;
    AssetModel(const AssetModel &) = delete;
    AssetModel &operator=(const AssetModel &) = delete;
};

struct AssetOptions {
    bool merge = false;  // one mesh for the whole object, not one per shell
    std::string name;    // the object's name
    ExportLook look;
};

// shells: the layer's, as findShells gives them.
AssetModel buildAssetModel(const Scene &scene, const Shells &shells, const AssetOptions &options);
AssetModel buildAssetModel(const Scene &scene, const AssetOptions &options);

}  // namespace modeler
