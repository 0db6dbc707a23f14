#include "modeler/session.h"

#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "modeler/loader.h"
#include "modeler/numbers.h"

namespace modeler {
namespace {

// Splits a line into words; "double quotes" keep spaces; '#' outside quotes
// starts a comment.
std::optional<std::vector<std::string>> splitWords(const std::string &line, std::string &error) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < line.size()) {
        const char c = line[i];
        if (c == ' ' || c == '\t' || c == '\r') {
            ++i;
        } else if (c == '#') {
            break;
        } else if (c == '"') {
            const std::size_t close = line.find('"', i + 1);
            if (close == std::string::npos) {
                error = "a closing \" for the text that opens here";
                return std::nullopt;
            }
            words.push_back(line.substr(i + 1, close - i - 1));
            i = close + 1;
        } else {
            std::size_t end = i;
            while (end < line.size() && line[end] != ' ' && line[end] != '\t' &&
                   line[end] != '\r') {
                ++end;
            }
            words.push_back(line.substr(i, end - i));
            i = end;
        }
    }
    return words;
}

class LineParser {
  public:
    LineParser(std::vector<std::string> words, std::string &error)
        : words_(std::move(words)), error_(error) {}

    std::size_t left() const { return words_.size() - next_; }
    const std::string &peek() const { return words_[next_]; }
    std::string take() { return words_[next_++]; }

    bool expectEnd(const char *usage) {
        if (left() == 0) return true;
        return fail(std::string("nothing after ") + usage + ", found \"" + peek() + "\"");
    }
    bool fail(std::string message) {
        if (error_.empty()) error_ = std::move(message);
        return false;
    }
    bool point(Vec3 &out, const char *what) {
        for (int i = 0; i < 3; ++i) {
            if (left() == 0) return fail(std::string("three numbers for ") + what);
            auto number = parseFiniteNumber(peek());
            if (!number)
                return fail(std::string("a finite number for ") + what + ", found \"" + peek() +
                            "\"");
            out[i] = *number;
            take();
        }
        return true;
    }

  private:
    std::vector<std::string> words_;
    std::size_t next_ = 1;  // words_[0] is the action
    std::string &error_;
};

std::optional<SessionStep> parseDrag(LineParser &p) {
    action::Drag drag{};
    if (p.left() == 0) return p.fail("a handle number 0 to 8 after drag"), std::nullopt;
    auto handle = parseWholeNumber<int>(p.peek());
    if (!handle)
        return p.fail("a handle number after drag, found \"" + p.peek() + "\""), std::nullopt;
    p.take();
    drag.handle = *handle;
    if (!p.point(drag.position, "the drag's target X Y Z")) return std::nullopt;
    while (p.left() > 0) {
        const std::string option = p.take();
        if (option == "delta") {
            Vec3 delta;
            if (!p.point(delta, "delta DX DY DZ")) return std::nullopt;
            drag.options.delta = delta;
        } else if (option == "view") {
            const std::string axis = p.left() ? p.take() : "";
            if (axis == "X" || axis == "x" || axis == "0")
                drag.options.viewAxis = 0;
            else if (axis == "Y" || axis == "y" || axis == "1")
                drag.options.viewAxis = 1;
            else if (axis == "Z" || axis == "z" || axis == "2")
                drag.options.viewAxis = 2;
            else if (axis == "none" || axis == "-1")
                drag.options.viewAxis = -1;
            else
                return p.fail("X, Y, Z or none after view, found \"" + axis + "\""), std::nullopt;
        } else if (option == "constrain") {
            drag.options.flags |= LWTOOLF_CONSTRAIN;
        } else if (option == "hold") {
            const std::string which = p.left() ? p.take() : "";
            if (which == "first")
                drag.options.flags |= LWTOOLF_HOLD_FIRST;
            else if (which == "second")
                drag.options.flags |= LWTOOLF_HOLD_SECOND;
            else
                return p.fail("first or second after hold, found \"" + which + "\""), std::nullopt;
        } else {
            p.fail("delta, view, constrain or hold after the drag's target, found \"" + option +
                   "\"");
            return std::nullopt;
        }
    }
    return drag;
}

