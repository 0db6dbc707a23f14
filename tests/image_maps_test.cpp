// Leaving the tool: the folder request and the image maps given to the
// covers, through sessions on the real module and the host's scene.
#include <fstream>
#include <nlohmann/json.hpp>

#include "image_support.h"
#include "imagemaps/directory_stream.h"
#include "imagemaps/image_maps.h"
#include "modeler/drive/session_run.h"
#include "modeler/export/json_export.h"
#include "module/activation.h"
#include "module/leave_tool.h"
#include "support.h"

// What joins the image folder and a file's name: '\\' on Windows.
const std::string kSeparator(1, varlobooks::kPathSeparator);

using modeler::Host;
using modeler::Scene;
using modeler::Session;
using testing_support::freshFolder;
using testing_support::writePng;

namespace {

// Runs a session and returns an error or nothing; the scene stays on host.
std::optional<std::string> run(Host &host, const std::string &text) {
    auto parsed = modeler::parseSession(text, "s.session", "");
    if (auto *error = std::get_if<std::string>(&parsed)) return *error;
    auto module = testing_support::loadModule();
    return modeler::runSession(host, *module, testing_support::bookServer(*module),
                               std::get<Session>(parsed));
}

const std::string kShelf = "clock 7\nactivate\npress 0 0 0\nmove 0.5 0.4 0.3\nend keep\n";

// The image path on the BaseColor channel of surface name, or "" for none.
// withMap: the last build selected the cover map, so the layer projects
// through it; without a build the layer has no map.
std::string coverImage(Scene &scene, const std::string &name, bool withMap = true) {
    for (const auto &surface : scene.surfaces()) {
        if (scene.surfaceName(*surface) != name) continue;
        auto it = surface->channels.find("BaseColor");
        if (it == surface->channels.end()) return "";
        const auto &layers = it->second->layers;
        EXPECT_EQ(layers.size(), 1u);
        EXPECT_EQ(it->second->returnType, TRT_COLOR);
        EXPECT_EQ(layers[0]->type, TLT_IMAGE);
        EXPECT_EQ(layers[0]->projection, TXPRJ_UV);
        EXPECT_EQ(layers[0]->uvMap != nullptr, withMap);
        if (layers[0]->uvMap) {
            EXPECT_EQ(layers[0]->uvMap->name(), "bookcover");
        }
        return layers[0]->image ? layers[0]->image->path : "(no image)";
    }
    return "(no surface)";
}

std::string imagesFolder(const std::string &name, int images, bool withText = false) {
    const std::string folder = freshFolder(name);
    for (int i = 0; i < images; ++i) {
        EXPECT_TRUE(
            writePng(folder + "/cover" + std::to_string(i) + ".png", 4, 6, 40 * i, 90, 200));
    }
    if (withText) std::ofstream(folder + "/readme.txt") << "not an image\n";
    return folder;
}

}  // namespace

TEST(ImageMaps, CancelTouchesNoSurfaceTextureOrImage) {
    Host host;
    Host::Serving serving{host};
    ASSERT_FALSE(run(host, kShelf + "done cancel\n"));
    ASSERT_EQ(host.panels().posted().size(), 1u);
    const modeler::PostedForm &form = host.panels().posted()[0];
    EXPECT_EQ(form.title, "book tool: Add ImageMaps to new surfaces");
    EXPECT_EQ(form.labels, std::vector<std::string>{"Image Folder"});
    EXPECT_EQ(form.shownValues.at("Image Folder"), "none");
    EXPECT_FALSE(form.confirmed);
    EXPECT_TRUE(host.scene().textures().empty());
    EXPECT_TRUE(host.scene().images().empty());
    EXPECT_EQ(host.panels().liveCount(), 0u) << "the form is destroyed";
}

TEST(ImageMaps, LeavingWithoutAnAnswerCancels) {
    Host host;
    Host::Serving serving{host};
    ASSERT_FALSE(run(host, kShelf));
    ASSERT_EQ(host.panels().posted().size(), 1u);
    EXPECT_FALSE(host.panels().posted()[0].confirmed);
    EXPECT_TRUE(host.scene().textures().empty());
}

TEST(ImageMaps, ConfirmingNoneAppliesNothing) {
    Host host;
    Host::Serving serving{host};
    ASSERT_FALSE(run(host, kShelf + "done folder none\n"));
    EXPECT_TRUE(host.panels().posted()[0].confirmed);
    EXPECT_TRUE(host.scene().textures().empty());
}

