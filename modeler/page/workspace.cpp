#include "modeler/page/workspace.h"

#include "modeler/drive/panel_values.h"
#include "modeler/page/view_mesh.h"

namespace modeler {

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
                     std::string objectName, ExportLook look, std::string unloadedImageHint)
    : images_(std::move(images)), objectName_(std::move(objectName)) {
    SessionSettings settings;
    settings.exports.look = std::move(look);
    settings.unloadedImageHint = std::move(unloadedImageHint);
    settings.formAnswerer = [this](const PostedForm &form) { return leaveAnswerer_(form); };
    session_ = std::make_unique<HostSession>(module, server, std::move(settings));
    startError_ = session_->startError();
    if (!startError_) startError_ = playLine("object " + inQuotes(objectName_));
    if (!startError_) startError_ = playLine("activate");
}

Workspace::~Workspace() {
    // A form still on the page is cancelled, so that the tool's thread ends
    // before the host it uses.
    bridge_.answer(std::nullopt);
    bridge_.finish();
    session_.reset();
}

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
    if (bridge_.stage() != FormBridge::Stage::Idle) return "the tool is being left";
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

    const bool readsClock = std::holds_alternative<action::Press>(step) ||
                            (beginsGesture && std::holds_alternative<action::Drag>(step));
    if (readsClock) {
        const int64_t now = wallClock_();
        if (clock_ != now) {
            if (auto error = playLine("clock " + std::to_string(now))) return error;
            clock_ = now;
        }
    }
    return playLine(line);
}

std::optional<std::string> Workspace::leave() {
    if (startError_) return "the tool is not running: " + *startError_;
    if (const auto &failed = session_->failure())
        return "the tool stopped after a fault: " + *failed;
    if (bridge_.stage() != FormBridge::Stage::Idle) return "the tool is being left";
    if (!session_->player().driver().inUse()) return "the tool is not in use";
    bridge_.start([this](const FormAnswerer &ask) {
        leaveAnswerer_ = ask;
        leaveOutcome_ = session_->play(Session{kPageFile, {{1, action::Done{}, "done"}}});
    });
    if (bridge_.waitForQuestion() == FormBridge::Stage::Finished) return completeLeave();
    return std::nullopt;
}

std::optional<std::string> Workspace::answerForm(const std::optional<std::string> &folder) {
    if (bridge_.stage() != FormBridge::Stage::Asking) return "no form is waiting for an answer";
    std::optional<std::string> answer;
    if (folder) {
        auto path = images_.folder(*folder);
        if (!path) return "\"" + *folder + "\" is not one of the image folders offered";
        answer = path->string();
    }
    bridge_.answer(answer);
    return completeLeave();
}

std::optional<std::string> Workspace::completeLeave() {
    bridge_.finish();
    ++meshVersion_;
    if (leaveOutcome_) return leaveOutcome_.message;
    return std::nullopt;
}

std::optional<PostedForm> Workspace::waitingForm() {
    if (bridge_.stage() != FormBridge::Stage::Asking) return std::nullopt;
    return bridge_.question();
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
    return bridge_.stage() == FormBridge::Stage::Idle;
}

void Workspace::writeState(JsonWriter &out) {
    out.key("meshVersion").value(meshVersion_);
    out.key("actions").value(session_->lines().size());
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
    if (bridge_.stage() != FormBridge::Stage::Idle) return std::nullopt;
    const AssetModel &model = asset();
    if (index >= model.images.size()) return std::nullopt;
    const AssetImage &image = model.images[index];
    return Download{image.name + image.bytes.extension, image.bytes.mimeType,
                    std::string(image.bytes.bytes.begin(), image.bytes.bytes.end())};
}

std::variant<ExportFiles, std::string> Workspace::download(const std::string &formatName) {
    if (bridge_.stage() != FormBridge::Stage::Idle) return std::string("the tool is being left");
    if (formatName.empty()) return std::string("no format given");
    return session_->exportFiles(objectName_ + "." + formatName, formatName);
}

std::string Workspace::sessionText() const {
    std::string text =
        "# Made by hand in a page of modeler serve; replay: modeler run FILE -o OUT\n";
    text += session_->text();
    return text;
}

}  // namespace modeler
