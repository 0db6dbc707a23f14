// The exports read back by real readers: the Khronos validator for glTF,
// tinyobjloader for OBJ, and all formats checked to describe the same
// triangles and UVs as the lossless JSON.
#include <tiny_gltf.h>
#include <tiny_obj_loader.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "host/services.h"
#include "image_support.h"
#include "modeler/export/atomic_file.h"
#include "modeler/export/export_formats.h"
#include "modeler/export/export_mesh.h"
#include "modeler/export/json_export.h"
#include "support.h"

using nlohmann::json;

namespace {

using testing_support::CommandResult;
using testing_support::modelerCommand;
using testing_support::shell;

struct Corner {
    std::array<double, 3> position;  // right-handed
    float u, v;                      // v up
};
using Polygon = std::vector<Corner>;

// The polygons of a JSON export as the other formats must show them: z
// negated, corners reversed, UVs from the first map holding the first corner.
std::vector<std::pair<std::string, Polygon>> polygonsFromJson(const json &scene) {
    std::map<std::pair<uint32_t, uint32_t>, std::array<float, 2>> uv;  // (polygon, point)
    for (const auto &map : scene["vmaps"]) {
        for (const auto &value : map["values"]) {
            if (value[1].is_null()) continue;
            // The first map that holds a corner gives its value.
            uv.try_emplace({value[1].get<uint32_t>(), value[0].get<uint32_t>()},
                           std::array<float, 2>{value[2].get<float>(), value[3].get<float>()});
        }
    }
    std::vector<std::pair<std::string, Polygon>> polygons;
    for (std::size_t p = 0; p < scene["polygons"].size(); ++p) {
        const auto &polygon = scene["polygons"][p];
        const auto points = polygon["points"].get<std::vector<uint32_t>>();
        Polygon corners;
        for (auto it = points.rbegin(); it != points.rend(); ++it) {
            const auto &xyz = scene["points"][*it];
            const auto value = uv.at({uint32_t(p), *it});
            corners.push_back({{xyz[0].get<double>(), xyz[1].get<double>(), -xyz[2].get<double>()},
                               value[0],
                               value[1]});
        }
        polygons.emplace_back(polygon["surface"].get<std::string>(), corners);
    }
    return polygons;
}

// The shell of every polygon of a JSON export, numbered by first polygon:
// polygons that share a point are one shell.
std::vector<std::size_t> shellsFromJson(const json &scene, std::size_t &count) {
    std::vector<std::size_t> parent(scene["points"].size());
    for (std::size_t i = 0; i < parent.size(); ++i)
        parent[i] = i;
    auto root = [&parent](std::size_t p) {
        while (parent[p] != p)
            p = parent[p] = parent[parent[p]];
        return p;
    };
    for (const auto &polygon : scene["polygons"]) {
        const auto points = polygon["points"].get<std::vector<std::size_t>>();
        for (std::size_t p : points)
            parent[root(p)] = root(points[0]);
    }
    std::map<std::size_t, std::size_t> number;
    std::vector<std::size_t> shells;
    for (const auto &polygon : scene["polygons"]) {
        const std::size_t r = root(polygon["points"][0].get<std::size_t>());
        shells.push_back(number.try_emplace(r, number.size()).first->second);
    }
    count = number.size();
    return shells;
}

// A triangle corner as text, position and UV rounded to floats: what a
// book's mesh must hold, in any order.
std::string cornerText(const std::array<double, 3> &p, float u, float v) {
    char text[160];
    std::snprintf(text, sizeof text, "%.9g %.9g %.9g %.7g %.7g", float(p[0]), float(p[1]),
                  float(p[2]), u, v);
    return text;
}

// A corner as position and UV, ordered and compared within a tolerance:
// a book's vertices in glTF are its node's translation plus local
// positions, which agree with the layer's floats to a unit in the last place.
using LooseCorner = std::array<double, 5>;
std::vector<LooseCorner> sortedCorners(std::vector<LooseCorner> corners) {
    auto key = [](const LooseCorner &c) {
        std::array<long long, 5> k{};
        for (int i = 0; i < 5; ++i)
            k[i] = std::llround(c[i] * 1e4);
        return k;
    };
    std::sort(corners.begin(), corners.end(),
              [&](const LooseCorner &a, const LooseCorner &b) { return key(a) < key(b); });
    return corners;
}
bool sameCorners(const std::vector<LooseCorner> &a, const std::vector<LooseCorner> &b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        for (int k = 0; k < 5; ++k) {
            if (std::abs(a[i][k] - b[i][k]) > 1e-6) return false;
        }
    }
    return true;
}

