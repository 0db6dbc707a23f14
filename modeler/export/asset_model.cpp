#include "modeler/export/asset_model.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <numbers>
#include <span>
#include <unordered_map>

#include "modeler/model/angles.h"

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

// Builds meshes from polygons into the model's storage: vertices split
// wherever a point carries another normal or UV, triangles fanned, one
// primitive per material. Its working lists serve mesh after mesh.
class MeshBuilder {
  public:
    MeshBuilder(const Layer &layer, AssetModel::Storage &storage)
        : layer_(layer), storage_(storage) {}

    void add(const ShellPolygons &shell, const std::vector<std::size_t> &materialOfSurface,
             AssetMesh &mesh) {
        claimVertices(shell);
        claimIndices(shell, materialOfSurface);
        const double smooth = std::cos(radiansFromDegrees(kCreaseDegrees + kCreaseSlackDegrees));
        for (uint32_t f = 0; f < shell.polygons.size(); ++f) {
            const ShellPolygon &polygon = shell.polygons[f];
            addTriangles(shell, f, smooth,
                         indicesOut_[primitiveIndex(materialOfSurface[polygon.surface])]);
        }
        finish(shell, mesh);
    }

  private:
    // A point has no more vertices than corners: room for that many is
    // claimed, written in place and the rest given back at the end.
    void claimVertices(const ShellPolygons &shell) {
        const std::size_t most = shell.corners.size();
        positions_ = storage_.positions.claim(3 * most);
        normals_ = storage_.normals.claim(3 * most);
        uvs_ = storage_.uvs.claim(2 * most);
        made_ = 0;
        // The faces around each point, for the normals at its corners.
        facesAt_.build(shell);
        vertexSlots_.assign(facesAt_.cornerCount(), 0);
        verticesMade_.assign(facesAt_.pointRange(), 0);
    }

    // Each material's triangles, counted first: a primitive's indices are
    // claimed as one run, and indicesOut_ points where its next goes.
    void claimIndices(const ShellPolygons &shell,
                      const std::vector<std::size_t> &materialOfSurface) {
        primitives_.clear();
        std::vector<std::size_t> &triangles = trianglesOf_;
        triangles.clear();
        for (const ShellPolygon &polygon : shell.polygons) {
            const std::size_t p = primitiveIndex(materialOfSurface[polygon.surface]);
            triangles.resize(std::max(triangles.size(), p + 1), 0);
            triangles[p] += polygon.cornerCount - 2;
        }
        indicesOut_.clear();
        for (std::size_t p = 0; p < primitives_.size(); ++p) {
            uint32_t *indices = storage_.indices.claim(3 * triangles[p]);
            primitives_[p].indices = {indices, 3 * triangles[p]};
            indicesOut_.push_back(indices);
        }
    }

    // Polygon f's vertices (each corner's normal the sum of the faces that
    // meet there within the crease angle), fanned into triangles at to.
    void addTriangles(const ShellPolygons &shell, uint32_t f, double smooth, uint32_t *&to) {
        const ShellPolygon &polygon = shell.polygons[f];
        // A corner where no other face bends in smoothly (a box's, a flat
        // cover's) takes the face's own normal: made once.
        const Normal own = normalised(polygon.normal);
        std::vector<uint32_t> &v = polygonVertices_;
        v.clear();
        for (uint32_t c = 0; c < polygon.cornerCount; ++c) {
            const ExportCorner &corner = shell.corners[polygon.firstCorner + c];
            Normal n{0, 0, 0};
            bool alone = true;
            for (uint32_t other : facesAt_.at(corner.point)) {
                const Normal &m = shell.polygons[other].normal;
                if (dot(m, polygon.normal) < smooth) continue;
                alone = alone && other == f;
                for (int i = 0; i < 3; ++i)
                    n[i] += m[i];
            }
            v.push_back(vertex(corner, alone ? own : normalised(n)));
        }
        for (std::size_t i = 1; i + 1 < v.size(); ++i, to += 3) {
            to[0] = v[0];
            to[1] = v[i];
            to[2] = v[i + 1];
        }
    }

