// Ids and words in messages: "0x" and eight hex digits.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace modeler {

inline std::string hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

}  // namespace modeler
