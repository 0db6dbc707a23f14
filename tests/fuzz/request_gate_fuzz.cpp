// Any bytes as what a client sends modeler serve, in pieces of a size the
// first byte picks: the gate in front of the server must hand on only
// whole requests within its bounds, refuse the rest, answer each request
// it handed on, and end the connection once the client has stopped.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <string>

#include "modeler/serve/request_gate.h"

namespace {

using modeler::Connection;
using modeler::ConnectionLimits;
using modeler::GatheredRequest;
using modeler::RequestGate;

constexpr char kAnswer[] = "HTTP/1.1 204 No Content\r\n\r\n";

struct Harness {
    std::mutex mutex;
    std::deque<GatheredRequest> handed;
    ConnectionLimits limits = [] {
        ConnectionLimits small;
        small.longestLine = 256;
        small.mostHeaders = 8;
        small.largestHead = 1024;
        small.mostBuffered = 1 << 20;
        return small;
    }();
    RequestGate gate{limits, [](std::string_view target) { return target == "/big" ? 4096u : 64u; },
                     [this](GatheredRequest request) {
                         std::lock_guard lock(mutex);
                         handed.push_back(std::move(request));
                     }};

    // A request the gate handed on: whole and within bounds, or it fails.
    void check(const GatheredRequest &request) const {
        const std::string &bytes = request.bytes;
        std::size_t headEnd = bytes.find("\n\r\n");
        headEnd = headEnd == std::string::npos ? bytes.find("\n\n") : headEnd;
        if (bytes.empty() || bytes[0] == '\r' || bytes[0] == '\n' || headEnd == std::string::npos ||
            bytes.size() > limits.largestHead + 4096) {
            std::fprintf(stderr, "handed on a request that is not whole or too large\n");
            std::abort();
        }
    }

    // Answers what was handed on; true when it did.
    bool answerHanded() {
        std::deque<GatheredRequest> taken;
        {
            std::lock_guard lock(mutex);
            taken.swap(handed);
        }
        for (GatheredRequest &request : taken) {
            check(request);
            gate.answer(std::move(request.connection), kAnswer, false);
        }
        return !taken.empty();
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static Harness harness;
    if (size == 0) return 0;
    const std::size_t piece = 1 + data[0] % 64 * 17;
    const std::string sent(reinterpret_cast<const char *>(data) + 1, size - 1);

    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0) return 0;
    harness.gate.admit(Connection(ends[0]));
    const int client = ends[1];
    std::size_t at = 0;
    bool sending = true;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (;;) {
        if (sending && at < sent.size()) {
            const ssize_t n = ::send(client, sent.data() + at, std::min(piece, sent.size() - at),
                                     MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0) at += static_cast<std::size_t>(n);
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) sending = false;
        } else if (sending) {
            ::shutdown(client, SHUT_WR);  // the client is done: the gate must let go
            sending = false;
        }
        const bool answered = harness.answerHanded();
        pollfd ready{client, POLLIN, 0};
        if (::poll(&ready, 1, answered || sending ? 0 : 5) > 0) {
            char buffer[4096];
            const ssize_t n = ::recv(client, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) break;
        }
        if (std::chrono::steady_clock::now() > until) {
            std::fprintf(stderr, "the gate kept a connection whose client had stopped\n");
            std::abort();
        }
    }
    ::close(client);
    // Whatever the gate hands on late goes with the next input's.
    return 0;
}
