// Every connection of modeler serve waits here, costing no thread, until a
// whole request has arrived on it: a head within bounds, then the body its
// Content-Length states. Only then does a worker thread take the request,
// and its answer comes back here to be sent as the client takes it. So
// clients that are slow to send, slow to read, idle or never finish hold
// no worker, and the page is served while they wait. One thread polls them
// all.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace modeler {

struct ConnectionLimits {
    std::size_t longestLine = 8 * 1024;  // the request line, or one header line
    std::size_t mostHeaders = 100;
    std::size_t largestHead = 64 * 1024;
    // A connection on which no request has begun is closed after this.
    std::chrono::milliseconds idle{30000};
    // A request's head must arrive whole within this of its first byte...
    std::chrono::milliseconds head{10000};
    // ...and its body at no less than this rate on top.
    std::size_t bodyBytesPerSecond = 64 * 1024;
    // An answer must be taken by the client within this.
    std::chrono::milliseconds answer{30000};
    // Open connections; one more closes the one that waited longest.
    std::size_t mostConnections = 256;
    // Requests and answers held at once; past it, a body is refused and
    // no new request is read until answers have gone.
    std::size_t mostBuffered = 64u << 20;
};

// An open connection: it owns its socket, and keeps what the client sent
// past the request that was handed on (a request sent ahead of its turn).
class Connection {
  public:
    explicit Connection(int socket) : socket_(socket) {}
    ~Connection();
    Connection(Connection &&other) noexcept;
    Connection &operator=(Connection &&other) noexcept;
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    int socket() const { return socket_; }
    std::string unread;

  private:
    int socket_ = -1;
};

// A share of the gate's buffer budget, given back when it goes.
class BufferShare {
  public:
    BufferShare() = default;
    BufferShare(std::shared_ptr<std::atomic<std::size_t>> pool, std::size_t bytes)
        : pool_(std::move(pool)), bytes_(bytes) {}
    ~BufferShare() {
        if (pool_) *pool_ -= bytes_;
    }
    BufferShare(BufferShare &&other) noexcept
        : pool_(std::move(other.pool_)), bytes_(other.bytes_) {}
    BufferShare &operator=(BufferShare &&other) noexcept;
    BufferShare(const BufferShare &) = delete;
    BufferShare &operator=(const BufferShare &) = delete;

  private:
    std::shared_ptr<std::atomic<std::size_t>> pool_;
    std::size_t bytes_ = 0;
};

struct GatheredRequest {
    Connection connection;
    std::string bytes;  // the head and the body, whole
    // The body was left unread (chunked, of no or too large a length): the
    // request is refused, and the connection closed after the answer.
    bool bodyLeftUnread = false;
    BufferShare share;
};

class RequestGate {
  public:
    // Hands a gathered request on; called on the gate's thread, it must
    // not wait. largestBody: the largest body a request target may send.
    using Deliver = std::function<void(GatheredRequest)>;
    using LargestBody = std::function<std::size_t(std::string_view target)>;

    RequestGate(ConnectionLimits limits, LargestBody largestBody, Deliver deliver);
    ~RequestGate();
    RequestGate(const RequestGate &) = delete;
    RequestGate &operator=(const RequestGate &) = delete;

    // A new connection; any thread.
    void admit(Connection connection);
    // A connection back with what is left to send of the answer to its
    // request (maybe nothing); once the client has taken it, the connection
    // waits for the next request, or closes when thenClose. Any thread.
    void answer(Connection connection, std::string bytes, bool thenClose);
    // Closes every waiting connection; later ones are closed as they come.
    void stop();

    const ConnectionLimits &limits() const { return limits_; }

  private:
    struct Waiting;
    struct Returning {
        Connection connection;
        std::string answer;
        bool thenClose = false;
    };
    using Clock = std::chrono::steady_clock;

    void run();
    void takeAdmitted(std::vector<std::unique_ptr<Waiting>> &waiting);
    // Reads what arrived; false when the connection is done with.
    bool receive(Waiting &w);
    // Sends what the client takes of its answer; false when done with.
    bool sendAnswer(Waiting &w);
    // Moves a connection on as far as its bytes allow; false when done with.
    bool advance(Waiting &w);
    bool readHead(Waiting &w);
    void refuse(Waiting &w, int status, const char *reason);
    void evictFor(std::vector<std::unique_ptr<Waiting>> &waiting);

    const ConnectionLimits limits_;
    const LargestBody largestBody_;
    const Deliver deliver_;
    const std::shared_ptr<std::atomic<std::size_t>> buffered_;

    std::mutex mutex_;
    std::vector<Returning> admitted_;
    bool stopping_ = false;
    int wake_[2] = {-1, -1};
    std::thread thread_;
};

}  // namespace modeler