class Exports : public ::testing::Test {
  protected:
    static inline std::string folder;
    static inline json scene;

    static void SetUpTestSuite() {
        folder = testing_support::freshFolder("exports");
        const std::string outputs = " -o '" + folder + "/shelf.json' -o '" + folder +
                                    "/shelf.obj' -o '" + folder + "/shelf.gltf' -o '" + folder +
                                    "/shelf.glb'";
        const CommandResult run =
            shell(modelerCommand("run '" SOURCE_DIR "/examples/shelf.session'" + outputs));
        ASSERT_EQ(run.status, 0) << run.output;
        scene = json::parse(testing_support::readFile(folder + "/shelf.json"));
    }
};

}  // namespace

TEST_F(Exports, GltfFilesPassTheKhronosValidator) {
    SKIP_WITHOUT_VALIDATOR();
    for (const char *name : {"shelf.glb", "shelf.gltf"}) {
        const CommandResult check = shell("node '" SOURCE_DIR "/tools/validator/validate.js' '" +
                                          folder + "/" + name + "'");
        EXPECT_EQ(check.status, 0) << name << ": " << check.output;
        EXPECT_NE(check.output.find("\"numErrors\": 0"), std::string::npos) << check.output;
        EXPECT_NE(check.output.find("\"numWarnings\": 0"), std::string::npos) << check.output;
        // Every primitive reads its own vertices: the validator counts each once.
        tinygltf::Model model;
        tinygltf::TinyGLTF loader;
        std::string error, warning;
        const std::string path = folder + "/" + name;
        ASSERT_TRUE(std::string(name).ends_with(".glb")
                        ? loader.LoadBinaryFromFile(&model, &error, &warning, path)
                        : loader.LoadASCIIFromFile(&model, &error, &warning, path))
            << error;
        std::set<int> positions;
        std::size_t vertices = 0;
        for (const auto &mesh : model.meshes) {
            for (const auto &primitive : mesh.primitives) {
                const int position = primitive.attributes.at("POSITION");
                EXPECT_TRUE(positions.insert(position).second) << "an accessor read twice";
                vertices += model.accessors[position].count;
            }
        }
        EXPECT_NE(check.output.find("\"totalVertexCount\": " + std::to_string(vertices)),
                  std::string::npos)
            << vertices << " vertices: " << check.output.substr(0, 400);
    }
}

