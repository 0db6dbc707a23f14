#include "modeler/drive/module_loader.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "modeler/drive/module_file_check.h"
#include "modeler/drive/module_trial.h"
#include "modeler/drive/system_library.h"
#include "modeler/services/hex_text.h"
#include "modeler/services/service_host.h"

namespace modeler {
namespace {

constexpr int kMaxServers = 1024;  // a list this long has lost its end marker

// What each part of a module's memory may be used as, so that nothing its
// descriptor points at is read or called before it is known to be the
// module's own: records and text in its readable data, functions in its
// code. Where the system cannot tell (a module linked into the program),
// everything passes.
class ModuleMemory {
  public:
    explicit ModuleMemory(std::optional<std::vector<MappedSegment>> segments)
        : segments_(std::move(segments)) {}

    // size bytes of a record at p, in readable memory that is not code.
    bool data(const void *p, std::size_t size) const {
        if (!segments_) return true;
        const auto begin = reinterpret_cast<uintptr_t>(p);
        const MappedSegment *s = segmentOf(begin);
        return s && s->readable && !s->executable && size <= s->end - begin;
    }
    // A function at address.
    bool code(uintptr_t address) const {
        if (!segments_) return true;
        const MappedSegment *s = segmentOf(address);
        return s && s->executable;
    }
    // A NUL-terminated text at p, wholly in readable memory.
    bool text(const char *p) const {
        if (!segments_) return true;
        const auto begin = reinterpret_cast<uintptr_t>(p);
        const MappedSegment *s = segmentOf(begin);
        return s && s->readable && std::memchr(p, '\0', s->end - begin) != nullptr;
    }

  private:
    const MappedSegment *segmentOf(uintptr_t address) const {
        for (const MappedSegment &s : *segments_) {
            if (address >= s.begin && address < s.end) return &s;
        }
        return nullptr;
    }
    std::optional<std::vector<MappedSegment>> segments_;
};

template <typename Function>
uintptr_t addressOf(Function *function) {
    return reinterpret_cast<uintptr_t>(function);
}

}  // namespace

std::variant<std::unique_ptr<LoadedModule>, std::string> LoadedModule::load(const std::string &path,
                                                                            Trial trial) {
    auto fail = [&path](const std::string &reason) { return path + ": " + reason; };
    if (path.empty() || path != linkedModuleName()) {
        std::error_code ec;
        const auto status = std::filesystem::status(path, ec);
        if (!std::filesystem::exists(status)) return fail("no such file");
        if (!std::filesystem::is_regular_file(status)) return fail("not a file");

        // The system's loader trusts the file's own sizes: look first.
        std::ifstream in(path, std::ios::binary);
        const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                               std::istreambuf_iterator<char>());
        if (!in.eof() && in.fail()) return fail("cannot be read");
        if (auto why = checkModuleImage(bytes)) return fail("not a loadable module (" + *why + ")");
        if (trial == Trial::Apart) {
            if (auto why = tryModuleApart(path)) return fail(*why);
        }
    }

    std::unique_ptr<LoadedModule> module(new LoadedModule);
    module->path_ = path;
    std::string why;
    module->handle_ = openSystemLibrary(path, why);
    if (!module->handle_) return fail("not a loadable shared object (" + why + ")");
    const ModuleMemory memory(mappedSegments(module->handle_));
    const auto *d = static_cast<const ModuleDescriptor *>(
        findSystemSymbol(module->handle_, MODULE_DESCRIPTOR_SYMBOL));
    if (!d) return fail("no module descriptor (" MODULE_DESCRIPTOR_SYMBOL ")");
    if (!memory.data(d, sizeof *d))
        return fail("its descriptor (" MODULE_DESCRIPTOR_SYMBOL ") is not a record in its data");
    module->descriptor_ = d;
    if (d->sysSync != MODULE_SYNC_WORD) {
        return fail("wrong synchronisation word " + hex(d->sysSync) + ", expected " +
                    hex(MODULE_SYNC_WORD));
    }
    if (d->sysVersion != MODULE_SYSTEM_VERSION) {
        return fail("unsupported system version " + std::to_string(d->sysVersion) + ", expected " +
                    std::to_string(MODULE_SYSTEM_VERSION));
    }
    if (d->sysMachine != MODULE_MACHINE_TYPE) {
        return fail("built for another machine (type " + hex(d->sysMachine) + ", expected " +
                    hex(MODULE_MACHINE_TYPE) + ")");
    }
    if (!d->startup || !d->serverDefs) return fail("descriptor lacks startup or server list");
    if (!memory.code(addressOf(d->startup)) ||
        (d->shutdown && !memory.code(addressOf(d->shutdown)))) {
        module->descriptor_ = nullptr;  // its shutdown is not called either
        return fail("the descriptor's startup or shutdown is not in its code");
    }

