// The host's edited layer: edit transactions, the lossless JSON export and
// atomic writes.
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <numeric>
#include <random>
#include <set>

#include "layer_support.h"
#include "modeler/export/atomic_file.h"
#include "modeler/export/export_formats.h"
#include "modeler/export/json_export.h"
#include "modeler/model/name_index.h"
#include "support.h"

using modeler::Layer;
using testing_support::ToolSession;

TEST(LayerEdits, EachBuildReplacesThePreviousResultOfTheEdit) {
    ToolSession s;
    s.buildBox({0, 0, 0}, {1, 0.5f, 0.3f});
    const std::size_t first = s.layer().points().size();
    s.tool().boxMax[0] = 0.5f;
    s.driver.event(LWTOOL_EVENT_ACTIVATE);
    EXPECT_EQ(s.layer().points().size(), s.driver.builds().back().points);
    EXPECT_LT(s.layer().points().size(), first);
    EXPECT_EQ(s.layer().polygons().size(), s.driver.builds().back().polygons);
    EXPECT_EQ(s.layer().valueCount(), s.driver.builds().back().values);
}

TEST(LayerEdits, KeepCommitsAndDiscardTakesBack) {
    ToolSession s;
    s.buildBox({0, 0, 0}, {1, 0.5f, 0.3f});
    s.driver.end(true);
    const std::string kept = modeler::sceneToJson(s.host.scene());
    const std::size_t keptPoints = s.layer().points().size();
    const std::size_t keptValues = s.layer().valueCount();
    ASSERT_GT(keptPoints, 0u);
    // A second edit on top: discarding it leaves the kept shelf exactly.
    s.tool().boxMin[2] = 5;
    s.tool().boxMax[2] = 5.3f;
    s.driver.event(LWTOOL_EVENT_ACTIVATE);
    EXPECT_GT(s.layer().points().size(), keptPoints);
    // Its report counts the values it set, not the kept shelf's too.
    EXPECT_GT(s.driver.builds().back().values, 0u);
    EXPECT_EQ(s.driver.builds().back().values, s.layer().valueCount() - keptValues);
    s.driver.end(false);
    EXPECT_EQ(modeler::sceneToJson(s.host.scene()), kept);
}

TEST(LayerEdits, TakingBackRestoresValuesOfOlderGeometry) {
    Layer layer;
    const uint32_t a = layer.addPoint({0, 0, 0});
    const uint32_t b = layer.addPoint({1, 0, 0});
    const uint32_t surface = layer.internSurface("s");
    const uint32_t pts[] = {a, b};
    const uint32_t poly = layer.addPolygon(surface, pts);
    modeler::VertexMap &map = layer.vertexMap(LWVMAP_TXUV, "uv", 2);
    const float before[2] = {0.25f, 0.5f};
    layer.setCornerValue(map, poly, 1, before);
    layer.beginEdit();
    const float after[2] = {0.75f, 1};
    layer.setCornerValue(map, poly, 1, after);
    layer.setPointValue(map, a, after);
    layer.addPoint({2, 0, 0});
    layer.discardEdit();
    ASSERT_NE(map.cornerValue(1), nullptr);
    EXPECT_EQ(map.cornerValue(1)[0], 0.25f);
    EXPECT_EQ(map.pointValue(a), nullptr);
    EXPECT_EQ(layer.points().size(), 2u);
    EXPECT_EQ(map.valueCount(), 1u);
}

// A rebuild takes the previous build back and adds its geometry again: the
// points and corners it adds in the same places must start with no values,
// whatever the taken-back build had set there.
TEST(LayerEdits, ValuesOfATakenBackBuildDoNotReturnWithTheNext) {
    Layer layer;
    modeler::VertexMap &map = layer.vertexMap(LWVMAP_TXUV, "uv", 2);
    const uint32_t surface = layer.internSurface("s");
    const float uv[2] = {0.5f, 0.25f};
    layer.beginEdit();
    for (int build = 0; build < 2; ++build) {
        const uint32_t a = layer.addPoint({0, 0, 0});
        const uint32_t b = layer.addPoint({1, 0, 0});
        const uint32_t pts[] = {a, b};
        const uint32_t poly = layer.addPolygon(surface, pts);
        if (build == 0) {
            layer.setPointValue(map, a, uv);
            layer.setCornerValue(map, poly, 1, uv);
            ASSERT_EQ(map.valueCount(), 2u);
            layer.takeBackEdit();
            continue;
        }
        EXPECT_EQ(map.pointValue(a), nullptr);
        EXPECT_EQ(map.cornerValue(layer.polygons()[poly].firstCorner + 1), nullptr);
        EXPECT_EQ(map.valueCount(), 0u);
    }
    layer.commitEdit();
}

// Surface names come and go at the end of the list, a build's worth at a
// time, and names that collide in the table must stay reachable after their
// neighbours leave: every name is checked against a plain set after each
// round of random growth and shrinking.
TEST(LayerEdits, SurfaceNamesTakenBackLeaveEveryOtherNameFound) {
    Layer layer;
    std::mt19937 random(7);
    std::vector<std::string> expected;
    for (int round = 0; round < 300; ++round) {
        layer.beginEdit();
        const std::size_t mark = expected.size();
        const int added = static_cast<int>(random() % 200);
        for (int i = 0; i < added; ++i) {
            const std::string name = "Cover " + std::to_string(random() % 5000);
            const uint32_t index = layer.internSurface(name);
            const auto known = std::find(expected.begin(), expected.end(), name);
            ASSERT_EQ(index, known == expected.end() ? expected.size() : known - expected.begin());
            if (known == expected.end()) expected.push_back(name);
        }
        if (random() % 3 == 0) {
            layer.commitEdit();
        } else {
            layer.discardEdit();
            expected.resize(mark);
        }
        ASSERT_EQ(layer.surfaceNames(), expected);
        for (std::size_t i = 0; i < expected.size(); ++i)
            ASSERT_EQ(layer.internSurface(expected[i]), i) << expected[i];
        ASSERT_EQ(layer.surfaceNames().size(), expected.size()) << "a known name was added again";
    }
}

