#include "books/book_mesh.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <numbers>

#include "books/limits.h"
#include "books/portable_trig.h"
#include "books/roles.h"

namespace varlobooks {
namespace {

bool isFinite(const Vector3 &v) {
    return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]);
}

Vector3 sum(const Vector3 &a, const Vector3 &b) {
    return {a[0] + b[0], a[1] + b[1], a[2] + b[2]};
}

// "<prefix><index>", cut to fit as snprintf would cut it: made for every
// book, where a format string's parsing would cost more than the text.
template <std::size_t Capacity>
void writeCoverName(char (&out)[Capacity], const char *prefix, int index) {
    std::size_t n = 0;
    for (; prefix[n] && n + 1 < Capacity; ++n)
        out[n] = prefix[n];
    char digits[16];
    const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, index);
    for (const char *d = digits; d < end && n + 1 < Capacity; ++d)
        out[n++] = *d;
    out[n] = '\0';
}

}  // namespace

bool BookMeshBuilder::addBook(MeshEditOp &edit, const BookPlacement &book) {
    const int n = spineSegmentsUsed(book.spineSegments);
    reversed_ = book.axis != 0;
    char coverName[kCoverNameCapacity];
    writeCoverName(coverName, book.surfacePrefix, book.index);
    if (!placePoints(book, n)) return false;
    addBlock(edit, coverName);
    addSpine(edit, coverName, n);
    return true;
}

// Positions in the order they are added: P0..P7, then L1, U1, ..., Ln, Un;
// computed whole first so that a book with a point that is not finite adds
// nothing.
bool BookMeshBuilder::placePoints(const BookPlacement &book, int n) {
    const AxisRoles roles = axisRoles(book.axis);
    const Vector3 &A = book.low;
    const Vector3 &B = book.high;
    Vector3 M, a;
    for (int i = 0; i < 3; ++i) {
        M[i] = (B[i] - A[i]) / 2 + A[i];
        a[i] = A[i] - M[i];
    }
    Vector3 tVec{}, hVec{}, dVec{};
    tVec[roles.t] = (B[roles.t] - M[roles.t]) - (A[roles.t] - M[roles.t]);
    hVec[roles.h] = (B[roles.h] - M[roles.h]) - (A[roles.h] - M[roles.h]);
    dVec[roles.d] = (B[roles.d] - M[roles.d]) - (A[roles.d] - M[roles.d]);
    const Vector3 tHalf{tVec[0] / 2, tVec[1] / 2, tVec[2] / 2};
    const float r = static_cast<float>(
        std::sqrt(tHalf[0] * tHalf[0] + tHalf[1] * tHalf[1] + tHalf[2] * tHalf[2]));
    Vector3 rVec = dVec;
    setVectorLength(rVec, r);

    positions_.resize(bookPointCount(n));
    Vector3 *p = positions_.data();
    p[0] = sum(a, rVec);
    p[1] = sum(sum(a, tVec), rVec);
    p[2] = sum(sum(a, tVec), dVec);
    p[3] = sum(a, dVec);
    for (int i = 0; i < 4; ++i)
        p[4 + i] = sum(p[i], hVec);
    const Vector3 arcCentre = sum(sum(a, tHalf), rVec);
    const std::vector<ArcAngle> &arc = arcAngles(n);
    for (int k = 1; k <= n; ++k) {
        const auto [sn, cs] = arc[k - 1];
        Vector3 &lower = p[8 + 2 * (k - 1)];
        for (int i = 0; i < 3; ++i)
            lower[i] = (arcCentre[i] + sn * tHalf[i]) + cs * rVec[i];
        p[9 + 2 * (k - 1)] = sum(lower, hVec);
    }
    const Matrix3 tilt = rotationAboutAxis(static_cast<float>(book.tiltDegrees), book.axis);
    for (Vector3 &v : positions_) {
        vectorTimesMatrix3(v, tilt, v);
        v = sum(v, M);
        if (!isFinite(v)) return false;
    }
    // Every working list is sized before the first point goes to the host,
    // so that a failed allocation can only come before the book is begun.
    ids_.resize(positions_.size());
    lower_.resize(n + 2);
    upper_.resize(n + 2);
    passed_.resize(n + 2);
    return true;
}

// The sine and cosine of each arc point's angle for n segments, made once
// for every book that has n: the same values as computing them per book.
const std::vector<BookMeshBuilder::ArcAngle> &BookMeshBuilder::arcAngles(int n) {
    if (arcs_.size() <= std::size_t(n)) arcs_.resize(std::size_t(n) + 1);
    std::vector<ArcAngle> &arc = arcs_[std::size_t(n)];
    if (arc.size() != std::size_t(n)) {
        arc.resize(std::size_t(n));
        for (int k = 1; k <= n; ++k) {
            const double theta =
                std::numbers::pi / 2 + std::numbers::pi * (1.0 - static_cast<double>(k) / (n + 1));
            arc[k - 1] = {portableSin(theta), portableCos(theta)};
        }
    }
    return arc;
}

