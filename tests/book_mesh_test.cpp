// One book's points, polygons, surfaces and UV values.
#include <gtest/gtest.h>

#include "books/book_mesh.h"
#include "layer_support.h"
#include "modeler/services/edit_operations.h"
#include "modeler/services/service_host.h"

using modeler::Host;
using modeler::Layer;
using testing_support::surfaceOf;
using testing_support::uvCorners;
using varlobooks::BookMeshBuilder;
using varlobooks::Vector3;

namespace {

// Builds one book into a fresh host's layer.
struct OneBook {
    Host host;
    Host::Serving serving{host};
    explicit OneBook(int segments, int axis = 0, double tilt = 0, const char *prefix = "book_",
                     int index = 0, Vector3 a = {10, 20, 30}, Vector3 b = {10.4, 22, 33}) {
        modeler::MeshEdit edit(host);
        BookMeshBuilder builder;
        EXPECT_TRUE(builder.addBook(*edit.op(), {prefix, index, a, b, axis, tilt, segments}));
        edit.close();
        EXPECT_TRUE(host.faults().empty());
    }
    const Layer &layer() { return host.scene().layer(); }
    const modeler::Point &point(int i) { return layer().points()[i]; }
};

void expectNear(const modeler::Point &p, Vector3 expected, double tolerance = 1e-6) {
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(p[i], expected[i], tolerance) << "coordinate " << i;
}

}  // namespace

TEST(BookMesh, ThreeSegmentHardcoverPointsLieOnTheSpineArc) {
    OneBook book(3);
    expectNear(book.point(0), {10, 20, 30.2});
    // The depth is rescaled to the single-precision radius by a single-precision factor.
    const float factor = 0.2f / 3.0f;
    EXPECT_EQ(book.point(0)[2], (-1.5 + 3.0 * double(factor)) + 31.5);
    expectNear(book.point(6), {10.4, 22, 33});
    // L1, L2, L3 are points 8, 10, 12; U_k follow each.
    expectNear(book.point(8), {10.0585786, 20, 30.0585786});
    expectNear(book.point(10), {10.2, 20, 30});
    expectNear(book.point(12), {10.3414214, 20, 30.0585786});
    expectNear(book.point(9), {10.0585786, 22, 30.0585786});
}

TEST(BookMesh, TiltTurnsAboutTheFillAxisThroughTheCentre) {
    OneBook flat(3), tilted(3, 0, 30.0);
    for (std::size_t i = 0; i < flat.layer().points().size(); ++i) {
        EXPECT_EQ(tilted.point(i)[0], flat.point(i)[0]);
    }
    expectNear(tilted.point(0), {10, 20.78397, 29.87417}, 1e-5);
    // The top leans towards the back (high D) with axis 0.
    EXPECT_GT(tilted.point(7)[2], flat.point(7)[2]);
}

TEST(BookMesh, CountsFollowTheSegmentFormulas) {
    for (int n : {0, 1, 3, 8}) {
        OneBook book(n);
        EXPECT_EQ(book.layer().points().size(), std::size_t(8 + 2 * n));
        EXPECT_EQ(book.layer().polygons().size(), std::size_t(n + 8));
        EXPECT_EQ(book.layer().valueCount(), std::size_t(6 * n + 28));
    }
}

TEST(BookMesh, NegativeSegmentsBuildTheFlatSpine) {
    OneBook negative(-3), flat(0);
    EXPECT_EQ(negative.layer().points(), flat.layer().points());
    ASSERT_EQ(negative.layer().polygons().size(), flat.layer().polygons().size());
    for (uint32_t p = 0; p < flat.layer().polygons().size(); ++p) {
        const auto a =
            uvCorners(negative.layer(), p,
                      surfaceOf(flat.layer(), p) == "bookpages" ? "bookpages" : "bookcover");
        const auto b = uvCorners(
            flat.layer(), p, surfaceOf(flat.layer(), p) == "bookpages" ? "bookpages" : "bookcover");
        ASSERT_EQ(a.size(), b.size());
        for (std::size_t i = 0; i < a.size(); ++i) {
            EXPECT_EQ(a[i].point, b[i].point);
            EXPECT_EQ(a[i].u, b[i].u);
            EXPECT_EQ(a[i].v, b[i].v);
        }
    }
}

