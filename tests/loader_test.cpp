// The loader on good and bad module files, and the modeler command's errors.

#include <cstring>
#include <fstream>
#include <iostream>
#include <vector>

#include "support.h"

using modeler::LoadedModule;

namespace {

std::string loadError(const std::string &path) {
    auto loaded = LoadedModule::load(path);
    auto *error = std::get_if<std::string>(&loaded);
    return error ? *error : std::string("loaded");
}

}  // namespace

TEST(Loader, ListsTheOneBookServer) {
    auto module = testing_support::loadModule();
    ASSERT_TRUE(module);
    ASSERT_EQ(module->servers().size(), 1u);
    EXPECT_EQ(module->servers()[0].className, "MeshEditTool");
    EXPECT_EQ(module->servers()[0].name, "varlobooks");
    EXPECT_TRUE(module->hasClock());
    EXPECT_EQ(module->find("MeshEditTool", "other"), nullptr);
}

TEST(Loader, VersionTextIsReadOnlyFromTheModulesConstants) {
    auto ours = testing_support::loadModule();
    ASSERT_TRUE(ours);
    EXPECT_EQ(ours->version(), "varlobooks " PROJECT_VERSION);
    const std::pair<const char *, const char *> cases[] = {
        {FIXTURE_DIR "/fixture_version" MODULE_SUFFIX, "fixture 2.3.4"},
        // Writable data may change under the host: not taken.
        {FIXTURE_DIR "/fixture_version_writable" MODULE_SUFFIX, ""},
        {FIXTURE_DIR "/fixture_version_control" MODULE_SUFFIX, ""},
        {FIXTURE_DIR "/fixture_version_long" MODULE_SUFFIX, ""},
        {FIXTURE_DIR "/fixture_other_server" MODULE_SUFFIX, ""},  // none exported
    };
    for (const auto &[path, version] : cases) {
        auto loaded = LoadedModule::load(path);
        auto *module = std::get_if<std::unique_ptr<LoadedModule>>(&loaded);
        ASSERT_TRUE(module) << std::get<std::string>(loaded);
        EXPECT_EQ((*module)->version(), version) << path;
    }
}

TEST(Loader, ModelerVersionNamesTheProgramAndItsModule) {
    const auto result = testing_support::runModeler("--version");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output,
              "modeler " PROJECT_VERSION ", module varlobooks " PROJECT_VERSION "\n");
    const auto info = testing_support::runModeler("info");
    EXPECT_NE(info.output.find(": varlobooks " PROJECT_VERSION "\n"), std::string::npos)
        << info.output;
}

TEST(Loader, BadFilesGetOneLineErrorsNamingFileAndReason) {
    const std::string folder = testing_support::freshFolder("loader");
    const std::string text = folder + "/notes.so";
    std::ofstream(text) << "not a shared object\n";
    struct Case {
        std::string path;
        std::string reason;
    } cases[] = {
#ifdef _WIN32
        {text, "not a loadable module (not a PE file)"},
#else
        {text, "not a loadable module (not an ELF file)"},
#endif
        {folder + "/missing.so", "no such file"},
        {folder, "not a file"},
        {FIXTURE_DIR "/fixture_no_descriptor" MODULE_SUFFIX, "no module descriptor"},
        {FIXTURE_DIR "/fixture_bad_sync" MODULE_SUFFIX, "wrong synchronisation word 0x12345678"},
        {FIXTURE_DIR "/fixture_bad_version" MODULE_SUFFIX, "unsupported system version 7"},
        {FIXTURE_DIR "/fixture_other_machine" MODULE_SUFFIX,
         "built for another machine (type 0x00000301, expected 0x00000300)"},
    };
    for (const Case &c : cases) {
        const std::string error = loadError(c.path);
        EXPECT_EQ(error.rfind(c.path + ": ", 0), 0u) << error;
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }
}