void BookMeshBuilder::addPoints(MeshEditOp &edit, int from, int to) {
    for (int i = from; i < to; ++i)
        ids_[i] = edit.addPoint(edit.state, positions_[i].data());
}

// The page block: bottom and top, the two covers and the fore edge.
void BookMeshBuilder::addBlock(MeshEditOp &edit, const char *coverName) {
    const LWPntID *P = ids_.data();
    addPoints(edit, 0, 4);
    addQuad(edit, kPageSurface, kPageMap, {P[0], P[1], P[2], P[3]},
            {{0, 0.02f}, {1, 0.02f}, {1, 0.3f}, {0, 0.3f}});
    addPoints(edit, 4, 8);
    addQuad(edit, kPageSurface, kPageMap, {P[7], P[6], P[5], P[4]},
            {{0, 0.98f}, {1, 0.98f}, {1, 0.7f}, {0, 0.7f}});
    addQuad(edit, coverName, kCoverMap, {P[5], P[6], P[2], P[1]},
            {{0.55f, 1}, {1, 1}, {1, 0}, {0.55f, 0}});
    addQuad(edit, coverName, kCoverMap, {P[7], P[4], P[0], P[3]},
            {{0, 1}, {0.45f, 1}, {0.45f, 0}, {0, 0}});
    addQuad(edit, kPageSurface, kPageMap, {P[6], P[7], P[3], P[2]},
            {{1, 0.7f}, {0, 0.7f}, {0, 0.3f}, {1, 0.3f}});
}

// The spine: n + 1 quads from the front edge of one cover round to the
// other, and the two caps that close it at the bottom and the top.
void BookMeshBuilder::addSpine(MeshEditOp &edit, const char *coverName, int n) {
    const LWPntID *P = ids_.data();
    // lower: P0, L1..Ln, P1; upper: P5, Un..U1, P4.
    addPoints(edit, 8, 8 + 2 * n);
    for (int k = 1; k <= n; ++k) {
        lower_[k] = P[8 + 2 * (k - 1)];
        upper_[n + 1 - k] = P[9 + 2 * (k - 1)];
    }
    lower_[0] = P[0];
    lower_[n + 1] = P[1];
    upper_[0] = P[5];
    upper_[n + 1] = P[4];

    const float step = static_cast<float>(0.1 / (n + 1));
    auto spineU = [step](int j) {
        return static_cast<float>(0.55 - static_cast<double>(static_cast<float>(j) * step));
    };
    for (int j = 0; j <= n; ++j) {
        const float u0 = spineU(j);
        const float u1 = spineU(j + 1);
        addQuad(edit, coverName, kCoverMap,
                {lower_[n + 1 - j], lower_[n - j], upper_[j + 1], upper_[j]},
                {{u0, 0}, {u1, 0}, {u1, 1}, {u0, 1}});
    }
    addCap(edit, lower_, false);
    addCap(edit, upper_, true);
}

LWPolID BookMeshBuilder::addQuad(MeshEditOp &edit, const char *surface, const char *map,
                                 const std::array<LWPntID, 4> &points, const float (&uv)[4][2]) {
    std::array<LWPntID, 4> list = points;
    if (reversed_) std::reverse(list.begin(), list.end());
    LWPolID polygon = edit.addFace(edit.state, surface, 4, list.data());
    // The values go by position in the list as passed, reversed or not.
    for (int i = 0; i < 4; ++i) {
        float value[2] = {uv[i][0], uv[i][1]};
        edit.pntVPMap(edit.state, list[i], polygon, LWVMAP_TXUV, map, 2, value);
    }
    return polygon;
}

// A cap over a spine list. Its values stay with the points whatever the
// axis. Bottom (lower list P0, L1..Ln, P1): P0, L1..Ln, P1. Top (upper list
// P5, Un..U1, P4): P4, Un down to U1, P5. Arc point k gets u = (k-1)/(n-1).
void BookMeshBuilder::addCap(MeshEditOp &edit, const std::vector<LWPntID> &list, bool top) {
    const int n = static_cast<int>(list.size()) - 2;
    std::copy(list.begin(), list.end(), passed_.begin());
    if (reversed_) std::reverse(passed_.begin(), passed_.end());
    LWPolID polygon = edit.addFace(edit.state, kPageSurface, n + 2, passed_.data());
    auto write = [&](LWPntID point, float u, float v) {
        float value[2] = {u, v};
        edit.pntVPMap(edit.state, point, polygon, LWVMAP_TXUV, kPageMap, 2, value);
    };
    auto arcU = [n](int k) {
        // A single arc point has no (k - 1) / (n - 1): it sits half-way.
        return n == 1 ? 0.5f : static_cast<float>(k - 1) / static_cast<float>(n - 1);
    };
    if (!top) {
        write(list[0], 0, 0.02f);
        for (int k = 1; k <= n; ++k)
            write(list[k], arcU(k), 0);
        write(list[n + 1], 1, 0.02f);
    } else {
        write(list[n + 1], 0, 0.98f);
        for (int k = n; k >= 1; --k)
            write(list[n + 1 - k], arcU(k), 1);
        write(list[0], 1, 0.98f);
    }
}

}  // namespace varlobooks
