// modeler serve: the tool used by hand in a web page. One page at a time
// drives one workspace (a host and the tool on it); every request is one
// action of a session, answered with what the page shows next.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "modeler/serve/request_gate.h"
#include "varlobooks/host_api.h"

namespace modeler {

struct ServeOptions {
    std::string host = "127.0.0.1";
    int port = 8471;          // 0: any free port
    std::string images;       // the folder the form's folders come from
    std::string webFolder;    // the page's files
    std::string objectName;   // the edited object's, and the downloads'
    ConnectionLimits limits;  // what a client may send, and how slowly
};

class WebServer {
  public:
    // module: opened with the tool, and open for as long as this lives.
    WebServer(VarlobooksModule *module, ServeOptions options);
    ~WebServer();
    WebServer(const WebServer &) = delete;
    WebServer &operator=(const WebServer &) = delete;

    // Reads the page's files and binds the port; an error text on failure.
    [[nodiscard]] std::optional<std::string> bind();
    int port() const;
    // Serves until stop(); false when serving failed.
    bool run();
    void stop();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace modeler
