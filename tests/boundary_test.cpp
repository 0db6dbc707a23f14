// Nothing is thrown back across the C boundary: when memory runs out inside
// the tool's build or done, the tool answers as the contract allows (a
// build that adds what it could; an instance still released).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "books/shelf_fill.h"
#include "host/services.h"
#include "host/xpanel.h"
#include "modeler/model/layer.h"
#include "modeler/services/edit_operations.h"
#include "modeler/services/service_host.h"
#include "module/activation.h"
#include "tool/book_tool.h"

namespace {

// Allocations left before the next one fails; negative: no limit.
long gAllocationsLeft = -1;

void *allocate(std::size_t size) {
    if (gAllocationsLeft == 0) throw std::bad_alloc();
    if (gAllocationsLeft > 0) --gAllocationsLeft;
    if (void *p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}

// A mesh edit that takes everything and keeps nothing.
struct NullEdit {
    std::size_t points = 0;
    MeshEditOp op{reinterpret_cast<EDStateRef>(this), addPoint, addFace, setValue, selectMap};
    static LWPntID addPoint(EDStateRef state, double *) {
        return reinterpret_cast<LWPntID>(++reinterpret_cast<NullEdit *>(state)->points);
    }
    static LWPolID addFace(EDStateRef, const char *, int, const LWPntID *) {
        return reinterpret_cast<LWPolID>(1);
    }
    static EDError setValue(EDStateRef, LWPntID, LWPolID, LWID, const char *, int, float *) {
        return EDERR_NONE;
    }
    static void *selectMap(EDStateRef state, const char *, LWID, int) { return state; }
};

struct Activated {
    modeler::Host host;
    modeler::Host::Serving serving{host};
    LWToolFuncs funcs{};
    LWMeshEditTool record{nullptr, &funcs, nullptr, nullptr, nullptr};
    Activated() {
        EXPECT_EQ(varlobooks::activateBookTool(1, host.globalLookup(), &record, nullptr), AFUNC_OK);
        auto &tool = *static_cast<varlobooks::BookTool *>(record.instance);
        tool.boxMax[0] = 1;
        tool.boxMax[1] = tool.boxMax[2] = 0.5f;
        tool.segments = 300;  // large working lists
        tool.bookType = varlobooks::kBookHardcover;
    }
    varlobooks::BookTool &tool() { return *static_cast<varlobooks::BookTool *>(record.instance); }
};

}  // namespace

void *operator new(std::size_t size) {
    return allocate(size);
}
void *operator new[](std::size_t size) {
    return allocate(size);
}
void *operator new(std::size_t size, const std::nothrow_t &) noexcept {
    try {
        return allocate(size);
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}
void *operator new[](std::size_t size, const std::nothrow_t &) noexcept {
    try {
        return allocate(size);
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}
void operator delete(void *p, const std::nothrow_t &) noexcept {
    std::free(p);
}
void operator delete[](void *p, const std::nothrow_t &) noexcept {
    std::free(p);
}
void operator delete(void *p) noexcept {
    std::free(p);
}
void operator delete[](void *p) noexcept {
    std::free(p);
}
void operator delete(void *p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void *p, std::size_t) noexcept {
    std::free(p);
}

TEST(Boundary, BuildThatRunsOutOfMemoryKeepsTheBooksItMade) {
    Activated a;
    NullEdit whole;
    ASSERT_EQ(a.record.build(a.record.instance, &whole.op), 0);
    const int all = a.tool().bookCount;
    ASSERT_GT(all, 0);
    // Fail the first allocation, then the second, ... until a build needs
    // no more than it is allowed.
    int cut = 0;
    for (long left = 0; left == 0 || (left < 100 && a.tool().bookCount != all); ++left) {
        NullEdit edit;
        gAllocationsLeft = left;
        int result = -1;
        EXPECT_NO_THROW(result = a.record.build(a.record.instance, &edit.op)) << left;
        gAllocationsLeft = -1;
        EXPECT_EQ(result, 0);
        cut += a.tool().bookCount < all;
        // Whole books only: every book made is all there.
        EXPECT_EQ(edit.points, std::size_t(a.tool().bookCount) * (8 + 2 * 300)) << left;
    }
    EXPECT_GT(cut, 0) << "some build ran out of memory";
    EXPECT_EQ(a.tool().bookCount, all);
    a.funcs.done(a.record.instance);
}

TEST(Boundary, DoneThatRunsOutOfMemoryStillReleasesTheTool) {
    for (long left = 0; left < 40; ++left) {
        Activated a;
        a.tool().segments = 8;
        NullEdit edit;
        a.record.build(a.record.instance, &edit.op);
        for (int i = 0; i < a.tool().bookCount; ++i)
            a.host.scene().addSurface("book_" + std::to_string(i));
        a.host.panels().setFormAnswer(SOURCE_DIR "/examples/covers");
        gAllocationsLeft = left;
        EXPECT_NO_THROW(a.funcs.done(a.record.instance)) << left;
        gAllocationsLeft = -1;
        // The sanitizer lane's leak check sees an instance not released.
    }
}

// The host's layer when memory runs out part-way through an edit: whatever
// step failed, the layer stays whole (every polygon's corners there, every
// surface found at its number, every set value with room for it) and the
// edit can still be taken back.
TEST(Boundary, LayerThatRunsOutOfMemoryStaysWhole) {
    // Books of a point triangle each: a surface, a polygon, a map value.
    auto addBooks = [](modeler::Layer &layer) {
        for (int i = 0; i < 40; ++i) {
            const uint32_t a = layer.addPoint({double(i), 0, 0});
            const uint32_t b = layer.addPoint({double(i), 1, 0});
            const uint32_t c = layer.addPoint({double(i), 1, 1});
            const uint32_t surface = layer.internSurface("cover " + std::to_string(i));
            const uint32_t corners[] = {a, b, c};
            const uint32_t polygon = layer.addPolygon(surface, corners);
            modeler::VertexMap &map = layer.vertexMap(LWVMAP_TXUV, i % 2 ? "page" : "cover", 2);
            const float uv[2] = {0.5f, float(i)};
            layer.setCornerValue(map, polygon, 1, uv);
            layer.setPointValue(map, a, uv);
        }
    };
    int failed = 0;
    for (long left = 0; left < 400; ++left) {
        modeler::Layer layer;
        layer.beginEdit();
        bool threw = false;
        gAllocationsLeft = left;
        try {
            addBooks(layer);
        } catch (const std::bad_alloc &) {
            threw = true;
        }
        gAllocationsLeft = -1;
        failed += threw;
        // The same again with memory to spare: it must find the layer whole.
        addBooks(layer);
        // Each polygon's corners follow the previous one's, and the last
        // ends the list: no polygon lost its corners to another.
        std::size_t corner = 0;
        for (std::size_t p = 0; p < layer.polygons().size(); ++p) {
            const modeler::Polygon &polygon = layer.polygons()[p];
            ASSERT_EQ(polygon.firstCorner, corner) << left;
            corner += polygon.cornerCount;
            ASSERT_LT(polygon.surface, layer.surfaceNames().size()) << left;
            const float uv[2] = {0.5f, 0};
            for (uint32_t c = 0; c < polygon.cornerCount; ++c)
                layer.setCornerValue(*layer.vertexMaps()[0], uint32_t(p), c, uv);
        }
        ASSERT_EQ(corner, layer.corners().size()) << left;
        for (std::size_t s = 0; s < layer.surfaceNames().size(); ++s)
            ASSERT_EQ(layer.internSurface(layer.surfaceNames()[s]), s) << left;
        ASSERT_EQ(layer.vertexMaps().size(), 2u) << left;
        for (const auto &map : layer.vertexMaps()) {
            ASSERT_EQ(layer.findVertexMap(map->type(), map->name(), map->dimension()), map.get());
        }
        layer.discardEdit();
        ASSERT_TRUE(layer.points().empty() && layer.polygons().empty() &&
                    layer.surfaceNames().empty() && layer.valueCount() == 0)
            << left;
        if (!threw) break;
    }
    EXPECT_GT(failed, 10) << "few steps ran out of memory";
}

// The host's side of the boundary: a mesh-edit operation that runs out of
// memory refuses the call instead of throwing into the plug-in, and the
// build goes on once memory is there again.
TEST(Boundary, MeshEditThatRunsOutOfMemoryRefusesTheCall) {
    int refused = 0;
    for (long left = 0; left < 60; ++left) {
        modeler::Host host;
        modeler::Host::Serving serving{host};
        host.scene().beginEdit();
        modeler::MeshEdit edit(host);
        MeshEditOp &op = *edit.op();
        auto addBook = [&op](int i) {
            double xyz[3][3] = {{double(i), 0, 0}, {double(i), 1, 0}, {double(i), 1, 1}};
            LWPntID points[3];
            for (int k = 0; k < 3; ++k)
                points[k] = op.addPoint(op.state, xyz[k]);
            char surface[16];
            std::snprintf(surface, sizeof surface, "cover %d", i);
            const LWPolID polygon = op.addFace(op.state, surface, 3, points);
            float uv[2] = {0.5f, 0.5f};
            char map[8] = "uv";  // a buffer: the full path, as any other name takes
            const EDError set = op.pntVPMap(op.state, points[1], polygon, LWVMAP_TXUV, map, 2, uv);
            return points[2] && polygon && set == EDERR_NONE &&
                   op.selectVertexMap(op.state, map, LWVMAP_TXUV, 2);
        };
        bool allDone = true;
        gAllocationsLeft = left;
        EXPECT_NO_THROW({
            for (int i = 0; i < 6; ++i)
                allDone &= addBook(i);
        }) << left;
        gAllocationsLeft = -1;
        refused += !allDone;
        EXPECT_TRUE(addBook(6)) << left;
        edit.close();
        if (allDone) break;
    }
    EXPECT_GT(refused, 5);
}

// The same for every other service the plug-in calls: one that runs out of
// memory answers its failure value (with a fault, when even that can be
// recorded), and never throws.
TEST(Boundary, ServiceThatRunsOutOfMemoryAnswersFailure) {
    int refused = 0;
    for (long left = 0; left < 40; ++left) {
        modeler::Host host;
        modeler::Host::Serving serving{host};
        GlobalFunc *lookup = host.globalLookup();
        LWXPanelControl controls[] = {{1, "Folder", "sFileName"}, {0, nullptr, nullptr}};
        const auto useServices = [&] {
            auto *textures = static_cast<const LWTextureFuncs *>(lookup(LWTEXTUREFUNCS_GLOBAL, 0));
            auto *xpanel = static_cast<const LWXPanelFuncs *>(lookup(LWXPANELFUNCS_GLOBAL, 0));
            return textures && xpanel &&
                   textures->create(TRT_COLOR, "a texture with a long name to store",
                                    textures->contextCreate({}), nullptr) &&
                   xpanel->create(LWXP_FORM, controls);
        };
        bool allDone = true;
        gAllocationsLeft = left;
        EXPECT_NO_THROW(allDone = useServices()) << left;
        gAllocationsLeft = -1;
        refused += !allDone;
        if (allDone) break;
    }
    EXPECT_GT(refused, 2);
}
