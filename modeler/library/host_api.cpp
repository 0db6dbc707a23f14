// The C API over HostSession: handles that keep their last error, and
// every C++ failure caught at the boundary and handed back as a status.
#include "varlobooks/host_api.h"

#include <cmath>
#include <cstring>
#include <exception>
#include <iterator>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "modeler/drive/module_loader.h"
#include "modeler/drive/panel_values.h"
#include "modeler/drive/system_library.h"
#include "modeler/library/api_handles.h"
#include "modeler/library/profile_words.h"
#include "modeler/plugin_profile.h"
#include "modeler/session/host_session.h"

namespace {

using modeler::HostSession;
using modeler::library::fail;
using modeler::library::guarded;
using modeler::library::noTool;

VarlobooksStatus statusOf(const HostSession::Outcome &outcome,
                          VarlobooksStatus failed = VARLOBOOKS_ACTION_FAILED) {
    switch (outcome.status) {
        case HostSession::Status::Ok:
            return VARLOBOOKS_OK;
        case HostSession::Status::Invalid:
            return VARLOBOOKS_SESSION_INVALID;
        case HostSession::Status::ActionFailed:
            return failed;
        case HostSession::Status::Fault:
            return VARLOBOOKS_TOOL_FAULT;
    }
    return VARLOBOOKS_INTERNAL_ERROR;
}

VarlobooksStatus sessionOutcome(VarlobooksSession *s, const HostSession::Outcome &outcome) {
    if (outcome) s->error = outcome.message;
    return statusOf(outcome);
}

// The module installed beside this library.
std::string moduleBesideLibrary() {
    if (std::string linked = modeler::linkedModuleName(); !linked.empty()) return linked;
    const std::string file = std::string(modeler::profile::kModuleName) + modeler::kModuleSuffix;
    return (modeler::folderOf(reinterpret_cast<const void *>(&varlobooks_host_version)) / file)
        .lexically_normal()
        .string();
}

std::string textOr(const char *text, const char *otherwise) {
    return text ? std::string(text) : std::string(otherwise);
}

const char kNullSession[] = "no session (null)";

}  // namespace

namespace modeler::library {

SessionSettings profileSettings(bool merge) {
    SessionSettings settings;
    settings.exports = {merge, profileLook()};
    settings.unloadedImageHint = profile::kUnloadedImageHint;
    settings.words = profileSummaryWords();
    settings.shellNoun = profile::kShellNoun;
    settings.imageTarget = profile::kImageTarget;
    return settings;
}

std::string noTool(const VarlobooksModule &module) {
    return module.path + ": no " + profile::kServerClass + " server \"" + profile::kServerName +
           "\"";
}

}  // namespace modeler::library

namespace {}  // namespace

