#include <charconv>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "modeler/drive/panel_values.h"
#include "modeler/drive/session.h"
#include "modeler/drive/user_input.h"
#include "modeler/model/utf8.h"

namespace modeler {
namespace {

// Splits a line into words; "double quotes" keep spaces; '#' outside quotes
// starts a comment.
std::optional<std::vector<std::string>> splitWords(const std::string &line, std::string &error) {
    std::vector<std::string> words;
    std::size_t i = 0;
    auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (i < line.size()) {
        const char c = line[i];
        if (isSpace(c)) {
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
            while (end < line.size() && !isSpace(line[end]))
                ++end;
            words.push_back(line.substr(i, end - i));
            i = end;
        }
    }
    return words;
}

// The words of one action after its verb, taken one by one. The first
// mistake is kept as the line's error.
class LineParser {
  public:
    LineParser(std::vector<std::string> words, std::string &error)
        : words_(std::move(words)), error_(error) {}

    const std::string &verb() const { return words_[0]; }
    std::size_t left() const { return words_.size() - next_; }
    const std::string &peek() const { return words_[next_]; }
    std::string take() { return left() ? words_[next_++] : std::string(); }

    // Records message as the line's error; the result a failed parse returns.
    std::nullopt_t fail(std::string message) {
        if (error_.empty()) error_ = std::move(message);
        return std::nullopt;
    }
    bool expectEnd(const char *usage) {
        if (left() == 0) return true;
        fail(std::string("nothing after ") + usage + ", found \"" + peek() + "\"");
        return false;
    }
    // The one word after the verb, and nothing after it.
    std::optional<std::string> single(const char *what) {
        if (left() == 0) return fail(std::string(what) + " after " + verb());
        std::string word = take();
        if (!expectEnd(what)) return std::nullopt;
        return word;
    }
    bool point(Vec3 &out, const char *what) {
        for (int i = 0; i < 3; ++i) {
            if (left() == 0) {
                fail(std::string("three numbers for ") + what);
                return false;
            }
            auto number = parseFiniteNumber(peek());
            if (!number) {
                fail(std::string("a finite number for ") + what + ", found \"" + peek() + "\"");
                return false;
            }
            out[i] = *number;
            take();
        }
        return true;
    }

