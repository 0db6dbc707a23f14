// The host checks the plug-in it drives: a tool that misbehaves in one way
// is reported, once and clearly, and the host carries on. The misbehaving
// tool is written here; the host sees only its server record.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "host/services.h"
#include "modeler/drive/tool_driver.h"
#include "modeler/services/service_host.h"

using modeler::Host;
using modeler::ToolDriver;

namespace {

enum class Misbehaviour {
    BadPointHandle,       // addFace with a point the layer never made
    CallAfterBuild,       // keeps the build's operations and uses them later
    NonFinitePoint,       // addPoint with a NaN
    NonFiniteValue,       // a UV value that is infinite
    ContextLeftOnDone,    // done leaves a texture context
    PanelLeftOnDone,      // done leaves a form panel
    UnknownTestAnswer,    // test answers 7
    FailedButWroteSlots,  // activation fails but fills slots
};

Misbehaviour gMode;
GlobalFunc *gGlobal;
MeshEditOp gKeptOp;  // what CallAfterBuild keeps
int gInstance;

int test(LWInstance) {
    return gMode == Misbehaviour::UnknownTestAnswer ? 7 : LWT_TEST_UPDATE;
}

int build(LWInstance, MeshEditOp *op) {
    double xyz[3] = {0, 0, 0};
    if (gMode == Misbehaviour::NonFinitePoint) xyz[1] = std::nan("");
    LWPntID point = op->addPoint(op->state, xyz);
    if (gMode == Misbehaviour::BadPointHandle) {
        LWPntID never[3] = {point, reinterpret_cast<LWPntID>(uintptr_t{999}), point};
        op->addFace(op->state, "s", 3, never);
    }
    if (gMode == Misbehaviour::NonFiniteValue) {
        float uv[2] = {HUGE_VALF, 0};
        op->pntVPMap(op->state, point, nullptr, LWVMAP_TXUV, "uv", 2, uv);
    }
    gKeptOp = *op;
    return 0;
}

void end(LWInstance, int) {}

void done(LWInstance) {
    if (gMode == Misbehaviour::ContextLeftOnDone) {
        auto *textures = static_cast<LWTextureFuncs *>(gGlobal(LWTEXTUREFUNCS_GLOBAL, 0));
        textures->contextCreate(LWTxtrParamFuncs{nullptr, nullptr, nullptr});
    }
    if (gMode == Misbehaviour::PanelLeftOnDone) {
        static LWXPanelControl controls[] = {{1, "Folder", "string"}, {0, nullptr, nullptr}};
        auto *xpanel = static_cast<LWXPanelFuncs *>(gGlobal(LWXPANELFUNCS_GLOBAL, 0));
        xpanel->create(LWXP_FORM, controls);
    }
}

void draw(LWInstance, LWWireDrawAccess *) {}
int dirty(LWInstance) {
    return 0;
}
int count(LWInstance, ToolEvent *) {
    return 0;
}
int handle(LWInstance, ToolEvent *, int, double *) {
    return 0;
}
int press(LWInstance, ToolEvent *) {
    return 0;
}
int adjust(LWInstance, ToolEvent *, int index) {
    return index;
}
void move(LWInstance, ToolEvent *) {
    if (gMode == Misbehaviour::CallAfterBuild) {
        double xyz[3] = {1, 1, 1};
        gKeptOp.addPoint(gKeptOp.state, xyz);
    }
}
void event(LWInstance, int) {}

int activate(int, GlobalFunc *global, void *local, void *) {
    gGlobal = global;
    auto *record = static_cast<LWMeshEditTool *>(local);
    record->test = test;
    if (gMode == Misbehaviour::FailedButWroteSlots) return AFUNC_BADGLOBAL;
    record->instance = &gInstance;
    record->build = build;
    record->end = end;
    *record->tool = LWToolFuncs{done,   draw,  nullptr, dirty,   count, handle, press,
                                adjust, press, move,    nullptr, event, nullptr};
    return AFUNC_OK;
}

ServerRecord gServer{"MeshEditTool", "misbehaving", activate, nullptr};

}  // namespace

