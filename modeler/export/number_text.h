// Numbers in text exports: the shortest form that reads back to the same
// bits, so that a file says exactly what the scene holds.
#pragma once

#include <charconv>
#include <string>

namespace modeler {

template <typename Number>
void appendNumber(std::string &out, Number value) {
    char buffer[32];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, static_cast<std::size_t>(end - buffer));
}

}  // namespace modeler
