#include "modeler/serve/request_gate.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <optional>

namespace modeler {

Connection::~Connection() {
    if (socket_ >= 0) ::close(socket_);
}

Connection::Connection(Connection &&other) noexcept
    : unread(std::move(other.unread)), socket_(other.socket_) {
    other.socket_ = -1;
}

Connection &Connection::operator=(Connection &&other) noexcept {
    if (this != &other) {
        if (socket_ >= 0) ::close(socket_);
        socket_ = other.socket_;
        other.socket_ = -1;
        unread = std::move(other.unread);
    }
    return *this;
}

namespace {

// How long a refused client has to read its answer before the connection
// is cut: closing at once, with its request still arriving, would reset
// the connection and lose the answer.
constexpr std::chrono::milliseconds kDrainTime{2000};

bool sameWord(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

const char *statusText(int status) {
    switch (status) {
        case 400:
            return "Bad Request";
        case 408:
            return "Request Timeout";
        case 414:
            return "URI Too Long";
        case 431:
            return "Request Header Fields Too Large";
        default:
            return "Service Unavailable";
    }
}

// What the head says of its body.
struct HeadFacts {
    std::string_view method, target;
    std::optional<std::string_view> length;
    bool conflictingLengths = false;
    bool chunked = false;
    bool expectsContinue = false;
};

HeadFacts readFacts(std::string_view head) {
    HeadFacts facts;
    const std::size_t lineEnd = head.find('\n');
    const std::string_view requestLine = head.substr(0, lineEnd);
    const std::size_t methodEnd = requestLine.find(' ');
    facts.method = requestLine.substr(0, methodEnd);
    if (methodEnd != std::string_view::npos) {
        const std::string_view rest = requestLine.substr(methodEnd + 1);
        facts.target = rest.substr(0, rest.find(' '));
    }
    for (std::size_t at = lineEnd + 1; at < head.size();) {
        std::size_t end = head.find('\n', at);
        if (end == std::string_view::npos) end = head.size();
        const std::string_view line = head.substr(at, end - at);
        at = end + 1;
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        const std::string_view name = line.substr(0, colon);
        const std::string_view value = trimmed(line.substr(colon + 1));
        if (sameWord(name, "Content-Length")) {
            if (facts.length && *facts.length != value) facts.conflictingLengths = true;
            if (!facts.length) facts.length = value;
        } else if (sameWord(name, "Transfer-Encoding")) {
            facts.chunked = true;
        } else if (sameWord(name, "Expect")) {
            facts.expectsContinue = sameWord(value, "100-continue");
        }
    }
    return facts;
}

}  // namespace

struct RequestGate::Waiting {
    // Idle: no request begun. Head, Body: a request arriving. Sending: its
    // answer going out. Closing: the last answer sent, what still comes is
    // read and dropped.
    enum class Phase { Idle, Head, Body, Sending, Closing };

    explicit Waiting(Connection c) : connection(std::move(c)) {}

    Connection connection;
    Phase phase = Phase::Idle;
    Clock::time_point begun{};
    Clock::time_point deadline{};
    std::size_t scanned = 0;    // bytes of the head looked at
    std::size_t lineStart = 0;  // where the head's current line starts
    std::size_t lines = 0;      // whole lines of the head so far
    std::size_t wanted = 0;     // the head and the body
    bool bodyLeftUnread = false;
    std::string outgoing;  // the answer being sent
    std::size_t sent = 0;
    bool thenClose = false;
    BufferShare share;  // of the request, or of the answer

