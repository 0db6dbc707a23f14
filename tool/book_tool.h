// The instance record of one use of the book tool and its creation.
#pragma once

#include <cstddef>
#include <cstdint>

#include "books/limits.h"
#include "books/random.h"
#include "host/meshedit.h"

namespace varlobooks {

// How far the first placement of the box has gone (boxStage).
inline constexpr int kBoxNone = 0;    // no box yet
inline constexpr int kBoxPlaced = 1;  // placed by the first press
inline constexpr int kBoxSized = 2;   // far corner set by the first move

// What dirtyCode holds; only zero or not is ever read.
inline constexpr int kDirtyWireframe = LWT_DIRTY_WIREFRAME;
inline constexpr int kDirtyAll = LWT_DIRTY_WIREFRAME | LWT_DIRTY_HELPTEXT;

// Every callback gets this record first. Field order is the record's layout;
// a zero-filled record plus the defaults of createBookTool is a fresh tool.
struct BookTool {
    int updateCode;   // what test answers: LWT_TEST_NOTHING, _UPDATE or _REJECT
    int active;       // an edit is under way: handles exist, the box is drawn
    int dirtyCode;    // the preview is out of date; never cleared
    float boxMin[3];  // handle 1's corner; not kept below boxMax
    float boxMax[3];  // handle 7's corner
    int segments;
    char surfacePrefix[kSurfacePrefixCapacity];
    double randomBack;
    double randomFront;
    double randomBottom;
    double randomTop;
    int bookCount;  // books the last build made
    int bookType;   // kBookHardcover, kBookSoftcover or kBookBoth
    int axis;       // fill axis: 0 X, 1 Y, 2 Z
    double minSize;
    double maxSize;
    int boxStage;      // kBoxNone, kBoxPlaced or kBoxSized
    double rotation;   // largest tilt, radians
    int32_t seed;      // clock seconds at the last press
    void *coverUVMap;  // host handle of the "bookcover" map the last build selected
    // The generator the builds draw from; leaving the tool continues it.
    BookRandom random;
};

// Allocates a zero-filled record with the defaults set. Null when the heap
// cannot supply it. Release with releaseBookTool.
BookTool *createBookTool();
void releaseBookTool(BookTool *tool);

// Tests replace the allocation to see activation handle its failure.
using ZeroedAllocator = void *(*)(std::size_t);
void setBookToolAllocator(ZeroedAllocator allocate);  // null: the heap

}  // namespace varlobooks
