#include "modeler/serve/workspace.h"

#include <zip.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "modeler/drive/panel_values.h"
#include "modeler/export/export_formats.h"
#include "modeler/serve/file_bytes.h"
#include "modeler/serve/view_mesh.h"

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

// A folder of its own under the system's temporary folder, removed with
// everything in it when this ends.
class ScratchFolder {
  public:
    ScratchFolder() {
        std::string pattern = (fs::temp_directory_path() / "modeler-serve-XXXXXX").string();
        if (mkdtemp(pattern.data())) path_ = pattern;
    }
    ~ScratchFolder() {
        std::error_code ec;
        if (!path_.empty()) fs::remove_all(path_, ec);
    }
    const fs::path &path() const { return path_; }

  private:
    fs::path path_;
};

// Every file under folder, into a zip archive's bytes, named relative to it.
// The archive's bytes, or an error text.
struct Zipped {
    std::string bytes;
    std::optional<std::string> error;
};

Zipped zipFolder(const fs::path &folder, const fs::path &archive) {
    int error = 0;
    zip_t *zip = zip_open(archive.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!zip) return {{}, "cannot make the archive"};
    std::vector<fs::path> files;
    for (const auto &entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    for (const fs::path &file : files) {
        const std::string name = fs::relative(file, folder).generic_string();
        zip_source_t *source = zip_source_file(zip, file.c_str(), 0, -1);
        if (!source || zip_file_add(zip, name.c_str(), source, ZIP_FL_ENC_UTF_8) < 0) {
            if (source) zip_source_free(source);
            zip_discard(zip);
            return {{}, "cannot add " + name + " to the archive"};
        }
    }
    if (zip_close(zip) != 0) {
        zip_discard(zip);
        return {{}, "cannot write the archive"};
    }
    auto bytes = readFileBytes(archive);
    if (!bytes) return {{}, "cannot read the archive back"};
    return {std::move(*bytes), std::nullopt};
}

}  // namespace

Workspace::Workspace(LoadedModule &module, const ServerRecord &server, ImageRoot images,
                     std::string objectName, ExportLook look, std::string unloadedImageHint)
    : module_(module),
      images_(std::move(images)),
      objectName_(std::move(objectName)),
      look_(std::move(look)) {
    host_.setUnloadedImageHint(std::move(unloadedImageHint));
    host_.setWarningSink([this](const std::string &message) { warnings_.push_back(message); });
    host_.addStableMemory(module.readOnlyMemory());
    RunOptions options;
    options.formAnswerer = [this](const PostedForm &form) {
        formAsked_ = true;
        formAnswer_ = leaveAnswerer_(form);
        return formAnswer_;
    };
    player_ =
        std::make_unique<SessionPlayer>(host_, server, std::move(options), [this](int64_t seconds) {
            if (!module_.hasClock()) return false;
            module_.setClock(seconds);
            return true;
        });
    startError_ = player_->start(kPageFile);
    if (!startError_) startError_ = playLine("object " + inQuotes(objectName_));
    if (!startError_) startError_ = playLine("activate");
}

Workspace::~Workspace() {
    // A form still on the page is cancelled, so that the tool's thread ends
    // before the host it uses.
    bridge_.answer(std::nullopt);
    bridge_.finish();
    player_.reset();
}

std::optional<std::string> Workspace::playLine(const std::string &line) {
    auto parsed = parseSession(line, kPageFile, images_.path().string());
    if (auto *error = std::get_if<std::string>(&parsed)) return *error;
    const Session &session = std::get<Session>(parsed);
    if (session.actions.size() != 1) return "expected one action";
    auto error = player_->play(session, session.actions.front());
    if (error) return error;
    lines_.push_back(line);
    ++meshVersion_;
    return std::nullopt;
}

std::optional<std::string> Workspace::act(const std::string &line, bool beginsGesture) {
    if (startError_) return "the tool is not running: " + *startError_;
    if (failed_) return "the tool stopped after a fault: " + *failed_;
    if (bridge_.stage() != FormBridge::Stage::Idle) return "the tool is being left";
    if (line.find_first_of("\n\r") != std::string::npos) return "expected one line";
    auto parsed = parseSession(line, kPageFile, images_.path().string());
    if (auto *error = std::get_if<std::string>(&parsed)) return *error;
    const Session &session = std::get<Session>(parsed);
    if (session.actions.size() != 1) return "expected one action";
    const SessionStep &step = session.actions.front().step;
    if (!pageMaySend(step)) return "a page sends press, move, drag, set, end and event only";
    if (!player_->driver().inUse()) return "the tool is not in use";
    std::optional<std::vector<PanelControl>> controls;
    if (Panel *panel = player_->driver().numericPanel()) controls = panel->controls;
    if (auto error = checkSession(session, controls)) return error;
    if (const auto *drag = std::get_if<action::Drag>(&step)) {
        const std::size_t count = player_->driver().handles().size();
        if (drag->handle < 0 || static_cast<std::size_t>(drag->handle) >= count)
            return "no handle " + std::to_string(drag->handle) + ": the tool has " +
                   std::to_string(count);
    }

    const std::size_t faults = host_.faults().size();
    const bool readsClock = std::holds_alternative<action::Press>(step) ||
                            (beginsGesture && std::holds_alternative<action::Drag>(step));
    if (readsClock) {
        const int64_t now = wallClock_();
        if (clock_ != now) {
            if (auto error = playLine("clock " + std::to_string(now))) return error;
            clock_ = now;
        }
    }
    auto error = playLine(line);
    if (error && host_.faults().size() != faults) failed_ = error;
    return error;
}

