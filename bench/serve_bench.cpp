// A handle drag through modeler serve's HTTP API, as the page makes it: one
// pointer move on a shelf of about 1,000 books answered with the rebuilt
// shelf, the tool's preview and handles, and the changed mesh in binary.
#include <benchmark/benchmark.h>
#include <httplib.h>

#include <cstdio>
#include <cstring>
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

void ServeDrag(benchmark::State &state) {
    const int books = static_cast<int>(state.range(0));
    VarlobooksModule *module = nullptr;
    if (varlobooks_module_open(VARLOBOOKS_MODULE_PATH, &module) != VARLOBOOKS_OK) {
        state.SkipWithError(varlobooks_module_error(module));
        varlobooks_module_close(module);
        return;
    }
    modeler::ServeOptions options;
    options.port = 0;
    options.webFolder = WEB_FOLDER;
    options.objectName = "bench";
    modeler::WebServer server(module, options);
    if (auto error = server.bind()) {
        varlobooks_module_close(module);
        state.SkipWithError(error->c_str());
        return;
    }
    std::thread serving([&server] { server.run(); });
    {
        httplib::Client client("127.0.0.1", server.port());
        client.set_keep_alive(true);
        client.set_tcp_nodelay(true);  // as browsers send
        auto started = client.Post("/api/start", "", "text/plain");
        const std::string token = stateOf(started->body)["workspace"];
        const httplib::Headers headers = {{"X-Workspace", token}};
        // In a box longer than 1 almost every book is MaxSize (0.08) thick.
        const double length = books * 0.08;
        client.Post("/api/action?gesture=begin", headers, "press 0 0 0", "text/plain");
        auto placed = client.Post("/api/action", headers,
                                  "move " + std::to_string(length) + " 0.5 0.3", "text/plain");
        uint64_t held = stateOf(placed->body)["meshVersion"];
        std::size_t bytes = 0, step = 0;
        for (auto _ : state) {
            // Each move a little further, as a pointer goes: a new box each time.
            const double x = length + 0.001 * double(++step % 2);
            const std::string line = "drag 7 " + std::to_string(x) + " 0.5 0.3 view Z";
            auto answer = client.Post(("/api/action?have=" + std::to_string(held)).c_str(), headers,
                                      line, "text/plain");
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
        state.counters["polygons"] =
            double(stateOf(client.Get("/api/state", headers)->body)["polygons"]);
        state.SetBytesProcessed(int64_t(bytes));
    }
    server.stop();
    serving.join();
    varlobooks_module_close(module);
}
BENCHMARK(ServeDrag)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();

// Undo on a 1,000-book shelf made as a person makes one: a press and pull,
// a panel edit, and a drag of 40 moves; each undo plays the session
// without its last step on a fresh host, each redo plays the step again.
// Timed: one undo and one redo, each answered with its frame.
void ServeUndo(benchmark::State &state) {
    const int books = static_cast<int>(state.range(0));
    VarlobooksModule *module = nullptr;
    if (varlobooks_module_open(VARLOBOOKS_MODULE_PATH, &module) != VARLOBOOKS_OK) {
        state.SkipWithError(varlobooks_module_error(module));
        varlobooks_module_close(module);
        return;
    }
    modeler::ServeOptions options;
    options.port = 0;
    options.webFolder = WEB_FOLDER;
    options.objectName = "bench";
    modeler::WebServer server(module, options);
    if (auto error = server.bind()) {
        varlobooks_module_close(module);
        state.SkipWithError(error->c_str());
        return;
    }
    std::thread serving([&server] { server.run(); });
    {
        httplib::Client client("127.0.0.1", server.port());
        client.set_keep_alive(true);
        auto started = client.Post("/api/start", "", "text/plain");
        const std::string token = stateOf(started->body)["workspace"];
        const httplib::Headers headers = {{"X-Workspace", token}};
        const double length = books * 0.08;
        client.Post("/api/action?gesture=begin", headers, "press 0 0 0", "text/plain");
        client.Post("/api/action", headers, "move " + std::to_string(length) + " 0.5 0.3",
                    "text/plain");
        client.Post("/api/action", headers, "set Rotation 5", "text/plain");
        for (int step = 0; step < 40; ++step) {
            const double x = length + 0.002 * step;
            const std::string line = "drag 7 " + std::to_string(x) + " 0.5 0.3 view Z";
            client.Post(step ? "/api/action" : "/api/action?gesture=begin", headers, line,
                        "text/plain");
        }
        for (auto _ : state) {
            auto undone = client.Post("/api/undo", headers, "", "text/plain");
            auto redone = client.Post("/api/redo", headers, "", "text/plain");
            if (!undone || undone->status != 200 || !redone || redone->status != 200) {
                state.SkipWithError("undo or redo was refused");
                break;
            }
        }
        state.counters["polygons"] =
            double(stateOf(client.Get("/api/state", headers)->body)["polygons"]);
    }
    server.stop();
    serving.join();
    varlobooks_module_close(module);
}
BENCHMARK(ServeUndo)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
