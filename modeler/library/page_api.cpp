// The C API of pages: the tool used by hand through a Workspace.
#include <memory>
#include <string>

#include "modeler/library/api_handles.h"
#include "modeler/library/profile_words.h"
#include "modeler/page/workspace.h"
#include "modeler/plugin_profile.h"

struct VarlobooksPage {
    std::shared_ptr<modeler::LoadedModule> module;  // first: it outlives the workspace
    std::unique_ptr<modeler::Workspace> workspace;
    std::string error;
    std::string state;  // the last texts handed out
    std::string text;
    std::optional<modeler::Download> texture;
};

namespace {

using modeler::library::fail;
using modeler::library::guarded;

VarlobooksStatus pageOutcome(VarlobooksPage *page, const std::optional<std::string> &error) {
    if (!error) return VARLOBOOKS_OK;
    page->error = *error;
    return VARLOBOOKS_ACTION_FAILED;
}

}  // namespace

extern "C" {

VarlobooksStatus varlobooks_page_new(VarlobooksModule *module, const char *images,
                                     const char *object_name, VarlobooksPage **page) {
    if (!page) return VARLOBOOKS_INVALID_ARGUMENT;
    *page = nullptr;
    std::unique_ptr<VarlobooksPage> p(new (std::nothrow) VarlobooksPage);
    if (!p) return VARLOBOOKS_INTERNAL_ERROR;
    const VarlobooksStatus status = guarded(p->error, [&] {
        if (!module || !module->loaded)
            return fail(p->error, VARLOBOOKS_INVALID_ARGUMENT, "no module loaded");
        if (!module->tool)
            return fail(p->error, VARLOBOOKS_LOAD_FAILED, modeler::library::noTool(*module));
        modeler::ImageRoot root;
        if (images && *images) {
            root = modeler::ImageRoot(images);
            if (root.empty())
                return fail(p->error, VARLOBOOKS_INVALID_ARGUMENT,
                            std::string(images) + " cannot be opened");
        }
        p->module = module->loaded;
        p->workspace = std::make_unique<modeler::Workspace>(
            *module->loaded, *module->tool, std::move(root),
            object_name ? object_name : modeler::profile::kDefaultObjectName,
            modeler::library::profileSettings(false));
        if (const auto &error = p->workspace->startError())
            return fail(p->error, VARLOBOOKS_TOOL_FAULT, *error);
        return VARLOBOOKS_OK;
    });
    *page = p.release();
    return status;
}

void varlobooks_page_free(VarlobooksPage *page) {
    delete page;
}

const char *varlobooks_page_error(const VarlobooksPage *page) {
    return page ? page->error.c_str() : "no page (null)";
}

void varlobooks_page_set_wall_clock(VarlobooksPage *page, int64_t (*now)(void *), void *data) {
    if (!page || !page->workspace) return;
    try {
        if (now)
            page->workspace->setWallClock([now, data] { return now(data); });
        else
            page->workspace->setWallClock([] { return static_cast<int64_t>(std::time(nullptr)); });
    } catch (...) {
    }
}

VarlobooksStatus varlobooks_page_act(VarlobooksPage *page, const char *line, int begins_gesture) {
    if (!page || !page->workspace) return VARLOBOOKS_INVALID_ARGUMENT;
    return guarded(page->error, [&] {
        if (!line) return fail(page->error, VARLOBOOKS_INVALID_ARGUMENT, "no line (null)");
        return pageOutcome(page, page->workspace->act(line, begins_gesture != 0));
    });
}

VarlobooksStatus varlobooks_page_undo(VarlobooksPage *page) {
    if (!page || !page->workspace) return VARLOBOOKS_INVALID_ARGUMENT;
    return guarded(page->error, [&] { return pageOutcome(page, page->workspace->undo()); });
}

VarlobooksStatus varlobooks_page_redo(VarlobooksPage *page) {
    if (!page || !page->workspace) return VARLOBOOKS_INVALID_ARGUMENT;
    return guarded(page->error, [&] { return pageOutcome(page, page->workspace->redo()); });
}

VarlobooksStatus varlobooks_page_replay(VarlobooksPage *page, const char *text, const size_t *steps,
                                        size_t step_count) {
    if (!page || !page->workspace) return VARLOBOOKS_INVALID_ARGUMENT;
    return guarded(page->error, [&] {
        if (!text || (step_count && !steps))
            return fail(page->error, VARLOBOOKS_INVALID_ARGUMENT, "no session (null)");
        std::vector<std::size_t> marks(steps, steps + step_count);
        return pageOutcome(page, page->workspace->replay(text, marks));
    });
}

VarlobooksStatus varlobooks_page_leave(VarlobooksPage *page) {
    if (!page || !page->workspace) return VARLOBOOKS_INVALID_ARGUMENT;
    return guarded(page->error, [&] { return pageOutcome(page, page->workspace->leave()); });
}

VarlobooksStatus varlobooks_page_answer_form(VarlobooksPage *page, const char *folder) {
    if (!page || !page->workspace) return VARLOBOOKS_INVALID_ARGUMENT;
    return guarded(page->error, [&] {
        std::optional<std::string> answer;
        if (folder) answer = std::string(folder);
        return pageOutcome(page, page->workspace->answerForm(answer));
    });
}

const char *varlobooks_page_state(VarlobooksPage *page) {
    if (!page || !page->workspace) return "{}";
    const VarlobooksStatus status = guarded(page->error, [&] {
        modeler::JsonWriter out;
        out.beginObject();
        page->workspace->writeState(out);
        page->state = out.endObject().take();
        return VARLOBOOKS_OK;
    });
    if (status != VARLOBOOKS_OK) page->state = "{}";
    return page->state.c_str();
}

int varlobooks_page_shows_tool(VarlobooksPage *page) {
    return page && page->workspace && page->workspace->showsTool();
}

uint64_t varlobooks_page_mesh_version(const VarlobooksPage *page) {
    return page && page->workspace ? page->workspace->meshVersion() : 0;
}

VarlobooksStatus varlobooks_page_mesh(VarlobooksPage *page, const unsigned char **bytes,
                                      size_t *size) {
    if (!page || !page->workspace || !bytes || !size) return VARLOBOOKS_INVALID_ARGUMENT;
    return guarded(page->error, [&] {
        const std::string &mesh = page->workspace->meshBytes();
        *bytes = reinterpret_cast<const unsigned char *>(mesh.data());
        *size = mesh.size();
        return VARLOBOOKS_OK;
    });
}

VarlobooksStatus varlobooks_page_texture(VarlobooksPage *page, size_t index,
                                         VarlobooksImage *image) {
    if (!page || !page->workspace || !image) return VARLOBOOKS_INVALID_ARGUMENT;
    return guarded(page->error, [&] {
        page->texture = page->workspace->texture(index);
        if (!page->texture)
            return fail(page->error, VARLOBOOKS_INVALID_ARGUMENT, "no such texture");
        const modeler::Download &d = *page->texture;
        *image = {d.name.c_str(), d.contentType.c_str(), "",
                  reinterpret_cast<const unsigned char *>(d.bytes.data()), d.bytes.size()};
        return VARLOBOOKS_OK;
    });
}

VarlobooksStatus varlobooks_page_download(VarlobooksPage *page, const char *format,
                                          VarlobooksFiles **files) {
    if (!page || !page->workspace || !files) return VARLOBOOKS_INVALID_ARGUMENT;
    *files = nullptr;
    return guarded(page->error, [&] {
        if (!format) return fail(page->error, VARLOBOOKS_INVALID_ARGUMENT, "no format (null)");
        auto made = page->workspace->download(format);
        if (auto *error = std::get_if<std::string>(&made))
            return fail(page->error, VARLOBOOKS_INVALID_ARGUMENT, *error);
        auto out = std::make_unique<VarlobooksFiles>();
        out->files = std::move(std::get<modeler::ExportFiles>(made));
        *files = out.release();
        return VARLOBOOKS_OK;
    });
}

const char *varlobooks_page_session_text(VarlobooksPage *page) {
    if (!page || !page->workspace) return "";
    try {
        page->text = page->workspace->sessionText();
    } catch (...) {
        page->text.clear();
    }
    return page->text.c_str();
}

}  // extern "C"
