#include "modeler/export/gltf_export.h"

#include <tiny_gltf.h>

#include <cfloat>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>

#include "modeler/export/asset_model.h"

namespace modeler {
namespace {

namespace fs = std::filesystem;

constexpr int kFloat = TINYGLTF_COMPONENT_TYPE_FLOAT;
constexpr int kUshort = TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT;
constexpr int kUint = TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT;
constexpr int kClampToEdge = 33071;

// One growing byte array per kind of data, each becoming one buffer view:
// every mesh's positions in one, normals in another, and so on.
struct ViewData {
    std::vector<unsigned char> bytes;
    int stride = 0;  // for vertex attributes
    int target = 0;
    int view = -1;  // the buffer view, once placed

    std::size_t append(const void *data, std::size_t size) {
        const std::size_t offset = bytes.size();
        const auto *begin = static_cast<const unsigned char *>(data);
        bytes.insert(bytes.end(), begin, begin + size);
        return offset;
    }
};

class GltfBuilder {
  public:
    tinygltf::Model model;

    GltfBuilder(const AssetModel &asset, bool binary, std::string stem)
        : asset_(asset), binary_(binary), stem_(std::move(stem)) {
        positions_.stride = normals_.stride = 12;
        uvs_.stride = 8;
        positions_.target = normals_.target = uvs_.target = TINYGLTF_TARGET_ARRAY_BUFFER;
        shortIndices_.target = longIndices_.target = TINYGLTF_TARGET_ELEMENT_ARRAY_BUFFER;
    }

    // Images named as files beside a .gltf; embedded in a .glb.
    std::vector<std::pair<std::string, const std::vector<unsigned char> *>> imageFiles;

    void build(bool merged) {
        model.asset.version = "2.0";
        model.asset.generator = std::string("varlobooks modeler ") + VARLOBOOKS_VERSION;
        addMaterials();
        shareVertices();
        tinygltf::Node root;
        root.name = asset_.name;
        for (std::size_t m = 0; m < asset_.meshes.size(); ++m) {
            const AssetMesh &mesh = asset_.meshes[m];
            model.meshes.push_back(meshOf(mesh, m));
            const int index = int(model.meshes.size() - 1);
            if (merged) {
                root.mesh = index;
            } else {
                tinygltf::Node node;
                node.name = mesh.name;
                node.mesh = index;
                model.nodes.push_back(node);
                root.children.push_back(int(model.nodes.size() - 1));
            }
        }
        // Named, so that even an empty scene is written as an object and not
        // as null; not after the object, whose root node has that name.
        tinygltf::Scene scene;
        scene.name = "Scene";
        if (!asset_.meshes.empty()) {
            model.nodes.push_back(root);
            scene.nodes.push_back(int(model.nodes.size() - 1));
        }
        model.scenes.push_back(scene);
        model.defaultScene = 0;
        placeViews();
    }

  private:
    void addMaterials() {
        std::vector<int> textureOf(asset_.images.size(), -1);
        for (const AssetMaterial &material : asset_.materials) {
            tinygltf::Material m;
            m.name = material.name;
            auto &pbr = m.pbrMetallicRoughness;
            pbr.metallicFactor = 0;
            pbr.roughnessFactor = kRoughness;
            if (material.image) {
                int &texture = textureOf[*material.image];
                if (texture < 0) texture = addTexture(asset_.images[*material.image]);
                pbr.baseColorTexture.index = texture;
            } else {
                pbr.baseColorFactor = {material.colour[0], material.colour[1], material.colour[2],
                                       1};
            }
            model.materials.push_back(m);
        }
    }

    int addTexture(const AssetImage &image) {
        tinygltf::Image gltfImage;  // named through its material
        if (binary_) {
            gltfImage.bufferView = -2 - int(images_.size());  // placed with the other views
            gltfImage.mimeType = image.bytes.mimeType;
            images_.push_back(&image.bytes.bytes);
        } else {
            gltfImage.uri =
                stem_ + "_image" + std::to_string(model.images.size()) + image.bytes.extension;
            imageFiles.emplace_back(gltfImage.uri, &image.bytes.bytes);
        }
        model.images.push_back(gltfImage);
        if (model.samplers.empty()) {
            // Covers end at their edges: clamped, so that no opposite edge
            // bleeds into a small cover.
            tinygltf::Sampler sampler;
            sampler.magFilter = TINYGLTF_TEXTURE_FILTER_LINEAR;
            sampler.minFilter = TINYGLTF_TEXTURE_FILTER_LINEAR_MIPMAP_LINEAR;
            sampler.wrapS = sampler.wrapT = kClampToEdge;
            model.samplers.push_back(sampler);
        }
        tinygltf::Texture texture;
        texture.source = int(model.images.size() - 1);
        texture.sampler = 0;
        model.textures.push_back(texture);
        return int(model.textures.size() - 1);
    }

