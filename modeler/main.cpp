// modeler: loads a tool module as the modeller does, drives its tool
// through a session or a one-line fill, and writes the result as files.
// Everything it does with the tool goes through the host library's C API.
#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "modeler/drive/user_input.h"
#include "modeler/plugin_profile.h"
#include "varlobooks/host_api.h"
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

struct Common {
    std::string modulePath;
    std::vector<std::string> outputs;
    std::string format;
    std::string images;
    bool quiet = false;
    bool verbose = false;
    bool merge = false;
};

// Prints the error and gives the exit status to return.
int fail(const std::string &message, int status) {
    std::cerr << "modeler: " << message << '\n';
    return status;
}

bool stderrIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr));
#else
    return isatty(STDERR_FILENO);
#endif
}

std::vector<std::string> exportFormatNames() {
    std::vector<std::string> names;
    for (std::size_t i = 0; const char *name = varlobooks_export_format(i); ++i)
        names.emplace_back(name);
    return names;
}

// Checked before the module loads: a wrong output is wrong usage.
std::optional<std::string> checkOutputs(const Common &common) {
    for (const std::string &path : common.outputs) {
        std::error_code ec;
        if (path.empty() || path.back() == '/' || fs::is_directory(path, ec))
            return path + ": names a folder; give a file name";
        if (!varlobooks_export_format_for(path.c_str(), common.format.c_str())) {
            return path +
                   ": cannot tell the format; use a .json, .obj, .gltf or .glb name or --format";
        }
    }
    return std::nullopt;
}

// The library's handles, freed when they go.
struct ModuleHandle {
    VarlobooksModule *module = nullptr;
    ~ModuleHandle() { varlobooks_module_close(module); }
};
struct SessionHandle {
    VarlobooksSession *session = nullptr;
    ~SessionHandle() { varlobooks_session_free(session); }
};

void printWarning(void *, const char *message) {
    std::cerr << "modeler: warning: " << message << '\n';
}
void printReport(void *, const char *line) {
    std::cerr << line << '\n';
}

// The module (given, else the one beside the library), or an error.
std::optional<std::string> openModule(const std::string &path, ModuleHandle &handle) {
    if (varlobooks_module_open(path.empty() ? nullptr : path.c_str(), &handle.module) !=
        VARLOBOOKS_OK)
        return std::string(varlobooks_module_error(handle.module));
    return std::nullopt;
}

// What the user should hear when the tool made nothing, or no cover took
// an image: exit status unchanged, as nothing failed.
void warnOfEmptyResults(const VarlobooksSummary &summary, const Common &common) {
    if (common.quiet) return;
    if (summary.books == 0) {
        printWarning(nullptr, (std::string("the tool made no ") + profile::kShellNoun + " (" +
                               profile::kEmptyResultHint + ")")
                                  .c_str());
    } else if (!common.images.empty() && summary.textured_books == 0) {
        printWarning(
            nullptr,
            ("no image from " + common.images + " went to " + profile::kImageTarget).c_str());
    }
}

// While the outputs are written, SIGINT, SIGTERM and SIGHUP wait: the
// export stages each file beside its target and renames it into place, and
// a signal in between would leave the staged files behind. A signal that
// came meanwhile takes effect as soon as the writing ends, which is short.
#ifndef _WIN32
class SignalsWaitForTheOutputs {
  public:
    SignalsWaitForTheOutputs() {
        sigset_t held;
        sigemptyset(&held);
        for (int signal : {SIGINT, SIGTERM, SIGHUP})
            sigaddset(&held, signal);
        sigprocmask(SIG_BLOCK, &held, &before_);
    }
    ~SignalsWaitForTheOutputs() { sigprocmask(SIG_SETMASK, &before_, nullptr); }

  private:
    sigset_t before_{};
};
#endif

