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
        // Segment counts whose spine UV step differs without its rounding
        // to single precision (5 and 8 above do not).
        {"4 segments", 0, 2, 4, 0.0, {0, 0, 0}, {1, 0.5f, 0.3f}, 7, 0x9dc2becfc8e0dea4},
        {"10 segments", 0, 2, 10, 0.0, {0, 0, 0}, {1, 0.5f, 0.3f}, 7, 0x23d7a5a5822a6974},
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

// Large shelves along every axis, of every type, tilted and with random
// insets, through the program: their lossless exports keep their bits
// (recorded before the builder and the host were made faster).
TEST(Golden, LargeShelvesOfEveryAxisAndTypeKeepTheirBits) {
    const std::string folder = testing_support::freshFolder("golden_large");
    const char *boxes[] = {"0,0,0:6,0.5,0.3", "0,0,0:0.3,6,0.5", "0,0,0:0.3,0.5,6"};
    const char *axes[] = {"X", "Y", "Z"};
    const uint64_t expected[3][3] = {{0x66b07e284f95e2e1, 0x8f291ad0ab011b99, 0x013ee67a6df36d56},
                                     {0xd56481f5ea1887dc, 0xa8c0f7ab1042ef24, 0x792f763dc1d6cfdc},
                                     {0xe1137dfe4ced2b87, 0xb6305ca5443142cb, 0x0e9c12ac297be414}};
    const char *types[] = {"Both", "Hardcover", "Softcover"};
    for (int axis = 0; axis < 3; ++axis) {
        for (int type = 0; type < 3; ++type) {
            const std::string path = folder + "/shelf.json";
            const auto run = testing_support::runModeler(
                std::string("fill -q --seed 7 --box ") + boxes[axis] + " --set Axis=" + axes[axis] +
                " --set Type=" + types[type] +
                " --set Rotation=7 --set 'Random Front=0.3' --set 'Random Top=0.25' --set "
                "MaxSize=0.05 -o '" +
                path + "'");
            ASSERT_EQ(run.status, 0) << run.output;
            EXPECT_EQ(fnv1a(testing_support::readFile(path)), expected[axis][type])
                << axes[axis] << " " << types[type] << std::hex << " 0x"
                << fnv1a(testing_support::readFile(path));
        }
    }
}
