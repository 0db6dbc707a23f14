#include "modeler/export/gltf_export.h"

#include <algorithm>
#include <array>
#include <cfloat>
#include <charconv>
#include <cstring>
#include <filesystem>

#include "modeler/export/asset_model.h"
#include "modeler/export/json_writer.h"

namespace modeler {
namespace {

namespace fs = std::filesystem;

constexpr int kFloat = 5126;
constexpr int kUshort = 5123;
constexpr int kUint = 5125;
constexpr int kArrayBuffer = 34962;
constexpr int kElementArrayBuffer = 34963;
constexpr int kLinear = 9729;
constexpr int kLinearMipmapLinear = 9987;
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

struct Accessor {
    const ViewData *data;
    std::size_t byteOffset;
    int componentType;
    std::size_t count;
    const char *type;
    bool bounded = false;  // positions carry their bounds
    std::array<double, 3> min{}, max{};
};

struct BufferView {
    std::size_t byteOffset, byteLength;
    int stride, target;
    const unsigned char *bytes;
};

struct Primitive {
    int position, normal, uv;  // uv -1: the material reads no texture
    int indices;
    std::size_t material;
};

struct Node {
    std::string_view name;
    int mesh = -1;
    bool root = false;  // the object's node: the other nodes are its children
};

// The glTF document of an asset model, collected as plain records and
// written as JSON text in one pass; the buffer's views stay where they
// were made until the file is written.
class GltfBuilder {
  public:
    GltfBuilder(const AssetModel &asset, bool binary, std::string stem)
        : asset_(asset), binary_(binary), stem_(std::move(stem)) {
        positions_.stride = normals_.stride = 12;
        uvs_.stride = 8;
        positions_.target = normals_.target = uvs_.target = kArrayBuffer;
        shortIndices_.target = longIndices_.target = kElementArrayBuffer;
    }

    // Images named as files beside a .gltf; embedded in a .glb.
    std::vector<std::pair<std::string, const std::vector<unsigned char> *>> imageFiles;

    void build(bool merged) {
        // Each view sized once: a large model's vertex data is most of the
        // work, and growing it step by step would copy it again and again.
        std::size_t vertices = 0, indices = 0;
        for (const AssetMesh &mesh : asset_.meshes) {
            vertices += mesh.vertexCount();
            for (const AssetPrimitive &primitive : mesh.primitives)
                indices += primitive.indices.size();
        }
        positions_.bytes.reserve(12 * vertices);
        normals_.bytes.reserve(12 * vertices);
        uvs_.bytes.reserve(8 * vertices);
        shortIndices_.bytes.reserve(2 * indices);
        addMaterials();
        shareVertices();
        meshStart_.push_back(0);
        for (std::size_t m = 0; m < asset_.meshes.size(); ++m) {
            addMesh(asset_.meshes[m], m);
            if (!merged) nodes_.push_back({asset_.meshes[m].name, int(m)});
        }
        if (!asset_.meshes.empty()) {
            nodes_.push_back({asset_.name, merged ? int(asset_.meshes.size() - 1) : -1, true});
        }
        placeViews();
    }

    // The buffer's bytes: every view in order, each starting on four bytes.
    std::size_t bufferLength() const { return bufferLength_; }
    template <typename Write>
    void writeBuffer(Write &&write) const {
        static constexpr char kZeros[4] = {};
        std::size_t at = 0;
        for (const BufferView &view : views_) {
            write(std::string_view(kZeros, view.byteOffset - at));
            write(std::string_view(reinterpret_cast<const char *>(view.bytes), view.byteLength));
            at = view.byteOffset + view.byteLength;
        }
        write(std::string_view(kZeros, bufferLength_ - at));
    }

