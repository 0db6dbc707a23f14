#include "modeler/gltf_export.h"

#include <tiny_gltf.h>

#include <cfloat>
#include <cstring>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <unordered_map>

#include "modeler/atomic_file.h"
#include "modeler/export_mesh.h"

namespace modeler {
namespace {

namespace fs = std::filesystem;

constexpr int kFloat = TINYGLTF_COMPONENT_TYPE_FLOAT;
constexpr int kUint = TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT;

// The triangles of one surface, with vertices split wherever a point
// carries another UV or normal.
// A vertex: a point with the bits of its normal and UV.
struct VertexKey {
    uint32_t words[6];
    bool operator==(const VertexKey &other) const {
        return std::memcmp(words, other.words, sizeof words) == 0;
    }
};

struct VertexKeyHash {
    std::size_t operator()(const VertexKey &key) const {
        uint64_t h = 1469598103934665603ull;  // FNV-1a over the six words
        for (uint32_t w : key.words)
            h = (h ^ w) * 1099511628211ull;
        return static_cast<std::size_t>(h);
    }
};

// The triangles of one surface, with vertices split wherever a point
// carries another UV or normal.
struct Primitive {
    std::vector<float> positions, normals, uvs;
    std::vector<uint32_t> indices;
    std::unordered_map<VertexKey, uint32_t, VertexKeyHash> vertexOf;

    uint32_t vertex(const Point &p, const std::array<double, 3> &normal,
                    const ExportCorner &corner) {
        const float n[3] = {float(normal[0]), float(normal[1]), float(normal[2])};
        // glTF's texture origin is the image's top-left: v runs down.
        const float uv[2] = {corner.u, 1.0f - corner.v};
        VertexKey key;
        key.words[0] = corner.point;
        std::memcpy(&key.words[1], n, sizeof n);
        std::memcpy(&key.words[4], uv, sizeof uv);
        auto [it, added] = vertexOf.try_emplace(key, uint32_t(positions.size() / 3));
        if (added) {
            const auto q = toRightHanded(p);
            positions.insert(positions.end(), {float(q[0]), float(q[1]), float(q[2])});
            normals.insert(normals.end(), n, n + 3);
            uvs.insert(uvs.end(), uv, uv + 2);
        }
        return it->second;
    }
};

class ModelBuilder {
  public:
    tinygltf::Model model;
    std::vector<unsigned char> &data() { return model.buffers[0].data; }

    ModelBuilder() { model.buffers.emplace_back(); }

    int view(const void *bytes, std::size_t size, int target) {
        while (data().size() % 4)
            data().push_back(0);
        tinygltf::BufferView v;
        v.buffer = 0;
        v.byteOffset = data().size();
        v.byteLength = size;
        v.target = target;
        const auto *begin = static_cast<const unsigned char *>(bytes);
        data().insert(data().end(), begin, begin + size);
        model.bufferViews.push_back(v);
        return int(model.bufferViews.size() - 1);
    }

    int accessor(const std::vector<float> &values, int components, int type, bool bounds) {
        tinygltf::Accessor a;
        a.bufferView =
            view(values.data(), values.size() * sizeof(float), TINYGLTF_TARGET_ARRAY_BUFFER);
        a.componentType = kFloat;
        a.count = values.size() / components;
        a.type = type;
        if (bounds) {
            a.minValues.assign(components, DBL_MAX);
            a.maxValues.assign(components, -DBL_MAX);
            for (std::size_t i = 0; i < values.size(); ++i) {
                a.minValues[i % components] =
                    std::min<double>(a.minValues[i % components], values[i]);
                a.maxValues[i % components] =
                    std::max<double>(a.maxValues[i % components], values[i]);
            }
        }
        model.accessors.push_back(a);
        return int(model.accessors.size() - 1);
    }