std::optional<std::string> Workspace::leave() {
    if (startError_) return "the tool is not running: " + *startError_;
    if (failed_) return "the tool stopped after a fault: " + *failed_;
    if (bridge_.stage() != FormBridge::Stage::Idle) return "the tool is being left";
    if (!player_->driver().inUse()) return "the tool is not in use";
    formAsked_ = false;
    formAnswer_.reset();
    bridge_.start([this](const FormAnswerer &ask) {
        leaveAnswerer_ = ask;
        auto parsed = parseSession("done cancel", kPageFile, "");
        const Session &session = std::get<Session>(parsed);
        leaveError_ = player_->play(session, session.actions.front());
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
    if (leaveError_) {
        failed_ = leaveError_;
        return leaveError_;
    }
    lines_.push_back(formAsked_ && formAnswer_ ? "done folder " + inQuotes(*formAnswer_)
                                               : "done cancel");
    return std::nullopt;
}

std::optional<PostedForm> Workspace::waitingForm() {
    if (bridge_.stage() != FormBridge::Stage::Asking) return std::nullopt;
    return bridge_.question();
}

SceneExports &Workspace::exports() {
    if (!exports_ || exportsVersion_ != meshVersion_) {
        exports_.emplace(host_.scene(), ExportOptions{false, look_});
        exportsVersion_ = meshVersion_;
    }
    return *exports_;
}

const AssetModel &Workspace::asset() {
    return exports().assetFor(objectName_);
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
    out.key("actions").value(lines_.size());
    out.key("warnings");
    writeTexts(out, warnings_);
    if (failed_)
        out.key("error").value(*failed_);
    else if (startError_)
        out.key("error").value(*startError_);
    if (auto form = waitingForm()) {
        writeForm(out, *form, images_.folders());
        out.key("inUse").value(false).key("leaving").value(true);
        return;
    }
    if (!showsTool()) return;

    ToolDriver &driver = player_->driver();
    out.key("inUse").value(driver.inUse()).key("leaving").value(false);
    writeHandles(out, driver);
    writeDrawing(out, driver);
    out.key("panel");
    if (Panel *panel = driver.inUse() ? driver.numericPanel() : nullptr) {
        const Host::Serving serving(host_);
        writePanel(out, *panel);
    } else {
        out.null();
    }
    const Layer &layer = host_.scene().layer();
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

std::variant<Download, std::string> Workspace::download(const std::string &formatName) {
    if (bridge_.stage() != FormBridge::Stage::Idle) return std::string("the tool is being left");
    auto format = exportFormatFor("", formatName);
    if (!format) return "no format \"" + formatName + "\"";
    ScratchFolder scratch;
    if (scratch.path().empty()) return std::string("cannot make a temporary folder");
    const fs::path files = scratch.path() / "files";
    const std::string name = objectName_ + "." + formatName;
    StagedFiles staged;
    if (auto error = exportScene(exports(), (files / name).string(), *format, staged))
        return *error;
    if (auto error = staged.commit()) return *error;
    static const std::map<std::string, std::string> kTypes = {
        {"json", "application/json"},
        {"glb", "model/gltf-binary"},
    };
    if (*format == ExportFormat::Obj || *format == ExportFormat::Gltf) {
        Zipped zipped = zipFolder(files, scratch.path() / "archive.zip");
        if (zipped.error) return *zipped.error;
        return Download{objectName_ + "." + formatName + ".zip", "application/zip",
                        std::move(zipped.bytes)};
    }
    auto bytes = readFileBytes(files / name);
    if (!bytes) return "cannot read " + name + " back";
    return Download{name, kTypes.at(formatName), std::move(*bytes)};
}

std::string Workspace::sessionText() const {
    std::string text =
        "# Made by hand in a page of modeler serve; replay: modeler run FILE -o OUT\n";
    for (const std::string &line : lines_)
        text += line + "\n";
    return text;
}

}  // namespace modeler
