#include "books/shelf_fill.h"

#include <cmath>
#include <new>

#include "books/book_mesh.h"
#include "books/geometry.h"
#include "books/limits.h"
#include "books/roles.h"

namespace varlobooks {
namespace {

bool isFiniteFloat(double value) {
    return std::isfinite(static_cast<float>(value));
}

// What the fill computes from must be finite, so that no point or thickness
// becomes infinite or NaN on the way.
bool fillable(const ShelfParams &params) {
    for (int i = 0; i < 3; ++i) {
        if (!std::isfinite(params.boxMin[i]) || !std::isfinite(params.boxMax[i])) return false;
    }
    if (params.axis < 0 || params.axis > 2) return false;
    return isFiniteFloat(params.minSize) && isFiniteFloat(params.maxSize) &&
           isFiniteFloat(params.rotation * kDegreesPerRadian) && std::isfinite(params.randomTop) &&
           std::isfinite(params.randomBottom) && std::isfinite(params.randomFront) &&
           std::isfinite(params.randomBack);
}

// A book's thickness from one draw u, bounded by MinSize and MaxSize; a
// zero thickness counts as positive, so the book stands forwards.
float thickness(float minF, float maxF, double length, double u) {
    float t = static_cast<float>(maxF * (length * u));
    if (minF > std::fabs(t)) t = t >= 0 ? minF : -minF;
    if (std::fabs(t) > maxF) t = t > 0 ? maxF : -maxF;
    return t;
}

// Sizes are lengths: a negative one counts as no length at all, so that no
// book runs past the box further than the largest book would.
float sizeUsed(double size) {
    return size < 0 ? 0.0f : static_cast<float>(size);
}

// The spine segments of the next book; Both draws the kind.
int spineSegmentsFor(const ShelfParams &params, BookRandom &random) {
    if (params.bookType == kBookSoftcover) return 0;
    if (params.bookType == kBookBoth) {
        const int kind = static_cast<int>(random.drawUnit() * 2);
        if (kind >= 1) return 0;
    }
    return params.segments;
}

}  // namespace

ShelfResult ShelfFill(const ShelfParams &params, MeshEditOp &edit) noexcept {
    Vector3 lo, hi;
    for (int i = 0; i < 3; ++i) {
        const bool ordered = params.boxMax[i] >= params.boxMin[i];
        lo[i] = ordered ? params.boxMin[i] : params.boxMax[i];
        hi[i] = ordered ? params.boxMax[i] : params.boxMin[i];
    }
    const AxisRoles roles = axisRoles(params.axis);
    const int T = roles.t, H = roles.h, D = roles.d;
    BookPlacement book{params.surfacePrefix, 0, lo, hi, params.axis, 0, 0};
    Vector3 &A = book.low;
    Vector3 &B = book.high;
    double position = lo[T];
    const float minF = sizeUsed(params.minSize);
    const float maxF = sizeUsed(params.maxSize);
    const double length = hi[T] - lo[T];
    // The thickness grows with the draw: the last draw gives the largest.
    const float largest = thickness(minF, maxF, length, 1.0);
    const double rotDeg = params.rotation * kDegreesPerRadian;

    ShelfResult result{};
    BookRandom &random = result.random;
    random.seed(static_cast<uint32_t>(params.seed));
    long pointsAdded = 0;
    BookMeshBuilder builder;
    const bool canFill = fillable(params);
    while (canFill && (hi[T] - minF) > position && book.index < kMaxBooksPerBuild) {
        // Where no draw can move the position on (no MaxSize, no length, or
        // a position too large for any thickness to change), the fill would
        // repeat forever: it ends. A single draw that does not advance makes
        // a book of no thickness, and the fill goes on.
        if (!(A[T] + largest > A[T])) break;
        B[T] = A[T] + thickness(minF, maxF, length, random.drawUnit());
        B[H] = hi[H] - params.randomTop * ((hi[H] - lo[H]) * random.drawUnit());
        A[H] = lo[H] + params.randomBottom * ((hi[H] - lo[H]) * random.drawUnit());
        A[D] = lo[D] + params.randomFront * ((hi[D] - lo[D]) * random.drawUnit());
        B[D] = hi[D] - params.randomBack * ((hi[D] - lo[D]) * random.drawUnit());
        book.tiltDegrees = static_cast<float>(random.drawUnit() * rotDeg);
        book.spineSegments = spineSegmentsFor(params, random);
        const int points = bookPointCount(spineSegmentsUsed(book.spineSegments));
        if (pointsAdded + points > kMaxPointsPerBuild) break;
        try {
            if (!builder.addBook(edit, book)) break;
        } catch (const std::bad_alloc &) {
            break;  // out of memory: the shelf ends with the books made
        }
        pointsAdded += points;
        A[T] = B[T];
        position = A[T];
        ++book.index;
    }
    result.bookCount = book.index;
    result.coverUVMap = edit.selectVertexMap(edit.state, kCoverMap, LWVMAP_TXUV, 2);
    return result;
}

}  // namespace varlobooks
