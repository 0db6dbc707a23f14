// The tool through its real callbacks, in any order and with any values:
// events, presses, moves, handle drags with any index, flags and view axis,
// panel gets and sets with any id and value, builds, end and done. Every
// build runs through the host's mesh-edit operations and the plain
// reference alike, which must answer, fault and fill the layer the same.
// After every build each point and UV value must be finite and each
// polygon must name points of the layer; the host records anything else
// as a fault.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "differential_edit.h"
#include "modeler/services/edit_operations.h"
#include "modeler/services/service_host.h"
#include "modeler/services/wire_recorder.h"
#include "module/activation.h"
#include "panel/panel.h"
#include "tool/book_tool.h"

namespace {

constexpr uint32_t kIds[] = {
    varlobooks::kAxisId,      varlobooks::kTypeId,         varlobooks::kMinSizeId,
    varlobooks::kMaxSizeId,   varlobooks::kRotationId,     varlobooks::kSegmentsId,
    varlobooks::kPrefixId,    varlobooks::kRandomFrontId,  varlobooks::kRandomBackId,
    varlobooks::kRandomTopId, varlobooks::kRandomBottomId, varlobooks::kHiddenId,
};

[[noreturn]] void finding(const char *what) {
    std::fprintf(stderr, "finding: %s\n", what);
    std::abort();
}

double anyNumber(FuzzedDataProvider &in) {
    switch (in.ConsumeIntegralInRange(0, 5)) {
        case 0:
            return std::nan("");
        case 1:
            return in.ConsumeBool() ? HUGE_VAL : -HUGE_VAL;
        case 2:
            return in.ConsumeFloatingPoint<double>();
        default:
            return in.ConsumeFloatingPointInRange(-4.0, 4.0);
    }
}

void checkLayer(const modeler::Layer &layer) {
    for (const auto &p : layer.points()) {
        if (!std::isfinite(p[0]) || !std::isfinite(p[1]) || !std::isfinite(p[2]))
            finding("a point that is not finite");
    }
    for (uint32_t corner : layer.corners()) {
        if (corner >= layer.points().size()) finding("a polygon names a point past the layer");
    }
}

// Whether a build makes at most a few thousand books: the bound of one case,
// so that each runs in a moment. Larger shelves are the benchmarks' work.
bool smallShelf(const varlobooks::BookTool &tool) {
    if (tool.axis < 0 || tool.axis > 2 || std::abs(tool.segments) > 128) return false;
    const double length = std::fabs(double(tool.boxMax[tool.axis]) - tool.boxMin[tool.axis]);
    if (!std::isfinite(length) || length == 0) return true;
    const double minSize = static_cast<float>(tool.minSize);
    const double maxSize = static_cast<float>(tool.maxSize);
    if (minSize > 0 && length / minSize <= 2000) return true;
    return maxSize > 0 && length / (maxSize * std::min(length, 1.0)) <= 2000;
}

void build(testing_support::TwinLayers &twins, LWMeshEditTool &record) {
    if (!smallShelf(*static_cast<varlobooks::BookTool *>(record.instance))) return;
    if (twins.editOpen())
        twins.takeBackEdit();
    else
        twins.beginEdit();
    testing_support::TwinEdit edit(twins);
    record.build(record.instance, edit.op());
    edit.close();
    twins.compare("after a build");
    if (!twins.differences.empty()) finding(twins.differences.front().c_str());
    checkLayer(twins.host.scene().layer());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider in(data, size);
    modeler::Host host;
    modeler::Host::Serving serving{host};
    testing_support::TwinLayers twins(host);
    LWToolFuncs funcs{};
    LWMeshEditTool record{nullptr, &funcs, nullptr, nullptr, nullptr};
    if (varlobooks::activateBookTool(1, host.globalLookup(), &record, nullptr) != AFUNC_OK)
        finding("the tool did not activate on a full host");
    LWXPanelID panel = funcs.panel ? funcs.panel(record.instance) : nullptr;
    for (int step = 0; step < 64 && in.remaining_bytes() > 0; ++step) {
        ToolEvent event{};
        for (int i = 0; i < 3; ++i) {
            event.position[i] = anyNumber(in);
            event.delta[i] = anyNumber(in);
        }
        event.viewAxis = in.ConsumeIntegralInRange(-2, 4);
        event.flags = in.ConsumeIntegral<int>();
        switch (in.ConsumeIntegralInRange(0, 9)) {
            case 0:
                funcs.event(record.instance, in.ConsumeIntegralInRange(-1, 4));
                break;
            case 1:
                funcs.down(record.instance, &event);
                break;
            case 2:
                funcs.move(record.instance, &event);
                break;
            case 3:
                funcs.adjust(record.instance, &event, in.ConsumeIntegralInRange(-3, 12));
                break;
            case 4: {
                double pos[3] = {0, 0, 0};
                funcs.handle(record.instance, &event, in.ConsumeIntegralInRange(-3, 12), pos);
                break;
            }
            case 5: {
                const uint32_t id = in.ConsumeBool()
                                        ? kIds[in.ConsumeIntegralInRange<size_t>(0, 11)]
                                        : in.ConsumeIntegral<uint32_t>();
                // Room for any representation: an int, a double or text.
                char value[300] = {};
                const std::string text = in.ConsumeRandomLengthString(sizeof value - 1);
                std::memcpy(value, text.data(), text.size());
                if (in.ConsumeBool()) {
                    const double number = anyNumber(in);
                    std::memcpy(value, &number, sizeof number);
                }
                varlobooks::panelSet(record.instance, id, value);
                (void)varlobooks::panelGet(record.instance, id);
                break;
            }
            case 6: {
                modeler::WireRecorder recorder;
                funcs.draw(record.instance, recorder.access());
                break;
            }
            case 7: {
                // As the host ends an edit: the tool first, then the layer.
                const bool keep = in.ConsumeBool();
                record.end(record.instance, keep);
                if (twins.editOpen()) keep ? twins.commitEdit() : twins.discardEdit();
                twins.compare("after the edit ended");
                break;
            }
            default:
                if (record.test(record.instance) == LWT_TEST_UPDATE) build(twins, record);
                break;
        }
    }
    if (twins.editOpen()) twins.commitEdit();
    if (!twins.differences.empty()) finding(twins.differences.front().c_str());
    host.panels().setFormAnswer(std::nullopt);
    funcs.done(record.instance);
    if (panel) (void)host.panels().destroy(panel);
    if (!host.faults().empty()) {
        std::fprintf(stderr, "host fault: %s\n", host.faults().front().c_str());
        std::abort();
    }
    return 0;
}
