// The storage of the layer's large arrays: a std::vector whose blocks of
// 2 MB and more lie on the system's large pages where it has them.
//
// A fill of 100,000 books holds a few hundred megabytes in a few dozen
// vectors, and with 4 KB pages each first touch of a page is a fault and
// each access across the layer a likely miss in the address cache: on a
// virtual machine, where both cost most, a one-shot fill and export spent
// as long in them as in its own work. Only these arrays ask for large
// pages: the program's allocator stays the system's, as it is for the
// loaded module.
#pragma once

#include <cstddef>
#include <new>
#include <vector>

namespace modeler {

namespace large_pages {
// malloc, with every whole 2 MB page inside a block of at least that size
// marked for the system's large pages (Linux; a hint elsewhere ignored).
// Null when memory is short.
void *allocate(std::size_t bytes) noexcept;
void release(void *block) noexcept;
// The size from which a block is marked.
inline constexpr std::size_t kPageSize = std::size_t(2) << 20;
}  // namespace large_pages

template <typename T>
struct LargePageAllocator {
    using value_type = T;
    LargePageAllocator() = default;
    template <typename U>
    LargePageAllocator(const LargePageAllocator<U> &) noexcept {}

    T *allocate(std::size_t count) {
        if (count > std::size_t(-1) / sizeof(T)) throw std::bad_array_new_length();
        void *block = large_pages::allocate(count * sizeof(T));
        if (!block) throw std::bad_alloc();
        return static_cast<T *>(block);
    }
    void deallocate(T *block, std::size_t) noexcept { large_pages::release(block); }

    template <typename U>
    bool operator==(const LargePageAllocator<U> &) const noexcept {
        return true;
    }
};

template <typename T>
using LargeArray = std::vector<T, LargePageAllocator<T>>;

}  // namespace modeler
