// The gate that gathers each request whole before a worker answers it,
// over socket pairs: what it hands on, what it refuses, and whom it drops.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "modeler/serve/request_gate.h"

namespace {

using namespace std::chrono_literals;
using modeler::Connection;
using modeler::ConnectionLimits;
using modeler::GatheredRequest;
using modeler::RequestGate;

// A gate whose handed-on requests queue here, for the test to take.
struct Gate {
    std::mutex mutex;
    std::condition_variable arrived;
    std::deque<GatheredRequest> requests;
    RequestGate gate;

    explicit Gate(ConnectionLimits limits = {})
        : gate(
              limits, [](std::string_view target) { return target == "/big" ? 1000u : 100u; },
              [this](GatheredRequest request) {
                  std::lock_guard lock(mutex);
                  requests.push_back(std::move(request));
                  arrived.notify_all();
              }) {}

    // A new connection through the gate; the client's end is returned.
    int connect() {
        int ends[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
        gate.admit(Connection(ends[0]));
        return ends[1];
    }

    std::optional<GatheredRequest> next(std::chrono::milliseconds within = 2000ms) {
        std::unique_lock lock(mutex);
        if (!arrived.wait_for(lock, within, [&] { return !requests.empty(); })) return std::nullopt;
        GatheredRequest request = std::move(requests.front());
        requests.pop_front();
        return request;
    }
};

void send(int client, const std::string &bytes) {
    ASSERT_EQ(::send(client, bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
}

// What the client reads until the gate closes its end, or the time is up.
std::string readToEnd(int client, std::chrono::milliseconds within = 3000ms) {
    std::string text;
    const auto until = std::chrono::steady_clock::now() + within;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            until - std::chrono::steady_clock::now());
        pollfd ready{client, POLLIN, 0};
        if (left <= 0ms || ::poll(&ready, 1, static_cast<int>(left.count())) <= 0)
            return text + "<still open>";
        char buffer[4096];
        const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
        if (n <= 0) return text;
        text.append(buffer, static_cast<std::size_t>(n));
    }
}

const std::string kGet = "GET /a HTTP/1.1\r\nHost: x\r\n\r\n";

TEST(RequestGate, HandsOnWholeRequestsOnlyAndKeepsWhatCameAhead) {
    Gate gate;
    const int client = gate.connect();
    // A head and body in pieces: nothing is handed on before the last.
    send(client, "\r\nPOST /a HTTP/1.1\r\nContent-Le");
    send(client, "ngth: 5\r\n\r\nab");
    EXPECT_FALSE(gate.next(200ms));
    // The rest of the body, and a second request sent ahead of its turn.
    send(client, "cde" + kGet);
    auto first = gate.next();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->bytes, "POST /a HTTP/1.1\r\nContent-Length: 5\r\n\r\nabcde");
    EXPECT_FALSE(first->bodyLeftUnread);
    // Back from its answer, the waiting request goes on at once.
    gate.gate.admit(std::move(first->connection));
    auto second = gate.next();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->bytes, kGet);
    // Two heads read at once: the second stays with the connection.
    send(client, kGet + kGet);
    gate.gate.admit(std::move(second->connection));
    auto third = gate.next();
    ASSERT_TRUE(third);
    EXPECT_EQ(third->bytes, kGet);
    EXPECT_EQ(third->connection.unread, kGet);
    gate.gate.admit(std::move(third->connection));
    auto fourth = gate.next();
    ASSERT_TRUE(fourth);
    EXPECT_EQ(fourth->bytes, kGet);
    EXPECT_EQ(fourth->connection.unread, "");
    ::close(client);
}

