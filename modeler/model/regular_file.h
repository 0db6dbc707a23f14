// Reading a file that must be a regular one: opened once, checked through
// what was opened (not its name, which may lead elsewhere a moment later),
// and read from that same descriptor.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace modeler {

// The whole of the regular file at path (a link to one is followed), at
// most maxBytes; nullopt with why set when it is anything else (a folder,
// a pipe, a device: opened without waiting for a writer), larger, or
// changes while read.
std::optional<std::vector<unsigned char>> readRegularFile(const std::string &path,
                                                          std::size_t maxBytes, std::string &why);

}  // namespace modeler
