#include "modeler/model/large_array.h"

#include <cstdint>
#include <cstdlib>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace modeler::large_pages {

void *allocate(std::size_t bytes) noexcept {
    void *block = std::malloc(bytes == 0 ? 1 : bytes);
#if defined(__linux__)
    // Debian's kernel gives large pages only to memory marked for them
    // ("madvise" mode); the kernel backs each marked page with one on its
    // first touch. A hint: where it cannot, the block is used as it is.
    if (block && bytes >= kPageSize) {
        const auto start = reinterpret_cast<std::uintptr_t>(block);
        const std::uintptr_t begin = (start + kPageSize - 1) & ~(kPageSize - 1);
        const std::uintptr_t end = (start + bytes) & ~(kPageSize - 1);
        if (end > begin) (void)madvise(reinterpret_cast<void *>(begin), end - begin, MADV_HUGEPAGE);
    }
#endif
    return block;
}

void release(void *block) noexcept {
    std::free(block);
}

}  // namespace modeler::large_pages
