// Filling the drag box with a row of random books: the tool's build.
#pragma once

#include "host/meshedit.h"

namespace varlobooks {

struct BookTool;

// Fills tool's box along tool.axis from its low end, reseeding tool.random
// with tool.seed; sets tool.bookCount and tool.coverUVMap. Returns 0.
// A box or parameter that is not a finite number, or an axis other than
// 0, 1, 2, makes no books.
int ShelfFill(BookTool &tool, MeshEditOp &edit);

// The build slot of the host's record.
int shelfFillBuild(LWInstance instance, MeshEditOp *edit);

}  // namespace varlobooks
