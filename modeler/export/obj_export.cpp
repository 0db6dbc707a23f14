#include "modeler/export/obj_export.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <set>

#include "modeler/export/chunked_text.h"
#include "modeler/export/number_text.h"
#include "modeler/model/utf8.h"

namespace modeler {
namespace {

namespace fs = std::filesystem;

// Object, material and file names are single words in OBJ and MTL, in
// UTF-8 as every file names them.
std::string singleWord(const std::string &name) {
    std::string word = readableUtf8(name);
    for (char &c : word) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') c = '_';
    }
    return word;
}

// Each material's name as the MTL and the OBJ write it: one word, and
// unique even where two names become the same word ("x y" and "x_y"): the
// later one is numbered.
std::vector<std::string> materialNames(const AssetModel &asset) {
    std::vector<std::string> names;
    std::set<std::string> taken;
    for (const AssetMaterial &material : asset.materials) {
        const std::string word = material.name.empty() ? "material" : singleWord(material.name);
        std::string name = word;
        for (int n = 2; !taken.insert(name).second; ++n)
            name = word + "_" + std::to_string(n);
        names.push_back(std::move(name));
    }
    return names;
}

// A line's tag: "v", "vt" or "vn".
using LineTag = ShortText<8>;

void writeValueLine(ChunkedText &out, const LineTag &tag, const float *values, int count) {
    out.put(tag);
    for (int i = 0; i < count; ++i) {
        out.put(' ');
        out.number(values[i]);
    }
    out.put('\n');
}

// A value's number as text (numbers fit in 32 bits as the layer's corners do).
using NumberText = ShortText<12>;

// Numbers for the distinct values of one kind (v, vt or vn), written as
// each first appears: a corner shared by many faces is written once. An
// open-addressed table, as a large model looks up three values a vertex.
// The table holds only numbers (4 bytes a slot) and the values sit in a
// list in number order: on a large model the time went to the memory of a
// table that held the values in its slots, made anew at each doubling.
template <int Size>
class ValueLines {
  public:
    // `expected`: room kept for that many values; more may come.
    ValueLines(std::string_view tag, std::size_t expected) {
        tag_.append(tag);
        values_.reserve(expected);
        texts_.reserve(expected);
    }

    // The value's number, as text: made once when the value is first seen,
    // as most are named by several vertices.
    const NumberText &number(ChunkedText &obj, const float *values) {
        Key key{};
        std::memcpy(key.data(), values, sizeof(float) * Size);
        if (2 * (count_ + 1) > slots_.size()) grow();
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = slotOf(key);; i = (i + 1) & mask) {
            const uint32_t number = slots_[i];
            if (number == 0) {
                values_.push_back(key);
                texts_.emplace_back().appendNumber(++count_);
                slots_[i] = static_cast<uint32_t>(count_);
                writeValueLine(obj, tag_, values, Size);
                return texts_.back();
            }
            // Word by word: a call to memcmp for 12 bytes cost more than the lookup.
            const Key &seen = values_[number - 1];
            if (seen[0] == key[0] && seen[1] == key[1] && seen[2] == key[2])
                return texts_[number - 1];
        }
    }

  private:
    using Key = std::array<uint32_t, 3>;  // a value's bits; unused words 0
    // The high bits of a multiplicative mix of every word: values such as 0,
    // 0.5 or 1 have no low bits set, and an index taken from low bits piled
    // them into a few slots.
    std::size_t slotOf(const Key &key) const {
        const uint64_t mixed =
            ((uint64_t(key[0]) << 32 | key[1]) * 0x9E3779B97F4A7C15ull ^ key[2]) *
            0xC2B2AE3D27D4EB4Full;
        return std::size_t(mixed >> (64 - shift_));
    }
    void grow() {
        slots_.assign(std::max<std::size_t>(1024, 2 * slots_.size()), 0);
        shift_ = std::countr_zero(slots_.size());
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t n = 0; n < values_.size(); ++n) {
            std::size_t i = slotOf(values_[n]);
            while (slots_[i] != 0)
                i = (i + 1) & mask;
            slots_[i] = static_cast<uint32_t>(n + 1);
        }
    }

    LineTag tag_;
    std::size_t count_ = 0;        // values numbered: values_.size(), without its division by 12
    int shift_ = 0;                // log2 of the table's size
    std::vector<uint32_t> slots_;  // a value's number, 0: empty (numbers fit 32 bits as corners do)
    std::vector<Key> values_;      // value n at n - 1
    std::vector<NumberText> texts_;  // n's text at n - 1
};

// A vertex's part of a face line, " v/vt/vn", made once for the two or
// three triangles that share the vertex. Each number is copied whole (its
// bytes past the length are written over by the next piece).
using CornerText = ShortText<3 * sizeof(NumberText::text) + 4>;
CornerText cornerText(const NumberText &v, const NumberText &vt, const NumberText &vn) {
    CornerText corner;
    char *at = corner.text;
    *at++ = ' ';
    std::memcpy(at, v.text, sizeof v.text);
    at += v.length;
    *at++ = '/';
    std::memcpy(at, vt.text, sizeof vt.text);
    at += vt.length;
    *at++ = '/';
    std::memcpy(at, vn.text, sizeof vn.text);
    at += vn.length;
    corner.length = static_cast<uint8_t>(at - corner.text);
    return corner;
}

