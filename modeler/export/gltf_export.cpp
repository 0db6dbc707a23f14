#include "modeler/export/gltf_export.h"

#include <algorithm>
#include <array>
#include <cfloat>
#include <charconv>
#include <cstring>
#include <filesystem>

#include "modeler/export/asset_model.h"
#include "modeler/export/chunked_text.h"
#include "modeler/export/json_writer.h"
#include "modeler/model/number_chars.h"

namespace modeler {
namespace {

// A file beside the .gltf as a relative URI (RFC 3986): every byte but the
// unreserved characters percent-encoded, so that "%", "#", "?", ":" and
// spaces in a name still name the file.
std::string uriOf(std::string_view fileName) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string uri;
    for (const char ch : fileName) {
        const auto c = static_cast<unsigned char>(ch);
        const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        if (letter || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~') {
            uri.push_back(ch);
        } else {
            uri.push_back('%');
            uri.push_back(kHex[c >> 4]);
            uri.push_back(kHex[c & 15]);
        }
    }
    return uri;
}

namespace fs = std::filesystem;

constexpr int kFloat = 5126;
constexpr int kUshort = 5123;
constexpr int kUint = 5125;
constexpr int kArrayBuffer = 34962;
constexpr int kElementArrayBuffer = 34963;
constexpr int kLinear = 9729;
constexpr int kLinearMipmapLinear = 9987;
constexpr int kClampToEdge = 33071;

// One buffer view per kind of data: every mesh's positions in one, normals
// in another, and so on. Only its length is kept: the bytes are written
// from the model when the file is, never gathered in memory.
struct ViewData {
    std::size_t length = 0;
    int stride = 0;  // for vertex attributes
    int target = 0;
    int view = -1;  // the buffer view, once placed

    std::size_t claim(std::size_t size) {
        const std::size_t offset = length;
        length += size;
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
    const ViewData *data;                     // vertex or index data
    const std::vector<unsigned char> *image;  // or an embedded image
};

struct Primitive {
    int position, normal, uv;  // uv -1: the material reads no texture
    int indices;
    std::size_t material;
};

struct Node {
    std::string_view name;
    int mesh = -1;
    bool root = false;                   // the object's node: the other nodes are its children
    std::array<float, 3> translation{};  // a book's pivot; zero for the root
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
        addMaterials();
        meshStart_.push_back(0);
        for (std::size_t m = 0; m < asset_.meshes.size(); ++m) {
            // A book's node stands at its pivot, its vertices around it, so
            // that it turns about itself; the merged mesh stays in place.
            pivots_.push_back(merged ? std::array<float, 3>{} : pivotOf(asset_.meshes[m]));
            addMesh(asset_.meshes[m], m);
            if (!merged) nodes_.push_back({asset_.meshes[m].name, int(m), false, pivots_.back()});
        }
        if (!asset_.meshes.empty()) {
            nodes_.push_back({asset_.name, merged ? int(asset_.meshes.size() - 1) : -1, true});
        }
        placeViews();
    }

    // The buffer's bytes: every view in order, each starting on four
    // bytes, made from the model as they are written.
    std::size_t bufferLength() const { return bufferLength_; }
    template <typename Write>
    void writeBuffer(Write &&write) const {
        static constexpr char kZeros[4] = {};
        auto bytes = [&write](const void *data, std::size_t size) {
            write(std::string_view(static_cast<const char *>(data), size));
        };
        std::size_t at = 0;
        for (const BufferView &view : views_) {
            write(std::string_view(kZeros, view.byteOffset - at));
            if (view.image) {
                bytes(view.image->data(), view.image->size());
            } else {
                writeView(*view.data, bytes);
            }
            at = view.byteOffset + view.byteLength;
        }
        write(std::string_view(kZeros, bufferLength_ - at));
    }