extern "C" {

const char *varlobooks_host_version(void) {
    return VARLOBOOKS_VERSION;
}

int varlobooks_host_api_version(void) {
    return VARLOBOOKS_HOST_API_VERSION;
}

VarlobooksStatus varlobooks_module_open(const char *path, VarlobooksModule **module) {
    if (!module) return VARLOBOOKS_INVALID_ARGUMENT;
    *module = nullptr;
    std::unique_ptr<VarlobooksModule> m(new (std::nothrow) VarlobooksModule);
    if (!m) return VARLOBOOKS_INTERNAL_ERROR;
    const VarlobooksStatus status = guarded(m->error, [&] {
        m->path = path ? std::string(path) : moduleBesideLibrary();
        auto loaded = modeler::LoadedModule::load(m->path);
        if (auto *error = std::get_if<std::string>(&loaded))
            return fail(m->error, VARLOBOOKS_LOAD_FAILED, *error);
        m->loaded = std::move(std::get<std::unique_ptr<modeler::LoadedModule>>(loaded));
        m->path = m->loaded->path();
        // A module without the tool still opens, for its servers to be
        // listed; a session of it says what is missing.
        m->tool = m->loaded->find(modeler::profile::kServerClass, modeler::profile::kServerName);
        return VARLOBOOKS_OK;
    });
    *module = m.release();
    return status;
}

VarlobooksStatus varlobooks_module_check_tool(VarlobooksModule *module) {
    if (!module) return VARLOBOOKS_INVALID_ARGUMENT;
    return guarded(module->error, [&] {
        if (!module->loaded) return fail(module->error, VARLOBOOKS_LOAD_FAILED, "not loaded");
        if (!module->tool) return fail(module->error, VARLOBOOKS_LOAD_FAILED, noTool(*module));
        return VARLOBOOKS_OK;
    });
}

void varlobooks_module_close(VarlobooksModule *module) {
    delete module;
}

const char *varlobooks_module_error(const VarlobooksModule *module) {
    return module ? module->error.c_str() : "no module (null)";
}

const char *varlobooks_module_path(const VarlobooksModule *module) {
    return module ? module->path.c_str() : "";
}

const char *varlobooks_module_version(const VarlobooksModule *module) {
    return module && module->loaded ? module->loaded->version().c_str() : "";
}

size_t varlobooks_module_server_count(const VarlobooksModule *module) {
    return module && module->loaded ? module->loaded->servers().size() : 0;
}

VarlobooksStatus varlobooks_module_server(const VarlobooksModule *module, size_t index,
                                          const char **class_name, const char **name) {
    if (!module || !module->loaded || index >= module->loaded->servers().size())
        return VARLOBOOKS_INVALID_ARGUMENT;
    const modeler::ServerInfo &server = module->loaded->servers()[index];
    if (class_name) *class_name = server.className.c_str();
    if (name) *name = server.name.c_str();
    return VARLOBOOKS_OK;
}

VarlobooksStatus varlobooks_session_new(VarlobooksModule *module,
                                        const VarlobooksSessionOptions *options,
                                        VarlobooksSession **session) {
    if (!session) return VARLOBOOKS_INVALID_ARGUMENT;
    *session = nullptr;
    std::unique_ptr<VarlobooksSession> s(new (std::nothrow) VarlobooksSession);
    if (!s) return VARLOBOOKS_INTERNAL_ERROR;
    const VarlobooksStatus status = guarded(s->error, [&] {
        if (!module || !module->loaded) {
            return fail(s->error, VARLOBOOKS_INVALID_ARGUMENT,
                        module ? "the module is not loaded: " + module->error
                               : std::string("no module (null)"));
        }
        if (!module->tool) return fail(s->error, VARLOBOOKS_LOAD_FAILED, noTool(*module));
        const VarlobooksSessionOptions given = options ? *options : VarlobooksSessionOptions{};
        modeler::SessionSettings settings = modeler::library::profileSettings(given.merge != 0);
        if (given.images) settings.images = std::string(given.images);
        if (given.warning) {
            settings.warning = [tell = given.warning, data = given.data](const std::string &m) {
                tell(data, m.c_str());
            };
        }
        if (given.report) {
            settings.report = [tell = given.report, data = given.data](const std::string &m) {
                tell(data, m.c_str());
            };
        }
        s->module = module->loaded;
        s->session =
            std::make_unique<HostSession>(*module->loaded, *module->tool, std::move(settings));
        if (const auto &error = s->session->startError())
            return fail(s->error, VARLOBOOKS_TOOL_FAULT, *error);
        return VARLOBOOKS_OK;
    });
    *session = s.release();
    return status;
}

void varlobooks_session_free(VarlobooksSession *session) {
    delete session;
}

const char *varlobooks_session_error(const VarlobooksSession *session) {
    return session ? session->error.c_str() : kNullSession;
}

VarlobooksStatus varlobooks_session_play(VarlobooksSession *session, const char *text,
                                         const char *file, const char *base_folder) {
    if (!session || !session->session) return VARLOBOOKS_INVALID_ARGUMENT;
    return guarded(session->error, [&] {
        if (!text) return fail(session->error, VARLOBOOKS_INVALID_ARGUMENT, "no text (null)");
        return sessionOutcome(session, session->session->play(text, textOr(file, "session"),
                                                              textOr(base_folder, "")));
    });
}

VarlobooksStatus varlobooks_session_fill(VarlobooksSession *session, const double box[6],
                                         int64_t seed, const char *const *edits,
                                         size_t edit_count) {
    if (!session || !session->session) return VARLOBOOKS_INVALID_ARGUMENT;
    return guarded(session->error, [&] {
        if (!box) return fail(session->error, VARLOBOOKS_INVALID_ARGUMENT, "no box (null)");
        if (edit_count && !edits)
            return fail(session->error, VARLOBOOKS_INVALID_ARGUMENT, "no edits (null)");
        modeler::FillRequest request;
        request.box = {modeler::Vec3{box[0], box[1], box[2]},
                       modeler::Vec3{box[3], box[4], box[5]}};
        request.seed = seed;
        for (size_t i = 0; i < edit_count; ++i) {
            if (!edits[i])
                return fail(session->error, VARLOBOOKS_INVALID_ARGUMENT, "an edit is null");
            request.sets.emplace_back(edits[i]);
        }
        for (int i = 0; i < 6; ++i) {
            if (!std::isfinite(box[i])) {
                return fail(session->error, VARLOBOOKS_INVALID_ARGUMENT,
                            "--box: expected finite numbers");
            }
        }
        return sessionOutcome(session, session->session->fill(request));
    });
}

VarlobooksStatus varlobooks_session_set_clock(VarlobooksSession *session, int64_t seconds) {
    if (!session || !session->session) return VARLOBOOKS_INVALID_ARGUMENT;
    return guarded(session->error, [&] {
        modeler::Session clock{"clock", {{1, modeler::action::Clock{seconds}, "clock"}}};
        return sessionOutcome(session, session->session->play(clock));
    });
}

VarlobooksStatus varlobooks_session_leave(VarlobooksSession *session, const char *folder) {
    if (!session || !session->session) return VARLOBOOKS_INVALID_ARGUMENT;
    return guarded(session->error, [&] {
        modeler::action::Done done;
        if (folder) done.folder = std::string(folder);
        modeler::Session leave{"leave", {{1, done, "leave"}}};
        return sessionOutcome(session, session->session->play(leave));
    });
}

VarlobooksStatus varlobooks_session_finish(VarlobooksSession *session) {
    if (!session || !session->session) return VARLOBOOKS_INVALID_ARGUMENT;
    return guarded(session->error,
                   [&] { return sessionOutcome(session, session->session->finish("session")); });
}

int varlobooks_session_in_use(const VarlobooksSession *session) {
    return session && session->session && session->session->inUse();
}

const char *varlobooks_session_text(VarlobooksSession *session) {
    if (!session || !session->session) return "";
    try {
        session->text = session->session->text();
    } catch (...) {
        session->text.clear();
    }
    return session->text.c_str();
}

const char *varlobooks_session_warning(const VarlobooksSession *session, size_t index) {
    if (!session || !session->session) return nullptr;
    const auto &warnings = session->session->warnings();
    return index < warnings.size() ? warnings[index].c_str() : nullptr;
}

VarlobooksStatus varlobooks_session_summary(VarlobooksSession *session, VarlobooksSummary *summary,
                                            const char **line) {
    if (!session || !session->session || !summary) return VARLOBOOKS_INVALID_ARGUMENT;
    return guarded(session->error, [&] {
        const modeler::SceneSummary s = session->session->summary();
        *summary = {s.shells, s.points, s.polygons, s.texturedShells, s.unloadedImages};
        if (line) {
            session->summary = modeler::summaryLine(s, session->session->settings().words);
            *line = session->summary.c_str();
        }
        return VARLOBOOKS_OK;
    });
}

VarlobooksStatus varlobooks_session_layer(const VarlobooksSession *session,
                                          VarlobooksLayer *layer) {
    if (!session || !session->session || !layer) return VARLOBOOKS_INVALID_ARGUMENT;
    const modeler::Layer &l = session->session->host().scene().layer();
    static_assert(sizeof(modeler::Point) == 3 * sizeof(double));
    static_assert(sizeof(modeler::Polygon) == 3 * sizeof(uint32_t));
    layer->points = l.points().empty() ? nullptr : l.points().data()->data();
    layer->point_count = l.points().size();
    layer->polygons =
        l.polygons().empty() ? nullptr : reinterpret_cast<const uint32_t *>(l.polygons().data());
    layer->polygon_count = l.polygons().size();
    layer->corners = l.corners().empty() ? nullptr : l.corners().data();
    layer->corner_count = l.corners().size();
    layer->surface_count = l.surfaceNames().size();
    layer->map_count = l.vertexMaps().size();
    return VARLOBOOKS_OK;
}

VarlobooksStatus varlobooks_session_shells(VarlobooksSession *session,
                                           const uint32_t **shell_of_polygon, size_t *shell_count) {
    if (!session || !session->session || !shell_of_polygon || !shell_count)
        return VARLOBOOKS_INVALID_ARGUMENT;
    return guarded(session->error, [&] {
        const modeler::Shells &shells = session->session->exports().shells();
        *shell_of_polygon = shells.ofPolygon.empty() ? nullptr : shells.ofPolygon.data();
        *shell_count = shells.count;
        return VARLOBOOKS_OK;
    });
}

VarlobooksStatus varlobooks_session_surface_material(VarlobooksSession *session, size_t surface,
                                                     size_t *material) {
    if (!session || !session->session || !material) return VARLOBOOKS_INVALID_ARGUMENT;
    return guarded(session->error, [&] {
        const auto &of = session->session->model().materialOfSurface;
        if (surface >= of.size() || of[surface] == SIZE_MAX)
            return fail(session->error, VARLOBOOKS_INVALID_ARGUMENT,
                        "no material for that surface");
        *material = of[surface];
        return VARLOBOOKS_OK;
    });
}

const char *varlobooks_session_surface(const VarlobooksSession *session, size_t index) {
    if (!session || !session->session) return nullptr;
    const auto &names = session->session->host().scene().layer().surfaceNames();
    return index < names.size() ? names[index].c_str() : nullptr;
}

VarlobooksStatus varlobooks_session_vertex_map(const VarlobooksSession *session, size_t index,
                                               VarlobooksVertexMap *map) {
    if (!session || !session->session || !map) return VARLOBOOKS_INVALID_ARGUMENT;
    const auto maps = session->session->host().scene().layer().vertexMaps();
    if (index >= maps.size()) return VARLOBOOKS_INVALID_ARGUMENT;
    const modeler::VertexMap &m = *maps[index];
    for (int i = 0; i < 4; ++i)
        map->type[i] = static_cast<char>(m.type() >> (24 - 8 * i));
    map->type[4] = '\0';
    map->name = m.name().c_str();
    map->dimension = m.dimension();
    map->corner_values = m.cornerValueList();
    map->corner_set = m.cornerSetList();
    map->corner_count = m.cornerListSize();
    map->point_values = m.pointValueList();
    map->point_set = m.pointSetList();
    map->point_count = m.pointListSize();
    return VARLOBOOKS_OK;
}

VarlobooksStatus varlobooks_session_model(VarlobooksSession *session, VarlobooksModel *model) {
    if (!session || !session->session || !model) return VARLOBOOKS_INVALID_ARGUMENT;
    return guarded(session->error, [&] {
        const modeler::AssetModel &m = session->session->model();
        *model = {m.name.c_str(), m.meshes.size(), m.materials.size(), m.images.size()};
        return VARLOBOOKS_OK;
    });
}

VarlobooksStatus varlobooks_session_mesh(VarlobooksSession *session, size_t index,
                                         VarlobooksMesh *mesh) {
    if (!session || !session->session || !mesh) return VARLOBOOKS_INVALID_ARGUMENT;
    return guarded(session->error, [&] {
        const modeler::AssetModel &m = session->session->model();
        if (index >= m.meshes.size())
            return fail(session->error, VARLOBOOKS_INVALID_ARGUMENT, "no such mesh");
        const modeler::AssetMesh &a = m.meshes[index];
        *mesh = {a.name.c_str(), a.positions.data(), a.normals.data(),
                 a.uvs.data(),   a.vertexCount(),    a.primitives.size()};
        return VARLOBOOKS_OK;
    });
}

VarlobooksStatus varlobooks_session_primitive(VarlobooksSession *session, size_t mesh, size_t index,
                                              VarlobooksPrimitive *primitive) {
    if (!session || !session->session || !primitive) return VARLOBOOKS_INVALID_ARGUMENT;
    return guarded(session->error, [&] {
        const modeler::AssetModel &m = session->session->model();
        if (mesh >= m.meshes.size() || index >= m.meshes[mesh].primitives.size())
            return fail(session->error, VARLOBOOKS_INVALID_ARGUMENT, "no such primitive");
        const modeler::AssetPrimitive &p = m.meshes[mesh].primitives[index];
        *primitive = {p.material, p.indices.data(), p.indices.size()};
        return VARLOBOOKS_OK;
    });
}

VarlobooksStatus varlobooks_session_material(VarlobooksSession *session, size_t index,
                                             VarlobooksMaterial *material) {
    if (!session || !session->session || !material) return VARLOBOOKS_INVALID_ARGUMENT;
    return guarded(session->error, [&] {
        const modeler::AssetModel &m = session->session->model();
        if (index >= m.materials.size())
            return fail(session->error, VARLOBOOKS_INVALID_ARGUMENT, "no such material");
        const modeler::AssetMaterial &a = m.materials[index];
        material->name = a.name.c_str();
        for (int i = 0; i < 3; ++i)
            material->colour[i] = a.colour[i];
        material->has_image = a.image.has_value();
        material->image = a.image.value_or(0);
        return VARLOBOOKS_OK;
    });
}

VarlobooksStatus varlobooks_session_image(VarlobooksSession *session, size_t index,
                                          VarlobooksImage *image) {
    if (!session || !session->session || !image) return VARLOBOOKS_INVALID_ARGUMENT;
    return guarded(session->error, [&] {
        const modeler::AssetModel &m = session->session->model();
        if (index >= m.images.size())
            return fail(session->error, VARLOBOOKS_INVALID_ARGUMENT, "no such image");
        const modeler::AssetImage &a = m.images[index];
        *image = {a.name.c_str(), a.bytes.mimeType.c_str(), a.bytes.extension.c_str(),
                  a.bytes.bytes.data(), a.bytes.bytes.size()};
        return VARLOBOOKS_OK;
    });
}

VarlobooksStatus varlobooks_session_export(VarlobooksSession *session, const char *const *paths,
                                           const char *const *formats, size_t count) {
    if (!session || !session->session) return VARLOBOOKS_INVALID_ARGUMENT;
    return guarded(session->error, [&] {
        if (count && !paths)
            return fail(session->error, VARLOBOOKS_INVALID_ARGUMENT, "no paths (null)");
        std::vector<std::string> pathList, formatList;
        for (size_t i = 0; i < count; ++i) {
            if (!paths[i])
                return fail(session->error, VARLOBOOKS_INVALID_ARGUMENT, "a path is null");
            pathList.emplace_back(paths[i]);
            formatList.push_back(formats && formats[i] ? formats[i] : "");
        }
        const HostSession::Outcome outcome = session->session->write(pathList, formatList);
        if (outcome) session->error = outcome.message;
        if (outcome.status == HostSession::Status::Invalid) return VARLOBOOKS_INVALID_ARGUMENT;
        return statusOf(outcome, VARLOBOOKS_WRITE_FAILED);
    });
}

VarlobooksStatus varlobooks_session_export_files(VarlobooksSession *session, const char *name,
                                                 const char *format, VarlobooksFiles **files) {
    if (!session || !session->session || !files) return VARLOBOOKS_INVALID_ARGUMENT;
    *files = nullptr;
    return guarded(session->error, [&] {
        if (!name) return fail(session->error, VARLOBOOKS_INVALID_ARGUMENT, "no name (null)");
        auto made = session->session->exportFiles(name, format ? format : "");
        if (auto *error = std::get_if<std::string>(&made))
            return fail(session->error, VARLOBOOKS_INVALID_ARGUMENT, *error);
        auto out = std::make_unique<VarlobooksFiles>();
        out->files = std::move(std::get<0>(made));
        *files = out.release();
        return VARLOBOOKS_OK;
    });
}

}  // extern "C"

