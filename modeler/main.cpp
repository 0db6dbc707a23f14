// modeler: loads a tool module as the modeller does, drives its tool
// through a session or a one-line fill, and writes the result as files.
#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>

#include "modeler/drive/module_loader.h"
#include "modeler/drive/session.h"
#include "modeler/drive/session_run.h"
#include "modeler/drive/system_library.h"
#include "modeler/drive/user_input.h"
#include "modeler/export/export_formats.h"
#include "modeler/export/summary.h"
#include "modeler/plugin_profile.h"
#include "modeler/profile_words.h"
#include "modeler/services/service_host.h"
#ifdef MODELER_SERVE
#include "modeler/serve/serve_until_stopped.h"
#include "modeler/serve/web_server.h"
#endif

namespace {

namespace fs = std::filesystem;
using namespace modeler;

constexpr int kFailed = 1;
constexpr int kUsage = 2;
constexpr std::size_t kLargeExport = 200000;  // polygons

// The module built or installed beside this program.
std::string defaultModulePath() {
    std::error_code ec;
    const fs::path folder = programFolder();
    const std::string file = std::string(profile::kModuleName) + kModuleSuffix;
    const fs::path beside = folder / file;
    const fs::path installed = folder / ".." / profile::kInstalledModuleFolder / file;
    for (const fs::path &candidate : {beside, installed}) {
        if (fs::exists(candidate, ec)) return candidate.lexically_normal().string();
    }
    return beside.string();
}

struct Common {
    std::string modulePath;
    std::vector<std::string> outputs;
    std::string format;
    std::string images;
    bool quiet = false;
    bool verbose = false;
    bool merge = false;
};

struct Output {
    std::string path;
    ExportFormat format;
};

// Prints the error and gives the exit status to return.
int fail(const std::string &message, int status) {
    std::cerr << "modeler: " << message << '\n';
    return status;
}

std::variant<std::vector<Output>, std::string> resolveOutputs(const Common &common) {
    std::vector<Output> outputs;
    for (const std::string &path : common.outputs) {
        std::error_code ec;
        if (path.empty() || path.back() == '/' || fs::is_directory(path, ec))
            return path + ": names a folder; give a file name";
        auto format = exportFormatFor(path, common.format);
        if (!format) {
            return path +
                   ": cannot tell the format; use a .json, .obj, .gltf or .glb name or --format";
        }
        outputs.push_back({path, *format});
    }
    return outputs;
}

std::variant<std::unique_ptr<LoadedModule>, std::string> loadModule(const std::string &path) {
    return LoadedModule::load(path.empty() ? defaultModulePath() : path);
}

// The tool's server in module, or null.
const ServerRecord *toolServer(const LoadedModule &module) {
    return module.find(profile::kServerClass, profile::kServerName);
}

std::string noToolServer(const LoadedModule &module) {
    return module.path() + ": no " + profile::kServerClass + " server \"" + profile::kServerName +
           "\"";
}

// Every output staged, then all committed together: a run that fails
// leaves every earlier file as it was.
std::optional<std::string> writeOutputs(SceneExports &exports, const std::vector<Output> &outputs,
                                        bool quiet) {
    const Scene &scene = exports.scene();
    // The files make their missing folders, and remove them again unless
    // the run commits.
    StagedFiles files;
    for (const Output &output : outputs) {
        // Large exports take a moment: say so on a terminal.
        const bool progress =
            stderrIsTerminal() && !quiet && scene.layer().polygons().size() > kLargeExport;
        if (progress) std::cerr << "modeler: writing " << output.path << " ..." << std::flush;
        auto error = exportScene(exports, output.path, output.format, files);
        if (progress) std::cerr << (error ? " failed\n" : " done\n");
        if (error) return error;
    }
    return files.commit();
}

// What the user should hear when the tool made nothing, or no cover took
// an image: exit status unchanged, as nothing failed.
void warnOfEmptyResults(Host &host, const SceneSummary &summary, const Common &common) {
    if (summary.shells == 0) {
        host.warn(std::string("the tool made no ") + profile::kShellNoun + " (" +
                  profile::kEmptyResultHint + ")");
    } else if (!common.images.empty() && summary.texturedShells == 0) {
        host.warn("no image from " + common.images + " went to " + profile::kImageTarget);
    }
}

// fromCommandLine: the session was made from fill's options, so a mistake in
// it is wrong usage rather than a failed run.
int runAndExport(const Session &session, const Common &common, bool fromCommandLine) {
    auto outputs = resolveOutputs(common);
    if (auto *error = std::get_if<std::string>(&outputs)) return fail(*error, kUsage);
    auto loaded = loadModule(common.modulePath);
    if (auto *error = std::get_if<std::string>(&loaded)) return fail(*error, kFailed);
    LoadedModule &module = *std::get<std::unique_ptr<LoadedModule>>(loaded);
    const ServerRecord *server = toolServer(module);
    if (!server) return fail(noToolServer(module), kFailed);
    Host host;
    host.setUnloadedImageHint(profile::kUnloadedImageHint);
    host.addStableMemory(module.readOnlyMemory());
    // Quiet means errors only: warnings change nothing in the run's outcome.
    if (!common.quiet) {
        host.setWarningSink([](const std::string &message) {
            std::cerr << "modeler: warning: " << message << '\n';
        });
    }
    RunOptions options;
    if (!common.images.empty()) options.folderAnswer = common.images;
    if (common.verbose) options.report = [](const std::string &line) { std::cerr << line << '\n'; };
    options.shellNoun = profile::kShellNoun;
    // One activation: the session's panel edits are checked against the
    // activated tool's panel before any action runs.
    SessionPlayer player(host, *server, options, clockOf(module));
    if (auto error = player.start(module.path())) return fail(*error, kFailed);
    if (auto error = player.check(session)) return fail(*error, fromCommandLine ? kUsage : kFailed);
    if (auto error = player.playAll(session)) return fail(*error, kFailed);
    if (auto error = player.finish(session.file)) return fail(*error, kFailed);

    // Shells are found once, and each asset model made once, for the
    // warnings, the summary line and every output alike.
    SceneExports exports(host.scene(), {common.merge, profileLook()});
    const SceneSummary summary = summarizeScene(host.scene(), exports.shells());
    warnOfEmptyResults(host, summary, common);
    const auto &resolved = std::get<std::vector<Output>>(outputs);
    if (auto error = writeOutputs(exports, resolved, common.quiet)) return fail(*error, kFailed);
    if (!common.quiet) {
        std::cout << summaryLine(summary, profileSummaryWords()) << '\n';
        for (const Output &output : resolved)
            std::cout << "wrote " << output.path << '\n';
    }
    return 0;
}

int info(const std::string &path) {
    auto loaded = loadModule(path);
    if (auto *error = std::get_if<std::string>(&loaded)) return fail(*error, kFailed);
    const LoadedModule &module = *std::get<std::unique_ptr<LoadedModule>>(loaded);
    if (!module.version().empty()) std::cout << module.path() << ": " << module.version() << '\n';
    std::cout << module.path() << ": " << module.servers().size()
              << (module.servers().size() == 1 ? " server\n" : " servers\n");
    for (const ServerInfo &server : module.servers()) {
        std::cout << "  " << server.className << "  \"" << server.name << "\"\n";
    }
    return 0;
}

std::optional<std::array<Vec3, 2>> parseBox(const std::string &text) {
    std::array<Vec3, 2> box;
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos) return std::nullopt;
    for (int corner = 0; corner < 2; ++corner) {
        std::string part = corner ? text.substr(colon + 1) : text.substr(0, colon);
        for (int i = 0; i < 3; ++i) {
            const std::size_t comma = part.find(',');
            if ((i < 2) == (comma == std::string::npos)) return std::nullopt;
            auto number = parseFiniteNumber(i < 2 ? part.substr(0, comma) : part);
            if (!number) return std::nullopt;
            box[corner][i] = *number;
            if (i < 2) part = part.substr(comma + 1);
        }
    }
    return box;
}

