// The model every export writes: round spines shade smooth, hard edges stay
// sharp, flat books stay flat.
#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <numbers>
#include <span>
#include <vector>

#include "modeler/export/asset_model.h"
#include "modeler/export/export_formats.h"
#include "modeler/library/profile_words.h"
#include "support.h"

namespace {

using Vec = std::array<double, 3>;

Vec at(std::span<const float> values, uint32_t vertex) {
    return {values[3 * vertex], values[3 * vertex + 1], values[3 * vertex + 2]};
}

double dot(const Vec &a, const Vec &b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

Vec faceNormal(const Vec &a, const Vec &b, const Vec &c) {
    const Vec u{b[0] - a[0], b[1] - a[1], b[2] - a[2]}, v{c[0] - a[0], c[1] - a[1], c[2] - a[2]};
    Vec n{u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
    const double length = std::sqrt(dot(n, n));
    for (double &x : n)
        x /= length;
    return n;
}

struct EdgeCounts {
    int smooth = 0;  // neighbours at the crease angle or less, their normals shared
    int sharp = 0;   // neighbours at more, their normals apart
};

// The cosine that parts smooth from sharp, with the exporter's slack.
double creaseCosine() {
    return std::cos((modeler::kCreaseDegrees + modeler::kCreaseSlackDegrees) * std::numbers::pi /
                    180);
}

// Checks every pair of a mesh's triangles that share an edge: across a
// smooth edge the two have the same normal at each shared point; across a
// sharp one, different ones.
EdgeCounts checkEdges(const modeler::AssetMesh &mesh) {
    struct Triangle {
        uint32_t v[3];
        Vec normal;
    };
    std::vector<Triangle> triangles;
    for (const auto &primitive : mesh.primitives) {
        for (std::size_t i = 0; i < primitive.indices.size(); i += 3) {
            Triangle t{{primitive.indices[i], primitive.indices[i + 1], primitive.indices[i + 2]},
                       {}};
            t.normal = faceNormal(at(mesh.positions, t.v[0]), at(mesh.positions, t.v[1]),
                                  at(mesh.positions, t.v[2]));
            for (uint32_t v : t.v) {
                EXPECT_GT(dot(at(mesh.normals, v), t.normal), creaseCosine() - 1e-6)
                    << "a corner's normal leans no further than the crease from its face";
            }
            triangles.push_back(t);
        }
    }
    const double crease = creaseCosine();
    EdgeCounts counts;
    for (std::size_t a = 0; a < triangles.size(); ++a) {
        for (std::size_t b = a + 1; b < triangles.size(); ++b) {
            const double cosine = dot(triangles[a].normal, triangles[b].normal);
            if (cosine > 1 - 1e-6) continue;  // one plane: a quad's halves, a cap and its face
            std::vector<std::pair<uint32_t, uint32_t>> shared;
            for (uint32_t va : triangles[a].v) {
                for (uint32_t vb : triangles[b].v) {
                    if (at(mesh.positions, va) == at(mesh.positions, vb))
                        shared.push_back({va, vb});
                }
            }
            if (shared.size() != 2) continue;
            for (const auto &[va, vb] : shared) {
                const double agree = dot(at(mesh.normals, va), at(mesh.normals, vb));
                if (cosine >= crease) {
                    EXPECT_GT(agree, 1 - 1e-6) << "smooth across an edge of " << mesh.name;
                } else {
                    EXPECT_LT(agree, 1 - 1e-3) << "sharp across an edge of " << mesh.name;
                }
            }
            ++(cosine >= crease ? counts.smooth : counts.sharp);
        }
    }
    return counts;
}

// Books of the type, tilted, one mesh each.
modeler::AssetModel books(const char *type, const char *segments, float length = 0.03f) {
    testing_support::ToolSession s;
    s.buildBox({0, 0, 0}, {length, 0.3f, 0.2f});
    EXPECT_FALSE(s.driver.setPanelValue("Type", type));
    EXPECT_FALSE(s.driver.setPanelValue("Book Segments", segments));
    EXPECT_FALSE(s.driver.setPanelValue("Rotation", "12"));
    return modeler::buildAssetModel(s.host.scene(), {false, "book", modeler::profileLook()});
}

}  // namespace

// Every segment count shades every book's spine alike: with two segments
// the spine's faces meet at exactly the crease angle, where rounding alone
// must not decide.
TEST(AssetModel, RoundSpinesShadeSmoothAndTheBoxEdgesStaySharp) {
    for (const char *segments : {"1", "2", "3", "4", "5", "6", "7", "8", "24"}) {
        const modeler::AssetModel model = books("Hardcover", segments, 1.0f);
        ASSERT_FALSE(model.meshes.empty());
        for (const auto &mesh : model.meshes) {
            const EdgeCounts counts = checkEdges(mesh);
            // The arc's joints, and where it leaves the covers, tangent to them.
            // (One segment is a flat spine: only its two joints.)
            const int n = std::atoi(segments);
            EXPECT_EQ(counts.smooth, n == 1 ? 2 : n + 2) << segments << " segments";
            EXPECT_GT(counts.sharp, 12) << "the box's edges and the caps";
        }
    }
}

TEST(AssetModel, FlatBooksStayFlat) {
    const modeler::AssetModel model = books("Softcover", "8");
    ASSERT_FALSE(model.meshes.empty());
    for (const auto &mesh : model.meshes)
        EXPECT_EQ(checkEdges(mesh).smooth, 0);
}

// A long shelf's meshes, one a book, lie in blocks shared by many books,
// and a merged model is one mesh longer than a block. Merging must be no
// more than laying the books end to end: the same vertices in the same
// order, and each material's triangles book after book. A mesh whose
// storage overlapped another's, or views left behind when the model moved,
// would break that.
TEST(AssetModel, MergedShelfIsItsBooksEndToEndAfterTheModelMoves) {
    testing_support::ToolSession s;
    s.buildBox({0, 0, 0}, {30, 0.3f, 0.2f});
    ASSERT_FALSE(s.driver.setPanelValue("Type", "Both"));
    ASSERT_FALSE(s.driver.setPanelValue("Rotation", "12"));
    std::vector<modeler::AssetModel> kept;
    kept.push_back(
        modeler::buildAssetModel(s.host.scene(), {false, "book", modeler::profileLook()}));
    kept.push_back(
        modeler::buildAssetModel(s.host.scene(), {true, "shelf", modeler::profileLook()}));
    const modeler::AssetModel separate = std::move(kept[0]);
    const modeler::AssetModel &merged = kept[1];
    ASSERT_GT(separate.meshes.size(), 300u);
    ASSERT_EQ(merged.meshes.size(), 1u);
    const modeler::AssetMesh &all = merged.meshes[0];

    std::vector<float> positions, normals, uvs;
    std::map<std::size_t, std::vector<uint32_t>> triangles;  // by material
    for (const modeler::AssetMesh &mesh : separate.meshes) {
        const auto base = static_cast<uint32_t>(positions.size() / 3);
        positions.insert(positions.end(), mesh.positions.begin(), mesh.positions.end());
        normals.insert(normals.end(), mesh.normals.begin(), mesh.normals.end());
        uvs.insert(uvs.end(), mesh.uvs.begin(), mesh.uvs.end());
        for (const modeler::AssetPrimitive &primitive : mesh.primitives) {
            for (uint32_t index : primitive.indices) {
                ASSERT_LT(index, mesh.vertexCount());
                triangles[primitive.material].push_back(base + index);
            }
        }
    }
    EXPECT_TRUE(
        std::equal(positions.begin(), positions.end(), all.positions.begin(), all.positions.end()));
    EXPECT_TRUE(std::equal(normals.begin(), normals.end(), all.normals.begin(), all.normals.end()));
    EXPECT_TRUE(std::equal(uvs.begin(), uvs.end(), all.uvs.begin(), all.uvs.end()));
    ASSERT_EQ(all.primitives.size(), triangles.size());
    for (const modeler::AssetPrimitive &primitive : all.primitives) {
        const std::vector<uint32_t> &expected = triangles[primitive.material];
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), primitive.indices.begin(),
                               primitive.indices.end()))
            << "material " << primitive.material;
    }
}

