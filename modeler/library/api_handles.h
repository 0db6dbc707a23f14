// What the C API's handles hold, and the guard every function runs its
// body in, so that nothing thrown leaves the library.
#pragma once

#include <exception>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "modeler/drive/module_loader.h"
#include "modeler/session/host_session.h"
#include "varlobooks/host_api.h"

// Sessions and pages share their module: it is unloaded when the last of
// them and its handle are gone, whatever the order they are freed in.
struct VarlobooksModule {
    std::shared_ptr<modeler::LoadedModule> loaded;
    const ServerRecord *tool = nullptr;  // the profile's server, when loaded
    std::string path;
    std::string error;
};

struct VarlobooksSession {
    std::shared_ptr<modeler::LoadedModule> module;  // first: it outlives the session
    std::unique_ptr<modeler::HostSession> session;
    std::string error;
    std::string text;     // the last text handed out
    std::string summary;  // the last summary line handed out
    // The panel's controls as last handed out, and the session's version then.
    struct Control {
        std::string label, controlClass, kind, value;
        std::vector<std::string> choices;
    };
    std::vector<Control> controls;
    uint64_t controlsVersion = 0;
};

struct VarlobooksFiles {
    std::vector<std::pair<std::string, std::string>> files;
};

namespace modeler::library {

// Runs body, which returns a status and sets error on failure; anything
// thrown becomes VARLOBOOKS_INTERNAL_ERROR with its text.
template <typename Body>
VarlobooksStatus guarded(std::string &error, Body &&body) noexcept {
    try {
        error.clear();
        return body();
    } catch (const std::bad_alloc &) {
        error = "out of memory";
    } catch (const std::exception &e) {
        try {
            error = std::string("internal error: ") + e.what();
        } catch (...) {
        }
    } catch (...) {
        error = "internal error";
    }
    return VARLOBOOKS_INTERNAL_ERROR;
}

inline VarlobooksStatus fail(std::string &error, VarlobooksStatus status, std::string message) {
    error = std::move(message);
    return status;
}

// A session's settings as the plug-in's profile gives them.
SessionSettings profileSettings(bool merge);

// "PATH: no CLASS server "NAME"": a module without the tool.
std::string noTool(const VarlobooksModule &module);

}  // namespace modeler::library
