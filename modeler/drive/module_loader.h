// Loading a plug-in module as the modeller does: open the shared object,
// read and check its descriptor, start it, list its servers; shut it down
// and unload it at the end.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "host/clock.h"
#include "host/module.h"
#include "modeler/services/stable_memory.h"

namespace modeler {

struct ServerInfo {
    std::string className;
    std::string name;
    const ServerRecord *record;  // valid while the module is loaded
};

class LoadedModule {
  public:
    // Apart: loaded first in a trial process of its own (module_trial.h);
    // InProcess: here only (the trial itself).
    enum class Trial { Apart, InProcess };
    // The module at path, started; or a one-line error naming the file and
    // the reason.
    [[nodiscard]] static std::variant<std::unique_ptr<LoadedModule>, std::string> load(
        const std::string &path, Trial trial = Trial::Apart);
    ~LoadedModule();
    LoadedModule(const LoadedModule &) = delete;
    LoadedModule &operator=(const LoadedModule &) = delete;

    const std::string &path() const { return path_; }
    // The module's own name and version ("varlobooks 1.1.0"), or empty when
    // it exports none, or none that is a short printable text in its
    // read-only data.
    const std::string &version() const { return version_; }
    const std::vector<ServerInfo> &servers() const { return servers_; }
    // The server of that class and name, or null.
    const ServerRecord *find(const std::string &className, const std::string &name) const;

    // The module's read-only segments, where its string literals lie: they
    // cannot change while it stays loaded (Host::addStableMemory).
    const std::vector<MemoryRange> &readOnlyMemory() const { return readOnly_; }

    // Whether the module lets the host set the clock a press reads. When it
    // does, its clock reads that of the host serving the calling thread
    // (Host::setClock), and the calendar's where none serves or it has none.
    bool hasClock() const { return setClock_ != nullptr; }
    // The clock is the module's, one for the process: the host code that
    // loaded it last has it read its hosts. A program that holds two copies
    // of this code (one linking the host library and the host's parts, as
    // a benchmark may) claims it back for this copy's hosts.
    void claimClock() const;

  private:
    LoadedModule() = default;
    static int64_t readServingHostClock(void *data);

    void readVersion();

    std::string path_;
    std::string version_;
    void *handle_ = nullptr;
    const ModuleDescriptor *descriptor_ = nullptr;
    void *moduleData_ = nullptr;
    std::vector<ServerInfo> servers_;
    ModuleSetClockFunc *setClock_ = nullptr;
    std::vector<MemoryRange> readOnly_;
};

}  // namespace modeler
