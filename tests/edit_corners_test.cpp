// Corner values: a value for (point, polygon) belongs to the polygon's first
// corner at that point, whichever polygon took the point last, whatever the
// builds before this one made, and whether the map's name is one the host
// looks up at once (read-only memory) or reads again (a buffer).
#include <gtest/gtest.h>

#include <vector>

#include "modeler/services/edit_operations.h"
#include "modeler/services/service_host.h"
#include "modeler/services/stable_memory.h"

namespace {

const char kStableMap[] = "uv";

class EditCorners : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        stable_ = {{reinterpret_cast<uintptr_t>(kStableMap),
                    reinterpret_cast<uintptr_t>(kStableMap) + sizeof kStableMap}};
        host_.addStableMemory(stable_);
        host_.scene().beginEdit();
    }

    // The map's name from read-only memory, or from a buffer.
    const char *mapName() { return GetParam() ? kStableMap : buffer_; }

    void begin() { edit_ = std::make_unique<modeler::MeshEdit>(host_); }
    void takeBack() {
        edit_.reset();
        host_.scene().takeBackEdit();
    }
    MeshEditOp &op() { return *edit_->op(); }
    LWPntID point(double x) {
        double xyz[3] = {x, 0, 0};
        return op().addPoint(op().state, xyz);
    }
    LWPolID face(std::vector<LWPntID> points) {
        return op().addFace(op().state, "s", static_cast<int>(points.size()), points.data());
    }
    EDError set(LWPntID point, LWPolID polygon, float u) {
        float uv[2] = {u, 0.5f};
        return op().pntVPMap(op().state, point, polygon, LWVMAP_TXUV, mapName(), 2, uv);
    }
    // The u of every corner of the layer, -1 where none is set.
    std::vector<float> cornerUs() {
        const auto &layer = host_.scene().layer();
        const auto *map = layer.findVertexMap(LWVMAP_TXUV, "uv", 2);
        std::vector<float> us;
        for (uint32_t c = 0; c < layer.corners().size(); ++c) {
            const float *value = map ? map->cornerValue(c) : nullptr;
            us.push_back(value ? value[0] : -1);
        }
        return us;
    }

    modeler::Host host_;
    modeler::Host::Serving serving_{host_};
    std::unique_ptr<modeler::MeshEdit> edit_;
    std::vector<modeler::MemoryRange> stable_;
    char buffer_[8] = "uv";
};

TEST_P(EditCorners, AValueGoesToThePolygonsFirstCornerAtThePoint) {
    begin();
    const LWPntID a = point(0), b = point(1), c = point(2), d = point(3);
    const LWPolID first = face({a, b, c});
    const LWPolID twice = face({c, d, c, a});  // c twice: its first corner is 0
    EXPECT_EQ(set(c, twice, 0.1f), EDERR_NONE);
    // a and c, last taken by the second face, are still corners of the first.
    EXPECT_EQ(set(c, first, 0.2f), EDERR_NONE);
    EXPECT_EQ(set(a, first, 0.3f), EDERR_NONE);
    EXPECT_EQ(set(a, twice, 0.4f), EDERR_NONE);
    EXPECT_EQ(set(d, first, 0.5f), EDERR_BADARGS);  // not a corner of it
    EXPECT_EQ(cornerUs(), (std::vector<float>{0.3f, -1, 0.2f, 0.1f, -1, -1, 0.4f}));
    ASSERT_EQ(host_.faults().size(), 1u);
    EXPECT_EQ(host_.faults()[0], "pntVPMap: the point is not a corner of the polygon");
}

TEST_P(EditCorners, ABuildTakenBackLeavesNothingTheNextBuildMistakesForItsOwn) {
    begin();
    const LWPntID a = point(0), b = point(1), c = point(2);
    face({a, b, c});
    takeBack();
    // The same point and polygon numbers, arranged otherwise.
    begin();
    const LWPntID a2 = point(0), b2 = point(1), c2 = point(2);
    ASSERT_EQ(a2, a);
    const LWPolID reversed = face({c2, b2, a2});
    const LWPolID other = face({b2, c2});
    EXPECT_EQ(set(a2, reversed, 0.7f), EDERR_NONE);
    EXPECT_EQ(set(a2, other, 0.8f), EDERR_BADARGS);
    EXPECT_EQ(cornerUs(), (std::vector<float>{-1, -1, 0.7f, -1, -1}));
}

