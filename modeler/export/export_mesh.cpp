#include "modeler/export/export_mesh.h"

#include <stb/stb_image_write.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>

namespace modeler {

ExportPolygons::ExportPolygons(const Layer &layer) : layer_(layer) {
    for (const auto &map : layer.vertexMaps()) {
        if (map->type() == LWVMAP_TXUV && map->dimension() == 2) uvMaps_.push_back(map.get());
    }
}

std::size_t ExportPolygons::appendCornersOf(uint32_t index, std::vector<ExportCorner> &out) const {
    const Polygon &polygon = layer_.polygons()[index];
    const VertexMap *source = nullptr;
    for (const VertexMap *map : uvMaps_) {
        if (map->cornerValue(polygon.firstCorner)) {
            source = map;
            break;
        }
    }
    const std::size_t at = out.size();
    out.resize(at + polygon.cornerCount);
    ExportCorner *to = out.data() + at;
    for (uint32_t c = polygon.cornerCount; c-- > 0;) {
        const uint32_t corner = polygon.firstCorner + c;
        const float *uv = source ? source->cornerValue(corner) : nullptr;
        *to++ = {layer_.corners()[corner], uv != nullptr, uv ? uv[0] : 0.f, uv ? uv[1] : 0.f};
    }
    return polygon.cornerCount;
}

std::optional<std::array<double, 3>> ExportPolygons::normalOf(uint32_t index) const {
    const Polygon &polygon = layer_.polygons()[index];
    const uint32_t count = polygon.cornerCount;
    // The corners in right-handed order: the layer's, reversed.
    auto pointAt = [&](uint32_t i) {
        return toRightHanded(
            layer_.points()[layer_.corners()[polygon.firstCorner + count - 1 - i]]);
    };
    if (count < 3) return std::nullopt;
    // Newell's normal: robust for any planar polygon. Each corner is read
    // once, as the end of one edge and the start of the next.
    std::array<double, 3> n{0, 0, 0};
    auto a = pointAt(0);
    for (uint32_t i = 0; i < count; ++i) {
        const auto b = pointAt(i + 1 == count ? 0 : i + 1);  // no division a corner
        n[0] += (a[1] - b[1]) * (a[2] + b[2]);
        n[1] += (a[2] - b[2]) * (a[0] + b[0]);
        n[2] += (a[0] - b[0]) * (a[1] + b[1]);
        a = b;
    }
    const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    if (!(length > 0) || !std::isfinite(length)) return std::nullopt;
    return std::array<double, 3>{n[0] / length, n[1] / length, n[2] / length};
}

const Image *baseColorImage(const Surface &surface) {
    auto it = surface.channels.find("BaseColor");
    if (it == surface.channels.end()) return nullptr;
    for (const auto &layer : it->second->layers) {
        if (layer->image) return layer->image;
    }
    return nullptr;
}

std::optional<ImageBytes> imageBytes(const Image &image) {
    const std::vector<unsigned char> &file = image.file;
    static const unsigned char kPng[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (file.size() > 8 && std::equal(kPng, kPng + 8, file.begin())) {
        return ImageBytes{file, "image/png", ".png"};
    }
    if (file.size() > 3 && file[0] == 0xFF && file[1] == 0xD8 && file[2] == 0xFF) {
        return ImageBytes{file, "image/jpeg", ".jpg"};
    }
    // Other formats: the pixels as PNG.
    if (!image.rgba) return std::nullopt;
    ImageBytes png{{}, "image/png", ".png"};
    auto append = [](void *context, void *data, int size) {
        auto *bytes = static_cast<std::vector<unsigned char> *>(context);
        bytes->insert(bytes->end(), static_cast<unsigned char *>(data),
                      static_cast<unsigned char *>(data) + size);
    };
    if (!stbi_write_png_to_func(append, &png.bytes, image.width, image.height, 4, image.rgba.get(),
                                image.width * 4)) {
        return std::nullopt;
    }
    return png;
}

}  // namespace modeler