// An answer goes out as its client takes it, while the gate goes on with
// the others; then the connection waits for its next request, or closes.
TEST(RequestGate, AnswersGoOutAsTheClientTakesThem) {
    ConnectionLimits limits;
    limits.answer = 1000ms;
    Gate gate(limits);
    const int reader = gate.connect();
    const int stalled = gate.connect();
    send(reader, kGet);
    send(stalled, kGet);
    auto first = gate.next();
    auto second = gate.next();
    ASSERT_TRUE(first && second);
    const std::string large(8 << 20, 'a');
    // Which request came from which client does not matter: both get the
    // same answer; one client reads it, the other never does.
    gate.gate.answer(std::move(first->connection), large, false);
    gate.gate.answer(std::move(second->connection), large, false);
    send(reader, kGet);
    std::string got;
    char buffer[65536];
    while (got.size() < large.size()) {
        const ssize_t n = ::recv(reader, buffer, sizeof buffer, 0);
        ASSERT_GT(n, 0);
        got.append(buffer, static_cast<std::size_t>(n));
    }
    EXPECT_EQ(got, large);
    // The reader's next request, sent while its answer went out.
    auto next = gate.next();
    ASSERT_TRUE(next);
    EXPECT_EQ(next->bytes, kGet);
    gate.gate.answer(std::move(next->connection), "last", true);
    EXPECT_EQ(readToEnd(reader), "last");
    // The client that never read is cut once its time is up.
    std::this_thread::sleep_for(1200ms);
    std::size_t taken = 0;
    for (ssize_t n; (n = ::recv(stalled, buffer, sizeof buffer, MSG_DONTWAIT)) > 0;)
        taken += static_cast<std::size_t>(n);
    EXPECT_LT(taken, large.size());
    EXPECT_EQ(readToEnd(stalled, 500ms).find("<still open>"), std::string::npos);
    ::close(reader);
    ::close(stalled);
}

TEST(RequestGate, BodiesItWillNotHoldAreLeftUnreadForTheServerToRefuse) {
    ConnectionLimits limits;
    limits.mostBuffered = 1500;
    Gate gate(limits);
    struct Case {
        const char *what;
        std::string head;
        bool leftUnread;
    } cases[] = {
        {"chunked", "POST /a HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", true},
        {"no length", "POST /a HTTP/1.1\r\n\r\n", true},
        {"not a number", "POST /a HTTP/1.1\r\nContent-Length: 1e3\r\n\r\n", true},
        {"too large here", "POST /a?big HTTP/1.1\r\nContent-Length: 101\r\n\r\n", true},
        {"a GET without one", "GET /a HTTP/1.1\r\n\r\n", false},
    };
    for (const Case &c : cases) {
        const int client = gate.connect();
        send(client, c.head + "QQQQ");
        auto request = gate.next();
        ASSERT_TRUE(request) << c.what;
        EXPECT_EQ(request->bytes, c.head) << c.what;
        EXPECT_EQ(request->bodyLeftUnread, c.leftUnread) << c.what;
        ::close(client);
    }
    // A large body where it may be: held, up to what the gate holds at once.
    const std::string big = "POST /big HTTP/1.1\r\nContent-Length: 1000\r\n\r\n";
    const int first = gate.connect();
    send(first, big);
    const int second = gate.connect();
    send(second, big);
    EXPECT_NE(readToEnd(second).find("HTTP/1.1 503 "), std::string::npos);
    send(first, std::string(1000, 'b'));
    auto held = gate.next();
    ASSERT_TRUE(held);
    EXPECT_EQ(held->bytes.size(), big.size() + 1000);
    // Once answered, its share is given back.
    held.reset();
    const int third = gate.connect();
    send(third, big + std::string(1000, 'c'));
    EXPECT_TRUE(gate.next());
    for (int client : {first, second, third})
        ::close(client);
}