TEST(HostFaults, EachMisbehaviourIsReportedClearly) {
    struct Case {
        Misbehaviour mode;
        std::function<void(ToolDriver &)> act;
        const char *fault;
    };
    const std::vector<Case> cases = {
        {Misbehaviour::BadPointHandle, [](ToolDriver &d) { d.event(LWTOOL_EVENT_ACTIVATE); },
         "addFace: point 1 is not a point of the layer"},
        {Misbehaviour::CallAfterBuild,
         [](ToolDriver &d) {
             d.event(LWTOOL_EVENT_ACTIVATE);
             d.move({0, 0, 0});
         },
         "addPoint called after its build returned"},
        {Misbehaviour::NonFinitePoint, [](ToolDriver &d) { d.event(LWTOOL_EVENT_ACTIVATE); },
         "addPoint: a coordinate is missing or not a finite number"},
        {Misbehaviour::NonFiniteValue, [](ToolDriver &d) { d.event(LWTOOL_EVENT_ACTIVATE); },
         "pntVPMap: a value of map \"uv\" is not finite"},
        {Misbehaviour::ContextLeftOnDone, [](ToolDriver &d) { d.done(std::nullopt); },
         "done left 1 texture contexts undestroyed"},
        {Misbehaviour::PanelLeftOnDone, [](ToolDriver &d) { d.done(std::nullopt); },
         "done left 1 panels undestroyed"},
        {Misbehaviour::UnknownTestAnswer, [](ToolDriver &d) { d.event(LWTOOL_EVENT_ACTIVATE); },
         "test answered 7, not 0, 1 or 3"},
    };
    for (const Case &c : cases) {
        gMode = c.mode;
        Host host;
        Host::Serving serving{host};
        {
            ToolDriver driver(host, gServer);
            ASSERT_EQ(driver.activate(), AFUNC_OK);
            c.act(driver);
        }
        ASSERT_FALSE(host.faults().empty()) << c.fault;
        EXPECT_EQ(host.faults().front(), c.fault);
    }
}

TEST(HostFaults, FailedActivationThatWroteIntoTheRecordIsReported) {
    gMode = Misbehaviour::FailedButWroteSlots;
    Host host;
    Host::Serving serving{host};
    ToolDriver driver(host, gServer);
    EXPECT_EQ(driver.activate(), AFUNC_BADGLOBAL);
    EXPECT_FALSE(driver.inUse());
    ASSERT_EQ(host.faults().size(), 1u);
    EXPECT_EQ(host.faults()[0], "activation failed with 2 but wrote into the record");
}

// The host reads a hint list word by word: wherever the list is cut (a 0
// put where the next word would be), it neither reads past the end nor
// takes a cut hint for a whole one.
TEST(HostFaults, EveryTruncatedHintListIsReadSafely) {
    static const char *choices[] = {"Hardcover", "Softcover", "Both", nullptr};
    static const char *title = "A title";
    const std::vector<LWXPanelHint> full = {XPHINT_HIDE,
                                            2,
                                            XPHINT_POPUP_CHOICES,
                                            1,
                                            reinterpret_cast<LWXPanelHint>(choices),
                                            XPHINT_LABEL,
                                            0,
                                            reinterpret_cast<LWXPanelHint>(title),
                                            XPHINT_CONTROL_LIST,
                                            1,
                                            2,
                                            0,
                                            XPHINT_FILE_REQUEST,
                                            1,
                                            2,
                                            reinterpret_cast<LWXPanelHint>(title),
                                            0};
    static LWXPanelControl controls[] = {
        {1, "Type", "iPopChoice"}, {2, "Hidden", "integer"}, {0, nullptr, nullptr}};
    for (std::size_t length = 0; length <= full.size(); ++length) {
        Host host;
        Host::Serving serving{host};
        auto &panels = host.panels();
        LWXPanelID id = panels.create(LWXP_FORM, controls);
        std::vector<LWXPanelHint> cut(full.begin(), full.begin() + length);
        cut.push_back(0);
        cut.push_back(0);  // room for a tag that reads its argument
        panels.hint(*panels.find(id), 0, cut.data());
        modeler::Panel &panel = *panels.find(id);
        // Only whole hints took effect.
        EXPECT_EQ(panel.control(2)->hidden, length >= 2) << length;
        EXPECT_EQ(panel.control(1)->choices.size(), length >= 5 ? 3u : 0u) << length;
        EXPECT_EQ(panel.title, length >= 8 ? title : "") << length;
        EXPECT_TRUE(panels.destroy(id));
    }
}