    void waitForNext(Clock::time_point idleUntil) {
        phase = Phase::Idle;
        deadline = idleUntil;
        scanned = lineStart = lines = wanted = sent = 0;
        bodyLeftUnread = thenClose = false;
        outgoing.clear();
        outgoing.shrink_to_fit();
        share = BufferShare();
    }
    void close(Clock::time_point drainUntil) {
        ::shutdown(connection.socket(), SHUT_WR);
        phase = Phase::Closing;
        deadline = drainUntil;
        connection.unread.clear();
        connection.unread.shrink_to_fit();
        outgoing.clear();
        outgoing.shrink_to_fit();
        share = BufferShare();
    }
};

BufferShare &BufferShare::operator=(BufferShare &&other) noexcept {
    if (this != &other) {
        if (pool_) *pool_ -= bytes_;
        pool_ = std::move(other.pool_);
        bytes_ = other.bytes_;
        other.pool_.reset();
    }
    return *this;
}

RequestGate::RequestGate(ConnectionLimits limits, LargestBody largestBody, Deliver deliver)
    : limits_(limits),
      largestBody_(std::move(largestBody)),
      deliver_(std::move(deliver)),
      buffered_(std::make_shared<std::atomic<std::size_t>>(0)) {
    if (::pipe2(wake_, O_NONBLOCK | O_CLOEXEC) != 0) {
        wake_[0] = wake_[1] = -1;
        stopping_ = true;  // every connection is closed as it comes
        return;
    }
    thread_ = std::thread([this] { run(); });
}

RequestGate::~RequestGate() {
    stop();
    for (int fd : wake_) {
        if (fd >= 0) ::close(fd);
    }
}

void RequestGate::admit(Connection connection) {
    answer(std::move(connection), {}, false);
}

void RequestGate::answer(Connection connection, std::string bytes, bool thenClose) {
    std::lock_guard lock(mutex_);
    if (stopping_) return;  // closed as it goes
    admitted_.push_back({std::move(connection), std::move(bytes), thenClose});
    const char byte = 1;
    (void)!::write(wake_[1], &byte, 1);
}

void RequestGate::stop() {
    {
        std::lock_guard lock(mutex_);
        if (stopping_ && !thread_.joinable()) return;
        stopping_ = true;
        const char byte = 1;
        if (wake_[1] >= 0) (void)!::write(wake_[1], &byte, 1);
    }
    if (thread_.joinable()) thread_.join();
    std::lock_guard lock(mutex_);
    admitted_.clear();
}

void RequestGate::run() {
    std::vector<std::unique_ptr<Waiting>> waiting, kept;
    std::vector<pollfd> polled;
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (stopping_) return;
        }
        takeAdmitted(waiting);
        polled.assign(1, pollfd{wake_[0], POLLIN, 0});
        Clock::time_point next = Clock::time_point::max();
        // Past the budget no new request is read until answers have gone,
        // which is looked at again soon: a worker gives its share back
        // without a word to this thread.
        const bool reading = *buffered_ <= limits_.mostBuffered;
        if (!reading) next = Clock::now() + std::chrono::milliseconds(50);
        for (const auto &w : waiting) {
            short events = POLLIN;
            if (w->phase == Waiting::Phase::Sending) {
                events = POLLOUT;
            } else if (w->phase != Waiting::Phase::Closing && !reading) {
                events = 0;
            }
            polled.push_back(pollfd{w->connection.socket(), events, 0});
            next = std::min(next, w->deadline);
        }
        int timeout = -1;
        if (next != Clock::time_point::max()) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now()).count();
            timeout = static_cast<int>(std::clamp<long long>(left, 0, 60000));
        }
        if (::poll(polled.data(), polled.size(), timeout) < 0 && errno != EINTR) return;
        if (polled[0].revents) {
            char drained[64];
            while (::read(wake_[0], drained, sizeof drained) > 0) {
            }
        }
        for (std::size_t i = 0; i < waiting.size(); ++i) {
            Waiting &w = *waiting[i];
            bool keep = true;
            if (polled[i + 1].revents) {
                keep =
                    w.phase == Waiting::Phase::Sending ? sendAnswer(w) : receive(w) && advance(w);
            }
            if (keep && Clock::now() >= w.deadline) {
                keep = w.phase == Waiting::Phase::Head || w.phase == Waiting::Phase::Body;
                if (keep) refuse(w, 408, "the request did not arrive in time");
            }
            if (keep) kept.push_back(std::move(waiting[i]));
        }
        waiting.swap(kept);
        kept.clear();  // what was not kept is closed now, not at the next wake
    }
}

