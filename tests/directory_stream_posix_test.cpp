// Directory streams on a POSIX listing: links typed as what they reach,
// devices as devices.
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "imagemaps/directory_stream.h"
#include "listing_support.h"
#include "support.h"

namespace vb = varlobooks;

using testing_support::listAll;

TEST(DirectoryStreamPosix, LinksAreTypedAsWhatTheyReach) {
    const std::string folder = testing_support::freshFolder("dirstream_links");
    std::ofstream(folder + "/cover.png") << "x";
    std::filesystem::create_directory(folder + "/inner");
    ASSERT_EQ(symlink((folder + "/inner").c_str(), (folder + "/link-to-folder").c_str()), 0);
    ASSERT_EQ(symlink((folder + "/cover.png").c_str(), (folder + "/link-to-file").c_str()), 0);
    const auto entries = listAll(folder);
    EXPECT_EQ(entries.at("link-to-folder"), vb::kEntryFolder);
    EXPECT_EQ(entries.at("link-to-file"), vb::kEntryFile);
}

TEST(DirectoryStreamPosix, DevicesAreTypedAsDevices) {
    const auto entries = listAll("/dev");
    ASSERT_TRUE(entries.count("null"));
    EXPECT_EQ(entries.at("null"), vb::kEntryDevice);
}
