// The numeric panel as the host sees it, and its edits through the host.
#include <cmath>
#include <cstring>

#include "panel/panel.h"
#include "support.h"

using testing_support::ToolSession;
namespace {

// An id as its four letters read, first letter highest.
constexpr uint32_t fourCC(const char (&code)[5]) {
    return LWID_(code[0], code[1], code[2], code[3]);
}

}  // namespace

namespace {

int rawSet(ToolSession &s, uint32_t id, void *value) {
    modeler::Panel *panel = s.driver.numericPanel();
    return panel->set(panel->instance, id, value);
}

}  // namespace

TEST(Panel, DescribesElevenValuesAHiddenControlAndTheTypeChoices) {
    ToolSession s;
    modeler::Panel *panel = s.driver.numericPanel();
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->type, LWXP_VIEW);
    const char *labels[] = {"Axis",        "Type",          "MinSize",        "MaxSize",
                            "Rotation",    "Book Segments", "Surface Prefix", "Random Front",
                            "Random Back", "Random Top",    "Random Bottom",  "--hidden--"};
    const char *types[] = {"integer", "integer", "float", "float", "angle", "integer",
                           "string",  "float",   "float", "float", "float", ""};
    ASSERT_EQ(panel->controls.size(), 12u);
    for (std::size_t i = 0; i < 12; ++i) {
        EXPECT_EQ(panel->controls[i].label, labels[i]);
        EXPECT_EQ(panel->controls[i].dataType, types[i]) << labels[i];
        EXPECT_EQ(panel->controls[i].hidden, i == 11) << labels[i];
    }
    EXPECT_EQ(panel->controls[0].id, 0x61786969u);
    EXPECT_EQ(panel->controls[0].controlClass, "axis");
    EXPECT_EQ(panel->controls[1].controlClass, "iPopChoice");
    EXPECT_EQ(panel->controls[1].choices,
              (std::vector<std::string>{"Hardcover", "Softcover", "Both"}));
    EXPECT_EQ(panel->controls[11].id, fourCC("acti"));
}

TEST(Panel, RandomFractionsAreClampedToHalf) {
    ToolSession s;
    struct Case {
        const char *text;
        double stored;
    } cases[] = {{"0.7", 0.5}, {"-0.2", 0}, {"0.5", 0.5}, {"0", 0}, {"0.25", 0.25}};
    for (const char *label : {"Random Front", "Random Back", "Random Top", "Random Bottom"}) {
        for (const Case &c : cases) {
            ASSERT_FALSE(s.driver.setPanelValue(label, c.text));
            const modeler::PanelControl *control = s.driver.numericPanel()->controlByLabel(label);
            const double stored = *static_cast<double *>(
                s.driver.numericPanel()->get(s.driver.instance(), control->id));
            EXPECT_EQ(stored, c.stored) << label << " " << c.text;
        }
    }
    EXPECT_EQ(s.tool().randomFront, 0.25);
}

TEST(Panel, UnknownIdsAndTheHiddenControlAreNotServed) {
    ToolSession s;
    const varlobooks::BookTool before = s.tool();
    int value = 1;
    for (uint32_t id : {fourCC("acti"), fourCC("zzzz"), 0u}) {
        EXPECT_EQ(varlobooks::panelGet(s.driver.instance(), id), nullptr);
        EXPECT_EQ(rawSet(s, id, &value), 0);
    }
    EXPECT_EQ(std::memcmp(&before, &s.tool(), sizeof before), 0);
}

TEST(Panel, EditsStoreWhatTheyShow) {
    ToolSession s;
    EXPECT_FALSE(s.driver.setPanelValue("Type", "Softcover"));
    EXPECT_EQ(s.tool().bookType, 1);
    EXPECT_FALSE(s.driver.setPanelValue("Axis", "Z"));
    EXPECT_EQ(s.tool().axis, 2);
    EXPECT_FALSE(s.driver.setPanelValue("Rotation", "90"));
    EXPECT_EQ(s.tool().rotation, 1.5707963267948966);
    EXPECT_FALSE(s.driver.setPanelValue("Book Segments", "-4"));
    EXPECT_EQ(s.tool().segments, -4);
    EXPECT_FALSE(s.driver.setPanelValue("MinSize", "0.2"));
    EXPECT_EQ(s.tool().minSize, 0.2) << "MinSize above MaxSize is stored as it is";
    EXPECT_EQ(s.tool().maxSize, 0.08);
}

