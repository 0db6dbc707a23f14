// Directory streams on Windows' find-file calls: names beyond the 8-bit
// range, path lengths at the conversion's limit, roots and separators, the
// first entry fetched at the open.
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "imagemaps/directory_stream_windows.h"
#include "listing_support.h"
#include "support.h"

namespace vb = varlobooks;
namespace fs = std::filesystem;
using testing_support::listAll;

TEST(DirectoryStreamWindows, NamesBeyondLatin1ComeOutShortOrAsQuestionMarks) {
    const std::string folder = testing_support::freshFolder("dirstream_wide");
    std::ofstream(fs::path(folder) / L"d\u0101.png") << "x";    // a-macron: has a short name
    std::ofstream(fs::path(folder) / L"caf\u00e9.png") << "x";  // e-acute: converts as is
    const auto entries = listAll(folder);
    EXPECT_EQ(entries.at("caf\xe9.png"), vb::kEntryFile) << "Latin-1 names pass byte for byte";
    ASSERT_EQ(entries.size(), 4u);
    for (const auto &[name, type] : entries) {
        if (name == "." || name == ".." || name == "caf\xe9.png") continue;
        EXPECT_NE(name, "?") << "the system gave the entry a short name";
        EXPECT_NE(name.find('~'), std::string::npos) << name;
        EXPECT_EQ(type, vb::kEntryFile) << name;
    }

    // An entry whose name does not convert and that has no short name.
    WIN32_FIND_DATAW found{};
    found.dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
    std::wcscpy(found.cFileName, L"\u0101\u0101");
    vb::DirectoryEntry entry{};
    vb::entryFromFound(found, entry);
    EXPECT_STREQ(entry.name, "?");
    EXPECT_EQ(entry.type, 0);
    std::wcscpy(found.cAlternateFileName, L"AA~1");
    vb::entryFromFound(found, entry);
    EXPECT_STREQ(entry.name, "AA~1");
    EXPECT_EQ(entry.type, vb::kEntryFolder);
    found.dwFileAttributes |= FILE_ATTRIBUTE_DEVICE;
    vb::entryFromFound(found, entry);
    EXPECT_EQ(entry.type, vb::kEntryDevice) << "a device is a device before a folder";
}

TEST(DirectoryStreamWindows, AFolderTextOf259CharactersIsTheLongestThatPasses) {
    // "././.../." names the current folder at any length.
    std::string longest;
    while (longest.size() < 257)
        longest += "./";
    longest += ".";
    ASSERT_EQ(longest.size(), 259u);
    EXPECT_TRUE(listAll(longest).count(".")) << "259 characters convert and list";

    const std::string tooLong = longest + "/";
    errno = 0;
    EXPECT_EQ(vb::openDirectory(tooLong.c_str()), nullptr);
    EXPECT_NE(errno, 0);
    EXPECT_NE(errno, 2) << "refused by the conversion, before the file system is asked";
}

TEST(DirectoryStreamWindows, RootsAndTrailingSeparatorsListTheSameFolder) {
    const std::string folder = testing_support::freshFolder("dirstream_separators");
    std::ofstream(folder + "/cover.png") << "x";
    const auto plain = listAll(folder);
    EXPECT_EQ(listAll(folder + "\\"), plain);
    EXPECT_EQ(listAll(folder + "/"), plain);
    const auto root = listAll("C:\\");
    EXPECT_EQ(root.count("windows") + root.count("Windows"), 1u) << "the drive's root";
    EXPECT_EQ(listAll("C:/"), root);
}

TEST(DirectoryStreamWindows, TheFirstEntryIsFetchedAtTheOpen) {
    const std::string folder = testing_support::freshFolder("dirstream_first");
    vb::DirectoryStream *stream = vb::openDirectory(folder.c_str());
    ASSERT_NE(stream, nullptr);
    std::error_code ec;
    fs::remove(folder, ec);  // the folder goes; its first entry was already found
    vb::DirectoryEntry *first = vb::readDirectory(stream);
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(first->name, ".");
    EXPECT_EQ(first->type, vb::kEntryFolder);
    while (vb::readDirectory(stream)) {
    }
    EXPECT_EQ(vb::readDirectory(stream), nullptr);
    EXPECT_EQ(vb::closeDirectory(stream), 0);
}
