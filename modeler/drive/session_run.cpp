#include "modeler/drive/session_run.h"

#include <cfloat>
#include <cmath>

#include "modeler/drive/panel_values.h"

namespace modeler {
namespace {

// Why activation failed: its result and the first fault the host found.
std::string activationFailure(const Host &host, int result) {
    std::string why = "the tool does not activate (result " + std::to_string(result);
    if (!host.faults().empty()) why += "; plug-in fault: " + host.faults().front();
    return why + ")";
}

// Tells what action a did: its build's result, and the value a panel edit
// left (the tool may clamp or cut what was typed).
void reportAction(const RunOptions &options, ToolDriver &driver, const Session &session,
                  const SessionAction &a, std::size_t buildsBefore) {
    const auto &report = options.report;
    if (const auto *set = std::get_if<action::Set>(&a.step)) {
        if (Panel *panel = driver.numericPanel()) {
            if (const PanelControl *control = panel->controlByLabel(set->label)) {
                const void *value = panel->get(panel->instance, control->id);
                report(atAction(session, a,
                                "\"" + set->label + "\" is " + formatPanelValue(*control, value)));
            }
        }
    }
    for (std::size_t b = buildsBefore; b < driver.builds().size(); ++b) {
        const BuildReport &r = driver.builds()[b];
        report(atAction(session, a,
                        "build: " + std::to_string(r.shells) + " " + options.shellNoun + ", " +
                            std::to_string(r.points) + " points, " + std::to_string(r.polygons) +
                            " polygons, " + std::to_string(r.values) + " UV values"));
    }
}

}  // namespace

namespace {

// Does one action; an error text when it cannot be done. Faults of the
// plug-in are recorded on the host, not returned here.
std::optional<std::string> performAction(Host &host, const ClockSetter &setClock,
                                         ToolDriver &driver, const SessionStep &step,
                                         const RunOptions &options) {
    return std::visit(
        [&](const auto &a) -> std::optional<std::string> {
            using T = std::decay_t<decltype(a)>;
            if constexpr (std::is_same_v<T, action::Object>) {
                host.scene().setObjectName(a.name);
            } else if constexpr (std::is_same_v<T, action::Surface>) {
                host.scene().addUserSurface(a.name);
            } else if constexpr (std::is_same_v<T, action::Clock>) {
                if (!setClock(a.seconds)) return "the module has no settable clock";
            } else if constexpr (std::is_same_v<T, action::Event>) {
                driver.event(a.code);
            } else if constexpr (std::is_same_v<T, action::Press>) {
                driver.press(a.position);
            } else if constexpr (std::is_same_v<T, action::Move>) {
                driver.move(a.position);
            } else if constexpr (std::is_same_v<T, action::Drag>) {
                driver.drag(a.handle, a.position, a.options);
            } else if constexpr (std::is_same_v<T, action::Set>) {
                return driver.setPanelValue(a.label, a.value);
            } else if constexpr (std::is_same_v<T, action::End>) {
                driver.end(a.keep);
            } else if constexpr (std::is_same_v<T, action::Done>) {
                if (options.formAnswerer) {
                    driver.done(options.formAnswerer);
                } else {
                    driver.done(options.folderAnswer ? options.folderAnswer : a.folder);
                }
            }
            return std::nullopt;
        },
        step);
}

// A modeller draws and keeps positions in single precision: a value past
// its range is allowed, but rarely what the user meant, and a tool may
// make nothing of it. Told once per action.
void warnBeyondSinglePrecision(Host &host, ToolDriver &driver, const Session &session,
                               const SessionAction &a) {
    auto beyond = [](double value) { return std::fabs(value) > FLT_MAX; };
    bool past = false;
    auto check = [&](const Vec3 &p) {
        for (double v : p) {
            if (beyond(v)) past = true;
        }
    };
    if (const auto *press = std::get_if<action::Press>(&a.step)) check(press->position);
    if (const auto *move = std::get_if<action::Move>(&a.step)) check(move->position);
    if (const auto *drag = std::get_if<action::Drag>(&a.step)) check(drag->position);
    if (const auto *set = std::get_if<action::Set>(&a.step)) {
        Panel *panel = driver.numericPanel();
        const PanelControl *control = panel ? panel->controlByLabel(set->label) : nullptr;
        if (auto value = control ? parsePanelValue(*control, set->value) : std::nullopt) {
            if (const double *number = std::get_if<double>(&value->value())) {
                if (beyond(*number)) past = true;
            }
        }
    }
    if (past) host.warn(atAction(session, a, "a value beyond single precision"));
}

std::optional<std::string> faultsSince(const Host &host, std::size_t before) {
    if (host.faults().size() == before) return std::nullopt;
    return "plug-in fault: " + host.faults()[before];
}

}  // namespace

std::optional<std::string> runSession(Host &host, LoadedModule &module, const ServerRecord &server,
                                      const Session &session, const RunOptions &options) {
    host.addStableMemory(module.readOnlyMemory());
    return runSession(host, server, session, options, clockOf(module, host));
}

ClockSetter clockOf(const LoadedModule &module, Host &host) {
    return [&module, &host](int64_t seconds) {
        if (!module.hasClock()) return false;
        host.setClock(seconds);
        return true;
    };
}

SessionPlayer::SessionPlayer(Host &host, const ServerRecord &server, RunOptions options,
                             ClockSetter setClock)
    : host_(host),
      options_(std::move(options)),
      setClock_(std::move(setClock)),
      driver_(host, server) {
    driver_.setCountShells(options_.report != nullptr);
}

std::optional<std::string> SessionPlayer::start(const std::string &file) {
    const int result = driver_.activate();
    if (result != AFUNC_OK || !driver_.inUse())
        return file + ": " + activationFailure(host_, result);
    return std::nullopt;
}

std::optional<std::string> SessionPlayer::check(const Session &session) {
    std::optional<std::vector<PanelControl>> controls;
    if (Panel *panel = driver_.numericPanel()) controls = panel->controls;
    return checkSession(session, controls);
}

std::optional<std::string> SessionPlayer::playAll(const Session &session) {
    for (const SessionAction &a : session.actions) {
        if (auto error = play(session, a)) return error;
    }
    return std::nullopt;
}

std::optional<std::string> SessionPlayer::play(const Session &session, const SessionAction &a) {
    const Host::Serving serving(host_);  // the report reads the tool's panel
    const std::size_t faults = host_.faults().size();
    const std::size_t builds = driver_.builds().size();
    warnBeyondSinglePrecision(host_, driver_, session, a);
    std::optional<std::string> error = performAction(host_, setClock_, driver_, a.step, options_);
    if (!error) error = faultsSince(host_, faults);
    if (error) return atAction(session, a, *error);
    if (options_.report) reportAction(options_, driver_, session, a, builds);
    return std::nullopt;
}

std::optional<std::string> SessionPlayer::finish(const std::string &file) {
    if (!driver_.inUse()) return std::nullopt;
    // Leaving the tool: its folder request is answered with --images when
    // given (folderAnswer), else cancelled.
    const std::size_t faults = host_.faults().size();
    driver_.done(options_.folderAnswer);
    if (auto error = faultsSince(host_, faults)) return file + ": on leaving the tool: " + *error;
    return std::nullopt;
}

std::optional<std::string> runSession(Host &host, const ServerRecord &server,
                                      const Session &session, const RunOptions &options,
                                      const ClockSetter &setClock) {
    SessionPlayer player(host, server, options, setClock);
    if (auto error = player.start(session.file)) return error;
    if (auto error = player.check(session)) return error;
    if (auto error = player.playAll(session)) return error;
    return player.finish(session.file);
}

}  // namespace modeler