TEST(Panel, PrefixIsStoredWholeUpTo127Characters) {
    ToolSession s;
    const std::string longest(127, 'p');
    EXPECT_FALSE(s.driver.setPanelValue("Surface Prefix", longest));
    EXPECT_EQ(std::string(s.tool().surfacePrefix), longest);
    const std::string tooLong(300, 'q');
    EXPECT_FALSE(s.driver.setPanelValue("Surface Prefix", tooLong));
    EXPECT_EQ(std::string(s.tool().surfacePrefix), std::string(127, 'q'));
    EXPECT_EQ(s.tool().surfacePrefix[127], '\0');
}

TEST(Panel, ASetWithTheSameValueStillRebuilds) {
    ToolSession s;
    s.driver.funcs().event(s.driver.instance(), LWTOOL_EVENT_ACTIVATE);
    s.driver.end(true);
    ASSERT_EQ(s.tool().updateCode, 0);
    const std::size_t builds = s.driver.builds().size();
    EXPECT_FALSE(s.driver.setPanelValue("MaxSize", "0.08"));
    EXPECT_EQ(s.tool().updateCode, 1);
    EXPECT_EQ(s.tool().dirtyCode, 3);
    EXPECT_EQ(s.driver.builds().size(), builds + 1);
}

TEST(Panel, NonFiniteNumbersAreRefusedAndNothingRebuilds) {
    ToolSession s;
    s.driver.end(true);
    const std::size_t builds = s.driver.builds().size();
    for (double bad : {std::nan(""), HUGE_VAL, -HUGE_VAL}) {
        for (uint32_t id : {fourCC("sids"), fourCC("cseg"), fourCC("radi"), fourCC("rafr")}) {
            EXPECT_EQ(rawSet(s, id, &bad), 0);
        }
    }
    EXPECT_EQ(s.tool().minSize, 0.005);
    EXPECT_EQ(s.tool().maxSize, 0.08);
    EXPECT_EQ(s.tool().rotation, 0.0);
    EXPECT_EQ(s.tool().randomFront, 0.2);
    EXPECT_EQ(s.tool().updateCode, 0);
    EXPECT_EQ(s.driver.builds().size(), builds);
    // The host does not let such a value through either.
    EXPECT_TRUE(s.driver.setPanelValue("MinSize", "nan"));
}

TEST(PanelHints, HostReadsTitleHiddenAndChoicesAndStopsAtAShortList) {
    modeler::Host host;
    modeler::Host::Serving serving{host};
    LWXPanelControl controls[] = {
        {7, "Seven", "integer"}, {9, "Nine", "iPopChoice"}, {0, nullptr, nullptr}};
    modeler::Panels &panels = host.panels();
    modeler::Panel &panel = *panels.find(panels.create(LWXP_FORM, controls));
    const char *choices[] = {"A", "B", nullptr};
    const LWXPanelHint hints[] = {XPHINT_LABEL,
                                  0,
                                  reinterpret_cast<LWXPanelHint>("Title"),
                                  XPHINT_HIDE,
                                  7,
                                  XPHINT_POPUP_CHOICES,
                                  9,
                                  reinterpret_cast<LWXPanelHint>(choices),
                                  0};
    panels.hint(panel, 0, hints);
    EXPECT_EQ(panel.title, "Title");
    EXPECT_TRUE(panel.controls[0].hidden);
    EXPECT_EQ(panel.controls[1].choices, (std::vector<std::string>{"A", "B"}));
    EXPECT_TRUE(host.faults().empty());
    // A hint cut short by the list's end is reported, and nothing after it is read.
    const LWXPanelHint cut[] = {XPHINT_HIDE, 0};
    panels.hint(panel, 0, cut);
    ASSERT_EQ(host.faults().size(), 1u);
    EXPECT_EQ(host.faults()[0], "LWXPanel hint: the list ends inside hint 0x3D000E01");
    const LWXPanelHint unknown[] = {0x12345678, 0};
    panels.hint(panel, 0, unknown);
    EXPECT_EQ(host.faults().size(), 2u);
}