TEST(BookMesh, FlatSpineIsOneQuadWithTwoPointCaps) {
    OneBook book(0);
    const Layer &layer = book.layer();
    // Q0..Q4, S0, bottom cap, top cap.
    const auto spine = uvCorners(layer, 5, "bookcover");
    ASSERT_EQ(spine.size(), 4u);
    EXPECT_EQ(spine[0].point, 1u);
    EXPECT_EQ(spine[1].point, 0u);
    EXPECT_EQ(spine[2].point, 4u);
    EXPECT_EQ(spine[3].point, 5u);
    EXPECT_FLOAT_EQ(spine[0].u, 0.55f);
    EXPECT_FLOAT_EQ(spine[1].u, 0.45f);
    const auto bottom = uvCorners(layer, 6, "bookpages");
    const auto top = uvCorners(layer, 7, "bookpages");
    ASSERT_EQ(bottom.size(), 2u);
    EXPECT_EQ(bottom[0].point, 0u);
    EXPECT_EQ(bottom[0].v, 0.02f);
    EXPECT_EQ(bottom[1].u, 1.0f);
    ASSERT_EQ(top.size(), 2u);
    EXPECT_EQ(top[0].point, 5u);
    EXPECT_EQ(top[0].u, 1.0f);
    EXPECT_EQ(top[0].v, 0.98f);
    EXPECT_EQ(top[1].point, 4u);
    EXPECT_EQ(top[1].u, 0.0f);
}

TEST(BookMesh, SurfacesAndSingleArcPointCaps) {
    OneBook book(1, 0, 0, "shelf", 12);
    const Layer &layer = book.layer();
    const char *expected[] = {"bookpages", "bookpages", "shelf12",   "shelf12",  "bookpages",
                              "shelf12",   "shelf12",   "bookpages", "bookpages"};
    ASSERT_EQ(layer.polygons().size(), 9u);
    for (uint32_t p = 0; p < 9; ++p)
        EXPECT_EQ(surfaceOf(layer, p), expected[p]) << p;
    // n = 1: the lone arc point sits half-way in u.
    EXPECT_EQ(uvCorners(layer, 7, "bookpages")[1].u, 0.5f);
    EXPECT_EQ(uvCorners(layer, 8, "bookpages")[1].u, 0.5f);
}

TEST(BookMesh, OtherAxesReverseTheListsButKeepCornerRoles) {
    // A = (10, 20, 30) in T, H, D: with axis 1 T is Y and H is X; axis 2 T is Z, D is X.
    OneBook x(2, 0);
    OneBook y(2, 1, 0, "book_", 0, {20, 10, 30}, {22, 10.4, 33});
    OneBook z(2, 2, 0, "book_", 0, {30, 20, 10}, {33, 22, 10.4});
    for (std::size_t i = 0; i < x.layer().points().size(); ++i) {
        const auto &px = x.point(i);
        EXPECT_DOUBLE_EQ(y.point(i)[1], px[0]);
        EXPECT_DOUBLE_EQ(y.point(i)[0], px[1]);
        EXPECT_DOUBLE_EQ(y.point(i)[2], px[2]);
    }
    for (OneBook *book : {&y, &z}) {
        const auto q0 = uvCorners(book->layer(), 0, "bookpages");
        ASSERT_EQ(q0.size(), 4u);
        EXPECT_EQ(q0[0].point, 3u);
        EXPECT_EQ(q0[3].point, 0u);
        EXPECT_EQ(q0[0].u, 0.0f);
        EXPECT_EQ(q0[0].v, 0.02f);
        // Cap values stay with their points: P0 keeps (0, 0.02) at the list's end.
        const auto cap = uvCorners(book->layer(), 8, "bookpages");
        EXPECT_EQ(cap.back().point, 0u);
        EXPECT_EQ(cap.back().v, 0.02f);
    }
}