std::optional<SessionStep> parseAction(LineParser &p, const std::string &verb,
                                       const std::string &baseFolder) {
    auto single = [&](const char *what) -> std::optional<std::string> {
        if (p.left() == 0) return p.fail(std::string(what) + " after " + verb), std::nullopt;
        std::string word = p.take();
        if (!p.expectEnd(what)) return std::nullopt;
        return word;
    };
    if (verb == "object" || verb == "surface") {
        auto name = single("a name");
        if (!name) return std::nullopt;
        if (name->empty()) return p.fail("a name that is not empty"), std::nullopt;
        if (verb == "object") return action::Object{*name};
        return action::Surface{*name};
    }
    if (verb == "clock") {
        auto text = single("the clock's seconds");
        if (!text) return std::nullopt;
        auto seconds = parseWholeNumber<int64_t>(*text);
        if (!seconds)
            return p.fail("whole seconds after clock, found \"" + *text + "\""), std::nullopt;
        return action::Clock{*seconds};
    }
    if (verb == "activate") {
        if (!p.expectEnd("activate")) return std::nullopt;
        return action::Event{LWTOOL_EVENT_ACTIVATE};
    }
    if (verb == "event") {
        auto text = single("an event code");
        if (!text) return std::nullopt;
        auto code = parseWholeNumber<int>(*text);
        if (!code) return p.fail("a whole event code, found \"" + *text + "\""), std::nullopt;
        return action::Event{*code};
    }
    if (verb == "press" || verb == "move") {
        Vec3 position;
        if (!p.point(position, "the pointer's X Y Z") || !p.expectEnd("X Y Z")) return std::nullopt;
        if (verb == "press") return action::Press{position};
        return action::Move{position};
    }
    if (verb == "drag") return parseDrag(p);
    if (verb == "set") {
        if (p.left() != 2)
            return p.fail("a label and a value after set (quote a label with spaces)"),
                   std::nullopt;
        std::string label = p.take();
        return action::Set{label, p.take()};
    }
    if (verb == "end") {
        auto how = single("keep or discard");
        if (!how) return std::nullopt;
        if (*how != "keep" && *how != "discard") {
            return p.fail("keep or discard after end, found \"" + *how + "\""), std::nullopt;
        }
        return action::End{*how == "keep"};
    }
    if (verb == "done") {
        if (p.left() == 0) return p.fail("cancel or folder PATH after done"), std::nullopt;
        const std::string how = p.take();
        if (how == "cancel") {
            if (!p.expectEnd("done cancel")) return std::nullopt;
            return action::Done{std::nullopt};
        }
        if (how != "folder")
            return p.fail("cancel or folder after done, found \"" + how + "\""), std::nullopt;
        auto folder = single("a folder path");
        if (!folder) return std::nullopt;
        std::filesystem::path path(*folder);
        if (path.is_relative() && !baseFolder.empty())
            path = std::filesystem::path(baseFolder) / path;
        return action::Done{path.string()};
    }
    p.fail(
        "an action (object, surface, clock, activate, event, press, move, drag, set, end, "
        "done), found \"" +
        verb + "\"");
    return std::nullopt;
}

std::string at(const std::string &file, int line, const std::string &message) {
    return file + ":" + std::to_string(line) + ": " + message;
}

// Why activation failed: its result and the first fault the host found.
std::string activationFailure(const Host &host, int result) {
    std::string why = "the tool does not activate (result " + std::to_string(result);
    if (!host.faults().empty()) why += "; plug-in fault: " + host.faults().front();
    return why + ")";
}

// Tells what action a did: its build's result, and the value a panel edit
// left (the tool may clamp or cut what was typed).
void reportAction(const std::function<void(const std::string &)> &report, ToolDriver &driver,
                  const Session &session, const SessionAction &a, std::size_t buildsBefore) {
    if (const auto *set = std::get_if<action::Set>(&a.step)) {
        if (Panel *panel = driver.numericPanel()) {
            if (const PanelControl *control = panel->controlByLabel(set->label)) {
                const void *value = panel->get(panel->instance, control->id);
                report(at(session.file, a.line,
                          "\"" + set->label + "\" is " + formatPanelValue(*control, value)));
            }
        }
    }
    for (std::size_t b = buildsBefore; b < driver.builds().size(); ++b) {
        const BuildReport &r = driver.builds()[b];
        report(at(session.file, a.line,
                  "build: " + std::to_string(r.shells) + " books, " + std::to_string(r.points) +
                      " points, " + std::to_string(r.polygons) + " polygons, " +
                      std::to_string(r.values) + " UV values"));
    }
}

}  // namespace

std::variant<Session, std::string> parseSession(const std::string &text, const std::string &file,
                                                const std::string &baseFolder) {
    Session session{file, {}};
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    bool left = false;
    while (std::getline(lines, line)) {
        ++number;
        std::string error;
        auto words = splitWords(line, error);
        if (!words) return at(file, number, "expected " + error);
        if (words->empty()) continue;
        if (left) return at(file, number, "expected nothing after done: the tool was left");
        LineParser parser(*words, error);
        auto step = parseAction(parser, (*words)[0], baseFolder);
        if (!step) return at(file, number, "expected " + error);
        left = std::holds_alternative<action::Done>(*step);
        session.actions.push_back({number, std::move(*step)});
    }
    return session;
}