// One node per book under a root named after the object, each with a
// unique name and standing at its own pivot, each book's triangles (pages
// and cover, both with UVs) in its own mesh over its own vertices, covers
// textured.
TEST_F(Exports, GltfHasOneNodePerBookWithItsTrianglesAndUVs) {
    const auto polygons = polygonsFromJson(scene);
    std::size_t books = 0;
    const auto shellOf = shellsFromJson(scene, books);
    ASSERT_EQ(books, 108u);
    // Expected corners per book, fanned, in world space.
    std::vector<std::vector<LooseCorner>> expected(books);
    for (std::size_t p = 0; p < polygons.size(); ++p) {
        const auto &[surface, corners] = polygons[p];
        for (std::size_t i = 1; i + 1 < corners.size(); ++i) {
            for (std::size_t k : {std::size_t(0), i, i + 1}) {
                const Corner &c = corners[k];
                expected[shellOf[p]].push_back({float(c.position[0]), float(c.position[1]),
                                                float(c.position[2]), c.u, 1.0f - c.v});
            }
        }
    }
    for (auto &corners : expected)
        corners = sortedCorners(std::move(corners));
    for (bool binary : {true, false}) {
        tinygltf::Model model;
        tinygltf::TinyGLTF loader;
        std::string error, warning;
        const std::string path = folder + (binary ? "/shelf.glb" : "/shelf.gltf");
        ASSERT_TRUE(binary ? loader.LoadBinaryFromFile(&model, &error, &warning, path)
                           : loader.LoadASCIIFromFile(&model, &error, &warning, path))
            << error;
        ASSERT_EQ(model.scenes[0].nodes.size(), 1u);
        const auto &root = model.nodes[model.scenes[0].nodes[0]];
        EXPECT_EQ(root.name, "Bookshelf") << "the session's object";
        ASSERT_EQ(root.children.size(), books);
        auto read = [&](int accessor) {
            const auto &a = model.accessors[accessor];
            const auto &view = model.bufferViews[a.bufferView];
            return model.buffers[view.buffer].data.data() + view.byteOffset + a.byteOffset;
        };
        std::size_t textured = 0;
        std::set<std::string> names;
        for (std::size_t b = 0; b < books; ++b) {
            const auto &node = model.nodes[root.children[b]];
            EXPECT_EQ(node.name.rfind("book_", 0), 0u) << node.name;
            EXPECT_TRUE(names.insert(node.name).second) << node.name << " twice";
            EXPECT_EQ(model.meshes[node.mesh].name, node.name);
            // The pivot: the middle of the bottom of the book's bounds.
            ASSERT_EQ(node.translation.size(), 3u) << node.name;
            std::vector<LooseCorner> corners;
            std::array<float, 3> low{FLT_MAX, FLT_MAX, FLT_MAX}, high{-FLT_MAX, -FLT_MAX, -FLT_MAX};
            std::set<int> positionAccessors;
            for (const auto &primitive : model.meshes[node.mesh].primitives) {
                const auto &material = model.materials[primitive.material];
                textured += material.pbrMetallicRoughness.baseColorTexture.index >= 0;
                const auto &indices = model.accessors[primitive.indices];
                ASSERT_EQ(indices.componentType, TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT);
                const auto *index = reinterpret_cast<const uint16_t *>(read(primitive.indices));
                const int position = primitive.attributes.at("POSITION");
                const auto *positions = reinterpret_cast<const float *>(read(position));
                const auto *uvs =
                    reinterpret_cast<const float *>(read(primitive.attributes.at("TEXCOORD_0")));
                EXPECT_TRUE(positionAccessors.insert(position).second) << node.name;
                const auto &vertices = model.accessors[position];
                std::size_t used = 0;  // vertices the triangles reach
                std::array<float, 3> partLow{FLT_MAX, FLT_MAX, FLT_MAX},
                    partHigh{-FLT_MAX, -FLT_MAX, -FLT_MAX};
                for (std::size_t i = 0; i < indices.count; ++i) {
                    const uint16_t v = index[i];
                    used = std::max(used, std::size_t(v) + 1);
                    std::array<double, 3> world{};
                    for (int c = 0; c < 3; ++c) {
                        partLow[c] = std::min(partLow[c], positions[3 * v + c]);
                        partHigh[c] = std::max(partHigh[c], positions[3 * v + c]);
                        world[c] = float(node.translation[c] + positions[3 * v + c]);
                    }
                    corners.push_back({world[0], world[1], world[2], uvs[2 * v], uvs[2 * v + 1]});
                }
                // Each part's accessor spans its own vertices alone, its
                // bounds theirs.
                EXPECT_EQ(vertices.count, used) << node.name;
                for (int c = 0; c < 3; ++c) {
                    EXPECT_EQ(float(vertices.minValues[c]), partLow[c]) << node.name;
                    EXPECT_EQ(float(vertices.maxValues[c]), partHigh[c]) << node.name;
                    low[c] = std::min(low[c], partLow[c]);
                    high[c] = std::max(high[c], partHigh[c]);
                }
            }
            EXPECT_NEAR(low[1], 0, 1e-6) << node.name << " stands on its pivot";
            EXPECT_NEAR(low[0] + high[0], 0, 1e-6) << node.name;
            EXPECT_NEAR(low[2] + high[2], 0, 1e-6) << node.name;
            EXPECT_TRUE(sameCorners(sortedCorners(corners), expected[b]))
                << "book " << b << " (" << node.name << ")";
        }
        // The example keeps two rows, each numbered from the prefix again.
        EXPECT_TRUE(names.count("book_4") && names.count("book_4.2"));
        EXPECT_EQ(textured, books) << "every book's cover has its image";
        EXPECT_EQ(model.images.size(), 8u) << "each sample cover once";
        for (const auto &sampler : model.samplers) {
            EXPECT_EQ(sampler.wrapS, TINYGLTF_TEXTURE_WRAP_CLAMP_TO_EDGE);
            EXPECT_EQ(sampler.wrapT, TINYGLTF_TEXTURE_WRAP_CLAMP_TO_EDGE);
        }
        EXPECT_EQ(model.asset.generator, "varlobooks modeler " PROJECT_VERSION);
    }
    // The binary file is mostly geometry and images, not JSON (compact, if
    // eight accessors a book: about 1.1 KB of it a book).
    const std::string glb = testing_support::readFile(folder + "/shelf.glb");
    uint32_t jsonLength = 0;
    std::memcpy(&jsonLength, glb.data() + 12, 4);
    EXPECT_LT(jsonLength * 2, glb.size()) << jsonLength << " of " << glb.size() << " bytes";
    EXPECT_LT(jsonLength, 1300u * books) << "JSON per book";
}

