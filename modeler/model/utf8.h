// Names in the scene and its files are UTF-8.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace modeler {

// The offset of the first byte that does not belong to well-formed UTF-8
// (no overlong forms, no surrogates, nothing past U+10FFFF), or npos.
[[nodiscard]] std::size_t findInvalidUtf8(std::string_view text);

// The files' one way with text that is not UTF-8 (a name cut inside a
// character, a file named in Latin-1): each byte that is not part of
// well-formed UTF-8 becomes U+FFFD, the replacement character. JSON, glTF,
// OBJ and MTL names and the served page all show names so.
[[nodiscard]] std::string readableUtf8(std::string_view text);

}  // namespace modeler
