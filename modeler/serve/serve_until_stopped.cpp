#include "modeler/serve/serve_until_stopped.h"

#include <pthread.h>

#include <csignal>
#include <thread>

namespace modeler {

std::string serverUrl(const std::string &host, int port) {
    const std::string shown = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    return "http://" + shown + ":" + std::to_string(port) + "/";
}

bool serveUntilStopped(WebServer &web) {
    sigset_t stopping;
    sigemptyset(&stopping);
    sigaddset(&stopping, SIGINT);
    sigaddset(&stopping, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopping, nullptr);
    std::thread stopper([&web, stopping] {
        int signal = 0;
        sigwait(&stopping, &signal);
        web.stop();
    });
    const bool served = web.run();
    // The stopper uses the server: it ends before the server does. When no
    // signal stopped the server, this one wakes it.
    pthread_kill(stopper.native_handle(), SIGTERM);
    stopper.join();
    return served;
}

}  // namespace modeler