// One object per book, faces with normals grouped by material, no lines,
// every texture copied beside the MTL.
TEST_F(Exports, ObjHasOneObjectPerBookWithNormalsAndNoLines) {
    tinyobj::attrib_t attrib;
    std::vector<tinyobj::shape_t> shapes;
    std::vector<tinyobj::material_t> materials;
    std::string warning, error;
    ASSERT_TRUE(tinyobj::LoadObj(&attrib, &shapes, &materials, &warning, &error,
                                 (folder + "/shelf.obj").c_str(), folder.c_str(), false))
        << error;
    std::size_t books = 0;
    const auto shellOf = shellsFromJson(scene, books);
    const auto polygons = polygonsFromJson(scene);
    ASSERT_EQ(shapes.size(), books);
    std::vector<std::multiset<std::string>> expected(books);
    for (std::size_t p = 0; p < polygons.size(); ++p) {
        const auto &corners = polygons[p].second;
        for (std::size_t i = 1; i + 1 < corners.size(); ++i) {
            for (std::size_t k : {std::size_t(0), i, i + 1})
                expected[shellOf[p]].insert(
                    cornerText(corners[k].position, corners[k].u, corners[k].v));
        }
    }
    for (std::size_t b = 0; b < books; ++b) {
        const auto &mesh = shapes[b].mesh;
        EXPECT_EQ(shapes[b].name.rfind("book_", 0), 0u) << shapes[b].name;
        EXPECT_TRUE(shapes[b].lines.indices.empty()) << "no lines";
        std::multiset<std::string> corners;
        int switches = 0;
        for (std::size_t f = 0; f < mesh.num_face_vertices.size(); ++f) {
            ASSERT_EQ(mesh.num_face_vertices[f], 3u);
            if (f == 0 || mesh.material_ids[f] != mesh.material_ids[f - 1]) ++switches;
            for (int c = 0; c < 3; ++c) {
                const auto &index = mesh.indices[3 * f + c];
                ASSERT_GE(index.normal_index, 0) << "every corner has a normal";
                corners.insert(cornerText({attrib.vertices[3 * index.vertex_index],
                                           attrib.vertices[3 * index.vertex_index + 1],
                                           attrib.vertices[3 * index.vertex_index + 2]},
                                          float(attrib.texcoords[2 * index.texcoord_index]),
                                          float(attrib.texcoords[2 * index.texcoord_index + 1])));
            }
        }
        EXPECT_EQ(switches, 2) << "pages, then the cover";
        EXPECT_EQ(corners, expected[b]) << "book " << b;
    }
    std::size_t mapped = 0;
    for (const auto &material : materials) {
        EXPECT_EQ(material.shininess, 22.5) << "the glTF's roughness 0.85";
        if (material.name == "bookpages") continue;
        EXPECT_EQ(material.diffuse_texname.rfind("shelf_covers/", 0), 0u)
            << material.diffuse_texname;
        EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::path(folder) /
                                                     material.diffuse_texname));
        ++mapped;
    }
    EXPECT_EQ(mapped, 8u) << "one material per image";
}

// Moved elsewhere, every export still finds its textures and buffers.
TEST_F(Exports, TheFilesCanBeMovedTogether) {
    const std::string moved = testing_support::freshFolder("exports_moved") + "/elsewhere";
    std::filesystem::copy(folder, moved, std::filesystem::copy_options::recursive);
    tinyobj::attrib_t attrib;
    std::vector<tinyobj::shape_t> shapes;
    std::vector<tinyobj::material_t> materials;
    std::string warning, error;
    ASSERT_TRUE(tinyobj::LoadObj(&attrib, &shapes, &materials, &warning, &error,
                                 (moved + "/shelf.obj").c_str(), moved.c_str(), false));
    for (const auto &material : materials) {
        if (!material.diffuse_texname.empty()) {
            EXPECT_TRUE(std::filesystem::is_regular_file(moved + "/" + material.diffuse_texname));
        }
    }
    const json gltf = json::parse(testing_support::readFile(moved + "/shelf.gltf"));
    for (const auto &buffer : gltf["buffers"])
        EXPECT_TRUE(
            std::filesystem::is_regular_file(moved + "/" + buffer["uri"].get<std::string>()));
    for (const auto &image : gltf["images"])
        EXPECT_TRUE(
            std::filesystem::is_regular_file(moved + "/" + image["uri"].get<std::string>()));
    EXPECT_EQ(gltf["images"].size(), 8u);
}

