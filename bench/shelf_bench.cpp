// How fast the tool works through the real module loaded by the host: a
// rebuild as a drag makes it, a large fill, leaving the tool with a folder
// of images, and every export of a textured shelf.
//
// Run: cmake --preset bench && cmake --build --preset bench &&
//      build/bench/bin/varlobooks_bench --benchmark_repetitions=5
#include <benchmark/benchmark.h>
#include <stb/stb_image_write.h>
#include <sys/resource.h>

#include <cstdio>
#include <filesystem>
#include <numbers>

#include "bench/bench_module.h"
#include "modeler/drive/tool_driver.h"
#include "modeler/export/asset_model.h"
#include "modeler/export/export_formats.h"
#include "modeler/library/profile_words.h"
#include "modeler/services/service_host.h"
#include "tool/book_tool.h"

namespace {

namespace fs = std::filesystem;

// The clock read by this program's hosts, whatever the host library's
// benchmark loaded since.
modeler::LoadedModule &module() {
    modeler::LoadedModule &loaded = benchModule();
    loaded.claimClock();
    return loaded;
}

const ServerRecord &server() {
    return *module().find("MeshEditTool", "varlobooks");
}

// A folder of 50 small cover images, made once.
const std::string &coverFolder() {
    static const std::string folder = [] {
        const fs::path path = fs::temp_directory_path() / "varlobooks-bench-covers";
        fs::create_directories(path);
        unsigned char pixels[16 * 16 * 3];
        for (int i = 0; i < 50; ++i) {
            for (std::size_t p = 0; p < sizeof pixels; ++p)
                pixels[p] = static_cast<unsigned char>(i * 5 + p);
            const std::string name = (path / ("cover" + std::to_string(i) + ".png")).string();
            stbi_write_png(name.c_str(), 16, 16, 3, pixels, 16 * 3);
        }
        return path.string();
    }();
    return folder;
}

// The far corner of a box that holds about `books` books: in a box longer
// than 1 almost every thickness is MaxSize (0.08).
modeler::Vec3 farCorner(int books) {
    return {books <= 27 ? 1.0 : books * 0.08, 0.5, 0.3};
}

// The tool activated on host with its box placed from the origin.
void placeBox(modeler::ToolDriver &driver, int books) {
    driver.activate();
    driver.press({0, 0, 0});
    driver.move(farCorner(books));
}

int bookCount(modeler::ToolDriver &driver) {
    return static_cast<varlobooks::BookTool *>(driver.instance())->bookCount;
}

// A rebuild as a drag of a corner handle makes it: the previous build taken
// back, the shelf filled again.
void Rebuild(benchmark::State &state) {
    const int books = static_cast<int>(state.range(0));
    modeler::Host host;
    modeler::Host::Serving serving{host};
    host.addStableMemory(module().readOnlyMemory());
    host.setClock(0);  // every press seeds alike: the default shelf
    modeler::ToolDriver driver(host, server());
    placeBox(driver, books);
    for (auto _ : state)
        driver.drag(7, farCorner(books));
    state.counters["books"] = bookCount(driver);
    state.SetItemsProcessed(int64_t(bookCount(driver)) * state.iterations());
}
BENCHMARK(Rebuild)->Arg(27)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// The bytes the layer holds: points, polygons, corners and map values.
double layerBytes(const modeler::Layer &layer) {
    double bytes = double(layer.points().size()) * sizeof(modeler::Point) +
                   double(layer.polygons().size()) * sizeof(modeler::Polygon) +
                   double(layer.corners().size()) * sizeof(uint32_t);
    for (const auto &map : layer.vertexMaps())
        bytes += double(map->valueCount()) * map->dimension() * sizeof(float);
    return bytes;
}

double peakResidentBytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) * 1024;  // kilobytes on Linux
}

