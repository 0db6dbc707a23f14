// modeler serve: the tool used by hand in a web page. One page at a time
// drives one workspace (a host and the tool on it); every request is one
// action of a session, answered with what the page shows next.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "modeler/export/export_look.h"

#include "modeler/drive/module_loader.h"

namespace modeler {

struct ServeOptions {
    std::string host = "127.0.0.1";
    int port = 8471;                // 0: any free port
    std::string images;             // the folder the form's folders come from
    std::string webFolder;          // the page's files
    std::string objectName;         // the edited object's, and the downloads'
    ExportLook look;                // how the page and the downloads show it
    std::string unloadedImageHint;  // see Host::setUnloadedImageHint
};

class WebServer {
  public:
    WebServer(LoadedModule &module, const ServerRecord &server, ServeOptions options);
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