// A stack along Y is one object per book too; --merge makes one mesh.
TEST(ExportObjects, AStackIsOneObjectPerBookAndMergeMakesOne) {
    const std::string folder = testing_support::freshFolder("exports_stack");
    const CommandResult run =
        shell(modelerCommand("run '" SOURCE_DIR "/examples/stack.session' -o '" + folder +
                             "/stack.glb' -o '" + folder + "/stack.json'"));
    ASSERT_EQ(run.status, 0) << run.output;
    std::size_t books = 0;
    shellsFromJson(json::parse(testing_support::readFile(folder + "/stack.json")), books);
    EXPECT_GT(books, 5u);
    tinygltf::Model model;
    tinygltf::TinyGLTF loader;
    std::string error, warning;
    ASSERT_TRUE(loader.LoadBinaryFromFile(&model, &error, &warning, folder + "/stack.glb"));
    EXPECT_EQ(model.meshes.size(), books);
    EXPECT_EQ(model.nodes.size(), books + 1) << "the books and their root";

    const CommandResult merged =
        shell(modelerCommand("fill -q --merge --box 0,0,0:1,0.5,0.3 -o '" + folder +
                             "/merged.glb' -o '" + folder + "/merged.obj'"));
    ASSERT_EQ(merged.status, 0) << merged.output;
    tinygltf::Model one;
    ASSERT_TRUE(loader.LoadBinaryFromFile(&one, &error, &warning, folder + "/merged.glb"));
    EXPECT_EQ(one.meshes.size(), 1u);
    EXPECT_EQ(one.nodes.size(), 1u);
    EXPECT_EQ(one.nodes[0].name, "merged") << "named after the file without an object";
    const std::string obj = testing_support::readFile(folder + "/merged.obj");
    EXPECT_NE(obj.find("\no merged\n"), std::string::npos);
    EXPECT_EQ(obj.find("\no ", obj.find("\no merged\n") + 1), std::string::npos) << "one object";
}

namespace {

// The names whose bytes differ between two folder contents.
std::string differingNames(const std::map<std::string, std::string> &a,
                           const std::map<std::string, std::string> &b) {
    std::string names;
    for (const auto &[name, bytes] : a) {
        auto it = b.find(name);
        if (it == b.end() || it->second != bytes) names += " " + name;
    }
    for (const auto &[name, bytes] : b) {
        if (!a.count(name)) names += " +" + name;
    }
    return names;
}

// Every file in folder and below with its bytes, by its path from folder;
// folders as "<folder>".
std::map<std::string, std::string> folderContents(const std::string &folder) {
    std::map<std::string, std::string> files;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(folder)) {
        files[std::filesystem::relative(entry.path(), folder).generic_string()] =
            entry.is_directory() ? "<folder>" : testing_support::readFile(entry.path().string());
    }
    return files;
}

}  // namespace

// A .gltf names its buffer and covers by URI: names with "%", "#", "?",
// spaces or letters beyond ASCII still lead the reader to the files.
TEST(ExportGltf, CompanionNamesAreEncodedAsUris) {
    SKIP_WITHOUT_VALIDATOR();
    const std::string folder = testing_support::freshFolder("gltf_uris");
    for (const char *stem : {"a%41", "a#b", "a?b", "two words", "caf\xc3\xa9"}) {
        const std::string path = folder + "/" + stem + ".gltf";
        const CommandResult run = shell(modelerCommand(
            "fill -q --box 0,0,0:1,0.5,0.3 --images '" SOURCE_DIR "/examples/covers' -o '" + path +
            "'"));
        ASSERT_EQ(run.status, 0) << stem << ": " << run.output;
        const CommandResult check =
            shell("node '" SOURCE_DIR "/tools/validator/validate.js' '" + path + "'");
        EXPECT_EQ(check.status, 0) << stem << ": " << check.output;
        EXPECT_NE(check.output.find("\"numErrors\": 0"), std::string::npos)
            << stem << ": " << check.output.substr(0, 600);
    }
    const auto document = json::parse(testing_support::readFile(folder + "/a%41.gltf"));
    EXPECT_EQ(document["buffers"][0]["uri"], "a%2541.bin");
    EXPECT_EQ(document["images"][0]["uri"].get<std::string>().rfind("a%2541_", 0), 0u);
}

