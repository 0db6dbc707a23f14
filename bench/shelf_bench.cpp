// How fast a shelf builds through the real module into the host's layer,
// and how fast it is written out.
//
// Run: cmake --preset bench && cmake --build --preset bench &&
//      build/bench/bin/varlobooks_bench
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>

#include "modeler/drive/module_loader.h"
#include "modeler/drive/tool_driver.h"
#include "modeler/export/export_formats.h"
#include "modeler/services/service_host.h"
#include "tool/book_tool.h"

namespace {

std::unique_ptr<modeler::LoadedModule> loadModule() {
    auto loaded = modeler::LoadedModule::load(VARLOBOOKS_MODULE_PATH);
    if (auto *error = std::get_if<std::string>(&loaded)) {
        std::fprintf(stderr, "%s\n", error->c_str());
        std::exit(1);
    }
    return std::move(std::get<0>(loaded));
}

// A shelf long enough for about `books` books (in a long box almost every
// thickness is MaxSize), with
// the default mix of hardcover and softcover.
void fillShelf(modeler::ToolDriver &driver, int books, int32_t seed) {
    auto &tool = *static_cast<varlobooks::BookTool *>(driver.instance());
    tool.boxMin[0] = tool.boxMin[1] = tool.boxMin[2] = 0;
    tool.boxMax[0] = static_cast<float>(books * 0.08);
    tool.boxMax[1] = 0.5f;
    tool.boxMax[2] = 0.3f;
    tool.minSize = 0.005;
    tool.maxSize = 0.08;
    tool.seed = seed;
    driver.event(LWTOOL_EVENT_ACTIVATE);
}

// One build of a shelf of about N books: the tool's fill and the host
// taking the points, faces and UVs (the previous build is taken back first).
void BM_BuildShelf(benchmark::State &state) {
    auto module = loadModule();
    modeler::Host host;
    modeler::ToolDriver driver(host, *module->find("MeshEditTool", "varlobooks"));
    driver.activate();
    int books = 0;
    for (auto _ : state) {
        fillShelf(driver, static_cast<int>(state.range(0)), 1);
        books = static_cast<varlobooks::BookTool *>(driver.instance())->bookCount;
    }
    state.counters["books"] = books;
    state.counters["books/s"] =
        benchmark::Counter(double(books) * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_BuildShelf)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_Export(benchmark::State &state, modeler::ExportFormat format, const char *name) {
    auto module = loadModule();
    modeler::Host host;
    modeler::ToolDriver driver(host, *module->find("MeshEditTool", "varlobooks"));
    driver.activate();
    fillShelf(driver, static_cast<int>(state.range(0)), 1);
    driver.end(true);
    const std::string path = (std::filesystem::temp_directory_path() / name).string();
    for (auto _ : state) {
        if (auto error = modeler::writeExport(host.scene(), path, format))
            state.SkipWithError(error->c_str());
    }
    state.counters["polygons"] = double(host.scene().layer().polygons().size());
}
BENCHMARK_CAPTURE(BM_Export, json, modeler::ExportFormat::Json, "bench-shelf.json")
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Export, obj, modeler::ExportFormat::Obj, "bench-shelf.obj")
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Export, glb, modeler::ExportFormat::Glb, "bench-shelf.glb")
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
