// Running modeler serve as a program does: until Ctrl+C or a termination
// request.
#pragma once

#include <chrono>
#include <string>

#include "modeler/serve/web_server.h"

namespace modeler {

// The address a person opens: http://HOST:PORT/, an IPv6 host in brackets.
std::string serverUrl(const std::string &host, int port);

// Serves until the server stops, or SIGINT or SIGTERM stops it. The signals
// are blocked in every thread but one of this call's own, which waits for
// them, so that no other thread is interrupted by them; call it before any
// other thread starts. When connections still keep the server grace after
// a signal, the process ends there (exit status 0), as a stop must not
// wait on clients. False when serving failed.
bool serveUntilStopped(WebServer &web,
                       std::chrono::milliseconds grace = std::chrono::milliseconds(2000));

}  // namespace modeler
