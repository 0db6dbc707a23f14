// The step that runs on leaving the tool, over folders the fuzzer makes:
// odd names (invalid UTF-8, newlines, leading dashes), empty files, images
// cut short or corrupted, non-images, FIFOs, nested folders, links to
// files, dangling links and link loops. It must end, fault nothing, and
// give only decodable images to covers.
#include <fuzzer/FuzzedDataProvider.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "modeler/services/edit_operations.h"
#include "modeler/services/service_host.h"
#include "module/activation.h"
#include "tool/book_tool.h"

namespace fs = std::filesystem;

namespace {

// A 1x1 PNG the fuzzer may cut or corrupt.
const unsigned char kPng[] = {
    0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48,
    0x44, 0x52, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x02, 0x00, 0x00,
    0x00, 0x90, 0x77, 0x53, 0xDE, 0x00, 0x00, 0x00, 0x0C, 0x49, 0x44, 0x41, 0x54, 0x08,
    0xD7, 0x63, 0xF8, 0xCF, 0xC0, 0x00, 0x00, 0x03, 0x01, 0x01, 0x00, 0x18, 0xDD, 0x8D,
    0xB0, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};

fs::path folderOfThisProcess() {
    return fs::temp_directory_path() / ("varlobooks_image_fuzz_" + std::to_string(getpid()));
}

// A name of 1 to 60 bytes with neither '/' nor NUL, never "." or "..".
std::string entryName(FuzzedDataProvider &in, int index) {
    std::string name = in.ConsumeRandomLengthString(60);
    for (char &c : name) {
        if (c == '/' || c == '\0') c = '_';
    }
    if (name.empty() || name == "." || name == "..") name = "entry";
    return name + std::to_string(index);
}

void makeEntry(FuzzedDataProvider &in, const fs::path &folder, int index) {
    const fs::path path = folder / entryName(in, index);
    std::error_code ec;
    switch (in.ConsumeIntegralInRange(0, 7)) {
        case 0: {  // an image, perhaps cut short or with bytes changed
            std::string bytes(reinterpret_cast<const char *>(kPng), sizeof kPng);
            bytes.resize(in.ConsumeIntegralInRange<size_t>(0, bytes.size()));
            for (int flips = in.ConsumeIntegralInRange(0, 3); flips > 0 && !bytes.empty(); --flips)
                bytes[in.ConsumeIntegralInRange<size_t>(0, bytes.size() - 1)] ^=
                    in.ConsumeIntegral<char>();
            std::ofstream(path, std::ios::binary) << bytes;
            break;
        }
        case 1:  // anything at all
            std::ofstream(path, std::ios::binary) << in.ConsumeRandomLengthString(256);
            break;
        case 2:
#ifdef _WIN32
            std::ofstream(path, std::ios::binary).put('\0');  // no pipes in a folder there
#else
            mkfifo(path.c_str(), 0600);
#endif
            break;
        case 3:
            fs::create_directories(path / "inner", ec);
            break;
        case 4:
            fs::create_symlink(path.filename(), path, ec);
            break;  // a loop
        case 5:
            fs::create_symlink("missing", path, ec);
            break;
        case 6:
            fs::create_symlink("/dev/zero", path, ec);
            break;
        default:
            std::ofstream(path, std::ios::binary) << "";
            break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider in(data, size);
    const fs::path folder = folderOfThisProcess();
    std::error_code ec;
    fs::remove_all(folder, ec);
    fs::create_directories(folder, ec);
    const int entries = in.ConsumeIntegralInRange(0, 8);
    for (int i = 0; i < entries; ++i)
        makeEntry(in, folder, i);

    modeler::Host host;
    modeler::Host::Serving serving{host};
    LWToolFuncs funcs{};
    LWMeshEditTool record{nullptr, &funcs, nullptr, nullptr, nullptr};
    if (varlobooks::activateBookTool(1, host.globalLookup(), &record, nullptr) != AFUNC_OK)
        std::abort();
    auto &tool = *static_cast<varlobooks::BookTool *>(record.instance);
    tool.boxMax[0] = 0.3f;
    tool.boxMax[1] = tool.boxMax[2] = 0.5f;
    tool.seed = in.ConsumeIntegral<int32_t>();
    host.scene().beginEdit();
    {
        modeler::MeshEdit edit(host);
        record.build(record.instance, edit.op());
    }
    host.scene().commitEdit();
    host.panels().setFormAnswer(folder.string());
    funcs.done(record.instance);
    for (const auto &image : host.scene().images()) {
        if (!image->rgba || image->width <= 0 || image->height <= 0) std::abort();
    }
    if (!host.faults().empty()) {
        std::fprintf(stderr, "host fault: %s\n", host.faults().front().c_str());
        std::abort();
    }
    fs::remove_all(folder, ec);
    return 0;
}