TEST(Loader, ModelerCommandFailsCleanlyOnBadModules) {
    const testing_support::CommandResult other = testing_support::runModeler(
        "fill --box 0,0,0:1,1,1 -o /tmp/varlobooks_never.json --module '" FIXTURE_DIR
        "/fixture_other_server" MODULE_SUFFIX "'");
    EXPECT_EQ(other.status, 1);
    EXPECT_NE(other.output.find("no MeshEditTool server \"varlobooks\""), std::string::npos)
        << other.output;
    const testing_support::CommandResult partial = testing_support::runModeler(
        "fill --box 0,0,0:1,1,1 -o /tmp/varlobooks_never.json --module '" FIXTURE_DIR
        "/fixture_partial" MODULE_SUFFIX "'");
    EXPECT_EQ(partial.status, 1);
    EXPECT_NE(partial.output.find("the tool does not activate (result 0; plug-in fault: activation "
                                  "left the build slot empty)"),
              std::string::npos)
        << partial.output;
    const testing_support::CommandResult bad =
        testing_support::runModeler("info '" FIXTURE_DIR "/fixture_bad_sync" MODULE_SUFFIX "'");
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.output, "modeler: " FIXTURE_DIR "/fixture_bad_sync" MODULE_SUFFIX
                          ": wrong synchronisation word 0x12345678, expected 0x04121994\n");
    const testing_support::CommandResult info = testing_support::runModeler("info");
    EXPECT_EQ(info.status, 0);
    EXPECT_NE(info.output.find("MeshEditTool  \"varlobooks\""), std::string::npos) << info.output;
    const testing_support::CommandResult usage = testing_support::runModeler("fill --seed x");
    EXPECT_EQ(usage.status, 2) << usage.output;
}

TEST(Loader, BrokenDescriptorsAndFailedStartupsAreRefusedCleanly) {
    const std::string mark = testing_support::freshFolder("shutdown_mark") + "/called";
    testing_support::setEnvironment("FIXTURE_SHUTDOWN_MARK", mark.c_str());
    struct Case {
        const char *fixture;
        const char *reason;  // empty: it loads
    } cases[] = {
        {"fixture_no_startup", "descriptor lacks startup or server list"},
        {"fixture_endless_list", "server list has no end"},
        // Pointers that lie, refused before anything is read or called.
        {"fixture_servers_at_0x10", "its server list is not in its data"},
        {"fixture_servers_in_code", "its server list is not in its data"},
        {"fixture_class_name_garbage",
         "server entry 0's class or name is not a text in its memory"},
        {"fixture_startup_elsewhere", "the descriptor's startup or shutdown is not in its code"},
        {"fixture_activate_elsewhere", "server entry 0's activation function is not in its code"},
        {"fixture_descriptor_function",
         "its descriptor (" MODULE_DESCRIPTOR_SYMBOL ") is not a record in its data"},
        {"fixture_startup_fails", "module startup failed"},
        {"fixture_other_server", ""},
    };
    for (const Case &c : cases) {
        std::filesystem::remove(mark);
        const std::string path = std::string(FIXTURE_DIR "/") + c.fixture + MODULE_SUFFIX;
        const std::string error = loadError(path);
        if (*c.reason) {
            EXPECT_EQ(error, path + ": " + c.reason);
            // A module that did not start is unloaded without its shutdown.
            EXPECT_FALSE(std::filesystem::exists(mark)) << c.fixture;
        } else {
            EXPECT_EQ(error, "loaded");
            EXPECT_TRUE(std::filesystem::exists(mark)) << "a started module is shut down";
        }
    }
    testing_support::setEnvironment("FIXTURE_SHUTDOWN_MARK", nullptr);
}

// A module cut short anywhere is refused with a reason, never mapped past
// its end (which kills the host inside the system's loader).
TEST(Loader, EveryTruncationOfTheModuleIsRefusedOrLoadsWhole) {
    const std::string whole = testing_support::readFile(VARLOBOOKS_MODULE_PATH);
    ASSERT_GT(whole.size(), 8192u);
    const std::string path = testing_support::freshFolder("truncated") + "/cut.so";
    int refused = 0, loaded = 0;
    for (std::size_t length = 0; length < whole.size(); length += length < 256 ? 7 : 4093) {
        std::ofstream(path, std::ios::binary | std::ios::trunc).write(whole.data(), length);
        const std::string error = loadError(path);
        if (error == "loaded") {
            ++loaded;  // only debug sections were cut
        } else {
            ++refused;
            EXPECT_EQ(error.rfind(path + ": not a loadable module (", 0), 0u) << error;
        }
    }
    EXPECT_GT(refused, 10);
    EXPECT_EQ(testing_support::runModeler("info '" + path + "'").status, loaded ? 0 : 1);
}

