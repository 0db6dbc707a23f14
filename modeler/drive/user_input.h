// Values as users type them in sessions and options: the whole text must be
// the value.
#pragma once

#include <charconv>
#include <cmath>
#include <cstddef>
#include <optional>
#include <string_view>

#include "modeler/model/number_chars.h"

namespace modeler {

// A finite decimal number (a leading '+' allowed); nullopt for anything
// else, "nan" and "inf" included.
[[nodiscard]] inline std::optional<double> parseFiniteNumber(std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    double value = 0;
    const char *end = text.data() + text.size();
    auto [ptr, ec] = readNumber(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// A whole number that fits Int; nullopt otherwise.
template <typename Int>
[[nodiscard]] std::optional<Int> parseWholeNumber(std::string_view text) {
    Int value = 0;
    const char *end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end) return std::nullopt;
    return value;
}

// An axis by letter (X, Y, Z in either case) or number (0, 1, 2).
[[nodiscard]] inline std::optional<int> parseAxisName(std::string_view text) {
    if (text.size() != 1) return std::nullopt;
    switch (text[0]) {
        case 'X':
        case 'x':
        case '0':
            return 0;
        case 'Y':
        case 'y':
        case '1':
            return 1;
        case 'Z':
        case 'z':
        case '2':
            return 2;
        default:
            return std::nullopt;
    }
}

}  // namespace modeler
