// Directory streams on the system's listing.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <map>

#include "imagemaps/directory_stream.h"
#include "support.h"

namespace vb = varlobooks;

namespace {

std::map<std::string, int32_t> listAll(const std::string &folder) {
    std::map<std::string, int32_t> entries;
    vb::DirectoryStream *stream = vb::opendir(folder.c_str());
    EXPECT_NE(stream, nullptr) << folder;
    if (!stream) return entries;
    while (vb::DirectoryEntry *entry = vb::readdir(stream))
        entries[entry->d_name] = entry->d_type;
    EXPECT_EQ(vb::readdir(stream), nullptr);
    EXPECT_EQ(vb::readdir(stream), nullptr) << "an ended stream stays ended";
    EXPECT_EQ(vb::closedir(stream), 0);
    return entries;
}

}  // namespace

TEST(DirectoryStream, ListsEveryEntryWithItsType) {
    const std::string folder = testing_support::freshFolder("dirstream");
    std::ofstream(folder + "/cover.png") << "x";
    std::ofstream(folder + "/.hidden") << "x";
    ASSERT_EQ(mkdir((folder + "/inner").c_str(), 0755), 0);
    ASSERT_EQ(symlink((folder + "/inner").c_str(), (folder + "/link-to-folder").c_str()), 0);
    ASSERT_EQ(symlink((folder + "/cover.png").c_str(), (folder + "/link-to-file").c_str()), 0);
    const auto entries = listAll(folder);
    const std::map<std::string, int32_t> expected = {
        {".", vb::kEntryFolder},         {"..", vb::kEntryFolder},
        {"cover.png", vb::kEntryFile},   {".hidden", vb::kEntryFile},
        {"inner", vb::kEntryFolder},     {"link-to-folder", vb::kEntryFolder},
        {"link-to-file", vb::kEntryFile}};
    EXPECT_EQ(entries, expected);
}

TEST(DirectoryStream, DevicesAreTypedAsDevices) {
    const auto entries = listAll("/dev");
    ASSERT_TRUE(entries.count("null"));
    EXPECT_EQ(entries.at("null"), vb::kEntryDevice);
}

TEST(DirectoryStream, FailuresSetErrno) {
    errno = 0;
    EXPECT_EQ(vb::closedir(nullptr), -1);
    EXPECT_EQ(errno, 9);
    const std::string folder = testing_support::freshFolder("dirstream_fail");
    std::ofstream(folder + "/file") << "x";
    for (const std::string &bad : {std::string(), folder + "/missing", folder + "/file"}) {
        errno = 0;
        EXPECT_EQ(vb::opendir(bad.c_str()), nullptr) << bad;
        EXPECT_EQ(errno, 2) << bad;
    }
    errno = 0;
    EXPECT_EQ(vb::opendir(nullptr), nullptr);
    EXPECT_EQ(errno, 2);
    EXPECT_EQ(vb::readdir(nullptr), nullptr);
}
