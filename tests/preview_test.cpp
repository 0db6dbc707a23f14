// The wireframe preview's exact calls, recorded by the host's wire access.
#include "modeler/services/wire_recorder.h"
#include "support.h"

using modeler::WireCall;
using testing_support::ToolSession;

namespace {

std::vector<WireCall> draw(ToolSession &s) {
    modeler::WireRecorder recorder;
    s.driver.funcs().draw(s.driver.instance(), recorder.access());
    return recorder.calls();
}

}  // namespace

TEST(Preview, DrawsTwoFaceLoopsFourEdgesAndTheCentreCircle) {
    ToolSession s;
    s.tool().active = 1;
    const float lo[3] = {1, 2, 3}, hi[3] = {2, 4, 7};
    std::copy(lo, lo + 3, s.tool().boxMin);
    std::copy(hi, hi + 3, s.tool().boxMax);
    const auto calls = draw(s);
    using C = std::array<float, 3>;
    const C c[8] = {{1, 2, 3}, {1, 4, 3}, {2, 4, 3}, {2, 2, 3},
                    {1, 2, 7}, {1, 4, 7}, {2, 4, 7}, {2, 2, 7}};
    const std::vector<std::pair<WireCall::Kind, C>> expected = {
        {WireCall::MoveTo, c[0]},        {WireCall::LineTo, c[1]}, {WireCall::LineTo, c[2]},
        {WireCall::LineTo, c[3]},        {WireCall::LineTo, c[0]}, {WireCall::MoveTo, c[4]},
        {WireCall::LineTo, c[5]},        {WireCall::LineTo, c[6]}, {WireCall::LineTo, c[7]},
        {WireCall::LineTo, c[4]},        {WireCall::MoveTo, c[0]}, {WireCall::LineTo, c[4]},
        {WireCall::MoveTo, c[1]},        {WireCall::LineTo, c[5]}, {WireCall::MoveTo, c[2]},
        {WireCall::LineTo, c[6]},        {WireCall::MoveTo, c[3]}, {WireCall::LineTo, c[7]},
        {WireCall::MoveTo, {1.5f, 3, 5}}};
    ASSERT_EQ(calls.size(), expected.size() + 1);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(calls[i].kind, expected[i].first) << i;
        EXPECT_EQ(calls[i].point, expected[i].second) << i;
        EXPECT_EQ(calls[i].style, i + 1 == expected.size() ? 1 : 0) << i;
    }
    EXPECT_EQ(calls.back().kind, WireCall::Circle);
    EXPECT_EQ(calls.back().radius, 0.1);
}

TEST(Preview, NothingWhileInactive) {
    ToolSession s;
    s.tool().boxMax[0] = 1;
    EXPECT_TRUE(draw(s).empty());
}

TEST(Preview, FlatAndUnsortedBoxesKeepEveryCall) {
    ToolSession s;
    s.tool().active = 1;
    const float lo[3] = {3, 2, 5}, hi[3] = {1, 4, 5};  // flat in z, x unsorted
    std::copy(lo, lo + 3, s.tool().boxMin);
    std::copy(hi, hi + 3, s.tool().boxMax);
    const auto calls = draw(s);
    ASSERT_EQ(calls.size(), 20u);
    EXPECT_EQ(calls[0].point, (std::array<float, 3>{3, 2, 5})) << "the minimum corner stays first";
    EXPECT_EQ(calls[2].point, (std::array<float, 3>{1, 4, 5}));
    EXPECT_EQ(calls[11].point, calls[10].point) << "z edges have length zero";
    EXPECT_EQ(calls[19].radius, 0.1);
}

TEST(Preview, HostRedrawsAfterEachChange) {
    ToolSession s;
    s.driver.press({0, 0, 0});
    EXPECT_EQ(s.driver.redraws(), 1u);
    EXPECT_EQ(s.driver.lastDrawing().size(), 20u);
    s.driver.end(true);
    EXPECT_EQ(s.driver.redraws(), 2u) << "dirty sticks, so the host redraws";
    EXPECT_TRUE(s.driver.lastDrawing().empty()) << "nothing is drawn once the edit ended";
}
