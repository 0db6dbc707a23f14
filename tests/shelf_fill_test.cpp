// Filling the box through the real module's build slot into the host's layer.
#include <cmath>
#include <map>
#include <set>

#include "books/limits.h"
#include "books/shelf_fill.h"
#include "layer_support.h"
#include "modeler/export/json_export.h"
#include "support.h"

using testing_support::surfaceOf;
using testing_support::ToolSession;
using testing_support::uvCorners;

namespace {

// The points of each book, found through its cover surface.
std::map<std::string, std::set<uint32_t>> pointsByCover(const modeler::Layer &layer) {
    std::map<std::string, std::set<uint32_t>> books;
    for (uint32_t p = 0; p < layer.polygons().size(); ++p) {
        if (surfaceOf(layer, p) == "bookpages") continue;
        for (uint32_t point : layer.polygonPoints(p))
            books[surfaceOf(layer, p)].insert(point);
    }
    return books;
}

}  // namespace

TEST(ShelfFill, WorkedExampleThroughTheRealModule) {
    ToolSession s;
    s.buildBox({0, 0, 0}, {1, 0.5f, 0.3f}, 0);
    EXPECT_EQ(s.tool().bookCount, 27);
    ASSERT_EQ(s.driver.builds().size(), 1u);
    const modeler::BuildReport &build = s.driver.builds().back();
    EXPECT_EQ(build.points, 456u);
    EXPECT_EQ(build.polygons, 336u);
    EXPECT_EQ(build.shells, 27u);
    const auto &pts = s.layer().points();
    // Book 0: A = (0, 0, 0.0044624), B = (0.005, 0.4764428, 0.2918928), 8 segments.
    EXPECT_NEAR(pts[0][0], 0, 1e-12);
    EXPECT_NEAR(pts[3][2] - 0.0, 0.2918928, 1e-7);
    EXPECT_NEAR(pts[6][0], 0.005, 1e-9);
    EXPECT_NEAR(pts[6][1], 0.4764428, 1e-7);
    EXPECT_NEAR(pts[0][2], 0.0044624 + 0.0025, 1e-7);
    // Book 1 is a hardcover book from x 0.005 to 0.0838232; book 2 is softcover.
    const auto books = pointsByCover(s.layer());
    EXPECT_EQ(books.at("book_0").size(), 24u);
    const uint32_t book1 = 24;
    EXPECT_NEAR(pts[book1][0], 0.005, 1e-9);
    EXPECT_NEAR(pts[book1 + 1][0], 0.0838232, 1e-7);
    EXPECT_EQ(s.layer().polygons()[16 + 16 + 5].cornerCount, 4u);
    EXPECT_EQ(s.layer().polygons()[16 + 16 + 6].cornerCount, 2u) << "book 2's caps are two-point";
    EXPECT_NE(s.tool().coverUVMap, nullptr);
    EXPECT_EQ(s.tool().coverUVMap, s.layer().findVertexMap(LWVMAP_TXUV, "bookcover", 2));
}

TEST(ShelfFill, UnorderedBoxMakesTheOrderedShelf) {
    ToolSession ordered, unordered;
    ordered.buildBox({-1, 0, 2}, {1, 0.5f, 2.3f}, 77);
    unordered.buildBox({1, 0.5f, 2}, {-1, 0, 2.3f}, 77);
    EXPECT_EQ(modeler::sceneToJson(ordered.host.scene()),
              modeler::sceneToJson(unordered.host.scene()));
    unordered.driver.event(LWTOOL_EVENT_ACTIVATE);
    std::swap(unordered.tool().boxMin[2], unordered.tool().boxMax[2]);
    unordered.driver.event(LWTOOL_EVENT_ACTIVATE);
    EXPECT_EQ(modeler::sceneToJson(ordered.host.scene()),
              modeler::sceneToJson(unordered.host.scene()));
}

TEST(ShelfFill, BoxNoLongerThanMinSizeMakesNoBookButSelectsTheMap) {
    ToolSession s;
    s.buildBox({0, 0, 0}, {0.005f, 1, 1});
    EXPECT_EQ(s.tool().bookCount, 0);
    EXPECT_EQ(s.layer().points().size(), 0u);
    EXPECT_NE(s.tool().coverUVMap, nullptr);
}

namespace {

// A seed whose first draw is 0: the first book's thickness draw.
int32_t seedDrawingZeroFirst() {
    for (int32_t seed = 0;; ++seed) {
        varlobooks::BookRandom r;
        r.seed(static_cast<uint32_t>(seed));
        if (r.draw() == 0) return seed;
    }
}

}  // namespace

TEST(ShelfFill, ZeroThicknessDrawStandsForwards) {
    const int32_t seed = seedDrawingZeroFirst();
    ToolSession s;
    s.buildBox({0, 0, 0}, {1, 0.5f, 0.3f}, seed);
    const auto &pts = s.layer().points();
    EXPECT_EQ(pts[0][0], 0.0);
    EXPECT_NEAR(pts[1][0], 0.005, 1e-9) << "book 0 runs forwards by MinSize";
    // No book starts before the box.
    for (const auto &p : pts)
        EXPECT_GE(p[0], -1e-12);
}

