// One use of the tool on a fresh host, as every front end drives it: the
// command line's run and fill, the served page, the C API and the Python
// package. Sessions are checked whole and played action by action through
// one session player; what was done is written down as session text that
// replays to the same scene; the exports are made from one model of the
// scene as it is.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "modeler/drive/module_loader.h"
#include "modeler/drive/session.h"
#include "modeler/drive/session_run.h"
#include "modeler/export/export_formats.h"
#include "modeler/export/summary.h"

namespace modeler {

struct SessionSettings {
    // Answers every image folder request, as run's --images.
    std::optional<std::string> images;
    // When set, asked at each form the tool posts while leaving instead (a
    // person choosing the folder then); its answer is written down.
    FormAnswerer formAnswerer;
    ExportOptions exports;                // merge, and how the exports look
    std::string unloadedImageHint;        // see Host::setUnloadedImageHint
    SummaryWords words;                   // what the summary calls books
    std::string imageTarget = "a shell";  // what an image goes to, for the warning
    std::string shellNoun = "shells";     // in reports
    // Told each warning as it comes (they are kept either way).
    std::function<void(const std::string &)> warning;
    // Told what each action did, as run's --verbose.
    std::function<void(const std::string &)> report;
};

class HostSession {
  public:
    enum class Status { Ok, Invalid, ActionFailed, Fault };
    struct Outcome {
        Status status = Status::Ok;
        std::string message;
        explicit operator bool() const { return status != Status::Ok; }  // true: failed
    };

    // Activates server's tool on a fresh host; startError() says why not.
    HostSession(const LoadedModule &module, const ServerRecord &server, SessionSettings settings);
    ~HostSession();
    HostSession(const HostSession &) = delete;
    HostSession &operator=(const HostSession &) = delete;

    const std::optional<std::string> &startError() const { return startError_; }

    // Session text, checked whole (words, then panel edits against the
    // tool's panel), then played until an action fails. file names it in
    // messages; a relative "done folder" is taken from baseFolder.
    Outcome play(const std::string &text, const std::string &file, const std::string &baseFolder);
    // What modeler fill does (see makeFillSession).
    Outcome fill(const FillRequest &request);
    // A parsed session; lines: each action's text to write down, by the
    // action's line number (empty: made from the action).
    Outcome play(const Session &session, const std::vector<std::string> &lines = {});
    // The same for a session already checked with player().check.
    Outcome playChecked(const Session &session, const std::vector<std::string> &lines = {});
    // Leaves the tool if still in use, answering with the images setting.
    Outcome finish(const std::string &file);
    // After leaving with folder: warns when the tool made shells but gave
    // none an image from it (an empty folder, or none that decode).
    void warnIfNoImageWent(const std::string &folder);
    // A warning of the host's own, kept and told as the tool's are.
    void warn(const std::string &message) { host_.warn(message); }

    bool inUse();
    // Every action done so far, one a line, replaying to the same scene.
    std::string text() const;
    const std::vector<std::string> &lines() const { return lines_; }
    const std::vector<std::string> &warnings() const { return warnings_; }
    // A fault of the plug-in ends the use: what follows could not replay.
    const std::optional<std::string> &failure() const { return failed_; }
    // Changes whenever the scene may have.
    uint64_t version() const { return version_; }

    // The scene's shells and asset model, made once per version.
    SceneExports &exports();
    const AssetModel &model();
    SceneSummary summary();
    std::string summaryText();
    // Writes every path at once, or none (see StagedFiles); formats: one
    // per path, empty to go by the name.
    Outcome write(const std::vector<std::string> &paths, const std::vector<std::string> &formats);
    // The files of one export, in memory: name first, then its companions.
    std::variant<std::vector<std::pair<std::string, std::string>>, std::string> exportFiles(
        const std::string &name, const std::string &format);

    Host &host() { return host_; }
    SessionPlayer &player() { return *player_; }
    const SessionSettings &settings() const { return settings_; }

  private:
    // Why nothing can be played: the tool did not start, or faulted.
    std::optional<Outcome> refusal() const;
    Outcome failedSince(std::size_t faults, const std::string &error);

    const LoadedModule &module_;
    SessionSettings settings_;
    Host host_;
    std::unique_ptr<SessionPlayer> player_;
    std::optional<std::string> startError_;
    std::optional<std::string> failed_;
    std::vector<std::string> lines_;
    std::vector<std::string> warnings_;
    // What the tool's form was answered while leaving, when asked.
    bool formAsked_ = false;
    std::optional<std::string> formAnswer_;
    uint64_t version_ = 1;
    uint64_t exportsVersion_ = 0;
    std::optional<SceneExports> exports_;
};

}  // namespace modeler