// The index under the surface names, erased in any order: names that
// collided with an erased one must still be found, erased ones not.
TEST(NameIndex, ErasingInAnyOrderKeepsEveryOtherNameReachable) {
    std::mt19937 random(11);
    std::vector<std::string> names;
    for (int i = 0; i < 3000; ++i)
        names.push_back("Cover " + std::to_string(i));
    modeler::NameIndex index;
    std::vector<bool> present(names.size(), true);
    for (uint32_t i = 0; i < names.size(); ++i)
        index.insert(names[i], i);
    std::vector<uint32_t> order(names.size());
    std::iota(order.begin(), order.end(), 0u);
    std::shuffle(order.begin(), order.end(), random);
    for (std::size_t k = 0; k < order.size(); ++k) {
        index.erase(names[order[k]], order[k]);
        present[order[k]] = false;
        if (k % 97 != 0) continue;
        for (uint32_t i = 0; i < names.size(); ++i)
            ASSERT_EQ(index.find(names[i], names), present[i] ? i : modeler::NameIndex::kNone)
                << names[i] << " after " << k + 1 << " erased";
    }
}

TEST(JsonExport, WorkedExampleReadsBackBitIdentical) {
    ToolSession s;
    s.buildBox({0, 0, 0}, {1, 0.5f, 0.3f}, 0);
    const std::string path = testing_support::freshFolder("json") + "/shelf.json";
    ASSERT_FALSE(modeler::writeExport(s.host.scene(), path, modeler::ExportFormat::Json));
    const auto json = nlohmann::json::parse(testing_support::readFile(path));
    const Layer &layer = s.layer();
    ASSERT_EQ(json["points"].size(), 456u);
    ASSERT_EQ(json["polygons"].size(), 336u);
    for (std::size_t i = 0; i < layer.points().size(); ++i) {
        for (int c = 0; c < 3; ++c) {
            const double read = json["points"][i][c].get<double>();
            EXPECT_EQ(std::memcmp(&read, &layer.points()[i][c], sizeof read), 0) << i;
        }
    }
    for (std::size_t p = 0; p < layer.polygons().size(); ++p) {
        EXPECT_EQ(json["polygons"][p]["surface"], testing_support::surfaceOf(layer, p));
        const auto corners = layer.polygonPoints(static_cast<uint32_t>(p));
        EXPECT_EQ(json["polygons"][p]["points"].get<std::vector<uint32_t>>(),
                  std::vector<uint32_t>(corners.begin(), corners.end()));
    }
    std::size_t values = 0;
    for (const auto &map : json["vmaps"]) {
        EXPECT_EQ(map["type"], "TXUV");
        EXPECT_EQ(map["dimension"], 2);
        const modeler::VertexMap *m =
            layer.findVertexMap(LWVMAP_TXUV, map["name"].get<std::string>(), 2);
        ASSERT_NE(m, nullptr);
        for (const auto &entry : map["values"]) {
            const auto polygon = entry[1].get<uint32_t>();
            const auto corners = layer.polygonPoints(polygon);
            const uint32_t corner = layer.polygons()[polygon].firstCorner +
                                    static_cast<uint32_t>(std::find(corners.begin(), corners.end(),
                                                                    entry[0].get<uint32_t>()) -
                                                          corners.begin());
            const float *value = m->cornerValue(corner);
            ASSERT_NE(value, nullptr);
            EXPECT_EQ(static_cast<float>(entry[2].get<double>()), value[0]);
            EXPECT_EQ(static_cast<float>(entry[3].get<double>()), value[1]);
            ++values;
        }
    }
    EXPECT_EQ(values, layer.valueCount());
    EXPECT_EQ(values, std::size_t(15 * 76 + 12 * 28));
}

TEST(AtomicFile, FailedWritesLeaveNoPartialFileAndKeepTheOldOne) {
    const std::string folder = testing_support::freshFolder("atomic");
    const std::string blocker = folder + "/plain-file";
    std::ofstream(blocker) << "x";
    // A folder that is a file cannot take the output.
    EXPECT_TRUE(modeler::writeFileAtomically(blocker + "/shelf.json", "{}"));
    // A vanished folder likewise.
    EXPECT_TRUE(modeler::writeFileAtomically(folder + "/gone/shelf.json", "{}"));
    const std::string target = folder + "/shelf.json";
    std::ofstream(target) << "old";
    {
        modeler::AtomicFile file(target);
        ASSERT_FALSE(file.error());
        file.write("half of the new");
        // Dropped without commit: as a failure half-way would.
    }
    EXPECT_EQ(testing_support::readFile(target), "old");
    EXPECT_FALSE(modeler::writeFileAtomically(target, "new"));
    EXPECT_EQ(testing_support::readFile(target), "new");
    // Nothing but the two files is left in the folder.
    std::set<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    EXPECT_EQ(names, (std::set<std::string>{"plain-file", "shelf.json"}));
}
