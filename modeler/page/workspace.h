// One page's use of the tool: a host of its own, the tool driven through a
// session player line by line as the person acts, and the session written
// down as it goes, so that running it again gives the same scene.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "modeler/drive/module_loader.h"
#include "modeler/drive/session_run.h"
#include "modeler/export/asset_model.h"
#include "modeler/export/export_formats.h"
#include "modeler/export/json_writer.h"
#include "modeler/page/image_folders.h"
#include "modeler/session/host_session.h"

namespace modeler {

// A file to hand to the page for download.
struct Download {
    std::string name;
    std::string contentType;
    std::string bytes;
};

// An export's files, its own first, then its companions (relative names).
using ExportFiles = std::vector<std::pair<std::string, std::string>>;

class Workspace {
  public:
    // Activates server's tool on a fresh host. module sets the clock each
    // gesture reads. An error is kept in startError().
    // look: how the page and the downloads show the scene; hint: see
    // Host::setUnloadedImageHint.
    // settings: how the scene is shown and told of (its exports' look, the
    // warnings' words); the workspace sets the rest.
    Workspace(const LoadedModule &module, const ServerRecord &server, ImageRoot images,
              std::string objectName, SessionSettings settings = {});
    ~Workspace();
    Workspace(const Workspace &) = delete;
    Workspace &operator=(const Workspace &) = delete;

    const std::optional<std::string> &startError() const { return startError_; }

    // The seconds a gesture's clock is set to: the calendar's, unless set.
    void setWallClock(std::function<int64_t()> now) { wallClock_ = std::move(now); }

    // Plays one session line the page sent. beginsGesture: a press of the
    // pointer (a press, or the first step of a handle drag) that reads the
    // clock, which is set to now first and written down. An error text when
    // the line is not one action the page may send, or fails.
    [[nodiscard]] std::optional<std::string> act(const std::string &line, bool beginsGesture);

    // Undo takes back the last step (a press and its pull, a handle drag, a
    // panel edit, keep, discard): the session without it is played again on
    // a fresh host, which gives its scene exactly. Redo plays the step
    // again. An error text when there is none, or the tool was left.
    [[nodiscard]] std::optional<std::string> undo();
    [[nodiscard]] std::optional<std::string> redo();
    std::size_t undoSteps() const { return steps_.size(); }
    std::size_t redoSteps() const { return redo_.size(); }
    // Where each step begins among the session's lines (its first two are
    // the object and the activation).
    const std::vector<std::size_t> &steps() const { return steps_; }
    // Plays a page's session again on a fresh host (a reload of the page,
    // or taking the tool back from another page): text as sessionText
    // writes it, steps as steps() gave them. Nothing changes on an error.
    [[nodiscard]] std::optional<std::string> replay(const std::string &text,
                                                    const std::vector<std::size_t> &steps);

    // Leaving the tool: starts it; the tool's form, when it posts one, waits
    // for answerForm. An error text when the tool cannot be left now.
    [[nodiscard]] std::optional<std::string> leave();
    // folder: one of the image root's folder names, or nullopt to cancel.
    [[nodiscard]] std::optional<std::string> answerForm(const std::optional<std::string> &folder);
    // The form the tool is waiting on, while it waits.
    std::optional<PostedForm> waitingForm();

    // What the page shows, written as members of the object out has open:
    // the tool's state, panel, handles, preview, materials, warnings;
    // meshVersion changes whenever the mesh may have.
    void writeState(JsonWriter &out);
    // Whether the page shows the tool (its views and panel), not a form or
    // a leaving in progress.
    bool showsTool();
    uint64_t meshVersion() const { return meshVersion_; }
    // The layer as the page draws it (positions, normals, UVs, triangles
    // grouped by material), in the frame format of view_mesh.h.
    const std::string &meshBytes();
    // The image of material texture index, as PNG or JPEG; nullopt when none.
    std::optional<Download> texture(std::size_t index);

    // The scene in a format run writes ("json", "glb", "gltf", "obj"), as
    // the files of the export named after the object, or an error text.
    [[nodiscard]] std::variant<ExportFiles, std::string> download(const std::string &format);
    // The session of everything done here, for modeler run.
    std::string sessionText() const;

  private:
    std::unique_ptr<HostSession> freshSession();
    // A fresh session with lines played on it after its object and
    // activation, or why not.
    std::variant<std::unique_ptr<HostSession>, std::string> played(
        const std::vector<std::string> &lines);
    std::optional<std::string> playLine(const std::string &line);
    // The done step, and playing it on the session with the form's answer.
    static Session leaving();
    std::optional<std::string> completeLeave(const std::optional<std::string> &answer);
    const AssetModel &asset();

    const LoadedModule &module_;
    const ServerRecord &server_;
    SessionSettings settings_;
    ImageRoot images_;
    std::string objectName_;
    std::unique_ptr<HostSession> session_;
    std::vector<std::size_t> steps_;
    std::vector<std::vector<std::string>> redo_;  // the steps undone, last undone last
    // While lines are played again: the folder a done line answered.
    bool replaying_ = false;
    std::optional<std::string> replayAnswer_;
    std::optional<std::string> startError_;
    std::optional<int64_t> clock_;
    std::function<int64_t()> wallClock_ = [] { return static_cast<int64_t>(std::time(nullptr)); };
    // Leaving: the form the tool asks, the answer its done step is given,
    // and while the step is tried on a copy, where the form it posts goes.
    std::optional<PostedForm> asking_;
    std::optional<std::string> leaveAnswer_;
    std::optional<PostedForm> *probe_ = nullptr;
    uint64_t meshVersion_ = 1;
    uint64_t meshBytesVersion_ = 0;
    std::string meshBytes_;
};

}  // namespace modeler