// With no MinSize a draw of 0 makes a book of no thickness; the shelf goes
// on behind it instead of ending there.
TEST(ShelfFill, ZeroThicknessBookDoesNotEndTheShelf) {
    ToolSession s;
    s.tool().minSize = 0;
    s.buildBox({0, 0, 0}, {1, 0.5f, 0.3f}, seedDrawingZeroFirst());
    EXPECT_GT(s.tool().bookCount, 10);
    const auto &pts = s.layer().points();
    EXPECT_EQ(pts[0][0], pts[1][0]) << "book 0 has no thickness";
}

// A negative size is no length: the books stay within the box as with a
// size of 0, the last reaching past it by less than MaxSize.
TEST(ShelfFill, NegativeSizesCountAsZero) {
    ToolSession negative, zero;
    negative.tool().minSize = -1;
    zero.tool().minSize = 0;
    negative.buildBox({0, 0, 0}, {1, 0.5f, 0.3f}, 7);
    zero.buildBox({0, 0, 0}, {1, 0.5f, 0.3f}, 7);
    EXPECT_EQ(modeler::sceneToJson(negative.host.scene()), modeler::sceneToJson(zero.host.scene()));
    for (const auto &p : negative.layer().points())
        EXPECT_LT(p[0], 1 + negative.tool().maxSize);
    ToolSession both;
    both.tool().minSize = both.tool().maxSize = -1;
    both.buildBox({0, 0, 0}, {1, 0.5f, 0.3f}, 7);
    EXPECT_EQ(both.tool().bookCount, 0) << "no size: no book can advance";
}

namespace {

// A mesh edit that only counts what a fill adds, so that the largest fills
// can be checked in a moment.
struct CountingEdit {
    std::size_t points = 0, polygons = 0;
    MeshEditOp op{reinterpret_cast<EDStateRef>(this), addPoint, addFace, setValue, selectMap};

    static CountingEdit &of(EDStateRef state) { return *reinterpret_cast<CountingEdit *>(state); }
    static LWPntID addPoint(EDStateRef state, double *) {
        return reinterpret_cast<LWPntID>(++of(state).points);
    }
    static LWPolID addFace(EDStateRef state, const char *, int, const LWPntID *) {
        return reinterpret_cast<LWPolID>(++of(state).polygons);
    }
    static EDError setValue(EDStateRef, LWPntID, LWPolID, LWID, const char *, int, float *) {
        return EDERR_NONE;
    }
    static void *selectMap(EDStateRef state, const char *, LWID, int) { return state; }
};

// The tool's defaults with a box from the origin to far.
varlobooks::ShelfParams defaultParams(std::array<float, 3> far) {
    return {{0, 0, 0}, {far[0], far[1], far[2]},
            0,         varlobooks::kBookBoth,
            8,         0.005,
            0.08,      0,
            0.2,       0,
            0.2,       0.1,
            "book_",   0};
}

}  // namespace

TEST(ShelfFill, FillAlwaysEndsAndIsBounded) {
    {
        // Through the host: books that do not advance end the fill.
        ToolSession s;
        s.tool().maxSize = 0;
        s.buildBox({0, 0, 0}, {1, 1, 1});
        EXPECT_EQ(s.tool().bookCount, 0) << "books that do not advance end the fill";
        EXPECT_TRUE(s.layer().points().empty());
    }
    auto fill = [](const varlobooks::ShelfParams &params, CountingEdit &edit) {
        return varlobooks::ShelfFill(params, edit.op).bookCount;
    };
    {
        // A box flat along the fill axis with a negative MinSize: every thickness is 0.
        auto params = defaultParams({0, 1, 1});
        params.minSize = -0.01;
        CountingEdit edit;
        EXPECT_EQ(fill(params, edit), 0);
    }
    {
        auto params = defaultParams({1e6f, 1, 1});
        params.bookType = varlobooks::kBookSoftcover;
        params.minSize = params.maxSize = 1e-3;
        CountingEdit edit;
        EXPECT_EQ(fill(params, edit), varlobooks::kMaxBooksPerBuild);
        EXPECT_EQ(edit.points, std::size_t(8) * varlobooks::kMaxBooksPerBuild);
    }
    {
        // A segment count past the cap builds books of the cap's segments.
        auto params = defaultParams({0.01f, 1, 1});
        params.bookType = varlobooks::kBookHardcover;
        params.segments = 1 << 30;
        CountingEdit edit;
        const int books = fill(params, edit);
        EXPECT_GT(books, 0);
        EXPECT_EQ(edit.points, std::size_t(8 + 2 * varlobooks::kMaxSpineSegments) * books);
    }
    {
        // Many books of many segments stop at the points a build may make.
        auto params = defaultParams({100, 1, 1});
        params.bookType = varlobooks::kBookHardcover;
        params.segments = varlobooks::kMaxSpineSegments;
        params.minSize = params.maxSize = 1e-3;
        CountingEdit edit;
        const std::size_t perBook = 8 + 2 * varlobooks::kMaxSpineSegments;
        EXPECT_EQ(fill(params, edit), int(varlobooks::kMaxPointsPerBuild / perBook));
        EXPECT_LE(edit.points, std::size_t(varlobooks::kMaxPointsPerBuild));
    }
    {
        // The cap may be reached exactly: 80,000 books of 50 points make
        // 4,000,000, every one of them.
        auto params = defaultParams({1000, 1, 1});
        params.bookType = varlobooks::kBookHardcover;
        params.segments = 21;
        params.minSize = params.maxSize = 1e-3;
        CountingEdit edit;
        static_assert(varlobooks::kMaxPointsPerBuild % (8 + 2 * 21) == 0);
        EXPECT_EQ(fill(params, edit), int(varlobooks::kMaxPointsPerBuild / (8 + 2 * 21)));
        EXPECT_EQ(edit.points, std::size_t(varlobooks::kMaxPointsPerBuild));
    }
}

