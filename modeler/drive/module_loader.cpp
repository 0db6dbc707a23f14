#include "modeler/drive/module_loader.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "modeler/drive/module_file_check.h"
#include "modeler/drive/system_library.h"
#include "modeler/services/hex_text.h"
#include "modeler/services/service_host.h"

namespace modeler {
namespace {

constexpr int kMaxServers = 1024;  // a list this long has lost its end marker

}  // namespace

std::variant<std::unique_ptr<LoadedModule>, std::string> LoadedModule::load(
    const std::string &path) {
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
    }

    std::unique_ptr<LoadedModule> module(new LoadedModule);
    module->path_ = path;
    std::string why;
    module->handle_ = openSystemLibrary(path, why);
    if (!module->handle_) return fail("not a loadable shared object (" + why + ")");
    module->descriptor_ = static_cast<const ModuleDescriptor *>(
        findSystemSymbol(module->handle_, MODULE_DESCRIPTOR_SYMBOL));
    const ModuleDescriptor *d = module->descriptor_;
    if (!d) return fail("no module descriptor (" MODULE_DESCRIPTOR_SYMBOL ")");
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

    // Check the server list before anything of the module runs.
    for (const ServerRecord *s = d->serverDefs;; ++s) {
        if (!s->className && !s->name && !s->activate && !s->tagInfo) break;
        if (module->servers_.size() == kMaxServers) return fail("server list has no end");
        if (!s->className || !s->name || !s->activate) {
            return fail("server entry " + std::to_string(module->servers_.size()) +
                        " lacks a class, name or activation function");
        }
        module->servers_.push_back({s->className, s->name, s});
    }
    module->moduleData_ = d->startup();
    if (!module->moduleData_) {
        module->descriptor_ = nullptr;  // failed startup: unload without shutdown
        return fail("module startup failed");
    }
    module->setClock_ = reinterpret_cast<ModuleSetClockFunc *>(
        findSystemSymbol(module->handle_, MODULE_CLOCK_SYMBOL));
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