TEST(ImageMaps, OneImageGoesToEveryCoverAsOneSharedImage) {
    const std::string folder = imagesFolder("one_image", 1);
    Host host;
    Host::Serving serving{host};
    ASSERT_FALSE(run(host, kShelf + "done folder " + folder + "\n"));
    auto *tool = host.scene().layer().findVertexMap(LWVMAP_TXUV, "bookcover", 2);
    ASSERT_NE(tool, nullptr);
    int covers = 0;
    for (const auto &surface : host.scene().surfaces()) {
        const std::string &name = host.scene().surfaceName(*surface);
        if (name == "bookpages") {
            EXPECT_EQ(coverImage(host.scene(), name), "");
            continue;
        }
        EXPECT_EQ(coverImage(host.scene(), name), folder + kSeparator + "cover0.png") << name;
        ++covers;
    }
    EXPECT_GT(covers, 3);
    EXPECT_EQ(host.scene().images().size(), 1u) << "later covers find the image by its path";
    EXPECT_EQ(host.scene().textures().size(), std::size_t(covers));
    EXPECT_EQ(host.scene().images()[0]->width, 4);
    EXPECT_EQ(host.scene().liveContexts(), 0u);
}

TEST(ImageMaps, SameSeedListingAndSurfacesGiveTheSameAssignment) {
    const std::string folder = imagesFolder("same_seed", 5);
    std::string first, second;
    {
        Host host;
        Host::Serving serving{host};
        ASSERT_FALSE(run(host, kShelf + "done folder " + folder + "\n"));
        first = modeler::sceneToJson(host.scene());
    }
    {
        Host host;
        Host::Serving serving{host};
        ASSERT_FALSE(run(host, kShelf + "done folder " + folder + "\n"));
        second = modeler::sceneToJson(host.scene());
    }
    EXPECT_EQ(first, second);
    EXPECT_NE(first.find("\"channel\": \"BaseColor\""), std::string::npos);
}

TEST(ImageMaps, OnlyTheBooksOwnCoverSurfaceMatches) {
    const std::string folder = imagesFolder("exact_match", 2);
    Host host;
    Host::Serving serving{host};
    // Twelve books and surfaces of the user's that begin with cover names.
    ASSERT_FALSE(run(host,
                     "surface book_1_old\nsurface book_\nclock 3\nactivate\npress 0 0 0\n"
                     "move 1.2 0.4 0.3\nset Type Softcover\nset MinSize 0.1\nset MaxSize 0.1\n"
                     "end keep\ndone folder " +
                         folder + "\n"));
    EXPECT_EQ(coverImage(host.scene(), "book_1_old"), "");
    EXPECT_EQ(coverImage(host.scene(), "book_"), "");
    int covers = 0;
    for (int book = 0; book < 12; ++book) {
        EXPECT_NE(coverImage(host.scene(), "book_" + std::to_string(book)), "") << book;
        ++covers;
    }
    EXPECT_EQ(host.scene().textures().size(), std::size_t(covers))
        << "book_10 and book_11 get one texture each, not a second one for book_1";
}

TEST(ImageMaps, WithoutThePanelServiceNothingIsAskedAndTheToolIsReleased) {
    const std::string folder = imagesFolder("no_panel", 1);
    Host host;
    Host::Serving serving{host};
    host.withhold("LWXPanel");
    ASSERT_FALSE(run(host, kShelf + "done folder " + folder + "\n"));
    EXPECT_TRUE(host.panels().posted().empty());
    EXPECT_TRUE(host.scene().textures().empty());
}

TEST(ImageMaps, WithoutAServiceTheStepIsSkipped) {
    for (const char *service : {"Texture Functions 3", "LW Image List 6", "Surface Functions 4"}) {
        const std::string folder = imagesFolder("no_service", 1);
        Host host;
        Host::Serving serving{host};
        host.withhold(service);
        ASSERT_FALSE(run(host, kShelf + "done folder " + folder + "\n"));
        EXPECT_TRUE(host.panels().posted().empty()) << service;
        EXPECT_TRUE(host.scene().textures().empty()) << service;
    }
}

// The draws, with the module's own code so that the generator can be put
// in a chosen state before leaving.
class ImageDraws : public ::testing::Test {
  protected:
    Host host;
    Host::Serving serving{host};
    LWMeshEditTool record{};
    LWToolFuncs funcs{};