    // The document; a .gltf names its buffer binUri.
    std::string json(int indent, const std::string &binUri) const {
        JsonWriter out(indent);
        out.beginObject();
        writeAccessors(out);
        out.key("asset").beginObject();
        out.key("generator").value("varlobooks modeler " VARLOBOOKS_VERSION);
        out.key("version").value("2.0").endObject();
        writeViews(out, binUri);
        writeImages(out);
        writeMaterials(out);
        writeMeshes(out);
        writeNodes(out);
        if (imageCount_) {
            // Covers end at their edges: clamped, so that no opposite edge
            // bleeds into a small cover.
            out.key("samplers").beginArray().beginObject();
            out.key("magFilter").value(kLinear).key("minFilter").value(kLinearMipmapLinear);
            out.key("wrapS").value(kClampToEdge).key("wrapT").value(kClampToEdge);
            out.endObject().endArray();
        }
        // Named, so that even an empty scene is written as an object.
        out.key("scene").value(0);
        out.key("scenes").beginArray().beginObject().key("name").value("Scene");
        if (!nodes_.empty()) out.key("nodes").beginArray().value(nodes_.size() - 1).endArray();
        out.endObject().endArray();
        if (imageCount_) {
            out.key("textures").beginArray();
            for (std::size_t t = 0; t < imageCount_; ++t) {
                out.beginObject().key("sampler").value(0).key("source").value(t).endObject();
            }
            out.endArray();
        }
        out.endObject();
        return out.take();
    }

  private:
    void addMaterials() {
        textureOf_.assign(asset_.images.size(), -1);
        for (const AssetMaterial &material : asset_.materials) {
            if (!material.image) continue;
            int &texture = textureOf_[*material.image];
            if (texture >= 0) continue;
            texture = int(imageCount_++);
            const AssetImage &image = asset_.images[*material.image];
            images_.push_back(&image);
            if (!binary_) {
                std::string name = stem_;
                name.append("_image").append(std::to_string(texture)).append(image.bytes.extension);
                imageFiles.emplace_back(std::move(name), &image.bytes.bytes);
            }
        }
    }

    int accessor(ViewData &view, std::size_t offset, int componentType, std::size_t count,
                 const char *type) {
        accessors_.push_back({&view, offset, componentType, count, type});
        return int(accessors_.size() - 1);
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
                     vertices, "VEC3");
        std::array<float, 3> low{FLT_MAX, FLT_MAX, FLT_MAX}, high{-FLT_MAX, -FLT_MAX, -FLT_MAX};
        for (std::size_t i = 0; i < positions.size(); i += 3) {
            for (int c = 0; c < 3; ++c) {
                low[c] = std::min(low[c], positions[i + c]);
                high[c] = std::max(high[c], positions[i + c]);
            }
        }
        Accessor &bounds = accessors_[out.position];
        bounds.bounded = true;
        for (int c = 0; c < 3; ++c) {
            bounds.min[c] = shortDouble(low[c]);
            bounds.max[c] = shortDouble(high[c]);
        }
        out.normal = accessor(normals_, normals_.append(normals.data(), normals.size() * 4), kFloat,
                              vertices, "VEC3");
        // glTF's texture origin is the image's top-left: v runs down.
        const std::size_t offset = uvs_.bytes.size();
        uvs_.bytes.resize(offset + uvsUp.size() * 4);
        auto *uvs = reinterpret_cast<float *>(uvs_.bytes.data() + offset);
        for (std::size_t i = 0; i < uvsUp.size(); i += 2) {
            uvs[i] = uvsUp[i];
            uvs[i + 1] = 1.0f - uvsUp[i + 1];
        }
        out.uv = accessor(uvs_, offset, kFloat, vertices, "VEC2");
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

    template <typename Index>
    int indexAccessor(ViewData &view, const std::vector<uint32_t> &indices, uint32_t first,
                      int componentType) {
        const std::size_t offset = view.bytes.size();
        view.bytes.resize(offset + indices.size() * sizeof(Index));
        auto *out = reinterpret_cast<Index *>(view.bytes.data() + offset);
        for (std::size_t i = 0; i < indices.size(); ++i)
            out[i] = Index(first + indices[i]);
        return accessor(view, offset, componentType, indices.size(), "SCALAR");
    }

    // The node carries the name: loaders name the object from it.
    void addMesh(const AssetMesh &mesh, std::size_t index) {
        const uint32_t first = shared_ ? firstVertex_[index] : 0;
        const VertexAccessors vertices =
            shared_ ? *shared_ : vertexAccessors(mesh.positions, mesh.normals, mesh.uvs);
        const std::size_t highest = first + mesh.vertexCount();
        for (const AssetPrimitive &primitive : mesh.primitives) {
            Primitive p{vertices.position, vertices.normal, -1, 0, primitive.material};
            // UVs only where a texture reads them.
            if (asset_.materials[primitive.material].image) p.uv = vertices.uv;
            p.indices =
                highest <= 65536
                    ? indexAccessor<uint16_t>(shortIndices_, primitive.indices, first, kUshort)
                    : indexAccessor<uint32_t>(longIndices_, primitive.indices, first, kUint);
            primitives_.push_back(p);
        }
        meshStart_.push_back(primitives_.size());
    }