    int accessor(ViewData &view, std::size_t offset, int componentType, std::size_t count,
                 int type) {
        tinygltf::Accessor a;
        a.bufferView = 0;  // the view is placed last: see placeViews
        a.byteOffset = offset;
        a.componentType = componentType;
        a.count = count;
        a.type = type;
        model.accessors.push_back(a);
        pendingViews_.push_back({int(model.accessors.size() - 1), &view});
        return int(model.accessors.size() - 1);
    }

    // The accessors of a run of vertices: positions (with their bounds),
    // normals and UVs.
    struct VertexAccessors {
        int position, normal, uv;
    };

    VertexAccessors vertexAccessors(const std::vector<float> &positions,
                                    const std::vector<float> &normals,
                                    const std::vector<float> &uvsUp) {
        const std::size_t vertices = positions.size() / 3;
        VertexAccessors out;
        out.position =
            accessor(positions_, positions_.append(positions.data(), positions.size() * 4), kFloat,
                     vertices, TINYGLTF_TYPE_VEC3);
        auto &bounds = model.accessors[out.position];
        std::array<float, 3> low{FLT_MAX, FLT_MAX, FLT_MAX}, high{-FLT_MAX, -FLT_MAX, -FLT_MAX};
        for (std::size_t i = 0; i < positions.size(); ++i) {
            low[i % 3] = std::min(low[i % 3], positions[i]);
            high[i % 3] = std::max(high[i % 3], positions[i]);
        }
        for (int c = 0; c < 3; ++c) {
            bounds.minValues.push_back(shortDouble(low[c]));
            bounds.maxValues.push_back(shortDouble(high[c]));
        }
        out.normal = accessor(normals_, normals_.append(normals.data(), normals.size() * 4), kFloat,
                              vertices, TINYGLTF_TYPE_VEC3);
        // glTF's texture origin is the image's top-left: v runs down.
        std::vector<float> uvs = uvsUp;
        for (std::size_t i = 1; i < uvs.size(); i += 2)
            uvs[i] = 1.0f - uvs[i];
        out.uv = accessor(uvs_, uvs_.append(uvs.data(), uvs.size() * 4), kFloat, vertices,
                          TINYGLTF_TYPE_VEC2);
        return out;
    }

    // A float as the double with the shortest text that reads back to it:
    // the bounds say the same in far fewer digits.
    static double shortDouble(float value) {
        char text[32];
        auto [end, ec] = std::to_chars(text, text + sizeof text, value);
        double result = value;
        std::from_chars(text, end, result);
        return result;
    }

    // Small models share one run of vertices among all meshes, each mesh's
    // triangles indexing into it: a few accessors instead of three a mesh.
    // Large ones keep a run per mesh, so that 16-bit indices still serve.
    void shareVertices() {
        std::size_t total = 0;
        for (const AssetMesh &mesh : asset_.meshes)
            total += mesh.vertexCount();
        if (total >= 65536 || asset_.meshes.size() < 2) return;
        std::vector<float> positions, normals, uvs;
        for (const AssetMesh &mesh : asset_.meshes) {
            firstVertex_.push_back(uint32_t(positions.size() / 3));
            positions.insert(positions.end(), mesh.positions.begin(), mesh.positions.end());
            normals.insert(normals.end(), mesh.normals.begin(), mesh.normals.end());
            uvs.insert(uvs.end(), mesh.uvs.begin(), mesh.uvs.end());
        }
        shared_ = vertexAccessors(positions, normals, uvs);
    }

    tinygltf::Mesh meshOf(const AssetMesh &mesh, std::size_t index) {
        // The node carries the name: loaders name the object from it.
        tinygltf::Mesh out;
        const uint32_t first = shared_ ? firstVertex_[index] : 0;
        const VertexAccessors vertices =
            shared_ ? *shared_ : vertexAccessors(mesh.positions, mesh.normals, mesh.uvs);
        const std::size_t highest = first + mesh.vertexCount();
        for (const AssetPrimitive &primitive : mesh.primitives) {
            tinygltf::Primitive p;
            p.material = int(primitive.material);
            p.attributes["POSITION"] = vertices.position;
            p.attributes["NORMAL"] = vertices.normal;
            p.mode = TINYGLTF_MODE_TRIANGLES;
            // UVs only where a texture reads them.
            if (asset_.materials[primitive.material].image)
                p.attributes["TEXCOORD_0"] = vertices.uv;
            if (highest <= 65536) {
                std::vector<uint16_t> narrow;
                narrow.reserve(primitive.indices.size());
                for (uint32_t i : primitive.indices)
                    narrow.push_back(uint16_t(first + i));
                p.indices =
                    accessor(shortIndices_, shortIndices_.append(narrow.data(), narrow.size() * 2),
                             kUshort, narrow.size(), TINYGLTF_TYPE_SCALAR);
            } else {
                std::vector<uint32_t> wide;
                wide.reserve(primitive.indices.size());
                for (uint32_t i : primitive.indices)
                    wide.push_back(first + i);
                p.indices =
                    accessor(longIndices_, longIndices_.append(wide.data(), wide.size() * 4), kUint,
                             wide.size(), TINYGLTF_TYPE_SCALAR);
            }
            out.primitives.push_back(p);
        }
        return out;
    }