std::variant<Session, std::string> readSession(const std::string &path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return path + ": no such session file";
    std::ifstream in(path, std::ios::binary);
    if (!in) return path + ": cannot read the session";
    std::ostringstream text;
    text << in.rdbuf();
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    return parseSession(text.str(), path, parent.empty() ? "." : parent.string());
}

std::optional<std::string> checkSession(const Session &session,
                                        const std::optional<std::vector<PanelControl>> &controls) {
    for (const SessionAction &a : session.actions) {
        const auto *set = std::get_if<action::Set>(&a.step);
        if (!set) continue;
        if (!controls)
            return at(session.file, a.line, "expected no panel edit: the tool has no panel");
        const PanelControl *found = nullptr;
        std::string labels;
        for (const PanelControl &c : *controls) {
            if (c.hidden || c.dataType.empty()) continue;
            labels += (labels.empty() ? "\"" : ", \"") + c.label + "\"";
            if (c.label == set->label) found = &c;
        }
        if (!found) {
            return at(session.file, a.line,
                      "expected a panel label (" + labels + "), found \"" + set->label + "\"");
        }
        if (!parsePanelValue(*found, set->value)) {
            return at(session.file, a.line,
                      "expected " + describeKind(*found) + " for \"" + set->label + "\", found \"" +
                          set->value + "\"");
        }
    }
    return std::nullopt;
}

std::variant<std::optional<std::vector<PanelControl>>, std::string> probeNumericPanel(
    LoadedModule &, const ServerRecord &server) {
    Host scratch;
    ToolDriver driver(scratch, server);
    const int result = driver.activate();
    if (result != AFUNC_OK || !driver.inUse()) return activationFailure(scratch, result);
    std::optional<std::vector<PanelControl>> controls;
    if (Panel *panel = driver.numericPanel()) controls = panel->controls;
    driver.done(std::nullopt);
    return controls;
}

std::optional<std::string> runSession(Host &host, LoadedModule &module, const ServerRecord &server,
                                      const Session &session, const RunOptions &options) {
    ToolDriver driver(host, server);
    const int result = driver.activate();
    if (result != AFUNC_OK || !driver.inUse()) {
        return session.file + ": " + activationFailure(host, result);
    }
    auto faultsSince = [&host](std::size_t before) -> std::optional<std::string> {
        if (host.faults().size() == before) return std::nullopt;
        return "plug-in fault: " + host.faults()[before];
    };
    for (const SessionAction &a : session.actions) {
        const std::size_t faults = host.faults().size();
        const std::size_t builds = driver.builds().size();
        std::optional<std::string> error;
        std::visit(
            [&](const auto &step) {
                using T = std::decay_t<decltype(step)>;
                if constexpr (std::is_same_v<T, action::Object>) {
                    host.scene().setObjectName(step.name);
                } else if constexpr (std::is_same_v<T, action::Surface>) {
                    host.scene().addSurface(step.name);
                } else if constexpr (std::is_same_v<T, action::Clock>) {
                    if (!module.hasClock()) error = "the module has no settable clock";
                    module.setClock(step.seconds);
                } else if constexpr (std::is_same_v<T, action::Event>) {
                    driver.event(step.code);
                } else if constexpr (std::is_same_v<T, action::Press>) {
                    driver.press(step.position);
                } else if constexpr (std::is_same_v<T, action::Move>) {
                    driver.move(step.position);
                } else if constexpr (std::is_same_v<T, action::Drag>) {
                    driver.drag(step.handle, step.position, step.options);
                } else if constexpr (std::is_same_v<T, action::Set>) {
                    error = driver.setPanelValue(step.label, step.value);
                } else if constexpr (std::is_same_v<T, action::End>) {
                    driver.end(step.keep);
                } else if constexpr (std::is_same_v<T, action::Done>) {
                    driver.done(options.folderAnswer ? options.folderAnswer : step.folder);
                }
            },
            a.step);
        if (!error) error = faultsSince(faults);
        if (!error && options.report) reportAction(options.report, driver, session, a, builds);
        if (error) return at(session.file, a.line, *error);
    }
    if (driver.inUse()) {
        // Leaving the tool without answering its request cancels it.
        const std::size_t faults = host.faults().size();
        driver.done(options.folderAnswer);
        if (auto error = faultsSince(faults))
            return session.file + ": on leaving the tool: " + *error;
    }
    return std::nullopt;
}

}  // namespace modeler
