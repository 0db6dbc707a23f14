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

// One book: its corners, the fill axis, its tilt and its cover name.
struct BookPlacement {
    const char *surfacePrefix;  // the cover surface is "<prefix><index>"; not null
    int index;
    Vector3 low, high;   // opposite corners of the book's box
    int axis;            // fill axis 0, 1 or 2
    double tiltDegrees;  // about the fill axis, through the book's centre
    int spineSegments;   // below 0 counts as 0; capped at kMaxSpineSegments
};

// Adds books to the layer of one build. Keeps its working lists between
// books so that a long shelf does not allocate per book.
class BookMeshBuilder {
  public:
    // Adds the book's points, faces and UV values. Returns false and adds
    // nothing when a position would not be a finite number. Throws
    // std::bad_alloc only before anything of the book was added.
    bool addBook(MeshEditOp &edit, const BookPlacement &book);

  private:
    struct ArcAngle {
        double sine, cosine;
    };
    bool placePoints(const BookPlacement &book, int segments);
    const std::vector<ArcAngle> &arcAngles(int segments);
    void addPoints(MeshEditOp &edit, int from, int to);
    void addBlock(MeshEditOp &edit, const char *coverName);
    void addSpine(MeshEditOp &edit, const char *coverName, int segments);
    LWPolID addQuad(MeshEditOp &edit, const char *surface, const char *map,
                    const std::array<LWPntID, 4> &points, const float (&uv)[4][2]);
    void addCap(MeshEditOp &edit, const std::vector<LWPntID> &list, bool top);

    bool reversed_ = false;
    std::vector<Vector3> positions_;
    std::vector<LWPntID> ids_;
    std::vector<LWPntID> lower_;
    std::vector<LWPntID> upper_;
    std::vector<LWPntID> passed_;
    // By segment count, made when first needed: a shelf of both kinds
    // alternates between two counts.
    std::vector<std::vector<ArcAngle>> arcs_;
};

}  // namespace varlobooks