  private:
    std::vector<std::string> words_;
    std::size_t next_ = 1;  // words_[0] is the verb
    std::string &error_;
};

using StepOrNothing = std::optional<SessionStep>;

bool parseDragOption(LineParser &p, DragOptions &options) {
    const std::string option = p.take();
    if (option == "delta") {
        Vec3 delta;
        if (!p.point(delta, "delta DX DY DZ")) return false;
        options.delta = delta;
    } else if (option == "view") {
        const std::string axis = p.take();
        if (axis == "none" || axis == "-1") {
            options.viewAxis = -1;
        } else if (auto number = parseAxisName(axis)) {
            options.viewAxis = *number;
        } else {
            p.fail("X, Y, Z or none after view, found \"" + axis + "\"");
            return false;
        }
    } else if (option == "constrain") {
        options.flags |= LWTOOLF_CONSTRAIN;
    } else if (option == "hold") {
        const std::string which = p.take();
        if (which == "first") {
            options.flags |= LWTOOLF_HOLD_FIRST;
        } else if (which == "second") {
            options.flags |= LWTOOLF_HOLD_SECOND;
        } else {
            p.fail("first or second after hold, found \"" + which + "\"");
            return false;
        }
    } else {
        p.fail("delta, view, constrain or hold after the drag's target, found \"" + option + "\"");
        return false;
    }
    return true;
}

StepOrNothing parseDrag(LineParser &p, const std::string &) {
    action::Drag drag{};
    if (p.left() == 0) return p.fail("a handle number 0 to 8 after drag");
    auto handle = parseWholeNumber<int>(p.peek());
    if (!handle) return p.fail("a handle number after drag, found \"" + p.peek() + "\"");
    p.take();
    drag.handle = *handle;
    if (!p.point(drag.position, "the drag's target X Y Z")) return std::nullopt;
    while (p.left() > 0) {
        if (!parseDragOption(p, drag.options)) return std::nullopt;
    }
    return drag;
}

StepOrNothing parseName(LineParser &p, const std::string &) {
    auto name = p.single("a name");
    if (!name) return std::nullopt;
    if (name->empty()) return p.fail("a name that is not empty");
    if (p.verb() == "object") return action::Object{*name};
    return action::Surface{*name};
}

StepOrNothing parseClock(LineParser &p, const std::string &) {
    auto text = p.single("the clock's seconds");
    if (!text) return std::nullopt;
    auto seconds = parseWholeNumber<int64_t>(*text);
    if (!seconds) return p.fail("whole seconds after clock, found \"" + *text + "\"");
    return action::Clock{*seconds};
}

StepOrNothing parseActivate(LineParser &p, const std::string &) {
    if (!p.expectEnd("activate")) return std::nullopt;
    return action::Event{LWTOOL_EVENT_ACTIVATE};
}

StepOrNothing parseEvent(LineParser &p, const std::string &) {
    auto text = p.single("an event code");
    if (!text) return std::nullopt;
    auto code = parseWholeNumber<int>(*text);
    if (!code) return p.fail("a whole event code, found \"" + *text + "\"");
    return action::Event{*code};
}

StepOrNothing parsePointer(LineParser &p, const std::string &) {
    Vec3 position;
    if (!p.point(position, "the pointer's X Y Z") || !p.expectEnd("X Y Z")) return std::nullopt;
    if (p.verb() == "press") return action::Press{position};
    return action::Move{position};
}

StepOrNothing parseSet(LineParser &p, const std::string &) {
    if (p.left() != 2) return p.fail("a label and a value after set (quote a label with spaces)");
    std::string label = p.take();
    return action::Set{label, p.take()};
}

StepOrNothing parseEnd(LineParser &p, const std::string &) {
    auto how = p.single("keep or discard");
    if (!how) return std::nullopt;
    if (*how != "keep" && *how != "discard")
        return p.fail("keep or discard after end, found \"" + *how + "\"");
    return action::End{*how == "keep"};
}

StepOrNothing parseDone(LineParser &p, const std::string &baseFolder) {
    if (p.left() == 0) return p.fail("cancel or folder PATH after done");
    const std::string how = p.take();
    if (how == "cancel") {
        if (!p.expectEnd("done cancel")) return std::nullopt;
        return action::Done{std::nullopt};
    }
    if (how != "folder") return p.fail("cancel or folder after done, found \"" + how + "\"");
    auto folder = p.single("a folder path");
    if (!folder) return std::nullopt;
    std::filesystem::path path(*folder);
    if (path.is_relative() && !baseFolder.empty()) path = std::filesystem::path(baseFolder) / path;
    return action::Done{path.string()};
}

struct Verb {
    const char *name;
    StepOrNothing (*parse)(LineParser &, const std::string &baseFolder);
};

constexpr Verb kVerbs[] = {
    {"object", parseName},       {"surface", parseName}, {"clock", parseClock},
    {"activate", parseActivate}, {"event", parseEvent},  {"press", parsePointer},
    {"move", parsePointer},      {"drag", parseDrag},    {"set", parseSet},
    {"end", parseEnd},           {"done", parseDone},
};

StepOrNothing parseAction(LineParser &p, const std::string &baseFolder) {
    for (const Verb &verb : kVerbs) {
        if (p.verb() == verb.name) return verb.parse(p, baseFolder);
    }
    std::string names;
    for (const Verb &verb : kVerbs)
        names += (names.empty() ? "" : ", ") + std::string(verb.name);
    return p.fail("an action (" + names + "), found \"" + p.verb() + "\"");
}

std::string byteText(unsigned char byte) {
    static const char kDigits[] = "0123456789ABCDEF";
    return std::string("0x") + kDigits[byte >> 4] + kDigits[byte & 15];
}

// A word as splitWords reads it back: quoted when it holds what would end
// or hide it.
std::string wordText(const std::string &word) {
    if (!word.empty() && word.find_first_of(" \t\r#") == std::string::npos && word[0] != '"')
        return word;
    return "\"" + word + "\"";
}

std::string numberText(double value) {
    char text[kShortestRoom];
    return std::string(text, writeShortest(text, value));
}

std::string pointText(const Vec3 &p) {
    return numberText(p[0]) + " " + numberText(p[1]) + " " + numberText(p[2]);
}

}  // namespace

std::string actionText(const SessionStep &step) {
    return std::visit(
        [](const auto &a) -> std::string {
            using T = std::decay_t<decltype(a)>;
            if constexpr (std::is_same_v<T, action::Object>) {
                return "object " + wordText(a.name);
            } else if constexpr (std::is_same_v<T, action::Surface>) {
                return "surface " + wordText(a.name);
            } else if constexpr (std::is_same_v<T, action::Clock>) {
                return "clock " + std::to_string(a.seconds);
            } else if constexpr (std::is_same_v<T, action::Event>) {
                if (a.code == LWTOOL_EVENT_ACTIVATE) return "activate";
                return "event " + std::to_string(a.code);
            } else if constexpr (std::is_same_v<T, action::Press>) {
                return "press " + pointText(a.position);
            } else if constexpr (std::is_same_v<T, action::Move>) {
                return "move " + pointText(a.position);
            } else if constexpr (std::is_same_v<T, action::Drag>) {
                std::string text = "drag " + std::to_string(a.handle) + " " + pointText(a.position);
                if (a.options.delta) text += " delta " + pointText(*a.options.delta);
                if (a.options.viewAxis >= 0 && a.options.viewAxis <= 2)
                    text += std::string(" view ") + "XYZ"[a.options.viewAxis];
                if (a.options.flags & LWTOOLF_CONSTRAIN) text += " constrain";
                if (a.options.flags & LWTOOLF_HOLD_FIRST) text += " hold first";
                if (a.options.flags & LWTOOLF_HOLD_SECOND) text += " hold second";
                return text;
            } else if constexpr (std::is_same_v<T, action::Set>) {
                return "set " + wordText(a.label) + " " + wordText(a.value);
            } else if constexpr (std::is_same_v<T, action::End>) {
                return a.keep ? "end keep" : "end discard";
            } else {
                static_assert(std::is_same_v<T, action::Done>);
                // A path is always quoted: it may hold spaces on any system.
                return a.folder ? "done folder \"" + *a.folder + "\"" : "done cancel";
            }
        },
        step);
}

std::string atLine(const std::string &file, int line, const std::string &message) {
    return file + ":" + std::to_string(line) + ": " + message;
}

std::string atAction(const Session &session, const SessionAction &action,
                     const std::string &message) {
    if (!action.source.empty()) return action.source + ": " + message;
    return atLine(session.file, action.line, message);
}

std::variant<Session, std::string> parseSession(const std::string &text, const std::string &file,
                                                const std::string &baseFolder) {
    Session session{file, {}};
    // A byte-order mark some editors put first is no part of the first line.
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    std::istringstream lines(text.rfind(kByteOrderMark, 0) == 0 ? text.substr(kByteOrderMark.size())
                                                                : text);
    std::string line;
    int number = 0;
    bool left = false;
    while (std::getline(lines, line)) {
        ++number;
        // Names go into the scene and its files as they are: UTF-8 only.
        if (const std::size_t bad = findInvalidUtf8(line); bad != std::string::npos) {
            return atLine(file, number,
                          "expected text in UTF-8, found the byte " +
                              byteText(static_cast<unsigned char>(line[bad])) + " at column " +
                              std::to_string(bad + 1));
        }
        std::string error;
        auto words = splitWords(line, error);
        if (!words) return atLine(file, number, "expected " + error);
        if (words->empty()) continue;
        if (left) return atLine(file, number, "expected nothing after done: the tool was left");
        LineParser parser(*words, error);
        auto step = parseAction(parser, baseFolder);
        if (!step) return atLine(file, number, "expected " + error);
        left = std::holds_alternative<action::Done>(*step);
        session.actions.push_back({number, std::move(*step), {}});
    }
    return session;
}

std::variant<Session, std::string> readSession(const std::string &path) {
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (!std::filesystem::exists(status)) return path + ": no such session file";
    if (std::filesystem::is_directory(status)) return path + ": is a folder, not a session file";
    // Anything else that reads as text will do: a file, a pipe, /dev/stdin.
    std::ifstream in(path, std::ios::binary);
    if (!in) return path + ": cannot read the session";
    std::ostringstream text;
    text << in.rdbuf();
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    return parseSession(text.str(), path, parent.empty() ? "." : parent.string());
}

std::variant<Session, std::string> makeFillSession(const FillRequest &request) {
    Session session{"fill", {}};
    int line = 0;
    auto add = [&session, &line](SessionStep step, std::string source) {
        session.actions.push_back({++line, std::move(step), std::move(source)});
    };
    add(action::Clock{request.seed}, "--seed " + std::to_string(request.seed));
    add(action::Event{LWTOOL_EVENT_ACTIVATE}, "fill");
    add(action::Press{request.box[0]}, "--box");
    add(action::Move{request.box[1]}, "--box");
    for (const std::string &set : request.sets) {
        if (findInvalidUtf8(set) != std::string::npos)
            return "--set: expected text in UTF-8, found \"" + set + "\"";
        const std::size_t equals = set.find('=');
        if (equals == std::string::npos)
            return "--set: expected LABEL=VALUE, found \"" + set + "\"";
        add(action::Set{set.substr(0, equals), set.substr(equals + 1)}, "--set " + set);
    }
    add(action::End{true}, "fill");
    return session;
}

std::optional<std::string> checkSession(const Session &session,
                                        const std::optional<std::vector<PanelControl>> &controls) {
    for (const SessionAction &a : session.actions) {
        const auto *set = std::get_if<action::Set>(&a.step);
        if (!set) continue;
        if (!controls) return atAction(session, a, "expected no panel edit: the tool has no panel");
        const PanelControl *found = nullptr;
        std::string labels;
        for (const PanelControl &c : *controls) {
            if (c.hidden || c.dataType.empty()) continue;
            labels += (labels.empty() ? "\"" : ", \"") + c.label + "\"";
            if (c.label == set->label) found = &c;
        }
        if (!found) {
            return atAction(
                session, a,
                "expected a panel label (" + labels + "), found \"" + set->label + "\"");
        }
        if (!parsePanelValue(*found, set->value)) {
            return atAction(session, a,
                            "expected " + describeKind(*found) + " for \"" + set->label +
                                "\", found \"" + set->value + "\"");
        }
    }
    return std::nullopt;
}

}  // namespace modeler
