#include "modeler/page/workspace.h"

#include "modeler/drive/panel_values.h"
#include "modeler/page/view_mesh.h"

#include <filesystem>
#include <sstream>

namespace modeler {
namespace fs = std::filesystem;

namespace {

constexpr const char *kPageFile = "page";

// The actions a page sends as lines; the host itself writes the others
// (the object, the clock, leaving).
bool pageMaySend(const SessionStep &step) {
    return std::holds_alternative<action::Press>(step) ||
           std::holds_alternative<action::Move>(step) ||
           std::holds_alternative<action::Drag>(step) ||
           std::holds_alternative<action::Set>(step) || std::holds_alternative<action::End>(step) ||
           std::holds_alternative<action::Event>(step);
}

std::string inQuotes(const std::string &text) {
    return "\"" + text + "\"";
}

}  // namespace

Workspace::Workspace(const LoadedModule &module, const ServerRecord &server, ImageRoot images,
                     std::string objectName, SessionSettings settings)
    : module_(module),
      server_(server),
      settings_(std::move(settings)),
      images_(std::move(images)),
      objectName_(std::move(objectName)) {
    settings_.images.reset();
    // The tool's form while leaving: the person's answer, or the folder a
    // done line recorded while it is played again.
    settings_.formAnswerer = [this](const PostedForm &form) -> std::optional<std::string> {
        if (replaying_) return replayAnswer_;
        if (probe_) {
            if (!*probe_) *probe_ = form;
            return std::nullopt;
        }
        return leaveAnswer_;
    };
    session_ = freshSession();
    startError_ = session_->startError();
    if (!startError_) startError_ = playLine("object " + inQuotes(objectName_));
    if (!startError_) startError_ = playLine("activate");
}

std::unique_ptr<HostSession> Workspace::freshSession() {
    return std::make_unique<HostSession>(module_, server_, settings_);
}

std::variant<std::unique_ptr<HostSession>, std::string> Workspace::played(
    const std::vector<std::string> &lines) {
    auto fresh = freshSession();
    if (const auto &error = fresh->startError()) return *error;
    std::vector<std::string> all = {"object " + inQuotes(objectName_), "activate"};
    all.insert(all.end(), lines.begin(), lines.end());
    replaying_ = true;
    for (const std::string &line : all) {
        auto parsed = parseSession(line, kPageFile, images_.path().string());
        if (auto *error = std::get_if<std::string>(&parsed)) {
            replaying_ = false;
            return *error;
        }
        replayAnswer_.reset();
        for (const SessionAction &a : std::get<Session>(parsed).actions) {
            if (const auto *done = std::get_if<action::Done>(&a.step)) replayAnswer_ = done->folder;
        }
        if (auto outcome = fresh->play(line, kPageFile, images_.path().string())) {
            replaying_ = false;
            return outcome.message;
        }
    }
    replaying_ = false;
    return fresh;
}

Workspace::~Workspace() = default;

std::optional<std::string> Workspace::playLine(const std::string &line) {
    auto outcome = session_->play(line, kPageFile, images_.path().string());
    ++meshVersion_;
    if (outcome) return outcome.message;
    return std::nullopt;
}

std::optional<std::string> Workspace::act(const std::string &line, bool beginsGesture) {
    if (startError_) return "the tool is not running: " + *startError_;
    if (const auto &failed = session_->failure())
        return "the tool stopped after a fault: " + *failed;
    if (asking_) return "the tool is being left";
    if (line.find_first_of("\n\r") != std::string::npos) return "expected one line";
    auto parsed = parseSession(line, kPageFile, images_.path().string());
    if (auto *error = std::get_if<std::string>(&parsed)) return *error;
    const Session &session = std::get<Session>(parsed);
    if (session.actions.size() != 1) return "expected one action";
    const SessionStep &step = session.actions.front().step;
    if (!pageMaySend(step)) return "a page sends press, move, drag, set, end and event only";
    ToolDriver &driver = session_->player().driver();
    if (!driver.inUse()) return "the tool is not in use";
    if (auto error = session_->player().check(session)) return error;
    if (const auto *drag = std::get_if<action::Drag>(&step)) {
        // Checked before the clock is written down for it.
        const std::size_t count = driver.handles().size();
        if (drag->handle < 0 || static_cast<std::size_t>(drag->handle) >= count)
            return "no handle " + std::to_string(drag->handle) + ": the tool has " +
                   std::to_string(count);
    }

    // A press, a handle drag's first move, a panel edit and an end each
    // begin a step of undo; a pull's move and a drag's later moves belong
    // to the step before.
    const bool newStep = beginsGesture || std::holds_alternative<action::Press>(step) ||
                         std::holds_alternative<action::Set>(step) ||
                         std::holds_alternative<action::End>(step) ||
                         std::holds_alternative<action::Event>(step);
    const std::size_t mark = session_->lines().size();
    const bool readsClock = std::holds_alternative<action::Press>(step) ||
                            (beginsGesture && std::holds_alternative<action::Drag>(step));
    if (readsClock) {
        const int64_t now = wallClock_();
        if (clock_ != now) {
            if (auto error = playLine("clock " + std::to_string(now))) return error;
            clock_ = now;
        }
    }
    // Parsed and checked above: played as it is.
    auto outcome = session_->playChecked(session, {std::string(), line});
    ++meshVersion_;
    std::optional<std::string> error;
    if (outcome) error = outcome.message;
    if (newStep && session_->lines().size() > mark) {
        steps_.push_back(mark);
        redo_.clear();
    }
    return error;
}

namespace {

bool leftIn(const std::vector<std::string> &lines) {
    for (const std::string &line : lines) {
        if (line.rfind("done", 0) == 0) return true;
    }
    return false;
}

}  // namespace

std::optional<std::string> Workspace::undo() {
    if (startError_) return "the tool is not running: " + *startError_;
    if (asking_) return "the tool is being left";
    if (steps_.empty()) return std::string("nothing to undo");
    const std::vector<std::string> &lines = session_->lines();
    if (leftIn(lines)) return std::string("the tool was left: start a new scene to use it again");
    const std::vector<std::string> kept(lines.begin() + 2, lines.begin() + steps_.back());
    std::vector<std::string> undone(lines.begin() + steps_.back(), lines.end());
    auto fresh = played(kept);
    if (auto *error = std::get_if<std::string>(&fresh)) return "cannot undo: " + *error;
    session_ = std::move(std::get<std::unique_ptr<HostSession>>(fresh));
    steps_.pop_back();
    redo_.push_back(std::move(undone));
    clock_.reset();  // the next press writes its clock again
    ++meshVersion_;
    return std::nullopt;
}

std::optional<std::string> Workspace::redo() {
    if (startError_) return "the tool is not running: " + *startError_;
    if (asking_) return "the tool is being left";
    if (redo_.empty()) return std::string("nothing to redo");
    const std::size_t mark = session_->lines().size();
    std::string text;
    for (const std::string &line : redo_.back())
        text += line + "\n";
    if (auto outcome = session_->play(text, kPageFile, images_.path().string())) {
        ++meshVersion_;
        return "cannot redo: " + outcome.message;
    }
    redo_.pop_back();
    steps_.push_back(mark);
    clock_.reset();
    ++meshVersion_;
    return std::nullopt;
}

std::optional<std::string> Workspace::replay(const std::string &text,
                                             const std::vector<std::size_t> &steps) {
    if (asking_) return "the tool is being left";
    auto parsed = parseSession(text, kPageFile, images_.path().string());
    if (auto *error = std::get_if<std::string>(&parsed)) return *error;
    // The page's own lines: the object and the activation it starts with
    // are made here, and a done line may only name a folder offered.
    std::vector<std::string> lines;
    std::optional<std::string> missing;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        auto one = parseSession(line, kPageFile, images_.path().string());
        if (std::get<Session>(one).actions.empty()) continue;
        const SessionStep &step = std::get<Session>(one).actions.front().step;
        if (lines.empty() && std::holds_alternative<action::Object>(step)) continue;
        if (lines.empty() && std::holds_alternative<action::Event>(step) &&
            std::get<action::Event>(step).code == LWTOOL_EVENT_ACTIVATE)
            continue;
        if (const auto *done = std::get_if<action::Done>(&step)) {
            // Named relative to the image folder (as sessionText writes it)
            // or in full: played again as the folder offered, in full.
            std::optional<fs::path> offered;
            for (const std::string &name : images_.folders()) {
                auto folder = images_.folder(name);
                if (done->folder && folder &&
                    folder->lexically_normal() == fs::path(*done->folder).lexically_normal())
                    offered = folder;
            }
            // A folder not here (a page's own folder, a server started
            // with other images): the tool is left without covers, and
            // the page says so, rather than losing the whole shelf.
            if (done->folder && !offered) {
                const fs::path relative =
                    fs::path(*done->folder).lexically_relative(images_.path());
                missing = !images_.empty() && !relative.empty() && *relative.begin() != ".."
                              ? relative.generic_string()
                              : *done->folder;
            }
            lines.push_back(actionText(action::Done{
                offered ? std::optional<std::string>(offered->string()) : std::nullopt}));
            continue;
        } else if (!pageMaySend(step) && !std::holds_alternative<action::Clock>(step)) {
            return "a page's session holds press, move, drag, set, end, event, clock and done "
                   "only, found \"" +
                   line + "\"";
        }
        lines.push_back(line);
    }
    std::size_t last = 2;
    for (std::size_t at : steps) {
        if (at < last || at >= lines.size() + 2)
            return std::string("the steps do not fit the session");
        last = at;
    }
    auto fresh = played(lines);
    if (auto *error = std::get_if<std::string>(&fresh))
        return "cannot play the session again: " + *error;
    session_ = std::move(std::get<std::unique_ptr<HostSession>>(fresh));
    if (missing)
        session_->warn("the image folder \"" + *missing +
                       "\" the session left with is not offered here: the covers have no images");
    steps_ = steps;
    redo_.clear();
    clock_.reset();
    ++meshVersion_;
    return std::nullopt;
}

