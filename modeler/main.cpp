// modeler: loads the varlobooks module as the modeller does, drives its tool
// through a session or a one-line fill, and writes the result as files.
#include <unistd.h>

#include <csignal>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>

#include "modeler/exporters.h"
#include "modeler/host.h"
#include "modeler/loader.h"
#include "modeler/numbers.h"
#include "modeler/session.h"
#include "modeler/summary.h"

namespace {

namespace fs = std::filesystem;
using namespace modeler;

constexpr int kFailed = 1;
constexpr int kUsage = 2;
constexpr const char *kServerClass = "MeshEditTool";
constexpr const char *kServerName = "varlobooks";
constexpr int64_t kDefaultSeed = 0;
constexpr std::size_t kLargeExport = 200000;  // polygons

// The module built or installed beside this program.
std::string defaultModulePath() {
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    const fs::path folder = ec ? fs::path(".") : self.parent_path();
    for (const fs::path &candidate :
         {folder / "varlobooks.so", folder / ".." / "lib" / "varlobooks" / "varlobooks.so"}) {
        if (fs::exists(candidate, ec)) return candidate.lexically_normal().string();
    }
    return (folder / "varlobooks.so").string();
}

struct Common {
    std::string modulePath;
    std::vector<std::string> outputs;
    std::string format;
    std::string images;
    bool quiet = false;
    bool verbose = false;
};

struct Output {
    std::string path;
    ExportFormat format;
};

std::variant<std::vector<Output>, std::string> resolveOutputs(const Common &common) {
    std::vector<Output> outputs;
    for (const std::string &path : common.outputs) {
        auto format = exportFormatFor(path, common.format);
        if (!format) {
            return path +
                   ": cannot tell the format; use a .json, .obj, .gltf or .glb name or --format";
        }
        outputs.push_back({path, *format});
    }
    return outputs;
}

void fail(const std::string &message) {
    std::cerr << "modeler: " << message << '\n';
}

std::variant<std::unique_ptr<LoadedModule>, std::string> loadModule(const std::string &path) {
    return LoadedModule::load(path.empty() ? defaultModulePath() : path);
}

// fromCommandLine: the session was made from fill's options, so a mistake in
// it is wrong usage rather than a failed run.
int runAndExport(Session &session, const Common &common, bool fromCommandLine) {
    auto outputs = resolveOutputs(common);
    if (auto *error = std::get_if<std::string>(&outputs)) return fail(*error), kUsage;
    auto loaded = loadModule(common.modulePath);
    if (auto *error = std::get_if<std::string>(&loaded)) return fail(*error), kFailed;
    LoadedModule &module = *std::get<std::unique_ptr<LoadedModule>>(loaded);
    const ServerRecord *server = module.find(kServerClass, kServerName);
    if (!server) return fail(module.path() + ": no MeshEditTool server \"varlobooks\""), kFailed;

    auto panel = probeNumericPanel(module, *server);
    if (auto *error = std::get_if<std::string>(&panel))
        return fail(module.path() + ": " + *error), kFailed;
    if (auto error = checkSession(session, std::get<0>(panel))) {
        return fail(*error), fromCommandLine ? kUsage : kFailed;
    }

    Host host;
    RunOptions options;
    if (!common.images.empty()) options.folderAnswer = common.images;
    if (common.verbose) options.report = [](const std::string &line) { std::cerr << line << '\n'; };
    if (auto error = runSession(host, module, *server, session, options))
        return fail(*error), kFailed;

    for (const Output &output : std::get<std::vector<Output>>(outputs)) {
        const fs::path parent = fs::path(output.path).parent_path();
        std::error_code ec;
        if (!parent.empty() && !fs::is_directory(parent, ec)) {
            fs::create_directories(parent, ec);
            if (ec)
                return fail(output.path + ": cannot create its folder (" + ec.message() + ")"),
                       kFailed;
        }
        // Large exports take a moment: say so on a terminal.
        const bool progress = isatty(STDERR_FILENO) && !common.quiet &&
                              host.scene().layer().polygons().size() > kLargeExport;
        if (progress) std::cerr << "modeler: writing " << output.path << " ..." << std::flush;
        auto error = exportScene(host.scene(), output.path, output.format);
        if (progress) std::cerr << (error ? " failed\n" : " done\n");
        if (error) return fail(*error), kFailed;
    }
    if (!common.quiet) {
        std::cout << summarize(host.scene()) << '\n';
        for (const Output &output : std::get<std::vector<Output>>(outputs)) {
            std::cout << "wrote " << output.path << '\n';
        }
    }
    return 0;
}

int info(const std::string &path) {
    auto loaded = loadModule(path);
    if (auto *error = std::get_if<std::string>(&loaded)) return fail(*error), kFailed;
    const LoadedModule &module = *std::get<std::unique_ptr<LoadedModule>>(loaded);
    std::cout << module.path() << ": " << module.servers().size()
              << (module.servers().size() == 1 ? " server\n" : " servers\n");
    for (const ServerInfo &server : module.servers()) {
        std::cout << "  " << server.className << "  \"" << server.name << "\"\n";
    }
    return 0;
}

std::optional<std::array<Vec3, 2>> parseBox(const std::string &text) {
    std::array<Vec3, 2> box;
    std::size_t colon = text.find(':');
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

}  // namespace

int main(int argc, char **argv) {
    // A file-size limit must fail the write and be reported, not kill us.
    std::signal(SIGXFSZ, SIG_IGN);
    CLI::App app{
        "modeler: runs the varlobooks book tool as the modeller does and writes the "
        "shelf it makes as JSON (lossless), OBJ or glTF."};
    app.set_version_flag("--version", std::string("modeler ") + VARLOBOOKS_VERSION);
    app.require_subcommand(1);
    app.fallthrough();  // --quiet is taken after the command too
    Common common;
    app.add_flag("-q,--quiet", common.quiet, "Print nothing but errors");
    app.add_flag("-v,--verbose", common.verbose,
                 "Tell on stderr what each action did: every rebuild and every panel value");

    auto addModule = [&common](CLI::App *command) {
        command->add_option("--module", common.modulePath,
                            "The plug-in module to load (default: the one beside this program)");
    };
    auto addOutputs = [&common](CLI::App *command) {
        command
            ->add_option("-o,--output", common.outputs,
                         "A file to write: .json, .obj (+ .mtl), .gltf (+ .bin) or .glb; "
                         "give -o again for more")
            ->required();
        command
            ->add_option("--format", common.format, "The format of every output, whatever its name")
            ->check(CLI::IsMember(exportFormatNames()));
        command->add_option("--images", common.images,
                            "Answer the tool's image folder request with this folder");
    };

    std::string infoPath;
    CLI::App *infoCommand = app.add_subcommand("info", "List the servers of a plug-in module");
    infoCommand->add_option("module", infoPath,
                            "The module (default: the one beside this program)");

    std::string sessionPath;
    CLI::App *runCommand = app.add_subcommand(
        "run", "Run a session: what a user does with the tool, one action a line");
    runCommand->add_option("session", sessionPath, "The session file")->required();
    addModule(runCommand);
    addOutputs(runCommand);

    std::string boxText;
    int64_t seed = kDefaultSeed;
    std::vector<std::string> sets;
    CLI::App *fillCommand = app.add_subcommand("fill",
                                               "Fill one box with books: activate, press at one "
                                               "corner, move to the other, edit the panel, keep");
    fillCommand->add_option("--box", boxText, "The box's two corners: X0,Y0,Z0:X1,Y1,Z1")
        ->required();
    fillCommand->add_option("--seed", seed,
                            "The clock seconds the press reads: the books' seed (default 0)");
    fillCommand->add_option("--set", sets,
                            "A panel edit LABEL=VALUE, e.g. \"Random Front=0.3\", Type=Softcover, "
                            "Rotation=15 (degrees); repeatable");
    addModule(fillCommand);
    addOutputs(fillCommand);

    try {
        app.parse(argc, argv);
    } catch (const CLI::Success &e) {
        return app.exit(e);
    } catch (const CLI::ParseError &e) {
        app.exit(e);
        return kUsage;
    }

    try {
        if (infoCommand->parsed()) return info(infoPath);
        if (runCommand->parsed()) {
            auto session = readSession(sessionPath);
            if (auto *error = std::get_if<std::string>(&session)) return fail(*error), kFailed;
            return runAndExport(std::get<Session>(session), common, false);
        }
        auto box = parseBox(boxText);
        if (!box)
            return fail("--box: expected X0,Y0,Z0:X1,Y1,Z1 with finite numbers, found \"" +
                        boxText + "\""),
                   kUsage;
        Session session{"fill", {}};
        int line = 0;
        auto add = [&session, &line](SessionStep step) {
            session.actions.push_back({++line, std::move(step)});
        };
        add(action::Clock{seed});
        add(action::Event{LWTOOL_EVENT_ACTIVATE});
        add(action::Press{(*box)[0]});
        add(action::Move{(*box)[1]});
        for (const std::string &set : sets) {
            const std::size_t equals = set.find('=');
            if (equals == std::string::npos)
                return fail("--set: expected LABEL=VALUE, found \"" + set + "\""), kUsage;
            add(action::Set{set.substr(0, equals), set.substr(equals + 1)});
        }
        add(action::End{true});
        session.file = "fill";
        return runAndExport(session, common, true);
    } catch (const std::exception &e) {
        fail(e.what());
        return kFailed;
    }
}
