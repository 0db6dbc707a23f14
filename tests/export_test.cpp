// The exports read back by real readers: the Khronos validator for glTF,
// tinyobjloader for OBJ, and all formats checked to describe the same
// triangles and UVs as the lossless JSON.
#include <tiny_gltf.h>
#include <tiny_obj_loader.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "modeler/export/atomic_file.h"
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
    }
}

TEST_F(Exports, GltfHoldsTheSameTrianglesAndUVs) {
    const auto polygons = polygonsFromJson(scene);
    for (bool binary : {true, false}) {
        tinygltf::Model model;
        tinygltf::TinyGLTF loader;
        std::string error, warning;
        const std::string path = folder + (binary ? "/shelf.glb" : "/shelf.gltf");
        ASSERT_TRUE(binary ? loader.LoadBinaryFromFile(&model, &error, &warning, path)
                           : loader.LoadASCIIFromFile(&model, &error, &warning, path))
            << error;
        // Expected triangles per material, in polygon order, fanned.
        std::map<std::string, std::vector<Corner>> expected;
        for (const auto &[surface, corners] : polygons) {
            for (std::size_t i = 1; i + 1 < corners.size(); ++i) {
                for (std::size_t k : {std::size_t(0), i, i + 1})
                    expected[surface].push_back(corners[k]);
            }
        }
        std::size_t textured = 0;
        ASSERT_EQ(model.meshes.size(), 1u);
        for (const auto &primitive : model.meshes[0].primitives) {
            const auto &material = model.materials[primitive.material];
            textured += material.pbrMetallicRoughness.baseColorTexture.index >= 0;
            auto read = [&](int accessor) {
                const auto &a = model.accessors[accessor];
                const auto &view = model.bufferViews[a.bufferView];
                return model.buffers[view.buffer].data.data() + view.byteOffset + a.byteOffset;
            };
            const auto *indices = reinterpret_cast<const uint32_t *>(read(primitive.indices));
            const auto *positions =
                reinterpret_cast<const float *>(read(primitive.attributes.at("POSITION")));
            const auto *uvs =
                reinterpret_cast<const float *>(read(primitive.attributes.at("TEXCOORD_0")));
            const auto &triangles = expected.at(material.name);
            ASSERT_EQ(model.accessors[primitive.indices].count, triangles.size()) << material.name;
            for (std::size_t i = 0; i < triangles.size(); ++i) {
                const uint32_t v = indices[i];
                for (int c = 0; c < 3; ++c) {
                    EXPECT_EQ(positions[3 * v + c], float(triangles[i].position[c]))
                        << material.name;
                }
                EXPECT_EQ(uvs[2 * v], triangles[i].u);
                EXPECT_EQ(uvs[2 * v + 1], 1.0f - triangles[i].v) << "glTF's v runs down";
            }
            expected.erase(material.name);
        }
        EXPECT_TRUE(expected.empty()) << "surfaces without a primitive";
        EXPECT_EQ(textured, model.materials.size() - 1)
            << "every cover but the pages has its image";
        EXPECT_EQ(model.images.size(), 8u) << "each sample cover once";
    }
}

TEST_F(Exports, ObjLoadsWithTheSameFacesUVsAndMaterials) {
    tinyobj::attrib_t attrib;
    std::vector<tinyobj::shape_t> shapes;
    std::vector<tinyobj::material_t> materials;
    std::string warning, error;
    ASSERT_TRUE(tinyobj::LoadObj(&attrib, &shapes, &materials, &warning, &error,
                                 (folder + "/shelf.obj").c_str(), folder.c_str(), false))
        << error;
    EXPECT_EQ(attrib.vertices.size(), 3 * scene["points"].size());
    ASSERT_EQ(shapes.size(), 1u);
    const auto polygons = polygonsFromJson(scene);
    const auto &mesh = shapes[0].mesh;
    std::size_t face = 0, offset = 0;
    std::set<std::pair<int, int>> expectedLines, lines;
    for (const auto &[surface, corners] : polygons) {
        if (corners.size() < 3) {
            continue;
        }
        ASSERT_LT(face, mesh.num_face_vertices.size());
        ASSERT_EQ(mesh.num_face_vertices[face], corners.size());
        EXPECT_EQ(materials[mesh.material_ids[face]].name, surface);
        for (std::size_t c = 0; c < corners.size(); ++c) {
            const auto &index = mesh.indices[offset + c];
            for (int k = 0; k < 3; ++k) {
                EXPECT_NEAR(attrib.vertices[3 * index.vertex_index + k], corners[c].position[k],
                            1e-12);
            }
            EXPECT_NEAR(attrib.texcoords[2 * index.texcoord_index], corners[c].u, 1e-7);
            EXPECT_NEAR(attrib.texcoords[2 * index.texcoord_index + 1], corners[c].v, 1e-7);
        }
        offset += corners.size();
        ++face;
    }
    EXPECT_EQ(face, mesh.num_face_vertices.size());
    // Two-point polygons come out as lines (tinyobjloader may list one twice).
    for (std::size_t p = 0; p < scene["polygons"].size(); ++p) {
        const auto points = scene["polygons"][p]["points"].get<std::vector<int>>();
        if (points.size() == 2) expectedLines.insert({points[1], points[0]});
    }
    const auto &lineIndices = shapes[0].lines.indices;
    for (std::size_t i = 0; i + 1 < lineIndices.size(); i += 2) {
        lines.insert({lineIndices[i].vertex_index, lineIndices[i + 1].vertex_index});
    }
    EXPECT_EQ(lines, expectedLines);
    EXPECT_FALSE(expectedLines.empty());
    std::size_t mapped = 0;
    for (const auto &material : materials) {
        if (material.name == "bookpages") continue;
        ASSERT_FALSE(material.diffuse_texname.empty()) << material.name;
        // Relative to the MTL; absolute where no relative path leads there
        // (another drive).
        const std::filesystem::path texture(material.diffuse_texname);
        EXPECT_TRUE(
            std::ifstream(texture.is_absolute() ? texture : std::filesystem::path(folder) / texture)
                .good())
            << material.diffuse_texname;
        ++mapped;
    }
    EXPECT_GT(mapped, 20u);
}

namespace {

// Every file in folder with its bytes; folders as "<folder>".
std::map<std::string, std::string> folderContents(const std::string &folder) {
    std::map<std::string, std::string> files;
    for (const auto &entry : std::filesystem::directory_iterator(folder)) {
        files[entry.path().filename().string()] =
            entry.is_directory() ? "<folder>" : testing_support::readFile(entry.path().string());
    }
    return files;
}

}  // namespace

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
    ASSERT_GE(before.size(), 6u) << "gltf, bin, images, obj, mtl, json";
    for (const auto &[name, bytes] : before) {
        // A folder in the file's place cannot be replaced by a file.
        const std::string path = folder + "/" + name;
        std::filesystem::remove(path);
        std::filesystem::create_directories(path + "/keep");
        const CommandResult again =
            shell(modelerCommand("fill -q --box 0,0,0:0.4,0.5,0.3 --seed 2" + images + outputs));
        // An output named as a folder is wrong usage; a companion, a failed run.
        EXPECT_NE(again.status, 0) << name << ": " << again.output;
        EXPECT_NE(again.output.find(name + ": "), std::string::npos) << again.output;
        auto after = folderContents(folder);
        EXPECT_EQ(after[name], "<folder>");
        after[name] = bytes;
        EXPECT_EQ(after, before) << "failing at " << name;
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
        auto expected = before;
        expected.erase(names[fail]);
        EXPECT_EQ(after, expected) << "failing at " << names[fail];
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
