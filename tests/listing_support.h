// Every entry of a folder through the plug-in's directory streams.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "imagemaps/directory_stream.h"

namespace testing_support {

// Name to type; checks that the stream ends and stays ended.
inline std::map<std::string, int32_t> listAll(const std::string &folder) {
    namespace vb = varlobooks;
    std::map<std::string, int32_t> entries;
    vb::DirectoryStream *stream = vb::openDirectory(folder.c_str());
    EXPECT_NE(stream, nullptr) << folder;
    if (!stream) return entries;
    while (vb::DirectoryEntry *entry = vb::readDirectory(stream))
        entries[entry->name] = entry->type;
    EXPECT_EQ(vb::readDirectory(stream), nullptr);
    EXPECT_EQ(vb::readDirectory(stream), nullptr) << "an ended stream stays ended";
    EXPECT_EQ(vb::closeDirectory(stream), 0);
    return entries;
}

}  // namespace testing_support
