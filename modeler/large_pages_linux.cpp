// The program's new: large blocks on the system's large pages.
//
// A fill of 100,000 books holds a few hundred megabytes in a few dozen
// vectors, and with 4 KB pages each first touch of a page is a fault and
// each access across the layer a likely miss in the address cache: on a
// virtual machine, where both cost most, a one-shot fill and export spent
// as long in them as in its own work. Linux gives a block 2 MB pages when
// asked for them (transparent huge pages in "madvise" mode, as Debian
// ships), so every block of at least one such page is marked for them as
// it is handed out. Small blocks are left alone: most are far below a page.
//
// Blocks still come from malloc and go back to free, so memory allocated
// by other code (the standard library, a loaded module) and freed here, or
// the other way round, stays paired. Built into the programs, not the
// module: a plug-in must not change its host's allocator.
#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <new>

namespace {

constexpr std::uintptr_t kLargePage = std::uintptr_t(2) << 20;

// Marks the whole large pages inside the block; the kernel then backs each
// with one page on its first touch. A hint: where the system cannot, the
// block is used as it is.
void adviseLargePages(void *block, std::size_t size) {
    const auto start = reinterpret_cast<std::uintptr_t>(block);
    const std::uintptr_t begin = (start + kLargePage - 1) & ~(kLargePage - 1);
    const std::uintptr_t end = (start + size) & ~(kLargePage - 1);
    if (end > begin) (void)madvise(reinterpret_cast<void *>(begin), end - begin, MADV_HUGEPAGE);
}

}  // namespace

// The other forms of new in the standard library (arrays, nothrow) call
// this one; aligned forms pair aligned_alloc with free as this file does.
void *operator new(std::size_t size) {
    for (;;) {
        if (void *block = std::malloc(size == 0 ? 1 : size)) {
            if (size >= kLargePage) adviseLargePages(block, size);
            return block;
        }
        const std::new_handler handler = std::get_new_handler();
        if (!handler) throw std::bad_alloc();
        handler();
    }
}

void operator delete(void *block) noexcept {
    std::free(block);
}

void operator delete(void *block, std::size_t) noexcept {
    std::free(block);
}