    // The document; a .gltf names its buffer binUri.
    std::string json(int indent, const std::string &binUri) const {
        JsonWriter out(indent);
        // About what each record takes as compact text; more when indented.
        out.reserve(std::size_t(indent ? 3 : 1) *
                    (4096 + 120 * accessors_.size() + 100 * primitives_.size() +
                     40 * nodes_.size() + 60 * views_.size() + 150 * asset_.materials.size()));
        out.beginObject();
        writeAccessors(out);
        out.key("asset").beginObject();
        out.key("generator").value(asset_.look.generator + " modeler " VARLOBOOKS_VERSION);
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

    // The middle of the bottom of a mesh's bounds (y is up): where a book
    // stands, whatever its tilt. Each coordinate a float, as the vertices are.
    static std::array<float, 3> pivotOf(const AssetMesh &mesh) {
        if (mesh.positions.empty()) return {};
        std::array<float, 3> low{FLT_MAX, FLT_MAX, FLT_MAX}, high{-FLT_MAX, -FLT_MAX, -FLT_MAX};
        for (std::size_t i = 0; i < mesh.positions.size(); i += 3) {
            for (int c = 0; c < 3; ++c) {
                low[c] = std::min(low[c], mesh.positions[i + c]);
                high[c] = std::max(high[c], mesh.positions[i + c]);
            }
        }
        auto middle = [](float a, float b) { return float((double(a) + double(b)) / 2); };
        return {middle(low[0], high[0]), low[1], middle(low[2], high[2])};
    }

    // The vertices one primitive reaches, in the order its triangles first
    // reach them, and its triangles numbered over them: each primitive has
    // accessors over its own vertices alone, so that a loader reads each
    // vertex once and knows each part's bounds. (A book's pages and cover
    // share no vertex: their faces meet at right angles.)
    struct PrimitiveVertices {
        std::vector<uint32_t> vertices;  // into the mesh's
        std::vector<uint32_t> indices;   // into vertices
    };

    static PrimitiveVertices verticesOf(const AssetPrimitive &primitive,
                                        std::vector<uint32_t> &numberOf) {
        PrimitiveVertices out;
        out.indices.reserve(primitive.indices.size());
        for (uint32_t v : primitive.indices) {
            if (v >= numberOf.size()) numberOf.resize(std::size_t(v) + 1, UINT32_MAX);
            if (numberOf[v] == UINT32_MAX) {
                numberOf[v] = uint32_t(out.vertices.size());
                out.vertices.push_back(v);
            }
            out.indices.push_back(numberOf[v]);
        }
        for (uint32_t v : out.vertices)
            numberOf[v] = UINT32_MAX;  // ready for the next primitive
        return out;
    }

    // A primitive's positions as its node places them: around its pivot.
    static void localPositions(const AssetMesh &mesh, const std::array<float, 3> &pivot,
                               const PrimitiveVertices &part, std::vector<float> &out) {
        out.resize(3 * part.vertices.size());
        for (std::size_t i = 0; i < part.vertices.size(); ++i) {
            for (int c = 0; c < 3; ++c) {
                out[3 * i + c] =
                    float(double(mesh.positions[3 * std::size_t(part.vertices[i]) + c]) -
                          double(pivot[c]));
            }
        }
    }

    // A float as the double with the shortest text that reads back to it:
    // the bounds say the same in far fewer digits.
    static double shortDouble(float value) {
        char text[kShortestRoom];
        char *end = writeShortest(text, value);
        double result = value;
        readNumber(text, end, result);
        return result;
    }

    // A primitive's accessors: positions (with their bounds, around the
    // pivot), normals and UVs (the pages' too: they can be textured, and
    // tangents made), and its triangles, 16-bit where they suffice. The
    // buffer views are shared by all.
    void addPrimitive(const AssetMesh &mesh, std::size_t index, const AssetPrimitive &primitive) {
        PrimitiveVertices part = verticesOf(primitive, numberOf_);
        localPositions(mesh, pivots_[index], part, scratch_);
        std::array<float, 3> low{FLT_MAX, FLT_MAX, FLT_MAX}, high{-FLT_MAX, -FLT_MAX, -FLT_MAX};
        for (std::size_t i = 0; i < scratch_.size(); i += 3) {
            for (int c = 0; c < 3; ++c) {
                low[c] = std::min(low[c], scratch_[i + c]);
                high[c] = std::max(high[c], scratch_[i + c]);
            }
        }
        const std::size_t vertices = part.vertices.size();
        Primitive p{};
        p.material = primitive.material;
        p.position =
            accessor(positions_, positions_.claim(12 * vertices), kFloat, vertices, "VEC3");
        Accessor &bounds = accessors_[p.position];
        bounds.bounded = true;
        for (int c = 0; c < 3; ++c) {
            bounds.min[c] = shortDouble(low[c]);
            bounds.max[c] = shortDouble(high[c]);
        }
        p.normal = accessor(normals_, normals_.claim(12 * vertices), kFloat, vertices, "VEC3");
        p.uv = accessor(uvs_, uvs_.claim(8 * vertices), kFloat, vertices, "VEC2");
        const std::size_t count = part.indices.size();
        p.indices =
            narrowIndices(part)
                ? accessor(shortIndices_, shortIndices_.claim(2 * count), kUshort, count, "SCALAR")
                : accessor(longIndices_, longIndices_.claim(4 * count), kUint, count, "SCALAR");
        primitives_.push_back(p);
        parts_.push_back({index, std::move(part)});
    }

    void addMesh(const AssetMesh &mesh, std::size_t index) {
        for (const AssetPrimitive &primitive : mesh.primitives)
            addPrimitive(mesh, index, primitive);
        meshStart_.push_back(primitives_.size());
    }

    // 16-bit indices up to 65,534: glTF reserves each type's largest value
    // (65,535) for a primitive restart, which validators reject.
    static bool narrowIndices(const PrimitiveVertices &part) {
        return part.vertices.size() <= 65535;
    }

    // The bytes of one view, primitive after primitive as its accessors
    // were laid out.
    template <typename Bytes>
    void writeView(const ViewData &view, Bytes &&bytes) const {
        std::vector<float> values;
        std::vector<uint16_t> shortIndices;
        for (const auto &[index, part] : parts_) {
            const AssetMesh &mesh = asset_.meshes[index];
            if (&view == &positions_) {
                localPositions(mesh, pivots_[index], part, values);
            } else if (&view == &normals_) {
                values.clear();
                for (uint32_t v : part.vertices) {
                    const float *n = &mesh.normals[3 * std::size_t(v)];
                    values.insert(values.end(), n, n + 3);
                }
            } else if (&view == &uvs_) {
                // glTF's texture origin is the image's top-left: v runs down.
                values.clear();
                for (uint32_t v : part.vertices) {
                    values.push_back(mesh.uvs[2 * std::size_t(v)]);
                    values.push_back(1.0f - mesh.uvs[2 * std::size_t(v) + 1]);
                }
            } else {
                const bool narrow = &view == &shortIndices_;
                if (narrowIndices(part) != narrow) continue;
                if (narrow) {
                    shortIndices.assign(part.indices.begin(), part.indices.end());
                    bytes(shortIndices.data(), shortIndices.size() * 2);
                } else {
                    bytes(part.indices.data(), part.indices.size() * 4);
                }
                continue;
            }
            bytes(values.data(), values.size() * sizeof(float));
        }
    }

    // Lays the views out in the one buffer, each on four bytes: the vertex
    // and index data, then the embedded images.
    void placeViews() {
        auto place = [this](std::size_t size, int stride, int target, const ViewData *data,
                            const std::vector<unsigned char> *image) {
            const std::size_t offset = (bufferLength_ + 3) & ~std::size_t(3);
            views_.push_back({offset, size, stride, target, data, image});
            bufferLength_ = offset + size;
            return int(views_.size() - 1);
        };
        for (ViewData *view : {&positions_, &normals_, &uvs_, &shortIndices_, &longIndices_}) {
            if (view->length)
                view->view = place(view->length, view->stride, view->target, view, nullptr);
        }
        if (binary_) {
            for (const AssetImage *image : images_)
                imageView_.push_back(
                    place(image->bytes.bytes.size(), 0, 0, nullptr, &image->bytes.bytes));
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
        if (!binUri.empty()) out.key("uri").value(uriOf(binUri));
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
            }
            if (!images_[i]->name.empty()) out.key("name").value(images_[i]->name);
            if (!binary_) out.key("uri").value(uriOf(imageFiles[i].first));
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
            out.beginObject();
            if (!asset_.meshes[m].name.empty()) out.key("name").value(asset_.meshes[m].name);
            out.key("primitives").beginArray();
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
            if (node.translation != std::array<float, 3>{}) {
                out.key("translation").beginArray();
                for (float c : node.translation)
                    out.value(shortDouble(c));
                out.endArray();
            }
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
    std::vector<std::array<float, 3>> pivots_;  // of each mesh, where its node stands
    std::vector<float> scratch_;                // a primitive's positions around its pivot
    std::vector<uint32_t> numberOf_;            // a mesh vertex's number in the primitive
    // Each primitive's mesh and vertices, in the order of primitives_.
    std::vector<std::pair<std::size_t, PrimitiveVertices>> parts_;
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
        // The views come a mesh at a time: gathered into large writes.
        ChunkedText chunks([&file](std::string_view bytes) { file.write(bytes); });
        out.writeBuffer([&chunks](std::string_view bytes) { chunks.raw(bytes); });
        chunks.flush();
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
        ChunkedText chunks([&bin](std::string_view bytes) { bin.write(bytes); });
        out.writeBuffer([&chunks](std::string_view bytes) { chunks.raw(bytes); });
        chunks.flush();
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
