#include "imagemaps/image_maps.h"

#include <cstring>
#include <memory>
#include <unordered_map>

#include "host/xpanel.h"
#include "imagemaps/directory_stream.h"
#include "tool/book_tool.h"
#include "tool/tool_services.h"

namespace varlobooks {
namespace {

constexpr const char *kTitle = "book tool: Add ImageMaps to new surfaces";
constexpr const char *kBaseColor = "BaseColor";

const LWXPanelControl kFolderControls[] = {
    {kImageFolderId, "Image Folder", "sFileName"},
    {0, nullptr, nullptr},
};

const LWXPanelDataDesc kFolderData[] = {
    {kImageFolderId, "Image Folder", "string"},
    {0, nullptr, nullptr},
};

const LWXPanelHint kFolderHints[] = {
    XPHINT_LABEL,
    0,
    reinterpret_cast<LWXPanelHint>(kTitle),
    0,
    XPHINT_CONTROL_LIST,
    kImageFolderId,
    0,
    XPHINT_FILE_REQUEST,
    kImageFolderId,
    2,
    reinterpret_cast<LWXPanelHint>("Image Folder"),
    0,
    0,
    0,
};

// Asks the user for the folder. False when cancelled.
bool askForFolder(const LWXPanelFuncs &xpanel, LWXPanelID panel, std::string &folder) {
    // The contract's pointers are writable; a host only reads these tables.
    xpanel.describe(panel, const_cast<LWXPanelDataDesc *>(kFolderData), nullptr, nullptr);
    xpanel.hint(panel, 0, const_cast<LWXPanelHint *>(kFolderHints));
    char none[] = "none";
    xpanel.formSet(panel, kImageFolderId, none);
    if (!xpanel.post(panel)) return false;
    const auto *text = static_cast<const char *>(xpanel.formGet(panel, kImageFolderId));
    folder = text ? text : "";
    return true;
}

struct ImageMapServices {
    const LWStateQueryFuncs &stateQuery;
    const LWSurfaceFuncs &surfaces;
    const LWTextureFuncs &textures;
    const LWImageList &images;
};

// Gives surface an image layer of image through the cover map on BaseColor.
void applyImage(const ImageMapServices &services, LWSurfaceID surface, LWImageID image,
                const std::string &textureName, void *coverUVMap) {
    const LWTextureFuncs &textures = services.textures;
    LWTxtrContextID context = textures.contextCreate(LWTxtrParamFuncs{nullptr, nullptr, nullptr});
    LWTextureID texture = textures.create(TRT_COLOR, textureName.c_str(), context, nullptr);
    LWTLayerID layer = textures.layerAdd(texture, TLT_IMAGE);
    textures.setParam(layer, TXTAG_IMAGE, &image);
    int projection = TXPRJ_UV;
    textures.setParam(layer, TXTAG_PROJ, &projection);
    if (coverUVMap) textures.setParam(layer, TXTAG_VMAP, &coverUVMap);
    services.surfaces.setChannelTexture(surface, kBaseColor, texture);
    textures.contextDestroy(context);
}

// The object's surfaces by name, in array order. Leaving the tool adds no
// surface, so the array is walked once, at the first book: finding a
// book's cover then costs the same however many surfaces and books there
// are.
class SurfacesByName {
  public:
    const std::vector<LWSurfaceID> &named(const LWSurfaceFuncs &surfaces, LWSurfaceID *array,
                                          const std::string &name) {
        if (!indexed_) index(surfaces, array);
        auto it = byName_.find(name);
        return it == byName_.end() ? kNone : it->second;
    }

  private:
    void index(const LWSurfaceFuncs &surfaces, LWSurfaceID *array) {
        indexed_ = true;
        for (int i = 0; array && array[i]; ++i) {
            if (const char *name = surfaces.name(array[i])) byName_[name].push_back(array[i]);
        }
    }

    static inline const std::vector<LWSurfaceID> kNone;
    bool indexed_ = false;
    std::unordered_map<std::string, std::vector<LWSurfaceID>> byName_;
};

// Each book's cover surface draws one image of the folder. The object's
// surfaces are asked for again for every book, as the modeller expects of
// a tool (the array is valid only until the next call).
void assignImages(const ImageMapServices &services, BookTool &tool, const std::string &folder,
                  const std::vector<std::string> &names) {
    const int imageCount = static_cast<int>(names.size());
    SurfacesByName covers;
    for (int book = 0; book < tool.bookCount; ++book) {
        const std::string coverName = tool.surfacePrefix + std::to_string(book);
        const char *object = services.stateQuery.object();
        LWSurfaceID *surfaces = services.surfaces.byObject(object);
        // Only the book's own cover, matched whole: book_1 must not take
        // book_10 or a surface of the user's that merely begins with it.
        for (LWSurfaceID surface : covers.named(services.surfaces, surfaces, coverName)) {
            const int draw = tool.random.draw();
            int slot = static_cast<int>(imageCount * BookRandom::toUnit(draw));
            if (slot == imageCount) slot = imageCount - 1;
            const std::string path = folder + kPathSeparator + names[slot];
            LWImageID image = findOrLoadImage(services.images, path.c_str());
            if (!image) continue;
            applyImage(services, surface, image, names[slot], tool.coverUVMap);
        }
    }
}

}  // namespace

// One pass over the folder collects every name, however many: the count and
// the names cannot disagree, and no chosen slot can lie past the names kept.
std::vector<std::string> listImageFolder(const char *folder) {
    std::vector<std::string> names;
    // Closed on every way out, a failed allocation among them.
    const std::unique_ptr<DirectoryStream, int (*)(DirectoryStream *)> stream(openDirectory(folder),
                                                                              closeDirectory);
    if (!stream) return names;
    while (const DirectoryEntry *entry = readDirectory(stream.get())) {
        if (!isFolder(*entry)) names.emplace_back(entry->name);
    }
    return names;
}

LWImageID findOrLoadImage(const LWImageList &images, const char *path) {
    for (LWImageID image = images.first(); image; image = images.next(image)) {
        const char *file = images.filename(image, 0);
        if (file && std::strcmp(file, path) == 0) return image;
    }
    return images.load(path);
}

void offerImageMaps(BookTool &tool) noexcept {
    const ToolServices &handles = toolServices();
    if (!handles.xpanel || !handles.stateQuery || !handles.surfaces || !handles.textures ||
        !handles.images) {
        return;
    }
    const LWXPanelFuncs &xpanel = *handles.xpanel;
    // Nothing may be thrown back into the host: when memory runs out, the
    // covers done so far keep their images and the panel still goes.
    LWXPanelID panel = nullptr;
    try {
        panel = xpanel.create(LWXP_FORM, const_cast<LWXPanelControl *>(kFolderControls));
        if (!panel) return;
        std::string folder;
        if (askForFolder(xpanel, panel, folder)) {
            const std::vector<std::string> names = listImageFolder(folder.c_str());
            if (!names.empty()) {
                const ImageMapServices services{*handles.stateQuery, *handles.surfaces,
                                                *handles.textures, *handles.images};
                assignImages(services, tool, folder, names);
            }
        }
    } catch (...) {
    }
    if (panel) xpanel.destroy(panel);
}

}  // namespace varlobooks
