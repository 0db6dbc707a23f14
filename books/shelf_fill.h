// Filling a box with a row of random books: the tool's build. Knows nothing
// of the tool: it takes the parameters as a record and returns what the
// build made.
#pragma once

#include <cstdint>

#include "books/random.h"
#include "host/meshedit.h"

namespace varlobooks {

// The kinds of book a shelf holds ("Type").
inline constexpr int kBookHardcover = 0;
inline constexpr int kBookSoftcover = 1;
inline constexpr int kBookBoth = 2;  // each book drawn as one or the other

struct ShelfParams {
    float boxMin[3];  // two opposite corners, in any order per coordinate
    float boxMax[3];
    int axis;                 // fill axis: 0 X, 1 Y, 2 Z
    int bookType;             // kBookHardcover, kBookSoftcover or kBookBoth
    int segments;             // spine steps of a hardcover book
    double minSize, maxSize;  // thickness bounds, model units
    double rotation;          // largest tilt, radians
    double randomTop, randomBottom, randomFront, randomBack;  // insets as fractions
    const char *surfacePrefix;  // cover surfaces are prefix + book number; not null
    int32_t seed;
};

struct ShelfResult {
    int bookCount;
    void *coverUVMap;   // the host's "bookcover" map, as selectVertexMap returned it
    BookRandom random;  // where the sequence stands after the last book
};

// Fills the box along params.axis from its low end, seeding the generator
// with params.seed. A box or parameter that is not a finite number, or an
// axis other than 0, 1, 2, makes no books; the "bookcover" map is selected
// whatever the fill made. Sizes below zero count as zero. When memory runs
// out the shelf ends with the books already made. Throws nothing.
ShelfResult ShelfFill(const ShelfParams &params, MeshEditOp &edit) noexcept;

}  // namespace varlobooks
