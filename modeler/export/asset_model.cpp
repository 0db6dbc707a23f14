#include "modeler/export/asset_model.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <numbers>
#include <span>
#include <unordered_map>

#include "modeler/plugin_profile.h"

namespace modeler {
namespace {

using Normal = std::array<double, 3>;

// A polygon of a shell, as the exports see it: its corners are a run of
// the shell's corner list.
struct ShellPolygon {
    uint32_t surface;
    uint32_t firstCorner, cornerCount;  // right-handed order
    Normal normal;
};

struct ShellPolygons {
    std::vector<ShellPolygon> polygons;
    std::vector<ExportCorner> corners;
};

double dot(const Normal &a, const Normal &b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

// The faces around each point of a set of polygons, in one list: the faces
// at point p are faces[first[p - low] .. first[p - low + 1]). Points of a
// shell lie close together in the layer, so the range is small.
class FacesAtPoints {
  public:
    void build(const ShellPolygons &shell) {
        low_ = UINT32_MAX;
        uint32_t high = 0;
        for (const ExportCorner &c : shell.corners) {
            low_ = std::min(low_, c.point);
            high = std::max(high, c.point);
        }
        first_.assign(shell.corners.empty() ? 1 : std::size_t(high - low_) + 2, 0);
        for (const ExportCorner &c : shell.corners)
            ++first_[c.point - low_ + 1];
        for (std::size_t i = 1; i < first_.size(); ++i)
            first_[i] += first_[i - 1];
        faces_.resize(shell.corners.size());
        fill_.assign(first_.begin(), first_.end() - 1);
        for (uint32_t f = 0; f < shell.polygons.size(); ++f) {
            const ShellPolygon &p = shell.polygons[f];
            for (uint32_t i = 0; i < p.cornerCount; ++i)
                faces_[fill_[shell.corners[p.firstCorner + i].point - low_]++] = f;
        }
    }
    std::span<const uint32_t> at(uint32_t point) const {
        const std::size_t i = point - low_;
        return {faces_.data() + first_[i], first_[i + 1] - first_[i]};
    }
    // As many slots at each point as it has corners, for the vertices
    // made there: a point has no more vertices than corners.
    std::span<uint32_t> slots(uint32_t point, std::vector<uint32_t> &store) const {
        const std::size_t i = point - low_;
        return {store.data() + first_[i], first_[i + 1] - first_[i]};
    }
    std::size_t pointRange() const { return first_.size() - 1; }
    std::size_t cornerCount() const { return faces_.size(); }
    uint32_t low() const { return low_; }

  private:
    uint32_t low_ = 0;
    std::vector<uint32_t> first_, fill_, faces_;
};

// Builds one mesh from polygons: vertices split wherever a point carries
// another normal or UV, triangles fanned, one primitive per material.
class MeshBuilder {
  public:
    MeshBuilder(const Layer &layer, AssetMesh &mesh) : layer_(layer), mesh_(mesh) {}

    void add(const ShellPolygons &shell, const std::vector<std::size_t> &materialOfSurface) {
        // The faces around each point, for the normals at its corners.
        FacesAtPoints facesAt;
        facesAt.build(shell);
        vertexSlots_.assign(facesAt.cornerCount(), 0);
        verticesMade_.assign(facesAt.pointRange(), 0);
        const double smooth = std::cos(kCreaseDegrees * std::numbers::pi / 180);
        std::vector<uint32_t> v;
        for (const ShellPolygon &polygon : shell.polygons) {
            v.clear();
            for (uint32_t c = 0; c < polygon.cornerCount; ++c) {
                const ExportCorner &corner = shell.corners[polygon.firstCorner + c];
                Normal n{0, 0, 0};
                for (uint32_t other : facesAt.at(corner.point)) {
                    const Normal &m = shell.polygons[other].normal;
                    if (dot(m, polygon.normal) < smooth) continue;
                    for (int i = 0; i < 3; ++i)
                        n[i] += m[i];
                }
                const double length = std::sqrt(dot(n, n));
                for (double &c : n)
                    c /= length;
                v.push_back(vertex(facesAt, corner, n));
            }
            auto &indices = primitive(materialOfSurface[polygon.surface]).indices;
            for (std::size_t i = 1; i + 1 < v.size(); ++i)
                indices.insert(indices.end(), {v[0], v[i], v[i + 1]});
        }
    }

  private:
    // The vertex of corner with normal: one made earlier at the same point
    // with the same bits of normal and UV, else a new one. Vertices are
    // numbered in the order the corners first need them.
    uint32_t vertex(const FacesAtPoints &at, const ExportCorner &corner, const Normal &normal) {
        const float n[3] = {float(normal[0]), float(normal[1]), float(normal[2])};
        const float uv[2] = {corner.u, corner.v};
        const std::span<uint32_t> slots = at.slots(corner.point, vertexSlots_);
        uint32_t &made = verticesMade_[corner.point - at.low()];
        for (uint32_t k = 0; k < made; ++k) {
            const uint32_t v = slots[k];
            if (std::memcmp(&mesh_.normals[3 * std::size_t(v)], n, sizeof n) == 0 &&
                std::memcmp(&mesh_.uvs[2 * std::size_t(v)], uv, sizeof uv) == 0)
                return v;
        }
        const auto v = uint32_t(mesh_.vertexCount());
        slots[made++] = v;
        const auto q = toRightHanded(layer_.points()[corner.point]);
        mesh_.positions.insert(mesh_.positions.end(), {float(q[0]), float(q[1]), float(q[2])});
        mesh_.normals.insert(mesh_.normals.end(), n, n + 3);
        mesh_.uvs.insert(mesh_.uvs.end(), uv, uv + 2);
        return v;
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
    std::vector<uint32_t> vertexSlots_;   // vertex indices, in each point's slots
    std::vector<uint32_t> verticesMade_;  // slots used, per point
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
    std::vector<ShellPolygons> ofShell(options.merge ? 1 : shells.count);
    MaterialTable table{std::vector<std::size_t>(layer.surfaceNames().size(), SIZE_MAX), {}, {}};
    forEachExportPolygon(layer, [&](const ExportPolygon &polygon) {
        if (!polygon.normal) return;
        table.materialFor(scene, polygon.surface, model);
        const std::size_t shell = options.merge ? 0 : shells.ofPolygon[polygon.index];
        ShellPolygons &into = ofShell[shell];
        into.polygons.push_back({polygon.surface, uint32_t(into.corners.size()),
                                 uint32_t(polygon.corners.size()), *polygon.normal});
        into.corners.insert(into.corners.end(), polygon.corners.begin(), polygon.corners.end());
    });
    for (std::size_t s = 0; s < ofShell.size(); ++s) {
        if (ofShell[s].polygons.empty()) continue;
        AssetMesh mesh;
        // A shell is named after its first surface but the pages: a book's cover.
        for (const ShellPolygon &polygon : ofShell[s].polygons) {
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