TEST(ExportFailures, UnwritableFolderIsAClearErrorAndWritesNothing) {
    const std::string folder = testing_support::freshFolder("export_fail");
    std::ofstream(folder + "/file") << "x";
    const CommandResult result =
        shell(modelerCommand("fill --box 0,0,0:1,0.5,0.3 -o '" + folder + "/file/shelf.glb'"));
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.output.rfind("modeler: " + folder + "/file/shelf.glb: ", 0), 0u)
        << result.output;
    EXPECT_EQ(result.output.find('\n'), result.output.size() - 1);
}

TEST(ExportFailures, AWriteThatFailsHalfWayLeavesTheOldFile) {
    SKIP_ON_WINDOWS("ulimit -f");
    const std::string folder = testing_support::freshFolder("export_half");
    for (const char *name : {"shelf.glb", "shelf.gltf", "shelf.obj", "shelf.json"}) {
        const std::string target = folder + "/" + name;
        std::ofstream(target) << "old";
        // A 2 KiB file-size limit stops the write part of the way through.
        const CommandResult result = shell(
            "ulimit -f 2; " + modelerCommand("fill --box 0,0,0:3,0.5,0.3 -o '" + target + "'"));
        EXPECT_EQ(result.status, 1) << name << ": " << result.output;
        EXPECT_EQ(result.output.rfind("modeler: " + folder + "/shelf.", 0), 0u) << result.output;
        EXPECT_NE(result.output.find("File too large"), std::string::npos) << result.output;
        EXPECT_EQ(testing_support::readFile(target), "old") << name;
    }
    std::set<std::string> names;
    for (const auto &[name, bytes] : folderContents(folder))
        names.insert(name);
    EXPECT_EQ(names, (std::set<std::string>{"shelf.glb", "shelf.gltf", "shelf.json", "shelf.obj"}))
        << "no partial files";
}

// An export is several files (.gltf, .bin, images; .obj, .mtl), and a run
// may have several outputs: when any one of them cannot replace its target,
// every other keeps what it held before.
TEST(ExportFailures, AFileThatCannotBeReplacedLeavesEveryOtherAsItWas) {
    const std::string folder = testing_support::freshFolder("export_companions");
    const std::string outputs = " -o '" + folder + "/shelf.gltf' -o '" + folder +
                                "/shelf.obj' -o '" + folder + "/shelf.json'";
    const std::string images = " --images '" SOURCE_DIR "/examples/covers'";
    const CommandResult first =
        shell(modelerCommand("fill -q --box 0,0,0:0.3,0.5,0.3 --seed 1" + images + outputs));
    ASSERT_EQ(first.status, 0) << first.output;
    const auto before = folderContents(folder);
    ASSERT_GE(before.size(), 8u) << "gltf, bin, images, obj, mtl, covers folder and images, json";
    for (const auto &[name, bytes] : before) {
        if (bytes == "<folder>") continue;  // the OBJ's covers folder
        // A folder in the file's place cannot be replaced by a file.
        const std::string path = folder + "/" + name;
        std::filesystem::remove(path);
        std::filesystem::create_directories(path + "/keep");
        const CommandResult again =
            shell(modelerCommand("fill -q --box 0,0,0:0.4,0.5,0.3 --seed 2" + images + outputs));
        // An output named as a folder is wrong usage; a companion, a failed run.
        EXPECT_NE(again.status, 0) << name << ": " << again.output;
        const std::string leaf = std::filesystem::path(name).filename().string();
        EXPECT_NE(again.output.find(leaf + ": "), std::string::npos) << again.output;
        auto after = folderContents(folder);
        EXPECT_EQ(after[name], "<folder>");
        after[name] = bytes;
        after.erase(name + "/keep");
        EXPECT_EQ(differingNames(after, before), "") << "failing at " << name;
        std::filesystem::remove_all(path);
        std::ofstream(path, std::ios::binary) << bytes;
    }
}

// The replacing itself can fail part of the way (here a folder appears in
// a file's place after the files were written): the files already replaced
// get their old bytes back, and a new one goes again.
TEST(ExportFailures, AReplaceThatFailsPartWayPutsBackWhatItReplaced) {
    const std::string folder = testing_support::freshFolder("staged_rollback");
    const std::vector<std::string> names = {"a.json", "b.bin", "c.png", "d.gltf"};
    for (std::size_t fail = 0; fail < names.size(); ++fail) {
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        for (std::size_t i = 0; i + 1 < names.size(); ++i)  // d.gltf is new
            std::ofstream(folder + "/" + names[i]) << "old " << names[i];
        const auto before = folderContents(folder);
        modeler::StagedFiles files;
        for (const std::string &name : names)
            ASSERT_FALSE(files.stage(folder + "/" + name, "new " + name));
        std::filesystem::remove(folder + "/" + names[fail]);
        std::filesystem::create_directories(folder + "/" + names[fail] + "/keep");
        EXPECT_TRUE(files.commit()) << names[fail];
        auto after = folderContents(folder);
        EXPECT_EQ(after[names[fail]], "<folder>");
        after.erase(names[fail]);
        after.erase(names[fail] + "/keep");
        auto expected = before;
        expected.erase(names[fail]);
        EXPECT_EQ(differingNames(after, expected), "") << "failing at " << names[fail];
    }
}

