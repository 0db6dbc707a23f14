#include "modeler/export/asset_model.h"

#include <cmath>
#include <cstring>
#include <filesystem>
#include <numbers>
#include <unordered_map>

#include "modeler/export/word_hash.h"
#include "modeler/plugin_profile.h"

namespace modeler {
namespace {

using Normal = std::array<double, 3>;

// A polygon of a shell, as the exports see it.
struct ShellPolygon {
    uint32_t surface;
    std::vector<ExportCorner> corners;  // right-handed order
    Normal normal;
};

// A vertex: a point with the bits of its normal and UV.
using VertexKey = std::array<uint32_t, 6>;

double dot(const Normal &a, const Normal &b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

// Builds one mesh from polygons: vertices split wherever a point carries
// another normal or UV, triangles fanned, one primitive per material.
class MeshBuilder {
  public:
    MeshBuilder(const Layer &layer, AssetMesh &mesh) : layer_(layer), mesh_(mesh) {}

    void add(const std::vector<ShellPolygon> &polygons,
             const std::vector<std::size_t> &materialOfSurface) {
        // The faces around each point, for the normals at its corners.
        std::unordered_map<uint32_t, std::vector<uint32_t>> facesAt;
        for (uint32_t f = 0; f < polygons.size(); ++f) {
            for (const ExportCorner &corner : polygons[f].corners)
                facesAt[corner.point].push_back(f);
        }
        const double smooth = std::cos(kCreaseDegrees * std::numbers::pi / 180);
        std::vector<uint32_t> v;
        for (const ShellPolygon &polygon : polygons) {
            v.clear();
            for (const ExportCorner &corner : polygon.corners) {
                Normal n{0, 0, 0};
                for (uint32_t other : facesAt[corner.point]) {
                    const Normal &m = polygons[other].normal;
                    if (dot(m, polygon.normal) < smooth) continue;
                    for (int i = 0; i < 3; ++i)
                        n[i] += m[i];
                }
                const double length = std::sqrt(dot(n, n));
                for (double &c : n)
                    c /= length;
                v.push_back(vertex(corner, n));
            }
            auto &indices = primitive(materialOfSurface[polygon.surface]).indices;
            for (std::size_t i = 1; i + 1 < v.size(); ++i)
                indices.insert(indices.end(), {v[0], v[i], v[i + 1]});
        }
    }

  private:
    uint32_t vertex(const ExportCorner &corner, const Normal &normal) {
        const float n[3] = {float(normal[0]), float(normal[1]), float(normal[2])};
        const float uv[2] = {corner.u, corner.v};
        VertexKey key;
        key[0] = corner.point;
        std::memcpy(&key[1], n, sizeof n);
        std::memcpy(&key[4], uv, sizeof uv);
        auto [it, added] = vertexOf_.try_emplace(key, uint32_t(mesh_.vertexCount()));
        if (added) {
            const auto q = toRightHanded(layer_.points()[corner.point]);
            mesh_.positions.insert(mesh_.positions.end(), {float(q[0]), float(q[1]), float(q[2])});
            mesh_.normals.insert(mesh_.normals.end(), n, n + 3);
            mesh_.uvs.insert(mesh_.uvs.end(), uv, uv + 2);
        }
        return it->second;
    }

    AssetPrimitive &primitive(std::size_t material) {
        for (AssetPrimitive &p : mesh_.primitives) {
            if (p.material == material) return p;
        }
        mesh_.primitives.push_back({material, {}});
        return mesh_.primitives.back();
    }

    const Layer &layer_;
    AssetMesh &mesh_;
    std::unordered_map<VertexKey, uint32_t, WordHash<6>> vertexOf_;
};

// A material for every look a triangle has: one per image, one for the
// pages, one for plain covers. Surfaces that look alike share it.
struct MaterialTable {
    std::vector<std::size_t> ofSurface;  // SIZE_MAX until used
    std::unordered_map<const Image *, std::optional<std::size_t>> imageOf;
    std::unordered_map<std::string, std::size_t> ofLook;

    std::size_t materialFor(const Scene &scene, uint32_t surface, AssetModel &model) {
        if (ofSurface[surface] != SIZE_MAX) return ofSurface[surface];
        const std::string &name = scene.layer().surfaceNames()[surface];
        const bool pages = name == profile::kPagesSurface;
        AssetMaterial material{name, pages ? profile::kPagesColour : profile::kPlainColour,
                               std::nullopt};
        std::string look = pages ? "pages" : "plain";
        if (const Image *image = baseColorImage(*scene.surfaces()[surface])) {
            material.image = imageFor(image, model);
            if (material.image) {
                material.colour = {1, 1, 1};
                material.name = model.images[*material.image].name;
                look = "image " + std::to_string(*material.image);
            }
        }
        auto [it, added] = ofLook.try_emplace(look, model.materials.size());
        if (added) model.materials.push_back(std::move(material));
        return ofSurface[surface] = it->second;
    }

    std::optional<std::size_t> imageFor(const Image *image, AssetModel &model) {
        auto [it, added] = imageOf.try_emplace(image);
        if (!added) return it->second;
        auto bytes = imageBytes(*image);
        if (!bytes) return std::nullopt;
        model.images.push_back(
            {std::filesystem::path(image->path).stem().string(), std::move(*bytes)});
        return it->second = model.images.size() - 1;
    }
};

}  // namespace

AssetModel buildAssetModel(const Scene &scene, const AssetOptions &options) {
    const Layer &layer = scene.layer();
    AssetModel model;
    model.name = options.name;
    const Shells shells = findShells(layer);
    // The polygons of each shell, in layer order; two-point polygons and
    // polygons without area have no triangles.
    std::vector<std::vector<ShellPolygon>> ofShell(options.merge ? 1 : shells.count);
    MaterialTable table{std::vector<std::size_t>(layer.surfaceNames().size(), SIZE_MAX), {}, {}};
    forEachExportPolygon(layer, [&](const ExportPolygon &polygon) {
        if (!polygon.normal) return;
        table.materialFor(scene, polygon.surface, model);
        const std::size_t shell = options.merge ? 0 : shells.ofPolygon[polygon.index];
        ofShell[shell].push_back(
            {polygon.surface, {polygon.corners.begin(), polygon.corners.end()}, *polygon.normal});
    });
    for (std::size_t s = 0; s < ofShell.size(); ++s) {
        if (ofShell[s].empty()) continue;
        AssetMesh mesh;
        // A shell is named after its first surface but the pages: a book's cover.
        for (const ShellPolygon &polygon : ofShell[s]) {
            const std::string &surface = layer.surfaceNames()[polygon.surface];
            if (surface != profile::kPagesSurface) {
                mesh.name = surface;
                break;
            }
        }
        if (options.merge || mesh.name.empty())
            mesh.name = options.merge ? model.name : model.name + "_" + std::to_string(s);
        MeshBuilder(layer, mesh).add(ofShell[s], table.ofSurface);
        model.meshes.push_back(std::move(mesh));
    }
    return model;
}

}  // namespace modeler
