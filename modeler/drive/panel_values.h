// Values of panel controls as a user types them: integers, axes by letter,
// popup choices by name, plain numbers, angles in degrees and text.
#pragma once

#include <optional>
#include <string>
#include <variant>

#include "modeler/services/xpanel_service.h"

namespace modeler {

// A value in the representation a panel's get and set callbacks use: an
// int, a double (angles in radians) or NUL-terminated text.
class PanelValue {
  public:
    explicit PanelValue(std::variant<int, double, std::string> value) : value_(std::move(value)) {}
    void *bytes();
    const std::variant<int, double, std::string> &value() const { return value_; }

  private:
    std::variant<int, double, std::string> value_;
};

// text as a value of control's kind, or nullopt when it is not one. Numbers
// must be finite.
std::optional<PanelValue> parsePanelValue(const PanelControl &control, const std::string &text);

// What a control accepts, for messages: "an axis (X, Y or Z)", ...
std::string describeKind(const PanelControl &control);

// The value behind get's address shown as text (angles in degrees).
std::string formatPanelValue(const PanelControl &control, const void *value);

}  // namespace modeler