    // Gives back the vertex room not used and hands the mesh its lists.
    void finish(const ShellPolygons &shell, AssetMesh &mesh) {
        const std::size_t unused = shell.corners.size() - made_;
        storage_.positions.giveBack(3 * unused);
        storage_.normals.giveBack(3 * unused);
        storage_.uvs.giveBack(2 * unused);
        mesh.positions = {positions_, 3 * std::size_t(made_)};
        mesh.normals = {normals_, 3 * std::size_t(made_)};
        mesh.uvs = {uvs_, 2 * std::size_t(made_)};
        AssetPrimitive *primitives = storage_.primitives.claim(primitives_.size());
        std::copy(primitives_.begin(), primitives_.end(), primitives);
        mesh.primitives = {primitives, primitives_.size()};
    }

    // The sum of the normals as it was added up from zero (0 + -0 is +0),
    // made unit length.
    static Normal normalised(const Normal &sum) {
        Normal n{0 + sum[0], 0 + sum[1], 0 + sum[2]};
        const double length = std::sqrt(dot(n, n));
        for (double &c : n)
            c /= length;
        return n;
    }

    // The vertex of corner with normal: one made earlier at the same point
    // with the same bits of normal and UV, else a new one. Vertices are
    // numbered in the order the corners first need them.
    uint32_t vertex(const ExportCorner &corner, const Normal &normal) {
        const float n[3] = {float(normal[0]), float(normal[1]), float(normal[2])};
        const float uv[2] = {corner.u, corner.v};
        const std::span<uint32_t> slots = facesAt_.slots(corner.point, vertexSlots_);
        uint32_t &made = verticesMade_[corner.point - facesAt_.low()];
        for (uint32_t k = 0; k < made; ++k) {
            const uint32_t v = slots[k];
            if (std::memcmp(normals_ + 3 * std::size_t(v), n, sizeof n) == 0 &&
                std::memcmp(uvs_ + 2 * std::size_t(v), uv, sizeof uv) == 0)
                return v;
        }
        const uint32_t v = made_++;
        slots[made++] = v;
        const auto q = toRightHanded(layer_.points()[corner.point]);
        float *position = positions_ + 3 * std::size_t(v);
        float *normalOut = normals_ + 3 * std::size_t(v);
        for (int i = 0; i < 3; ++i) {
            position[i] = float(q[i]);
            normalOut[i] = n[i];
        }
        uvs_[2 * std::size_t(v)] = uv[0];
        uvs_[2 * std::size_t(v) + 1] = uv[1];
        return v;
    }

    // The mesh's primitive of a material, made when it is first needed.
    std::size_t primitiveIndex(std::size_t material) {
        for (std::size_t p = 0; p < primitives_.size(); ++p) {
            if (primitives_[p].material == material) return p;
        }
        primitives_.push_back({material, {}});
        return primitives_.size() - 1;
    }

