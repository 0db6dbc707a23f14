// A look at a module file before the system's loader maps it: a file cut
// short maps pages past its end, and touching them kills the host (SIGBUS)
// inside dlopen. Only a file whose header and loadable segments lie wholly
// within it goes on to the loader.
#pragma once

#include <optional>
#include <span>
#include <string>

namespace modeler {

// Nullopt when bytes are a 64-bit ELF shared object whose program headers
// and loadable segments lie within them; else why not.
[[nodiscard]] std::optional<std::string> checkModuleImage(std::span<const unsigned char> bytes);

}  // namespace modeler
