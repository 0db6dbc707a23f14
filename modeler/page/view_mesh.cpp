#include "modeler/page/view_mesh.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace modeler {
namespace {

// Appends values as their bytes; the machines we serve are little-endian.
template <typename T>
void append(std::string &out, const T *values, std::size_t count) {
    const std::size_t at = out.size();
    out.resize(at + count * sizeof(T));
    if (count) std::memcpy(out.data() + at, values, count * sizeof(T));
}

void appendWord(std::string &out, std::size_t value) {
    const auto word = static_cast<uint32_t>(value);
    append(out, &word, 1);
}

}  // namespace

std::string encodeViewMesh(const AssetModel &model) {
    // One group per material, whatever the meshes: a shelf of books is
    // drawn in as many calls as it has looks, not books.
    std::size_t vertices = 0;
    std::vector<std::size_t> indicesOf(model.materials.size(), 0);
    for (const AssetMesh &mesh : model.meshes) {
        vertices += mesh.vertexCount();
        for (const AssetPrimitive &p : mesh.primitives)
            indicesOf[p.material] += p.indices.size();
    }
    std::vector<std::size_t> firstOf(model.materials.size(), 0);
    std::size_t groups = 0, indices = 0;
    for (std::size_t m = 0; m < indicesOf.size(); ++m) {
        firstOf[m] = indices;
        indices += indicesOf[m];
        groups += indicesOf[m] ? 1 : 0;
    }
    std::string out;
    out.reserve(8 + groups * 12 + vertices * 32 + indices * 4);
    appendWord(out, vertices);
    appendWord(out, groups);
    for (std::size_t m = 0; m < indicesOf.size(); ++m) {
        if (!indicesOf[m]) continue;
        appendWord(out, m);
        appendWord(out, firstOf[m]);
        appendWord(out, indicesOf[m]);
    }
    for (const AssetMesh &mesh : model.meshes)
        append(out, mesh.positions.data(), mesh.positions.size());
    for (const AssetMesh &mesh : model.meshes)
        append(out, mesh.normals.data(), mesh.normals.size());
    for (const AssetMesh &mesh : model.meshes)
        append(out, mesh.uvs.data(), mesh.uvs.size());
    // Each mesh's indices, offset past the meshes before it, go to the run
    // of their material, written in place.
    const std::size_t indicesAt = out.size();
    out.resize(indicesAt + 4 * indices);
    std::size_t base = 0;
    for (const AssetMesh &mesh : model.meshes) {
        for (const AssetPrimitive &p : mesh.primitives) {
            char *to = out.data() + indicesAt + 4 * firstOf[p.material];
            for (std::size_t i = 0; i < p.indices.size(); ++i) {
                const auto index = static_cast<uint32_t>(p.indices[i] + base);
                std::memcpy(to + 4 * i, &index, 4);
            }
            firstOf[p.material] += p.indices.size();
        }
        base += mesh.vertexCount();
    }
    return out;
}

}  // namespace modeler
