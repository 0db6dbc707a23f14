// The program under input a careless or hostile user gives it: odd output
// paths, odd image folders, values out of range. Each case once failed.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <atomic>
#include <filesystem>
#include <fstream>
#include <future>
#include <nlohmann/json.hpp>
#include <thread>

#include "image_support.h"
#include "support.h"

using testing_support::CommandResult;
using testing_support::freshFolder;
using testing_support::runModeler;

namespace fs = std::filesystem;

namespace {

const std::string kFill = "fill -q --box 0,0,0:1,0.5,0.3 ";

bool isCharacterDevice(const char *path) {
    std::error_code ec;
    return fs::is_character_file(fs::symlink_status(path, ec));
}

}  // namespace

TEST(HostileOutputs, DevicesAreWrittenIntoNotReplaced) {
    SKIP_ON_WINDOWS("/dev/null, /dev/full and /dev/stdout");
    ASSERT_TRUE(isCharacterDevice("/dev/null"));
    const CommandResult null = runModeler(kFill + "-o /dev/null --format json");
    EXPECT_EQ(null.status, 0) << null.output;
    EXPECT_TRUE(isCharacterDevice("/dev/null")) << "the device node is still there";
    const CommandResult full = runModeler(kFill + "-o /dev/full --format json");
    EXPECT_EQ(full.status, 1);
    EXPECT_EQ(full.output, "modeler: /dev/full: write failed (No space left on device)\n");
    const CommandResult out = testing_support::shell(
        testing_support::modelerCommand(kFill + "-o /dev/stdout --format json") + " | head -c 1");
    EXPECT_EQ(out.output, "{");
}

TEST(HostileOutputs, LinksAreFollowedAndKept) {
    SKIP_ON_WINDOWS("symbolic links");
    const std::string folder = freshFolder("output_links");
    std::ofstream(folder + "/real.json") << "old";
    fs::create_symlink("real.json", folder + "/link.json");
    fs::create_symlink("made.json", folder + "/dangling.json");
    for (const char *name : {"link.json", "dangling.json"}) {
        const CommandResult run = runModeler(kFill + "-o '" + folder + "/" + name + "'");
        EXPECT_EQ(run.status, 0) << run.output;
        EXPECT_TRUE(fs::is_symlink(folder + "/" + name)) << name;
    }
    EXPECT_EQ(testing_support::readFile(folder + "/real.json").substr(0, 1), "{");
    EXPECT_EQ(testing_support::readFile(folder + "/made.json").substr(0, 1), "{");
}

TEST(HostileOutputs, NamesAndFoldersAreCheckedBeforeAnythingIsWritten) {
    const std::string folder = freshFolder("output_names");
    // A name as long as the file system allows still has room beside it.
    const std::string longName = folder + "/" + std::string(250, 'n') + ".json";
    EXPECT_EQ(runModeler(kFill + "-o '" + longName + "'").status, 0);
    EXPECT_TRUE(fs::exists(longName));
    // A folder's name is wrong usage, and no folder is made for it.
    const CommandResult slash = runModeler(kFill + "-o '" + folder + "/nodir/' --format json");
    EXPECT_EQ(slash.status, 2);
    EXPECT_EQ(slash.output, "modeler: " + folder + "/nodir/: names a folder; give a file name\n");
    EXPECT_FALSE(fs::exists(folder + "/nodir"));
    // A run that fails takes back the folders it made.
    const CommandResult failed =
        runModeler(kFill + "-o '" + folder + "/new/deeper/a.json' -o /dev/full --format json");
    EXPECT_EQ(failed.status, 1);
    EXPECT_FALSE(fs::exists(folder + "/new"));
    // Only the long file is left: no temporary files.
    std::size_t entries = 0;
    for (const auto &entry : fs::directory_iterator(folder))
        entries += entry.path() != longName;
    EXPECT_EQ(entries, 0u);
}

