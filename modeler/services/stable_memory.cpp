#include "modeler/services/stable_memory.h"

#include <algorithm>
#include <mutex>

namespace modeler {
namespace {

std::mutex gMutex;
std::vector<MemoryRange> gRanges;

}  // namespace

void addStableMemory(const std::vector<MemoryRange> &ranges) {
    std::lock_guard lock(gMutex);
    gRanges.insert(gRanges.end(), ranges.begin(), ranges.end());
}

void removeStableMemory(const std::vector<MemoryRange> &ranges) {
    std::lock_guard lock(gMutex);
    for (const MemoryRange &range : ranges) {
        auto it = std::find_if(gRanges.begin(), gRanges.end(), [&range](const MemoryRange &r) {
            return r.begin == range.begin && r.end == range.end;
        });
        if (it != gRanges.end()) gRanges.erase(it);
    }
}

std::vector<MemoryRange> stableMemory() {
    std::lock_guard lock(gMutex);
    return gRanges;
}

}  // namespace modeler