    // Lays the views out in the one buffer, each on four bytes: the vertex
    // and index data, then the embedded images.
    void placeViews() {
        auto place = [this](const unsigned char *bytes, std::size_t size, int stride, int target) {
            const std::size_t offset = (bufferLength_ + 3) & ~std::size_t(3);
            views_.push_back({offset, size, stride, target, bytes});
            bufferLength_ = offset + size;
            return int(views_.size() - 1);
        };
        for (ViewData *view : {&positions_, &normals_, &uvs_, &shortIndices_, &longIndices_}) {
            if (!view->bytes.empty())
                view->view =
                    place(view->bytes.data(), view->bytes.size(), view->stride, view->target);
        }
        if (binary_) {
            for (const AssetImage *image : images_)
                imageView_.push_back(
                    place(image->bytes.bytes.data(), image->bytes.bytes.size(), 0, 0));
        }
        bufferLength_ = (bufferLength_ + 3) & ~std::size_t(3);
    }

    void writeAccessors(JsonWriter &out) const {
        if (accessors_.empty()) return;
        out.key("accessors").beginArray();
        for (const Accessor &a : accessors_) {
            out.beginObject().key("bufferView").value(a.data->view);
            if (a.byteOffset) out.key("byteOffset").value(a.byteOffset);
            out.key("componentType").value(a.componentType).key("count").value(a.count);
            if (a.bounded) {
                out.key("max").beginArray();
                for (double v : a.max)
                    out.value(v);
                out.endArray().key("min").beginArray();
                for (double v : a.min)
                    out.value(v);
                out.endArray();
            }
            out.key("type").value(a.type).endObject();
        }
        out.endArray();
    }

    void writeViews(JsonWriter &out, const std::string &binUri) const {
        if (views_.empty()) return;
        out.key("bufferViews").beginArray();
        for (const BufferView &v : views_) {
            out.beginObject().key("buffer").value(0).key("byteLength").value(v.byteLength);
            if (v.byteOffset) out.key("byteOffset").value(v.byteOffset);
            if (v.stride) out.key("byteStride").value(v.stride);
            if (v.target) out.key("target").value(v.target);
            out.endObject();
        }
        out.endArray();
        out.key("buffers").beginArray().beginObject().key("byteLength").value(bufferLength_);
        if (!binUri.empty()) out.key("uri").value(binUri);
        out.endObject().endArray();
    }

    void writeImages(JsonWriter &out) const {
        if (images_.empty()) return;
        out.key("images").beginArray();
        for (std::size_t i = 0; i < images_.size(); ++i) {
            out.beginObject();
            if (binary_) {
                out.key("bufferView").value(imageView_[i]);
                out.key("mimeType").value(images_[i]->bytes.mimeType);
            } else {
                out.key("uri").value(imageFiles[i].first);
            }
            out.endObject();
        }
        out.endArray();
    }

    void writeMaterials(JsonWriter &out) const {
        if (asset_.materials.empty()) return;
        out.key("materials").beginArray();
        for (const AssetMaterial &material : asset_.materials) {
            out.beginObject();
            if (!material.name.empty()) out.key("name").value(material.name);
            out.key("pbrMetallicRoughness").beginObject();
            if (material.image) {
                out.key("baseColorTexture").beginObject();
                out.key("index").value(textureOf_[*material.image]).endObject();
            } else if (material.colour != std::array<double, 3>{1, 1, 1}) {
                out.key("baseColorFactor").beginArray();
                for (double c : material.colour)
                    out.value(c);
                out.value(1.0).endArray();
            }
            out.key("metallicFactor").value(0.0).key("roughnessFactor").value(kRoughness);
            out.endObject().endObject();
        }
        out.endArray();
    }

    void writeMeshes(JsonWriter &out) const {
        if (meshStart_.size() < 2) return;
        out.key("meshes").beginArray();
        for (std::size_t m = 0; m + 1 < meshStart_.size(); ++m) {
            out.beginObject().key("primitives").beginArray();
            for (std::size_t i = meshStart_[m]; i < meshStart_[m + 1]; ++i) {
                const Primitive &p = primitives_[i];
                out.beginObject().key("attributes").beginObject();
                out.key("NORMAL").value(p.normal).key("POSITION").value(p.position);
                if (p.uv >= 0) out.key("TEXCOORD_0").value(p.uv);
                out.endObject();
                out.key("indices").value(p.indices).key("material").value(p.material);
                out.endObject();
            }
            out.endArray().endObject();
        }
        out.endArray();
    }

