// Presses, moves and handle drags through the real module's callbacks.
#include "support.h"

using testing_support::ToolSession;

namespace {

struct Pointer {
    ToolSession &s;
    ToolEvent at(double x, double y, double z) {
        ToolEvent e{};
        e.position[0] = x;
        e.position[1] = y;
        e.position[2] = z;
        e.viewAxis = -1;
        return e;
    }
    int press(double x, double y, double z) {
        ToolEvent e = at(x, y, z);
        return s.driver.funcs().start(s.driver.instance(), &e);
    }
    void move(double x, double y, double z) {
        ToolEvent e = at(x, y, z);
        s.driver.funcs().move(s.driver.instance(), &e);
    }
    int drag(int handle, ToolEvent e) {
        return s.driver.funcs().adjust(s.driver.instance(), &e, handle);
    }
    std::array<double, 3> handle(int index, int *priority = nullptr) {
        std::array<double, 3> pos{-1, -1, -1};
        ToolEvent e{};
        const int p = s.driver.funcs().handle(s.driver.instance(), &e, index, pos.data());
        if (priority) *priority = p;
        return pos;
    }
    int count() {
        ToolEvent e{};
        return s.driver.funcs().count(s.driver.instance(), &e);
    }
};

void expectBox(const varlobooks::BookTool &t, std::array<float, 3> lo, std::array<float, 3> hi) {
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(t.boxMin[i], lo[i]) << "boxMin " << i;
        EXPECT_EQ(t.boxMax[i], hi[i]) << "boxMax " << i;
    }
}

}  // namespace

TEST(Handles, FirstPressPlacesTheBoxAndAMoveSetsItsFarCorner) {
    ToolSession s;
    s.host.setClock(1000);
    Pointer p{s};
    EXPECT_EQ(p.count(), 0);
    EXPECT_EQ(p.press(1, 2, 3), 0);
    expectBox(s.tool(), {1, 2, 3}, {1.25f, 2.25f, 3.25f});
    EXPECT_EQ(s.tool().boxStage, 1);
    EXPECT_EQ(s.tool().active, 1);
    EXPECT_EQ(s.tool().seed, 1000);
    int priority = 0;
    EXPECT_EQ(p.handle(0, &priority), (std::array<double, 3>{1.125, 2.125, 3.125}));
    EXPECT_EQ(priority, 1);
    EXPECT_EQ(p.count(), 9);

    s.host.setClock(1005);
    EXPECT_EQ(p.press(-4, -4, -4), 0);
    expectBox(s.tool(), {1, 2, 3}, {1.25f, 2.25f, 3.25f});
    EXPECT_EQ(s.tool().seed, 1005) << "a new press takes the clock's new time";

    p.move(4, 5, 6);
    expectBox(s.tool(), {1, 2, 3}, {4, 5, 6});
    s.tool().updateCode = 0;
    p.move(7, 8, 9);
    expectBox(s.tool(), {1, 2, 3}, {4, 5, 6});
    EXPECT_EQ(s.tool().updateCode, 1);
    EXPECT_EQ(s.tool().boxStage, 2);
}

TEST(Handles, CornerDragMayCrossTheOppositeCorner) {
    ToolSession s;
    Pointer p{s};
    p.press(1, 2, 3);
    EXPECT_EQ(p.drag(3, p.at(0, 0, 0)), 3);
    expectBox(s.tool(), {1, 2, 0}, {0, 0, 3.25f});
    EXPECT_EQ(p.handle(7), (std::array<double, 3>{0, 0, 3.25}));
    int priority = 0;
    p.handle(8, &priority);
    EXPECT_EQ(priority, 9);
    // An index past the handles changes nothing and writes nothing.
    const auto before = s.tool();
    EXPECT_EQ(p.handle(9), (std::array<double, 3>{-1, -1, -1}));
    EXPECT_EQ(p.drag(12, p.at(5, 5, 5)), 12);
    expectBox(s.tool(), {before.boxMin[0], before.boxMin[1], before.boxMin[2]},
              {before.boxMax[0], before.boxMax[1], before.boxMax[2]});
}

TEST(Handles, CentreDragMovesTheBoxKeepingItsSize) {
    ToolSession s;
    Pointer p{s};
    p.press(1, 2, 3);
    p.move(4, 7, 3.5);
    p.drag(0, p.at(10, 10, 10));
    const auto centre = p.handle(0);
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(centre[i], 10, 1e-5);
    EXPECT_NEAR(s.tool().boxMax[0] - s.tool().boxMin[0], 3, 1e-5);
    EXPECT_NEAR(s.tool().boxMax[1] - s.tool().boxMin[1], 5, 1e-5);
    EXPECT_NEAR(s.tool().boxMax[2] - s.tool().boxMin[2], 0.5, 1e-5);
}

TEST(Handles, ConstraintHoldsOneInPlaneAxis) {
    struct Case {
        int viewAxis, flags;
        std::array<double, 3> expected;
    } cases[] = {
        {2, LWTOOLF_CONSTRAIN | LWTOOLF_HOLD_FIRST, {4, 6, 7}},
        {2, LWTOOLF_CONSTRAIN | LWTOOLF_HOLD_SECOND, {5, 5, 7}},
        {2, LWTOOLF_HOLD_FIRST, {5, 6, 7}},
        {-1, LWTOOLF_CONSTRAIN | LWTOOLF_HOLD_FIRST, {5, 6, 7}},
        {0, LWTOOLF_CONSTRAIN | LWTOOLF_HOLD_FIRST, {5, 5, 7}},
        {1, LWTOOLF_CONSTRAIN | LWTOOLF_HOLD_SECOND, {4, 6, 7}},
    };
    for (const Case &c : cases) {
        ToolSession s;
        Pointer p{s};
        p.press(0, 0, 0);
        ToolEvent e = p.at(5, 6, 7);
        e.delta[0] = e.delta[1] = e.delta[2] = 1;
        e.viewAxis = c.viewAxis;
        e.flags = c.flags;
        p.drag(7, e);
        EXPECT_EQ(p.handle(7), c.expected) << "view " << c.viewAxis << " flags " << c.flags;
    }
}

TEST(Handles, CountFollowsTheEdit) {
    ToolSession s;
    Pointer p{s};
    EXPECT_EQ(p.count(), 0);
    s.driver.funcs().event(s.driver.instance(), LWTOOL_EVENT_ACTIVATE);
    EXPECT_EQ(p.count(), 9);
    s.driver.record().end(s.driver.instance(), 1);
    EXPECT_EQ(p.count(), 0);
    p.press(0, 0, 0);
    EXPECT_EQ(p.count(), 9) << "a press after end makes the tool active again";
}