// A large fill: Type Both, 8 segments, books tilted up to 10 degrees.
void Fill(benchmark::State &state) {
    const int books = static_cast<int>(state.range(0));
    modeler::Host host;
    modeler::Host::Serving serving{host};
    host.addStableMemory(module().readOnlyMemory());
    host.setClock(0);  // every press seeds alike: the default shelf
    modeler::ToolDriver driver(host, server());
    placeBox(driver, books);
    (void)driver.setPanelValue("Rotation", "10");
    for (auto _ : state)
        driver.drag(7, farCorner(books));
    state.counters["books"] = bookCount(driver);
    state.counters["layer_MB"] = layerBytes(host.scene().layer()) / 1e6;
    state.counters["peak_rss_MB"] = peakResidentBytes() / 1e6;
    state.SetItemsProcessed(int64_t(bookCount(driver)) * state.iterations());
}
BENCHMARK(Fill)->Arg(100000)->Unit(benchmark::kMillisecond);

// Leaving the tool with a folder of 50 images: the tool's whole done step
// (listing, drawing, finding and loading images, textures for every cover).
void Leave(benchmark::State &state) {
    const int books = static_cast<int>(state.range(0));
    int made = 0;
    for (auto _ : state) {
        state.PauseTiming();
        modeler::Host host;
        modeler::Host::Serving serving{host};
        host.addStableMemory(module().readOnlyMemory());
        host.setClock(0);  // every press seeds alike: the default shelf
        modeler::ToolDriver driver(host, server());
        placeBox(driver, books);
        driver.end(true);
        made = bookCount(driver);
        state.ResumeTiming();
        driver.done(coverFolder());
        state.PauseTiming();
        if (host.scene().textures().size() < std::size_t(made))
            state.SkipWithError("not every cover took an image");
        state.ResumeTiming();
    }
    state.counters["books"] = made;
    state.SetItemsProcessed(int64_t(made) * state.iterations());
}
BENCHMARK(Leave)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// A kept shelf of about N books, every cover textured from the folder of
// 50 images: what the exports write.
struct TexturedShelf {
    modeler::Host host;
    modeler::Host::Serving serving{host};
    modeler::ToolDriver driver;
    explicit TexturedShelf(int books) : driver(host, server()) {
        host.addStableMemory(module().readOnlyMemory());
        host.setClock(0);  // every press seeds alike: the default shelf
        placeBox(driver, books);
        driver.end(true);
        driver.done(coverFolder());
    }
};

// Writing a textured shelf of about N books.
void Export(benchmark::State &state, modeler::ExportFormat format, const char *name) {
    TexturedShelf shelf(static_cast<int>(state.range(0)));
    const modeler::Scene &scene = shelf.host.scene();
    // A folder of its own: the file and its companions are what is written.
    const fs::path folder = fs::temp_directory_path() / ("varlobooks-bench-" + std::string(name));
    fs::remove_all(folder);
    fs::create_directories(folder);
    const std::string path = (folder / name).string();
    for (auto _ : state) {
        if (auto error = modeler::writeExport(scene, path, format, {false, modeler::profileLook()}))
            state.SkipWithError(error->c_str());
    }
    std::uintmax_t bytes = 0;
    for (const auto &entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) bytes += entry.file_size();
    }
    state.counters["polygons"] = double(scene.layer().polygons().size());
    state.counters["file_MB"] = double(bytes) / 1e6;
    state.SetBytesProcessed(int64_t(bytes) * state.iterations());
}
BENCHMARK_CAPTURE(Export, json, modeler::ExportFormat::Json, "shelf.json")
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Export, obj, modeler::ExportFormat::Obj, "shelf.obj")
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Export, glb, modeler::ExportFormat::Glb, "shelf.glb")
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Export, gltf, modeler::ExportFormat::Gltf, "shelf.gltf")
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond);

// The model the glTF, OBJ and page share, built from a textured shelf of
// about N books: one mesh a book, vertices split by normal and UV.
void AssetModel(benchmark::State &state) {
    TexturedShelf shelf(static_cast<int>(state.range(0)));
    const modeler::Scene &scene = shelf.host.scene();
    std::size_t vertices = 0;
    for (auto _ : state) {
        const modeler::AssetModel model =
            modeler::buildAssetModel(scene, {false, scene.objectName(), modeler::profileLook()});
        vertices = 0;
        for (const modeler::AssetMesh &mesh : model.meshes)
            vertices += mesh.vertexCount();
    }
    state.counters["vertices"] = double(vertices);
    state.SetItemsProcessed(int64_t(scene.layer().polygons().size()) * state.iterations());
}
BENCHMARK(AssetModel)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
