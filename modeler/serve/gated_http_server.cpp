#include "modeler/serve/gated_http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string_view>

namespace modeler {
namespace {

// Besides the page's own thread, these serve its files and images.
constexpr std::size_t kFileWorkers = 3;

// The target of a whole request: what its request line names.
std::string_view targetOf(std::string_view request) {
    const std::string_view line = request.substr(0, request.find('\n'));
    const std::size_t start = line.find(' ');
    if (start == std::string_view::npos) return {};
    const std::string_view rest = line.substr(start + 1);
    return rest.substr(0, rest.find(' '));
}

// A gathered request, read from memory. Its answer goes out as far as the
// socket takes it at once; the rest is kept for the gate to send, so that
// a client slow to read holds no worker. (Keeping it all would copy every
// frame, and free it on the gate's thread, where the allocator gives the
// memory back to the system: the next frame faulted it in again, which
// doubled the time to make one.)
class GatheredStream final : public httplib::Stream {
  public:
    explicit GatheredStream(int socket, std::string_view request)
        : socket_(socket), request_(request) {}

    bool is_readable() const override { return read_ < request_.size(); }
    bool is_writable() const override { return true; }

    ssize_t read(char *ptr, size_t size) override {
        const std::size_t n = std::min(size, request_.size() - read_);
        std::memcpy(ptr, request_.data() + read_, n);
        read_ += n;
        return static_cast<ssize_t>(n);
    }

    ssize_t write(const char *ptr, size_t size) override {
        // An answer's head is written whole in one call.
        const std::string_view data(ptr, size);
        if (data.rfind("HTTP/1.1 ", 0) == 0 && data.find("\r\nConnection: close\r\n") != data.npos)
            closes_ = true;
        std::size_t sent = 0;
        while (answer_.empty() && sent < size) {
            const ssize_t n = ::send(socket_, ptr + sent, size - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0) {
                sent += static_cast<std::size_t>(n);
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                break;
            } else {
                return -1;  // the client has gone: the connection closes
            }
        }
        answer_.append(data.substr(sent));
        return static_cast<ssize_t>(size);
    }

    void get_remote_ip_and_port(std::string &ip, int &port) const override {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        if (::getpeername(socket_, reinterpret_cast<sockaddr *>(&address), &length) == 0)
            describe(address, ip, port);
    }
    void get_local_ip_and_port(std::string &ip, int &port) const override {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        if (::getsockname(socket_, reinterpret_cast<sockaddr *>(&address), &length) == 0)
            describe(address, ip, port);
    }
    socket_t socket() const override { return socket_; }

    // The answer said the connection closes after it.
    bool closes() const { return closes_; }
    // What the socket did not take at once.
    std::string takeRest() { return std::move(answer_); }

  private:
    static void describe(const sockaddr_storage &address, std::string &ip, int &port) {
        char text[INET6_ADDRSTRLEN] = "";
        if (address.ss_family == AF_INET) {
            const auto &v4 = reinterpret_cast<const sockaddr_in &>(address);
            ::inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
            port = ntohs(v4.sin_port);
        } else if (address.ss_family == AF_INET6) {
            const auto &v6 = reinterpret_cast<const sockaddr_in6 &>(address);
            ::inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
            port = ntohs(v6.sin6_port);
        }
        ip = text;
    }

    int socket_;
    std::string_view request_;
    std::size_t read_ = 0;
    std::string answer_;
    bool closes_ = false;
};

}  // namespace

GatedHttpServer::GatedHttpServer(ConnectionLimits limits, RequestGate::LargestBody largestBody,
                                 DrivesPage drivesPage)
    : limits_(limits), largestBody_(std::move(largestBody)), drivesPage_(std::move(drivesPage)) {
    // The library's own threads only accept and hand each connection over.
    new_task_queue = [] { return new httplib::ThreadPool(1); };
    set_keep_alive_timeout(std::chrono::duration_cast<std::chrono::seconds>(limits.idle).count());
}

GatedHttpServer::~GatedHttpServer() {
    closeConnections();
}

bool GatedHttpServer::serve() {
    pageWorker_ = std::make_unique<httplib::ThreadPool>(1);
    fileWorkers_ = std::make_unique<httplib::ThreadPool>(kFileWorkers);
    gate_ = std::make_unique<RequestGate>(limits_, largestBody_, [this](GatheredRequest request) {
        // A task is copied: the request goes in a shared box.
        auto box = std::make_shared<GatheredRequest>(std::move(request));
        httplib::ThreadPool &workers =
            drivesPage_(targetOf(box->bytes)) ? *pageWorker_ : *fileWorkers_;
        workers.enqueue([this, box] { answer(std::move(*box)); });
    });
    // The library listens with a backlog of 5: a page opening its six
    // connections at once, or a burst of clients, would wait a second for
    // the system to try again. Listening again sets the backlog.
    ::listen(svr_sock_, SOMAXCONN);
    const bool served = listen_after_bind();
    closeConnections();
    return served;
}

void GatedHttpServer::closeConnections() {
    std::call_once(closed_, [this] {
        closing_ = true;
        if (gate_) gate_->stop();
        if (pageWorker_) pageWorker_->shutdown();
        if (fileWorkers_) fileWorkers_->shutdown();
    });
}

bool GatedHttpServer::process_and_close_socket(socket_t socket) {
    gate_->admit(Connection(socket));
    return true;
}

void GatedHttpServer::answer(GatheredRequest request) {
    if (closing_) return;
    GatheredStream stream(request.connection.socket(), request.bytes);
    bool clientCloses = false;
    const bool answered = process_request(stream, closing_, clientCloses, nullptr);
    // The request's share of the budget goes as its answer takes one.
    request.share = BufferShare();
    const bool thenClose =
        !answered || clientCloses || stream.closes() || request.bodyLeftUnread || closing_;
    gate_->answer(std::move(request.connection), stream.takeRest(), thenClose);
}

}  // namespace modeler
