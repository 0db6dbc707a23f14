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
//   set LABEL VALUE              a panel edit, as the tool's panel labels
//                                it (quote a label with spaces; angles in
//                                degrees, choices by name)
//   end keep|discard             end the edit
//   done cancel | done folder PATH
//                                leave the tool, answering its folder request
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "modeler/drive/tool_driver.h"
#include "modeler/services/xpanel_service.h"

namespace modeler {

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
    std::string source;  // what the user typed it as, when not a line of a file
};

struct Session {
    std::string file;  // for messages
    std::vector<SessionAction> actions;
};

// "FILE:LINE: message", the form of every session error.
[[nodiscard]] std::string atLine(const std::string &file, int line, const std::string &message);
// The same for an action: "SOURCE: message" where the action came from an
// option rather than a file.
[[nodiscard]] std::string atAction(const Session &session, const SessionAction &action,
                                   const std::string &message);

// The line that parses back to step (numbers in their shortest exact form,
// words quoted where they hold spaces).
[[nodiscard]] std::string actionText(const SessionStep &step);

// Parses session text. Relative folders of "done folder" are taken from
// baseFolder (the session file's folder). An error "FILE:LINE: ..." when a
// line is not a well-formed action or not UTF-8.
[[nodiscard]] std::variant<Session, std::string> parseSession(const std::string &text,
                                                              const std::string &file,
                                                              const std::string &baseFolder);
[[nodiscard]] std::variant<Session, std::string> readSession(const std::string &path);

// What fill does, as a session named "fill": set the clock to seed,
// activate, press at the box's first corner, move to the other, make the
// panel edits ("LABEL=VALUE" each), keep. An error naming the option when
// an edit is not LABEL=VALUE or not UTF-8.
struct FillRequest {
    std::array<Vec3, 2> box;
    int64_t seed = 0;
    std::vector<std::string> sets;
};
[[nodiscard]] std::variant<Session, std::string> makeFillSession(const FillRequest &request);

// Checks the panel edits against the tool's panel (labels and kinds of
// value). controls: the panel's controls, or nullopt when the tool has none.
// An error "FILE:LINE: ..." naming the first edit that does not fit.
[[nodiscard]] std::optional<std::string> checkSession(
    const Session &session, const std::optional<std::vector<PanelControl>> &controls);

}  // namespace modeler
