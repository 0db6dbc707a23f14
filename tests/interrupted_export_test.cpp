// A run stopped by SIGTERM or SIGINT while it writes its outputs leaves no
// staged file behind: the signal waits until every output is in place.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/support.h"

extern char **environ;

namespace {
namespace fs = std::filesystem;

bool holdsStagedFile(const fs::path &folder) {
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->path().filename().string().rfind(".modeler-tmp", 0) == 0) return true;
    }
    return false;
}

}  // namespace

TEST(InterruptedExport, ASignalWhileWritingLeavesNoStagedFile) {
    for (const int signal : {SIGTERM, SIGINT}) {
        const fs::path out = testing_support::freshFolder("interrupted-export");
        // 20,000 books to JSON, OBJ and glTF: a few hundred milliseconds of
        // writing, in which the staged files show.
        std::vector<std::string> args = {MODELER_PATH, "fill", "--box", "0,0,0:600,0.5,0.3",
                                         "--seed",     "3",    "-q"};
        for (const char *name : {"a.json", "b.obj", "c.gltf", "d.glb"}) {
            args.push_back("-o");
            args.push_back((out / name).string());
        }
        std::vector<char *> argv;
        for (std::string &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        pid_t child = 0;
        ASSERT_EQ(posix_spawn(&child, MODELER_PATH, nullptr, nullptr, argv.data(), environ), 0);
        bool seen = false;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        int status = 0;
        while (std::chrono::steady_clock::now() < until) {
            if (holdsStagedFile(out)) {
                seen = true;
                kill(child, signal);
                break;
            }
            if (waitpid(child, &status, WNOHANG) == child) break;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        if (seen) {
            ASSERT_EQ(waitpid(child, &status, 0), child);
        }
        ASSERT_TRUE(seen) << "the run ended before its staged files were seen";
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal)
            << "the signal still ends the run (status " << status << ")";
        EXPECT_FALSE(holdsStagedFile(out)) << "a staged file was left in " << out;
        // Every output was put in place before the signal took effect.
        for (const char *name : {"a.json", "b.obj", "b.mtl", "c.gltf", "c.bin", "d.glb"})
            EXPECT_TRUE(fs::exists(out / name)) << name;
    }
}
