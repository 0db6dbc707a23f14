// Drives a "MeshEditTool" server as the modeller does: activation, pointer
// actions, panel edits, the update cycle after each of them, end and done.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "host/meshedit.h"
#include "modeler/drive/panel_values.h"
#include "modeler/services/edit_operations.h"
#include "modeler/services/service_host.h"
#include "modeler/services/wire_recorder.h"

namespace modeler {

using Vec3 = std::array<double, 3>;

struct DragOptions {
    std::optional<Vec3> delta;  // default: the target minus the handle's position
    int viewAxis = -1;
    int flags = 0;
};

// A handle as the tool reports it: where it is and how eagerly it takes a
// press (higher first).
struct HandleSpot {
    Vec3 position;
    int priority;
};

class ToolDriver {
  public:
    ToolDriver(Host &host, const ServerRecord &server);
    // Leaves the tool (done, cancelling any request) if it is still in use.
    ~ToolDriver();
    ToolDriver(const ToolDriver &) = delete;
    ToolDriver &operator=(const ToolDriver &) = delete;

    // Activates the server; returns its result. On success the host checks
    // the slots the tool must fill and creates its numeric panel.
    int activate(int version = 1);
    bool inUse() const { return inUse_; }

    // Each action below runs one update cycle afterwards. They return false,
    // with a fault recorded, when the tool is not in use or the action is
    // out of order.
    bool event(int code);
    bool press(const Vec3 &position);
    bool move(const Vec3 &position);
    bool drag(int handle, const Vec3 &position, const DragOptions &options = {});
    // Edits the numeric panel's value that has label; text as the panel shows
    // it (angles in degrees, choices by name). An error text when refused.
    [[nodiscard]] std::optional<std::string> setPanelValue(const std::string &label,
                                                           const std::string &text);
    bool end(bool keep);
    // Leaves the tool. folder answers its form request (nullopt cancels).
    bool done(std::optional<std::string> folder);
    // The same, the form request answered by answerer when it is posted.
    bool done(const FormAnswerer &answerer);

    // Host-side views, for reports and tests.
    LWMeshEditTool &record() { return record_; }
    LWToolFuncs &funcs() { return funcs_; }
    LWInstance instance() const { return record_.instance; }
    Panel *numericPanel();
    const std::vector<BuildReport> &builds() const { return builds_; }
    // Whether builds() counts each build's shells: a walk over its polygons
    // that only a report needs.
    void setCountShells(bool count) { countShells_ = count; }
    const std::vector<WireCall> &lastDrawing() const { return lastDrawing_; }
    // The tool's handles now: count, then each handle; none when not in use.
    std::vector<HandleSpot> handles();
    std::size_t redraws() const { return redraws_; }

  private:
    void updateCycle();
    void runBuild();
    bool ready(const char *action);
    ToolEvent eventAt(const Vec3 &position) const;

    Host &host_;
    const ServerRecord &server_;
    LWToolFuncs funcs_{};
    LWMeshEditTool record_{};
    bool inUse_ = false;
    LWXPanelID panel_ = nullptr;
    std::vector<BuildReport> builds_;
    bool countShells_ = false;
    std::vector<WireCall> lastDrawing_;
    std::size_t redraws_ = 0;
};

}  // namespace modeler