// Runs never move once handed out; the unused end of the last run goes to
// the next; a run longer than a block has a block of its own; a list moved
// from hands out fresh memory, never the moved blocks' free end.
TEST(AssetModel, BlockRunsStayPutAndAListMovedFromStartsAfresh) {
    modeler::BlockList<int> list;
    int *small = list.claim(10);
    std::fill(small, small + 10, 7);
    int *large = list.claim(1 << 20);
    list.giveBack(5);
    modeler::BlockList<int> moved = std::move(list);
    int *fresh = list.claim(3);
    std::fill(fresh, fresh + 3, -1);
    EXPECT_TRUE(fresh + 3 <= small || fresh >= small + 10);
    EXPECT_TRUE(fresh + 3 <= large || fresh >= large + (1 << 20));
    EXPECT_EQ(moved.claim(5), large + (1 << 20) - 5) << "the given-back end, in the moved list";
    EXPECT_EQ(std::count(small, small + 10, 7), 10);
}

// The outputs of one run share one model per object name.
TEST(AssetModel, OneRunMakesEachModelOnce) {
    testing_support::ToolSession s;
    s.buildBox({0, 0, 0}, {1, 0.3f, 0.2f});
    modeler::SceneExports unnamed(s.host.scene(), {false, modeler::profileLook()});
    const modeler::AssetModel &a = unnamed.assetFor("out/a.glb");
    EXPECT_EQ(&unnamed.assetFor("elsewhere/a.obj"), &a);  // the same stem
    EXPECT_NE(&unnamed.assetFor("out/b.gltf"), &a);
    EXPECT_EQ(unnamed.assetFor("out/b.gltf").name, "b");
    EXPECT_EQ(&unnamed.shells(), &unnamed.shells());

    s.host.scene().setObjectName("shelf");
    modeler::SceneExports named(s.host.scene(), {false, modeler::profileLook()});
    EXPECT_EQ(&named.assetFor("a.glb"), &named.assetFor("b.obj"));
    EXPECT_EQ(named.assetFor("a.glb").name, "shelf");
    EXPECT_EQ(named.assetFor("a.glb").meshes.size(), named.shells().count);
}
