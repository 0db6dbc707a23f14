// What the OBJ and glTF exporters share: each polygon in a right-handed
// frame with its per-corner UVs and face normal, and each surface's cover
// image.
//
// The modeller's frame is left-handed with faces wound clockwise as seen
// from the front; OBJ and glTF are right-handed with faces wound
// counter-clockwise. Negating z and reversing each polygon's corners keeps
// the model looking the same and its faces facing out.
#pragma once

#include <array>
#include <optional>
#include <vector>

#include "host/meshedit.h"
#include "modeler/model/scene.h"

namespace modeler {

struct ExportCorner {
    uint32_t point;
    bool hasUV;
    float u, v;  // v up, as the modeller's maps hold it
};

inline std::array<double, 3> toRightHanded(const Point &p) {
    return {p[0], p[1], -p[2]};
}

// The layer's polygons as the exports see them. Each takes its UVs from
// the first 2-D UV map that holds a value for its first corner.
class ExportPolygons {
  public:
    explicit ExportPolygons(const Layer &layer);
    // Appends the polygon's corners to out in right-handed order, with their
    // UVs; returns how many.
    std::size_t appendCornersOf(uint32_t index, std::vector<ExportCorner> &out) const;
    // Its unit normal, right-handed; none for a polygon without area.
    std::optional<std::array<double, 3>> normalOf(uint32_t index) const;

  private:
    const Layer &layer_;
    std::vector<const VertexMap *> uvMaps_;
};

// The image of surface's BaseColor texture, or null when it has none.
const Image *baseColorImage(const Surface &surface);

// The image file's own bytes when it is PNG or JPEG (with its MIME type),
// else the pixels encoded as PNG.
struct ImageBytes {
    std::vector<unsigned char> bytes;
    std::string mimeType;   // "image/png" or "image/jpeg"
    std::string extension;  // ".png" or ".jpg"
};
std::optional<ImageBytes> imageBytes(const Image &image);

}  // namespace modeler
