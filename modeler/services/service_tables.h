// The service tables the host hands out by name. They are constant and live
// for the whole process, so that a module may keep them across activations;
// every entry serves the host serving the calling thread (Host::current).
// The contract hands them out as writable pointers: a plug-in that writes
// to one faults in read-only memory rather than changing another host's.
#pragma once

#include <string_view>

namespace modeler {

// The table registered under name, or null for a name the host does not know.
void *serviceTable(std::string_view name);

}  // namespace modeler