std::optional<std::string> Workspace::leave() {
    if (startError_) return "the tool is not running: " + *startError_;
    if (const auto &failed = session_->failure())
        return "the tool stopped after a fault: " + *failed;
    if (asking_) return "the tool is being left";
    if (!session_->player().driver().inUse()) return "the tool is not in use";
    // The tool's form waits for the person, who answers in a later call.
    // Rather than hold the tool in the middle of its done step (a thread
    // of its own, which a browser's build has not), the step is first
    // played on a copy of the session: the form it posts there is the one
    // shown, and the answer is then given to the real step at once.
    // Sessions replay exactly, so the copy asks what the real one would.
    const std::vector<std::string> lines(session_->lines().begin() + 2, session_->lines().end());
    auto copy = played(lines);
    if (auto *error = std::get_if<std::string>(&copy)) return "cannot leave: " + *error;
    std::optional<PostedForm> asked;
    probe_ = &asked;
    std::get<std::unique_ptr<HostSession>>(copy)->play(leaving());
    probe_ = nullptr;
    if (asked) {
        asking_ = std::move(asked);
        ++meshVersion_;
        return std::nullopt;
    }
    return completeLeave(std::nullopt);
}

Session Workspace::leaving() {
    return Session{kPageFile, {{1, action::Done{}, "done"}}};
}

