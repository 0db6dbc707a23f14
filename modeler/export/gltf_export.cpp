#include "modeler/export/gltf_export.h"

#include <tiny_gltf.h>

#include <cfloat>
#include <cstring>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <unordered_map>

#include "modeler/export/export_mesh.h"
#include "modeler/plugin_profile.h"

namespace modeler {
namespace {

namespace fs = std::filesystem;

constexpr int kFloat = TINYGLTF_COMPONENT_TYPE_FLOAT;
constexpr int kUint = TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT;

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
    } else {
        const auto &colour =
            name == profile::kPagesSurface ? profile::kPagesColour : profile::kPlainColour;
        pbr.baseColorFactor = {colour[0], colour[1], colour[2], 1};
    }
    return m;
}

// The triangles of every surface, in surface order.
std::map<uint32_t, Primitive> collectPrimitives(const Layer &layer) {
    std::map<uint32_t, Primitive> primitives;
    std::vector<uint32_t> v;
    forEachExportPolygon(layer, [&](const ExportPolygon &polygon) {
        // Two-point polygons and polygons without area have no triangles.
        if (!polygon.normal) return;
        Primitive &primitive = primitives[polygon.surface];
        v.clear();
        for (const ExportCorner &corner : polygon.corners)
            v.push_back(primitive.vertex(layer.points()[corner.point], *polygon.normal, corner));
        for (std::size_t i = 1; i + 1 < v.size(); ++i) {
            primitive.indices.insert(primitive.indices.end(), {v[0], v[i], v[i + 1]});
        }
    });
    return primitives;
}

// The model of a scene: its images embedded (binary) or named as files
// beside the .gltf (text), which imageFiles then holds.
class SceneModel {
  public:
    SceneModel(bool binary, std::string stem) : binary_(binary), stem_(std::move(stem)) {}

    ModelBuilder builder;
    std::vector<std::pair<std::string, std::vector<unsigned char>>> imageFiles;

    // The texture of image, made on its first use; nullopt when its bytes
    // cannot be had.
    std::optional<int> textureFor(const Image *image) {
        tinygltf::Model &model = builder.model;
        auto found = textureOf_.find(image);
        if (found != textureOf_.end()) return found->second;
        auto bytes = imageBytes(*image);
        if (!bytes) return std::nullopt;
        tinygltf::Image gltfImage;
        gltfImage.name = fs::path(image->path).stem().string();
        if (binary_) {
            gltfImage.bufferView = builder.view(bytes->bytes.data(), bytes->bytes.size(), 0);
            gltfImage.mimeType = bytes->mimeType;
        } else {
            gltfImage.uri =
                stem_ + "_image" + std::to_string(model.images.size()) + bytes->extension;
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
        return textureOf_[image] = int(model.textures.size() - 1);
    }

    tinygltf::Primitive primitive(const Primitive &triangles, int material) {
        tinygltf::Primitive p;
        p.mode = TINYGLTF_MODE_TRIANGLES;
        p.material = material;
        p.attributes["POSITION"] =
            builder.accessor(triangles.positions, 3, TINYGLTF_TYPE_VEC3, true);
        p.attributes["NORMAL"] = builder.accessor(triangles.normals, 3, TINYGLTF_TYPE_VEC3, false);
        p.attributes["TEXCOORD_0"] = builder.accessor(triangles.uvs, 2, TINYGLTF_TYPE_VEC2, false);
        p.indices = builder.indices(triangles.indices);
        return p;
    }

  private:
    bool binary_;
    std::string stem_;
    std::map<const Image *, int> textureOf_;
};

// One mesh and node for the object, a primitive and material per surface.
void addObject(SceneModel &out, const Scene &scene) {
    tinygltf::Model &model = out.builder.model;
    model.asset.version = "2.0";
    model.asset.generator = "varlobooks modeler";
    tinygltf::Mesh mesh;
    mesh.name = scene.objectName();
    for (const auto &[surface, triangles] : collectPrimitives(scene.layer())) {
        if (triangles.indices.empty()) continue;
        int texture = -1;
        if (const Image *image = baseColorImage(*scene.surfaces()[surface])) {
            texture = out.textureFor(image).value_or(-1);
        }
        model.materials.push_back(material(scene.layer().surfaceNames()[surface], texture));
        mesh.primitives.push_back(out.primitive(triangles, int(model.materials.size() - 1)));
    }
    // Named after the object, so that even an empty scene is written as an
    // object and not as null.
    tinygltf::Scene gltfScene;
    gltfScene.name = scene.objectName();
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
    auto &data = out.builder.data();
    if (data.empty()) model.buffers.clear();
    while (!data.empty() && data.size() % 4)
        data.push_back(0);
}

// The .gltf's companions: the buffer as a .bin (the text then names it
// instead of holding it inline) and the images, all beside it.
std::optional<std::string> stageCompanions(SceneModel &out, std::string &text,
                                           const fs::path &target, StagedFiles &files) {
    const tinygltf::Model &model = out.builder.model;
    const fs::path folder = target.parent_path();
    const std::string stem = target.stem().string();
    if (!model.buffers.empty()) {
        nlohmann::json json = nlohmann::json::parse(text);
        const std::string binName = stem + ".bin";
        json["buffers"][0]["uri"] = binName;
        text = json.dump(2) + "\n";
        const auto &data = model.buffers[0].data;
        if (auto error = files.stage((folder / binName).string(),
                                     {reinterpret_cast<const char *>(data.data()), data.size()})) {
            return error;
        }
    }
    for (const auto &[name, bytes] : out.imageFiles) {
        if (auto error =
                files.stage((folder / name).string(),
                            {reinterpret_cast<const char *>(bytes.data()), bytes.size()})) {
            return error;
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> writeGltf(const Scene &scene, const std::string &path, bool binary,
                                     StagedFiles &files) {
    const fs::path target(path);
    SceneModel out(binary, target.stem().string());
    addObject(out, scene);

    tinygltf::TinyGLTF writer;
    writer.SetImageWriter(nullptr, nullptr);  // images are bytes we place ourselves
    std::ostringstream stream;
    if (!writer.WriteGltfSceneToStream(&out.builder.model, stream, !binary, binary)) {
        return path + ": the glTF writer failed";
    }
    std::string text = stream.str();
    if (!binary) {
        if (auto error = stageCompanions(out, text, target, files)) return error;
    }
    return files.stage(path, text);
}

}  // namespace modeler