    const Layer &layer_;
    AssetModel::Storage &storage_;
    // The mesh being built: its lists, in the model's storage.
    float *positions_ = nullptr, *normals_ = nullptr, *uvs_ = nullptr;
    uint32_t made_ = 0;  // its vertices
    std::vector<AssetPrimitive> primitives_;
    FacesAtPoints facesAt_;
    std::vector<uint32_t> vertexSlots_;   // vertex indices, in each point's slots
    std::vector<uint32_t> verticesMade_;  // slots used, per point
    std::vector<uint32_t> polygonVertices_;
    std::vector<std::size_t> trianglesOf_;  // per primitive
    std::vector<uint32_t *> indicesOut_;    // per primitive
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
        const ExportLook &shown = model.look;
        const bool pages = !shown.sharedSurface.empty() && name == shown.sharedSurface;
        // Plain surfaces share one material, called after what it is rather
        // than after the first surface that used it.
        AssetMaterial material{pages ? name : shown.plainMaterial,
                               pages ? shown.sharedColour : shown.plainColour, std::nullopt};
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

// Every object's name once in a file: the tool numbers each row's covers
// from the prefix again, so two rows give two "book_4". The first keeps
// its name, the later ones are numbered in layer order ("book_4.2",
// "book_4.3"), skipping any number another object already has; they still
// share their surface and material.
void makeNamesUnique(std::vector<AssetMesh> &meshes) {
    std::unordered_map<std::string, int> seen;
    seen.reserve(meshes.size());
    for (const AssetMesh &mesh : meshes)
        seen.try_emplace(mesh.name, 0);
    for (AssetMesh &mesh : meshes) {
        int &count = seen[mesh.name];
        if (++count == 1) continue;
        std::string name;
        do {
            name = mesh.name + "." + std::to_string(count);
        } while (seen.count(name) && ++count);
        seen.emplace(name, 1);
        mesh.name = std::move(name);
    }
}

// The polygons with triangles, each shell's in layer order: shell s's are
// byShell[first[s] .. first[s + 1]). Two-point polygons and polygons
// without area have none.
struct ShellOrder {
    std::vector<Normal> normals;  // per polygon of the layer
    std::vector<uint32_t> first, byShell;
};

// Orders the polygons by shell, and numbers the materials in layer order.
ShellOrder orderByShell(const Scene &scene, const ExportPolygons &exportPolygons,
                        std::size_t shellCount, const auto &shellOf, MaterialTable &table,
                        AssetModel &model) {
    const std::size_t polygonCount = scene.layer().polygons().size();
    ShellOrder order;
    order.normals.resize(polygonCount);
    order.first.assign(shellCount + 1, 0);
    std::vector<uint8_t> hasArea(polygonCount, 0);
    for (uint32_t p = 0; p < polygonCount; ++p) {
        const auto normal = exportPolygons.normalOf(p);
        if (!normal) continue;
        order.normals[p] = *normal;
        hasArea[p] = 1;
        table.materialFor(scene, scene.layer().polygons()[p].surface, model);
        ++order.first[shellOf(p) + 1];
    }
    for (std::size_t s = 0; s < shellCount; ++s)
        order.first[s + 1] += order.first[s];
    order.byShell.resize(order.first.back());
    std::vector<uint32_t> fill(order.first.begin(), order.first.end() - 1);
    for (uint32_t p = 0; p < polygonCount; ++p) {
        if (hasArea[p]) order.byShell[fill[shellOf(p)]++] = p;
    }
    return order;
}

// A shell is named after its first surface but the shared one (the look's
// sharedSurface): a book's cover rather than its pages. A merged model or
// a shell of unnamed surfaces is named after the model.
std::string meshName(const ShellPolygons &shell, const Layer &layer, const AssetModel &model,
                     bool merged, std::size_t index) {
    if (merged) return model.name;
    for (const ShellPolygon &polygon : shell.polygons) {
        const std::string &surface = layer.surfaceNames()[polygon.surface];
        if (surface.empty() || surface != model.look.sharedSurface)
            return surface.empty() ? model.name + "_" + std::to_string(index) : surface;
    }
    return model.name + "_" + std::to_string(index);
}

}  // namespace

AssetModel buildAssetModel(const Scene &scene, const AssetOptions &options) {
    return buildAssetModel(scene, findShells(scene.layer()), options);
}

AssetModel buildAssetModel(const Scene &scene, const Shells &shells, const AssetOptions &options) {
    const Layer &layer = scene.layer();
    AssetModel model;
    model.name = options.name;
    model.look = options.look;
    const std::size_t shellCount = options.merge ? 1 : shells.count;
    auto shellOf = [&](std::size_t polygon) {
        return options.merge ? 0 : std::size_t(shells.ofPolygon[polygon]);
    };
    ExportPolygons exportPolygons(layer);
    MaterialTable table{std::vector<std::size_t>(layer.surfaceNames().size(), SIZE_MAX), {}, {}};
    const ShellOrder order = orderByShell(scene, exportPolygons, shellCount, shellOf, table, model);
    MeshBuilder builder(layer, model.storage);
    ShellPolygons shell;
    for (std::size_t s = 0; s < shellCount; ++s) {
        if (order.first[s] == order.first[s + 1]) continue;
        shell.polygons.clear();
        shell.corners.clear();
        for (uint32_t i = order.first[s]; i < order.first[s + 1]; ++i) {
            const uint32_t p = order.byShell[i];
            const auto firstCorner = uint32_t(shell.corners.size());
            const auto count = uint32_t(exportPolygons.appendCornersOf(p, shell.corners));
            shell.polygons.push_back(
                {layer.polygons()[p].surface, firstCorner, count, order.normals[p]});
        }
        AssetMesh mesh;
        mesh.name = meshName(shell, layer, model, options.merge, s);
        builder.add(shell, table.ofSurface, mesh);
        model.meshes.push_back(std::move(mesh));
    }
    makeNamesUnique(model.meshes);
    model.materialOfSurface = std::move(table.ofSurface);
    return model;
}

}  // namespace modeler
