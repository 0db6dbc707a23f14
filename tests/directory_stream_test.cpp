// Directory streams on the system's listing, as every system gives them.
#include <cerrno>
#include <filesystem>
#include <fstream>

#include "imagemaps/directory_stream.h"
#include "listing_support.h"
#include "support.h"

namespace vb = varlobooks;

using testing_support::listAll;

TEST(DirectoryStream, ListsEveryEntryWithItsType) {
    const std::string folder = testing_support::freshFolder("dirstream");
    std::ofstream(folder + "/cover.png") << "x";
    std::ofstream(folder + "/.hidden") << "x";
    std::filesystem::create_directory(folder + "/inner");
    const auto entries = listAll(folder);
    const std::map<std::string, int32_t> expected = {{".", vb::kEntryFolder},
                                                     {"..", vb::kEntryFolder},
                                                     {"cover.png", vb::kEntryFile},
                                                     {".hidden", vb::kEntryFile},
                                                     {"inner", vb::kEntryFolder}};
    EXPECT_EQ(entries, expected);
}

TEST(DirectoryStream, FailuresSetErrno) {
    errno = 0;
    EXPECT_EQ(vb::closeDirectory(nullptr), -1);
    EXPECT_EQ(errno, 9);
    const std::string folder = testing_support::freshFolder("dirstream_fail");
    std::ofstream(folder + "/file") << "x";
    for (const std::string &bad : {std::string(), folder + "/missing", folder + "/file"}) {
        errno = 0;
        EXPECT_EQ(vb::openDirectory(bad.c_str()), nullptr) << bad;
        EXPECT_EQ(errno, 2) << bad;
    }
    errno = 0;
    EXPECT_EQ(vb::openDirectory(nullptr), nullptr);
    EXPECT_EQ(errno, 2);
    EXPECT_EQ(vb::readDirectory(nullptr), nullptr);
}
