#include "books/shelf_fill.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "books/book_mesh.h"
#include "books/limits.h"
#include "books/roles.h"
#include "tool/book_tool.h"

namespace varlobooks {
namespace {

bool isFiniteFloat(double value) {
    return std::isfinite(static_cast<float>(value));
}

// What the fill computes from must be finite, so that no point or thickness
// becomes infinite or NaN on the way.
bool fillable(const BookTool &tool) {
    for (int i = 0; i < 3; ++i) {
        if (!std::isfinite(tool.boxMin[i]) || !std::isfinite(tool.boxMax[i])) return false;
    }
    if (tool.axis < 0 || tool.axis > 2) return false;
    return isFiniteFloat(tool.minSize) && isFiniteFloat(tool.maxSize) &&
           isFiniteFloat(tool.rotation * 57.29577951308232) && std::isfinite(tool.randomTop) &&
           std::isfinite(tool.randomBottom) && std::isfinite(tool.randomFront) &&
           std::isfinite(tool.randomBack);
}

}  // namespace

int ShelfFill(BookTool &tool, MeshEditOp &edit) {
    Vector3 lo, hi;
    for (int i = 0; i < 3; ++i) {
        const bool ordered = tool.boxMax[i] >= tool.boxMin[i];
        lo[i] = ordered ? tool.boxMin[i] : tool.boxMax[i];
        hi[i] = ordered ? tool.boxMax[i] : tool.boxMin[i];
    }
    const AxisRoles roles = axisRoles(tool.axis);
    const int T = roles.t, H = roles.h, D = roles.d;
    Vector3 A = lo, B = hi;
    double position = lo[T];
    const float minF = static_cast<float>(tool.minSize);
    const float maxF = static_cast<float>(tool.maxSize);
    const double rotDeg = tool.rotation * 57.29577951308232;

    tool.bookCount = 0;
    tool.random.seed(static_cast<uint32_t>(tool.seed));
    int count = 0;
    long pointsAdded = 0;
    BookMeshBuilder builder;
    const bool canFill = fillable(tool);
    while (canFill && (hi[T] - minF) > position && count < kMaxBooksPerBuild) {
        float t = static_cast<float>(maxF * ((hi[T] - lo[T]) * tool.random.drawUnit()));
        // A zero thickness counts as positive, so the book stands forwards.
        if (minF > std::fabs(t)) t = t >= 0 ? minF : -minF;
        if (std::fabs(t) > maxF) t = t > 0 ? maxF : -maxF;
        B[T] = A[T] + t;
        // A book that does not move the position on would repeat forever.
        if (!(B[T] > A[T])) break;
        B[H] = hi[H] - tool.randomTop * ((hi[H] - lo[H]) * tool.random.drawUnit());
        A[H] = lo[H] + tool.randomBottom * ((hi[H] - lo[H]) * tool.random.drawUnit());
        A[D] = lo[D] + tool.randomFront * ((hi[D] - lo[D]) * tool.random.drawUnit());
        B[D] = hi[D] - tool.randomBack * ((hi[D] - lo[D]) * tool.random.drawUnit());
        const float tilt = static_cast<float>(tool.random.drawUnit() * rotDeg);
        int segments = tool.segments;
        if (tool.bookType == 1) {
            segments = 0;
        } else if (tool.bookType == 2) {
            const int kind = static_cast<int>(tool.random.drawUnit() * 2);
            if (kind >= 1) segments = 0;
        }
        const int points = bookPointCount(spineSegmentsUsed(segments));
        if (pointsAdded + points > kMaxPointsPerBuild) break;
        if (!builder.addBook(tool.surfacePrefix, edit, A, B, tool.axis, tilt, count, segments)) {
            break;
        }
        pointsAdded += points;
        A[T] = B[T];
        position = A[T];
        ++count;
    }
    tool.bookCount = count;
    tool.coverUVMap = edit.selectVertexMap(edit.state, kCoverMap, LWVMAP_TXUV, 2);
    return 0;
}

int shelfFillBuild(LWInstance instance, MeshEditOp *edit) {
    return ShelfFill(*static_cast<BookTool *>(instance), *edit);
}

}  // namespace varlobooks
