// The service tables the host hands out by name. They live for the whole
// process, so that a module may keep them across activations; every entry
// serves the host that is running.
#pragma once

#include <string_view>

namespace modeler {

// The table registered under name, or null for a name the host does not know.
void *serviceTable(std::string_view name);

}  // namespace modeler
