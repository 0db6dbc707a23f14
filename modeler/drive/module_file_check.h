// A look at a module file before the system's loader maps it: a file cut
// short maps pages past its end, and touching them kills the host (SIGBUS)
// inside the loader. Only a file whose headers and loadable parts lie wholly
// within it goes on to the loader. Each system checks its own format.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace modeler {

// Nullopt when bytes are a 64-bit module of this system (an ELF shared
// object, or a PE DLL on Windows) whose headers and loadable segments or
// sections lie within them; else why not.
[[nodiscard]] std::optional<std::string> checkModuleImage(std::span<const unsigned char> bytes);

}  // namespace modeler