    // Check the server list before anything of the module runs.
    for (const ServerRecord *s = d->serverDefs;; ++s) {
        const std::string entry = "server entry " + std::to_string(module->servers_.size());
        if (!memory.data(s, sizeof *s))
            return fail(s == d->serverDefs ? std::string("its server list is not in its data")
                                           : entry + " is not in its data (the list has no end)");
        if (!s->className && !s->name && !s->activate && !s->tagInfo) break;
        if (module->servers_.size() == kMaxServers) return fail("server list has no end");
        if (!s->className || !s->name || !s->activate)
            return fail(entry + " lacks a class, name or activation function");
        if (!memory.text(s->className) || !memory.text(s->name))
            return fail(entry + "'s class or name is not a text in its memory");
        if (!memory.code(addressOf(s->activate)))
            return fail(entry + "'s activation function is not in its code");
        module->servers_.push_back({s->className, s->name, s});
    }
    module->moduleData_ = d->startup();
    if (!module->moduleData_) {
        module->descriptor_ = nullptr;  // failed startup: unload without shutdown
        return fail("module startup failed");
    }
    module->setClock_ = reinterpret_cast<ModuleSetClockFunc *>(
        findSystemSymbol(module->handle_, MODULE_CLOCK_SYMBOL));
    // A clock symbol that is not a function of its own is no clock.
    if (module->setClock_ && !memory.code(addressOf(module->setClock_)))
        module->setClock_ = nullptr;
    module->claimClock();
    module->readOnly_ = readOnlySegments(module->handle_, module->descriptor_);
    module->readVersion();
    return module;
}

void LoadedModule::readVersion() {
    const auto *text = static_cast<const char *>(findSystemSymbol(handle_, MODULE_VERSION_SYMBOL));
    if (!text) return;
    // Read only what lies in the module's constants: a symbol of that name
    // that is something else must not take the host past its end.
    std::string version;
    for (std::size_t i = 0; i <= MODULE_VERSION_MAX_LENGTH; ++i) {
        if (!withinStableMemory(readOnly_, text + i, 1)) return;
        const char c = text[i];
        if (c == '\0') {
            version_ = std::move(version);
            return;
        }
        if (c < ' ' || c > '~') return;
        version += c;
    }
}

LoadedModule::~LoadedModule() {
    // The clock is left set: the system loads a module once however often
    // it is opened, and another LoadedModule of it may still use it. It
    // keeps no pointer to this one.
    if (descriptor_ && moduleData_ && descriptor_->shutdown) descriptor_->shutdown(moduleData_);
    if (handle_) closeSystemLibrary(handle_);
}

const ServerRecord *LoadedModule::find(const std::string &className,
                                       const std::string &name) const {
    for (const ServerInfo &s : servers_) {
        if (s.className == className && s.name == name) return s.record;
    }
    return nullptr;
}

void LoadedModule::claimClock() const {
    if (setClock_) setClock_(readServingHostClock, nullptr);
}

int64_t LoadedModule::readServingHostClock(void *) {
    const Host *host = Host::serving();
    if (host && host->clock()) return *host->clock();
    return static_cast<int64_t>(std::time(nullptr));
}

}  // namespace modeler
