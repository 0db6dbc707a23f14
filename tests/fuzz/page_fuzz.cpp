// A page's workspace as modeler serve and the static page drive it, given
// anything a page could send: action lines made of the session's words with
// any numbers (huge ones included) and long or broken text, undo and redo,
// leaving, form answers naming any folder (the image folder holds names
// that are not UTF-8, and quotes), downloads in any format, replays of any
// text. After every request the page's state must be one well-formed JSON
// object that parses, and the session text must be UTF-8 where the page
// shows it.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "modeler/drive/module_loader.h"
#include "modeler/export/json_writer.h"
#include "modeler/page/workspace.h"

namespace {
namespace fs = std::filesystem;

[[noreturn]] void finding(const std::string &what) {
    std::fprintf(stderr, "finding: %s\n", what.c_str());
    std::abort();
}

// The module, and an image folder with hostile names, made once.
struct Setting {
    std::unique_ptr<modeler::LoadedModule> module;
    const ServerRecord *server = nullptr;
    fs::path images;
    std::vector<std::string> folderNames;

    Setting() {
        auto loaded = modeler::LoadedModule::load(VARLOBOOKS_MODULE_PATH);
        if (auto *error = std::get_if<std::string>(&loaded)) finding(*error);
        module = std::move(std::get<std::unique_ptr<modeler::LoadedModule>>(loaded));
        server = module->find("MeshEditTool", "varlobooks");
        if (!server) finding("no tool in the module");
        images = fs::temp_directory_path() / ("varlobooks-page-fuzz-" + std::to_string(getpid()));
        fs::remove_all(images);
        folderNames = {"covers",        "caf\xe9", "dir\xfe", "quote\"d", "a b",
                       "nested/deeper", "..",      "/etc",    "",         "covers/../covers"};
        for (const char *made : {"covers", "caf\xe9", "dir\xfe", "a b", "nested/deeper"}) {
            fs::create_directories(images / made);
            fs::copy_file(SOURCE_DIR "/examples/covers/cover01.png", images / made / "c\xe9.png");
            std::ofstream(images / made / "notes.txt") << "not an image";
        }
    }
    ~Setting() {
        std::error_code ec;
        fs::remove_all(images, ec);
    }
};

std::string anyNumber(FuzzedDataProvider &in) {
    switch (in.ConsumeIntegralInRange(0, 6)) {
        case 0:
            return "1e308";
        case 1:
            return "-1e400";
        case 2:
            return std::string(in.ConsumeIntegralInRange<std::size_t>(1, 400), '9');
        case 3:
            return "nan";
        case 4:
            return std::to_string(in.ConsumeIntegral<int64_t>());
        default:
            return std::to_string(in.ConsumeFloatingPointInRange(-3.0, 3.0));
    }
}

std::string anyLine(FuzzedDataProvider &in) {
    static const char *const kWords[] = {"press", "move",  "drag", "set",    "end",
                                         "event", "clock", "done", "object", "activate"};
    static const char *const kLabels[] = {"\"MaxSize\"", "\"Rotation\"",
                                          "\"Type\"",    "\"Surface Prefix\"",
                                          "\"Axis\"",    "\"Book Segments\""};
    if (in.ConsumeIntegralInRange(0, 9) == 0) return in.ConsumeRandomLengthString(4096);
    std::string line = kWords[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kWords) - 1)];
    const int words = in.ConsumeIntegralInRange(0, 6);
    for (int i = 0; i < words; ++i) {
        line += ' ';
        switch (in.ConsumeIntegralInRange(0, 4)) {
            case 0:
                line += kLabels[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kLabels) - 1)];
                break;
            case 1:
                line += "\"" + in.ConsumeRandomLengthString(300) + "\"";
                break;
            case 2:
                line += in.ConsumeBool() ? "keep" : "discard";
                break;
            default:
                line += anyNumber(in);
        }
    }
    return line;
}

void checkState(modeler::Workspace &page) {
    modeler::JsonWriter out;
    out.beginObject();
    page.writeState(out);
    const std::string text = out.endObject().take();
    const auto parsed = nlohmann::json::parse(text, nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object()) finding("a state that is no JSON object");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static Setting setting;
    FuzzedDataProvider in(data, size);
    modeler::SessionSettings settings;
    const std::string objectName =
        in.ConsumeBool() ? "bookshelf" : in.ConsumeRandomLengthString(64);
    modeler::Workspace page(*setting.module, *setting.server, modeler::ImageRoot(setting.images),
                            objectName, settings);
    int64_t now = 1000;
    page.setWallClock([&now] { return now++; });
    for (int step = 0; step < 40 && in.remaining_bytes() > 0; ++step) {
        switch (in.ConsumeIntegralInRange(0, 9)) {
            case 0:
            case 1:
            case 2:
                (void)page.act(anyLine(in), in.ConsumeBool());
                break;
            case 3:
                (void)page.undo();
                break;
            case 4:
                (void)page.redo();
                break;
            case 5:
                (void)page.leave();
                break;
            case 6: {
                std::optional<std::string> folder;
                if (in.ConsumeBool()) {
                    folder = in.ConsumeBool()
                                 ? setting.folderNames[in.ConsumeIntegralInRange<std::size_t>(
                                       0, setting.folderNames.size() - 1)]
                                 : in.ConsumeRandomLengthString(64);
                }
                (void)page.answerForm(folder);
                break;
            }
            case 7: {
                static const char *const kFormats[] = {"json", "glb", "gltf", "obj", "", "exe"};
                (void)page.download(
                    kFormats[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kFormats) - 1)]);
                break;
            }
            case 8:
                (void)page.texture(in.ConsumeIntegralInRange<std::size_t>(0, 40));
                break;
            default: {
                // A reload: the page's own session, or any text.
                const std::string text =
                    in.ConsumeBool() ? page.sessionText() : in.ConsumeRandomLengthString(2048);
                (void)page.replay(text, page.steps());
                break;
            }
        }
        checkState(page);
        (void)page.meshBytes();
    }
    return 0;
}
