#include "modeler/drive/tool_driver.h"

#include <cmath>
#include <cstring>
#include <numbers>

namespace modeler {

ToolDriver::ToolDriver(Host &host, const ServerRecord &server) : host_(host), server_(server) {}

ToolDriver::~ToolDriver() {
    const Host::Serving serving(host_);
    if (inUse_) done(std::nullopt);
}

int ToolDriver::activate(int version) {
    const Host::Serving serving(host_);
    if (inUse_) {
        host_.fault("activate: the tool is already in use");
        return -1;
    }
    funcs_ = LWToolFuncs{};
    record_ = LWMeshEditTool{};
    record_.tool = &funcs_;
    const LWMeshEditTool before = record_;
    const int result = server_.activate(version, host_.globalLookup(), &record_, server_.tagInfo);
    if (result != AFUNC_OK) {
        const LWToolFuncs empty{};
        if (std::memcmp(&before, &record_, sizeof before) != 0 ||
            std::memcmp(&empty, &funcs_, sizeof empty) != 0) {
            host_.fault("activation failed with " + std::to_string(result) +
                        " but wrote into the record");
        }
        return result;
    }
    struct Slot {
        const char *name;
        bool filled;
    };
    const Slot required[] = {
        {"instance", record_.instance != nullptr}, {"test", record_.test != nullptr},
        {"build", record_.build != nullptr},       {"end", record_.end != nullptr},
        {"done", funcs_.done != nullptr},          {"draw", funcs_.draw != nullptr},
        {"dirty", funcs_.dirty != nullptr},        {"count", funcs_.count != nullptr},
        {"handle", funcs_.handle != nullptr},      {"start", funcs_.start != nullptr},
        {"adjust", funcs_.adjust != nullptr},      {"down", funcs_.down != nullptr},
        {"move", funcs_.move != nullptr},          {"event", funcs_.event != nullptr},
    };
    bool complete = true;
    for (const Slot &slot : required) {
        if (!slot.filled) {
            host_.fault(std::string("activation left the ") + slot.name + " slot empty");
            complete = false;
        }
    }
    // Without these the tool cannot be driven, nor released.
    if (!complete) return result;
    inUse_ = true;
    if (funcs_.panel) panel_ = funcs_.panel(record_.instance);
    if (Panel *panel = numericPanel()) panel->instance = record_.instance;
    return result;
}

Panel *ToolDriver::numericPanel() {
    return panel_ ? host_.panels().find(panel_) : nullptr;
}

bool ToolDriver::ready(const char *action) {
    if (inUse_) return true;
    host_.fault(std::string(action) + ": the tool is not in use");
    return false;
}

ToolEvent ToolDriver::eventAt(const Vec3 &position) const {
    ToolEvent event{};
    std::memcpy(event.position, position.data(), sizeof event.position);
    event.viewAxis = -1;
    return event;
}

bool ToolDriver::event(int code) {
    const Host::Serving serving(host_);
    if (!ready("event")) return false;
    funcs_.event(record_.instance, code);
    updateCycle();
    return true;
}

bool ToolDriver::press(const Vec3 &position) {
    const Host::Serving serving(host_);
    if (!ready("press")) return false;
    ToolEvent event = eventAt(position);
    funcs_.down(record_.instance, &event);
    updateCycle();
    return true;
}

bool ToolDriver::move(const Vec3 &position) {
    const Host::Serving serving(host_);
    if (!ready("move")) return false;
    ToolEvent event = eventAt(position);
    funcs_.move(record_.instance, &event);
    updateCycle();
    return true;
}

bool ToolDriver::drag(int handle, const Vec3 &position, const DragOptions &options) {
    const Host::Serving serving(host_);
    if (!ready("drag")) return false;
    ToolEvent event{};
    const int count = funcs_.count(record_.instance, &event);
    if (handle < 0 || handle >= count) {
        host_.fault("drag: handle " + std::to_string(handle) + " is not below the tool's count " +
                    std::to_string(count));
        return false;
    }
    // The press lands on the handle, then the pointer moves to position.
    Vec3 grabbed{};
    funcs_.handle(record_.instance, &event, handle, grabbed.data());
    ToolEvent press = eventAt(grabbed);
    funcs_.start(record_.instance, &press);
    ToolEvent drag = eventAt(position);
    const Vec3 delta = options.delta.value_or(
        Vec3{position[0] - grabbed[0], position[1] - grabbed[1], position[2] - grabbed[2]});
    std::memcpy(drag.delta, delta.data(), sizeof drag.delta);
    drag.viewAxis = options.viewAxis;
    drag.flags = options.flags;
    funcs_.adjust(record_.instance, &drag, handle);
    updateCycle();
    return true;
}

std::vector<HandleSpot> ToolDriver::handles() {
    const Host::Serving serving(host_);
    std::vector<HandleSpot> spots;
    if (!inUse_) return spots;
    ToolEvent event{};
    const int count = funcs_.count(record_.instance, &event);
    // A page draws every handle: a count past any tool's need is a fault.
    constexpr int kMostHandles = 1024;
    if (count > kMostHandles) {
        host_.fault("count answered " + std::to_string(count) + " handles");
        return spots;
    }
    for (int i = 0; i < count; ++i) {
        HandleSpot spot{};
        spot.priority = funcs_.handle(record_.instance, &event, i, spot.position.data());
        spots.push_back(spot);
    }
    return spots;
}

std::optional<std::string> ToolDriver::setPanelValue(const std::string &label,
                                                     const std::string &text) {
    const Host::Serving serving(host_);
    if (!ready("set")) return "the tool is not in use";
    Panel *panel = numericPanel();
    if (!panel) return "the tool has no numeric panel";
    const PanelControl *control = panel->controlByLabel(label);
    if (!control) return "the panel has no value \"" + label + "\"";
    auto value = parsePanelValue(*control, text);
    if (!value) return "\"" + text + "\" is not a value of " + describeKind(*control);
    const int taken = panel->set(panel->instance, control->id, value->bytes());
    if (!taken) return "the tool refused " + text + " for \"" + label + "\"";
    updateCycle();
    return std::nullopt;
}

bool ToolDriver::end(bool keep) {
    const Host::Serving serving(host_);
    if (!ready("end")) return false;
    record_.end(record_.instance, keep ? 1 : 0);
    Layer &layer = host_.scene().layer();
    if (layer.editOpen()) keep ? host_.scene().commitEdit() : host_.scene().discardEdit();
    updateCycle();
    return true;
}

bool ToolDriver::done(std::optional<std::string> folder) {
    return done([&folder](const PostedForm &) { return folder; });
}

bool ToolDriver::done(const FormAnswerer &answerer) {
    const Host::Serving serving(host_);
    if (!ready("done")) return false;
    // Leaving the tool keeps the edit under way, as the modeller does.
    Layer &layer = host_.scene().layer();
    if (layer.editOpen()) {
        record_.end(record_.instance, 1);
        host_.scene().commitEdit();
    }
    host_.panels().setFormAnswerer(answerer);
    funcs_.done(record_.instance);
    host_.panels().setFormAnswer(std::nullopt);
    inUse_ = false;
    record_.instance = nullptr;
    if (panel_ && !host_.panels().destroy(panel_))
        host_.fault("the tool destroyed its numeric panel, which belongs to the host");
    panel_ = nullptr;
    if (host_.scene().liveContexts() != 0) {
        host_.fault("done left " + std::to_string(host_.scene().liveContexts()) +
                    " texture contexts undestroyed");
    }
    if (host_.panels().liveCount() != 0) {
        host_.fault("done left " + std::to_string(host_.panels().liveCount()) +
                    " panels undestroyed");
    }
    return true;
}

void ToolDriver::runBuild() {
    Layer &layer = host_.scene().layer();
    // Every build replaces the previous result of the same edit.
    if (layer.editOpen()) {
        host_.scene().takeBackEdit();
    } else {
        host_.scene().beginEdit();
    }
    MeshEdit edit(host_);
    record_.build(record_.instance, edit.op());
    edit.close();
    builds_.push_back(edit.report(countShells_));
}

void ToolDriver::updateCycle() {
    const int test = record_.test(record_.instance);
    if (test == LWT_TEST_UPDATE) {
        runBuild();
    } else if (test == LWT_TEST_REJECT) {
        Layer &layer = host_.scene().layer();
        if (layer.editOpen()) host_.scene().discardEdit();
        record_.end(record_.instance, 0);
    } else if (test != LWT_TEST_NOTHING) {
        host_.fault("test answered " + std::to_string(test) + ", not 0, 1 or 3");
    }
    if (funcs_.dirty(record_.instance)) {
        WireRecorder recorder;
        funcs_.draw(record_.instance, recorder.access());
        lastDrawing_ = recorder.calls();
        ++redraws_;
    }
}

}  // namespace modeler