#ifndef _WIN32
// A module that ends the process while it starts, with status 0, must not
// pass its trial for one that loaded: the host would load it and end too.
TEST(Loader, AModuleThatEndsItsTrialEarlyIsRefused) {
    const std::string path = FIXTURE_DIR "/fixture_startup_exits" MODULE_SUFFIX;
    const testing_support::CommandResult info = testing_support::runModeler("info '" + path + "'");
    EXPECT_EQ(info.status, 1) << info.output;
    EXPECT_NE(info.output.find(path + ": it ended its trial process before it had loaded and "
                                      "started"),
              std::string::npos)
        << info.output;
}

// Modules whose dynamic section, symbol tables or relocations are corrupt:
// loaded first in a trial process, none of them crashes or aborts the host
// inside the system's loader (without the trial, a third of them did).
TEST(Loader, NoCorruptModuleCrashesTheHost) {
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
    // The fixture is instrumented too, and a mutant that loads registers
    // its globals with AddressSanitizer in ways it reports as violations:
    // the sanitizer's own check, not the host's loading, is what fails.
    GTEST_SKIP() << "a sanitized host cannot load mutants of sanitized modules";
#endif
#endif
    const std::string original = FIXTURE_DIR "/fixture_other_server" MODULE_SUFFIX;
    std::ifstream in(original, std::ios::binary);
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                           std::istreambuf_iterator<char>());
    ASSERT_GT(bytes.size(), 0x1000u);
    // The loader's tables: from the program headers' end to the first page
    // (hash tables, dynamic symbols and strings, relocations), and the
    // dynamic section.
    uint64_t programHeaders = 0;
    uint16_t headerSize = 0, headerCount = 0;
    std::memcpy(&programHeaders, &bytes[0x20], 8);
    std::memcpy(&headerSize, &bytes[0x36], 2);
    std::memcpy(&headerCount, &bytes[0x38], 2);
    std::vector<std::pair<std::size_t, std::size_t>> regions = {
        {programHeaders + std::size_t(headerSize) * headerCount, 0x1000}};
    for (uint16_t i = 0; i < headerCount; ++i) {
        const std::size_t at = programHeaders + std::size_t(i) * headerSize;
        uint32_t type = 0;
        uint64_t offset = 0, size = 0;
        std::memcpy(&type, &bytes[at], 4);
        std::memcpy(&offset, &bytes[at + 8], 8);
        std::memcpy(&size, &bytes[at + 32], 8);
        if (type == 2 /* PT_DYNAMIC */) regions.push_back({offset, offset + size});
    }
    const std::string folder = testing_support::freshFolder("corrupt-modules");
    uint64_t state = 0x2545F4914F6CDD1Dull;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    int loaded = 0, refused = 0, crashedApart = 0;
    for (int mutant = 0; mutant < 300; ++mutant) {
        std::vector<unsigned char> changed = bytes;
        const auto &[from, to] = regions[next() % regions.size()];
        for (uint64_t n = 1 + next() % 4; n > 0; --n)
            changed[from + next() % (to - from)] ^= static_cast<unsigned char>(1u << (next() % 8));
        const std::string path = folder + "/mutant" + std::to_string(mutant) + MODULE_SUFFIX;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char *>(changed.data()), std::streamsize(changed.size()));
        const std::string error = loadError(path);
        if (error == "loaded") {
            ++loaded;
        } else {
            ++refused;
            EXPECT_EQ(error.rfind(path + ": ", 0), 0u) << error;
            if (error.find("in a trial process") != std::string::npos) ++crashedApart;
        }
    }
    std::cout << loaded << " mutants loaded, " << refused << " refused, " << crashedApart
              << " of them after crashing their trial\n";
    EXPECT_GT(crashedApart, 0) << "the mutants reach the loader's crashes";
}
#endif
