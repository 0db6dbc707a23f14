// The update cycle's state table, driven through the real module's callbacks.
#include <cstring>

#include "support.h"

using testing_support::ToolSession;
using varlobooks::BookTool;

namespace {

struct Callbacks {
    ToolSession &s;
    int test() { return s.driver.record().test(s.driver.instance()); }
    int dirty() { return s.driver.funcs().dirty(s.driver.instance()); }
    void event(int code) { s.driver.funcs().event(s.driver.instance(), code); }
    void end(int keep) { s.driver.record().end(s.driver.instance(), keep); }
};

}  // namespace

TEST(UpdateCycle, FreshToolHasDefaultsAndNothingToDo) {
    ToolSession s;
    Callbacks c{s};
    const BookTool &t = s.tool();
    EXPECT_EQ(c.test(), 0);
    EXPECT_EQ(c.dirty(), 0);
    EXPECT_EQ(t.seed, 0);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(t.boxMin[i] == 0 && t.boxMax[i] == 0);
    EXPECT_EQ(t.active, 0);
    EXPECT_EQ(t.boxStage, 0);
    EXPECT_EQ(t.segments, 8);
    EXPECT_EQ(t.bookType, 2);
    EXPECT_EQ(t.axis, 0);
    EXPECT_STREQ(t.surfacePrefix, "book_");
    EXPECT_EQ(t.minSize, 0.005);
    EXPECT_EQ(t.maxSize, 0.08);
    EXPECT_EQ(t.randomBack, 0.1);
    EXPECT_EQ(t.randomFront, 0.2);
    EXPECT_EQ(t.randomTop, 0.2);
    EXPECT_EQ(t.randomBottom, 0.0);
    EXPECT_EQ(t.rotation, 0.0);
    EXPECT_EQ(t.coverUVMap, nullptr);
}

TEST(UpdateCycle, ActivateThenDropRejectsTheEdit) {
    ToolSession s;
    Callbacks c{s};
    c.event(LWTOOL_EVENT_ACTIVATE);
    EXPECT_EQ(c.test(), 1);
    EXPECT_EQ(c.dirty(), 3);
    EXPECT_EQ(s.tool().active, 1);
    c.event(LWTOOL_EVENT_DROP);
    EXPECT_EQ(c.test(), 3);
}

TEST(UpdateCycle, DropWhileInactiveChangesNothing) {
    ToolSession s;
    Callbacks c{s};
    BookTool before = s.tool();
    c.event(LWTOOL_EVENT_DROP);
    EXPECT_EQ(std::memcmp(&before, &s.tool(), sizeof before), 0);
    c.event(LWTOOL_EVENT_ACTIVATE);
    c.end(1);
    before = s.tool();
    c.event(LWTOOL_EVENT_DROP);
    EXPECT_EQ(std::memcmp(&before, &s.tool(), sizeof before), 0);
}

TEST(UpdateCycle, ResetAndUnknownCodesChangeNothingInAnyState) {
    ToolSession s;
    Callbacks c{s};
    for (int state = 0; state < 3; ++state) {
        if (state == 1) c.event(LWTOOL_EVENT_ACTIVATE);
        if (state == 2) c.event(LWTOOL_EVENT_DROP);
        const BookTool before = s.tool();
        for (int code : {1, 3, 7, -1, 1 << 20})
            c.event(code);
        EXPECT_EQ(std::memcmp(&before, &s.tool(), sizeof before), 0) << "state " << state;
    }
}

TEST(UpdateCycle, EndWithKeepOrDiscardLeavesIdenticalRecords) {
    ToolSession s;
    Callbacks c{s};
    c.event(LWTOOL_EVENT_ACTIVATE);
    const BookTool started = s.tool();
    c.end(0);
    const BookTool discarded = s.tool();
    s.tool() = started;
    c.end(1);
    EXPECT_EQ(std::memcmp(&discarded, &s.tool(), sizeof discarded), 0);
    EXPECT_EQ(c.test(), 0);
    EXPECT_EQ(s.tool().active, 0);
}

TEST(UpdateCycle, DirtySticksAndTestStaysOneAfterBuilds) {
    ToolSession s;
    Callbacks c{s};
    s.driver.event(LWTOOL_EVENT_ACTIVATE);  // the host builds and redraws
    ASSERT_EQ(s.driver.builds().size(), 1u);
    EXPECT_EQ(s.driver.redraws(), 1u);
    EXPECT_EQ(c.test(), 1);
    EXPECT_EQ(c.dirty(), 3);
    s.driver.end(true);
    EXPECT_EQ(c.test(), 0);
    EXPECT_EQ(c.dirty(), 3);
    // The host polls once per action: no further build after end.
    EXPECT_EQ(s.driver.builds().size(), 1u);
}

TEST(UpdateCycle, RejectTakesBackTheEditAndEndsIt) {
    ToolSession s;
    s.buildBox({0, 0, 0}, {1, 0.5f, 0.3f});
    ASSERT_GT(s.layer().points().size(), 0u);
    s.driver.event(LWTOOL_EVENT_DROP);
    EXPECT_EQ(s.layer().points().size(), 0u);
    EXPECT_EQ(s.tool().active, 0);
    EXPECT_EQ(s.driver.record().test(s.driver.instance()), 0);
}
