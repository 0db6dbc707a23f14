// The mesh of one book: a page block whose spine side is set back by half
// the thickness, closed by a flat or half-round spine, as one closed shell.
#pragma once

#include <algorithm>
#include <array>
#include <vector>

#include "books/geometry.h"
#include "books/limits.h"
#include "host/meshedit.h"

namespace varlobooks {

// Points per book: 8 + 2n; polygons: n + 8; UV values: 6n + 28, for n spine
// segments (0: a flat spine).
constexpr int bookPointCount(int segments) {
    return 8 + 2 * segments;
}
// The segments a book is built with: negative counts as 0, and no more
// than kMaxSpineSegments.
constexpr int spineSegmentsUsed(int requested) {
    return std::clamp(requested, 0, kMaxSpineSegments);
}
constexpr int bookPolygonCount(int segments) {
    return segments + 8;
}
constexpr int bookUVValueCount(int segments) {
    return 6 * segments + 28;
}

inline constexpr const char *kPageSurface = "bookpages";
inline constexpr const char *kPageMap = "bookpages";
inline constexpr const char *kCoverMap = "bookcover";

// Adds books to the layer of one build. Keeps its working lists between
// books so that a long shelf does not allocate per book.
class BookMeshBuilder {
  public:
    // Adds the book spanning lowCorner..highCorner along fill axis 0, 1 or 2,
    // tilted by tiltDegrees about that axis through its centre, with cover
    // surface "<prefix><bookIndex>". spineSegments below 0 counts as 0 and is
    // capped at kMaxSpineSegments. Returns false and adds nothing when a
    // position would not be a finite number.
    bool addBook(const char *surfacePrefix, MeshEditOp &edit, const Vector3 &lowCorner,
                 const Vector3 &highCorner, int axis, double tiltDegrees, int bookIndex,
                 int spineSegments);

  private:
    LWPolID addQuad(MeshEditOp &edit, const char *surface, const char *map,
                    const std::array<LWPntID, 4> &points, const float (&uv)[4][2]);
    void addCap(MeshEditOp &edit, const std::vector<LWPntID> &list, bool top);

    bool reversed_ = false;
    std::vector<Vector3> positions_;
    std::vector<LWPntID> ids_;
    std::vector<LWPntID> lower_;
    std::vector<LWPntID> upper_;
    std::vector<LWPntID> passed_;
};

}  // namespace varlobooks
