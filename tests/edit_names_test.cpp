// Names a plug-in passes to the mesh-edit operations: the host remembers
// the last few, and must never take a changed name for the one it saw.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "modeler/drive/module_loader.h"
#include "modeler/services/edit_operations.h"
#include "modeler/services/service_host.h"
#include "modeler/services/stable_memory.h"
#include "support.h"

namespace {

// Two names as a module's read-only strings would hold them.
const char kStableNames[] = "alpha\0beta";

struct Build {
    modeler::Host host;
    modeler::Host::Serving serving{host};
    std::unique_ptr<modeler::MeshEdit> edit;
    LWPntID points[3]{};
    explicit Build(const std::vector<modeler::MemoryRange> &stable = {}) {
        host.addStableMemory(stable);
        edit = std::make_unique<modeler::MeshEdit>(host);
        for (int i = 0; i < 3; ++i) {
            double xyz[3] = {double(i), double(i % 2), 0};
            points[i] = op().addPoint(op().state, xyz);
        }
    }
    MeshEditOp &op() { return *edit->op(); }
    LWPolID face(const char *surface) { return op().addFace(op().state, surface, 3, points); }
    std::string surfaceOf(std::size_t polygon) {
        const auto &layer = host.scene().layer();
        return layer.surfaceNames()[layer.polygons()[polygon].surface];
    }
};

TEST(EditNames, ANameInWritableMemoryIsReadAgainOnEveryCall) {
    const std::vector<modeler::MemoryRange> stable = {
        {reinterpret_cast<uintptr_t>(kStableNames),
         reinterpret_cast<uintptr_t>(kStableNames) + sizeof kStableNames}};
    Build build(stable);
    char buffer[24] = "cover_1";
    const char *alpha = kStableNames, *beta = kStableNames + 6;
    // Stable names alternate with a buffer whose text changes in place,
    // as a plug-in's cover names do.
    const char *sequence[] = {alpha, buffer, beta, alpha, buffer, beta, beta, alpha, buffer};
    std::vector<std::string> expected;
    int cover = 1;
    for (const char *name : sequence) {
        if (name == buffer) std::snprintf(buffer, sizeof buffer, "cover_%d", cover++);
        ASSERT_NE(build.face(name), nullptr);
        expected.push_back(name);
    }
    for (std::size_t p = 0; p < expected.size(); ++p)
        EXPECT_EQ(build.surfaceOf(p), expected[p]) << "polygon " << p;

    // Vertex maps: the same, a changed map name makes another map.
    LWPolID polygon = build.face(alpha);
    float uv[2] = {0.25f, 0.5f};
    char mapName[16] = "map_one";
    EXPECT_EQ(build.op().pntVPMap(build.op().state, build.points[0], polygon, LWVMAP_TXUV, mapName,
                                  2, uv),
              EDERR_NONE);
    std::strcpy(mapName, "map_two");
    uv[0] = 0.75f;
    EXPECT_EQ(build.op().pntVPMap(build.op().state, build.points[1], polygon, LWVMAP_TXUV, mapName,
                                  2, uv),
              EDERR_NONE);
    EXPECT_EQ(
        build.op().pntVPMap(build.op().state, build.points[2], polygon, LWVMAP_TXUV, beta, 2, uv),
        EDERR_NONE);
    build.edit->close();
    const auto &layer = build.host.scene().layer();
    for (const char *name : {"map_one", "map_two", "beta"}) {
        const auto *map = layer.findVertexMap(LWVMAP_TXUV, name, 2);
        ASSERT_NE(map, nullptr) << name;
        EXPECT_EQ(map->valueCount(), 1u) << name;
    }
    EXPECT_TRUE(build.host.faults().empty());
}

// Two buffers, each rewritten, sometimes back to a name it or the other
// held before: every face gets the name its buffer holds at the call, and
// each name is one surface however it came.
TEST(EditNames, BuffersRewrittenToEarlierNamesKeepEachNameOneSurface) {
    Build build;
    char first[16], second[16];
    const std::pair<char *, const char *> sequence[] = {
        {first, "c1"},  {second, "c2"}, {first, "c3"}, {first, "c1"},  {second, "c3"},
        {second, "c3"}, {first, "c2"},  {first, "c4"}, {second, "c1"}, {first, "c4"}};
    for (const auto &[buffer, text] : sequence) {
        std::strcpy(buffer, text);
        ASSERT_NE(build.face(buffer), nullptr);
    }
    for (std::size_t p = 0; p < std::size(sequence); ++p)
        EXPECT_EQ(build.surfaceOf(p), sequence[p].second) << "polygon " << p;
    auto names = build.host.scene().layer().surfaceNames();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"c1", "c2", "c3", "c4"}));
}

// A module's constants are its read-only memory; a host trusts only the
// memory it was given, so a host without it compares every name.
TEST(EditNames, OnlyTheModulesConstantsAreStableAndOnlyForTheHostGivenThem) {
    auto module = testing_support::loadModule();
    ASSERT_TRUE(module);
    const char *className = module->servers()[0].record->className;
    const std::size_t size = std::strlen(className) + 1;
    EXPECT_TRUE(modeler::withinStableMemory(module->readOnlyMemory(), className, size));
    char onStack[] = "MeshEditTool";
    EXPECT_FALSE(modeler::withinStableMemory(module->readOnlyMemory(), onStack, sizeof onStack));

    modeler::Host given, other;
    given.addStableMemory(module->readOnlyMemory());
    EXPECT_TRUE(modeler::withinStableMemory(given.stableMemory(), className, size));
    EXPECT_TRUE(other.stableMemory().empty());
}

}  // namespace
