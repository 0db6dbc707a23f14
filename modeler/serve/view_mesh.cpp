#include "modeler/serve/view_mesh.h"

#include <cstdint>
#include <cstring>

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
    std::size_t vertices = 0, groups = 0, indices = 0;
    for (const AssetMesh &mesh : model.meshes) {
        vertices += mesh.vertexCount();
        groups += mesh.primitives.size();
        for (const AssetPrimitive &p : mesh.primitives)
            indices += p.indices.size();
    }
    std::string out;
    out.reserve(8 + groups * 12 + vertices * 32 + indices * 4);
    appendWord(out, vertices);
    appendWord(out, groups);
    std::size_t first = 0;
    for (const AssetMesh &mesh : model.meshes) {
        for (const AssetPrimitive &p : mesh.primitives) {
            appendWord(out, p.material);
            appendWord(out, first);
            appendWord(out, p.indices.size());
            first += p.indices.size();
        }
    }
    for (const AssetMesh &mesh : model.meshes)
        append(out, mesh.positions.data(), mesh.positions.size());
    for (const AssetMesh &mesh : model.meshes)
        append(out, mesh.normals.data(), mesh.normals.size());
    for (const AssetMesh &mesh : model.meshes)
        append(out, mesh.uvs.data(), mesh.uvs.size());
    std::size_t base = 0;
    std::vector<uint32_t> shifted;
    for (const AssetMesh &mesh : model.meshes) {
        for (const AssetPrimitive &p : mesh.primitives) {
            shifted.resize(p.indices.size());
            for (std::size_t i = 0; i < p.indices.size(); ++i)
                shifted[i] = static_cast<uint32_t>(p.indices[i] + base);
            append(out, shifted.data(), shifted.size());
        }
        base += mesh.vertexCount();
    }
    return out;
}

}  // namespace modeler
