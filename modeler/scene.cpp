#include "modeler/scene.h"

#include <stb/stb_image.h>

#include <algorithm>

namespace modeler {

Scene::Scene() = default;

void Scene::syncSurfaces() {
    const auto &names = layer_.surfaceNames();
    while (surfaces_.size() < names.size()) {
        surfaces_.push_back(
            std::make_unique<Surface>(Surface{static_cast<uint32_t>(surfaces_.size()), {}}));
    }
}

const std::vector<std::unique_ptr<Surface>> &Scene::surfaces() {
    syncSurfaces();
    return surfaces_;
}

Surface &Scene::addSurface(std::string_view name) {
    const uint32_t index = layer_.internSurface(name);
    syncSurfaces();
    return *surfaces_[index];
}

const std::string &Scene::surfaceName(const Surface &surface) const {
    return layer_.surfaceNames()[surface.index];
}

bool Scene::ownsSurface(const void *handle) {
    syncSurfaces();
    return std::any_of(surfaces_.begin(), surfaces_.end(),
                       [handle](const auto &s) { return s.get() == handle; });
}

void **Scene::surfaceArray() {
    syncSurfaces();
    surfaceArray_.clear();
    for (const auto &surface : surfaces_)
        surfaceArray_.push_back(surface.get());
    surfaceArray_.push_back(nullptr);
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

const Image *Scene::loadImage(const std::string &path) {
    int width = 0, height = 0, channels = 0;
    unsigned char *pixels = stbi_load(path.c_str(), &width, &height, &channels, 4);
    if (!pixels) return nullptr;
    auto image = std::make_unique<Image>();
    image->path = path;
    image->width = width;
    image->height = height;
    image->rgba.assign(pixels, pixels + std::size_t(width) * height * 4);
    stbi_image_free(pixels);
    images_.push_back(std::move(image));
    return images_.back().get();
}

bool Scene::ownsImage(const void *handle) const {
    return std::any_of(images_.begin(), images_.end(),
                       [handle](const auto &i) { return i.get() == handle; });
}

}  // namespace modeler
