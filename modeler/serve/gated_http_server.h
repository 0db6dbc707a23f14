// The page's HTTP server: Debian's cpp-httplib for parsing, routing and
// answering, with its connections kept by a RequestGate instead of its own
// threads. The library reads a request on a worker thread, byte by byte as
// the client sends it, with no bound on the request line or the headers,
// and writes the answer as fast as the client reads it: a few slow clients
// held every worker. Here the gate gathers each request whole first, a
// worker makes its answer in memory, and the gate sends it.
#pragma once

#include <httplib.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string_view>

#include "modeler/serve/request_gate.h"

namespace modeler {

class GatedHttpServer : public httplib::Server {
  public:
    // Tells by its target whether a request drives the page. Those are
    // answered one at a time, in order, on a thread of their own: they
    // take the page's lock anyway, and the page's memory then stays with
    // one thread's allocator (spread over four, a drag's frame took twice
    // as long to make, its memory faulted in anew each time).
    using DrivesPage = std::function<bool(std::string_view target)>;

    GatedHttpServer(ConnectionLimits limits, RequestGate::LargestBody largestBody,
                    DrivesPage drivesPage);
    ~GatedHttpServer() override;

    // Listens until stop(), as listen_after_bind, then closes every
    // connection and ends the workers once a request being answered is
    // done. The threads start here, so they take the signal mask of the
    // thread that serves.
    bool serve();

  private:
    bool process_and_close_socket(socket_t socket) override;
    void answer(GatheredRequest request);
    void closeConnections();

    const ConnectionLimits limits_;
    const RequestGate::LargestBody largestBody_;
    const DrivesPage drivesPage_;
    std::atomic<bool> closing_{false};
    std::once_flag closed_;
    std::unique_ptr<httplib::ThreadPool> pageWorker_, fileWorkers_;
    std::unique_ptr<RequestGate> gate_;  // hands requests to the workers
};

}  // namespace modeler