void addModuleOption(CLI::App *command, Common &common) {
    command->add_option("--module", common.modulePath,
                        "The plug-in module to load (default: the one beside this program)");
}

void addOutputOptions(CLI::App *command, Common &common) {
    command
        ->add_option("-o,--output", common.outputs,
                     "A file to write: .json, .obj (+ .mtl), .gltf (+ .bin) or .glb; "
                     "give -o again for more")
        ->required();
    command->add_option("--format", common.format, "The format of every output, whatever its name")
        ->check(CLI::IsMember(exportFormatNames()));
    command->add_option("--images", common.images,
                        "Answer the tool's image folder request with this folder");
    command->add_flag("--merge", common.merge,
                      std::string("OBJ and glTF: one mesh for the whole object instead of one "
                                  "object per ") +
                          profile::kShellNounSingular + " (for very large scenes)");
}

struct ServeRequest {
    std::string host = "127.0.0.1";
    int port = 8471;
    bool open = false;
};

struct Commands {
    CLI::App *info, *run, *fill, *serve = nullptr;
    std::string infoPath, sessionPath, boxText, seedText = "0";
    FillRequest fillRequest;
    ServeRequest serveRequest;
};

#ifdef MODELER_SERVE
// The page's files: beside the program when built, in share/ once installed.
std::string defaultWebFolder() {
    std::error_code ec;
    const fs::path folder = programFolder();
    const fs::path beside = folder / "web";
    const fs::path installed = folder / ".." / profile::kInstalledDataFolder / "web";
    for (const fs::path &candidate : {beside, installed}) {
        if (fs::is_directory(candidate, ec)) return candidate.lexically_normal().string();
    }
    return beside.string();
}