    varlobooks::BookTool &activate(int books) {
        record.tool = &funcs;
        EXPECT_EQ(varlobooks::activateBookTool(1, host.globalLookup(), &record, nullptr), AFUNC_OK);
        auto &tool = *static_cast<varlobooks::BookTool *>(record.instance);
        tool.bookCount = books;
        for (int i = 0; i < books; ++i)
            host.scene().addSurface("book_" + std::to_string(i));
        return tool;
    }
    // A generator state whose next draws select the given slots of count.
    static uint32_t stateFor(std::vector<int> slots, int count) {
        for (uint32_t state = 0;; ++state) {
            varlobooks::BookRandom random{state};
            bool all = true;
            for (int slot : slots) {
                int k = static_cast<int>(count * (random.draw() / 32767.0));
                if (k == count) k = count - 1;
                all = all && k == slot;
            }
            if (all) return state;
        }
    }
    void leave(const std::string &folder) {
        host.panels().setFormAnswer(folder);
        varlobooks::leaveTool(record.instance);
        host.panels().setFormAnswer(std::nullopt);
        EXPECT_TRUE(host.faults().empty()) << host.faults().front();
    }
};

TEST_F(ImageDraws, TopDrawTakesTheLastStoredName) {
    const std::string folder = imagesFolder("last_name", 3);
    const auto names = varlobooks::listImageFolder(folder.c_str());
    ASSERT_EQ(names.size(), 3u);
    auto &tool = activate(1);
    for (uint32_t state = 0;; ++state) {
        varlobooks::BookRandom probe{state};
        if (probe.draw() == 32767) {
            tool.random.seed(state);
            break;
        }
    }
    leave(folder);
    EXPECT_EQ(coverImage(host.scene(), "book_0", false), folder + kSeparator + names.back());
}

TEST_F(ImageDraws, ATextFileUsesUpItsDrawAndLeavesThatCoverBare) {
    const std::string folder = imagesFolder("with_text", 2, true);
    const auto names = varlobooks::listImageFolder(folder.c_str());
    ASSERT_EQ(names.size(), 3u);
    const int text =
        static_cast<int>(std::find(names.begin(), names.end(), "readme.txt") - names.begin());
    const int image = (text + 1) % 3;
    auto &tool = activate(2);
    tool.random.seed(stateFor({text, image}, 3));
    leave(folder);
    EXPECT_EQ(coverImage(host.scene(), "book_0", false), "");
    EXPECT_EQ(coverImage(host.scene(), "book_1", false), folder + kSeparator + names[image]);
    EXPECT_EQ(host.scene().images().size(), 1u);
}

TEST_F(ImageDraws, NoBooksMeansNothingApplied) {
    const std::string folder = imagesFolder("no_books", 2);
    activate(0);
    leave(folder);
    EXPECT_EQ(host.panels().posted().size(), 1u) << "the request is offered even without books";
    EXPECT_TRUE(host.scene().textures().empty());
}

TEST(ImageMaps, FillWithImagesTexturesEveryCover) {
    const std::string folder = imagesFolder("fill_images", 3);
    const std::string out = freshFolder("fill_images_out") + "/shelf.json";
    const auto result = testing_support::runModeler(
        "fill --box 0,0,0:1,0.5,0.3 --seed 0 --images '" + folder + "' -o '" + out + "'");
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_EQ(result.output.substr(0, result.output.find('\n')),
              "27 books, 456 points, 336 polygons, 27 textured covers");
    const auto json = nlohmann::json::parse(testing_support::readFile(out));
    int textured = 0;
    for (const auto &surface : json["surfaces"]) {
        if (surface["name"] == "bookpages") continue;
        ASSERT_EQ(surface["textures"].size(), 1u);
        const auto &texture = surface["textures"][0];
        EXPECT_EQ(texture["channel"], "BaseColor");
        EXPECT_EQ(texture["return"], 1);  // a colour
        EXPECT_EQ(texture["layers"][0]["type"], 0);
        EXPECT_EQ(texture["layers"][0]["projection"], 5);
        EXPECT_EQ(texture["layers"][0]["uvmap"], "bookcover");
        EXPECT_EQ(texture["layers"][0]["image"].get<std::string>().rfind(
                      folder + kSeparator + "cover", 0),
                  0u);
        ++textured;
    }
    EXPECT_EQ(textured, 27);
    EXPECT_LE(json["images"].size(), 3u);
}