std::optional<std::string> Workspace::answerForm(const std::optional<std::string> &folder) {
    if (!asking_) return "no form is waiting for an answer";
    std::optional<std::string> answer;
    if (folder) {
        auto path = images_.folder(*folder);
        if (!path) return "\"" + *folder + "\" is not one of the image folders offered";
        answer = path->string();
    }
    auto error = completeLeave(answer);
    // The command line says so too: a folder that gave no cover an image.
    if (!error && folder)
        session_->warnIfNoImageWent(*folder == "." ? "the image folder" : *folder);
    return error;
}

std::optional<std::string> Workspace::completeLeave(const std::optional<std::string> &answer) {
    asking_.reset();
    leaveAnswer_ = answer;
    const HostSession::Outcome outcome = session_->play(leaving());
    leaveAnswer_.reset();
    ++meshVersion_;
    if (outcome) return outcome.message;
    return std::nullopt;
}

std::optional<PostedForm> Workspace::waitingForm() {
    return asking_;
}

const AssetModel &Workspace::asset() {
    return session_->model();
}

const std::string &Workspace::meshBytes() {
    if (meshBytesVersion_ != meshVersion_) {
        meshBytes_ = encodeViewMesh(asset());
        meshBytesVersion_ = meshVersion_;
    }
    return meshBytes_;
}

