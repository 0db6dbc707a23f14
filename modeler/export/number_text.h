// Numbers in text exports: the shortest form that reads back to the same
// bits, so that a file says exactly what the scene holds.
#pragma once

#include <charconv>
#include <string>
#include <type_traits>

#include "modeler/model/number_chars.h"

namespace modeler {

template <typename Number>
void appendNumber(std::string &out, Number value) {
    char buffer[kShortestRoom];
    char *end;
    if constexpr (std::is_floating_point_v<Number>)
        end = writeShortest(buffer, value);
    else
        end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    out.append(buffer, static_cast<std::size_t>(end - buffer));
}

}  // namespace modeler
