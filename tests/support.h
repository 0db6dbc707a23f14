// Shared builders for the tests: the real module loaded by the host's
// loader, a host with the tool activated on it, and readers of the layer.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "modeler/drive/module_loader.h"
#include "modeler/drive/tool_driver.h"
#include "modeler/services/service_host.h"
#include "tool/book_tool.h"

namespace testing_support {

inline std::unique_ptr<modeler::LoadedModule> loadModule(
    const std::string &path = VARLOBOOKS_MODULE_PATH) {
    auto loaded = modeler::LoadedModule::load(path);
    if (auto *error = std::get_if<std::string>(&loaded)) {
        ADD_FAILURE() << *error;
        return nullptr;
    }
    return std::move(std::get<std::unique_ptr<modeler::LoadedModule>>(loaded));
}

inline const ServerRecord &bookServer(const modeler::LoadedModule &module) {
    const ServerRecord *server = module.find("MeshEditTool", "varlobooks");
    EXPECT_NE(server, nullptr);
    return *server;
}

// The real module, a host and the tool activated on it. Members go in the
// order they must be torn down in reverse: the tool, the host, the module.
struct ToolSession {
    std::unique_ptr<modeler::LoadedModule> module = loadModule();
    modeler::Host host;
    modeler::ToolDriver driver{host, bookServer(*module)};

    explicit ToolSession(bool activate = true) {
        if (activate) {
            EXPECT_EQ(driver.activate(), AFUNC_OK);
        }
    }
    ~ToolSession() {
        if (driver.inUse()) driver.done(std::nullopt);
        EXPECT_TRUE(host.faults().empty()) << host.faults().front();
    }
    varlobooks::BookTool &tool() { return *static_cast<varlobooks::BookTool *>(driver.instance()); }
    const modeler::Layer &layer() { return host.scene().layer(); }

    // Builds once with the given box and seed, as a press and move would set.
    void buildBox(std::array<float, 3> lo, std::array<float, 3> hi, int32_t seed = 0) {
        std::copy(lo.begin(), lo.end(), tool().boxMin);
        std::copy(hi.begin(), hi.end(), tool().boxMax);
        tool().seed = seed;
        driver.event(LWTOOL_EVENT_ACTIVATE);
    }
};

// A file's whole text.
inline std::string readFile(const std::string &path) {
    std::string text;
    if (std::FILE *f = std::fopen(path.c_str(), "rb")) {
        char buffer[65536];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
            text.append(buffer, n);
        std::fclose(f);
    }
    return text;
}

// A fresh empty folder under the test temporary folder, of this process
// only, so that test runs side by side never share one.
inline std::string freshFolder(const std::string &name) {
    const std::string path =
        ::testing::TempDir() + "varlobooks_" + std::to_string(getpid()) + "_" + name;
    std::string command = "rm -rf '" + path + "' && mkdir -p '" + path + "'";
    EXPECT_EQ(std::system(command.c_str()), 0);
    return path;
}

// Removes this process's folders when it ends.
struct FreshFolderCleanup {
    ~FreshFolderCleanup() {
        const std::string pattern =
            ::testing::TempDir() + "varlobooks_" + std::to_string(getpid()) + "_*";
        if (std::system(("rm -rf " + pattern).c_str()) != 0) std::fputs("cleanup failed\n", stderr);
    }
};
inline FreshFolderCleanup freshFolderCleanup;

}  // namespace testing_support
