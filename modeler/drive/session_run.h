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

struct RunOptions {
    std::optional<std::string> folderAnswer;  // answers every folder request instead
    // When set, asked instead at each form the tool posts while leaving: a
    // person choosing the folder then.
    FormAnswerer formAnswerer;
    // When set, told what each action did: every build's result and the
    // value a panel edit left, as "FILE:LINE: ..." lines.
    std::function<void(const std::string &)> report;
    // What the report calls the tool's closed shells (the program's profile
    // says: "books").
    std::string shellNoun = "shells";
};

// Sets the clock the tool's presses read; false when the tool has none.
using ClockSetter = std::function<bool(int64_t seconds)>;

// Plays a session one action at a time, as runSession does, for a host that
// learns the actions as a person does them.
class SessionPlayer {
  public:
    SessionPlayer(Host &host, const ServerRecord &server, RunOptions options, ClockSetter setClock);
    // Activates the tool; an error text, naming file, when it does not.
    [[nodiscard]] std::optional<std::string> start(const std::string &file);
    // Checks every panel edit of session against the activated tool's panel
    // (its labels and the kinds of their values), before any action runs.
    [[nodiscard]] std::optional<std::string> check(const Session &session);
    // Plays every action of session; the first error stops it.
    [[nodiscard]] std::optional<std::string> playAll(const Session &session);
    // Does one action of session, then the update cycle; an error text
    // naming the action when it cannot be done or the plug-in misbehaves.
    [[nodiscard]] std::optional<std::string> play(const Session &session,
                                                  const SessionAction &action);
    // Leaves the tool if the session did not (cancelling its request).
    [[nodiscard]] std::optional<std::string> finish(const std::string &file);
    ToolDriver &driver() { return driver_; }
    Host &host() { return host_; }

  private:
    Host &host_;
    RunOptions options_;
    ClockSetter setClock_;
    ToolDriver driver_;
};

// Runs session on host with one activation of server: start, check,
// playAll, finish. An error text, naming the line, when the tool does not
// activate, a panel edit does not fit its panel, an action cannot be done,
// or the plug-in misbehaves.
[[nodiscard]] std::optional<std::string> runSession(Host &host, const ServerRecord &server,
                                                    const Session &session,
                                                    const RunOptions &options,
                                                    const ClockSetter &setClock);

// Sets host's clock, which module's clock reads while host serves it.
ClockSetter clockOf(const LoadedModule &module, Host &host);

// The same with the clock of a loaded module.
[[nodiscard]] std::optional<std::string> runSession(Host &host, LoadedModule &module,
                                                    const ServerRecord &server,
                                                    const Session &session,
                                                    const RunOptions &options = {});

}  // namespace modeler