// Every output written at once: a run that fails leaves every earlier file
// as it was.
std::optional<std::string> writeOutputs(VarlobooksSession *session,
                                        const VarlobooksSummary &summary, const Common &common) {
    std::vector<const char *> paths, formats;
    for (const std::string &path : common.outputs) {
        paths.push_back(path.c_str());
        formats.push_back(common.format.empty() ? nullptr : common.format.c_str());
    }
    // Large exports take a moment: say so on a terminal.
    const bool progress = stderrIsTerminal() && !common.quiet && summary.polygons > kLargeExport;
    if (progress) std::cerr << "modeler: writing ..." << std::flush;
    VarlobooksStatus status;
    {
#ifndef _WIN32
        const SignalsWaitForTheOutputs waiting;
#endif
        status = varlobooks_session_export(session, paths.data(), formats.data(), paths.size());
    }
    if (progress) std::cerr << (status != VARLOBOOKS_OK ? " failed\n" : " done\n");
    if (status != VARLOBOOKS_OK) return std::string(varlobooks_session_error(session));
    return std::nullopt;
}

// How a session is played on the fresh session given.
using Play = std::function<VarlobooksStatus(VarlobooksSession *)>;

// fromCommandLine: the session was made from fill's options, so a mistake in
// it is wrong usage rather than a failed run.
int runAndExport(const Play &play, const Common &common, bool fromCommandLine) {
    if (auto error = checkOutputs(common)) return fail(*error, kUsage);
    ModuleHandle module;
    if (auto error = openModule(common.modulePath, module)) return fail(*error, kFailed);
    VarlobooksSessionOptions options{};
    if (!common.images.empty()) options.images = common.images.c_str();
    options.merge = common.merge;
    // Quiet means errors only: warnings change nothing in the run's outcome.
    if (!common.quiet) options.warning = printWarning;
    if (common.verbose) options.report = printReport;
    SessionHandle session;
    if (varlobooks_session_new(module.module, &options, &session.session) != VARLOBOOKS_OK)
        return fail(varlobooks_session_error(session.session), kFailed);
    // The session's panel edits are checked against the activated tool's
    // panel before any action runs.
    const VarlobooksStatus played = play(session.session);
    if (played != VARLOBOOKS_OK) {
        const bool usage = fromCommandLine && played == VARLOBOOKS_SESSION_INVALID;
        return fail(varlobooks_session_error(session.session), usage ? kUsage : kFailed);
    }
    if (varlobooks_session_finish(session.session) != VARLOBOOKS_OK)
        return fail(varlobooks_session_error(session.session), kFailed);

    VarlobooksSummary summary{};
    const char *line = nullptr;
    if (varlobooks_session_summary(session.session, &summary, &line) != VARLOBOOKS_OK)
        return fail(varlobooks_session_error(session.session), kFailed);
    warnOfEmptyResults(summary, common);
    if (auto error = writeOutputs(session.session, summary, common)) return fail(*error, kFailed);
    if (!common.quiet) {
        std::cout << line << '\n';
        for (const std::string &output : common.outputs)
            std::cout << "wrote " << output << '\n';
    }
    return 0;
}

// Reads the session file into text; why not, when it cannot be read.
std::optional<std::string> readSessionText(const std::string &path, std::string &text) {
    std::error_code ec;
    const auto status = fs::status(path, ec);
    if (!fs::exists(status)) return path + ": no such session file";
    if (fs::is_directory(status)) return path + ": is a folder, not a session file";
    // Anything else that reads as text will do: a file, a pipe, /dev/stdin.
    std::ifstream in(path, std::ios::binary);
    if (!in) return path + ": cannot read the session";
    std::ostringstream read;
    read << in.rdbuf();
    text = read.str();
    return std::nullopt;
}

int info(const std::string &path) {
    ModuleHandle module;
    if (auto error = openModule(path, module)) return fail(*error, kFailed);
    const std::string file = varlobooks_module_path(module.module);
    const std::string version = varlobooks_module_version(module.module);
    if (!version.empty()) std::cout << file << ": " << version << '\n';
    const std::size_t count = varlobooks_module_server_count(module.module);
    std::cout << file << ": " << count << (count == 1 ? " server\n" : " servers\n");
    for (std::size_t i = 0; i < count; ++i) {
        const char *className = nullptr, *name = nullptr;
        if (varlobooks_module_server(module.module, i, &className, &name) == VARLOBOOKS_OK)
            std::cout << "  " << className << "  \"" << name << "\"\n";
    }
    return 0;
}

