// Activation through the real module: which services it asks for and when,
// what it fills, and how it fails.
#include <cstring>
#include <sstream>

#include "modeler/services/service_host.h"
#include "module/activation.h"
#include "support.h"

using modeler::Host;
using modeler::ToolDriver;
using testing_support::loadModule;

namespace {

const std::vector<std::string> kRows1To6 = {"LWM: State Query 3",      "Surface Functions 4",
                                            "Texture Functions 3",     "LW Image List 6",
                                            "SurfaceEditor Functions", "Scene Objects 6"};
const std::vector<std::string> kRows6To9 = {"Scene Objects 6", "LWXPanel", "Info Messages 2",
                                            "LWM: State Query 3"};

std::vector<std::string> concat(std::vector<std::string> a, const std::vector<std::string> &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

int activateRaw(const ServerRecord &server, Host &host, LWMeshEditTool &record, LWToolFuncs &funcs,
                int version = 1) {
    std::memset(&record, 0, sizeof record);
    std::memset(&funcs, 0, sizeof funcs);
    record.tool = &funcs;
    return server.activate(version, host.globalLookup(), &record, nullptr);
}

}  // namespace

TEST(Activation, HostWithoutAnyServiceFailsAfterAskingRowsOneToSix) {
    auto module = loadModule();
    Host host;
    Host::Serving serving{host};
    host.setLookupFilter([](std::string_view, int) { return true; });
    LWMeshEditTool record;
    LWToolFuncs funcs;
    EXPECT_EQ(activateRaw(testing_support::bookServer(*module), host, record, funcs),
              AFUNC_BADGLOBAL);
    EXPECT_EQ(host.lookups(), kRows1To6);
    EXPECT_EQ(record.instance, nullptr);
    EXPECT_EQ(record.test, nullptr);
    EXPECT_EQ(funcs.done, nullptr);
}

TEST(Activation, WithoutPanelServiceFillsEverySlotButHelpUpAndPanel) {
    auto module = loadModule();
    Host host;
    Host::Serving serving{host};
    host.withhold("LWXPanel");
    ToolDriver driver(host, testing_support::bookServer(*module));
    ASSERT_EQ(driver.activate(), AFUNC_OK);
    const LWToolFuncs &f = driver.funcs();
    EXPECT_TRUE(driver.instance() && driver.record().test && driver.record().build &&
                driver.record().end);
    EXPECT_TRUE(f.done && f.draw && f.dirty && f.count && f.handle && f.start && f.adjust &&
                f.down && f.move && f.event);
    EXPECT_EQ(f.start, f.down);
    EXPECT_EQ(f.help, nullptr);
    EXPECT_EQ(f.up, nullptr);
    EXPECT_EQ(f.panel, nullptr);
    // Leaving it without a panel service still releases the instance.
    EXPECT_TRUE(driver.done(std::string("/tmp")));
    EXPECT_TRUE(host.panels().posted().empty());
    EXPECT_TRUE(host.faults().empty());
}

TEST(Activation, SecondActivationAsksAgainOnlyForRowsThatCameBackNull) {
    auto module = loadModule();
    Host host;
    Host::Serving serving{host};
    host.withhold("Texture Functions 3");
    host.withhold("SurfaceEditor Functions");
    ToolDriver driver(host, testing_support::bookServer(*module));
    ASSERT_EQ(driver.activate(), AFUNC_OK);
    EXPECT_EQ(host.lookups(),
              concat({"LWM: State Query 3", "Surface Functions 4", "Texture Functions 3",
                      "LW Image List 6", "SurfaceEditor Functions"},
                     {"Scene Objects 6", "LWXPanel", "Info Messages 2", "LWM: State Query 3"}));
    driver.done(std::nullopt);
    host.clearLookups();
    ASSERT_EQ(driver.activate(), AFUNC_OK);
    EXPECT_EQ(host.lookups(),
              concat({"Texture Functions 3", "SurfaceEditor Functions"}, kRows6To9));
    driver.done(std::nullopt);
    host.clearLookups();
    ASSERT_EQ(driver.activate(), AFUNC_OK);
    EXPECT_EQ(host.lookups(),
              concat({"Texture Functions 3", "SurfaceEditor Functions"}, kRows6To9));
}

TEST(Activation, AnyVersionGivesTheSameResult) {
    auto module = loadModule();
    Host host;
    Host::Serving serving{host};
    for (int version : {-1, 0, 1, 6, 1 << 30}) {
        LWMeshEditTool record;
        LWToolFuncs funcs;
        ASSERT_EQ(activateRaw(testing_support::bookServer(*module), host, record, funcs, version),
                  AFUNC_OK);
        ASSERT_NE(record.instance, nullptr);
        funcs.done(record.instance);
    }
}

TEST(Activation, MissingSecondStateQueryFailsWithNothingFilled) {
    auto module = loadModule();
    Host host;
    Host::Serving serving{host};
    host.setLookupFilter([](std::string_view name, int occurrence) {
        return name == "LWM: State Query 3" && occurrence == 2;
    });
    LWMeshEditTool record;
    LWToolFuncs funcs;
    EXPECT_EQ(activateRaw(testing_support::bookServer(*module), host, record, funcs),
              AFUNC_BADGLOBAL);
    EXPECT_EQ(host.lookups(),
              concat({"LWM: State Query 3", "Surface Functions 4", "Texture Functions 3",
                      "LW Image List 6", "SurfaceEditor Functions"},
                     kRows6To9));
    const LWToolFuncs empty{};
    EXPECT_EQ(record.instance, nullptr);
    EXPECT_EQ(std::memcmp(&funcs, &empty, sizeof funcs), 0);
}

TEST(Activation, MissingSceneObjectsFails) {
    auto module = loadModule();
    Host host;
    Host::Serving serving{host};
    host.withhold("Scene Objects 6");
    ToolDriver driver(host, testing_support::bookServer(*module));
    EXPECT_EQ(driver.activate(), AFUNC_BADGLOBAL);
    EXPECT_FALSE(driver.inUse());
    EXPECT_TRUE(host.faults().empty());
}

TEST(Activation, FailedAllocationIsReportedAsFailureAndFillsNothing) {
    // The module's code linked into this test, so that the allocation can fail.
    Host host;
    Host::Serving serving{host};
    varlobooks::setBookToolAllocator([](std::size_t) -> void * { return nullptr; });
    LWMeshEditTool record{};
    LWToolFuncs funcs{};
    record.tool = &funcs;
    const int result = varlobooks::activateBookTool(1, host.globalLookup(), &record, nullptr);
    varlobooks::setBookToolAllocator(nullptr);
    EXPECT_EQ(result, AFUNC_NOMEMORY);
    EXPECT_EQ(record.instance, nullptr);
    EXPECT_EQ(record.build, nullptr);
    EXPECT_EQ(funcs.done, nullptr);
}

TEST(Activation, ModuleExportsOnlyItsDescriptorVersionAndClock) {
    SKIP_ON_WINDOWS(
        "nm lists ELF symbols; scripts/test.sh windows checks the DLL's exports with objdump");
    const auto listing =
        testing_support::shell("nm -D --defined-only '" VARLOBOOKS_MODULE_PATH "'");
    ASSERT_EQ(listing.status, 0) << listing.output;
    std::vector<std::string> symbols;
    std::istringstream lines(listing.output);
    for (std::string line; std::getline(lines, line);)
        symbols.push_back(line.substr(line.rfind(' ') + 1));
    std::vector<std::string> ours;
    for (const std::string &s : symbols) {
        // The sanitizers add their own entries to an instrumented module.
        if (s.rfind("__asan", 0) != 0 && s.rfind("__ubsan", 0) != 0 &&
            s.rfind("__odr_asan", 0) != 0) {
            ours.push_back(s);
        }
    }
    EXPECT_EQ(ours, (std::vector<std::string>{"_mod_descrip", "_mod_set_clock", "_mod_version"}));
}