// One run never writes one file twice: an output named as another's
// companion (a.gltf's buffer a.bin, b.obj's b.mtl) or twice under two
// spellings is refused, and every file is left as it was.
TEST(HostileOutputs, OutputsThatNameOneFileAreRefusedBeforeAnyIsReplaced) {
    const std::string folder = freshFolder("output_clash");
    const std::string kept = "as it was";
    for (const char *name : {"a.gltf", "a.bin", "b.obj", "b.mtl", "c.json"})
        std::ofstream(folder + "/" + name) << kept;
    const std::string at = "'" + folder + "/";
    struct Clash {
        std::string options, twice;
    };
    const Clash clashes[] = {
        {"--format gltf -o " + at + "a.gltf' -o " + at + "a.bin'", "a.bin"},
        {"--format obj -o " + at + "b.obj' -o " + at + "b.mtl'", "b.mtl"},
        {"-o " + at + "c.json' -o " + at + "sub/../c.json'", "c.json"},
    };
    for (const Clash &clash : clashes) {
        const CommandResult run = runModeler(kFill + clash.options);
        EXPECT_EQ(run.status, 1) << clash.options;
        EXPECT_NE(run.output.find("this run writes it twice"), std::string::npos) << run.output;
        EXPECT_NE(run.output.find(clash.twice), std::string::npos) << run.output;
    }
    for (const char *name : {"a.gltf", "a.bin", "b.obj", "b.mtl", "c.json"})
        EXPECT_EQ(testing_support::readFile(folder + "/" + name), kept) << name;
    EXPECT_FALSE(fs::exists(folder + "/sub"));
    // Different files are still written side by side.
    const CommandResult apart =
        runModeler(kFill + "-o " + at + "d.gltf' -o " + at + "d.obj' -o " + at + "d.json'");
    EXPECT_EQ(apart.status, 0) << apart.output;
}

// The tool keeps 127 bytes of a Surface Prefix, which may end inside a
// character: every file writes the stray byte the same way, as U+FFFD.
TEST(HostileOutputs, ANameCutInsideACharacterIsWrittenTheSameWayEverywhere) {
    const std::string folder = freshFolder("output_cut_name");
    const std::string prefix = std::string(126, 'a') + "\xc3\xa9";  // the é is cut
    const CommandResult run =
        runModeler(kFill + "--set 'Surface Prefix=" + prefix + "' -o '" + folder + "/s.json' -o '" +
                   folder + "/s.gltf' -o '" + folder + "/s.obj'");
    ASSERT_EQ(run.status, 0) << run.output;
    const std::string shown = std::string(126, 'a') + "\xef\xbf\xbd" + "0";  // book 0's cover
    const auto scene = nlohmann::json::parse(testing_support::readFile(folder + "/s.json"));
    bool inJson = false;
    for (const auto &surface : scene["surfaces"])
        inJson = inJson || surface["name"] == shown;
    EXPECT_TRUE(inJson);
    const auto gltf = nlohmann::json::parse(testing_support::readFile(folder + "/s.gltf"));
    bool inGltf = false;
    for (const auto &node : gltf["nodes"])
        inGltf = inGltf || node.value("name", "") == shown;
    EXPECT_TRUE(inGltf);
    EXPECT_NE(testing_support::readFile(folder + "/s.obj").find("\no " + shown + "\n"),
              std::string::npos);
}

TEST(HostileOutputs, AnEmptyShelfIsAValidGltf) {
    const std::string folder = freshFolder("empty_gltf");
    const CommandResult run = runModeler("fill -q --box 0,0,0:0.001,0.5,0.3 -o '" + folder +
                                         "/e.gltf' -o '" + folder + "/e.glb'");
    EXPECT_EQ(run.status, 0) << run.output;
    const auto gltf = nlohmann::json::parse(testing_support::readFile(folder + "/e.gltf"));
    ASSERT_TRUE(gltf["scenes"][0].is_object()) << gltf.dump();
    EXPECT_EQ(gltf["scene"], 0);
    SKIP_WITHOUT_VALIDATOR();
    for (const char *name : {"/e.gltf", "/e.glb"}) {
        const CommandResult check = testing_support::shell(
            "node '" SOURCE_DIR "/tools/validator/validate.js' '" + folder + name + "'");
        EXPECT_EQ(check.status, 0) << check.output;
    }
}