    void writeNodes(JsonWriter &out) const {
        if (nodes_.empty()) return;
        out.key("nodes").beginArray();
        for (const Node &node : nodes_) {
            out.beginObject();
            if (node.root && node.mesh < 0) {
                out.key("children").beginArray();
                for (std::size_t child = 0; child + 1 < nodes_.size(); ++child)
                    out.value(child);
                out.endArray();
            }
            if (node.mesh >= 0) out.key("mesh").value(node.mesh);
            if (!node.name.empty()) out.key("name").value(node.name);
            out.endObject();
        }
        out.endArray();
    }

    const AssetModel &asset_;
    bool binary_;
    std::string stem_;
    ViewData positions_, normals_, uvs_, shortIndices_, longIndices_;
    std::vector<Accessor> accessors_;
    std::vector<Primitive> primitives_;
    std::vector<std::size_t> meshStart_;  // each mesh's first primitive, and the end
    std::vector<Node> nodes_;
    std::vector<BufferView> views_;
    std::size_t bufferLength_ = 0;
    std::vector<int> textureOf_;  // per asset image, its texture (and image) index
    std::size_t imageCount_ = 0;
    std::vector<const AssetImage *> images_;
    std::vector<int> imageView_;
    std::optional<VertexAccessors> shared_;
    std::vector<uint32_t> firstVertex_;  // of each mesh in the shared run
};

void append32(std::string &out, uint32_t value) {
    out.append(reinterpret_cast<const char *>(&value), 4);
}

// A .glb: the header, the JSON chunk (padded with spaces) and the binary
// chunk (padded with zeros), written straight into the file.
std::optional<std::string> writeGlb(const GltfBuilder &out, const std::string &path,
                                    StagedFiles &files) {
    std::string json = out.json(0, "");
    while (json.size() % 4)
        json.push_back(' ');
    const std::size_t binary = out.bufferLength();
    const std::size_t total = 12 + 8 + json.size() + (binary ? 8 + binary : 0);
    if (total > UINT32_MAX)
        return std::string(path).append(": too large for a .glb (4 GB at most)");
    std::string head;
    append32(head, 0x46546C67u);  // "glTF"
    append32(head, 2);
    append32(head, uint32_t(total));
    append32(head, uint32_t(json.size()));
    append32(head, 0x4E4F534Au);  // "JSON"
    AtomicFile &file = files.add(path);
    if (file.error()) return file.error();
    file.write(head);
    file.write(json);
    if (binary) {
        head.clear();
        append32(head, uint32_t(binary));
        append32(head, 0x004E4942u);  // "BIN"
        file.write(head);
        out.writeBuffer([&file](std::string_view bytes) { file.write(bytes); });
    }
    return file.error();
}

// A .gltf with its companions beside it: the buffer as a .bin and the
// images.
std::optional<std::string> writeGltfText(const GltfBuilder &out, const std::string &path,
                                         StagedFiles &files) {
    const fs::path target(path);
    const fs::path folder = target.parent_path();
    std::string binName;
    if (out.bufferLength()) {
        binName = target.stem().string();
        binName.append(".bin");
        AtomicFile &bin = files.add((folder / binName).string());
        if (bin.error()) return bin.error();
        out.writeBuffer([&bin](std::string_view bytes) { bin.write(bytes); });
        if (bin.error()) return bin.error();
    }
    for (const auto &[name, bytes] : out.imageFiles) {
        if (auto error =
                files.stage((folder / name).string(),
                            {reinterpret_cast<const char *>(bytes->data()), bytes->size()})) {
            return error;
        }
    }
    std::string json = out.json(2, binName);
    json.push_back('\n');
    return files.stage(path, json);
}

}  // namespace

std::optional<std::string> writeGltf(const AssetModel &asset, const std::string &path, bool binary,
                                     bool merged, StagedFiles &files) {
    GltfBuilder out(asset, binary, fs::path(path).stem().string());
    out.build(merged);
    return binary ? writeGlb(out, path, files) : writeGltfText(out, path, files);
}

}  // namespace modeler
