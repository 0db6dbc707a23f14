// Playing a session: a fresh activation of the tool on a host, each action
// handed to the tool driver, and what went wrong reported by line.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "modeler/drive/module_loader.h"
#include "modeler/drive/session.h"

namespace modeler {

// The controls of the numeric panel of server, found by activating it on a
// scratch host and leaving it again; nullopt when it has no panel. No host
// may be running. An error text when the tool does not activate.
[[nodiscard]] std::variant<std::optional<std::vector<PanelControl>>, std::string> probeNumericPanel(
    const ServerRecord &server);

struct RunOptions {
    std::optional<std::string> folderAnswer;  // answers every folder request instead
    // When set, told what each action did: every build's result and the
    // value a panel edit left, as "FILE:LINE: ..." lines.
    std::function<void(const std::string &)> report;
};

// Sets the clock the tool's presses read; false when the tool has none.
using ClockSetter = std::function<bool(int64_t seconds)>;

// Runs session on host with a fresh activation of server. An error text,
// naming the line, when the tool does not activate, an action cannot be done,
// or the plug-in misbehaves.
[[nodiscard]] std::optional<std::string> runSession(Host &host, const ServerRecord &server,
                                                    const Session &session,
                                                    const RunOptions &options,
                                                    const ClockSetter &setClock);

// The same with the clock of a loaded module.
[[nodiscard]] std::optional<std::string> runSession(Host &host, LoadedModule &module,
                                                    const ServerRecord &server,
                                                    const Session &session,
                                                    const RunOptions &options = {});

}  // namespace modeler
