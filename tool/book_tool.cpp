#include "tool/book_tool.h"

#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "books/shelf_fill.h"

namespace varlobooks {
namespace {

void *zeroedFromHeap(std::size_t size) {
    return std::calloc(1, size);
}

ZeroedAllocator gAllocate = zeroedFromHeap;

}  // namespace

void setBookToolAllocator(ZeroedAllocator allocate) {
    gAllocate = allocate ? allocate : zeroedFromHeap;
}

BookTool *createBookTool() {
    static_assert(std::is_trivially_copyable_v<BookTool>, "the record is zero-filled raw memory");
    auto *tool = static_cast<BookTool *>(gAllocate(sizeof(BookTool)));
    if (!tool) return nullptr;
    tool->minSize = 0.005;
    tool->maxSize = 0.08;
    tool->segments = 8;
    tool->bookType = kBookBoth;
    tool->randomBack = 0.1;
    tool->randomFront = 0.2;
    tool->randomTop = 0.2;
    std::strcpy(tool->surfacePrefix, "book_");
    return tool;
}

void releaseBookTool(BookTool *tool) {
    std::free(tool);
}

}  // namespace varlobooks
