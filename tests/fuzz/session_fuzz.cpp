// The session language, parsed and, when it parses, checked against the
// tool's panel and played on a fresh host with the tool linked in. Bounded
// per case: 64 KiB of text, at most 40 actions, positions within +-100, and no size or
// segment count that would make tens of thousands of books.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "modeler/drive/panel_values.h"
#include "modeler/drive/session_run.h"
#include "modeler/drive/user_input.h"
#include "module/activation.h"
#include "tool/press_clock.h"

namespace {

ServerRecord gServer{"MeshEditTool", "varlobooks", varlobooks::activateBookTool, nullptr};
int64_t gSeconds = 0;

int64_t readClock(void *) {
    return gSeconds;
}

// Faults the session itself causes (a drag past the handles, an action
// after leaving) are the user's; any other is the plug-in's: a finding.
bool pluginAtFault(const std::string &fault) {
    return fault.rfind("drag: handle", 0) != 0 &&
           fault.find(": the tool is not in use") == std::string::npos;
}

bool withinBounds(const modeler::Session &session) {
    if (session.actions.size() > 40) return false;
    auto near = [](const modeler::Vec3 &p) {
        return std::fabs(p[0]) <= 100 && std::fabs(p[1]) <= 100 && std::fabs(p[2]) <= 100;
    };
    for (const auto &a : session.actions) {
        if (const auto *p = std::get_if<modeler::action::Press>(&a.step); p && !near(p->position))
            return false;
        if (const auto *m = std::get_if<modeler::action::Move>(&a.step); m && !near(m->position))
            return false;
        if (const auto *d = std::get_if<modeler::action::Drag>(&a.step); d && !near(d->position))
            return false;
        if (const auto *set = std::get_if<modeler::action::Set>(&a.step)) {
            const bool size = set->label == "MinSize" || set->label == "MaxSize";
            const bool segments = set->label == "Book Segments";
            auto number = modeler::parseFiniteNumber(set->value);
            if (size && (!number || std::fabs(*number) < 0.01)) return false;
            if (segments && (!number || std::fabs(*number) > 64)) return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 65536) return 0;  // long lines too, but a case stays quick
    const std::string text(reinterpret_cast<const char *>(data), size);
    auto parsed = modeler::parseSession(text, "fuzz.session", "");
    auto *session = std::get_if<modeler::Session>(&parsed);
    if (!session || !withinBounds(*session)) return 0;
    modeler::Host host;
    modeler::Host::Serving serving{host};
    modeler::RunOptions options;
    options.folderAnswer = "";  // never list a folder a fuzzed line names
    (void)modeler::runSession(host, gServer, *session, options, [](int64_t seconds) {
        gSeconds = seconds;
        varlobooks::setPressClock(readClock, nullptr);
        return true;
    });
    varlobooks::setPressClock(nullptr, nullptr);
    for (const std::string &fault : host.faults()) {
        if (pluginAtFault(fault)) {
            std::fprintf(stderr, "plug-in fault: %s\n", fault.c_str());
            std::abort();
        }
    }
    return 0;
}