TEST(HostileImages, PipesBombsAndNonImagesAreRefusedWithAWarning) {
    SKIP_ON_WINDOWS("named pipes");
    const std::string folder = freshFolder("hostile_images");
    ASSERT_TRUE(testing_support::writePng(folder + "/good.png", 4, 4, 200, 10, 10));
    ASSERT_EQ(mkfifo((folder + "/pipe.png").c_str(), 0600), 0);
    std::ofstream(folder + "/README.txt") << "not an image\n";
    // A real PNG whose header claims 16000 x 16000 pixels.
    std::string bomb = testing_support::readFile(folder + "/good.png");
    const unsigned char side[4] = {0x00, 0x00, 0x3E, 0x80};
    bomb.replace(16, 4, reinterpret_cast<const char *>(side), 4);
    bomb.replace(20, 4, reinterpret_cast<const char *>(side), 4);
    std::ofstream(folder + "/bomb.png", std::ios::binary) << bomb;
    const std::string out = freshFolder("hostile_images_out") + "/s.json";
    // Bounded: a pipe opened as an image would block for ever.
    const CommandResult run = testing_support::shell(
        "timeout 60 " + testing_support::modelerCommand("fill --box 0,0,0:3,0.5,0.3 --images '" +
                                                        folder + "' -o '" + out + "'"));
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find(folder + "/pipe.png: not a regular file"), std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find(folder + "/README.txt: not an image"), std::string::npos);
    EXPECT_NE(run.output.find(folder + "/bomb.png: 16000x16000 pixels, larger than the host takes"),
              std::string::npos);
    // Once per file, however many covers drew it.
    EXPECT_EQ(run.output.find("README.txt"), run.output.rfind("README.txt"));
    EXPECT_NE(run.output.find("README.txt: not an image; books drawn to it keep a plain cover"),
              std::string::npos);
    const auto json = nlohmann::json::parse(testing_support::readFile(out));
    ASSERT_EQ(json["images"].size(), 1u);
    EXPECT_EQ(json["images"][0]["path"], folder + "/good.png");
    // The summary counts them.
    const CommandResult told = testing_support::shell(
        "timeout 60 " + testing_support::modelerCommand("fill --box 0,0,0:3,0.5,0.3 --images '" +
                                                        folder + "' -o '" + out + "'"));
    EXPECT_NE(told.output.find("textured covers, 3 files not loaded as images\n"),
              std::string::npos)
        << told.output;
}

