// The layer's large arrays ask for the system's large pages. A build
// without it, or with the block's inside rounded wrongly, passes every
// other test and is only slower; this one sees the marks the system keeps
// for each mapping.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include "modeler/model/large_array.h"

namespace {

constexpr std::uintptr_t kLargePage = std::uintptr_t(2) << 20;

// The first large page wholly inside a block of the given size.
const void *firstLargePageIn(const void *block) {
    const auto start = reinterpret_cast<std::uintptr_t>(block);
    return reinterpret_cast<const void *>((start + kLargePage - 1) & ~(kLargePage - 1));
}

// The "VmFlags:" line of the mapping that holds address; empty if none.
std::string mappingFlags(const void *address) {
    const auto at = reinterpret_cast<std::uintptr_t>(address);
    std::ifstream maps("/proc/self/smaps");
    bool inside = false;
    for (std::string line; std::getline(maps, line);) {
        // A mapping's first line: "begin-end perms offset ..." in hex.
        std::istringstream fields(line);
        std::uintptr_t begin = 0, end = 0;
        char dash = 0;
        if (fields >> std::hex >> begin >> dash >> end && dash == '-' && fields.peek() == ' ') {
            inside = at >= begin && at < end;
        } else if (inside && line.starts_with("VmFlags:")) {
            return line + " ";
        }
    }
    return {};
}

bool markedForLargePages(const void *address) {
    return mappingFlags(address).find(" hg ") != std::string::npos;
}

class LargePages : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!std::filesystem::exists("/sys/kernel/mm/transparent_hugepage"))
            GTEST_SKIP() << "this kernel has no large pages to ask for";
    }
};

TEST_F(LargePages, ArraysOfSeveralPagesAreMarkedWhetherSizedOnceOrGrown) {
    modeler::LargeArray<char> block(16 << 20);
    EXPECT_TRUE(markedForLargePages(firstLargePageIn(block.data()))) << mappingFlags(block.data());

    // Grown value by value, as the layer grows in a large fill.
    modeler::LargeArray<float> values;
    for (int i = 0; i < (3 << 20); ++i)
        values.push_back(float(i));
    EXPECT_TRUE(markedForLargePages(firstLargePageIn(values.data())))
        << mappingFlags(values.data());
    EXPECT_EQ(values[(3 << 20) - 1], float((3 << 20) - 1));
}

TEST_F(LargePages, TheProgramsAllocatorIsLeftAlone) {
    // Only the layer's arrays ask: a plain vector of the same size is the
    // system allocator's, as the loaded module's memory is.
    std::vector<char> plain(16 << 20);
    EXPECT_FALSE(markedForLargePages(firstLargePageIn(plain.data()))) << mappingFlags(plain.data());
}

TEST(LargeArrays, ASizeBeyondMemoryFailsAsTheStandardSays) {
    // Counted in elements: a count whose bytes overflow is refused before
    // any memory is asked for, not wrapped to a small block.
    modeler::LargePageAllocator<double> allocator;
    EXPECT_THROW((void)allocator.allocate(std::numeric_limits<std::size_t>::max() / 4),
                 std::bad_array_new_length);
}

}  // namespace
