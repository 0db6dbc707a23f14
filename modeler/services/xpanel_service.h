// The host's panels: what a tool described through the "LWXPanel" service,
// kept so that a session can read and edit values by label and answer form
// requests.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/xpanel.h"

namespace modeler {

class Host;

struct PanelControl {
    uint32_t id = 0;
    std::string label;
    std::string controlClass;
    std::string dataType;  // from the data description; empty: none
    bool hidden = false;
    std::vector<std::string> choices;  // popup choices
};

struct Panel {
    int type = 0;
    std::vector<PanelControl> controls;
    std::string title;
    bool described = false;
    LWXPanelGetFunc *get = nullptr;
    LWXPanelSetFunc *set = nullptr;
    void *instance = nullptr;  // view panels: the tool instance get and set receive
    std::map<uint32_t, std::string> formText;
    int posts = 0;

    PanelControl *control(uint32_t id);
    // The shown control whose label is label (described values only).
    const PanelControl *controlByLabel(const std::string &label) const;
};

// A form request the host showed, for reports and tests.
struct PostedForm {
    std::string title;
    std::vector<std::string> labels;
    std::map<std::string, std::string> shownValues;  // label -> text when posted
    bool confirmed = false;
};

// Answers a posted form as the user would: the text to confirm its text
// field with, or nothing to cancel. It may take its time: post waits.
using FormAnswerer = std::function<std::optional<std::string>(const PostedForm &)>;

class Panels {
  public:
    explicit Panels(Host &host) : host_(host) {}

    LWXPanelID create(int type, const LWXPanelControl *controls);
    [[nodiscard]] bool destroy(LWXPanelID panel);
    Panel *find(LWXPanelID panel);
    void describe(Panel &panel, const LWXPanelDataDesc *data, LWXPanelGetFunc *get,
                  LWXPanelSetFunc *set);
    void hint(Panel &panel, uint32_t id, const LWXPanelHint *hints);
    void formSet(Panel &panel, uint32_t id, const void *value);
    void *formGet(Panel &panel, uint32_t id);
    int post(Panel &panel);

    // What post answers: the text to confirm a form's text field with, or
    // nothing to cancel.
    void setFormAnswer(std::optional<std::string> answer) {
        answer_ = std::move(answer);
        answerer_ = nullptr;
    }
    // The same, asked of answerer at each post; null: setFormAnswer's.
    void setFormAnswerer(FormAnswerer answerer) { answerer_ = std::move(answerer); }
    const std::vector<PostedForm> &posted() const { return posted_; }
    std::size_t liveCount() const { return panels_.size(); }

  private:
    Host &host_;
    std::vector<std::unique_ptr<Panel>> panels_;
    std::optional<std::string> answer_;
    FormAnswerer answerer_;
    std::vector<PostedForm> posted_;
};

}  // namespace modeler