namespace {

// The panel's shown controls with the tool's values, made again once the
// session has changed.
void readControls(VarlobooksSession &s) {
    if (s.controlsVersion == s.session->version() && !s.controls.empty()) return;
    s.controls.clear();
    s.controlsVersion = s.session->version();
    modeler::ToolDriver &driver = s.session->player().driver();
    modeler::Panel *panel = s.session->inUse() ? driver.numericPanel() : nullptr;
    if (!panel) return;
    const modeler::Host::Serving serving(s.session->host());  // the values are the tool's
    for (const modeler::PanelControl &c : panel->controls) {
        if (c.hidden || c.dataType.empty()) continue;
        VarlobooksSession::Control control{
            c.label, c.controlClass, modeler::describeKind(c),
            modeler::formatPanelValue(c, panel->get(panel->instance, c.id)), c.choices};
        if (c.controlClass == "axis") control.choices = {"X", "Y", "Z"};
        s.controls.push_back(std::move(control));
    }
}

}  // namespace

extern "C" {

size_t varlobooks_session_control_count(VarlobooksSession *session) {
    if (!session || !session->session) return 0;
    try {
        readControls(*session);
        return session->controls.size();
    } catch (...) {
        return 0;
    }
}

VarlobooksStatus varlobooks_session_control(VarlobooksSession *session, size_t index,
                                            VarlobooksControl *control) {
    if (!session || !session->session || !control) return VARLOBOOKS_INVALID_ARGUMENT;
    return guarded(session->error, [&] {
        readControls(*session);
        if (index >= session->controls.size())
            return fail(session->error, VARLOBOOKS_INVALID_ARGUMENT, "no such control");
        const VarlobooksSession::Control &c = session->controls[index];
        *control = {c.label.c_str(), c.controlClass.c_str(), c.kind.c_str(), c.value.c_str(),
                    c.choices.size()};
        return VARLOBOOKS_OK;
    });
}

const char *varlobooks_session_choice(VarlobooksSession *session, size_t control, size_t choice) {
    if (!session || !session->session) return nullptr;
    try {
        readControls(*session);
        if (control >= session->controls.size()) return nullptr;
        const auto &choices = session->controls[control].choices;
        return choice < choices.size() ? choices[choice].c_str() : nullptr;
    } catch (...) {
        return nullptr;
    }
}

const char *varlobooks_export_format(size_t index) {
    static const char *const kNames[] = {"json", "obj", "gltf", "glb"};
    return index < std::size(kNames) ? kNames[index] : nullptr;
}

const char *varlobooks_export_format_for(const char *path, const char *format) {
    try {
        const auto found = modeler::exportFormatFor(path ? path : "", format ? format : "");
        if (!found) return nullptr;
        switch (*found) {
            case modeler::ExportFormat::Json:
                return "json";
            case modeler::ExportFormat::Obj:
                return "obj";
            case modeler::ExportFormat::Gltf:
                return "gltf";
            case modeler::ExportFormat::Glb:
                return "glb";
        }
    } catch (...) {
    }
    return nullptr;
}

size_t varlobooks_files_count(const VarlobooksFiles *files) {
    return files ? files->files.size() : 0;
}

VarlobooksStatus varlobooks_files_get(const VarlobooksFiles *files, size_t index, const char **name,
                                      const unsigned char **bytes, size_t *size) {
    if (!files || index >= files->files.size()) return VARLOBOOKS_INVALID_ARGUMENT;
    const auto &file = files->files[index];
    if (name) *name = file.first.c_str();
    if (bytes) *bytes = reinterpret_cast<const unsigned char *>(file.second.data());
    if (size) *size = file.second.size();
    return VARLOBOOKS_OK;
}

void varlobooks_files_free(VarlobooksFiles *files) {
    delete files;
}

}  // extern "C"
