// What the host's services serve besides geometry: the edited object's
// name, its surfaces with their channel textures, texture contexts,
// textures and their layers, and the image list.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "modeler/model/layer.h"

namespace modeler {

// The largest image the host decodes: a cover needs no more, and a small
// file that claims more (a decompression bomb) must not take the memory.
inline constexpr int kMaxImageSide = 8192;
inline constexpr std::size_t kMaxImageBytes = std::size_t(64) << 20;      // decoded RGBA
inline constexpr std::size_t kMaxImageFileBytes = std::size_t(64) << 20;  // as stored

struct Image {
    std::string path;  // as given to the loader
    // The file's bytes as read when it was loaded: the exports copy these,
    // never the file again, which may have changed since.
    std::vector<unsigned char> file;
    int width = 0, height = 0;
    // width * height * 4 bytes, rows top first: the decoder's own buffer.
    std::unique_ptr<unsigned char, void (*)(void *)> rgba{nullptr, nullptr};
};

struct TextureLayer {
    int type = 0;
    const Image *image = nullptr;
    std::optional<int> projection;
    const VertexMap *uvMap = nullptr;
};

struct Texture {
    std::string name;
    int returnType = 0;
    std::vector<std::unique_ptr<TextureLayer>> layers;
};

struct Surface {
    uint32_t index;                                   // into the layer's surface names
    std::map<std::string, const Texture *> channels;  // channel name -> texture
};

class Scene {
  public:
    Scene();

    Layer &layer() { return layer_; }
    const Layer &layer() const { return layer_; }

    const std::string &objectName() const { return objectName_; }
    void setObjectName(std::string name) {
        objectName_ = std::move(name);
        objectNamed_ = true;
    }
    // Whether the object was given a name; else it is "Unnamed".
    bool hasObjectName() const { return objectNamed_; }

    // Surfaces in the order they were first named. Every surface is named
    // through addSurface (a polygon's or the user's), never through the
    // layer directly, so that the two stay in step.
    std::span<const std::unique_ptr<Surface>> surfaces() const { return {surfaces_.data(), live_}; }
    // The surface of that name: the existing one when the name is known,
    // else a new one at the end.
    Surface &addSurface(std::string_view name);
    // A surface the user named: it stays when an edit is taken back.
    Surface &addUserSurface(std::string_view name);

    // The layer's edit transactions (see Layer), with the surfaces kept in
    // step: those an edit named go when it is taken back.
    void beginEdit() { layer_.beginEdit(); }
    void takeBackEdit();
    void commitEdit() { layer_.commitEdit(); }
    void discardEdit();
    const std::string &surfaceName(const Surface &surface) const;
    bool ownsSurface(const void *handle) const {
        auto it = surfaceIndex_.find(handle);
        return it != surfaceIndex_.end() && it->second < live_;
    }
    // The null-terminated array byObject hands out; valid until a surface is
    // added.
    void **surfaceArray();

    void *createContext();
    [[nodiscard]] bool destroyContext(void *context);
    bool ownsContext(const void *context) const { return contexts_.count(context) != 0; }
    Texture &createTexture(int returnType, std::string name);
    bool ownsTexture(const void *handle) const { return textureHandles_.count(handle) != 0; }
    TextureLayer &addTextureLayer(Texture &texture, int type);
    bool ownsTextureLayer(const void *handle) const { return layerHandles_.count(handle) != 0; }
    std::size_t liveContexts() const { return contexts_.size(); }
    const std::vector<std::unique_ptr<Texture>> &textures() const { return textures_; }

    // Loads path when it is a regular file (or a link to one) that decodes
    // as an image within the limits above; null otherwise, with why set to
    // the reason.
    const Image *loadImage(const std::string &path, std::string &why);
    // The files asked for as images that could not be loaded as one.
    const std::set<std::string> &unloadedImages() const { return unloadedImages_; }
    const std::vector<std::unique_ptr<Image>> &images() const { return images_; }
    bool ownsImage(const void *handle) const { return imageIndex_.count(handle) != 0; }
    // The place of image in images(), or images().size() for no image of ours.
    std::size_t imageIndex(const void *handle) const {
        auto it = imageIndex_.find(handle);
        return it == imageIndex_.end() ? images_.size() : it->second;
    }

  private:
    void dropSurfacesPastLayer();

    Layer layer_;
    std::vector<std::string> userSurfaces_;
    std::string objectName_ = "Unnamed";
    bool objectNamed_ = false;
    std::set<std::string> unloadedImages_;
    const Image *decodeImage(const std::string &path, std::string &why);
    // The live surfaces first; past live_, those of builds taken back, kept
    // to serve again (a drag names the same surfaces on every rebuild).
    std::vector<std::unique_ptr<Surface>> surfaces_;
    std::size_t live_ = 0;
    std::unordered_map<const void *, std::size_t> surfaceIndex_;
    std::vector<void *> surfaceArray_;  // empty: to be made again
    std::vector<std::unique_ptr<char>> contextStore_;
    std::unordered_set<const void *> contexts_;
    std::vector<std::unique_ptr<Texture>> textures_;
    std::unordered_set<const void *> textureHandles_;
    std::unordered_set<const void *> layerHandles_;
    std::vector<std::unique_ptr<Image>> images_;
    std::unordered_map<const void *, std::size_t> imageIndex_;
};

}  // namespace modeler
