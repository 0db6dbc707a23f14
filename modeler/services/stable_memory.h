// Memory whose bytes cannot change while it is mapped: the read-only
// segments of the loaded modules, where their string literals lie. A name
// a plug-in passes from there reads the same whenever the same address
// comes again, so a host that compared it once need not compare it again;
// a name from anywhere else (a buffer the plug-in fills) is compared on
// every call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace modeler {

struct MemoryRange {
    uintptr_t begin, end;  // [begin, end)
};

// Whether size bytes from address all lie in one of ranges.
inline bool withinStableMemory(const std::vector<MemoryRange> &ranges, const void *address,
                               std::size_t size) {
    const auto begin = reinterpret_cast<uintptr_t>(address);
    for (const MemoryRange &range : ranges) {
        if (begin >= range.begin && begin < range.end && size <= range.end - begin) return true;
    }
    return false;
}

}  // namespace modeler
