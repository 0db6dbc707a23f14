#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

#include "modeler/drive/module_trial.h"
#include "modeler/drive/system_library.h"

extern char **environ;

namespace modeler {
namespace {

constexpr auto kLongestTrial = std::chrono::seconds(20);
constexpr std::size_t kLongestReport = 4096;

std::filesystem::path trialProgram() {
    return folderOf(reinterpret_cast<const void *>(&tryModuleApart)) / kModuleTrialProgram;
}

}  // namespace

std::optional<std::string> tryModuleApart(const std::string &path) {
    const std::filesystem::path program = trialProgram();
    std::error_code ec;
    if (!std::filesystem::is_regular_file(program, ec)) return std::nullopt;

    // Its one line of error comes back through a pipe.
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) return std::nullopt;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, report[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::string programText = program.string();
    std::string pathText = path;
    char *argv[] = {programText.data(), pathText.data(), nullptr};
    pid_t child = 0;
    const int spawned = posix_spawn(&child, programText.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(report[1]);
    if (spawned != 0) {
        close(report[0]);
        return std::nullopt;  // no trial to be had: loaded directly
    }
    std::string text;
    char buffer[512];
    ssize_t n;
    while ((n = read(report[0], buffer, sizeof buffer)) != 0) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        if (text.size() < kLongestReport) text.append(buffer, static_cast<std::size_t>(n));
    }
    close(report[0]);

    // The pipe closed: the trial has ended, or is about to; a module whose
    // startup never returns is ended here.
    int status = 0;
    const auto until = std::chrono::steady_clock::now() + kLongestTrial;
    pid_t done;
    while ((done = waitpid(child, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (done == 0) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        return "its loading did not end within " +
               std::to_string(std::chrono::seconds(kLongestTrial).count()) +
               " s in a trial process";
    }
    if (done < 0) return std::nullopt;
    if (WIFSIGNALED(status)) {
        const char *name = sigabbrev_np(WTERMSIG(status));
        return std::string("the system's loader failed on it in a trial process (signal ") +
               (name ? std::string("SIG") + name : std::to_string(WTERMSIG(status))) + ")";
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    const std::string passed = kModuleTrialPassed;
    const bool saidPassed = text.size() >= passed.size() &&
                            text.compare(text.size() - passed.size(), passed.size(), passed) == 0;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        if (saidPassed) return std::nullopt;
        return std::string("it ended its trial process before it had loaded and started");
    }
    // The trial says "PATH: reason", as the host would.
    const std::string prefix = path + ": ";
    if (text.rfind(prefix, 0) == 0) text.erase(0, prefix.size());
    return text.empty() ? std::string("it failed in a trial process") : text;
}

}  // namespace modeler