TEST(Install, InstalledProgramFindsItsModule) {
    SKIP_ON_WINDOWS("cmake --install and the installed layout are Linux's");
    const std::string prefix = testing_support::freshFolder("install");
    const CommandResult install =
        shell("cmake --install '" BINARY_DIR "' --prefix '" + prefix + "'");
    ASSERT_EQ(install.status, 0) << install.output;
    const CommandResult info = shell("'" + prefix + "/bin/modeler' info");
    EXPECT_EQ(info.status, 0) << info.output;
    EXPECT_NE(info.output.find(prefix + "/lib/varlobooks/varlobooks.so: 1 server"),
              std::string::npos)
        << info.output;
    const CommandResult run =
        shell("cd '" + prefix +
              "' && bin/modeler run share/varlobooks/examples/shelf.session -q -o out/s.glb");
    EXPECT_EQ(run.status, 0) << run.output;
}

// Names a reader splits or merges: an OBJ whose name has a space names its
// MTL as one word, covers whose names become the same word get materials
// of their own, and two rows' same-named books are separate objects.
TEST(ExportNames, ObjNamesAreSingleUniqueWordsThatReadersKeepApart) {
    namespace fs = std::filesystem;
    const std::string folder = testing_support::freshFolder("export_names");
    fs::create_directories(folder + "/covers");
    fs::copy_file(SOURCE_DIR "/examples/covers/cover00.png", folder + "/covers/x y.png");
    fs::copy_file(SOURCE_DIR "/examples/covers/cover05.png", folder + "/covers/x_y.png");
    const std::string session = folder + "/rows.session";
    std::ofstream(session) << "activate\npress 0 0 0\nmove 0.6 0.3 0.2\nend keep\n"
                              "clock 7\npress 0 0 0\nend keep\ndone folder covers\n";
    const CommandResult run =
        testing_support::runModeler("run '" + session + "' -o '" + folder + "/my shelf.obj'");
    ASSERT_EQ(run.status, 0) << run.output;
    const std::string obj = testing_support::readFile(folder + "/my shelf.obj");
    EXPECT_NE(obj.find("\nmtllib my_shelf.mtl\n"), std::string::npos) << obj.substr(0, 200);
    EXPECT_TRUE(fs::is_regular_file(folder + "/my_shelf.mtl"));

    tinyobj::attrib_t attrib;
    std::vector<tinyobj::shape_t> shapes;
    std::vector<tinyobj::material_t> materials;
    std::string warning, error;
    ASSERT_TRUE(tinyobj::LoadObj(&attrib, &shapes, &materials, &warning, &error,
                                 (folder + "/my shelf.obj").c_str(), folder.c_str(), false))
        << error;
    std::set<std::string> objects, names, images;
    for (const auto &shape : shapes)
        EXPECT_TRUE(objects.insert(shape.name).second) << shape.name << " twice";
    EXPECT_GT(objects.size(), 20u);
    EXPECT_TRUE(objects.count("book_1") && objects.count("book_1.2")) << "two rows";
    for (const auto &material : materials) {
        EXPECT_TRUE(names.insert(material.name).second) << material.name << " twice";
        if (!material.diffuse_texname.empty()) images.insert(material.diffuse_texname);
    }
    EXPECT_EQ(images.size(), 2u) << "each cover its own material and image";
    EXPECT_TRUE(names.count("bookpages"));

    // In glTF, meshes and images are named, and the plain covers' material
    // is called after what it is.
    const CommandResult plain =
        testing_support::runModeler("fill --box 0,0,0:0.3,0.3,0.2 -o '" + folder + "/plain.glb'");
    ASSERT_EQ(plain.status, 0) << plain.output;
    tinygltf::Model model;
    tinygltf::TinyGLTF loader;
    ASSERT_TRUE(loader.LoadBinaryFromFile(&model, &error, &warning, folder + "/plain.glb"));
    std::set<std::string> materialNames;
    for (const auto &material : model.materials)
        materialNames.insert(material.name);
    EXPECT_EQ(materialNames, (std::set<std::string>{"bookpages", "plain cover"}));
    for (const auto &mesh : model.meshes)
        EXPECT_EQ(mesh.name.rfind("book_", 0), 0u) << mesh.name;
    ASSERT_EQ(
        testing_support::runModeler("run '" + session + "' -o '" + folder + "/covers.glb'").status,
        0);
    ASSERT_TRUE(loader.LoadBinaryFromFile(&model, &error, &warning, folder + "/covers.glb"));
    std::set<std::string> imageNames;
    for (const auto &image : model.images)
        imageNames.insert(image.name);
    EXPECT_EQ(imageNames, (std::set<std::string>{"x y", "x_y"}));
}