void RequestGate::takeAdmitted(std::vector<std::unique_ptr<Waiting>> &waiting) {
    std::vector<Returning> taken;
    {
        std::lock_guard lock(mutex_);
        taken.swap(admitted_);
    }
    for (Returning &r : taken) {
        const int socket = r.connection.socket();
        const int flags = ::fcntl(socket, F_GETFL);
        if (flags < 0 || ::fcntl(socket, F_SETFL, flags | O_NONBLOCK) < 0) continue;
        if (waiting.size() >= limits_.mostConnections) evictFor(waiting);
        auto w = std::make_unique<Waiting>(std::move(r.connection));
        bool keep = true;
        if (r.answer.empty() && r.thenClose) {
            w->close(Clock::now() + kDrainTime);  // its answer is out already
        } else if (r.answer.empty()) {
            w->deadline = Clock::now() + limits_.idle;
            // A request sent ahead of its turn may be here whole already.
            keep = advance(*w);
        } else {
            *buffered_ += r.answer.size();
            w->share = BufferShare(buffered_, r.answer.size());
            w->outgoing = std::move(r.answer);
            w->thenClose = r.thenClose;
            w->phase = Waiting::Phase::Sending;
            w->deadline = Clock::now() + limits_.answer;
            keep = sendAnswer(*w);  // most answers go out whole at once
        }
        if (keep) waiting.push_back(std::move(w));
    }
}

// The connection that has waited longest for the least: one being refused,
// then an idle one, then the request that began first, and only then an
// answer on its way (the soonest due).
void RequestGate::evictFor(std::vector<std::unique_ptr<Waiting>> &waiting) {
    auto rank = [](const Waiting &w) {
        switch (w.phase) {
            case Waiting::Phase::Closing:
                return std::pair{0, w.deadline};
            case Waiting::Phase::Idle:
                return std::pair{1, w.deadline};
            case Waiting::Phase::Sending:
                return std::pair{3, w.deadline};
            default:
                return std::pair{2, w.begun};
        }
    };
    auto victim =
        std::min_element(waiting.begin(), waiting.end(),
                         [&](const auto &a, const auto &b) { return rank(*a) < rank(*b); });
    if (victim != waiting.end()) waiting.erase(victim);
}

bool RequestGate::receive(Waiting &w) {
    char buffer[16384];
    std::size_t room = sizeof buffer;
    if (w.phase == Waiting::Phase::Body)
        room = std::min(room, w.wanted - w.connection.unread.size());
    const ssize_t n = ::recv(w.connection.socket(), buffer, room, 0);
    if (n == 0) return false;  // the client has gone
    if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    if (w.phase != Waiting::Phase::Closing)
        w.connection.unread.append(buffer, static_cast<std::size_t>(n));
    return true;
}

bool RequestGate::sendAnswer(Waiting &w) {
    while (w.sent < w.outgoing.size()) {
        const ssize_t n = ::send(w.connection.socket(), w.outgoing.data() + w.sent,
                                 w.outgoing.size() - w.sent, MSG_NOSIGNAL);
        if (n > 0) {
            w.sent += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
        }
    }
    if (w.thenClose) {
        w.close(Clock::now() + kDrainTime);
        return true;
    }
    w.waitForNext(Clock::now() + limits_.idle);
    return advance(w);
}

bool RequestGate::advance(Waiting &w) {
    std::string &bytes = w.connection.unread;
    if (w.phase == Waiting::Phase::Idle) {
        // Line ends between requests are let pass, as HTTP asks.
        const std::size_t start = bytes.find_first_not_of("\r\n");
        bytes.erase(0, start == std::string::npos ? bytes.size() : start);
        if (bytes.empty()) return true;
        w.phase = Waiting::Phase::Head;
        w.begun = Clock::now();
        w.deadline = w.begun + limits_.head;
    }
    if (w.phase == Waiting::Phase::Head && !readHead(w)) return true;
    if (w.phase == Waiting::Phase::Body && bytes.size() >= w.wanted) {
        GatheredRequest request{std::move(w.connection), {}, w.bodyLeftUnread, std::move(w.share)};
        request.bytes = request.connection.unread.substr(0, w.wanted);
        request.connection.unread.erase(0, w.wanted);
        deliver_(std::move(request));
        return false;
    }
    return true;
}