TEST(RequestGate, HeadsOutOfBoundsAreRefusedAsTheyArrive) {
    ConnectionLimits limits;
    limits.longestLine = 64;
    limits.mostHeaders = 4;
    limits.largestHead = 200;
    Gate gate(limits);
    const std::string header = "X-A: " + std::string(40, 'a') + "\r\n";
    struct Case {
        const char *what;
        std::string sent;
        const char *status;
    } cases[] = {
        // Refused before the line ends: a long line is never read whole.
        {"long request line", "GET /" + std::string(100, 'a'), " 414 "},
        {"long header", "GET / HTTP/1.1\r\nX-A: " + std::string(100, 'a'), " 431 "},
        {"too many headers", "GET / HTTP/1.1\r\nX: 1\r\nX: 2\r\nX: 3\r\nX: 4\r\nX: 5\r\n", " 431 "},
        {"large head", "GET / HTTP/1.1\r\n" + header + header + header + header + "X: y", " 431 "},
        {"two lengths", "POST / HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\n",
         " 400 "},
    };
    for (const Case &c : cases) {
        const int client = gate.connect();
        send(client, c.sent);
        const std::string answer = readToEnd(client);
        EXPECT_EQ(answer.rfind("HTTP/1.1", 0), 0u) << c.what << ": " << answer;
        EXPECT_NE(answer.substr(0, 16).find(c.status), std::string::npos)
            << c.what << ": " << answer;
        EXPECT_NE(answer.find("Connection: close"), std::string::npos) << c.what;
        EXPECT_EQ(answer.find("aaaa"), std::string::npos) << c.what << ": the request is echoed";
        ::close(client);
    }
    EXPECT_FALSE(gate.next(100ms)) << "nothing refused is handed on";
}

TEST(RequestGate, SlowAndIdleConnectionsAreClosed) {
    ConnectionLimits limits;
    limits.idle = 300ms;
    limits.head = 300ms;
    Gate gate(limits);
    // Idle: closed without a word. Dripping: told it was too slow.
    const int idle = gate.connect();
    const int slow = gate.connect();
    send(slow, "GET / HT");
    std::thread drip([slow] {
        for (char c : std::string("TP/1.1\r\nHost: x\r\n")) {
            std::this_thread::sleep_for(50ms);
            if (::send(slow, &c, 1, MSG_NOSIGNAL) != 1) break;
        }
    });
    EXPECT_EQ(readToEnd(idle), "");
    const std::string answer = readToEnd(slow, 1500ms);
    EXPECT_EQ(answer.rfind("HTTP/1.1 408 ", 0), 0u) << answer;
    drip.join();
    EXPECT_FALSE(gate.next(0ms));
    ::close(idle);
    ::close(slow);
}

TEST(RequestGate, OneConnectionTooManyClosesTheOneIdleLongest) {
    ConnectionLimits limits;
    limits.mostConnections = 3;
    Gate gate(limits);
    const int oldest = gate.connect();
    std::this_thread::sleep_for(20ms);
    const int busy = gate.connect();
    send(busy, "GET / HT");
    const int other = gate.connect();
    std::this_thread::sleep_for(20ms);
    const int newest = gate.connect();
    EXPECT_EQ(readToEnd(oldest, 1000ms), "");
    send(newest, kGet);
    EXPECT_TRUE(gate.next());

    // An answer on its way goes last: a request half sent goes before it.
    {
        ConnectionLimits two;
        two.mostConnections = 2;
        Gate small(two);
        const int answered = small.connect();
        send(answered, kGet);
        auto request = small.next();
        ASSERT_TRUE(request);
        small.gate.answer(std::move(request->connection), std::string(8 << 20, 'a'), false);
        const int half = small.connect();
        send(half, "GET / HT");
        std::this_thread::sleep_for(20ms);
        const int third = small.connect();
        EXPECT_EQ(readToEnd(half, 1000ms), "");
        pollfd ready{answered, POLLIN, 0};
        EXPECT_EQ(::poll(&ready, 1, 1000), 1);
        char byte = 0;
        EXPECT_EQ(::recv(answered, &byte, 1, 0), 1);
        EXPECT_EQ(byte, 'a');
        for (int client : {answered, half, third})
            ::close(client);
    }

    // A stopped gate closes what waits, and what comes later.
    gate.gate.stop();
    EXPECT_EQ(readToEnd(busy, 500ms), "");
    EXPECT_EQ(readToEnd(other, 500ms), "");
    const int late = gate.connect();
    EXPECT_EQ(readToEnd(late, 500ms), "");
    for (int client : {oldest, busy, other, newest, late})
        ::close(client);
}

}  // namespace
