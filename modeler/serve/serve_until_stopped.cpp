#include "modeler/serve/serve_until_stopped.h"

#include <malloc.h>
#include <pthread.h>

#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace modeler {

std::string serverUrl(const std::string &host, int port) {
    const std::string shown = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    return "http://" + shown + ":" + std::to_string(port) + "/";
}

bool serveUntilStopped(WebServer &web, std::chrono::milliseconds grace) {
    // One request drives the tool at a time, but each of the server's
    // threads would get an allocator arena of its own, each keeping the
    // megabytes of the frames it built: two arenas bound what the server
    // keeps (a long drag at a large window grew it from 29 to 113 MB).
#ifdef M_ARENA_MAX
    mallopt(M_ARENA_MAX, 2);
#endif
    sigset_t stopping;
    sigemptyset(&stopping);
    sigaddset(&stopping, SIGINT);
    sigaddset(&stopping, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopping, nullptr);
    std::mutex mutex;
    std::condition_variable ended;
    bool running = true;
    std::thread stopper([&] {
        int signal = 0;
        sigwait(&stopping, &signal);
        {
            std::lock_guard lock(mutex);
            if (!running) return;  // woken by the end of serving, not a signal
        }
        // stop() returns once the server's threads have ended, which is as
        // their connections end; a client that keeps one open (sending a
        // byte now and then) must not keep the program from stopping.
        // Nothing is being written: past the grace, end here.
        std::thread watchdog([&] {
            std::unique_lock lock(mutex);
            if (!ended.wait_for(lock, grace, [&] { return !running; })) {
                std::fputs("modeler: stopped; connections still open were cut\n", stderr);
                std::_Exit(0);
            }
        });
        web.stop();
        watchdog.join();
    });
    const bool served = web.run();
    {
        std::lock_guard lock(mutex);
        running = false;
    }
    ended.notify_all();
    // The stopper uses the server: it ends before the server does. When no
    // signal stopped the server, this one wakes it.
    pthread_kill(stopper.native_handle(), SIGTERM);
    stopper.join();
    return served;
}

}  // namespace modeler
