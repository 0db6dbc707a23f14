#include "modeler/drive/panel_values.h"

#include "modeler/drive/user_input.h"
#include "modeler/model/angles.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <numbers>
#include <sstream>

namespace modeler {
void *PanelValue::bytes() {
    if (auto *i = std::get_if<int>(&value_)) return i;
    if (auto *d = std::get_if<double>(&value_)) return d;
    return std::get<std::string>(value_).data();
}

std::optional<PanelValue> parsePanelValue(const PanelControl &control, const std::string &text) {
    const std::string &type = control.dataType;
    if (type == "string") return PanelValue(text);
    if (type == "float" || type == "angle") {
        auto number = parseFiniteNumber(text);
        if (!number) return std::nullopt;
        // Angle fields show degrees; the value behind them is in radians.
        if (type == "angle") *number = radiansFromDegrees(*number);
        return PanelValue(*number);
    }
    if (type != "integer") return std::nullopt;
    if (control.controlClass == "axis") {
        if (auto axis = parseAxisName(text)) return PanelValue(*axis);
        return std::nullopt;
    }
    if (!control.choices.empty()) {
        for (std::size_t i = 0; i < control.choices.size(); ++i) {
            if (control.choices[i] == text) return PanelValue(static_cast<int>(i));
        }
        auto index = parseWholeNumber<long long>(text);
        if (index && *index >= 0 && *index < static_cast<long long>(control.choices.size())) {
            return PanelValue(static_cast<int>(*index));
        }
        return std::nullopt;
    }
    auto number = parseWholeNumber<long long>(text);
    if (!number || *number < INT32_MIN || *number > INT32_MAX) return std::nullopt;
    return PanelValue(static_cast<int>(*number));
}

std::string describeKind(const PanelControl &control) {
    const std::string &type = control.dataType;
    if (type == "string") return "text";
    if (type == "float") return "a finite number";
    if (type == "angle") return "an angle in degrees";
    if (control.controlClass == "axis") return "an axis (X, Y or Z)";
    if (!control.choices.empty()) {
        std::string kinds = "one of";
        for (std::size_t i = 0; i < control.choices.size(); ++i) {
            kinds += (i ? ", \"" : " \"") + control.choices[i] + "\"";
        }
        return kinds;
    }
    return "a whole number";
}

std::string formatPanelValue(const PanelControl &control, const void *value) {
    if (!value) return "(none)";
    const std::string &type = control.dataType;
    if (type == "string") return static_cast<const char *>(value);
    std::ostringstream out;
    if (type == "float" || type == "angle") {
        double number;
        std::memcpy(&number, value, sizeof number);
        if (type == "angle") number = degreesFromRadians(number);
        out << number;
        return out.str();
    }
    int number;
    std::memcpy(&number, value, sizeof number);
    if (control.controlClass == "axis" && number >= 0 && number <= 2)
        return std::string(1, "XYZ"[number]);
    if (number >= 0 && number < static_cast<int>(control.choices.size()))
        return control.choices[number];
    return std::to_string(number);
}

}  // namespace modeler