namespace {

// The JSON keeps what a plug-in gave, whatever it is: a texture's return
// type and a layer type of any int, negative ones too.
TEST(ExportJson, TextureTypesAreWrittenAsThePluginGaveThem) {
    modeler::Scene scene;
    modeler::Texture &texture = scene.createTexture(TRT_COLOR, "cover texture");
    scene.addTextureLayer(texture, -1);
    scene.addTextureLayer(texture, 2147483647);
    scene.addSurface("cover").channels["BaseColor"] = &texture;
    const json written = json::parse(modeler::sceneToJson(scene));
    const json &textures = written["surfaces"][0]["textures"];
    ASSERT_EQ(textures.size(), 1u);
    EXPECT_EQ(textures[0]["return"], TRT_COLOR);
    EXPECT_EQ(textures[0]["layers"][0]["type"], -1);
    EXPECT_EQ(textures[0]["layers"][1]["type"], 2147483647);
}

}  // namespace

namespace {

// An image is read once, when loaded: an export made after the file changed
// (or went) still carries the bytes that were loaded and shown.
TEST(ExportImages, TheBytesLoadedAreTheBytesExported) {
    const std::string folder = testing_support::freshFolder("export_images_once");
    const std::string path = folder + "/cover.png";
    ASSERT_TRUE(testing_support::writePng(path, 4, 4, 200, 10, 10));
    const std::string loaded = testing_support::readFile(path);
    modeler::Scene scene;
    std::string why;
    const modeler::Image *image = scene.loadImage(path, why);
    ASSERT_NE(image, nullptr) << why;
    ASSERT_TRUE(testing_support::writePng(path, 8, 8, 10, 200, 10));
    auto bytes = modeler::imageBytes(*image);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(std::string(bytes->bytes.begin(), bytes->bytes.end()), loaded);
    std::filesystem::remove(path);
    EXPECT_EQ(modeler::imageBytes(*image)->bytes.size(), loaded.size());
}

}  // namespace

namespace {

// The index type of a glTF primitive of `faces` separate faces of `corners`
// points each (one vertex a point), written merged as one primitive.
int indexTypeOf(int faces, int corners, const std::string &name) {
    modeler::Scene scene;
    modeler::Layer &layer = scene.layer();
    const uint32_t surface = scene.addSurface("s").index;
    for (int f = 0; f < faces; ++f) {
        std::vector<uint32_t> points;
        for (int c = 0; c < corners; ++c)
            points.push_back(layer.addPoint({double(f) + (c == 1 || c == 2), 0, double(c >= 2)}));
        layer.addPolygon(surface, points);
    }
    const std::string path = testing_support::freshFolder(name) + "/m.glb";
    EXPECT_FALSE(modeler::writeExport(scene, path, modeler::ExportFormat::Glb,
                                      modeler::ExportOptions{true, {}}));
    tinygltf::Model model;
    tinygltf::TinyGLTF loader;
    std::string error, warning;
    EXPECT_TRUE(loader.LoadBinaryFromFile(&model, &error, &warning, path)) << error;
    const auto &primitive = model.meshes.at(0).primitives.at(0);
    EXPECT_EQ(model.accessors[primitive.attributes.at("POSITION")].count,
              std::size_t(faces) * corners);
    return model.accessors[primitive.indices].componentType;
}

// 16-bit indices reach 65,534: glTF reserves 65,535 (a primitive restart).
TEST(ExportGltf, SixteenBitIndicesStopShortOfTheReservedValue) {
    EXPECT_EQ(indexTypeOf(21845, 3, "gltf_65535"), TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT);
    EXPECT_EQ(indexTypeOf(16384, 4, "gltf_65536"), TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT);
}

}  // namespace