TEST(ShelfFill, NonFiniteBoxOrParametersMakeNoBooks) {
    const double nan = std::nan("");
    const double inf = HUGE_VAL;
    auto books = [](auto change) {
        ToolSession s;
        s.tool().boxMax[0] = 1;
        s.tool().boxMax[1] = s.tool().boxMax[2] = 0.5f;
        change(s.tool());
        s.driver.event(LWTOOL_EVENT_ACTIVATE);
        EXPECT_EQ(s.layer().points().size() > 0, s.tool().bookCount > 0);
        return s.tool().bookCount;
    };
    using varlobooks::BookTool;
    EXPECT_GT(books([](BookTool &) {}), 0);
    EXPECT_EQ(books([&](BookTool &t) { t.boxMin[1] = static_cast<float>(nan); }), 0);
    EXPECT_EQ(books([&](BookTool &t) { t.boxMax[2] = static_cast<float>(inf); }), 0);
    EXPECT_EQ(books([&](BookTool &t) { t.minSize = nan; }), 0);
    EXPECT_EQ(books([&](BookTool &t) { t.maxSize = inf; }), 0);
    EXPECT_EQ(books([&](BookTool &t) { t.rotation = 1e300; }), 0);
    EXPECT_EQ(books([&](BookTool &t) { t.randomTop = nan; }), 0);
    EXPECT_EQ(books([&](BookTool &t) { t.axis = 3; }), 0);
}

// Every book is one closed shell with consistent winding, books do not
// overlap along the fill axis, and every UV value lies in [0, 1].
TEST(ShelfFill, InvariantsOverSeedsAxesAndTypes) {
    for (int axis = 0; axis < 3; ++axis) {
        for (int type = 0; type < 3; ++type) {
            for (int32_t seed : {1, 99, 123456, 1700000000}) {
                ToolSession s;
                s.tool().axis = axis;
                s.tool().bookType = type;
                s.tool().rotation = 0.3;
                s.tool().segments = 5;
                s.tool().randomBottom = 0.3;
                s.buildBox({0.2f, -0.5f, 1}, {0.9f, 0.4f, 1.7f}, seed);
                SCOPED_TRACE("axis " + std::to_string(axis) + " type " + std::to_string(type) +
                             " seed " + std::to_string(seed));
                const modeler::Layer &layer = s.layer();
                ASSERT_GT(s.tool().bookCount, 3);
                EXPECT_EQ(s.driver.builds().back().shells, std::size_t(s.tool().bookCount));
                std::map<std::pair<uint32_t, uint32_t>, int> directed;
                for (uint32_t p = 0; p < layer.polygons().size(); ++p) {
                    const auto points = layer.polygonPoints(p);
                    for (const auto &corner : uvCorners(
                             layer, p,
                             surfaceOf(layer, p) == "bookpages" ? "bookpages" : "bookcover")) {
                        ASSERT_TRUE(corner.hasValue);
                        EXPECT_TRUE(corner.u >= 0 && corner.u <= 1 && corner.v >= 0 &&
                                    corner.v <= 1);
                    }
                    if (points.size() < 3) continue;
                    for (std::size_t i = 0; i < points.size(); ++i) {
                        ++directed[{points[i], points[(i + 1) % points.size()]}];
                    }
                }
                for (const auto &[edge, uses] : directed) {
                    EXPECT_EQ(uses, 1);
                    EXPECT_EQ(directed.count({edge.second, edge.first}), 1u) << "open edge";
                }
                const int T = axis == 1 ? 1 : axis == 2 ? 2 : 0;
                double previousEnd = -HUGE_VAL;
                const auto books = pointsByCover(layer);
                for (int book = 0; book < s.tool().bookCount; ++book) {
                    double lo = HUGE_VAL, hi = -HUGE_VAL;
                    for (uint32_t point : books.at("book_" + std::to_string(book))) {
                        lo = std::min(lo, layer.points()[point][T]);
                        hi = std::max(hi, layer.points()[point][T]);
                    }
                    EXPECT_GE(lo, previousEnd - 1e-12);
                    previousEnd = hi;
                }
            }
        }
    }
}
