// Shared builders for the tests: the real module loaded by the host's
// loader, a host with the tool activated on it, and readers of the layer.
#pragma once

#include <gtest/gtest.h>
#ifdef _WIN32
#include <process.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
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
    modeler::Host::Serving serving{host};
    modeler::ToolDriver driver{host, bookServer(*module)};

    explicit ToolSession(bool activate = true) {
        host.addStableMemory(module->readOnlyMemory());
        driver.setCountShells(true);
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

// The folder of this process's temporary folders, so that test runs side
// by side never share one.
inline std::filesystem::path processFolder() {
#ifdef _WIN32
    const int process = _getpid();
#else
    const int process = getpid();
#endif
    return std::filesystem::path(::testing::TempDir()) / ("varlobooks_" + std::to_string(process));
}

// A fresh empty folder under the process's temporary folder.
inline std::string freshFolder(const std::string &name) {
    const std::filesystem::path path = processFolder() / name;
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
    std::filesystem::create_directories(path, ec);
    EXPECT_FALSE(ec) << path << ": " << ec.message();
    return path.string();
}

// Removes this process's folders when it ends.
struct FreshFolderCleanup {
    ~FreshFolderCleanup() {
        std::error_code ec;
        std::filesystem::remove_all(processFolder(), ec);
    }
};
inline FreshFolderCleanup freshFolderCleanup;

struct CommandResult {
    int status;          // the exit status; 128 + the signal when killed
    std::string output;  // stdout and stderr together
};

// Runs command through the shell. Commands are written for a POSIX shell;
// on Windows cmd.exe runs them, with double quotes where sh takes single
// ones (tests whose commands need more of sh are skipped there).
inline CommandResult shell(const std::string &command) {
    CommandResult result{-1, {}};
#ifdef _WIN32
    std::string line = command + " 2>&1";
    std::replace(line.begin(), line.end(), '\'', '"');
    // cmd.exe takes the outer quotes off a line that begins with one.
    std::FILE *pipe = _popen(("\"" + line + "\"").c_str(), "rb");
#else
    std::FILE *pipe = popen((command + " 2>&1").c_str(), "r");
#endif
    if (!pipe) return result;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        result.output.append(buffer, n);
#ifdef _WIN32
    result.status = _pclose(pipe);
    // The text the program wrote, without the line ends Windows adds.
    std::erase(result.output, '\r');
#else
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
#endif
    return result;
}

inline std::string modelerCommand(const std::string &arguments) {
    // Appended in steps: GCC 12 warns falsely on a chain of + here.
    std::string command = "'";
    command.append(MODELER_PATH).append("' ").append(arguments);
    return command;
}

// Sets or (with null) removes a variable of this process's environment.
inline void setEnvironment(const char *name, const char *value) {
#ifdef _WIN32
    _putenv_s(name, value ? value : "");
#else
    if (value)
        setenv(name, value, 1);
    else
        unsetenv(name);
#endif
}

// Skips a test that needs what only a POSIX system has, saying what.
#ifdef _WIN32
#define SKIP_ON_WINDOWS(why) GTEST_SKIP() << "POSIX only: " << why
#else
#define SKIP_ON_WINDOWS(why) \
    do {                     \
    } while (false)
#endif

// The built modeler program with arguments (quoted by the caller).
inline CommandResult runModeler(const std::string &arguments) {
    return shell(modelerCommand(arguments));
}

// Whether the glTF validator is installed (scripts/validator.sh). In CI it
// must be; elsewhere a test that needs it is skipped with the reason.
inline bool validatorInstalled() {
    return std::filesystem::is_directory(SOURCE_DIR "/tools/validator/node_modules/gltf-validator");
}
#ifdef _WIN32
// The validator runs on node, a Linux program here: the Linux build validates
// the same exports, and scripts/compare_systems.sh checks that the two agree.
#define SKIP_WITHOUT_VALIDATOR() GTEST_SKIP() << "POSIX only: the glTF validator runs on Linux"
#else
#define SKIP_WITHOUT_VALIDATOR()                                                          \
    do {                                                                                  \
        const char *ci = std::getenv("CI");                                               \
        if (!testing_support::validatorInstalled() && !(ci && std::string(ci) == "true")) \
            GTEST_SKIP() << "the glTF validator is not installed (scripts/validator.sh)"; \
    } while (false)
#endif

}  // namespace testing_support

#ifdef _WIN32
// Never reached: the tests that make pipes are skipped on Windows.
inline int mkfifo(const char *, int) {
    return -1;
}
#endif