int serve(const ServeRequest &request, const Common &common) {
    auto loaded = loadModule(common.modulePath);
    if (auto *error = std::get_if<std::string>(&loaded)) return fail(*error, kFailed);
    LoadedModule &module = *std::get<std::unique_ptr<LoadedModule>>(loaded);
    const ServerRecord *server = toolServer(module);
    if (!server) return fail(noToolServer(module), kFailed);
    ServeOptions options;
    options.host = request.host;
    options.port = request.port;
    options.images = common.images;
    options.webFolder = defaultWebFolder();
    options.objectName = profile::kDefaultObjectName;
    options.look = profileLook();
    options.unloadedImageHint = profile::kUnloadedImageHint;
    WebServer web(module, *server, options);
    if (auto error = web.bind()) return fail(*error, kFailed);
    if (request.host != "127.0.0.1" && request.host != "localhost") {
        std::cerr << "modeler: warning: listening on " << request.host
                  << ": anyone who can reach it can drive the tool and read the image folder\n";
    }
    const std::string url = serverUrl(request.host, web.port());
    if (!common.quiet) std::cout << "modeler: serving " << url << " (Ctrl+C stops)" << std::endl;
    if (request.open) {
        const std::string command = "xdg-open '" + url + "' >/dev/null 2>&1 &";
        if (std::system(command.c_str()) != 0) std::cerr << "modeler: cannot open a browser\n";
    }
    const bool served = serveUntilStopped(web);
    if (!served) return fail("the server stopped with an error", kFailed);
    return 0;
}
#endif

void addCommands(CLI::App &app, Common &common, Commands &c) {
    c.info = app.add_subcommand("info", "List the servers of a plug-in module");
    c.info->add_option("module", c.infoPath, "The module (default: the one beside this program)");

    c.run = app.add_subcommand("run",
                               "Run a session: what a user does with the tool, one action a line");
    c.run->add_option("session", c.sessionPath, "The session file")->required();
    addModuleOption(c.run, common);
    addOutputOptions(c.run, common);

    c.fill = app.add_subcommand("fill", std::string("Fill one box with ") + profile::kShellNoun +
                                            ": activate, press at one corner, move to "
                                            "the other, edit the panel, keep");
    c.fill->add_option("--box", c.boxText, "The box's two corners: X0,Y0,Z0:X1,Y1,Z1")->required();
    c.fill->add_option("--seed", c.seedText,
                       "The clock seconds the press reads: the tool's seed (default 0)");
    c.fill->add_option("--set", c.fillRequest.sets,
                       std::string("A panel edit LABEL=VALUE, e.g. ") +
                           profile::kPanelEditExamples + "; repeatable");
    addModuleOption(c.fill, common);
    addOutputOptions(c.fill, common);

#ifdef MODELER_SERVE
    c.serve = app.add_subcommand("serve", std::string("Use ") + profile::kToolTitle +
                                              " by hand in a web page: four views, its "
                                              "handles and panel, downloads");
    c.serve->add_option("--port", c.serveRequest.port, "The port (default 8471; 0: any free one)")
        ->check(CLI::Range(0, 65535));
    c.serve->add_option("--host", c.serveRequest.host,
                        "The address to listen on (default 127.0.0.1: this machine only)");
    c.serve->add_option("--images", common.images,
                        "The folder whose folders the tool's image folder request offers");
    c.serve->add_flag("--open", c.serveRequest.open, "Open the page in the default browser");
    addModuleOption(c.serve, common);
#endif
}

