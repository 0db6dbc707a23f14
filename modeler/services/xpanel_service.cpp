#include "modeler/services/xpanel_service.h"

#include <algorithm>
#include <cstdio>

#include "modeler/services/hex_text.h"

#include "modeler/services/service_host.h"

namespace modeler {
namespace {

bool isTextType(const PanelControl &control) {
    if (!control.dataType.empty()) return control.dataType == "string";
    return control.controlClass == "string" || control.controlClass == "sFileName";
}

}  // namespace

PanelControl *Panel::control(uint32_t id) {
    auto it = std::find_if(controls.begin(), controls.end(),
                           [id](const PanelControl &c) { return c.id == id; });
    return it == controls.end() ? nullptr : &*it;
}

const PanelControl *Panel::controlByLabel(const std::string &label) const {
    for (const PanelControl &c : controls) {
        if (!c.hidden && !c.dataType.empty() && c.label == label) return &c;
    }
    return nullptr;
}

LWXPanelID Panels::create(int type, const LWXPanelControl *controls) {
    if (type != LWXP_VIEW && type != LWXP_FORM) {
        host_.fault("LWXPanel create: unknown panel type " + std::to_string(type));
        return nullptr;
    }
    if (!controls) {
        host_.fault("LWXPanel create: no control table");
        return nullptr;
    }
    auto panel = std::make_unique<Panel>();
    panel->type = type;
    for (const LWXPanelControl *row = controls; row->cid != 0; ++row) {
        if (!row->label || !row->ctrlclass) {
            host_.fault("LWXPanel create: control " + hex(row->cid) + " lacks a label or class");
            return nullptr;
        }
        panel->controls.push_back({row->cid, row->label, row->ctrlclass, {}, false, {}});
    }
    panels_.push_back(std::move(panel));
    return reinterpret_cast<LWXPanelID>(panels_.back().get());
}

bool Panels::destroy(LWXPanelID id) {
    auto it = std::find_if(panels_.begin(), panels_.end(), [id](const auto &p) {
        return reinterpret_cast<LWXPanelID>(p.get()) == id;
    });
    if (it == panels_.end()) return false;
    panels_.erase(it);
    return true;
}

Panel *Panels::find(LWXPanelID id) {
    for (const auto &p : panels_) {
        if (reinterpret_cast<LWXPanelID>(p.get()) == id) return p.get();
    }
    return nullptr;
}

void Panels::describe(Panel &panel, const LWXPanelDataDesc *data, LWXPanelGetFunc *get,
                      LWXPanelSetFunc *set) {
    if (panel.type == LWXP_VIEW && (!get || !set)) {
        host_.fault("LWXPanel describe: a view panel needs get and set callbacks");
    }
    for (const LWXPanelDataDesc *row = data; row && row->vid != 0; ++row) {
        PanelControl *control = panel.control(row->vid);
        if (!control || !row->datatype) {
            host_.fault("LWXPanel describe: value " + hex(row->vid) + " has no control or type");
            continue;
        }
        control->dataType = row->datatype;
    }
    panel.get = get;
    panel.set = set;
    panel.described = true;
}

void Panels::hint(Panel &panel, uint32_t id, const LWXPanelHint *hints) {
    if (!hints) return;
    auto controlFor = [&](LWXPanelHint word) -> PanelControl * {
        PanelControl *control = panel.control(static_cast<uint32_t>(word));
        if (!control) host_.fault("LWXPanel hint: unknown control " + hex(uint32_t(word)));
        return control;
    };
    // A control id of 0 where a hint needs one means the list ended inside
    // that hint: stop there instead of reading past its end.
    auto endedInside = [&](LWXPanelHint word, uint32_t tag) {
        if (word != 0) return false;
        host_.fault("LWXPanel hint: the list ends inside hint " + hex(tag));
        return true;
    };
    for (std::size_t i = 0; hints[i] != 0;) {
        const auto tag = static_cast<uint32_t>(hints[i++]);
        switch (tag) {
            case XPHINT_HIDE:
                if (endedInside(hints[i], tag)) return;
                if (PanelControl *c = controlFor(hints[i++])) c->hidden = true;
                break;
            case XPHINT_POPUP_CHOICES: {
                if (endedInside(hints[i], tag)) return;
                PanelControl *c = controlFor(hints[i++]);
                const auto *list = reinterpret_cast<const char *const *>(hints[i++]);
                if (c) {
                    c->choices.clear();
                    for (; list && *list; ++list)
                        c->choices.emplace_back(*list);
                }
                break;
            }
            case XPHINT_LABEL: {
                const auto target = static_cast<uint32_t>(hints[i++]);
                const auto *text = reinterpret_cast<const char *>(hints[i++]);
                if (!text) return;  // the list ended inside the label
                if (target == 0) {
                    panel.title = text;
                } else if (PanelControl *c = controlFor(target)) {
                    c->label = text;
                }
                break;
            }
            case XPHINT_CONTROL_LIST:
                while (hints[i] != 0)
                    ++i;
                ++i;
                break;
            case XPHINT_FILE_REQUEST:
                if (endedInside(hints[i], tag)) return;
                i += 3;
                break;
            default:
                host_.fault("LWXPanel hint: unknown tag " + hex(tag) + " for " + hex(id));
                return;
        }
    }
}

void Panels::formSet(Panel &panel, uint32_t id, const void *value) {
    PanelControl *control = panel.control(id);
    if (panel.type != LWXP_FORM || !control || !isTextType(*control) || !value) {
        host_.fault("LWXPanel formSet: " + hex(id) + " is not a text value of a form panel");
        return;
    }
    panel.formText[id] = static_cast<const char *>(value);
}

void *Panels::formGet(Panel &panel, uint32_t id) {
    auto it = panel.formText.find(id);
    if (panel.type != LWXP_FORM || it == panel.formText.end()) return nullptr;
    return it->second.data();
}

int Panels::post(Panel &panel) {
    if (panel.type != LWXP_FORM) {
        host_.fault("LWXPanel post: only a form panel can be posted");
        return 0;
    }
    ++panel.posts;
    PostedForm form;
    form.title = panel.title;
    for (const PanelControl &c : panel.controls) {
        form.labels.push_back(c.label);
        auto it = panel.formText.find(c.id);
        if (it != panel.formText.end()) form.shownValues[c.label] = it->second;
    }
    const std::optional<std::string> answer = answerer_ ? answerer_(form) : answer_;
    form.confirmed = answer.has_value();
    posted_.push_back(form);
    if (!answer) return 0;
    // The user typed the answer into the form's text field.
    for (const PanelControl &c : panel.controls) {
        if (!c.hidden && isTextType(c)) {
            panel.formText[c.id] = *answer;
            break;
        }
    }
    return 1;
}

}  // namespace modeler