// Looks at the head as far as it has come; true once it is whole and its
// body is known. A head out of bounds is refused here.
bool RequestGate::readHead(Waiting &w) {
    const std::string &bytes = w.connection.unread;
    std::size_t headEnd = 0;
    for (; w.scanned < bytes.size(); ++w.scanned) {
        if (bytes[w.scanned] != '\n') continue;
        std::size_t length = w.scanned - w.lineStart;
        if (length > 0 && bytes[w.scanned - 1] == '\r') --length;
        if (length > limits_.longestLine) {
            refuse(w, w.lines == 0 ? 414 : 431,
                   w.lines == 0 ? "the request line is too long" : "a header line is too long");
            return false;
        }
        if (length == 0) {
            headEnd = w.scanned + 1;
            break;
        }
        if (++w.lines > limits_.mostHeaders + 1) {
            refuse(w, 431, "the request has too many headers");
            return false;
        }
        w.lineStart = w.scanned + 1;
    }
    if (headEnd == 0) {
        if (bytes.size() - w.lineStart > limits_.longestLine + 1) {
            refuse(w, w.lines == 0 ? 414 : 431,
                   w.lines == 0 ? "the request line is too long" : "a header line is too long");
        } else if (bytes.size() > limits_.largestHead) {
            refuse(w, 431, "the request's headers are too large");
        }
        return false;
    }
    if (headEnd > limits_.largestHead) {
        refuse(w, 431, "the request's headers are too large");
        return false;
    }

    const HeadFacts facts = readFacts(std::string_view(bytes).substr(0, headEnd));
    if (facts.conflictingLengths) {
        refuse(w, 400, "the request states two lengths");
        return false;
    }
    // A body that is not gathered here is refused by the server before it
    // is read: one sent in chunks, of no stated length, or too large.
    std::size_t body = 0;
    if (facts.chunked) {
        w.bodyLeftUnread = true;
    } else if (facts.length) {
        const std::string_view length = *facts.length;
        const bool number = !length.empty() && length.size() <= 18 &&
                            length.find_first_not_of("0123456789") == std::string_view::npos;
        const std::size_t stated = number ? std::stoull(std::string(length)) : 0;
        if (!number || stated > largestBody_(facts.target)) {
            w.bodyLeftUnread = true;
        } else {
            body = stated;
        }
    } else if (facts.method == "POST" || facts.method == "PUT" || facts.method == "PATCH") {
        w.bodyLeftUnread = true;
    }
    w.wanted = headEnd + body;
    if (*buffered_ + w.wanted > limits_.mostBuffered) {
        refuse(w, 503, "the server is busy: try again");
        return false;
    }
    *buffered_ += w.wanted;
    w.share = BufferShare(buffered_, w.wanted);
    w.phase = Waiting::Phase::Body;
    const auto bodyTime = std::chrono::milliseconds(
        body * 1000 / std::max<std::size_t>(limits_.bodyBytesPerSecond, 1));
    w.deadline = w.begun + limits_.head + bodyTime;
    if (facts.expectsContinue && bytes.size() < w.wanted) {
        static constexpr char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
        (void)!::send(w.connection.socket(), kContinue, sizeof kContinue - 1,
                      MSG_NOSIGNAL | MSG_DONTWAIT);
    }
    return true;
}

void RequestGate::refuse(Waiting &w, int status, const char *reason) {
    const std::string body = std::string("{\"error\":\"") + reason + "\"}";
    const std::string answer =
        "HTTP/1.1 " + std::to_string(status) + " " + statusText(status) +
        "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
        "\r\nConnection: close\r\n\r\n" + body;
    (void)!::send(w.connection.socket(), answer.data(), answer.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    w.close(Clock::now() + kDrainTime);
}

}  // namespace modeler