int runCommand(Commands &c, const Common &common) {
    if (c.info->parsed()) return info(c.infoPath);
    if (!common.images.empty()) {
        std::error_code ec;
        if (!fs::is_directory(common.images, ec))
            return fail("--images: " + common.images + " is not a folder", kUsage);
    }
#ifdef MODELER_SERVE
    if (c.serve && c.serve->parsed()) return serve(c.serveRequest, common);
#endif
    if (c.run->parsed()) {
        auto session = readSession(c.sessionPath);
        if (auto *error = std::get_if<std::string>(&session)) return fail(*error, kFailed);
        return runAndExport(std::get<Session>(session), common, false);
    }
    auto box = parseBox(c.boxText);
    if (!box) {
        return fail(
            "--box: expected X0,Y0,Z0:X1,Y1,Z1 with finite numbers, found \"" + c.boxText + "\"",
            kUsage);
    }
    c.fillRequest.box = *box;
    // The same rule as a session's clock: whole seconds that fit 64 bits.
    auto seed = parseWholeNumber<int64_t>(c.seedText);
    if (!seed) {
        return fail("--seed: expected whole seconds (64 bits), found \"" + c.seedText + "\"",
                    kUsage);
    }
    c.fillRequest.seed = *seed;
    auto session = makeFillSession(c.fillRequest);
    if (auto *error = std::get_if<std::string>(&session)) return fail(*error, kUsage);
    return runAndExport(std::get<Session>(session), common, true);
}

// The program's version and that of the module it would load: the two
// travel together in a package, and a bug report wants both.
std::string versionText() {
    std::string text = std::string("modeler ") + VARLOBOOKS_VERSION + ", module ";
    auto loaded = loadModule("");
    if (auto *error = std::get_if<std::string>(&loaded)) return text + "not loaded: " + *error;
    const LoadedModule &module = *std::get<std::unique_ptr<LoadedModule>>(loaded);
    return text + (module.version().empty() ? module.path() + " (no version)" : module.version());
}

}  // namespace

int main(int argc, char **argv) {
    // A file-size limit must fail the write and be reported, not kill us.
#ifdef SIGXFSZ
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    CLI::App app{std::string("modeler: runs ") + profile::kToolTitle +
                     " as the modeller does and writes what it makes as JSON (lossless), OBJ or "
                     "glTF.",
                 "modeler"};  // not argv[0]: help and the manual page say the same
    app.set_version_flag("--version", versionText,
                         "Print the program's version and its module's, then exit");
    app.require_subcommand(1);
    app.fallthrough();  // --quiet is taken after the command too
    Common common;
    app.add_flag("-q,--quiet", common.quiet, "Print nothing but errors");
    app.add_flag("-v,--verbose", common.verbose,
                 "Tell on stderr what each action did: every rebuild and every panel value");
    Commands commands;
    addCommands(app, common, commands);
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success &e) {
        return app.exit(e);
    } catch (const CLI::ParseError &e) {
        app.exit(e);
        return kUsage;
    }
    try {
        return runCommand(commands, common);
    } catch (const std::exception &e) {
        return fail(e.what(), kFailed);
    }
}