TEST_P(EditCorners, OlderGeometryGetsItsValueAndGetsItsOldValueBack) {
    begin();
    const LWPntID a = point(0), b = point(1), c = point(2);
    const LWPolID kept = face({a, b, c});
    ASSERT_EQ(set(b, kept, 0.25f), EDERR_NONE);
    edit_.reset();
    host_.scene().commitEdit();
    host_.scene().beginEdit();
    begin();
    const LWPntID d = point(3);
    face({d, b});
    EXPECT_EQ(set(b, kept, 0.75f), EDERR_NONE);
    EXPECT_EQ(cornerUs(), (std::vector<float>{-1, 0.75f, -1, -1, -1}));
    takeBack();
    EXPECT_EQ(cornerUs(), (std::vector<float>{-1, 0.25f, -1}));
    EXPECT_TRUE(host_.faults().empty());
}

// A build sets a face's values just after adding it, usually corner by
// corner in either direction; any order, a point twice, a refused face in
// between and a face of many corners must give the same corners.
TEST_P(EditCorners, TheLastFacesValuesLandOnTheirCornersInAnyOrder) {
    begin();
    const LWPntID a = point(0), b = point(1), c = point(2), d = point(3), e = point(4);
    const LWPolID inOrder = face({a, b, c, d});  // corners 0-3
    for (float u : {0.1f, 0.2f, 0.3f, 0.4f})
        EXPECT_EQ(set(std::vector<LWPntID>{a, b, c, d}[int(u * 10) - 1], inOrder, u), EDERR_NONE);
    const LWPolID backwards = face({e, d, c, b});  // corners 4-7
    EXPECT_EQ(set(b, backwards, 0.5f), EDERR_NONE);
    EXPECT_EQ(set(c, backwards, 0.6f), EDERR_NONE);
    EXPECT_EQ(set(d, backwards, 0.7f), EDERR_NONE);
    EXPECT_EQ(set(e, backwards, 0.8f), EDERR_NONE);
    const LWPolID repeated = face({a, c, e, c, b});  // corners 8-12, c at 9 and 11
    for (LWPntID p : {a, c, e, c, b})
        EXPECT_EQ(set(p, repeated, p == c ? 0.9f : 0.05f), EDERR_NONE);
    const LWPolID jumps = face({a, b, c, d, e});  // corners 13-17
    EXPECT_EQ(set(e, jumps, 0.15f), EDERR_NONE);
    EXPECT_EQ(set(a, jumps, 0.25f), EDERR_NONE);
    EXPECT_EQ(set(c, jumps, 0.35f), EDERR_NONE);
    LWPntID bad[2] = {a, reinterpret_cast<LWPntID>(uintptr_t(999))};
    EXPECT_EQ(op().addFace(op().state, "s", 2, bad), nullptr);
    EXPECT_EQ(set(d, jumps, 0.45f), EDERR_NONE);  // still the last face added
    // 70 corners, a at the first and the last: more than a quick path keeps.
    std::vector<LWPntID> ring{a};
    for (int i = 0; i < 68; ++i)
        ring.push_back(point(10 + i));
    ring.push_back(a);
    const LWPolID large = face(ring);  // corners 18-87
    for (std::size_t i = 0; i < ring.size(); ++i)
        EXPECT_EQ(set(ring[i], large, i == 0 ? 0.55f : 0.65f), EDERR_NONE);

    std::vector<float> expected{0.1f,  0.2f, 0.3f,  0.4f,           // in order
                                0.8f,  0.7f, 0.6f,  0.5f,           // backwards
                                0.05f, 0.9f, 0.05f, -1,    0.05f,   // c's first corner only
                                0.25f, -1,   0.35f, 0.45f, 0.15f};  // jumps
    expected.push_back(0.65f);                                      // a again: its first corner
    expected.insert(expected.end(), 68, 0.65f);
    expected.push_back(-1);
    EXPECT_EQ(cornerUs(), expected);
    ASSERT_EQ(host_.faults().size(), 1u);  // the refused face
}

// A point of older geometry twice in the face just added: its value goes to
// the first of the two corners, as for a point of this build.
TEST_P(EditCorners, AnOlderPointTwiceInTheLastFaceTakesItsFirstCorner) {
    begin();
    const LWPntID kept = point(0);
    edit_.reset();
    host_.scene().commitEdit();
    host_.scene().beginEdit();
    begin();
    const LWPntID b = point(1);
    const LWPolID polygon = face({kept, b, kept});
    EXPECT_EQ(set(kept, polygon, 0.1f), EDERR_NONE);
    EXPECT_EQ(set(b, polygon, 0.2f), EDERR_NONE);
    EXPECT_EQ(set(kept, polygon, 0.3f), EDERR_NONE);
    EXPECT_EQ(cornerUs(), (std::vector<float>{0.3f, 0.2f, -1}));
    EXPECT_TRUE(host_.faults().empty());
}

INSTANTIATE_TEST_SUITE_P(MapNamed, EditCorners, ::testing::Values(true, false),
                         [](const auto &info) {
                             return info.param ? "FromReadOnlyMemory" : "FromABuffer";
                         });

}  // namespace