// Every mesh as an object: the values its corners use first, then its
// triangles grouped by material.
void writeObjText(ChunkedText &obj, const AssetModel &asset, const std::string &mtlName,
                  const std::vector<std::string> &materials) {
    obj.raw("# " + asset.look.generator +
            ": right-handed (the modeller's z negated), faces wound counter-clockwise\n");
    obj.raw("mtllib ");
    obj.raw(std::string_view(mtlName));
    obj.put('\n');
    // Positions are many (on a shelf, two vertices in five bring a new one);
    // UVs and normals are a few dozen, repeated.
    std::size_t vertices = 0;
    for (const AssetMesh &mesh : asset.meshes)
        vertices += mesh.vertexCount();
    ValueLines<3> positions("v", vertices), normals("vn", 0);
    ValueLines<2> uvs("vt", 0);
    std::vector<CornerText> corner;  // of each vertex
    for (const AssetMesh &mesh : asset.meshes) {
        obj.raw("o ");
        obj.raw(std::string_view(singleWord(mesh.name)));
        obj.put('\n');
        corner.resize(mesh.vertexCount());
        for (std::size_t v = 0; v < corner.size(); ++v) {
            const NumberText &position = positions.number(obj, &mesh.positions[3 * v]);
            const NumberText &uv = uvs.number(obj, &mesh.uvs[2 * v]);
            corner[v] = cornerText(position, uv, normals.number(obj, &mesh.normals[3 * v]));
        }
        for (const AssetPrimitive &primitive : mesh.primitives) {
            obj.raw("usemtl ");
            obj.raw(std::string_view(materials[primitive.material]));
            obj.put('\n');
            for (std::size_t i = 0; i < primitive.indices.size(); i += 3) {
                obj.put('f');
                for (int k = 0; k < 3; ++k) {
                    obj.put(corner[primitive.indices[i + k]]);
                }
                obj.put('\n');
            }
        }
    }
}

// The images' file names in the covers folder: the source's stem made one
// word, numbered where two would clash.
std::vector<std::string> imageFileNames(const AssetModel &asset) {
    std::vector<std::string> names;
    std::set<std::string> taken;
    for (const AssetImage &image : asset.images) {
        const std::string stem = image.name.empty() ? "image" : singleWord(image.name);
        std::string name = stem + image.bytes.extension;
        for (int n = 2; !taken.insert(name).second; ++n)
            name = stem + "_" + std::to_string(n) + image.bytes.extension;
        names.push_back(name);
    }
    return names;
}

// One material for every surface a triangle uses; the values match the
// glTF's (Ns from the roughness as common readers turn it back).
std::string mtlText(const AssetModel &asset, const std::string &coversFolder,
                    const std::vector<std::string> &imageNames,
                    const std::vector<std::string> &materials) {
    std::string mtl = "# " + asset.look.generator + ": one material per surface\n";
    const double shininess = std::round((1 - kRoughness) * (1 - kRoughness) * 1e6) / 1e3;
    for (std::size_t m = 0; m < asset.materials.size(); ++m) {
        const AssetMaterial &material = asset.materials[m];
        mtl += "\nnewmtl " + materials[m] + "\nKd";
        for (double c : material.colour) {
            mtl += ' ';
            appendNumber(mtl, c);
        }
        mtl += "\nKs 0.5 0.5 0.5\nNs ";
        appendNumber(mtl, shininess);
        mtl += "\nillum 2\n";
        if (material.image)
            mtl += "map_Kd " + coversFolder + "/" + imageNames[*material.image] + "\n";
    }
    return mtl;
}

}  // namespace

std::optional<std::string> writeObj(const AssetModel &asset, const std::string &path,
                                    StagedFiles &files) {
    // The MTL and the covers folder are named in the OBJ as one word each
    // ("my shelf.obj" reads "my_shelf.mtl"): readers split mtllib at spaces.
    const fs::path folder = fs::path(path).parent_path();
    const std::string stem = singleWord(fs::path(path).stem().string());
    const fs::path mtlPath = folder / (stem + ".mtl");
    const std::string coversFolder = stem + asset.look.imagesFolderSuffix;
    const std::vector<std::string> materials = materialNames(asset);
    const std::vector<std::string> imageNames = imageFileNames(asset);
    for (std::size_t i = 0; i < asset.images.size(); ++i) {
        const auto &bytes = asset.images[i].bytes.bytes;
        if (auto error =
                files.stage((folder / coversFolder / imageNames[i]).string(),
                            {reinterpret_cast<const char *>(bytes.data()), bytes.size()})) {
            return error;
        }
    }
    if (auto error =
            files.stage(mtlPath.string(), mtlText(asset, coversFolder, imageNames, materials)))
        return error;
    AtomicFile &file = files.add(path);
    if (file.error()) return file.error();
    ChunkedText obj([&file](std::string_view bytes) { file.write(bytes); });
    writeObjText(obj, asset, mtlPath.filename().string(), materials);
    obj.flush();
    return file.error();
}

}  // namespace modeler
