// Our stand-in for the modeller: the global services a tool looks up, the
// scene they serve, and the record of what the plug-in did wrong.
#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "host/module.h"
#include "modeler/model/scene.h"
#include "modeler/services/xpanel_service.h"

namespace modeler {

// The services are plain C functions with no context of their own, so they
// reach the running host. Hosts may nest (a scratch host inside another);
// the newest serves every call until it ends, and they end newest first.
class Host {
  public:
    Host();
    ~Host();
    Host(const Host &) = delete;
    Host &operator=(const Host &) = delete;

    // The running host; aborts with a message when there is none.
    static Host &current();

    Scene &scene() { return scene_; }
    Panels &panels() { return panels_; }

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

    // When on, every service call that changes the scene (texture contexts,
    // textures, layers, parameters, channel textures, image loads) is
    // written down in order, for tests that compare what a tool did.
    void recordSceneCalls(bool on) { recording_ = on; }
    void recordSceneCall(std::string call) {
        if (recording_) sceneCalls_.push_back(std::move(call));
    }
    const std::vector<std::string> &sceneCalls() const { return sceneCalls_; }

    void *lookup(const char *name, int useMode);

  private:
    Scene scene_;
    Panels panels_{*this};
    std::set<std::string, std::less<>> withheld_;
    LookupFilter filter_;
    std::map<std::string, int, std::less<>> occurrences_;
    std::vector<std::string> lookups_;
    std::vector<std::string> faults_;
    std::set<std::string, std::less<>> warned_;
    std::function<void(const std::string &)> sink_;
    bool recording_ = false;
    std::vector<std::string> sceneCalls_;
};

}  // namespace modeler
