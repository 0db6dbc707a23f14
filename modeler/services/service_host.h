// Our stand-in for the modeller: the global services a tool looks up, the
// scene they serve, and the record of what the plug-in did wrong.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "host/module.h"
#include "modeler/model/scene.h"
#include "modeler/services/edit_operations.h"
#include "modeler/services/stable_memory.h"
#include "modeler/services/xpanel_service.h"

namespace modeler {

class Host {
  public:
    Host() = default;
    Host(const Host &) = delete;
    Host &operator=(const Host &) = delete;

    // The services are plain C functions with no context of their own (the
    // contract gives most of them none), so they reach the host serving the
    // calling thread: whoever calls into the plug-in makes its host the
    // serving one for the call with a Serving. Scopes nest and restore the
    // one before; each thread has its own, so hosts on two threads never
    // meet. This is the only way a service finds its host.
    class Serving {
      public:
        explicit Serving(Host &host);
        ~Serving();
        Serving(const Serving &) = delete;
        Serving &operator=(const Serving &) = delete;

      private:
        Host *previous_;
    };
    // The host serving this thread; aborts with a message when there is none.
    static Host &current() {
        if (!serving_) [[unlikely]]
            noHostServes();
        return *serving_;
    }

    // The host serving this thread, or null.
    static Host *serving() { return serving_; }

    Scene &scene() { return scene_; }
    Panels &panels() { return panels_; }

    // The seconds a module's clock reads while this host serves it (a
    // press's seed); nullopt: the calendar's. Each host has its own, so
    // sessions on two threads never read each other's.
    void setClock(std::optional<int64_t> seconds) { clock_ = seconds; }
    const std::optional<int64_t> &clock() const { return clock_; }

    // The lookup a module's activation is given.
    GlobalFunc *globalLookup() const;
    // Makes the lookup answer null for service name.
    void withhold(std::string_view name) { withheld_.emplace(name); }
    // Makes the lookup answer null for name on its occurrence-th lookup
    // (from 1) when withheld(name, occurrence) is true.
    using LookupFilter = std::function<bool(std::string_view name, int occurrence)>;
    void setLookupFilter(LookupFilter filter) { filter_ = std::move(filter); }
    // Every name asked for, in order.
    const std::vector<std::string> &lookups() const { return lookups_; }
    void clearLookups() { lookups_.clear(); }

    // A plug-in misbehaviour: recorded and reported, never ignored.
    void fault(std::string message);
    const std::vector<std::string> &faults() const { return faults_; }

    // Something the user should hear of, though nothing failed (an image
    // refused, a value out of range); each message once, given to the sink
    // when one is set.
    void warn(const std::string &message);
    void setWarningSink(std::function<void(const std::string &)> sink) { sink_ = std::move(sink); }
    // Added to the warning for a file that did not load as an image: what
    // becomes of what the plug-in drew to it (the program's profile says).
    void setUnloadedImageHint(std::string hint) { unloadedImageHint_ = std::move(hint); }
    const std::string &unloadedImageHint() const { return unloadedImageHint_; }

    // When on, every service call that changes the scene (texture contexts,
    // textures, layers, parameters, channel textures, image loads) is
    // written down in order, for tests that compare what a tool did.
    void recordSceneCalls(bool on) { recording_ = on; }
    void recordSceneCall(std::string call) {
        if (recording_) sceneCalls_.push_back(std::move(call));
    }
    const std::vector<std::string> &sceneCalls() const { return sceneCalls_; }

    void *lookup(const char *name, int useMode);

    // The builds whose mesh-edit operations may be called.
    EditRegistry &edits() { return edits_; }
    // Memory of the loaded modules that cannot change while they stay
    // loaded, where their string literals lie: a name from there need not
    // be compared again (see MeshEdit). Only modules that outlive the host.
    void addStableMemory(std::span<const MemoryRange> ranges) {
        stableMemory_.insert(stableMemory_.end(), ranges.begin(), ranges.end());
    }
    const std::vector<MemoryRange> &stableMemory() const { return stableMemory_; }

  private:
    [[noreturn]] static void noHostServes();
    // Read on every mesh-edit operation: in the thread's static block, not
    // looked up through the system's TLS call.
    [[gnu::tls_model("initial-exec")]] static constinit thread_local Host *serving_;

    Scene scene_;
    Panels panels_{*this};
    std::optional<int64_t> clock_;
    std::set<std::string, std::less<>> withheld_;
    LookupFilter filter_;
    std::map<std::string, int, std::less<>> occurrences_;
    std::vector<std::string> lookups_;
    std::vector<std::string> faults_;
    std::set<std::string, std::less<>> warned_;
    std::function<void(const std::string &)> sink_;
    std::string unloadedImageHint_;
    bool recording_ = false;
    std::vector<std::string> sceneCalls_;
    EditRegistry edits_;
    std::vector<MemoryRange> stableMemory_;
};

}  // namespace modeler
