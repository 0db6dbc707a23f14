#include "modeler/session/host_session.h"

#include <algorithm>
#include <filesystem>
#include <sstream>

namespace modeler {

namespace {

// The text's lines as parseSession numbers them (from 1; index 0 unused),
// without the carriage return of a Windows line end.
std::vector<std::string> splitLines(const std::string &text) {
    std::vector<std::string> lines(1);
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
    }
    return lines;
}

}  // namespace

HostSession::HostSession(const LoadedModule &module, const ServerRecord &server,
                         SessionSettings settings)
    : module_(module), settings_(std::move(settings)) {
    host_.setUnloadedImageHint(settings_.unloadedImageHint);
    host_.addStableMemory(module.readOnlyMemory());
    host_.setWarningSink([this](const std::string &message) {
        warnings_.push_back(message);
        if (settings_.warning) settings_.warning(message);
    });
    RunOptions options;
    options.folderAnswer = settings_.images;
    if (settings_.formAnswerer) {
        options.formAnswerer = [this](const PostedForm &form) {
            formAsked_ = true;
            formAnswer_ = settings_.formAnswerer(form);
            return formAnswer_;
        };
    }
    options.report = settings_.report;
    options.shellNoun = settings_.shellNoun;
    player_ =
        std::make_unique<SessionPlayer>(host_, server, std::move(options), clockOf(module_, host_));
    startError_ = player_->start(module.path());
}

HostSession::~HostSession() {
    player_.reset();  // the tool goes before the host it was given
}

bool HostSession::inUse() {
    return !startError_ && player_->driver().inUse();
}

HostSession::Outcome HostSession::play(const std::string &text, const std::string &file,
                                       const std::string &baseFolder) {
    auto parsed = parseSession(text, file, baseFolder);
    if (auto *error = std::get_if<std::string>(&parsed)) return {Status::Invalid, *error};
    return play(std::get<Session>(parsed), splitLines(text));
}

HostSession::Outcome HostSession::fill(const FillRequest &request) {
    auto session = makeFillSession(request);
    if (auto *error = std::get_if<std::string>(&session)) return {Status::Invalid, *error};
    return play(std::get<Session>(session));
}

std::optional<HostSession::Outcome> HostSession::refusal() const {
    if (startError_) return Outcome{Status::Invalid, "the tool is not running: " + *startError_};
    if (failed_) return Outcome{Status::Fault, "the tool stopped after a fault: " + *failed_};
    return std::nullopt;
}

HostSession::Outcome HostSession::play(const Session &session,
                                       const std::vector<std::string> &lines) {
    if (auto refused = refusal()) return *refused;
    if (auto error = player_->check(session)) return {Status::Invalid, *error};
    return playChecked(session, lines);
}

HostSession::Outcome HostSession::playChecked(const Session &session,
                                              const std::vector<std::string> &lines) {
    if (auto refused = refusal()) return *refused;
    for (const SessionAction &a : session.actions) {
        // A handle the tool does not have is the user's mistake, refused
        // before the tool is asked.
        if (const auto *drag = std::get_if<action::Drag>(&a.step)) {
            const std::size_t count = player_->driver().handles().size();
            if (drag->handle < 0 || static_cast<std::size_t>(drag->handle) >= count) {
                return {Status::ActionFailed,
                        atAction(session, a,
                                 "no handle " + std::to_string(drag->handle) + ": the tool has " +
                                     std::to_string(count))};
            }
        }
        const std::size_t faults = host_.faults().size();
        formAsked_ = false;
        formAnswer_.reset();
        auto error = player_->play(session, a);
        ++version_;
        if (error) return failedSince(faults, *error);
        // Written down as typed, but a folder as it was answered: the
        // images setting, a person's choice on the form, or the line's
        // folder taken from its base.
        if (const auto *done = std::get_if<action::Done>(&a.step)) {
            std::optional<std::string> folder = done->folder;
            if (settings_.formAnswerer)
                folder = formAsked_ ? formAnswer_ : std::nullopt;
            else if (settings_.images)
                folder = settings_.images;
            lines_.push_back(actionText(action::Done{folder}));
        } else if (a.line > 0 && std::size_t(a.line) < lines.size() && a.source.empty()) {
            lines_.push_back(lines[a.line]);
        } else {
            lines_.push_back(actionText(a.step));
        }
    }
    return {};
}

HostSession::Outcome HostSession::failedSince(std::size_t faults, const std::string &error) {
    // A fault of the plug-in ends the use; anything else was the action's.
    if (host_.faults().size() == faults) return {Status::ActionFailed, error};
    failed_ = error;
    return {Status::Fault, error};
}

HostSession::Outcome HostSession::finish(const std::string &file) {
    if (!inUse()) return {};
    if (auto refused = refusal()) return *refused;
    const std::size_t faults = host_.faults().size();
    auto error = player_->finish(file);
    ++version_;
    if (error) return failedSince(faults, *error);
    lines_.push_back(actionText(action::Done{settings_.images}));
    return {};
}

void HostSession::warnIfNoImageWent(const std::string &folder) {
    const SceneSummary s = summary();
    if (s.shells > 0 && s.texturedShells == 0)
        host_.warn("no image from " + folder + " went to " + settings_.imageTarget);
}

std::string HostSession::text() const {
    std::string text;
    for (const std::string &line : lines_)
        text += line + "\n";
    return text;
}

SceneExports &HostSession::exports() {
    if (!exports_ || exportsVersion_ != version_) {
        exports_.emplace(host_.scene(), settings_.exports);
        exportsVersion_ = version_;
    }
    return *exports_;
}

const AssetModel &HostSession::model() {
    const Scene &scene = host_.scene();
    return exports().assetFor(scene.hasObjectName() ? scene.objectName() : "Unnamed");
}

SceneSummary HostSession::summary() {
    return summarizeScene(host_.scene(), exports().shells());
}

std::string HostSession::summaryText() {
    return summaryLine(summary(), settings_.words);
}

HostSession::Outcome HostSession::write(const std::vector<std::string> &paths,
                                        const std::vector<std::string> &formats) {
    StagedFiles files;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const std::string formatName = i < formats.size() ? formats[i] : std::string();
        const std::string &path = paths[i];
        auto format = exportFormatFor(path, formatName);
        if (!format) {
            if (!formatName.empty()) return {Status::Invalid, "no format \"" + formatName + "\""};
            return {Status::Invalid,
                    path + ": cannot tell the format; use a .json, .obj, .gltf or .glb name"};
        }
        if (auto error = exportScene(exports(), path, *format, files))
            return {Status::ActionFailed, *error};
    }
    if (auto error = files.commit()) return {Status::ActionFailed, *error};
    return {};
}

std::variant<std::vector<std::pair<std::string, std::string>>, std::string>
HostSession::exportFiles(const std::string &name, const std::string &formatName) {
    auto format = exportFormatFor(name, formatName);
    if (!format) return "no format \"" + formatName + "\" for " + name;
    if (name.empty() || std::filesystem::path(name).has_parent_path())
        return "expected a file name without a folder, found \"" + name + "\"";
    StagedFiles files{AtomicFile::InMemory{}};
    if (auto error = exportScene(exports(), name, *format, files)) return *error;
    if (auto error = files.commit()) return *error;
    // The file named first, then its companions as they were made.
    auto made = files.takeFiles();
    std::stable_partition(made.begin(), made.end(),
                          [&name](const auto &file) { return file.first == name; });
    return made;
}

}  // namespace modeler
