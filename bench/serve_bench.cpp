// modeler serve's HTTP API as the page uses it: a handle drag (one pointer
// move on a shelf of about 1,000 books answered with the rebuilt shelf, the
// tool's preview and handles, and the changed mesh in binary), and undo.
#include <benchmark/benchmark.h>
#include <httplib.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "modeler/serve/web_server.h"
#include "varlobooks/host_api.h"

namespace {

nlohmann::json stateOf(const std::string &frame) {
    uint32_t length = 0;
    std::memcpy(&length, frame.data(), 4);
    return nlohmann::json::parse(frame.substr(4, length));
}

// modeler serve on a free port, serving on a thread of its own, with a
// client whose page has started the tool; empty error() when it runs.
class ServedPage {
  public:
    ServedPage() {
        if (varlobooks_module_open(VARLOBOOKS_MODULE_PATH, &module_) != VARLOBOOKS_OK) {
            error_ = varlobooks_module_error(module_);
            return;
        }
        modeler::ServeOptions options;
        options.port = 0;
        options.webFolder = WEB_FOLDER;
        options.objectName = "bench";
        server_ = std::make_unique<modeler::WebServer>(module_, options);
        if (auto error = server_->bind()) {
            error_ = *error;
            return;
        }
        serving_ = std::thread([this] { server_->run(); });
        client_ = std::make_unique<httplib::Client>("127.0.0.1", server_->port());
        client_->set_keep_alive(true);
        client_->set_tcp_nodelay(true);  // as browsers send
        auto started = client_->Post("/api/start", "", "text/plain");
        headers_ = {{"X-Workspace", stateOf(started->body)["workspace"].get<std::string>()}};
    }
    ~ServedPage() {
        client_.reset();
        if (server_) server_->stop();
        if (serving_.joinable()) serving_.join();
        server_.reset();  // its page goes before the module's handle
        varlobooks_module_close(module_);
    }
    const std::string &error() const { return error_; }
    httplib::Result post(const std::string &path, const std::string &body) {
        return client_->Post(path.c_str(), headers_, body, "text/plain");
    }
    httplib::Result get(const std::string &path) { return client_->Get(path.c_str(), headers_); }

  private:
    VarlobooksModule *module_ = nullptr;
    std::unique_ptr<modeler::WebServer> server_;
    std::thread serving_;
    std::unique_ptr<httplib::Client> client_;
    httplib::Headers headers_;
    std::string error_;
};

void ServeDrag(benchmark::State &state) {
    const int books = static_cast<int>(state.range(0));
    ServedPage page;
    if (!page.error().empty()) {
        state.SkipWithError(page.error().c_str());
        return;
    }
    // In a box longer than 1 almost every book is MaxSize (0.08) thick.
    const double length = books * 0.08;
    page.post("/api/action?gesture=begin", "press 0 0 0");
    auto placed = page.post("/api/action", "move " + std::to_string(length) + " 0.5 0.3");
    uint64_t held = stateOf(placed->body)["meshVersion"];
    std::size_t bytes = 0, step = 0;
    for (auto _ : state) {
        // Each move a little further, as a pointer goes: a new box each time.
        const double x = length + 0.001 * double(++step % 2);
        const std::string line = "drag 7 " + std::to_string(x) + " 0.5 0.3 view Z";
        auto answer = page.post("/api/action?have=" + std::to_string(held), line);
        if (!answer || answer->status != 200) {
            state.SkipWithError("the drag was refused");
            break;
        }
        const nlohmann::json frame = stateOf(answer->body);
        if (!frame["mesh"]) {
            state.SkipWithError("no mesh came back");
            break;
        }
        held = frame["meshVersion"];
        bytes += answer->body.size();
    }
    state.counters["polygons"] = double(stateOf(page.get("/api/state")->body)["polygons"]);
    state.SetBytesProcessed(int64_t(bytes));
}
BENCHMARK(ServeDrag)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();

// Undo on a 1,000-book shelf made as a person makes one: a press and pull,
// a panel edit, and a drag of 40 moves; each undo plays the session
// without its last step on a fresh host, each redo plays the step again.
// Timed: one undo and one redo, each answered with its frame.
void ServeUndo(benchmark::State &state) {
    const int books = static_cast<int>(state.range(0));
    ServedPage page;
    if (!page.error().empty()) {
        state.SkipWithError(page.error().c_str());
        return;
    }
    const double length = books * 0.08;
    page.post("/api/action?gesture=begin", "press 0 0 0");
    page.post("/api/action", "move " + std::to_string(length) + " 0.5 0.3");
    page.post("/api/action", "set Rotation 5");
    for (int step = 0; step < 40; ++step) {
        const double x = length + 0.002 * step;
        page.post(step ? "/api/action" : "/api/action?gesture=begin",
                  "drag 7 " + std::to_string(x) + " 0.5 0.3 view Z");
    }
    for (auto _ : state) {
        auto undone = page.post("/api/undo", "");
        auto redone = page.post("/api/redo", "");
        if (!undone || undone->status != 200 || !redone || redone->status != 200) {
            state.SkipWithError("undo or redo was refused");
            break;
        }
    }
    state.counters["polygons"] = double(stateOf(page.get("/api/state")->body)["polygons"]);
}
BENCHMARK(ServeUndo)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