#ifndef _WIN32  // named pipes
// A cover swapped for a pipe, or for a larger image, between the moment it
// is looked at and the moment it is read: the file is opened once and
// judged by what was opened, so no load waits on the pipe and none reads
// an image other than the one it checked.
TEST(HostileImages, AFileSwappedWhileItIsLoadedNeverBlocksTheLoad) {
    const std::string folder = freshFolder("swapped_image");
    const std::string cover = folder + "/cover.png", image = folder + "/image.png",
                      pipe = folder + "/pipe.png", kept = folder + "/kept.fifo";
    // One pipe, linked into the cover's place again and again: a writer
    // opening it releases a load that waits on it.
    ASSERT_TRUE(testing_support::writePng(image, 4, 4, 200, 10, 10));
    ASSERT_EQ(mkfifo(kept.c_str(), 0600), 0);
    const std::string png = testing_support::readFile(image);
    std::atomic<bool> done{false};
    // Swaps the cover between the image and a pipe, each put in place by a
    // rename, as fast as it can.
    std::thread swapper([&] {
        for (int i = 0; !done; ++i) {
            if (i % 2) {
                std::ofstream(image, std::ios::binary) << png;
                std::rename(image.c_str(), cover.c_str());
            } else {
                link(kept.c_str(), pipe.c_str());
                std::rename(pipe.c_str(), cover.c_str());
            }
        }
    });
    int loaded = 0, refused = 0;
    std::atomic<bool> stop{false};
    auto loads = std::async(std::launch::async, [&] {
        for (int i = 0; i < 20000 && !stop; ++i) {
            modeler::Scene scene;
            std::string why;
            if (scene.loadImage(cover, why))
                ++loaded;
            else
                ++refused;
        }
    });
    const bool ended = loads.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
    done = true;
    stop = true;
    swapper.join();
    if (!ended) {
        // A load waits on the pipe: a writer lets it go, so the test can end.
        const int writer = open(kept.c_str(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0) close(writer);
    }
    loads.wait();
    ASSERT_TRUE(ended) << "a load waited on a pipe put in the cover's place";
    EXPECT_EQ(loaded + refused, 20000);
    EXPECT_GT(loaded, 0) << "the image was never there when a load looked";
}
#endif

TEST(HostileValues, WhatCanNeverWorkIsRefusedAndSilentNothingIsExplained) {
    const std::string out = freshFolder("hostile_values") + "/s.json";
    struct Case {
        std::string arguments;
        int status;
        std::string message;  // the start of stderr's first line
    } cases[] = {
        {"fill --box 0,0,0:1e39,1,1", 0,
         "modeler: warning: --box: a value beyond single precision"},
        {"fill --box 0,0,0:1,0.5,0.3 --set Rotation=1e300", 0,
         "modeler: warning: --set Rotation=1e300: a value beyond single precision"},
        {"fill --box 0,0,0:1,0.5,0.3 --set MinSize=2", 0,
         "modeler: warning: the tool made no books"},
        {"fill --box 0,0,0:1,0.5,0.3 --images /no/such/folder", 2,
         "modeler: --images: /no/such/folder is not a folder"},
        {"fill --box 0,0,0:1,0.5,0.3 --images '" SOURCE_DIR "/README.md'", 2,
         "modeler: --images: " SOURCE_DIR "/README.md is not a folder"},
        {"fill --box 0,0,0:1,0.5,0.3 --seed 9223372036854775808", 2,
         "modeler: --seed: expected whole seconds (64 bits), found \"9223372036854775808\""},
        // One past the 32 bits a panel integer holds, not cut to its low bits.
        {"fill --box 0,0,0:1,0.5,0.3 --set 'Book Segments=4294967301'", 2,
         "modeler: --set Book Segments=4294967301: expected a whole number for \"Book Segments\""},
        {"fill --box 0,0,0:1,0.5,0.3 --set 'Book Segments=2147483648'", 2,
         "modeler: --set Book Segments=2147483648: expected a whole number"},
        {"fill --box 0,0,0:1,0.5,0.3 --set Type=Paperback", 2,
         "modeler: --set Type=Paperback: expected one of"},
    };
    for (const Case &c : cases) {
        const CommandResult run = runModeler("-q " + c.arguments + " -o '" + out + "'");
        EXPECT_EQ(run.status, c.status) << c.arguments << ": " << run.output;
        const bool warning = c.message.starts_with("modeler: warning: ");
        if (!warning) {
            EXPECT_EQ(run.output.rfind(c.message, 0), 0u) << c.arguments << ": " << run.output;
            continue;
        }
        // -q is errors only; without it the warning is told.
        EXPECT_EQ(run.output, "") << c.arguments;
        const CommandResult told = runModeler(c.arguments + " -o '" + out + "'");
        EXPECT_NE(told.output.find(c.message), std::string::npos)
            << c.arguments << ": " << told.output;
    }
}

TEST(HostileSessions, ByteOrderMarkAndPipesAreRead) {
    SKIP_ON_WINDOWS("pipes and /dev/stdin");
    const std::string folder = freshFolder("hostile_sessions");
    std::ofstream(folder + "/bom.session", std::ios::binary)
        << "\xEF\xBB\xBF"
        << "clock 3\nactivate\npress 0 0 0\nmove 1 0.5 0.3\nend keep\n";
    const CommandResult bom =
        runModeler("run '" + folder + "/bom.session' -o '" + folder + "/a.json'");
    EXPECT_EQ(bom.status, 0) << bom.output;
    const CommandResult piped = testing_support::shell(
        "printf 'clock 3\\nactivate\\npress 0 0 0\\nmove 1 0.5 0.3\\nend keep\\n' | " +
        testing_support::modelerCommand("run /dev/stdin -q -o '" + folder + "/b.json'"));
    EXPECT_EQ(piped.status, 0) << piped.output;
    EXPECT_EQ(testing_support::readFile(folder + "/a.json"),
              testing_support::readFile(folder + "/b.json"));
}

// A name with a line break cannot stand in an MTL line: its copy beside
// the MTL gets one that can.
TEST(HostileImages, ANameThatCannotStandInTheMtlIsRenamedInItsCopy) {
    SKIP_ON_WINDOWS("file names holding a line break");
    const std::string folder = freshFolder("mtl_names");
    ASSERT_TRUE(testing_support::writePng(folder + "/two\nlines.png", 4, 4, 10, 200, 10));
    const std::string out = freshFolder("mtl_names_out");
    const CommandResult run = runModeler("fill -q --box 0,0,0:0.3,0.5,0.3 --images '" + folder +
                                         "' -o '" + out + "/s.obj'");
    ASSERT_EQ(run.status, 0) << run.output;
    std::istringstream mtl(testing_support::readFile(out + "/s.mtl"));
    int maps = 0;
    for (std::string line; std::getline(mtl, line);) {
        const std::string word = line.substr(0, line.find(' '));
        EXPECT_TRUE(word.empty() || word == "#" || word == "newmtl" || word == "Kd" ||
                    word == "Ks" || word == "Ns" || word == "illum" || word == "map_Kd")
            << line;
        if (word == "map_Kd") {
            ++maps;
            EXPECT_EQ(line, "map_Kd s_covers/two_lines.png");
        }
    }
    EXPECT_EQ(maps, 1);
    EXPECT_TRUE(fs::exists(out + "/s_covers/two_lines.png"));
}