namespace {

template <typename Numbers>
void writeNumbers(JsonWriter &out, const Numbers &numbers) {
    out.beginArray();
    for (const auto number : numbers)
        out.value(number);
    out.endArray();
}

void writeTexts(JsonWriter &out, const std::vector<std::string> &texts) {
    out.beginArray();
    for (const std::string &text : texts)
        out.value(text);
    out.endArray();
}

void writeForm(JsonWriter &out, const PostedForm &form, const std::vector<std::string> &folders) {
    out.key("form").beginObject();
    out.key("title").value(form.title);
    out.key("fields").beginArray();
    for (const std::string &label : form.labels) {
        out.beginObject().key("label").value(label);
        auto shown = form.shownValues.find(label);
        if (shown != form.shownValues.end()) out.key("value").value(shown->second);
        out.endObject();
    }
    out.endArray();
    out.key("folders");
    writeTexts(out, folders);
    out.endObject();
}

void writeHandles(JsonWriter &out, ToolDriver &driver) {
    out.key("handles").beginArray();
    for (const HandleSpot &h : driver.handles()) {
        out.beginObject().key("position");
        writeNumbers(out, h.position);
        out.key("priority").value(h.priority).endObject();
    }
    out.endArray();
}

void writeDrawing(JsonWriter &out, const ToolDriver &driver) {
    static const char *const kKinds[] = {"moveTo", "lineTo", "circle"};
    out.key("drawing").beginArray();
    if (driver.inUse()) {
        for (const WireCall &call : driver.lastDrawing()) {
            out.beginObject().key("kind").value(kKinds[call.kind]);
            out.key("style").value(call.style);
            if (call.kind == WireCall::Circle) {
                out.key("radius").value(call.radius);
            } else {
                out.key("point");
                writeNumbers(out, call.point);
            }
            out.endObject();
        }
    }
    out.endArray();
}

// The panel's controls with the values the tool holds; the caller serves
// the panel's host, as the values are the tool's to give.
void writePanel(JsonWriter &out, const Panel &panel) {
    out.beginObject().key("title").value(panel.title);
    out.key("controls").beginArray();
    for (const PanelControl &c : panel.controls) {
        if (c.hidden || c.dataType.empty()) continue;
        out.beginObject();
        out.key("label").value(c.label).key("class").value(c.controlClass);
        out.key("type").value(c.dataType).key("kind").value(describeKind(c));
        if (c.controlClass == "axis") {  // an axis is typed by letter, as a choice of three
            out.key("choices");
            writeTexts(out, {"X", "Y", "Z"});
        } else if (!c.choices.empty()) {
            out.key("choices");
            writeTexts(out, c.choices);
        }
        out.key("value").value(formatPanelValue(c, panel.get(panel.instance, c.id)));
        out.endObject();
    }
    out.endArray().endObject();
}

void writeMaterials(JsonWriter &out, const AssetModel &asset) {
    out.key("materials").beginArray();
    for (const AssetMaterial &m : asset.materials) {
        out.beginObject().key("name").value(m.name).key("colour");
        writeNumbers(out, m.colour);
        out.key("texture");
        if (m.image)
            out.value(*m.image);
        else
            out.null();
        out.endObject();
    }
    out.endArray();
}

}  // namespace

bool Workspace::showsTool() {
    return !asking_;
}

void Workspace::writeState(JsonWriter &out) {
    out.key("meshVersion").value(meshVersion_);
    out.key("actions").value(session_->lines().size());
    out.key("undo").value(steps_.size()).key("redo").value(redo_.size());
    out.key("steps");
    writeNumbers(out, steps_);
    out.key("warnings");
    writeTexts(out, session_->warnings());
    if (const auto &failed = session_->failure())
        out.key("error").value(*failed);
    else if (startError_)
        out.key("error").value(*startError_);
    if (auto form = waitingForm()) {
        writeForm(out, *form, images_.folders());
        out.key("inUse").value(false).key("leaving").value(true);
        return;
    }
    if (!showsTool()) return;

    ToolDriver &driver = session_->player().driver();
    out.key("inUse").value(driver.inUse()).key("leaving").value(false);
    writeHandles(out, driver);
    writeDrawing(out, driver);
    out.key("panel");
    if (Panel *panel = driver.inUse() ? driver.numericPanel() : nullptr) {
        const Host::Serving serving(session_->host());
        writePanel(out, *panel);
    } else {
        out.null();
    }
    const Layer &layer = session_->host().scene().layer();
    out.key("points").value(layer.points().size());
    out.key("polygons").value(layer.polygons().size());
    writeMaterials(out, asset());
}

std::optional<Download> Workspace::texture(std::size_t index) {
    if (asking_) return std::nullopt;
    const AssetModel &model = asset();
    if (index >= model.images.size()) return std::nullopt;
    const AssetImage &image = model.images[index];
    return Download{image.name + image.bytes.extension, image.bytes.mimeType,
                    std::string(image.bytes.bytes.begin(), image.bytes.bytes.end())};
}

std::variant<ExportFiles, std::string> Workspace::download(const std::string &formatName) {
    if (asking_) return std::string("the tool is being left");
    if (formatName.empty()) return std::string("no format given");
    return session_->exportFiles(objectName_ + "." + formatName, formatName);
}

std::string Workspace::sessionText() const {
    // Image folders are named relative to the image folder the page offers
    // them from, so that the session holds no path of this machine and
    // replays wherever the same covers are.
    std::string text =
        "# Made by hand in a page of modeler serve. Image folders are named relative to its\n"
        "# --images folder; replay: modeler run FILE --images FOLDER -o OUT\n";
    const std::string prefix = "done folder \"";
    for (const std::string &line : session_->lines()) {
        if (line.rfind(prefix, 0) == 0 && line.size() > prefix.size() && line.back() == '"' &&
            !images_.empty()) {
            const fs::path folder(line.substr(prefix.size(), line.size() - prefix.size() - 1));
            const fs::path relative = folder.lexically_relative(images_.path());
            if (!relative.empty() && *relative.begin() != "..") {
                text += actionText(action::Done{relative.generic_string()}) + "\n";
                continue;
            }
        }
        text += line + "\n";
    }
    return text;
}

}  // namespace modeler
