// Numbers as users type them in sessions and options: the whole text must
// be the number.
#pragma once

#include <charconv>
#include <cmath>
#include <optional>
#include <string_view>

namespace modeler {

// A finite decimal number (a leading '+' allowed); nullopt for anything
// else, "nan" and "inf" included.
inline std::optional<double> parseFiniteNumber(std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    double value = 0;
    const char *end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// A whole number that fits Int; nullopt otherwise.
template <typename Int>
std::optional<Int> parseWholeNumber(std::string_view text) {
    Int value = 0;
    const char *end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end) return std::nullopt;
    return value;
}

}  // namespace modeler
