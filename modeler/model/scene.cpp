#include "modeler/model/scene.h"

#include "modeler/model/regular_file.h"

#include <stb/stb_image.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace modeler {

Scene::Scene() = default;

Surface &Scene::addSurface(std::string_view name) {
    // The record a new name would take is made before the name goes into
    // the layer, so that a failed allocation leaves no name without one.
    // Records past the live ones wait to be reused.
    if (live_ == surfaces_.size()) {
        if (surfaces_.size() == surfaces_.capacity())
            surfaces_.reserve(std::max<std::size_t>(16, 2 * surfaces_.capacity()));
        auto spare = std::make_unique<Surface>(Surface{static_cast<uint32_t>(live_), {}});
        surfaceIndex_.emplace(spare.get(), live_);
        surfaces_.push_back(std::move(spare));
    }
    const uint32_t index = layer_.internSurface(name);
    if (index == live_) {
        surfaces_[live_]->channels.clear();
        ++live_;
        surfaceArray_.clear();
    }
    return *surfaces_[index];
}

const std::string &Scene::surfaceName(const Surface &surface) const {
    return layer_.surfaceNames()[surface.index];
}

Surface &Scene::addUserSurface(std::string_view name) {
    userSurfaces_.emplace_back(name);
    return addSurface(name);
}

void Scene::dropSurfacesPastLayer() {
    const std::size_t kept = layer_.surfaceNames().size();
    if (live_ == kept) return;
    live_ = kept;
    surfaceArray_.clear();
    // Surfaces the user named during the edit are the object's, not the edit's.
    for (const std::string &name : userSurfaces_)
        addSurface(name);
}

void Scene::takeBackEdit() {
    layer_.takeBackEdit();
    dropSurfacesPastLayer();
}

void Scene::discardEdit() {
    layer_.discardEdit();
    dropSurfacesPastLayer();
}

void **Scene::surfaceArray() {
    if (surfaceArray_.empty()) {
        for (const auto &surface : surfaces())
            surfaceArray_.push_back(surface.get());
        surfaceArray_.push_back(nullptr);
    }
    return surfaceArray_.data();
}

void *Scene::createContext() {
    contextStore_.push_back(std::make_unique<char>(0));
    void *handle = contextStore_.back().get();
    contexts_.insert(handle);
    return handle;
}

bool Scene::destroyContext(void *context) {
    if (!contexts_.erase(context)) return false;
    std::erase_if(contextStore_, [context](const auto &c) { return c.get() == context; });
    return true;
}

Texture &Scene::createTexture(int returnType, std::string name) {
    auto texture = std::make_unique<Texture>();
    texture->name = std::move(name);
    texture->returnType = returnType;
    textureHandles_.insert(texture.get());
    textures_.push_back(std::move(texture));
    return *textures_.back();
}

TextureLayer &Scene::addTextureLayer(Texture &texture, int type) {
    auto layer = std::make_unique<TextureLayer>();
    layer->type = type;
    layerHandles_.insert(layer.get());
    texture.layers.push_back(std::move(layer));
    return *texture.layers.back();
}

const Image *Scene::loadImage(const std::string &path, std::string &why) {
    const Image *image = decodeImage(path, why);
    if (!image) unloadedImages_.insert(path);
    return image;
}

const Image *Scene::decodeImage(const std::string &path, std::string &why) {
    // Opened once and checked through what was opened: a name checked and
    // then opened again may by then lead to a pipe (which would block) or
    // another file. The header, the pixels and the bytes the exports copy
    // all come from what was read here.
    auto read = readRegularFile(path, kMaxImageFileBytes, why);
    if (!read) return nullptr;
    std::vector<unsigned char> file = std::move(*read);
    // The header first, so that the size is known before anything is decoded.
    const int length = static_cast<int>(file.size());
    int width = 0, height = 0, channels = 0;
    if (file.empty() || !stbi_info_from_memory(file.data(), length, &width, &height, &channels)) {
        why = "not an image";
        return nullptr;
    }
    if (width > kMaxImageSide || height > kMaxImageSide ||
        std::size_t(width) * std::size_t(height) * 4 > kMaxImageBytes) {
        why = std::to_string(width) + "x" + std::to_string(height) +
              " pixels, larger than the host takes (" + std::to_string(kMaxImageSide) + "x" +
              std::to_string(kMaxImageSide) + ", " + std::to_string(kMaxImageBytes >> 20) +
              " MiB decoded)";
        return nullptr;
    }
    unsigned char *pixels =
        stbi_load_from_memory(file.data(), length, &width, &height, &channels, 4);
    if (!pixels) {
        why = "a damaged image";
        return nullptr;
    }
    auto image = std::make_unique<Image>();
    image->path = path;
    image->file = std::move(file);
    image->width = width;
    image->height = height;
    image->rgba = {pixels, stbi_image_free};
    imageIndex_.emplace(image.get(), images_.size());
    images_.push_back(std::move(image));
    return images_.back().get();
}

}  // namespace modeler