std::optional<std::array<double, 6>> parseBox(const std::string &text) {
    std::array<double, 6> box;
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos) return std::nullopt;
    for (int corner = 0; corner < 2; ++corner) {
        std::string part = corner ? text.substr(colon + 1) : text.substr(0, colon);
        for (int i = 0; i < 3; ++i) {
            const std::size_t comma = part.find(',');
            if ((i < 2) == (comma == std::string::npos)) return std::nullopt;
            auto number = parseFiniteNumber(i < 2 ? part.substr(0, comma) : part);
            if (!number) return std::nullopt;
            box[corner * 3 + i] = *number;
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
    std::vector<std::string> sets;
    ServeRequest serveRequest;
};

#ifdef MODELER_SERVE
// The page's files: beside the program when built, in share/ once installed.
std::string defaultWebFolder() {
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    const fs::path folder = ec ? fs::path(".") : self.parent_path();
    const fs::path beside = folder / "web";
    const fs::path installed = folder / ".." / profile::kInstalledDataFolder / "web";
    for (const fs::path &candidate : {beside, installed}) {
        if (fs::is_directory(candidate, ec)) return candidate.lexically_normal().string();
    }
    return beside.string();
}

int serve(const ServeRequest &request, const Common &common) {
    ModuleHandle module;
    if (auto error = openModule(common.modulePath, module)) return fail(*error, kFailed);
    // A page of a module without the tool would fail at its first request.
    if (varlobooks_module_check_tool(module.module) != VARLOBOOKS_OK)
        return fail(varlobooks_module_error(module.module), kFailed);
    ServeOptions options;
    options.host = request.host;
    options.port = request.port;
    options.images = common.images;
    options.webFolder = defaultWebFolder();
    options.objectName = profile::kDefaultObjectName;
    WebServer web(module.module, options);
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
    c.fill->add_option("--set", c.sets,
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
        std::string text;
        if (auto error = readSessionText(c.sessionPath, text)) return fail(*error, kFailed);
        const fs::path parent = fs::path(c.sessionPath).parent_path();
        const std::string base = parent.empty() ? "." : parent.string();
        return runAndExport(
            [&](VarlobooksSession *session) {
                return varlobooks_session_play(session, text.c_str(), c.sessionPath.c_str(),
                                               base.c_str());
            },
            common, false);
    }
    auto box = parseBox(c.boxText);
    if (!box) {
        return fail(
            "--box: expected X0,Y0,Z0:X1,Y1,Z1 with finite numbers, found \"" + c.boxText + "\"",
            kUsage);
    }
    // The same rule as a session's clock: whole seconds that fit 64 bits.
    auto seed = parseWholeNumber<int64_t>(c.seedText);
    if (!seed) {
        return fail("--seed: expected whole seconds (64 bits), found \"" + c.seedText + "\"",
                    kUsage);
    }
    std::vector<const char *> sets;
    for (const std::string &set : c.sets)
        sets.push_back(set.c_str());
    return runAndExport(
        [&](VarlobooksSession *session) {
            return varlobooks_session_fill(session, box->data(), *seed, sets.data(), sets.size());
        },
        common, true);
}

// The program's version and that of the module it would load: the two
// travel together in a package, and a bug report wants both.
std::string versionText() {
    std::string text = std::string("modeler ") + VARLOBOOKS_VERSION + ", module ";
    ModuleHandle module;
    if (auto error = openModule("", module)) return text + "not loaded: " + *error;
    const std::string version = varlobooks_module_version(module.module);
    return text + (version.empty()
                       ? varlobooks_module_path(module.module) + std::string(" (no version)")
                       : version);
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