    // Lays the views out in the one buffer and points the accessors and
    // embedded images at them.
    void placeViews() {
        model.buffers.emplace_back();
        auto &data = model.buffers[0].data;
        auto place = [&](const std::vector<unsigned char> &bytes, int stride, int target) {
            while (data.size() % 4)
                data.push_back(0);
            tinygltf::BufferView v;
            v.buffer = 0;
            v.byteOffset = data.size();
            v.byteLength = bytes.size();
            v.byteStride = stride;
            v.target = target;
            data.insert(data.end(), bytes.begin(), bytes.end());
            model.bufferViews.push_back(v);
            return int(model.bufferViews.size() - 1);
        };
        for (ViewData *view : {&positions_, &normals_, &uvs_, &shortIndices_, &longIndices_}) {
            if (!view->bytes.empty()) view->view = place(view->bytes, view->stride, view->target);
        }
        for (const auto &[accessor, view] : pendingViews_)
            model.accessors[accessor].bufferView = view->view;
        for (std::size_t i = 0; i < images_.size(); ++i) {
            for (auto &image : model.images) {
                if (image.bufferView == -2 - int(i)) image.bufferView = place(*images_[i], 0, 0);
            }
        }
        if (data.empty()) model.buffers.clear();
        while (!data.empty() && data.size() % 4)
            data.push_back(0);
    }

    const AssetModel &asset_;
    bool binary_;
    std::string stem_;
    ViewData positions_, normals_, uvs_, shortIndices_, longIndices_;
    std::vector<std::pair<int, ViewData *>> pendingViews_;
    std::vector<const std::vector<unsigned char> *> images_;
    std::optional<VertexAccessors> shared_;
    std::vector<uint32_t> firstVertex_;  // of each mesh in the shared run
};

// Drops what says only the default: every primitive's mode is triangles.
void dropDefaults(nlohmann::json &json) {
    for (auto &mesh : json["meshes"]) {
        for (auto &primitive : mesh["primitives"]) {
            if (primitive.value("mode", -1) == TINYGLTF_MODE_TRIANGLES) primitive.erase("mode");
        }
    }
}

// A .glb of the writer's with its JSON chunk made lean: the same binary
// chunk behind it.
std::string leanGlb(const std::string &glb) {
    auto read32 = [&glb](std::size_t at) {
        uint32_t value;
        std::memcpy(&value, glb.data() + at, 4);
        return value;
    };
    const uint32_t jsonLength = read32(12);
    nlohmann::json json = nlohmann::json::parse(glb.substr(20, jsonLength));
    if (!json.contains("meshes")) return glb;
    dropDefaults(json);
    std::string text = json.dump();
    while (text.size() % 4)
        text.push_back(' ');
    const std::string rest = glb.substr(20 + jsonLength);  // the binary chunk, if any
    std::string out(12, '\0');
    auto append32 = [&out](uint32_t value) {
        out.append(reinterpret_cast<const char *>(&value), 4);
    };
    append32(uint32_t(text.size()));
    append32(0x4E4F534Au);  // "JSON"
    out += text;
    out += rest;
    const uint32_t header[3] = {0x46546C67u, 2, uint32_t(out.size())};  // "glTF", version, length
    std::memcpy(out.data(), header, sizeof header);
    return out;
}

// The .gltf's companions: the buffer as a .bin (the text then names it
// instead of holding it inline) and the images, all beside it.
std::optional<std::string> stageCompanions(const GltfBuilder &out, std::string &text,
                                           const fs::path &target, StagedFiles &files) {
    const tinygltf::Model &model = out.model;
    const fs::path folder = target.parent_path();
    const std::string stem = target.stem().string();
    if (!model.buffers.empty()) {
        nlohmann::json json = nlohmann::json::parse(text);
        const std::string binName = stem + ".bin";
        json["buffers"][0]["uri"] = binName;
        dropDefaults(json);
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
                            {reinterpret_cast<const char *>(bytes->data()), bytes->size()})) {
            return error;
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> writeGltf(const AssetModel &asset, const std::string &path, bool binary,
                                     bool merged, StagedFiles &files) {
    const fs::path target(path);
    GltfBuilder out(asset, binary, target.stem().string());
    out.build(merged);

    tinygltf::TinyGLTF writer;
    writer.SetImageWriter(nullptr, nullptr);  // images are bytes we place ourselves
    std::ostringstream stream;
    if (!writer.WriteGltfSceneToStream(&out.model, stream, !binary, binary)) {
        return path + ": the glTF writer failed";
    }
    std::string text = stream.str();
    if (binary) {
        text = leanGlb(text);
    } else if (auto error = stageCompanions(out, text, target, files)) {
        return error;
    }
    return files.stage(path, text);
}

}  // namespace modeler
