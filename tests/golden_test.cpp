// The same inputs give the same bits in every build (optimised, sanitized,
// on any machine of this kind): hashes of the lossless export of a few
// shelves, recorded once. A change here is a change of the geometry.
#include "modeler/export/json_export.h"
#include "support.h"

using testing_support::ToolSession;

namespace {

uint64_t fnv1a(const std::string &text) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : text)
        h = (h ^ c) * 1099511628211ull;
    return h;
}

struct Shelf {
    const char *name;
    int axis, type, segments;
    double rotation;
    std::array<float, 3> lo, hi;
    int32_t seed;
    uint64_t hash;
};

}  // namespace

TEST(Golden, ShelvesKeepTheirExactBits) {
    const Shelf shelves[] = {
        {"worked example", 0, 2, 8, 0.0, {0, 0, 0}, {1, 0.5f, 0.3f}, 0, 0x9d0d9ffb963d2162},
        {"along Y, tilted",
         1,
         2,
         5,
         0.35,
         {-0.2f, 0.1f, 0.3f},
         {0.4f, 1.3f, 0.55f},
         1700000000,
         0xa6f34959ae44b166},
        {"along Z, softcover",
         2,
         1,
         8,
         0.2,
         {2, 0, -1},
         {2.3f, 0.45f, 0.2f},
         424242,
         0x6053eb78113e8288},
    };
    for (const Shelf &shelf : shelves) {
        ToolSession s;
        s.tool().axis = shelf.axis;
        s.tool().bookType = shelf.type;
        s.tool().segments = shelf.segments;
        s.tool().rotation = shelf.rotation;
        s.buildBox(shelf.lo, shelf.hi, shelf.seed);
        const uint64_t hash = fnv1a(modeler::sceneToJson(s.host.scene()));
        EXPECT_EQ(hash, shelf.hash) << shelf.name << ": 0x" << std::hex << hash;
    }
}
