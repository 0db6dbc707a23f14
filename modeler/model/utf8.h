// Names in the scene and its files are UTF-8.
#pragma once

#include <cstddef>
#include <string_view>

namespace modeler {

// The offset of the first byte that does not belong to well-formed UTF-8
// (no overlong forms, no surrogates, nothing past U+10FFFF), or npos.
[[nodiscard]] std::size_t findInvalidUtf8(std::string_view text);

}  // namespace modeler