    int indices(const std::vector<uint32_t> &values) {
        tinygltf::Accessor a;
        a.bufferView = view(values.data(), values.size() * 4, TINYGLTF_TARGET_ELEMENT_ARRAY_BUFFER);
        a.componentType = kUint;
        a.count = values.size();
        a.type = TINYGLTF_TYPE_SCALAR;
        model.accessors.push_back(a);
        return int(model.accessors.size() - 1);
    }
};

tinygltf::Material material(const std::string &name, int texture) {
    tinygltf::Material m;
    m.name = name;
    auto &pbr = m.pbrMetallicRoughness;
    pbr.metallicFactor = 0;
    pbr.roughnessFactor = 0.85;
    if (texture >= 0) {
        pbr.baseColorTexture.index = texture;
    } else if (name == "bookpages") {
        pbr.baseColorFactor = {0.93, 0.9, 0.82, 1};  // paper
    } else {
        pbr.baseColorFactor = {0.45, 0.42, 0.4, 1};  // a plain cover
    }
    return m;
}

// Removes the files it holds unless released: a failed export leaves none
// of the files it added beside the main one.
struct CompanionFiles {
    std::vector<std::string> written;
    bool keep = false;
    ~CompanionFiles() {
        if (keep) return;
        for (const std::string &file : written)
            std::remove(file.c_str());
    }
};

}  // namespace

std::optional<std::string> writeGltf(Scene &scene, const std::string &path, bool binary) {
    const Layer &layer = scene.layer();
    const auto &surfaces = scene.surfaces();
    std::map<uint32_t, Primitive> primitives;  // by surface, in surface order
    forEachExportPolygon(layer, [&](const ExportPolygon &polygon) {
        // Two-point polygons and polygons without area have no triangles.
        if (!polygon.normal) return;
        Primitive &primitive = primitives[polygon.surface];
        const auto &c = polygon.corners;
        std::vector<uint32_t> v;
        v.reserve(c.size());
        for (const ExportCorner &corner : c)
            v.push_back(primitive.vertex(layer.points()[corner.point], *polygon.normal, corner));
        for (std::size_t i = 1; i + 1 < v.size(); ++i) {
            primitive.indices.insert(primitive.indices.end(), {v[0], v[i], v[i + 1]});
        }
    });

    ModelBuilder builder;
    tinygltf::Model &model = builder.model;
    model.asset.version = "2.0";
    model.asset.generator = "varlobooks modeler";
    const fs::path target(path);
    const std::string stem = target.stem().string();
    std::vector<std::pair<std::string, std::vector<unsigned char>>> imageFiles;
    std::map<const Image *, int> textureOf;

    auto textureFor = [&](const Image *image) -> std::optional<int> {
        auto found = textureOf.find(image);
        if (found != textureOf.end()) return found->second;
        auto bytes = imageBytes(*image);
        if (!bytes) return std::nullopt;
        tinygltf::Image gltfImage;
        gltfImage.name = fs::path(image->path).stem().string();
        if (binary) {
            gltfImage.bufferView = builder.view(bytes->bytes.data(), bytes->bytes.size(), 0);
            gltfImage.mimeType = bytes->mimeType;
        } else {
            gltfImage.uri =
                stem + "_image" + std::to_string(model.images.size()) + bytes->extension;
            imageFiles.emplace_back(gltfImage.uri, std::move(bytes->bytes));
        }
        model.images.push_back(gltfImage);
        if (model.samplers.empty()) {
            tinygltf::Sampler sampler;
            sampler.magFilter = TINYGLTF_TEXTURE_FILTER_LINEAR;
            sampler.minFilter = TINYGLTF_TEXTURE_FILTER_LINEAR_MIPMAP_LINEAR;
            model.samplers.push_back(sampler);
        }
        tinygltf::Texture texture;
        texture.source = int(model.images.size() - 1);
        texture.sampler = 0;
        model.textures.push_back(texture);
        return textureOf[image] = int(model.textures.size() - 1);
    };

    tinygltf::Mesh mesh;
    mesh.name = scene.objectName();
    for (auto &[surface, primitive] : primitives) {
        if (primitive.indices.empty()) continue;
        int texture = -1;
        if (const Image *image = baseColorImage(*surfaces[surface])) {
            texture = textureFor(image).value_or(-1);
        }
        model.materials.push_back(material(layer.surfaceNames()[surface], texture));
        tinygltf::Primitive p;
        p.mode = TINYGLTF_MODE_TRIANGLES;
        p.material = int(model.materials.size() - 1);
        p.attributes["POSITION"] =
            builder.accessor(primitive.positions, 3, TINYGLTF_TYPE_VEC3, true);
        p.attributes["NORMAL"] = builder.accessor(primitive.normals, 3, TINYGLTF_TYPE_VEC3, false);
        p.attributes["TEXCOORD_0"] = builder.accessor(primitive.uvs, 2, TINYGLTF_TYPE_VEC2, false);
        p.indices = builder.indices(primitive.indices);
        mesh.primitives.push_back(p);
    }
    tinygltf::Scene gltfScene;
    if (!mesh.primitives.empty()) {
        model.meshes.push_back(mesh);
        tinygltf::Node node;
        node.name = scene.objectName();
        node.mesh = 0;
        model.nodes.push_back(node);
        gltfScene.nodes.push_back(0);
    }
    model.scenes.push_back(gltfScene);
    model.defaultScene = 0;
    if (builder.data().empty()) model.buffers.clear();
    while (!builder.data().empty() && builder.data().size() % 4)
        builder.data().push_back(0);

    tinygltf::TinyGLTF writer;
    writer.SetImageWriter(nullptr, nullptr);  // images are bytes we place ourselves
    std::ostringstream stream;
    if (!writer.WriteGltfSceneToStream(&model, stream, !binary, binary)) {
        return path + ": the glTF writer failed";
    }
    CompanionFiles companions;
    std::string text = stream.str();
    if (!binary) {
        // The buffer goes to a .bin file beside the .gltf instead of inline.
        const fs::path folder = target.parent_path();
        if (!model.buffers.empty()) {
            nlohmann::json json = nlohmann::json::parse(text);
            const std::string binName = stem + ".bin";
            json["buffers"][0]["uri"] = binName;
            text = json.dump(2) + "\n";
            const auto &data = model.buffers[0].data;
            const std::string binPath = (folder / binName).string();
            if (auto error = writeFileAtomically(
                    binPath, {reinterpret_cast<const char *>(data.data()), data.size()})) {
                return error;
            }
            companions.written.push_back(binPath);
        }
        for (const auto &[name, bytes] : imageFiles) {
            const std::string imagePath = (folder / name).string();
            if (auto error = writeFileAtomically(
                    imagePath, {reinterpret_cast<const char *>(bytes.data()), bytes.size()})) {
                return error;
            }
            companions.written.push_back(imagePath);
        }
    }
    if (auto error = writeFileAtomically(path, text)) return error;
    companions.keep = true;
    return std::nullopt;
}

}  // namespace modeler
