// Sessions: what a user does with the tool in the modeller, one action a
// line, '#' starting a comment. A session is checked whole before anything
// runs, so that a mistake on line 40 does not leave half a shelf behind.
//
//   object NAME                  the edited object's name
//   surface NAME                 the object already has this surface
//   clock SECONDS                the time the tool's clock reads from here on
//   activate                     the activate event (code 2)
//   event CODE                   a host event
//   press X Y Z                  a pointer press away from the handles
//   move X Y Z                   a pointer move
//   drag HANDLE X Y Z [delta DX DY DZ] [view X|Y|Z|none] [constrain]
//        [hold first|second]     a press on a handle and a drag to X Y Z
//   set LABEL VALUE              a panel edit ("Random Front" 0.3, Axis Y,
//                                Type Softcover, Rotation 15 in degrees)
//   end keep|discard             end the edit
//   done cancel | done folder PATH
//                                leave the tool, answering its folder request
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "modeler/panels.h"
#include "modeler/tool_driver.h"

namespace modeler {

class LoadedModule;

namespace action {
struct Object {
    std::string name;
};
struct Surface {
    std::string name;
};
struct Clock {
    int64_t seconds;
};
struct Event {
    int code;
};
struct Press {
    Vec3 position;
};
struct Move {
    Vec3 position;
};
struct Drag {
    int handle;
    Vec3 position;
    DragOptions options;
};
struct Set {
    std::string label;
    std::string value;
};
struct End {
    bool keep;
};
struct Done {
    std::optional<std::string> folder;
};
}  // namespace action

using SessionStep =
    std::variant<action::Object, action::Surface, action::Clock, action::Event, action::Press,
                 action::Move, action::Drag, action::Set, action::End, action::Done>;

struct SessionAction {
    int line;
    SessionStep step;
};

struct Session {
    std::string file;  // for messages
    std::vector<SessionAction> actions;
};

// Parses session text. Relative folders of "done folder" are taken from
// baseFolder (the session file's folder). An error "FILE:LINE: ..." when a
// line is not a well-formed action.
std::variant<Session, std::string> parseSession(const std::string &text, const std::string &file,
                                                const std::string &baseFolder);
std::variant<Session, std::string> readSession(const std::string &path);

// Checks the panel edits against the tool's panel (labels and kinds of
// value). controls: the panel's controls, or nullopt when the tool has none.
std::optional<std::string> checkSession(const Session &session,
                                        const std::optional<std::vector<PanelControl>> &controls);

// The controls of the numeric panel of server, found by activating it on a
// scratch host and leaving it again; nullopt when it has no panel. No host
// may be running. An error text when the tool does not activate.
std::variant<std::optional<std::vector<PanelControl>>, std::string> probeNumericPanel(
    LoadedModule &module, const ServerRecord &server);

struct RunOptions {
    std::optional<std::string> folderAnswer;  // answers every folder request instead
    // When set, told what each action did: every build's result and the
    // value a panel edit left, as "FILE:LINE: ..." lines.
    std::function<void(const std::string &)> report;
};

// Runs session on host with a fresh activation of server. An error text,
// naming the line, when the tool does not activate, an action cannot be done,
// or the plug-in misbehaves.
std::optional<std::string> runSession(Host &host, LoadedModule &module, const ServerRecord &server,
                                      const Session &session, const RunOptions &options = {});

}  // namespace modeler
